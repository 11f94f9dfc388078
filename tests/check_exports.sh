#!/bin/sh
# check_exports.sh LIBRARY
#
# The shared library exports its public API and nothing of its internal
# libraries: no function of their namespaces and no seam of the tests (such
# as the one that moves ImportLumercaFile's fixed folder), so that a program
# that loads it cannot reach them. Prints the functions it exports.
exports=$(nm -D --defined-only -C "$1") || { echo "nm cannot read $1"; exit 1; }
echo "$exports" | grep ' T ' | sed 's/^[0-9a-f]* T /exports /'
internal=$(echo "$exports" | grep -E 'ForTests|lumerca::(platform|storage|model|readers|output|entry|tools|testing)::')
if [ -n "$internal" ]; then
  echo "exported, though internal:"
  echo "$internal"
  exit 1
fi
echo "$exports" | grep -q ' T ImportLumercaFile$' || { echo "ImportLumercaFile is not exported"; exit 1; }
