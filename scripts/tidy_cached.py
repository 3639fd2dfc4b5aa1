#!/usr/bin/env python3
"""clang-tidy over a list of sources, each result kept in a cache by content.

    tidy_cached.py BUILD_DIR CACHE_DIR JOBS FILE...

A file's result (its warnings and clang-tidy's exit status) is stored under a
key made of clang-tidy's version, .clang-tidy, the file's compile command
(with the clone's and the build folder's paths taken out) and the content of
the file and of every header it includes, as the build's dependency
information lists them (Ninja's). A file whose key is in the cache is not
checked again; the others are, JOBS at a time. Without dependency
information every file is checked. Prints the warnings, sorted, and a line
with the counts; exits with the highest status of any file.
"""
import concurrent.futures
import hashlib
import json
import os
import re
import shlex
import subprocess
import sys

EXTRA_ARGS = ["-extra-arg=-Wno-unknown-warning-option"]


def file_digest(path, memo):
    if path not in memo:
        try:
            with open(path, "rb") as f:
                memo[path] = hashlib.sha256(f.read()).hexdigest()
        except OSError:
            memo[path] = "missing"
    return memo[path]


def ninja_deps(build):
    """{object path relative to BUILD: [dependency paths]} of the valid records."""
    try:
        out = subprocess.run(["ninja", "-C", build, "-t", "deps"], capture_output=True, text=True,
                             check=True).stdout
    except (OSError, subprocess.CalledProcessError):
        return {}
    deps, current = {}, None
    for line in out.splitlines():
        if not line.strip():
            current = None
        elif not line.startswith(" "):
            target, _, state = line.partition(":")
            current = target if "(VALID)" in state else None
            if current:
                deps[current] = []
        elif current:
            deps[current].append(line.strip())
    return deps


def main():
    build, cache, jobs, files = sys.argv[1], sys.argv[2], int(sys.argv[3]), sys.argv[4:]
    build = os.path.realpath(build)
    root = os.path.realpath(os.path.join(os.path.dirname(__file__), ".."))
    with open(os.path.join(build, "compile_commands.json")) as f:
        commands = {os.path.realpath(os.path.join(e["directory"], e["file"])): e for e in json.load(f)}
    deps = ninja_deps(build)
    version = subprocess.run(["clang-tidy", "--version"], capture_output=True, text=True).stdout
    memo = {}
    config = file_digest(os.path.join(root, ".clang-tidy"), memo)

    def relative(text):
        return text.replace(build, "<build>").replace(root, "<root>")

    def key_of(path):
        entry = commands.get(os.path.realpath(path))
        if entry is None:
            return None
        args = shlex.split(entry["command"]) if "command" in entry else entry["arguments"]
        if "-o" not in args:
            return None
        obj = os.path.relpath(os.path.join(entry["directory"], args[args.index("-o") + 1]), build)
        if obj not in deps:
            return None
        h = hashlib.sha256()
        for part in [version, config, " ".join(EXTRA_ARGS), relative(entry["directory"]),
                     relative(" ".join(args))]:
            h.update(part.encode() + b"\0")
        for dep in sorted(set(deps[obj] + [path])):
            dep = os.path.realpath(os.path.join(build, dep))
            h.update(relative(dep).encode() + b"\0" + file_digest(dep, memo).encode() + b"\0")
        return h.hexdigest()

    def cached(key):
        try:
            with open(os.path.join(cache, key[:2], key)) as f:
                status, _, output = f.read().partition("\n")
                return int(status), output
        except (OSError, ValueError):
            return None

    def store(key, status, output):
        folder = os.path.join(cache, key[:2])
        os.makedirs(folder, exist_ok=True)
        temp = os.path.join(folder, f".{key}.{os.getpid()}")
        with open(temp, "w") as f:
            f.write(f"{status}\n{output}")
        os.replace(temp, os.path.join(folder, key))

    def check(path):
        r = subprocess.run(["clang-tidy", "-p", build, "--quiet", *EXTRA_ARGS, path],
                           capture_output=True, text=True)
        return r.returncode, r.stdout + r.stderr

    results, todo = {}, []
    for path in files:
        key = key_of(path)
        hit = cached(key) if key else None
        if hit:
            results[path] = hit
        else:
            todo.append((path, key))
    with concurrent.futures.ThreadPoolExecutor(max_workers=max(1, jobs)) as pool:
        for (path, key), result in zip(todo, pool.map(lambda t: check(t[0]), todo)):
            results[path] = result
            if key:
                store(key, *result)

    lines = set()
    for status, output in results.values():
        lines.update(line for line in output.splitlines() if re.search(r"warning:|error:", line))
    for line in sorted(lines)[:50]:
        print(line)
    worst = max((status for status, _ in results.values()), default=0)
    print(f"tidy: {len(files)} files, {len(todo)} checked, {len(files) - len(todo)} from the cache, exit {worst}")
    return 1 if worst else 0


if __name__ == "__main__":
    sys.exit(main())
