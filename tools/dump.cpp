#include "tools/dump.h"

#include "entry/import_steps.h"
#include "output/model_index.h"
#include "output/normalize.h"
#include "storage/storage.h"
#include "platform/codepage.h"

#include <lumerca/marker.h>

#include <nlohmann/json.hpp>

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <ostream>
#include <string>
#include <vector>

namespace lumerca::tools {
namespace {

using json = nlohmann::ordered_json;

// ------------------------------------------------------------ values

// Compact JSON text; a byte sequence that is not UTF-8 (a path given in
// another encoding) is replaced by U+FFFD rather than failing.
std::string Dump(const json& value) {
  return value.dump(-1, ' ', false, json::error_handler_t::replace);
}

// A float as the shortest decimal that reads back as the same float; NaN and
// the infinities, which JSON has no number for, as strings.
json Number(float value) {
  if (std::isnan(value)) return "nan";
  if (std::isinf(value)) return value > 0 ? "inf" : "-inf";
  char text[32];
  const auto result = std::to_chars(text, text + sizeof text, value);
  *result.ptr = '\0';
  return std::strtod(text, nullptr);
}

json Number(double value) {
  if (std::isnan(value)) return "nan";
  if (std::isinf(value)) return value > 0 ? "inf" : "-inf";
  return value;
}

// Uninterpreted bytes as lower-case hex, two digits a byte.
template <std::size_t N>
json Hex(const unsigned char (&bytes)[N]) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  text.reserve(2 * N);
  for (const unsigned char b : bytes) {
    text.push_back(kDigits[b >> 4]);
    text.push_back(kDigits[b & 15]);
  }
  return text;
}

template <std::size_t N>
json Text(const char (&field)[N]) {
  return platform::AnsiToUtf8(output::FieldText(field), AnsiCodePage());
}

// NormalizeName of a text field, as the output files write it.
template <std::size_t N>
json Normalized(const char (&field)[N]) {
  return platform::AnsiToUtf8(NormalizeName(output::FieldText(field)), AnsiCodePage());
}

// ------------------------------------------------------------ the walk

const char* TypeName(std::uint32_t type) {
  switch (static_cast<storage::ElementType>(type)) {
    case storage::ElementType::Storage: return "storage";
    case storage::ElementType::Stream: return "stream";
    case storage::ElementType::LockBytes: return "lockbytes";
    case storage::ElementType::Property: return "property";
    case storage::ElementType::Root: return "root";
  }
  return "unknown";
}

const char* OutcomeName(WalkEntry::Outcome outcome) {
  using Outcome = WalkEntry::Outcome;
  switch (outcome) {
    case Outcome::Read: return "read";
    case Outcome::Short: return "damaged";
    case Outcome::Skipped: return "skipped";
    case Outcome::Entered: return "entered";
    case Outcome::PassedOver: return "passed over";
    case Outcome::OpenFailed: return "cannot open";
    case Outcome::EnumFailed: return "cannot list";
    case Outcome::NextFailed: return "listing failed";
    case Outcome::Overrun: return "walk stopped";
  }
  return "unknown";
}

// Why an element was not used; null for one that was.
json Why(const WalkEntry& entry, const std::string& name) {
  using Outcome = WalkEntry::Outcome;
  const bool is_storage = entry.type == static_cast<std::uint32_t>(storage::ElementType::Storage);
  switch (entry.outcome) {
    case Outcome::Read:
    case Outcome::Entered:
      return nullptr;
    case Outcome::Short:
      return "the stream " + DamageText(entry.read, false);
    case Outcome::Skipped:
      return "the stream's name begins with no piece number, so its cut lines belong to no piece";
    case Outcome::PassedOver:
      if (!name.empty() && name[0] == '\x05') {
        return "the name begins with U+0005 (a property set), which the walk never opens";
      }
      return "an element of type " + std::to_string(entry.type) + ", neither storage nor stream";
    case Outcome::OpenFailed:
      return is_storage ? "the storage cannot be opened; the rest of the storage that holds it was "
                          "not read"
                        : "the stream cannot be opened; the rest of the storage that holds it was "
                          "not read";
    case Outcome::EnumFailed:
      return "the storage cannot be listed; none of its elements was read";
    case Outcome::NextFailed:
      return "listing the storage failed part way; its remaining elements were not read";
    case Outcome::Overrun:
      return "the walk met more elements, or read more bytes, than the document holds, so "
             "storages or streams share their contents; the walk stopped here";
  }
  return nullptr;
}

// A path of at most about kMaxPath bytes (as many as the walk keeps): a
// longer one (a deep nest of storages) keeps its last components after ".../",
// so that the dump stays linear in the size of the file.
constexpr std::size_t kMaxPath = kMaxWalkPathBytes;

std::string ShortPath(const std::string& path) {
  if (path.size() <= kMaxPath) return path;
  std::size_t start = path.find('/', path.size() - kMaxPath);
  if (start == std::string::npos) {
    // One long component: cut at the start of a UTF-8 character.
    start = path.size() - kMaxPath;
    while (start < path.size() && (static_cast<unsigned char>(path[start]) & 0xC0) == 0x80) ++start;
  }
  std::string shortened = "...";
  shortened += path.substr(start);
  return shortened;
}

// The walk in the order it met the elements. `parent` is the position in the
// walk of the storage that holds the element (-1 for the root). An entry for a
// storage whose listing failed names that storage.
void WriteWalk(std::ostream& out, const WalkReport& report, std::size_t& trouble) {
  using Outcome = WalkEntry::Outcome;
  // For the storage whose elements lie at depth d: its position in the walk.
  std::vector<long long> parent{-1};
  out << "\"walk\": [";
  std::size_t position = 0;
  for (const WalkEntry& entry : report.entries) {
    const auto depth = static_cast<std::size_t>(entry.depth < 0 ? 0 : entry.depth);
    json record;
    record["depth"] = depth;
    record["parent"] = depth < parent.size() ? parent[depth] : -1;
    const bool storage_note = entry.outcome == Outcome::EnumFailed || entry.outcome == Outcome::NextFailed;
    if (!storage_note) {
      record["name"] = entry.name;
      record["type"] = TypeName(entry.type);
      record["size"] = entry.size;
      if (entry.reader[0] != '\0') record["reader"] = entry.reader;
    } else {
      record["storage"] = ShortPath(entry.path);
    }
    record["outcome"] = OutcomeName(entry.outcome);
    if (entry.reader[0] != '\0' && entry.outcome != Outcome::Skipped) {
      // What the stream's layout declares through its counts and lengths (at
      // least, when it ended before they all arrived), and what arrived.
      record["declared"] = entry.read.declared;
      if (!entry.read.declared_known) record["declared_at_least"] = true;
      record["arrived"] = entry.read.arrived;
      if (entry.outcome == Outcome::Short) record["used"] = entry.read.Used();
    }
    json why = Why(entry, entry.name);
    if (!why.is_null()) {
      record["why"] = std::move(why);
      if (!storage_note) record["path"] = ShortPath(entry.path);
    }
    if (IsTrouble(entry.outcome)) ++trouble;
    if (entry.outcome == Outcome::Entered) {
      parent.resize(depth + 2);
      parent[depth + 1] = static_cast<long long>(position);
    }
    out << (position == 0 ? "\n" : ",\n") << Dump(record);
    ++position;
  }
  out << "\n]";
}

// ------------------------------------------------------------ the model

// A fixed header field: bytes as hex, numbers as numbers.
template <std::size_t N>
json Field(const unsigned char (&bytes)[N]) {
  return Hex(bytes);
}
json Field(float value) { return Number(value); }
json Field(std::int16_t value) { return value; }

json Header(const CMarker& m) {
  json h;
#define LUMERCA_SHOW_FIELD(type, name, extent) h[#name] = Field(m.name);
  LUMERCA_MARKER_FIXED_FIELDS(LUMERCA_SHOW_FIELD)
#undef LUMERCA_SHOW_FIELD
  h["Name"] = Text(m.Name);
  h["Text1"] = Text(m.Text1);
  h["Text3"] = Text(m.Text3);
  h["Text4"] = Text(m.Text4);
  h["NormalizedName"] = Normalized(m.Name);
  return h;
}

json Record(const CStylesElement& r) {
  return {{"Raw1", r.Raw1}, {"NameLength", r.NameLength}, {"Raw3", r.Raw3}, {"Name", Text(r.Name)}};
}

json Record(const CSizesElement& r) {
  return {{"Raw1", Hex(r.Raw1)}, {"SizeNumber", r.SizeNumber}, {"Raw3", Hex(r.Raw3)},
          {"NameLength", r.NameLength}, {"Raw5", r.Raw5}, {"Name", Text(r.Name)}};
}

json Record(const CClassesElement& r) {
  return {{"Raw1", Hex(r.Raw1)},         {"NameLength", r.NameLength}, {"TextLength", r.TextLength},
          {"Raw4", r.Raw4},              {"Name", Text(r.Name)},       {"Text", Text(r.Text)},
          {"NormalizedName", Normalized(r.Name)}};
}

json Record(const CCroixesElement& r) {
  return {{"Raw1", Hex(r.Raw1)}, {"SizeIndex", r.SizeIndex}, {"ClassIndex", r.ClassIndex},
          {"Raw4", Hex(r.Raw4)}};
}

json Record(const CHalfsElement& r) {
  return {{"Raw1", Hex(r.Raw1)}, {"Raw2", r.Raw2}, {"PieceIndex", r.PieceIndex}};
}

template <class Table>
void WriteTable(std::ostream& out, const char* key, const Table& table) {
  out << ",\n\"" << key << "\": {\"Count\": " << table.Count << ", \"records\": [";
  std::size_t index = 0;
  for (const auto& element : table.Elements) {
    json record = Record(element);
    record["index"] = index;
    out << (index == 0 ? "\n" : ",\n") << Dump(record);
    ++index;
  }
  out << "\n]}";
}

json Piece(const CMarker& m, std::size_t index, const std::vector<bool>& half) {
  const CMarkerPiece& p = m.m_pieces[index];
  json r;
  r["index"] = index;
  r["Raw1"] = Hex(p.Raw1);
  r["Attr2"] = p.Attr2;
  r["Raw3"] = Hex(p.Raw3);
  r["Attr4"] = Number(p.Attr4);
  r["Attr5"] = p.Attr5;
  r["Raw6"] = Hex(p.Raw6);
  r["PlaceX"] = Number(p.PlaceX);
  r["PlaceY"] = Number(p.PlaceY);
  r["Raw9"] = Hex(p.Raw9);
  r["MaxY"] = Number(p.MaxY);
  r["MinY"] = Number(p.MinY);
  r["MaxX"] = Number(p.MaxX);
  r["MinX"] = Number(p.MinX);
  r["CroixIndex"] = p.CroixIndex;
  r["Raw15"] = Hex(p.Raw15);
  // Derived as the position file derives them.
  const output::PieceBox box = output::BoxOf(p);
  r["centre"] = {Number(box.centre_x), Number(box.centre_y)};
  r["extent"] = {Number(box.extent_x), Number(box.extent_y)};
  r["half"] = static_cast<bool>(half[index]);
  // The size and class that the piece's CROIXES record names, when it does.
  if (m.m_croixes.Elements.Contains(p.CroixIndex)) {
    const CCroixesElement& croix = m.m_croixes.Elements[p.CroixIndex];
    r["SizeIndex"] = croix.SizeIndex;
    r["ClassIndex"] = croix.ClassIndex;
    r["SizeNumber"] = m.m_sizes.Elements.Contains(croix.SizeIndex)
                          ? json(m.m_sizes.Elements[croix.SizeIndex].SizeNumber)
                          : json(nullptr);
    r["Class"] = m.m_classes.Elements.Contains(croix.ClassIndex)
                     ? Text(m.m_classes.Elements[croix.ClassIndex].Name)
                     : json(nullptr);
  } else {
    r["SizeIndex"] = nullptr;
    r["ClassIndex"] = nullptr;
    r["SizeNumber"] = nullptr;
    r["Class"] = nullptr;
  }
  return r;
}

json SplitElement(const CSplits::CElement& e, std::size_t index, bool first) {
  json r;
  r["index"] = index;
  r["PieceIndex"] = e.PieceIndex;
  r["Raw1"] = e.Raw1;
  r["SplitCount"] = e.SplitCount;
  r["Raw3"] = e.Raw3;
  // The position file takes the cut lines of a piece from the first element
  // that names it; later ones are never used.
  r["first_for_piece"] = first;
  json splits = json::array();
  for (const auto& s : e.Splits) {
    splits.push_back({{"A1", Number(s.A1)},
                      {"B1", Number(s.B1)},
                      {"A2", Number(s.A2)},
                      {"B2", Number(s.B2)},
                      {"Raw5", s.Raw5},
                      {"OffsetCode", s.OffsetCode},
                      {"Kind", s.Kind},
                      {"Offset", Number(s.Offset)}});
  }
  r["splits"] = std::move(splits);
  return r;
}

// What ImportMarker would conclude from the model (short of writing).
json Verdict(const CMarker& m, const WalkReport& report) {
  if (report.used_damage > 0) {
    return {{"status", "damaged"}, {"message", DamageReason(report)}};
  }
  if (m.m_pieces.IsEmpty()) {
    return {{"status", "no pieces"}, {"message", StatusText(ImportStatus::NoPieces)}};
  }
  try {
    m.ValidateIndexes();
  } catch (const IndexOutOfRange& e) {
    return {{"status", "corrupt index"}, {"message", e.what()}};
  }
  return {{"status", "imports"}, {"message", "the file would be imported"}};
}

}  // namespace

std::unique_ptr<CMarker> LoadMarker(const std::filesystem::path& file, WalkReport& report,
                                    std::string* why) {
  auto model = std::make_unique<CMarker>();
  report.record_all = true;
  if (!OpenAndWalk(file, *model, report, why)) return nullptr;
  return model;
}

bool WriteDump(std::ostream& out, const std::filesystem::path& file) {
  WalkReport report;
  std::string why;
  const std::unique_ptr<CMarker> model = LoadMarker(file, report, &why);
  out << "{\n\"file\": " << Dump(file.string())
      << ",\n\"code_page\": " << AnsiCodePage() << ",\n\"opened\": " << (model ? "true" : "false");
  if (!model) {
    out << ",\n\"result\": "
        << Dump({{"status", "cannot be opened"},
                 {"message", std::string(StatusText(ImportStatus::CannotOpen)) + " (" + why + ")"},
                 {"why", why}})
        << "\n}\n";
    return false;
  }
  const CMarker& m = *model;
  out << ",\n\"result\": " << Dump(Verdict(m, report)) << ",\n";

  std::size_t trouble = 0;
  WriteWalk(out, report, trouble);
  out << ",\n\"not_used\": " << trouble;
  out << ",\n\"header\": " << Dump(Header(m));
  WriteTable(out, "styles", m.m_styles);
  WriteTable(out, "sizes", m.m_sizes);
  WriteTable(out, "classes", m.m_classes);
  WriteTable(out, "croixes", m.m_croixes);
  WriteTable(out, "halfs", m.m_halfs);

  const std::vector<bool> half = output::HalfPieces(m);
  out << ",\n\"pieces\": [";
  for (std::size_t j = 0; j < m.m_pieces.GetSize(); ++j) {
    out << (j == 0 ? "\n" : ",\n") << Dump(Piece(m, j, half));
  }
  out << "\n]";

  const std::vector<std::int32_t> first_split = output::FirstSplitElements(m);
  out << ",\n\"splits\": [";
  std::size_t index = 0;
  for (const CSplits::CElement& e : m.m_splits.Elements) {
    const bool first = e.PieceIndex < first_split.size() &&
                       static_cast<std::size_t>(first_split[e.PieceIndex]) == index;
    out << (index == 0 ? "\n" : ",\n") << Dump(SplitElement(e, index, first));
    ++index;
  }
  out << "\n]\n}\n";
  return true;
}

}  // namespace lumerca::tools
