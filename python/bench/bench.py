"""The Python package's benchmark: what the binding costs on top of the C++
API, the frames of a large marker, and threads converting at once.

Run with the interpreter of an environment where lumerca_marker is
installed, from the project's build tree (build/):

    VENV/bin/python python/bench/bench.py all --build build

    read [--cxx PROGRAM] [--runs N] FILE...
        lumerca_marker.read on the path and on the bytes of each FILE
        against ReadMarker of the C++ API (PROGRAM: lumerca-bench-read)
    pandas [--runs N] FILE
        Marker.to_pandas on FILE, and the frames' rows
    threads [--runs N] [--tool PROGRAM] FILE...
        lumerca_marker.convert of every FILE, by one thread and by two (and
        PROGRAM, lumerca-import, with -j 1 and -j 2: what the machine allows)
    archive [--runs N] [--tool PROGRAM] FOLDER
        lumerca_marker.convert_archive of FOLDER with one worker against two:
        local threads (jobs=1, 2) and a dask.distributed LocalCluster of one
        and of two worker processes (one thread each; its start is not
        timed), and PROGRAM (lumerca-import -o OUT) with -j 1 and -j 2
    all --build BUILD [--keep DIR]
        all four on markers that BUILD/bin/lumerca-bench generates: the
        examples and the largest valid marker (read), one of a million cut
        lines (pandas), 8 markers of 3 MB (threads), 300 markers of 50 to
        160 kB in 10 folders (archive)

Times are the fastest of N runs (each of as many calls as take about
0.2 s), wall-clock seconds; the machine's load shows in them.
"""

import argparse
import concurrent.futures
import os
import shutil
import subprocess
import sys
import tempfile
import time
from pathlib import Path

import lumerca_marker as lm

HERE = Path(__file__).resolve().parent
SOURCE_DIR = HERE.parents[1]


def seconds_per_call(call, runs):
    """(wall, processor) seconds per call, each the fastest of runs."""
    start, cpu = time.perf_counter(), time.thread_time()
    call()
    wall, cpu = time.perf_counter() - start, time.thread_time() - cpu
    calls = max(1, int(0.2 / max(wall, 1e-9)))
    best = [wall, cpu]
    for _ in range(runs):
        start, cpu = time.perf_counter(), time.thread_time()
        for _ in range(calls):
            call()
        best[0] = min(best[0], (time.perf_counter() - start) / calls)
        best[1] = min(best[1], (time.thread_time() - cpu) / calls)
    return tuple(best)


def cxx_times(program, files, runs, *options):
    out = subprocess.run([program, "--runs", str(runs), *options, *map(str, files)],
                         check=True, capture_output=True, text=True).stdout
    times = {}
    for line in out.splitlines():
        name, wall, cpu, _, _, status = line.split("\t")
        times[name] = (float(wall), float(cpu))
    return times


def human(seconds):
    if seconds < 1e-3:
        return "%7.1f us" % (seconds * 1e6)
    if seconds < 1:
        return "%7.2f ms" % (seconds * 1e3)
    return "%7.3f s " % seconds


def bench_read(files, program, runs):
    print("== read: lumerca_marker.read against ReadMarker of the C++ API, fastest of %d rounds" % runs)
    print("   (each round times both sides, so that both meet the same load); wall-clock time, and")
    print("   the thread's processor time (cpu), which load disturbs less")
    print("%-20s %7s %-5s| %10s %10s %5s %10s %10s %5s" % (
        "file", "MB", "from", "C++ wall", "Python", "ratio", "C++ cpu", "Python", "ratio"))
    data = {f: Path(f).read_bytes() for f in files}
    best = {}

    def keep(key, times):
        old = best.get(key, (float("inf"), float("inf")))
        best[key] = (min(old[0], times[0]), min(old[1], times[1]))

    for _ in range(runs):
        for source, options in (("path", ()), ("bytes", ("--bytes",))):
            for f, times in cxx_times(program, files, 1, *options).items():
                keep(("C++", source, f), times)
        for f in files:
            keep(("Python", "path", str(f)), seconds_per_call(lambda: lm.read(f), 1))
            keep(("Python", "bytes", str(f)), seconds_per_call(lambda: lm.read(data[f]), 1))
    for f in files:
        for source in ("path", "bytes"):
            c, py = best[("C++", source, str(f))], best[("Python", source, str(f))]
            print("%-20s %7.2f %-5s| %s %s %5.2f %s %s %5.2f" % (
                Path(f).name[:20], len(data[f]) / 1e6, source, human(c[0]), human(py[0]),
                py[0] / c[0], human(c[1]), human(py[1]), py[1] / c[1]))


def bench_pandas(path, runs):
    marker = lm.read(path)
    frames = marker.to_pandas()
    print("== to_pandas on %s: %d sizes, %d pieces, %d cut lines" % (
        Path(path).name, len(frames.sizes), len(frames.pieces), len(frames.cut_lines)))
    del frames

    def fresh():
        # A marker read anew each time, so that nothing of an earlier call is
        # reused; the read itself is timed apart and taken off.
        return lm.read(path)

    read = seconds_per_call(fresh, runs)
    both = seconds_per_call(lambda: fresh().to_pandas(), runs)
    for i, kind in enumerate(("wall", "cpu")):
        print("   %-4s read %s, read + to_pandas %s: to_pandas %s" % (
            kind, human(read[i]), human(both[i]), human(both[i] - read[i])))


def bench_threads(files, runs, tool=None):
    print("== threads: %d files (%.1f MB) by one thread and by two, fastest of %d runs;"
          % (len(files), sum(Path(f).stat().st_size for f in files) / 1e6, runs))
    print("   cpu/wall: the process's processor time over the wall-clock time (above 1: in parallel)")
    out = Path(tempfile.mkdtemp(prefix="lumerca-threads-"))
    try:
        folders = []
        for i in range(len(files)):
            folder = out / str(i)
            folder.mkdir()
            folders.append(folder)
        data = [Path(f).read_bytes() for f in files]
        ways = {
            "convert (into files)": lambda pool: list(pool.map(lm.convert, files, folders)),
            "read + files() (in memory)": lambda pool: list(pool.map(
                lambda d: lm.read(d).files(), data)),
        }
        for way, work in ways.items():
            times = {}
            for threads in (1, 2):
                best = None
                for _ in range(runs):
                    start, cpu = time.perf_counter(), time.process_time()
                    with concurrent.futures.ThreadPoolExecutor(threads) as pool:
                        work(pool)
                    wall, cpu = time.perf_counter() - start, time.process_time() - cpu
                    if best is None or wall < best[0]:
                        best = (wall, cpu)
                times[threads] = best
            print("   %-27s 1 thread %s (cpu/wall %.2f), 2 threads %s (cpu/wall %.2f): %.2fx"
                  % (way, human(times[1][0]), times[1][1] / times[1][0], human(times[2][0]),
                     times[2][1] / times[2][0], times[1][0] / times[2][0]))
        if tool:
            # The same files by the tool's own threads: what the machine allows.
            times = {}
            for jobs in (1, 2):
                best = None
                for _ in range(runs):
                    target = out / ("tool-%d" % jobs)
                    shutil.rmtree(target, ignore_errors=True)
                    start = time.perf_counter()
                    subprocess.run([tool, "-q", "-j", str(jobs), "-o", str(target), *map(str, files)],
                                   check=True, capture_output=True)
                    wall = time.perf_counter() - start
                    best = wall if best is None else min(best, wall)
                times[jobs] = best
            print("   %-27s -j 1     %s,                 -j 2      %s:                 %.2fx"
                  % ("lumerca-import (C++)", human(times[1]), human(times[2]), times[1] / times[2]))
        print("   cores: %d, load %.1f" % (os.cpu_count(), os.getloadavg()[0]))
    finally:
        shutil.rmtree(out)


def bench_archive(folder, runs, tool=None):
    files = [Path(d) / f for d, _, names in os.walk(folder) for f in names]
    print("== archive: convert_archive of %d files (%.1f MB) with one worker and with two, fastest of %d"
          % (len(files), sum(f.stat().st_size for f in files) / 1e6, runs))
    print("   runs, each into a new output folder")
    out = Path(tempfile.mkdtemp(prefix="lumerca-archive-"))
    count = [0]

    def best_of(convert):
        best = None
        for _ in range(runs):
            count[0] += 1
            target = out / str(count[0])
            start = time.perf_counter()
            convert(target)
            wall = time.perf_counter() - start
            best = wall if best is None else min(best, wall)
            shutil.rmtree(target)
        return best

    def line(way, one, two):
        print("   %-30s 1: %s  2: %s  %.2fx (%.0f and %.0f files/s)"
              % (way, human(one), human(two), one / two, len(files) / one, len(files) / two))

    try:
        times = [best_of(lambda target, j=jobs: lm.convert_archive(folder, target, jobs=j))
                 for jobs in (1, 2)]
        line("threads (jobs=1, 2)", *times)
        try:
            import dask
            import distributed
        except ImportError:
            print("   (no dask.distributed: Debian's python3-distributed is not installed)")
        else:
            times = []
            scratch = out / "dask"
            with dask.config.set({"temporary-directory": str(scratch)}):
                for workers in (1, 2):
                    with distributed.LocalCluster(n_workers=workers, threads_per_worker=1, processes=True,
                                                  dashboard_address=None,
                                                  local_directory=str(scratch)) as cluster, \
                            distributed.Client(cluster) as client:
                        times.append(best_of(lambda target: lm.convert_archive(folder, target,
                                                                               client=client)))
            line("LocalCluster (1, 2 workers)", *times)
        if tool:
            times = [best_of(lambda target, j=jobs: subprocess.run(
                [tool, "-q", "-j", str(j), "-o", str(target), str(folder)], capture_output=True))
                for jobs in (1, 2)]
            line("lumerca-import (-j 1, -j 2)", *times)
        print("   cores: %d, load %.1f" % (os.cpu_count(), os.getloadavg()[0]))
    finally:
        shutil.rmtree(out)


def generate(bench, path, *arguments):
    subprocess.run([bench, "--generate", str(path), *arguments], check=True,
                   stdout=subprocess.DEVNULL)
    return path


def bench_all(build, keep, runs):
    bench = str(Path(build) / "bin" / "lumerca-bench")
    program = str(Path(build) / "bin" / "lumerca-bench-read")
    work = Path(keep) if keep else Path(tempfile.mkdtemp(prefix="lumerca-bench-py-"))
    work.mkdir(parents=True, exist_ok=True)
    try:
        examples = sorted((SOURCE_DIR / "examples").glob("*.mrk"))
        largest = work / "largest-valid.mrk"
        if not largest.exists():
            # The benchmark's largest valid marker: every table at its limit.
            generate(bench, largest, "--pieces", "65535", "--sizes", "32767", "--classes", "32767",
                     "--croixes", "32767", "--halfs", "32767", "--styles", "32767", "--cuts", "256",
                     "--splits", "32767", "--long-names")
        bench_read(examples + [largest], program, runs)
        million = work / "million-cut-lines.mrk"
        if not million.exists():
            generate(bench, million, "--pieces", "64", "--cuts", "64", "--splits", "16384")
        bench_pandas(million, runs)
        batch = []
        for seed in range(8):
            path = work / ("batch-%d.mrk" % seed)
            if not path.exists():
                generate(bench, path, "--seed", str(seed + 1), "--pieces", "2000", "--cuts", "512",
                         "--splits", "256")
            batch.append(path)
        bench_threads(batch, runs, str(Path(build) / "bin" / "lumerca-import"))
        archive = work / "archive"
        if not archive.exists():
            # 30 markers of different sizes, each 10 times, in 10 folders.
            made = work / "archive-making"
            shutil.rmtree(made, ignore_errors=True)
            (made / "d0").mkdir(parents=True)
            for seed in range(30):
                first = generate(bench, made / "d0" / ("m%02d.mrk" % seed), "--seed", str(seed + 1),
                                 "--pieces", str(100 + 40 * seed), "--cuts", "64", "--splits", "16")
                for d in range(1, 10):
                    (made / ("d%d" % d)).mkdir(exist_ok=True)
                    shutil.copy(first, made / ("d%d" % d) / first.name)
            made.rename(archive)
        bench_archive(archive, runs, str(Path(build) / "bin" / "lumerca-import"))
    finally:
        if not keep:
            shutil.rmtree(work)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    sub = parser.add_subparsers(dest="command", required=True)
    p = sub.add_parser("read")
    p.add_argument("--cxx", default=str(SOURCE_DIR / "build" / "bin" / "lumerca-bench-read"))
    p.add_argument("--runs", type=int, default=5)
    p.add_argument("files", nargs="+")
    p = sub.add_parser("pandas")
    p.add_argument("--runs", type=int, default=3)
    p.add_argument("file")
    p = sub.add_parser("threads")
    p.add_argument("--runs", type=int, default=3)
    p.add_argument("--tool", help="lumerca-import, to time its -j 1 and -j 2 on the same files")
    p.add_argument("files", nargs="+")
    p = sub.add_parser("archive")
    p.add_argument("--runs", type=int, default=3)
    p.add_argument("--tool", help="lumerca-import, to time its -j 1 and -j 2 on the same folder")
    p.add_argument("folder")
    p = sub.add_parser("all")
    p.add_argument("--build", default=str(SOURCE_DIR / "build"))
    p.add_argument("--keep", help="keep the generated markers in this folder (and reuse them)")
    p.add_argument("--runs", type=int, default=3)
    args = parser.parse_args()
    print("lumerca_marker %s, Python %s" % (lm.__version__, sys.version.split()[0]))
    if args.command == "read":
        bench_read(args.files, args.cxx, args.runs)
    elif args.command == "pandas":
        bench_pandas(args.file, args.runs)
    elif args.command == "threads":
        bench_threads(args.files, args.runs, args.tool)
    elif args.command == "archive":
        bench_archive(args.folder, args.runs, args.tool)
    else:
        bench_all(args.build, args.keep, args.runs)


if __name__ == "__main__":
    main()
