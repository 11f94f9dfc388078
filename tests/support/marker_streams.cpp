#include "tests/support/marker_streams.h"

#include <bit>
#include <cstring>

namespace lumerca::testing {

Bytes& Bytes::U8(std::uint8_t v) {
  bytes_.push_back(v);
  return *this;
}
Bytes& Bytes::U16(std::uint16_t v) {
  bytes_.push_back(static_cast<std::uint8_t>(v & 0xFF));
  bytes_.push_back(static_cast<std::uint8_t>(v >> 8));
  return *this;
}
Bytes& Bytes::I16(std::int16_t v) { return U16(static_cast<std::uint16_t>(v)); }
Bytes& Bytes::F32(float v) {
  auto bits = std::bit_cast<std::uint32_t>(v);
  for (int i = 0; i < 4; ++i) bytes_.push_back(static_cast<std::uint8_t>(bits >> (8 * i)));
  return *this;
}
Bytes& Bytes::Fill(std::size_t count, std::uint8_t value) {
  bytes_.insert(bytes_.end(), count, value);
  return *this;
}
Bytes& Bytes::Text(const std::string& text) {
  bytes_.insert(bytes_.end(), text.begin(), text.end());
  return *this;
}
Bytes& Bytes::Append(const ByteVector& more) {
  bytes_.insert(bytes_.end(), more.begin(), more.end());
  return *this;
}

namespace {
std::int16_t Len(const std::string& s) { return static_cast<std::int16_t>(s.size()); }
}  // namespace

ByteVector MarkerStream(const HeaderRecipe& h) {
  Bytes b;
  b.Fill(6).F32(h.width).Fill(10).F32(h.scale_x).F32(h.scale_y);
  b.Fill(18).Fill(2).Fill(2).Fill(2).Fill(1).Fill(40);
  b.I16(Len(h.text1)).I16(Len(h.name)).I16(Len(h.text3)).I16(Len(h.text4)).Fill(4);
  b.Text(h.text1).Text(h.name).Text(h.text3).Text(h.text4);
  return b;
}

ByteVector StylesStream(const std::vector<std::string>& names) {
  Bytes b;
  b.I16(static_cast<std::int16_t>(names.size()));
  for (const auto& n : names) b.I16(0).I16(Len(n)).I16(0);
  for (const auto& n : names) b.Text(n);
  return b;
}

ByteVector SizesStream(const std::vector<SizeRecipe>& sizes) {
  Bytes b;
  b.I16(static_cast<std::int16_t>(sizes.size()));
  for (const auto& s : sizes) b.Fill(4).U8(s.number).Fill(7).I16(Len(s.name)).I16(0);
  for (const auto& s : sizes) b.Text(s.name);
  return b;
}

ByteVector ClassesStream(const std::vector<ClassRecipe>& classes) {
  Bytes b;
  b.I16(static_cast<std::int16_t>(classes.size()));
  for (const auto& c : classes) b.Fill(4).I16(Len(c.name)).I16(Len(c.text)).I16(0);
  for (const auto& c : classes) b.Text(c.name).Text(c.text);
  return b;
}

ByteVector CroixesStream(const std::vector<CroixRecipe>& croixes) {
  Bytes b;
  b.I16(static_cast<std::int16_t>(croixes.size()));
  for (const auto& c : croixes) b.Fill(4).I16(c.size_index).I16(c.class_index).Fill(8);
  return b;
}

ByteVector HalfsStream(const std::vector<std::int16_t>& piece_indexes) {
  Bytes b;
  b.I16(static_cast<std::int16_t>(piece_indexes.size()));
  for (auto p : piece_indexes) b.Fill(12).I16(0).I16(p);
  return b;
}

ByteVector PiecesStream(const std::vector<PieceRecipe>& pieces) {
  Bytes b;
  b.U16(static_cast<std::uint16_t>(pieces.size()));
  for (const auto& p : pieces) {
    b.Fill(4).U8(p.attr2).Fill(1).F32(p.attr4).U8(p.attr5).Fill(5);
    b.F32(p.place_x).F32(p.place_y).Fill(4);
    b.F32(p.max_y).F32(p.min_y).F32(p.max_x).F32(p.min_x);
    b.I16(p.croix_index).Fill(40);
  }
  return b;
}

ByteVector CutsStream(const std::vector<SplitRecipe>& splits) {
  Bytes b;
  b.U8(0).I16(static_cast<std::int16_t>(splits.size())).U16(0);
  for (const auto& s : splits) {
    b.F32(s.a1).F32(s.b1).F32(s.a2).F32(s.b2).U16(s.raw5).U16(s.offset_code).U16(s.kind);
  }
  return b;
}

ByteVector ChessStream(std::int16_t count) {
  Bytes b;
  b.I16(count);
  for (int i = 0; i < count; ++i) b.Fill(38, static_cast<std::uint8_t>(i));
  return b;
}

ByteVector CasStream(std::int16_t count) {
  Bytes b;
  b.I16(count);
  for (int i = 0; i < count; ++i) b.Fill(20, static_cast<std::uint8_t>(i));
  return b;
}

ByteVector ClsStream(std::int16_t count) {
  Bytes b;
  b.I16(count);
  for (int i = 0; i < count; ++i) b.Fill(64, static_cast<std::uint8_t>(i));
  return b;
}

Node MarkerDocument(const MarkerRecipe& recipe) {
  Node root = StorageNode(u"Root Entry");
  root.children.push_back(StreamNode(u"MARKER", MarkerStream(recipe.header)));
  root.children.push_back(StreamNode(u"STYLES", StylesStream(recipe.styles)));
  root.children.push_back(StreamNode(u"SIZES", SizesStream(recipe.sizes)));
  root.children.push_back(StreamNode(u"CLASSES", ClassesStream(recipe.classes)));
  root.children.push_back(StreamNode(u"CROIXES", CroixesStream(recipe.croixes)));
  root.children.push_back(StreamNode(u"HALFS", HalfsStream(recipe.halfs)));
  root.children.push_back(StreamNode(u"PIECES", PiecesStream(recipe.pieces)));
  if (!recipe.cuts.empty()) {
    Node cuts = StorageNode(u"CUTS");
    for (const auto& [piece, splits] : recipe.cuts) {
      cuts.children.push_back(StreamNode(U16(std::to_string(piece) + ".CUTS"), CutsStream(splits)));
    }
    root.children.push_back(std::move(cuts));
  }
  if (recipe.skipped_streams) {
    Node extra = StorageNode(u"EXTRA");
    extra.children.push_back(StreamNode(u"CHESS", ChessStream(3)));
    extra.children.push_back(StreamNode(u"1.CAS", CasStream(2)));
    extra.children.push_back(StreamNode(u"1.CLS", ClsStream(2)));
    extra.children.push_back(StreamNode(u"1.PGS", ByteVector(250, 0x5A)));
    extra.children.push_back(StreamNode(u"NOTES", ByteVector(1000, 0x11)));
    root.children.push_back(std::move(extra));
  }
  return root;
}

ByteVector MarkerFile(const MarkerRecipe& recipe, const WriteOptions& options) {
  return WriteCompoundFile(MarkerDocument(recipe), options);
}

}  // namespace lumerca::testing
