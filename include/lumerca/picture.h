#pragma once

// The picture of a marker: the marker drawn as a person looks at it. The
// picture is a list of what is drawn where, in the picture's pixels, so that
// every front door draws the same marker alike: lumerca-import --svg writes it
// as SVG (PictureSvg), and a program may draw the same list elsewhere (on a
// canvas, say) with the style below.
//
// The frame is the marker's width (the second coordinate, upwards) and the
// length that its pieces reach (the first coordinate, to the right); each
// piece is its box at its centre with its extent, filled with the colour of
// its size and labelled with its class name; half pieces are dashed and paler;
// the cut lines are those of the position file, moved sideways exactly as it
// moves them and drawn from the piece's placement; the legend lists the sizes.

#include <lumerca/export.h>
#include <lumerca/model.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace lumerca {

// How the picture's parts look: colours as 0xRRGGBB, widths in pixels.
struct PictureStyle {
  static constexpr const char* kFontFamily = "DejaVu Sans, Arial, sans-serif";
  static constexpr std::uint32_t kBackground = 0xffffff;
  static constexpr double kTitleFontSize = 18;       // bold
  static constexpr double kSubtitleFontSize = 12;
  static constexpr std::uint32_t kSubtitleColour = 0x555555;
  static constexpr std::uint32_t kFrameFill = 0xf7f5ef;
  static constexpr std::uint32_t kFrameStroke = 0x222222;
  static constexpr double kFrameStrokeWidth = 1.5;
  static constexpr std::uint32_t kPieceStroke = 0x333333;
  static constexpr double kPieceStrokeWidth = 0.8;
  static constexpr double kHalfOpacity = 0.35;       // of a half piece's fill
  static constexpr double kHalfDash = 5, kHalfGap = 3;  // a half piece's outline
  static constexpr std::uint32_t kNoSizeColour = 0xbdbdbd;  // a piece in no size
  static constexpr std::uint32_t kHalfSwatch = 0x9e9e9e;    // the legend's half piece
  static constexpr std::uint32_t kCutColour = 0xc62828;
  static constexpr double kCutWidth = 1.4;           // round caps
  static constexpr std::uint32_t kLabelColour = 0x111111;
  static constexpr double kLegendFontSize = 12;
  static constexpr double kSwatchSize = 14;
};

// A placed piece as drawn: its box (at least 2 pixels a side, so that a piece
// without extent still shows) and its label, centred in the box.
struct PictureBox {
  std::size_t piece = 0;                // its piece index
  double x = 0, y = 0, width = 0, height = 0;
  std::uint32_t fill = PictureStyle::kNoSizeColour;  // the colour of its size
  bool half = false;                    // a half piece: dashed, its fill paler
  std::int32_t size_index = -1;         // -1: it belongs to no size
  std::optional<std::uint8_t> size_number;
  std::string label{"?"};               // its class name, UTF-8 ("?": it names none)
  double label_x = 0, label_y = 0;
  double label_size = 0;                // font size; 0 when the box is too small for it
};

// A cut line as drawn from its piece's placement.
struct PictureCut {
  std::size_t piece = 0;
  CutLine line;                         // as the position file writes it (after the shift)
  double x1 = 0, y1 = 0, x2 = 0, y2 = 0;
};

// An entry of the legend, its top left corner at (x, y).
struct PictureLegendEntry {
  enum class Kind {
    Size,    // a swatch of the size's colour
    More,    // no swatch: the sizes not listed
    Half,    // a pale, dashed swatch
    Cut,     // a short cut line
    NoSize,  // a swatch of the colour of pieces in no size
  };
  Kind kind = Kind::Size;
  double x = 0, y = 0;
  std::uint32_t colour = 0;
  std::string text;
};

struct Picture {
  double width = 0, height = 0;         // the picture's size in pixels
  // Where marker coordinates (the units of the marker's width) are drawn:
  // x = left + (mx - min_x) * scale, y = top + (max_y - my) * scale.
  double scale = 1, left = 0, top = 0, min_x = 0, max_y = 0;

  std::string title;                    // the stored name, UTF-8, at (title_x, title_y)
  std::string summary;                  // width, pieces, sizes and cut lines, below it
  double title_x = 0, title_y = 0, summary_x = 0, summary_y = 0;

  bool frame = false;                   // the marker's frame (not when its width is not finite)
  double frame_x = 0, frame_y = 0, frame_width = 0, frame_height = 0;

  std::vector<PictureBox> boxes;        // drawn first, in piece order
  std::vector<PictureCut> cuts;         // then the cut lines, then the boxes' labels
  double legend_x = 0, legend_y = 0;    // the legend's heading "Sizes" (its baseline)
  std::vector<PictureLegendEntry> legend;

  std::size_t halfs = 0;                // boxes of half pieces
  std::size_t left_out = 0;             // pieces and cut lines not drawn: a coordinate not finite
};

// The picture of `marker`. Texts are decoded from its code page. Throws
// std::bad_alloc only.
[[nodiscard]] LUMERCA_API Picture DrawMarker(const Marker& marker);

// The picture as an SVG document (UTF-8). Each piece's rect carries
// class="piece" ("piece half" for a half piece) and data-piece (its index),
// each cut line class="cut", data-piece and data-line (A1 B1 A2 B2 after the
// shift, as the position file writes them). Throws std::bad_alloc only.
[[nodiscard]] LUMERCA_API std::string PictureSvg(const Picture& picture);

}  // namespace lumerca
