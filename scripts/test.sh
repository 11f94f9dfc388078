#!/usr/bin/env bash
# Runs every test: the native release build's suite, then the Windows builds
# under Wine (the whole Wine suite against the 64-bit build, the 32-bit DLL's
# conversion tests under emulation where the kernel runs no 32-bit code), then
# the whole native suite again under AddressSanitizer and
# UndefinedBehaviorSanitizer, then each fuzz target for a minute. Each stage
# prints its time when it ends, and the run ends with the times of all.
#
# Nothing is written outside the checkout and the system's temporary folder
# (apart from the packages that the setup installs): the test programs get a
# home folder of their own in the build tree (build/home), where the caches
# and settings of Wine, fontconfig, package clients and browsers go.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)

# The processor time, in seconds, of the processes that this script waited
# for (their children included): beside the time on the clock it tells a slow
# stage from a busy machine.
processor_seconds() {
  local fields ticks
  read -r -a fields <"/proc/$$/stat"
  ticks=$(getconf CLK_TCK)
  # Fields 16 and 17 (counted from 1) are cutime and cstime; the command's
  # name (field 2) holds no space here.
  echo $(((fields[15] + fields[16]) / ticks))
}
minutes() { printf '%d min %02d s' $(($1 / 60)) $(($1 % 60)); }

stage_lines=()
stage_running=""
stage_started=$SECONDS
stage_processor=$(processor_seconds)
run_started=$SECONDS

# Begins a stage, ending the one that runs: its time is printed and kept.
stage() {
  if [ -n "$stage_running" ]; then
    local line
    line=$(printf '%-16s %s (processor time %s)' "$stage_running" \
      "$(minutes $((SECONDS - stage_started)))" "$(minutes $(($(processor_seconds) - stage_processor)))")
    stage_lines+=("$line")
    echo "== $line"
  fi
  stage_running=$1
  stage_started=$SECONDS
  stage_processor=$(processor_seconds)
}

# The times of the stages, also when one failed.
summary() {
  local status=$? line
  echo
  echo "Stages:"
  for line in "${stage_lines[@]}"; do echo "  $line"; done
  [ -z "$stage_running" ] ||
    printf '  %-16s %s, failed\n' "$stage_running" "$(minutes $((SECONDS - stage_started)))"
  printf '  %-16s %s\n' "whole run" "$(minutes $((SECONDS - run_started)))"
  exit "$status"
}
trap summary EXIT

stage "setup"
./scripts/setup.sh
./scripts/setup-python.sh
./scripts/setup-windows.sh

# The test programs' home folder (see above). The test presets set the same
# for ctest run by hand (CMakePresets.json).
export HOME=$PWD/build/home
export XDG_CACHE_HOME=$HOME/.cache XDG_CONFIG_HOME=$HOME/.config \
  XDG_DATA_HOME=$HOME/.local/share XDG_STATE_HOME=$HOME/.local/state
mkdir -p "$HOME"

stage "Windows builds"
for preset in win32 win64; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
done

stage "native build"
./scripts/test-wasm.sh --build  # the page, whose browser tests run with the native suite
cmake --preset release >/dev/null
cmake --build --preset release -j "$jobs"

stage "native suite"
ctest --preset release -j "$jobs" -LE wine

stage "Wine suites"
echo "Windows test runners (tests wine32.* and wine64.*):"
scripts/wine --describe | sed 's/^/  /'
status=0
ctest --preset release -j "$jobs" -L wine || status=$?
echo "Windows tests, each with its runner:"
scripts/wine-summary.sh build
[ "$status" -eq 0 ] || exit "$status"

stage "sanitizer build"
cmake --preset debug >/dev/null
cmake --build --preset debug -j "$jobs"

stage "sanitizer suite"
ctest --preset debug -j "$jobs" -LE wine

stage "fuzzing"
# Each libFuzzer target for a minute on top of the committed corpus (Clang,
# AddressSanitizer, UndefinedBehaviorSanitizer); any finding fails the run.
./scripts/fuzz.sh
stage ""
