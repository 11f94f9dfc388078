#!/usr/bin/python3
"""Batches of lumerca-import killed with SIGKILL at random moments.

Makes two archives of FILES markers with the same paths (every file of the
first a copy of examples/blouse.mrk, of the second of examples/jacket.mrk, so
that their pairs differ in both files), converts the first into OUT, then
KILLS times converts the other archive of the two into OUT and kills the run
(SIGKILL) at a moment drawn at random within the time a whole run took; after
each kill it counts, over the output folders, the mixed pairs (csvimprt.txt
of one archive beside posimport.txt of the other), the folders with one file
of the pair, and the temporary files left. A last run, not killed, then
converts into the same folders, and the same counts follow. Prints one line
per run and exits 1 when the last run leaves a mixed pair, a lone file or a
temporary file.

    bench/kill_batch.py --tool build/bin/lumerca-import --work /tmp/kill-batch
"""

import argparse
import os
import random
import re
import shutil
import signal
import subprocess
import sys
import time
from pathlib import Path

# The temporary files of an import: the journal's, and those of earlier
# versions of the tool (".csvimprt.txt.<16 hex digits>.tmp").
OURS = re.compile(r"^\.lumerca-[0-9a-f]{16}\.|^\.(csvimprt|posimport)\.txt\.[0-9a-f]{16}\.tmp$")


def make_archive(folder, source, files):
    for i in range(files):
        path = folder / f"d{i % 40:02d}" / f"m{i:04d}.mrk"
        path.parent.mkdir(parents=True, exist_ok=True)
        shutil.copyfile(source, path)


def pair_of(folder):
    return ((folder / "csvimprt.txt").read_bytes(), (folder / "posimport.txt").read_bytes())


def survey(out, pairs):
    counts = {"pairs": 0, "mixed": 0, "lone file": 0, "no pair": 0, "temporaries": 0}
    for folder, _, names in os.walk(out):
        if not names:
            continue
        counts["temporaries"] += sum(1 for name in names if OURS.search(name))
        have = {"csvimprt.txt", "posimport.txt"} & set(names)
        if len(have) == 1:
            counts["lone file"] += 1
        elif not have:
            counts["no pair"] += 1  # a folder with temporary files only
        elif pair_of(Path(folder)) in pairs:
            counts["pairs"] += 1
        else:
            counts["mixed"] += 1
    return counts


def run(tool, jobs, out, archive, kill_after=None):
    start = time.monotonic()
    process = subprocess.Popen([tool, "-q", "-j", str(jobs), "-o", str(out), str(archive)],
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    if kill_after is not None:
        try:
            process.wait(timeout=kill_after)
        except subprocess.TimeoutExpired:
            process.send_signal(signal.SIGKILL)
    status = process.wait()
    return status, time.monotonic() - start


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--tool", required=True)
    parser.add_argument("--work", required=True, help="a folder for the archives and the output (emptied)")
    parser.add_argument("--source", default=Path(__file__).resolve().parent.parent, type=Path)
    parser.add_argument("--files", type=int, default=2000)
    parser.add_argument("--kills", type=int, default=20)
    parser.add_argument("--jobs", type=int, default=2)
    parser.add_argument("--seed", type=int, default=None)
    args = parser.parse_args()

    seed = args.seed if args.seed is not None else random.randrange(1 << 30)
    chance = random.Random(seed)
    work = Path(args.work)
    shutil.rmtree(work, ignore_errors=True)
    archives = [work / "blouse", work / "jacket"]
    for archive, sample in zip(archives, ("blouse.mrk", "jacket.mrk")):
        make_archive(archive, args.source / "examples" / sample, args.files)
    pairs = set()
    for archive in archives:
        alone = work / ("alone-" + archive.name)
        subprocess.run([args.tool, "-q", "-o", str(alone), str(archive / "d00" / "m0000.mrk")], check=True)
        pairs.add(pair_of(alone))
    out = work / "out"

    print(f"{args.tool}: {args.files} markers, -j {args.jobs}, {args.kills} kills, seed {seed}")
    status, whole = run(args.tool, args.jobs, out, archives[0])
    print(f"first run: exit {status} in {whole:.1f} s; {survey(out, pairs)}")
    for k in range(1, args.kills + 1):
        moment = chance.uniform(0, whole)
        status, taken = run(args.tool, args.jobs, out, archives[k % 2], kill_after=moment)
        killed = status == -signal.SIGKILL
        print(f"run {k:2}: {'killed' if killed else 'ended'} after {taken:.2f} s; {survey(out, pairs)}")
    status, taken = run(args.tool, args.jobs, out, archives[(args.kills + 1) % 2])
    last = survey(out, pairs)
    print(f"last run: exit {status} in {taken:.1f} s; {last}")
    bad = last["mixed"] + last["lone file"] + last["no pair"] + last["temporaries"]
    return 0 if status == 0 and bad == 0 and last["pairs"] == args.files else 1


if __name__ == "__main__":
    sys.exit(main())
