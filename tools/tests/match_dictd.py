#!/usr/bin/env python3
"""MATCH with each of the twelve strategies: the reader library beside dictd.

    match_dictd.py (--cli PROGRAM | --server HOST:PORT DATABASE | --zav ZAV) INDEX...

For each dictd index given (its .dict.dz beside it), dictd serves it on a
loopback port; for each strategy and a handful of patterns, the set of
headwords that `dict -m` gets from dictd is compared with the set that the
reader library gives, either through PROGRAM (zavreader_match_cli, which
runs the strategies over the index's headwords) or through a DICT server
that serves a book made from the same index (zav serve), asked with `dict`
as well; with --zav, the book is imported from the index and served by
`zav serve` here.

Headwords are compared with the spaces around them taken off, and dictd's
entries about the dictionary (00database...) are left out: a book keeps
them apart from its headwords. A line per query that differs says how, and
whether it is one that is known (see known() and the functions after it):
those are printed but pass. The exit status is 1 for any other difference,
2 when a program or a dictionary is missing.
"""
import argparse
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import time

ABOUT = ("00-database-", "00database")

# Patterns per strategy: English ones for the FreeDict dictionaries, German
# ones with letters of two bytes for dict-de-en, and the edges of each
# strategy (case, ranges, empty parts).
QUERIES = {
    "exact": ["cat", "CAT", "cat and mouse", "ärger", "ÄRGER", "straße"],
    "prefix": ["cat", "Catch", "a bit", "äpf", "über"],
    "nprefix": ["0#5#cat", "3#4#cat", "cat", "10#3#ab", "2#3#abgött", "0#0#cat", "1#2#äpf"],
    "substring": ["cat", "ation", "tion of", "öß", "ärg", "cat's"],
    "suffix": ["cat", "ness", "ing", "ß", "äpfel"],
    "re": ["^cat", "^(ab|ac).*ion$", "^[[:alpha:]]{3}$", "a.?b{2}", "^[^aeiou ]+$", "^.rger$", "^ÄRG", "ß$", "(a"],
    "regexp": ["^cat", "^\\(ab\\|ac\\).*ion$", "^a\\{2\\}", "^[[:alpha:]]\\{3\\}$", "ab*c$", "^a+", "^ü.\\?bel",
               "^\\(..\\).*\\1$"],
    "soundex": ["cat", "robert", "ashcraft", "tymczak", "pfister", "night", "übel", "schmidt", "östlich", "aufwärts"],
    "lev": ["cat", "teh", "recieve", "acomodate", "a", "arger", "ärgre", "strase"],
    "word": ["cat", "of", "and mouse", "ärger", "straße", "cat's"],
    "first": ["cat", "take", "a bit", "über"],
    "last": ["cat", "up", "of the", "machen"],
}


def soundex(word):
    """dictd's soundex code, as it answers: the first character, then a digit
    for each ASCII consonant unlike the one before; vowels, y, h and w
    separate consonants, any other character is passed over."""
    digits = dict(zip("bfpvcgjkqsxzdtlmnr", "111122222222334556"))
    code, last = word[:1].upper(), digits.get(word[:1].lower(), "")
    for c in word[1:].lower():
        if c in digits and digits[c] != last and len(code) < 4:
            code += digits[c]
        if c in digits or c in "aeiouyhw":
            last = digits.get(c, "")
    return (code + "000")[:4]


def plain(pattern):
    """The pattern as dictd searches it: letters, digits and spaces only."""
    return "".join(c for c in pattern.lower() if c.isalnum() or c == " ")


# Differences that come from dictd, each told by a test of the word that
# differs: (strategy, pattern, word, side, raw) -> the reason, or None for a
# difference that is not known. side is "dictd" for a word only dictd gives,
# "ours" for one only we give; raw maps a headword to its forms in the
# index as they are, spaces around it included.
def known(strategy, pattern, word, side, raw):
    if any(r != word for r in raw.get(word, ())):
        return "the index holds the headword with spaces around it, which dictd takes as part of it"
    if side == "dictd" and strategy not in ("re", "regexp") and plain(pattern) != pattern.lower():
        test = {"exact": str.__eq__, "prefix": str.startswith, "substring": str.__contains__, "suffix": str.endswith}
        if strategy not in test or test[strategy](word, plain(pattern)):
            return "dictd drops all but letters, digits and spaces from the pattern"
    if strategy == "soundex" and side == "ours" and not pattern[:1].isascii() and soundex(word) == soundex(pattern):
        return "dictd compares only a part of the index for a pattern that starts with a letter outside ASCII"
    return None


# nprefix's range: dictd counts it over the index lines that match, so a
# headword of several lines counts several times; we count headwords. Known
# when dictd gave exactly the lines' range and we the right number of
# headwords with the prefix.
def known_range(pattern, theirs, ours, lines):
    parts = pattern.split("#", 2)
    if len(parts) < 3 or not parts[0].isdigit() or not parts[1].isdigit():
        return None
    skip, count, prefix = int(parts[0]), int(parts[1]), parts[2].lower()
    # dictd finds the lines by a binary search: one that starts with a space is elsewhere.
    matching = [l.strip(" ") for l in lines if l.startswith(prefix)]
    if theirs != set(matching[skip:skip + count]) or any(not w.lower().startswith(prefix) for w in ours):
        return None
    headwords = {l.strip(" ") for l in lines if l.strip(" ").startswith(prefix)}
    if len(ours) != min(count, max(0, len(headwords) - skip)):
        return None
    return "dictd counts a range over index lines: a headword of several lines counts several times"


# Patterns refused by one side: dictd answers a pattern it cannot compile
# with no match; the reader library refuses back references.
def known_refusal(strategy, pattern, ours_refused, theirs):
    if ours_refused and not theirs:
        return "dictd answers a regular expression it cannot compile with no match"
    if ours_refused and strategy in ("re", "regexp") and "\\1" in pattern:
        return "back references are refused here (no linear-time engine runs them)"
    return None


class Failure(Exception):
    pass


def free_port():
    s = socket.socket()
    s.bind(("127.0.0.1", 0))
    port = s.getsockname()[1]
    s.close()
    return port


def wait_for(port):
    for _ in range(100):
        try:
            socket.create_connection(("127.0.0.1", port), 1).close()
            return
        except OSError:
            time.sleep(0.1)
    raise Failure(f"no server answers on port {port}")


def clean(words):
    return {w.strip(" ") for w in words if not w.strip(" ").startswith(ABOUT)}


def dict_match(host, port, database, strategy, pattern):
    """The headwords dict -m gets, or None when the server refused the query."""
    try:
        r = subprocess.run(["dict", "-h", host, "-p", str(port), "-d", database, "-s", strategy, "-f", "-m", pattern],
                           capture_output=True, timeout=120)
    except FileNotFoundError:
        raise Failure("dict is not installed (Debian: dict)")
    words = [l.split("\t", 3)[3] for l in r.stdout.decode("utf-8", errors="replace").split("\n") if l.count("\t") >= 3]
    if r.returncode in range(33, 37):  # a syntax error or a parameter not taken: a refused pattern
        return None
    if r.returncode not in (0, 20):  # 20: no matches
        raise Failure(f"dict -s {strategy} -m {pattern!r} exited {r.returncode}: {r.stderr.decode(errors='replace')}")
    return clean(words)


def cli_match(program, index, queries):
    """The headwords the match program gives for each query (None: refused)."""
    text = "".join(f"{s}\t{p}\n" for s, p in queries)
    try:
        r = subprocess.run([program, index], input=text.encode(), capture_output=True, timeout=600)
    except FileNotFoundError:
        raise Failure(f"{program}: not found")
    if r.returncode != 0:
        raise Failure(f"{program} {index} exited {r.returncode}: {r.stderr.decode(errors='replace')}")
    found = [set() for _ in queries]
    refused = set()
    for line in r.stdout.decode("utf-8").split("\n"):
        n, _, rest = line.partition("\t")
        mark, _, word = rest.partition("\t")
        if mark == "!":
            refused.add(int(n))
        elif mark != "." and n:
            found[int(n)].add(word)
    return [None if i in refused else clean(f) for i, f in enumerate(found)]


def start_dictd(index, work):
    data = index[:-len(".index")] + ".dict.dz"
    for f in (index, data):
        if not os.path.isfile(f):
            raise Failure(f"{f}: missing (Debian: the dict-* package that holds it)")
    dictd = shutil.which("dictd") or "/usr/sbin/dictd"
    if not os.path.exists(dictd):
        raise Failure("dictd is not installed (Debian: dictd)")
    conf = os.path.join(work, "dictd.conf")
    with open(conf, "w") as f:
        f.write("global { limit_queries 0\n limit_matches 0\n limit_time 0\n listen_to 127.0.0.1 }\n")
        f.write(f'database peer {{ data "{data}" index "{index}" }}\n')
    log = os.path.join(work, "dictd.log")
    open(log, "w").close()
    os.chmod(log, 0o666)
    port = free_port()
    proc = subprocess.Popen([dictd, "-d", "nodetach", "-c", conf, "-p", str(port), "--locale", "C.UTF-8", "-L", log],
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        wait_for(port)
    except Failure:
        proc.kill()
        proc.wait()
        raise
    return proc, port


def zav_match(zav, index, queries, work):
    """The book imported from the index, served by zav serve, asked with dict."""
    book = os.path.join(work, "book.zav")
    imported = subprocess.run([zav, "import", "dictd", "--quiet", index, book], capture_output=True, text=True)
    if imported.returncode != 0:
        raise Failure(f"{index}: zav import failed: {imported.stderr.strip()}")
    server = subprocess.Popen([zav, "serve", "--name", "book", book, "--listen", "127.0.0.1:0"],
                              stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    try:
        line = server.stdout.readline()
        if not line.startswith("listening on "):
            raise Failure(f"zav serve did not start: {line!r}")
        port = int(line.strip().rpartition(":")[2])
        return [dict_match("127.0.0.1", port, "book", s, p) for s, p in queries]
    finally:
        server.terminate()
        server.wait()


def compare(index, args, work):
    queries = [(s, p) for s, ps in QUERIES.items() for p in ps]
    proc, port = start_dictd(index, work)
    try:
        theirs = [dict_match("127.0.0.1", port, "peer", s, p) for s, p in queries]
    finally:
        proc.terminate()
        proc.wait()
    if args.cli:
        ours = cli_match(args.cli, index, queries)
    elif args.zav:
        ours = zav_match(args.zav, index, queries, work)
    else:
        host, _, sport = args.server[0].rpartition(":")
        ours = [dict_match(host, int(sport), args.server[1], s, p) for s, p in queries]
    raw, lines = {}, []  # the headwords as the index holds them; in its order
    with open(index, encoding="utf-8", errors="replace", newline="\n") as f:
        for line in f:
            head = line.split("\t", 1)[0]
            raw.setdefault(head.strip(" "), set()).add(head)
            if not head.strip(" ").startswith(ABOUT):
                lines.append(head)
    bad = explained = 0
    name = os.path.basename(index)
    for (s, p), t, o in zip(queries, theirs, ours):
        if t == o:
            continue
        if t is None or o is None:
            reason = known_refusal(s, p, o is None, t)
            print(f"{name}: {s} {p!r}: " + ("dictd refused it" if t is None else "we refused it") +
                  f", the other gave {len(o or t or ())} headwords: " + (f"known: {reason}" if reason else "DIFFERS"))
            explained += reason is not None
            bad += reason is None
            continue
        only_t, only_o = sorted(t - o), sorted(o - t)
        if s == "nprefix":
            reasons = {known_range(p, t, o, lines)}
        else:
            reasons = {known(s, p, w, "dictd", raw) for w in only_t} | {known(s, p, w, "ours", raw) for w in only_o}
        ok = None not in reasons
        explained += ok
        bad += not ok
        print(f"{name}: {s} {p!r}: {'known: ' + '; '.join(sorted(reasons)) if ok else 'DIFFERS'}"
              f"\n    only dictd ({len(only_t)}): {only_t[:8]}\n    only ours ({len(only_o)}): {only_o[:8]}")
    print(f"{name}: {len(queries)} queries, {len(queries) - bad - explained} the same, "
          f"{explained} with known differences, {bad} differing")
    return bad


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    how = ap.add_mutually_exclusive_group(required=True)
    how.add_argument("--cli", help="zavreader_match_cli")
    how.add_argument("--server", nargs=2, metavar=("HOST:PORT", "DATABASE"), help="a DICT server serving the book")
    how.add_argument("--zav", help="the zav program: import the index and serve the book")
    ap.add_argument("index", nargs="+")
    args = ap.parse_args()
    bad = 0
    try:
        for index in args.index:
            # dictd drops its root rights to read its files: a folder every user can read.
            with tempfile.TemporaryDirectory() as work:
                os.chmod(work, 0o755)
                bad += compare(index, args, work)
    except Failure as e:
        print(f"match_dictd.py: {e}", file=sys.stderr)
        return 2
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main())
