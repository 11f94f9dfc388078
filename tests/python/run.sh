#!/usr/bin/env bash
# The Python package's tests, as its users install it: a virtual environment
# made by Debian's interpreter with --system-site-packages, the package
# installed into it by pip from python/ with --no-build-isolation and
# PIP_NO_INDEX=1, then its pytest suite.
#
#   run.sh test  SOURCE_DIR WORK [NAME=VALUE...]
#       installs python/, linking the library archive that
#       LUMERCA_MARKER_LIBRARY names (the build's own objects, nothing
#       compiled twice), and runs the pytest suite; NAME=VALUE are exported
#       for the tests (the programs of the build, see python/tests/conftest.py)
#   run.sh wheel SOURCE_DIR WORK [NAME=VALUE...]
#       makes a wheel with `pip wheel` as from a fresh checkout (setup.py
#       builds the library with CMake; its build folder stays in WORK/cmake
#       between runs), installs it into another fresh environment and
#       converts a sample with it
#
# Everything is written under WORK: the environments, pip's temporary
# folders, the build, the tests' files, a HOME of its own. The HOME must stay
# empty (nothing is written under a home folder), or the test fails. Exits 77
# (skipped), saying why, when Debian's Python packages are missing.
set -euo pipefail

mode=$1 source_dir=$2 work=$3
shift 3
for assignment in "$@"; do export "${assignment?}"; done

python=/usr/bin/python3
skip() {
  echo "lumerca-test-skipped: $* (scripts/setup-python.sh installs Debian's Python packages)"
  exit 77
}
[ -x "$python" ] || skip "no Debian interpreter at $python"
modules="venv ensurepip setuptools wheel pybind11 numpy pandas pytest"
missing=$("$python" - $modules <<'EOF'
import importlib.util, sys
print(" ".join(m for m in sys.argv[1:] if importlib.util.find_spec(m) is None))
EOF
)
[ -z "$missing" ] || skip "Debian's Python lacks: $missing"

# A fresh tree for this run (the wheel's CMake build folder is kept).
mkdir -p "$work"
find "$work" -mindepth 1 -maxdepth 1 ! -name cmake -exec rm -rf {} +
mkdir -p "$work/home" "$work/tmp" "$work/pycache" "$work/setuptools"
export HOME=$work/home TMPDIR=$work/tmp
# Debian's programs only: not another Python first on the PATH, nor programs
# of other toolchains that pip probes (a rustup proxy writes into HOME).
export PATH=/usr/sbin:/usr/bin:/sbin:/bin
unset XDG_CACHE_HOME XDG_CONFIG_HOME XDG_DATA_HOME PYTHONUSERBASE
# No package index, no other source of packages, no configuration of pip's
# from the machine or the user.
unset PIP_FIND_LINKS PIP_INDEX_URL PIP_EXTRA_INDEX_URL
export PIP_CONFIG_FILE=/dev/null PIP_NO_INDEX=1 PIP_NO_CACHE_DIR=1 PIP_DISABLE_PIP_VERSION_CHECK=1 PIP_NO_INPUT=1
export PYTHONPYCACHEPREFIX=$work/pycache PYTHONDONTWRITEBYTECODE=1
# setuptools' build folders and the package's metadata go here, not into
# the checkout.
cat >"$work/setup.cfg" <<EOF
[build]
build_base = $work/setuptools
[egg_info]
egg_base = $work/setuptools
EOF
export DIST_EXTRA_CONFIG=$work/setup.cfg

check_home() {
  if [ -n "$(find "$HOME" -mindepth 1 -print -quit)" ]; then
    echo "FAILED: files were written under the home folder:"
    find "$HOME" -mindepth 1 | sed 's/^/  /'
    exit 1
  fi
}

started=$(date +%s)
step() { echo "== $* ($(($(date +%s) - started)) s)"; }

case $mode in
  test)
    step "virtual environment"
    "$python" -m venv --system-site-packages "$work/venv"
    step "pip install --no-build-isolation python/"
    "$work/venv/bin/pip" install --no-build-isolation "$source_dir/python" >"$work/install.log" 2>&1 ||
      { cat "$work/install.log"; exit 1; }
    step "pytest"
    cd "$work/tmp"
    status=0
    # (pytz, under pandas, has an invalid escape sequence of its own.)
    "$work/venv/bin/python" -m pytest -p no:cacheprovider -q --basetemp "$work/pytest" \
      -W "ignore:invalid escape sequence:DeprecationWarning" \
      "$source_dir/python/tests" || status=$?
    step "done"
    check_home
    exit "$status"
    ;;
  wheel)
    # The build's library is not used: setup.py builds its own.
    unset LUMERCA_MARKER_LIBRARY
    export CMAKE_BUILD_PARALLEL_LEVEL=${CMAKE_BUILD_PARALLEL_LEVEL:-2}
    cat >"$work/setup.cfg" <<EOF
[build]
build_base = $work/setuptools
build_temp = $work/cmake
[egg_info]
egg_base = $work/setuptools
EOF
    step "pip wheel --no-build-isolation python/ (the library built with CMake)"
    "$python" -m venv --system-site-packages "$work/build-venv"
    "$work/build-venv/bin/pip" wheel --no-build-isolation --no-deps -w "$work/dist" \
      "$source_dir/python" >"$work/wheel.log" 2>&1 || { cat "$work/wheel.log"; exit 1; }
    wheel=$(ls "$work"/dist/lumerca_marker-*.whl)
    step "install $(basename "$wheel") into a fresh environment"
    "$python" -m venv --system-site-packages "$work/venv"
    "$work/venv/bin/pip" install "$wheel" >"$work/install.log" 2>&1 ||
      { cat "$work/install.log"; exit 1; }
    step "check"
    cd "$work/tmp"
    "$work/venv/bin/python" - "$wheel" "$source_dir/examples/blouse.mrk" "$work/out" "$LUMERCA_IMPORT" <<'EOF'
import os, subprocess, sys, zipfile
wheel, sample, out, tool = sys.argv[1:]
names = zipfile.ZipFile(wheel).namelist()
for wanted in ("lumerca_marker/__init__.py", "lumerca_marker/py.typed", "lumerca_marker/_core.pyi"):
    assert wanted in names, "the wheel lacks " + wanted
core = [n for n in names if n.startswith("lumerca_marker/_core.") and n.endswith(".so")]
assert len(core) == 1, names
import lumerca_marker
assert os.path.dirname(lumerca_marker.__file__).startswith(sys.prefix), lumerca_marker.__file__
# The library is inside the extension: it needs no lumerca shared library.
linked = subprocess.run(["ldd", lumerca_marker._core.__file__], capture_output=True, text=True).stdout
assert "lumerca" not in linked, linked
os.makedirs(out + "/package")
lumerca_marker.convert(sample, out + "/package")
subprocess.run([tool, "-q", "-o", out + "/tool", sample], check=True)
for name in ("csvimprt.txt", "posimport.txt"):
    with open(out + "/package/" + name, "rb") as a, open(out + "/tool/" + name, "rb") as b:
        assert a.read() == b.read(), name + " differs from lumerca-import's"
print("the wheel installs, holds the library and converts as lumerca-import does")
EOF
    step "done"
    check_home
    ;;
  *)
    echo "usage: run.sh test|wheel SOURCE_DIR WORK [NAME=VALUE...]" >&2
    exit 2
    ;;
esac
