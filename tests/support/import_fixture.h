#pragma once

// A test fixture with a fresh folder for marker files and an output folder.

#include <lumerca/marker.h>

#include "tests/support/marker_streams.h"
#include "tests/support/sample_markers.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace lumerca::testing {

std::string ReadFile(const std::filesystem::path& path);
void WriteBytes(const std::filesystem::path& path, const ByteVector& bytes);

class ImportFixture : public ::testing::Test {
protected:
  void SetUp() override;
  void TearDown() override;

  const std::filesystem::path& dir() const { return dir_; }
  const std::filesystem::path& out() const { return out_; }

  ImportResult Import(const MarkerRecipe& recipe, const std::string& name = "");
  ImportResult ImportBytes(const ByteVector& bytes, const std::string& name = "");
  ImportResult ImportPath(const std::filesystem::path& path, const std::string& name = "");
  std::size_t FilesInOutput() const;

private:
  std::filesystem::path dir_;
  std::filesystem::path out_;
};

}  // namespace lumerca::testing
