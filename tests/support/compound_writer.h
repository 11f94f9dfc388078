#pragma once

// A writer of compound files for tests, samples and benchmarks: builds a
// document from a tree of storages and streams, in version 3 (512-byte
// sectors) or version 4 (4096-byte sectors).
//
// WriteCompoundFile gives a well-formed document. CompoundImage gives the same
// document as editable structures (header fields, FAT, DIFAT, mini FAT,
// directory entries) so that a test can damage any of them on purpose and then
// serialise the result with Bytes().

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace lumerca::testing {

using ByteVector = std::vector<std::uint8_t>;

struct Node {
  std::u16string name;
  bool is_storage = false;
  ByteVector data;              // a stream's bytes
  std::vector<Node> children;   // a storage's elements, in any order
};

Node StorageNode(std::u16string name, std::vector<Node> children = {});
Node StreamNode(std::u16string name, ByteVector data);

// `depth` storages, each named `name` and holding the next one; the innermost
// holds `innermost`. Built by moves, without recursion, at any depth. (A Node
// tree is destroyed recursively: a few tens of thousands of levels are fine.)
Node NestedStorages(std::size_t depth, const std::u16string& name,
                    std::vector<Node> innermost = {});

struct WriteOptions {
  int version = 3;  // 3 or 4
  // The FAT gets at least this many sectors (the surplus entries are free).
  // More than 109 FAT sectors need DIFAT sectors: 110 gives a small document
  // with one DIFAT sector, e.g. to build a DIFAT loop.
  std::uint32_t min_fat_sectors = 0;
};

// A well-formed document whose root storage holds root.children (the root's
// own name is "Root Entry" whatever root.name says). Throws
// std::invalid_argument for a name that is empty or longer than 31 UTF-16
// units, for two names of one storage that are equal when upper-cased, and for
// a version other than 3 or 4.
ByteVector WriteCompoundFile(const Node& root, const WriteOptions& options = {});

std::u16string U16(const std::string& ascii);

// ------------------------------------------------------------ name order

// Simple upper-casing of one UTF-16 unit (ASCII, Latin-1, Latin Extended-A,
// Greek, Cyrillic, full-width Latin); other units are returned unchanged.
char16_t CompoundUpper(char16_t unit);

// The order of names in a storage's tree: a shorter name is smaller; names of
// one length compare unit by unit after upper-casing. Negative, 0 or positive.
int CompareCompoundNames(std::u16string_view a, std::u16string_view b);

// ------------------------------------------------------------ raw structures

inline constexpr std::uint32_t kMaxRegSect = 0xFFFFFFFA;
inline constexpr std::uint32_t kDifSect = 0xFFFFFFFC;
inline constexpr std::uint32_t kFatSect = 0xFFFFFFFD;
inline constexpr std::uint32_t kEndOfChain = 0xFFFFFFFE;
inline constexpr std::uint32_t kFreeSect = 0xFFFFFFFF;
inline constexpr std::uint32_t kNoStream = 0xFFFFFFFF;

inline constexpr std::uint8_t kTypeUnused = 0;
inline constexpr std::uint8_t kTypeStorage = 1;
inline constexpr std::uint8_t kTypeStream = 2;
inline constexpr std::uint8_t kTypeRoot = 5;
inline constexpr std::uint8_t kRed = 0;
inline constexpr std::uint8_t kBlack = 1;

inline constexpr std::size_t kHeaderDifatEntries = 109;
inline constexpr std::size_t kDirectoryEntrySize = 128;
inline constexpr std::size_t kMiniSectorSize = 64;
inline constexpr std::uint32_t kMiniStreamCutoff = 4096;

// The fixed fields of the header, written as they stand. The 109 DIFAT
// entries of the header are CompoundImage::difat[0..108].
struct CompoundHeader {
  std::array<std::uint8_t, 8> signature{0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
  std::uint16_t minor_version = 0x003E;
  std::uint16_t major_version = 3;
  std::uint16_t byte_order = 0xFFFE;
  std::uint16_t sector_shift = 9;
  std::uint16_t mini_sector_shift = 6;
  std::uint32_t directory_sector_count = 0;  // 0 in version 3
  std::uint32_t fat_sector_count = 0;
  std::uint32_t first_directory_sector = kEndOfChain;
  std::uint32_t transaction_signature = 0;
  std::uint32_t mini_stream_cutoff = kMiniStreamCutoff;
  std::uint32_t first_mini_fat_sector = kEndOfChain;
  std::uint32_t mini_fat_sector_count = 0;
  std::uint32_t first_difat_sector = kEndOfChain;
  std::uint32_t difat_sector_count = 0;
};

// One 128-byte directory entry. The fields up to `size` are written as they
// stand; the rest describes the layout and is never written.
struct DirectoryEntry {
  std::u16string name;           // at most 32 units are written
  std::uint16_t name_length = 0; // bytes, terminator included
  std::uint8_t type = kTypeUnused;
  std::uint8_t color = kBlack;
  std::uint32_t left = kNoStream;
  std::uint32_t right = kNoStream;
  std::uint32_t child = kNoStream;
  std::uint32_t start_sector = 0;
  std::uint64_t size = 0;

  // Layout facts (not written; editing them moves no data).
  std::uint32_t parent = kNoStream;  // the storage that holds it
  bool in_mini_stream = false;       // chain counts mini sectors
  std::vector<std::uint32_t> chain;  // the stream's sectors, in order (for the
                                     // root: the mini stream's sectors)
};

// A document laid out as editable structures. Bytes() writes every structure
// into its sectors as it then stands, whatever its values, so that a test can
// build any damage (truncate or patch the bytes for the rest). The physical places (fat_sectors,
// difat_sectors, directory_sectors, mini_fat_sectors) are where the tables
// are written; move them only with care.
class CompoundImage {
public:
  explicit CompoundImage(const Node& root, const WriteOptions& options = {});

  CompoundHeader header;
  std::vector<std::uint32_t> difat;  // FAT sector locations: first 109 in the
                                     // header, the rest in DIFAT sectors
  std::vector<std::uint32_t> difat_next;  // last entry of each DIFAT sector
  std::vector<std::uint32_t> fat;         // one entry per sector
  std::vector<std::uint32_t> mini_fat;    // one entry per mini sector
  std::vector<DirectoryEntry> entries;    // entries[0] is the root

  std::vector<std::uint32_t> fat_sectors;
  std::vector<std::uint32_t> difat_sectors;
  std::vector<std::uint32_t> directory_sectors;
  std::vector<std::uint32_t> mini_fat_sectors;

  std::uint32_t SectorSize() const { return sector_size_; }
  std::uint32_t SectorCount() const { return sector_count_; }  // after the header
  std::uint64_t SectorOffset(std::uint32_t sector) const;      // file offset
  std::uint32_t MiniSectorCount() const;

  // The id of the entry at `path` ("A/B/STREAM", names exactly as given; ""
  // is the root). Throws std::out_of_range when there is none.
  std::uint32_t Find(std::u16string_view path) const;

  // Common damages. Each edits the structures above; none moves data.
  // `link` names the link that follows chain[link], in the FAT or, for a
  // stream in the mini stream, in the mini FAT. A link before the last one
  // lies within the stream's size, so that any reader of the stream meets it;
  // the last link is met only by a reader that follows the chain to its end.
  // Both throw std::logic_error for an entry without a chain and
  // std::out_of_range for a link past its end.
  // The link points back to the chain's first sector (link 0: to itself).
  void LoopChain(std::uint32_t entry, std::size_t link = 0);
  // The link points `beyond` sectors past the last sector of the file (or of
  // the mini stream).
  void PointChainPastEnd(std::uint32_t entry, std::uint32_t beyond = 1000, std::size_t link = 0);
  void LoopDirectoryChain();  // last directory sector -> first
  void LoopMiniFatChain();    // last mini FAT sector -> first
  // The last DIFAT sector names the first as its successor. Throws
  // std::logic_error without DIFAT sectors (see WriteOptions::min_fat_sectors).
  void LoopDifat();

  // Relinks the elements of `storage` into one chain of right links in name
  // order, the smallest on top: still a valid search tree, of any depth.
  void ChainElements(std::uint32_t storage = 0);

  // The document as it now stands. Throws std::length_error when a table has
  // outgrown the sectors given to it and std::out_of_range for a place
  // outside the file.
  ByteVector Bytes() const;
  ByteVector TakeBytes() &&;  // the same without copying the sector data

private:
  void WriteStructures(ByteVector& file) const;

  std::uint32_t sector_size_ = 512;
  std::uint32_t sector_count_ = 0;
  std::uint32_t mini_sector_count_ = 0;
  // Per entry: the first id and the number of a storage's elements, which
  // have consecutive ids.
  std::vector<std::pair<std::uint32_t, std::uint32_t>> kids_;
  ByteVector file_;  // header area and every sector; stream data in place
};

// A leaf of the tree under `top`, reached by left links where there are any;
// `parent` receives the entry above it (kNoStream for none).
std::uint32_t SomeLeaf(const CompoundImage& image, std::uint32_t top, std::uint32_t* parent);

}  // namespace lumerca::testing
