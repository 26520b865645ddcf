#!/usr/bin/env python3
"""Counts the lines of test code against the lines of the other code.

A counted line is a non-blank line that is not only a comment: C++ `//` lines and lines inside
`/* ... */` blocks, `#` lines of Python, shell and CMake (but not C++ preprocessor lines), and the
lines of Python docstrings do not count.

Test code: the source files of tests/ and fuzz/ (.cpp .h .py .sh and CMakeLists.txt), without
the data they feed on (tests/data/, tests/fuzz_regressions/, fuzz/corpus/, fuzzer dictionaries).
Other code: the same kinds of files, plus the web page sources (.html .js .css), under pgm/, h/,
host/, cli/, tools/ and bench/, and the top-level CMakeLists.txt.

    tools/count_lines.py [--files]    (--files: one line per file as well)
"""
import argparse
import os
import re
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
TEST_DIRS = ["tests", "fuzz"]
CODE_DIRS = ["pgm", "h", "host", "cli", "tools", "bench"]
SKIP_DIRS = {"tests/data", "tests/fuzz_regressions", "fuzz/corpus"}
CPP = (".cpp", ".h", ".hpp", ".cc", ".js", ".css")
HASH = (".py", ".sh", ".cmake")
WEB = (".html",)


def kind(name):
    if name == "CMakeLists.txt" or name.endswith(HASH):
        return "hash"
    if name.endswith(CPP):
        return "cpp"
    if name.endswith(WEB):
        return "html"
    return None


def count_cpp(lines):
    n, in_block = 0, False
    for line in lines:
        s = line.strip()
        if in_block:
            if "*/" not in s:
                continue
            s = s.split("*/", 1)[1].strip()
            in_block = False
        while s.startswith("/*"):
            if "*/" not in s:
                in_block, s = True, ""
                break
            s = s.split("*/", 1)[1].strip()
        if s and not s.startswith("//"):
            n += 1
    return n


def count_hash(lines, python):
    n, quote = 0, None
    for line in lines:
        s = line.strip()
        if quote:
            if quote in s:
                quote = None
            continue
        if python:
            m = re.match(r'^[rbu]?("""|\'\'\')', s)
            if m:  # a string standing alone: a docstring
                rest = s[m.end():]
                if m.group(1) not in rest:
                    quote = m.group(1)
                continue
        if s and not s.startswith("#"):
            n += 1
    return n


def count_html(lines):
    text = re.sub(r"<!--.*?-->", "", "".join(lines), flags=re.S)
    return sum(1 for line in text.splitlines() if line.strip())


def count_file(path):
    with open(path, encoding="utf-8", errors="replace") as f:
        lines = f.readlines()
    k = kind(os.path.basename(path))
    if k == "cpp":
        return count_cpp(lines)
    if k == "html":
        return count_html(lines)
    return count_hash(lines, path.endswith(".py"))


def walk(dirs):
    for top in dirs:
        for base, subdirs, files in os.walk(os.path.join(ROOT, top)):
            rel = os.path.relpath(base, ROOT)
            subdirs[:] = sorted(d for d in subdirs if os.path.join(rel, d) not in SKIP_DIRS
                                and not d.startswith(("build", ".")))
            for name in sorted(files):
                if kind(name):
                    yield os.path.join(rel, name)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--files", action="store_true", help="list every file's count")
    args = parser.parse_args()
    totals = {}
    for label, dirs in (("tests", TEST_DIRS), ("code", CODE_DIRS)):
        files = list(walk(dirs)) + (["CMakeLists.txt"] if label == "code" else [])
        totals[label] = 0
        for rel in files:
            n = count_file(os.path.join(ROOT, rel))
            totals[label] += n
            if args.files:
                print(f"{n:6} {label:5} {rel}")
    tests, code = totals["tests"], totals["code"]
    print(f"test lines {tests}, code lines {code}, tests/code {100.0 * tests / code:.1f} %")
    return 0


if __name__ == "__main__":
    sys.exit(main())
