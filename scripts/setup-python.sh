#!/usr/bin/env bash
# Installs, once, the Debian packages that the Python package lumerca_marker
# (python/) is built, installed and tested with: Debian's interpreter and its
# headers, venv and pip, setuptools and wheel, pybind11, numpy and pandas,
# pytest, and Dask with its distributed scheduler. Everything comes from
# Debian: the package builds and installs with PIP_NO_INDEX=1.
set -euo pipefail
source "$(dirname "$0")/apt.sh"

packages=(
  python3 python3-dev python3-venv python3-pip      # Debian's interpreter, headers, venv, pip
  python3-setuptools python3-wheel python3-pybind11 # the build: setup.py, the wheel, the binding
  python3-numpy python3-pandas                      # the tables as arrays and frames
  python3-pytest                                    # the tests
  python3-dask python3-distributed                  # archives on a cluster
)
apt_install "${packages[@]}"
echo "setup: the Python package's packages are present"
