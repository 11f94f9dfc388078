// A program outside the project that imports one marker through the installed
// library.
#include <lumerca/marker.h>

#include <cstdio>

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  auto result = lumerca::ImportMarker(argv[1], "", argv[2]);
  std::printf("%s: %s (%s)\n", argv[1], lumerca::StatusText(result.status), result.name.c_str());
  return result.status == lumerca::ImportStatus::Imported ? 0 : 1;
}
