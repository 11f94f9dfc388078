#include "bench/generator.h"

#include <algorithm>
#include <sstream>
#include <utility>

namespace lumerca::bench {

using testing::ByteVector;
using testing::MarkerRecipe;
using testing::Node;

std::uint64_t Random::Next() {
  state_ += 0x9E3779B97F4A7C15ULL;
  std::uint64_t z = state_;
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
  return z ^ (z >> 31);
}

float Random::Uniform(float low, float high) {
  const double fraction = static_cast<double>(Next() >> 11) * 0x1.0p-53;
  const double span = static_cast<double>(high) - static_cast<double>(low);
  return static_cast<float>(static_cast<double>(low) + span * fraction);
}

bool Shape::Valid() const {
  return pieces >= 1 && pieces <= kMaxPieces && sizes >= 1 && sizes <= kMaxTableRecords &&
         classes >= 1 && classes <= kMaxTableRecords && croixes >= 1 &&
         croixes <= kMaxTableRecords && halfs <= kMaxTableRecords &&
         styles <= kMaxTableRecords && splits_per_stream <= kMaxSplitsPerStream &&
         cut_streams_per_storage >= 1;
}

std::string Shape::Describe() const {
  std::ostringstream out;
  out << pieces << " pieces, " << sizes << " sizes, " << classes << " classes, " << croixes
      << " croixes, " << halfs << " halfs, " << styles << " styles, " << cut_streams
      << " .CUTS x " << splits_per_stream << " splits" << (long_names ? ", long names" : "");
  return out.str();
}

Shape Scaled(const Shape& top, unsigned halvings) {
  auto scale = [halvings](std::size_t n, std::size_t at_least) {
    return std::max<std::size_t>(at_least, n >> halvings);
  };
  Shape shape = top;
  shape.pieces = scale(top.pieces, 1);
  shape.sizes = scale(top.sizes, 1);
  shape.classes = scale(top.classes, 1);
  shape.croixes = scale(top.croixes, 1);
  shape.halfs = scale(top.halfs, 0);
  shape.styles = scale(top.styles, 0);
  shape.cut_streams = scale(top.cut_streams, 0);
  return shape;
}

Shape LargestShape(std::size_t cut_streams) {
  Shape shape;
  shape.pieces = kMaxPieces;
  shape.sizes = kMaxTableRecords;
  shape.classes = kMaxTableRecords;
  shape.croixes = kMaxTableRecords;
  shape.halfs = kMaxTableRecords;
  shape.styles = kMaxTableRecords;
  shape.cut_streams = cut_streams;
  shape.splits_per_stream = kMaxSplitsPerStream;
  shape.long_names = true;
  return shape;
}

namespace {

// Independent sequences for each part of the document, so that the tables
// and each .CUTS stream can be drawn separately in any order.
enum Part : std::uint64_t { kHeaderPart = 1, kTablesPart, kPiecesPart, kCutsPart };

Random PartRandom(std::uint64_t seed, std::uint64_t part, std::uint64_t index = 0) {
  Random mix(seed ^ (part * 0xD1B54A32D192ED03ULL) ^ (index * 0x8CB92BA72F3D8DD7ULL));
  return Random(mix.Next());
}

// Names mix every kind of byte that normalisation treats differently: capitals,
// small letters, digits, space, '-', '_', '.', '/', '#', other punctuation and
// Latin-1 letters of code page 1252.
std::string Text(Random& random, std::size_t length) {
  static constexpr char kCommon[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789 -_";
  static constexpr char kOther[] = "abcdefghijklmnopqrstuvwxyz./#+=()&,";
  std::string text;
  text.reserve(length);
  for (std::size_t i = 0; i < length; ++i) {
    const auto pick = random.Below(16);
    if (pick < 12) {
      text.push_back(kCommon[random.Below(sizeof kCommon - 1)]);
    } else if (pick < 15) {
      text.push_back(kOther[random.Below(sizeof kOther - 1)]);
    } else {
      text.push_back(static_cast<char>(0xC0 + random.Below(0x40)));
    }
  }
  return text;
}

std::size_t Length(Random& random, bool longest, std::size_t low, std::size_t high,
                   std::size_t limit) {
  if (longest) return limit;
  return low + random.Below(high - low + 1);
}

// Marker length along the first coordinate: room for the pieces side by side
// in rows of about 12 across the width.
float MarkerLength(const Shape& shape) {
  return 400.0f + 160.0f * static_cast<float>(shape.pieces / 12 + 1);
}

void FillTables(const Shape& shape, std::uint64_t seed, MarkerRecipe& marker) {
  Random header = PartRandom(seed, kHeaderPart);
  marker.header.width = header.Uniform(1400.0f, 2200.0f);
  marker.header.scale_x = header.Uniform(0.95f, 1.0f);
  marker.header.scale_y = header.Uniform(0.97f, 1.0f);
  const bool longest = shape.long_names;
  marker.header.text1 = Text(header, Length(header, longest, 0, 12, kMaxClassText));
  marker.header.name = Text(header, Length(header, longest, 4, 24, kMaxClassText));
  marker.header.text3 = Text(header, Length(header, longest, 0, 12, kMaxClassText));
  marker.header.text4 = Text(header, Length(header, longest, 0, 12, kMaxClassText));

  Random tables = PartRandom(seed, kTablesPart);
  marker.styles.reserve(shape.styles);
  for (std::size_t i = 0; i < shape.styles; ++i) {
    marker.styles.push_back(Text(tables, Length(tables, longest, 1, 12, kMaxStyleName)));
  }
  marker.sizes.reserve(shape.sizes);
  for (std::size_t i = 0; i < shape.sizes; ++i) {
    testing::SizeRecipe size;
    size.number = static_cast<std::uint8_t>(30 + (i * 2) % 40);
    size.name = Text(tables, Length(tables, longest, 1, 4, kMaxSizeName));
    marker.sizes.push_back(std::move(size));
  }
  marker.classes.reserve(shape.classes);
  for (std::size_t i = 0; i < shape.classes; ++i) {
    testing::ClassRecipe cls;
    cls.name = Text(tables, Length(tables, longest, 3, 16, kMaxClassText));
    cls.text = Text(tables, Length(tables, longest, 0, 8, kMaxClassText));
    marker.classes.push_back(std::move(cls));
  }
  // Croix i belongs to size i mod sizes, so that every size has pieces when
  // there are enough croixes.
  marker.croixes.reserve(shape.croixes);
  for (std::size_t i = 0; i < shape.croixes; ++i) {
    testing::CroixRecipe croix;
    croix.size_index = static_cast<std::int16_t>(i % shape.sizes);
    croix.class_index = static_cast<std::int16_t>(tables.Below(shape.classes));
    marker.croixes.push_back(croix);
  }
  marker.halfs.reserve(shape.halfs);
  for (std::size_t i = 0; i < shape.halfs; ++i) {
    marker.halfs.push_back(static_cast<std::int16_t>(tables.Below(std::min<std::size_t>(shape.pieces, 32768))));
  }

  Random pieces = PartRandom(seed, kPiecesPart);
  const float length = MarkerLength(shape);
  marker.pieces.reserve(shape.pieces);
  for (std::size_t i = 0; i < shape.pieces; ++i) {
    testing::PieceRecipe piece;
    // Piece i names croix i while there are croixes enough, so every croix is
    // used; beyond that a croix at random.
    piece.croix_index = static_cast<std::int16_t>(i < shape.croixes ? i : pieces.Below(shape.croixes));
    piece.attr2 = static_cast<std::uint8_t>(pieces.Below(4));
    piece.attr4 = pieces.Below(2) == 0 ? 0.0f : 180.0f;
    piece.attr5 = static_cast<std::uint8_t>(pieces.Below(3));
    piece.place_x = pieces.Uniform(0.0f, length);
    piece.place_y = pieces.Uniform(0.0f, marker.header.width);
    piece.min_x = -pieces.Uniform(20.0f, 160.0f);
    piece.max_x = pieces.Uniform(20.0f, 160.0f);
    piece.min_y = -pieces.Uniform(20.0f, 120.0f);
    piece.max_y = pieces.Uniform(20.0f, 120.0f);
    marker.pieces.push_back(piece);
  }
}

// The piece of .CUTS stream `s`: streams spread evenly over the pieces.
std::size_t CutPiece(const Shape& shape, std::size_t s) {
  if (shape.cut_streams <= shape.pieces) return s * shape.pieces / shape.cut_streams;
  return s % shape.pieces;
}

std::vector<testing::SplitRecipe> CutLines(const Shape& shape, std::uint64_t seed, std::size_t s,
                                         const testing::PieceRecipe& piece) {
  Random random = PartRandom(seed, kCutsPart, s);
  std::vector<testing::SplitRecipe> splits;
  splits.reserve(shape.splits_per_stream);
  for (std::size_t k = 0; k < shape.splits_per_stream; ++k) {
    testing::SplitRecipe split;
    // End points in the piece's own coordinates, within its box.
    split.a1 = random.Uniform(piece.min_x, piece.max_x);
    split.b1 = random.Uniform(piece.min_y, piece.max_y);
    split.a2 = random.Uniform(piece.min_x, piece.max_x);
    split.b2 = random.Uniform(piece.min_y, piece.max_y);
    split.kind = static_cast<std::uint16_t>(random.Below(6));
    // 15616 to 16640 are the distances 0.03 to 8 (2^(code/128 - 127)).
    split.offset_code = static_cast<std::uint16_t>(15616 + random.Below(1025));
    split.raw5 = static_cast<std::uint16_t>(random.Below(65536));
    splits.push_back(split);
  }
  return splits;
}

// "<piece>.CUTS", or with long names "<piece>." padded with letters to the
// 31 units that a stream name can hold.
std::u16string CutsName(const Shape& shape, std::size_t s, std::size_t piece) {
  std::string name = std::to_string(piece);
  if (shape.long_names) {
    name += '.';
    const std::string tail = ".CUTS";
    const std::string id = std::to_string(s);
    while (name.size() + id.size() + tail.size() < kMaxStreamName) name += 'X';
    name += id;
    name += tail;
  } else {
    if (s >= shape.pieces) {  // a second stream of the piece
      name += '.';
      name += std::to_string(s);
    }
    name += ".CUTS";
  }
  return testing::U16(name);
}

void AddSkippedStreams(const Shape& shape, Node& root) {
  Node extra = testing::StorageNode(u"EXTRA");
  const auto count = [](std::size_t n) {
    return static_cast<std::int16_t>(std::min<std::size_t>(n, kMaxTableRecords));
  };
  extra.children.push_back(testing::StreamNode(u"CHESS", testing::ChessStream(count(shape.pieces / 16 + 1))));
  extra.children.push_back(testing::StreamNode(u"1.CAS", testing::CasStream(count(shape.pieces / 32 + 1))));
  extra.children.push_back(testing::StreamNode(u"1.CLS", testing::ClsStream(count(shape.sizes / 8 + 1))));
  extra.children.push_back(testing::StreamNode(u"1.PGS", ByteVector(250 + shape.pieces, 0x5A)));
  extra.children.push_back(testing::StreamNode(u"NOTES", ByteVector(1000, 0x11)));
  root.children.push_back(std::move(extra));
}

}  // namespace

MarkerRecipe GenerateMarker(const Shape& shape, std::uint64_t seed) {
  MarkerRecipe marker;
  FillTables(shape, seed, marker);
  for (std::size_t s = 0; s < shape.cut_streams; ++s) {
    const std::size_t piece = CutPiece(shape, s);
    // A map keeps one stream per piece; a second stream of a piece (more
    // streams than pieces) is left out here.
    if (marker.cuts.count(static_cast<int>(piece)) == 0) {
      marker.cuts[static_cast<int>(piece)] = CutLines(shape, seed, s, marker.pieces[piece]);
    }
  }
  marker.skipped_streams = shape.skipped_streams;
  return marker;
}

Node GenerateDocument(const Shape& shape, std::uint64_t seed) {
  MarkerRecipe marker;
  FillTables(shape, seed, marker);

  Node root = testing::StorageNode(u"Root Entry");
  root.children.push_back(testing::StreamNode(u"MARKER", testing::MarkerStream(marker.header)));
  root.children.push_back(testing::StreamNode(u"STYLES", testing::StylesStream(marker.styles)));
  root.children.push_back(testing::StreamNode(u"SIZES", testing::SizesStream(marker.sizes)));
  root.children.push_back(testing::StreamNode(u"CLASSES", testing::ClassesStream(marker.classes)));
  root.children.push_back(testing::StreamNode(u"CROIXES", testing::CroixesStream(marker.croixes)));
  root.children.push_back(testing::StreamNode(u"HALFS", testing::HalfsStream(marker.halfs)));
  root.children.push_back(testing::StreamNode(u"PIECES", testing::PiecesStream(marker.pieces)));

  // Each .CUTS stream is drawn and encoded on its own, so that the largest
  // documents never hold their split records twice.
  Node group;
  for (std::size_t s = 0; s < shape.cut_streams; ++s) {
    if (s % shape.cut_streams_per_storage == 0) {
      if (s > 0) root.children.push_back(std::move(group));
      std::string group_name = "CUTS";
      group_name += std::to_string(s / shape.cut_streams_per_storage);
      group = testing::StorageNode(testing::U16(group_name));
    }
    const std::size_t piece = CutPiece(shape, s);
    group.children.push_back(testing::StreamNode(
        CutsName(shape, s, piece), testing::CutsStream(CutLines(shape, seed, s, marker.pieces[piece]))));
  }
  if (shape.cut_streams > 0) root.children.push_back(std::move(group));
  if (shape.skipped_streams) AddSkippedStreams(shape, root);
  return root;
}

ByteVector GenerateFile(const Shape& shape, std::uint64_t seed) {
  return testing::WriteCompoundFile(GenerateDocument(shape, seed));
}

}  // namespace lumerca::bench
