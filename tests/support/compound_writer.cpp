#include "tests/support/compound_writer.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <utility>

namespace lumerca::testing {

Node StorageNode(std::u16string name, std::vector<Node> children) {
  Node node;
  node.name = std::move(name);
  node.is_storage = true;
  node.children = std::move(children);
  return node;
}

Node StreamNode(std::u16string name, ByteVector data) {
  Node node;
  node.name = std::move(name);
  node.data = std::move(data);
  return node;
}

Node NestedStorages(std::size_t depth, const std::u16string& name, std::vector<Node> innermost) {
  if (depth == 0) throw std::invalid_argument("NestedStorages: depth 0");
  Node node = StorageNode(name, std::move(innermost));
  for (std::size_t level = 1; level < depth; ++level) {
    Node outer = StorageNode(name);
    outer.children.push_back(std::move(node));
    node = std::move(outer);
  }
  return node;
}

std::u16string U16(const std::string& ascii) {
  return std::u16string(ascii.begin(), ascii.end());
}

// ------------------------------------------------------------ name order

char16_t CompoundUpper(char16_t unit) {
  const auto u = static_cast<std::uint32_t>(unit);
  auto minus = [](std::uint32_t value, std::uint32_t delta) { return static_cast<char16_t>(value - delta); };
  // Pairs where the capital is the even unit, or the odd one.
  auto even_capital = [&](std::uint32_t first, std::uint32_t last) {
    return u >= first && u <= last && (u & 1U) == 1U;
  };
  auto odd_capital = [&](std::uint32_t first, std::uint32_t last) {
    return u >= first && u <= last && (u & 1U) == 0U;
  };
  if (u >= 'a' && u <= 'z') return minus(u, 0x20);
  if (u < 0xB5) return unit;
  if (u == 0xB5) return u'\u039C';                                   // micro sign
  if (u >= 0xE0 && u <= 0xFE && u != 0xF7) return minus(u, 0x20);
  if (u == 0xFF) return u'\u0178';
  if (u == 0x131) return u'I';                                       // dotless i
  if (u == 0x17F) return u'S';                                       // long s
  if (even_capital(0x100, 0x137) || even_capital(0x14A, 0x177)) return minus(u, 1);
  if (odd_capital(0x139, 0x148) || odd_capital(0x179, 0x17E)) return minus(u, 1);
  if (u == 0x3AC) return u'\u0386';
  if (u >= 0x3AD && u <= 0x3AF) return minus(u, 0x25);
  if (u == 0x3C2) return u'\u03A3';                                  // final sigma
  if (u >= 0x3B1 && u <= 0x3CB) return minus(u, 0x20);
  if (u == 0x3CC) return u'\u038C';
  if (u == 0x3CD || u == 0x3CE) return minus(u, 0x3F);
  if (u >= 0x430 && u <= 0x44F) return minus(u, 0x20);
  if (u >= 0x450 && u <= 0x45F) return minus(u, 0x50);
  if (even_capital(0x460, 0x481) || even_capital(0x48A, 0x4BF) || even_capital(0x4D0, 0x52F))
    return minus(u, 1);
  if (odd_capital(0x4C1, 0x4CE)) return minus(u, 1);
  if (u == 0x4CF) return u'\u04C0';
  if (u >= 0xFF41 && u <= 0xFF5A) return minus(u, 0x20);
  return unit;
}

int CompareCompoundNames(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const char16_t x = CompoundUpper(a[i]);
    const char16_t y = CompoundUpper(b[i]);
    if (x != y) return x < y ? -1 : 1;
  }
  return 0;
}

// ------------------------------------------------------------ layout

namespace {

constexpr std::size_t kMaxNameUnits = 31;

std::size_t ToSize(std::uint64_t value) {
  if (value > std::numeric_limits<std::size_t>::max()) throw std::length_error("compound file too large");
  return static_cast<std::size_t>(value);
}

std::uint32_t ToSector(std::uint64_t value) {
  if (value > kMaxRegSect) throw std::length_error("compound file needs too many sectors");
  return static_cast<std::uint32_t>(value);
}

std::uint64_t CeilDiv(std::uint64_t value, std::uint64_t unit) { return (value + unit - 1) / unit; }

void CheckName(const std::u16string& name) {
  if (name.empty()) throw std::invalid_argument("compound file: empty element name");
  if (name.size() > kMaxNameUnits)
    throw std::invalid_argument("compound file: element name longer than 31 UTF-16 units");
}

unsigned FloorLog2(std::uint64_t value) {
  unsigned log = 0;
  while (value > 1) {
    value >>= 1;
    ++log;
  }
  return log;
}

// Links the entries first..first+count-1, which are in name order, into a
// balanced search tree and returns its root. Every null link of a tree built
// by halving lies on the last two levels, so colouring the deepest level red
// (below a black root) gives every path the same number of black entries.
std::uint32_t LinkSiblings(std::vector<DirectoryEntry>& entries, std::uint32_t first,
                           std::uint32_t count, unsigned depth, unsigned deepest) {
  if (count == 0) return kNoStream;
  const std::uint32_t half = (count - 1) / 2;
  const std::uint32_t id = first + half;
  entries[id].color = (depth == deepest && depth > 0) ? kRed : kBlack;
  entries[id].left = LinkSiblings(entries, first, half, depth + 1, deepest);
  entries[id].right = LinkSiblings(entries, id + 1, count - half - 1, depth + 1, deepest);
  return id;
}

// Sector numbers first..first+count-1.
std::vector<std::uint32_t> Run(std::uint32_t first, std::uint32_t count) {
  std::vector<std::uint32_t> run(count);
  for (std::uint32_t i = 0; i < count; ++i) run[i] = first + i;
  return run;
}

// Links a chain of sectors in a FAT or mini FAT.
void LinkChain(std::vector<std::uint32_t>& table, const std::vector<std::uint32_t>& chain) {
  for (std::size_t i = 0; i < chain.size(); ++i)
    table[chain[i]] = i + 1 < chain.size() ? chain[i + 1] : kEndOfChain;
}

void Put16(ByteVector& out, std::size_t at, std::uint16_t value) {
  out[at] = static_cast<std::uint8_t>(value);
  out[at + 1] = static_cast<std::uint8_t>(value >> 8);
}

void Put32(ByteVector& out, std::size_t at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) out[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(value >> (8 * i));
}

void Put64(ByteVector& out, std::size_t at, std::uint64_t value) {
  Put32(out, at, static_cast<std::uint32_t>(value));
  Put32(out, at + 4, static_cast<std::uint32_t>(value >> 32));
}

}  // namespace

CompoundImage::CompoundImage(const Node& root, const WriteOptions& options) {
  if (options.version != 3 && options.version != 4)
    throw std::invalid_argument("compound file: version must be 3 or 4");
  const bool v4 = options.version == 4;
  sector_size_ = v4 ? 4096 : 512;
  header.major_version = static_cast<std::uint16_t>(options.version);
  header.sector_shift = v4 ? 12 : 9;

  // Directory entries, breadth first: the elements of each storage get
  // consecutive ids in name order. `sources[id]` is the node of entry id.
  DirectoryEntry root_entry;
  root_entry.name = u"Root Entry";
  root_entry.type = kTypeRoot;
  entries.push_back(std::move(root_entry));
  std::vector<const Node*> sources{&root};
  kids_.emplace_back(0, 0);
  for (std::size_t next = 0; next < sources.size(); ++next) {
    const Node* storage = sources[next];
    if (next != 0 && !storage->is_storage) continue;
    std::vector<const Node*> kids;
    kids.reserve(storage->children.size());
    for (const Node& child : storage->children) {
      CheckName(child.name);
      kids.push_back(&child);
    }
    std::sort(kids.begin(), kids.end(), [](const Node* a, const Node* b) {
      return CompareCompoundNames(a->name, b->name) < 0;
    });
    for (std::size_t i = 1; i < kids.size(); ++i)
      if (CompareCompoundNames(kids[i - 1]->name, kids[i]->name) == 0)
        throw std::invalid_argument("compound file: two names of one storage equal but for case");
    const auto first = static_cast<std::uint32_t>(entries.size());
    const auto count = static_cast<std::uint32_t>(kids.size());
    if (entries.size() + kids.size() >= kMaxRegSect) throw std::length_error("too many entries");
    for (const Node* kid : kids) {
      DirectoryEntry entry;
      entry.name = kid->name;
      entry.type = kid->is_storage ? kTypeStorage : kTypeStream;
      entry.parent = static_cast<std::uint32_t>(next);
      entry.size = kid->is_storage ? 0 : kid->data.size();
      entries.push_back(std::move(entry));
      sources.push_back(kid);
      kids_.emplace_back(0, 0);
    }
    kids_[next] = {first, count};
    entries[next].child = LinkSiblings(entries, first, count, 0, count == 0 ? 0 : FloorLog2(count));
  }
  for (DirectoryEntry& entry : entries)
    entry.name_length = static_cast<std::uint16_t>((entry.name.size() + 1) * 2);

  // Mini sectors for the streams below the cutoff, in entry order.
  std::uint32_t mini_sectors = 0;
  std::uint64_t stream_sectors = 0;
  for (DirectoryEntry& entry : entries) {
    if (entry.type != kTypeStream) continue;
    if (entry.size == 0) {
      entry.start_sector = kEndOfChain;
    } else if (entry.size < kMiniStreamCutoff) {
      const auto count = static_cast<std::uint32_t>(CeilDiv(entry.size, kMiniSectorSize));
      entry.in_mini_stream = true;
      entry.chain = Run(mini_sectors, count);
      mini_sectors = ToSector(std::uint64_t{mini_sectors} + count);
    } else {
      stream_sectors += CeilDiv(entry.size, sector_size_);
    }
  }
  mini_sector_count_ = mini_sectors;

  // Sector counts. The FAT must cover itself and the DIFAT sectors too.
  const std::uint32_t per_sector = sector_size_ / 4;
  const std::uint32_t directory_count =
      ToSector(CeilDiv(entries.size(), sector_size_ / kDirectoryEntrySize));
  const std::uint32_t mini_fat_count = ToSector(CeilDiv(mini_sectors, per_sector));
  const std::uint32_t mini_stream_count =
      ToSector(CeilDiv(std::uint64_t{mini_sectors} * kMiniSectorSize, sector_size_));
  const std::uint64_t others = std::uint64_t{directory_count} + mini_fat_count + mini_stream_count + stream_sectors;
  std::uint64_t fat_count = std::max<std::uint64_t>(1, options.min_fat_sectors);
  std::uint64_t difat_count = 0;
  for (;;) {
    difat_count = fat_count > kHeaderDifatEntries ? CeilDiv(fat_count - kHeaderDifatEntries, per_sector - 1) : 0;
    if (fat_count * per_sector >= others + fat_count + difat_count) break;
    ++fat_count;
  }
  sector_count_ = ToSector(others + fat_count + difat_count);

  // Placement: FAT, DIFAT, directory, mini FAT, mini stream, then the streams.
  std::uint32_t next_sector = 0;
  auto take = [&](std::uint64_t count) {
    std::vector<std::uint32_t> run = Run(next_sector, static_cast<std::uint32_t>(count));
    next_sector += static_cast<std::uint32_t>(count);
    return run;
  };
  fat_sectors = take(fat_count);
  difat_sectors = take(difat_count);
  directory_sectors = take(directory_count);
  mini_fat_sectors = take(mini_fat_count);
  entries[0].chain = take(mini_stream_count);
  for (DirectoryEntry& entry : entries)
    if (entry.type == kTypeStream && !entry.in_mini_stream && entry.size != 0)
      entry.chain = take(CeilDiv(entry.size, sector_size_));

  fat.assign(ToSize(fat_count * per_sector), kFreeSect);
  for (std::uint32_t sector : fat_sectors) fat[sector] = kFatSect;
  for (std::uint32_t sector : difat_sectors) fat[sector] = kDifSect;
  LinkChain(fat, directory_sectors);
  LinkChain(fat, mini_fat_sectors);
  mini_fat.assign(ToSize(std::uint64_t{mini_fat_count} * per_sector), kFreeSect);
  for (DirectoryEntry& entry : entries) {
    if (entry.type == kTypeStorage || (entry.type == kTypeStream && entry.size == 0)) continue;
    LinkChain(entry.in_mini_stream ? mini_fat : fat, entry.chain);
    entry.start_sector = entry.chain.empty() ? kEndOfChain : entry.chain.front();
  }
  entries[0].size = std::uint64_t{mini_sectors} * kMiniSectorSize;

  difat = fat_sectors;
  for (std::size_t i = 0; i < difat_sectors.size(); ++i)
    difat_next.push_back(i + 1 < difat_sectors.size() ? difat_sectors[i + 1] : kEndOfChain);

  header.directory_sector_count = v4 ? directory_count : 0;
  header.fat_sector_count = static_cast<std::uint32_t>(fat_count);
  header.first_directory_sector = directory_sectors.front();
  header.first_mini_fat_sector = mini_fat_sectors.empty() ? kEndOfChain : mini_fat_sectors.front();
  header.mini_fat_sector_count = mini_fat_count;
  header.first_difat_sector = difat_sectors.empty() ? kEndOfChain : difat_sectors.front();
  header.difat_sector_count = static_cast<std::uint32_t>(difat_count);

  // The sector data: every stream's bytes in place, the rest zero.
  file_.assign(ToSize((std::uint64_t{sector_count_} + 1) * sector_size_), 0);
  const std::uint64_t mini_stream_base = entries[0].chain.empty() ? 0 : SectorOffset(entries[0].chain.front());
  for (std::size_t id = 1; id < entries.size(); ++id) {
    const DirectoryEntry& entry = entries[id];
    const ByteVector& data = sources[id]->data;
    if (entry.type != kTypeStream || data.empty()) continue;
    const std::uint64_t at = entry.in_mini_stream
                                 ? mini_stream_base + std::uint64_t{entry.chain.front()} * kMiniSectorSize
                                 : SectorOffset(entry.chain.front());
    std::memcpy(file_.data() + ToSize(at), data.data(), data.size());
  }
}

std::uint64_t CompoundImage::SectorOffset(std::uint32_t sector) const {
  return (std::uint64_t{sector} + 1) * sector_size_;
}

std::uint32_t CompoundImage::MiniSectorCount() const { return mini_sector_count_; }

std::uint32_t CompoundImage::Find(std::u16string_view path) const {
  std::uint32_t current = 0;
  while (!path.empty()) {
    const std::size_t slash = path.find(u'/');
    const std::u16string_view name = path.substr(0, slash);
    path = slash == std::u16string_view::npos ? std::u16string_view{} : path.substr(slash + 1);
    const auto [first, count] = kids_.at(current);
    std::uint32_t found = kNoStream;
    for (std::uint32_t id = first; id < first + count; ++id)
      if (entries[id].name == name) found = id;
    if (found == kNoStream) throw std::out_of_range("CompoundImage::Find: no such element");
    current = found;
  }
  return current;
}

// ------------------------------------------------------------ damages

void CompoundImage::LoopChain(std::uint32_t entry, std::size_t link) {
  const DirectoryEntry& e = entries.at(entry);
  if (e.chain.empty()) throw std::logic_error("LoopChain: the entry has no chain");
  (e.in_mini_stream ? mini_fat : fat).at(e.chain.at(link)) = e.chain.front();
}

void CompoundImage::PointChainPastEnd(std::uint32_t entry, std::uint32_t beyond, std::size_t link) {
  const DirectoryEntry& e = entries.at(entry);
  if (e.chain.empty()) throw std::logic_error("PointChainPastEnd: the entry has no chain");
  const std::uint32_t end = e.in_mini_stream ? mini_sector_count_ : sector_count_;
  (e.in_mini_stream ? mini_fat : fat).at(e.chain.at(link)) = end - 1 + beyond;
}

void CompoundImage::LoopDirectoryChain() {
  fat.at(directory_sectors.back()) = directory_sectors.front();
}

void CompoundImage::LoopMiniFatChain() {
  if (mini_fat_sectors.empty()) throw std::logic_error("LoopMiniFatChain: no mini FAT");
  fat.at(mini_fat_sectors.back()) = mini_fat_sectors.front();
}

void CompoundImage::LoopDifat() {
  if (difat_sectors.empty())
    throw std::logic_error("LoopDifat: no DIFAT sectors (set WriteOptions::min_fat_sectors above 109)");
  difat_next.back() = difat_sectors.front();
}

void CompoundImage::ChainElements(std::uint32_t storage) {
  std::vector<std::uint32_t> ids;
  for (std::uint32_t id = 1; id < entries.size(); ++id) {
    if (entries[id].parent == storage && entries[id].type != kTypeUnused) ids.push_back(id);
  }
  if (ids.empty()) return;
  std::sort(ids.begin(), ids.end(), [this](std::uint32_t a, std::uint32_t b) {
    return CompareCompoundNames(entries[a].name, entries[b].name) < 0;
  });
  for (std::size_t i = 0; i < ids.size(); ++i) {
    DirectoryEntry& e = entries[ids[i]];
    e.left = kNoStream;
    e.right = i + 1 < ids.size() ? ids[i + 1] : kNoStream;
    e.color = kBlack;
  }
  entries[storage].child = ids.front();
}

// ------------------------------------------------------------ serialisation

ByteVector CompoundImage::Bytes() const {
  ByteVector file = file_;
  WriteStructures(file);
  return file;
}

ByteVector CompoundImage::TakeBytes() && {
  WriteStructures(file_);
  return std::move(file_);
}

void CompoundImage::WriteStructures(ByteVector& file) const {
  auto place = [&](std::uint32_t sector) {
    if (sector >= sector_count_) throw std::out_of_range("CompoundImage: a table's sector lies outside the file");
    return ToSize(SectorOffset(sector));
  };
  // Writes `table` into `sectors`, FREESECT after its end.
  auto write_table = [&](const std::vector<std::uint32_t>& table, const std::vector<std::uint32_t>& sectors) {
    const std::size_t per_sector = sector_size_ / 4;
    if (table.size() > sectors.size() * per_sector) throw std::length_error("CompoundImage: table outgrew its sectors");
    for (std::size_t s = 0; s < sectors.size(); ++s) {
      const std::size_t at = place(sectors[s]);
      for (std::size_t i = 0; i < per_sector; ++i) {
        const std::size_t index = s * per_sector + i;
        Put32(file, at + 4 * i, index < table.size() ? table[index] : kFreeSect);
      }
    }
  };

  // Header (the rest of a 4096-byte header sector stays zero).
  std::copy(header.signature.begin(), header.signature.end(), file.begin());
  std::fill(file.begin() + 8, file.begin() + 24, std::uint8_t{0});  // class id
  Put16(file, 24, header.minor_version);
  Put16(file, 26, header.major_version);
  Put16(file, 28, header.byte_order);
  Put16(file, 30, header.sector_shift);
  Put16(file, 32, header.mini_sector_shift);
  std::fill(file.begin() + 34, file.begin() + 40, std::uint8_t{0});  // reserved
  Put32(file, 40, header.directory_sector_count);
  Put32(file, 44, header.fat_sector_count);
  Put32(file, 48, header.first_directory_sector);
  Put32(file, 52, header.transaction_signature);
  Put32(file, 56, header.mini_stream_cutoff);
  Put32(file, 60, header.first_mini_fat_sector);
  Put32(file, 64, header.mini_fat_sector_count);
  Put32(file, 68, header.first_difat_sector);
  Put32(file, 72, header.difat_sector_count);
  for (std::size_t i = 0; i < kHeaderDifatEntries; ++i)
    Put32(file, 76 + 4 * i, i < difat.size() ? difat[i] : kFreeSect);

  // DIFAT sectors: sector_size/4 - 1 FAT locations, then the next DIFAT sector.
  const std::size_t per_difat = sector_size_ / 4 - 1;
  if (difat.size() > kHeaderDifatEntries + difat_sectors.size() * per_difat)
    throw std::length_error("CompoundImage: DIFAT outgrew its sectors");
  for (std::size_t s = 0; s < difat_sectors.size(); ++s) {
    const std::size_t at = place(difat_sectors[s]);
    for (std::size_t i = 0; i < per_difat; ++i) {
      const std::size_t index = kHeaderDifatEntries + s * per_difat + i;
      Put32(file, at + 4 * i, index < difat.size() ? difat[index] : kFreeSect);
    }
    Put32(file, at + 4 * per_difat, s < difat_next.size() ? difat_next[s] : kEndOfChain);
  }

  write_table(fat, fat_sectors);
  write_table(mini_fat, mini_fat_sectors);

  // Directory: entries in id order; unused slots are zero but for the three
  // links, which are NOSTREAM.
  const std::size_t per_directory = sector_size_ / kDirectoryEntrySize;
  if (entries.size() > directory_sectors.size() * per_directory)
    throw std::length_error("CompoundImage: directory outgrew its sectors");
  for (std::size_t s = 0; s < directory_sectors.size(); ++s) {
    const std::size_t base = place(directory_sectors[s]);
    for (std::size_t i = 0; i < per_directory; ++i) {
      const std::size_t at = base + i * kDirectoryEntrySize;
      const std::size_t id = s * per_directory + i;
      std::fill(file.begin() + static_cast<std::ptrdiff_t>(at),
                file.begin() + static_cast<std::ptrdiff_t>(at + kDirectoryEntrySize), std::uint8_t{0});
      if (id >= entries.size()) {
        Put32(file, at + 68, kNoStream);
        Put32(file, at + 72, kNoStream);
        Put32(file, at + 76, kNoStream);
        continue;
      }
      const DirectoryEntry& e = entries[id];
      for (std::size_t u = 0; u < std::min<std::size_t>(e.name.size(), 32); ++u)
        Put16(file, at + 2 * u, static_cast<std::uint16_t>(e.name[u]));
      Put16(file, at + 64, e.name_length);
      file[at + 66] = e.type;
      file[at + 67] = e.color;
      Put32(file, at + 68, e.left);
      Put32(file, at + 72, e.right);
      Put32(file, at + 76, e.child);
      // Class id, state bits and the two times stay zero.
      Put32(file, at + 116, e.start_sector);
      Put64(file, at + 120, e.size);
    }
  }
}

ByteVector WriteCompoundFile(const Node& root, const WriteOptions& options) {
  return CompoundImage(root, options).TakeBytes();
}

std::uint32_t SomeLeaf(const CompoundImage& image, std::uint32_t top, std::uint32_t* parent) {
  std::uint32_t id = top;
  *parent = kNoStream;
  for (;;) {
    const auto& e = image.entries[id];
    const std::uint32_t next = e.left != kNoStream ? e.left : e.right;
    if (next == kNoStream) return id;
    *parent = id;
    id = next;
  }
}

}  // namespace lumerca::testing
