#pragma once

// The depth-first walk over a marker document and the choice of a reader by
// each stream's own name.

#include "entry/marker.h"
#include "storage/storage.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace lumerca {

// What the walk did with one element.
struct WalkEntry {
  enum class Outcome {
    Read,        // a stream decoded into the model (or consumed by a skipping reader)
    Short,       // a stream that ended before its declared layout; rejected whole
    Skipped,     // a stream passed over by its reader (e.g. a .CUTS name without a number)
    Entered,     // a storage that was walked
    PassedOver,  // a name beginning with U+0005, or an element of another type
    OpenFailed,  // "failed IStorage::OpenStorage" / "failed IStorage::OpenStream"
    EnumFailed,  // "failed IStorage::Enum"
    NextFailed,  // "failed IEnumSTATSTG::Next"
  };
  // An element's entry names the element; an EnumFailed or NextFailed entry
  // names the storage whose elements were lost, with those elements' depth.
  std::string path;          // UTF-8, '/'-separated from the root ("" for the root);
                             // a path of more than 512 bytes keeps its end behind ".../"
  int depth = 0;             // 0 for the root's own elements
  std::uint32_t type = 0;    // storage::ElementType value
  std::uint64_t size = 0;
  const char* reader = "";   // the reader that took a stream ("" for storages)
  Outcome outcome = Outcome::Read;
};

struct WalkReport {
  bool record_all = false;          // false: only entries that are not Read/Entered/PassedOver
  std::vector<WalkEntry> entries;   // in walk order
  // Without record_all at most 1,000 entries are kept; the rest are counted.
  std::size_t omitted = 0;
};

// Walks `root` depth first in its enumerator's order and fills `model`. Never
// throws for a damaged document: a storage that cannot be enumerated, or one of
// whose elements cannot be opened, ends the walk of that storage and its parent
// goes on. Exceptions other than those (memory exhausted) propagate.
void WalkStorage(CMarker& model, storage::Storage& root, WalkReport* report = nullptr);

// Hands one stream to the reader that its name selects; returns the reader's
// name through `reader` and what it made of the stream.
ReadOutcome DispatchStream(CMarker& model, std::u16string_view name, std::uint32_t size,
                           storage::Stream& stream, const char** reader = nullptr);

}  // namespace lumerca
