#!/usr/bin/env bash
# Installs, once, what the page's build and its browser tests need, as root
# or with sudo:
#
# - emscripten (with clang 14, binaryen and Debian's Node.js modules that it
#   runs), which compiles the library to WebAssembly (cmake --preset wasm);
# - chromium, the browser that the page's tests drive headless;
# - fonts-dejavu-core, the font that the pictures name, so that screenshots
#   look the same everywhere.
#
# The tests' JavaScript packages (puppeteer-core) come from npm into the
# build tree when the tests run (scripts/test-wasm.sh), never into the home
# folder.
set -euo pipefail
source "$(dirname "$0")/apt.sh"

apt_install emscripten chromium fonts-dejavu-core
echo "setup: the page's packages are present"
