#pragma once

// The CSV report of a run of lumerca-import: a header row, then one row per
// file in the order of the run (RFC 4180: every field quoted, quotes doubled,
// rows ended by CR LF; texts in UTF-8, a path's bytes that are not UTF-8 as
// \xNN).

#include <lumerca/archive.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace lumerca::tools {

class Report {
public:
  Report() = default;
  ~Report();
  Report(const Report&) = delete;
  Report& operator=(const Report&) = delete;

  // Creates or empties `file` and writes the header row. False, with the
  // system's reason in `error`, when it cannot.
  bool Open(const std::filesystem::path& file, std::string& error);
  bool IsOpen() const { return out_ != nullptr; }

  // The row of one file, written out at once, so that the rows of the files
  // finished stay when the run ends early. False, with the system's reason,
  // when it cannot be written: the report then holds the rows before it,
  // every one complete, and is closed.
  bool Add(const ArchiveRow& row, std::string& error);

  // Brings the rows written to the storage device. False, with the system's
  // reason, when it cannot: the report is then closed. A report that is not
  // a file on a disk (a pipe, a terminal, a device) has nothing to flush.
  bool Sync(std::string& error);

  // False when the report cannot be closed.
  bool Close(std::string& error);

private:
  bool Row(const std::vector<std::string_view>& fields, std::string& error);

  std::filesystem::path path_;
  std::FILE* out_ = nullptr;
  std::uint64_t written_ = 0;  // the bytes of the complete rows
  std::string row_;
};

// One field as the report writes it: in quotes, each quote doubled.
std::string CsvField(std::string_view text);

}  // namespace lumerca::tools
