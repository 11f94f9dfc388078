#pragma once

// The command-line tool's tests: lumerca-import as the build made it
// (LUMERCA_IMPORT_TOOL, set by tests/tools/CMakeLists.txt), run as a process
// in a fresh folder of its own. Skipped where the tool is not built.

#include "tests/support/import_fixture.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include <sys/wait.h>

namespace lumerca::testing {

#ifdef LUMERCA_IMPORT_TOOL
inline constexpr const char* kTool = LUMERCA_IMPORT_TOOL;
#else
inline constexpr const char* kTool = nullptr;
#endif

class ToolFixture : public ImportFixture {
protected:
  void SetUp() override {
    if (kTool == nullptr) GTEST_SKIP() << "lumerca-import is not built (LUMERCA_BUILD_TOOLS=OFF)";
    ImportFixture::SetUp();
  }

  // Runs the tool with "-o out()" and `arguments` (each quoted for the
  // shell); keeps its standard output and error; returns its exit status (-1
  // when it did not exit).
  int RunTool(const std::vector<std::string>& arguments) {
    std::string command = std::string("'") + kTool + "' -o '" + out().string() + "'";
    for (const auto& a : arguments) command += " '" + a + "'";
    command += " >'" + (dir() / "stdout.txt").string() + "' 2>'" + (dir() / "stderr.txt").string() + "'";
    const int status = std::system(command.c_str());
    tool_out_ = ReadFile(dir() / "stdout.txt");
    tool_err_ = ReadFile(dir() / "stderr.txt");
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  std::string tool_out_;
  std::string tool_err_;
};

}  // namespace lumerca::testing
