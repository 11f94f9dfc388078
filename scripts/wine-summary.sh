#!/usr/bin/env bash
# Prints, from the last CTest run of a build folder, one line for each Windows
# test under Wine: its name, its outcome and the runner it used (or why it
# was skipped).
#
#   scripts/wine-summary.sh [BUILD_FOLDER, default build]
set -euo pipefail
log=${1:-build}/Testing/Temporary/LastTest.log
[ -f "$log" ] || { echo "no test log at $log" >&2; exit 1; }
awk '
  /^[0-9]+\/[0-9]+ Testing: / { name = $3; runner = ""; skipped = ""; next }
  /^runner: / && name ~ /^wine/ { sub(/^runner: /, ""); runner = $0; next }
  /^SKIPPED: / && name ~ /^wine/ { sub(/^SKIPPED: /, ""); skipped = $0; next }
  /^Test [A-Z][a-z]+\./ && name ~ /^wine/ {
    outcome = skipped != "" ? "skipped" : ($2 == "Passed." ? "passed" : "failed")
    detail = skipped != "" ? skipped : runner
    printf "  %-36s %-8s %s\n", name, outcome, detail
    name = ""
  }
' "$log"
