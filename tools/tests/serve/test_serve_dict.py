"""The `dict` client against `zav serve`: the definitions it gets are those
`zav lookup` gives, and each strategy's matches are those the key list holds."""

import json
import os
import re
import subprocess

import pytest
from conftest import BOOKS, HOST, ZAV, Server



def dict_client(server, *args):
    run = subprocess.run(["dict", "-h", HOST, "-p", str(server.port), "-f", *args],
                         capture_output=True, text=True, timeout=30)
    return run.stdout


def zav(*args):
    return subprocess.run([ZAV, *args], capture_output=True, text=True, timeout=30).stdout


def tables(book):
    return range(int(re.search(r"^tables:\s+(\d+)", zav("info", book), re.M).group(1)))


def databases():
    """Each table with keys is a database: the first under the book's name,
    the others with their table number after it."""
    found = {}
    for book in BOOKS:
        stem = os.path.splitext(os.path.basename(book))[0]
        for t in tables(book):
            if zav("keys", book, "--table", str(t), "--count", "1").strip():
                found[stem if not any(v[0] == book for v in found.values()) else f"{stem}.{t}"] = (book, t)
    return found


DATABASES = databases()


def body(key):
    return key.split("@", 1)[0].strip()


def lookups(book, table, word, *options):
    out = zav("lookup", book, word, "--table", str(table), "--json", *options)
    yield json.loads(out) if out else {}


def served_definitions(server, db, word):
    """(database, text) of each definition, from dict's formatted output."""
    found = []
    for line in dict_client(server, "-d", db, word).splitlines():
        if line.startswith(f"{HOST}\t"):
            found.append([line.split("\t")[2], []])
        elif found and line.startswith("  "):
            found[-1][1].append(line[2:])
    return [(d, "\n".join(lines).rstrip()) for d, lines in found]


@pytest.mark.parametrize("word", ["bank", "BANK", "binding", "gathering", "signature", "by heart", "Folder",
                                  "letter", "nothing-like-this"])
def test_definitions_are_those_of_lookup(server, word):
    for db in DATABASES:
        assert served_definitions(server, db, word) == looked_up(db, word)


def looked_up(db, word):
    return [(db, e["text"].rstrip()) for r in lookups(*DATABASES[db], word) for e in r.get("entries", [])]


def headwords(book, table):
    return {body(line.split("\t")[1]) for line in zav("keys", book, "--table", str(table)).splitlines()}


def near(a, b):
    """Within one edit: insert, delete, change or swap neighbours."""
    a, b = a.casefold(), b.casefold()
    if a == b:
        return True
    if len(a) == len(b):
        diff = [i for i in range(len(a)) if a[i] != b[i]]
        return len(diff) == 1 or (len(diff) == 2 and diff[1] == diff[0] + 1 and a[diff[0]] == b[diff[1]]
                                  and a[diff[1]] == b[diff[0]])
    short, long_ = sorted((a, b), key=len)
    return len(long_) - len(short) == 1 and any(long_[:i] + long_[i + 1:] == short for i in range(len(long_)))


ORACLES = {
    "exact": lambda book, t, word: {h for h in headwords(book, t) if h.casefold() == word.casefold()},
    "prefix": lambda book, t, word: {body(k) for k in json.loads(zav("lookup", book, word, "--prefix", "--table",
                                                                     str(t), "--json"))["keys"]},
    "lev": lambda book, t, word: {h for h in headwords(book, t) if near(h, word)},
    "suffix": lambda book, t, word: {h for h in headwords(book, t) if h.casefold().endswith(word.casefold())},
    "re": lambda book, t, word: {h for h in headwords(book, t) if re.search(word, h, re.I)},
}
ORACLES["."] = ORACLES["lev"]


@pytest.mark.parametrize("strategy,word", [("exact", "Bank"), ("exact", "gutter"), ("prefix", "b"),
                                           ("prefix", "fo"), ("lev", "bnak"), ("lev", "folo"), ("suffix", "er"),
                                           ("re", "^b.*k$"), ("re", "[lp]a"), (".", "leef")])
def test_matches_follow_the_strategy(server, strategy, word):
    served = {}
    for line in dict_client(server, "-m", "-s", strategy, word).splitlines():
        if line.startswith(f"{HOST}\t"):
            _, _, db, found = line.split("\t")
            served.setdefault(db, set()).add(found)
    for db, (book, table) in DATABASES.items():
        assert served.get(db, set()) == ORACLES[strategy](book, table, word), db
    assert served, "every case has at least one match"
    for db, words in served.items():  # and each word found defines as zav lookup has it
        for found in words:
            assert served_definitions(server, db, found) == looked_up(db, found) != []


def test_show_db_and_info(server):
    listed = [line.split("\t")[2:] for line in dict_client(server, "-D").splitlines() if "\t" in line]
    assert listed == [["glossary", "A Little Glossary of Bookbinding"], ["glossary.1", "A Little Glossary of Bookbinding"],
                      ["lexicon", "A Small English Lexicon"], ["lexicon.1", "A Small English Lexicon"]]
    info = dict_client(server, "-i", "lexicon.1")
    assert "A Small English Lexicon" in info and "table 1: Phrases, 4 keys" in info


def test_show_info_gives_what_an_import_kept(tmp_path):
    source, book = tmp_path / "words.tsv", str(tmp_path / "words.zav")
    source.write_text("00-database-short\tSmall Words\n00-database-info\tA list.\\nOf words.\n"
                      "00-database-url\thttp://words.example\nword\tits meaning\n", encoding="utf-8")
    subprocess.run([ZAV, "import", "tsv", "--quiet", str(source), book], check=True, timeout=30)
    server = Server(books=[book])
    try:
        listed = [line.split("\t")[2:] for line in dict_client(server, "-D").splitlines() if "\t" in line]
        assert listed == [["words", "Small Words"]]
        info = [line.strip() for line in dict_client(server, "-i", "words").splitlines()]
        assert info[1:5] == ["Small Words", "", "A list.", "Of words."] and "website: http://words.example" in info
    finally:
        assert server.stop() == 0


def test_text_in_code_pages_is_served_as_utf8(tmp_path):
    """A table in code page 936 and one whose text is Latin-1: words come in
    and go out in UTF-8, and "." in a regular expression takes a whole character."""
    def hexed(text, codec):
        return {"hex": text.encode(codec).hex()}
    manifest = {"kind": 2, "name": "Code pages", "tables": [
        {"name": "cp936", "locale": 2, "entries": [{"keys": [hexed("字典", "gbk")], "text": hexed("字典：词语的书。", "gbk")}]},
        {"name": "latin", "locale": 1, "entries": [{"keys": [hexed("café", "latin-1")],
                                                   "text": hexed("café: a small restaurant", "latin-1")}]}]}
    (tmp_path / "cp.json").write_text(json.dumps(manifest))
    book = str(tmp_path / "cp.zav")
    subprocess.run([ZAV, "build", "--quiet", str(tmp_path / "cp.json"), book], check=True, timeout=30)
    server = Server(books=[book])
    try:
        assert served_definitions(server, "cp", "字典") == [("cp", "字典：词语的书。")]
        assert served_definitions(server, "cp.1", "CAFÉ") == [("cp.1", "café: a small restaurant")]
        assert dict_client(server, "-m", "-s", "re", "^(f.|caf.)$").split("\t")[-1].strip() == "café"
    finally:
        assert server.stop() == 0


def test_a_folder_serves_every_book_in_it(tmp_path):
    """zav serve FOLDER: each book of the folder, each of its tables with keys a
    database; a file that is no book is passed over, a damaged book reported."""
    import shutil
    for book in BOOKS:
        shutil.copy(book, tmp_path)
    for dictionary in os.listdir(os.path.dirname(BOOKS[0])):
        if dictionary.endswith(".zzd"):
            shutil.copy(os.path.join(os.path.dirname(BOOKS[0]), dictionary), tmp_path)
    (tmp_path / "notes.txt").write_text("not a book")
    (tmp_path / "cut.zav").write_bytes(open(BOOKS[0], "rb").read()[:600])
    log = tmp_path.parent / "serve.log"
    with open(log, "w") as err:
        process = subprocess.Popen([ZAV, "serve", str(tmp_path), "--listen", f"{HOST}:0"],
                                   stdout=subprocess.PIPE, stderr=err, text=True)
        try:
            port = int(process.stdout.readline().rsplit(":", 1)[1])
            server = type("Running", (), {"port": port})()
            listed = [line.split("\t")[2] for line in dict_client(server, "-D").splitlines() if "\t" in line]
            assert listed == ["glossary", "glossary.1", "lexicon", "lexicon.1"]
            assert served_definitions(server, "lexicon", "harbour")
        finally:
            process.terminate()
            assert process.wait(timeout=20) == 0
    reported = log.read_text()
    assert "cut.zav" in reported and "not served" in reported and "notes.txt" not in reported
