#!/usr/bin/env python3
"""Scans per second of the engine next to libmagic alone, over one directory of mixed files:

    python3 bench/kivscan/run_bench.py [--build DIR] [--corpus DIR] [--repeat N] [--threads N]
                                       [--profile FILE]

--build is a configured and built tree (default: build/ of the project; it needs kivscan,
the run directory and bench_libmagic); --corpus defaults to DIR/bench/corpus and is written by
make_corpus.py when missing. Each measurement runs --repeat times (default 3) after one
warm-up pass, and the median is printed:

    kivscan -j 1 and -j N (default 8)   the engine through the host, engine start-up excluded
    file -b                             one process over the whole list, start-up included
    libmagic in process                 one handle (and the engine's two handles: --mime)

The ratios are each rate over the engine's single-thread rate. --profile also records the
single-thread scan with perf into FILE (engine start-up skipped, the 7za children included)
and prints where the time went by process and library; `perf report -i FILE` shows the rest.
"""
import os
import re
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
STATS = re.compile(r"files (\d+), seconds ([0-9.]+), files/s ([0-9.]+)")


def rate_from_stats(stderr):
    found = STATS.findall(stderr)
    if not found:
        raise RuntimeError("no statistics line in:\n" + stderr[-2000:])
    files, seconds, _ = found[-1]
    return int(files), float(seconds)


def median_rate(run, repeat):
    run()  # warm-up: page cache, first-touch costs
    samples = [run() for _ in range(repeat)]
    files = samples[0][0]
    seconds = statistics.median(s for _, s in samples)
    return files, seconds, files / seconds if seconds > 0 else 0.0


def main(argv):
    args = {"--build": os.path.join(ROOT, "build"), "--corpus": None, "--repeat": "3", "--threads": "8",
            "--profile": None}
    it = iter(argv)
    for a in it:
        if a not in args:
            sys.stderr.write(__doc__)
            return 2
        args[a] = next(it)
    build = os.path.abspath(args["--build"])
    corpus = os.path.abspath(args["--corpus"] or os.path.join(build, "bench", "corpus"))
    repeat = int(args["--repeat"])
    threads = args["--threads"]
    run_dir = os.path.join(build, "run")
    kivscan = os.path.join(build, "tools", "kivscan", "kivscan")
    libmagic = os.path.join(build, "bench", "kivscan", "bench_libmagic")
    mgc = os.path.join(run_dir, "database", "magic", "magic.mgc")
    for need in (kivscan, libmagic, mgc):
        if not os.path.exists(need):
            sys.stderr.write("run_bench: %s is missing: build the tree first\n" % need)
            return 2
    if not os.path.isdir(corpus):
        subprocess.run([sys.executable, os.path.join(HERE, "make_corpus.py"), corpus], check=True)
    files = sorted(os.path.join(d, f) for d, _, names in os.walk(corpus) for f in names)
    listing = os.path.join(build, "bench", "corpus.list")
    with open(listing, "w") as f:
        f.write("".join(p + "\n" for p in files))

    def engine(n):
        def run():
            p = subprocess.run([kivscan, "--stats", "-j", str(n), "-r", corpus], cwd=run_dir,
                               stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
            return rate_from_stats(p.stderr)
        return run

    def file_command():
        start = time.perf_counter()
        subprocess.run(["file", "-b", "-m", mgc, "-f", listing], stdout=subprocess.DEVNULL, check=True)
        return len(files), time.perf_counter() - start

    def in_process(*extra):
        def run():
            p = subprocess.run([libmagic, *extra, mgc, listing], stderr=subprocess.PIPE, text=True)
            return rate_from_stats(p.stderr)
        return run

    rows = [("kivscan -j 1", engine(1)), ("kivscan -j %s" % threads, engine(threads)),
            ("file -b", file_command), ("libmagic in process", in_process()),
            ("libmagic in process, 2 handles", in_process("--mime"))]
    results = []
    for name, run in rows:
        results.append((name,) + median_rate(run, repeat))
    base = results[0][3]
    print("%d files in %s, median of %d runs" % (len(files), corpus, repeat))
    print("%-32s %10s %12s %14s" % ("", "seconds", "files/s", "vs kivscan -j 1"))
    for name, n, seconds, rate in results:
        print("%-32s %10.3f %12.1f %14.2f" % (name, seconds, rate, rate / base if base else 0.0))
    if args["--profile"]:
        profile(kivscan, run_dir, corpus, os.path.abspath(args["--profile"]))
    return 0


def profile(kivscan, run_dir, corpus, data):
    # -D skips the engine's start-up (30 matcher copies, 60 magic databases) so that the
    # profile shows scanning only.
    subprocess.run(["perf", "record", "-q", "-F", "4000", "-g", "-D", "300", "-o", data, "--", kivscan, "-j", "1",
                    "-r", corpus], cwd=run_dir, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
    for sort in ("comm", "comm,dso"):
        p = subprocess.run(["perf", "report", "-i", data, "--stdio", "--no-children", "-g", "none", "--sort", sort],
                           stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        lines = [l for l in p.stdout.splitlines() if l.strip() and not l.startswith("#")]
        print("\nsamples by %s:" % sort)
        print("\n".join(lines[:12]))


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
