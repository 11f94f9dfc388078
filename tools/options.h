#pragma once

// The command line of lumerca-import.

#include <lumerca/marker.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace lumerca::tools {

struct Options {
  std::filesystem::path output = ".";
  std::string name;        // the name to give the marker (empty: the stored one)
  unsigned code_page = 0;  // 0: the default
  std::vector<std::filesystem::path> inputs;  // files and folders, as given
  bool quiet = false;
  bool verbose = false;     // every diagnostic, also of files not imported
  ImportOptions import;     // --salvage
  bool dump = false;
  std::filesystem::path svg;
  unsigned jobs = 0;  // conversions at a time; set by ParseOptions
  std::filesystem::path report;  // the CSV report (empty: none)
};

// Parses the command line into `options`. Returns the exit status when the
// tool ends here (--help, --version, a usage error, told on the terminal).
std::optional<int> ParseOptions(int argc, char** argv, Options& options);

}  // namespace lumerca::tools
