// lumerca-wine-hostile OUTDIR
//
// Writes the container cases of the catalogue of hostile inputs, one file
// CASE.mrk each, and prints the case names one a line in the order written.
// The Wine test hands each file to the native build and, under Wine, to the
// DLL, whose structured-storage backend then meets the same damage.
//
// Every case is a marker document (mostly Blouse) damaged in one place, so
// that the result says how far the reader got: 1 when the damage cost
// nothing, -1 when it cost the pieces, 0 when the document was not read.
//
// Each file is written whole or not at all (a failure exits non-zero).

#include "tests/support/compound_writer.h"
#include "tests/support/marker_streams.h"
#include "tests/support/sample_markers.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

using namespace lumerca::testing;
namespace fs = std::filesystem;

class Writer {
public:
  explicit Writer(fs::path folder) : folder_(std::move(folder)) {}

  void Add(const std::string& name, const ByteVector& bytes) {
    if (!ok_) return;
    const fs::path path = folder_ / (name + ".mrk");
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) {
      std::fprintf(stderr, "cannot write %s\n", path.string().c_str());
      ok_ = false;
      return;
    }
    std::printf("%s\n", name.c_str());
  }

  bool ok() const { return ok_; }

private:
  fs::path folder_;
  bool ok_ = true;
};

std::string Hex(std::uint32_t value) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%x", static_cast<unsigned>(value));
  return buffer;
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

void Header(Writer& w) {
  w.Add("empty", {});
  ByteVector short_file = MarkerFile(BlouseMarker());
  short_file.resize(511);
  w.Add("511-bytes", short_file);
  w.Add("plain-text", ByteVector(2048, 'x'));

  CompoundImage wrong = Blouse();
  wrong.header.signature[7] = 0xE2;
  w.Add("signature-wrong", wrong.Bytes());
  CompoundImage beta = Blouse();
  beta.header.signature = {0x0E, 0x11, 0xFC, 0x0D, 0xD0, 0xCF, 0x11, 0x0E};
  w.Add("signature-beta", beta.Bytes());

  CompoundImage v4 = Blouse();
  v4.header.major_version = 4;
  w.Add("v4-512-byte-sectors", v4.Bytes());

  for (int shift : {0, 8, 12, 16, 31, 0xFFFF}) {
    CompoundImage image = Blouse();
    image.header.sector_shift = static_cast<std::uint16_t>(shift);
    w.Add("sector-shift-" + std::to_string(shift), image.Bytes());
  }
  for (int shift : {0, 5, 7, 12, 0xFFFF}) {
    CompoundImage image = Blouse();
    image.header.mini_sector_shift = static_cast<std::uint16_t>(shift);
    w.Add("mini-sector-shift-" + std::to_string(shift), image.Bytes());
  }

  CompoundImage fat_count = Blouse();
  fat_count.header.fat_sector_count = 0xFFFFFFF0;
  w.Add("fat-sectors-fffffff0", fat_count.Bytes());
}

void Tables(Writer& w) {
  // The only DIFAT sector names itself as its successor, and the header
  // claims more FAT sectors than the header and that sector list hold.
  CompoundImage difat = BlouseWithDifat();
  difat.LoopDifat();
  difat.header.fat_sector_count = 109 + 127 + 10;
  w.Add("difat-loop", difat.Bytes());

  // Sector numbers whose byte offset, (n + 1) * 512, needs more than 32 bits.
  const std::uint32_t far = 0x00800000;
  CompoundImage fat_far = Blouse();
  fat_far.difat[0] = far;
  w.Add("offset-32-fat-sector", fat_far.Bytes());
  CompoundImage difat_far = BlouseWithDifat();
  difat_far.header.first_difat_sector = far;
  w.Add("offset-32-difat-sector", difat_far.Bytes());
  CompoundImage dir_far = Blouse();
  dir_far.header.first_directory_sector = far;
  w.Add("offset-32-directory", dir_far.Bytes());
  CompoundImage stream_far(MarkerDocument(BigBlouse()));
  stream_far.entries[stream_far.Find(u"PIECES")].start_sector = far;
  w.Add("offset-32-stream-start", stream_far.Bytes());
  CompoundImage link_far(MarkerDocument(BigBlouse()), WriteOptions{4, 0});
  const std::uint32_t far_pieces = link_far.Find(u"PIECES");
  link_far.fat[link_far.entries[far_pieces].chain[0]] = 0x00100000;  // (n + 1) * 4096
  w.Add("offset-32-stream-link-v4", link_far.Bytes());

  Node crowded = MarkerDocument(BlouseMarker());
  for (int i = 0; i < 20; ++i) crowded.children.push_back(StreamNode(U16("X" + std::to_string(i)), {1}));
  CompoundImage dir_loop(crowded);
  dir_loop.LoopDirectoryChain();
  w.Add("directory-chain-loop", dir_loop.Bytes());

  for (std::size_t link : {0u, 3u, 9u}) {
    CompoundImage image(MarkerDocument(BigBlouse()));
    image.LoopChain(image.Find(u"PIECES"), link);
    w.Add("stream-chain-loop-" + std::to_string(link), image.Bytes());
  }

  // 18 pieces: PIECES spans several mini sectors.
  MarkerSpec eighteen = BlouseMarker();
  const auto six = eighteen.pieces;
  for (int i = 0; i < 2; ++i) eighteen.pieces.insert(eighteen.pieces.end(), six.begin(), six.end());
  CompoundImage mini_self(MarkerDocument(eighteen));
  mini_self.LoopChain(mini_self.Find(u"PIECES"), 0);
  w.Add("mini-fat-self-loop", mini_self.Bytes());
  CompoundImage mini_fat_loop(MarkerDocument(eighteen));
  mini_fat_loop.LoopMiniFatChain();
  w.Add("mini-fat-chain-loop", mini_fat_loop.Bytes());

  CompoundImage mini_link = Blouse();
  mini_link.PointChainPastEnd(mini_link.Find(u"PIECES"), 1000);
  w.Add("mini-link-past-end", mini_link.Bytes());
  CompoundImage mini_start = Blouse();
  mini_start.entries[mini_start.Find(u"PIECES")].start_sector = 0x7FFFFFF0;
  w.Add("mini-start-past-end", mini_start.Bytes());
  CompoundImage mini_size = Blouse();
  mini_size.entries[0].size = 64;
  w.Add("mini-stream-one-sector", mini_size.Bytes());
}

void Directory(Writer& w) {
  {
    CompoundImage image = Blouse();
    std::uint32_t parent = 0;
    const std::uint32_t leaf = SomeLeaf(image, image.entries[0].child, &parent);
    image.entries[leaf].left = leaf;
    image.entries[leaf].right = leaf;
    w.Add("cycle-own-sibling", image.Bytes());
  }
  {
    CompoundImage image = Blouse();
    std::uint32_t parent = 0;
    const std::uint32_t leaf = SomeLeaf(image, image.entries[0].child, &parent);
    image.entries[leaf].left = parent;
    image.entries[leaf].right = parent;
    w.Add("cycle-two-siblings", image.Bytes());
  }
  {
    CompoundImage image = Blouse();
    image.entries[image.Find(u"CUTS")].child = image.entries[0].child;
    w.Add("cycle-child-is-parents-tree", image.Bytes());
  }
  for (bool itself : {false, true}) {
    CompoundImage image = Blouse();
    const std::uint32_t cuts = image.Find(u"CUTS");
    image.entries[cuts].child = itself ? cuts : 0;
    w.Add(itself ? "cycle-child-is-itself" : "cycle-child-is-root", image.Bytes());
  }
  {
    CompoundImage image = Blouse();
    image.entries[0].child = 0;
    w.Add("cycle-root-child-is-root", image.Bytes());
  }

  for (int value : {0, 1, 7, 66, 200, 0xFFFF}) {
    const auto length = static_cast<std::uint16_t>(value);
    CompoundImage image = Blouse();
    image.entries[image.Find(u"PIECES")].name_length = length;
    image.entries[image.Find(u"CUTS")].name_length = length;
    w.Add("name-length-" + std::to_string(value), image.Bytes());
  }
  {
    CompoundImage image = Blouse();
    image.entries[0].name_length = 0;
    w.Add("name-length-0-root", image.Bytes());
  }

  for (int value : {0, 3, 6, 0xFF}) {
    const auto type = static_cast<std::uint8_t>(value);
    CompoundImage pieces = Blouse();
    pieces.entries[pieces.Find(u"PIECES")].type = type;
    w.Add("type-" + Hex(type) + "-pieces", pieces.Bytes());
    CompoundImage cuts = Blouse();
    cuts.entries[cuts.Find(u"CUTS")].type = type;
    w.Add("type-" + Hex(type) + "-cuts", cuts.Bytes());
    CompoundImage root = Blouse();
    root.entries[0].type = type;
    w.Add("type-" + Hex(type) + "-root", root.Bytes());
  }

  for (std::uint64_t size : {std::uint64_t{0x7FFFFFFF}, std::uint64_t{0xFFFFFFFF}}) {
    CompoundImage image(MarkerDocument(BigBlouse()));
    image.entries[image.Find(u"PIECES")].size = size;
    image.entries[image.Find(u"CUTS/0.CUTS")].size = 4095;  // in the mini stream still
    w.Add("stream-size-" + Hex(static_cast<std::uint32_t>(size)), image.Bytes());
  }
  {
    CompoundImage image(MarkerDocument(BigBlouse()), WriteOptions{4, 0});
    image.entries[image.Find(u"PIECES")].size = std::uint64_t{1} << 40;
    w.Add("stream-size-10000000000-v4", image.Bytes());
  }
  {
    CompoundImage image = Blouse();
    auto& cuts = image.entries[image.Find(u"CUTS")];
    cuts.start_sector = 3;
    cuts.size = 123456;
    w.Add("storage-start-and-size", image.Bytes());
  }
  {
    CompoundImage image = Blouse();
    std::uint32_t parent = 0;
    const std::uint32_t leaf = SomeLeaf(image, image.entries[0].child, &parent);
    image.entries[leaf].color = kRed;
    image.entries[parent].color = kRed;
    image.entries[image.entries[0].child].color = kRed;
    w.Add("two-red-nodes", image.Bytes());
  }
}

// A complete marker cut at a few sector boundaries: in the directory, in the
// FAT, in the mini stream, one sector short of the end.
void Truncated(Writer& w) {
  MarkerSpec spec = JacketMarker();
  spec.skipped_streams = true;
  for (int version : {3, 4}) {
    const ByteVector whole = MarkerFile(spec, WriteOptions{version, 0});
    const std::size_t sector = version == 3 ? 512 : 4096;
    const std::size_t sectors = whole.size() / sector;  // the header's included
    std::vector<std::size_t> cuts = {1, 2, sectors / 2, sectors - 1};
    cuts.erase(std::unique(cuts.begin(), cuts.end()), cuts.end());
    for (std::size_t count : cuts) {
      const ByteVector cut(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(count * sector));
      w.Add("truncated-v" + std::to_string(version) + "-" + std::to_string(count) + "-of-" +
                std::to_string(sectors) + "-sectors",
            cut);
    }
  }
}

void Shapes(Writer& w) {
  const MarkerSpec spec = BlouseMarker();
  {
    Node root = MarkerDocument(spec);
    auto pieces = std::find_if(root.children.begin(), root.children.end(),
                               [](const Node& n) { return n.name == u"PIECES"; });
    Node bottom = std::move(*pieces);
    root.children.erase(pieces);
    root.children.push_back(NestedStorages(10000, u"DEEP", {std::move(bottom)}));
    w.Add("shape-10000-nested-storages", WriteCompoundFile(root));
  }
  {
    // 5,600 elements of the root chained through their right links only.
    Node root = MarkerDocument(spec);
    while (root.children.size() < 5600) {
      root.children.push_back(StreamNode(U16("N" + std::to_string(root.children.size())), {}));
    }
    CompoundImage image(root);
    image.ChainElements();
    w.Add("shape-one-sided-tree-5600", image.Bytes());
  }
  {
    Node root = MarkerDocument(spec);
    Node crowd = StorageNode(u"CROWD");
    for (int i = 0; i < 20000; ++i) crowd.children.push_back(StreamNode(U16("S" + std::to_string(i)), {}));
    root.children.push_back(std::move(crowd));
    w.Add("shape-20000-streams", WriteCompoundFile(root));
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("usage: lumerca-wine-hostile OUTDIR\n", stderr);
    return 2;
  }
  const fs::path out(argv[1]);
  fs::create_directories(out);
  Writer writer(out);
  try {
    Header(writer);
    Tables(writer);
    Directory(writer);
    Truncated(writer);
    Shapes(writer);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "lumerca-wine-hostile: %s\n", e.what());
    return 1;
  }
  std::fflush(stdout);
  return writer.ok() ? 0 : 1;
}
