// lumerca-wine-hostile OUTDIR
//
// Writes the container cases of the catalogue of hostile inputs
// (tests/support/hostile_catalogue.h), one file CASE.mrk each, and prints the
// case names one a line in the order written. The Wine test hands each file
// to the native build and, under Wine, to the DLL, whose structured-storage
// backend then meets the same damage.
//
// Each file is written whole or not at all (a failure exits non-zero).

#include "tests/support/hostile_catalogue.h"

#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>

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

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("usage: lumerca-wine-hostile OUTDIR\n", stderr);
    return 2;
  }
  const fs::path out(argv[1]);
  fs::create_directories(out);
  try {
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
