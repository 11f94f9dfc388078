"""Fixtures of the lumerca_marker tests: the project's programs (from the
environment that the CTest test sets), the markers they write, and the
command-line tool's output to compare with.

LUMERCA_IMPORT       lumerca-import, the command-line tool
LUMERCA_FIXTURES     lumerca-wine-fixtures, which writes the shared fixtures
LUMERCA_HOSTILE      lumerca-wine-hostile, which writes the hostile catalogue
LUMERCA_BENCH        lumerca-bench, whose --generate writes synthetic markers
LUMERCA_SOURCE_DIR   the project's checkout (default: two folders up)

A test whose program is not given is skipped, saying which.
"""

import csv
import math
import os
import subprocess
from pathlib import Path

import pytest

import lumerca_marker as lm

SOURCE_DIR = Path(os.environ.get("LUMERCA_SOURCE_DIR", Path(__file__).resolve().parents[2]))
EXAMPLES = sorted((SOURCE_DIR / "examples").glob("*.mrk"))

# The exception of each status of the tool's report.
STATUS_ERRORS = {
    "cannot open": lm.CannotOpenError,
    "damaged": lm.DamagedError,
    "no pieces": lm.NoPiecesError,
    "corrupt index": lm.CorruptIndexError,
    "output failed": lm.OutputFailedError,
}

# Synthetic markers of lumerca-bench --generate: (stem, arguments), from a few
# pieces to some thousands, with long names, many halfs, no cut lines.
GENERATED = [
    ("small", ["--seed", "1", "--pieces", "3", "--sizes", "1", "--classes", "2", "--croixes", "3",
               "--halfs", "0", "--cuts", "1", "--splits", "1"]),
    ("default", ["--seed", "2"]),
    ("long-names", ["--seed", "3", "--long-names"]),
    ("many-halfs", ["--seed", "4", "--pieces", "200", "--halfs", "150", "--cuts", "40"]),
    ("no-cuts", ["--seed", "5", "--pieces", "120", "--cuts", "0"]),
    ("many-sizes", ["--seed", "6", "--pieces", "900", "--sizes", "120", "--classes", "40",
                    "--croixes", "900", "--cuts", "300", "--splits", "12"]),
    ("wide", ["--seed", "7", "--pieces", "3000", "--sizes", "30", "--classes", "300",
              "--croixes", "2000", "--halfs", "100", "--cuts", "1000", "--splits", "20"]),
    ("many-splits", ["--seed", "8", "--pieces", "16", "--cuts", "8", "--splits", "5000"]),
]


def program(variable):
    value = os.environ.get(variable)
    if not value:
        pytest.skip("%s is not set: run the tests through CTest (ctest -L python)" % variable)
    return value


def run(command, **kwargs):
    return subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE, check=False,
                          **kwargs)


@pytest.fixture(scope="session")
def tool():
    """Runs lumerca-import: tool(marker, out, *options) -> CompletedProcess."""
    path = program("LUMERCA_IMPORT")

    def convert(marker, out, *options):
        return run([path, "-q", "-o", str(out), *options, str(marker)])

    return convert


@pytest.fixture(scope="session")
def fixtures_dir(tmp_path_factory):
    out = tmp_path_factory.mktemp("fixtures")
    result = run([program("LUMERCA_FIXTURES"), str(out)])
    assert result.returncode == 0, result.stderr
    return out


@pytest.fixture(scope="session")
def hostile_dir(tmp_path_factory):
    """The hostile catalogue's files, and the case names in order."""
    out = tmp_path_factory.mktemp("hostile")
    result = run([program("LUMERCA_HOSTILE"), str(out)])
    assert result.returncode == 0, result.stderr
    names = result.stdout.decode().split()
    assert len(names) > 40
    return out


@pytest.fixture(scope="session")
def generated_dir(tmp_path_factory):
    out = tmp_path_factory.mktemp("generated")
    bench = program("LUMERCA_BENCH")
    for stem, arguments in GENERATED:
        result = run([bench, "--generate", str(out / (stem + ".mrk")), *arguments])
        assert result.returncode == 0, result.stderr
    return out


@pytest.fixture(scope="session")
def importable(fixtures_dir, generated_dir):
    """Every marker that the tool imports: the examples, the shared fixtures
    and the generated ones."""
    files = list(EXAMPLES)
    files += [fixtures_dir / name for name in ("blouse.mrk", "multi.mrk", "precision.mrk")]
    files += sorted(generated_dir.glob("*.mrk"))
    assert len(EXAMPLES) >= 2
    return files


def tool_report(tool, folder, out, *options):
    """The tool's report on every file of folder: {file name: (status, reason)}."""
    report = out / "report.csv"
    result = tool(folder, out / "files", "--report", str(report), *options)
    assert result.returncode in (0, 1), result.stderr
    with open(report, newline="", encoding="utf-8") as f:
        return {os.path.basename(row["path"]): (row["status"], row["reason"])
                for row in csv.DictReader(f)}


def tool_files(tool, marker, out, *options):
    """The two files that lumerca-import writes for marker, or the process."""
    result = tool(marker, out, *options)
    assert result.returncode == 0, result.stderr.decode(errors="replace")
    return {name: (out / name).read_bytes() for name in ("csvimprt.txt", "posimport.txt")}


# The Windows runtime's texts of infinities and NaNs in the position file.
SPECIAL = {"1.#INF00": math.inf, "-1.#INF00": -math.inf, "-1.#IND00": math.nan,
           "1.#IND00": math.nan, "1.#QNAN0": math.nan, "-1.#QNAN0": math.nan,
           "1.#SNAN0": math.nan, "-1.#SNAN0": math.nan}


def number(text):
    return SPECIAL[text] if text in SPECIAL else float(text)


def position_lines(posimport):
    """The position file as [(fields of a piece line, [cut line fields])]."""
    pieces = []
    lines = posimport.split(b"\r\n")
    assert lines[-1] == b""
    i = 0
    while i < len(lines) - 1:
        fields = lines[i].rsplit(b",", 9)
        count = int(fields[-1])
        cuts = [lines[i + 1 + k].split(b",") for k in range(count)]
        pieces.append((fields, cuts))
        i += 1 + count
    return pieces
