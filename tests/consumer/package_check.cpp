// Built against the library as a user builds against it: the compile flags
// that the package hands on give C++20, the version that the headers, the
// package and the library itself state is one, and the C entry point is
// there to link.
#include <lumerca/marker.h>
#include <lumerca/version.h>

#include <cstdio>
#include <cstring>

static_assert(__cplusplus >= 202002L, "the library's users get C++20 from the package");
static_assert(LUMERCA_MARKER_VERSION == LUMERCA_MARKER_VERSION_MAJOR * 10000 +
                                            LUMERCA_MARKER_VERSION_MINOR * 100 +
                                            LUMERCA_MARKER_VERSION_PATCH);

int main() {
  int failures = 0;
  auto check = [&](bool ok, const char* what, const char* seen) {
    if (!ok) {
      std::fprintf(stderr, "package_check: %s (%s)\n", what, seen);
      ++failures;
    }
  };
  check(std::strcmp(LUMERCA_MARKER_VERSION_STRING, EXPECTED_VERSION) == 0,
        "the headers' LUMERCA_MARKER_VERSION_STRING is not the package's version " EXPECTED_VERSION,
        LUMERCA_MARKER_VERSION_STRING);
  check(std::strcmp(lumerca::Version(), LUMERCA_MARKER_VERSION_STRING) == 0,
        "lumerca::Version() of the library linked is not the headers' version", lumerca::Version());
  int (*entry)(const char*, char*) = &ImportLumercaFile;
  check(entry != nullptr, "ImportLumercaFile cannot be linked", "null");
  if (failures == 0) std::printf("package_check: version %s\n", lumerca::Version());
  return failures == 0 ? 0 : 1;
}
