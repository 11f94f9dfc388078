// The model-and-order file ("csvimprt.txt").
//
// Model section: for each size of kind ModelNew, "=:model", "m:" with its
// model name, and "p:" with the class name and "i:1" for each of its pieces
// that is not a half piece. Order section: "=:order", "o:" the marker name,
// "d:lmr-import", "w:" the width in inches, "xs:" and "ys:" the scale factors
// as percentages, then for each size "m:" (ModelNew only), "q:1" and "s:" its
// size number (ModelNew and ModelSame).

#include "output/normalize.h"
#include "output/writers.h"
#include "platform/codepage.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <string_view>
#include <unordered_set>
#include <utility>

namespace lumerca::output {

using model::CCroixesElement;
using model::CMarker;

namespace {

// 1 / x; a zero scale factor gives an infinite value of its sign.
double Reciprocal(double x) {
  if (x == 0) return std::copysign(std::numeric_limits<double>::infinity(), x);
  return 1.0 / x;
}

// (1 / scale - 1) * 100: how much the marker was shrunk (or stretched), in %.
double ScalePercent(float scale) {
  return (Reciprocal(static_cast<double>(scale)) - 1.0) * 100.0;
}

const CCroixesElement& CroixOf(const CMarker& marker, std::uint32_t piece) {
  return marker.m_croixes.Elements[marker.m_pieces[piece].CroixIndex];
}

}  // namespace

ClassNames::ClassNames(const CMarker& marker, const platform::CodePage& code_page)
    : marker_(marker),
      code_page_(code_page),
      names_(marker.m_classes.Elements.GetSize()),
      done_(marker.m_classes.Elements.GetSize(), false) {}

const std::string& ClassNames::Of(std::int16_t class_index) {
  const model::CClassesElement& record = marker_.m_classes.Elements[class_index];
  const auto i = static_cast<std::size_t>(class_index);
  if (!done_[i]) {
    names_[i] = NormalizeName(model::FieldText(record.Name), code_page_);
    done_[i] = true;
  }
  return names_[i];
}

// A model name is the normalised marker name, "-" and the size number; a name
// equal to any earlier name (an earlier extended one included) gets "-" and
// the size index appended, and is not compared again.
//
// A size's class-name list is the normalised class names of all its pieces,
// half pieces included, in piece-index order. An empty list is ModelEmpty; a
// list equal to the previous size's (same length, same names at the same
// positions) is ModelSame; any other list is ModelNew.
void BuildModelList(const CMarker& marker, const model::ModelIndex& index, ClassNames& classes,
                    const std::string& marker_name, std::vector<std::string>& names,
                    std::vector<std::uint16_t>& kinds) {
  const std::size_t sizes = marker.m_sizes.Elements.GetSize();
  names.clear();
  kinds.clear();
  names.reserve(sizes);  // `taken` refers into `names`: it must never move
  kinds.reserve(sizes);

  std::unordered_set<std::string_view> taken;
  taken.reserve(sizes);
  std::vector<const std::string*> previous;
  std::vector<const std::string*> current;

  for (std::size_t i = 0; i < sizes; ++i) {
    std::string name = marker_name;
    name += '-';
    AppendDecimal(name, marker.m_sizes.Elements[i].SizeNumber);
    if (taken.count(name) != 0) {
      name += '-';
      AppendDecimal(name, static_cast<long long>(i));
    }
    names.push_back(std::move(name));
    taken.insert(names.back());

    current.clear();
    for (const std::uint32_t piece : index.PiecesOf(i)) {
      current.push_back(&classes.Of(CroixOf(marker, piece).ClassIndex));
    }
    std::uint16_t kind = CMarker::ModelNew;
    if (current.empty()) {
      kind = CMarker::ModelEmpty;
    } else if (std::equal(current.begin(), current.end(), previous.begin(), previous.end(),
                          [](const std::string* a, const std::string* b) { return *a == *b; })) {
      kind = CMarker::ModelSame;
    }
    kinds.push_back(kind);
    std::swap(previous, current);
  }
}

void WriteModelOrderFile(const CMarker& marker, const model::ModelIndex& index,
                         const platform::CodePage& code_page, std::string_view name,
                         CPrintfFile& file) {
  ClassNames classes(marker, code_page);
  const std::string marker_name = NormalizeName(name, code_page);

  std::vector<std::string> names;
  std::vector<std::uint16_t> kinds;
  BuildModelList(marker, index, classes, marker_name, names, kinds);

  const std::size_t sizes = marker.m_sizes.Elements.GetSize();
  for (std::size_t i = 0; i < sizes; ++i) {
    if (kinds[i] != CMarker::ModelNew) continue;
    file.Printf("=:model\n");
    file.Printf("m:%s\n", names[i]);
    for (const std::uint32_t piece : index.PiecesOf(i)) {
      if (index.IsHalf(piece)) continue;
      file.Printf("p:%s\n", classes.Of(CroixOf(marker, piece).ClassIndex));
      file.Printf("i:1\n");
    }
  }

  file.Printf("=:order\n");
  file.Printf("o:%s\n", marker_name);
  file.Printf("d:lmr-import\n");
  // Width is in millimetres; the order gives inches.
  file.Printf("w:%f\n", static_cast<double>(marker.Width) / 10.0 / 2.54);
  file.Printf("xs:%f\n", ScalePercent(marker.ScaleX));
  file.Printf("ys:%f\n", ScalePercent(marker.ScaleY));
  for (std::size_t i = 0; i < sizes; ++i) {
    const int size_number = marker.m_sizes.Elements[i].SizeNumber;
    switch (kinds[i]) {
      case CMarker::ModelNew:
        file.Printf("m:%s\n", names[i]);
        file.Printf("q:%d\n", 1);
        file.Printf("s:%d\n", size_number);
        break;
      case CMarker::ModelSame:  // listed under the last "m:" before it
        file.Printf("q:%d\n", 1);
        file.Printf("s:%d\n", size_number);
        break;
      default:
        break;
    }
  }
}

}  // namespace lumerca::output
