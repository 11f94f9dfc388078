// The compound-file writer of the test support: its layout rules, its damage
// helpers, and its output as read back by an independent reader (olefile).

#include "tests/support/compound_writer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#ifdef _WIN32
#define popen _popen
#define pclose _pclose
#endif

namespace lumerca::testing {
namespace {

// ------------------------------------------------------------ helpers

std::uint32_t Get32(const ByteVector& bytes, std::uint64_t at) {
  std::uint32_t value = 0;
  for (int i = 3; i >= 0; --i) value = (value << 8) | bytes.at(static_cast<std::size_t>(at) + static_cast<std::size_t>(i));
  return value;
}
std::uint16_t Get16(const ByteVector& bytes, std::uint64_t at) {
  return static_cast<std::uint16_t>(bytes.at(static_cast<std::size_t>(at)) |
                                    bytes.at(static_cast<std::size_t>(at) + 1) << 8);
}

// Reads a FAT entry from the bytes alone: header DIFAT -> FAT sector -> entry
// (only FAT sectors named in the header).
std::uint32_t FatEntry(const ByteVector& bytes, std::uint32_t index) {
  const std::uint32_t sector_size = 1U << Get16(bytes, 30);
  const std::uint32_t per_sector = sector_size / 4;
  const std::uint32_t fat_sector = Get32(bytes, 76 + 4 * std::uint64_t{index / per_sector});
  return Get32(bytes, (std::uint64_t{fat_sector} + 1) * sector_size + 4 * std::uint64_t{index % per_sector});
}

// The offset of directory entry `id` (the directory chain read from the bytes).
std::uint64_t EntryOffset(const ByteVector& bytes, std::uint32_t id) {
  const std::uint32_t sector_size = 1U << Get16(bytes, 30);
  std::uint32_t sector = Get32(bytes, 48);
  for (std::uint32_t skip = id / (sector_size / 128); skip > 0; --skip) sector = FatEntry(bytes, sector);
  return (std::uint64_t{sector} + 1) * sector_size + 128 * std::uint64_t{id % (sector_size / 128)};
}

std::uint32_t Crc32(const ByteVector& data) {
  static const std::array<std::uint32_t, 256> table = [] {
    std::array<std::uint32_t, 256> t{};
    for (std::uint32_t n = 0; n < 256; ++n) {
      std::uint32_t c = n;
      for (int k = 0; k < 8; ++k) c = (c & 1U) ? 0xEDB88320U ^ (c >> 1) : c >> 1;
      t[n] = c;
    }
    return t;
  }();
  std::uint32_t crc = 0xFFFFFFFFU;
  for (std::uint8_t byte : data) crc = table[(crc ^ byte) & 0xFFU] ^ (crc >> 8);
  return crc ^ 0xFFFFFFFFU;
}

ByteVector Pattern(std::size_t size, std::uint32_t seed) {
  ByteVector data(size);
  std::uint32_t x = seed * 2654435761U + 1;
  for (auto& byte : data) {
    x = x * 1103515245U + 12345U;
    byte = static_cast<std::uint8_t>(x >> 16);
  }
  return data;
}

// A name as the dump script shows it.
std::string Shown(const std::u16string& name) {
  std::string out;
  for (char16_t unit : name) {
    if (unit >= 0x20 && unit < 0x7F && unit != u'/' && unit != u'\\') {
      out += static_cast<char>(unit);
    } else {
      char buffer[8];
      std::snprintf(buffer, sizeof buffer, "\\u%04x", static_cast<unsigned>(unit));
      out += buffer;
    }
  }
  return out;
}

// The dump lines that the tree should give.
void ExpectedLines(const Node& storage, const std::string& prefix, std::vector<std::string>& lines) {
  for (const Node& child : storage.children) {
    const std::string path = prefix + Shown(child.name);
    if (child.is_storage) {
      lines.push_back("storage " + path);
      ExpectedLines(child, path + "/", lines);
    } else {
      char crc[16];
      std::snprintf(crc, sizeof crc, "%08x", static_cast<unsigned>(Crc32(child.data)));
      lines.push_back("stream " + path + " " + std::to_string(child.data.size()) + " " + crc);
    }
  }
}

constexpr const char* kPython = "/usr/bin/python3";

bool OlefileAvailable() {
  if (!std::filesystem::exists(kPython)) return false;
  return std::system("/usr/bin/python3 -c 'import olefile' >/dev/null 2>&1") == 0;
}

// Runs the dump script on `bytes`; returns its lines sorted.
std::vector<std::string> OlefileDump(const ByteVector& bytes, const std::string& tag) {
  const auto path = std::filesystem::temp_directory_path() /
                    ("lumerca_writer_" + tag + "_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + ".cfb");
  {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  }
  const std::string command = std::string(kPython) + " " LUMERCA_SOURCE_DIR "/tests/tools/olefile_dump.py '" +
                              path.string() + "'";
  std::vector<std::string> lines;
  if (FILE* pipe = popen(command.c_str(), "r")) {
    std::string line;
    for (int c = std::fgetc(pipe); c != EOF; c = std::fgetc(pipe)) {
      if (c == '\n') {
        lines.push_back(line);
        line.clear();
      } else {
        line += static_cast<char>(c);
      }
    }
    const int status = pclose(pipe);
    if (status != 0) lines.push_back("exit status " + std::to_string(status));
  } else {
    lines.push_back("popen failed");
  }
  std::filesystem::remove(path);
  std::sort(lines.begin(), lines.end());
  return lines;
}

// Every storage's sibling tree holds exactly its elements, in name order, as
// a red-black tree (black root, no red entry under a red one, one black count
// on every path).
void ExpectValidTrees(const CompoundImage& image) {
  const auto& entries = image.entries;
  std::vector<std::uint32_t> elements_of(entries.size(), 0);
  for (std::size_t id = 1; id < entries.size(); ++id) ++elements_of.at(entries[id].parent);
  for (std::uint32_t storage = 0; storage < entries.size(); ++storage) {
    if (entries[storage].type != kTypeRoot && entries[storage].type != kTypeStorage) continue;
    const std::uint32_t top = entries[storage].child;
    if (top == kNoStream) {
      EXPECT_EQ(elements_of[storage], 0U);
      continue;
    }
    EXPECT_EQ(entries[top].color, kBlack) << "storage " << storage;
    // Iterative in-order walk with black counts.
    struct Step { std::uint32_t id; int blacks; bool parent_red; };
    std::vector<Step> stack;
    std::vector<std::uint32_t> in_order;
    int path_blacks = -1;
    auto descend = [&](std::uint32_t id, int blacks, bool parent_red) {
      while (true) {
        if (id == kNoStream) {
          if (path_blacks < 0) path_blacks = blacks;
          EXPECT_EQ(blacks, path_blacks) << "storage " << storage;
          return;
        }
        ASSERT_LT(id, entries.size());
        const bool red = entries[id].color == kRed;
        EXPECT_FALSE(red && parent_red) << "red under red at " << id;
        stack.push_back({id, blacks + (red ? 0 : 1), red});
        blacks += red ? 0 : 1;
        parent_red = red;
        id = entries[id].left;
      }
    };
    descend(top, 0, false);
    while (!stack.empty()) {
      const Step step = stack.back();
      stack.pop_back();
      in_order.push_back(step.id);
      ASSERT_LE(in_order.size(), entries.size()) << "cycle";
      descend(entries[step.id].right, step.blacks, step.parent_red);
    }
    EXPECT_EQ(in_order.size(), elements_of[storage]);
    for (std::size_t i = 0; i < in_order.size(); ++i) {
      EXPECT_EQ(entries[in_order[i]].parent, storage);
      if (i > 0) {
        EXPECT_LT(CompareCompoundNames(entries[in_order[i - 1]].name, entries[in_order[i]].name), 0);
      }
    }
  }
}

// A document with nested storages, many streams, sizes around the cutoff and
// mixed-case names; `large` adds an 8 MB stream.
Node MixedDocument(bool large) {
  Node root = StorageNode(u"ignored");
  std::uint32_t seed = 1;
  for (std::size_t size : {0U, 1U, 63U, 64U, 65U, 4095U, 4096U, 4097U, 9000U})
    root.children.push_back(StreamNode(U16("s" + std::to_string(size)), Pattern(size, seed++)));
  root.children.push_back(StreamNode(u"MixedCase", Pattern(100, seed++)));
  root.children.push_back(StreamNode(u"\u0005SummaryInformation", Pattern(200, seed++)));
  root.children.push_back(StreamNode(u"Ab_~z\u00e9\u0416", Pattern(300, seed++)));
  root.children.push_back(StreamNode(U16(std::string(31, 'N')), Pattern(5000, seed++)));
  root.children.push_back(StorageNode(u"Empty"));

  Node many = StorageNode(u"Many");
  for (int i = 0; i < 300; ++i) {
    std::string name = (i % 2 ? "item" : "ITEM") + std::to_string(i);
    many.children.push_back(StreamNode(U16(name), Pattern(static_cast<std::size_t>(i * 37 % 5000), seed++)));
  }
  root.children.push_back(std::move(many));

  Node inner = StorageNode(u"deep", {StreamNode(u"Leaf", Pattern(4096, seed++)), StorageNode(u"Bottom")});
  Node middle = StorageNode(u"Middle", {std::move(inner), StreamNode(u"small", Pattern(10, seed++))});
  root.children.push_back(StorageNode(u"Outer", {std::move(middle)}));

  if (large) root.children.push_back(StreamNode(u"Large", Pattern(8u << 20, seed++)));
  return root;
}

// ------------------------------------------------------------ olefile

struct OlefileCase {
  int version;
  bool large;
  std::uint32_t min_fat_sectors;
  const char* tag;
};

TEST(WriterCompound, OlefileReadsWhatWasWritten) {
  if (!OlefileAvailable()) GTEST_SKIP() << "/usr/bin/python3 with olefile is not installed";
  const OlefileCase cases[] = {
      {3, false, 0, "v3"},
      {4, false, 0, "v4"},
      {3, true, 0, "v3_large"},   // more than 109 FAT sectors: one DIFAT sector
      {4, true, 0, "v4_large"},
      {4, false, 110, "v4_difat"},  // a DIFAT sector in a small v4 document
  };
  for (const OlefileCase& c : cases) {
    SCOPED_TRACE(c.tag);
    const Node root = MixedDocument(c.large);
    const CompoundImage image(root, {c.version, c.min_fat_sectors});
    const bool needs_difat = (c.version == 3 && c.large) || c.min_fat_sectors != 0;
    EXPECT_EQ(image.difat_sectors.size(), needs_difat ? 1U : 0U);
    std::vector<std::string> expected;
    ExpectedLines(root, "", expected);
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(OlefileDump(WriteCompoundFile(root, {c.version, c.min_fat_sectors}), c.tag), expected);
  }
}

// ------------------------------------------------------------ layout

TEST(WriterCompound, HeaderAndTablesOfBothVersions) {
  const Node root = MixedDocument(false);
  for (int version : {3, 4}) {
    SCOPED_TRACE(version);
    const CompoundImage image(root, {version, 0});
    const ByteVector bytes = WriteCompoundFile(root, {version, 0});
    EXPECT_EQ(bytes, image.Bytes());
    const std::uint32_t sector_size = version == 3 ? 512 : 4096;
    ASSERT_EQ(bytes.size(), (std::uint64_t{image.SectorCount()} + 1) * sector_size);
    EXPECT_EQ(Get32(bytes, 0), 0xE011CFD0U);
    EXPECT_EQ(Get16(bytes, 26), version);
    EXPECT_EQ(Get16(bytes, 30), version == 3 ? 9 : 12);
    EXPECT_EQ(Get16(bytes, 32), 6);
    EXPECT_EQ(Get32(bytes, 40), version == 3 ? 0U : image.directory_sectors.size());
    EXPECT_EQ(Get32(bytes, 44), image.fat_sectors.size());
    EXPECT_EQ(Get32(bytes, 56), 4096U);
    if (version == 4) {
      EXPECT_TRUE(std::all_of(bytes.begin() + 512, bytes.begin() + 4096, [](std::uint8_t b) { return b == 0; }));
    }
    // FAT sectors are FATSECT, the rest of the FAT past the last sector free.
    for (std::uint32_t sector : image.fat_sectors) EXPECT_EQ(FatEntry(bytes, sector), kFatSect);
    for (std::uint32_t s = image.SectorCount(); s < image.fat.size(); ++s) ASSERT_EQ(image.fat[s], kFreeSect);
    // Streams below the cutoff are in the mini stream, 0 bytes have no chain.
    for (const DirectoryEntry& e : image.entries) {
      if (e.type != kTypeStream) continue;
      EXPECT_EQ(e.in_mini_stream, e.size > 0 && e.size < 4096) << Shown(e.name);
      EXPECT_EQ(e.start_sector, e.size == 0 ? kEndOfChain : e.chain.front()) << Shown(e.name);
    }
    EXPECT_EQ(image.entries[0].size, std::uint64_t{image.MiniSectorCount()} * 64);
    ExpectValidTrees(image);
  }
}

TEST(WriterCompound, SiblingTreesAreRedBlackForEveryCount) {
  for (std::uint32_t count = 0; count <= 70; ++count) {
    SCOPED_TRACE(count);
    Node root = StorageNode(u"");
    for (std::uint32_t i = 0; i < count; ++i) root.children.push_back(StreamNode(U16("n" + std::to_string(i)), {}));
    ExpectValidTrees(CompoundImage(root));
  }
}

TEST(WriterCompound, NameOrderAndNameErrors) {
  EXPECT_LT(CompareCompoundNames(u"ZZ", u"aaa"), 0);  // shorter first
  EXPECT_EQ(CompareCompoundNames(u"abc", u"ABC"), 0);
  EXPECT_LT(CompareCompoundNames(u"abc", u"ABD"), 0);
  EXPECT_LT(CompareCompoundNames(u"z", u"_"), 0);  // letters compare upper-cased
  EXPECT_LT(CompareCompoundNames(u"_", u"~"), 0);
  EXPECT_EQ(CompareCompoundNames(u"\u00e9\u0436\u03c2", u"\u00c9\u0416\u03a3"), 0);
  EXPECT_EQ(CompoundUpper(u'\u00ff'), u'\u0178');
  EXPECT_EQ(CompoundUpper(u'\u00f7'), u'\u00f7');

  auto write = [](std::vector<Node> children, int version = 3) {
    return WriteCompoundFile(StorageNode(u"", std::move(children)), {version, 0});
  };
  EXPECT_THROW(write({StreamNode(u"Name", {}), StorageNode(u"NAME")}), std::invalid_argument);
  EXPECT_THROW(write({StorageNode(u"S", {StreamNode(u"x\u00e9", {}), StreamNode(u"X\u00c9", {})})}),
               std::invalid_argument);
  EXPECT_THROW(write({StreamNode(u"", {})}), std::invalid_argument);
  EXPECT_THROW(write({StreamNode(U16(std::string(32, 'a')), {})}), std::invalid_argument);
  EXPECT_THROW(write({}, 5), std::invalid_argument);
  EXPECT_NO_THROW(write({StreamNode(U16(std::string(31, 'a')), {}), StreamNode(u"\u0005A", {}),
                         StorageNode(u"S", {StreamNode(u"\u0005a", ByteVector(3))})}));
}

TEST(WriterCompound, DeepNestingAndWideStorages) {
  Node root = StorageNode(u"");
  root.children.push_back(NestedStorages(10000, u"Level", {StreamNode(u"Leaf", ByteVector(5000, 7))}));
  Node wide = StorageNode(u"Wide");
  for (int i = 0; i < 20000; ++i) wide.children.push_back(StreamNode(U16("s" + std::to_string(i)), ByteVector(1, 1)));
  root.children.push_back(std::move(wide));

  const CompoundImage image(root, {4, 0});
  EXPECT_EQ(image.entries.size(), 1U + 10000 + 1 + 1 + 20000);
  std::u16string path;
  for (int i = 0; i < 10000; ++i) path += u"Level/";
  const DirectoryEntry& leaf = image.entries.at(image.Find(path + u"Leaf"));
  EXPECT_EQ(leaf.size, 5000U);
  EXPECT_EQ(image.entries.at(image.Find(u"Wide/s19999")).in_mini_stream, true);
  ExpectValidTrees(image);
  const ByteVector bytes = image.Bytes();
  EXPECT_EQ(Get32(bytes, image.SectorOffset(leaf.start_sector)), 0x07070707U);
}

// ------------------------------------------------------------ damages

TEST(WriterCompound, DamageHelpersShowInTheBytes) {
  Node root = StorageNode(u"", {StreamNode(u"Big", Pattern(6000, 1)), StreamNode(u"Small", Pattern(300, 2)),
                                StorageNode(u"Store", {StreamNode(u"Inner", Pattern(10, 3))})});
  for (int i = 0; i < 10; ++i) root.children.push_back(StreamNode(U16("x" + std::to_string(i)), {}));
  const CompoundImage clean(root, {3, 110});
  const std::uint32_t big = clean.Find(u"Big");
  const std::uint32_t small = clean.Find(u"Small");
  const std::uint32_t store = clean.Find(u"Store");
  ASSERT_EQ(clean.entries[big].chain.size(), 12U);
  ASSERT_EQ(clean.entries[small].chain.size(), 5U);
  ASSERT_GT(clean.directory_sectors.size(), 1U);
  ASSERT_EQ(clean.difat_sectors.size(), 1U);
  const ByteVector clean_bytes = clean.Bytes();

  // Each case damages a copy; `check` reads the damage from the bytes.
  struct Case {
    const char* what;
    std::function<void(CompoundImage&)> damage;
    std::function<bool(const CompoundImage&, const ByteVector&)> check;
  };
  const std::vector<Case> cases = {
      {"FAT loop", [&](CompoundImage& i) { i.LoopChain(big, 3); },
       [&](const CompoundImage& i, const ByteVector& b) {
         const auto& chain = i.entries[big].chain;
         return FatEntry(b, chain[3]) == chain.front();
       }},
      {"FAT loop at the end", [&](CompoundImage& i) { i.LoopChain(big, 11); },
       [&](const CompoundImage& i, const ByteVector& b) {
         const auto& chain = i.entries[big].chain;
         return FatEntry(b, chain.back()) == chain.front();
       }},
      {"mini FAT loop", [&](CompoundImage& i) { i.LoopChain(small); },
       [&](const CompoundImage& i, const ByteVector& b) {
         const auto& chain = i.entries[small].chain;
         return Get32(b, i.SectorOffset(Get32(b, 60)) + 4 * chain.front()) == chain.front();
       }},
      {"chain past the end", [&](CompoundImage& i) { i.PointChainPastEnd(big, 5); },
       [&](const CompoundImage& i, const ByteVector& b) {
         return FatEntry(b, i.entries[big].chain.front()) == b.size() / 512 - 2 + 5;
       }},
      {"mini chain past the end", [&](CompoundImage& i) { i.PointChainPastEnd(small, 1, 2); },
       [&](const CompoundImage& i, const ByteVector& b) {
         const auto& chain = i.entries[small].chain;
         return Get32(b, i.SectorOffset(Get32(b, 60)) + 4 * chain[2]) == i.MiniSectorCount();
       }},
      {"directory loop", [](CompoundImage& i) { i.LoopDirectoryChain(); },
       [](const CompoundImage& i, const ByteVector& b) {
         return FatEntry(b, i.directory_sectors.back()) == Get32(b, 48);
       }},
      {"mini FAT chain loop", [](CompoundImage& i) { i.LoopMiniFatChain(); },
       [](const CompoundImage&, const ByteVector& b) { return FatEntry(b, Get32(b, 60)) == Get32(b, 60); }},
      {"DIFAT loop", [](CompoundImage& i) { i.LoopDifat(); },
       [](const CompoundImage&, const ByteVector& b) {
         const std::uint32_t first = Get32(b, 68);
         return Get32(b, (std::uint64_t{first} + 1) * 512 + 127 * 4) == first;
       }},
      {"FAT count", [](CompoundImage& i) { i.header.fat_sector_count = 0xFFFFFFF0; },
       [](const CompoundImage&, const ByteVector& b) { return Get32(b, 44) == 0xFFFFFFF0U; }},
      {"sector shift", [](CompoundImage& i) { i.header.sector_shift = 30; },
       [](const CompoundImage&, const ByteVector& b) { return Get16(b, 30) == 30; }},
      {"stream longer than its chain", [&](CompoundImage& i) { i.entries[big].size = 1U << 20; },
       [&](const CompoundImage&, const ByteVector& b) { return Get32(b, EntryOffset(b, big) + 120) == 1U << 20; }},
      {"odd name length", [&](CompoundImage& i) { i.entries[small].name_length = 7; },
       [&](const CompoundImage&, const ByteVector& b) { return Get16(b, EntryOffset(b, small) + 64) == 7; }},
      {"unknown type", [&](CompoundImage& i) { i.entries[small].type = 9; },
       [&](const CompoundImage&, const ByteVector& b) { return b[EntryOffset(b, small) + 66] == 9; }},
      {"storage with data", [&](CompoundImage& i) { i.entries[store].start_sector = 3; i.entries[store].size = 77; },
       [&](const CompoundImage&, const ByteVector& b) {
         return Get32(b, EntryOffset(b, store) + 116) == 3 && Get32(b, EntryOffset(b, store) + 120) == 77;
       }},
      {"cyclic tree", [&](CompoundImage& i) { i.entries[store].child = store; },
       [&](const CompoundImage&, const ByteVector& b) { return Get32(b, EntryOffset(b, store) + 76) == store; }},
      {"long name", [&](CompoundImage& i) { i.entries[small].name = std::u16string(40, u'q'); i.entries[small].name_length = 66; },
       [&](const CompoundImage&, const ByteVector& b) {
         const std::uint64_t at = EntryOffset(b, small);
         return Get16(b, at + 62) == u'q' && Get16(b, at + 64) == 66 && b[at + 66] == kTypeStream;
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    CompoundImage image = clean;
    EXPECT_FALSE(c.check(image, clean_bytes)) << "the clean document already shows it";
    c.damage(image);
    const ByteVector bytes = image.Bytes();
    EXPECT_EQ(bytes.size(), clean_bytes.size());
    EXPECT_TRUE(c.check(image, bytes));
  }

  // Tables that outgrow their sectors, or places outside the file, are refused.
  CompoundImage grown = clean;
  grown.fat.resize(grown.fat_sectors.size() * 128 + 1, kFreeSect);
  EXPECT_THROW(grown.Bytes(), std::length_error);
  CompoundImage moved = clean;
  moved.directory_sectors.back() = moved.SectorCount();
  EXPECT_THROW(moved.Bytes(), std::out_of_range);
  CompoundImage no_difat(root);
  EXPECT_THROW(no_difat.LoopDifat(), std::logic_error);
  EXPECT_THROW(no_difat.LoopChain(store), std::logic_error);
  EXPECT_THROW(no_difat.LoopChain(small, 5), std::out_of_range);
  EXPECT_THROW(no_difat.Find(u"Store/Nothing"), std::out_of_range);
}

}  // namespace
}  // namespace lumerca::testing
