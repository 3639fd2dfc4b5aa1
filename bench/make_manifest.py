#!/usr/bin/env python3
"""Write the manifest of a dictionary book with N words, for timing `zav build`.

    make_manifest.py N OUT.json

Each word has a definition of about 80 bytes; every third word has a sub
content. The words are unique and come in no particular order. The figures
in the README come from

    /usr/bin/time -v zav build OUT.json out.zav --quiet

(elapsed time and maximum resident set size).
"""
import json
import sys


def word_for(i):
    # Four letters spread over the alphabet, then the number: unique per i.
    v = (i * 2654435761) & 0xFFFFFFFF
    letters = ""
    for _ in range(4):
        letters += chr(ord("a") + v % 26)
        v //= 26
    return letters + str(i)


def main():
    if len(sys.argv) != 3:
        sys.exit("usage: make_manifest.py N OUT.json")
    count = int(sys.argv[1])
    with open(sys.argv[2], "w", encoding="utf-8") as out:
        out.write('{\n  "kind": 1,\n  "name": "Generated dictionary",\n  "tables": [\n    {\n')
        out.write('      "name": "Words",\n      "locale": 1,\n      "dictId": "0x00020001",\n')
        out.write('      "subs": [{"id": 1, "name": "Examples"}],\n      "words": [\n')
        for i in range(count):
            w = word_for(i)
            entry = {"word": w, "text": w + " (noun)\nA generated entry number %d, long enough to look like a definition." % i}
            if i % 3 == 0:
                entry["subs"] = {"1": "An example that uses " + w + "."}
            out.write("        " + json.dumps(entry) + (",\n" if i + 1 < count else "\n"))
        out.write("      ]\n    }\n  ]\n}\n")


if __name__ == "__main__":
    main()
