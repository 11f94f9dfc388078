// Markers with one stream cut short. What did not arrive decides: when the
// output files would use it, the file is not imported (Damaged, 0 from the C
// entry point) and the earlier files stay; when they would not, the file is
// imported from what arrived with a warning. Salvage imports a damaged file
// from what arrived. Each case runs through the C++ API, with and without
// salvage, and through the C entry point.

#include <lumerca/marker.h>

#include "tests/support/compound_writer.h"
#include "tests/support/fixed_output_folder.h"
#include "tests/support/import_fixture.h"
#include "tests/support/marker_streams.h"
#include "tests/support/sample_markers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

namespace lumerca {
namespace {

namespace fs = std::filesystem;
using namespace testing;

constexpr ImportStatus kImported = ImportStatus::Imported;
constexpr ImportStatus kDamaged = ImportStatus::Damaged;
constexpr ImportStatus kCorruptIndex = ImportStatus::CorruptIndex;

// The jacket with a fourth header text, so that every text can be cut.
MarkerRecipe Jacket() {
  MarkerRecipe recipe = JacketMarker();
  recipe.header.text4 = "Notes";
  return recipe;
}

// The stream at `path` ('/'-separated) of a document tree.
Node& StreamAt(Node& root, const std::string& path) {
  Node* node = &root;
  std::stringstream parts(path);
  for (std::string part; std::getline(parts, part, '/');) {
    auto child = std::find_if(node->children.begin(), node->children.end(),
                              [&](const Node& n) { return n.name == U16(part); });
    if (child == node->children.end()) throw std::invalid_argument("no element " + path);
    node = &*child;
  }
  return *node;
}

ByteVector Drop(ByteVector bytes, std::size_t count) {
  bytes.resize(bytes.size() - count);
  return bytes;
}

void PutI16(ByteVector& bytes, std::size_t offset, std::int16_t value) {
  bytes[offset] = static_cast<std::uint8_t>(value & 0xFF);
  bytes[offset + 1] = static_cast<std::uint8_t>((value >> 8) & 0xFF);
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// Lines of the position file that describe pieces: ten columns (a cut line
// has five).
std::size_t PieceLines(const std::string& positions) {
  const auto lines = Lines(positions);
  return static_cast<std::size_t>(std::count_if(lines.begin(), lines.end(), [](const std::string& line) {
    return std::count(line.begin(), line.end(), ',') == 9;
  }));
}

struct Output {
  std::string orders, positions;
};

struct Case {
  const char* what;
  const char* stream;  // the path of the stream cut short
  std::function<ByteVector(const ByteVector&)> cut;
  ImportStatus status;           // without salvage
  const char* diagnostic;        // the stream's diagnostic begins so
  ImportStatus salvaged;         // with salvage
  // With salvage (or without, when the status is Imported): a check of the
  // output against the clean document's.
  std::function<void(const Output& got, const Output& clean)> check;
  std::uint64_t stated_size = 0;  // a size in the directory larger than the bytes, or 0
  MarkerRecipe (*recipe)() = Jacket;
};

void SameAsClean(const Output& got, const Output& clean) {
  EXPECT_EQ(got.orders, clean.orders);
  EXPECT_EQ(got.positions, clean.positions);
}

// The cases of the issue, then one byte short at the end of every kind of
// stream.
std::vector<Case> Cases() {
  // A SIZES stream whose last name claims 0x7FFF bytes: 2 of them are there.
  const auto long_size_name = [](const ByteVector& b) {
    ByteVector bytes = b;
    PutI16(bytes, 2 + 5 * 16 + 12, 0x7FFF);
    return bytes;
  };
  const auto three_cut_lines_two_there = [](const ByteVector&) {
    return Drop(CutsStream({SplitRecipe{1, 2, 3, 4}, SplitRecipe{5, 6, 7, 8}, SplitRecipe{9, 9, 9, 9}}), 22);
  };
  const auto one_byte = [](const ByteVector& b) { return Drop(b, 1); };
  const auto whole = [](const ByteVector& b) { return b; };
  const auto three_pieces = [] {
    MarkerRecipe recipe = BlouseMarker();
    recipe.pieces.resize(3);
    return recipe;
  };
  return {
      {"MARKER one byte short in its unused fourth text", "MARKER", one_byte, kImported,
       "ends 1 byte before its declared layout, in Text4 (not used by the output files)", kImported,
       SameAsClean},
      {"the last SIZES name claims 0x7FFF bytes", "SIZES", long_size_name, kImported,
       "ends 32,765 bytes before its declared layout, in the name of size 5 (not used by the output "
       "files)",
       kImported, SameAsClean},
      {"HALFS cut in its second record", "HALFS", one_byte, kDamaged,
       "holds 1 of its 2 HALFS records, ending 1 byte before its declared layout in HALFS record 1; "
       "not imported [salvage: the 1]",
       kImported,
       [](const Output& got, const Output& clean) {
         // The half piece that the lost record named is written as a whole piece.
         EXPECT_EQ(PieceLines(got.positions), PieceLines(clean.positions) + 1);
       }},
      {"a .CUTS stream with two of its three cut lines", "CUTS/0.CUTS", three_cut_lines_two_there,
       kDamaged,
       "holds 2 of its 3 cut lines, ending 22 bytes before its declared layout in cut line 2; not "
       "imported [salvage: the 2]",
       kImported,
       [](const Output& got, const Output&) {
         // Piece 0 comes first, with the two cut lines that arrived.
         const auto lines = Lines(got.positions);
         ASSERT_GE(lines.size(), 3u);
         EXPECT_TRUE(lines[0].ends_with(",2\r")) << lines[0];
         EXPECT_EQ(lines[1], "1.000000,2.000000,3.000000,4.000000,0\r");
         EXPECT_EQ(lines[2], "5.000000,6.000000,7.000000,8.000000,0\r");
       }},
      {"PIECES of three pieces cut in the last", "PIECES", one_byte, kDamaged,
       "holds 2 of its 3 pieces, ending 1 byte before its declared layout in piece 2; not imported "
       "[salvage: the 2]",
       kImported,
       [](const Output& got, const Output& clean) {
         EXPECT_EQ(PieceLines(got.positions), 2u);
         EXPECT_EQ(PieceLines(clean.positions), 3u);
       },
       0, three_pieces},
      // One byte short at the end, stream by stream.
      {"STYLES", "STYLES", one_byte, kImported,
       "ends 1 byte before its declared layout, in the name of style 1 (not used by the output files)",
       kImported, SameAsClean},
      {"SIZES", "SIZES", one_byte, kImported,
       "ends 1 byte before its declared layout, in the name of size 5 (not used", kImported,
       SameAsClean},
      {"CLASSES", "CLASSES", one_byte, kImported,
       "ends 1 byte before its declared layout, in the text of class 7 (not used", kImported,
       SameAsClean},
      {"CROIXES", "CROIXES", one_byte, kDamaged,
       "holds 37 of its 38 CROIXES records, ending 1 byte before its declared layout in CROIXES "
       "record 37; not imported [salvage: the 37]",
       // The last piece names the lost record: the index checks hold.
       kCorruptIndex, nullptr},
      {"PIECES", "PIECES", one_byte, kDamaged, "holds 37 of its 38 pieces", kImported,
       [](const Output& got, const Output& clean) {
         EXPECT_EQ(PieceLines(got.positions), PieceLines(clean.positions) - 1);
       }},
      {".CUTS", "CUTS/3.CUTS", one_byte, kDamaged, "holds 5 of its 6 cut lines", kImported,
       [](const Output& got, const Output& clean) {
         EXPECT_EQ(Lines(got.positions).size() + 1, Lines(clean.positions).size()) << "one cut line fewer";
       }},
      {"CHESS", "EXTRA/CHESS", one_byte, kImported,
       "holds 2 of its 3 records, ending 1 byte before its declared layout in record 2 (not used",
       kImported, SameAsClean},
      {".CAS", "EXTRA/1.CAS", one_byte, kImported, "holds 1 of its 2 records", kImported, SameAsClean},
      {".CLS", "EXTRA/1.CLS", one_byte, kImported, "holds 1 of its 2 records", kImported, SameAsClean},
      {".PGS larger than its chain", "EXTRA/1.PGS", whole, kImported,
       "delivers 256 of its 300 bytes (not used by the output files)", kImported, SameAsClean, 300},
      {"another name larger than its chain", "EXTRA/NOTES", whole, kImported,
       "delivers 1,024 of its 1,100 bytes (not used by the output files)", kImported, SameAsClean,
       1100},
      // Cuts that leave a table without its count, or a text without a byte.
      {"HALFS without its count", "HALFS", [](const ByteVector& b) { return ByteVector(b.begin(), b.begin() + 1); },
       kDamaged,
       "ends at least 1 byte before its declared layout, in the record count; not imported "
       "[salvage: the file without it]",
       kImported,
       [](const Output& got, const Output& clean) {
         EXPECT_EQ(PieceLines(got.positions), PieceLines(clean.positions) + 2);
       }},
      {".CUTS in its header", "CUTS/0.CUTS", [](const ByteVector& b) { return ByteVector(b.begin(), b.begin() + 3); },
       kDamaged,
       "ends 134 bytes before its declared layout, in the header; not imported [salvage: "
       "the file without it]",
       kImported,
       [](const Output& got, const Output&) {
         const auto lines = Lines(got.positions);
         ASSERT_FALSE(lines.empty());
         EXPECT_TRUE(lines[0].ends_with(",0\r")) << "piece 0 without cut lines: " << lines[0];
       }},
      {"MARKER in its name", "MARKER", [](const ByteVector& b) { return ByteVector(b.begin(), b.begin() + 105 + 6 + 4); },
       kDamaged,
       "ends 28 bytes before its declared layout, in the name; not imported [salvage: what "
       "arrived]",
       kImported,
       [](const Output& got, const Output&) {
         EXPECT_NE(got.orders.find("\r\no:JACK\r\n"), std::string::npos) << got.orders;
       }},
  };
}

class DamagedImport : public ImportFixture {
protected:
  ByteVector File(const Case& c, bool clean) {
    Node root = MarkerDocument(c.recipe());
    Node& stream = StreamAt(root, c.stream);
    if (!clean) stream.data = c.cut(stream.data);
    CompoundImage image(root);
    if (!clean && c.stated_size != 0) image.entries[image.Find(U16(c.stream))].size = c.stated_size;
    return image.Bytes();
  }

  Output Clean(const Case& c) {
    const fs::path folder = dir() / "clean";
    fs::create_directories(folder);
    WriteBytes(dir() / "clean.mrk", File(c, true));
    EXPECT_EQ(ImportMarker(dir() / "clean.mrk", "", folder).status, kImported);
    return {ReadFile(folder / "csvimprt.txt"), ReadFile(folder / "posimport.txt")};
  }

  Output Current(const fs::path& folder) {
    return {ReadFile(folder / "csvimprt.txt"), ReadFile(folder / "posimport.txt")};
  }

  // The earlier pair, from another marker.
  Output Earlier(const fs::path& folder) {
    WriteBytes(dir() / "earlier.mrk", MarkerFile(BlouseMarker()));
    EXPECT_EQ(ImportMarker(dir() / "earlier.mrk", "EARLIER", folder).status, kImported);
    return Current(folder);
  }
};

// A diagnostic's message and, for damage that stops an import, what salvage
// would keep.
std::string Said(const Diagnostic& d) {
  return d.salvage.empty() ? d.message : d.message + " [salvage: " + d.salvage + "]";
}

std::string ReasonOf(const ImportResult& result) {
  for (const Diagnostic& d : result.diagnostics) {
    if (d.kind == Diagnostic::Kind::ImportFailed) return d.message;
  }
  return "";
}

TEST_F(DamagedImport, EachCutThroughTheApi) {
  for (const Case& c : Cases()) {
    SCOPED_TRACE(c.what);
    const Output clean = Clean(c);
    const Output earlier = Earlier(out());
    WriteBytes(dir() / "marker.mrk", File(c, false));

    const ImportResult result = ImportMarker(dir() / "marker.mrk", "", out());
    EXPECT_EQ(result.status, c.status) << StatusText(result.status) << ": " << ReasonOf(result);
    const auto damage = std::find_if(result.diagnostics.begin(), result.diagnostics.end(), [&](const Diagnostic& d) {
      return d.kind == Diagnostic::Kind::StreamDamaged && d.path == c.stream;
    });
    ASSERT_NE(damage, result.diagnostics.end());
    EXPECT_EQ(Said(*damage).rfind(c.diagnostic, 0), 0u) << Said(*damage);
    if (c.status == kImported) {
      c.check(Current(out()), clean);
    } else {
      // The reason names the stream and what is missing; the earlier pair stays.
      EXPECT_EQ(ReasonOf(result), std::string(c.stream) + ": " + damage->message);
      EXPECT_TRUE(result.name.empty());
      const Output now = Current(out());
      EXPECT_EQ(now.orders, earlier.orders);
      EXPECT_EQ(now.positions, earlier.positions);
    }

    const ImportResult salvaged = ImportMarker(dir() / "marker.mrk", "", out(), ImportOptions{true});
    EXPECT_EQ(salvaged.status, c.salvaged) << StatusText(salvaged.status) << ": " << ReasonOf(salvaged);
    if (salvaged.status == kImported) {
      if (c.check) c.check(Current(out()), clean);
      if (c.status == kDamaged) {
        // The warning says what was missing and what was imported.
        const bool said = std::any_of(salvaged.diagnostics.begin(), salvaged.diagnostics.end(), [&](const Diagnostic& d) {
          return d.path == c.stream && d.message.find("; salvaged: ") != std::string::npos;
        });
        EXPECT_TRUE(said);
      }
    }
    EXPECT_EQ(FilesInOutput(), 2u);
  }
}

// The damage that stops an import is named, with the number of streams more.
TEST_F(DamagedImport, SeveralDamagedStreams) {
  Node root = MarkerDocument(Jacket());
  for (const char* path : {"HALFS", "CUTS/0.CUTS", "CUTS/3.CUTS", "STYLES"}) {
    Node& stream = StreamAt(root, path);
    stream.data = Drop(stream.data, 1);
  }
  WriteBytes(dir() / "marker.mrk", WriteCompoundFile(root));
  const ImportResult result = ImportMarker(dir() / "marker.mrk", "", out());
  EXPECT_EQ(result.status, kDamaged);
  const std::string reason = ReasonOf(result);
  // The walk meets the storage CUTS before HALFS (shorter names first).
  EXPECT_EQ(reason.rfind("CUTS/0.CUTS: holds 5 of its 6 cut lines", 0), 0u) << reason;
  EXPECT_TRUE(reason.ends_with("; and 2 more streams with data missing; not imported")) << reason;
  EXPECT_EQ(std::string(StatusText(result.status)), "damaged: data that the output files need is missing");
}

// Streams listed as empty are no damage: an empty HALFS stream means no half
// pieces, an empty PIECES stream adds no piece (the file then holds none).
TEST_F(DamagedImport, EmptyStreamsAreNotDamaged) {
  Node root = MarkerDocument(Jacket());
  StreamAt(root, "HALFS").data.clear();
  WriteBytes(dir() / "marker.mrk", WriteCompoundFile(root));
  const ImportResult halfs = ImportMarker(dir() / "marker.mrk", "", out());
  EXPECT_EQ(halfs.status, kImported) << ReasonOf(halfs);

  // An empty .CUTS stream: its piece has no cut lines; the other pieces keep
  // theirs.
  const std::size_t cut_lines = halfs.counts.cut_lines;
  const std::size_t lines_of_0 = (StreamAt(root, "CUTS/0.CUTS").data.size() - 5) / 22;
  ASSERT_GT(lines_of_0, 0u);
  StreamAt(root, "CUTS/0.CUTS").data.clear();
  WriteBytes(dir() / "marker.mrk", WriteCompoundFile(root));
  const ImportResult cuts = ImportMarker(dir() / "marker.mrk", "", out());
  EXPECT_EQ(cuts.status, kImported) << ReasonOf(cuts);
  EXPECT_TRUE(cuts.diagnostics.empty());
  EXPECT_EQ(cuts.counts.cut_lines, cut_lines - lines_of_0);

  StreamAt(root, "PIECES").data.clear();
  WriteBytes(dir() / "marker.mrk", WriteCompoundFile(root));
  EXPECT_EQ(ImportMarker(dir() / "marker.mrk", "", out()).status, ImportStatus::NoPieces);
}

// The C entry point: 1 where the cut lacks nothing that the output uses, 0
// where it does (never salvaged), with the earlier files and the name buffer
// left as they were.
TEST_F(DamagedImport, EachCutThroughTheCEntryPoint) {
  const FixedOutputFolderInBuildTree fixed;
  const fs::path folder = FixedOutputFolder();
  ASSERT_EQ(folder, fixed.path());
  for (const Case& c : Cases()) {
    SCOPED_TRACE(c.what);
    const Output earlier = Earlier(folder);
    WriteBytes(dir() / "marker.mrk", File(c, false));
    char name[256] = "keep me";
    const int result = ImportLumercaFile((dir() / "marker.mrk").c_str(), name);
    if (c.status == kImported) {
      EXPECT_EQ(result, 1);
      EXPECT_STRNE(name, "keep me");
    } else {
      EXPECT_EQ(result, 0);
      EXPECT_STREQ(name, "keep me");
      const Output now = Current(folder);
      EXPECT_EQ(now.orders, earlier.orders);
      EXPECT_EQ(now.positions, earlier.positions);
    }
  }
}

// Files that cannot be opened say why.
TEST_F(DamagedImport, FilesThatCannotBeOpenedSayWhy) {
  WriteBytes(dir() / "notes.txt", {'j', 'u', 's', 't', ' ', 't', 'e', 'x', 't', '\n'});
  WriteBytes(dir() / "doc.pdf", {'%', 'P', 'D', 'F', '-', '1', '.', '4', '\n', 0xE2, 0xE3});
  WriteBytes(dir() / "empty.mrk", {});
  const ByteVector whole = MarkerFile(Jacket());
  // Cut in its first FAT sector: the directory is gone. Cut in half: the
  // directory is there, the streams behind the cut are not.
  WriteBytes(dir() / "truncated.mrk", ByteVector(whole.begin(), whole.begin() + 600));
  WriteBytes(dir() / "half.mrk", ByteVector(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(whole.size() / 2)));
  const struct {
    fs::path path;
    ImportStatus status;
    const char* reason;
  } cases[] = {
      {dir() / "missing.mrk", ImportStatus::CannotOpen, "no such file"},
      {dir(), ImportStatus::CannotOpen, "it is a folder, not a file"},
      {dir() / "notes.txt", ImportStatus::CannotOpen, "not a compound file: it holds text: \"just text\""},
      {dir() / "doc.pdf", ImportStatus::CannotOpen, "not a compound file: it looks like a PDF document"},
      {dir() / "empty.mrk", ImportStatus::CannotOpen, "the file is empty"},
      {dir() / "truncated.mrk", ImportStatus::CannotOpen,
       "but the file holds 1 sector of 512 bytes: the file may be truncated"},
      {dir() / "half.mrk", kDamaged, "with data missing"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path.string());
    const ImportResult result = ImportMarker(c.path, "", out());
    EXPECT_EQ(result.status, c.status) << StatusText(result.status);
    EXPECT_NE(ReasonOf(result).find(c.reason), std::string::npos) << ReasonOf(result);
  }
}

}  // namespace
}  // namespace lumerca
