"""One full-text query through every front: `zav search --json`, the DICT
server's `text` strategy (the real `dict` client), the web side's /api/search
and the Python package's Shelf.search answer the same hits, best first; and a
book without an index is no match, said once in the server's log."""

import json
import os
import socket
import subprocess
import sys
import urllib.error
import urllib.parse
import urllib.request

import pytest
from conftest import HOST, ZAV, Client

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "..", "python"))
import tovixzav  # noqa: E402

# Homographs (one headword, two entries), accents and text outside the
# Basic Multilingual Plane before the matched words, so that byte offsets
# and string positions differ.
ENTRIES = [
    ("bank@1", "bank (1): the land along the side of a river."),
    ("bank@2", "bank (2): a business by the river that keeps money."),
    ("Flußufer", "Flußufer 🌊: the bank of a river, where the water meets the land."),
    ("ford", "ford: a shallow place where a river may be crossed."),
    ("naïveté", "naïveté: innocence; nothing about water."),
    ("harbour", "harbour: a place where boats shelter."),
]
QUERY = "river OR water"


@pytest.fixture(scope="module")
def shelf(tmp_path_factory):
    folder = tmp_path_factory.mktemp("fronts")
    manifest = {"kind": 2, "name": "Rivers", "tables": [
        {"name": "Words", "entries": [{"keys": [k], "text": t} for k, t in ENTRIES]}]}
    (folder / "rivers.json").write_text(json.dumps(manifest, ensure_ascii=False), encoding="utf-8")
    indexed, bare = str(folder / "rivers.zav"), str(folder / "bare.zav")
    for book in (indexed, bare):
        subprocess.run([ZAV, "build", "--quiet", str(folder / "rivers.json"), book], check=True, timeout=30)
    subprocess.run([ZAV, "index", "--quiet", indexed], check=True, timeout=60)
    log = folder / "serve.log"
    with open(log, "w") as err:
        server = subprocess.Popen([ZAV, "serve", indexed, bare, "--listen", f"{HOST}:0", "--http", f"{HOST}:0"],
                                  stdout=subprocess.PIPE, stderr=err, text=True)
        try:
            ports = {}
            while len(ports) < 2:
                line = server.stdout.readline()
                assert line, "zav serve did not start"
                ports["http" if line.startswith("http") else "dict"] = line.split()[-1]
            yield {"indexed": indexed, "bare": bare, "log": log, **ports}
        finally:
            server.terminate()
            assert server.wait(timeout=20) == 0


def dict_text(shelf, database, query):
    port = shelf["dict"].rsplit(":", 1)[1]
    run = subprocess.run(["dict", "-h", HOST, "-p", port, "-f", "-d", database, "-m", "-s", "text", query],
                         capture_output=True, text=True, timeout=30)
    return [line.split("\t")[3] for line in run.stdout.splitlines() if line.startswith(f"{HOST}\t")]


def raw_match(shelf, database, query):
    """The words of MATCH as sent (the dict client merges repeated lines)."""
    client = Client(socket.create_connection((HOST, int(shelf["dict"].rsplit(":", 1)[1])), timeout=30))
    try:
        client.line()
        lines = client.reply(f'MATCH {database} text "{query}"')
    finally:
        client.close()
    return [line.split(" ", 1)[1].strip('"') for line in lines[1:-2]]


def api_search(shelf, **params):
    url = f"http://{shelf['http']}/api/search?{urllib.parse.urlencode(params)}"
    try:
        with urllib.request.urlopen(url, timeout=30) as r:
            return r.status, json.load(r)
    except urllib.error.HTTPError as e:
        return e.code, json.load(e)


def marked(snippet_bytes, marks):
    return [snippet_bytes[a:b].decode() for a, b in marks]


def test_every_front_answers_the_same_hits(shelf):
    cli = json.loads(subprocess.run([ZAV, "search", shelf["indexed"], QUERY, "--json", "--count", "100"],
                                    capture_output=True, text=True, timeout=30, check=True).stdout)
    hits = cli["hits"]
    assert {h["headword"] for h in hits} == {"bank", "Flußufer", "ford", "naïveté"}
    words = {h["headword"]: marked(h["snippet"].encode(), h["marks"]) for h in hits}
    assert words["Flußufer"] == ["river", "water"] and words["naïveté"] == ["water"]

    status, web = api_search(shelf, q=QUERY, book="rivers", count=100)
    assert status == 200 and web["problem"] is None
    assert [{k: v for k, v in h.items() if k != "table"} for h in hits] == web["hits"]

    with tovixzav.Shelf(shelf["indexed"]) as books:
        found = books.search(QUERY, count=100)
    assert [(h.headword, h.key_index, h.page, h.offset, h.snippet) for h in found] == \
        [(h["headword"], h["keyIndex"], h["page"], h["offset"], h["snippet"]) for h in hits]
    assert [[f.snippet[a:b] for a, b in f.marks] for f in found] == \
        [marked(h["snippet"].encode(), h["marks"]) for h in hits]
    assert all(f.text and f.database == "rivers" for f in found)

    once = list(dict.fromkeys(h["headword"] for h in hits))  # the bank homographs are one headword
    assert dict_text(shelf, "rivers", QUERY) == raw_match(shelf, "rivers", QUERY) == once
    assert dict_text(shelf, "*", QUERY) == once  # the book without an index adds nothing


def test_a_book_without_an_index(shelf):
    assert dict_text(shelf, "bare", "river") == dict_text(shelf, "bare", "water") == []
    log = shelf["log"].read_text()
    assert log.count("database bare cannot be searched by text") == 1 and "no search index" in log
    status, web = api_search(shelf, q="river", book="bare")
    assert status == 200 and web["hits"] == [] and "no search index" in web["problem"]
    with tovixzav.Shelf(shelf["bare"]) as books, pytest.raises(tovixzav.BookError, match="no search index"):
        books.search("river")
    # No word to search for is the caller's error in every front.
    assert api_search(shelf, q="*")[0] == 400
    with tovixzav.Shelf(shelf["indexed"]) as books, pytest.raises(tovixzav.QueryError):
        books.search("*")


def test_write_index_puts_a_whole_index_in_place(shelf, tmp_path):
    book = tmp_path / "copy.zav"
    book.write_bytes(open(shelf["bare"], "rb").read())
    written = tovixzav.write_index(book)
    assert written == str(book) + ".search" and sorted(os.listdir(tmp_path)) == ["copy.zav", "copy.zav.search"]
    with tovixzav.Shelf(book) as books:
        assert [h.headword for h in books.search("shallow")] == ["ford"]
    (tmp_path / "folder.zav.search").mkdir()
    (tmp_path / "folder.zav").write_bytes(book.read_bytes())
    with pytest.raises(tovixzav.BookError, match="not a regular file"):
        tovixzav.write_index(tmp_path / "folder.zav")
    assert sorted(os.listdir(tmp_path)) == ["copy.zav", "copy.zav.search", "folder.zav", "folder.zav.search"]
