// Raw bytes as a compound file: opened from memory, walked into a marker model
// (every stream handed to its reader), every stream then read again to its
// end, and a model whose cross-references hold written by both writers.
//
// Invariants: no read delivers more bytes than it asked for; no stream
// delivers more bytes than the file holds (each sector of a chain is read once,
// so no byte is made up); a model that passes ValidateIndexes never makes a
// writer throw. Of every stream that a reader took: a stream read whole
// delivered exactly the bytes its layout declares, one cut short fewer; no
// more records are kept than declared; what the output uses lies within the
// layout; every damage the output would use is counted. A cut line element
// never counts cut lines that it does not hold.
//
// A stream may deliver more or fewer bytes than the size its storage's listing
// gave: listing and opening are two searches of the storage's tree, as in the
// system's structured storage, and in a damaged directory (two siblings of one
// name in cross-linked trees) the listing may meet one entry and the search by
// name the other. Readers take the listed size as a hint only.

#include "model/marker.h"
#include "entry/walk.h"
#include "fuzz/fuzz_target.h"
#include "output/printf_file.h"
#include "output/writers.h"
#include "platform/codepage.h"
#include "storage/compound_file.h"

#include <memory>
#include <span>
#include <vector>

using namespace lumerca::model;
using namespace lumerca::readers;
using namespace lumerca::entry;
using namespace lumerca::output;
using namespace lumerca::platform;

namespace {

using namespace lumerca;

class DiscardSink final : public TextSink {
public:
  void Write(const char*, std::size_t) override {}
};

// Reads one stream to its end in reads of `chunk` bytes; `limit` is the size
// of the whole file.
void ReadToEnd(storage::Stream& stream, std::uint64_t limit, std::uint32_t chunk) {
  std::vector<unsigned char> buffer(chunk);
  std::uint64_t total = 0;
  for (;;) {
    const std::uint32_t delivered = stream.Read(buffer.data(), chunk);
    FUZZ_CHECK(delivered <= chunk, "a read delivered more than it was asked for");
    total += delivered;
    FUZZ_CHECK(total <= limit, "a stream delivered more bytes than the file holds");
    if (delivered < chunk) break;
  }
}

// Every storage and stream that the enumerators list, depth first, without
// recursion (storages may nest deeply).
void ReadEveryStream(storage::Storage& root, std::uint64_t limit, std::uint32_t chunk) {
  struct Level {
    std::unique_ptr<storage::Storage> owned;
    storage::Storage* storage;
    std::unique_ptr<storage::Enumerator> enumerator;
  };
  std::vector<Level> levels;
  auto enter = [&levels](std::unique_ptr<storage::Storage> owned, storage::Storage& storage) {
    auto enumerator = storage.EnumElements();
    if (enumerator) levels.push_back(Level{std::move(owned), &storage, std::move(enumerator)});
  };
  enter(nullptr, root);
  while (!levels.empty()) {
    Level& level = levels.back();
    storage::Element element;
    if (level.enumerator->Next(element) != storage::Enumerator::Result::Element) {
      levels.pop_back();
      continue;
    }
    if (element.type == static_cast<std::uint32_t>(storage::ElementType::Storage)) {
      auto sub = level.storage->OpenStorage(element.name);
      if (sub) {
        storage::Storage& ref = *sub;
        enter(std::move(sub), ref);
      }
    } else if (element.type == static_cast<std::uint32_t>(storage::ElementType::Stream)) {
      if (auto stream = level.storage->OpenStream(element.name)) ReadToEnd(*stream, limit, chunk);
    }
  }
}

void CheckReads(const WalkReport& report, std::uint64_t file_size) {
  std::size_t used = 0;
  for (const WalkEntry& e : report.entries) {
    if (*e.reader == '\0' || e.outcome == WalkEntry::Outcome::Skipped) continue;
    const StreamRead& r = e.read;
    if (e.outcome == WalkEntry::Outcome::Read) {
      FUZZ_CHECK(r.arrived == r.declared && r.declared_known, "%s read whole: %llu of %llu bytes",
                 e.path.c_str(), static_cast<unsigned long long>(r.arrived),
                 static_cast<unsigned long long>(r.declared));
      FUZZ_CHECK(r.kept_records == r.declared_records, "%s read whole lost records", e.path.c_str());
    } else if (e.outcome == WalkEntry::Outcome::Short) {
      FUZZ_CHECK(r.arrived < r.declared, "%s cut short: %llu of %llu bytes", e.path.c_str(),
                 static_cast<unsigned long long>(r.arrived), static_cast<unsigned long long>(r.declared));
      used += r.Used();
    }
    FUZZ_CHECK(r.used_end <= r.declared || !r.declared_known, "%s uses bytes past its layout",
               e.path.c_str());
    FUZZ_CHECK(r.kept_records <= r.declared_records, "%s kept more records than declared", e.path.c_str());
    FUZZ_CHECK(r.arrived <= file_size, "%s delivered more than the file holds", e.path.c_str());
  }
  FUZZ_CHECK(used == report.used_damage, "%zu damaged streams counted, %zu seen", report.used_damage, used);
}

void WriteBoth(const CMarker& model) {
  const ModelIndex index(model);
  // The import reports CorruptIndex and writes nothing.
  if (!CheckIndexes(model, index).empty()) return;
  const platform::CodePage& code_page = platform::CurrentCodePage();
  DiscardSink sink;
  CPrintfFile orders(sink);
  WriteModelOrderFile(model, index, code_page, FieldText(model.Name), orders);
  orders.Close();
  CPrintfFile positions(sink);
  WritePositionFile(model, index, code_page, positions);
  positions.Close();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::byte> bytes(reinterpret_cast<const std::byte*>(data), size);
  auto model = std::make_unique<CMarker>();
  WalkReport report;
  report.record_all = true;
  const auto root = OpenAndWalk(bytes, *model, report);
  if (!root) return 0;
  CheckReads(report, size);
  for (const CSplits::CElement& e : model->m_splits.Elements) {
    FUZZ_CHECK(e.SplitCount <= 0 || static_cast<std::size_t>(e.SplitCount) == e.Splits.GetSize(),
               "SplitCount %d with %zu cut lines", e.SplitCount, e.Splits.GetSize());
  }
  if (!model->m_pieces.IsEmpty()) WriteBoth(*model);

  // The second pass reads in chunks whose size depends on the input, so that
  // reads across sector and mini-sector boundaries vary.
  const std::uint32_t chunk = size > 0 ? 1u + data[size - 1] * 17u : 64u;
  ReadEveryStream(*root, size, chunk);
  return 0;
}
