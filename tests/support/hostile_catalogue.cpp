#include "tests/support/hostile_catalogue.h"

#include "tests/support/marker_streams.h"
#include "tests/support/sample_markers.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <stdexcept>
#include <utility>

namespace lumerca::testing {
namespace {

constexpr ImportStatus kImported = ImportStatus::Imported;
constexpr ImportStatus kCannotOpen = ImportStatus::CannotOpen;
constexpr ImportStatus kNoPieces = ImportStatus::NoPieces;
constexpr ImportStatus kDamaged = ImportStatus::Damaged;

class Catalogue {
public:
  void Add(std::string name, std::optional<ImportStatus> status, std::function<ByteVector()> bytes) {
    files_.push_back({std::move(name), std::move(bytes), status});
  }
  std::vector<HostileFile> Take() { return std::move(files_); }

private:
  std::vector<HostileFile> files_;
};

std::string Hex(std::uint32_t value) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%x", static_cast<unsigned>(value));
  return buffer;
}

// `prefix`, the number and `suffix`, as a stream or storage name.
std::u16string Numbered(const char* prefix, std::size_t number, const char* suffix) {
  std::string name = prefix;
  name += std::to_string(number);
  name += suffix;
  return U16(name);
}

CompoundImage Blouse(const WriteOptions& options = {}) {
  return CompoundImage(MarkerDocument(BlouseMarker()), options);
}

// Blouse with a 150 KiB stream beside the tables: 110 FAT sectors, so one
// DIFAT sector.
CompoundImage BlouseWithDifat() {
  Node root = MarkerDocument(BlouseMarker());
  root.children.push_back(StreamNode(u"FILLER", ByteVector(300 * 512, 0x33)));
  return CompoundImage(root, WriteOptions{3, 110});
}

// Blouse with its pieces three times over (18): PIECES spans several mini
// sectors.
MarkerRecipe EighteenPieces() {
  MarkerRecipe recipe = BlouseMarker();
  const auto six = recipe.pieces;
  for (int i = 0; i < 2; ++i) recipe.pieces.insert(recipe.pieces.end(), six.begin(), six.end());
  return recipe;
}

// A .CUTS stream that declares `count` splits and holds none of them.
ByteVector CutsHeaderOnly(std::int16_t count) { return Bytes().U8(0).I16(count).U16(0); }

ByteVector CountOnly(std::uint16_t count) { return Bytes().U16(count); }

void Header(Catalogue& c) {
  c.Add("empty", kCannotOpen, [] { return ByteVector{}; });
  c.Add("511-bytes", kCannotOpen, [] {
    ByteVector bytes = MarkerFile(BlouseMarker());
    bytes.resize(511);
    return bytes;
  });
  c.Add("plain-text", kCannotOpen, [] { return ByteVector(2048, 'x'); });
  c.Add("signature-wrong", kCannotOpen, [] {
    CompoundImage image = Blouse();
    image.header.signature[7] = 0xE2;
    return image.Bytes();
  });
  c.Add("signature-beta", kCannotOpen, [] {
    CompoundImage image = Blouse();
    image.header.signature = {0x0E, 0x11, 0xFC, 0x0D, 0xD0, 0xCF, 0x11, 0x0E};
    return image.Bytes();
  });
  c.Add("v4-512-byte-sectors", kCannotOpen, [] {
    CompoundImage image = Blouse();
    image.header.major_version = 4;
    return image.Bytes();
  });
  for (int shift : {0, 7, 8, 10, 12, 16, 31, 32, 0xFFFF}) {
    c.Add("sector-shift-" + std::to_string(shift), kCannotOpen, [shift] {
      CompoundImage image = Blouse();
      image.header.sector_shift = static_cast<std::uint16_t>(shift);
      return image.Bytes();
    });
  }
  for (int shift : {0, 1, 5, 7, 9, 12, 0xFFFF}) {
    c.Add("mini-sector-shift-" + std::to_string(shift), kCannotOpen, [shift] {
      CompoundImage image = Blouse();
      image.header.mini_sector_shift = static_cast<std::uint16_t>(shift);
      return image.Bytes();
    });
  }
  c.Add("fat-sectors-fffffff0", kCannotOpen, [] {
    CompoundImage image = Blouse();
    image.header.fat_sector_count = 0xFFFFFFF0;
    return image.Bytes();
  });
}

// Sector numbers whose byte offset, (n + 1) * 512, needs more than 32 bits.
constexpr std::uint32_t kFar = 0x00800000;

void Tables(Catalogue& c) {
  // The only DIFAT sector names itself as its successor, and the header
  // claims more FAT sectors than the header and that sector list hold.
  c.Add("difat-loop", kCannotOpen, [] {
    CompoundImage image = BlouseWithDifat();
    image.LoopDifat();
    image.header.fat_sector_count = 109 + 127 + 10;
    return image.Bytes();
  });
  c.Add("offset-32-fat-sector", kCannotOpen, [] {
    CompoundImage image = Blouse();
    image.difat[0] = kFar;
    return image.Bytes();
  });
  c.Add("offset-32-difat-sector", kCannotOpen, [] {
    CompoundImage image = BlouseWithDifat();
    image.header.first_difat_sector = kFar;
    return image.Bytes();
  });
  c.Add("offset-32-directory", kCannotOpen, [] {
    CompoundImage image = Blouse();
    image.header.first_directory_sector = kFar;
    return image.Bytes();
  });
  c.Add("offset-32-stream-start", kDamaged, [] {
    CompoundImage image(MarkerDocument(BigBlouse()));
    image.entries[image.Find(u"PIECES")].start_sector = kFar;
    return image.Bytes();
  });
  c.Add("offset-32-stream-link-v4", kDamaged, [] {
    CompoundImage image(MarkerDocument(BigBlouse()), WriteOptions{4, 0});
    const std::uint32_t pieces = image.Find(u"PIECES");
    image.fat[image.entries[pieces].chain[0]] = 0x00100000;  // (n + 1) * 4096
    return image.Bytes();
  });
  // Enough elements for a directory of several sectors.
  c.Add("directory-chain-loop", kCannotOpen, [] {
    Node crowded = MarkerDocument(BlouseMarker());
    for (std::size_t i = 0; i < 20; ++i) crowded.children.push_back(StreamNode(Numbered("X", i, ""), {1}));
    CompoundImage image(crowded);
    image.LoopDirectoryChain();
    return image.Bytes();
  });
  for (std::size_t link : {0u, 3u, 9u}) {
    c.Add("stream-chain-loop-" + std::to_string(link), kDamaged, [link] {
      CompoundImage image(MarkerDocument(BigBlouse()));
      image.LoopChain(image.Find(u"PIECES"), link);
      return image.Bytes();
    });
  }
  c.Add("mini-fat-self-loop", kDamaged, [] {
    CompoundImage image(MarkerDocument(EighteenPieces()));
    image.LoopChain(image.Find(u"PIECES"), 0);
    return image.Bytes();
  });
  // The streams whose mini sectors lie past the shortened mini FAT end early.
  c.Add("mini-fat-chain-loop", std::nullopt, [] {
    CompoundImage image(MarkerDocument(EighteenPieces()));
    image.LoopMiniFatChain();
    return image.Bytes();
  });
  c.Add("mini-link-past-end", kDamaged, [] {
    CompoundImage image = Blouse();
    image.PointChainPastEnd(image.Find(u"PIECES"), 1000);
    return image.Bytes();
  });
  c.Add("mini-start-past-end", kDamaged, [] {
    CompoundImage image = Blouse();
    image.entries[image.Find(u"PIECES")].start_sector = 0x7FFFFFF0;
    return image.Bytes();
  });
  c.Add("mini-stream-one-sector", kDamaged, [] {
    CompoundImage image = Blouse();
    image.entries[0].size = 64;
    return image.Bytes();
  });
}

void Cycles(Catalogue& c) {
  c.Add("cycle-own-sibling", kImported, [] {
    CompoundImage image = Blouse();
    std::uint32_t parent = 0;
    const std::uint32_t leaf = SomeLeaf(image, image.entries[0].child, &parent);
    image.entries[leaf].left = leaf;
    image.entries[leaf].right = leaf;
    return image.Bytes();
  });
  c.Add("cycle-two-siblings", kImported, [] {
    CompoundImage image = Blouse();
    std::uint32_t parent = 0;
    const std::uint32_t leaf = SomeLeaf(image, image.entries[0].child, &parent);
    image.entries[leaf].left = parent;
    image.entries[leaf].right = parent;
    return image.Bytes();
  });
  c.Add("cycle-child-is-parents-tree", kImported, [] {
    CompoundImage image = Blouse();
    image.entries[image.Find(u"CUTS")].child = image.entries[0].child;
    return image.Bytes();
  });
  for (bool itself : {false, true}) {
    c.Add(itself ? "cycle-child-is-itself" : "cycle-child-is-root", kImported, [itself] {
      CompoundImage image = Blouse();
      const std::uint32_t cuts = image.Find(u"CUTS");
      image.entries[cuts].child = itself ? cuts : 0;
      return image.Bytes();
    });
  }
  c.Add("cycle-root-child-is-root", kNoPieces, [] {
    CompoundImage image = Blouse();
    image.entries[0].child = 0;
    return image.Bytes();
  });
}

void Entries(Catalogue& c) {
  // The name is the 32-unit field up to its first NUL, whatever the length
  // field says.
  for (int value : {0, 1, 7, 13, 66, 200, 0xFFFF}) {
    c.Add("name-length-" + std::to_string(value), kImported, [value] {
      const auto length = static_cast<std::uint16_t>(value);
      CompoundImage image = Blouse();
      image.entries[image.Find(u"PIECES")].name_length = length;
      image.entries[image.Find(u"CUTS")].name_length = length;
      return image.Bytes();
    });
  }
  c.Add("name-length-0-root", std::nullopt, [] {
    CompoundImage image = Blouse();
    image.entries[0].name_length = 0;
    return image.Bytes();
  });
  // An element of unknown type is passed over; the root must be a root.
  for (int value : {0, 3, 4, 6, 0x80, 0xFF}) {
    const auto type = static_cast<std::uint8_t>(value);
    const std::pair<const char*, ImportStatus> where[] = {
        {"pieces", kNoPieces}, {"cuts", kImported}, {"root", kCannotOpen}};
    for (const auto& [element, status] : where) {
      const std::string path = element;
      c.Add("type-" + Hex(type) + "-" + path, status, [type, path] {
        CompoundImage image = Blouse();
        const std::uint32_t index =
            path == "root" ? 0 : image.Find(path == "pieces" ? u"PIECES" : u"CUTS");
        image.entries[index].type = type;
        return image.Bytes();
      });
    }
  }
  // A size beyond the file: the stream delivers what its chain holds.
  for (std::uint64_t size : {std::uint64_t{0x7FFFFFFF}, std::uint64_t{0xFFFFFFFF}}) {
    c.Add("stream-size-" + Hex(static_cast<std::uint32_t>(size)), kImported, [size] {
      CompoundImage image(MarkerDocument(BigBlouse()));
      image.entries[image.Find(u"PIECES")].size = size;
      image.entries[image.Find(u"CUTS/0.CUTS")].size = 4095;  // in the mini stream still
      return image.Bytes();
    });
  }
  // Version 4 keeps the whole 64-bit size.
  c.Add("stream-size-10000000000-v4", kImported, [] {
    CompoundImage image(MarkerDocument(BigBlouse()), WriteOptions{4, 0});
    image.entries[image.Find(u"PIECES")].size = std::uint64_t{1} << 40;
    return image.Bytes();
  });
  // A storage's start sector and size mean nothing.
  c.Add("storage-start-and-size", kImported, [] {
    CompoundImage image = Blouse();
    auto& cuts = image.entries[image.Find(u"CUTS")];
    cuts.start_sector = 3;
    cuts.size = 123456;
    return image.Bytes();
  });
  c.Add("two-red-nodes", kImported, [] {
    CompoundImage image = Blouse();
    std::uint32_t parent = 0;
    const std::uint32_t leaf = SomeLeaf(image, image.entries[0].child, &parent);
    image.entries[leaf].color = kRed;
    image.entries[parent].color = kRed;
    image.entries[image.entries[0].child].color = kRed;
    return image.Bytes();
  });
}

// A complete marker cut at a few sector boundaries: in the directory, in the
// FAT, in the mini stream, one sector short of the end.
void Truncated(Catalogue& c) {
  MarkerRecipe recipe = JacketMarker();
  recipe.skipped_streams = true;
  for (int version : {3, 4}) {
    const std::size_t sector = version == 3 ? 512 : 4096;
    const std::size_t sectors = MarkerFile(recipe, WriteOptions{version, 0}).size() / sector;
    std::vector<std::size_t> cuts = {1, 2, sectors / 2, sectors - 1};
    cuts.erase(std::unique(cuts.begin(), cuts.end()), cuts.end());
    for (std::size_t count : cuts) {
      c.Add("truncated-v" + std::to_string(version) + "-" + std::to_string(count) + "-of-" +
                std::to_string(sectors) + "-sectors",
            std::nullopt, [recipe, version, count, sector] {
              ByteVector bytes = MarkerFile(recipe, WriteOptions{version, 0});
              bytes.resize(count * sector);
              return bytes;
            });
    }
  }
}

// The blouse marker's document: MARKER, the tables, PIECES and a CUTS storage.
Node Base() { return MarkerDocument(BlouseMarker()); }

// The pieces at the bottom of n nested storages; the tables at the root.
ByteVector Nested(std::size_t n) {
  Node root = Base();
  auto pieces = std::find_if(root.children.begin(), root.children.end(),
                             [](const Node& child) { return child.name == u"PIECES"; });
  Node stream = std::move(*pieces);
  root.children.erase(pieces);
  std::vector<Node> innermost;
  innermost.push_back(std::move(stream));
  root.children.push_back(NestedStorages(n, u"NEST", std::move(innermost)));
  return WriteCompoundFile(root);
}

void Shapes(Catalogue& c) {
  c.Add("shape-10000-nested-storages", kImported, [] { return Nested(10000); });
  // 5,600 elements of the root chained through their right links only.
  c.Add("shape-one-sided-tree-5600", kImported, [] {
    Node root = Base();
    while (root.children.size() < 5600) {
      root.children.push_back(StreamNode(Numbered("N", root.children.size(), ""), {}));
    }
    CompoundImage image(root);
    image.ChainElements();
    return image.Bytes();
  });
  c.Add("shape-20000-streams", kImported, [] {
    Node root = Base();
    Node crowd = StorageNode(u"CROWD");
    for (std::size_t i = 0; i < 20000; ++i) crowd.children.push_back(StreamNode(Numbered("S", i, ""), {}));
    root.children.push_back(std::move(crowd));
    return WriteCompoundFile(root);
  });
}

// ---------------------------------------------------------------- shapes

ByteVector EmptyCuts(std::size_t n) {
  Node root = Base();
  Node cuts = StorageNode(u"HOSTILE");
  for (std::size_t i = 0; i < n; ++i) {
    cuts.children.push_back(StreamNode(Numbered("", i, ".CUTS"), CutsHeaderOnly(32767)));
  }
  root.children.push_back(std::move(cuts));
  return WriteCompoundFile(root);
}

// Every counted stream with its largest count and nothing behind it, in n
// storages: PIECES 65,535, the tables, CHESS, .CAS, .CLS and .CUTS 32,767,
// and a MARKER whose four text lengths are 32,767.
ByteVector HugeCounts(std::size_t n) {
  Node root = Base();
  ByteVector marker = Bytes().Fill(93).I16(32767).I16(32767).I16(32767).I16(32767).Fill(4);
  for (std::size_t i = 0; i < n; ++i) {
    Node storage = StorageNode(Numbered("H", i, ""));
    storage.children.push_back(StreamNode(u"PIECES", CountOnly(0xFFFF)));
    for (const char16_t* name : {u"STYLES", u"SIZES", u"CLASSES", u"CROIXES", u"HALFS", u"CHESS",
                                 u"1.CAS", u"1.CLS"}) {
      storage.children.push_back(StreamNode(name, CountOnly(0x7FFF)));
    }
    storage.children.push_back(StreamNode(u"2.CUTS", CutsHeaderOnly(32767)));
    storage.children.push_back(StreamNode(u"MARKER", marker));
    root.children.push_back(std::move(storage));
  }
  return WriteCompoundFile(root);
}

// One split each, so that every stream is decoded into the model.
ByteVector ManyStreams(std::size_t n) {
  Node root = Base();
  Node storage = StorageNode(u"MANY");
  const SplitRecipe split{0, 0, 10, 0, 16256, 2, 0};
  for (std::size_t i = 0; i < n; ++i) {
    storage.children.push_back(StreamNode(Numbered("", i, ".CUTS"), CutsStream({split})));
  }
  root.children.push_back(std::move(storage));
  return WriteCompoundFile(root);
}

// n storages at the root, each with a PIECES stream of one piece.
ByteVector PiecesStorages(std::size_t n) {
  Node root = Base();
  PieceRecipe piece;
  piece.place_x = 10;
  piece.max_x = 5;
  piece.max_y = 5;
  const ByteVector stream = PiecesStream({piece});
  for (std::size_t i = 0; i < n; ++i) {
    Node storage = StorageNode(Numbered("P", i, ""));
    storage.children.push_back(StreamNode(u"PIECES", stream));
    root.children.push_back(std::move(storage));
  }
  return WriteCompoundFile(root);
}

// n nested storages with n / 5 streams at the bottom that each end before
// their declared layout: every rejected stream is reported with its path.
ByteVector DeepRejects(std::size_t n) {
  Node root = Base();
  std::vector<Node> innermost;
  for (std::size_t i = 0; i < n / 5; ++i) {
    innermost.push_back(StreamNode(Numbered("", i, ".CUTS"), CutsHeaderOnly(5)));
  }
  root.children.push_back(NestedStorages(n, u"NEST", std::move(innermost)));
  return WriteCompoundFile(root);
}

// n elements in the root storage whose tree is one chain of right links:
// each lookup by name walks down the chain.
ByteVector OneSided(std::size_t n) {
  Node root = Base();
  for (std::size_t i = root.children.size(); i < n; ++i) {
    root.children.push_back(StreamNode(Numbered("X", i, ".CUTS"), CutsHeaderOnly(0)));
  }
  CompoundImage image(root);
  image.ChainElements();
  return std::move(image).TakeBytes();
}

}  // namespace

std::vector<HostileFile> HostileContainers() {
  Catalogue catalogue;
  Header(catalogue);
  Tables(catalogue);
  Cycles(catalogue);
  Entries(catalogue);
  Truncated(catalogue);
  Shapes(catalogue);
  return catalogue.Take();
}

ByteVector HostileContainer(const std::string& name) {
  for (const HostileFile& file : HostileContainers()) {
    if (file.name == name) return file.bytes();
  }
  throw std::out_of_range("no hostile file named " + name);
}

std::vector<HostileShape> HostileShapes() {
  return {
      {"cuts-declaring-32767", "1,000 .CUTS streams each declaring 32,767 splits in 5 bytes", 1000,
       EmptyCuts},
      {"huge-counts", "1,000 storages of 11 streams, each count at its maximum, no records", 1000,
       HugeCounts},
      {"20000-streams", "20,000 .CUTS streams of one split in one storage", 20000, ManyStreams},
      {"3000-pieces-storages", "3,000 storages each with its own PIECES stream of one piece", 3000,
       PiecesStorages},
      {"nested-10000", "PIECES under 10,000 nested storages", 10000, Nested},
      {"deep-rejects", "2,000 short .CUTS streams under 10,000 nested storages", 10000, DeepRejects},
      {"one-sided-5600", "5,600 elements in one storage, tree a chain of right links", 5600,
       OneSided},
  };
}

}  // namespace lumerca::testing
