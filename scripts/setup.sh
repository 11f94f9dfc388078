#!/usr/bin/env bash
# Installs, once, the Debian packages that the native build (library, tools,
# tests and benchmarks) needs. The Windows builds and Wine come with
# scripts/setup-windows.sh, which scripts/test.sh runs.
set -euo pipefail
source "$(dirname "$0")/apt.sh"

packages=(
  cmake ninja-build g++ clang libclang-rt-14-dev    # native build, fuzzers
  libgtest-dev libgmock-dev libbenchmark-dev        # tests and benchmarks
  libicu-dev libcli11-dev nlohmann-json3-dev        # code pages, command line, JSON dump
  locales                                           # a decimal-comma locale for the tests
  python3-olefile                                   # an independent compound-file reader
  libgsf-bin libgsf-1-dev                           # the reference reader of the benchmarks
  librsvg2-bin libtinyxml2-dev                      # the marker picture and its check
  pkgconf dpkg-dev file                             # the packages and their users' builds
)
apt_install "${packages[@]}"

# de_DE.UTF-8 uses a decimal comma: the tests convert under it.
if ! locale -a 2>/dev/null | grep -qi '^de_DE\.utf-\?8$'; then
  as_root sed -i 's/^# *de_DE.UTF-8 UTF-8/de_DE.UTF-8 UTF-8/' /etc/locale.gen
  grep -q '^de_DE.UTF-8 UTF-8' /etc/locale.gen || echo 'de_DE.UTF-8 UTF-8' | as_root tee -a /etc/locale.gen >/dev/null
  as_root locale-gen >/dev/null
fi
echo "setup: the native build's packages are present"
