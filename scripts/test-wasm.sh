#!/usr/bin/env bash
# The page and its browser tests: installs emscripten and Chromium
# (scripts/setup-wasm.sh), builds the page (cmake --preset wasm, into
# build-wasm/page/), then builds what the tests run beside it in the native
# release build and runs the browser tests (ctest -L browser).
#
#   scripts/test-wasm.sh           all of it
#   scripts/test-wasm.sh --build   the packages and the page only (scripts/test.sh
#                                  runs the browser tests with the native suite)
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)

./scripts/setup-wasm.sh
cmake --preset wasm >/dev/null
cmake --build --preset wasm -j "$jobs"
[ "${1:-}" = --build ] && exit 0

cmake --preset release >/dev/null
cmake --build --preset release -j "$jobs" --target lumerca-import lumerca-browser-fixtures lumerca-bench
ctest --preset release -L browser
