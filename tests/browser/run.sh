#!/usr/bin/env bash
# The page's browser tests (CTest runs this as browser.page):
#
#   run.sh PAGE_DIR WORK_DIR LUMERCA_IMPORT FIXTURE_WRITER [LUMERCA_BENCH]
#
# Exits 77 (skipped), saying why, when Chromium, Node.js, npm, the page or
# the tool are missing. npm's cache, the packages, the browser's profile and
# every home-folder file go under WORK_DIR.
set -euo pipefail
page=$1 work=$2 tool=${3:-} fixtures_writer=$4 bench=${5:-}
here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(cd "$here/../.." && pwd)
chromium=${CHROMIUM:-/usr/bin/chromium}

skip() {
  echo "SKIPPED: $*"
  exit 77
}
[ -x "$chromium" ] || skip "no Chromium at $chromium (scripts/setup-wasm.sh installs Debian's chromium)"
command -v node >/dev/null || skip "no Node.js"
command -v npm >/dev/null || skip "no npm"
[ -f "$page/index.html" ] && [ -f "$page/lumerca.wasm" ] ||
  skip "the page is not built in $page (cmake --preset wasm && cmake --build --preset wasm; scripts/test-wasm.sh does it)"
[ -n "$tool" ] && [ -x "$tool" ] || skip "lumerca-import is not built (LUMERCA_BUILD_TOOLS)"

mkdir -p "$work/home"
export HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" XDG_CACHE_HOME="$work/home/.cache"
export npm_config_cache="$work/npm-cache" npm_config_userconfig="$work/npmrc"
export npm_config_update_notifier=false npm_config_fund=false npm_config_audit=false
export PUPPETEER_SKIP_DOWNLOAD=1

# puppeteer-core as the lock file pins it, installed again only when it changes.
if ! cmp -s "$here/package-lock.json" "$work/package-lock.json" || [ ! -d "$work/node_modules/puppeteer-core" ]; then
  cp "$here/package.json" "$here/package-lock.json" "$work/"
  (cd "$work" && npm ci --no-audit --no-fund --loglevel=error) ||
    skip "puppeteer-core could not be installed from npm"
fi
cp "$here"/*.mjs "$work/"

# The markers: the examples, the writer's damaged and foreign files, and
# markers of the benchmark's generator.
fixtures="$work/fixtures"
rm -rf "$fixtures"
mkdir -p "$fixtures"
cp "$source_dir"/examples/*.mrk "$fixtures/"
"$fixtures_writer" "$fixtures"
if [ -n "$bench" ] && [ -x "$bench" ]; then
  "$bench" --generate "$fixtures/generated-64.mrk" --seed 3 >/dev/null
  "$bench" --generate "$fixtures/generated-many.mrk" --seed 5 --pieces 2000 --sizes 40 --classes 60 \
    --croixes 800 --halfs 40 --cuts 600 --splits 60 >/dev/null
  "$bench" --generate "$fixtures/generated-sizes.mrk" --seed 7 --sizes 150 --croixes 300 --pieces 300 >/dev/null
fi

cd "$work"
PAGE_DIR=$page TOOL=$tool FIXTURES=$fixtures WORK=$work CHROMIUM=$chromium \
  node --test --test-reporter=tap page.test.mjs
