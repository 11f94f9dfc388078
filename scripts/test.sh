#!/usr/bin/env bash
# Runs every test: the native release build with the Windows builds under Wine
# (the whole Wine suite against the 64-bit build, the 32-bit DLL's conversion
# tests under emulation where the kernel runs no 32-bit code), then the whole
# native suite again under AddressSanitizer and UndefinedBehaviorSanitizer,
# then each fuzz target for a minute.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)

./scripts/setup.sh
./scripts/setup-python.sh
./scripts/setup-windows.sh

for preset in win32 win64; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
done

cmake --preset release >/dev/null
cmake --build --preset release -j "$jobs"
echo "Windows test runners (tests wine32.* and wine64.*):"
scripts/wine --describe | sed 's/^/  /'
status=0
ctest --preset release -j "$jobs" || status=$?
echo "Windows tests, each with its runner:"
scripts/wine-summary.sh build
[ "$status" -eq 0 ] || exit "$status"

cmake --preset debug >/dev/null
cmake --build --preset debug -j "$jobs"
ctest --preset debug -j "$jobs" -LE wine

# Each libFuzzer target for a minute on top of the committed corpus (Clang,
# AddressSanitizer, UndefinedBehaviorSanitizer); any finding fails the run.
./scripts/fuzz.sh
