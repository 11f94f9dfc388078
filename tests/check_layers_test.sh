#!/bin/sh
# The layer check rejects what breaks the rule: a tree of a few files, each
# with one include, some allowed and some not; every one not allowed must be
# named, and nothing else.
set -u
script=$1
tree=$(mktemp -d)
trap 'rm -rf "$tree"' EXIT
mkdir -p "$tree/model" "$tree/readers" "$tree/output" "$tree/entry" "$tree/tools" "$tree/include/lumerca" "$tree/web" \
  "$tree/python/binding"
plant() { printf '#include %s\n' "$2" >"$tree/$1"; }
# Allowed.
plant model/a.h '"model/records.h"'
plant model/b.h '<lumerca/fields.h>'
plant readers/a.cpp '"model/marker.h"'
plant output/a.cpp '"model/index.h"'
plant entry/a.cpp '"readers/tables.h"'
plant tools/a.cpp '<lumerca/marker.h>'
plant tools/b.cpp '"tools/dump.h"'
plant web/a.cpp '<lumerca/picture.h>'
plant python/binding/a.cpp '<lumerca/model.h>'
# Not allowed.
plant model/c.h '"readers/primitives.h"'
plant output/b.cpp '"readers/tables.h"'
plant tools/c.cpp '"entry/walk.h"'
plant tools/d.cpp '<model/marker.h>'
plant include/lumerca/x.h '"platform/codepage.h"'
plant web/b.cpp '"entry/marker_data.h"'
plant web/c.cpp '"tools/svg.h"'
plant python/binding/b.cpp '"entry/marker_data.h"'
plant python/binding/c.cpp '"tools/convert.h"'

out=$(sh "$script" "$tree")
status=$?
expected="model/c.h output/b.cpp tools/c.cpp tools/d.cpp include/lumerca/x.h web/b.cpp web/c.cpp python/binding/b.cpp \
  python/binding/c.cpp"
named=$(printf '%s\n' "$out" | sed -n 's/^\([^:]*\):1: #include.*/\1/p' | sort | tr '\n' ' ')
want=$(printf '%s\n' $expected | sort | tr '\n' ' ')
if [ "$status" -ne 1 ] || [ "$named" != "$want" ]; then
  echo "expected exit 1 naming: $want"
  echo "got exit $status:"
  printf '%s\n' "$out"
  exit 1
fi
echo "the layer check names each of the $(echo $expected | wc -w) planted includes, and no other"
