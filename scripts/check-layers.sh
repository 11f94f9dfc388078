#!/bin/sh
# Checks that the library's folders include one way:
#   platform/  includes platform/ only
#   storage/   includes storage/ and platform/
#   readers/   includes readers/, storage/, platform/ and of entry/ only the model (entry/marker.h)
#   output/    includes output/, readers/, storage/, platform/ and of entry/ only entry/marker.h
#   entry/     includes anything of the library
#   include/   the public headers include nothing of the folders
# and nothing of the library includes tools/. Prints each offending include
# as FILE:LINE: #include "..." (layer rule) and exits 1 when there is one.
#
# Usage: scripts/check-layers.sh [SOURCE_DIR]   (default: the folder above this script)

root=${1:-$(dirname "$0")/..}
cd "$root" || exit 2

# The folders that a file of folder $1 may include from (besides the C++
# library and the public headers <lumerca/...>).
allowed() {
  case $1 in
    platform) echo "platform" ;;
    storage) echo "storage platform" ;;
    readers) echo "readers storage platform entry/marker.h" ;;
    output) echo "output readers storage platform entry/marker.h" ;;
    entry) echo "entry output readers storage platform" ;;
    include) echo "" ;;
  esac
}

status=0
for layer in platform storage readers output entry include; do
  [ -d "$layer" ] || continue
  ok=$(allowed "$layer")
  # Includes of "folder/file.h" (or <folder/file.h>) for a folder of the project.
  find "$layer" -type f \( -name '*.h' -o -name '*.cpp' \) | sort | while read -r file; do
    grep -nE '^[[:space:]]*#[[:space:]]*include[[:space:]]*["<](storage|platform|readers|output|entry|tools|include)/' "$file" |
    while IFS= read -r line; do
      target=$(printf '%s\n' "$line" | sed 's/^[^"<]*["<]\([^">]*\)[">].*/\1/')
      fine=no
      for a in $ok; do
        case $target in
          "$a" | "$a"/*) fine=yes ;;
        esac
      done
      if [ $fine = no ]; then
        echo "$file:${line%%:*}: #include \"$target\" ($layer/ may include only: ${ok:-nothing of the folders})"
      fi
    done
  done
done >"${TMPDIR:-/tmp}/check-layers.$$"

if [ -s "${TMPDIR:-/tmp}/check-layers.$$" ]; then
  cat "${TMPDIR:-/tmp}/check-layers.$$"
  status=1
else
  echo "layers: every include goes one way"
fi
rm -f "${TMPDIR:-/tmp}/check-layers.$$"
exit $status
