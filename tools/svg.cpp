#include "tools/svg.h"

#include "output/cut_line.h"
#include "tools/ansi_text.h"

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

using COneSplit = CSplits::CElement::COneSplit;

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

struct Box {
  std::size_t index = 0;
  double cx = 0, cy = 0, w = 0, h = 0;  // centre and extent, as the position file derives them
  bool half = false;
  std::int32_t size = -1;  // size index, -1 when the piece belongs to no size
  std::string label;       // class name, UTF-8
  bool finite = true;
};

struct Cut {
  std::size_t piece = 0;
  COneSplit line;            // after the shift
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

}  // namespace

SvgCounts WriteSvg(std::ostream& out, const CMarker& m) {
  SvgCounts counts;
  const unsigned code_page = AnsiCodePage();
  const std::size_t piece_count = m.m_pieces.GetSize();
  const std::size_t size_count = m.m_sizes.Elements.GetSize();

  std::vector<bool> half(piece_count, false);
  for (const CHalfsElement& h : m.m_halfs.Elements) {
    if (h.PieceIndex >= 0 && static_cast<std::size_t>(h.PieceIndex) < piece_count) {
      half[static_cast<std::size_t>(h.PieceIndex)] = true;
    }
  }
  // The first split element that names each piece: the one whose cut lines
  // the position file writes.
  std::vector<std::int64_t> first_split(piece_count, -1);
  {
    std::int64_t position = 0;
    for (const CSplits::CElement& e : m.m_splits.Elements) {
      if (e.PieceIndex < piece_count && first_split[e.PieceIndex] < 0) first_split[e.PieceIndex] = position;
      ++position;
    }
  }

  std::vector<Box> boxes;
  std::vector<Cut> cuts;
  std::vector<std::size_t> pieces_of_size(size_count, 0);
  Bounds bounds;
  bounds.Add(0, 0);
  const double width = static_cast<double>(m.Width);
  if (std::isfinite(width)) bounds.Add(0, width);

  boxes.reserve(piece_count);
  for (std::size_t j = 0; j < piece_count; ++j) {
    const CMarkerPiece& p = m.m_pieces[j];
    Box box;
    box.index = j;
    const double place_x = p.PlaceX, place_y = p.PlaceY;
    const double min_x = p.MinX, max_x = p.MaxX, min_y = p.MinY, max_y = p.MaxY;
    box.cx = place_x + (min_x + max_x) * 0.5;
    box.cy = place_y + (min_y + max_y) * 0.5;
    box.w = max_x - min_x;
    box.h = max_y - min_y;
    box.half = half[j];
    box.label = "?";
    if (m.m_croixes.Elements.Contains(p.CroixIndex)) {
      const CCroixesElement& croix = m.m_croixes.Elements[p.CroixIndex];
      if (m.m_sizes.Elements.Contains(croix.SizeIndex)) {
        box.size = croix.SizeIndex;
        ++pieces_of_size[static_cast<std::size_t>(croix.SizeIndex)];
      }
      if (m.m_classes.Elements.Contains(croix.ClassIndex)) {
        box.label = AnsiToUtf8(FieldBytes(m.m_classes.Elements[croix.ClassIndex].Name), code_page);
      }
    }
    box.finite = Finite(box.cx, box.cy, box.w, box.h);
    if (!box.finite) {
      ++counts.left_out;
    } else {
      bounds.Add(box.cx - std::fabs(box.w) / 2, box.cy - std::fabs(box.h) / 2);
      bounds.Add(box.cx + std::fabs(box.w) / 2, box.cy + std::fabs(box.h) / 2);
    }
    boxes.push_back(std::move(box));

    if (first_split[j] < 0 || !std::isfinite(place_x) || !std::isfinite(place_y)) continue;
    const CSplits::CElement& element = m.m_splits.Elements[first_split[j]];
    // The first SplitCount lines (no more than the element holds).
    const std::size_t lines = element.SplitCount > 0
                                  ? std::min<std::size_t>(static_cast<std::size_t>(element.SplitCount),
                                                          element.Splits.GetSize())
                                  : 0;
    for (std::size_t k = 0; k < lines; ++k) {
      Cut cut;
      cut.piece = j;
      cut.line = element.Splits[k];
      output::ShiftCutLine(cut.line);
      cut.x1 = place_x + static_cast<double>(cut.line.A1);
      cut.y1 = place_y + static_cast<double>(cut.line.B1);
      cut.x2 = place_x + static_cast<double>(cut.line.A2);
      cut.y2 = place_y + static_cast<double>(cut.line.B2);
      if (!Finite(cut.x1, cut.y1, cut.x2, cut.y2)) {
        ++counts.left_out;
        continue;
      }
      bounds.Add(cut.x1, cut.y1);
      bounds.Add(cut.x2, cut.y2);
      cuts.push_back(cut);
    }
  }

  // The frame: the marker's width upwards, the length its pieces reach to
  // the right. The first coordinate runs along the marker.
  double length = 0;
  for (const Box& b : boxes) {
    if (b.finite) length = std::max(length, b.cx + std::fabs(b.w) / 2);
  }
  const double span_x = std::max(bounds.x1 - bounds.x0, 1.0);
  const double span_y = std::max(bounds.y1 - bounds.y0, 1.0);
  double scale = 1600.0 / span_x;
  if (span_y * scale > 1000.0) scale = 1000.0 / span_y;
  const double margin = 20, title_height = 34;
  const double drawing_width = span_x * scale, drawing_height = span_y * scale;
  auto X = [&](double x) { return margin + (x - bounds.x0) * scale; };
  auto Y = [&](double y) { return margin + title_height + (bounds.y1 - y) * scale; };

  // Legend: one entry per size (at most 60 listed), then the three signs.
  constexpr std::size_t kMaxListed = 60;
  const std::size_t listed = std::min(size_count, kMaxListed);
  const double entry_width = 170, entry_height = 20;
  const double picture_width = std::max(drawing_width + 2 * margin, 4 * entry_width + 2 * margin);
  const auto columns = static_cast<std::size_t>(std::max(1.0, std::floor((picture_width - 2 * margin) / entry_width)));
  const std::size_t entries = listed + (size_count > listed ? 1 : 0) + 3;
  const double legend_top = margin + title_height + drawing_height + 24;
  const double legend_height = 22 + static_cast<double>((entries + columns - 1) / columns) * entry_height;
  const double picture_height = legend_top + legend_height + margin;

  out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << Px(picture_width) << "\" height=\""
      << Px(picture_height) << "\" viewBox=\"0 0 " << Px(picture_width) << " " << Px(picture_height)
      << "\" font-family=\"DejaVu Sans, Arial, sans-serif\">\n";
  out << "<rect width=\"100%\" height=\"100%\" fill=\"#ffffff\"/>\n";

  const std::string name = AnsiToUtf8(FieldBytes(m.Name), code_page);
  char summary[160];
  std::snprintf(summary, sizeof summary, "width %.1f mm, %zu piece%s, %zu size%s, %zu cut line%s",
                width, piece_count, piece_count == 1 ? "" : "s", size_count,
                size_count == 1 ? "" : "s", cuts.size(), cuts.size() == 1 ? "" : "s");
  out << "<text class=\"title\" x=\"" << Px(margin) << "\" y=\"" << Px(margin + 16)
      << "\" font-size=\"18\" font-weight=\"bold\">" << Xml(name) << "</text>\n";
  out << "<text class=\"subtitle\" x=\"" << Px(margin) << "\" y=\"" << Px(margin + 32)
      << "\" font-size=\"12\" fill=\"#555555\">" << Xml(summary) << "</text>\n";

  // The frame of the marker: from 0 to the length the pieces reach, from 0
  // to the width.
  if (std::isfinite(width)) {
    const double top = Y(std::max(width, 0.0)), bottom = Y(std::min(width, 0.0));
    out << "<rect class=\"frame\" x=\"" << Px(X(0)) << "\" y=\"" << Px(top) << "\" width=\""
        << Px(std::max(length, 0.0) * scale) << "\" height=\"" << Px(bottom - top)
        << "\" fill=\"#f7f5ef\" stroke=\"#222222\" stroke-width=\"1.5\"/>\n";
  }

  // A box is drawn at least 2 px on each side, so that a piece without
  // extent still shows as a dot.
  out << "<g class=\"pieces\" stroke=\"#333333\" stroke-width=\"0.8\">\n";
  for (const Box& b : boxes) {
    if (!b.finite) continue;
    const double w = std::max(std::fabs(b.w) * scale, 2.0), h = std::max(std::fabs(b.h) * scale, 2.0);
    const std::string colour = b.size >= 0 ? SizeColour(static_cast<std::size_t>(b.size)) : kNoSizeColour;
    out << "<rect class=\"" << (b.half ? "piece half" : "piece") << "\" data-piece=\"" << b.index
        << "\" x=\"" << Px(X(b.cx) - w / 2) << "\" y=\"" << Px(Y(b.cy) - h / 2) << "\" width=\""
        << Px(w) << "\" height=\"" << Px(h) << "\" fill=\"" << colour << "\"";
    if (b.half) out << " fill-opacity=\"0.35\" stroke-dasharray=\"5 3\"";
    out << "><title>" << Xml(b.label) << " (piece " << b.index;
    if (b.size >= 0) out << ", size " << static_cast<int>(m.m_sizes.Elements[b.size].SizeNumber);
    out << (b.half ? ", half piece" : "") << ")</title></rect>\n";
    ++counts.pieces;
    if (b.half) ++counts.halfs;
  }
  out << "</g>\n";

  out << "<g class=\"cuts\" stroke=\"" << kCutColour << "\" stroke-width=\"1.4\" stroke-linecap=\"round\">\n";
  for (const Cut& c : cuts) {
    out << "<line class=\"cut\" data-piece=\"" << c.piece << "\" data-line=\""
        << Shortest(c.line.A1) << " " << Shortest(c.line.B1) << " " << Shortest(c.line.A2) << " "
        << Shortest(c.line.B2) << "\" x1=\"" << Px(X(c.x1)) << "\" y1=\"" << Px(Y(c.y1))
        << "\" x2=\"" << Px(X(c.x2)) << "\" y2=\"" << Px(Y(c.y2)) << "\"/>\n";
    ++counts.cut_lines;
  }
  out << "</g>\n";

  // Labels in the boxes, as large as the box allows (none below 3 px).
  out << "<g class=\"labels\" text-anchor=\"middle\" dominant-baseline=\"central\" fill=\"#111111\">\n";
  for (const Box& b : boxes) {
    if (!b.finite) continue;
    const double w = std::fabs(b.w) * scale, h = std::fabs(b.h) * scale;
    const double chars = static_cast<double>(std::max<std::size_t>(1, CodePoints(b.label)));
    const double size = std::min({13.0, h * 0.45, w * 0.92 / (0.6 * chars)});
    if (size < 3) continue;
    out << "<text x=\"" << Px(X(b.cx)) << "\" y=\"" << Px(Y(b.cy)) << "\" font-size=\"" << Px(size)
        << "\">" << Xml(b.label) << "</text>\n";
  }
  out << "</g>\n";

  // Legend.
  out << "<g class=\"legend\" font-size=\"12\">\n";
  out << "<text x=\"" << Px(margin) << "\" y=\"" << Px(legend_top + 10)
      << "\" font-weight=\"bold\">Sizes</text>\n";
  std::size_t slot = 0;
  auto place = [&](double& x, double& y) {
    x = margin + static_cast<double>(slot % columns) * entry_width;
    y = legend_top + 22 + static_cast<double>(slot / columns) * entry_height;
    ++slot;
  };
  double x = 0, y = 0;
  for (std::size_t i = 0; i < listed; ++i) {
    place(x, y);
    out << "<rect class=\"swatch\" x=\"" << Px(x) << "\" y=\"" << Px(y) << "\" width=\"14\" height=\"14\" fill=\""
        << SizeColour(i) << "\" stroke=\"#333333\" stroke-width=\"0.8\"/>";
    out << "<text x=\"" << Px(x + 20) << "\" y=\"" << Px(y + 11) << "\">size "
        << static_cast<int>(m.m_sizes.Elements[i].SizeNumber) << " (" << pieces_of_size[i]
        << (pieces_of_size[i] == 1 ? " piece" : " pieces") << ")</text>\n";
  }
  if (size_count > listed) {
    place(x, y);
    out << "<text x=\"" << Px(x) << "\" y=\"" << Px(y + 11) << "\">and " << (size_count - listed)
        << " more sizes</text>\n";
  }
  place(x, y);
  out << "<rect class=\"swatch\" x=\"" << Px(x) << "\" y=\"" << Px(y)
      << "\" width=\"14\" height=\"14\" fill=\"#9e9e9e\" fill-opacity=\"0.35\" stroke=\"#333333\" "
         "stroke-width=\"0.8\" stroke-dasharray=\"5 3\"/>";
  out << "<text x=\"" << Px(x + 20) << "\" y=\"" << Px(y + 11) << "\">half piece</text>\n";
  place(x, y);
  out << "<path d=\"M" << Px(x) << " " << Px(y + 7) << " h14\" stroke=\"" << kCutColour
      << "\" stroke-width=\"1.4\"/>";
  out << "<text x=\"" << Px(x + 20) << "\" y=\"" << Px(y + 11) << "\">cut line (shifted)</text>\n";
  place(x, y);
  out << "<rect class=\"swatch\" x=\"" << Px(x) << "\" y=\"" << Px(y)
      << "\" width=\"14\" height=\"14\" fill=\"" << kNoSizeColour
      << "\" stroke=\"#333333\" stroke-width=\"0.8\"/>";
  out << "<text x=\"" << Px(x + 20) << "\" y=\"" << Px(y + 11) << "\">in no size</text>\n";
  out << "</g>\n";
  if (counts.left_out > 0) {
    out << "<desc>" << counts.left_out
        << " pieces or cut lines have coordinates that are not finite and are not drawn</desc>\n";
  }
  out << "</svg>\n";
  return counts;
}

}  // namespace lumerca::tools
