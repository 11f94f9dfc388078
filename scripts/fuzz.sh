#!/usr/bin/env bash
# Builds the libFuzzer targets with Clang (AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs each for a fixed time on top of the
# committed corpus. Fails on any finding: the input that crashed, leaked, ran
# out of memory or timed out is left in the scratch folder (and named in the
# output); copy it into fuzz/regressions/<target>/ once it is understood.
#
#   scripts/fuzz.sh [seconds per target, default 60] [target...]
#
# Environment: LUMERCA_FUZZ_BUILD (build folder, default build-fuzz),
# LUMERCA_FUZZ_JOBS (build jobs, default all cores),
# LUMERCA_FUZZ_WORK (scratch folder, default a fresh one under /tmp).
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
shift || true
targets=("$@")
[ "${#targets[@]}" -gt 0 ] || targets=(fuzz_compound fuzz_fixed fuzz_import fuzz_normalize)

build=${LUMERCA_FUZZ_BUILD:-build-fuzz}
jobs=${LUMERCA_FUZZ_JOBS:-$(nproc)}

cmake -S . -B "$build" -G Ninja \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DLUMERCA_FUZZ=ON -DLUMERCA_SANITIZE=ON \
  -DLUMERCA_BUILD_TOOLS=OFF -DLUMERCA_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" -j "$jobs" --target "${targets[@]}"

work=${LUMERCA_FUZZ_WORK:-$(mktemp -d /tmp/lumerca-fuzz.XXXXXX)}
mkdir -p "$work"
echo "scratch folder: $work"

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:symbolize=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

failed=()
for target in "${targets[@]}"; do
  corpus="$work/$target/corpus"
  artifacts="$work/$target/artifacts"
  mkdir -p "$corpus" "$artifacts"
  # The committed corpus is copied, so that what the fuzzer adds stays in the
  # scratch folder.
  cp -R "fuzz/corpus/$target/." "$corpus/"
  if [ -d "fuzz/regressions/$target" ]; then
    find "fuzz/regressions/$target" -maxdepth 1 -type f ! -name '.*' -exec cp {} "$corpus/" \;
  fi
  dict=()
  [ -f "fuzz/$target.dict" ] && dict=(-dict="fuzz/$target.dict")
  echo "== $target: ${seconds}s"
  if ! "$build/bin/$target" "${dict[@]}" \
      -max_total_time="$seconds" -timeout=20 -rss_limit_mb=2048 -malloc_limit_mb=1024 \
      -print_final_stats=1 -artifact_prefix="$artifacts/" "$corpus" \
      >"$work/$target/log" 2>&1; then
    echo "FINDING in $target:"
    tail -n 60 "$work/$target/log"
    ls -l "$artifacts"
    failed+=("$target")
  else
    grep -E '^stat::(number_of_executed_units|peak_rss_mb)|^Done' "$work/$target/log" || true
  fi
done

if [ "${#failed[@]}" -gt 0 ]; then
  echo "fuzzing found problems in: ${failed[*]} (inputs under $work/<target>/artifacts)"
  exit 1
fi
[ -n "${LUMERCA_FUZZ_WORK:-}" ] || rm -rf "$work"
echo "fuzzing found nothing"
