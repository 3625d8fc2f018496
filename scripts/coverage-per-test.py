#!/usr/bin/env python3
"""Which product lines each test executes, and which tests add none of their own.

Runs every test of the coverage build (scripts/coverage.sh makes it) alone, with
its own GCOV_PREFIX so that its counters (and those of the processes it starts)
land in a folder of their own, and reads them with gcov's JSON output. Prints
per test the lines of host/, crs/ and platform/ it executes and how many of them
no other test executes, fewest first; a test with none of its own is a place to
look when folding, not a verdict: it may assert exact values that others only
execute.

    scripts/coverage-per-test.py [-j JOBS] [-R REGEX] [--json FILE]

The soak is left out, as in scripts/coverage.sh.
"""

import argparse
import collections
import concurrent.futures
import glob
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), ".."))
BUILD = os.path.join(ROOT, "build", "coverage")
MEASURED = ("host/", "crs/", "platform/")


def list_tests(regex):
    args = ["ctest", "--test-dir", BUILD, "-N", "-LE", "soak"]
    if regex:
        args += ["-R", regex]
    out = subprocess.run(args, capture_output=True, text=True, check=True).stdout
    return re.findall(r"Test +#\d+: (\S+)", out)


def covered_lines(prefix):
    """Product lines with a count above zero in the counters under prefix."""
    lines = set()
    by_dir = collections.defaultdict(list)
    for gcda in glob.glob(os.path.join(prefix, "**", "*.gcda"), recursive=True):
        by_dir[os.path.dirname(gcda)].append(gcda)
    for folder, files in by_dir.items():
        objdir = folder[len(prefix):]
        kept = []
        for gcda in files:
            gcno = os.path.join(objdir, os.path.basename(gcda)[:-5] + ".gcno")
            if os.path.exists(gcno):
                os.symlink(gcno, gcda[:-5] + ".gcno")
                kept.append(gcda)
        if not kept:
            continue
        out = subprocess.run(["gcov", "--json-format", "--stdout", "-o", folder] + kept,
                             capture_output=True, text=True, cwd=folder).stdout
        for text in out.splitlines():
            if not text.startswith("{"):
                continue
            doc = json.loads(text)
            cwd = doc.get("current_working_directory", folder)
            for entry in doc.get("files", []):
                path = os.path.normpath(os.path.join(cwd, entry["file"]))
                rel = os.path.relpath(path, ROOT)
                if not rel.startswith(MEASURED):
                    continue
                lines.update(f"{rel}:{n['line_number']}" for n in entry["lines"] if n["count"] > 0)
    return lines


def run_one(name, scratch):
    prefix = tempfile.mkdtemp(dir=scratch)
    env = dict(os.environ, GCOV_PREFIX=prefix, GCOV_PREFIX_STRIP="0")
    result = subprocess.run(["ctest", "--test-dir", BUILD, "-R", f"^{re.escape(name)}$",
                             "--timeout", "300"], env=env, capture_output=True, text=True)
    try:
        return name, result.returncode == 0, covered_lines(prefix)
    finally:
        shutil.rmtree(prefix, ignore_errors=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("-j", type=int, default=os.cpu_count() or 1)
    parser.add_argument("-R", dest="regex", default="")
    parser.add_argument("--json", help="write {test: [file:line, ...]} to this file")
    args = parser.parse_args()
    if not os.path.isdir(BUILD):
        sys.exit("coverage-per-test: no build/coverage; run scripts/coverage.sh first")

    names = list_tests(args.regex)
    runs = {}
    failed = []
    with tempfile.TemporaryDirectory(prefix="serverapp-pertest-") as scratch, \
            concurrent.futures.ThreadPoolExecutor(args.j) as pool:
        for name, ok, lines in pool.map(lambda n: run_one(n, scratch), names):
            runs[name] = lines
            if not ok:
                failed.append(name)

    counts = collections.Counter()
    for lines in runs.values():
        counts.update(lines)
    rows = sorted((sum(1 for l in lines if counts[l] == 1), len(lines), name)
                  for name, lines in runs.items())
    print(f"{'own':>5} {'lines':>6}  test")
    for own, total, name in rows:
        print(f"{own:>5} {total:>6}  {name}")
    print(f"{len(runs)} tests, {len(counts)} lines executed, "
          f"{sum(1 for r in rows if r[0] == 0)} tests with no line of their own")
    if failed:
        print("failed (their lines may be short): " + ", ".join(failed))
    if args.json:
        with open(args.json, "w") as out:
            json.dump({k: sorted(v) for k, v in runs.items()}, out)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
