// lumerca-wine-fixtures OUTDIR
//
// Writes the files that the Wine tests hand to the DLL and to the native
// build alike:
//
//   blouse.mrk      the Blouse.2 marker of the tests' samples (examples/blouse.mrk)
//   multi.mrk       many sizes (a repeated size number, a size byte 0xFE, a size
//                   without pieces), half pieces, a piece of no size, class names
//                   that normalisation changes (lower case, punctuation, bytes
//                   above 0x7F), cut lines of kinds 0 to 5 with several offset
//                   codes, a second .CUTS stream for one piece, a cut stream
//                   named in lower case, the skipped stream kinds; 4096-byte
//                   sectors
//   precision.mrk   a wide marker with scale factors and cut lines whose printed
//                   digits change when the arithmetic is carried out in 24-bit
//                   or 64-bit x87 precision instead of IEEE single and double
//   nopieces.mrk    a marker whose PIECES table is empty
//   corrupt.mrk     a piece whose CROIXES index names no record
//   plain.txt       a text file, not a compound document
//   writer-*.cfb    documents of the tests' compound-file writer: trees of
//                   storages and streams with names in mixed case and beyond
//                   ASCII, streams of sizes around the 4096-byte cutoff; in both
//                   versions
//
// Each file is written whole or not at all (a failure exits non-zero).

#include "tests/support/compound_writer.h"
#include "tests/support/marker_streams.h"
#include "tests/support/sample_markers.h"

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

using namespace lumerca::testing;

bool Save(const std::filesystem::path& path, const ByteVector& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) std::fprintf(stderr, "cannot write %s\n", path.string().c_str());
  return static_cast<bool>(out);
}

PieceRecipe Piece(std::int16_t croix, float x, float y) {
  PieceRecipe p;
  p.croix_index = croix;
  p.attr2 = 1;
  p.attr4 = 90.0f;
  p.attr5 = 0;
  p.place_x = x;
  p.place_y = y;
  p.min_x = -20.0f;
  p.max_x = 60.0f;
  p.min_y = -10.0f;
  p.max_y = 30.0f;
  return p;
}

MarkerRecipe Multi() {
  MarkerRecipe m;
  m.header.name = "Jacket/a#7.b \xC9t\xE9";
  m.header.width = 1532.5f;
  m.header.scale_x = 0.975f;
  m.header.scale_y = 1.013f;
  m.styles = {"STYLE A", "style-b"};
  // Size indexes 0..5: 36, 38, 38 again, 0xFE, 40 (no pieces), 42.
  m.sizes = {{36, "36"}, {38, "38"}, {38, "38b"}, {0xFE, "XL"}, {40, "40"}, {42, "42"}};
  m.classes = {{"FRONT", "f"}, {"back.l", "b"}, {"SLEEVE #2", "s"}, {"Coll\xE4r+\x80\x8E", "c"},
               {"POCKET_1", "p"}};
  // croix = size * 5 + class; index 30 has a size that does not exist.
  for (std::int16_t s = 0; s < 6; ++s) {
    for (std::int16_t c = 0; c < 5; ++c) m.croixes.push_back({s, c});
  }
  m.croixes.push_back({9, 0});
  std::vector<std::int16_t> croix_of_piece = {
      0, 1, 2,        // size 36
      5, 6, 7,        // size 38
      10, 11, 12,     // size 38 again, same classes: one model
      15, 19, 18,     // size 0xFE
      25, 28, 29, 27, // size 42
      30,             // no size
      3,              // size 36, a half piece
  };
  for (std::size_t i = 0; i < croix_of_piece.size(); ++i) {
    PieceRecipe p = Piece(croix_of_piece[i], 40.0f * static_cast<float>(i), 7.5f * static_cast<float>(i));
    p.attr2 = static_cast<std::uint8_t>(i * 17);
    p.attr5 = static_cast<std::uint8_t>(255 - i);
    p.attr4 = i % 2 == 0 ? 0.0f : 180.0f;
    m.pieces.push_back(p);
  }
  m.halfs = {17, 4};
  // Every kind of cut line and several offset codes.
  m.cuts[0] = {{0, 0, 10, 0, 0, 0, 0}, {0, 0, 0, 10, 16256, 1, 0}};
  m.cuts[1] = {{1, 2, 11, 7, 16256, 2, 0}, {1, 2, 11, 7, 16256, 3, 0}};
  m.cuts[3] = {{-5, 3, 20, -4, 16000, 4, 9}, {-5, 3, 20, -4, 16320, 5, 9},
               {2.5f, 2.5f, 2.5f, 8.5f, 16384, 2, 0}};
  m.cuts[12] = {{0, 0, 3, 4, 65535, 2, 0}};
  m.cuts[13] = {{7, 7, 7, 7, 16256, 3, 0}};  // both end points equal
  m.cuts[14] = {{1, 1, 2, 2, 12345, 6, 0}};
  m.skipped_streams = true;
  return m;
}

MarkerRecipe Precision() {
  MarkerRecipe m = BlouseMarker();
  m.header.name = "Precision";
  // 1234568 / 10 / 2.54 = 48605.0393700...: a 24-bit intermediate is off in
  // the second decimal.
  m.header.width = 1234568.0f;
  m.header.scale_x = 0.987654f;
  m.header.scale_y = 1.000123f;
  // Long cut lines far from the origin, moved by several offsets: products and
  // sums that single, double and extended precision round differently.
  m.cuts[0] = {{100003.1f, 7.3f, 250001.7f, 99999.9f, 16256, 2, 0},
               {-33333.3f, 1.1f, 77777.7f, -2.2f, 16000, 3, 9},
               {0.1f, 0.2f, 98765.4f, 12345.6f, 16320, 4, 0}};
  m.cuts[3] = {{12.34567f, 89.01234f, 56789.12f, 34567.89f, 12345, 5, 9}};
  return m;
}

Node MultiDocument() {
  Node root = MarkerDocument(Multi());
  // A second element for piece 3 (only the first one met counts) and a cut
  // stream named in lower case.
  Node more = StorageNode(u"More Cuts");
  more.children.push_back(StreamNode(u"3.CUTS", CutsStream({{9, 9, 19, 9, 16256, 2, 0}})));
  more.children.push_back(StreamNode(u"5.cuts", CutsStream({{0, 1, 2, 3, 16256, 2, 0}})));
  root.children.push_back(std::move(more));
  return root;
}

// A random tree for the writer documents (splitmix64, so that every run
// writes the same files).
struct Random {
  std::uint64_t state;
  std::uint64_t Next() {
    std::uint64_t z = (state += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
  }
  std::uint32_t Below(std::uint32_t n) { return static_cast<std::uint32_t>(Next() % n); }
};

const std::u16string kNameChars =
    u"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789 _-.#$%&()+,;=@[]^`{}~"
    u"\u00E9\u00C9\u00DF\u00FC\u0416\u0436\u03A9\u4E2D";

const std::uint32_t kSizes[] = {0, 1, 63, 64, 65, 511, 512, 513, 4095, 4096, 4097, 8192, 9000, 40000};

std::u16string UniqueName(Random& random, std::vector<std::u16string>& siblings) {
  for (;;) {
    std::u16string name;
    const std::uint32_t length = 1 + random.Below(31);
    for (std::uint32_t i = 0; i < length; ++i) {
      name.push_back(kNameChars[random.Below(static_cast<std::uint32_t>(kNameChars.size()))]);
    }
    // Siblings may not differ only in the case of ASCII letters.
    auto fold = [](std::u16string s) {
      for (auto& c : s) {
        if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - 32);
      }
      return s;
    };
    bool clash = false;
    for (const auto& s : siblings) clash = clash || fold(s) == fold(name);
    if (clash) continue;
    siblings.push_back(name);
    return name;
  }
}

void FillTree(Node& storage, Random& random, int depth) {
  const std::uint32_t count = depth == 0 ? 6 + random.Below(6) : random.Below(6);
  std::vector<std::u16string> siblings;
  for (std::uint32_t i = 0; i < count; ++i) {
    std::u16string name = UniqueName(random, siblings);
    if (depth < 3 && random.Below(4) == 0) {
      Node sub = StorageNode(name);
      FillTree(sub, random, depth + 1);
      storage.children.push_back(std::move(sub));
    } else {
      ByteVector data(kSizes[random.Below(sizeof kSizes / sizeof kSizes[0])]);
      for (auto& b : data) b = static_cast<std::uint8_t>(random.Next());
      storage.children.push_back(StreamNode(name, std::move(data)));
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("usage: lumerca-wine-fixtures OUTDIR\n", stderr);
    return 2;
  }
  const std::filesystem::path out(argv[1]);
  std::filesystem::create_directories(out);

  MarkerRecipe no_pieces = BlouseMarker();
  no_pieces.pieces.clear();
  no_pieces.cuts.clear();
  MarkerRecipe corrupt = BlouseMarker();
  corrupt.pieces[2].croix_index = 6;  // CROIXES holds 6 records

  bool ok = Save(out / "blouse.mrk", MarkerFile(BlouseMarker())) &&
            Save(out / "multi.mrk", WriteCompoundFile(MultiDocument(), {.version = 4})) &&
            Save(out / "precision.mrk", MarkerFile(Precision())) &&
            Save(out / "nopieces.mrk", MarkerFile(no_pieces)) &&
            Save(out / "corrupt.mrk", MarkerFile(corrupt)) &&
            Save(out / "plain.txt", Bytes().Text("MARKER,PIECES\r\nnot a compound file\r\n"));
  for (int n = 1; ok && n <= 4; ++n) {
    for (int version : {3, 4}) {
      Random random{static_cast<std::uint64_t>(n * 10 + version)};
      Node root = StorageNode(u"Root Entry");
      FillTree(root, random, 0);
      const std::string name = "writer-v" + std::to_string(version) + "-" + std::to_string(n) + ".cfb";
      ok = ok && Save(out / name, WriteCompoundFile(root, {.version = version}));
    }
  }
  return ok ? 0 : 1;
}
