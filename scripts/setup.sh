#!/usr/bin/env bash
# Installs, once, every Debian package that the build and the tests need.
set -euo pipefail

packages=(
  cmake ninja-build g++ clang libclang-rt-14-dev    # native build, fuzzers
  libgtest-dev libgmock-dev libbenchmark-dev         # tests and benchmarks
  libicu-dev libcli11-dev nlohmann-json3-dev         # code pages, command line, JSON dump
  libcsv-dev                                         # the CSV report of the command-line tool
  locales                                            # a decimal-comma locale for the tests
  mingw-w64 g++-mingw-w64-i686-posix                 # the 32-bit Windows DLL
  wine wine32                                        # running it
  python3-olefile                                    # an independent compound-file reader
  libgsf-bin libgsf-1-dev                            # the reference reader of the benchmarks
  librsvg2-bin libtinyxml2-dev                       # the marker picture and its check
)

sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  "${sudo_cmd[@]}" dpkg --add-architecture i386
  updated=no
fi

missing=()
for p in "${packages[@]}"; do
  arch_p=$p
  [ "$p" = wine32 ] && arch_p=wine32:i386
  dpkg-query -W -f='${Status}' "$arch_p" 2>/dev/null | grep -q "install ok installed" || missing+=("$arch_p")
done
if [ "${#missing[@]}" -gt 0 ] || [ "${updated:-}" = no ]; then
  "${sudo_cmd[@]}" apt-get update -qq
  [ "${#missing[@]}" -eq 0 ] || DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq "${missing[@]}"
fi

# de_DE.UTF-8 uses a decimal comma: the tests convert under it.
if ! locale -a 2>/dev/null | grep -qi '^de_DE\.utf-\?8$'; then
  "${sudo_cmd[@]}" sed -i 's/^# *de_DE.UTF-8 UTF-8/de_DE.UTF-8 UTF-8/' /etc/locale.gen
  grep -q '^de_DE.UTF-8 UTF-8' /etc/locale.gen || echo 'de_DE.UTF-8 UTF-8' | "${sudo_cmd[@]}" tee -a /etc/locale.gen >/dev/null
  "${sudo_cmd[@]}" locale-gen >/dev/null
fi
echo "setup: all packages present"
