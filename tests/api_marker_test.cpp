// The public API in two steps: a marker read from a file or from bytes, as
// data, and written into a folder or into memory. Linked against the public
// library only, as any program outside the project is.

#include <lumerca/marker.h>

#include "tests/support/hostile_catalogue.h"
#include "tests/support/import_fixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <random>
#include <span>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace lumerca::testing {
namespace {

namespace fs = std::filesystem;

std::span<const std::byte> AsBytes(const ByteVector& bytes) {
  return std::as_bytes(std::span(bytes.data(), bytes.size()));
}

// A marker of random tables whose cross-references mostly hold: sizes that
// repeat numbers, classes with names that normalisation changes, half
// pieces, pieces in no size and cut lines of every kind.
MarkerRecipe RandomMarker(std::uint32_t seed) {
  std::mt19937 random(seed);
  auto below = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
  auto coordinate = [&] { return static_cast<float>(below(20000)) / 8.0f - 1000.0f; };
  MarkerRecipe recipe;
  recipe.header.name = "Gen." + std::to_string(seed) + "/#a";
  recipe.header.width = coordinate() + 1500.0f;
  recipe.header.scale_x = 1.0f - static_cast<float>(below(50)) / 1000.0f;
  const int sizes = 1 + below(6), classes = 1 + below(5), pieces = 1 + below(30);
  for (int i = 0; i < sizes; ++i) recipe.sizes.push_back({static_cast<std::uint8_t>(34 + 2 * below(6)), "S"});
  for (int c = 0; c < classes; ++c) recipe.classes.push_back({"part " + std::to_string(below(3)) + "x", ""});
  for (int i = 0; i < sizes * 2; ++i) {
    recipe.croixes.push_back({static_cast<std::int16_t>(below(sizes + 1)), static_cast<std::int16_t>(below(classes))});
  }
  for (int j = 0; j < pieces; ++j) {
    PieceRecipe p;
    p.croix_index = static_cast<std::int16_t>(below(sizes * 2));
    p.attr2 = static_cast<std::uint8_t>(below(256));
    p.attr5 = static_cast<std::uint8_t>(below(256));
    p.attr4 = coordinate();
    p.place_x = coordinate(), p.place_y = coordinate();
    p.min_x = -coordinate(), p.max_x = coordinate(), p.min_y = -coordinate(), p.max_y = coordinate();
    recipe.pieces.push_back(p);
    if (below(3) == 0) recipe.halfs.push_back(static_cast<std::int16_t>(j));
    if (below(2) == 0) {
      std::vector<SplitRecipe> lines;
      for (int k = below(4); k > 0; --k) {
        lines.push_back({coordinate(), coordinate(), coordinate(), coordinate(),
                         static_cast<std::uint16_t>(below(2) ? 0 : 16000 + below(800)),
                         static_cast<std::uint16_t>(below(6))});
      }
      recipe.cuts[j] = lines;
    }
  }
  return recipe;
}

// The markers every comparison runs over: the samples and 40 generated ones.
std::vector<std::pair<std::string, ByteVector>> Markers() {
  std::vector<std::pair<std::string, ByteVector>> markers{
      {"blouse", MarkerFile(BlouseMarker())},
      {"jacket", MarkerFile(JacketMarker())},
      {"big blouse", MarkerFile(BigBlouse(), WriteOptions{4, 0})},
  };
  for (std::uint32_t seed = 1; seed <= 40; ++seed) {
    markers.push_back({"generated " + std::to_string(seed), MarkerFile(RandomMarker(seed))});
  }
  return markers;
}

// Everything a Marker shows, compared view by view.
void ExpectSameMarker(const Marker& a, const Marker& b) {
  EXPECT_EQ(a.CodePage(), b.CodePage());
  EXPECT_EQ(a.Header(), b.Header());
  EXPECT_EQ(a.Name(), b.Name());
  EXPECT_EQ(a.Styles(), b.Styles());
  EXPECT_EQ(a.Sizes(), b.Sizes());
  EXPECT_EQ(a.Classes(), b.Classes());
  EXPECT_EQ(a.Croixes(), b.Croixes());
  EXPECT_EQ(a.Halfs(), b.Halfs());
  EXPECT_EQ(a.Splits(), b.Splits());
  EXPECT_EQ(a.Pieces(), b.Pieces());
  EXPECT_EQ(a.Models(), b.Models());
}

class ApiTest : public ImportFixture {};

TEST_F(ApiTest, ReadingBytesEqualsReadingTheFile) {
  for (const auto& [what, bytes] : Markers()) {
    SCOPED_TRACE(what);
    const fs::path file = dir() / "marker.mrk";
    WriteBytes(file, bytes);
    const ReadResult from_file = ReadMarker(file);
    const ReadResult from_bytes = ReadMarker(AsBytes(bytes));
    EXPECT_EQ(from_file.status, from_bytes.status);
    EXPECT_EQ(from_file.reason, from_bytes.reason);
    ExpectSameMarker(from_file.marker, from_bytes.marker);
  }
}

// Read then write is the import: the same status and, when imported, the
// same name, counts and bytes, into a folder and into memory alike.
TEST_F(ApiTest, ReadThenWriteIsTheImport) {
  std::size_t imported = 0;
  for (const auto& [what, bytes] : Markers()) {
    SCOPED_TRACE(what);
    const fs::path file = dir() / "marker.mrk";
    WriteBytes(file, bytes);
    const fs::path one_step = dir() / "one", two_steps = dir() / "two";
    fs::create_directories(one_step);
    fs::create_directories(two_steps);

    const ImportResult import = ImportMarker(file, "", one_step);
    const ReadResult read = ReadMarker(AsBytes(bytes));
    const WriteResult written = WriteMarker(read.marker, two_steps);
    OutputFiles files;
    const WriteResult in_memory = WriteMarker(read.marker, files);

    EXPECT_EQ(written.status, import.status);
    EXPECT_EQ(in_memory.status, import.status);
    if (import.status != ImportStatus::Imported) {
      EXPECT_EQ(read.status, import.status);
      EXPECT_TRUE(files.csvimprt.empty() && files.posimport.empty());
      continue;
    }
    ++imported;
    EXPECT_EQ(written.name, import.name);
    EXPECT_EQ(in_memory.name, import.name);
    EXPECT_EQ(written.counts.pieces, import.counts.pieces);
    EXPECT_EQ(written.counts.cut_lines, import.counts.cut_lines);
    const std::string orders = ReadFile(one_step / "csvimprt.txt");
    const std::string positions = ReadFile(one_step / "posimport.txt");
    EXPECT_EQ(ReadFile(two_steps / "csvimprt.txt"), orders);
    EXPECT_EQ(ReadFile(two_steps / "posimport.txt"), positions);
    EXPECT_EQ(files.csvimprt, orders);
    EXPECT_EQ(files.posimport, positions);
  }
  // Most generated markers have cross-references that hold.
  EXPECT_GE(imported, 20u);
}

// A hostile file gives the same status read and written as imported.
TEST_F(ApiTest, HostileFilesGiveTheImportsStatus) {
  for (const HostileFile& c : HostileContainers()) {
    SCOPED_TRACE(c.name);
    const ByteVector bytes = c.bytes();
    const fs::path file = dir() / "hostile.mrk";
    WriteBytes(file, bytes);
    const ImportResult import = ImportMarker(file, "", out());
    const ReadResult read = ReadMarker(file);
    OutputFiles files;
    const WriteResult written = WriteMarker(read.marker, files);
    const ImportStatus two_steps = read.ok() ? written.status : read.status;
    EXPECT_EQ(two_steps, import.status) << read.reason;
  }
}

// The marker's derived values are what the position file writes.
TEST_F(ApiTest, PiecesAreWhatThePositionFileSays) {
  const ReadResult read = ReadMarker(AsBytes(MarkerFile(JacketMarker())));
  ASSERT_TRUE(read.ok()) << read.reason;
  OutputFiles files;
  ASSERT_TRUE(WriteMarker(read.marker, files).ok());

  // The lines the marker's pieces would give, in the file's order: size by
  // size, then piece by piece.
  std::string expected;
  const std::vector<Piece> pieces = read.marker.Pieces();
  const auto sizes = read.marker.Sizes().Records;
  for (std::size_t size = 0; size < sizes.size(); ++size) {
    for (const Piece& p : pieces) {
      if (!p.written || *p.size_index != static_cast<std::int16_t>(size)) continue;
      char line[512];
      std::snprintf(line, sizeof line, "%s,%d,%d,%d,%f,%f,%f,%f,%f,%d\r\n", p.written_name.c_str(),
                    static_cast<int>(*p.size_number), p.record.Attr5, p.record.Attr2,
                    static_cast<double>(p.record.Attr4), p.centre_x, p.centre_y, p.extent_x,
                    p.extent_y, static_cast<int>(p.cut_lines.size()));
      expected += line;
      for (const CutLine& c : p.cut_lines) {
        std::snprintf(line, sizeof line, "%f,%f,%f,%f,%d\r\n", static_cast<double>(c.A1),
                      static_cast<double>(c.B1), static_cast<double>(c.A2),
                      static_cast<double>(c.B2), c.Side);
        expected += line;
      }
    }
  }
  EXPECT_EQ(expected, files.posimport);
  EXPECT_TRUE(std::any_of(pieces.begin(), pieces.end(), [](const Piece& p) { return p.half; }));

  // The models are the "m:" lines of the order, each size with its kind.
  std::string order_models;
  for (const SizeModel& m : read.marker.Models()) {
    if (m.kind == SizeModel::Kind::New) order_models += "m:" + m.model_name + "\r\n";
  }
  std::string written_models;
  const std::string order = files.csvimprt.substr(files.csvimprt.find("=:order"));
  std::istringstream lines(order);
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("m:", 0) == 0) written_models += line + "\n";
  }
  EXPECT_EQ(order_models, written_models);
  EXPECT_EQ(read.marker.Name(), "JACKET W-24-A");
}

// A marker that cannot be written is still read whole; the write says why.
TEST_F(ApiTest, WhatCannotBeWrittenIsStillRead) {
  MarkerRecipe no_pieces = BlouseMarker();
  no_pieces.pieces.clear();
  no_pieces.cuts.clear();
  no_pieces.halfs.clear();
  const ReadResult empty = ReadMarker(AsBytes(MarkerFile(no_pieces)));
  EXPECT_EQ(empty.status, ImportStatus::NoPieces);
  EXPECT_EQ(empty.marker.Header().Name, "Blouse.2");
  EXPECT_EQ(empty.marker.Sizes().Records.size(), 4u);
  OutputFiles files;
  EXPECT_EQ(WriteMarker(empty.marker, files).status, ImportStatus::NoPieces);

  MarkerRecipe corrupt = BlouseMarker();
  corrupt.pieces[1].croix_index = 77;
  const ReadResult bad = ReadMarker(AsBytes(MarkerFile(corrupt)));
  EXPECT_EQ(bad.status, ImportStatus::CorruptIndex);
  EXPECT_EQ(bad.reason, "piece 1: CroixIndex 77 is outside CROIXES (6 records)");
  ASSERT_EQ(bad.marker.PieceCount(), corrupt.pieces.size());
  EXPECT_FALSE(bad.marker.PieceAt(1).size_index.has_value());
  EXPECT_TRUE(bad.marker.Models().empty());
  const WriteResult refused = WriteMarker(bad.marker, out());
  EXPECT_EQ(refused.status, ImportStatus::CorruptIndex);
  EXPECT_EQ(refused.reason, bad.reason);
  EXPECT_EQ(FilesInOutput(), 0u);

  const ByteVector text{'n', 'o', 't', ' ', 'a', ' ', 'm', 'a', 'r', 'k', 'e', 'r'};
  const ReadResult foreign = ReadMarker(AsBytes(text));
  EXPECT_EQ(foreign.status, ImportStatus::CannotOpen);
  EXPECT_NE(foreign.reason.find("not a compound file"), std::string::npos) << foreign.reason;
  EXPECT_EQ(foreign.marker.PieceCount(), 0u);
  EXPECT_EQ(WriteMarker(foreign.marker, files).status, ImportStatus::CannotOpen);

  EXPECT_THROW((void)bad.marker.PieceAt(99), std::out_of_range);
  EXPECT_EQ(ReadMarker(AsBytes(MarkerFile(BlouseMarker())), ReadOptions{12345, false, false}).status,
            ImportStatus::UnknownCodePage);
}

// A damaged marker reads as far as it arrived; only salvage makes it one
// that can be written, and then with what arrived.
TEST_F(ApiTest, DamagedMarkerAndSalvage) {
  ByteVector bytes = MarkerFile(BlouseMarker());
  CompoundImage image(MarkerDocument(BlouseMarker()));
  const auto pieces = image.Find(u"PIECES");
  image.entries[pieces].size -= 1;  // the last piece loses its last byte
  bytes = image.Bytes();

  ReadOptions options;
  options.walk = true;
  const ReadResult damaged = ReadMarker(AsBytes(bytes), options);
  EXPECT_EQ(damaged.status, ImportStatus::Damaged);
  EXPECT_EQ(damaged.salvage, "the 5");
  EXPECT_EQ(damaged.reason.rfind("PIECES: holds 5 of its 6 pieces", 0), 0u) << damaged.reason;
  EXPECT_EQ(damaged.marker.PieceCount(), 5u);
  const auto walked = std::find_if(damaged.walk.begin(), damaged.walk.end(),
                                   [](const WalkElement& e) { return e.name == "PIECES"; });
  ASSERT_NE(walked, damaged.walk.end());
  EXPECT_EQ(walked->outcome, WalkElement::Outcome::Damaged);
  EXPECT_TRUE(walked->used);
  EXPECT_EQ(walked->arrived + 1, walked->declared);
  OutputFiles files;
  EXPECT_EQ(WriteMarker(damaged.marker, files).status, ImportStatus::Damaged);

  options.salvage = true;
  const ReadResult salvaged = ReadMarker(AsBytes(bytes), options);
  ASSERT_TRUE(salvaged.ok()) << salvaged.reason;
  ASSERT_TRUE(WriteMarker(salvaged.marker, files).ok());
  EXPECT_EQ(std::count(files.posimport.begin(), files.posimport.end(), '\n'), 5 + 1);
}

// Without walk, only what was not read whole is recorded; with it, every
// element, each with the position of its storage.
TEST_F(ApiTest, TheWalk) {
  const ByteVector bytes = MarkerFile(JacketMarker());
  EXPECT_TRUE(ReadMarker(AsBytes(bytes)).walk.empty());
  ReadOptions options;
  options.walk = true;
  const ReadResult read = ReadMarker(AsBytes(bytes), options);
  ASSERT_FALSE(read.walk.empty());
  for (std::size_t i = 0; i < read.walk.size(); ++i) {
    const WalkElement& e = read.walk[i];
    if (e.depth == 0) {
      EXPECT_EQ(e.parent, -1);
    } else {
      ASSERT_GE(e.parent, 0);
      const WalkElement& storage = read.walk[static_cast<std::size_t>(e.parent)];
      EXPECT_EQ(storage.outcome, WalkElement::Outcome::Entered);
      EXPECT_EQ(e.path, storage.path + "/" + e.name);
    }
    if (e.type == WalkElement::Stream && e.outcome == WalkElement::Outcome::Read) {
      EXPECT_EQ(e.arrived, e.declared) << e.path;
    }
  }
}

// The name and the code page of a write are its own; the marker keeps its
// own.
TEST_F(ApiTest, WriteOptions) {
  const ReadResult read = ReadMarker(AsBytes(MarkerFile(BlouseMarker())));
  ASSERT_TRUE(read.ok());
  lumerca::WriteOptions renamed;
  renamed.name = "spring 7.b";
  OutputFiles files;
  const WriteResult result = WriteMarker(read.marker, files, renamed);
  ASSERT_TRUE(result.ok());
  EXPECT_EQ(result.name, "------ 7--");
  EXPECT_NE(files.csvimprt.find("o:------ 7--\r\n"), std::string::npos);
  EXPECT_EQ(read.marker.Name(), "B------2");

  lumerca::WriteOptions unknown;
  unknown.code_page = 1;
  EXPECT_EQ(WriteMarker(read.marker, files, unknown).status, ImportStatus::UnknownCodePage);
  EXPECT_TRUE(files.csvimprt.empty());
}

// Two threads converting at once, one in code page 1252, the other in 932,
// each get their own page's bytes: the code page is a setting of the call,
// not of the process.
TEST_F(ApiTest, TwoCodePagesAtOnce) {
  MarkerRecipe recipe = BlouseMarker();
  // In 932, 0x82 0xA0 is one character that stays; in 1252 both bytes are
  // characters that may not stand in a name.
  recipe.classes[0].name = "FR\x82\xA0NT";
  recipe.header.name = "bl\x82\xA0use";
  const ByteVector bytes = MarkerFile(recipe);

  auto convert = [&](unsigned code_page) {
    ReadOptions options;
    options.code_page = code_page;
    OutputFiles files;
    const ReadResult read = ReadMarker(AsBytes(bytes), options);
    if (read.ok() && WriteMarker(read.marker, files).ok()) return files.csvimprt + files.posimport;
    return std::string("failed");
  };
  const std::string western = convert(1252), japanese = convert(932);
  ASSERT_NE(western, japanese);
  EXPECT_NE(western.find("p:FR--NT\r\n"), std::string::npos) << western;
  EXPECT_NE(japanese.find("p:FR\x82\xA0NT\r\n"), std::string::npos) << japanese;

  std::atomic<int> wrong{0};
  auto run = [&](unsigned code_page, const std::string& expected) {
    for (int i = 0; i < 200; ++i) {
      if (convert(code_page) != expected) ++wrong;
    }
  };
  std::thread a(run, 1252u, western), b(run, 932u, japanese);
  a.join();
  b.join();
  EXPECT_EQ(wrong.load(), 0);
}

}  // namespace
}  // namespace lumerca::testing
