// The write step of an import and the one-step import: the two files of a
// marker written under temporary names and renamed into place together; what
// a damaged stream lacks, in words; ImportMarker and ImportLumercaFile.

#include <lumerca/marker.h>

#include "entry/import_steps.h"
#include "entry/marker_data.h"
#include "output/normalize.h"
#include "output/printf_file.h"
#include "platform/output_folder.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

namespace lumerca::entry {
namespace {

using readers::StreamRead;

// 32701 as "32,701".
std::string Grouped(std::uint64_t value) {
  std::string digits = std::to_string(value);
  for (std::size_t i = digits.size(); i > 3; i -= 3) digits.insert(i - 3, 1, ',');
  return digits;
}

// "in the name of size 2"; empty for a stream without a layout of its own.
std::string Where(const StreamRead& read) {
  if (*read.place == '\0') return "";
  std::string where = "in ";
  where += read.place;
  if (read.place_index >= 0) {
    where += ' ';
    where += std::to_string(read.place_index);
  }
  return where;
}

// Without its count (or a .CUTS stream's header) a stream keeps nothing.
bool KeepsNothing(const StreamRead& read) {
  return std::string_view(read.place) == "the record count" ||
         std::string_view(read.place) == "the header";
}

bool RecordsLost(const StreamRead& read) {
  return *read.records != '\0' && !KeepsNothing(read) && read.kept_records < read.declared_records;
}

}  // namespace

std::string SalvageKeeps(const StreamRead& read) {
  if (!read.Used()) return "";
  if (KeepsNothing(read)) return "the file without it";
  if (!RecordsLost(read)) return "what arrived";
  if (read.kept_records == 0) return "none of them";
  return "the " + Grouped(static_cast<std::uint64_t>(read.kept_records));
}

std::string DamageText(const StreamRead& read, bool salvage) {
  const std::uint64_t short_by = read.declared > read.arrived ? read.declared - read.arrived : 0;
  const std::string bytes = (read.declared_known ? "" : "at least ") + Grouped(short_by) +
                            (short_by == 1 ? " byte" : " bytes");
  std::string text;
  if (RecordsLost(read)) {
    text = "holds " + Grouped(static_cast<std::uint64_t>(read.kept_records)) + " of its " +
           Grouped(static_cast<std::uint64_t>(read.declared_records)) + " " + read.records +
           ", ending " + bytes + " before its declared layout " + Where(read);
  } else if (*read.place == '\0') {
    text = "delivers " + Grouped(read.arrived) + " of its " + Grouped(read.declared) + " bytes";
  } else {
    text = "ends " + bytes + " before its declared layout, " + Where(read);
  }
  if (!read.Used()) return text + " (not used by the output files)";
  if (!salvage) return text + "; not imported";
  if (KeepsNothing(read)) return text + "; salvaged: imported without it";
  return text + "; salvaged: " + SalvageKeeps(read) + " imported";
}

std::string DamageReason(const WalkReport& report) {
  if (report.used_damage == 0) return "";
  const WalkEntry& first = report.first_used_damage;
  std::string reason = first.path + ": " + DamageText(first.read, true);
  // The verdict goes last, after the count of the other damaged streams.
  reason.resize(reason.rfind("; salvaged: "));
  if (report.used_damage > 1) {
    reason += "; and " + Grouped(report.used_damage - 1) + " more stream" +
              (report.used_damage > 2 ? "s" : "") + " with data missing";
  }
  return reason + "; not imported";
}

namespace {

// Writes one file with `write` into `sink` and hands it every byte.
template <typename Writer>
void WriteInto(platform::TextSink& sink, Writer write) {
  output::CPrintfFile text(sink);
  write(text);
  text.Close();
}

// A file written into memory.
class StringSink final : public platform::TextSink {
public:
  explicit StringSink(std::string& text) : text_(text) {}
  void Write(const char* data, std::size_t size) override { text_.append(data, size); }

private:
  std::string& text_;
};

void WriteModelOrder(const model::CMarker& marker, const model::ModelIndex& index,
                     const platform::CodePage& code_page, std::string_view name,
                     platform::TextSink& sink) {
  WriteInto(sink, [&](output::CPrintfFile& text) {
    output::WriteModelOrderFile(marker, index, code_page, name, text);
  });
}

output::PositionCounts WritePositions(const model::CMarker& marker, const model::ModelIndex& index,
                                      const platform::CodePage& code_page, platform::TextSink& sink) {
  output::PositionCounts lines;
  WriteInto(sink, [&](output::CPrintfFile& text) {
    lines = output::WritePositionFile(marker, index, code_page, text);
  });
  return lines;
}

}  // namespace

output::PositionCounts WriteOutputFiles(const model::CMarker& marker,
                                        const model::ModelIndex& index,
                                        const platform::CodePage& code_page, std::string_view name,
                                        const std::filesystem::path& output_dir,
                                        platform::DeferredFlushes* deferred, bool* was_deferred) {
  auto folder = platform::OpenOutputFolder(output_dir, deferred);
  auto orders = folder->CreateTemporary("csvimprt.txt");
  WriteModelOrder(marker, index, code_page, name, *orders);
  orders->Finish();
  auto positions = folder->CreateTemporary("posimport.txt");
  const output::PositionCounts lines = WritePositions(marker, index, code_page, *positions);
  positions->Finish();
  const bool committed_deferred = folder->Commit(*orders, *positions);
  if (was_deferred) *was_deferred = committed_deferred;
  return lines;
}

output::PositionCounts WriteOutputFiles(const model::CMarker& marker,
                                        const model::ModelIndex& index,
                                        const platform::CodePage& code_page, std::string_view name,
                                        OutputFiles& files) {
  StringSink orders(files.csvimprt), positions(files.posimport);
  WriteModelOrder(marker, index, code_page, name, orders);
  return WritePositions(marker, index, code_page, positions);
}

}  // namespace lumerca::entry

namespace lumerca {

namespace detail {

struct DeferredFlushState {
  platform::DeferredFlushes flushes;

  static platform::DeferredFlushes* Of(DeferredFlush* deferred) {
    return deferred ? &deferred->state_->flushes : nullptr;
  }
};

}  // namespace detail

DeferredFlush::DeferredFlush() : state_(std::make_unique<detail::DeferredFlushState>()) {}

DeferredFlush::~DeferredFlush() = default;

bool DeferredFlush::Flush(std::string& reason) noexcept {
  try {
    std::string why;
    if (state_->flushes.Flush(why)) return true;
    reason = "cannot flush the output to the storage device: " + why;
  } catch (...) {
    reason = "cannot flush the output to the storage device: memory ran out";
  }
  return false;
}

std::size_t DeferredFlush::Pending() const noexcept { return state_->flushes.Pending(); }

namespace {

constexpr std::size_t kMaxNameBytes = 255;

// The caller's name as the marker takes it: up to its first NUL, at most 255
// bytes.
std::string_view CallerName(std::string_view name) {
  return name.substr(0, std::min({name.size(), kMaxNameBytes, name.find('\0')}));
}

// Runs `write` (which writes both files of a readable marker in the code page
// and with the name given) and turns what it throws into a status.
template <typename Write>
WriteResult WriteWith(const Marker& marker, const WriteOptions& options, Write write) noexcept {
  WriteResult result;
  try {
    const detail::MarkerData& data = detail::MarkerData::Of(marker);
    if (data.status != ImportStatus::Imported) {
      result.status = data.status;
      result.reason = data.reason.empty() ? StatusText(data.status) : data.reason;
      return result;
    }
    const platform::CodePage* code_page =
        options.code_page == 0 ? data.code_page : platform::CodePage::Find(options.code_page);
    if (!code_page) {
      result.status = ImportStatus::UnknownCodePage;
      result.reason = "code page " + std::to_string(options.code_page) + " is not supported here";
      return result;
    }
    const std::string_view caller = CallerName(options.name);
    const std::string_view name = caller.empty() ? model::FieldText(data.model.Name) : caller;
    // The name handed back is computed before anything is written, so that
    // nothing can fail after the files are in place.
    std::string normalized = output::NormalizeName(name, *code_page);
    const output::PositionCounts lines = write(data, *code_page, name);
    result.status = ImportStatus::Imported;
    result.name = std::move(normalized);
    result.counts = {data.model.m_sizes.Elements.GetSize(), lines.pieces, lines.cut_lines};
  } catch (const platform::OutputError& e) {
    result = {ImportStatus::OutputFailed, e.what(), {}, {}};
  } catch (const model::IndexOutOfRange& e) {
    result = {ImportStatus::CorruptIndex, e.what(), {}, {}};
  } catch (const std::bad_alloc&) {
    result = {ImportStatus::OutOfMemory, "memory exhausted", {}, {}};
  } catch (const std::length_error&) {
    result = {ImportStatus::OutOfMemory, "memory exhausted", {}, {}};
  } catch (const std::exception& e) {
    result = {ImportStatus::OutputFailed, e.what(), {}, {}};
  } catch (...) {
    result = {ImportStatus::OutputFailed, "unexpected failure", {}, {}};
  }
  return result;
}

}  // namespace

WriteResult WriteMarker(const Marker& marker, const std::filesystem::path& output_dir,
                        const WriteOptions& options) noexcept {
  bool deferred = false;
  WriteResult result = WriteWith(marker, options, [&](const detail::MarkerData& data,
                                                      const platform::CodePage& code_page, std::string_view name) {
    return entry::WriteOutputFiles(data.model, *data.index, code_page, name, output_dir,
                                   detail::DeferredFlushState::Of(options.deferred), &deferred);
  });
  result.deferred = result.ok() && deferred;
  return result;
}

WriteResult WriteMarker(const Marker& marker, OutputFiles& files,
                        const WriteOptions& options) noexcept {
  WriteResult result = WriteWith(
      marker, options,
      [&](const detail::MarkerData& data, const platform::CodePage& code_page, std::string_view name) {
        files.csvimprt.clear();
        files.posimport.clear();
        return entry::WriteOutputFiles(data.model, *data.index, code_page, name, files);
      });
  if (!result.ok()) {
    files.csvimprt.clear();
    files.posimport.clear();
  }
  return result;
}

ImportResult ImportMarker(const std::filesystem::path& file, std::string_view name,
                          const std::filesystem::path& output_dir) noexcept {
  return ImportMarker(file, name, output_dir, ImportOptions{});
}

ImportResult ImportMarker(const std::filesystem::path& file, std::string_view name,
                          const std::filesystem::path& output_dir,
                          const ImportOptions& options) noexcept {
  ImportResult result;
  try {
    ReadOptions read_options;
    read_options.salvage = options.salvage;
    read_options.code_page = options.code_page;
    ReadResult read = ReadMarker(file, read_options);
    result.diagnostics = std::move(read.warnings);
    if (!read.ok()) {
      result.status = read.status;
      // A file without pieces says so by its status alone.
      if (read.status != ImportStatus::NoPieces) {
        result.diagnostics.push_back({Diagnostic::Kind::ImportFailed, "", std::move(read.reason),
                                      std::move(read.salvage)});
      }
      return result;
    }
    WriteOptions write_options;
    write_options.name = std::string(CallerName(name));
    write_options.deferred = options.deferred;
    WriteResult written = WriteMarker(read.marker, output_dir, write_options);
    result.status = written.status;
    if (!written.ok()) {
      result.diagnostics.push_back({Diagnostic::Kind::ImportFailed, "", std::move(written.reason), ""});
      return result;
    }
    result.name = std::move(written.name);
    result.counts = written.counts;
    result.deferred = written.deferred;
  } catch (...) {
    // Only memory can run out here (the diagnostics); the read and the
    // write catch everything else themselves.
    result.status = ImportStatus::OutOfMemory;
    result.name.clear();
    result.counts = {};
    result.deferred = false;
  }
  return result;
}

const char* StatusText(ImportStatus status) noexcept {
  switch (status) {
    case ImportStatus::Imported: return "imported";
    case ImportStatus::CannotOpen: return "cannot be opened as a marker file";
    case ImportStatus::NoPieces: return "holds no pieces";
    case ImportStatus::CorruptIndex: return "a cross-reference between its tables is out of range";
    case ImportStatus::OutputFailed: return "the output files could not be written";
    case ImportStatus::OutOfMemory: return "memory ran out";
    case ImportStatus::Damaged: return "damaged: data that the output files need is missing";
    case ImportStatus::UnknownCodePage: return "the code page is not supported";
  }
  return "unknown status";
}

std::filesystem::path FixedOutputFolder() { return platform::FixedOutputFolder(); }

}  // namespace lumerca

extern "C" int ImportLumercaFile(const char* path, char* name) {
  try {
    if (!path || !name) return 0;
    auto file = lumerca::platform::PathFromAnsi(path);
    if (file.empty()) return 0;
    // Only the first 255 bytes of the caller's name are used (or read).
    std::string_view caller(name, strnlen(name, 255));
    auto result = lumerca::ImportMarker(file, caller, lumerca::platform::FixedOutputFolder());
    switch (result.status) {
      case lumerca::ImportStatus::Imported:
        std::memcpy(name, result.name.c_str(), result.name.size() + 1);
        return 1;
      case lumerca::ImportStatus::NoPieces:
        return -1;
      default:
        return 0;
    }
  } catch (...) {
    return 0;
  }
}
