"""The README's Python example runs as written, and prints what it says."""

import os
import re
import subprocess
import sys

from conftest import SOURCE_DIR


def test_the_readme_example(tmp_path):
    readme = (SOURCE_DIR / "README.md").read_text(encoding="utf-8")
    blocks = re.findall(r"^```python\n(.*?)^```", readme, flags=re.M | re.S)
    assert len(blocks) == 1
    os.symlink(SOURCE_DIR / "examples", tmp_path / "examples")
    result = subprocess.run([sys.executable, "-c", blocks[0]], cwd=tmp_path, capture_output=True,
                            text=True)
    assert result.returncode == 0, result.stderr
    # The comment after print(marker) is what it prints.
    shown = re.search(r"^print\(marker\)\s+# (.*)$", blocks[0], flags=re.M).group(1)
    assert result.stdout.splitlines()[0] == shown
    assert sorted(p.name for p in (tmp_path / "out").iterdir()) == ["csvimprt.txt", "posimport.txt"]
