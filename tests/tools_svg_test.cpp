// The marker picture of lumerca-import --svg, checked through an XML parser.

#include "tools/dump.h"
#include "tools/svg.h"

#include "tests/support/import_fixture.h"

#include <lumerca/marker.h>

#include <tinyxml2.h>

#include <algorithm>
#include <optional>
#include <cmath>
#include <cstdio>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace lumerca::testing {

namespace {

class SvgTest : public ImportFixture {
protected:
  // Reads `marker` as the import does.
  std::optional<Marker> Load(const ByteVector& bytes) {
    const auto path = dir() / "drawn.mrk";
    WriteBytes(path, bytes);
    ReadResult read = ReadMarker(path);
    EXPECT_NE(read.status, ImportStatus::CannotOpen) << read.reason;
    if (read.status == ImportStatus::CannotOpen) return std::nullopt;
    return read.marker;
  }

  // The picture of `model`; the test fails unless it is well-formed XML.
  std::string Draw(const Marker& model, tools::SvgCounts& counts) {
    std::ostringstream out;
    counts = tools::WriteSvg(out, model);
    const std::string svg = out.str();
    EXPECT_EQ(document_.Parse(svg.c_str(), svg.size()), tinyxml2::XML_SUCCESS) << document_.ErrorStr();
    return svg;
  }

  // Every element named `name` whose class attribute is `cls` (or starts with
  // `cls` and a space).
  std::vector<const tinyxml2::XMLElement*> Elements(const char* name, const std::string& cls) const {
    std::vector<const tinyxml2::XMLElement*> found;
    std::vector<const tinyxml2::XMLElement*> pending{document_.RootElement()};
    while (!pending.empty()) {
      const tinyxml2::XMLElement* e = pending.back();
      pending.pop_back();
      if (e == nullptr) continue;
      const char* c = e->Attribute("class");
      const std::string value = c ? c : "";
      if (std::string(e->Name()) == name && (value == cls || value.rfind(cls + " ", 0) == 0)) {
        found.push_back(e);
      }
      for (auto* child = e->FirstChildElement(); child; child = child->NextSiblingElement()) {
        pending.push_back(child);
      }
    }
    return found;
  }

  tinyxml2::XMLDocument document_;
};

std::vector<std::string> Fields(const std::string& line, char separator) {
  std::vector<std::string> fields;
  std::stringstream in(line);
  std::string field;
  while (std::getline(in, field, separator)) fields.push_back(field);
  return fields;
}

// Four coordinates as the position file writes them ("%f").
std::string Fixed(double a, double b, double c, double d) {
  char text[128];
  std::snprintf(text, sizeof text, "%f,%f,%f,%f", a, b, c, d);
  return text;
}

TEST_F(SvgTest, JacketOneElementPerPieceAndPerCutLine) {
  const MarkerRecipe marker = JacketMarker();
  const auto model = Load(MarkerFile(marker));
  ASSERT_TRUE(model);
  tools::SvgCounts counts;
  Draw(*model, counts);
  ASSERT_NE(document_.RootElement(), nullptr);
  EXPECT_STREQ(document_.RootElement()->Name(), "svg");

  const std::set<int> halfs(marker.halfs.begin(), marker.halfs.end());
  std::size_t cut_lines = 0;
  for (const auto& [piece, lines] : marker.cuts) cut_lines += lines.size();

  const auto pieces = Elements("rect", "piece");
  EXPECT_EQ(pieces.size(), marker.pieces.size());
  EXPECT_EQ(Elements("rect", "piece half").size(), halfs.size());
  EXPECT_EQ(Elements("line", "cut").size(), cut_lines);
  EXPECT_EQ(counts.pieces, marker.pieces.size());
  EXPECT_EQ(counts.halfs, halfs.size());
  EXPECT_EQ(counts.cut_lines, cut_lines);
  EXPECT_EQ(counts.left_out, 0u);

  // Each piece once, half pieces dashed; pieces of one size share a colour,
  // pieces of different sizes do not.
  std::set<int> indexes;
  std::vector<std::set<std::string>> colours(marker.sizes.size());
  for (const auto* rect : pieces) {
    const int j = rect->IntAttribute("data-piece", -1);
    indexes.insert(j);
    ASSERT_GE(j, 0);
    EXPECT_EQ(rect->Attribute("stroke-dasharray") != nullptr, halfs.count(j) == 1) << j;
    const auto& croix = marker.croixes[static_cast<std::size_t>(marker.pieces[static_cast<std::size_t>(j)].croix_index)];
    colours[static_cast<std::size_t>(croix.size_index)].insert(rect->Attribute("fill"));
    EXPECT_NE(rect->FirstChildElement("title"), nullptr);
  }
  EXPECT_EQ(indexes.size(), marker.pieces.size());
  std::set<std::string> all;
  for (const auto& c : colours) {
    EXPECT_LE(c.size(), 1u);
    all.insert(c.begin(), c.end());
  }
  EXPECT_EQ(all.size(), 5u);  // five sizes have pieces

  // Legend: one swatch per size and the three signs.
  EXPECT_EQ(Elements("rect", "swatch").size(), marker.sizes.size() + 2);
  EXPECT_EQ(Elements("rect", "frame").size(), 1u);
}

// The cut lines are those of the position file, moved by the same shift.
TEST_F(SvgTest, CutLinesMatchThePositionFile) {
  const auto model = Load(MarkerFile(JacketMarker()));
  ASSERT_TRUE(model);
  tools::SvgCounts counts;
  Draw(*model, counts);

  // The position file's text, as the import writes it.
  OutputFiles files;
  ASSERT_TRUE(WriteMarker(*model, files).ok());
  std::multiset<std::string> written;
  std::stringstream lines(files.posimport);
  std::string line;
  while (std::getline(lines, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const auto fields = Fields(line, ',');
    if (fields.size() == 5) written.insert(fields[0] + "," + fields[1] + "," + fields[2] + "," + fields[3]);
  }
  ASSERT_FALSE(written.empty());

  // The position file leaves half pieces out; the picture draws them too.
  std::set<int> halfs;
  for (const auto& h : model->Halfs().Records) halfs.insert(h.PieceIndex);
  std::multiset<std::string> drawn;
  for (const auto* cut : Elements("line", "cut")) {
    if (halfs.count(cut->IntAttribute("data-piece")) != 0) continue;
    const auto v = Fields(cut->Attribute("data-line"), ' ');
    ASSERT_EQ(v.size(), 4u);
    drawn.insert(Fixed(std::stod(v[0]), std::stod(v[1]), std::stod(v[2]), std::stod(v[3])));
  }
  EXPECT_EQ(drawn, written);

  // The blouse's one line of kind 2, moved by 0.5 to the right of its
  // direction: (0, 0)-(10, 0) becomes (0, -0.5)-(10, -0.5).
  const auto blouse = Load(MarkerFile(BlouseMarker()));
  ASSERT_TRUE(blouse);
  Draw(*blouse, counts);
  const auto cuts = Elements("line", "cut");
  ASSERT_EQ(cuts.size(), 1u);
  EXPECT_STREQ(cuts[0]->Attribute("data-line"), "0 -0.5 10 -0.5");
}

// Names with XML's special characters and control characters, coordinates
// that are not finite, pieces of no size: the picture stays well-formed.
TEST_F(SvgTest, HostileNamesAndCoordinates) {
  MarkerRecipe marker = BlouseMarker();
  marker.header.name = "<Blouse> & \"co\"";
  marker.classes[0].name = "A<&>\x01\x1F'B";
  marker.pieces[2].place_x = NAN;
  marker.croixes[3].size_index = 40;  // piece 3 belongs to no size
  marker.cuts[1] = {SplitRecipe{0, 0, INFINITY, 0, 0, 0, 0}, SplitRecipe{1, 1, 2, 2, 0, 1, 0}};
  const auto model = Load(MarkerFile(marker));
  ASSERT_TRUE(model);
  tools::SvgCounts counts;
  Draw(*model, counts);

  EXPECT_EQ(counts.pieces, 5u);  // piece 2 has no finite centre
  EXPECT_EQ(counts.cut_lines, 2u);
  EXPECT_EQ(counts.left_out, 2u);
  EXPECT_EQ(Elements("rect", "piece").size(), 5u);
  const auto* title = Elements("text", "title").at(0);
  EXPECT_STREQ(title->GetText(), "<Blouse> & \"co\"");
  bool labelled = false;
  for (const auto* rect : Elements("rect", "piece")) {
    const std::string text = rect->FirstChildElement("title")->GetText();
    if (rect->IntAttribute("data-piece") == 0) {
      labelled = true;
      EXPECT_EQ(text.rfind("A<&>\xEF\xBF\xBD\xEF\xBF\xBD'B", 0), 0u) << text;
    }
    if (rect->IntAttribute("data-piece") == 3) {
      EXPECT_STREQ(rect->Attribute("fill"), "#bdbdbd");
    }
  }
  EXPECT_TRUE(labelled);
}

}  // namespace
}  // namespace lumerca::testing
