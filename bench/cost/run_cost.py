#!/usr/bin/env python3
"""What the costliest files of each reader cost, next to a random file of the same size:

    python3 bench/cost/run_cost.py [--build DIR] [--base DIR] [--mb N] [--repeat N]
                                   [--cases NAME,...] [--keep]

--build is a configured and built tree (default: build/ of the project; it needs bench_cost
and the run directory); --base is a second built tree (for example an older commit's) whose
engine is run on the same files for a before/after table. Every case of
tests/fuzz/hostile_files.py is written at --mb MiB (default 32; a few cases need more) under
DIR/bench/cost/, with one random file per size, and scanned --repeat times (default 3) in one
engine process (bench_cost, start-up excluded); the median counts. Per case it prints seconds
per MiB, the ratio to the random file of its size, the peak memory the scan added and the
type id. Targets: within 3x the random file's time and under 200 MB of peak memory; a case
that misses one is marked. The files are deleted afterwards unless --keep is given.
"""
import json
import os
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(ROOT, "tests", "fuzz"))
import hostile_files  # noqa: E402

MIB = 1 << 20
TIME_TARGET = 3.0
PEAK_TARGET_MB = 200


def run_engine(build, files, repeat):
    """Answers {path: (seconds, peak bytes, type id)} for one engine build."""
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
        measured = {label: run_engine(tree, files, repeat) for label, tree in builds}
    finally:
        if not keep:
            for p in written:
                os.remove(p)

    def cells(label, path, n):
        seconds, peak, type_id = measured[label][path]
        ref = measured[label][randoms[n]][0]
        ratio = seconds / ref if ref > 0 else float("inf")
        peak_mb = peak / 1e6
        mark = "" if ratio <= TIME_TARGET and 0 <= peak_mb < PEAK_TARGET_MB else " !"
        return "%8.4f %6.1fx %8.1f%s" % (seconds * MIB / n, ratio, peak_mb, mark), type_id

    header = "%-18s %-10s %6s  %-28s" % ("case", "family", "MiB", "after: s/MiB  x random  peak MB")
    if base:
        header += "  %-28s" % "before: s/MiB  x random  peak MB"
    print(header + "  type id")
    for n, path in sorted(randoms.items()):
        seconds, peak, type_id = measured["after"][path]
        line = "%-18s %-10s %6.0f  %8.4f %7s %8.1f   " % ("random", "reference", n / MIB, seconds * MIB / n, "1.0x",
                                                          peak / 1e6)
        if base:
            b = measured["before"][path]
            line += "  %8.4f %7s %8.1f   " % (b[0] * MIB / n, "1.0x", b[1] / 1e6)
        print(line + "  " + type_id)
    for case, path, n in plan:
        after, type_id = cells("after", path, n)
        line = "%-18s %-10s %6.0f  %-28s" % (case.name, case.family, n / MIB, after)
        if base:
            before, before_type = cells("before", path, n)
            line += "  %-28s" % before
            if before_type != type_id:
                type_id += " (before: %s)" % before_type
        print(line + "  " + type_id)
    print("targets: within %.0fx the random file's time, under %d MB peak; ! marks a miss" %
          (TIME_TARGET, PEAK_TARGET_MB))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
