// The public view of a marker: its records as public data (copied field by
// field from the same field lists that declare the model's records) and what
// the output files derive from them, from the index built by the read.

#include <lumerca/model.h>

#include "entry/marker_data.h"
#include "output/writers.h"

#include <cmath>
#include <limits>
#include <stdexcept>

namespace lumerca {

namespace detail {

const MarkerData& MarkerData::Empty() {
  struct EmptyData : MarkerData {
    EmptyData() { index.emplace(model); }
  };
  static const EmptyData empty;
  return empty;
}

}  // namespace detail

namespace {

using detail::CopyField;
using detail::MarkerData;

template <std::size_t N>
std::string Text(const char (&field)[N]) {
  return std::string(model::FieldText(field));
}

#define LUMERCA_COPY_FIELD(type, name, extent) CopyField(out.name, in.name);
#define LUMERCA_COPY_TEXT(name, length, capacity) out.name = Text(in.name);
#define LUMERCA_NO_TEXTS(T)
#define LUMERCA_PUBLIC_RECORD(Public, Model, FIELDS, TEXTS) \
  Public ToPublic(const Model& in) {                        \
    Public out;                                              \
    FIELDS(LUMERCA_COPY_FIELD)                               \
    TEXTS(LUMERCA_COPY_TEXT)                                 \
    return out;                                              \
  }
LUMERCA_PUBLIC_RECORD(StyleRecord, model::CStylesElement, LUMERCA_STYLE_FIELDS, LUMERCA_STYLE_TEXTS)
LUMERCA_PUBLIC_RECORD(SizeRecord, model::CSizesElement, LUMERCA_SIZE_FIELDS, LUMERCA_SIZE_TEXTS)
LUMERCA_PUBLIC_RECORD(ClassRecord, model::CClassesElement, LUMERCA_CLASS_FIELDS, LUMERCA_CLASS_TEXTS)
LUMERCA_PUBLIC_RECORD(CroixRecord, model::CCroixesElement, LUMERCA_CROIX_FIELDS, LUMERCA_NO_TEXTS)
LUMERCA_PUBLIC_RECORD(HalfRecord, model::CHalfsElement, LUMERCA_HALF_FIELDS, LUMERCA_NO_TEXTS)
LUMERCA_PUBLIC_RECORD(PieceRecord, model::CMarkerPiece, LUMERCA_PIECE_FIELDS, LUMERCA_NO_TEXTS)
LUMERCA_PUBLIC_RECORD(SplitRecord, model::COneSplit, LUMERCA_SPLIT_FIELDS, LUMERCA_NO_TEXTS)
#undef LUMERCA_PUBLIC_RECORD
#undef LUMERCA_NO_TEXTS
#undef LUMERCA_COPY_TEXT
#undef LUMERCA_COPY_FIELD

template <class Public, class Element>
Table<Public> ToPublic(const model::CTable<Element>& table) {
  Table<Public> out;
  out.Count = table.Count;
  out.Records.reserve(table.Elements.GetSize());
  for (const Element& element : table.Elements) out.Records.push_back(ToPublic(element));
  return out;
}

CutsElement ToPublic(const model::CSplits::CElement& in) {
  CutsElement out;
#define LUMERCA_COPY_FIELD(type, name, extent) CopyField(out.name, in.name);
  LUMERCA_CUTS_HEADER_FIELDS(LUMERCA_COPY_FIELD)
#undef LUMERCA_COPY_FIELD
  out.PieceIndex = in.PieceIndex;
  out.Splits.reserve(in.Splits.GetSize());
  for (const model::COneSplit& split : in.Splits) {
    out.Splits.push_back(ToPublic(split));
    out.Splits.back().Offset = split.Offset;
  }
  return out;
}

double Percent(float scale) {
  if (scale == 0) return std::copysign(std::numeric_limits<double>::infinity(), static_cast<double>(scale));
  return (1.0 / static_cast<double>(scale) - 1.0) * 100.0;
}

}  // namespace

Marker::Marker() noexcept
    : data_(std::shared_ptr<const MarkerData>(), &MarkerData::Empty()) {}

unsigned Marker::CodePage() const noexcept {
  return data_->code_page ? data_->code_page->Id() : AnsiCodePage();
}

const MarkerHeader& Marker::Header() const noexcept { return data_->header; }
const std::string& Marker::Name() const noexcept { return data_->name; }

double Marker::WidthInches() const noexcept {
  return static_cast<double>(data_->model.Width) / 10.0 / 2.54;
}
double Marker::ScaleXPercent() const noexcept { return Percent(data_->model.ScaleX); }
double Marker::ScaleYPercent() const noexcept { return Percent(data_->model.ScaleY); }

Table<StyleRecord> Marker::Styles() const { return ToPublic<StyleRecord>(data_->model.m_styles); }
Table<SizeRecord> Marker::Sizes() const { return ToPublic<SizeRecord>(data_->model.m_sizes); }
Table<ClassRecord> Marker::Classes() const { return ToPublic<ClassRecord>(data_->model.m_classes); }
Table<CroixRecord> Marker::Croixes() const { return ToPublic<CroixRecord>(data_->model.m_croixes); }
Table<HalfRecord> Marker::Halfs() const { return ToPublic<HalfRecord>(data_->model.m_halfs); }

std::vector<CutsElement> Marker::Splits() const {
  std::vector<CutsElement> out;
  out.reserve(data_->model.m_splits.Elements.GetSize());
  for (const auto& element : data_->model.m_splits.Elements) out.push_back(ToPublic(element));
  return out;
}

std::size_t Marker::PieceCount() const noexcept { return data_->model.m_pieces.GetSize(); }

Piece Marker::PieceAt(std::size_t index) const {
  const MarkerData& data = *data_;
  const model::CMarker& m = data.model;
  if (index >= m.m_pieces.GetSize()) throw std::out_of_range("no piece of that index");
  const model::CMarkerPiece& record = m.m_pieces[index];
  Piece piece;
  piece.index = index;
  piece.record = ToPublic(record);
  piece.half = data.index->IsHalf(index);
  piece.written = !piece.half && data.index->SizeOf(index) >= 0;
  if (m.m_croixes.Elements.Contains(record.CroixIndex)) {
    const model::CCroixesElement& croix = m.m_croixes.Elements[record.CroixIndex];
    piece.size_index = croix.SizeIndex;
    piece.class_index = croix.ClassIndex;
    if (m.m_sizes.Elements.Contains(croix.SizeIndex)) {
      piece.size_number = m.m_sizes.Elements[croix.SizeIndex].SizeNumber;
    }
    if (m.m_classes.Elements.Contains(croix.ClassIndex)) {
      piece.class_name = Text(m.m_classes.Elements[croix.ClassIndex].Name);
      piece.written_name = data.class_names[static_cast<std::size_t>(croix.ClassIndex)];
    }
  }
  const model::PieceBox box = model::BoxOf(record);
  piece.centre_x = box.centre_x;
  piece.centre_y = box.centre_y;
  piece.extent_x = box.extent_x;
  piece.extent_y = box.extent_y;
  piece.cuts_element = data.index->FirstSplit(index);
  if (piece.cuts_element >= 0) {
    const auto& element = m.m_splits.Elements[piece.cuts_element];
    // A SplitCount beyond the cut lines held is a corrupt index (the read
    // says so); the view shows the lines there are.
    std::vector<model::COneSplit> lines;
    model::AppendShiftedCutLines(element, std::min(model::CutLineCount(element), element.Splits.GetSize()),
                                 lines);
    piece.cut_lines.reserve(lines.size());
    for (const model::COneSplit& line : lines) {
      piece.cut_lines.push_back({line.A1, line.B1, line.A2, line.B2, line.Side});
    }
  }
  return piece;
}

std::vector<Piece> Marker::Pieces() const {
  std::vector<Piece> pieces;
  pieces.reserve(PieceCount());
  for (std::size_t j = 0; j < PieceCount(); ++j) pieces.push_back(PieceAt(j));
  return pieces;
}

std::vector<SizeModel> Marker::Models() const {
  const MarkerData& data = *data_;
  const model::CMarker& m = data.model;
  std::vector<SizeModel> models;
  if (!data.indexes_hold || !data.code_page) return models;
  output::ClassNames classes(m, *data.code_page);
  std::vector<std::string> names;
  std::vector<std::uint16_t> kinds;
  output::BuildModelList(m, *data.index, classes, data.name, names, kinds);
  models.reserve(names.size());
  for (std::size_t i = 0; i < names.size(); ++i) {
    SizeModel size;
    size.index = i;
    size.size_number = m.m_sizes.Elements[i].SizeNumber;
    size.model_name = std::move(names[i]);
    size.kind = kinds[i] == model::CMarker::ModelNew    ? SizeModel::Kind::New
                 : kinds[i] == model::CMarker::ModelSame ? SizeModel::Kind::Same
                                                         : SizeModel::Kind::Empty;
    for (const std::uint32_t piece : data.index->PiecesOf(i)) {
      if (!data.index->IsHalf(piece)) ++size.pieces;
    }
    models.push_back(std::move(size));
  }
  return models;
}

}  // namespace lumerca
