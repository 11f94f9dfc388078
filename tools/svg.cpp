#include "tools/svg.h"

#include <lumerca/marker.h>

#include <algorithm>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>
#include <ostream>
#include <string>
#include <vector>

namespace lumerca::tools {
namespace {

// ------------------------------------------------------------ text

// UTF-8 text for XML character data and attribute values: the five special
// characters escaped, and the control characters that XML 1.0 does not allow
// replaced by U+FFFD.
std::string Xml(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    const auto b = static_cast<unsigned char>(c);
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&apos;"; break;
      default:
        if (b < 0x20 && c != '\t' && c != '\n' && c != '\r') {
          out += "\xEF\xBF\xBD";
        } else {
          out.push_back(c);
        }
    }
  }
  return out;
}

std::size_t CodePoints(const std::string& utf8) {
  return static_cast<std::size_t>(std::count_if(utf8.begin(), utf8.end(), [](char c) {
    return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  }));
}

std::string Px(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f", value);
  return text;
}

// The shortest decimal that reads back as the same float.
std::string Shortest(float value) {
  char text[32];
  const auto result = std::to_chars(text, text + sizeof text, value);
  return std::string(text, result.ptr);
}

// ------------------------------------------------------------ colours

std::string Hex(double r, double g, double b) {
  auto byte = [](double v) { return static_cast<int>(std::lround(std::clamp(v, 0.0, 1.0) * 255)); };
  char text[8];
  std::snprintf(text, sizeof text, "#%02x%02x%02x", byte(r), byte(g), byte(b));
  return text;
}

// Size i gets a hue of its own: successive sizes lie a golden angle apart on
// the colour wheel, so that neighbours differ clearly.
std::string SizeColour(std::size_t size_index) {
  const double hue = std::fmod(static_cast<double>(size_index) * 137.508, 360.0) / 60.0;
  const double s = 0.62, l = 0.60;
  const double c = (1 - std::fabs(2 * l - 1)) * s;
  const double x = c * (1 - std::fabs(std::fmod(hue, 2.0) - 1));
  const double m = l - c / 2;
  double r = 0, g = 0, b = 0;
  switch (static_cast<int>(hue)) {
    case 0: r = c, g = x; break;
    case 1: r = x, g = c; break;
    case 2: g = c, b = x; break;
    case 3: g = x, b = c; break;
    case 4: r = x, b = c; break;
    default: r = c, b = x; break;
  }
  return Hex(r + m, g + m, b + m);
}

constexpr const char* kNoSizeColour = "#bdbdbd";
constexpr const char* kCutColour = "#c62828";

// ------------------------------------------------------------ the model

// A piece's centre and extent, as the position file derives them.
struct PieceBox {
  double centre_x = 0, centre_y = 0, extent_x = 0, extent_y = 0;
};

struct Box {
  std::size_t index = 0;
  PieceBox at;
  bool half = false;
  std::int32_t size = -1;  // size index, -1 when the piece belongs to no size
  std::string label{"?"};  // class name, UTF-8 ("?" when the piece names none)
  bool finite = true;
};

struct Cut {
  std::size_t piece = 0;
  CutLine line;              // after the shift
  double x1, y1, x2, y2;     // marker coordinates: the piece's placement plus A and B
};

struct Bounds {
  double x0 = std::numeric_limits<double>::infinity(), x1 = -x0, y0 = x0, y1 = -x0;
  void Add(double x, double y) {
    x0 = std::min(x0, x);
    x1 = std::max(x1, x);
    y0 = std::min(y0, y);
    y1 = std::max(y1, y);
  }
};

bool Finite(double a, double b, double c, double d) {
  return std::isfinite(a) && std::isfinite(b) && std::isfinite(c) && std::isfinite(d);
}

// What the picture shows of a marker, in marker coordinates.
struct Scene {
  std::vector<Box> boxes;
  std::vector<Cut> cuts;
  std::vector<std::size_t> pieces_of_size;
  Bounds bounds;
  double width = 0;
  std::size_t left_out = 0;  // pieces or cut lines whose coordinates are not finite
};

// The box of a piece, with its size and class when its CROIXES record names them.
Box MakeBox(Scene& scene, const Piece& piece, unsigned code_page) {
  Box box;
  box.index = piece.index;
  box.at = {piece.centre_x, piece.centre_y, piece.extent_x, piece.extent_y};
  box.half = piece.half;
  if (piece.size_number) {
    box.size = *piece.size_index;
    ++scene.pieces_of_size[static_cast<std::size_t>(box.size)];
  }
  if (piece.class_name) box.label = ToUtf8(*piece.class_name, code_page);
  box.finite = Finite(box.at.centre_x, box.at.centre_y, box.at.extent_x, box.at.extent_y);
  if (!box.finite) {
    ++scene.left_out;
  } else {
    const double half_x = std::fabs(box.at.extent_x) / 2, half_y = std::fabs(box.at.extent_y) / 2;
    scene.bounds.Add(box.at.centre_x - half_x, box.at.centre_y - half_y);
    scene.bounds.Add(box.at.centre_x + half_x, box.at.centre_y + half_y);
  }
  return box;
}

// The cut lines of a piece that the position file writes (no more than its
// element holds), drawn from the piece's placement.
void AddCuts(Scene& scene, const Piece& piece) {
  const double place_x = piece.record.PlaceX, place_y = piece.record.PlaceY;
  if (!std::isfinite(place_x) || !std::isfinite(place_y)) return;
  for (const CutLine& line : piece.cut_lines) {
    Cut cut{piece.index, line, place_x + static_cast<double>(line.A1),
            place_y + static_cast<double>(line.B1), place_x + static_cast<double>(line.A2),
            place_y + static_cast<double>(line.B2)};
    if (!Finite(cut.x1, cut.y1, cut.x2, cut.y2)) {
      ++scene.left_out;
      continue;
    }
    scene.bounds.Add(cut.x1, cut.y1);
    scene.bounds.Add(cut.x2, cut.y2);
    scene.cuts.push_back(cut);
  }
}

Scene MakeScene(const Marker& m, const std::vector<SizeRecord>& sizes) {
  Scene scene;
  const std::size_t piece_count = m.PieceCount();
  scene.pieces_of_size.assign(sizes.size(), 0);
  scene.bounds.Add(0, 0);
  scene.width = static_cast<double>(m.Header().Width);
  if (std::isfinite(scene.width)) scene.bounds.Add(0, scene.width);
  scene.boxes.reserve(piece_count);
  for (std::size_t j = 0; j < piece_count; ++j) {
    const Piece piece = m.PieceAt(j);
    scene.boxes.push_back(MakeBox(scene, piece, m.CodePage()));
    AddCuts(scene, piece);
  }
  return scene;
}

// ------------------------------------------------------------ the layout

constexpr std::size_t kMaxListed = 60;  // sizes listed in the legend
constexpr double kMargin = 20, kTitleHeight = 34, kEntryWidth = 170, kEntryHeight = 20;

// Where things go on the picture. The first coordinate runs along the marker
// to the right, the second (the width) upwards.
struct Layout {
  Bounds bounds;
  double scale = 1;
  double length = 0;  // how far the pieces reach to the right
  std::size_t listed = 0, columns = 1;
  double width = 0, height = 0, legend_top = 0;

  double X(double x) const { return kMargin + (x - bounds.x0) * scale; }
  double Y(double y) const { return kMargin + kTitleHeight + (bounds.y1 - y) * scale; }
};

Layout MakeLayout(const Scene& scene, std::size_t size_count) {
  Layout at;
  at.bounds = scene.bounds;
  for (const Box& b : scene.boxes) {
    if (b.finite) at.length = std::max(at.length, b.at.centre_x + std::fabs(b.at.extent_x) / 2);
  }
  const double span_x = std::max(at.bounds.x1 - at.bounds.x0, 1.0);
  const double span_y = std::max(at.bounds.y1 - at.bounds.y0, 1.0);
  at.scale = 1600.0 / span_x;
  if (span_y * at.scale > 1000.0) at.scale = 1000.0 / span_y;
  const double drawing_width = span_x * at.scale, drawing_height = span_y * at.scale;

  // Legend: one entry per size (at most kMaxListed), then the three signs.
  at.listed = std::min(size_count, kMaxListed);
  at.width = std::max(drawing_width + 2 * kMargin, 4 * kEntryWidth + 2 * kMargin);
  at.columns = static_cast<std::size_t>(std::max(1.0, std::floor((at.width - 2 * kMargin) / kEntryWidth)));
  const std::size_t entries = at.listed + (size_count > at.listed ? 1 : 0) + 3;
  at.legend_top = kMargin + kTitleHeight + drawing_height + 24;
  const double legend_height =
      22 + static_cast<double>((entries + at.columns - 1) / at.columns) * kEntryHeight;
  at.height = at.legend_top + legend_height + kMargin;
  return at;
}

// ------------------------------------------------------------ the parts

void WriteTitle(std::ostream& out, const Marker& m, std::size_t size_count, const Scene& scene,
                const Layout& at) {
  out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << Px(at.width) << "\" height=\""
      << Px(at.height) << "\" viewBox=\"0 0 " << Px(at.width) << " " << Px(at.height)
      << "\" font-family=\"DejaVu Sans, Arial, sans-serif\">\n";
  out << "<rect width=\"100%\" height=\"100%\" fill=\"#ffffff\"/>\n";

  const std::string name = ToUtf8(m.Header().Name, m.CodePage());
  const std::size_t piece_count = m.PieceCount();
  const std::size_t cut_count = scene.cuts.size();
  char summary[160];
  std::snprintf(summary, sizeof summary, "width %.1f mm, %zu piece%s, %zu size%s, %zu cut line%s",
                scene.width, piece_count, piece_count == 1 ? "" : "s", size_count,
                size_count == 1 ? "" : "s", cut_count, cut_count == 1 ? "" : "s");
  out << "<text class=\"title\" x=\"" << Px(kMargin) << "\" y=\"" << Px(kMargin + 16)
      << "\" font-size=\"18\" font-weight=\"bold\">" << Xml(name) << "</text>\n";
  out << "<text class=\"subtitle\" x=\"" << Px(kMargin) << "\" y=\"" << Px(kMargin + 32)
      << "\" font-size=\"12\" fill=\"#555555\">" << Xml(summary) << "</text>\n";

  // The frame of the marker: from 0 to the length the pieces reach, from 0
  // to the width.
  if (std::isfinite(scene.width)) {
    const double top = at.Y(std::max(scene.width, 0.0)), bottom = at.Y(std::min(scene.width, 0.0));
    out << "<rect class=\"frame\" x=\"" << Px(at.X(0)) << "\" y=\"" << Px(top) << "\" width=\""
        << Px(std::max(at.length, 0.0) * at.scale) << "\" height=\"" << Px(bottom - top)
        << "\" fill=\"#f7f5ef\" stroke=\"#222222\" stroke-width=\"1.5\"/>\n";
  }
}

// A box is drawn at least 2 px on each side, so that a piece without extent
// still shows as a dot.
void WritePieces(std::ostream& out, const std::vector<SizeRecord>& sizes, const Scene& scene,
                 const Layout& at, SvgCounts& counts) {
  out << "<g class=\"pieces\" stroke=\"#333333\" stroke-width=\"0.8\">\n";
  for (const Box& b : scene.boxes) {
    if (!b.finite) continue;
    const double w = std::max(std::fabs(b.at.extent_x) * at.scale, 2.0);
    const double h = std::max(std::fabs(b.at.extent_y) * at.scale, 2.0);
    const std::string colour = b.size >= 0 ? SizeColour(static_cast<std::size_t>(b.size)) : kNoSizeColour;
    out << "<rect class=\"" << (b.half ? "piece half" : "piece") << "\" data-piece=\"" << b.index
        << "\" x=\"" << Px(at.X(b.at.centre_x) - w / 2) << "\" y=\"" << Px(at.Y(b.at.centre_y) - h / 2)
        << "\" width=\"" << Px(w) << "\" height=\"" << Px(h) << "\" fill=\"" << colour << "\"";
    if (b.half) out << " fill-opacity=\"0.35\" stroke-dasharray=\"5 3\"";
    out << "><title>" << Xml(b.label) << " (piece " << b.index;
    if (b.size >= 0) out << ", size " << static_cast<int>(sizes[static_cast<std::size_t>(b.size)].SizeNumber);
    out << (b.half ? ", half piece" : "") << ")</title></rect>\n";
    ++counts.pieces;
    if (b.half) ++counts.halfs;
  }
  out << "</g>\n";
}

void WriteCuts(std::ostream& out, const Scene& scene, const Layout& at, SvgCounts& counts) {
  out << "<g class=\"cuts\" stroke=\"" << kCutColour << "\" stroke-width=\"1.4\" stroke-linecap=\"round\">\n";
  for (const Cut& c : scene.cuts) {
    out << "<line class=\"cut\" data-piece=\"" << c.piece << "\" data-line=\""
        << Shortest(c.line.A1) << " " << Shortest(c.line.B1) << " " << Shortest(c.line.A2) << " "
        << Shortest(c.line.B2) << "\" x1=\"" << Px(at.X(c.x1)) << "\" y1=\"" << Px(at.Y(c.y1))
        << "\" x2=\"" << Px(at.X(c.x2)) << "\" y2=\"" << Px(at.Y(c.y2)) << "\"/>\n";
    ++counts.cut_lines;
  }
  out << "</g>\n";
}

// Labels in the boxes, as large as the box allows (none below 3 px).
void WriteLabels(std::ostream& out, const Scene& scene, const Layout& at) {
  out << "<g class=\"labels\" text-anchor=\"middle\" dominant-baseline=\"central\" fill=\"#111111\">\n";
  for (const Box& b : scene.boxes) {
    if (!b.finite) continue;
    const double w = std::fabs(b.at.extent_x) * at.scale, h = std::fabs(b.at.extent_y) * at.scale;
    const double chars = static_cast<double>(std::max<std::size_t>(1, CodePoints(b.label)));
    const double size = std::min({13.0, h * 0.45, w * 0.92 / (0.6 * chars)});
    if (size < 3) continue;
    out << "<text x=\"" << Px(at.X(b.at.centre_x)) << "\" y=\"" << Px(at.Y(b.at.centre_y))
        << "\" font-size=\"" << Px(size) << "\">" << Xml(b.label) << "</text>\n";
  }
  out << "</g>\n";
}

// The legend's entries, placed row by row.
class Legend {
public:
  Legend(std::ostream& out, const Layout& at) : out_(out), at_(at) {}

  // Moves to the next entry, whose top left corner x() and y() then give.
  void Next() {
    x_ = kMargin + static_cast<double>(slot_ % at_.columns) * kEntryWidth;
    y_ = at_.legend_top + 22 + static_cast<double>(slot_ / at_.columns) * kEntryHeight;
    ++slot_;
  }
  void Swatch(const std::string& fill, const char* extra) {
    out_ << "<rect class=\"swatch\" x=\"" << Px(x_) << "\" y=\"" << Px(y_)
         << "\" width=\"14\" height=\"14\" fill=\"" << fill << "\"" << extra
         << " stroke=\"#333333\" stroke-width=\"0.8\"";
  }
  std::ostream& Text(double indent) {
    return out_ << "<text x=\"" << Px(x_ + indent) << "\" y=\"" << Px(y_ + 11) << "\">";
  }
  double x() const { return x_; }
  double y() const { return y_; }

private:
  std::ostream& out_;
  const Layout& at_;
  std::size_t slot_ = 0;
  double x_ = 0, y_ = 0;
};

void WriteLegend(std::ostream& out, const std::vector<SizeRecord>& sizes, const Scene& scene,
                 const Layout& at) {
  const std::size_t size_count = sizes.size();
  out << "<g class=\"legend\" font-size=\"12\">\n";
  out << "<text x=\"" << Px(kMargin) << "\" y=\"" << Px(at.legend_top + 10)
      << "\" font-weight=\"bold\">Sizes</text>\n";
  Legend legend(out, at);
  for (std::size_t i = 0; i < at.listed; ++i) {
    legend.Next();
    legend.Swatch(SizeColour(i), "");
    out << "/>";
    legend.Text(20) << "size " << static_cast<int>(sizes[i].SizeNumber) << " ("
                    << scene.pieces_of_size[i]
                    << (scene.pieces_of_size[i] == 1 ? " piece" : " pieces") << ")</text>\n";
  }
  if (size_count > at.listed) {
    legend.Next();
    legend.Text(0) << "and " << (size_count - at.listed) << " more sizes</text>\n";
  }
  legend.Next();
  legend.Swatch("#9e9e9e", " fill-opacity=\"0.35\"");
  out << " stroke-dasharray=\"5 3\"/>";
  legend.Text(20) << "half piece</text>\n";
  legend.Next();
  out << "<path d=\"M" << Px(legend.x()) << " " << Px(legend.y() + 7) << " h14\" stroke=\""
      << kCutColour << "\" stroke-width=\"1.4\"/>";
  legend.Text(20) << "cut line (shifted)</text>\n";
  legend.Next();
  legend.Swatch(kNoSizeColour, "");
  out << "/>";
  legend.Text(20) << "in no size</text>\n";
  out << "</g>\n";
}

}  // namespace

SvgCounts WriteSvg(std::ostream& out, const Marker& m) {
  SvgCounts counts;
  const std::vector<SizeRecord> sizes = m.Sizes().Records;
  const Scene scene = MakeScene(m, sizes);
  const Layout at = MakeLayout(scene, sizes.size());
  counts.left_out = scene.left_out;
  WriteTitle(out, m, sizes.size(), scene, at);
  WritePieces(out, sizes, scene, at, counts);
  WriteCuts(out, scene, at, counts);
  WriteLabels(out, scene, at);
  WriteLegend(out, sizes, scene, at);
  if (counts.left_out > 0) {
    out << "<desc>" << counts.left_out
        << " pieces or cut lines have coordinates that are not finite and are not drawn</desc>\n";
  }
  out << "</svg>\n";
  return counts;
}

}  // namespace lumerca::tools
