"""The `dict` client against `zav serve`: the definitions it gets are those
`zav lookup` gives, and each strategy's matches are those the key list holds."""

import json
import os
import re
import subprocess

import pytest
from conftest import BOOKS, HOST, ZAV, Server

DATABASES = {os.path.splitext(os.path.basename(b))[0]: b for b in BOOKS}


def dict_client(server, *args):
    run = subprocess.run(["dict", "-h", HOST, "-p", str(server.port), "-f", *args],
                         capture_output=True, text=True, timeout=30)
    return run.stdout


def zav(*args):
    return subprocess.run([ZAV, *args], capture_output=True, text=True, timeout=30).stdout


def tables(book):
    return range(int(re.search(r"^tables:\s+(\d+)", zav("info", book), re.M).group(1)))


def body(key):
    return key.split("@", 1)[0].strip()


def lookups(book, word, *options):
    for t in tables(book):
        out = zav("lookup", book, word, "--table", str(t), "--json", *options)
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
    return [(db, e["text"].rstrip()) for r in lookups(DATABASES[db], word) for e in r.get("entries", [])]


def headwords(book):
    words = []
    for t in tables(book):
        for line in zav("keys", book, "--table", str(t)).splitlines():
            words.append(body(line.split("\t")[1]))
    return set(words)


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
    "exact": lambda book, word: {body(e["key"]) for r in lookups(book, word, "--first") for e in r.get("entries", [])},
    "prefix": lambda book, word: {body(k) for t in tables(book)
                                  for k in json.loads(zav("lookup", book, word, "--prefix", "--table", str(t),
                                                          "--json"))["keys"]},
    "lev": lambda book, word: {h for h in headwords(book) if near(h, word)},
    "suffix": lambda book, word: {h for h in headwords(book) if h.casefold().endswith(word.casefold())},
    "re": lambda book, word: {h for h in headwords(book) if re.search(word, h, re.I)},
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
    for db, book in DATABASES.items():
        assert served.get(db, set()) == ORACLES[strategy](book, word), db
    assert served, "every case has at least one match"
    for db, words in served.items():  # and each word found defines as zav lookup has it
        for found in words:
            assert served_definitions(server, db, found) == looked_up(db, found) != []


def test_show_db_and_info(server):
    listed = [line.split("\t")[2:] for line in dict_client(server, "-D").splitlines() if "\t" in line]
    assert listed == [["glossary", "A Little Glossary of Bookbinding"], ["lexicon", "A Small English Lexicon"]]
    info = dict_client(server, "-i", "lexicon")
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
        assert served_definitions(server, "cp", "CAFÉ") == [("cp", "café: a small restaurant")]
        assert dict_client(server, "-m", "-s", "re", "^(f.|caf.)$").split("\t")[-1].strip() == "café"
    finally:
        assert server.stop() == 0
