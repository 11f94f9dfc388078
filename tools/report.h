#pragma once

// The CSV report of a run of lumerca-import: a header row, then one row per
// file in the order of the run (RFC 4180: every field quoted, quotes doubled,
// rows ended by CR LF; texts in UTF-8).

#include "tools/convert.h"

#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

namespace lumerca::tools {

class Report {
public:
  // Creates or empties `file` and writes the header row.
  bool Open(const std::filesystem::path& file, std::string& error);
  bool IsOpen() const { return out_.is_open(); }

  // The row of one file; written out at once, so that the rows of the files
  // finished stay when the run ends early.
  void Add(const std::filesystem::path& file, const Outcome& outcome);

  // False when a row could not be written.
  bool Close(std::string& error);

private:
  void Row(std::initializer_list<std::string_view> fields);

  std::filesystem::path path_;
  std::ofstream out_;
  std::string row_;
};

// One field as the report writes it: in quotes, each quote doubled.
std::string CsvField(std::string_view text);

}  // namespace lumerca::tools
