#include "tools/report.h"

#include <cerrno>
#include <charconv>
#include <cstring>

namespace lumerca::tools {
namespace {

std::string Number(std::size_t value) { return std::to_string(value); }

// Milliseconds with three decimals, in the "C" notation whatever the locale.
std::string Milliseconds(double value) {
  char text[32];
  const auto end = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, 3).ptr;
  return std::string(text, end);
}

}  // namespace

std::string CsvField(std::string_view text) {
  // Every field quoted, a quote inside it doubled (RFC 4180); commas, line
  // ends and bytes above 0x7F then stand as they are.
  std::string field;
  field.reserve(text.size() + 2);
  field += '"';
  for (const char c : text) {
    if (c == '"') field += '"';
    field += c;
  }
  field += '"';
  return field;
}

bool Report::Open(const std::filesystem::path& file, std::string& error) {
  path_ = file;
  out_.open(file, std::ios::binary | std::ios::trunc);
  if (!out_) {
    error = "cannot create " + file.string() + ": " + std::strerror(errno);
    return false;
  }
  Row({"path", "status", "name", "sizes", "pieces written", "cut lines written", "warnings",
       "reason", "milliseconds"});
  return true;
}

void Report::Add(const std::filesystem::path& file, const Outcome& outcome) {
  const bool imported = outcome.kind == Outcome::Kind::Imported;
  const std::string sizes = imported ? Number(outcome.counts.sizes) : "";
  const std::string pieces = imported ? Number(outcome.counts.pieces) : "";
  const std::string cut_lines = imported ? Number(outcome.counts.cut_lines) : "";
  Row({file.string(), outcome.status, outcome.name, sizes, pieces, cut_lines,
       Number(outcome.warnings), outcome.reason, Milliseconds(outcome.milliseconds)});
}

void Report::Row(std::initializer_list<std::string_view> fields) {
  row_.clear();
  for (const std::string_view field : fields) {
    if (!row_.empty()) row_ += ',';
    row_ += CsvField(field);
  }
  row_ += "\r\n";
  out_.write(row_.data(), static_cast<std::streamsize>(row_.size()));
  out_.flush();
}

bool Report::Close(std::string& error) {
  out_.close();
  if (out_) return true;
  error = "cannot write " + path_.string();
  return false;
}

}  // namespace lumerca::tools
