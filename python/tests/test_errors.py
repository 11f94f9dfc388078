"""Each failure raises its own exception, with the reason and the
diagnostics, on the files of the hostile catalogue as the tool reports them."""

import os
import subprocess
import sys

import pytest

import lumerca_marker as lm
from conftest import EXAMPLES, STATUS_ERRORS, tool_report



def test_the_hostile_catalogue_as_the_tool_reports_it(hostile_dir, fixtures_dir, tool, tmp_path):
    files = sorted(hostile_dir.glob("*.mrk")) + [fixtures_dir / n for n in
                                                ("nopieces.mrk", "corrupt.mrk", "plain.txt")]
    report = tool_report(tool, hostile_dir, tmp_path / "hostile")
    report.update(tool_report(tool, fixtures_dir, tmp_path / "fixtures"))
    seen = set()
    for marker_path in files:
        status, reason = report[marker_path.name]
        seen.add(status)
        out = tmp_path / "out" / marker_path.name
        out.mkdir(parents=True)
        if status == "imported":
            assert lm.convert(marker_path, out).pieces > 0
            assert lm.read(marker_path).ok
            continue
        cls = STATUS_ERRORS[status]
        with pytest.raises(cls) as caught:
            lm.convert(marker_path, out)
        error = caught.value
        assert isinstance(error, lm.MarkerError) and error.status == status
        assert error.source == str(marker_path)
        # The report's reason is the status's text with the detail, which the
        # exception gives.
        assert error.reason and error.reason in reason, (marker_path.name, reason)
        assert not list(out.iterdir()), "nothing is written"
        assert all(isinstance(d, lm.Diagnostic) and d.kind != "import failed"
                   for d in error.diagnostics)

        if status in ("cannot open", "damaged"):
            with pytest.raises(cls) as caught:
                lm.read(marker_path)
            assert caught.value.reason == error.reason
            with pytest.raises(cls):
                lm.read(marker_path.read_bytes())
        else:
            # Read whole, for those who want to look at it; it cannot be written.
            marker = lm.read(marker_path)
            assert not marker.ok and marker.problem.startswith(status)
            assert status in repr(marker)
            marker.to_pandas()
            with pytest.raises(cls):
                marker.files()
            with pytest.raises(cls):
                marker.write(out)
            assert not list(out.iterdir())
    assert seen == {"imported", "cannot open", "damaged", "no pieces", "corrupt index"}


def test_a_damaged_marker_says_how_to_salvage_it(hostile_dir):
    marker_path = hostile_dir / "stream-chain-loop-3.mrk"
    with pytest.raises(lm.DamagedError) as caught:
        lm.read(marker_path)
    error = caught.value
    assert error.salvage == "the 23"
    assert "PIECES" in error.reason and "holds 23 of its 60 pieces" in error.reason
    assert str(error).startswith(str(marker_path) + ": ")
    assert str(error).endswith("read(..., salvage=True) keeps the 23")
    assert "--salvage" not in str(error)
    with pytest.raises(lm.DamagedError) as caught:
        lm.convert(marker_path, hostile_dir)
    assert str(caught.value).endswith("convert(..., salvage=True) keeps the 23")

    marker = lm.read(marker_path, salvage=True)
    assert marker.ok and marker.piece_count == 23
    damage = [d for d in marker.warnings if d.kind == "stream damaged"]
    assert damage and damage[0].path == "PIECES"
    assert "salvage=True" not in str(damage[0])


def test_memory_running_out_raises_memory_error(generated_dir, tmp_path):
    # In a process whose address space ends a little above what it uses, a
    # marker whose model needs more fails with MemoryError, and the process
    # goes on.
    big = tmp_path / "big.mrk"
    result = subprocess.run([os.environ.get("LUMERCA_BENCH") or pytest.skip("LUMERCA_BENCH is not set"),
                             "--generate", str(big), "--pieces", "64", "--cuts", "64",
                             "--splits", "32767"], capture_output=True)
    assert result.returncode == 0, result.stderr
    script = r"""
import resource, sys
import lumerca_marker as lm
import pandas  # loaded before the limit
def used():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[0]) * resource.getpagesize()
soft, hard = resource.getrlimit(resource.RLIMIT_AS)
limit = used() + 64 * 2**20
resource.setrlimit(resource.RLIMIT_AS, (limit, hard))
try:
    lm.read(sys.argv[1])
except MemoryError as error:
    print("MemoryError:", error)
else:
    print("read")
resource.setrlimit(resource.RLIMIT_AS, (soft, hard))
print(lm.read(sys.argv[2]).name)
"""
    result = subprocess.run([sys.executable, "-c", script, str(big), str(EXAMPLES[0])],
                            capture_output=True, text=True)
    assert result.returncode == 0, result.stderr
    lines = result.stdout.splitlines()
    assert lines[0].startswith("MemoryError"), result.stdout
    assert lines[-1] == lm.read(EXAMPLES[0]).name
