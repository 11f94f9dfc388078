// lumerca-wine-hostile OUTDIR
// lumerca-wine-hostile --shape NAME N OUTFILE
// lumerca-wine-hostile --shapes
//
// The first form writes the container cases of the catalogue of hostile
// inputs (tests/support/hostile_catalogue.h), one file CASE.mrk each, and
// prints the case names one a line in the order written. The Wine test hands
// each file to the native build and, under Wine, to the DLL, whose
// structured-storage backend then meets the same damage.
//
// The second writes the shape NAME of the catalogue at size N into OUTFILE;
// the third lists the shapes, one a line: name, size in the catalogue, what
// it is (tab-separated). With them the Wine test measures how Wine's cost
// grows with a shape's size.
//
// Each file is written whole or not at all (a failure exits non-zero).

#include "tests/support/hostile_catalogue.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

namespace fs = std::filesystem;
using lumerca::testing::ByteVector;

bool Save(const fs::path& path, const ByteVector& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) std::fprintf(stderr, "cannot write %s\n", path.string().c_str());
  return static_cast<bool>(out);
}

int Usage() {
  std::fputs("usage: lumerca-wine-hostile OUTDIR | --shape NAME N OUTFILE | --shapes\n", stderr);
  return 2;
}

int Shape(const std::string& name, const char* size, const fs::path& out) {
  char* end = nullptr;
  const unsigned long long n = std::strtoull(size, &end, 10);
  if (*size == '\0' || *end != '\0' || n == 0 || n > 1000000) return Usage();
  for (const auto& shape : lumerca::testing::HostileShapes()) {
    if (shape.name == name) return Save(out, shape.build(static_cast<std::size_t>(n))) ? 0 : 1;
  }
  std::fprintf(stderr, "lumerca-wine-hostile: no shape named %s\n", name.c_str());
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    if (argc == 2 && std::strcmp(argv[1], "--shapes") == 0) {
      for (const auto& shape : lumerca::testing::HostileShapes()) {
        std::printf("%s\t%zu\t%s\n", shape.name.c_str(), shape.catalogue_n, shape.what.c_str());
      }
      return 0;
    }
    if (argc == 5 && std::strcmp(argv[1], "--shape") == 0) return Shape(argv[2], argv[3], argv[4]);
    if (argc != 2 || argv[1][0] == '-') return Usage();
    const fs::path out(argv[1]);
    fs::create_directories(out);
    for (const auto& file : lumerca::testing::HostileContainers()) {
      if (!Save(out / (file.name + ".mrk"), file.bytes())) return 1;
      std::printf("%s\n", file.name.c_str());
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "lumerca-wine-hostile: %s\n", e.what());
    return 1;
  }
  std::fflush(stdout);
  return 0;
}
