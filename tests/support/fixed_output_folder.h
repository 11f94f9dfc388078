#pragma once

// ImportLumercaFile writes into a fixed folder, which outside Windows lies in
// the home folder of the calling user. Its tests turn it, through a seam of
// the internal platform library that the shared library does not export, into
// a fresh folder of the build tree named after the running test
// (tests/fixed-output/<suite>.<test>/), which stays for a look after a
// failure. Only tests that link the internal libraries can include this.

#include "platform/output_folder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace lumerca::testing {

class FixedOutputFolderInBuildTree {
public:
  FixedOutputFolderInBuildTree() {
    const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
    folder_ = std::filesystem::path(LUMERCA_BINARY_DIR) / "tests" / "fixed-output" /
              (std::string(test->test_suite_name()) + "." + test->name());
    std::filesystem::remove_all(folder_);
    std::filesystem::create_directories(folder_);
    platform::SetFixedOutputFolderForTests(folder_);
  }
  ~FixedOutputFolderInBuildTree() { platform::SetFixedOutputFolderForTests({}); }
  FixedOutputFolderInBuildTree(const FixedOutputFolderInBuildTree&) = delete;
  FixedOutputFolderInBuildTree& operator=(const FixedOutputFolderInBuildTree&) = delete;

  const std::filesystem::path& path() const { return folder_; }

private:
  std::filesystem::path folder_;
};

}  // namespace lumerca::testing
