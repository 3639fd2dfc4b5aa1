#!/usr/bin/env python3
"""Words typed without their accents or marks find their entries.

For five languages, headwords (or words of the definitions) of Debian's
dictionaries are typed as people type them without a keyboard for the
language: German without umlauts and with ss for ß, French without accents,
Arabic with a bare alef for its hamza forms, Greek without its tonos, Russian
with е for ё. Each must lead `zav lookup` to an entry of the word as stored,
for at least 95% of the words of each case. Words whose bare form is itself
a headword are left out: the look-up rightly answers with that headword.
"""
import argparse
import json
import os
import subprocess
import sys
import tempfile
import unicodedata

DICT = "/usr/share/dictd"
WANTED = 40
FEWEST = 15  # Debian's small English-Russian dictionary has some 18 such words
SHARE = 0.95


def strip_marks(word):
    bare = "".join(c for c in unicodedata.normalize("NFD", word) if unicodedata.category(c) != "Mn")
    return unicodedata.normalize("NFC", bare)


def german(word):
    return strip_marks(word.replace("ß", "ss"))


def arabic(word):
    for hamza in "أإآ":
        word = word.replace(hamza, "ا")
    return "".join(c for c in word if not ("\u064b" <= c <= "\u0652"))


def russian(word):
    return word.replace("ё", "е").replace("Ё", "Е")


def headwords(index):
    with open(index, encoding="utf-8", errors="replace") as f:
        for line in f:
            fields = line.rstrip("\n").split("\t")
            if len(fields) >= 3 and not fields[0].startswith("00"):
                yield fields[3] if len(fields) > 3 and fields[3] else fields[0]


def definition_words(dict_dz, test):
    text = subprocess.run(["zcat", dict_dz], capture_output=True, check=True).stdout.decode("utf-8", "replace")
    word = []
    for c in text + " ":
        if c.isalpha():
            word.append(c)
            continue
        if word:
            w = "".join(word)
            if test(w):
                yield w
            word = []


def spread(words, typed, n=WANTED, others=()):
    """n words spread evenly over the sorted distinct words whose typed form
    is not itself one of the words or of `others`."""
    words = set(words)
    taken = words | set(others)
    words = sorted(w for w in words if typed(w) not in taken)
    if len(words) <= n:
        return words
    step = len(words) / n
    return [words[int(i * step)] for i in range(n)]


def zav(args, tool, stdin=None):
    return subprocess.run([tool] + args, input=stdin, capture_output=True, text=True)


def book_from_words(tool, folder, name, words):
    tsv = os.path.join(folder, name + ".tsv")
    with open(tsv, "w", encoding="utf-8") as f:
        for w in words:
            f.write(f"{w}\tthe word {w}\n")
    book = os.path.join(folder, name + ".zav")
    r = zav(["import", "tsv", tsv, book, "--quiet"], tool)
    if r.returncode != 0:
        sys.exit(f"{name}: import failed: {r.stderr}")
    return book


def book_from_dictd(tool, folder, name):
    book = os.path.join(folder, name + ".zav")
    r = zav(["import", "dictd", os.path.join(DICT, name + ".index"), book, "--quiet"], tool)
    if r.returncode != 0:
        sys.exit(f"{name}: import failed: {r.stderr}")
    return book


def body(key):
    return key.split("@")[0].strip() if "@" in key else key.strip()


def found_share(tool, book, words, typed):
    queries = [typed(w) for w in words]
    r = zav(["lookup", book, "-", "--json"], tool, "\n".join(queries) + "\n")
    answers = [json.loads(line) for line in r.stdout.splitlines() if line.strip()]
    if len(answers) != len(words):
        sys.exit(f"{book}: {len(answers)} answers for {len(words)} words: {r.stderr}")
    hits, missed = 0, []
    for word, answer in zip(words, answers):
        stored = {unicodedata.normalize("NFC", body(e["key"])) for e in answer["entries"]}
        if unicodedata.normalize("NFC", word) in stored:
            hits += 1
        else:
            missed.append(f"{answer['query']} (for {word})")
    return hits, missed


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--zav", required=True)
    tool = p.parse_args().zav
    failed = False
    with tempfile.TemporaryDirectory() as folder:
        cases = []
        for label, name, typed in [("German without umlauts or ß", "freedict-deu-ell", german),
                                   ("French without accents", "freedict-fra-eng", strip_marks),
                                   ("Arabic with a bare alef", "freedict-ara-eng", arabic)]:
            heads = [w.strip() for w in headwords(os.path.join(DICT, name + ".index"))]
            words = spread((w for w in heads if typed(w) != w), typed, others=heads)
            cases.append((label, book_from_dictd(tool, folder, name), words, typed))
        greek = spread(definition_words(os.path.join(DICT, "freedict-deu-ell.dict.dz"),
                                        lambda w: "\u0370" <= w[0] <= "\u03ff" and strip_marks(w) != w), strip_marks)
        cases.append(("Greek without its tonos", book_from_words(tool, folder, "greek", greek), greek, strip_marks))
        russian_words = spread(definition_words(os.path.join(DICT, "freedict-eng-rus.dict.dz"),
                                                lambda w: "ё" in w.lower()), russian)
        cases.append(("Russian with е for ё", book_from_words(tool, folder, "russian", russian_words),
                      russian_words, russian))
        for label, book, words, typed in cases:
            hits, missed = found_share(tool, book, words, typed)
            share = hits / len(words) if words else 0
            print(f"{label}: {hits} of {len(words)} found" + (f"; missed: {', '.join(missed)}" if missed else ""))
            if len(words) < FEWEST or share < SHARE:
                failed = True
    sys.exit(1 if failed else 0)


if __name__ == "__main__":
    main()
