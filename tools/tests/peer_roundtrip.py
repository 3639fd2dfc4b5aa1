#!/usr/bin/env python3
"""Round trips of real dictionaries through zav, checked by the peers that read them.

    peer_roundtrip.py --zav ZAV [--keep DIR] dictd INDEX | stardict IFO ...

For each dictionary given (a dictd .index with its .dict or .dict.dz beside
it, or a StarDict .ifo with its files):

  import        zav import makes a book; its tsv export is the reference
  tsv           tsv -> book -> tsv gives the same bytes
  dictd         zav export dictd: every chunk of the .dict.dz inflates on its
                own, dictzip -t passes, dictzip -d gives the data, and dictd
                (run in inetd mode: one session, every DEFINE sent at once)
                answers every headword with every text the book holds for it
  sdcv          zav export stardict: sdcv shows every headword under its own
                name with every text the book holds for it
  reimport      each export imported again gives a book whose tsv export
                equals the reference

A line per dictionary gives the counts; the exit status is 1 when a check
failed, 2 when a program or a dictionary is missing. dictd drops its root
rights to read the files, so the work goes into a folder under the system's
temporary one that every user can read (kept with --keep).
"""
import argparse
import gzip
import json
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import zlib
from collections import Counter, defaultdict

ABOUT = ("00-database-", "00database")  # dictd's entries about a dictionary


class Failure(Exception):
    pass


def run(args, **kw):
    try:
        r = subprocess.run(args, capture_output=True, **kw)
    except FileNotFoundError:
        raise Failure(f"{args[0]} is not installed (scripts/deps.sh installs it)")
    if r.returncode != 0:
        raise Failure(f"{' '.join(map(str, args[:4]))}... exited {r.returncode}: {r.stderr.decode(errors='replace')[-800:]}")
    return r


def unescape(field):
    out, i = [], 0
    while i < len(field):
        c = field[i]
        if c == "\\" and i + 1 < len(field):
            out.append({"n": "\n", "t": "\t", "r": "\r", "\\": "\\"}.get(field[i + 1], "\\" + field[i + 1]))
            i += 2
        else:
            out.append(c)
            i += 1
    return "".join(out)


def texts_by_headword(tsv):
    """{headword: Counter(text)} for the keys of a tsv export, less the lines about the dictionary."""
    by = defaultdict(Counter)
    with open(tsv, encoding="utf-8", newline="\n") as f:
        for line in f:
            word, _, text = line.rstrip("\n").partition("\t")
            if not word.startswith(ABOUT):
                by[word][unescape(text)] += 1
    return by


def dictzip_chunks(path):
    """The uncompressed data of a dictzip file, each chunk inflated on its own."""
    raw = open(path, "rb").read()
    if raw[:3] != b"\x1f\x8b\x08" or not raw[3] & 4:
        raise Failure(f"{path}: not a dictzip file")
    xlen = struct.unpack_from("<H", raw, 10)[0]
    extra, at = raw[12:12 + xlen], 12 + xlen
    if extra[:2] != b"RA":
        raise Failure(f"{path}: no chunk table")
    chlen, count = struct.unpack_from("<HH", extra, 6)
    sizes = struct.unpack_from(f"<{count}H", extra, 10)
    if raw[3] & 8:
        at = raw.index(b"\0", at) + 1
    data = []
    for n, size in enumerate(sizes):
        z = zlib.decompressobj(-15)
        try:
            chunk = z.decompress(raw[at:at + size]) + z.flush(zlib.Z_SYNC_FLUSH)
        except zlib.error as e:
            raise Failure(f"{path}: chunk {n} of {count} does not inflate on its own: {e}")
        if len(chunk) != chlen and n + 1 < count:
            raise Failure(f"{path}: chunk {n} inflates to {len(chunk)} bytes, not {chlen}")
        data.append(chunk)
        at += size
    return b"".join(data)


def check_dictzip(path):
    data = dictzip_chunks(path)
    if data != gzip.decompress(open(path, "rb").read()):
        raise Failure(f"{path}: the chunks differ from the gzip stream")
    run(["dictzip", "-t", path])
    if run(["dictzip", "-dc", path]).stdout != data:
        raise Failure(f"{path}: dictzip -d gives other data")


def quoted(word):
    """A word as dictd's command parser reads it: unquoted, with a backslash
    before each space, quote and backslash (inside quotes a backslash is
    taken as it is)."""
    return "".join("\\" + c if c in ' "\'\\' else c for c in word)


def check_dictd(stem, expected, work):
    """dictd answers DEFINE for every headword of the index with the book's
    texts for it. dictd gives a text that several index lines of the same
    search form share once, under the first of them: such a text may come
    under another headword that leads to it. Returns the index lines
    checked and the headwords whose text came under another one."""
    fields = [l.split("\t") for l in open(stem + ".index", encoding="utf-8", newline="\n").read().split("\n")[:-1]]
    fields = [f for f in fields if not f[0].startswith(ABOUT)]
    sharing = defaultdict(set)  # (form, offset, length) -> headwords
    for f in fields:
        sharing[tuple(f[:3])].add(f[-1] if len(f) > 3 else f[0])
    also = defaultdict(set)  # headword -> the headwords that share a text with it
    for names in sharing.values():
        for n in names:
            also[n] |= names
    asked = sorted(also)
    conf = os.path.join(work, "dictd.conf")
    with open(conf, "w") as f:
        f.write("global { limit_queries 0\n limit_definitions 0\n limit_time 0 }\n")
        f.write(f'database peer {{ data "{stem}.dict.dz" index "{stem}.index" }}\n')
    log = os.path.join(work, "dictd.log")
    open(log, "w").close()
    os.chmod(log, 0o666)
    commands = "".join(f"DEFINE peer {quoted(w)}\r\n" for w in asked) + "QUIT\r\n"
    try:
        r = subprocess.run([shutil.which("dictd") or "/usr/sbin/dictd", "--inetd", "-c", conf, "--locale", "C.UTF-8",
                            "-L", log], input=commands.encode(), capture_output=True, timeout=600)
    except FileNotFoundError:
        raise Failure("dictd is not installed (scripts/deps.sh installs it)")
    out = r.stdout.decode("utf-8", errors="replace").split("\r\n")
    # The texts that each DEFINE gives under the name asked (own) or under
    # a headword that shares a text with it (shared).
    own, shared, i, answers, undoubled = defaultdict(set), defaultdict(set), 0, 0, 0
    while i < len(out) and answers < len(asked):
        line = out[i]
        i += 1
        if line.startswith(("250 ", "552 ")):
            answers += 1
        elif line.startswith("151 "):
            name = re.sub(r"\\(.)", r"\1", line[5:line.rindex('" peer "')])  # dictd escapes " and \
            body = []
            while i < len(out) and out[i] != ".":
                body.append("." if out[i] == ".." else out[i])  # dictd doubles only a lone dot
                i += 1
            i += 1
            if i < len(out) and out[i] == ".":
                # A text whose last line is a lone dot with no line break
                # after it: dictd sends that dot undoubled, so a client sees
                # the text end before it.
                body.append(".")
                undoubled += 1
                i += 1
            word = asked[answers]
            if name == word:
                own[word].add("\n".join(body))
            elif name in also[word]:
                shared[word].add("\n".join(body))
    if answers != len(asked):
        tail = open(log, errors="replace").read()[-600:]
        raise Failure(f"dictd answered {answers} of {len(asked)} DEFINE commands (exit {r.returncode}); "
                      f"first unanswered: {asked[answers]}; log: {tail}")
    bad, elsewhere = [], 0
    for w in asked:
        want = {t[:-1] if t.endswith("\n") else t for t in expected.get(w, {})}  # dictd ends a text with a line break
        if own[w] == want:
            continue
        if own[w] | shared[w] >= want and own[w] <= want:
            elsewhere += 1
        else:
            bad.append(w)
    if bad:
        w = bad[0]
        raise Failure(f"dictd: {len(bad)} of {len(asked)} headwords served wrong, e.g. {w!r}: "
                      f"served {own[w] | shared[w]!r}, the book holds {dict(expected.get(w, {}))!r}")
    keys = sum(sum(c.values()) for c in expected.values())
    if len(fields) != keys:
        raise Failure(f"the index has {len(fields)} headword lines, the book {keys} keys")
    return len(fields), elsewhere, undoubled


def sdcv_query(word):
    """What sdcv is given to find `word`. sdcv reads a leading / or | and the
    wildcards * and ? as its own syntax, so such a word is asked as a
    pattern (its / or | escaped, * and ? matching any character) and the hits
    are filtered by name."""
    if not (word.startswith(("/", "|")) or "*" in word or "?" in word):
        return word
    pattern = "".join("?" if c in "*?" else "\\\\" if c == "\\" else c for c in word)
    return ("\\" + pattern if word.startswith(("/", "|")) else pattern) + ("" if "?" in pattern else "*")


def check_sdcv(folder, expected):
    """sdcv shows each headword under its own name with its text; returns the
    headwords checked and those of them with several texts, of which sdcv
    (0.5) shows one: its look-up stops at the first equal word it finds."""
    words = sorted(expected)
    shown = defaultdict(Counter)
    for at in range(0, len(words), 2000):
        batch = words[at:at + 2000]
        # HOME is the work folder: sdcv keeps a history of the words asked there.
        r = run(["sdcv", "-2", folder, "-x", "-n", "-e", "-j", "--"] + [sdcv_query(w) for w in batch],
                env=dict(os.environ, HOME=folder, XDG_CACHE_HOME=folder))
        results = r.stdout.decode("utf-8").split("\n")[:-1]  # one line per word (texts may hold U+2028)
        if len(results) == len(batch) + 1:
            results.pop(0)  # "--" stays a word to look up when a word after it starts with "-"
        if len(results) != len(batch):
            raise Failure(f"sdcv gave {len(results)} answers to {len(batch)} words")
        for word, result in zip(batch, results):
            for hit in json.loads(result):
                if hit["word"] == word:
                    shown[word][hit["definition"][1:]] += 1  # sdcv starts each field on a new line
    several = [w for w in words if sum(expected[w].values()) > 1]
    bad = [w for w in words if shown[w] != expected[w] and not (
        w in several and len(shown[w]) == 1 and sum(shown[w].values()) == 1 and next(iter(shown[w])) in expected[w])]
    if bad:
        w = bad[0]
        raise Failure(f"sdcv: {len(bad)} of {len(words)} headwords shown wrong, e.g. {w!r}: "
                      f"shown {dict(shown[w])!r}, the book holds {dict(expected[w])!r}")
    return len(words), len(several)


def roundtrip(zav, kind, source, work):
    name = os.path.basename(source).rsplit(".", 1)[0]
    base = os.path.join(work, name)
    os.makedirs(base)
    p = lambda f: os.path.join(base, f)
    lines = run([zav, "import", kind, source, p("book.zav")]).stderr.decode().splitlines()
    summary = next((l for l in lines if ": read " in l), lines[0])
    run([zav, "export", "tsv", p("book.zav"), p("book.tsv"), "--quiet"])
    reference = open(p("book.tsv"), "rb").read()
    expected = texts_by_headword(p("book.tsv"))
    keys = sum(sum(c.values()) for c in expected.values())
    report = [f"{name}: {summary.split(': ', 1)[1]}; {keys} keys, {len(expected)} headwords"]

    def same_tsv(fmt, src, what, reference=reference):
        run([zav, "import", fmt, src, p(what + ".zav"), "--quiet"])
        run([zav, "export", "tsv", p(what + ".zav"), p(what + ".tsv"), "--quiet"])
        if open(p(what + ".tsv"), "rb").read() != reference:
            raise Failure(f"{what}: the tsv export of the re-imported book differs from the first "
                          f"(diff {p('book.tsv')} {p(what + '.tsv')})")

    same_tsv("tsv", p("book.tsv"), "tsv")
    report.append("tsv identical")
    run([zav, "export", "dictd", p("book.zav"), p("out"), "--quiet"])
    check_dictzip(p("out.dict.dz"))
    lines, elsewhere, undoubled = check_dictd(p("out"), expected, base)
    report.append(f"dictd served all {lines} index lines" +
                  (f" ({elsewhere} headwords' texts under another headword of the same text)" if elsewhere else "") +
                  (f" ({undoubled} texts ending in a lone dot sent undoubled)" if undoubled else ""))
    same_tsv("dictd", p("out.index"), "dictd")
    os.makedirs(p("sd"))
    run([zav, "export", "stardict", p("book.zav"), p("sd/out"), "--quiet"])
    check_dictzip(p("sd/out.dict.dz"))
    # A StarDict word is shorter than 256 bytes: the export skips longer ones.
    long = {w.encode() for w in expected if len(w.encode()) > 255}
    words, several = check_sdcv(p("sd"), {w: t for w, t in expected.items() if w.encode() not in long})
    report.append(f"sdcv showed all {words} headwords" + (f" ({several} with several texts: one of them)" if several else "") +
                  (f"; {len(long)} headwords longer than 255 bytes left out of StarDict" if long else ""))
    same_tsv("stardict", p("sd/out.ifo"), "stardict",
             b"".join(l for l in reference.splitlines(True) if l.split(b"\t", 1)[0] not in long))
    report.append("re-imports identical")
    return "; ".join(report)


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--zav", required=True)
    ap.add_argument("--keep", help="work in this folder and keep it")
    ap.add_argument("sources", nargs="+", help="dictd INDEX | stardict IFO, repeated")
    a = ap.parse_args()
    if len(a.sources) % 2 or any(k not in ("dictd", "stardict") for k in a.sources[::2]):
        ap.error("expected pairs: dictd INDEX | stardict IFO")
    pairs = list(zip(a.sources[::2], a.sources[1::2]))
    for kind, source in pairs:
        if not os.path.exists(source):
            print(f"FAIL {source} is missing (scripts/deps.sh installs the package that has it)")
            return 2
    work = a.keep or tempfile.mkdtemp(prefix="zav-peers-")
    os.makedirs(work, exist_ok=True)
    os.chmod(work, 0o755)
    os.umask(0o022)
    failed = 0
    try:
        for kind, source in pairs:
            try:
                print("ok  ", roundtrip(a.zav, kind, source, work), flush=True)
            except Failure as e:
                failed += 1
                print(f"FAIL {source}: {e}", flush=True)
    finally:
        if not a.keep:
            shutil.rmtree(work, ignore_errors=True)
    print(f"{len(pairs) - failed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
