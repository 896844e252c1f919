"""Threads against processes: the same scans by one host of 1 thread, one host of N threads and
N hosts of 1 thread, with the page faults, CPU time and peak memory each took; a scan of a whole
directory tree for the peak memory of a long run; and a check that two builds answer alike.
Used by run_bench.py."""
import os
import statistics
import subprocess
import sys
import tempfile
import time

# kivscan takes its files on the command line; a longer list is scanned in fewer passes.
ARGV_BYTES_MAX = 1 << 20
# Targets on the benchmark machine (8 cores).
HOSTS_RATIO_MAX = 1.25  # N-thread host against N one-thread hosts: wall and CPU
SPEEDUP_MIN = 6.0  # N threads against 1 on the real files
FILE_RATIO_MIN = 0.8  # one thread against `file -b`, files per second
TREE_PEAK_MB_MAX = 200  # N threads over a whole tree


class Build:
    def __init__(self, name, tree):
        self.name = name
        self.run_dir = os.path.join(tree, "run")
        self.kivscan = os.path.join(tree, "tools", "kivscan", "kivscan")


def launch(build, argv_tail):
    return subprocess.Popen([build.kivscan] + argv_tail, cwd=build.run_dir, stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL)


def wait_all(procs, start):
    """Waits for every process; answers wall s, CPU s, minor faults (all summed), the largest
    peak resident MB and the sum of the peaks."""
    cpu = faults = 0
    peaks = []
    for p in procs:
        _, status, usage = os.wait4(p.pid, 0)
        if os.waitstatus_to_exitcode(status) not in (0, 1):
            raise RuntimeError("kivscan failed (status %d)" % os.waitstatus_to_exitcode(status))
        cpu += usage.ru_utime + usage.ru_stime
        faults += usage.ru_minflt
        peaks.append(usage.ru_maxrss / 1024.0)
    return time.perf_counter() - start, cpu, faults, max(peaks), sum(peaks)


def one_host(build, threads, files, options=()):
    start = time.perf_counter()
    return wait_all([launch(build, ["-j", str(threads)] + list(options) + ["--"] + files)], start)


def many_hosts(build, hosts, files):
    # Each host takes every hosts-th scan, so all of them get the same mix of files.
    start = time.perf_counter()
    return wait_all([launch(build, ["-j", "1", "--"] + files[i::hosts]) for i in range(hosts)], start)


def file_command(magic_db, listing):
    start = time.perf_counter()
    subprocess.run(["file", "-b", "-m", magic_db, "-f", listing], stdout=subprocess.DEVNULL, check=True)
    return time.perf_counter() - start


def passes_for(files, scans):
    per_pass = sum(len(p) + 1 for p in files)
    return max(1, min(max(1, scans // max(1, len(files))), ARGV_BYTES_MAX // per_pass))


def median_of(samples):
    return tuple(statistics.median(s[i] for s in samples) for i in range(len(samples[0])))


def load():
    return "load average %.1f %.1f %.1f" % os.getloadavg()


def libmagic_list(bench_libmagic, magic_db, listing, threads):
    start = time.perf_counter()
    p = subprocess.Popen([bench_libmagic, "--mime", "--threads", str(threads), magic_db, listing],
                         stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return wait_all([p], start)


def cpu_ceiling(threads, repeat):
    """How far N processes of pure arithmetic, which share nothing, outrun one on this machine
    now: the ceiling for any speed-up over threads (clock and neighbours vary it)."""
    spin = [sys.executable, "-c", "n = 0\nfor i in range(20000000): n += i"]

    def wall(n):
        start = time.perf_counter()
        for p in [subprocess.Popen(spin) for _ in range(n)]:
            p.wait()
        return time.perf_counter() - start

    return statistics.median(threads * wall(1) / wall(threads) for _ in range(repeat))


def hosts_table(builds, sets, threads, scans, repeat, magic_db, bench_libmagic):
    """For each set of files and each build: the three runs, median of `repeat` after one
    warm-up, the runs of the builds taking turns so that both see the same machine; beside
    them libmagic alone (two handles per thread, no engine) with 1 and N threads, which bounds
    what the engine's generic stage can gain from threads on this machine."""
    print("\nThreads against processes: the same scans by one host of 1 and of %d threads and by %d hosts "
          "of 1 thread\n(engine start-up included: each host pays its own; wall s, CPU s = user + system of all "
          "processes, minor page faults, peak resident MB of the largest process and of all together; "
          "median of %d runs)" % (threads, threads, repeat))
    print("pure arithmetic, %d processes against 1: %.2fx" % (threads, cpu_ceiling(threads, repeat)))
    with tempfile.TemporaryDirectory(prefix="kivbench.") as work:
        for index, (set_name, files) in enumerate(sets):
            if not files:
                continue
            speedup_target = SPEEDUP_MIN if index == 0 else None  # the first set holds the real files
            passes = passes_for(files, scans)
            scan_list = files * passes
            runs = {}
            for b in builds:
                runs[b.name] = {"1": [], "N": [], "hosts": []}
                one_host(b, threads, files)  # warm-up: page cache, first touches
            file_seconds = []
            alone = {"1": [], "N": []}
            listing = os.path.join(work, "scans.list")
            with open(listing, "w") as f:
                f.write("".join(p + "\n" for p in scan_list))
            for _ in range(repeat):
                for b in builds:
                    runs[b.name]["1"].append(one_host(b, 1, scan_list))
                    runs[b.name]["N"].append(one_host(b, threads, scan_list))
                    runs[b.name]["hosts"].append(many_hosts(b, threads, scan_list))
                file_seconds.append(file_command(magic_db, listing))
                alone["1"].append(libmagic_list(bench_libmagic, magic_db, listing, 1))
                alone["N"].append(libmagic_list(bench_libmagic, magic_db, listing, threads))
            file_rate = len(scan_list) / statistics.median(file_seconds)
            print("\n%s: %d files x %d passes = %d scans; file -b: %.0f files/s; %s at the end" %
                  (set_name, len(files), passes, len(scan_list), file_rate, load()))
            print("%-8s %-24s %8s %8s %10s %8s %8s %10s" %
                  ("build", "run", "wall s", "CPU s", "faults", "peak MB", "sum MB", "files/s"))
            for b in builds:
                r = {k: median_of(v) for k, v in runs[b.name].items()}
                for key, label in (("1", "1 host, 1 thread"), ("N", "1 host, %d threads" % threads),
                                   ("hosts", "%d hosts, 1 thread each" % threads)):
                    wall, cpu, faults, peak, peak_sum = r[key]
                    print("%-8s %-24s %8.2f %8.2f %10d %8.1f %8.1f %10.0f" %
                          (b.name, label, wall, cpu, faults, peak, peak_sum, len(scan_list) / wall))
                n, h, one = r["N"], r["hosts"], r["1"]
                ratios = (n[0] / h[0], n[1] / h[1], n[2] / max(1, h[2]))
                speedup = one[0] / n[0]
                vs_file = (len(scan_list) / one[0]) / file_rate
                print("%-8s %d-thread host / %d hosts: wall %.2f, CPU %.2f, faults %.2f (target wall and CPU <= %.2f)"
                      "%s" % (b.name, threads, threads, ratios[0], ratios[1], ratios[2], HOSTS_RATIO_MAX,
                              "" if max(ratios[:2]) <= HOSTS_RATIO_MAX else "  !"))
                target = "" if speedup_target is None else " (target >= %.1fx)%s" % (
                    speedup_target, "" if speedup >= speedup_target else "  !")
                print("%-8s %d threads / 1 thread: %.2fx%s; 1 thread / file -b: %.2fx (target >= %.1fx)%s" %
                      (b.name, threads, speedup, target, vs_file, FILE_RATIO_MIN,
                       "" if vs_file >= FILE_RATIO_MIN else "  !"))
            a1, an = median_of(alone["1"]), median_of(alone["N"])
            for label, r in (("1 thread, 2 handles", a1), ("%d threads, 2 handles" % threads, an)):
                print("%-8s %-24s %8.2f %8.2f %10d %8.1f %8s %10.0f" %
                      ("libmagic", label, r[0], r[1], r[2], r[3], "", len(scan_list) / r[0]))
            print("%-8s %d threads / 1 thread: %.2fx" % ("libmagic", threads, a1[0] / an[0]))


def libmagic_alone(bench_libmagic, magic_db, tree, threads):
    """libmagic without the engine over the same tree: N threads with two handles each."""
    with tempfile.NamedTemporaryFile(mode="w", suffix=".list") as listing:
        for d, _, names in os.walk(tree):
            listing.write("".join(os.path.join(d, n) + "\n" for n in names if os.path.isfile(os.path.join(d, n))))
        listing.flush()
        return libmagic_list(bench_libmagic, magic_db, listing.name, threads)


def tree_table(builds, tree, threads, bench_libmagic, magic_db):
    """One host over a whole directory tree (kivscan -r), 1 and N threads, once per build; and
    libmagic alone with the engine's two handles per thread, for what it takes by itself."""
    print("\nOne host over %s (kivscan -r; wall s, CPU s, minor faults, peak resident MB; %s at the start):" %
          (tree, load()))
    print("%-8s %-9s %8s %8s %10s %8s" % ("build", "threads", "wall s", "CPU s", "faults", "peak MB"))
    for n in (1, threads):
        for b in builds:
            wall, cpu, faults, peak, _ = one_host(b, n, [tree], ["-r"])
            mark = "  !" if n == threads and peak >= TREE_PEAK_MB_MAX else ""
            print("%-8s %-9d %8.1f %8.1f %10d %8.1f%s" % (b.name, n, wall, cpu, faults, peak, mark))
        wall, cpu, faults, peak, _ = libmagic_alone(bench_libmagic, magic_db, tree, n)
        print("%-8s %-9d %8.1f %8.1f %10d %8.1f" % ("libmagic", n, wall, cpu, faults, peak))
    print("(target: under %d MB with %d threads; libmagic: two handles per thread, no engine)" %
          (TREE_PEAK_MB_MAX, threads))


def answers(build, files, ext):
    p = subprocess.run([build.kivscan] + (["--ext"] if ext else []) + ["--"] + files, cwd=build.run_dir,
                       stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    return p.stdout, p.stderr


def differential(builds, files):
    """Every answer of scan and kivFileType, byte for byte, of the first build against the others."""
    print()
    first = builds[0]
    for ext in (False, True):
        ref = answers(first, files, ext)
        for b in builds[1:]:
            got = answers(b, files, ext)
            entry = "kivFileType" if ext else "scan"
            if got == ref:
                print("%s: %d answers of %s identical to %s's" % (b.name, len(files), entry, first.name))
            else:
                a, c = ref[0].splitlines(), got[0].splitlines()
                diff = sum(1 for x, y in zip(a, c) if x != y) + abs(len(a) - len(c))
                print("%s: %d of %d answers of %s differ from %s's  !" % (b.name, diff, len(files), entry, first.name))
