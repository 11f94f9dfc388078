#include "bench/hostile.h"

#include "bench/generator.h"
#include "tests/support/marker_streams.h"
#include "tests/support/sample_markers.h"

#include <algorithm>
#include <string>
#include <utility>

namespace lumerca::bench {
namespace {

using testing::ByteVector;

// `prefix`, the number and `suffix`, as a stream or storage name.
std::u16string Numbered(const char* prefix, std::size_t number, const char* suffix) {
  std::string name = prefix;
  name += std::to_string(number);
  name += suffix;
  return testing::U16(name);
}
using testing::Node;
using testing::StorageNode;
using testing::StreamNode;

// The blouse marker's document: MARKER, the tables, PIECES and a CUTS storage.
Node Base() { return testing::MarkerDocument(testing::BlouseMarker()); }

// A .CUTS stream that declares `count` splits and holds none of them.
ByteVector CutsHeaderOnly(std::int16_t count) {
  return testing::Bytes().U8(0).I16(count).U16(0);
}

ByteVector CountOnly(std::uint16_t count) { return testing::Bytes().U16(count); }

ByteVector EmptyCuts(std::size_t n) {
  Node root = Base();
  Node cuts = StorageNode(u"HOSTILE");
  for (std::size_t i = 0; i < n; ++i) {
    cuts.children.push_back(StreamNode(Numbered("", i, ".CUTS"), CutsHeaderOnly(32767)));
  }
  root.children.push_back(std::move(cuts));
  return testing::WriteCompoundFile(root);
}

// Every counted stream with its largest count and nothing behind it, in n
// storages: PIECES 65,535, the tables, CHESS, .CAS, .CLS and .CUTS 32,767,
// and a MARKER whose four text lengths are 32,767.
ByteVector HugeCounts(std::size_t n) {
  Node root = Base();
  ByteVector marker = testing::Bytes().Fill(93).I16(32767).I16(32767).I16(32767).I16(32767).Fill(4);
  for (std::size_t i = 0; i < n; ++i) {
    Node storage = StorageNode(Numbered("H", i, ""));
    storage.children.push_back(StreamNode(u"PIECES", CountOnly(0xFFFF)));
    for (const char16_t* name : {u"STYLES", u"SIZES", u"CLASSES", u"CROIXES", u"HALFS", u"CHESS",
                                 u"1.CAS", u"1.CLS"}) {
      storage.children.push_back(StreamNode(name, CountOnly(0x7FFF)));
    }
    storage.children.push_back(StreamNode(u"2.CUTS", CutsHeaderOnly(32767)));
    storage.children.push_back(StreamNode(u"MARKER", marker));
    root.children.push_back(std::move(storage));
  }
  return testing::WriteCompoundFile(root);
}

// One split each, so that every stream is decoded into the model.
ByteVector ManyStreams(std::size_t n) {
  Node root = Base();
  Node storage = StorageNode(u"MANY");
  const testing::SplitSpec split{0, 0, 10, 0, 16256, 2, 0};
  for (std::size_t i = 0; i < n; ++i) {
    storage.children.push_back(StreamNode(Numbered("", i, ".CUTS"), testing::CutsStream({split})));
  }
  root.children.push_back(std::move(storage));
  return testing::WriteCompoundFile(root);
}

// The pieces at the bottom of n nested storages; the tables at the root.
ByteVector Nested(std::size_t n) {
  Node root = Base();
  auto pieces = std::find_if(root.children.begin(), root.children.end(),
                             [](const Node& child) { return child.name == u"PIECES"; });
  Node stream = std::move(*pieces);
  root.children.erase(pieces);
  std::vector<Node> innermost;
  innermost.push_back(std::move(stream));
  root.children.push_back(testing::NestedStorages(n, u"NEST", std::move(innermost)));
  return testing::WriteCompoundFile(root);
}

// n storages at the root, each with a PIECES stream of one piece.
ByteVector PiecesStorages(std::size_t n) {
  Node root = Base();
  testing::PieceSpec piece;
  piece.place_x = 10;
  piece.max_x = 5;
  piece.max_y = 5;
  const ByteVector stream = testing::PiecesStream({piece});
  for (std::size_t i = 0; i < n; ++i) {
    Node storage = StorageNode(Numbered("P", i, ""));
    storage.children.push_back(StreamNode(u"PIECES", stream));
    root.children.push_back(std::move(storage));
  }
  return testing::WriteCompoundFile(root);
}

// n nested storages with n / 5 streams at the bottom that each end before
// their declared layout: every rejected stream is reported with its path.
ByteVector DeepRejects(std::size_t n) {
  Node root = Base();
  std::vector<Node> innermost;
  for (std::size_t i = 0; i < n / 5; ++i) {
    innermost.push_back(StreamNode(Numbered("", i, ".CUTS"), CutsHeaderOnly(5)));
  }
  root.children.push_back(testing::NestedStorages(n, u"NEST", std::move(innermost)));
  return testing::WriteCompoundFile(root);
}

// n elements in the root storage whose tree is one chain of right links:
// each lookup by name walks down the chain.
ByteVector OneSided(std::size_t n) {
  Node root = Base();
  for (std::size_t i = root.children.size(); i < n; ++i) {
    root.children.push_back(StreamNode(Numbered("X", i, ".CUTS"), CutsHeaderOnly(0)));
  }
  testing::CompoundImage image(root);
  image.ChainElements();
  return std::move(image).TakeBytes();
}

}  // namespace

std::vector<HostileShape> HostileShapes() {
  return {
      {"cuts-declaring-32767", "1,000 .CUTS streams each declaring 32,767 splits in 5 bytes", 1000,
       EmptyCuts},
      {"huge-counts", "1,000 storages of 11 streams, each count at its maximum, no records", 1000,
       HugeCounts},
      {"20000-streams", "20,000 .CUTS streams of one split in one storage", 20000, ManyStreams},
      {"3000-pieces-storages", "3,000 storages each with its own PIECES stream of one piece", 3000,
       PiecesStorages},
      {"nested-10000", "PIECES under 10,000 nested storages", 10000, Nested},
      {"deep-rejects", "2,000 short .CUTS streams under 10,000 nested storages", 10000, DeepRejects},
      {"one-sided-5600", "5,600 elements in one storage, tree a chain of right links", 5600,
       OneSided},
  };
}

std::vector<HostileCase> HostileCases(std::size_t largest_cut_streams, std::uint64_t seed) {
  std::vector<HostileCase> cases;
  for (const HostileShape& shape : HostileShapes()) {
    cases.push_back({shape.name, shape.what, [shape] { return shape.build(shape.catalogue_n); }});
  }
  const Shape largest = LargestShape(largest_cut_streams);
  cases.push_back({"largest-valid", "every table at its limit, " + largest.Describe(),
                   [largest, seed] { return GenerateFile(largest, seed); }});
  return cases;
}

}  // namespace lumerca::bench
