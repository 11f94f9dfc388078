// One import: open the document, walk it into a fresh model, check the
// cross-references, write both files under temporary names and rename them into
// place together.

#include <lumerca/marker.h>

#include "entry/import_steps.h"
#include "entry/marker.h"
#include "entry/walk.h"
#include "output/model_index.h"
#include "output/normalize.h"
#include "output/printf_file.h"
#include "platform/output_folder.h"
#include "storage/storage.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

namespace lumerca {
namespace {

constexpr std::size_t kMaxNameBytes = 255;

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

}  // namespace

std::string DamageText(const StreamRead& read, bool salvage) {
  const std::uint64_t short_by = read.declared > read.arrived ? read.declared - read.arrived : 0;
  const std::string bytes = (read.declared_known ? "" : "at least ") + Grouped(short_by) +
                            (short_by == 1 ? " byte" : " bytes");
  // Without its count (or a .CUTS stream's header) a stream keeps nothing.
  const bool keeps_nothing = std::string_view(read.place) == "the record count" ||
                             std::string_view(read.place) == "the header";
  const bool records_lost = *read.records != '\0' && !keeps_nothing &&
                            read.kept_records < read.declared_records;
  std::string text;
  if (records_lost) {
    text = "holds " + Grouped(static_cast<std::uint64_t>(read.kept_records)) + " of its " +
           Grouped(static_cast<std::uint64_t>(read.declared_records)) + " " + read.records +
           ", ending " + bytes + " before its declared layout " + Where(read);
  } else if (*read.place == '\0') {
    text = "delivers " + Grouped(read.arrived) + " of its " + Grouped(read.declared) + " bytes";
  } else {
    text = "ends " + bytes + " before its declared layout, " + Where(read);
  }
  if (!read.Used()) return text + " (not used by the output files)";
  if (keeps_nothing) {
    return text + (salvage ? "; salvaged: imported without it" : "; not imported (--salvage imports the file without it)");
  }
  const std::string kept = !records_lost             ? "what arrived"
                           : read.kept_records == 0 ? "none of them"
                                                    : "the " + Grouped(static_cast<std::uint64_t>(read.kept_records));
  if (salvage) return text + "; salvaged: " + kept + " imported";
  return text + "; not imported (--salvage imports " + kept + ")";
}

std::string DamageReason(const WalkReport& report) {
  if (report.used_damage == 0) return "";
  const WalkEntry& first = report.first_used_damage;
  std::string reason = first.path + ": " + DamageText(first.read, false);
  if (report.used_damage > 1) {
    reason += "; and " + Grouped(report.used_damage - 1) + " more stream" +
              (report.used_damage > 2 ? "s" : "") + " with data missing";
  }
  return reason;
}

namespace {

Diagnostic ToDiagnostic(const WalkEntry& entry, bool salvage) {
  using Kind = Diagnostic::Kind;
  const bool storage = entry.type == static_cast<std::uint32_t>(storage::ElementType::Storage);
  switch (entry.outcome) {
    case WalkEntry::Outcome::Short:
      return {Kind::StreamDamaged, entry.path, DamageText(entry.read, salvage)};
    case WalkEntry::Outcome::Skipped:
      return {Kind::StreamSkipped, entry.path, "stream passed over: its name holds no piece number"};
    case WalkEntry::Outcome::OpenFailed:
      return storage ? Diagnostic{Kind::StorageUnreadable, entry.path,
                                  "storage cannot be opened; the rest of its parent was not read"}
                     : Diagnostic{Kind::StreamUnreadable, entry.path,
                                  "stream cannot be opened; the rest of its storage was not read"};
    case WalkEntry::Outcome::EnumFailed:
      return {Kind::StorageUnreadable, entry.path, "storage cannot be listed; it was not read"};
    case WalkEntry::Outcome::NextFailed:
      return {Kind::EnumerationFailed, entry.path,
              "listing the storage failed part way; the rest of it was not read"};
    case WalkEntry::Outcome::Overrun:
      return {Kind::EnumerationFailed, entry.path,
              "more elements or bytes than the document holds (storages or streams that share "
              "their contents); the walk stopped here"};
    default:
      return {Kind::StreamSkipped, entry.path, "passed over"};
  }
}

void Import(const std::filesystem::path& file, std::string_view name,
            const std::filesystem::path& output_dir, const ImportOptions& options,
            ImportResult& result) {
  auto model = std::make_unique<CMarker>();
  {
    WalkReport report;
    std::string why;
    if (!OpenAndWalk(file, *model, report, &why)) {
      result.status = ImportStatus::CannotOpen;
      result.diagnostics.push_back({Diagnostic::Kind::ImportFailed, "", why});
      return;
    }
    for (const auto& entry : report.entries) {
      result.diagnostics.push_back(ToDiagnostic(entry, options.salvage));
    }
    if (report.omitted > 0) {
      result.diagnostics.push_back({Diagnostic::Kind::StreamSkipped, "",
                                    std::to_string(report.omitted) + " further problems not listed"});
    }
    if (report.used_damage > 0 && !options.salvage) {
      // A host sees no warning: a marker with pieces, sizes or cut lines
      // missing would be a marker cut wrong.
      result.status = ImportStatus::Damaged;
      result.diagnostics.push_back({Diagnostic::Kind::ImportFailed, "", DamageReason(report)});
      return;
    }
  }
  if (model->m_pieces.IsEmpty()) {
    result.status = ImportStatus::NoPieces;
    return;
  }
  name = name.substr(0, std::min({name.size(), kMaxNameBytes, name.find('\0')}));
  if (!name.empty()) {
    std::memcpy(model->Name, name.data(), name.size());
    model->Name[name.size()] = '\0';
  }
  result.name = WriteOutputFiles(*model, output_dir, &result.counts);
  result.status = ImportStatus::Imported;
}

// Writes one file under a temporary name with `write` and flushes it.
template <typename Writer>
std::unique_ptr<platform::TemporaryFile> WriteFile(platform::OutputFolder& folder,
                                                   const char* final_name, Writer write) {
  auto file = folder.CreateTemporary(final_name);
  CPrintfFile text(*file);
  write(text);
  text.Close();
  file->Finish();
  return file;
}

}  // namespace

std::string WriteOutputFiles(const CMarker& model, const std::filesystem::path& output_dir,
                             ImportCounts* counts) {
  model.ValidateIndexes();
  // The name handed back is computed before anything is renamed, so that
  // nothing can fail after the files are in place.
  std::string normalized = NormalizeName(output::FieldText(model.Name));
  auto folder = platform::OpenOutputFolder(output_dir);
  CMarker::PositionCounts lines;
  auto orders = WriteFile(*folder, "csvimprt.txt",
                          [&](CPrintfFile& text) { model.WriteModelOrderFile(text); });
  auto positions = WriteFile(*folder, "posimport.txt",
                             [&](CPrintfFile& text) { lines = model.WritePositionFile(text); });
  folder->Commit(*orders, *positions);
  if (counts) *counts = {model.m_sizes.Elements.GetSize(), lines.pieces, lines.cut_lines};
  return normalized;
}

ImportResult ImportMarker(const std::filesystem::path& file, std::string_view name,
                          const std::filesystem::path& output_dir) noexcept {
  return ImportMarker(file, name, output_dir, ImportOptions{});
}

ImportResult ImportMarker(const std::filesystem::path& file, std::string_view name,
                          const std::filesystem::path& output_dir,
                          const ImportOptions& options) noexcept {
  ImportResult result;
  auto fail = [&](ImportStatus status, const char* what) {
    result.status = status;
    result.name.clear();
    result.counts = {};
    try {
      result.diagnostics.push_back({Diagnostic::Kind::ImportFailed, "", what});
    } catch (...) {
    }
  };
  try {
    Import(file, name, output_dir, options, result);
  } catch (const IndexOutOfRange& e) {
    fail(ImportStatus::CorruptIndex, e.what());
  } catch (const OutputError& e) {
    fail(ImportStatus::OutputFailed, e.what());
  } catch (const std::bad_alloc&) {
    fail(ImportStatus::OutOfMemory, "memory exhausted");
  } catch (const std::length_error&) {
    fail(ImportStatus::OutOfMemory, "memory exhausted");
  } catch (const std::exception& e) {
    fail(ImportStatus::OutputFailed, e.what());
  } catch (...) {
    fail(ImportStatus::OutputFailed, "unexpected failure");
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
