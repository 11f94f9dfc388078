#pragma once

// One file of a run of lumerca-import: its conversion, and what the tool
// tells of it (the report's row, the lines for a file not imported).

#include "tools/inputs.h"

#include <lumerca/marker.h>

#include <cstddef>
#include <filesystem>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace lumerca::tools {

struct Outcome {
  enum class Kind { Imported, WithoutPieces, Failed };
  Kind kind = Kind::Failed;
  std::string status;        // the report's word: "imported", "no pieces", "cannot open", ...
  std::string group;         // the summary's reason ("holds no pieces", ...); empty when imported
  std::string reason;        // why the file was not imported, with the detail; empty when imported
  std::string stored_name;   // the normalised name, in the ANSI code page
  std::string name;          // the same in UTF-8
  ImportCounts counts;
  std::size_t warnings = 0;  // what the walk met that a user may want to know about
  std::vector<std::string> notes;  // one line for each of them ("PATH: MESSAGE")
  double milliseconds = 0;
};

// What the tool tells of one import of names in `code_page` (0: the
// process's).
Outcome Describe(const ImportResult& result, unsigned code_page);

// The output folders of one run below `root`: each made (with its parents)
// before its file is converted, and removed again, with every parent that
// the run made and that is left empty, when the file is not imported. Safe
// to use from several threads.
class OutputTree {
public:
  explicit OutputTree(std::filesystem::path root) : root_(std::move(root)) {}

  bool Make(const std::filesystem::path& folder, std::error_code& error);
  void Unmake(const std::filesystem::path& folder);

private:
  void RemoveEmpty(const std::filesystem::path& folder);  // with mutex_ held

  std::mutex mutex_;
  std::filesystem::path root_;
  std::set<std::filesystem::path> made_;
};

// Converts one file into its folder. Never throws.
Outcome Convert(const Input& input, std::string_view name, const ImportOptions& options,
                OutputTree& tree) noexcept;

}  // namespace lumerca::tools
