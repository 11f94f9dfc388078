#include "tests/support/import_fixture.h"

#include <fstream>
#include <iterator>
#include <random>

namespace lumerca::testing {

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteBytes(const std::filesystem::path& path, const ByteVector& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

void ImportFixture::SetUp() {
  std::random_device random;
  dir_ = std::filesystem::temp_directory_path() /
         ("lumerca-test-" + std::to_string(random()) + std::to_string(random()));
  out_ = dir_ / "out";
  std::filesystem::create_directories(out_);
}

void ImportFixture::TearDown() {
  std::error_code ignored;
  std::filesystem::remove_all(dir_, ignored);
}

ImportResult ImportFixture::Import(const MarkerRecipe& recipe, const std::string& name) {
  return ImportBytes(MarkerFile(recipe), name);
}

ImportResult ImportFixture::ImportBytes(const ByteVector& bytes, const std::string& name) {
  WriteBytes(dir_ / "marker.mrk", bytes);
  return ImportPath(dir_ / "marker.mrk", name);
}

ImportResult ImportFixture::ImportPath(const std::filesystem::path& path, const std::string& name) {
  return ImportMarker(path, name, out_);
}

std::size_t ImportFixture::FilesInOutput() const {
  std::size_t count = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(out_)) ++count;
  return count;
}

}  // namespace lumerca::testing
