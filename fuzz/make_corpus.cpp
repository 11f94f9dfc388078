// Writes the seed corpus of the fuzz targets: lumerca-fuzz-corpus <folder>
// fills <folder>/fuzz_compound, <folder>/fuzz_fixed, <folder>/fuzz_import and
// <folder>/fuzz_normalize (fuzz/corpus in the source tree). The seeds are small (a few KB) and
// deterministic, so that running it again changes nothing.

#include "fuzz/import_input.h"
#include "tests/support/compound_writer.h"
#include "tests/support/marker_streams.h"
#include "tests/support/sample_markers.h"

#include <bit>
#include <cfloat>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

namespace fs = std::filesystem;
using namespace lumerca::testing;
using lumerca::fuzzing::JoinParts;
using lumerca::fuzzing::MarkerParts;

namespace {

void Write(const fs::path& path, const ByteVector& bytes) {
  fs::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  std::printf("%s: %zu bytes\n", path.string().c_str(), bytes.size());
}

ByteVector Text(const std::string& text) { return ByteVector(text.begin(), text.end()); }

// A marker of two sizes, two classes and three pieces, one of them a half
// piece, with cut lines of kinds 0 to 3.
MarkerRecipe SmallMarker() {
  MarkerRecipe recipe;
  recipe.header.name = "Tiny 1.0";
  recipe.sizes = {{10, "S"}, {12, "M"}};
  recipe.classes = {{"PANEL", ""}, {"strap", ""}};
  recipe.croixes = {{0, 0}, {1, 1}, {1, 0}};
  for (std::int16_t i = 0; i < 3; ++i) {
    PieceRecipe piece;
    piece.croix_index = i;
    piece.place_x = 10.0f * i;
    piece.max_x = 5;
    piece.max_y = 4;
    recipe.pieces.push_back(piece);
  }
  recipe.halfs = {2};
  recipe.cuts[0] = {SplitRecipe{0, 0, 3, 4, 16256, 2, 0}, SplitRecipe{1, 1, 1, 1, 16000, 3, 0}};
  recipe.cuts[1] = {SplitRecipe{0, 0, 0, 5, 0, 0, 0}, SplitRecipe{2, 2, 3, 3, 16384, 1, 0}};
  return recipe;
}

void CompoundSeeds(const fs::path& dir) {
  Write(dir / "blouse-v3", MarkerFile(BlouseMarker()));
  Write(dir / "small-v3", MarkerFile(SmallMarker()));
  auto skipped = SmallMarker();
  skipped.skipped_streams = true;
  Write(dir / "small-skipped-v3", MarkerFile(skipped));

  // Streams cut short: HALFS in its record, CLASSES in its last text, 1.CUTS
  // in its second cut line.
  Node cut = MarkerDocument(skipped);
  for (Node& child : cut.children) {
    if (child.name == u"HALFS" || child.name == u"CLASSES") child.data.pop_back();
    for (Node& inner : child.children) {
      if (inner.name == u"1.CUTS") inner.data.resize(inner.data.size() - 10);
    }
  }
  Write(dir / "small-cut-v3", WriteCompoundFile(cut));

  // Regular sectors (a stream above the mini-stream cutoff), a nested storage
  // and a property-set name.
  Node root = StorageNode(u"Root Entry");
  root.children.push_back(StreamNode(u"PIECES", PiecesStream(SmallMarker().pieces)));
  Node deep = NestedStorages(4, u"LEVEL", {StreamNode(u"NOTES", ByteVector(4200, 0x42))});
  root.children.push_back(std::move(deep));
  root.children.push_back(StreamNode(u"\x0005SummaryInformation", ByteVector(48, 1)));
  Write(dir / "regular-sectors-v3", WriteCompoundFile(root));

  // Version 4: 4096-byte sectors.
  Node tiny = StorageNode(u"Root Entry");
  tiny.children.push_back(StreamNode(u"PIECES", PiecesStream(SmallMarker().pieces)));
  Write(dir / "tiny-v4", WriteCompoundFile(tiny, WriteOptions{4, 0}));

  // A directory tree that is not a proper search tree: two siblings swapped.
  CompoundImage image(MarkerDocument(SmallMarker()));
  const std::uint32_t root_child = image.entries[0].child;
  std::swap(image.entries[root_child].left, image.entries[root_child].right);
  Write(dir / "unordered-tree-v3", image.Bytes());
}

void ImportSeeds(const fs::path& dir) {
  Write(dir / "blouse", JoinParts(MarkerParts(BlouseMarker(), 0b010, 0)));
  Write(dir / "small-root", JoinParts(MarkerParts(SmallMarker(), 0b000, 0, "caller 7.1")));
  Write(dir / "small-v4-down-lower", JoinParts(MarkerParts(SmallMarker(), 0b1101, 2)));
  auto jacket = JacketMarker();
  jacket.skipped_streams = true;
  Write(dir / "jacket-own-storages", JoinParts(MarkerParts(jacket, 0b110, 3)));
  // A double-byte code page (932) and a name with double-byte characters.
  auto dbcs = SmallMarker();
  dbcs.header.name = "\x82\xa0\x81\x5c.a\x83";
  dbcs.classes[1].name = "\x88\x9f" "b";
  Write(dir / "small-cp932", JoinParts(MarkerParts(dbcs, 0b010, 5)));
  // Streams cut short, imported with and without salvage: HALFS in its
  // second record (the output would use it), the last SIZES name (it would
  // not), 0.CUTS with two of its three cut lines.
  auto cut = JacketMarker();
  cut.cuts[0].resize(3);
  auto parts = MarkerParts(cut, 0b10010, 0);
  parts[6].pop_back();
  parts[3].pop_back();
  parts[13].resize(parts[13].size() - 22);
  Write(dir / "jacket-cut-salvage", JoinParts(parts));
}

void NormalizeSeeds(const fs::path& dir) {
  Write(dir / "jacket", Text("JACKET/A#2.1"));
  Write(dir / "skirt", Text("Skirt 12.b"));
  Write(dir / "signs", Text("A+B=C AxBxC"));
  Write(dir / "empty", {});
  ByteVector high;
  for (unsigned b = 0x7B; b < 0x100; ++b) high.push_back(static_cast<std::uint8_t>(b));
  Write(dir / "high-bytes", high);
  Write(dir / "double-byte", Text("\x82\xa0\x81\x5c" "a.b\x88\x9f\x81"));
  Write(dir / "nul-inside", ByteVector{'A', 'b', 0, 'c', '.'});
}

// One record of fuzz_fixed: a kind byte and 8 bytes of payload, low first.
void AddRecord(ByteVector& bytes, std::uint8_t kind, std::uint64_t payload) {
  bytes.push_back(kind);
  for (int k = 0; k < 8; ++k) bytes.push_back(static_cast<std::uint8_t>(payload >> (8 * k)));
}

void FixedSeeds(const fs::path& dir) {
  // The bits of doubles whose texts the platform's runtime is known to write.
  ByteVector known;
  for (const double value : {100.0078125, -0.0078125, 0.0234375, 1.0693275, 0.1071925,
                             123456789012.12346, 0x1p60, 1e23, static_cast<double>(FLT_MAX),
                             1e300, -0.0000001, 9.5e-7, 0x1p50 + 0.25}) {
    AddRecord(known, 0, std::bit_cast<std::uint64_t>(value));
  }
  for (const std::uint64_t bits : {0x7FF0000000000000ULL, 0xFFF8000000000000ULL,
                                   0x7FF8000000000000ULL, 0xFFF8000000000001ULL,
                                   0x7FF0000000000001ULL, 0x8000000000000000ULL}) {
    AddRecord(known, 0, bits);
  }
  Write(dir / "known", known);

  ByteVector floats;
  for (const float value : {123547.2890625f, 0.98f, 1600.0f, -37.5f, 1e-7f, FLT_MAX, 16777215.0f}) {
    AddRecord(floats, 1, std::bit_cast<std::uint32_t>(value));
  }
  Write(dir / "floats", floats);

  // Ties at the 17th digit for N = 1, 8 and 16, near-ties at the 6th decimal,
  // and nines after the 7th decimal.
  ByteVector ties;
  AddRecord(ties, 2, 13 | (0x1234567ULL << 5));
  AddRecord(ties, 2, 20 | (0x9876543210ULL << 5));
  AddRecord(ties, 2, 28 | (0x3FFFFFFFFULL << 5));
  AddRecord(ties, 3, 20 | (0x5A5A5ULL << 6));
  AddRecord(ties, 3, 40 | (0xFFFFFFFFFFULL << 6));
  AddRecord(ties, 4, 0x5DEECE66DULL | (0x3FULL << 54) | (0x4ULL << 55));
  AddRecord(ties, 4, 1069327ULL << 34 | (0xFULL << 55));
  Write(dir / "ties", ties);

  ByteVector extremes;
  AddRecord(extremes, 5, 0x3FFULL | (0xFFFFFFFFFFFFFULL << 10));
  AddRecord(extremes, 5, 4 | (0x123456789ULL << 10));
  AddRecord(extremes, 6, 0x2ULL | (0x9ULL << 1));
  AddRecord(extremes, 6, 0x1ULL | (0xFFFFFULL << 1));
  AddRecord(extremes, 7, std::bit_cast<std::uint32_t>(3.5f) |
                         (std::uint64_t{std::bit_cast<std::uint32_t>(0.0f)} << 32));
  AddRecord(extremes, 7, std::bit_cast<std::uint32_t>(-120.25f) |
                         (std::uint64_t{std::bit_cast<std::uint32_t>(0.98f)} << 32));
  AddRecord(extremes, 8, 0x8000000000001ULL);
  Write(dir / "extremes", extremes);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <corpus folder>\n", argv[0]);
    return 2;
  }
  const fs::path corpus(argv[1]);
  CompoundSeeds(corpus / "fuzz_compound");
  FixedSeeds(corpus / "fuzz_fixed");
  ImportSeeds(corpus / "fuzz_import");
  NormalizeSeeds(corpus / "fuzz_normalize");
  return 0;
}
