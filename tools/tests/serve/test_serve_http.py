"""zav serve --http: the JSON API on the sample books, its errors, a hostile
book, the page's headers, and the stop. Traffic goes to 127.0.0.1 only."""

import http.client
import json
import os
import select
import socket
import subprocess
import time
import unicodedata
import urllib.parse

import pytest

from conftest import BOOKS, HOST, START_SECONDS, ZAV

LEXICON = BOOKS[1]


class HttpServer:
    def __init__(self, *options, books=BOOKS):
        self.process = subprocess.Popen([ZAV, "serve", *books, "--http", f"{HOST}:0", *options],
                                        stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        self.port = None
        end = time.monotonic() + START_SECONDS
        while self.port is None and time.monotonic() < end:
            ready, _, _ = select.select([self.process.stdout], [], [], 1)
            line = self.process.stdout.readline() if ready else ""
            if line.startswith("http listening on "):
                self.port = int(line.rsplit(":", 1)[1])
            elif ready and not line:
                break
        if self.port is None:
            self.process.kill()
            raise RuntimeError("zav serve --http did not start")

    def request(self, path, method="GET", headers=None, body=None):
        c = http.client.HTTPConnection(HOST, self.port, timeout=20)
        c.request(method, path, body=body, headers=headers or {})
        r = c.getresponse()
        data = r.read()
        c.close()
        return r, data

    def api(self, path):
        r, data = self.request(path)
        assert r.getheader("Content-Type") == "application/json"
        return r.status, json.loads(data.decode("utf-8"))

    def stop(self, sig=None):
        self.process.send_signal(sig) if sig else self.process.terminate()
        try:
            return self.process.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self.process.kill()
            raise


@pytest.fixture(scope="module")
def web():
    s = HttpServer()
    yield s
    assert s.stop() == 0


def test_the_api_answers_on_the_sample_books(web):
    status, books = web.api("/api/books")
    assert status == 200
    ids = {b["id"]: b for b in books["books"]}
    assert {"glossary", "lexicon"} <= set(ids) and ids["lexicon"]["keys"] > 0
    assert all("file:" not in b["description"] for b in books["books"])  # no path goes out
    status, found = web.api("/api/lookup?q=a&strategy=prefix&book=lexicon")
    assert status == 200 and found["results"] == [{"book": "lexicon", "words": ["apple"]}]
    status, done = web.api("/api/suggest?q=AP&count=5")
    assert {"book": "lexicon", "headword": "apple"} in done["suggestions"]
    status, toc = web.api("/api/toc?book=glossary")
    assert status == 200 and not toc["damaged"] and toc["items"][0]["children"]
    status, page = web.api("/api/page?book=glossary&page=0")
    assert status == 200 and page["text"].startswith("Preface") and page["previous"] is None and page["next"] == 1
    status, subs = web.api("/api/subpages?book=lexicon&page=0")
    assert status == 200 and "An apple a day keeps the doctor away." in [s["text"] for s in subs["subs"]]


@pytest.mark.parametrize("word", ["apple", "APPLE", "bank", "aple"])
def test_lookup_agrees_with_zav_lookup_json(web, word):
    run = subprocess.run([ZAV, "lookup", LEXICON, word, "--json"], capture_output=True, text=True, timeout=30)
    expected = json.loads(run.stdout)
    status, got = web.api("/api/lookup?q=" + word + "&book=lexicon")
    assert status == 200
    entries = [e for r in got["results"] for e in r["entries"]]
    fields = ("key", "keyIndex", "page", "offset", "text", "how")
    assert [{f: e[f] for f in fields} for e in entries] == expected["entries"]
    assert got["suggestions"] == expected["suggestions"]


def test_lookup_agrees_with_zav_lookup_on_a_real_dictionary(tmp_path):
    """100 words of Debian's FreeDict French-English dictionary (scripts/deps.sh installs it), as found in its
    index, in capitals and without their accents, and a few misspelt: every answer of /api/lookup is that of
    `zav lookup --json`, field by field, suggestions included."""
    index = "/usr/share/dictd/freedict-fra-eng.index"
    if not os.path.exists(index):
        pytest.fail(f"{index} is missing: install dict-freedict-fra-eng (scripts/deps.sh)", pytrace=False)
    book = str(tmp_path / "fra-eng.zav")
    subprocess.run([ZAV, "import", "dictd", index, book], check=True, capture_output=True, timeout=120)
    with open(index, encoding="utf-8") as f:
        heads = sorted({line.split("\t", 1)[0] for line in f if not line.startswith("00")})
    sample = heads[::len(heads) // 70][:70]
    bare = lambda w: "".join(c for c in unicodedata.normalize("NFD", w) if not unicodedata.combining(c))  # noqa
    accented = [w for w in heads if bare(w) != w][:10]
    words = sample + [w.upper() for w in sample[:10]] + [bare(w) for w in accented] + \
        [w[:-1] + "q" for w in sample[10:20]]
    assert len(words) == 100
    run = subprocess.run([ZAV, "lookup", book, "-", "--json"], input="\n".join(words) + "\n", capture_output=True,
                         text=True, timeout=120)
    expected = [json.loads(line) for line in run.stdout.splitlines()]
    assert len(expected) == len(words)
    server = HttpServer(books=[book])
    try:
        fields = ("key", "keyIndex", "page", "offset", "text", "how")
        found = 0
        for word, want in zip(words, expected):
            status, got = server.api("/api/lookup?" + urllib.parse.urlencode({"q": word}))
            assert status == 200, word
            entries = [{f: e[f] for f in fields} for r in got["results"] for e in r["entries"]]
            assert (entries, got["suggestions"]) == (want["entries"], want["suggestions"]), word
            found += bool(entries)
        assert found >= 80  # the words as found, in capitals and without accents
    finally:
        assert server.stop() == 0


@pytest.mark.parametrize("method,path,body,status", [
    ("GET", "/api/lookup", None, 400),
    ("GET", "/api/lookup?q=x&strategy=bogus", None, 400),
    ("GET", "/api/lookup?q=(&strategy=re", None, 400),
    ("GET", "/api/suggest?q=a&count=0", None, 400),
    ("GET", "/api/page?book=glossary&page=x", None, 400),
    ("GET", "/api/lookup?q=x&book=nope", None, 404),
    ("GET", "/api/toc?book=..%2F..%2Fetc%2Fpasswd", None, 404),
    ("GET", "/api/page?book=glossary&page=99999", None, 404),
    ("GET", "/api/nothing", None, 404),
    ("GET", "/no-such-file.js", None, 404),
    ("GET", "/api/lookup?q=" + "x" * 2000, None, 414),
    ("GET", "/api/lookup?q=" + "x" * 9000, None, 414),
    ("POST", "/api/lookup", b"x" * 100000, 413),
    ("DELETE", "/api/books", None, 405),
], ids=lambda v: v[:40] if isinstance(v, str) else None)
def test_errors_are_json_with_their_status(web, method, path, body, status):
    r, data = web.request(path, method=method, body=body)
    assert r.status == status
    assert r.getheader("Content-Type") == "application/json"
    assert isinstance(json.loads(data)["error"], str)


def test_a_hostile_book_comes_back_as_escaped_json(tmp_path):
    nasty = b"<script>alert(1)</script>\x01\x1b[31m\xff\xfe\xc3"
    manifest = {"kind": 2, "name": "Hostile", "tables": [
        {"name": "latin", "locale": 1, "entries": [{"keys": [{"hex": (b"evil" + nasty).hex()}],
                                                   "text": {"hex": (b"text " + nasty).hex()}}]},
        {"name": "gbk", "locale": 2, "entries": [{"keys": [{"hex": (b"evil" + nasty).hex()}],
                                                 "text": {"hex": (b"text " + nasty).hex()}}]}]}
    (tmp_path / "hostile.json").write_text(json.dumps(manifest))
    book = str(tmp_path / "hostile.zav")
    subprocess.run([ZAV, "build", "--quiet", str(tmp_path / "hostile.json"), book], check=True, timeout=30)
    log = tmp_path / "access.log"
    server = HttpServer("--http-log", str(log), books=[book])
    try:
        bodies = []
        for path in ("/api/lookup?q=evil&strategy=prefix", "/api/suggest?q=evil", "/api/page?book=hostile&page=0",
                     "/api/page?book=hostile.1&page=0"):
            r, data = server.request(path)
            assert r.status == 200 and r.getheader("X-Content-Type-Options") == "nosniff"
            assert r.getheader("Content-Type") == "application/json"
            data.decode("utf-8")  # strict: valid UTF-8 only
            assert not any(b < 0x20 for b in data), path  # control bytes only as \\u escapes
            bodies.append(json.loads(data))
        words = [w for r in bodies[0]["results"] for w in r["words"]]
        assert len(words) == 2 and all(w.startswith("evil<script>") and "\x1b" in w for w in words)
        # A page's text reads as the reader library's entry texts do: bytes that are no UTF-8 as Latin-1.
        assert [b["text"] for b in bodies[2:]] == ["text " + words[0][len("evil"):]] * 2
        status, found = server.api("/api/suggest?q=evil%3Cscript")
        assert status == 200 and len(found["suggestions"]) == 2
        # A request line with control bytes: the log escapes them.
        s = socket.create_connection((HOST, server.port), timeout=10)
        s.sendall(b"GET /api/lookup?q=\x1b[2J\xff HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n")
        s.recv(65536)
        s.close()
    finally:
        assert server.stop() == 0
    logged = log.read_bytes()
    assert b"\x1b" not in logged and b"\xff" not in logged and b"\\x1B[2J\\xFF" in logged


def test_the_page_has_strict_headers_an_etag_and_head(web):
    r, page = web.request("/")
    assert r.status == 200 and r.getheader("Content-Type").startswith("text/html") and page
    policy = r.getheader("Content-Security-Policy")
    for part in ("default-src 'self'", "object-src 'none'", "frame-ancestors 'none'"):
        assert part in policy
    assert "unsafe-inline" not in policy and "unsafe-eval" not in policy
    assert r.getheader("X-Content-Type-Options") == "nosniff"
    tag = r.getheader("ETag")
    assert tag and web.request("/index.html")[0].getheader("ETag") == tag
    r, body = web.request("/", headers={"If-None-Match": tag})
    assert r.status == 304 and body == b""
    assert web.request("/", headers={"If-None-Match": '"other"'})[0].status == 200
    r, body = web.request("/", method="HEAD")
    assert r.status == 200 and body == b"" and int(r.getheader("Content-Length")) == len(page)


@pytest.mark.parametrize("dict_side,sig", [(False, None), (True, None), (True, 2)])
def test_a_signal_stops_both_sides(dict_side, sig):
    server = HttpServer(*(["--listen", f"{HOST}:0"] if dict_side else []))
    assert server.api("/api/books")[0] == 200
    keep = http.client.HTTPConnection(HOST, server.port, timeout=10)  # a keep-alive client left open
    keep.request("GET", "/api/books")
    keep.getresponse().read()
    start = time.monotonic()
    assert server.stop(sig) == 0
    assert time.monotonic() - start < 5
    with pytest.raises(OSError):
        socket.create_connection((HOST, server.port), timeout=2)


def test_a_client_that_trickles_its_request_is_cut_off():
    """A request must arrive whole within 5 seconds of its first byte: a client that sends its header a byte a
    second holds the only worker that long, and the next client is answered after it, not never."""
    server = HttpServer("--http-threads", "1")
    slow = socket.create_connection((HOST, server.port), timeout=20)
    try:
        slow.sendall(b"GET /api/books HTTP/1.1\r\nHost: x\r\n")
        start = time.monotonic()
        cut = None
        while time.monotonic() - start < 12 and cut is None:
            try:
                slow.sendall(b"X")
                if select.select([slow], [], [], 1)[0] and not slow.recv(4096):
                    cut = time.monotonic() - start
            except OSError:
                cut = time.monotonic() - start
        assert cut is not None and cut < 8
        status, books = server.api("/api/books")
        assert status == 200 and books["books"]
    finally:
        slow.close()
        assert server.stop() == 0


def test_idle_connections_hold_no_worker():
    """With one worker, 20 clients that keep their connections open after a request do not keep the next client
    waiting: a connection waiting for its next request holds no worker."""
    server = HttpServer("--http-threads", "1")
    idle = []
    try:
        for _ in range(20):
            c = http.client.HTTPConnection(HOST, server.port, timeout=10)
            c.request("GET", "/api/books")
            assert c.getresponse().read()
            idle.append(c)
        start = time.monotonic()
        status, _ = server.api("/api/books")
        assert status == 200 and time.monotonic() - start < 1
        for c in idle:  # and each kept connection still answers
            c.request("GET", "/api/books")
            assert c.getresponse().status == 200
    finally:
        for c in idle:
            c.close()
        assert server.stop() == 0
