#include "entry/walk.h"

#include "entry/utf8.h"
#include "readers/header.h"
#include "readers/pieces.h"
#include "readers/skipped.h"
#include "readers/splits.h"
#include "readers/tables.h"

#include <algorithm>
#include <memory>
#include <utility>

namespace lumerca::entry {

using namespace readers;

namespace {

// ---------------------------------------------------------------- dispatch

// ASCII case folding: the names that select a reader are all ASCII.
char16_t FoldCase(char16_t c) { return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - 32) : c; }

bool EqualsIgnoreCase(std::u16string_view name, std::string_view upper) {
  if (name.size() != upper.size()) return false;
  for (std::size_t i = 0; i < name.size(); ++i) {
    if (FoldCase(name[i]) != static_cast<char16_t>(upper[i])) return false;
  }
  return true;
}

// A name shorter than the suffix does not end with it.
bool EndsWithIgnoreCase(std::u16string_view name, std::string_view upper) {
  return name.size() >= upper.size() &&
         EqualsIgnoreCase(name.substr(name.size() - upper.size()), upper);
}

// A .PGS stream is consumed in reads of at most 100 bytes until its size is
// used up, or until a read delivers nothing (the stream holds less than it
// claims). Nothing of it is used.
StreamRead SkipPgs(storage::Stream& stream, std::uint32_t size) {
  LayoutReader in(stream);
  unsigned char scratch[100];
  std::uint32_t remaining = size;
  while (remaining > 0) {
    const auto chunk = std::min<std::uint32_t>(remaining, sizeof scratch);
    const std::uint32_t delivered = in.Read(scratch, chunk);
    if (delivered == 0) break;
    remaining -= std::min(delivered, remaining);
  }
  StreamRead read = in.Result();
  read.declared = size;
  return read;
}

// A .CLS stream: a signed 16-bit count, then that many records of 64 bytes,
// all dropped. A stream too short for its count counts 0. Nothing of it is
// used.
StreamRead SkipCls(storage::Stream& stream) { return SkipCountedRecords(stream, 64); }

// The default reader: SkipBytes over the stream's size.
StreamRead SkipStream(storage::Stream& stream, std::uint32_t size) {
  LayoutReader in(stream);
  SkipBytes(in, size);
  StreamRead read = in.Result();
  read.declared = size;
  return read;
}

struct Rule {
  enum class Test { Is, EndsWith } test;
  std::string_view text;  // upper case
  const char* reader;
  StreamRead (*read)(CMarker&, std::u16string_view, std::uint32_t, storage::Stream&);
};

// The rules in the order in which they are tested; the first that holds wins.
constexpr Rule kRules[] = {
    {Rule::Test::Is, "CLASSES", "CClasses",
     [](CMarker& m, std::u16string_view, std::uint32_t size, storage::Stream& s) {
       return ReadStream(m.m_classes, s, size);
     }},
    {Rule::Test::Is, "CROIXES", "CCroixes",
     [](CMarker& m, std::u16string_view, std::uint32_t size, storage::Stream& s) {
       return ReadStream(m.m_croixes, s, size);
     }},
    {Rule::Test::Is, "MARKER", "ReadHeader",
     [](CMarker& m, std::u16string_view, std::uint32_t size, storage::Stream& s) {
       return ReadHeader(m, s, size);
     }},
    {Rule::Test::Is, "PIECES", "CMarkerPieces",
     [](CMarker& m, std::u16string_view, std::uint32_t size, storage::Stream& s) {
       return ReadStream(m.m_pieces, s, size);
     }},
    {Rule::Test::Is, "SIZES", "CSizes",
     [](CMarker& m, std::u16string_view, std::uint32_t size, storage::Stream& s) {
       return ReadStream(m.m_sizes, s, size);
     }},
    {Rule::Test::Is, "STYLES", "CStyles",
     [](CMarker& m, std::u16string_view, std::uint32_t size, storage::Stream& s) {
       return ReadStream(m.m_styles, s, size);
     }},
    {Rule::Test::EndsWith, ".PGS", ".PGS skip",
     [](CMarker&, std::u16string_view, std::uint32_t size, storage::Stream& s) {
       return SkipPgs(s, size);
     }},
    {Rule::Test::EndsWith, ".CUTS", "CSplits",
     [](CMarker& m, std::u16string_view name, std::uint32_t size, storage::Stream& s) {
       return ReadStream(m.m_splits, s, size, name);
     }},
    {Rule::Test::EndsWith, ".CLS", ".CLS skip",
     [](CMarker&, std::u16string_view, std::uint32_t, storage::Stream& s) { return SkipCls(s); }},
    {Rule::Test::EndsWith, ".CAS", "ReadCas",
     [](CMarker& m, std::u16string_view name, std::uint32_t size, storage::Stream& s) {
       return ReadCas(m.m_skipped, s, size, name);
     }},
    {Rule::Test::Is, "CHESS", "ReadChess",
     [](CMarker& m, std::u16string_view, std::uint32_t size, storage::Stream& s) {
       return ReadChess(m.m_skipped, s, size);
     }},
    {Rule::Test::Is, "HALFS", "CHalfs",
     [](CMarker& m, std::u16string_view, std::uint32_t size, storage::Stream& s) {
       return ReadStream(m.m_halfs, s, size);
     }},
};

// ---------------------------------------------------------------- walk

using Outcome = WalkEntry::Outcome;

// Bounds on what the report keeps of one walk, so that a hostile document
// cannot make it grow faster than the document itself.
constexpr std::size_t kMaxTroubleEntries = 1000;

constexpr std::uint32_t kStorageType = static_cast<std::uint32_t>(storage::ElementType::Storage);
constexpr std::uint32_t kStreamType = static_cast<std::uint32_t>(storage::ElementType::Stream);
constexpr std::uint32_t kRootType = static_cast<std::uint32_t>(storage::ElementType::Root);

// Names that begin with U+0005 belong to the platform's property sets.
bool IsPropertySetName(const std::u16string& name) {
  return !name.empty() && name.front() == u'\x0005';
}

// One storage being walked. Its enumerator is released before the storage.
struct Level {
  std::unique_ptr<storage::Storage> owned;  // null for the root, which the caller keeps
  storage::Storage* storage = nullptr;
  std::unique_ptr<storage::Enumerator> enumerator;
  std::u16string name;  // the storage's own name ("" for the root)
  int depth = 0;        // depth of the storage's elements
};

// The walk's levels, innermost last. Whatever ends the walk, the innermost
// level is released first.
class LevelStack {
public:
  LevelStack() = default;
  LevelStack(const LevelStack&) = delete;
  LevelStack& operator=(const LevelStack&) = delete;
  ~LevelStack() {
    while (!levels_.empty()) levels_.pop_back();
  }
  bool empty() const { return levels_.empty(); }
  Level& top() { return levels_.back(); }
  void push(Level level) { levels_.push_back(std::move(level)); }
  void pop() { levels_.pop_back(); }

  // The '/'-separated path of the innermost storage, followed by `leaf`. A
  // path longer than kMaxWalkPathBytes keeps its end behind ".../", so that the
  // cost of one entry does not grow with the depth of the document.
  std::string PathTo(const std::u16string* leaf) const {
    std::vector<std::string> parts;  // innermost first
    std::size_t length = 0;
    bool cut = false;
    auto add = [&](const std::u16string& name) {
      if (length >= kMaxWalkPathBytes) {
        cut = true;
        return false;
      }
      parts.push_back(Utf16ToUtf8(name));
      length += parts.back().size() + 1;
      return true;
    };
    if (leaf) add(*leaf);
    for (std::size_t i = levels_.size(); i-- > 1;) {
      if (!add(levels_[i].name)) break;
    }
    std::string path = cut ? ".../" : "";
    for (auto part = parts.rbegin(); part != parts.rend(); ++part) {
      path += *part;
      if (part + 1 != parts.rend()) path += '/';
    }
    return path;
  }

private:
  std::vector<Level> levels_;
};

Outcome FromRead(ReadOutcome outcome) {
  switch (outcome) {
    case ReadOutcome::Read: return Outcome::Read;
    case ReadOutcome::Short: return Outcome::Short;
    case ReadOutcome::Skipped: return Outcome::Skipped;
  }
  return Outcome::Read;
}

// A stream whose deliveries are paid from the walk's allowance of bytes; once
// that is spent it delivers nothing more.
class MeteredStream final : public storage::Stream {
public:
  MeteredStream(storage::Stream& stream, std::uint64_t& left) : stream_(stream), left_(left) {}

  std::uint32_t Read(void* buffer, std::uint32_t count) override {
    const auto allowed = static_cast<std::uint32_t>(std::min<std::uint64_t>(count, left_));
    const std::uint32_t delivered = allowed == 0 && count > 0 ? 0 : stream_.Read(buffer, allowed);
    left_ -= delivered;
    // A read cut short by the allowance, where the stream had more to give.
    if (allowed < count && delivered == allowed) ran_out_ = true;
    return delivered;
  }
  bool ran_out() const { return ran_out_; }

private:
  storage::Stream& stream_;
  std::uint64_t& left_;
  bool ran_out_ = false;
};

class Walker {
public:
  Walker(CMarker& model, WalkReport* report, WalkLimits limits)
      : model_(model), report_(report), elements_left_(limits.elements), bytes_left_(limits.bytes) {}

  void Run(storage::Storage& root) {
    Enter(nullptr, root, u"", 0);
    while (!levels_.empty()) Step();
  }

private:
  // Starts the walk of a storage whose elements lie at `depth`. A storage that
  // gives no enumerator is lost whole ("failed IStorage::Enum").
  void Enter(std::unique_ptr<storage::Storage> owned, storage::Storage& storage,
             std::u16string name, int depth) {
    std::unique_ptr<storage::Enumerator> enumerator = storage.EnumElements();
    if (!enumerator) {
      const bool is_root = levels_.empty();
      Record(is_root ? nullptr : &name, depth, is_root ? kRootType : kStorageType, 0, "",
             Outcome::EnumFailed);
      return;
    }
    levels_.push(Level{std::move(owned), &storage, std::move(enumerator), std::move(name), depth});
  }

  // Handles the next element of the innermost storage.
  void Step() {
    Level& level = levels_.top();
    const int depth = level.depth;
    storage::Element element;
    switch (level.enumerator->Next(element)) {
      case storage::Enumerator::Result::Element:
        break;
      case storage::Enumerator::Result::Done:
        levels_.pop();
        return;
      case storage::Enumerator::Result::Failed:
        // "failed IEnumSTATSTG::Next": the elements not yet delivered are lost.
        Record(nullptr, depth, depth == 0 ? kRootType : kStorageType, 0, "", Outcome::NextFailed);
        levels_.pop();
        return;
    }

    if (elements_left_ == 0) {
      Overrun(element);
      return;
    }
    --elements_left_;

    if (IsPropertySetName(element.name) ||
        (element.type != kStorageType && element.type != kStreamType)) {
      Record(&element.name, depth, element.type, element.size, "", Outcome::PassedOver);
      return;
    }

    if (element.type == kStorageType) {
      EnterStorage(level, element);
    } else {
      ReadStream(level, element);
    }
  }

  // Opens a storage of the innermost level and walks into it.
  void EnterStorage(Level& level, storage::Element& element) {
    const int depth = level.depth;
    std::unique_ptr<storage::Storage> sub = level.storage->OpenStorage(element.name);
    if (!sub) {
      // "failed IStorage::OpenStorage": the rest of this storage is lost.
      Record(&element.name, depth, element.type, element.size, "", Outcome::OpenFailed);
      levels_.pop();
      return;
    }
    Record(&element.name, depth, element.type, element.size, "", Outcome::Entered);
    storage::Storage& ref = *sub;
    Enter(std::move(sub), ref, std::move(element.name), depth + 1);
  }

  // Opens a stream of the innermost level and hands it to its reader.
  void ReadStream(Level& level, const storage::Element& element) {
    const int depth = level.depth;
    std::unique_ptr<storage::Stream> stream = level.storage->OpenStream(element.name);
    if (!stream) {
      // "failed IStorage::OpenStream": the rest of this storage is lost.
      Record(&element.name, depth, element.type, element.size, "", Outcome::OpenFailed);
      levels_.pop();
      return;
    }
    const char* reader = "";
    const auto size = static_cast<std::uint32_t>(element.size & 0xFFFFFFFFu);
    MeteredStream metered(*stream, bytes_left_);
    StreamRead read = DispatchStream(model_, element.name, size, metered, &reader);
    stream.reset();
    if (metered.ran_out()) {
      Overrun(element, reader, &read);
      return;
    }
    const Outcome outcome = FromRead(read.outcome);
    if (read.Used() && report_) {
      // Counted apart from the entries kept, so that the import sees it.
      if (report_->used_damage++ == 0) {
        report_->first_used_damage = MakeEntry(&element.name, depth, element.type, element.size,
                                               reader, outcome, read);
      }
    }
    Record(&element.name, depth, element.type, element.size, reader, outcome, &read);
  }

  // The walk has met more than the document holds: it records the element
  // and ends.
  void Overrun(const storage::Element& element, const char* reader = "",
               const StreamRead* read = nullptr) {
    Record(&element.name, levels_.top().depth, element.type, element.size, reader, Outcome::Overrun,
           read);
    while (!levels_.empty()) levels_.pop();
  }

  // Entries for elements carry the element's path; entries for a storage
  // whose enumeration failed carry the storage's path.
  void Record(const std::u16string* leaf, int depth, std::uint32_t type, std::uint64_t size,
              const char* reader, Outcome outcome, const StreamRead* read = nullptr) {
    if (!report_ || !(report_->record_all || IsTrouble(outcome))) return;
    if (!report_->record_all && report_->entries.size() >= kMaxTroubleEntries) {
      ++report_->omitted;
      return;
    }
    report_->entries.push_back(MakeEntry(leaf, depth, type, size, reader, outcome,
                                         read ? *read : StreamRead{}));
  }

  WalkEntry MakeEntry(const std::u16string* leaf, int depth, std::uint32_t type, std::uint64_t size,
                      const char* reader, Outcome outcome, const StreamRead& read) const {
    WalkEntry entry;
    entry.path = levels_.PathTo(leaf);
    if (leaf) entry.name = Utf16ToUtf8(*leaf);
    entry.depth = depth;
    entry.type = type;
    entry.size = size;
    entry.reader = reader;
    entry.outcome = outcome;
    entry.read = read;
    return entry;
  }

  CMarker& model_;
  WalkReport* report_;
  std::uint64_t elements_left_;
  std::uint64_t bytes_left_;
  LevelStack levels_;
};

}  // namespace

void WalkStorage(CMarker& model, storage::Storage& root, WalkReport* report,
                 WalkLimits limits) {
  Walker(model, report, limits).Run(root);
}

StreamRead DispatchStream(CMarker& model, std::u16string_view name, std::uint32_t size,
                          storage::Stream& stream, const char** reader) {
  for (const Rule& rule : kRules) {
    const bool holds = rule.test == Rule::Test::Is ? EqualsIgnoreCase(name, rule.text)
                                                   : EndsWithIgnoreCase(name, rule.text);
    if (!holds) continue;
    if (reader) *reader = rule.reader;
    return rule.read(model, name, size, stream);
  }
  if (reader) *reader = "SkipBytes";
  return SkipStream(stream, size);
}

}  // namespace lumerca::entry
