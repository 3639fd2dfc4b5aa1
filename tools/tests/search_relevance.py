#!/usr/bin/env python3
"""Full-text search on Debian's FreeDict German-English dictionary (dict-freedict-deu-eng, installed by
scripts/deps.sh), imported and indexed with zav: "apple" lists Apfel among the first three hits, and for 100
English words taken from the entries' texts (a fixed choice), the first ten hits hold a headword whose entry has
that word for at least 90 of them; Ctrl-C while the index is written leaves no file. Prints the figures.

    search_relevance.py --zav PATH/zav [--index FILE]
"""

import argparse
import json
import os
import random
import re
import signal
import subprocess
import sys
import tempfile
import time

INDEX = "/usr/share/dictd/freedict-deu-eng.index"
STOP = set("""about above after again against also among because been before being below between both could does
doing down during each from further have having here into itself just more most myself once only other ought ourselves
over same should some such than that their theirs them themselves then there these they this those through under
until very were what when where which while whom with would your yours yourself""".split())


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--zav", required=True)
    parser.add_argument("--index", default=INDEX)
    args = parser.parse_args()
    if not os.path.exists(args.index):
        print(f"{args.index} is missing: install dict-freedict-deu-eng (scripts/deps.sh)")
        return 1
    with tempfile.TemporaryDirectory(prefix="zav-search-") as work:
        book = os.path.join(work, "freedict-deu-eng.zav")
        tsv = os.path.join(work, "entries.tsv")
        run = lambda *a: subprocess.run([args.zav, *a], check=True, capture_output=True, text=True)  # noqa: E731
        run("import", "dictd", args.index, book, "--quiet")
        # Ctrl-C while the index is written leaves neither an index nor a working file.
        scratch = os.path.join(work, "tmp")
        os.mkdir(scratch)
        child = subprocess.Popen([args.zav, "index", book, "--quiet"], env=dict(os.environ, TMPDIR=scratch),
                                 stderr=subprocess.DEVNULL)
        time.sleep(2)
        child.send_signal(signal.SIGINT)
        code = child.wait(timeout=60)
        left = [f for f in os.listdir(work) if f.endswith(".search")] + os.listdir(scratch)
        print(f"interrupted: exit {code}, files left: {left}")
        if code != 130 or left:
            return 1
        run("index", book, "--quiet")
        run("export", "tsv", book, tsv, "--quiet")
        entries = []
        with open(tsv, encoding="utf-8", errors="replace") as f:
            for line in f:
                head, _, text = line.rstrip("\n").partition("\t")
                if not head.startswith("00-database"):
                    entries.append((head.casefold(), text.replace("\\n", "\n").casefold()))

        def search(query):
            out = subprocess.run([args.zav, "search", book, query, "--json", "--count", "10"], capture_output=True,
                                 text=True)
            return [h["headword"].casefold() for h in json.loads(out.stdout)["hits"]] if out.stdout else []

        apple = search("apple")
        print("apple:", ", ".join(apple[:5]))
        ok = "apfel" in apple[:3]

        # English words of the translations (the lines after the headword's, examples left out).
        chooser = random.Random(20261210)
        words = []
        while len(words) < 100:
            _, text = entries[chooser.randrange(len(entries))]
            lines = [l for l in text.split("\n")[1:] if not l.strip().startswith('"')]
            found = [w for w in re.findall(r"[a-z]{4,}", " ".join(re.sub(r"[\[<{(].*?[\]>})]", " ", l) for l in lines))
                     if w not in STOP and w not in words]
            if found:
                words.append(chooser.choice(found))
        holders = {w: set() for w in words}
        pattern = re.compile(r"\b(" + "|".join(map(re.escape, words)) + r")\b")
        for head, text in entries:
            for w in set(pattern.findall(text)):
                holders[w].add(head)
        hits = 0
        for w in words:
            if holders[w] & set(search(w)):
                hits += 1
            else:
                print(f"  not in the first ten: {w}")
        print(f"full-text search: Apfel {'in' if ok else 'NOT in'} the first three for apple; "
              f"{hits} of {len(words)} words have an entry that holds them in the first ten hits")
        return 0 if ok and hits >= 90 else 1


if __name__ == "__main__":
    sys.exit(main())
