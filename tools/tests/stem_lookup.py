#!/usr/bin/env python3
"""Inflected German words find their lemma's entry through Hunspell's stems.

Debian's FreeDict German-English dictionary is imported, and its language
comes from the book's own name ("German - English ..."). The forms are made
by Hunspell itself: unmunch expands the de_DE dictionary entries whose word
is a headword of the book, and `hunspell -s` gives each form's stems. Of the
forms that are not headwords (nor headwords without their accents, which the
accent fallback answers) and that Hunspell reduces to a headword, 100 spread
over the sorted list are looked up with `zav lookup --json`; at least 90 must
have an answer marked "stem" whose headword is one of those stems.
"""
import argparse
import json
import os
import subprocess
import sys
import tempfile
import unicodedata

INDEX = "/usr/share/dictd/freedict-deu-eng.index"
HUNSPELL = "/usr/share/hunspell/de_DE"
WANTED = 100
NEEDED = 90
EXPANDED = 600  # dictionary entries expanded into forms


def fold(word):
    return unicodedata.normalize("NFC", word).casefold()


def bare(word):
    word = fold(word).replace("ß", "ss")
    return "".join(c for c in unicodedata.normalize("NFD", word) if unicodedata.category(c) != "Mn")


def spread(items, n):
    items = sorted(items)
    if len(items) <= n:
        return items
    step = len(items) / n
    return [items[int(i * step)] for i in range(n)]


def run(args, stdin=None):
    r = subprocess.run(args, input=stdin, capture_output=True, text=True)
    if r.returncode not in (0, 1):
        sys.exit(f"{' '.join(args[:3])}: exit {r.returncode}: {r.stderr[-2000:]}")
    return r.stdout


def headwords():
    with open(INDEX, encoding="utf-8", errors="replace") as f:
        for line in f:
            fields = line.rstrip("\n").split("\t")
            if len(fields) >= 3 and not fields[0].startswith("00"):
                yield (fields[3] if len(fields) > 3 and fields[3] else fields[0]).strip()


def forms_of(entries, folder):
    """The forms unmunch makes of dictionary entries ("word/flags")."""
    dic = os.path.join(folder, "sample.dic")
    with open(dic, "w", encoding="utf-8") as f:
        f.write(f"{len(entries)}\n" + "".join(e + "\n" for e in entries))
    out = run(["unmunch", dic, HUNSPELL + ".aff"])
    return {w for w in out.split() if w.isalpha()}


def stems_of(words):
    """Hunspell's stems of each word: `hunspell -s` prints "WORD STEM" lines."""
    out = run(["hunspell", "-d", HUNSPELL, "-i", "utf-8", "-s"], "\n".join(words) + "\n")
    stems = {}
    for line in out.splitlines():
        parts = line.split()
        if len(parts) == 2:
            stems.setdefault(parts[0], set()).add(parts[1])
    return stems


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--zav", required=True)
    tool = p.parse_args().zav
    heads = set(headwords())
    folded = {fold(h) for h in heads}
    bares = {bare(h) for h in heads}
    with tempfile.TemporaryDirectory() as folder:
        book = os.path.join(folder, "deu-eng.zav")
        r = subprocess.run([tool, "import", "dictd", INDEX, book, "--quiet"], capture_output=True, text=True)
        if r.returncode != 0:
            sys.exit(f"import failed: {r.stderr}")
        info = json.loads(run([tool, "info", book, "--json"]))
        print(f"zav info: stems {info['tables'][0].get('stems')}: {info['tables'][0].get('stemsNote')}")

        with open(HUNSPELL + ".dic", encoding="utf-8") as f:
            entries = [line.strip() for line in f][1:]
        entries = [e for e in entries if e.split("/")[0].isalpha() and fold(e.split("/")[0]) in folded]
        forms = sorted(w for w in forms_of(spread(entries, EXPANDED), folder)
                       if fold(w) not in folded and bare(w) not in bares and len(w.encode()) <= 100)
        lemmas = {}
        for form, stems in stems_of(forms).items():
            known = {s for s in stems if fold(s) in folded and fold(s) != fold(form)}
            if known:
                lemmas[form] = known
        chosen = spread(lemmas, WANTED)
        if len(chosen) < WANTED:
            sys.exit(f"only {len(chosen)} forms that Hunspell reduces to a headword")

        out = run([tool, "lookup", book, "-", "--json"], "\n".join(chosen) + "\n")
        answers = [json.loads(line) for line in out.splitlines() if line.strip()]
        if len(answers) != len(chosen):
            sys.exit(f"{len(answers)} answers for {len(chosen)} words")
        hits, missed = 0, []
        for form, answer in zip(chosen, answers):
            found = {fold(e["key"].split("@")[0].strip()) for e in answer["entries"] if e["how"] == "stem"}
            if found & {fold(s) for s in lemmas[form]}:
                hits += 1
            else:
                missed.append(f"{form} ({'/'.join(sorted(lemmas[form]))})")
    print(f"stem look-ups: {hits} of {len(chosen)} forms found their lemma"
          + (f"; missed: {', '.join(missed)}" if missed else ""))
    sys.exit(0 if hits >= NEEDED else 1)


if __name__ == "__main__":
    main()
