#include "storage/compound_file.h"

#include "platform/input_file.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <string_view>
#include <system_error>
#include <utility>

// Layout of a compound file:
//   sector -1   the 512-byte header (padded with zeros to 4096 bytes in version 4)
//   sector n    at byte offset (n + 1) * sector size
// The FAT chains sectors together; the DIFAT lists the FAT's own sectors (109
// entries in the header, then a chain of DIFAT sectors, each ending with the
// number of the next one). Small streams live in 64-byte mini sectors inside
// the mini stream, which is the root entry's own chain, chained by the mini
// FAT. The directory is an array of 128-byte entries; the elements of each
// storage form a binary search tree reached through the storage's child entry.
//
// A damaged tree (out of order, cyclic, sharing nodes with other storages) is
// still searched as the Windows enumerator searches it, which can cost a step
// per directory entry for every element listed or opened. So that no tree
// shape makes a document quadratic, tree work is paid from two allowances per
// document, each 64 steps per directory entry plus 65,536:
//   - checking a storage's tree and putting it in order: a step per node
//     visited. A well-formed document spends at most one step per entry on a
//     whole walk; only trees shared between storages spend more.
//   - descents of trees that are not in order: a step per node passed.
// When an allowance runs out, the listing of the storage at hand fails, and
// so does an open that needs it.

namespace lumerca::storage {
namespace {

constexpr std::uint32_t kMaxRegularSector = 0xFFFFFFFA;
constexpr std::uint32_t kEndOfChain = 0xFFFFFFFE;
constexpr std::uint32_t kFreeSector = 0xFFFFFFFF;
constexpr std::uint32_t kNoStream = 0xFFFFFFFF;

constexpr std::size_t kHeaderSize = 512;
constexpr std::size_t kHeaderDifatEntries = 109;
constexpr std::size_t kHeaderDifatOffset = 0x4C;
constexpr std::size_t kDirectoryEntrySize = 128;
constexpr std::size_t kNameUnits = 32;
constexpr std::uint32_t kMiniSectorShift = 6;
constexpr std::uint32_t kMiniSectorSize = 1U << kMiniSectorShift;
constexpr std::uint32_t kMiniStreamCutoff = 4096;
constexpr std::uint64_t kTreeStepsPerEntry = 64;
constexpr std::uint64_t kTreeStepsBase = 65536;

constexpr std::uint8_t kTypeUnallocated = 0;
constexpr std::uint8_t kTypeStorage = 1;
constexpr std::uint8_t kTypeStream = 2;
constexpr std::uint8_t kTypeRoot = 5;

constexpr std::uint8_t kSignature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};

using Bytes = std::span<const std::byte>;

// Little-endian fields; the caller has checked that the bytes are there.
std::uint16_t LoadU16(const std::byte* p) {
  return static_cast<std::uint16_t>(std::to_integer<unsigned>(p[0]) |
                                    (std::to_integer<unsigned>(p[1]) << 8));
}

std::uint32_t LoadU32(const std::byte* p) {
  return static_cast<std::uint32_t>(std::to_integer<std::uint32_t>(p[0]) |
                                    (std::to_integer<std::uint32_t>(p[1]) << 8) |
                                    (std::to_integer<std::uint32_t>(p[2]) << 16) |
                                    (std::to_integer<std::uint32_t>(p[3]) << 24));
}

std::uint64_t LoadU64(const std::byte* p) {
  return static_cast<std::uint64_t>(LoadU32(p)) |
         (static_cast<std::uint64_t>(LoadU32(p + 4)) << 32);
}

std::uint64_t CeilDiv(std::uint64_t value, std::uint64_t divisor) {
  return value / divisor + (value % divisor != 0 ? 1 : 0);
}

// ------------------------------------------------------------ name order

// Simple upper-casing of one UTF-16 unit, without a locale: ASCII and
// Latin-1 (with U+00B5 to U+039C and U+00FF to U+0178), Latin Extended-A
// (U+0131 to 'I' and U+017F to 'S' included), Greek, Cyrillic and the
// full-width Latin letters. Every other unit is its own upper case.
char16_t UpperUnit(char16_t unit) {
  const std::uint32_t u = unit;
  const auto shifted = [u](std::uint32_t delta) { return static_cast<char16_t>(u - delta); };
  // Ranges of pairs in which the capital is the even unit (the small letter
  // is odd), and ranges where it is the odd unit.
  const auto small_odd = [u](std::uint32_t first, std::uint32_t last) {
    return u >= first && u <= last && (u & 1U) != 0;
  };
  const auto small_even = [u](std::uint32_t first, std::uint32_t last) {
    return u >= first && u <= last && (u & 1U) == 0;
  };

  if (u < 0x61) return unit;
  if (u <= 0x7A) return shifted(0x20);
  if (u < 0xB5) return unit;
  if (u == 0xB5) return u'\u039C';
  if (u >= 0xE0 && u <= 0xFE && u != 0xF7) return shifted(0x20);
  if (u == 0xFF) return u'\u0178';
  if (u < 0x100) return unit;
  if (u == 0x131) return u'I';
  if (u == 0x17F) return u'S';
  if (small_odd(0x100, 0x137) || small_odd(0x14A, 0x177)) return shifted(1);
  if (small_even(0x139, 0x148) || small_even(0x179, 0x17E)) return shifted(1);
  if (u == 0x3AC) return u'\u0386';
  if (u >= 0x3AD && u <= 0x3AF) return shifted(0x25);
  if (u == 0x3C2) return u'\u03A3';
  if (u >= 0x3B1 && u <= 0x3CB) return shifted(0x20);
  if (u == 0x3CC) return u'\u038C';
  if (u == 0x3CD || u == 0x3CE) return shifted(0x3F);
  if (u >= 0x430 && u <= 0x44F) return shifted(0x20);
  if (u >= 0x450 && u <= 0x45F) return shifted(0x50);
  if (small_odd(0x460, 0x481) || small_odd(0x48A, 0x4BF) || small_odd(0x4D0, 0x52F))
    return shifted(1);
  if (small_even(0x4C1, 0x4CE)) return shifted(1);
  if (u == 0x4CF) return u'\u04C0';
  if (u >= 0xFF41 && u <= 0xFF5A) return shifted(0x20);
  return unit;
}

std::u16string UpperName(std::u16string_view name) {
  std::u16string key(name);
  for (char16_t& unit : key) unit = UpperUnit(unit);
  return key;
}

// The order of a storage's tree, on upper-cased names: a shorter name is
// smaller; names of one length compare unit by unit.
int CompareKeys(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
  const int order = a.compare(b);
  return order < 0 ? -1 : (order > 0 ? 1 : 0);
}

// ------------------------------------------------------------ the file

struct Header {
  std::uint16_t major_version = 0;
  std::uint32_t sector_shift = 0;
  std::uint32_t directory_sector_count = 0;
  std::uint32_t fat_sector_count = 0;
  std::uint32_t first_directory_sector = 0;
  std::uint32_t first_mini_fat_sector = 0;
  std::uint32_t mini_fat_sector_count = 0;
  std::uint32_t first_difat_sector = 0;
  std::uint32_t difat_sector_count = 0;
  std::uint32_t difat[kHeaderDifatEntries] = {};
};

struct DirectoryEntry {
  std::u16string name;  // the units before the first NUL
  std::u16string key;   // the name upper-cased, for the tree order
  std::uint8_t type = kTypeUnallocated;
  std::uint32_t left = kNoStream;
  std::uint32_t right = kNoStream;
  std::uint32_t child = kNoStream;
  std::uint32_t start = kEndOfChain;
  std::uint64_t size = 0;
};

// Where a stream's bytes lie: unit i (a sector or a mini sector) covers the
// stream's bytes [i * unit, (i + 1) * unit) and starts at offsets[i] in the
// file. Every byte below `length` is inside the file.
struct Layout {
  std::uint32_t unit = 0;
  std::vector<std::uint64_t> offsets;
  std::uint64_t length = 0;
};

struct Chain {
  std::vector<std::uint32_t> sectors;
  bool ended = false;  // reached kEndOfChain (not cut by a loop, a bad number or the limit)
  // Where a chain that did not end stopped: the number that is out of range,
  // or the sector named a second time.
  std::uint32_t stop = kEndOfChain;
  bool loop = false;
};

// Follows `table` from `start` for at most `max_length` links. A number at or
// above `limit` (or outside the table) ends the chain; so does the first
// number met a second time, which is cut off with everything after it.
Chain FollowChain(std::uint32_t start, const std::vector<std::uint32_t>& table,
                  std::uint64_t limit, std::uint64_t max_length) {
  Chain chain;
  std::uint32_t next = start;
  chain.stop = next;
  while (chain.sectors.size() < max_length) {
    if (next >= limit || next >= table.size()) {
      chain.ended = next == kEndOfChain;
      chain.stop = next;
      break;
    }
    chain.sectors.push_back(next);
    next = table[next];
  }
  if (chain.sectors.size() < 2) return chain;

  // Sorting (number, position) pairs puts repeats side by side; the chain is
  // cut at the earliest position whose number came before.
  std::vector<std::pair<std::uint32_t, std::uint32_t>> seen;
  seen.reserve(chain.sectors.size());
  for (std::size_t i = 0; i < chain.sectors.size(); ++i)
    seen.emplace_back(chain.sectors[i], static_cast<std::uint32_t>(i));
  std::sort(seen.begin(), seen.end());
  std::size_t cut = chain.sectors.size();
  for (std::size_t i = 1; i < seen.size(); ++i)
    if (seen[i].first == seen[i - 1].first) cut = std::min<std::size_t>(cut, seen[i].second);
  if (cut < chain.sectors.size()) {
    chain.stop = chain.sectors[cut];
    chain.loop = true;
    chain.sectors.resize(cut);
    chain.ended = false;
  }
  return chain;
}

// Steps of tree work that a document may still spend. Objects of one
// document may be used from several threads, hence the atomic.
class Allowance {
public:
  void Reset(std::uint64_t steps) { left_.store(steps, std::memory_order_relaxed); }
  std::uint64_t Left() const { return left_.load(std::memory_order_relaxed); }
  // Takes `steps`, or all that is left when that is less.
  void Spend(std::uint64_t steps) {
    std::uint64_t left = Left();
    while (!left_.compare_exchange_weak(left, left > steps ? left - steps : 0, std::memory_order_relaxed)) {
    }
  }

private:
  std::atomic<std::uint64_t> left_{0};
};

class File {
public:
  // Null when the bytes are not a valid compound file; `why` then says what
  // is wrong. The first keeps the bytes; the second reads the caller's,
  // which must outlive the file.
  static std::shared_ptr<const File> Load(std::vector<std::byte> bytes, std::string& why);
  static std::shared_ptr<const File> Load(Bytes bytes, std::string& why);

  std::size_t EntryCount() const { return entries_.size(); }
  bool IsEntry(std::uint32_t id) const { return id < entries_.size(); }
  const DirectoryEntry& Entry(std::uint32_t id) const { return entries_[id]; }
  // The storage whose tree first reaches entry `id` in a breadth-first pass
  // from the root; kNoStream for the root and for entries in no tree.
  std::uint32_t Parent(std::uint32_t id) const { return parents_[id]; }
  // A stream's size as the file states it: version 3 keeps the low 32 bits.
  std::uint64_t StreamSize(const DirectoryEntry& entry) const {
    return version_ == 3 ? (entry.size & 0xFFFFFFFFU) : entry.size;
  }
  Layout StreamLayout(const DirectoryEntry& entry) const;
  Bytes Data() const { return bytes_; }
  // The document's allowances for tree work (see the top of this file).
  Allowance& OrderSteps() const { return order_steps_; }
  Allowance& DescentSteps() const { return descent_steps_; }

private:
  // Reads the header, the tables and the directory of bytes_.
  bool Parse(std::string& why);
  bool ParseHeader(Header& header, std::string& why) const;
  std::uint32_t SectorWord(std::uint32_t sector, std::size_t index) const;
  std::string SectorProblem(std::uint32_t sector) const;
  std::string ChainProblem(const Chain& chain) const;
  bool LoadFat(const Header& header, std::string& why);
  void LoadMiniFat(const Header& header);
  bool LoadDirectory(const Header& header, std::string& why);
  void AssignParents();
  Layout RegularLayout(std::uint32_t start, std::uint64_t size) const;
  Layout MiniLayout(std::uint32_t start, std::uint64_t size) const;

  std::vector<std::byte> owned_;  // the bytes, where the file keeps them
  Bytes bytes_;
  int version_ = 3;
  std::uint32_t sector_shift_ = 9;
  std::uint32_t sector_size_ = 512;
  std::uint64_t sector_count_ = 0;  // sectors that start inside the file
  std::vector<std::uint32_t> fat_;
  std::vector<std::uint32_t> mini_fat_;
  std::vector<DirectoryEntry> entries_;
  std::vector<std::uint32_t> parents_;
  Layout mini_stream_;
  mutable Allowance order_steps_;
  mutable Allowance descent_steps_;
};

std::string Hex16(std::uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%04X", value);
  return text;
}

bool File::ParseHeader(Header& header, std::string& why) const {
  if (bytes_.empty()) {
    why = "the file is empty";
    return false;
  }
  const std::size_t signature = std::min(bytes_.size(), sizeof kSignature);
  if (std::memcmp(bytes_.data(), kSignature, signature) != 0) {
    why = "not a compound file: " + DescribeForeignBytes(Bytes(bytes_));
    return false;
  }
  if (bytes_.size() < kHeaderSize) {
    why = "truncated: the file holds " + std::to_string(bytes_.size()) +
          " bytes, less than the 512-byte header of a compound file";
    return false;
  }
  const std::byte* h = bytes_.data();
  header.major_version = LoadU16(h + 0x1A);
  if (LoadU16(h + 0x1C) != 0xFFFE) {  // byte order mark
    why = "compound-file header: byte order " + Hex16(LoadU16(h + 0x1C)) + ", not 0xFFFE";
    return false;
  }
  header.sector_shift = LoadU16(h + 0x1E);
  // Version 3 has 512-byte sectors, version 4 has 4096-byte sectors.
  if (header.major_version != 3 && header.major_version != 4) {
    why = "compound-file header: version " + std::to_string(header.major_version) +
          " (only versions 3 and 4 exist)";
    return false;
  }
  if (!(header.major_version == 3 && header.sector_shift == 9) &&
      !(header.major_version == 4 && header.sector_shift == 12)) {
    why = "compound-file header: sector shift " + std::to_string(header.sector_shift) +
          " in version " + std::to_string(header.major_version) +
          " (version 3 has 512-byte sectors, shift 9; version 4 4096-byte sectors, shift 12)";
    return false;
  }
  if (LoadU16(h + 0x20) != kMiniSectorShift) {
    why = "compound-file header: mini sector shift " + std::to_string(LoadU16(h + 0x20)) + ", not 6";
    return false;
  }
  header.directory_sector_count = LoadU32(h + 0x28);
  header.fat_sector_count = LoadU32(h + 0x2C);
  header.first_directory_sector = LoadU32(h + 0x30);
  if (LoadU32(h + 0x38) != kMiniStreamCutoff) {
    why = "compound-file header: mini stream cutoff " + std::to_string(LoadU32(h + 0x38)) +
          ", not 4096";
    return false;
  }
  header.first_mini_fat_sector = LoadU32(h + 0x3C);
  header.mini_fat_sector_count = LoadU32(h + 0x40);
  header.first_difat_sector = LoadU32(h + 0x44);
  header.difat_sector_count = LoadU32(h + 0x48);
  for (std::size_t i = 0; i < kHeaderDifatEntries; ++i)
    header.difat[i] = LoadU32(h + kHeaderDifatOffset + 4 * i);
  return true;
}

// Word `index` of a sector; a word past the end of a truncated last sector
// reads as a free sector.
std::uint32_t File::SectorWord(std::uint32_t sector, std::size_t index) const {
  const std::uint64_t offset = ((static_cast<std::uint64_t>(sector) + 1) << sector_shift_) + 4 * index;
  if (offset > bytes_.size() || bytes_.size() - offset < 4) return kFreeSector;
  return LoadU32(bytes_.data() + static_cast<std::size_t>(offset));
}

// "1 sector", "12 sectors".
std::string Sectors(std::uint64_t count) {
  return std::to_string(count) + (count == 1 ? " sector" : " sectors");
}

// Why `sector` names no sector of the file.
std::string File::SectorProblem(std::uint32_t sector) const {
  switch (sector) {
    case kEndOfChain: return "end of chain (0xFFFFFFFE)";
    case kFreeSector: return "a free sector (0xFFFFFFFF)";
    case 0xFFFFFFFD: return "a FAT sector's mark (0xFFFFFFFD)";
    case 0xFFFFFFFC: return "a DIFAT sector's mark (0xFFFFFFFC)";
    default: break;
  }
  std::string text = "sector " + std::to_string(sector) + ", past the end of the file (" +
                     Sectors(sector_count_) + " of " + std::to_string(sector_size_) + " bytes)";
  // A number a little past the end is what a file cut short shows.
  const bool partial = bytes_.size() % sector_size_ != 0;
  if (sector > kMaxRegularSector) text += ", a reserved number";
  else if (partial || sector < 2 * sector_count_ + 16) text += ": the file may be truncated";
  return text;
}

// Why a chain that must end properly did not.
std::string File::ChainProblem(const Chain& chain) const {
  if (chain.loop) {
    return "its chain comes back to sector " + std::to_string(chain.stop) + " after " +
           Sectors(chain.sectors.size()) + " (a loop)";
  }
  if (chain.stop == kEndOfChain && chain.sectors.empty()) return "its first sector is end of chain";
  return "its chain leads after " + Sectors(chain.sectors.size()) + " to " + SectorProblem(chain.stop);
}

// The DIFAT (header entries, then the DIFAT chain) names the FAT's sectors.
bool File::LoadFat(const Header& header, std::string& why) {
  const std::uint32_t fat_sectors = header.fat_sector_count;
  if (fat_sectors == 0) {
    why = "compound-file header: no FAT sector";
    return false;
  }
  std::vector<std::uint32_t> locations;
  locations.reserve(fat_sectors);
  for (std::size_t i = 0; i < kHeaderDifatEntries && locations.size() < fat_sectors; ++i)
    locations.push_back(header.difat[i]);

  // Each DIFAT sector holds sector_size / 4 - 1 locations, then the next one.
  const std::size_t per_sector = sector_size_ / 4 - 1;
  std::vector<bool> visited(static_cast<std::size_t>(sector_count_), false);
  std::uint32_t next = header.first_difat_sector;
  while (locations.size() < fat_sectors) {
    if (next >= sector_count_) {
      why = "DIFAT: " + std::to_string(fat_sectors) + " FAT sectors declared, but after " +
            std::to_string(locations.size()) + " locations the DIFAT chain leads to " + SectorProblem(next);
      return false;
    }
    if (visited[next]) {
      why = "DIFAT: its chain comes back to sector " + std::to_string(next) + " (a loop)";
      return false;
    }
    visited[next] = true;
    for (std::size_t i = 0; i < per_sector && locations.size() < fat_sectors; ++i)
      locations.push_back(SectorWord(next, i));
    next = SectorWord(next, per_sector);
  }
  // The chain may go on past the locations needed, but it must end: a loop
  // there is damage too.
  while (next < sector_count_) {
    if (visited[next]) {
      why = "DIFAT: its chain comes back to sector " + std::to_string(next) + " (a loop)";
      return false;
    }
    visited[next] = true;
    next = SectorWord(next, per_sector);
  }

  const std::size_t per_fat_sector = sector_size_ / 4;
  fat_.reserve(locations.size() * per_fat_sector);
  for (std::size_t k = 0; k < locations.size(); ++k) {
    const std::uint32_t location = locations[k];
    if (location >= sector_count_) {
      why = "DIFAT: FAT sector " + std::to_string(k) + " of " + std::to_string(fat_sectors) +
            " is " + SectorProblem(location);
      return false;
    }
    for (std::size_t i = 0; i < per_fat_sector; ++i) fat_.push_back(SectorWord(location, i));
  }
  return true;
}

// The mini FAT is whatever its chain holds; a damaged chain only shortens it,
// which ends the small streams that run past it.
void File::LoadMiniFat(const Header& header) {
  const Chain chain = FollowChain(header.first_mini_fat_sector, fat_, sector_count_, sector_count_);
  const std::size_t per_sector = sector_size_ / 4;
  mini_fat_.reserve(chain.sectors.size() * per_sector);
  for (std::uint32_t sector : chain.sectors)
    for (std::size_t i = 0; i < per_sector; ++i) mini_fat_.push_back(SectorWord(sector, i));
}

// One 128-byte directory entry. The name length field counts bytes with the
// terminating NUL; when it is odd, 0 or above 64 the whole 32-unit field is
// taken. Either way the name ends at its first NUL.
DirectoryEntry ParseEntry(const std::byte* e) {
  DirectoryEntry entry;
  const std::uint16_t name_bytes = LoadU16(e + 0x40);
  std::size_t units = kNameUnits;
  if (name_bytes != 0 && name_bytes % 2 == 0 && name_bytes <= 2 * kNameUnits)
    units = name_bytes / 2U - 1U;
  for (std::size_t i = 0; i < units; ++i) {
    const auto unit = static_cast<char16_t>(LoadU16(e + 2 * i));
    if (unit == 0) break;
    entry.name.push_back(unit);
  }
  entry.key = UpperName(entry.name);
  entry.type = std::to_integer<std::uint8_t>(e[0x42]);
  // 0x43 holds the red-black colour, which the reader does not need.
  entry.left = LoadU32(e + 0x44);
  entry.right = LoadU32(e + 0x48);
  entry.child = LoadU32(e + 0x4C);
  entry.start = LoadU32(e + 0x74);
  entry.size = LoadU64(e + 0x78);
  return entry;
}

// The directory chain must end properly; the first entry is the root.
bool File::LoadDirectory(const Header& header, std::string& why) {
  const Chain chain =
      FollowChain(header.first_directory_sector, fat_, sector_count_, sector_count_ + 1);
  if (!chain.ended || chain.sectors.empty()) {
    why = "directory: " + ChainProblem(chain);
    return false;
  }

  const std::size_t per_sector = sector_size_ / kDirectoryEntrySize;
  entries_.reserve(chain.sectors.size() * per_sector);
  for (std::uint32_t sector : chain.sectors) {
    const std::uint64_t base = (static_cast<std::uint64_t>(sector) + 1) << sector_shift_;
    for (std::size_t i = 0; i < per_sector; ++i) {
      // An entry cut by the end of the file reads as zeros past that end.
      std::byte raw[kDirectoryEntrySize] = {};
      const std::uint64_t offset = base + i * kDirectoryEntrySize;
      if (offset < bytes_.size()) {
        const std::uint64_t available = std::min<std::uint64_t>(kDirectoryEntrySize, bytes_.size() - offset);
        std::memcpy(raw, bytes_.data() + static_cast<std::size_t>(offset), static_cast<std::size_t>(available));
      }
      entries_.push_back(ParseEntry(raw));
    }
  }
  if (entries_[0].type != kTypeRoot) {
    why = "directory: the first entry is of type " + std::to_string(entries_[0].type) +
          ", not the root (5)";
    return false;
  }
  return true;
}

// Gives every entry reachable through sibling links from a storage's child
// the first storage (breadth first from the root) that reaches it. A storage
// opens only under that parent, so a tree that leads back to an ancestor, or
// two storages sharing a subtree, cannot make a walk endless.
void File::AssignParents() {
  const auto count = static_cast<std::uint32_t>(entries_.size());
  parents_.assign(count, kNoStream);
  std::vector<bool> claimed(count, false);
  claimed[0] = true;
  std::vector<std::uint32_t> storages{0};
  std::vector<std::uint32_t> pending;
  for (std::size_t next_storage = 0; next_storage < storages.size(); ++next_storage) {
    const std::uint32_t storage = storages[next_storage];
    pending.assign(1, entries_[storage].child);
    while (!pending.empty()) {
      const std::uint32_t id = pending.back();
      pending.pop_back();
      if (id >= count || claimed[id]) continue;
      claimed[id] = true;
      parents_[id] = storage;
      const DirectoryEntry& entry = entries_[id];
      if (entry.type == kTypeStorage) storages.push_back(id);
      pending.push_back(entry.left);
      pending.push_back(entry.right);
    }
  }
}

std::shared_ptr<const File> File::Load(std::vector<std::byte> bytes, std::string& why) {
  auto file = std::make_shared<File>();
  file->owned_ = std::move(bytes);
  file->bytes_ = file->owned_;
  return file->Parse(why) ? file : nullptr;
}

std::shared_ptr<const File> File::Load(Bytes bytes, std::string& why) {
  auto file = std::make_shared<File>();
  file->bytes_ = bytes;
  return file->Parse(why) ? file : nullptr;
}

bool File::Parse(std::string& why) {
  Header header;
  if (!ParseHeader(header, why)) return false;

  version_ = header.major_version;
  sector_shift_ = header.sector_shift;
  sector_size_ = 1U << header.sector_shift;
  const std::uint64_t size = bytes_.size();
  if (size > sector_size_)
    sector_count_ = std::min<std::uint64_t>(CeilDiv(size - sector_size_, sector_size_),
                                                  std::uint64_t{kMaxRegularSector} + 1);
  // Each table fits in the file: a count above the sectors there is damage.
  const std::uint64_t sectors = sector_count_;
  const std::pair<std::uint32_t, const char*> counts[] = {
      {header.fat_sector_count, "FAT"},
      {header.mini_fat_sector_count, "mini FAT"},
      {header.difat_sector_count, "DIFAT"},
      {header.directory_sector_count, "directory"}};
  for (const auto& [count, table] : counts) {
    if (count > sectors) {
      why = "compound-file header: " + std::to_string(count) + " " + table +
            " sectors declared, but the file holds " + Sectors(sectors) + " of " +
            std::to_string(sector_size_) + " bytes";
      if (size % sector_size_ != 0 || count < 2 * sectors + 16) why += ": the file may be truncated";
      return false;
    }
  }

  if (!LoadFat(header, why)) return false;
  LoadMiniFat(header);
  if (!LoadDirectory(header, why)) return false;
  AssignParents();
  const std::uint64_t tree_steps = kTreeStepsPerEntry * entries_.size() + kTreeStepsBase;
  order_steps_.Reset(tree_steps);
  descent_steps_.Reset(tree_steps);
  const DirectoryEntry& root = entries_[0];
  mini_stream_ = RegularLayout(root.start, StreamSize(root));
  return true;
}

// A chain of whole sectors, cut where it breaks and where the file ends.
Layout File::RegularLayout(std::uint32_t start, std::uint64_t size) const {
  Layout layout;
  layout.unit = sector_size_;
  const std::uint64_t needed = CeilDiv(std::min(size, sector_count_ << sector_shift_), sector_size_);
  const Chain chain = FollowChain(start, fat_, sector_count_, needed);
  layout.offsets.reserve(chain.sectors.size());
  std::uint64_t length = 0;
  for (std::uint32_t sector : chain.sectors) {
    // Every sector below sector_count_ starts inside the file; only the last
    // sector of the file can be short.
    const std::uint64_t offset = (static_cast<std::uint64_t>(sector) + 1) << sector_shift_;
    const std::uint64_t available = std::min<std::uint64_t>(sector_size_, bytes_.size() - offset);
    layout.offsets.push_back(offset);
    length += available;
    if (available < sector_size_) break;
  }
  layout.length = std::min(length, size);
  return layout;
}

// A chain of mini sectors, each 64 bytes of the mini stream.
Layout File::MiniLayout(std::uint32_t start, std::uint64_t size) const {
  Layout layout;
  layout.unit = kMiniSectorSize;
  const std::uint64_t mini_length = mini_stream_.length;
  const std::uint64_t needed = CeilDiv(std::min(size, mini_length), kMiniSectorSize);
  const Chain chain = FollowChain(start, mini_fat_, CeilDiv(mini_length, kMiniSectorSize), needed);
  layout.offsets.reserve(chain.sectors.size());
  std::uint64_t length = 0;
  for (std::uint32_t mini_sector : chain.sectors) {
    const std::uint64_t position = static_cast<std::uint64_t>(mini_sector) << kMiniSectorShift;
    const std::uint64_t available = std::min<std::uint64_t>(kMiniSectorSize, mini_length - position);
    const std::uint64_t sector_index = position >> sector_shift_;
    layout.offsets.push_back(mini_stream_.offsets[static_cast<std::size_t>(sector_index)] +
                             (position & (sector_size_ - 1)));
    length += available;
    if (available < kMiniSectorSize) break;
  }
  layout.length = std::min(length, size);
  return layout;
}

Layout File::StreamLayout(const DirectoryEntry& entry) const {
  const std::uint64_t size = StreamSize(entry);
  if (size == 0) return Layout{kMiniSectorSize, {}, 0};
  return size < kMiniStreamCutoff ? MiniLayout(entry.start, size) : RegularLayout(entry.start, size);
}

// ------------------------------------------------------------ tree searches

// What a search found: an entry (kNoStream for none), or that the document's
// allowance ran out before the search ended.
struct Found {
  std::uint32_t id = kNoStream;
  bool exhausted = false;
};

// A descent from `top` that `step` steers: given an entry, it updates the
// search's result and names the next node, or gives kNoStream to stop. A
// descent takes at most as many steps as the directory has entries, each paid
// from the document's descent allowance.
template <typename Step>
Found Descend(const File& file, std::uint32_t top, Step step) {
  Allowance& allowance = file.DescentSteps();
  const std::uint64_t affordable = allowance.Left();
  Found found;
  std::uint32_t node = top;
  std::uint64_t steps = 0;
  for (; file.IsEntry(node) && steps < file.EntryCount(); ++steps) {
    if (steps == affordable) {
      allowance.Spend(steps);
      return Found{kNoStream, true};
    }
    node = step(node, file.Entry(node), found.id);
  }
  allowance.Spend(steps);
  return found;
}

// The entry with the smallest name above `last` (the smallest of all when
// `last` is null), found by one descent from `top`: a node above `last` is
// the best so far and the search goes left, any other node sends it right.
Found Successor(const File& file, std::uint32_t top, const std::u16string* last) {
  return Descend(file, top, [last](std::uint32_t node, const DirectoryEntry& entry, std::uint32_t& best) {
    if (last == nullptr || CompareKeys(entry.key, *last) > 0) {
      best = node;
      return entry.left;
    }
    return entry.right;
  });
}

// The entry named `key` (upper-cased), by a descent from `top`.
Found Find(const File& file, std::uint32_t top, std::u16string_view key) {
  return Descend(file, top, [key](std::uint32_t node, const DirectoryEntry& entry, std::uint32_t& match) {
    const int order = CompareKeys(key, entry.key);
    if (order == 0) {
      match = entry.type == kTypeUnallocated ? kNoStream : node;
      return kNoStream;
    }
    return order < 0 ? entry.left : entry.right;
  });
}

// What is known of the tree of one storage.
struct TreeOrder {
  enum class Kind { Ordered, Unordered, Exhausted };
  Kind kind = Kind::Unordered;
  // For an ordered tree, its entries in name order.
  std::vector<std::uint32_t> ids;
};

// Whether the tree under `top` is a proper search tree: names strictly
// increasing in order, which also rules out cycles and shared nodes. Then
// successive searches give exactly its in-order list, and a search for a name
// finds what a binary search of that list finds, so the list can stand in
// for them. Each node entered is paid from the document's order allowance.
TreeOrder CheckOrder(const File& file, std::uint32_t top) {
  Allowance& allowance = file.OrderSteps();
  const std::uint64_t affordable = allowance.Left();
  std::uint64_t steps = 0;
  TreeOrder result;
  const auto finish = [&](TreeOrder::Kind kind) {
    allowance.Spend(steps);
    result.kind = kind;
    if (kind != TreeOrder::Kind::Ordered) result.ids = {};
    return std::move(result);
  };
  std::vector<std::uint32_t>& order = result.ids;
  std::vector<std::uint32_t> path;
  std::uint32_t node = top;
  while (file.IsEntry(node) || !path.empty()) {
    while (file.IsEntry(node)) {
      if (path.size() >= file.EntryCount()) return finish(TreeOrder::Kind::Unordered);
      if (steps == affordable) return finish(TreeOrder::Kind::Exhausted);
      ++steps;
      path.push_back(node);
      node = file.Entry(node).left;
    }
    node = path.back();
    path.pop_back();
    if (!order.empty() && CompareKeys(file.Entry(order.back()).key, file.Entry(node).key) >= 0)
      return finish(TreeOrder::Kind::Unordered);
    order.push_back(node);
    node = file.Entry(node).right;
  }
  return finish(TreeOrder::Kind::Ordered);
}

// The entry named `key` in an ordered tree, by binary search of its list.
std::uint32_t FindOrdered(const File& file, const std::vector<std::uint32_t>& ids, std::u16string_view key) {
  const auto it = std::lower_bound(ids.begin(), ids.end(), key, [&file](std::uint32_t id, std::u16string_view k) {
    return CompareKeys(file.Entry(id).key, k) < 0;
  });
  if (it == ids.end() || CompareKeys(file.Entry(*it).key, key) != 0) return kNoStream;
  return file.Entry(*it).type == kTypeUnallocated ? kNoStream : *it;
}

// ------------------------------------------------------------ the objects

class CompoundStream final : public Stream {
public:
  CompoundStream(std::shared_ptr<const File> file, Layout layout)
      : file_(std::move(file)), layout_(std::move(layout)) {}

  std::uint32_t Read(void* buffer, std::uint32_t count) override {
    const Bytes data = file_->Data();
    auto* out = static_cast<std::byte*>(buffer);
    const std::uint64_t wanted = std::min<std::uint64_t>(count, layout_.length - position_);
    std::uint64_t done = 0;
    while (done < wanted) {
      const auto unit_index = static_cast<std::size_t>(position_ / layout_.unit);
      const std::uint64_t within = position_ % layout_.unit;
      const std::uint64_t chunk = std::min<std::uint64_t>(layout_.unit - within, wanted - done);
      const std::uint64_t offset = layout_.offsets[unit_index] + within;
      if (offset > data.size() || data.size() - offset < chunk) break;  // cannot happen: length is checked
      std::memcpy(out + done, data.data() + static_cast<std::size_t>(offset), static_cast<std::size_t>(chunk));
      done += chunk;
      position_ += chunk;
    }
    return static_cast<std::uint32_t>(done);
  }

private:
  std::shared_ptr<const File> file_;
  Layout layout_;
  std::uint64_t position_ = 0;
};

Element MakeElement(const File& file, const DirectoryEntry& entry) {
  Element element;
  element.name = entry.name;
  element.type = entry.type;
  // STATSTG gives a size for streams only.
  element.size = entry.type == kTypeStream ? file.StreamSize(entry) : 0;
  return element;
}

class CompoundEnumerator final : public Enumerator {
public:
  CompoundEnumerator(std::shared_ptr<const File> file, std::uint32_t top,
                     std::shared_ptr<const TreeOrder> order)
      : file_(std::move(file)), top_(top), order_(std::move(order)) {}

  // Unallocated entries met in the tree are stepped over: they move the
  // enumeration past their name but are not listed. Once the document's
  // allowance has run out, this listing fails for good.
  Result Next(Element& element) override {
    if (failed_) return Result::Failed;
    for (;;) {
      const Found found = NextInOrder();
      if (found.exhausted) {
        failed_ = true;
        return Result::Failed;
      }
      if (found.id == kNoStream) return Result::Done;
      const DirectoryEntry& entry = file_->Entry(found.id);
      if (entry.type == kTypeUnallocated) continue;
      element = MakeElement(*file_, entry);
      return Result::Element;
    }
  }

private:
  // Each call gives a larger name than the one before, so the loop above ends
  // after at most as many calls as there are entries.
  Found NextInOrder() {
    switch (order_->kind) {
      case TreeOrder::Kind::Ordered:
        return Found{next_ < order_->ids.size() ? order_->ids[next_++] : kNoStream, false};
      case TreeOrder::Kind::Exhausted:
        return Found{kNoStream, true};
      case TreeOrder::Kind::Unordered:
        break;
    }
    const Found found = Successor(*file_, top_, started_ ? &last_ : nullptr);
    if (found.id != kNoStream) {
      started_ = true;
      last_ = file_->Entry(found.id).key;
    }
    return found;
  }

  std::shared_ptr<const File> file_;
  std::uint32_t top_;
  std::shared_ptr<const TreeOrder> order_;
  std::size_t next_ = 0;
  bool started_ = false;
  bool failed_ = false;
  std::u16string last_;
};

class CompoundStorage final : public Storage {
public:
  CompoundStorage(std::shared_ptr<const File> file, std::uint32_t id) : file_(std::move(file)), id_(id) {}

  std::unique_ptr<Enumerator> EnumElements() override {
    return std::make_unique<CompoundEnumerator>(file_, Top(), Order());
  }

  std::unique_ptr<Storage> OpenStorage(const std::u16string& name) override {
    const std::uint32_t id = Lookup(name);
    if (id == kNoStream || file_->Entry(id).type != kTypeStorage || file_->Parent(id) != id_)
      return nullptr;
    return std::make_unique<CompoundStorage>(file_, id);
  }

  std::unique_ptr<Stream> OpenStream(const std::u16string& name) override {
    const std::uint32_t id = Lookup(name);
    if (id == kNoStream || file_->Entry(id).type != kTypeStream) return nullptr;
    return std::make_unique<CompoundStream>(file_, file_->StreamLayout(file_->Entry(id)));
  }

private:
  // A storage's own start sector and size mean nothing; only its child counts.
  std::uint32_t Top() const { return file_->Entry(id_).child; }

  // The tree is checked once, when first listed or searched; its enumerators
  // share the result.
  const std::shared_ptr<const TreeOrder>& Order() {
    if (!order_) order_ = std::make_shared<const TreeOrder>(CheckOrder(*file_, Top()));
    return order_;
  }

  // The entry that a name opens: by binary search in an ordered tree, else by
  // a descent; kNoStream when there is none or the allowance ran out.
  std::uint32_t Lookup(const std::u16string& name) {
    const TreeOrder& order = *Order();
    const std::u16string key = UpperName(name);
    switch (order.kind) {
      case TreeOrder::Kind::Ordered:
        return FindOrdered(*file_, order.ids, key);
      case TreeOrder::Kind::Exhausted:
        return kNoStream;
      case TreeOrder::Kind::Unordered:
        break;
    }
    return Find(*file_, Top(), key).id;
  }

  std::shared_ptr<const File> file_;
  std::uint32_t id_;
  std::shared_ptr<const TreeOrder> order_;
};

}  // namespace

namespace {

std::unique_ptr<Storage> Opened(std::shared_ptr<const File> file, std::string& reason, std::string* why) {
  if (!file) {
    if (why) *why = std::move(reason);
    return nullptr;
  }
  return std::make_unique<CompoundStorage>(std::move(file), 0);
}

}  // namespace

std::unique_ptr<Storage> OpenCompoundFile(std::span<const std::byte> bytes, std::string* why) {
  std::string reason;
  std::shared_ptr<const File> file = File::Load(std::vector<std::byte>(bytes.begin(), bytes.end()), reason);
  return Opened(std::move(file), reason, why);
}

std::unique_ptr<Storage> OpenCompoundFileInPlace(std::span<const std::byte> bytes, std::string* why) {
  std::string reason;
  std::shared_ptr<const File> file = File::Load(Bytes(bytes), reason);
  return Opened(std::move(file), reason, why);
}

std::unique_ptr<Storage> OpenCompoundFile(const std::filesystem::path& path, std::string* why,
                                          std::uint64_t* size_opened) {
  std::string reason;
  const auto fail = [&]() -> std::unique_ptr<Storage> {
    if (why) *why = std::move(reason);
    return nullptr;
  };
  // One open: the size and the bytes are those of the file opened, whatever
  // stands at the path afterwards.
  std::error_code error;
  const std::unique_ptr<platform::InputFile> input = platform::OpenInputFile(path, error, reason);
  if (!input) {
    if (error) reason = FileErrorText(error);
    return fail();
  }
  const std::uint64_t size = input->Size();
  if (size_opened) *size_opened = size;
  if (size > std::numeric_limits<std::size_t>::max() / 4) {
    reason = "it is too large to read (" + std::to_string(size) + " bytes)";
    return fail();
  }
  std::vector<std::byte> bytes;
  if (!input->ReadAll(bytes, reason)) return fail();
  std::shared_ptr<const File> file = File::Load(std::move(bytes), reason);
  if (!file) return fail();
  return std::make_unique<CompoundStorage>(std::move(file), 0);
}

}  // namespace lumerca::storage
