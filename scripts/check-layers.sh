#!/bin/sh
# Checks that the library's folders include one way:
#   platform/  includes platform/ only
#   storage/   includes storage/ and platform/
#   model/     includes model/ only (the marker as plain data)
#   readers/   includes readers/, model/, storage/ and platform/
#   output/    includes output/, model/ and platform/
#   entry/     includes anything of the library
#   include/   the public headers include nothing of the folders
#   tools/     the front doors include only the public headers and tools/
#   web/       the page's binding includes only the public headers
#   python/    the Python binding includes only the public headers and python/
# Every folder may include the public headers <lumerca/...>. Prints each
# offending include as FILE:LINE: #include "..." (layer rule) and exits 1
# when there is one.
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
    model) echo "model" ;;
    readers) echo "readers model storage platform" ;;
    output) echo "output model platform" ;;
    entry) echo "entry output readers model storage platform" ;;
    include) echo "" ;;
    tools) echo "tools" ;;
    web) echo "" ;;
    python) echo "python" ;;
  esac
}

status=0
for layer in platform storage model readers output entry include tools web python; do
  [ -d "$layer" ] || continue
  ok=$(allowed "$layer")
  # Includes of "folder/file.h" (or <folder/file.h>) for a folder of the project.
  find "$layer" -type f \( -name '*.h' -o -name '*.cpp' \) | sort | while read -r file; do
    grep -nE '^[[:space:]]*#[[:space:]]*include[[:space:]]*["<](storage|platform|model|readers|output|entry|tools|include|web|python)/' "$file" |
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
