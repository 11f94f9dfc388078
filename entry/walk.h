#pragma once

// The depth-first walk over a marker document and the choice of a reader by
// each stream's own name.

#include "model/marker.h"
#include "readers/primitives.h"
#include "storage/storage.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace lumerca::entry {

using model::CMarker;
using readers::StreamRead;

// What the walk did with one element.
struct WalkEntry {
  enum class Outcome {
    Read,        // a stream decoded into the model (or consumed by a skipping reader)
    Short,       // a stream that ended before its declared layout: what arrived of it
                 // entered the model; `read` says what is missing
    Skipped,     // a stream passed over by its reader (e.g. a .CUTS name without a number)
    Entered,     // a storage that was walked
    PassedOver,  // a name beginning with U+0005, or an element of another type
    OpenFailed,  // "failed IStorage::OpenStorage" / "failed IStorage::OpenStream"
    EnumFailed,  // "failed IStorage::Enum"
    NextFailed,  // "failed IEnumSTATSTG::Next"
    Overrun,     // more elements met, or more bytes read, than the document holds:
                 // storages or streams that share their contents; the walk ended here
  };
  // An element's entry names the element; an EnumFailed or NextFailed entry
  // names the storage whose elements were lost, with those elements' depth.
  std::string path;          // UTF-8, '/'-separated from the root ("" for the root);
                             // a path of more than 512 bytes keeps its end behind ".../"
  std::string name;          // UTF-8, the element's own name ("" in a storage's entry)
  int depth = 0;             // 0 for the root's own elements
  std::uint32_t type = 0;    // storage::ElementType value
  std::uint64_t size = 0;
  const char* reader = "";   // the reader that took a stream ("" for storages)
  Outcome outcome = Outcome::Read;
  StreamRead read;           // for a stream that a reader took: bytes declared and arrived,
                             // and what is missing
};

// An outcome that leaves something of the document unread or not used
// (every outcome but Read, Entered and PassedOver).
constexpr bool IsTrouble(WalkEntry::Outcome outcome) {
  using Outcome = WalkEntry::Outcome;
  return outcome != Outcome::Read && outcome != Outcome::Entered &&
         outcome != Outcome::PassedOver;
}

// The bytes of a walk entry's path beyond which its start is cut behind ".../".
constexpr std::size_t kMaxWalkPathBytes = 512;

struct WalkReport {
  bool record_all = false;          // false: only entries that are not Read/Entered/PassedOver
  std::vector<WalkEntry> entries;   // in walk order
  // Without record_all at most 1,000 entries are kept; the rest are counted.
  std::size_t omitted = 0;
  // Streams cut short of something the output files would use, whether or
  // not their entries were kept, and the first of them.
  std::size_t used_damage = 0;
  WalkEntry first_used_damage;
};

// Walks `root` depth first in its enumerator's order and fills `model`. Never
// throws for a damaged document: a storage that cannot be enumerated, or one of
// whose elements cannot be opened, ends the walk of that storage and its parent
// goes on. Exceptions other than those (memory exhausted) propagate.
//
// Every element of a sound document has a directory entry of its own and every
// stream sectors of its own, so a walk that meets more elements, or reads more
// bytes, than `limits` allows goes round a storage that lies inside itself, or
// through storages or streams that share their contents. It ends there: the
// stream being read when the bytes ran out delivers no more (what arrived of
// it stays in the model), and nothing else is opened.
// The limits are always given: a walk of a document read from a file or from
// memory takes them from its size (LimitsFor, or OpenAndWalk below, which
// does it); only a storage that no file stands behind (a test's) is walked
// Unbounded().
struct WalkLimits {
  std::uint64_t elements = 0;
  std::uint64_t bytes = 0;
  static constexpr WalkLimits Unbounded() { return {UINT64_MAX, UINT64_MAX}; }
};
void WalkStorage(CMarker& model, storage::Storage& root, WalkReport* report, WalkLimits limits);

// What a document of `file_size` bytes can hold: a directory entry takes 128
// bytes, and no stream's bytes are another's.
constexpr WalkLimits LimitsFor(std::uint64_t file_size) { return {file_size / 128, file_size}; }

// Opens `file` read-only and walks it into `model` within LimitsFor its size,
// holding COM on this thread (ComScope) while the document is open; the
// document is closed when it returns. The size is taken first, so that a file
// replaced meanwhile can only make the walk stop early. `opened`, when given,
// is called between the open and the walk. Returns false, and why in `why`,
// when the file cannot be opened.
bool OpenAndWalk(const std::filesystem::path& file, CMarker& model, WalkReport& report,
                 std::string* why = nullptr, const std::function<void()>& opened = {});

// The same for a compound file in memory, read by the portable reader where
// it lies (the bytes must outlive the document); returns the document (null
// when `bytes` is no compound file) for further reading.
std::unique_ptr<storage::Storage> OpenAndWalk(std::span<const std::byte> bytes, CMarker& model,
                                              WalkReport& report, std::string* why = nullptr);

// Hands one stream to the reader that its name selects; returns the reader's
// name through `reader` and what it made of the stream.
StreamRead DispatchStream(CMarker& model, std::u16string_view name, std::uint32_t size,
                           storage::Stream& stream, const char** reader = nullptr);

}  // namespace lumerca::entry
