#!/usr/bin/python3
"""Tests of the Windows builds under Wine, run by CTest from a native build.

Each subcommand is one test for one bitness (--bits 32 or 64, the build's
binaries in --win-bin); Windows programs run through scripts/wine (--wine),
which picks 64-bit Wine, 32-bit Wine or 32-bit Wine under user-mode emulation.
A test exits 0 when it passes, 1 with what differed when it fails, and 77
(skipped, with the reason) when the programs of its bitness cannot run on
this machine. Every test prints the runner it used first.

  setup      create the private Wine prefix (once) and c:\\userroot\\temp\\
  runner     what scripts/wine --describe says of this bitness against the
             program that the kernel runs for a Windows program's process
  convert    the fixture markers converted by the DLL through lumerca-host and
             by the native build: same result, same name, same bytes
  x87-precision
             the same conversion with the calling thread's x87 precision set
             to 24, 53 and 64 bits: the same bytes each time
  tool       lumerca-import.exe against the native lumerca-import: the same
             files, exit statuses and messages for a few markers, a batch,
             --dump and --svg
  storage    the same listing of documents from the system's structured
             storage and from the tests' writer, through the COM backend and
             through the portable reader (native and Windows)
  storage-name-order
             the same for documents whose names sort differently under
             ASCII-only and full upper-casing
  sharing    a marker held open for writing by another process gives 0; an
             output file held open by another process gives 0 and the
             earlier pair of files is kept
  long-path  paths of 259, 260 and 300 characters
  threads    ComScope and calls of the DLL on threads in every COM state,
             and parallel calls
  pe-image   the DLL's machine, exports, imports and DllCharacteristics
  hostile-containers
             the damaged containers of the catalogue of hostile inputs,
             imported natively and by the DLL through the system's structured
             storage, each under a time and memory limit; prints the table of
             outcomes and checks it against what Wine is known to do
  fuzz-replay TARGET
             the Windows build of a fuzz target over its corpus and
             regressions
  fault-checks
             every step of writing and committing a pair made to fail, and
             stopped as a kill stops it; a process that ends between its two
             renames: the folder holds the earlier pair or the new one, and
             the next import settles and removes what was left; a named pipe,
             a device and a folder given as the marker file are refused at
             once (lumerca-fault-checks)
"""

import argparse
import difflib
import os
import re
import resource
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time
from pathlib import Path

WINE_TIMEOUT = 300


class Failure(Exception):
    pass


class Skip(Exception):
    """The programs of this bitness cannot run on this machine."""


# As scripts/wine sets them: no .NET or HTML engine installers, no menu
# builder.
WINE_DLL_OVERRIDES = "mscoree,mshtml=;winemenubuilder.exe=d"

# scripts/wine's exit status for a program that cannot run here.
CANNOT_RUN = 125
SKIPPED = 77


class Context:
    def __init__(self, args):
        self.args = args
        self.bits = args.bits
        self.win_bin = Path(args.win_bin)
        self.work = Path(args.work)
        self.prefix = Path(args.prefix)
        self.out_folder = self.prefix / "drive_c" / "userroot" / "temp"

    # -- the Windows side ---------------------------------------------------

    def env(self):
        env = dict(os.environ)
        env.update(
            WINEPREFIX=str(self.prefix),
            WINEDEBUG="-all",
            # No installers for .NET or the HTML engine in a fresh prefix, and
            # no menu entries or file types written into the user's home.
            WINEDLLOVERRIDES=WINE_DLL_OVERRIDES,
            LC_ALL="C.UTF-8",
        )
        env.pop("DISPLAY", None)
        return env

    def win_binary(self, name):
        path = self.win_bin / name
        if not path.is_file():
            preset = "win32" if self.bits == 32 else "win64"
            raise Failure(
                f"{path} is missing: build the {preset} preset first "
                f"(cmake --preset {preset} && cmake --build --preset {preset})"
            )
        return path

    def runner(self):
        """Prints which runner this bitness gets here and returns its line;
        skips the test when there is none."""
        done = subprocess.run([self.args.wine, "--describe"], capture_output=True, text=True)
        wanted = f"{self.bits}-bit programs: "
        line = next((l for l in done.stdout.splitlines() if l.startswith(wanted)), None)
        if line is None:
            raise Failure(f"{self.args.wine} --describe said nothing of {self.bits}-bit programs")
        print(f"runner: {line}")
        if line.startswith(wanted + "cannot run"):
            raise Skip(line)
        return line

    def require_dll(self):
        self.win_binary("lumerca_marker.dll")
        self.runner()

    def wine(self, exe, *args, check_prefix=True, cwd=None):
        if check_prefix and not (self.prefix / "system.reg").is_file():
            raise Failure(f"the Wine prefix {self.prefix} is not set up (test wine.setup)")
        command = [self.args.wine, str(self.win_binary(exe)), *map(str, args)]
        done = subprocess.run(command, env=self.env(), capture_output=True,
                              timeout=WINE_TIMEOUT, cwd=cwd)
        stdout = done.stdout.decode("utf-8", "replace").replace("\r\n", "\n")
        stderr = done.stderr.decode("utf-8", "replace")
        if done.returncode == CANNOT_RUN and stderr.startswith("scripts/wine:"):
            raise Skip(stderr.strip())
        return done.returncode, stdout, stderr

    def host(self, path, name=None):
        args = [path] if name is None else [path, name]
        code, out, err = self.wine("lumerca-host.exe", *args)
        return code, parse_host_output(out, err)

    def clean_out_folder(self):
        self.out_folder.mkdir(parents=True, exist_ok=True)
        for entry in self.out_folder.iterdir():
            if entry.is_dir():
                shutil.rmtree(entry)
            else:
                entry.unlink()

    # -- the native side ----------------------------------------------------

    def native(self, *command):
        done = subprocess.run([*map(str, command)], capture_output=True, timeout=WINE_TIMEOUT)
        if done.returncode != 0:
            raise Failure(f"{command[0]} failed ({done.returncode}): "
                          f"{done.stderr.decode('utf-8', 'replace')}")
        return done.stdout.decode("utf-8", "replace")

    def fixtures(self, folder):
        folder.mkdir(parents=True, exist_ok=True)
        self.native(self.args.fixtures, folder)
        return folder

    def native_convert(self, out_dir, path, name=None):
        out_dir.mkdir(parents=True, exist_ok=True)
        args = [self.args.native_convert, out_dir, path] + ([] if name is None else [name])
        return parse_host_output(self.native(*args), "")


def win_path(path):
    """The path of a Linux file as Wine's drive Z: shows it."""
    return "Z:" + str(Path(path).resolve()).replace("/", "\\")


def parse_host_output(out, err):
    result = re.search(r"^result: (-?\d+)$", out, re.M)
    name = re.search(r"^name: (.*)$", out, re.M)
    if not result or not name:
        raise Failure(f"unexpected output:\n{out}\n{err}")
    return int(result.group(1)), name.group(1)


def folder_state(folder):
    return {p.name: p.read_bytes() for p in sorted(Path(folder).iterdir()) if p.is_file()}


def describe_difference(label, a, b):
    lines = [f"{label}: files differ"]
    if set(a) != set(b):
        lines.append(f"  DLL: {sorted(a)}  native: {sorted(b)}")
    for name in sorted(set(a) & set(b)):
        if a[name] != b[name]:
            diff = difflib.unified_diff(
                b[name].decode("latin-1").splitlines(), a[name].decode("latin-1").splitlines(),
                "native/" + name, "dll/" + name, lineterm="", n=1)
            lines.extend("  " + line for line in list(diff)[:40])
    return "\n".join(lines)


# -- setup ------------------------------------------------------------------

def cmd_setup(ctx):
    ctx.runner()
    done = subprocess.run([ctx.args.wine, "--prefix"], env=ctx.env(), capture_output=True,
                          text=True, timeout=WINE_TIMEOUT)
    if done.returncode == CANNOT_RUN:
        raise Skip(done.stderr.strip())
    if done.returncode != 0 or not (ctx.prefix / "system.reg").is_file():
        raise Failure("creating the prefix failed:\n" + done.stderr)
    ctx.out_folder.mkdir(parents=True, exist_ok=True)
    print(f"prefix {ctx.prefix} ready")


# -- runner -----------------------------------------------------------------

def cmd_runner(ctx):
    """What scripts/wine --describe says of this bitness against what runs its
    programs: while lumerca-wait-input.exe waits for its input, the program
    that the kernel runs for its process (/proc/PID/exe, read from outside,
    where no emulator can answer for it) is one of Wine's loaders when the
    programs run natively, and the emulator that --describe names when they
    run through emulation. A runner told wrongly sends the tests down the wrong
    path (threads under an emulator that cannot take them, say)."""
    line = ctx.runner()
    exe = ctx.win_binary("lumerca-wait-input.exe")
    if not (ctx.prefix / "system.reg").is_file():
        raise Failure(f"the Wine prefix {ctx.prefix} is not set up (test wine.setup)")
    errors = tempfile.TemporaryFile()
    process = subprocess.Popen([ctx.args.wine, str(exe)], env=ctx.env(), stdin=subprocess.PIPE,
                               stdout=subprocess.PIPE, stderr=errors, start_new_session=True)
    try:
        # The program's line says that it runs, in the process that Wine's
        # loader became (scripts/wine and the loaders replace themselves).
        ready, _, _ = select.select([process.stdout], [], [], WINE_TIMEOUT)
        first = process.stdout.readline() if ready else b""
        image = os.readlink(f"/proc/{process.pid}/exe") if first.strip() == b"waiting" else None
    finally:
        process.stdin.close()
        try:
            process.wait(timeout=WINE_TIMEOUT)
        except subprocess.TimeoutExpired:
            os.killpg(process.pid, signal.SIGKILL)
            process.wait()
    errors.seek(0)
    if image is None:
        raise Failure(f"lumerca-wait-input.exe did not start ({process.returncode}): "
                      f"{first!r} {errors.read().decode('utf-8', 'replace')[-2000:]}")
    print(f"the process runs {image}")
    loader = Path(image).name.startswith("wine")
    emulated = "emulation" in line
    if emulated and loader:
        raise Failure(f"--describe says emulation, but Wine's loader {image} runs the program itself")
    if not emulated and not loader:
        raise Failure(f"--describe says {line!r}, but the kernel runs the program with {image}")
    if emulated and f"the kernel runs them with {image}" not in line:
        raise Failure(f"--describe names another emulator than {image}: {line!r}")


# -- convert ----------------------------------------------------------------

BLOUSE_ORDERS = (
    "=:model\nm:B------2-38\np:FRONT\ni:1\np:BACK\ni:1\n=:model\nm:B------2-42\np:FRONT\ni:1\n"
    "p:SLEEVE\ni:1\n=:order\no:B------2\nd:lmr-import\nw:62.992126\nxs:2.040814\nys:0.000000\n"
    "m:B------2-38\nq:1\ns:38\nq:1\ns:40\nm:B------2-42\nq:1\ns:42\n"
).replace("\n", "\r\n").encode()

SENTINEL = {"csvimprt.txt": b"earlier orders\r\n", "posimport.txt": b"earlier positions\r\n"}

# (file, name given, result expected); the expectation guards against both
# builds going wrong the same way.
CONVERT_CASES = [
    ("blouse.mrk", None, 1),
    ("blouse.mrk", "Custom 7.b", 1),
    ("multi.mrk", None, 1),
    ("multi.mrk", "lower case/#name", 1),
    ("nopieces.mrk", "KEEP", -1),
    ("corrupt.mrk", None, 0),
    ("plain.txt", None, 0),
    ("missing.mrk", None, 0),
]


def cmd_convert(ctx):
    ctx.require_dll()
    base = ctx.work / "convert"
    fixtures = ctx.fixtures(base / "fixtures")
    failures = []
    for index, (file, name, expected) in enumerate(CONVERT_CASES):
        label = f"{file}" + (f" named {name!r}" if name is not None else "")
        native_out = base / f"native-{index}"
        shutil.rmtree(native_out, ignore_errors=True)
        native_out.mkdir(parents=True)
        ctx.clean_out_folder()
        for folder in (native_out, ctx.out_folder):
            for sentinel, text in SENTINEL.items():
                (folder / sentinel).write_bytes(text)

        code, dll = ctx.host(win_path(fixtures / file), name)
        native = ctx.native_convert(native_out, fixtures / file, name)
        expected_exit = {1: 0, 0: 1, -1: 3}[dll[0]] if dll[0] in (1, 0, -1) else None
        if code != expected_exit:
            failures.append(f"{label}: lumerca-host exit status {code} for result {dll[0]}")
        if dll != native:
            failures.append(f"{label}: DLL gave {dll}, native gave {native}")
        if native[0] != expected:
            failures.append(f"{label}: result {native[0]}, expected {expected}")
        dll_files, native_files = folder_state(ctx.out_folder), folder_state(native_out)
        if dll_files != native_files:
            failures.append(describe_difference(label, dll_files, native_files))
        if expected != 1 and dll_files != SENTINEL:
            failures.append(f"{label}: the earlier output files were changed")
        if file == "blouse.mrk" and name is None:
            if dll != (1, "B------2"):
                failures.append(f"{label}: name {dll[1]!r}, expected 'B------2'")
            if dll_files.get("csvimprt.txt") != BLOUSE_ORDERS:
                failures.append(f"{label}: csvimprt.txt is not the Blouse.2 example")
        print(f"{label}: DLL {dll}, native {native}")
    if failures:
        raise Failure("\n".join(failures))


# -- storage ----------------------------------------------------------------

def split_listing(text):
    """{document: [lines]} from the lister's output."""
    documents, current = {}, None
    for line in text.splitlines():
        if line.startswith("== "):
            current = documents.setdefault(line[3:], [])
        elif current is not None:
            current.append(line)
    return documents


def compare_listings(ctx, documents):
    """Lists `documents` through the COM backend under Wine, the portable
    reader of the 32-bit build under Wine and the native portable reader, and
    returns the differences from the COM listing."""
    listings = {}
    reference_label = "COM backend (Wine)"
    runs = [(reference_label, []), ("portable reader, 32-bit", ["--portable"])]
    for label, options in runs:
        code, out, err = ctx.wine("lumerca-stg-list.exe", *options, *map(win_path, documents))
        if code != 0:
            raise Failure(f"{label}: lister failed ({code}): {err}")
        listings[label] = split_listing(out)
    listings["portable reader, native"] = split_listing(ctx.native(ctx.args.native_list, *documents))

    reference = listings[reference_label]
    failures = []
    for document in documents:
        lines = reference.get(document.name)
        if lines is None:
            failures.append(f"{document.name}: missing from the COM listing")
            continue
        if document.suffix != ".txt" and any("failed" in line for line in lines):
            failures.append(f"{document.name}: the COM backend could not read it: {lines[:3]}")
        for label, listing in listings.items():
            other = listing.get(document.name)
            if label != reference_label and other != lines:
                diff = difflib.unified_diff(lines, other or [], reference_label, label,
                                            lineterm="", n=1)
                failures.append(f"{document.name}:\n" + "\n".join(list(diff)[:30]))
        print(f"{document.name}: {len(lines)} elements")
    return failures


def generate(ctx, folder, *options):
    shutil.rmtree(folder, ignore_errors=True)
    folder.mkdir(parents=True)
    code, out, err = ctx.wine("lumerca-stg-generate.exe", win_path(folder), *options)
    print(out, end="")
    if code != 0:
        raise Failure(f"lumerca-stg-generate failed ({code}):\n{out}\n{err}")
    return sorted(folder.glob("*.cfb"))


def cmd_storage(ctx):
    ctx.require_dll()
    base = ctx.work / "storage"
    generated = generate(ctx, base / "generated", 1, 16)
    fixtures = ctx.fixtures(base / "fixtures")
    documents = generated + sorted(fixtures.glob("writer-*.cfb")) + [
        fixtures / "blouse.mrk", fixtures / "multi.mrk", fixtures / "plain.txt"]
    if len(generated) != 17 or len(documents) != 28:
        raise Failure(f"only {len(generated)} documents were generated, {len(documents)} in all")
    failures = compare_listings(ctx, documents)
    if failures:
        raise Failure("\n".join(failures))


def cmd_storage_name_order(ctx):
    """Documents whose names sort differently when only ASCII letters are
    upper-cased (as Wine's structured storage compares them) than when all
    letters are (as the compound-file format, and Windows, compare them).

    Wine writes such trees out of order for the format's comparison, so a
    reader that searches them as Windows does (the portable reader) cannot
    reach some of their elements. This measures the difference: the portable
    reader may miss elements, list them in the format's order, and fail to open
    an element that its search cannot find again, but everything it lists must
    stand in Wine's listing with the same type, size and bytes."""
    ctx.require_dll()
    generated = generate(ctx, ctx.work / "storage-name-order", 1, 8, "--fold-order")
    if len(generated) != 8:
        raise Failure(f"only {len(generated)} documents were generated")
    code, out, err = ctx.wine("lumerca-stg-list.exe", *map(win_path, generated))
    if code != 0:
        raise Failure(f"COM lister failed ({code}): {err}")
    wine_listing = split_listing(out)
    portable = split_listing(ctx.native(ctx.args.native_list, *generated))
    failures = []
    for document in generated:
        reference, ours = wine_listing.get(document.name), portable.get(document.name)
        if reference is None or ours is None:
            failures.append(f"{document.name}: not listed")
            continue
        # An element listed by the search but not found again by it when
        # opened is listed as open-failed; its path, type and size must match.
        known = set(reference) | {"\t".join(line.split("\t")[:3]) + "\topen-failed"
                                  for line in reference}
        if not set(ours) <= known:
            failures.append(f"{document.name}: the portable reader lists elements that Wine does not")
        print(f"{document.name}: Wine lists {len(reference)} elements, "
              f"the Windows name order reaches {len(ours)}")
    if failures:
        raise Failure("\n".join(failures))


# -- sharing ----------------------------------------------------------------

def cmd_sharing(ctx):
    ctx.require_dll()
    base = ctx.work / "sharing"
    fixtures = ctx.fixtures(base / "fixtures")
    marker = win_path(fixtures / "blouse.mrk")
    host = win_path(ctx.win_binary("lumerca-host.exe"))
    # The document is opened denying writers: any handle with write access
    # keeps it from opening; a reader that lets others read does not.
    cases = [("write-exclusive", 1), ("write-share-read", 1), ("write-share-all", 1),
             ("read-share-read", 0)]
    failures = []
    for mode, expected_exit in cases:
        ctx.clean_out_folder()
        code, out, err = ctx.wine("lumerca-hold-file.exe", mode, marker, host, marker)
        print(f"{mode}: exit {code} {out.strip()!r}")
        if code != expected_exit:
            failures.append(f"{mode}: lumerca-host exit status {code}, expected {expected_exit}"
                            f"\n{out}{err}")
        wrote = sorted(folder_state(ctx.out_folder))
        if expected_exit == 1 and wrote:
            failures.append(f"{mode}: files written although the file was not readable: {wrote}")

    # An output file that the host holds open (without letting it be deleted)
    # cannot be replaced: the import gives 0 and the earlier pair stays as it
    # was, with nothing else left in the folder, whichever of the two is held.
    for held in SENTINEL:
        ctx.clean_out_folder()
        for name, text in SENTINEL.items():
            (ctx.out_folder / name).write_bytes(text)
        code, out, err = ctx.wine("lumerca-hold-file.exe", "read-share-read",
                                  "C:\\userroot\\temp\\" + held, host, marker)
        print(f"{held} held open: exit {code} {out.strip()!r}")
        if code != 1:
            failures.append(f"{held} held open: lumerca-host exit status {code}, expected 1"
                            f"\n{out}{err}")
        state = folder_state(ctx.out_folder)
        if state != SENTINEL:
            failures.append(f"{held} held open: the earlier pair was not kept: {sorted(state)}")
    if failures:
        raise Failure("\n".join(failures))


# -- long paths -------------------------------------------------------------

def path_of_length(base, length, source):
    """Copies `source` to a file whose Windows path has `length` characters."""
    stem = len(win_path(base)) + 1  # the separator after base
    directory = min(200, length - stem - 1 - 10)
    name = length - stem - directory - 1
    if directory < 1 or name < 5:
        raise Failure(f"the build folder's path is too long for a {length}-character path")
    target = base / ("d" * directory) / ("f" * (name - 4) + ".mrk")
    target.parent.mkdir(parents=True, exist_ok=True)
    shutil.copyfile(source, target)
    if len(win_path(target)) != length:
        raise Failure(f"internal: made a path of {len(win_path(target))} characters")
    return target


def cmd_long_path(ctx):
    ctx.require_dll()
    base = ctx.work / "long-path"
    shutil.rmtree(base, ignore_errors=True)
    fixtures = ctx.fixtures(base / "fixtures")
    # 259 characters and the terminator fill the 260-unit buffer exactly.
    cases = [(259, 1), (260, 0), (300, 0)]
    failures = []
    for length, expected in cases:
        target = path_of_length(base / "long", length, fixtures / "blouse.mrk")
        ctx.clean_out_folder()
        code, (result, name) = ctx.host(win_path(target))
        print(f"{length} characters: result {result}")
        if result != expected:
            failures.append(f"a path of {length} characters gave {result}, expected {expected}")
        if expected == 0 and folder_state(ctx.out_folder):
            failures.append(f"a path of {length} characters wrote files")
    if failures:
        raise Failure("\n".join(failures))


# -- threads ----------------------------------------------------------------

def cmd_threads(ctx):
    ctx.require_dll()
    base = ctx.work / "threads"
    fixtures = ctx.fixtures(base / "fixtures")
    pairs = []
    for file in ("blouse.mrk", "multi.mrk"):
        out = base / ("native-" + file)
        shutil.rmtree(out, ignore_errors=True)
        result = ctx.native_convert(out, fixtures / file)
        if result[0] != 1:
            raise Failure(f"native import of {file} gave {result}")
        pairs.append(folder_state(out))

    code, out, err = ctx.wine("lumerca-com-scope-check.exe")
    print(out, end="")
    failures = []
    if code != 0:
        failures.append(f"lumerca-com-scope-check failed ({code}):\n{out}{err}")

    ctx.clean_out_folder()
    code, out, err = ctx.wine("lumerca-thread-calls.exe", win_path(fixtures / "blouse.mrk"),
                              win_path(fixtures / "multi.mrk"))
    print(out, end="")
    if code != 0:
        failures.append(f"lumerca-thread-calls failed ({code}):\n{out}{err}")
    state = folder_state(ctx.out_folder)
    # Two imports' renames never interleave, and no temporary file is left.
    if state not in pairs:
        failures.append("after the parallel calls the folder holds no consistent pair: "
                        f"{sorted(state)}")
    if failures:
        raise Failure("\n".join(failures))


# -- hostile containers -----------------------------------------------------

# The limits of each run. No verdict may hang on the machine's speed: every
# case that is not known to hang takes at most about 2 s of processor time
# under Wine (measured with the subcommand shape-costs and the table below), so
# the time limit is only reached by a run that hangs, however loaded the
# machine. The cases where Wine is known to hang loop for ever, so a shorter
# limit tells them as surely.
HOSTILE_TIME_LIMIT = 60
KNOWN_HANG_TIME_LIMIT = 10
# Memory committed by the Wine process (RLIMIT_DATA). An address-space limit
# (RLIMIT_AS) would not do: Wine reserves most of the 4 GiB of a 32-bit process
# at start-up, and fails to start under any limit below that. Every case needs
# at most 23 MiB, Wine's start-up included; where Wine indexes a looping chain
# until an allocation fails, a tighter limit makes the failure come sooner
# (measured on the six such cases: 5 to 9 s of processor time and a peak of
# 788 MiB under 2 GiB, 1.0 to 1.7 s and 115 MiB under 256 MiB, the same
# results).
HOSTILE_MEMORY_LIMIT = 256 << 20
# A peak resident size (the process's own, from wait4) from which a run is
# taken to have exhausted its memory.
MEMORY_EXHAUSTED_KIB = 64 << 10

# The shapes of the catalogue, each at the size at which Wine meets it here.
# The catalogue's sizes are the native side's (import_hostile_test.cpp and the
# benchmark check them at those sizes); several cost Wine's structured storage
# time that grows with the square of the size. Processor time of the DLL under
# Wine, measured with shape-costs (the start of Wine, about 0.4 s, included):
#   one-sided-5600   n=700 0.80 s, 1400 2.14 s, 2800 7.54 s, 5600 31.1 s
#   deep-rejects     n=2500 0.49 s, 5000 0.99 s, 10000 3.07 s
#   20000-streams    n=5000 0.80 s, 10000 1.41 s, 20000 2.88 s
#   nested-10000     n=5000 0.59 s, 10000 1.30 s
#   huge-counts      n=500 0.70 s, 1000 0.89 s
#   3000-pieces-storages n=3000 0.68 s; cuts-declaring-32767 n=1000 0.53 s
# (On a loaded machine the one-sided tree of 5,600 elements was still being
# listed at 30 s.) The three containers of the catalogue that are shapes
# (shape-*) are these shapes at the catalogue's sizes; here the shapes stand
# in for them.
HOSTILE_SHAPES = {
    "cuts-declaring-32767": 1000,
    "huge-counts": 500,
    "20000-streams": 5000,
    "3000-pieces-storages": 3000,
    "nested-10000": 5000,
    "deep-rejects": 2500,
    "one-sided-5600": 700,
}

# What the DLL does under Wine where that is not what the native build does:
# case -> (outcome, why). An outcome is the result ("1", "0", "-1"), or "hang"
# (still running at the time limit) or "crash" (an exit status lumerca-host
# never gives); " memory" follows when the peak reached MEMORY_EXHAUSTED_KIB.
# Every other case must give the native result, within the memory bound. A
# case that stops behaving as listed fails the test, so that a change in Wine,
# or in the backend, is noticed.
WINE_LENIENT_HEADER = ("Wine checks only the sector sizes (512 or 4096, mini 64) and the 4096-byte "
                       "cutoff, and reads the FAT and DIFAT lazily: it opens the document and "
                       "reads it whole, where the portable reader rejects the header")
WINE_CHAIN_INDEX = ("Wine indexes a FAT chain up to its end: on a loop the index doubles until "
                    "an allocation fails (under a limit of 256 MiB committed, at a peak of "
                    "about 115 MiB)")
WINE_ANY_ROOT = ("Wine opens the document whatever the type of its first directory entry; the "
                 "portable reader rejects a root that is not a root")
WINE_UNKNOWN_TYPE = ("Wine's enumerator reports an entry of unknown type as a stream, then refuses "
                     "to open it; a failed OpenStream loses the rest of the storage, here PIECES")
WINE_STORAGE_IN_ITSELF = ("Wine opens a storage that lies inside itself again at every level; the "
                          "walk stops once it has met more elements than the document can hold "
                          "(one per 128 bytes), before the root's PIECES, which sorts after the "
                          "storage: no pieces. The portable reader lists such a storage once, "
                          "under its first parent")
WINE_HOSTILE_OUTCOMES = {
    "v4-512-byte-sectors": ("1", WINE_LENIENT_HEADER),
    "fat-sectors-fffffff0": ("1", WINE_LENIENT_HEADER),
    # The FAT sectors this document uses are all named in the header.
    "difat-loop": ("1", WINE_LENIENT_HEADER),
    "offset-32-difat-sector": ("1", WINE_LENIENT_HEADER),
    "type-0-root": ("1", WINE_ANY_ROOT),
    "type-3-root": ("1", WINE_ANY_ROOT),
    "type-4-root": ("1", WINE_ANY_ROOT),
    "type-6-root": ("1", WINE_ANY_ROOT),
    "type-80-root": ("1", WINE_ANY_ROOT),
    "type-ff-root": ("1", WINE_ANY_ROOT),
    # A version 3 file read with 4096-byte sectors: its FAT is the zeros past
    # the end of the file, so every chain loops on sector 0. The open fails.
    "sector-shift-12": ("0 memory", WINE_CHAIN_INDEX),
    "directory-chain-loop": ("0 memory", WINE_CHAIN_INDEX + "; the open fails"),
    # PIECES reads as empty: without its count the file is damaged (0).
    "stream-chain-loop-0": ("0 memory", WINE_CHAIN_INDEX + "; PIECES then reads as empty"),
    "stream-chain-loop-3": ("0 memory", WINE_CHAIN_INDEX + "; PIECES then reads as empty"),
    "stream-chain-loop-9": ("0 memory", WINE_CHAIN_INDEX + "; PIECES then reads as empty"),
    # The portable reader stops the mini FAT at the loop, having all of it.
    "mini-fat-chain-loop": ("0 memory", WINE_CHAIN_INDEX + "; on the mini FAT's chain the open "
                            "fails"),
    # mini-fat-self-loop: Wine follows the mini FAT's loop, so PIECES reads as
    # its first 64 bytes over and over, whose records fail the cross-reference
    # checks (0); the portable reader ends the stream at the loop, which leaves
    # it damaged (0): the results agree.
    "cycle-own-sibling": ("hang", "Wine's IEnumSTATSTG::Next never returns (the lister hangs "
                          "before its first element)"),
    "cycle-two-siblings": ("hang", "Wine's IEnumSTATSTG::Next never returns (the lister hangs "
                           "before its first element)"),
    "cycle-child-is-itself": ("-1", WINE_STORAGE_IN_ITSELF),
    "cycle-child-is-parents-tree": ("-1", WINE_STORAGE_IN_ITSELF),
    "type-0-cuts": ("-1", WINE_UNKNOWN_TYPE),
    "type-3-cuts": ("-1", WINE_UNKNOWN_TYPE),
    "type-4-cuts": ("-1", WINE_UNKNOWN_TYPE),
    "type-6-cuts": ("-1", WINE_UNKNOWN_TYPE),
    "type-80-cuts": ("-1", WINE_UNKNOWN_TYPE),
    "type-ff-cuts": ("-1", WINE_UNKNOWN_TYPE),
}


class LimitedRun:
    """What became of one process run under a time limit and, if given, a limit on
    the memory it commits."""

    def __init__(self, command, env=None, memory=None, timeout=HOSTILE_TIME_LIMIT):
        def limit():
            if memory is not None:
                resource.setrlimit(resource.RLIMIT_DATA, (memory, memory))

        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
            start = time.monotonic()
            # A session of its own, so that a process killed at the time limit
            # takes the processes it started with it.
            process = subprocess.Popen([*map(str, command)], env=env, stdin=subprocess.DEVNULL,
                                       stdout=out, stderr=err, preexec_fn=limit,
                                       start_new_session=True)
            self.timed_out = False
            while True:
                pid, status, usage = os.wait4(process.pid, os.WNOHANG)
                if pid:
                    break
                if time.monotonic() - start > timeout:
                    self.timed_out = True
                    os.killpg(process.pid, signal.SIGKILL)
                    pid, status, usage = os.wait4(process.pid, 0)
                    break
                time.sleep(0.01)
            self.seconds = time.monotonic() - start
            self.code = os.waitstatus_to_exitcode(status)
            process.returncode = self.code  # reaped here, not by Popen
            # The peak of the process (and of those it waited for), in KiB,
            # and the processor time they took.
            self.peak_kib = usage.ru_maxrss
            self.cpu_seconds = usage.ru_utime + usage.ru_stime
            out.seek(0)
            err.seek(0)
            self.stdout = out.read().decode("utf-8", "replace").replace("\r\n", "\n")
            self.stderr = err.read().decode("utf-8", "replace")

    def host_outcome(self):
        """The DLL's outcome (see WINE_HOSTILE_OUTCOMES) from a run of lumerca-host."""
        results = {0: 1, 1: 0, 3: -1}
        if self.timed_out:
            outcome = "hang"
        elif self.code not in results:
            outcome = "crash"
        else:
            result, _ = parse_host_output(self.stdout, self.stderr)
            if result != results[self.code]:
                raise Failure(f"lumerca-host printed result {result} but exited with {self.code}")
            outcome = str(result)
        return outcome + (" memory" if self.peak_kib >= MEMORY_EXHAUSTED_KIB else "")


def listing_summary(run, name):
    """A short account of one document's listing by lumerca-stg-list: the
    elements listed, those that failed to open or enumerate, and how the
    lister ended when it did not end normally (it recurses into storages, so
    a storage nested in itself overflows its stack)."""
    lines = split_listing(run.stdout).get(name, [])
    if lines == ["open-failed"]:
        summary = "rejected"
    else:
        failed = sum(1 for line in lines if re.search(r"\t(open|enum|next)-failed$", line))
        depth = max((line.split("\t")[0].count("/") for line in lines), default=0)
        summary = f"{len(lines)} el." + (f", {failed} failed" if failed else "")
        if depth > 20:
            summary += f", depth {depth}"
    if run.timed_out:
        summary += ", then hang"
    elif run.code != 0:
        summary += f", then crash ({run.code})"
    return summary


def cmd_hostile_containers(ctx):
    ctx.require_dll()
    base = ctx.work / "hostile-containers"
    shutil.rmtree(base, ignore_errors=True)
    cases_dir = base / "cases"
    cases_dir.mkdir(parents=True)
    containers = ctx.native(ctx.args.hostile, cases_dir).split()
    if len(containers) < 60:
        raise Failure(f"only {len(containers)} cases were written")
    # The shapes at Wine's sizes stand in for the containers that are shapes.
    shapes = [line.split("\t")[0] for line in ctx.native(ctx.args.hostile, "--shapes").splitlines()]
    if sorted(shapes) != sorted(HOSTILE_SHAPES):
        raise Failure(f"the catalogue's shapes are {sorted(shapes)}, HOSTILE_SHAPES gives sizes to "
                      f"{sorted(HOSTILE_SHAPES)}: give each shape the size at which Wine meets it "
                      "(measure with the subcommand shape-costs)")
    cases = [case for case in containers if not case.startswith("shape-")]
    for shape, n in HOSTILE_SHAPES.items():
        case = f"{shape}-at-{n}"
        ctx.native(ctx.args.hostile, "--shape", shape, n, cases_dir / (case + ".mrk"))
        cases.append(case)
    unknown = sorted(set(WINE_HOSTILE_OUTCOMES) - set(cases))
    if unknown:
        raise Failure(f"expected outcomes of cases that do not exist: {unknown}")
    if not (ctx.prefix / "system.reg").is_file():
        raise Failure(f"the Wine prefix {ctx.prefix} is not set up (test wine.setup)")
    host = ctx.win_binary("lumerca-host.exe")
    lister = ctx.win_binary("lumerca-stg-list.exe")

    # The runner line above names Wine's version.
    print(f"limits: {HOSTILE_TIME_LIMIT} s ({KNOWN_HANG_TIME_LIMIT} s where Wine is "
          f"known to hang), {HOSTILE_MEMORY_LIMIT >> 20} MiB committed")
    rows, failures = [], []
    started = time.monotonic()
    slowest = (0.0, None)  # processor time and case, of the runs not known to hang
    for case in cases:
        path = cases_dir / (case + ".mrk")
        file = case + ".mrk"

        # The native side: our responsibility whole.
        native_out = base / "native" / case
        native_out.mkdir(parents=True)
        for sentinel, text in SENTINEL.items():
            (native_out / sentinel).write_bytes(text)
        native_run = LimitedRun([ctx.args.native_convert, native_out, path])
        if native_run.timed_out or native_run.code != 0:
            failures.append(f"{case}: the native import "
                            f"{'hung' if native_run.timed_out else f'exited with {native_run.code}'}"
                            f"\n{native_run.stderr[-2000:]}")
            native = "crash"
        else:
            native = parse_host_output(native_run.stdout, native_run.stderr)[0]
        portable = listing_summary(LimitedRun([ctx.args.native_list, path]), file)

        # The DLL through the system's structured storage.
        ctx.clean_out_folder()
        for sentinel, text in SENTINEL.items():
            (ctx.out_folder / sentinel).write_bytes(text)
        expected, why = WINE_HOSTILE_OUTCOMES.get(case, (str(native), None))
        limit = KNOWN_HANG_TIME_LIMIT if expected == "hang" else HOSTILE_TIME_LIMIT
        dll_run = LimitedRun([ctx.args.wine, host, win_path(path)], env=ctx.env(),
                             memory=HOSTILE_MEMORY_LIMIT, timeout=limit)
        dll = dll_run.host_outcome()
        dll_files = folder_state(ctx.out_folder)
        if dll.startswith("1"):
            native_files = folder_state(native_out)
            if native == 1 and dll_files != native_files:
                failures.append(describe_difference(case, dll_files, native_files))
        elif dll_files != SENTINEL:
            failures.append(f"{case}: the DLL gave {dll} and changed the earlier output files")

        # What the system's structured storage makes of the document alone:
        # where the DLL hung, whether Wine's own calls hang (the lister prints
        # nothing more) or go on delivering elements.
        com = listing_summary(
            LimitedRun([ctx.args.wine, lister, win_path(path)], env=ctx.env(),
                       memory=HOSTILE_MEMORY_LIMIT,
                       timeout=KNOWN_HANG_TIME_LIMIT if dll.startswith("hang") else HOSTILE_TIME_LIMIT),
            file)

        if dll.startswith("crash") and com.startswith("rejected"):
            failures.append(f"{case}: the DLL crashed (exit {dll_run.code}) on a document that "
                            f"the system's structured storage refuses to open\n{dll_run.stderr[-2000:]}")
        elif dll != expected:
            failures.append(f"{case}: the DLL gave {dll}, expected {expected}"
                            + (f" (known: {why})" if why else f" (the native result)"))
        elif why is not None and expected == str(native):
            failures.append(f"{case}: the DLL now agrees with the native result {native}: "
                            "remove it from WINE_HOSTILE_OUTCOMES")
        peak = f"{dll_run.peak_kib / 1024:.0f} MiB" if dll_run.peak_kib else "?"
        mark = "" if dll == str(native) else ("known" if why is not None else "DIFFERS")
        if expected != "hang":
            slowest = max(slowest, (dll_run.cpu_seconds, case), key=lambda pair: pair[0])
        rows.append((case, str(native), portable, str(dll), com, f"{dll_run.seconds:.2f} s",
                     f"{dll_run.cpu_seconds:.2f} s", peak, mark))

    header = ("case", "native", "portable reader", "DLL", "Wine's reader", "DLL time",
              "DLL cpu", "DLL peak", "")
    widths = [max(len(row[i]) for row in rows + [header]) for i in range(len(header))]
    for row in [header] + rows:
        print("  ".join(cell.ljust(width) for cell, width in zip(row, widths)).rstrip())
    print(f"{len(rows)} cases in {time.monotonic() - started:.0f} s; of the cases not known to "
          f"hang, {slowest[1]} took the DLL the most processor time: {slowest[0]:.2f} s "
          f"(limit {HOSTILE_TIME_LIMIT} s)")
    reasons = {}
    for case, (_, why) in WINE_HOSTILE_OUTCOMES.items():
        reasons.setdefault(why, []).append(case)
    print("\nKnown behaviour of Wine's structured storage:")
    for why, known in reasons.items():
        print(f"- {', '.join(known)}: {why}")
    if failures:
        raise Failure("\n".join(failures))


# -- the cost of the shapes under Wine ---------------------------------------

SHAPE_COST_LIMIT = 120  # seconds for one run; a shape's larger sizes are left out after it


def cmd_shape_costs(ctx):
    """Not a test: measures how the time that the DLL takes under Wine grows
    with the size of each shape of the hostile catalogue, beside the native
    import's, and prints the table. What it says chose the sizes at which
    hostile-containers gives the shapes to Wine (HOSTILE_SHAPES)."""
    ctx.require_dll()
    base = ctx.work / "shape-costs"
    shutil.rmtree(base, ignore_errors=True)
    base.mkdir(parents=True)
    host = ctx.win_binary("lumerca-host.exe")
    if not (ctx.prefix / "system.reg").is_file():
        raise Failure(f"the Wine prefix {ctx.prefix} is not set up (test wine.setup)")
    fractions = [eval_fraction(f) for f in (ctx.args.sizes or "1/16,1/8,1/4,1/2,1").split(",")]
    shapes = [line.split("\t") for line in ctx.native(ctx.args.hostile, "--shapes").splitlines()]

    # Wine's own start, to set the DLL's times against.
    fixtures = ctx.fixtures(base / "fixtures")
    starts = [LimitedRun([ctx.args.wine, host, win_path(fixtures / "blouse.mrk")],
                         env=ctx.env(), timeout=SHAPE_COST_LIMIT) for _ in range(3)]
    start = min(run.seconds for run in starts)
    print(f"Wine's start and a Blouse conversion: {start:.2f} s, "
          f"{min(run.cpu_seconds for run in starts):.2f} s of processor time (fastest of 3)")
    print(f"limit {SHAPE_COST_LIMIT} s a run, {HOSTILE_MEMORY_LIMIT >> 20} MiB committed")
    header = ("shape", "n", "input MB", "native s", "DLL", "DLL s", "less start", "ratio",
              "DLL cpu s")
    rows = []
    for name, catalogue_n, _ in shapes:
        previous = None
        for fraction in fractions:
            n = max(1, int(int(catalogue_n) * fraction))
            path = base / f"{name}-{n}.mrk"
            ctx.native(ctx.args.hostile, "--shape", name, n, path)
            native_out = base / "native" / f"{name}-{n}"
            native_out.mkdir(parents=True)
            native_run = LimitedRun([ctx.args.native_convert, native_out, path],
                                    timeout=SHAPE_COST_LIMIT)
            native = ("hang" if native_run.timed_out else
                      parse_host_output(native_run.stdout, native_run.stderr)[0])
            ctx.clean_out_folder()
            dll_run = LimitedRun([ctx.args.wine, host, win_path(path)], env=ctx.env(),
                                 memory=HOSTILE_MEMORY_LIMIT, timeout=SHAPE_COST_LIMIT)
            own = max(dll_run.seconds - start, 0.0)
            ratio = f"{own / previous:.2f}" if previous and not dll_run.timed_out else "-"
            rows.append((name, str(n), f"{path.stat().st_size / 1e6:.2f}",
                         f"{native_run.seconds:.2f}", dll_run.host_outcome(),
                         f"{dll_run.seconds:.2f}", f"{own:.2f}", ratio,
                         f"{dll_run.cpu_seconds:.2f}"))
            print("  ".join(rows[-1]), flush=True)
            previous = own if own > 0 else None
            if dll_run.timed_out:
                break
    print()
    widths = [max(len(row[i]) for row in rows + [header]) for i in range(len(header))]
    for row in [header] + rows:
        print("  ".join(cell.ljust(width) for cell, width in zip(row, widths)).rstrip())


def eval_fraction(text):
    numerator, _, denominator = text.partition("/")
    return int(numerator) / int(denominator or 1)


# -- the PE image -----------------------------------------------------------

SYSTEM_DLLS = {"kernel32.dll", "msvcrt.dll", "ole32.dll", "oleaut32.dll", "user32.dll",
               "advapi32.dll", "bcrypt.dll", "shell32.dll", "gdi32.dll", "ntdll.dll"}


def cmd_pe_image(ctx):
    dll = ctx.win_binary("lumerca_marker.dll")
    done = subprocess.run([ctx.args.objdump, "-p", str(dll)], capture_output=True, text=True)
    if done.returncode != 0:
        raise Failure(f"objdump failed: {done.stderr}")
    dump = done.stdout
    failures = []

    print("runner: none (the image is read by objdump)")
    image_format = "pei-i386" if ctx.bits == 32 else "pei-x86-64"
    if f"file format {image_format}" not in dump:
        failures.append(f"not a {ctx.bits}-bit image ({image_format})")

    names = re.search(r"\[Ordinal/Name Pointer\] Table(?:[^\n]*)\n((?:[ \t]+\[.*\n)*)", dump)
    exports = re.findall(r"\]\s+(\S+)\s*$", names.group(1), re.M) if names else []
    if exports != ["ImportLumercaFile"]:
        failures.append(f"exports {exports}, expected exactly ['ImportLumercaFile']")
    addresses = re.search(r"Export Address Table --[^\n]*\n((?:[ \t]+\[.*\n)*)", dump)
    if not addresses or len(addresses.group(1).strip().splitlines()) != 1:
        failures.append("the export address table does not hold exactly one entry")

    imports = [name.lower() for name in re.findall(r"DLL Name: (\S+)", dump)]
    if not imports:
        failures.append("no imports found")
    foreign = [name for name in imports if name not in SYSTEM_DLLS]
    if foreign:
        failures.append(f"imports other than system DLLs: {foreign}")

    flags = re.search(r"^DllCharacteristics\s+([0-9a-fA-F]+)", dump, re.M)
    value = int(flags.group(1), 16) if flags else 0
    if not value & 0x0040:
        failures.append("DYNAMIC_BASE (ASLR) is not set")
    if not value & 0x0100:
        failures.append("NX_COMPAT (DEP) is not set")
    # DYNAMIC_BASE means something only if the image can be relocated.
    image = re.search(r"^Characteristics 0x([0-9a-fA-F]+)", dump, re.M)
    reloc = re.search(r"^Entry 5 [0-9a-fA-F]+ ([0-9a-fA-F]+) Base Relocation Directory", dump, re.M)
    if not image or int(image.group(1), 16) & 0x0001 or not reloc or int(reloc.group(1), 16) == 0:
        failures.append("the image has no base relocations")

    print(f"exports {exports}\nimports {imports}\nDllCharacteristics {value:#06x}")
    if failures:
        raise Failure("\n".join(failures))



# -- x87 precision ----------------------------------------------------------

# The x87 precision control of the calling thread, as the host sets it.
X87_PRECISIONS = (24, 53, 64)


def cmd_x87_precision(ctx):
    """Each marker converted by the DLL with the calling thread's x87
    precision at 24, 53 and 64 bits gives the native build's bytes: the
    library computes in IEEE single and double precision (SSE), whatever the
    host's control word says. precision.mrk holds values whose printed digits
    a 24-bit or 64-bit intermediate would change."""
    ctx.win_binary("lumerca_marker.dll")
    if "emulation" in ctx.runner():
        # Measured with qemu-i386 7.2: after fldcw with 24-bit precision, divsd
        # of 1532.5 / 10 / 2.54 gives 0x1.e2ad5ap+5 under the emulator and
        # 0x1.e2ad5ab56ad5bp+5 on the processor. The emulator carries the x87
        # precision over into SSE arithmetic, so its result says nothing of
        # the library's.
        raise Skip("the emulator applies the x87 precision control to SSE arithmetic too; "
                   "this check needs a processor (the 64-bit build runs it, and the "
                   "32-bit build where 32-bit programs run natively)")
    base = ctx.work / "x87-precision"
    fixtures = ctx.fixtures(base / "fixtures")
    failures = []
    for file in ("precision.mrk", "multi.mrk"):
        native_out = base / f"native-{file}"
        shutil.rmtree(native_out, ignore_errors=True)
        native = ctx.native_convert(native_out, fixtures / file)
        expected = folder_state(native_out)
        for bits in X87_PRECISIONS:
            ctx.clean_out_folder()
            code, out, err = ctx.wine("lumerca-host.exe", "--x87", bits, win_path(fixtures / file))
            result = parse_host_output(out, err)
            precision = re.search(r"^x87 precision: (\d+) bits$", out, re.M)
            if not precision or int(precision.group(1)) != bits:
                failures.append(f"{file}: the host did not set {bits}-bit precision:\n{out}{err}")
            if result != native:
                failures.append(f"{file} at {bits} bits: DLL gave {result}, native gave {native}")
            got = folder_state(ctx.out_folder)
            if got != expected:
                failures.append(describe_difference(f"{file} at {bits} bits", got, expected))
            print(f"{file} at {bits}-bit x87 precision: {result}, "
                  f"{'same bytes' if got == expected else 'DIFFERENT bytes'}")
    if failures:
        raise Failure("\n".join(failures))


# -- the command-line tool --------------------------------------------------

def cmd_tool(ctx):
    """lumerca-import.exe against the native lumerca-import: the same exit
    status, the same files and the same messages (less the paths) for single
    files, a batch of several files with one that fails, --dump and --svg."""
    ctx.win_binary("lumerca-import.exe")
    emulated = "emulation" in ctx.runner()
    if not Path(ctx.args.native_tool).is_file():
        raise Failure(f"no native lumerca-import at {ctx.args.native_tool} (--native-tool)")
    base = ctx.work / "tool"
    shutil.rmtree(base, ignore_errors=True)
    fixtures = ctx.fixtures(base / "fixtures")
    examples = Path(ctx.args.source) / "examples"
    files = [examples / "blouse.mrk", examples / "jacket.mrk", fixtures / "multi.mrk",
             fixtures / "nopieces.mrk", fixtures / "corrupt.mrk", fixtures / "plain.txt"]

    def both(label, *options, files=(), out_option=True):
        """Runs both tools with `options`, the output folder and `files`;
        returns (exit statuses, stdout, stderr, output trees). Wine's own
        messages (lines beginning "wine:", from helper processes under
        emulation) are left out of the Windows tool's standard error."""
        runs = {}
        for side in ("native", "windows"):
            out = base / label / side
            shutil.rmtree(out, ignore_errors=True)
            out.mkdir(parents=True)
            args = [*options] + (["-o", out if side == "native" else win_path(out)]
                                 if out_option else [])
            args += [f if side == "native" else win_path(f) for f in files]
            if side == "native":
                done = subprocess.run([ctx.args.native_tool, *map(str, args)], capture_output=True,
                                      timeout=WINE_TIMEOUT, cwd=out)
                code, stdout, stderr = (done.returncode,
                                        done.stdout.decode("utf-8", "replace"),
                                        done.stderr.decode("utf-8", "replace"))
            else:
                code, stdout, stderr = ctx.wine("lumerca-import.exe", *args, cwd=out)
                wine_lines = [l for l in stderr.splitlines() if l.startswith("wine:")]
                for line in wine_lines:
                    print(f"{label}: Wine said: {line}")
                stderr = "".join(l for l in stderr.splitlines(keepends=True)
                                 if not l.startswith("wine:"))
            tree = {str(p.relative_to(out)): p.read_bytes()
                    for p in sorted(out.rglob("*")) if p.is_file()}
            runs[side] = (code, normalise_messages(stdout, files, out),
                          normalise_messages(stderr, files, out), tree)
        return runs

    failures = []
    # The batch converts on every processor, unless the emulator runs the
    # Windows tool: its threads crash the emulator (not the tool, which runs
    # them natively), so there both convert one file at a time, which gives
    # the same results.
    batch_options = ["-j", "1"] if emulated else []
    if emulated:
        print("batch: one file at a time (-j 1): threads are not reliable under the emulator")
    cases = [("single", [], files[:1]), ("named", ["--name", "Custom 7.b"], files[1:2]),
             ("batch", batch_options, files)]
    for label, options, inputs in cases:
        runs = both(label, *options, files=inputs)
        native, windows = runs["native"], runs["windows"]
        for index, what in ((0, "exit status"), (1, "standard output"),
                            (2, "standard error"), (3, "files written")):
            if native[index] != windows[index]:
                detail = "" if index == 3 else f": native {native[index]!r}, Windows {windows[index]!r}"
                failures.append(f"{label}: the {what} differs{detail}")
        print(f"{label}: exit {windows[0]}, {len(windows[3])} files"
              + (" (same as native)" if native == windows else ""))

    # --dump prints JSON to standard output (the file named as given: here
    # relative to the folder both run in); --svg writes a picture.
    dump = {}
    for side in ("native", "windows"):
        if side == "native":
            done = subprocess.run([ctx.args.native_tool, "--dump", "jacket.mrk"], cwd=examples,
                                  capture_output=True, timeout=WINE_TIMEOUT)
            dump[side] = (done.returncode, done.stdout.decode("utf-8", "replace"))
        else:
            code, out, _ = ctx.wine("lumerca-import.exe", "--dump", "jacket.mrk", cwd=examples)
            dump[side] = (code, out)
    if dump["native"] != dump["windows"]:
        diff = difflib.unified_diff(dump["native"][1].splitlines(), dump["windows"][1].splitlines(),
                                    "native", "windows", lineterm="", n=0)
        failures.append("--dump differs from the native tool's:\n" + "\n".join(list(diff)[:20]))
    for side in ("native", "windows"):
        svg = base / "svg" / f"{side}.svg"
        svg.parent.mkdir(parents=True, exist_ok=True)
        if side == "native":
            subprocess.run([ctx.args.native_tool, "--svg", str(svg), str(files[1])],
                           capture_output=True, timeout=WINE_TIMEOUT)
        else:
            ctx.wine("lumerca-import.exe", "--svg", win_path(svg), win_path(files[1]))
    native_svg, windows_svg = (base / "svg" / "native.svg"), (base / "svg" / "windows.svg")
    if not windows_svg.is_file() or native_svg.read_bytes() != windows_svg.read_bytes():
        failures.append("--svg differs from the native tool's picture")
    print(f"--dump and --svg: {'same' if not failures else 'see failures'}")

    # The report is UTF-8 on Windows too: a name out of ASCII is written from
    # its UTF-16 name, not in the ANSI code page.
    named = base / "report" / "caf\u00e9.mrk"
    named.parent.mkdir(parents=True, exist_ok=True)
    shutil.copyfile(files[0], named)
    report = base / "report" / "report.csv"
    code, _, err = ctx.wine("lumerca-import.exe", *batch_options, "-q", "-o", win_path(base / "report" / "out"),
                            "--report", win_path(report), win_path(named), win_path(files[5]))
    text = report.read_bytes() if report.is_file() else b""
    utf8 = named.name.encode() in text
    if code != 1 or not utf8:
        failures.append(f"report: exit {code}, the name not in UTF-8:\n{text!r}\n{err}")
    print(f"report: the name {'in UTF-8' if utf8 else 'not in UTF-8'}")
    if failures:
        raise Failure("\n".join(failures))


def normalise_messages(text, files, out):
    """A tool's messages with paths of either system written one way: the
    output folder as <out>, each file as <its name>."""
    text = text.replace("\r\n", "\n")
    for path, shown in [(out, "out")] + [(f, Path(f).name) for f in files]:
        text = text.replace(win_path(path), f"<{shown}>")
        text = text.replace(str(path), f"<{shown}>")
    return text.replace("\\", "/")


# -- fuzz replay --------------------------------------------------------------

def cmd_fuzz_replay(ctx):
    target = ctx.args.target
    if target is None:
        raise Failure("fuzz-replay needs the name of a fuzz target")
    exe = f"{target}_replay.exe"
    ctx.win_binary(exe)
    ctx.runner()
    fuzz = Path(ctx.args.source) / "fuzz"
    folders = [fuzz / "corpus" / target] + [f for f in [fuzz / "regressions" / target] if f.is_dir()]
    code, out, err = ctx.wine(exe, *map(win_path, folders))
    if code != 0:
        raise Failure(f"{exe} failed ({code}):\n{out}{err[-4000:]}")
    # Every input of the folders was replayed, none passed over.
    inputs = sum(1 for folder in folders for f in folder.iterdir() if f.is_file()
                 and not f.name.startswith("."))
    replayed = re.search(r"(\d+) inputs? replayed", out + err)
    if not replayed or int(replayed.group(1)) != inputs:
        raise Failure(f"{exe} replayed {replayed.group(1) if replayed else 'no'} inputs of {inputs}:"
                      f"\n{out}{err[-4000:]}")
    print(f"{exe}: {inputs} inputs replayed")


# -- fault checks -----------------------------------------------------------

def cmd_fault_checks(ctx):
    ctx.runner()
    work = ctx.work / "fault-checks"
    shutil.rmtree(work, ignore_errors=True)
    work.mkdir(parents=True)
    failures = []
    for check in ("input", "commit", "dead"):
        code, out, err = ctx.wine("lumerca-fault-checks.exe", check, win_path(work / check))
        print(out, end="")
        if code != 0:
            failures.append(f"lumerca-fault-checks {check} failed ({code}):\n{out}{err}")
    if failures:
        raise Failure("\n".join(failures))


COMMANDS = {
    "setup": cmd_setup,
    "fault-checks": cmd_fault_checks,
    "runner": cmd_runner,
    "convert": cmd_convert,
    "storage": cmd_storage,
    "storage-name-order": cmd_storage_name_order,
    "sharing": cmd_sharing,
    "long-path": cmd_long_path,
    "threads": cmd_threads,
    "pe-image": cmd_pe_image,
    "hostile-containers": cmd_hostile_containers,
    "x87-precision": cmd_x87_precision,
    "tool": cmd_tool,
    "fuzz-replay": cmd_fuzz_replay,
    "shape-costs": cmd_shape_costs,
}


def main():
    root = Path(__file__).resolve().parents[2]
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("command", choices=sorted(COMMANDS))
    parser.add_argument("target", nargs="?", help="the fuzz target of fuzz-replay")
    parser.add_argument("--bits", type=int, choices=(32, 64), default=64)
    # The defaults are the presets' build folders, as CTest passes them.
    parser.add_argument("--build", default=str(root / "build"),
                        help="the native build folder (default build/), for the defaults below")
    parser.add_argument("--win-bin", help="default build-win32/bin or build-win64/bin")
    parser.add_argument("--work", help="default BUILD/tests/wine/workBITS")
    parser.add_argument("--prefix", help="default BUILD/tests/wine/prefix")
    parser.add_argument("--wine", default=str(root / "scripts" / "wine"), help="scripts/wine")
    parser.add_argument("--objdump")
    for option in ("fixtures", "native-convert", "native-list", "native-tool", "hostile"):
        parser.add_argument(f"--{option}")
    parser.add_argument("--source", default=str(root),
                        help="the source tree (fuzz corpora, examples)")
    parser.add_argument("--sizes", help="shape-costs: the sizes to measure, as fractions of each "
                        "shape's size in the catalogue (default 1/16,1/8,1/4,1/2,1)")
    args = parser.parse_args()
    build = Path(args.build)
    bin_dir = build / "bin"
    defaults = {
        "win_bin": root / f"build-win{args.bits}" / "bin",
        "work": build / "tests" / "wine" / f"work{args.bits}",
        "prefix": build / "tests" / "wine" / "prefix",
        "objdump": ("i686" if args.bits == 32 else "x86_64") + "-w64-mingw32-objdump",
        "fixtures": bin_dir / "lumerca-wine-fixtures",
        "native_convert": bin_dir / "lumerca-wine-native-convert",
        "native_list": bin_dir / "lumerca-wine-stg-list",
        "native_tool": bin_dir / "lumerca-import",
        "hostile": bin_dir / "lumerca-wine-hostile",
    }
    for name, value in defaults.items():
        if getattr(args, name) is None:
            setattr(args, name, str(value))
    try:
        COMMANDS[args.command](Context(args))
    except Skip as skip:
        print(f"SKIPPED: {skip}")
        return SKIPPED
    except Failure as failure:
        print(f"FAILED: {failure}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
