#!/usr/bin/env python3
"""Scans per second of the engine next to libmagic alone, over one directory of mixed files:

    python3 bench/kivscan/run_bench.py [--build DIR] [--base DIR] [--corpus DIR] [--repeat N]
                                       [--threads N] [--scans N] [--tree DIR] [--profile FILE]

--build is a configured and built tree (default: build/ of the project; it needs kivscan,
the run directory, bench_libmagic and bench_classes); --corpus defaults to DIR/bench/corpus
and is written by make_corpus.py when missing. Each measurement runs --repeat times (default
3) after one warm-up pass, and the median is printed.

The files are timed all together and then by the road the engine takes for them
(bench_classes): "cascade" (a detector decides without reading a package member), "package"
(an OpenDocument or Office Open XML step decides and reads members) and "generic" (libmagic
and the matcher answer). For each set:

    kivscan -j 1 and -j N (default 8)   the engine through the host, engine start-up excluded
    file -b                             one process over the same files, start-up included
    ms/file                             milliseconds per file at -j 1
    7za runs                            archiver processes the engine started (one -j 1 pass
                                        with a counting 7za in a copy of the run directory;
                                        the one check at start-up included)
    peak MB                             the host's peak resident memory at -j 1 and -j N

followed by libmagic in process over all files (one handle; and the engine's two handles:
--mime).

Then threads against processes (hosts.py), for the real files (corpus/real/, copied from
Debian packages by make_corpus.py) and for all files, each list repeated to about --scans
scans (default 16000): one host with 1 thread, one host with N threads and N hosts with 1
thread each (every N-th scan), with wall time, CPU time, minor page faults and peak memory,
the N-thread host's ratio to the N hosts, its speed-up over 1 thread and the 1-thread rate
against `file -b` on the same scans, each against its target; and libmagic alone with the
engine's two handles per thread (bench_libmagic --threads), 1 and N threads, for the speed-up
the machine allows the generic stage. --tree DIR adds one host
scanning DIR whole (kivscan -r) with 1 and N threads, for the peak memory of a long run, next
to libmagic alone over the same files with two handles per thread (bench_libmagic --threads).
--base DIR (a second built tree, for example main's) runs every one of these next to
--build, the two taking turns, and first checks that both give every answer of scan and
kivFileType over the corpus byte for byte alike. The command that gives the full table:

    python3 bench/kivscan/run_bench.py --base BASE/build --tree /usr

--profile also records the scans with perf into FILE.1 and FILE.N (engine start-up
skipped, the 7za children included), prints where the time went by process and library and,
for N threads, by function, with how many cores the N threads kept busy: what stops them
from scaling. `perf report -i FILE.N` shows the rest. Then, at 1 and N threads, what grows with
the threads: CPU, minor page faults, voluntary and involuntary context switches and the calls
that map, unmap, protect or advise memory (strace -c); the page faults and the heap growth
(mprotect of a thread's heap) by the code they serve, from call chains unwound with DWARF
(FILE.faults.N, FILE.mprotect.N); and every allocation of 64 KiB or more by calling site, with
its count, bytes and largest size (alloc_sites.c preloaded into kivscan at 1 thread).
"""
import os
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

import hosts

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
STATS = re.compile(r"files (\d+), seconds ([0-9.]+), files/s ([0-9.]+)")
CLASSES = ("cascade", "package", "generic")


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
    seconds = statistics.median(s[1] for s in samples)
    extra = [s[2] for s in samples if len(s) > 2]
    return files, seconds, files / seconds if seconds > 0 else 0.0, max(extra) if extra else None


def run_measured(argv, cwd):
    """Runs argv; answers (stderr text, wall seconds, peak resident MB, CPU seconds)."""
    start = time.perf_counter()
    with tempfile.TemporaryFile() as err:
        p = subprocess.Popen(argv, cwd=cwd, stdout=subprocess.DEVNULL, stderr=err)
        _, status, usage = os.wait4(p.pid, 0)
        wall = time.perf_counter() - start
        err.seek(0)
        text = err.read().decode(errors="replace")
    if os.waitstatus_to_exitcode(status) not in (0, 1):
        raise RuntimeError("%s failed:\n%s" % (argv[0], text[-2000:]))
    return text, wall, usage.ru_maxrss / 1024.0, usage.ru_utime + usage.ru_stime


def kivscan_args(kivscan, threads, files):
    return [kivscan, "--stats", "-j", str(threads), "--"] + files


def counting_run_dir(run_dir, work):
    """A copy of the run directory whose 7za logs every start to work/7za.count."""
    copy = os.path.join(work, "run")
    os.makedirs(copy)
    for name in os.listdir(run_dir):
        if name == "7za" or name.startswith("lib."):
            continue
        os.symlink(os.path.join(run_dir, name), os.path.join(copy, name))
    count = os.path.join(work, "7za.count")
    with open(os.path.join(copy, "7za"), "w") as f:
        f.write("#!/bin/sh\necho >> '%s'\nexec '%s' \"$@\"\n" % (count, os.path.join(run_dir, "7za")))
    os.chmod(os.path.join(copy, "7za"), 0o755)
    return copy, count


def archiver_runs(kivscan, copy, count, files):
    if os.path.exists(count):
        os.remove(count)
    run_measured(kivscan_args(kivscan, 1, files), copy)
    if not os.path.exists(count):
        return 0
    with open(count) as f:
        return sum(1 for _ in f)


def main(argv):
    args = {"--build": os.path.join(ROOT, "build"), "--corpus": None, "--repeat": "3", "--threads": "8",
            "--profile": None, "--base": None, "--scans": "16000", "--tree": None}
    it = iter(argv)
    for a in it:
        if a not in args:
            sys.stderr.write(__doc__)
            return 2
        args[a] = next(it)
    build = os.path.abspath(args["--build"])
    corpus = os.path.abspath(args["--corpus"] or os.path.join(build, "bench", "corpus"))
    repeat = int(args["--repeat"])
    threads = int(args["--threads"])
    run_dir = os.path.join(build, "run")
    kivscan = os.path.join(build, "tools", "kivscan", "kivscan")
    libmagic = os.path.join(build, "bench", "kivscan", "bench_libmagic")
    classify = os.path.join(build, "bench", "kivscan", "bench_classes")
    mgc = os.path.join(run_dir, "database", "magic", "magic.mgc")
    builds = [hosts.Build("build", build)]
    if args["--base"]:
        builds.insert(0, hosts.Build("base", os.path.abspath(args["--base"])))
    for need in [kivscan, libmagic, classify, mgc, os.path.join(run_dir, "7za")] + [b.kivscan for b in builds]:
        if not os.path.exists(need):
            sys.stderr.write("run_bench: %s is missing: build the tree first\n" % need)
            return 2
    if not os.path.isdir(corpus):
        subprocess.run([sys.executable, os.path.join(HERE, "make_corpus.py"), corpus], check=True)
    files = sorted(os.path.join(d, f) for d, _, names in os.walk(corpus) for f in names)
    work = tempfile.mkdtemp(prefix="kivbench.")
    try:
        listing = os.path.join(work, "all.list")
        with open(listing, "w") as f:
            f.write("".join(p + "\n" for p in files))
        sorted_out = subprocess.run([classify, listing], stdout=subprocess.PIPE, text=True, check=True).stdout
        sets = [("all", files, listing)]
        for cls in CLASSES:
            members = [l.split("\t", 1)[1] for l in sorted_out.splitlines() if l.startswith(cls + "\t")]
            path = os.path.join(work, cls + ".list")
            with open(path, "w") as f:
                f.write("".join(p + "\n" for p in members))
            sets.append((cls, members, path))
        copy, count = counting_run_dir(run_dir, work)

        def engine(n, subset):
            def run():
                text, _, peak, _ = run_measured(kivscan_args(kivscan, n, subset), run_dir)
                return rate_from_stats(text) + (peak,)
            return run

        def file_command(subset, path):
            return lambda: (len(subset), hosts.file_command(mgc, path))

        if len(builds) > 1:
            hosts.differential(builds, files)
        print("%d files in %s, median of %d runs" % (len(files), corpus, repeat))
        print("%-8s %6s %10s %9s %10s %10s %8s %8s %8s %8s %8s" %
              ("", "files", "-j 1 /s", "ms/file", "-j %d /s" % threads, "file -b /s", "j1/file",
               "j%d/file" % threads, "7za runs", "MB -j 1", "MB -j %d" % threads))
        for name, subset, path in sets:
            if not subset:
                print("%-8s %6d" % (name, 0))
                continue
            one = median_rate(engine(1, subset), repeat)
            many = median_rate(engine(threads, subset), repeat)
            ref = median_rate(file_command(subset, path), repeat)
            runs = archiver_runs(kivscan, copy, count, subset)
            print("%-8s %6d %10.1f %9.3f %10.1f %10.1f %8.2f %8.2f %8d %8.1f %8.1f" %
                  (name, len(subset), one[2], 1000.0 / one[2], many[2], ref[2], one[2] / ref[2], many[2] / ref[2],
                   runs, one[3], many[3]))

        print()
        for name, extra in (("libmagic in process", ()), ("libmagic in process, 2 handles", ("--mime",))):
            def run(extra=extra):
                p = subprocess.run([libmagic, *extra, mgc, listing], stderr=subprocess.PIPE, text=True)
                return rate_from_stats(p.stderr)
            n, seconds, rate, _ = median_rate(run, repeat)
            print("%-32s %10.3f s %12.1f files/s" % (name, seconds, rate))

        real_dir = os.path.join(corpus, "real") + os.sep
        sets = [("real files", [f for f in files if f.startswith(real_dir)]), ("all files", files)]
        hosts.hosts_table(builds, sets, threads, int(args["--scans"]), repeat, mgc, libmagic)
        if args["--tree"]:
            hosts.tree_table(builds, os.path.abspath(args["--tree"]), threads, libmagic, mgc)

        if args["--profile"]:
            profile(kivscan, run_dir, files, os.path.abspath(args["--profile"]), threads)
    finally:
        shutil.rmtree(work, ignore_errors=True)
    return 0


def perf_report(data, sort, limit):
    p = subprocess.run(["perf", "report", "-i", data, "--stdio", "--no-children", "-g", "none", "--sort", sort],
                       stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    lines = [l for l in p.stdout.splitlines() if l.strip() and not l.startswith("#")]
    return lines[:limit]


# Frames of these modules are the machinery, not the owner of a cost: the allocator, the copy
# routines and the kernel.
MACHINERY = ("[kernel.kallsyms]", "libc.so", "ld-linux", "libstdc++.so", "libgcc_s", "[unknown]", "[vdso]")


def owners(data, event_bytes):
    """Samples of a perf file recorded with call chains, by the first two frames outside the
    machinery (module:function, a module without symbols as module+offset); weighted by the
    event's len field when event_bytes, else counted."""
    p = subprocess.run(["perf", "script", "-i", data, "-F", "trace,ip,sym,symoff,dso"], stdout=subprocess.PIPE,
                       stderr=subprocess.DEVNULL, text=True)
    total = {}
    for block in p.stdout.split("\n\n"):
        lines = block.strip().splitlines()
        if not lines:
            continue
        weight = 1
        if event_bytes:
            m = re.search(r"len: (0x[0-9a-f]+)", lines[0])
            if not m:
                continue
            weight = int(m.group(1), 16)
        named = []
        for line in lines[1:]:
            m = re.match(r"\s*([0-9a-f]+) (.*) \((.*)\)$", line)
            if not m:
                continue
            module = os.path.basename(m.group(3))
            # An inlined frame belongs to the module of the frame after it.
            if module == "inlined" or any(k in module for k in MACHINERY):
                continue
            sym = m.group(2).split("+0x")[0]
            frame = "%s:%s" % (module, sym if sym != "[unknown]" else "+" + m.group(1))
            if not named or named[-1] != frame:
                named.append(frame)
            if len(named) == 2:
                break
        key = " < ".join(named) or "(machinery only)"
        total[key] = total.get(key, 0) + weight
    return sorted(total.items(), key=lambda kv: -kv[1])


def print_owners(title, data, event_bytes, limit=10):
    rows = owners(data, event_bytes)
    whole = sum(v for _, v in rows) or 1
    print(title + " (%s in all):" % ("%.1f MB" % (whole / 1048576.0) if event_bytes else "%d" % whole))
    for key, v in rows[:limit]:
        print("  %5.1f%%  %s" % (100.0 * v / whole, key[:150]))


def memory_calls(kivscan, run_dir, files, n):
    """Calls that map, unmap, protect or advise memory, as strace -c counts them."""
    with tempfile.NamedTemporaryFile(mode="r") as out:
        subprocess.run(["strace", "-f", "-c", "-o", out.name, "-e", "trace=mmap,munmap,mprotect,madvise,brk"] +
                       kivscan_args(kivscan, n, files), cwd=run_dir, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)
        counts = {}
        for line in out.read().splitlines():
            parts = line.split()
            if len(parts) >= 5 and parts[-1] in ("mmap", "munmap", "mprotect", "madvise", "brk"):
                counts[parts[-1]] = int(parts[3])
    return counts


def alloc_sites(kivscan, run_dir, files, shim, limit=12):
    """Allocations of 64 KiB and more at 1 thread, by calling site (alloc_sites.c)."""
    with tempfile.NamedTemporaryFile(mode="r") as out:
        env = dict(os.environ, LD_PRELOAD=shim, KIV_ALLOC_SITES=out.name)
        subprocess.run(kivscan_args(kivscan, 1, files), cwd=run_dir, env=env, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)
        rows = [l.split("\t") for l in out.read().splitlines()]
    calls = next((int(r[1]) for r in rows if r[0] == "all"), 0)
    sites = sorted((r for r in rows if r[0] != "all"), key=lambda r: -int(r[2]))
    print("allocations at -j 1: %d in all (%.0f a scan); those of 64 KiB or more by site, bytes in all:" %
          (calls, calls / max(1, len(files))))
    for kind, count, total, most, where in sites[:limit]:
        module, _, rest = where.partition("+")
        offset, _, sym = rest.partition(" ")
        path = os.path.join(run_dir, module)
        if not sym and os.path.exists(path):  # a function the module does not export: its symbol table names it
            sym = subprocess.run(["addr2line", "-f", "-C", "-e", path, offset], stdout=subprocess.PIPE,
                                 stderr=subprocess.DEVNULL, text=True).stdout.split("\n")[0]
        print("  %-7s %7d calls %9.1f MB  largest %7.2f MB  %s %s" %
              (kind, int(count), int(total) / 1048576.0, int(most) / 1048576.0, where.split(" ")[0], sym[:70]))


def profile(kivscan, run_dir, files, data, threads):
    """Where the time, the page faults, the heap growth and the large allocations come from at
    1 and N threads; the perf files stay for `perf report -i`."""
    # Three passes over the files, so that the scans outweigh the engine's start-up, which -D
    # skips (30 matcher copies, 60 magic handles).
    passes = files * 3
    for n in (1, threads):
        out = "%s.%d" % (data, n)
        start = time.perf_counter()
        subprocess.run(["perf", "record", "-q", "-F", "2000", "-g", "-D", "100", "-o", out, "--"] +
                       kivscan_args(kivscan, n, passes), cwd=run_dir, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, check=True)
        print("\n-j %d: %.2f s under perf (%s)" % (n, time.perf_counter() - start, out))
        for sort in ("comm", "comm,dso"):
            print("samples by %s:" % sort)
            print("\n".join(perf_report(out, sort, 10)))
    # What the N threads wait for or spend: cores kept busy, and the costliest functions.
    _, wall, _, cpu = run_measured(kivscan_args(kivscan, threads, passes), run_dir)
    print("\n-j %d kept %.1f of %d cores busy (%.1f CPU s in %.2f s)." % (threads, cpu / wall, threads, cpu, wall))
    print("The costliest functions at -j %d:" % threads)
    print("\n".join(perf_report("%s.%d" % (data, threads), "dso,sym", 15)))

    # Costs that grow with the threads: page faults, switches and memory calls, then who takes
    # the faults and grows the heaps (call chains unwound with DWARF, so libraries without
    # frame pointers are followed too).
    print("\n%-6s %8s %10s %10s %10s  %s" % ("", "CPU s", "faults", "vol. sw", "invol. sw", "memory calls"))
    for n in (1, threads):
        start = time.perf_counter()
        p = subprocess.Popen(kivscan_args(kivscan, n, passes), cwd=run_dir, stdout=subprocess.DEVNULL,
                             stderr=subprocess.DEVNULL)
        _, _, u = os.wait4(p.pid, 0)
        calls = memory_calls(kivscan, run_dir, passes, n)
        print("-j %-3d %8.2f %10d %10d %10d  %s" % (n, u.ru_utime + u.ru_stime, u.ru_minflt, u.ru_nvcsw, u.ru_nivcsw,
                                                  ", ".join("%s %d" % kv for kv in sorted(calls.items()))))
    # Start-up is kept here: the threads' first scans, where a heap grows, follow it closely.
    for n in (1, threads):
        faults, growth = "%s.faults.%d" % (data, n), "%s.mprotect.%d" % (data, n)
        for event, out in (("page-faults", faults), ("syscalls:sys_enter_mprotect", growth)):
            subprocess.run(["perf", "record", "-q", "-e", event] + (["-c", "1"] if event == "page-faults" else []) +
                           ["--call-graph", "dwarf,16384", "-o", out, "--"] + kivscan_args(kivscan, n, passes),
                           cwd=run_dir, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
        print_owners("\n-j %d, minor page faults by the code that touched the page" % n, faults, False)
        print_owners("-j %d, heap growth (mprotect) by the code that allocated" % n, growth, True)
    shim = os.path.join(os.path.dirname(os.path.dirname(kivscan)), "..", "bench", "kivscan",
                        "libbench_alloc_sites.so")
    print()
    alloc_sites(kivscan, run_dir, files, os.path.abspath(shim))


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
