// The catalogue of hostile inputs: damaged containers, extreme shapes, streams
// that lie about their contents, and output folders with traps in them. Each
// case asserts its exact status; whenever the status is not Imported, the
// files of the earlier import are intact, and no case leaves a temporary file.
//
// What the statuses follow from: a header, FAT, DIFAT or directory chain that
// is corrupt makes the document unreadable (CannotOpen, with the reason); a
// stream that ends before its declared layout is Damaged when what did not
// arrive would be used by the output files, and a warning otherwise; a
// sub-storage that cannot be read costs that storage only (a diagnostic), and
// the status then follows from what was read.

#include <lumerca/marker.h>

#include "tests/support/compound_writer.h"
#include "tests/support/hostile_catalogue.h"
#include "tests/support/import_fixture.h"
#include "tests/support/marker_streams.h"
#include "tests/support/sample_markers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <limits>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace lumerca {
namespace {

namespace fs = std::filesystem;
using namespace testing;

constexpr ImportStatus kImported = ImportStatus::Imported;
constexpr ImportStatus kCannotOpen = ImportStatus::CannotOpen;
constexpr ImportStatus kNoPieces = ImportStatus::NoPieces;
constexpr ImportStatus kCorruptIndex = ImportStatus::CorruptIndex;
constexpr ImportStatus kOutputFailed = ImportStatus::OutputFailed;
constexpr ImportStatus kDamaged = ImportStatus::Damaged;

struct OutputPair {
  std::string orders;
  std::string positions;
};

// A MARKER stream whose four text lengths are given as they stand, followed
// by `texts`.
ByteVector RawMarkerStream(std::int16_t text1, std::int16_t name, std::int16_t text3,
                           std::int16_t text4, const ByteVector& texts) {
  Bytes b;
  b.Fill(6).F32(1600.0f).Fill(10).F32(1.0f).F32(1.0f).Fill(18 + 2 + 2 + 2 + 1 + 40);
  b.I16(text1).I16(name).I16(text3).I16(text4).Fill(4);
  b.Append(texts);
  return b;
}

// The document of `recipe` with the stream `name` of the root replaced.
Node WithRootStream(const MarkerRecipe& recipe, const std::u16string& name, ByteVector data) {
  Node root = MarkerDocument(recipe);
  for (Node& child : root.children) {
    if (child.name == name) child.data = std::move(data);
  }
  return root;
}

std::size_t CountLines(const std::string& text, const std::string& prefix) {
  std::size_t count = 0;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) count += line.rfind(prefix, 0) == 0;
  return count;
}

class HostileImport : public ImportFixture {
protected:
  void SetUp() override {
    ImportFixture::SetUp();
    // The earlier import that every failing case must leave alone.
    auto earlier = JacketMarker();
    ASSERT_EQ(Import(earlier, "EARLIER").status, kImported);
    Remember();
  }

  void Remember() {
    earlier_ = {ReadFile(out() / "csvimprt.txt"), ReadFile(out() / "posimport.txt")};
  }

  OutputPair Current() const {
    return {ReadFile(out() / "csvimprt.txt"), ReadFile(out() / "posimport.txt")};
  }

  // Imports `bytes` and checks the status, the earlier files (kept when the
  // status is not Imported) and that only the two output files are there.
  ImportResult Expect(const ByteVector& bytes, ImportStatus expected, const std::string& name = "",
                      ImportOptions options = {}) {
    WriteBytes(dir() / "marker.mrk", bytes);
    ImportResult result = ImportMarker(dir() / "marker.mrk", name, out(), options);
    EXPECT_EQ(result.status, expected)
        << "got \"" << StatusText(result.status) << "\", expected \"" << StatusText(expected) << "\"";
    CheckAfter(result);
    return result;
  }

  void CheckAfter(const ImportResult& result) {
    EXPECT_EQ(FilesInOutput(), 2u) << "a temporary file was left behind";
    if (result.status == kImported) {
      Remember();
    } else {
      EXPECT_TRUE(result.name.empty());
      const OutputPair now = Current();
      EXPECT_EQ(now.orders, earlier_.orders) << "csvimprt.txt changed";
      EXPECT_EQ(now.positions, earlier_.positions) << "posimport.txt changed";
    }
  }

  // What a clean document gives, imported into a folder of its own.
  OutputPair CleanOutput(const ByteVector& bytes) {
    const fs::path folder = dir() / "clean";
    fs::create_directories(folder);
    WriteBytes(dir() / "clean.mrk", bytes);
    EXPECT_EQ(ImportMarker(dir() / "clean.mrk", "", folder).status, kImported);
    return {ReadFile(folder / "csvimprt.txt"), ReadFile(folder / "posimport.txt")};
  }

  // The damaged document imports, and gives what the clean one gives.
  void ExpectSameAsClean(const ByteVector& damaged, const ByteVector& clean) {
    const OutputPair expected = CleanOutput(clean);
    Expect(damaged, kImported);
    const OutputPair got = Current();
    EXPECT_EQ(got.orders, expected.orders);
    EXPECT_EQ(got.positions, expected.positions);
  }

  bool HasDiagnostic(const ImportResult& result, Diagnostic::Kind kind, const std::string& path) {
    return std::any_of(result.diagnostics.begin(), result.diagnostics.end(),
                       [&](const Diagnostic& d) { return d.kind == kind && d.path == path; });
  }

  // The reason given for a file that was not imported.
  static std::string Reason(const ImportResult& result) {
    for (const Diagnostic& d : result.diagnostics) {
      if (d.kind == Diagnostic::Kind::ImportFailed) return d.message;
    }
    return "";
  }

  OutputPair earlier_;
};

// ============================================================ the container

// Every file of the catalogue (tests/support/hostile_catalogue.h) gives its
// status, and a failure leaves the earlier files; the tests below check what
// more some of them say.
TEST_F(HostileImport, EveryCatalogueFile) {
  const auto files = HostileContainers();
  ASSERT_GE(files.size(), 60u);
  std::set<std::string> names;
  for (const HostileFile& file : files) {
    SCOPED_TRACE(file.name);
    EXPECT_TRUE(names.insert(file.name).second) << "two cases of one name";
    if (file.status) {
      Expect(file.bytes(), *file.status);
    } else {
      CheckAfter(ImportBytes(file.bytes()));
    }
  }
}

TEST_F(HostileImport, EmptyAnd511ByteFiles) {
  EXPECT_EQ(Reason(Expect(HostileContainer("empty"), kCannotOpen)), "the file is empty");
  EXPECT_EQ(Reason(Expect(HostileContainer("511-bytes"), kCannotOpen)),
            "truncated: the file holds 511 bytes, less than the 512-byte header of a compound file");
}

TEST_F(HostileImport, PlainText) {
  EXPECT_EQ(Reason(Expect(HostileContainer("plain-text"), kCannotOpen)),
            "not a compound file: it holds text: \"" + std::string(40, 'x') + "...\"");
}

TEST_F(HostileImport, WrongAndOldBetaSignatures) {
  EXPECT_EQ(Reason(Expect(HostileContainer("signature-wrong"), kCannotOpen)),
            "not a compound file: its first bytes are D0 CF 11 E0 A1 B1 1A E2, not the "
            "compound-file signature D0 CF 11 E0 A1 B1 1A E1");
  EXPECT_EQ(Reason(Expect(HostileContainer("signature-beta"), kCannotOpen)),
            "not a compound file: it looks like a compound file of the early beta format, which is "
            "not supported");
}

TEST_F(HostileImport, Version4With512ByteSectors) {
  EXPECT_EQ(Reason(Expect(HostileContainer("v4-512-byte-sectors"), kCannotOpen)),
            "compound-file header: sector shift 9 in version 4 (version 3 has 512-byte sectors, "
            "shift 9; version 4 4096-byte sectors, shift 12)");
}

TEST_F(HostileImport, HeaderClaims0xFFFFFFF0FatSectors) {
  EXPECT_EQ(Reason(Expect(HostileContainer("fat-sectors-fffffff0"), kCannotOpen)).rfind(
                "compound-file header: 4294967280 FAT sectors declared, but the file holds ", 0),
            0u);
}

// The only DIFAT sector names itself as its successor, and the header claims
// more FAT sectors than the header and that sector list: following the DIFAT
// chain would go round for ever.
TEST_F(HostileImport, DifatLoop) {
  const ByteVector bytes = HostileContainer("difat-loop");
  ASSERT_GT(bytes.size() / 512, 109u + 127u + 10u);
  const std::string reason = Reason(Expect(bytes, kCannotOpen));
  EXPECT_EQ(reason.rfind("DIFAT: its chain comes back to sector ", 0), 0u) << reason;
}

// Sector numbers whose byte offset, (n + 1) * 512, needs more than 32 bits:
// in the header's DIFAT, the first DIFAT sector and the first directory
// sector the document cannot be opened; a stream's start sector leaves
// nothing of the stream, a link in its chain (version 4) the rest of it.
TEST_F(HostileImport, SectorOffsetsBeyond32Bits) {
  const auto result = Expect(HostileContainer("offset-32-stream-start"), kDamaged);
  EXPECT_EQ(Reason(result),
            "PIECES: ends at least 2 bytes before its declared layout, in the record count; not "
            "imported");
  const auto link = Expect(HostileContainer("offset-32-stream-link-v4"), kDamaged);
  EXPECT_TRUE(HasDiagnostic(link, Diagnostic::Kind::StreamDamaged, "PIECES"));
}

TEST_F(HostileImport, LoopInTheDirectoryChain) {
  const std::string reason = Reason(Expect(HostileContainer("directory-chain-loop"), kCannotOpen));
  EXPECT_EQ(reason.rfind("directory: its chain comes back to sector ", 0), 0u) << reason;
}

// A loop in a stream's chain cuts the stream short: PIECES lacks pieces.
TEST_F(HostileImport, LoopInAStreamsFatChain) {
  for (const char* name : {"stream-chain-loop-0", "stream-chain-loop-3", "stream-chain-loop-9"}) {
    SCOPED_TRACE(name);
    const auto result = Expect(HostileContainer(name), kDamaged);
    EXPECT_TRUE(HasDiagnostic(result, Diagnostic::Kind::StreamDamaged, "PIECES"));
  }
}

// Cycles in the sibling and child links never make the walk endless, and
// every element still reachable is read once.
TEST_F(HostileImport, DirectoryCycles) {
  const ByteVector clean = MarkerFile(BlouseMarker());
  {
    SCOPED_TRACE("an entry that is its own sibling");
    ExpectSameAsClean(HostileContainer("cycle-own-sibling"), clean);
  }
  {
    SCOPED_TRACE("two siblings pointing at each other");
    // The elements outside the cycle are all read. Of the two in it, the
    // bounded descent may miss one (here the storage CUTS, at the leaf).
    const OutputPair expected = CleanOutput(clean);
    Expect(HostileContainer("cycle-two-siblings"), kImported);
    EXPECT_EQ(Current().orders, expected.orders);
  }
  {
    SCOPED_TRACE("a storage whose child is the top of its parent's tree");
    Expect(HostileContainer("cycle-child-is-parents-tree"), kImported);
    // CUTS now holds nothing of its own: FRONT of size 38 has no cut line.
    EXPECT_NE(Current().positions.find("FRONT,38,0,1,90.000000,120.000000,60.000000,80.000000,40.000000,0\r\n"),
              std::string::npos);
  }
}

// Forty storages, listed after the root's streams, whose PIECES streams all
// name the sectors of the root's: the
// walk reads no more bytes than the document holds, so the model stays a small
// multiple of the file, and the import says where it stopped.
TEST_F(HostileImport, StreamsSharingTheirSectors) {
  Node root = MarkerDocument(BigBlouse());
  for (int i = 0; i < 40; ++i) {
    Node storage = StorageNode(U16("SHARED" + std::to_string(10 + i)));
    storage.children.push_back(StreamNode(u"PIECES", PiecesStream({PieceRecipe{}})));
    root.children.push_back(std::move(storage));
  }
  CompoundImage image(root);
  const DirectoryEntry& shared = image.entries[image.Find(u"PIECES")];
  ASSERT_FALSE(shared.in_mini_stream);
  for (int i = 0; i < 40; ++i) {
    DirectoryEntry& copy = image.entries[image.Find(U16("SHARED" + std::to_string(10 + i) + "/PIECES"))];
    copy.start_sector = shared.start_sector;
    copy.size = shared.size;
  }
  const ByteVector bytes = image.Bytes();
  const auto result = Expect(bytes, kImported);
  const std::string positions = Current().positions;
  const std::size_t pieces = CountLines(positions, "FRONT,") + CountLines(positions, "BACK,") +
                             CountLines(positions, "SLEEVE,");
  // Each whole copy of the 5,162-byte stream adds 60 pieces, and every piece
  // took 86 bytes of what the document holds.
  EXPECT_GE(pieces, 120u);
  EXPECT_LE(pieces, bytes.size() / 86);
  EXPECT_TRUE(std::any_of(result.diagnostics.begin(), result.diagnostics.end(), [](const Diagnostic& d) {
    return d.kind == Diagnostic::Kind::EnumerationFailed && d.path.ends_with("/PIECES");
  }));
}

// The name length field is not trusted: the name is the 32-unit field up to
// its first NUL, whatever the length says.
TEST_F(HostileImport, NameLengthsZeroOddAndAbove64) {
  const ByteVector clean = MarkerFile(BlouseMarker());
  for (int length : {0, 1, 7, 13, 66, 200, 0xFFFF}) {
    SCOPED_TRACE(length);
    ExpectSameAsClean(HostileContainer("name-length-" + std::to_string(length)), clean);
  }
}

// An unknown type passes the element over: without CUTS no cut line.
TEST_F(HostileImport, UnknownEntryTypes) {
  for (const char* type : {"0", "3", "4", "6", "80", "ff"}) {
    SCOPED_TRACE(type);
    Expect(HostileContainer("type-" + std::string(type) + "-cuts"), kImported);
    EXPECT_EQ(CountLines(Current().positions, "0.000000,-0.500000"), 0u);
  }
}

// A size beyond the file: the stream delivers what its chain holds and then
// ends, so a stream whose records are all there is read whole.
TEST_F(HostileImport, StreamLargerThanTheFile) {
  const ByteVector clean = MarkerFile(BigBlouse());
  for (const char* name : {"stream-size-7fffffff", "stream-size-ffffffff"}) {
    SCOPED_TRACE(name);
    ExpectSameAsClean(HostileContainer(name), clean);
  }
  SCOPED_TRACE("version 4 keeps the whole 64-bit size");
  ExpectSameAsClean(HostileContainer("stream-size-10000000000-v4"),
                    MarkerFile(BigBlouse(), testing::WriteOptions{4, 0}));
}

// Windows ignores a storage's start sector and size; so does the reader.
TEST_F(HostileImport, StorageWithStartSectorAndSize) {
  ExpectSameAsClean(HostileContainer("storage-start-and-size"), MarkerFile(BlouseMarker()));
}

TEST_F(HostileImport, TwoRedNodesInARow) {
  ExpectSameAsClean(HostileContainer("two-red-nodes"), MarkerFile(BlouseMarker()));
}

// Whatever the status, nothing crashes and a failure leaves the earlier files.
TEST_F(HostileImport, TruncatedAtEverySectorBoundary) {
  auto recipe = JacketMarker();
  recipe.skipped_streams = true;
  for (int version : {3, 4}) {
    const ByteVector whole = MarkerFile(recipe, testing::WriteOptions{version, 0});
    const std::size_t sector = version == 3 ? 512 : 4096;
    std::set<ImportStatus> seen;
    for (std::size_t size = 0; size < whole.size(); size += sector) {
      SCOPED_TRACE(size);
      const ByteVector cut(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(size));
      const auto result = ImportBytes(cut);
      seen.insert(result.status);
      CheckAfter(result);
    }
    EXPECT_TRUE(seen.count(kCannotOpen)) << "version " << version;
  }
}

// ============================================================ shape

// The pieces under 10,000 nested storages; 5,600 elements of the root chained
// through their right links only (a proper search tree of depth 5,600);
// 20,000 streams in one storage.
TEST_F(HostileImport, DeepLongAndCrowdedTrees) {
  const ByteVector clean = MarkerFile(BlouseMarker());
  for (const char* name :
       {"shape-10000-nested-storages", "shape-one-sided-tree-5600", "shape-20000-streams"}) {
    SCOPED_TRACE(name);
    ExpectSameAsClean(HostileContainer(name), clean);
  }
}

// Each storage adds its pieces behind those already read, in the order of the
// walk: P0000 to P2999 (names of one length go in upper-cased order).
TEST_F(HostileImport, ThreeThousandStoragesEachWithPieces) {
  MarkerRecipe recipe;
  recipe.header.name = "MANY";
  recipe.sizes = {{1, "1"}};
  recipe.classes = {{"PART", ""}};
  recipe.croixes = {{0, 0}};
  Node root = MarkerDocument(recipe);
  std::erase_if(root.children, [](const Node& n) { return n.name == u"PIECES"; });
  for (int i = 0; i < 3000; ++i) {
    PieceRecipe piece;
    piece.place_x = static_cast<float>(i);
    char name[8];
    std::snprintf(name, sizeof name, "P%04d", i);
    root.children.push_back(StorageNode(U16(name), {StreamNode(u"PIECES", PiecesStream({piece}))}));
  }
  Expect(WriteCompoundFile(root), kImported);
  const std::string positions = Current().positions;
  ASSERT_EQ(CountLines(positions, "PART,1,"), 3000u);
  std::istringstream in(positions);
  std::string line;
  for (int i = 0; std::getline(in, line); ++i) {
    char expected[64];
    std::snprintf(expected, sizeof expected, "PART,1,0,0,0.000000,%d.000000,", i);
    ASSERT_EQ(line.rfind(expected, 0), 0u) << line;
  }
}

// ============================================================ streams

// A count that the bytes behind it cannot hold: the records that are not there
// would be used (Damaged), except in STYLES, which nothing uses. Salvaged, the
// records that are not there are no records: dangling references then fail
// the index checks, and no size leaves an empty position file.
TEST_F(HostileImport, HugeCountsBehindAFewBytes) {
  const MarkerRecipe recipe = BlouseMarker();
  const ByteVector huge16 = Bytes().U16(0xFFFF).Fill(5);
  const ByteVector huge15 = Bytes().I16(0x7FFF).Fill(5);
  struct Case {
    const char* stream;
    ByteVector bytes;
    ImportStatus status, salvaged;
  };
  const Case cases[] = {
      {"PIECES", huge16, kDamaged, kNoPieces},
      {"CROIXES", huge15, kDamaged, kCorruptIndex},
      {"CLASSES", huge15, kDamaged, kCorruptIndex},
      {"SIZES", huge15, kDamaged, kImported},
      {"HALFS", huge15, kDamaged, kImported},
      {"STYLES", huge15, kImported, kImported},
      {"MARKER", RawMarkerStream(0, 0x7FFF, 0, 0, {'A'}), kDamaged, kImported},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.stream);
    const ByteVector file = WriteCompoundFile(WithRootStream(recipe, U16(c.stream), c.bytes));
    const auto result = Expect(file, c.status);
    EXPECT_TRUE(HasDiagnostic(result, Diagnostic::Kind::StreamDamaged, c.stream));
    Expect(file, c.salvaged, "", ImportOptions{true});
  }
  // SIZES salvaged: no size, so no piece is written.
  Expect(WriteCompoundFile(WithRootStream(recipe, u"SIZES", huge15)), kImported, "", ImportOptions{true});
  EXPECT_EQ(Current().positions, "");
}

// Current and peak resident memory of this process, in KiB.
long StatusKb(const char* field) {
  std::ifstream in("/proc/self/status");
  for (std::string line; std::getline(in, line);) {
    if (line.rfind(field, 0) == 0) return std::stol(line.substr(std::string(field).size()));
  }
  return -1;
}

TEST_F(HostileImport, AThousandCutsStreamsDeclaring32767SplitsEach) {
  const MarkerRecipe recipe = BlouseMarker();
  Node root = MarkerDocument(recipe);
  Node cuts = StorageNode(u"MORECUTS");
  for (int i = 0; i < 1000; ++i) {
    cuts.children.push_back(StreamNode(U16(std::to_string(i) + ".CUTS"), Bytes().U8(0).I16(32767).U16(0)));
  }
  root.children.push_back(std::move(cuts));
  const ByteVector bytes = WriteCompoundFile(root);
  WriteBytes(dir() / "marker.mrk", bytes);

  // The peak is measured from here: writing 5 to clear_refs resets it to the
  // current resident size (where the kernel allows it).
  const long before = StatusKb("VmRSS:");
  {
    std::ofstream clear("/proc/self/clear_refs");
    clear << "5";
  }
  const bool reset = StatusKb("VmHWM:") <= before + 1024;
  const auto result = ImportPath(dir() / "marker.mrk");
  const long peak = StatusKb("VmHWM:");
  EXPECT_EQ(result.status, kDamaged);
  CheckAfter(result);
  EXPECT_EQ(std::count_if(result.diagnostics.begin(), result.diagnostics.end(),
                          [](const Diagnostic& d) { return d.kind == Diagnostic::Kind::StreamDamaged; }),
            1000);
  EXPECT_NE(Reason(result).find("; and 999 more streams with data missing"), std::string::npos)
      << Reason(result);
  // Salvaged, each of them is a piece without cut lines; the clean
  // document's 0.CUTS, met first, still gives piece 0 its cut line.
  EXPECT_EQ(ImportMarker(dir() / "marker.mrk", "", out(), ImportOptions{true}).status, kImported);
  EXPECT_EQ(CountLines(Current().positions, "0.000000,-0.500000,10.000000,-0.500000,0"), 1u);
  if (reset && before > 0 && peak > 0) {
    // 1,000 x 32,767 splits would be over a gigabyte.
    EXPECT_LT(peak - before, 64 * 1024) << "peak grew by " << (peak - before) << " KiB";
    RecordProperty("peak_growth_kib", std::to_string(peak - before));
  } else {
    std::printf("note: the peak resident size cannot be reset here; memory not measured\n");
  }
}

TEST_F(HostileImport, TextLengthsNegativeAnd0x7FFF) {
  const MarkerRecipe recipe = BlouseMarker();
  // A negative length reads nothing: the name is empty.
  auto negative = Expect(
      WriteCompoundFile(WithRootStream(recipe, u"MARKER", RawMarkerStream(-1, -1, -32768, 0, {}))), kImported);
  EXPECT_EQ(negative.name, "");
  // 0x7FFF bytes present: the name keeps its first 255.
  ByteVector texts(0x7FFF, 'n');
  texts.insert(texts.begin(), 3, 't');
  auto longest = Expect(
      WriteCompoundFile(WithRootStream(recipe, u"MARKER", RawMarkerStream(3, 0x7FFF, 0, 0, texts))), kImported);
  EXPECT_EQ(longest.name, std::string(255, '-'));  // lower-case 'n' is not a name character
  // A class name of negative length is empty; one of 0x7FFF behind a few
  // bytes is missing, and the output would use it.
  const ByteVector classes_negative = Bytes().I16(3)
      .Fill(4).I16(-7).I16(0).I16(0).Fill(4).I16(4).I16(0).I16(0).Fill(4).I16(6).I16(0).I16(0)
      .Text("BACK").Text("SLEEVE");
  Expect(WriteCompoundFile(WithRootStream(recipe, u"CLASSES", classes_negative)), kImported);
  EXPECT_EQ(Current().positions.rfind(",38,0,1,90.000000,", 0), 0u) << Current().positions;
  const ByteVector classes_long = Bytes().I16(1).Fill(4).I16(0x7FFF).I16(0).I16(0).Text("FRONT");
  Expect(WriteCompoundFile(WithRootStream(recipe, u"CLASSES", classes_long)), kDamaged);
  // Its first 255 bytes there, the rest of a name is never used.
  const ByteVector classes_cut = Bytes().I16(3)
      .Fill(4).I16(5).I16(0).I16(0).Fill(4).I16(4).I16(0).I16(0).Fill(4).I16(0x7FFF).I16(0).I16(0)
      .Text("FRONT").Text("BACK").Text(std::string(300, 'S'));
  Expect(WriteCompoundFile(WithRootStream(recipe, u"CLASSES", classes_cut)), kImported);
  EXPECT_NE(Current().positions.find("\r\n" + std::string(255, 'S') + ",42,"), std::string::npos);
}

TEST_F(HostileImport, CrossReferencesOutOfRange) {
  for (std::int16_t bad : {std::int16_t{-1}, std::int16_t{6}, std::int16_t{0x7FFF}, std::int16_t{-32768}}) {
    SCOPED_TRACE(bad);
    auto croix = BlouseMarker();
    croix.pieces[3].croix_index = bad;
    Expect(MarkerFile(croix), kCorruptIndex);
    auto cls = BlouseMarker();
    cls.croixes[2].class_index = bad == 6 ? 3 : bad;
    Expect(MarkerFile(cls), kCorruptIndex);
  }
  // A SizeIndex that names no size: the piece belongs to no size and is
  // written nowhere.
  auto size = BlouseMarker();
  size.croixes[5].size_index = 4;
  Expect(MarkerFile(size), kImported);
  EXPECT_EQ(CountLines(Current().positions, "SLEEVE,"), 0u);
  EXPECT_EQ(CountLines(Current().orders, "p:SLEEVE"), 0u);
  size.croixes[5].size_index = -2;
  Expect(MarkerFile(size), kImported);
  EXPECT_EQ(CountLines(Current().positions, "SLEEVE,"), 0u);
  // A HALFS record or a .CUTS stream that names no piece changes nothing.
  auto halfs = BlouseMarker();
  halfs.halfs = {6, -1, 0x7FFF};
  halfs.cuts[999] = {SplitRecipe{1, 2, 3, 4, 0, 0, 0}};
  ExpectSameAsClean(MarkerFile(halfs), MarkerFile(BlouseMarker()));
}

TEST_F(HostileImport, ScaleFactorsOfZero) {
  auto recipe = BlouseMarker();
  recipe.header.scale_x = 0.0f;
  recipe.header.scale_y = -0.0f;
  Expect(MarkerFile(recipe), kImported);
  const std::string orders = Current().orders;
  EXPECT_NE(orders.find("\r\nxs:1.#INF00\r\nys:-1.#INF00\r\n"), std::string::npos) << orders;
}

TEST_F(HostileImport, NanAndInfiniteCoordinates) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  auto recipe = BlouseMarker();
  recipe.header.width = nan;
  recipe.pieces[1].place_x = nan;
  recipe.pieces[1].max_y = inf;
  recipe.pieces[2].min_x = -inf;
  recipe.pieces[2].max_x = inf;  // inf - -inf, and -inf + inf in the centre
  recipe.cuts[1] = {SplitRecipe{nan, 0, 1, 1, 16256, 2, 0}, SplitRecipe{0, 0, inf, 0, 16256, 3, 0}};
  Expect(MarkerFile(recipe), kImported);
  const OutputPair got = Current();
  EXPECT_NE(got.orders.find("\r\nw:1.#QNAN0\r\n"), std::string::npos) << got.orders;
  EXPECT_NE(got.positions.find("BACK,38,0,0,0.000000,1.#QNAN0,1.#INF00,0.000000,1.#INF00,2\r\n"),
            std::string::npos)
      << got.positions;
  // -inf + inf is the machine's default NaN: the indefinite one on x86.
  const auto front40 = got.positions.find("FRONT,40,0,0,0.000000,");
  ASSERT_NE(front40, std::string::npos) << got.positions;
  const std::string line = got.positions.substr(front40, got.positions.find('\r', front40) - front40);
  EXPECT_TRUE(line.ends_with(",-1.#IND00,0.000000,1.#INF00,0.000000,0") ||
              line.ends_with(",1.#QNAN0,0.000000,1.#INF00,0.000000,0"))
      << line;
}

// A line of no length has no direction to be moved in.
TEST_F(HostileImport, ZeroLengthSplitOfKind2) {
  auto recipe = BlouseMarker();
  recipe.cuts[0] = {SplitRecipe{3, 4, 3, 4, 16256, 2, 0}};
  Expect(MarkerFile(recipe), kImported);
  EXPECT_NE(Current().positions.find(",1\r\n3.000000,4.000000,3.000000,4.000000,0\r\n"), std::string::npos)
      << Current().positions;
}

TEST_F(HostileImport, PropertySetNameOnTheStorageOfTheOnlyPieces) {
  const MarkerRecipe recipe = BlouseMarker();
  Node root = MarkerDocument(recipe);
  auto pieces = std::find_if(root.children.begin(), root.children.end(),
                             [](const Node& n) { return n.name == u"PIECES"; });
  Node stream = std::move(*pieces);
  root.children.erase(pieces);
  root.children.push_back(StorageNode(u"\x0005Pieces", {std::move(stream)}));
  Expect(WriteCompoundFile(root), kNoPieces);
}

// ============================================================ output

TEST_F(HostileImport, OutputFolderMissingOrAFileOrADanglingLink) {
  WriteBytes(dir() / "marker.mrk", MarkerFile(BlouseMarker()));
  EXPECT_EQ(ImportMarker(dir() / "marker.mrk", "", dir() / "missing" / "deeper").status, kOutputFailed);
  EXPECT_FALSE(fs::exists(dir() / "missing")) << "the folder must not be created";
  WriteBytes(dir() / "plain", {'p'});
  EXPECT_EQ(ImportMarker(dir() / "marker.mrk", "", dir() / "plain" / "sub").status, kOutputFailed);
  fs::create_symlink(dir() / "nowhere", dir() / "dangling");
  EXPECT_EQ(ImportMarker(dir() / "marker.mrk", "", dir() / "dangling").status, kOutputFailed);
  EXPECT_FALSE(fs::exists(dir() / "nowhere"));
  EXPECT_EQ(ReadFile(dir() / "plain"), "p");
}

// Links at the names a temporary file could plausibly take, hard links and
// symbolic links at the output names: none is followed or written through.
TEST_F(HostileImport, PlantedLinksAreNeverFollowed) {
  WriteBytes(dir() / "victim", {'v'});
  const std::vector<std::string> planted = {
      "csvimprt.txt.tmp", ".csvimprt.txt.tmp", "posimport.txt.tmp", ".posimport.txt.tmp",
      "csvimprt.tmp",     "posimport.tmp",     "~csvimprt.txt",     ".csvimprt.txt.swp"};
  for (const auto& name : planted) fs::create_symlink(dir() / "victim", out() / name);
  fs::remove(out() / "csvimprt.txt");
  fs::create_hard_link(dir() / "victim", out() / "csvimprt.txt");
  fs::remove(out() / "posimport.txt");
  fs::create_directory_symlink(dir(), out() / "posimport.txt");

  const auto result = ImportBytes(MarkerFile(BlouseMarker()));
  EXPECT_EQ(result.status, kImported);
  EXPECT_EQ(ReadFile(dir() / "victim"), "v");
  EXPECT_EQ(fs::hard_link_count(dir() / "victim"), 1u);
  EXPECT_FALSE(fs::is_symlink(out() / "posimport.txt"));
  EXPECT_TRUE(fs::is_regular_file(out() / "posimport.txt"));
  EXPECT_FALSE(fs::exists(dir() / "csvimprt.txt"));
  for (const auto& name : planted) {
    EXPECT_TRUE(fs::is_symlink(out() / name)) << name;
    EXPECT_EQ(fs::read_symlink(out() / name), dir() / "victim") << name;
  }
  EXPECT_EQ(FilesInOutput(), 2u + planted.size());
}

// A folder standing at an output name: the pair cannot be put in place, and
// the earlier file at the other name is kept.
TEST_F(HostileImport, FolderPlantedAtAnOutputName) {
  fs::remove(out() / "posimport.txt");
  fs::create_directory(out() / "posimport.txt");
  const auto result = ImportBytes(MarkerFile(BlouseMarker()));
  EXPECT_EQ(result.status, kOutputFailed);
  EXPECT_EQ(ReadFile(out() / "csvimprt.txt"), earlier_.orders);
  EXPECT_TRUE(fs::is_directory(out() / "posimport.txt"));
  EXPECT_EQ(FilesInOutput(), 2u) << "a temporary file was left behind";
}

// A folder at the first output name fails the import as one at the second
// does, and stays where it was.
TEST_F(HostileImport, FolderPlantedAtTheFirstOutputName) {
  fs::remove(out() / "csvimprt.txt");
  fs::create_directory(out() / "csvimprt.txt");
  WriteBytes(out() / "csvimprt.txt" / "inside", {'i'});
  const auto result = ImportBytes(MarkerFile(BlouseMarker()));
  EXPECT_EQ(result.status, kOutputFailed);
  EXPECT_EQ(ReadFile(out() / "csvimprt.txt" / "inside"), "i");
  EXPECT_EQ(ReadFile(out() / "posimport.txt"), earlier_.positions);
  EXPECT_EQ(FilesInOutput(), 2u) << "a temporary file or folder was left behind";
}

// The first file is complete, the second fails part way (the process may not
// grow a file beyond a limit between the two files' sizes): the earlier pair
// stays whole.
TEST_F(HostileImport, SecondFileFailsPartWay) {
  auto recipe = JacketMarker();
  recipe.header.name = "OTHER";
  const OutputPair planned = CleanOutput(MarkerFile(recipe));
  ASSERT_LT(planned.orders.size() + 100, planned.positions.size());
  const rlim_t limit = planned.orders.size() + 50;
  WriteBytes(dir() / "marker.mrk", MarkerFile(recipe));
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    signal(SIGXFSZ, SIG_IGN);
    rlimit r{limit, limit};
    setrlimit(RLIMIT_FSIZE, &r);
    const auto result = ImportMarker(dir() / "marker.mrk", "", out());
    _exit(result.status == kOutputFailed ? 0 : 10 + static_cast<int>(result.status));
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "the failed write was not reported";
  EXPECT_EQ(Current().orders, earlier_.orders);
  EXPECT_EQ(Current().positions, earlier_.positions);
  EXPECT_EQ(FilesInOutput(), 2u) << "a temporary file was left behind";
}

}  // namespace
}  // namespace lumerca
