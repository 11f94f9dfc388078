#!/usr/bin/env bash
# Runs every test: the native release build (the Windows DLL under Wine
# included), then the whole suite again under AddressSanitizer and
# UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)

./scripts/setup.sh

cmake --preset win32 >/dev/null
cmake --build --preset win32 -j "$jobs"

cmake --preset release >/dev/null
cmake --build --preset release -j "$jobs"
ctest --preset release -j "$jobs"

cmake --preset debug >/dev/null
cmake --build --preset debug -j "$jobs"
ctest --preset debug -j "$jobs" -LE wine

# Each libFuzzer target for a minute on top of the committed corpus (Clang,
# AddressSanitizer, UndefinedBehaviorSanitizer); any finding fails the run.
./scripts/fuzz.sh
