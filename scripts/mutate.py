#!/usr/bin/env python3
"""Mutation check: does the test suite notice small faults in the sources?

For each source file named (or each .cpp/.h below a folder named) it lists every place where one of a
few single-line mutations applies, picks some of them at random (seeded, so a run can be repeated),
and for each one: writes the mutant, rebuilds incrementally, runs the tests, restores the file.
A mutant is killed when a test fails (or the tests time out), survives when all pass, and is
stillborn when it does not compile (those are not scored).

Mutations:
  relational   < <= > >= == !=   ->  the neighbouring boundary or the negated equality
  logical      && <-> ||
  arithmetic   + <-> -, * <-> /   (binary operators written with blanks around them)
  constant     an integer literal n -> n + 1; a decimal literal x -> x * 1.5
  boolean      true <-> false
  drop         a one-line call or assignment statement -> {}
  swap         the first two different numbers of a brace list, or two neighbouring rows of a table
"""

import argparse
import collections
import json
import os
import random
import re
import signal
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

Mutant = collections.namedtuple("Mutant", "path line kind before after span")
# span: how many lines starting at `line` the mutant replaces (1, or 2 for a row swap)


def mask_literals(text):
    """The line with string and character literal contents and // comments blanked, same length."""
    out = []
    i = 0
    n = len(text)
    while i < n:
        c = text[i]
        if c in "\"'":
            quote = c
            out.append(c)
            i += 1
            while i < n and text[i] != quote:
                if text[i] == "\\" and i + 1 < n:
                    out.append("__")
                    i += 2
                    continue
                out.append("_")
                i += 1
            if i < n:
                out.append(quote)
                i += 1
            continue
        if text.startswith("//", i):
            out.append(" " * (n - i))
            break
        out.append(c)
        i += 1
    return "".join(out)


REL = {"<": "<=", "<=": "<", ">": ">=", ">=": ">", "==": "!=", "!=": "=="}
REL_RE = re.compile(r"(?<=[\w)\]\s])\s(<=|>=|==|!=|<|>)\s(?=[\w(!\-+*&\"'.])")
LOGIC_RE = re.compile(r"\s(&&|\|\|)\s")
ARITH_RE = re.compile(r"(?<=[\w)\]])\s([+\-*/])\s(?=[\w(.])")
INT_RE = re.compile(r"(?<![\w.])(0[xX][0-9a-fA-F]+|\d+)([uUlL]*)(?![\w.])")
FLOAT_RE = re.compile(r"(?<![\w.])(\d+\.\d*(?:[eE][-+]?\d+)?|\d*\.\d+(?:[eE][-+]?\d+)?)([fF]?)(?![\w.])")
BOOL_RE = re.compile(r"\b(true|false)\b")
CALL_RE = re.compile(r"^\s*(?!return\b|if\b|while\b|for\b|switch\b|case\b|delete\b|throw\b|else\b|do\b|goto\b)"
                     r"[A-Za-z_][\w]*(?:(?:\.|->|::)[A-Za-z_]\w*|\[[^\]]*\])*\s*\(.*\)\s*;\s*$")
ASSIGN_RE = re.compile(r"^\s*(?!return\b|const\b|auto\b|static\b|constexpr\b)"
                       r"\*?[A-Za-z_]\w*(?:(?:\.|->|::)[A-Za-z_]\w*|\[[^\]]*\])*\s*"
                       r"(=|\+=|-=|\|=|&=|\^=|<<=|>>=)\s*[^=].*;\s*$")
ROW_RE = re.compile(r"^\s*\{.*\}\s*,?\s*$")
BRACE_NUMS_RE = re.compile(r"\{([^{}]*)\}")
PURE_RE = re.compile(r"\)\s*(const\s*)?(override\s*)?=\s*0\s*;")
TEMPLATE_ARGS_RE = re.compile(r"(?<=\w)<[^<>;]*>")


def balanced(s):
    return s.count("(") == s.count(")") and s.count("[") == s.count("]")


def candidates(path):
    with open(path, encoding="utf-8") as f:
        lines = f.read().split("\n")
    out = []
    in_block = False
    prev_row = None  # (index, masked) of the previous line if it was a table row
    for idx, raw in enumerate(lines):
        line = raw
        if in_block:
            if "*/" in line:
                in_block = False
            prev_row = None
            continue
        stripped = line.strip()
        if stripped.startswith("/*") and "*/" not in stripped:
            in_block = True
            prev_row = None
            continue
        if not stripped or stripped.startswith("//") or stripped.startswith("#") or stripped.startswith("*"):
            prev_row = None
            continue
        if ("static_assert" in line or "Q_OBJECT" in line or "__attribute__" in line
                or stripped.startswith("extern ") or PURE_RE.search(line)):
            prev_row = None
            continue
        m = mask_literals(line)

        def add(kind, start, end, repl):
            mutated = line[:start] + repl + line[end:]
            if mutated != line:
                out.append(Mutant(path, idx, kind, line, mutated, 1))

        for mo in REL_RE.finditer(m):
            op = mo.group(1)
            # Template argument lists and stream operators look alike; skip lines with both < and >
            # when the operator is a bare angle bracket and the line has no comparison context.
            if op in ("<", ">") and ("template" in m or "#include" in m):
                continue
            add("relational", mo.start(1), mo.end(1), REL[op])
        for mo in LOGIC_RE.finditer(m):
            add("logical", mo.start(1), mo.end(1), "||" if mo.group(1) == "&&" else "&&")
        for mo in ARITH_RE.finditer(m):
            op = mo.group(1)
            add("arithmetic", mo.start(1), mo.end(1), {"+": "-", "-": "+", "*": "/", "/": "*"}[op])
        for mo in FLOAT_RE.finditer(m):
            try:
                v = float(mo.group(1))
            except ValueError:
                continue
            nv = v * 1.5 if v != 0 else 1.0
            add("constant", mo.start(1), mo.end(1), repr(nv))
        floats = [(mo.start(), mo.end()) for mo in FLOAT_RE.finditer(m)]
        # Sizes in template arguments change a type, not a value: such mutants rarely compile.
        floats += [(mo.start(), mo.end()) for mo in TEMPLATE_ARGS_RE.finditer(m)]
        for mo in INT_RE.finditer(m):
            if any(a <= mo.start() < b for a, b in floats):
                continue
            text = mo.group(1)
            v = int(text, 16) if text.lower().startswith("0x") else int(text)
            repl = hex(v + 1) if text.lower().startswith("0x") else str(v + 1)
            add("constant", mo.start(1), mo.end(1), repl)
        for mo in BOOL_RE.finditer(m):
            add("boolean", mo.start(1), mo.end(1), "false" if mo.group(1) == "true" else "true")
        if balanced(m) and (CALL_RE.match(m) or ASSIGN_RE.match(m)):
            indent = line[: len(line) - len(line.lstrip())]
            out.append(Mutant(path, idx, "drop", line, indent + "{}", 1))
        for mo in BRACE_NUMS_RE.finditer(m):
            inner = mo.group(1)
            nums = [(x.start(1) + mo.start(1), x.end(1) + mo.start(1)) for x in INT_RE.finditer(inner)]
            nums += [(x.start(1) + mo.start(1), x.end(1) + mo.start(1)) for x in FLOAT_RE.finditer(inner)]
            nums.sort()
            # drop integer matches that sit inside a float literal
            clean = []
            for a, b in nums:
                if clean and a < clean[-1][1]:
                    continue
                clean.append((a, b))
            for i in range(len(clean) - 1):
                (a1, b1), (a2, b2) = clean[i], clean[i + 1]
                if line[a1:b1] != line[a2:b2]:
                    swapped = line[:a1] + line[a2:b2] + line[b1:a2] + line[a1:b1] + line[b2:]
                    out.append(Mutant(path, idx, "swap", line, swapped, 1))
                    break
        if ROW_RE.match(m):
            if prev_row is not None and lines[prev_row] != line:
                out.append(Mutant(path, prev_row, "swap", lines[prev_row] + "\n" + line,
                                  line + "\n" + lines[prev_row], 2))
            prev_row = idx
        else:
            prev_row = None
    return out


def source_files(paths):
    files = []
    for p in paths:
        full = os.path.join(ROOT, p) if not os.path.isabs(p) else p
        if os.path.isdir(full):
            for name in sorted(os.listdir(full)):
                if name.endswith((".cpp", ".h")):
                    files.append(os.path.join(full, name))
        elif os.path.isfile(full):
            files.append(full)
        else:
            sys.exit(f"mutate: no such file or folder: {p}")
    return files


RUNNING = []  # the child process group now running, killed with us


def run(cmd, timeout):
    """Runs `cmd` in a process group of its own; on timeout the whole group goes (test binaries and
    the simulators they started, not only ctest). Returns (exit code or None on timeout, output)."""
    p = subprocess.Popen(cmd, cwd=ROOT, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                         start_new_session=True)
    RUNNING.append(p)
    try:
        out, _ = p.communicate(timeout=timeout)
        return p.returncode, out.decode(errors="replace")
    except subprocess.TimeoutExpired:
        kill_group(p)
        out, _ = p.communicate()
        return None, out.decode(errors="replace")
    finally:
        RUNNING.remove(p)


def kill_group(p):
    try:
        os.killpg(p.pid, signal.SIGKILL)
    except ProcessLookupError:
        pass


def apply(mutant, original_lines):
    lines = list(original_lines)
    lines[mutant.line: mutant.line + mutant.span] = mutant.after.split("\n")
    return "\n".join(lines)


def touch(path):
    now = time.time()
    os.utime(path, (now, now))


def summarise(results, report, rel, killers=None):
    """Prints the score per folder and the survivors; writes the JSON report when asked."""
    print("\nScore per folder (killed / scored; stillborn mutants do not count):")
    folders = collections.OrderedDict()
    for m, status in results:
        folders.setdefault(os.path.dirname(rel(m.path)), collections.Counter())[status] += 1
    for folder, c in folders.items():
        scored = c["killed"] + c["survived"]
        pct = 100.0 * c["killed"] / scored if scored else 0.0
        print(f"  {folder:12} {c['killed']:3} / {scored:3}  ({pct:5.1f}%)   stillborn {c['stillborn']}")
    survivors = [m for m, s in results if s == "survived"]
    if survivors:
        print("\nSurviving mutants:")
        for m in survivors:
            print(f"  {rel(m.path)}:{m.line + 1} {m.kind}: {m.before.strip()}  ->  {m.after.strip()}")
    if report:
        with open(report, "w", encoding="utf-8") as f:
            json.dump([{"file": rel(m.path), "line": m.line + 1, "kind": m.kind, "before": m.before,
                        "after": m.after, "status": s, "killed_by": (killers or {}).get(m, "")}
                       for m, s in results], f, ensure_ascii=False, indent=1)
    sys.stdout.flush()


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("paths", nargs="*", help="source files or folders (their .cpp and .h files)")
    ap.add_argument("--build", default="build", help="an existing, configured build folder (default build)")
    ap.add_argument("--per-file", type=int, default=4, help="mutants picked per file (default 4)")
    ap.add_argument("--seed", type=int, default=1, help="seed of the random pick (default 1)")
    ap.add_argument("--tests", default="", help="ctest -R regex of the tests to run (default all)")
    ap.add_argument("--exclude", default="", help="ctest -E regex of tests to leave out")
    ap.add_argument("--slow", default="",
                    help="ctest -R regex of slow tests, run only after all the others passed (a mutant "
                         "most tests notice is then told in seconds)")
    ap.add_argument("--timeout", type=int, default=600, help="seconds for the tests of one mutant")
    ap.add_argument("--jobs", type=int, default=2, help="build and test parallelism (default 2)")
    ap.add_argument("--list", action="store_true", help="only list the picked mutants")
    ap.add_argument("--report", default="", help="also write the results as JSON to this file")
    ap.add_argument("--rerun", default="",
                    help="instead of picking, test again the surviving mutants of an earlier --report "
                         "(after new tests); a mutant whose line has changed since is reported as gone")
    args = ap.parse_args()
    if not args.paths and not args.rerun:
        ap.error("name source files or folders, or --rerun a report")

    rng = random.Random(args.seed)
    picked = []
    gone = []
    if args.rerun:
        with open(args.rerun, encoding="utf-8") as f:
            earlier = [r for r in json.load(f) if r["status"] == "survived"]
        for r in earlier:
            path = os.path.join(ROOT, r["file"])
            span = r["before"].count("\n") + 1
            m = Mutant(path, r["line"] - 1, r["kind"], r["before"], r["after"], span)
            lines = open(path, encoding="utf-8").read().split("\n") if os.path.exists(path) else []
            if "\n".join(lines[m.line: m.line + span]) == m.before:
                picked.append(m)
            else:
                gone.append(m)
    for f in source_files(args.paths):
        cands = candidates(f)
        rng.shuffle(cands)
        # Prefer variety: one of each kind first, then whatever is left.
        by_kind = collections.OrderedDict()
        for c in cands:
            by_kind.setdefault(c.kind, []).append(c)
        chosen = []
        while len(chosen) < args.per_file and any(by_kind.values()):
            for k in list(by_kind):
                if by_kind[k] and len(chosen) < args.per_file:
                    chosen.append(by_kind[k].pop())
        picked += sorted(chosen, key=lambda c: c.line)

    rel = lambda p: os.path.relpath(p, ROOT)
    for m in gone:
        print(f"gone      {rel(m.path)}:{m.line + 1} {m.kind}: {m.before.strip()}  (the line has changed)")
    if args.list:
        for m in picked:
            print(f"{rel(m.path)}:{m.line + 1} {m.kind}: {m.before.strip()}  ->  {m.after.strip()}")
        print(f"{len(picked)} mutants")
        return 0

    build = os.path.join(ROOT, args.build) if not os.path.isabs(args.build) else args.build
    if not os.path.exists(os.path.join(build, "CMakeCache.txt")):
        sys.exit(f"mutate: {build} is not a configured build folder (run ./scripts/build.sh first)")
    build_cmd = ["cmake", "--build", build, "-j", str(args.jobs)]
    base = ["ctest", "--test-dir", build, "-j", str(args.jobs), "--stop-on-failure", "--timeout", "300"]
    chosen = ["-R", args.tests] if args.tests else []
    left_out = ["-E", args.exclude] if args.exclude else []
    stages = [base + chosen + left_out]
    if args.slow:
        # ctest has no "and not": the quick stage leaves out the slow and the excluded in one regex.
        skip = args.slow + ("|" + args.exclude if args.exclude else "")
        stages = [base + chosen + ["-E", skip], base + ["-R", args.slow] + left_out]

    def run_tests():
        out = ""
        for cmd in stages:
            rc, out = run(cmd, args.timeout)
            if rc != 0:
                return rc, out
        return 0, out

    rc, out = run(build_cmd, 3600)
    if rc != 0:
        sys.exit("mutate: the unmutated tree does not build:\n" + out[-3000:])
    rc, out = run_tests()
    if rc != 0:
        sys.exit("mutate: the tests fail before any mutation:\n" + out[-3000:])

    results = []
    killers = {}
    current = {"path": None, "text": None}

    def restore():
        if current["path"]:
            with open(current["path"], "w", encoding="utf-8") as f:
                f.write(current["text"])
            touch(current["path"])
            current["path"] = None

    def on_signal(signum, _frame):
        # Stopped early: the mutants tested so far still count, and the tree is left as it was.
        for p in list(RUNNING):
            kill_group(p)
        restore()
        summarise(results, args.report, rel, killers)
        sys.exit(128 + signum)

    signal.signal(signal.SIGINT, on_signal)
    signal.signal(signal.SIGTERM, on_signal)

    try:
        for i, m in enumerate(picked, 1):
            with open(m.path, encoding="utf-8") as f:
                text = f.read()
            current.update(path=m.path, text=text)
            with open(m.path, "w", encoding="utf-8") as f:
                f.write(apply(m, text.split("\n")))
            touch(m.path)
            t0 = time.time()
            rc, _ = run(build_cmd, 1800)
            if rc != 0:
                status = "stillborn"
            else:
                rc, out = run_tests()
                status = "survived" if rc == 0 else "killed"
                if rc != 0:
                    # Which test noticed: worth knowing before a test is cut or merged.
                    failed = re.findall(r"Test +#\d+: (\S+) \.*\**(?:Failed|Timeout|Exception|Not Run)", out)
                    killers[m] = failed[0] if failed else ("(timeout)" if rc is None else "?")
            restore()
            results.append((m, status))
            by = f" by {killers[m]}" if m in killers else ""
            print(f"[{i}/{len(picked)}] {status:9} {rel(m.path)}:{m.line + 1} {m.kind}: "
                  f"{m.before.strip()}  ->  {m.after.strip()}  ({time.time() - t0:.0f} s){by}", flush=True)
    finally:
        restore()
        run(build_cmd, 3600)

    summarise(results, args.report, rel, killers)
    return 0


if __name__ == "__main__":
    sys.exit(main())
