// The compound-file reader against documents from the tests' writer: whole
// trees read back, large and deep directories, and the writer's damages.

#include "storage/compound_file.h"
#include "tests/support/compound_writer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

namespace lumerca::storage {
namespace {

using testing::ByteVector;
using testing::CompoundImage;
using testing::Node;
using testing::StorageNode;
using testing::StreamNode;
using testing::U16;

std::unique_ptr<Storage> Open(const ByteVector& bytes) {
  return OpenCompoundFile(std::as_bytes(std::span(bytes)));
}

ByteVector Pattern(std::size_t size, std::uint32_t seed) {
  ByteVector data(size);
  for (std::size_t i = 0; i < size; ++i) data[i] = static_cast<std::uint8_t>((i * 31 + seed) ^ (i >> 9));
  return data;
}

// Reads to the end in chunks of 1, 2, ..., 86, 1, 2, ... bytes, as the
// readers do field by field.
ByteVector ReadAll(Stream& stream) {
  ByteVector out;
  std::uint8_t buffer[86];
  for (std::uint32_t chunk = 1;; chunk = chunk % 86 + 1) {
    const std::uint32_t got = stream.Read(buffer, chunk);
    out.insert(out.end(), buffer, buffer + got);
    if (got < chunk) return out;
  }
}

std::vector<Element> List(Storage& storage) {
  std::vector<Element> elements;
  auto enumerator = storage.EnumElements();
  Element element;
  while (enumerator && enumerator->Next(element) == Enumerator::Result::Element) elements.push_back(element);
  return elements;
}

constexpr std::size_t kSizes[] = {0, 1, 63, 64, 65, 4095, 4096, 4097, 10000, 70000};

Node SizesTree() {
  std::vector<Node> streams;
  for (std::size_t size : kSizes)
    streams.push_back(StreamNode(U16("s" + std::to_string(size)), Pattern(size, static_cast<std::uint32_t>(size))));
  return StorageNode(u"", {StorageNode(u"Sub", std::move(streams)), StreamNode(u"top", Pattern(5000, 9))});
}

TEST(CompoundRoundTrip, StreamsAroundTheCutoffInBothVersions) {
  for (int version : {3, 4}) {
    SCOPED_TRACE(version);
    auto root = Open(testing::WriteCompoundFile(SizesTree(), {version, 0}));
    ASSERT_TRUE(root);
    const auto top = List(*root);
    ASSERT_EQ(top.size(), 2U);
    EXPECT_EQ(top[0].name, u"Sub");
    EXPECT_EQ(top[1].name, u"top");
    EXPECT_EQ(top[1].size, 5000U);

    auto sub = root->OpenStorage(u"sub");
    ASSERT_TRUE(sub);
    EXPECT_EQ(List(*sub).size(), std::size(kSizes));
    for (std::size_t size : kSizes) {
      SCOPED_TRACE(size);
      auto stream = sub->OpenStream(U16("S" + std::to_string(size)));
      ASSERT_TRUE(stream);
      EXPECT_EQ(ReadAll(*stream), Pattern(size, static_cast<std::uint32_t>(size)));
    }
  }
}

TEST(CompoundRoundTrip, WriterDamages) {
  struct Case {
    const char* what;
    int version;
    std::uint32_t fat_sectors;
    std::function<void(CompoundImage&)> damage;
    const char16_t* stream;  // null: the open fails
    std::size_t delivered;
  };
  const Case cases[] = {
      {"DIFAT loop", 3, 110, [](CompoundImage& i) { i.LoopDifat(); }, nullptr, 0},
      {"DIFAT loop, version 4", 4, 110, [](CompoundImage& i) { i.LoopDifat(); }, nullptr, 0},
      {"directory chain loop", 3, 0, [](CompoundImage& i) { i.LoopDirectoryChain(); }, nullptr, 0},
      {"stream sector its own successor", 3, 0,
       [](CompoundImage& i) { i.LoopChain(i.Find(u"Sub/s10000")); }, u"s10000", 512},
      {"stream chain back to its start", 4, 0,
       [](CompoundImage& i) { i.LoopChain(i.Find(u"Sub/s70000"), 5); }, u"s70000", 6 * 4096},
      {"stream chain past the end", 3, 0,
       [](CompoundImage& i) { i.PointChainPastEnd(i.Find(u"Sub/s4097"), 1000, 3); }, u"s4097", 2048},
      {"mini stream chain loop", 3, 0,
       [](CompoundImage& i) { i.LoopChain(i.Find(u"Sub/s4095"), 10); }, u"s4095", 11 * 64},
      {"mini chain past the mini stream", 4, 0,
       [](CompoundImage& i) { i.PointChainPastEnd(i.Find(u"Sub/s65"), 5, 0); }, u"s65", 64},
      {"mini FAT chain loop", 3, 0, [](CompoundImage& i) { i.LoopMiniFatChain(); }, u"s4095", 4095},
      {"size above the file, version 4", 4, 0,
       [](CompoundImage& i) { i.entries[i.Find(u"Sub/s10000")].size = 1ULL << 40; }, u"s10000", 3 * 4096},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    CompoundImage image(SizesTree(), {c.version, c.fat_sectors});
    ASSERT_TRUE(Open(image.Bytes()));
    c.damage(image);
    auto root = Open(image.Bytes());
    if (c.stream == nullptr) {
      EXPECT_FALSE(root);
      continue;
    }
    ASSERT_TRUE(root);
    auto sub = root->OpenStorage(u"Sub");
    ASSERT_TRUE(sub);
    auto stream = sub->OpenStream(c.stream);
    ASSERT_TRUE(stream);
    const std::size_t size = std::stoul(std::string(c.stream + 1, c.stream + std::char_traits<char16_t>::length(c.stream)));
    ByteVector expected = Pattern(size, static_cast<std::uint32_t>(size));
    expected.resize(c.delivered);
    EXPECT_EQ(ReadAll(*stream), expected);
  }
}

// Every name is listed, in order, and opens. The reader pays its tree work
// from the document's allowance, so a search that cost more than a well-formed
// tree allows would end the listing early: no time limit is needed to see it.
TEST(CompoundRoundTrip, TwentyThousandStreamsInOneStorage) {
  std::vector<Node> streams;
  std::vector<std::u16string> names;
  for (int i = 0; i < 20000; ++i) {
    // Names of several lengths and both cases.
    std::string name = (i % 3 == 0 ? "p" : "Q") + std::to_string(i * 7919 % 100003);
    names.push_back(U16(name));
    streams.push_back(StreamNode(names.back(), ByteVector{static_cast<std::uint8_t>(i)}));
  }
  auto root = Open(testing::WriteCompoundFile(StorageNode(u"", std::move(streams))));
  ASSERT_TRUE(root);
  std::sort(names.begin(), names.end(),
            [](const auto& a, const auto& b) { return testing::CompareCompoundNames(a, b) < 0; });
  std::vector<std::u16string> listed;
  for (const Element& e : List(*root)) listed.push_back(e.name);
  EXPECT_EQ(listed, names);
  for (std::size_t i = 0; i < names.size(); i += 97) {
    auto stream = root->OpenStream(names[i]);
    ASSERT_TRUE(stream);
    EXPECT_EQ(ReadAll(*stream).size(), 1U);
  }
}

TEST(CompoundRoundTrip, FiftyThousandStreamsInOneSidedTree) {
  // The writer's balanced tree relinked into one chain of right links in name
  // order: still a valid search tree. Every stream is listed, and each name
  // opens its own stream (its two bytes are its number).
  constexpr std::uint32_t kCount = 50000;
  std::vector<Node> streams;
  std::vector<std::u16string> names;
  for (std::uint32_t i = 0; i < kCount; ++i) {
    // Ids follow this order, which is not the name order.
    const std::uint32_t number = i * 7919 % kCount;
    names.push_back(U16((number % 2 == 0 ? "s" : "T") + std::to_string(number)));
    streams.push_back(StreamNode(names.back(), ByteVector{static_cast<std::uint8_t>(number),
                                                          static_cast<std::uint8_t>(number >> 8)}));
  }
  CompoundImage image(StorageNode(u"", std::move(streams)));
  std::sort(names.begin(), names.end(),
            [](const auto& a, const auto& b) { return testing::CompareCompoundNames(a, b) < 0; });
  ASSERT_EQ(static_cast<std::size_t>(std::count_if(image.entries.begin(), image.entries.end(),
                                                   [](const auto& e) { return e.type == testing::kTypeStream; })),
            names.size());
  image.ChainElements();
  auto root = Open(image.Bytes());
  ASSERT_TRUE(root);

  std::vector<std::u16string> listed;
  for (const Element& e : List(*root)) listed.push_back(e.name);
  EXPECT_EQ(listed, names);
  std::size_t wrong = 0;
  for (const auto& name : names) {
    const std::uint32_t number = static_cast<std::uint32_t>(std::stoul(std::string(name.begin() + 1, name.end())));
    auto stream = root->OpenStream(name);
    if (!stream || ReadAll(*stream) != ByteVector{static_cast<std::uint8_t>(number),
                                                  static_cast<std::uint8_t>(number >> 8)})
      ++wrong;
  }
  EXPECT_EQ(wrong, 0U);
  EXPECT_FALSE(root->OpenStream(u"s1"));  // 1 is odd: only "T1" exists
  EXPECT_TRUE(root->OpenStream(u"t1"));
}

TEST(CompoundRoundTrip, TenThousandNestedStorages) {
  constexpr std::size_t kDepth = 10000;
  const ByteVector data = Pattern(300, 1);
  // Moved, never copied: a Node copies and destroys itself recursively.
  std::vector<Node> top;
  top.push_back(testing::NestedStorages(kDepth, u"Level", {StreamNode(u"PIECES", data)}));
  auto root = Open(testing::WriteCompoundFile(StorageNode(u"", std::move(top))));
  ASSERT_TRUE(root);
  // Keep every level open while descending, as the walk does.
  std::vector<std::unique_ptr<Storage>> levels;
  Storage* current = root.get();
  for (std::size_t depth = 0; depth < kDepth; ++depth) {
    auto enumerator = current->EnumElements();
    ASSERT_TRUE(enumerator);
    Element element;
    ASSERT_EQ(enumerator->Next(element), Enumerator::Result::Element);
    ASSERT_EQ(element.name, u"Level");
    ASSERT_EQ(enumerator->Next(element), Enumerator::Result::Done);
    levels.push_back(current->OpenStorage(element.name));
    ASSERT_TRUE(levels.back());
    current = levels.back().get();
  }
  auto stream = current->OpenStream(u"pieces");
  ASSERT_TRUE(stream);
  root.reset();  // the rest stays valid without the root
  levels.erase(levels.begin(), levels.begin() + 5000);
  EXPECT_EQ(ReadAll(*stream), data);
}

// Reads of 1 to 86 bytes across the 16,384 sectors of an 8 MiB stream deliver
// every byte. (What such reads cost is the benchmark's to measure: the
// conversion reads field by field and stays linear in the file's size. A time
// limit here would fail on a loaded machine, not on a slow reader.)
TEST(CompoundRoundTrip, SmallReadsOfALargeStreamDeliverEveryByte) {
  const ByteVector data = Pattern(8 << 20, 3);
  auto root = Open(testing::WriteCompoundFile(StorageNode(u"", {StreamNode(u"Big", data)})));
  ASSERT_TRUE(root);
  auto stream = root->OpenStream(u"Big");
  ASSERT_TRUE(stream);
  EXPECT_EQ(ReadAll(*stream), data);
}

}  // namespace
}  // namespace lumerca::storage
