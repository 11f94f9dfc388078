#include "fuzz/import_input.h"

#include <algorithm>
#include <stdexcept>
#include <utility>

namespace lumerca::fuzzing {
namespace {

using testing::ByteVector;
using testing::Node;

// The names of parts 1 to 12; the .CUTS parts follow.
constexpr const char* kStreamNames[] = {"MARKER", "STYLES", "SIZES", "CLASSES", "CROIXES", "HALFS",
                                        "PIECES", "CHESS",  "1.CAS", "2.CLS",   "3.PGS",   "NOTES"};
constexpr std::size_t kNamedParts = sizeof(kStreamNames) / sizeof(kStreamNames[0]);
static_assert(kFirstCuts == kNamedParts + 1);

std::string PartName(std::size_t part, bool lower_case) {
  std::string name = part < kFirstCuts ? kStreamNames[part - 1]
                                       : std::to_string(part - kFirstCuts) + ".CUTS";
  if (lower_case) {
    for (char& c : name) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c);
  }
  return name;
}

bool IsTable(std::size_t part) { return part <= 7; }
bool IsCuts(std::size_t part) { return part >= kFirstCuts; }

}  // namespace

std::vector<std::span<const std::uint8_t>> SplitParts(std::span<const std::uint8_t> input) {
  std::vector<std::span<const std::uint8_t>> parts;
  auto begin = input.begin();
  for (;;) {
    auto found = std::search(begin, input.end(), kSeparator.begin(), kSeparator.end());
    parts.emplace_back(begin, found);
    if (found == input.end()) break;
    begin = found + static_cast<std::ptrdiff_t>(kSeparator.size());
  }
  return parts;
}

ImportInput DecodeImportInput(std::span<const std::uint8_t> input) {
  const auto parts = SplitParts(input);
  ImportInput result;
  const auto control = parts[0];
  const std::uint8_t flags = control.empty() ? 0 : control[0];
  result.version = (flags & 1) ? 4 : 3;
  const int layout = (flags >> 1) & 3;
  const bool lower_case = (flags & 8) != 0;
  result.salvage = (flags & 16) != 0;
  if (control.size() > 1) result.code_page = kCodePages[control[1] % std::size(kCodePages)];
  for (std::size_t i = 2; i < control.size() && result.caller_name.size() < kMaxCallerName; ++i) {
    if (control[i] == 0) break;
    result.caller_name.push_back(static_cast<char>(control[i]));
  }

  Node root = testing::StorageNode(u"Root Entry");
  Node cuts = testing::StorageNode(u"CUTS");
  Node extra = testing::StorageNode(u"EXTRA");
  Node down = testing::StorageNode(u"DOWN");
  const std::size_t last = std::min(parts.size(), kFirstCuts + kMaxCuts);
  for (std::size_t part = 1; part < last; ++part) {
    if (parts[part].empty()) continue;
    const std::u16string name = testing::U16(PartName(part, lower_case));
    Node stream = testing::StreamNode(name, ByteVector(parts[part].begin(), parts[part].end()));
    switch (layout) {
      case 0:
        root.children.push_back(std::move(stream));
        break;
      case 1:
        (IsTable(part) ? root : IsCuts(part) ? cuts : extra).children.push_back(std::move(stream));
        break;
      case 2:
        down.children.push_back(std::move(stream));
        break;
      default:
        root.children.push_back(testing::StorageNode(u"S" + name, {}));
        root.children.back().children.push_back(std::move(stream));
        break;
    }
  }
  for (Node* storage : {&cuts, &extra, &down}) {
    if (!storage->children.empty()) root.children.push_back(std::move(*storage));
  }
  result.document = std::move(root);
  return result;
}

ByteVector JoinParts(const std::vector<ByteVector>& parts) {
  ByteVector joined;
  for (std::size_t i = 0; i < parts.size(); ++i) {
    if (std::search(parts[i].begin(), parts[i].end(), kSeparator.begin(), kSeparator.end()) !=
        parts[i].end()) {
      throw std::invalid_argument("a part holds the separator");
    }
    if (i > 0) joined.insert(joined.end(), kSeparator.begin(), kSeparator.end());
    joined.insert(joined.end(), parts[i].begin(), parts[i].end());
  }
  return joined;
}

std::vector<ByteVector> MarkerParts(const testing::MarkerRecipe& recipe, std::uint8_t flags,
                                    std::uint8_t code_page_index, const std::string& caller_name) {
  using namespace testing;
  std::vector<ByteVector> parts;
  ByteVector control{flags, code_page_index};
  control.insert(control.end(), caller_name.begin(), caller_name.end());
  parts.push_back(std::move(control));
  parts.push_back(MarkerStream(recipe.header));
  parts.push_back(StylesStream(recipe.styles));
  parts.push_back(SizesStream(recipe.sizes));
  parts.push_back(ClassesStream(recipe.classes));
  parts.push_back(CroixesStream(recipe.croixes));
  parts.push_back(HalfsStream(recipe.halfs));
  parts.push_back(PiecesStream(recipe.pieces));
  if (recipe.skipped_streams) {
    parts.push_back(ChessStream(3));
    parts.push_back(CasStream(2));
    parts.push_back(ClsStream(2));
    parts.push_back(ByteVector(250, 0x5A));
    parts.push_back(ByteVector(100, 0x11));
  } else {
    parts.resize(kFirstCuts);
  }
  for (const auto& [piece, splits] : recipe.cuts) {
    if (piece < 0 || static_cast<std::size_t>(piece) >= kMaxCuts) continue;
    const std::size_t part = kFirstCuts + static_cast<std::size_t>(piece);
    if (parts.size() <= part) parts.resize(part + 1);
    parts[part] = CutsStream(splits);
  }
  return parts;
}

}  // namespace lumerca::fuzzing
