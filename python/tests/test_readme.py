"""The README's Python examples run as written, and print what they say."""

import os
import re
import subprocess
import sys

import pytest

from conftest import EXAMPLES, SOURCE_DIR


def python_blocks():
    readme = (SOURCE_DIR / "README.md").read_text(encoding="utf-8")
    blocks = re.findall(r"^```python\n(.*?)^```", readme, flags=re.M | re.S)
    assert len(blocks) == 3  # a marker, an archive on threads, an archive on a LocalCluster
    return blocks


def run_block(block, folder):
    result = subprocess.run([sys.executable, "-c", block], cwd=folder, capture_output=True, text=True)
    assert result.returncode == 0, result.stderr
    return result


def test_the_readme_example(tmp_path):
    block = python_blocks()[0]
    os.symlink(SOURCE_DIR / "examples", tmp_path / "examples")
    result = run_block(block, tmp_path)
    # The comment after print(marker) is what it prints.
    shown = re.search(r"^print\(marker\)\s+# (.*)$", block, flags=re.M).group(1)
    assert result.stdout.splitlines()[0] == shown
    assert sorted(p.name for p in (tmp_path / "out").iterdir()) == ["csvimprt.txt", "posimport.txt"]


def test_the_readme_archive_examples(tmp_path):
    _, threads, cluster = python_blocks()
    os.symlink(SOURCE_DIR / "examples", tmp_path / "markers")
    result = run_block(threads, tmp_path)
    assert re.search(r"^imported\s+%d$" % len(EXAMPLES), result.stdout, flags=re.M), result.stdout
    folders = sorted(p.name for p in (tmp_path / "converted").iterdir())
    assert folders == sorted(p.stem for p in EXAMPLES)
    pytest.importorskip("distributed", reason="Debian's python3-distributed is missing")
    run_block(cluster, tmp_path)
    assert sorted(p.name for p in (tmp_path / "converted-on-cluster").iterdir()) == folders
    assert (tmp_path / "report.csv").read_text().count("imported") == len(EXAMPLES)
