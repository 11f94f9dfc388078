// The model dump of lumerca-import --dump, checked through a JSON parser.

#include "tools/dump.h"

#include "tests/support/import_fixture.h"

#include <lumerca/marker.h>

#include <nlohmann/json.hpp>

#include <cmath>
#include <set>
#include <sstream>

namespace lumerca::testing {
namespace {

using json = nlohmann::json;

class DumpTest : public ImportFixture {
protected:
  // The dump of `bytes`; the test fails unless it is valid JSON.
  json Dump(const ByteVector& bytes, bool* opened = nullptr) {
    const auto path = dir() / "dumped.mrk";
    WriteBytes(path, bytes);
    std::ostringstream text;
    const bool ok = tools::WriteDump(text, path);
    if (opened) *opened = ok;
    json parsed;
    EXPECT_NO_THROW(parsed = json::parse(text.str())) << text.str().substr(0, 2000);
    return parsed;
  }

  // The walk entry named `name` at `depth`; null when there is none.
  static const json* Entry(const json& dump, const std::string& name, int depth) {
    for (const json& e : dump["walk"]) {
      if (e.contains("name") && e["name"] == name && e["depth"] == depth) return &e;
    }
    return nullptr;
  }
};

TEST_F(DumpTest, JacketMarkerWholeModel) {
  const MarkerRecipe marker = JacketMarker();
  bool opened = false;
  const json d = Dump(MarkerFile(marker), &opened);
  ASSERT_TRUE(opened);
  EXPECT_EQ(d["opened"], true);
  EXPECT_EQ(d["result"]["status"], "imports");
  EXPECT_EQ(d["not_used"], 0);

  // The walk: every stream with the reader that took it.
  const std::pair<const char*, const char*> readers[] = {
      {"MARKER", "ReadHeader"}, {"STYLES", "CStyles"},   {"SIZES", "CSizes"},
      {"CLASSES", "CClasses"},  {"CROIXES", "CCroixes"}, {"HALFS", "CHalfs"},
      {"PIECES", "CMarkerPieces"}};
  for (const auto& [name, reader] : readers) {
    const json* e = Entry(d, name, 0);
    ASSERT_NE(e, nullptr) << name;
    EXPECT_EQ((*e)["reader"], reader) << name;
    EXPECT_EQ((*e)["outcome"], "read") << name;
    EXPECT_EQ((*e)["type"], "stream") << name;
    EXPECT_FALSE(e->contains("why")) << name;
    // Whole: every byte that the layout declares arrived, and the stream is
    // no longer than that.
    EXPECT_EQ((*e)["declared"], (*e)["arrived"]) << name;
    EXPECT_EQ((*e)["declared"], (*e)["size"]) << name;
  }
  ASSERT_NE(Entry(d, "EXTRA", 0), nullptr);
  EXPECT_EQ((*Entry(d, "EXTRA", 0))["outcome"], "entered");
  EXPECT_EQ((*Entry(d, "CHESS", 1))["reader"], "ReadChess");
  EXPECT_EQ((*Entry(d, "1.CAS", 1))["reader"], "ReadCas");
  EXPECT_EQ((*Entry(d, "1.PGS", 1))["size"], 250);
  EXPECT_EQ((*Entry(d, "NOTES", 1))["reader"], "SkipBytes");
  EXPECT_EQ((*Entry(d, "0.CUTS", 1))["reader"], "CSplits");

  // Header.
  const json& h = d["header"];
  EXPECT_EQ(h["Name"], marker.header.name);
  EXPECT_EQ(h["NormalizedName"], "JACKET W-24-A");
  EXPECT_EQ(h["Text1"], "Sample");
  EXPECT_EQ(h["Text3"], "Cutting room 2");
  EXPECT_EQ(h["NameLength"], marker.header.name.size());
  EXPECT_DOUBLE_EQ(h["Width"].get<double>(), 1520.0);
  EXPECT_DOUBLE_EQ(h["ScaleX"].get<double>(), 0.985);  // the shortest text of the float
  EXPECT_EQ(h["Raw11"].get<std::string>(), std::string(80, '0'));
  // Every fixed field of the stream, the uninterpreted ones as wide as the
  // stream holds them.
  const std::pair<const char*, std::size_t> raw_widths[] = {
      {"Raw1", 6}, {"Raw3", 10}, {"Raw6", 18}, {"Raw7", 2},
      {"Raw8", 2}, {"Raw9", 2},  {"Raw10", 1}, {"Raw16", 4}};
  for (const auto& [field, width] : raw_widths) {
    ASSERT_TRUE(h.contains(field)) << field;
    EXPECT_EQ(h[field].get<std::string>().size(), 2 * width) << field;
  }
  for (const char* field : {"ScaleY", "Text1Length", "Text3Length", "Text4Length"}) {
    EXPECT_TRUE(h.contains(field)) << field;
  }

  // Tables.
  ASSERT_EQ(d["sizes"]["records"].size(), marker.sizes.size());
  EXPECT_EQ(d["sizes"]["Count"], 6);
  for (std::size_t i = 0; i < marker.sizes.size(); ++i) {
    EXPECT_EQ(d["sizes"]["records"][i]["SizeNumber"], marker.sizes[i].number);
    EXPECT_EQ(d["sizes"]["records"][i]["index"], i);
  }
  ASSERT_EQ(d["classes"]["records"].size(), marker.classes.size());
  EXPECT_EQ(d["classes"]["records"][3]["Name"], marker.classes[3].name);
  EXPECT_EQ(d["classes"]["records"][3]["NormalizedName"], "SLEEVE-TOP");
  EXPECT_EQ(d["classes"]["records"][3]["Text"], marker.classes[3].text);
  EXPECT_EQ(d["styles"]["records"][1]["Name"], marker.styles[1]);
  ASSERT_EQ(d["croixes"]["records"].size(), marker.croixes.size());
  EXPECT_EQ(d["croixes"]["records"][9]["SizeIndex"], marker.croixes[9].size_index);
  EXPECT_EQ(d["croixes"]["records"][9]["ClassIndex"], marker.croixes[9].class_index);
  ASSERT_EQ(d["halfs"]["records"].size(), marker.halfs.size());

  // Pieces, with the centre and extent derived in double precision.
  const std::set<int> halfs(marker.halfs.begin(), marker.halfs.end());
  ASSERT_EQ(d["pieces"].size(), marker.pieces.size());
  for (std::size_t j = 0; j < marker.pieces.size(); ++j) {
    const PieceRecipe& p = marker.pieces[j];
    const json& r = d["pieces"][j];
    EXPECT_EQ(r["index"], j);
    EXPECT_EQ(r["CroixIndex"], p.croix_index);
    EXPECT_EQ(r["Attr2"], p.attr2);
    EXPECT_EQ(r["Attr5"], p.attr5);
    EXPECT_DOUBLE_EQ(r["centre"][0].get<double>(),
                     double{p.place_x} + (double{p.min_x} + double{p.max_x}) * 0.5);
    EXPECT_DOUBLE_EQ(r["centre"][1].get<double>(),
                     double{p.place_y} + (double{p.min_y} + double{p.max_y}) * 0.5);
    EXPECT_DOUBLE_EQ(r["extent"][0].get<double>(), double{p.max_x} - double{p.min_x});
    EXPECT_DOUBLE_EQ(r["extent"][1].get<double>(), double{p.max_y} - double{p.min_y});
    EXPECT_EQ(r["half"], halfs.count(static_cast<int>(j)) == 1) << j;
    const CroixRecipe& croix = marker.croixes[static_cast<std::size_t>(p.croix_index)];
    EXPECT_EQ(r["SizeNumber"], marker.sizes[static_cast<std::size_t>(croix.size_index)].number);
    EXPECT_EQ(r["Class"], marker.classes[static_cast<std::size_t>(croix.class_index)].name);
  }

  // The split table, with its offsets decoded.
  ASSERT_EQ(d["splits"].size(), marker.cuts.size());
  const json& first = d["splits"][0];
  EXPECT_EQ(first["PieceIndex"], 0);
  EXPECT_EQ(first["first_for_piece"], true);
  ASSERT_EQ(first["splits"].size(), 6u);
  EXPECT_EQ(first["splits"][0]["Offset"], 0.0);  // code 0: no offset at all
  EXPECT_EQ(first["splits"][1]["OffsetCode"], 16000);
  EXPECT_EQ(first["splits"][1]["Offset"], 0.25);
  EXPECT_EQ(first["splits"][2]["Offset"], 1.0);
  EXPECT_EQ(first["splits"][3]["Offset"], 2.0);
  EXPECT_EQ(first["splits"][3]["Kind"], 3);
  EXPECT_DOUBLE_EQ(first["splits"][0]["A1"].get<double>(), -20.0);
  EXPECT_DOUBLE_EQ(first["splits"][0]["B2"].get<double>(), 10.0);
}

// What was not used, and why: a short stream, a .CUTS name without a number,
// a property-set name, a second .CUTS stream for the same piece.
TEST_F(DumpTest, ElementsNotUsedCarryTheirReason) {
  MarkerRecipe marker = BlouseMarker();
  Node root = MarkerDocument(marker);
  Node odd = StorageNode(u"ODD");
  odd.children.push_back(StreamNode(u"PIECES", Bytes().U16(3).Fill(20)));  // 3 pieces in 20 bytes
  odd.children.push_back(StreamNode(u"NONE.CUTS", CutsStream({})));
  odd.children.push_back(StreamNode(u"\x05SummaryInformation", ByteVector(48, 0)));
  odd.children.push_back(StreamNode(u"0.CUTS", CutsStream({SplitRecipe{1, 2, 3, 4, 0, 0, 0}})));
  root.children.push_back(std::move(odd));
  const json d = Dump(WriteCompoundFile(root));

  const json* rejected = Entry(d, "PIECES", 1);
  ASSERT_NE(rejected, nullptr);
  EXPECT_EQ((*rejected)["outcome"], "damaged");
  EXPECT_EQ((*rejected)["path"], "ODD/PIECES");
  EXPECT_EQ((*rejected)["why"],
            "the stream holds 0 of its 3 pieces, ending 238 bytes before its declared layout in piece "
            "0; not imported (--salvage imports none of them)");
  EXPECT_EQ((*rejected)["declared"], 2 + 3 * 86);
  EXPECT_EQ((*rejected)["arrived"], 22);
  EXPECT_EQ((*rejected)["used"], true);
  EXPECT_EQ(d["result"]["status"], "damaged");
  EXPECT_EQ(d["result"]["message"].get<std::string>().rfind("ODD/PIECES: holds 0 of its 3 pieces", 0), 0u);
  const json* skipped = Entry(d, "NONE.CUTS", 1);
  ASSERT_NE(skipped, nullptr);
  EXPECT_EQ((*skipped)["outcome"], "skipped");
  EXPECT_TRUE(skipped->contains("why"));
  const json* property = Entry(d, "\x05SummaryInformation", 1);
  ASSERT_NE(property, nullptr);
  EXPECT_EQ((*property)["outcome"], "passed over");
  EXPECT_TRUE((*property)["why"].get<std::string>().find("U+0005") != std::string::npos);
  // The short stream and the nameless .CUTS stream; a property set is not trouble.
  EXPECT_EQ(d["not_used"], 2);
  // The six pieces of the blouse only: no piece of the short PIECES stream
  // arrived whole.
  EXPECT_EQ(d["pieces"].size(), 6u);
  // Two elements name piece 0: only the first one met counts.
  ASSERT_EQ(d["splits"].size(), 2u);
  EXPECT_EQ(d["splits"][0]["first_for_piece"], true);
  EXPECT_EQ(d["splits"][1]["first_for_piece"], false);
}

// A stream cut short of nothing that the output uses: the dump says so, and
// the file would be imported.
TEST_F(DumpTest, DamageNotUsedByTheOutput) {
  MarkerRecipe marker = BlouseMarker();
  Node root = MarkerDocument(marker);
  for (Node& child : root.children) {
    if (child.name == u"SIZES") child.data.pop_back();  // the last size's name "44"
  }
  const json d = Dump(WriteCompoundFile(root));
  const json* sizes = Entry(d, "SIZES", 0);
  ASSERT_NE(sizes, nullptr);
  EXPECT_EQ((*sizes)["outcome"], "damaged");
  EXPECT_EQ((*sizes)["declared"], 2 + 4 * 16 + 8);
  EXPECT_EQ((*sizes)["arrived"], 2 + 4 * 16 + 7);
  EXPECT_EQ((*sizes)["used"], false);
  EXPECT_EQ((*sizes)["why"],
            "the stream ends 1 byte before its declared layout, in the name of size 3 (not used by "
            "the output files)");
  EXPECT_EQ(d["result"]["status"], "imports");
  EXPECT_EQ(d["sizes"]["records"][3]["Name"], "4");
}

// In a deep nest of storages each element names the walk position of its
// storage, and a long path keeps only its end.
TEST_F(DumpTest, DeepNestingStaysLinear) {
  Node root = MarkerDocument(BlouseMarker());
  std::vector<Node> innermost;
  innermost.push_back(StreamNode(u"7.CUTS", Bytes().U8(0).I16(3).U16(0)));  // 3 splits in 5 bytes
  root.children.push_back(NestedStorages(300, u"NESTED-LEVEL", std::move(innermost)));
  const json d = Dump(WriteCompoundFile(root));

  const json* rejected = Entry(d, "7.CUTS", 300);
  ASSERT_NE(rejected, nullptr);
  EXPECT_EQ((*rejected)["outcome"], "damaged");
  EXPECT_EQ((*rejected)["declared"], 5 + 3 * 22);
  EXPECT_EQ((*rejected)["arrived"], 5);
  const std::string path = (*rejected)["path"];
  EXPECT_LE(path.size(), 520u);
  EXPECT_EQ(path.rfind(".../NESTED-LEVEL/", 0), 0u) << path;
  EXPECT_EQ(path.substr(path.size() - 20), "/NESTED-LEVEL/7.CUTS");
  // The chain of parents leads from the stream back to the root.
  const json* e = rejected;
  int steps = 0;
  while ((*e)["parent"] != -1) {
    const json& up = d["walk"][(*e)["parent"].get<std::size_t>()];
    EXPECT_EQ(up["name"], "NESTED-LEVEL");
    EXPECT_EQ(up["depth"], (*e)["depth"].get<int>() - 1);
    e = &up;
    ++steps;
  }
  EXPECT_EQ(steps, 300);
}

// Texts are decoded from the ANSI code page; non-finite numbers stay valid
// JSON; broken references show as null and in the verdict.
TEST_F(DumpTest, CodePagesNonFiniteNumbersAndBrokenReferences) {
  MarkerRecipe marker = BlouseMarker();
  marker.classes[1].name = "R\xC4\x81K";
  marker.classes[2].name = "AB\x81";  // in 932 a lead byte without its trail byte
  marker.header.width = std::nanf("");
  marker.pieces[0].place_x = INFINITY;
  marker.pieces[1].min_y = -INFINITY;
  marker.pieces[5].croix_index = 99;
  const ByteVector bytes = MarkerFile(marker);

  const unsigned before = AnsiCodePage();
  ASSERT_TRUE(SetAnsiCodePage(1252));
  const json latin = Dump(bytes);
  ASSERT_TRUE(SetAnsiCodePage(1251));
  const json cyrillic = Dump(bytes);
  ASSERT_TRUE(SetAnsiCodePage(932));
  const json japanese = Dump(bytes);
  SetAnsiCodePage(before);

  EXPECT_EQ(latin["code_page"], 1252);
  EXPECT_EQ(latin["classes"]["records"][1]["Name"], "R\u00C4\u0081K");
  EXPECT_EQ(cyrillic["classes"]["records"][1]["Name"], "R\u0414\u0403K");
  EXPECT_EQ(japanese["classes"]["records"][2]["Name"], "AB\uFFFD");
  EXPECT_EQ(latin["header"]["Width"], "nan");
  EXPECT_EQ(latin["pieces"][0]["PlaceX"], "inf");
  EXPECT_EQ(latin["pieces"][0]["centre"][0], "inf");
  EXPECT_EQ(latin["pieces"][1]["MinY"], "-inf");
  EXPECT_EQ(latin["pieces"][1]["extent"][1], "inf");
  EXPECT_TRUE(latin["pieces"][5]["SizeIndex"].is_null());
  EXPECT_TRUE(latin["pieces"][5]["Class"].is_null());
  EXPECT_EQ(latin["result"]["status"], "corrupt index");
  EXPECT_TRUE(latin["result"]["message"].get<std::string>().find("CroixIndex 99") != std::string::npos);
}

TEST_F(DumpTest, FilesThatCannotBeOpenedOrHoldNoPieces) {
  bool opened = true;
  const std::string text = "not a compound document";
  const json none = Dump(ByteVector(text.begin(), text.end()), &opened);
  EXPECT_FALSE(opened);
  EXPECT_EQ(none["opened"], false);
  EXPECT_EQ(none["result"]["status"], "cannot be opened");
  EXPECT_EQ(none["result"]["why"], "not a compound file: it holds text: \"not a compound document\"");
  EXPECT_FALSE(none.contains("walk"));

  MarkerRecipe empty = BlouseMarker();
  empty.pieces.clear();
  empty.cuts.clear();
  const json no_pieces = Dump(MarkerFile(empty), &opened);
  EXPECT_TRUE(opened);
  EXPECT_EQ(no_pieces["result"]["status"], "no pieces");
  EXPECT_TRUE(no_pieces["pieces"].empty());
  EXPECT_EQ(no_pieces["sizes"]["records"].size(), 4u);
}

}  // namespace
}  // namespace lumerca::testing
