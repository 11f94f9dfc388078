// The picture of a marker (<lumerca/picture.h>): what is drawn where, and its
// SVG text.

#include <lumerca/picture.h>

#include "entry/marker_data.h"
#include "model/index.h"
#include "output/float_text.h"

#include <lumerca/marker.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <string>
#include <vector>

namespace lumerca {
namespace {

using Style = PictureStyle;

// ------------------------------------------------------------ colours

std::uint32_t Rgb(double r, double g, double b) {
  auto byte = [](double v) {
    return static_cast<std::uint32_t>(std::lround(std::clamp(v, 0.0, 1.0) * 255));
  };
  return byte(r) << 16 | byte(g) << 8 | byte(b);
}

// Size i gets a hue of its own: successive sizes lie a golden angle apart on
// the colour wheel, so that neighbours differ clearly.
std::uint32_t SizeColour(std::size_t size_index) {
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
  return Rgb(r + m, g + m, b + m);
}

// ------------------------------------------------------------ the scene

// What the picture shows of a marker, in marker coordinates.
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

struct SceneBox {
  PictureBox box;
  double centre_x = 0, centre_y = 0, extent_x = 0, extent_y = 0;
};

struct Scene {
  std::vector<SceneBox> boxes;   // the pieces whose centre and extent are finite
  std::vector<PictureCut> cuts;  // in marker coordinates until laid out
  std::vector<std::size_t> pieces_of_size;
  Bounds bounds;
  double width = 0;
  std::size_t left_out = 0;
};

// The box of a piece, with its size and class when its CROIXES record names them.
void AddBox(Scene& scene, const Piece& piece, unsigned code_page) {
  SceneBox b;
  b.box.piece = piece.index;
  b.box.half = piece.half;
  if (piece.size_number) {
    b.box.size_index = *piece.size_index;
    b.box.size_number = piece.size_number;
    b.box.fill = SizeColour(static_cast<std::size_t>(b.box.size_index));
    ++scene.pieces_of_size[static_cast<std::size_t>(b.box.size_index)];
  }
  if (piece.class_name) b.box.label = ToUtf8(*piece.class_name, code_page);
  b.centre_x = piece.centre_x;
  b.centre_y = piece.centre_y;
  b.extent_x = piece.extent_x;
  b.extent_y = piece.extent_y;
  if (!Finite(b.centre_x, b.centre_y, b.extent_x, b.extent_y)) {
    ++scene.left_out;
    return;
  }
  const double half_x = std::fabs(b.extent_x) / 2, half_y = std::fabs(b.extent_y) / 2;
  scene.bounds.Add(b.centre_x - half_x, b.centre_y - half_y);
  scene.bounds.Add(b.centre_x + half_x, b.centre_y + half_y);
  scene.boxes.push_back(std::move(b));
}

// The cut lines of a piece that the position file writes, drawn from the
// piece's placement.
void AddCuts(Scene& scene, const Piece& piece) {
  const double place_x = piece.record.PlaceX, place_y = piece.record.PlaceY;
  if (!std::isfinite(place_x) || !std::isfinite(place_y)) return;
  for (const CutLine& line : piece.cut_lines) {
    PictureCut cut{piece.index, line, place_x + static_cast<double>(line.A1),
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

// The cut lines of all pieces, at most: those that a piece's record holds.
std::size_t CutLinesHeld(const Marker& m) {
  const detail::MarkerData& data = detail::MarkerData::Of(m);
  if (!data.index) return 0;
  std::size_t lines = 0;
  for (std::size_t j = 0; j < data.model.m_pieces.GetSize(); ++j) {
    const std::int32_t element = data.index->FirstSplit(j);
    if (element < 0) continue;
    const model::CSplits::CElement& e = data.model.m_splits.Elements[static_cast<std::size_t>(element)];
    lines += std::min(model::CutLineCount(e), e.Splits.GetSize());
  }
  return lines;
}

Scene MakeScene(const Marker& m, std::size_t size_count) {
  Scene scene;
  const std::size_t piece_count = m.PieceCount();
  scene.pieces_of_size.assign(size_count, 0);
  scene.bounds.Add(0, 0);
  scene.width = static_cast<double>(m.Header().Width);
  if (std::isfinite(scene.width)) scene.bounds.Add(0, scene.width);
  scene.boxes.reserve(piece_count);
  // Made once at its size: a large marker's list of cut lines grown step by
  // step would take twice the memory, all of it new.
  scene.cuts.reserve(CutLinesHeld(m));
  for (std::size_t j = 0; j < piece_count; ++j) {
    const Piece piece = m.PieceAt(j);
    AddBox(scene, piece, m.CodePage());
    AddCuts(scene, piece);
  }
  return scene;
}

// ------------------------------------------------------------ the layout

constexpr std::size_t kMaxListed = 60;  // sizes listed in the legend
constexpr double kMargin = 20, kTitleHeight = 34, kEntryWidth = 170, kEntryHeight = 20;

std::size_t CodePoints(const std::string& utf8) {
  return static_cast<std::size_t>(std::count_if(utf8.begin(), utf8.end(), [](char c) {
    return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  }));
}

std::string Plural(std::size_t n, const char* one, const char* many) {
  return std::to_string(n) + (n == 1 ? one : many);
}

}  // namespace

Picture DrawMarker(const Marker& m) {
  const std::vector<SizeRecord> sizes = m.Sizes().Records;
  const std::size_t size_count = sizes.size();
  Scene scene = MakeScene(m, size_count);
  Picture p;

  // The first coordinate runs along the marker to the right, the second (the
  // width) upwards; the drawing is at most 1600 by 1000 pixels.
  const Bounds& bounds = scene.bounds;
  double length = 0;  // how far the pieces reach to the right
  for (const SceneBox& b : scene.boxes) length = std::max(length, b.centre_x + std::fabs(b.extent_x) / 2);
  const double span_x = std::max(bounds.x1 - bounds.x0, 1.0);
  const double span_y = std::max(bounds.y1 - bounds.y0, 1.0);
  p.scale = 1600.0 / span_x;
  if (span_y * p.scale > 1000.0) p.scale = 1000.0 / span_y;
  p.left = kMargin;
  p.top = kMargin + kTitleHeight;
  p.min_x = bounds.x0;
  p.max_y = bounds.y1;
  const auto X = [&](double x) { return kMargin + (x - bounds.x0) * p.scale; };
  const auto Y = [&](double y) { return kMargin + kTitleHeight + (bounds.y1 - y) * p.scale; };
  const double drawing_width = span_x * p.scale, drawing_height = span_y * p.scale;

  // The legend: one entry per size (at most kMaxListed), then the three signs.
  const std::size_t listed = std::min(size_count, kMaxListed);
  p.width = std::max(drawing_width + 2 * kMargin, 4 * kEntryWidth + 2 * kMargin);
  const auto columns =
      static_cast<std::size_t>(std::max(1.0, std::floor((p.width - 2 * kMargin) / kEntryWidth)));
  const std::size_t entries = listed + (size_count > listed ? 1 : 0) + 3;
  const double legend_top = kMargin + kTitleHeight + drawing_height + 24;
  const double legend_height =
      22 + static_cast<double>((entries + columns - 1) / columns) * kEntryHeight;
  p.height = legend_top + legend_height + kMargin;

  // The title and the summary.
  p.title = ToUtf8(m.Header().Name, m.CodePage());
  const std::size_t piece_count = m.PieceCount();
  char width[48];
  std::snprintf(width, sizeof width, "width %.1f mm, ", scene.width);
  p.summary = width + Plural(piece_count, " piece", " pieces") + ", " +
              Plural(size_count, " size", " sizes") + ", " +
              Plural(scene.cuts.size(), " cut line", " cut lines");
  p.title_x = kMargin;
  p.title_y = kMargin + 16;
  p.summary_x = kMargin;
  p.summary_y = kMargin + 32;

  // The frame of the marker: from 0 to the length the pieces reach, from 0
  // to the width.
  if (std::isfinite(scene.width)) {
    const double top = Y(std::max(scene.width, 0.0)), bottom = Y(std::min(scene.width, 0.0));
    p.frame = true;
    p.frame_x = X(0);
    p.frame_y = top;
    p.frame_width = std::max(length, 0.0) * p.scale;
    p.frame_height = bottom - top;
  }

  // The pieces, each at least 2 px a side, so that a piece without extent
  // still shows as a dot; a label as large as its box allows (none below 3 px).
  p.boxes.reserve(scene.boxes.size());
  for (SceneBox& b : scene.boxes) {
    PictureBox& box = b.box;
    box.width = std::max(std::fabs(b.extent_x) * p.scale, 2.0);
    box.height = std::max(std::fabs(b.extent_y) * p.scale, 2.0);
    box.x = X(b.centre_x) - box.width / 2;
    box.y = Y(b.centre_y) - box.height / 2;
    const double w = std::fabs(b.extent_x) * p.scale, h = std::fabs(b.extent_y) * p.scale;
    const double chars = static_cast<double>(std::max<std::size_t>(1, CodePoints(box.label)));
    const double size = std::min({13.0, h * 0.45, w * 0.92 / (0.6 * chars)});
    box.label_x = X(b.centre_x);
    box.label_y = Y(b.centre_y);
    box.label_size = size < 3 ? 0 : size;
    if (box.half) ++p.halfs;
    p.boxes.push_back(std::move(box));
  }
  p.cuts = std::move(scene.cuts);
  for (PictureCut& c : p.cuts) {
    c.x1 = X(c.x1);
    c.y1 = Y(c.y1);
    c.x2 = X(c.x2);
    c.y2 = Y(c.y2);
  }
  p.left_out = scene.left_out;

  // The legend's entries, row by row.
  p.legend_x = kMargin;
  p.legend_y = legend_top + 10;
  std::size_t slot = 0;
  const auto add = [&](PictureLegendEntry::Kind kind, std::uint32_t colour, std::string text) {
    PictureLegendEntry e;
    e.kind = kind;
    e.x = kMargin + static_cast<double>(slot % columns) * kEntryWidth;
    e.y = legend_top + 22 + static_cast<double>(slot / columns) * kEntryHeight;
    e.colour = colour;
    e.text = std::move(text);
    p.legend.push_back(std::move(e));
    ++slot;
  };
  for (std::size_t i = 0; i < listed; ++i) {
    add(PictureLegendEntry::Kind::Size, SizeColour(i),
        "size " + std::to_string(static_cast<int>(sizes[i].SizeNumber)) + " (" +
            Plural(scene.pieces_of_size[i], " piece", " pieces") + ")");
  }
  if (size_count > listed) {
    add(PictureLegendEntry::Kind::More, 0, "and " + std::to_string(size_count - listed) + " more sizes");
  }
  add(PictureLegendEntry::Kind::Half, Style::kHalfSwatch, "half piece");
  add(PictureLegendEntry::Kind::Cut, Style::kCutColour, "cut line (shifted)");
  add(PictureLegendEntry::Kind::NoSize, Style::kNoSizeColour, "in no size");
  return p;
}

// ------------------------------------------------------------ SVG

namespace {

// UTF-8 text for XML character data and attribute values: the five special
// characters escaped, and the control characters that XML 1.0 does not allow
// replaced by U+FFFD.
void Xml(std::string& out, const std::string& text) {
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
}

// Builds the text; numbers in pixels have two decimals.
class Svg {
public:
  Svg& operator<<(const char* text) {
    out_ += text;
    return *this;
  }
  Svg& operator<<(const std::string& text) {
    out_ += text;
    return *this;
  }
  Svg& operator<<(std::size_t n) {
    out_ += std::to_string(n);
    return *this;
  }
  Svg& Px(double value) {
    char text[400];
    const int size = std::snprintf(text, sizeof text, "%.2f", value);
    out_.append(text, static_cast<std::size_t>(std::max(size, 0)));
    return *this;
  }
  Svg& Colour(std::uint32_t rgb) {
    char text[8];
    std::snprintf(text, sizeof text, "#%06x", static_cast<unsigned>(rgb & 0xffffff));
    out_ += text;
    return *this;
  }
  Svg& Text(const std::string& text) {
    Xml(out_, text);
    return *this;
  }
  Svg& Shortest(float value) {
    char text[output::kFloatTextMaxChars];
    out_.append(text, output::FormatShortest(text, value));
    return *this;
  }
  std::string Take() { return std::move(out_); }

private:
  std::string out_;
};

void Swatch(Svg& svg, const PictureLegendEntry& e, std::uint32_t fill, const char* extra) {
  svg << "<rect class=\"swatch\" x=\"";
  svg.Px(e.x) << "\" y=\"";
  svg.Px(e.y) << "\" width=\"14\" height=\"14\" fill=\"";
  svg.Colour(fill) << "\"" << extra << " stroke=\"";
  svg.Colour(Style::kPieceStroke) << "\" stroke-width=\"0.8\"";
}

Svg& LegendText(Svg& svg, const PictureLegendEntry& e, double indent) {
  svg << "<text x=\"";
  svg.Px(e.x + indent) << "\" y=\"";
  return svg.Px(e.y + 11) << "\">";
}

}  // namespace

std::string PictureSvg(const Picture& p) {
  Svg svg;
  svg << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"";
  svg.Px(p.width) << "\" height=\"";
  svg.Px(p.height) << "\" viewBox=\"0 0 ";
  svg.Px(p.width) << " ";
  svg.Px(p.height) << "\" font-family=\"" << Style::kFontFamily << "\">\n";
  svg << "<rect width=\"100%\" height=\"100%\" fill=\"";
  svg.Colour(Style::kBackground) << "\"/>\n";

  svg << "<text class=\"title\" x=\"";
  svg.Px(p.title_x) << "\" y=\"";
  svg.Px(p.title_y) << "\" font-size=\"18\" font-weight=\"bold\">";
  svg.Text(p.title) << "</text>\n";
  svg << "<text class=\"subtitle\" x=\"";
  svg.Px(p.summary_x) << "\" y=\"";
  svg.Px(p.summary_y) << "\" font-size=\"12\" fill=\"";
  svg.Colour(Style::kSubtitleColour) << "\">";
  svg.Text(p.summary) << "</text>\n";
  if (p.frame) {
    svg << "<rect class=\"frame\" x=\"";
    svg.Px(p.frame_x) << "\" y=\"";
    svg.Px(p.frame_y) << "\" width=\"";
    svg.Px(p.frame_width) << "\" height=\"";
    svg.Px(p.frame_height) << "\" fill=\"";
    svg.Colour(Style::kFrameFill) << "\" stroke=\"";
    svg.Colour(Style::kFrameStroke) << "\" stroke-width=\"1.5\"/>\n";
  }

  svg << "<g class=\"pieces\" stroke=\"";
  svg.Colour(Style::kPieceStroke) << "\" stroke-width=\"0.8\">\n";
  for (const PictureBox& b : p.boxes) {
    svg << "<rect class=\"" << (b.half ? "piece half" : "piece") << "\" data-piece=\"" << b.piece
        << "\" x=\"";
    svg.Px(b.x) << "\" y=\"";
    svg.Px(b.y) << "\" width=\"";
    svg.Px(b.width) << "\" height=\"";
    svg.Px(b.height) << "\" fill=\"";
    svg.Colour(b.fill) << "\"";
    if (b.half) svg << " fill-opacity=\"0.35\" stroke-dasharray=\"5 3\"";
    svg << "><title>";
    svg.Text(b.label) << " (piece " << b.piece;
    if (b.size_number) svg << ", size " << std::to_string(static_cast<int>(*b.size_number));
    svg << (b.half ? ", half piece" : "") << ")</title></rect>\n";
  }
  svg << "</g>\n";

  svg << "<g class=\"cuts\" stroke=\"";
  svg.Colour(Style::kCutColour) << "\" stroke-width=\"1.4\" stroke-linecap=\"round\">\n";
  for (const PictureCut& c : p.cuts) {
    svg << "<line class=\"cut\" data-piece=\"" << c.piece << "\" data-line=\"";
    svg.Shortest(c.line.A1) << " ";
    svg.Shortest(c.line.B1) << " ";
    svg.Shortest(c.line.A2) << " ";
    svg.Shortest(c.line.B2) << "\" x1=\"";
    svg.Px(c.x1) << "\" y1=\"";
    svg.Px(c.y1) << "\" x2=\"";
    svg.Px(c.x2) << "\" y2=\"";
    svg.Px(c.y2) << "\"/>\n";
  }
  svg << "</g>\n";

  svg << "<g class=\"labels\" text-anchor=\"middle\" dominant-baseline=\"central\" fill=\"";
  svg.Colour(Style::kLabelColour) << "\">\n";
  for (const PictureBox& b : p.boxes) {
    if (b.label_size == 0) continue;
    svg << "<text x=\"";
    svg.Px(b.label_x) << "\" y=\"";
    svg.Px(b.label_y) << "\" font-size=\"";
    svg.Px(b.label_size) << "\">";
    svg.Text(b.label) << "</text>\n";
  }
  svg << "</g>\n";

  svg << "<g class=\"legend\" font-size=\"12\">\n";
  svg << "<text x=\"";
  svg.Px(p.legend_x) << "\" y=\"";
  svg.Px(p.legend_y) << "\" font-weight=\"bold\">Sizes</text>\n";
  for (const PictureLegendEntry& e : p.legend) {
    switch (e.kind) {
      case PictureLegendEntry::Kind::Size:
      case PictureLegendEntry::Kind::NoSize:
        Swatch(svg, e, e.colour, "");
        svg << "/>";
        LegendText(svg, e, 20);
        break;
      case PictureLegendEntry::Kind::More:
        LegendText(svg, e, 0);
        break;
      case PictureLegendEntry::Kind::Half:
        Swatch(svg, e, e.colour, " fill-opacity=\"0.35\"");
        svg << " stroke-dasharray=\"5 3\"/>";
        LegendText(svg, e, 20);
        break;
      case PictureLegendEntry::Kind::Cut:
        svg << "<path d=\"M";
        svg.Px(e.x) << " ";
        svg.Px(e.y + 7) << " h14\" stroke=\"";
        svg.Colour(e.colour) << "\" stroke-width=\"1.4\"/>";
        LegendText(svg, e, 20);
        break;
    }
    svg.Text(e.text) << "</text>\n";
  }
  svg << "</g>\n";
  if (p.left_out > 0) {
    svg << "<desc>" << p.left_out
        << " pieces or cut lines have coordinates that are not finite and are not drawn</desc>\n";
  }
  svg << "</svg>\n";
  return svg.Take();
}

}  // namespace lumerca
