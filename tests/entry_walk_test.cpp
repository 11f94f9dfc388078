// The walk over a document and the dispatch of its streams by name.

#include "entry/utf8.h"
#include "entry/walk.h"
#include "tests/support/marker_streams.h"
#include "tests/support/memory_storage.h"

#include <gtest/gtest.h>

#include <pthread.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <span>
#include <new>
#include <string>
#include <tuple>
#include <vector>

namespace lumerca {

using namespace lumerca::model;
using namespace lumerca::readers;
using namespace lumerca::entry;
namespace {

using testing::ByteVector;
using testing::MemoryDocument;
using testing::MemoryStream;
using Reads = std::vector<std::uint32_t>;
using Id = MemoryDocument::Id;
using Outcome = WalkEntry::Outcome;
constexpr Id kRoot = MemoryDocument::kRoot;

// A PIECES stream whose pieces carry the given CroixIndex values, so that the
// order in which pieces were read can be told from the model.
ByteVector Pieces(std::vector<std::int16_t> tags) {
  std::vector<testing::PieceRecipe> recipes(tags.size());
  for (std::size_t i = 0; i < tags.size(); ++i) recipes[i].croix_index = tags[i];
  return testing::PiecesStream(recipes);
}

std::vector<int> Tags(const CMarker& model) {
  std::vector<int> tags;
  for (const CMarkerPiece& p : model.m_pieces) tags.push_back(p.CroixIndex);
  return tags;
}

std::string Describe(const WalkEntry& e) {
  static const char* const names[] = {"Read",       "Short",      "Skipped",    "Entered",
                                      "PassedOver", "OpenFailed", "EnumFailed", "NextFailed",
                                      "Overrun"};
  return std::string(names[static_cast<int>(e.outcome)]) + " '" + e.path + "' d" +
         std::to_string(e.depth) + " t" + std::to_string(e.type) +
         (*e.reader ? std::string(" ") + e.reader : std::string());
}

std::vector<std::string> Describe(const WalkReport& report) {
  std::vector<std::string> out;
  for (const WalkEntry& e : report.entries) out.push_back(Describe(e));
  return out;
}

// Runs `work` on a thread with a small stack: a walk that recursed once per
// level would overflow it long before 10,000 levels.
void RunOnSmallStack(std::function<void()> work) {
  pthread_attr_t attr;
  ASSERT_EQ(pthread_attr_init(&attr), 0);
  ASSERT_EQ(pthread_attr_setstacksize(&attr, 256 * 1024), 0);
  pthread_t thread;
  auto body = [](void* arg) -> void* {
    (*static_cast<std::function<void()>*>(arg))();
    return nullptr;
  };
  ASSERT_EQ(pthread_create(&thread, &attr, body, &work), 0);
  pthread_join(thread, nullptr);
  pthread_attr_destroy(&attr);
}

// ---------------------------------------------------------------- dispatch

TEST(DispatchStream, RulesCaseAndSuffixes) {
  struct Case {
    std::u16string name;
    const char* reader;
  };
  const Case cases[] = {
      {u"CLASSES", "CClasses"},
      {u"classes", "CClasses"},
      {u"CroIxes", "CCroixes"},
      {u"MARKER", "ReadHeader"},
      {u"Marker", "ReadHeader"},
      {u"pieces", "CMarkerPieces"},
      {u"SIZES", "CSizes"},
      {u"styles", "CStyles"},
      {u".PGS", ".PGS skip"},  // the whole name is the suffix
      {u"3.pgs", ".PGS skip"},
      {u"12.cuts", "CSplits"},
      {u"PIECES.CUTS", "CSplits"},  // "is" rules compare the whole name
      {u"1.CLS", ".CLS skip"},
      {u"x.Cas", "ReadCas"},
      {u"MARKER.CAS", "ReadCas"},
      {u"CHESS", "ReadChess"},
      {u"chess", "ReadChess"},
      {u"HALFS", "CHalfs"},
      // Nothing else matches.
      {u"CLS", "SkipBytes"},  // shorter than ".CLS"
      {u"PGS", "SkipBytes"},
      {u"CUTS", "SkipBytes"},
      {u"CLASSES ", "SkipBytes"},
      {u"XPIECES", "SkipBytes"},
      {u"1.CUTSX", "SkipBytes"},
      {u"\u00C9TOILE", "SkipBytes"},
      {u"", "SkipBytes"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(Utf16ToUtf8(c.name));
    CMarker model;
    MemoryStream stream(ByteVector(2, 0));
    const char* reader = nullptr;
    DispatchStream(model, c.name, 2, stream, &reader);
    ASSERT_NE(reader, nullptr);
    EXPECT_STREQ(reader, c.reader);
  }
}

TEST(DispatchStream, CutsStreamsGetTheirOwnName) {
  CMarker model;
  MemoryStream a(testing::CutsStream({{}})), b(testing::CutsStream({{}}));
  EXPECT_EQ(DispatchStream(model, u"12.cuts", 27, a).outcome, ReadOutcome::Read);
  EXPECT_EQ(DispatchStream(model, u" 7.CUTS", 27, b).outcome, ReadOutcome::Read);
  ASSERT_EQ(model.m_splits.Elements.GetSize(), 2u);
  EXPECT_EQ(model.m_splits.Elements[0].PieceIndex, 12);
  EXPECT_EQ(model.m_splits.Elements[1].PieceIndex, 7);
}

TEST(DispatchStream, PgsChunks) {
  struct Case {
    std::uint32_t size;
    std::size_t holds;
    Reads reads;
    ReadOutcome outcome;
  };
  const Case cases[] = {
      {250, 250, {100, 100, 50}, ReadOutcome::Read},
      {250, 400, {100, 100, 50}, ReadOutcome::Read},  // nothing past the size
      {0, 10, {}, ReadOutcome::Read},                 // size 0: nothing read
      {250, 120, {100, 100, 100}, ReadOutcome::Short},  // stops at a read of nothing
      {100000, 0, {100}, ReadOutcome::Short},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.size) + " " + std::to_string(c.holds));
    CMarker model;
    MemoryStream stream(ByteVector(c.holds, 0x5A));
    EXPECT_EQ(DispatchStream(model, u"1.PGS", c.size, stream).outcome, c.outcome);
    EXPECT_EQ(stream.reads(), c.reads);
  }
}

TEST(DispatchStream, ClsCounts) {
  const Reads record = {16, 16, 16, 16, 0};  // SkipBytes(stream, 64)
  Reads two = {2};
  for (int i = 0; i < 2; ++i) two.insert(two.end(), record.begin(), record.end());
  ByteVector short_three = testing::ClsStream(3);
  short_three.resize(2 + 64 + 10);

  struct Case {
    const char* what;
    ByteVector bytes;
    Reads reads;
    ReadOutcome outcome;
  };
  const Case cases[] = {
      {"two records", testing::ClsStream(2), two, ReadOutcome::Read},
      {"count 0", testing::Bytes().I16(0).Fill(64), {2}, ReadOutcome::Read},
      {"count -1", testing::Bytes().I16(-1).Fill(64), {2}, ReadOutcome::Read},
      {"shorter than its count", {0x05}, {2}, ReadOutcome::Short},
      {"3 records declared, 1.2 there", short_three, {2, 16, 16, 16, 16, 0, 16}, ReadOutcome::Short},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    CMarker model;
    MemoryStream stream(c.bytes);
    const StreamRead read = DispatchStream(model, u"7.cls", 9999, stream);
    EXPECT_EQ(read.outcome, c.outcome);
    EXPECT_EQ(stream.reads(), c.reads);
    EXPECT_EQ(read.arrived, stream.position());
    EXPECT_FALSE(read.Used());
  }
}

TEST(DispatchStream, OtherNamesAreSkippedBySize) {
  CMarker model;
  MemoryStream stream(ByteVector(100, 1));
  EXPECT_EQ(DispatchStream(model, u"NOTES", 33, stream).outcome, ReadOutcome::Read);
  EXPECT_EQ(stream.reads(), Reads({16, 16, 1}));
  MemoryStream short_stream(ByteVector(20, 1));
  const StreamRead read = DispatchStream(model, u"NOTES", 33, short_stream);
  EXPECT_EQ(read.outcome, ReadOutcome::Short);
  EXPECT_EQ(read.declared, 33u);
  EXPECT_EQ(read.arrived, 20u);
  EXPECT_FALSE(read.Used());  // nothing of such a stream is used
}

// ---------------------------------------------------------------- walk

TEST(WalkStorage, DepthFirstInEnumerationOrder) {
  MemoryDocument doc;
  doc.AddStream(kRoot, u"PIECES", Pieces({1}));
  const Id a = doc.AddStorage(kRoot, u"A");
  doc.AddStream(a, u"PIECES", Pieces({2}));
  const Id b = doc.AddStorage(a, u"B");
  doc.AddStream(b, u"pieces", Pieces({3, 4}));
  doc.AddStream(a, u"Pieces", Pieces({5}));
  doc.AddStream(kRoot, u"pIECES", Pieces({6}));

  CMarker model;
  auto root = doc.OpenRoot();
  WalkReport report;
  report.record_all = true;
  WalkStorage(model, *root, &report, WalkLimits::Unbounded());
  EXPECT_EQ(Tags(model), (std::vector<int>{1, 2, 3, 4, 5, 6}));
  EXPECT_EQ(Describe(report), (std::vector<std::string>{
                                  "Read 'PIECES' d0 t2 CMarkerPieces",
                                  "Entered 'A' d0 t1",
                                  "Read 'A/PIECES' d1 t2 CMarkerPieces",
                                  "Entered 'A/B' d1 t1",
                                  "Read 'A/B/pieces' d2 t2 CMarkerPieces",
                                  "Read 'A/Pieces' d1 t2 CMarkerPieces",
                                  "Read 'pIECES' d0 t2 CMarkerPieces",
                              }));
  root.reset();
  EXPECT_EQ(doc.live_objects(), 0u);
}

TEST(WalkStorage, EachLevelReleasesWhatItOpened) {
  MemoryDocument doc;
  doc.AddStream(kRoot, u"NOTES", {});
  doc.AddStorage(kRoot, u"A");
  doc.EnableLog();
  auto root = doc.OpenRoot();
  CMarker model;
  WalkStorage(model, *root, nullptr, WalkLimits::Unbounded());
  // The stream is released right after its reader; a sub-storage's enumerator
  // and then the sub-storage once its enumeration is complete.
  EXPECT_EQ(doc.log(), (std::vector<std::string>{
                           "enum ",
                           "next  -> NOTES",
                           "open NOTES",
                           "read NOTES 0 -> 0",
                           "release stream NOTES",
                           "next  -> A",
                           "open A",
                           "enum A",
                           "next A -> done",
                           "release enum A",
                           "release storage A",
                           "next  -> done",
                           "release enum ",
                       }));
}

TEST(WalkStorage, TwoPiecesStreamsInTwoStorages) {
  // A whole marker, its tables at the root; PIECES streams in two storages
  // add up in walk order. The skipped kinds of stream change nothing.
  testing::MarkerRecipe recipe;
  recipe.header.name = "M";
  recipe.sizes = {{36, "S"}};
  recipe.classes = {{"FRONT", ""}};
  recipe.croixes = {{0, 0}};
  recipe.pieces.resize(2);
  recipe.cuts[1] = {testing::SplitRecipe{}};
  recipe.skipped_streams = true;
  testing::Node tree = testing::MarkerDocument(recipe);
  testing::Node more = testing::StorageNode(u"MORE");
  more.children.push_back(testing::StreamNode(u"PIECES", Pieces({7})));
  tree.children.push_back(more);

  MemoryDocument doc(tree);
  auto root = doc.OpenRoot();
  CMarker model;
  WalkReport report;
  WalkStorage(model, *root, &report, WalkLimits::Unbounded());
  EXPECT_EQ(Tags(model), (std::vector<int>{0, 0, 7}));
  EXPECT_STREQ(model.Name, "M");
  EXPECT_EQ(model.m_sizes.Elements.GetSize(), 1u);
  EXPECT_EQ(model.m_classes.Elements.GetSize(), 1u);
  ASSERT_EQ(model.m_splits.Elements.GetSize(), 1u);
  EXPECT_EQ(model.m_splits.Elements[0].PieceIndex, 1);
  EXPECT_TRUE(report.entries.empty());  // nothing went wrong
}

TEST(WalkStorage, PropertySetsAndOtherTypesArePassedOver) {
  MemoryDocument doc;
  const Id summary = doc.AddStream(kRoot, u"\u0005SummaryInformation", Pieces({9}));
  const Id props = doc.AddStorage(kRoot, u"\u0005Props");
  const Id inner = doc.AddStream(props, u"PIECES", Pieces({9}));
  const Id lock = doc.AddElement(kRoot, u"PIECES", 3);
  doc.AddElement(kRoot, u"PIECES", 4);
  doc.AddElement(kRoot, u"ROOT", 5);
  doc.AddElement(kRoot, u"ZERO", 0);
  doc.AddStream(kRoot, u"PIECES", Pieces({1}));

  auto root = doc.OpenRoot();
  CMarker model;
  WalkReport report;
  report.record_all = true;
  WalkStorage(model, *root, &report, WalkLimits::Unbounded());
  EXPECT_EQ(Tags(model), (std::vector<int>{1}));
  EXPECT_EQ(doc.OpenCount(summary), 0u);
  EXPECT_EQ(doc.OpenCount(props), 0u);
  EXPECT_EQ(doc.OpenCount(inner), 0u);
  EXPECT_EQ(doc.OpenCount(lock), 0u);
  ASSERT_EQ(report.entries.size(), 7u);
  for (std::size_t i = 0; i < 6; ++i) EXPECT_EQ(report.entries[i].outcome, Outcome::PassedOver);
  EXPECT_EQ(report.entries[6].outcome, Outcome::Read);
}

TEST(WalkStorage, FailuresEndTheirOwnStorageOnly) {
  // Each case: root { A { PIECES 1, X, PIECES 3 }, PIECES 4 } where X is a
  // storage or a stream and a failure is injected somewhere in A.
  enum class Fail { Enum, Next, OpenStorage, OpenStream };
  struct Case {
    Fail fail;
    std::vector<int> tags;               // pieces that reach the model
    std::vector<std::string> entries;    // the report (trouble only)
  };
  const Case cases[] = {
      {Fail::Enum, {4}, {"EnumFailed 'A' d1 t1"}},  // the whole of A
      {Fail::Next, {1, 4}, {"NextFailed 'A' d1 t1"}},  // all after the first element
      {Fail::OpenStorage, {1, 4}, {"OpenFailed 'A/X' d1 t1"}},  // X and the rest of A
      {Fail::OpenStream, {1, 4}, {"OpenFailed 'A/X' d1 t2"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.fail));
    MemoryDocument doc;
    const Id a = doc.AddStorage(kRoot, u"A");
    doc.AddStream(a, u"PIECES", Pieces({1}));
    Id x;
    if (c.fail == Fail::OpenStream) {
      x = doc.AddStream(a, u"X", Pieces({2}));
    } else {
      x = doc.AddStorage(a, u"X");
      doc.AddStream(x, u"PIECES", Pieces({2}));
    }
    const Id third = doc.AddStream(a, u"PIECES", Pieces({3}));
    doc.AddStream(kRoot, u"PIECES", Pieces({4}));
    switch (c.fail) {
      case Fail::Enum: doc.FailEnum(a); break;
      case Fail::Next: doc.FailNext(a, 1); break;
      case Fail::OpenStorage:
      case Fail::OpenStream: doc.FailOpen(x); break;
    }

    auto root = doc.OpenRoot();
    CMarker model;
    WalkReport report;
    WalkStorage(model, *root, &report, WalkLimits::Unbounded());
    EXPECT_EQ(Tags(model), c.tags);
    EXPECT_EQ(Describe(report), c.entries);
    EXPECT_EQ(doc.OpenCount(third), 0u);
    EXPECT_EQ(doc.live_objects(), 1u);  // the root, which the caller keeps
  }
}

TEST(WalkStorage, FailuresOfTheRoot) {
  for (bool enum_fails : {true, false}) {
    MemoryDocument doc;
    doc.AddStream(kRoot, u"PIECES", Pieces({1}));
    if (enum_fails) {
      doc.FailEnum(kRoot);
    } else {
      doc.FailNext(kRoot, 0);
    }
    auto root = doc.OpenRoot();
    CMarker model;
    WalkReport report;
    WalkStorage(model, *root, &report, WalkLimits::Unbounded());
    EXPECT_TRUE(model.m_pieces.IsEmpty());
    EXPECT_EQ(Describe(report), std::vector<std::string>{enum_fails ? "EnumFailed '' d0 t5"
                                                                    : "NextFailed '' d0 t5"});
  }
}

TEST(WalkStorage, RejectedAndSkippedStreamsAreReported) {
  MemoryDocument doc;
  const Id cuts = doc.AddStorage(kRoot, u"CUTS");
  doc.AddStream(cuts, u"X.CUTS", testing::CutsStream({{}}));
  // 5 bytes that declare 65535 pieces.
  doc.AddStream(kRoot, u"PIECES", {0xFF, 0xFF, 0x01, 0x02, 0x03});
  doc.AddStream(kRoot, u"MARKER", testing::MarkerStream({}));
  auto root = doc.OpenRoot();
  CMarker model;
  WalkReport report;
  WalkStorage(model, *root, &report, WalkLimits::Unbounded());
  EXPECT_TRUE(model.m_pieces.IsEmpty());
  EXPECT_TRUE(model.m_splits.Elements.IsEmpty());
  EXPECT_EQ(model.Width, 1600.0f);  // the MARKER stream after them was read
  EXPECT_EQ(Describe(report), (std::vector<std::string>{"Skipped 'CUTS/X.CUTS' d1 t2 CSplits",
                                                        "Short 'PIECES' d0 t2 CMarkerPieces"}));
}

// Streams cut short of what the output uses are counted, also past the
// entries kept, and the first is kept apart; streams cut short of what it
// does not use are not counted.
TEST(WalkStorage, DamageThatTheOutputWouldUseIsCounted) {
  MemoryDocument doc;
  // 1,200 streams that hold less than their size: more trouble than is kept.
  for (int i = 0; i < 1200; ++i) {
    std::string name = "N";
    name += std::to_string(i);
    const Id stream = doc.AddStream(kRoot, testing::U16(name), {});
    doc.SetReportedSize(stream, 1);
  }
  doc.AddStream(kRoot, u"STYLES", {0x01});                       // unused
  doc.AddStream(kRoot, u"HALFS", testing::Bytes().I16(2).Fill(20));  // the second record cut
  doc.AddStream(kRoot, u"7.CUTS", {0x00, 0x01});
  const Id notes = doc.AddStream(kRoot, u"NOTES", ByteVector(10, 0));
  doc.SetReportedSize(notes, 20);
  auto root = doc.OpenRoot();
  CMarker model;
  WalkReport report;
  WalkStorage(model, *root, &report, WalkLimits::Unbounded());
  EXPECT_EQ(report.entries.size(), 1000u);
  EXPECT_EQ(report.used_damage, 2u);
  EXPECT_EQ(report.first_used_damage.path, "HALFS");
  EXPECT_EQ(report.first_used_damage.outcome, Outcome::Short);
  EXPECT_EQ(report.first_used_damage.read.kept_records, 1);
  EXPECT_EQ(model.m_halfs.Count, 1);
}

// What a report keeps cannot outgrow the document: deep paths keep their end,
// and problems past the first thousand are only counted.
TEST(WalkStorage, ReportStaysBoundedOnHostileShapes) {
  MemoryDocument doc;
  Id level = kRoot;
  for (int i = 0; i < 3000; ++i) level = doc.AddStorage(level, u"NESTED");
  for (int i = 0; i < 1500; ++i) {
    doc.AddStream(level, testing::U16(std::to_string(i) + ".CUTS"), {0x00, 0xFF, 0x7F});
  }
  auto root = doc.OpenRoot();
  CMarker model;
  WalkReport report;
  WalkStorage(model, *root, &report, WalkLimits::Unbounded());
  ASSERT_EQ(report.entries.size(), 1000u);
  EXPECT_EQ(report.omitted, 500u);
  const std::string& path = report.entries[0].path;
  EXPECT_EQ(path.rfind(".../", 0), 0u) << path.substr(0, 40);
  EXPECT_LT(path.size(), 600u);
  EXPECT_TRUE(path.ends_with("/NESTED/NESTED/0.CUTS")) << path;
  EXPECT_EQ(report.entries[0].depth, 3000);
}

// The pieces' tags and the report of a walk of `doc` within `limits`.
std::pair<std::vector<int>, std::vector<std::string>> WalkWithin(MemoryDocument& doc, WalkLimits limits) {
  auto root = doc.OpenRoot();
  CMarker model;
  WalkReport report;
  WalkStorage(model, *root, &report, limits);
  return {Tags(model), Describe(report)};
}

// A backend may let a walk into a storage that lies inside itself, or through
// storages that share their elements; the walk ends once it has met more
// elements than the document can hold, keeping what it read.
TEST(WalkStorage, StorageInsideItselfEndsTheWalk) {
  const auto walk = [](MemoryDocument& doc, std::uint64_t elements) {
    return WalkWithin(doc, {elements, UINT64_MAX});
  };
  {
    MemoryDocument doc;
    const Id a = doc.AddStorage(kRoot, u"A");
    doc.AddStream(a, u"PIECES", Pieces({7}));
    doc.Link(a, a);
    const auto [tags, report] = walk(doc, 9);
    // A, PIECES, A, PIECES, ...: the tenth element (a fifth PIECES) is one too many.
    EXPECT_EQ(tags, std::vector<int>(4, 7));
    ASSERT_FALSE(report.empty());
    EXPECT_EQ(report.back().rfind("Overrun ", 0), 0u) << report.back();
    EXPECT_EQ(doc.live_objects(), 0u);
  }
  {
    // Two storages share one child storage, level after level: 2^30 elements
    // to walk without the bound.
    MemoryDocument doc;
    Id level = kRoot;
    for (int i = 0; i < 30; ++i) {
      const Id left = doc.AddStorage(level, u"L");
      const Id right = doc.AddStorage(level, u"R");
      const Id shared = doc.AddStorage(left, u"S");
      doc.Link(right, shared);
      level = shared;
    }
    const auto [tags, report] = walk(doc, LimitsFor(128 * 1000).elements);
    EXPECT_EQ(report.back().rfind("Overrun ", 0), 0u) << report.back();
  }
}

// Streams are paid from an allowance of bytes: a walk within it reads all, and
// the stream that runs it out delivers nothing more (what arrived of it
// whole stays) and ends the walk.
TEST(WalkStorage, ByteAllowance) {
  const ByteVector pieces = Pieces({1, 2});
  const auto walk = [&](std::uint64_t bytes, Reads* notes_reads) {
    MemoryDocument doc;
    doc.AddStream(kRoot, u"PIECES", pieces);
    const Id notes = doc.AddStream(kRoot, u"NOTES", ByteVector(100, 1));
    auto walked = WalkWithin(doc, {UINT64_MAX, bytes});
    *notes_reads = doc.Reads(notes);
    return walked;
  };
  Reads notes;
  auto [tags, report] = walk(pieces.size() + 100, &notes);
  EXPECT_EQ(tags, (std::vector<int>{1, 2}));
  EXPECT_TRUE(report.empty());
  EXPECT_EQ(notes, Reads({16, 16, 16, 16, 16, 16, 4}));

  std::tie(tags, report) = walk(pieces.size() + 99, &notes);
  EXPECT_EQ(tags, (std::vector<int>{1, 2}));
  EXPECT_EQ(report, (std::vector<std::string>{"Overrun 'NOTES' d0 t2 SkipBytes"}));

  std::tie(tags, report) = walk(pieces.size() - 1, &notes);
  EXPECT_EQ(tags, (std::vector<int>{1}));
  EXPECT_EQ(report, (std::vector<std::string>{"Overrun 'PIECES' d0 t2 CMarkerPieces"}));
  EXPECT_TRUE(notes.empty());
}

TEST(WalkStorage, StreamSizeIsTheLow32Bits) {
  MemoryDocument doc;
  const Id notes = doc.AddStream(kRoot, u"NOTES", ByteVector(64, 1));
  doc.SetReportedSize(notes, 0x1'0000'0010ull);
  auto root = doc.OpenRoot();
  CMarker model;
  WalkReport report;
  report.record_all = true;
  WalkStorage(model, *root, &report, WalkLimits::Unbounded());
  EXPECT_EQ(doc.Reads(notes), Reads({16, 0}));  // SkipBytes(stream, 16)
  ASSERT_EQ(report.entries.size(), 1u);
  EXPECT_EQ(report.entries[0].size, 0x1'0000'0010ull);
}

TEST(WalkStorage, TenThousandNestedStorages) {
  // Level i holds "<i>.CUTS", then storage "S", then "<20000 + i>.CUTS"; the
  // innermost holds only its two streams. Depth first: 0 to 9999 on the way
  // down, 29999 to 20000 on the way back.
  constexpr int kDepth = 10000;
  MemoryDocument doc;
  Id level = kRoot;
  for (int i = 0; i < kDepth; ++i) {
    doc.AddStream(level, testing::U16(std::to_string(i) + ".CUTS"), testing::CutsStream({}));
    const Id sub = i + 1 < kDepth ? doc.AddStorage(level, u"S") : level;
    doc.AddStream(level, testing::U16(std::to_string(20000 + i) + ".CUTS"), testing::CutsStream({}));
    level = sub;
  }

  auto root = doc.OpenRoot();
  CMarker model;
  WalkReport report;
  RunOnSmallStack([&] { WalkStorage(model, *root, &report, WalkLimits::Unbounded()); });
  const auto& elements = model.m_splits.Elements;
  ASSERT_EQ(elements.GetSize(), 2u * kDepth);
  std::size_t at = 0;
  for (int i = 0; i < kDepth; ++i) ASSERT_EQ(elements[at++].PieceIndex, i);
  for (int i = kDepth - 1; i >= 0; --i) ASSERT_EQ(elements[at++].PieceIndex, 20000 + i);
  EXPECT_TRUE(report.entries.empty());
  root.reset();
  EXPECT_EQ(doc.live_objects(), 0u);
}

TEST(WalkStorage, OtherExceptionsPropagateAfterReleasingEverything) {
  MemoryDocument doc;
  const Id a = doc.AddStorage(kRoot, u"A");
  const Id b = doc.AddStorage(a, u"B");
  const Id bad = doc.AddStream(b, u"PIECES", Pieces({1}));
  doc.ThrowOnOpen(bad);
  doc.EnableLog();
  auto root = doc.OpenRoot();
  CMarker model;
  EXPECT_THROW(WalkStorage(model, *root, nullptr, WalkLimits::Unbounded()), std::bad_alloc);
  EXPECT_EQ(doc.live_objects(), 1u);  // only the root, which the caller keeps
  // Innermost first.
  const std::vector<std::string> tail(doc.log().end() - 5, doc.log().end());
  EXPECT_EQ(tail, (std::vector<std::string>{"release enum A/B", "release storage A/B",
                                            "release enum A", "release storage A",
                                            "release enum "}));
}

// A document opened from a file and the same bytes in memory walk alike; a
// file that is missing or no compound file is not walked and says why.
TEST(OpenAndWalk, FromFileAndFromMemory) {
  const std::filesystem::path jacket = std::filesystem::path(LUMERCA_SOURCE_DIR) / "examples/jacket.mrk";
  CMarker from_file;
  WalkReport file_report;
  file_report.record_all = true;
  std::string why;
  ASSERT_TRUE(OpenAndWalk(jacket, from_file, file_report, &why)) << why;

  std::ifstream in(jacket, std::ios::binary);
  const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  CMarker from_memory;
  WalkReport memory_report;
  memory_report.record_all = true;
  const auto root = OpenAndWalk(std::as_bytes(std::span(bytes)), from_memory, memory_report);
  ASSERT_NE(root, nullptr);
  EXPECT_GT(from_file.m_pieces.GetSize(), 0u);
  EXPECT_EQ(from_memory.m_pieces.GetSize(), from_file.m_pieces.GetSize());
  EXPECT_EQ(from_memory.m_splits.Elements.GetSize(), from_file.m_splits.Elements.GetSize());
  EXPECT_EQ(Describe(memory_report), Describe(file_report));

  CMarker none;
  WalkReport none_report;
  why.clear();
  EXPECT_FALSE(OpenAndWalk(jacket.parent_path() / "no such file.mrk", none, none_report, &why));
  EXPECT_FALSE(why.empty());
  const char text[] = "Pieces for Monday";
  EXPECT_EQ(OpenAndWalk(std::as_bytes(std::span(text)), none, none_report), nullptr);
  EXPECT_TRUE(none.m_pieces.IsEmpty());
  EXPECT_TRUE(none_report.entries.empty());
}

TEST(Utf16ToUtf8, PathsOfAnyName) {
  EXPECT_EQ(Utf16ToUtf8(u"A.CUTS"), "A.CUTS");
  EXPECT_EQ(Utf16ToUtf8(u"\u00C4\u20AC"), "\xC3\x84\xE2\x82\xAC");
  EXPECT_EQ(Utf16ToUtf8(u"\U0001F600"), "\xF0\x9F\x98\x80");
  const char16_t lone[] = {0xD800, u'x', 0xDC00, 0};
  EXPECT_EQ(Utf16ToUtf8(lone), "\xEF\xBF\xBDx\xEF\xBF\xBD");
}

}  // namespace
}  // namespace lumerca
