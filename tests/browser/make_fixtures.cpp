// Writes the markers that the page's browser tests open, besides examples/
// and the benchmark's generated ones, into FOLDER:
//
//   lumerca-browser-fixtures FOLDER
//
//   halfs-cut.mrk      the jacket with HALFS one byte short: damaged, and
//                      salvage imports the one record that arrived
//   sizes-cut.mrk      the jacket with SIZES one byte short: imported with a
//                      warning
//   no-pieces.mrk      the blouse without pieces
//   corrupt-index.mrk  the blouse with a piece naming a CROIXES record that
//                      is not there
//   names-1252.mrk     the blouse with names of Western European letters
//                      (code page 1252)
//   names-932.mrk      the blouse with Japanese names and full-width letters
//                      (code page 932)
//   notes.txt          a text, not a marker
//   empty.mrk          no bytes at all

#include "tests/support/marker_streams.h"
#include "tests/support/sample_markers.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

namespace fs = std::filesystem;
using namespace lumerca::testing;

namespace {

bool Write(const fs::path& path, const ByteVector& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) std::fprintf(stderr, "lumerca-browser-fixtures: cannot write %s\n", path.c_str());
  return static_cast<bool>(out);
}

// The jacket with the last byte of its root stream `name` cut off.
ByteVector JacketWithout(const std::u16string& name) {
  Node root = MarkerDocument(JacketMarker());
  for (Node& child : root.children) {
    if (child.name == name) child.data.pop_back();
  }
  return WriteCompoundFile(root);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
    return 2;
  }
  const fs::path folder = argv[1];
  std::error_code error;
  fs::create_directories(folder, error);

  MarkerRecipe no_pieces = BlouseMarker();
  no_pieces.pieces.clear();
  no_pieces.cuts.clear();
  no_pieces.halfs.clear();

  MarkerRecipe corrupt = BlouseMarker();
  corrupt.pieces[1].croix_index = 99;

  // 1252: "Blusé Ärmel-ø" with lower-case letters that upper-case within it.
  MarkerRecipe western = BlouseMarker();
  western.header.name = "Blus\xE9 \xC4rmel-\xF8";
  western.classes[0].name = "Vorderteil \xFC";
  western.classes[1].name = "R\xFC" "ckenteil";

  // 932: "ブラウス" and the full-width "ａｂ" (upper-cased to "ＡＢ").
  MarkerRecipe japanese = BlouseMarker();
  japanese.header.name = "\x83\x75\x83\x89\x83\x45\x83\x58 \x82\x81\x82\x82";
  japanese.classes[0].name = "\x91\x4F\x90\x67";  // 前身
  japanese.classes[2].name = "\x91\xB3 \x82\x81";  // 袖 ａ

  const std::string notes = "Pieces for Monday: check the sleeves.\n";
  const bool ok = Write(folder / "halfs-cut.mrk", JacketWithout(u"HALFS")) &&
                  Write(folder / "sizes-cut.mrk", JacketWithout(u"SIZES")) &&
                  Write(folder / "no-pieces.mrk", MarkerFile(no_pieces)) &&
                  Write(folder / "corrupt-index.mrk", MarkerFile(corrupt)) &&
                  Write(folder / "names-1252.mrk", MarkerFile(western)) &&
                  Write(folder / "names-932.mrk", MarkerFile(japanese)) &&
                  Write(folder / "notes.txt", ByteVector(notes.begin(), notes.end())) &&
                  Write(folder / "empty.mrk", ByteVector{});
  return ok ? 0 : 1;
}
