// Writes the sample marker files of examples/:
//   blouse.mrk  the Blouse.2 marker: four sizes, one without pieces, one cut line
//   jacket.mrk  six sizes of eight classes, half pieces, cut lines of every
//               kind, and the streams that the import reads past (version 4)

#include "tests/support/sample_markers.h"

#include <cstdio>
#include <filesystem>

using namespace lumerca::testing;

namespace {

bool Write(const std::filesystem::path& path, const ByteVector& bytes) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return std::fclose(f) == 0 && ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: lumerca-make-samples FOLDER\n");
    return 2;
  }
  std::filesystem::path folder = argv[1];
  bool ok = Write(folder / "blouse.mrk", MarkerFile(BlouseMarker())) &&
            Write(folder / "jacket.mrk", MarkerFile(JacketMarker(), WriteOptions{4}));
  if (!ok) std::fprintf(stderr, "lumerca-make-samples: cannot write into %s\n", argv[1]);
  return ok ? 0 : 1;
}
