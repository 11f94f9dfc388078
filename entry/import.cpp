// One import: open the document, walk it into a fresh model, check the
// cross-references, write both files under temporary names and rename them into
// place together.

#include <lumerca/marker.h>

#include "entry/com_scope.h"
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

Diagnostic ToDiagnostic(const WalkEntry& entry) {
  using Kind = Diagnostic::Kind;
  const bool storage = entry.type == static_cast<std::uint32_t>(storage::ElementType::Storage);
  switch (entry.outcome) {
    case WalkEntry::Outcome::Short:
      return {Kind::StreamRejected, entry.path,
              "stream ends before its declared layout; nothing of it was used"};
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
            const std::filesystem::path& output_dir, ImportResult& result) {
  auto model = std::make_unique<CMarker>();
  {
    [[maybe_unused]] ComScope com;  // COM for this thread while the document is open
    // The size bounds the walk (see LimitsFor); it is taken first, so that a
    // file replaced meanwhile can only make the walk stop early.
    std::error_code size_error;
    const std::uint64_t size = std::filesystem::file_size(file, size_error);
    auto root = size_error ? nullptr : storage::OpenDocument(file);
    if (!root) {
      result.status = ImportStatus::CannotOpen;
      return;
    }
    WalkReport report;
    WalkStorage(*model, *root, &report, LimitsFor(size));
    for (const auto& entry : report.entries) result.diagnostics.push_back(ToDiagnostic(entry));
    if (report.omitted > 0) {
      result.diagnostics.push_back({Diagnostic::Kind::StreamSkipped, "",
                                    std::to_string(report.omitted) + " further problems not listed"});
    }
  }  // the document is closed here
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
    Import(file, name, output_dir, result);
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
  }
  return "unknown status";
}

std::filesystem::path FixedOutputFolder() { return platform::FixedOutputFolder(); }

const char* Version() noexcept { return "0.1.0"; }

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
