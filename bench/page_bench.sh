#!/usr/bin/env bash
# The page's benchmark in headless Chromium (figures, not a test verdict):
# opens a marker of about 10 MB generated with the benchmark ladder's shape
# (rung 7 of lumerca-bench with 400 .CUTS streams of 1,024 splits) through the
# file chooser, and says how long it takes to be opened and drawn, how long
# the page keeps input waiting meanwhile, and how long the WebAssembly read,
# write and picture take against the native ones on the same bytes
# (lumerca-bench-memory).
#
#   bench/page_bench.sh [BUILD_DIR]     (default: build; the page: build-wasm/page)
#
# Needs the native release build (lumerca-bench, lumerca-bench-memory), the
# page (cmake --preset wasm) and Chromium (scripts/setup-wasm.sh). Node.js
# packages, npm's cache and the browser's profile go under BUILD_DIR/page-bench.
set -euo pipefail
source_dir=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$source_dir/build}
work=$build/page-bench
page=${PAGE_DIR:-$source_dir/build-wasm/page}
mkdir -p "$work/home"
export HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" XDG_CACHE_HOME="$work/home/.cache"
export npm_config_cache="$work/npm-cache" npm_config_update_notifier=false npm_config_fund=false
export npm_config_audit=false PUPPETEER_SKIP_DOWNLOAD=1
if ! cmp -s "$source_dir/tests/browser/package-lock.json" "$work/package-lock.json" ||
   [ ! -d "$work/node_modules/puppeteer-core" ]; then
  cp "$source_dir/tests/browser/package.json" "$source_dir/tests/browser/package-lock.json" "$work/"
  (cd "$work" && npm ci --no-audit --no-fund --loglevel=error)
fi
cp "$source_dir/tests/browser/harness.mjs" "$source_dir/bench/page_bench.mjs" "$work/"

marker=$work/ladder-10mb.mrk
[ -f "$marker" ] || "$build/bin/lumerca-bench" --generate "$marker" --seed 1 --pieces 2047 --sizes 1023 \
  --classes 1023 --croixes 1023 --halfs 255 --styles 127 --cuts 400 --splits 1024 --long-names
native=$("$build/bin/lumerca-bench-memory" "$marker" 5)
cd "$work"
PAGE_DIR=$page MARKER=$marker NATIVE=$native WORK=$work node page_bench.mjs
