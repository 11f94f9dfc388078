#pragma once

// Builders of the streams of a marker file, field by field, and of whole
// marker documents.

#include "tests/support/compound_writer.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace lumerca::testing {

// Little-endian byte string builder.
class Bytes {
public:
  Bytes& U8(std::uint8_t v);
  Bytes& I16(std::int16_t v);
  Bytes& U16(std::uint16_t v);
  Bytes& F32(float v);
  Bytes& Fill(std::size_t count, std::uint8_t value = 0);
  Bytes& Text(const std::string& text);  // the bytes, no length, no terminator
  Bytes& Append(const ByteVector& more);
  const ByteVector& bytes() const { return bytes_; }
  operator ByteVector() const { return bytes_; }

private:
  ByteVector bytes_;
};

struct HeaderRecipe {
  float width = 1600.0f;
  float scale_x = 1.0f;
  float scale_y = 1.0f;
  std::string text1, name, text3, text4;
};
struct SizeRecipe {
  std::uint8_t number = 0;
  std::string name;
};
struct ClassRecipe {
  std::string name;
  std::string text;
};
struct CroixRecipe {
  std::int16_t size_index = 0;
  std::int16_t class_index = 0;
};
struct PieceRecipe {
  std::int16_t croix_index = 0;
  std::uint8_t attr2 = 0;
  float attr4 = 0;
  std::uint8_t attr5 = 0;
  float place_x = 0, place_y = 0;
  float max_y = 0, min_y = 0, max_x = 0, min_x = 0;
};
struct SplitRecipe {
  float a1 = 0, b1 = 0, a2 = 0, b2 = 0;
  std::uint16_t offset_code = 0;
  std::uint16_t kind = 0;
  std::uint16_t raw5 = 0;
};

ByteVector MarkerStream(const HeaderRecipe& header);
ByteVector StylesStream(const std::vector<std::string>& names);
ByteVector SizesStream(const std::vector<SizeRecipe>& sizes);
ByteVector ClassesStream(const std::vector<ClassRecipe>& classes);
ByteVector CroixesStream(const std::vector<CroixRecipe>& croixes);
ByteVector HalfsStream(const std::vector<std::int16_t>& piece_indexes);
ByteVector PiecesStream(const std::vector<PieceRecipe>& pieces);
ByteVector CutsStream(const std::vector<SplitRecipe>& splits);
ByteVector ChessStream(std::int16_t count);  // count records of 38 bytes
ByteVector CasStream(std::int16_t count);    // count records of 20 bytes
ByteVector ClsStream(std::int16_t count);    // count records of 64 bytes

// A whole marker.
struct MarkerRecipe {
  HeaderRecipe header;
  std::vector<std::string> styles;
  std::vector<SizeRecipe> sizes;
  std::vector<ClassRecipe> classes;
  std::vector<CroixRecipe> croixes;
  std::vector<std::int16_t> halfs;
  std::vector<PieceRecipe> pieces;
  std::map<int, std::vector<SplitRecipe>> cuts;  // piece index -> its cut lines
  bool skipped_streams = false;  // add CHESS, .CAS, .CLS, .PGS and unknown streams
};

// The document tree: MARKER and the tables at the root, the .CUTS streams in a
// sub-storage "CUTS", the skipped kinds (if asked) in a sub-storage "EXTRA".
Node MarkerDocument(const MarkerRecipe& recipe);
ByteVector MarkerFile(const MarkerRecipe& recipe, const WriteOptions& options = {});

}  // namespace lumerca::testing
