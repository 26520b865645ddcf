#!/usr/bin/env python3
"""Mutation testing of our own: how many small faults in the code does the test suite catch?

Each mutant changes one spot of one source file of pgm/gfpdb/, host/ or cli/:
  cmp     a comparison flipped or moved by one (== !=, < <=, > >=)
  not     a `!` dropped
  logic   && and || swapped
  const   an integer constant changed by one
  bool    a returned true/false flipped
  return  a return put before a statement of a function's body
  call    a call standing alone as a statement deleted

The mutants are a seeded random sample of every such spot. Each is built in a build folder of its
own (incrementally, one source file recompiled), and the product (libgfpdb.so, libgfpdb_host.so
or the gfpdb program) kept in the store. Then every test set runs against it: the GoogleTest
programs of a build folder, loading the mutant library through LD_LIBRARY_PATH, and the
command's end-to-end tests (for mutants of cli/, and of the libraries when the GoogleTest
programs all pass). A mutant is killed when a test fails or runs out of time. Mutants that do not
compile are left out of the score.

    tools/mutate.py --seed 1 --count 120 --list mut.tsv --set now:build
    tools/mutate.py --list mut.tsv --set before:build-old:old_cli.py --set after:build

The first writes the sample to mut.tsv (or reads it when it exists), so the same mutants can be
run again later; the store (default build-mut/store) keeps the built mutants, so a second run with
other test sets builds nothing.
"""
import argparse
import collections
import os
import random
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
MUTATED_DIRS = {"pgm/gfpdb": ("gfpdb", "libgfpdb.so"), "host": ("gfpdb_host", "libgfpdb_host.so"),
                "cli": ("gfpdb_cli", "cli/gfpdb")}
COPIED = ["CMakeLists.txt", "README.md", "cmake", "pgm", "h", "host", "cli", "data", "tests", "fuzz"]

STRING = re.compile(r'"(?:\\.|[^"\\])*"|\'(?:\\.|[^\'\\])\'')
CMP = {"==": ["!="], "!=": ["=="], "<": ["<=", ">="], "<=": ["<", ">"], ">": [">=", "<="],
       ">=": [">", "<"]}


def moved(literal, rng):
    """An integer literal changed by one; a C++ octal literal (07777) stays octal."""
    octal = len(literal) > 1 and literal[0] == "0" and literal[1] not in "xX"
    value = int(literal, 8 if octal else 0)
    value += 1 if value == 0 else rng.choice([1, -1])
    return "0" + format(value, "o") if octal else str(value)


OPERATORS = [
    ("cmp", re.compile(r"(?<= )(==|!=|<=|>=|<|>)(?= )"), lambda s, r: r.choice(CMP[s])),
    ("not", re.compile(r"(?<![!=<>\w)\]])!(?!=)"), lambda s, r: ""),
    ("logic", re.compile(r"(?<= )(&&|\|\|)(?= )"), lambda s, r: "||" if s == "&&" else "&&"),
    ("const", re.compile(r"(?<![\w.])(0x[0-9A-Fa-f]+|\d+)(?![\w.'])"), lambda s, r: moved(s, r)),
    ("bool", re.compile(r"(?<=return )(true|false)(?=;)"),
     lambda s, r: "false" if s == "true" else "true"),
]
CALL = re.compile(r"^(\s+)(?!return\b|delete\b|if\b|for\b|while\b|case\b|throw\b)"
                  r"[\w:.\->\[\]*()]+\(.*\);$")
HEADER = re.compile(r"^(?P<type>[^=(]*?)(?P<name>[\w:~]+)\(")


def masked(line):
    """The line with string literals and a trailing // comment blanked out."""
    out = STRING.sub(lambda m: " " * len(m.group(0)), line)
    cut = out.find("//")
    return out if cut < 0 else out[:cut] + " " * (len(out) - cut)


def function_return(lines, index):
    """The return statement that fits the function around lines[index], or None."""
    for i in range(index - 1, -1, -1):
        text = lines[i]
        if not text.strip() or text[0] in " \t#/}" or text.startswith("namespace"):
            if text.startswith("}"):
                return None
            continue
        m = HEADER.match(text)
        if not m or "&" in m.group("type") or text.rstrip().endswith(("= {", "=")):
            return None
        kind = m.group("type").split()
        return "return;" if not kind or kind[-1] == "void" else "return {};"
    return None


def candidates():
    """Every mutation spot: (file, line number, column, old text, new text, operator)."""
    found = []
    for top in sorted(MUTATED_DIRS):
        folder = os.path.join(ROOT, top)
        for name in sorted(os.listdir(folder)):
            if not name.endswith(".cpp"):
                continue
            rel = os.path.join(top, name)
            with open(os.path.join(ROOT, rel), encoding="utf-8") as f:
                lines = f.read().split("\n")
            in_block = False
            for index, line in enumerate(lines):
                stripped = line.strip()
                if in_block or stripped.startswith("/*"):
                    in_block = "*/" not in stripped
                    continue
                if not stripped or stripped.startswith(("#", "//", "static_assert")):
                    continue
                text = masked(line)
                for op, pattern, _ in OPERATORS:
                    for m in pattern.finditer(text):
                        found.append((rel, index + 1, m.start(), m.group(0), None, op))
                previous = next((p.rstrip() for p in reversed(lines[:index]) if p.strip()), "")
                if not previous.endswith(("{", ";", "}")):
                    continue
                # Every third spot of the two commonest kinds; asserts are left in place.
                if "GFPDB_ASSERT" in text or "GFPDB_FAIL" in text or index % 3:
                    continue
                if CALL.match(text) and " = " not in text and text.count("(") == text.count(")"):
                    found.append((rel, index + 1, 0, line, ";", "call"))
                indent = len(line) - len(line.lstrip())
                if indent == 4 and stripped.endswith(";") and not stripped.startswith("return"):
                    statement = function_return(lines, index)
                    if statement:
                        found.append((rel, index + 1, 0, line, " " * 4 + statement + stripped,
                                      "return"))
    return found


def sample(seed, count):
    rng = random.Random(seed)
    spots = candidates()
    # Kept in the order drawn, so that any first part of the list is a sample of its own.
    chosen = rng.sample(range(len(spots)), min(count, len(spots)))
    mutants = []
    for i in chosen:
        rel, line, col, old, new, op = spots[i]
        if new is None:
            change = next(o[2] for o in OPERATORS if o[0] == op)
            new = change(old, rng)
        mutants.append((rel, line, col, old, new, op))
    return mutants, len(spots)


def escape(text):
    return text.replace("\\", "\\\\").replace("\t", "\\t")


def unescape(text):
    return re.sub(r"\\(.)", lambda m: "\t" if m.group(1) == "t" else m.group(1), text)


def write_list(path, mutants):
    with open(path, "w", encoding="utf-8") as f:
        for m in mutants:
            f.write("\t".join([m[0], str(m[1]), str(m[2]), escape(m[3]), escape(m[4]), m[5]]) + "\n")


def read_list(path):
    mutants = []
    with open(path, encoding="utf-8") as f:
        for row in f:
            rel, line, col, old, new, op = row.rstrip("\n").split("\t")
            mutants.append((rel, int(line), int(col), unescape(old), unescape(new), op))
    return mutants


def apply(source, mutant):
    rel, line, col, old, new, _ = mutant
    lines = source.split("\n")
    text = lines[line - 1]
    if text[col:col + len(old)] != old:
        return None
    lines[line - 1] = text[:col] + new + text[col + len(old):]
    return "\n".join(lines)


def view(folder, build, name):
    """The libraries kept in the folder as the build folder of a test set shows its own, in a
    folder of that set: under every name programs load them by (libx.so.0, ...), else the loader
    takes the build folder's copies, and beside the note of the data folder that the host
    library reads next to itself (each set's tests expect their own)."""
    shown = os.path.join(folder, "view-" + name)
    os.makedirs(shown, exist_ok=True)
    for lib in os.listdir(folder):
        if lib.endswith(".so"):
            for other in [lib] + [o for o in os.listdir(build) if o.startswith(lib + ".")]:
                try:
                    os.symlink(os.path.join("..", lib), os.path.join(shown, other))
                except FileExistsError:  # made before, maybe by another run
                    pass
    note = os.path.join(build, "gfpdb-data-dir")
    if os.path.exists(note):
        shutil.copy(note, shown)
    return shown


def run(argv, timeout, **kwargs):
    """The exit status, or "timeout". A program that runs out of time goes with everything it
    started: a death test's child of a mutant may loop for ever after its parent is gone."""
    process = subprocess.Popen(argv, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                               start_new_session=True, **kwargs)
    try:
        return process.wait(timeout=timeout)
    except subprocess.TimeoutExpired:
        os.killpg(process.pid, signal.SIGKILL)
        process.wait()
        return "timeout"


class Builder:
    """A copy of the sources and a build folder in which one mutant at a time is built."""

    def __init__(self, work, store, origin):
        self.origin = os.path.abspath(origin)
        self.src = os.path.join(os.path.abspath(work), "src")
        # Inside the copy, as a build folder sits in a checkout: the compiler cache then finds
        # what a build of the checkout compiled with the same flags.
        self.build = os.path.join(self.src, "build")
        self.store = store
        os.makedirs(store, exist_ok=True)
        self.ready = False

    def prepare(self):
        if self.ready:
            return
        for name in COPIED if self.origin != os.path.abspath(self.src) else []:
            source, target = os.path.join(self.origin, name), os.path.join(self.src, name)
            if os.path.isdir(source):
                shutil.rmtree(target, ignore_errors=True)
                shutil.copytree(source, target)
            else:
                os.makedirs(self.src, exist_ok=True)
                shutil.copy2(source, target)
        launcher = ["-DCMAKE_CXX_COMPILER_LAUNCHER=ccache"] if shutil.which("ccache") else []
        generator = ["-G", "Ninja"] if shutil.which("ninja") else []
        # The tests of the copy are built too: the suite as it was when the copy was made.
        subprocess.run(["cmake", "-S", self.src, "-B", self.build, "-DCMAKE_BUILD_TYPE=None",
                        "-DCMAKE_CXX_FLAGS=-O1"] + generator + launcher,
                       check=True, stdout=subprocess.DEVNULL)
        subprocess.run(["cmake", "--build", self.build, "-j2"], check=True,
                       stdout=subprocess.DEVNULL)
        self.keep("pristine", [product for _, product in MUTATED_DIRS.values()])
        self.ready = True

    def keep(self, name, products):
        folder = os.path.join(self.store, name)
        os.makedirs(folder, exist_ok=True)
        for product in products:
            shutil.copy2(os.path.join(self.build, product), folder)
        open(os.path.join(folder, "done"), "w").close()
        return folder

    def mutant(self, index, mutant):
        """The store folder of a built mutant; None when it does not compile."""
        folder = os.path.join(self.store, str(index))
        if os.path.exists(os.path.join(folder, "done")):
            return folder
        if os.path.exists(os.path.join(folder, "unviable")):
            return None
        self.prepare()
        target, product = MUTATED_DIRS[os.path.dirname(mutant[0])]
        path = os.path.join(self.src, mutant[0])
        with open(path, encoding="utf-8") as f:
            original = f.read()
        changed = apply(original, mutant)
        if changed is None:
            sys.exit(f"mutant {index} does not fit {mutant[0]}:{mutant[1]} any more")
        try:
            with open(path, "w", encoding="utf-8") as f:
                f.write(changed)
            status = run(["cmake", "--build", self.build, "-j1", "--target", target], 600)
        finally:
            with open(path, "w", encoding="utf-8") as f:
                f.write(original)
        if status != 0:
            os.makedirs(folder, exist_ok=True)
            open(os.path.join(folder, "unviable"), "w").close()
            return None
        return self.keep(str(index), [product])


class TestSet:
    """The GoogleTest programs of a build folder and the command's end-to-end test script."""

    def __init__(self, description):
        name, build, *cli = description.split(":")
        self.name, self.build = name, os.path.abspath(build)
        self.cli = os.path.abspath(cli[0]) if cli else os.path.join(ROOT,
                                                                    "tests/cli/test_gfpdb_cli.py")
        tests = os.path.join(self.build, "tests")
        self.programs = sorted(os.path.join(tests, n) for n in os.listdir(tests)
                               if n.startswith("test_") and os.access(os.path.join(tests, n),
                                                                      os.X_OK))
        self.limits = {}

    def env(self, libs, home):
        return dict(os.environ, LD_LIBRARY_PATH=libs, GFPDB_USER_INI=os.path.join(home, "user.ini"),
                    HOME=home, GTEST_FAIL_FAST="1")

    def gtest(self, libs, home):
        for program in self.programs:
            status = run([program], self.limits.get(program, 120), env=self.env(libs, home),
                         cwd=home)
            if status != 0:
                # A time limit is reported as such: on a loaded machine it may be no kill at all.
                return os.path.basename(program) + (" (time limit)" if status == "timeout" else "")
        return None

    def cli_tests(self, program, libs, home):
        status = run([sys.executable, self.cli, "--gfpdb", program, "--data",
                      os.path.join(ROOT, "data"), "-f"], self.limits.get("cli", 900),
                     env=self.env(libs, home), cwd=home)
        return None if status == 0 else "cli" + (" (time limit)" if status == "timeout" else "")

    def calibrate(self, store):
        """Runs everything on the unchanged products; time limits are a few times those runs."""
        pristine = os.path.join(store, "pristine")
        libs = view(pristine, self.build, self.name)
        with tempfile.TemporaryDirectory() as home:
            for program in self.programs:
                start = time.time()
                if run([program], 600, env=self.env(libs, home), cwd=home) != 0:
                    sys.exit(f"{self.name}: {program} fails without any mutant")
                self.limits[program] = 10 + 4 * (time.time() - start)
            start = time.time()
            if self.cli_tests(os.path.join(pristine, "gfpdb"), libs, home):
                sys.exit(f"{self.name}: {self.cli} fails without any mutant")
            self.limits["cli"] = 20 + 3 * (time.time() - start)

    def verdict(self, folder, mutant, store):
        """What killed the mutant, or None when it survived."""
        pristine = os.path.join(store, "pristine")
        unchanged = view(pristine, self.build, self.name)
        libs = view(folder, self.build, self.name) + ":" + unchanged
        with tempfile.TemporaryDirectory() as home:
            if mutant[0].startswith("cli/"):
                return self.cli_tests(os.path.join(folder, "gfpdb"), unchanged, home)
            return self.gtest(libs, home) or self.cli_tests(os.path.join(pristine, "gfpdb"), libs,
                                                            home)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0],
                                     formatter_class=argparse.RawDescriptionHelpFormatter,
                                     epilog="\n".join(__doc__.splitlines()[2:]))
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--count", type=int, default=120, help="mutants in a new sample")
    parser.add_argument("--list", required=True, help="the mutant list, written when missing")
    parser.add_argument("--set", action="append", default=[], metavar="NAME:BUILD[:CLI_TESTS]",
                        help="a test set: a build folder with tests (and the end-to-end script)")
    parser.add_argument("--work", default=os.path.join(ROOT, "build-mut"),
                        help="the mutants' sources and build folder")
    parser.add_argument("--store", help="where built mutants are kept (default WORK/store)")
    parser.add_argument("--from", dest="origin", default=ROOT,
                        help="the source tree copied into WORK/src (default: this one)")
    parser.add_argument("--limit", type=int, help="only the first LIMIT mutants of the list")
    parser.add_argument("--skip", type=int, default=0, help="leave out the first SKIP of those")
    parser.add_argument("--results", help="a file for one line per mutant and test set")
    args = parser.parse_args()

    if os.path.exists(args.list):
        mutants = read_list(args.list)
    else:
        mutants, spots = sample(args.seed, args.count)
        write_list(args.list, mutants)
        print(f"{len(mutants)} mutants sampled from {spots} spots (seed {args.seed})", flush=True)
    mutants = mutants[:args.limit]
    store = os.path.abspath(args.store or os.path.join(args.work, "store"))
    builder = Builder(args.work, store, args.origin)
    if not os.path.exists(os.path.join(store, "pristine", "done")):
        builder.prepare()
    sets = [TestSet(text) for text in args.set]
    for test_set in sets:
        test_set.calibrate(store)

    killed = collections.Counter()
    viable = 0
    survivors = collections.defaultdict(lambda: collections.defaultdict(list))
    results = open(args.results, "w", encoding="utf-8") if args.results else None
    start = time.time()
    for index, mutant in enumerate(mutants):
        if index < args.skip:
            continue
        folder = builder.mutant(index, mutant)
        where = f"{mutant[0]}:{mutant[1]} {mutant[5]} {mutant[3].strip()!r} -> {mutant[4].strip()!r}"
        if folder is None:
            print(f"[{index}] unviable {where}", flush=True)
            continue
        viable += 1
        verdicts = [] if sets else ["built"]
        for test_set in sets:
            by = test_set.verdict(folder, mutant, store)
            verdicts.append(f"{test_set.name}={by or 'SURVIVED'}")
            if by:
                killed[test_set.name] += 1
            else:
                survivors[test_set.name][mutant[0]].append(where)
            if results:
                results.write(f"{index}\t{test_set.name}\t{by or 'survived'}\t{where}\n")
                results.flush()
        print(f"[{index}] {' '.join(verdicts)} {where} ({time.time() - start:.0f}s)", flush=True)

    print(f"\n{len(mutants)} mutants, {viable} compile")
    for test_set in sets:
        print(f"\n{test_set.name}: {killed[test_set.name]} of {viable} killed "
              f"({100.0 * killed[test_set.name] / max(viable, 1):.1f} %)")
        for rel in sorted(survivors[test_set.name]):
            print(f"  {rel}: {len(survivors[test_set.name][rel])} survived")
            for where in survivors[test_set.name][rel]:
                print(f"    {where}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
