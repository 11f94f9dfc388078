#include "tools/svg.h"

#include <lumerca/picture.h>

#include <ostream>
#include <string>

namespace lumerca::tools {

SvgCounts WriteSvg(std::ostream& out, const Marker& marker) {
  const Picture picture = DrawMarker(marker);
  const std::string svg = PictureSvg(picture);
  out.write(svg.data(), static_cast<std::streamsize>(svg.size()));
  SvgCounts counts;
  counts.pieces = picture.boxes.size();
  counts.halfs = picture.halfs;
  counts.cut_lines = picture.cuts.size();
  counts.left_out = picture.left_out;
  return counts;
}

}  // namespace lumerca::tools
