#pragma once

// The library's version, for the preprocessor. The build takes the project's
// version from the three numbers below (CMakeLists.txt), so they are written
// here only; lumerca::Version() returns LUMERCA_MARKER_VERSION_STRING of the
// library that is loaded, which may be newer than the headers compiled against.

#define LUMERCA_MARKER_VERSION_MAJOR 0
#define LUMERCA_MARKER_VERSION_MINOR 1
#define LUMERCA_MARKER_VERSION_PATCH 0

// One number that orders versions: 10203 is 1.2.3.
#define LUMERCA_MARKER_VERSION                                                 \
  (LUMERCA_MARKER_VERSION_MAJOR * 10000 + LUMERCA_MARKER_VERSION_MINOR * 100 + \
   LUMERCA_MARKER_VERSION_PATCH)

#define LUMERCA_MARKER_VERSION_TEXT_(x) #x
#define LUMERCA_MARKER_VERSION_TEXT(x) LUMERCA_MARKER_VERSION_TEXT_(x)
// "1.2.3"
#define LUMERCA_MARKER_VERSION_STRING                             \
  LUMERCA_MARKER_VERSION_TEXT(LUMERCA_MARKER_VERSION_MAJOR)       \
  "." LUMERCA_MARKER_VERSION_TEXT(LUMERCA_MARKER_VERSION_MINOR) \
  "." LUMERCA_MARKER_VERSION_TEXT(LUMERCA_MARKER_VERSION_PATCH)
