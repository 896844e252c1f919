#!/usr/bin/env python3
"""What the costliest files of each reader cost, next to a random file of the same size:

    python3 bench/cost/run_cost.py [--build DIR] [--base DIR] [--mb N] [--repeat N]
                                   [--cases NAME,...] [--keep]

--build is a configured and built tree (default: build/ of the project; it needs kivscan,
bench_cost and the run directory); --base is a second built tree (for example an older
commit's) whose engine is run on the same files for a before/after table. Every case of
tests/fuzz/hostile_files.py is written at --mb MiB (default 32; a case may need more) under
DIR/bench/cost/files/, with one random file per size, and measured twice, each --repeat
times (default 3, the median counts):

    kivscan FILE      one host process per file, as a host scans one file: wall seconds and
                      peak resident memory of the process, start-up included (the files take
                      turns, round by round)
    bench_cost        all files in one engine process: seconds per MiB of the scan alone and
                      the peak memory it added

Targets, on the first: within 3x the random file's time and under 200 MB of peak memory; a
case that misses one is marked "!". The files are deleted afterwards unless --keep is given.
"""
import json
import os
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(ROOT, "tests", "fuzz"))
import hostile_files  # noqa: E402

MIB = 1 << 20
TIME_TARGET = 3.0
PEAK_TARGET_MB = 200


def run_in_process(build, files, repeat):
    """Answers {path: (seconds, peak bytes added, type id)} from bench_cost."""
    driver = os.path.join(build, "bench", "cost", "bench_cost")
    run_dir = os.path.join(build, "run")
    for need in (driver, os.path.join(run_dir, "kiv_engine.so")):
        if not os.path.exists(need):
            sys.exit("run_cost: %s is missing; build the tree first (cmake --build %s)" % (need, build))
    proc = subprocess.run([driver, "--repeat", str(repeat)] + files, cwd=run_dir, stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, universal_newlines=True)
    if proc.returncode == 2:
        sys.exit("run_cost: bench_cost failed:\n" + proc.stderr)
    results = {}
    for line in proc.stdout.splitlines():
        path, seconds, peak, answer = line.split("\t", 3)
        try:
            type_id = json.loads(answer).get("typeID", "?")
        except ValueError:
            type_id = answer
        results[path] = (float(seconds), int(peak), type_id)
    return results


def run_per_process(build, files, repeat):
    """Answers {path: (median wall seconds, peak resident bytes)} of one kivscan per file."""
    host = os.path.join(build, "tools", "kivscan", "kivscan")
    run_dir = os.path.join(build, "run")
    if not os.path.exists(host):
        sys.exit("run_cost: %s is missing; build the tree first" % host)
    # Round by round over all files, so that a machine that speeds up or slows down during the
    # run weighs on the random file and on each case alike (their ratio is the target).
    times, peak = {path: [] for path in files}, {path: 0 for path in files}
    for _ in range(repeat):
        for path in files:
            start = time.monotonic()
            child = subprocess.Popen([host, path], cwd=run_dir, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            _, _, usage = os.wait4(child.pid, 0)
            times[path].append(time.monotonic() - start)
            peak[path] = max(peak[path], usage.ru_maxrss * 1024)
    return {path: (statistics.median(times[path]), peak[path]) for path in files}


def main(argv):
    args = {"--build": os.path.join(ROOT, "build"), "--base": None, "--mb": "32", "--repeat": "3", "--cases": None}
    keep = False
    it = iter(argv)
    for a in it:
        if a == "--keep":
            keep = True
        elif a in args:
            args[a] = next(it)
        else:
            sys.stderr.write(__doc__)
            return 2
    build = os.path.abspath(args["--build"])
    base = os.path.abspath(args["--base"]) if args["--base"] else None
    size = int(float(args["--mb"]) * MIB)
    repeat = int(args["--repeat"])
    cases = hostile_files.CASES
    if args["--cases"]:
        wanted = args["--cases"].split(",")
        cases = [c for c in cases if c.name in wanted]

    work = os.path.join(build, "bench", "cost", "files")
    os.makedirs(work, exist_ok=True)
    written = []
    randoms = {}
    plan = []
    for case in cases:
        path = os.path.join(work, case.name)
        n = hostile_files.write_case(case, path, size)
        written.append(path)
        if n not in randoms:
            randoms[n] = os.path.join(work, "random-%d" % n)
            hostile_files.write_case(hostile_files.RANDOM, randoms[n], n)
            written.append(randoms[n])
        plan.append((case, path, n))
    files = list(randoms.values()) + [p for _, p, _ in plan]

    try:
        builds = [("after", build)] + ([("before", base)] if base else [])
        whole = {label: run_per_process(tree, files, repeat) for label, tree in builds}
        inner = {label: run_in_process(tree, files, repeat) for label, tree in builds}
    finally:
        if not keep:
            for p in written:
                os.remove(p)

    def cells(label, path, n):
        seconds, peak = whole[label][path]
        ref = whole[label][randoms[n]][0]
        ratio = seconds / ref if ref > 0 else float("inf")
        mark = "!" if ratio > TIME_TARGET or peak / 1e6 >= PEAK_TARGET_MB else " "
        scan_seconds, added, type_id = inner[label][path]
        return "%7.3f %6.1fx %7.1f %8.4f %7.1f %s" % (seconds, ratio, peak / 1e6, scan_seconds * MIB / n,
                                                     added / 1e6, mark), type_id

    part = "%7s %7s %7s %8s %7s  " % ("s", "x rand", "peak MB", "s/MiB", "+MB")
    print("%-18s %-10s %5s  %-42s%s  type id" % ("", "", "", "after: kivscan per file | in process",
                                                 "  before: kivscan per file | in process" if base else ""))
    print("%-18s %-10s %5s  %s%s" % ("case", "family", "MiB", part, "  " + part if base else ""))
    rows = [(hostile_files.RANDOM, path, n) for n, path in sorted(randoms.items())] + plan
    for case, path, n in rows:
        after, type_id = cells("after", path, n)
        line = "%-18s %-10s %5.0f  %s" % (case.name, case.family, n / MIB, after)
        if base:
            before, before_type = cells("before", path, n)
            line += "  " + before
            if before_type != type_id:
                type_id += " (before: %s)" % before_type
        print(line + "  " + type_id)
    print("targets (kivscan per file): within %.0fx the random file's time, under %d MB peak; ! marks a miss" %
          (TIME_TARGET, PEAK_TARGET_MB))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
