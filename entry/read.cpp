// Reading a marker: the document opened (from a file or from memory) and
// walked into a fresh model, the model's index built once, and what an
// import would conclude from it.

#include <lumerca/marker.h>

#include "entry/import_steps.h"
#include "entry/marker_data.h"
#include "entry/walk.h"
#include "output/normalize.h"
#include "storage/compound_file.h"

#include <new>
#include <stdexcept>

namespace lumerca {
namespace {

using entry::WalkEntry;
using entry::WalkReport;

Diagnostic ToDiagnostic(const WalkEntry& entry, bool salvage) {
  using Kind = Diagnostic::Kind;
  using Outcome = WalkEntry::Outcome;
  const bool storage = entry.type == static_cast<std::uint32_t>(storage::ElementType::Storage);
  switch (entry.outcome) {
    case Outcome::Short:
      return {Kind::StreamDamaged, entry.path, entry::DamageText(entry.read, salvage),
              salvage ? "" : entry::SalvageKeeps(entry.read)};
    case Outcome::Skipped:
      return {Kind::StreamSkipped, entry.path, "stream passed over: its name holds no piece number", ""};
    case Outcome::OpenFailed:
      return storage ? Diagnostic{Kind::StorageUnreadable, entry.path,
                                  "storage cannot be opened; the rest of its parent was not read", ""}
                     : Diagnostic{Kind::StreamUnreadable, entry.path,
                                  "stream cannot be opened; the rest of its storage was not read", ""};
    case Outcome::EnumFailed:
      return {Kind::StorageUnreadable, entry.path, "storage cannot be listed; it was not read", ""};
    case Outcome::NextFailed:
      return {Kind::EnumerationFailed, entry.path,
              "listing the storage failed part way; the rest of it was not read", ""};
    case Outcome::Overrun:
      return {Kind::EnumerationFailed, entry.path,
              "more elements or bytes than the document holds (storages or streams that share "
              "their contents); the walk stopped here",
              ""};
    default:
      return {Kind::StreamSkipped, entry.path, "passed over", ""};
  }
}

WalkElement::Outcome PublicOutcome(WalkEntry::Outcome outcome) {
  using Outcome = WalkEntry::Outcome;
  switch (outcome) {
    case Outcome::Read: return WalkElement::Outcome::Read;
    case Outcome::Short: return WalkElement::Outcome::Damaged;
    case Outcome::Skipped: return WalkElement::Outcome::Skipped;
    case Outcome::Entered: return WalkElement::Outcome::Entered;
    case Outcome::PassedOver: return WalkElement::Outcome::PassedOver;
    case Outcome::OpenFailed: return WalkElement::Outcome::CannotOpen;
    case Outcome::EnumFailed: return WalkElement::Outcome::CannotList;
    case Outcome::NextFailed: return WalkElement::Outcome::ListingFailed;
    case Outcome::Overrun: return WalkElement::Outcome::Stopped;
  }
  return WalkElement::Outcome::Read;
}

// The walk's entries as public elements, with the position of each one's
// storage in the walk (known from the depths when every element was
// recorded).
std::vector<WalkElement> PublicWalk(const WalkReport& report, bool salvage) {
  std::vector<WalkElement> walk;
  walk.reserve(report.entries.size());
  // For the storage whose elements lie at depth d: its position in the walk.
  std::vector<std::int64_t> parent{-1};
  for (const WalkEntry& entry : report.entries) {
    WalkElement element;
    const auto depth = static_cast<std::size_t>(entry.depth < 0 ? 0 : entry.depth);
    element.depth = entry.depth;
    element.parent = report.record_all && depth < parent.size() ? parent[depth] : -1;
    element.path = entry.path;
    element.name = entry.name;
    element.type = entry.type;
    element.size = entry.size;
    element.reader = entry.reader;
    element.outcome = PublicOutcome(entry.outcome);
    if (*entry.reader != '\0' && entry.outcome != WalkEntry::Outcome::Skipped) {
      element.declared = entry.read.declared;
      element.declared_known = entry.read.declared_known;
      element.arrived = entry.read.arrived;
    }
    if (entry.outcome == WalkEntry::Outcome::Short) {
      element.damage = entry::DamageText(entry.read, salvage);
      element.used = entry.read.Used();
      if (!salvage) element.salvage = entry::SalvageKeeps(entry.read);
    }
    if (entry.outcome == WalkEntry::Outcome::Entered) {
      parent.resize(depth + 2);
      parent[depth + 1] = static_cast<std::int64_t>(walk.size());
    }
    walk.push_back(std::move(element));
  }
  return walk;
}

template <std::size_t N>
std::string Text(const char (&field)[N]) {
  return std::string(model::FieldText(field));
}

// The header as public data, from the same field list as the model's.
MarkerHeader PublicHeader(const model::CMarker& m) {
  MarkerHeader h;
#define LUMERCA_COPY_FIELD(type, name, extent) detail::CopyField(h.name, m.name);
  LUMERCA_MARKER_FIXED_FIELDS(LUMERCA_COPY_FIELD)
#undef LUMERCA_COPY_FIELD
#define LUMERCA_COPY_TEXT(name, length, capacity) h.name = Text(m.name);
  LUMERCA_MARKER_TEXTS(LUMERCA_COPY_TEXT)
#undef LUMERCA_COPY_TEXT
  return h;
}

// Builds the marker's index and derived names once the walk has filled the
// model, and decides what an import would conclude.
void Conclude(detail::MarkerData& data, const WalkReport& report, const ReadOptions& options,
              ReadResult& result) {
  const model::CMarker& m = data.model;
  data.index.emplace(m);
  data.header = PublicHeader(m);
  data.name = output::NormalizeName(model::FieldText(m.Name), *data.code_page);
  data.class_names.reserve(m.m_classes.Elements.GetSize());
  for (const model::CClassesElement& record : m.m_classes.Elements) {
    data.class_names.push_back(output::NormalizeName(model::FieldText(record.Name), *data.code_page));
  }
  const std::string bad_index = model::CheckIndexes(m, *data.index);
  data.indexes_hold = bad_index.empty();

  if (report.used_damage > 0 && !options.salvage) {
    // A host sees no warning: a marker with pieces, sizes or cut lines
    // missing would be a marker cut wrong.
    data.status = ImportStatus::Damaged;
    data.reason = entry::DamageReason(report);
    data.salvage = entry::SalvageKeeps(report.first_used_damage.read);
  } else if (m.m_pieces.IsEmpty()) {
    data.status = ImportStatus::NoPieces;
    data.reason = StatusText(ImportStatus::NoPieces);
  } else if (!bad_index.empty()) {
    data.status = ImportStatus::CorruptIndex;
    data.reason = bad_index;
  } else {
    data.status = ImportStatus::Imported;
  }
  result.status = data.status;
  result.reason = data.reason;
  result.salvage = data.salvage;
}

// Reads with `open_and_walk(model, report, why)`, which opens the document,
// walks it into the model and returns false (with why) when it cannot be
// opened.
template <typename OpenAndWalk>
ReadResult Read(const ReadOptions& options, OpenAndWalk open_and_walk) noexcept {
  ReadResult result;
  try {
    const unsigned code_page_id = options.code_page == 0 ? AnsiCodePage() : options.code_page;
    const platform::CodePage* code_page =
        options.code_page == 0 ? &platform::CurrentCodePage() : platform::CodePage::Find(code_page_id);
    if (!code_page) {
      result.status = ImportStatus::UnknownCodePage;
      result.reason = "code page " + std::to_string(code_page_id) + " is not supported here";
      return result;
    }
    auto data = std::make_shared<detail::MarkerData>();
    data->code_page = code_page;
    WalkReport report;
    report.record_all = options.walk;
    std::string why;
    if (!open_and_walk(data->model, report, why)) {
      result.status = ImportStatus::CannotOpen;
      result.reason = std::move(why);
      return result;
    }
    result.walk = PublicWalk(report, options.salvage);
    for (const WalkEntry& entry : report.entries) {
      if (entry::IsTrouble(entry.outcome)) result.warnings.push_back(ToDiagnostic(entry, options.salvage));
    }
    if (report.omitted > 0) {
      result.warnings.push_back({Diagnostic::Kind::StreamSkipped, "",
                                 std::to_string(report.omitted) + " further problems not listed", ""});
    }
    Conclude(*data, report, options, result);
    result.marker = detail::MarkerData::Wrap(std::move(data));
  } catch (const std::bad_alloc&) {
    result = ReadResult{};
    result.status = ImportStatus::OutOfMemory;
    result.reason = "memory exhausted";
  } catch (const std::length_error&) {
    result = ReadResult{};
    result.status = ImportStatus::OutOfMemory;
    result.reason = "memory exhausted";
  } catch (const std::exception& e) {
    result = ReadResult{};
    result.status = ImportStatus::CannotOpen;
    result.reason = e.what();
  } catch (...) {
    result = ReadResult{};
    result.status = ImportStatus::CannotOpen;
    result.reason = "unexpected failure";
  }
  return result;
}

}  // namespace

ReadResult ReadMarker(const std::filesystem::path& file, const ReadOptions& options) noexcept {
  return Read(options, [&](model::CMarker& model, WalkReport& report, std::string& why) {
    return entry::OpenAndWalk(file, model, report, &why);
  });
}

ReadResult ReadMarker(std::span<const std::byte> bytes, const ReadOptions& options) noexcept {
  return Read(options, [&](model::CMarker& model, WalkReport& report, std::string& why) {
    std::unique_ptr<storage::Storage> root = entry::OpenAndWalk(bytes, model, report, &why);
    return root != nullptr;
  });
}

}  // namespace lumerca
