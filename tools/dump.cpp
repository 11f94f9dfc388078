#include "tools/dump.h"

#include <lumerca/marker.h>

#include <nlohmann/json.hpp>

#include <array>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <ostream>
#include <string>
#include <type_traits>
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
json Hex(const std::array<std::uint8_t, N>& bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  text.reserve(2 * N);
  for (const std::uint8_t b : bytes) {
    text.push_back(kDigits[b >> 4]);
    text.push_back(kDigits[b & 15]);
  }
  return text;
}

// The JSON of one field of a record: bytes as hex, numbers as numbers, texts
// decoded from the marker's code page.
class FieldJson {
public:
  explicit FieldJson(unsigned code_page) : code_page_(code_page) {}
  template <std::size_t N>
  json operator()(const std::array<std::uint8_t, N>& bytes) const { return Hex(bytes); }
  json operator()(float value) const { return Number(value); }
  json operator()(double value) const { return Number(value); }
  json operator()(const std::string& text) const { return ToUtf8(text, code_page_); }
  template <class T, class = std::enable_if_t<std::is_integral_v<T>>>
  json operator()(T value) const { return value; }

private:
  unsigned code_page_;
};

// Every field of a record, in the order of its stream.
template <class Record>
json RecordJson(const Record& record, const FieldJson& field) {
  json r;
  ForEachField(record, [&](const char* name, const auto& value) { r[name] = field(value); });
  return r;
}

// ------------------------------------------------------------ the walk

const char* TypeName(std::uint32_t type) {
  switch (type) {
    case WalkElement::Storage: return "storage";
    case WalkElement::Stream: return "stream";
    case WalkElement::LockBytes: return "lockbytes";
    case WalkElement::Property: return "property";
    case WalkElement::Root: return "root";
  }
  return "unknown";
}

using Outcome = WalkElement::Outcome;

const char* OutcomeName(Outcome outcome) {
  switch (outcome) {
    case Outcome::Read: return "read";
    case Outcome::Damaged: return "damaged";
    case Outcome::Skipped: return "skipped";
    case Outcome::Entered: return "entered";
    case Outcome::PassedOver: return "passed over";
    case Outcome::CannotOpen: return "cannot open";
    case Outcome::CannotList: return "cannot list";
    case Outcome::ListingFailed: return "listing failed";
    case Outcome::Stopped: return "walk stopped";
  }
  return "unknown";
}

// What a damaged stream lacks, with what salvage would import.
std::string DamageWithHint(const std::string& damage, const std::string& salvage) {
  return salvage.empty() ? damage : damage + " (--salvage imports " + salvage + ")";
}

// Why an element was not used; null for one that was.
json Why(const WalkElement& element) {
  const bool is_storage = element.type == WalkElement::Storage;
  switch (element.outcome) {
    case Outcome::Read:
    case Outcome::Entered:
      return nullptr;
    case Outcome::Damaged:
      return "the stream " + DamageWithHint(element.damage, element.salvage);
    case Outcome::Skipped:
      return "the stream's name begins with no piece number, so its cut lines belong to no piece";
    case Outcome::PassedOver:
      if (!element.name.empty() && element.name[0] == '\x05') {
        return "the name begins with U+0005 (a property set), which the walk never opens";
      }
      return "an element of type " + std::to_string(element.type) + ", neither storage nor stream";
    case Outcome::CannotOpen:
      return is_storage ? "the storage cannot be opened; the rest of the storage that holds it was "
                          "not read"
                        : "the stream cannot be opened; the rest of the storage that holds it was "
                          "not read";
    case Outcome::CannotList:
      return "the storage cannot be listed; none of its elements was read";
    case Outcome::ListingFailed:
      return "listing the storage failed part way; its remaining elements were not read";
    case Outcome::Stopped:
      return "the walk met more elements, or read more bytes, than the document holds, so "
             "storages or streams share their contents; the walk stopped here";
  }
  return nullptr;
}

// An outcome that leaves something of the document unread or not used.
bool IsTrouble(Outcome outcome) {
  return outcome != Outcome::Read && outcome != Outcome::Entered && outcome != Outcome::PassedOver;
}

// A path of at most about kMaxPath bytes (as many as the walk keeps): a
// longer one (a deep nest of storages) keeps its last components after ".../",
// so that the dump stays linear in the size of the file.
constexpr std::size_t kMaxPath = 512;

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
void WriteWalk(std::ostream& out, const std::vector<WalkElement>& walk, std::size_t& trouble) {
  out << "\"walk\": [";
  std::size_t position = 0;
  for (const WalkElement& element : walk) {
    json record;
    record["depth"] = element.depth < 0 ? 0 : element.depth;
    record["parent"] = element.parent;
    const bool storage_note =
        element.outcome == Outcome::CannotList || element.outcome == Outcome::ListingFailed;
    if (!storage_note) {
      record["name"] = element.name;
      record["type"] = TypeName(element.type);
      record["size"] = element.size;
      if (!element.reader.empty()) record["reader"] = element.reader;
    } else {
      record["storage"] = ShortPath(element.path);
    }
    record["outcome"] = OutcomeName(element.outcome);
    if (!element.reader.empty() && element.outcome != Outcome::Skipped) {
      // What the stream's layout declares through its counts and lengths (at
      // least, when it ended before they all arrived), and what arrived.
      record["declared"] = element.declared;
      if (!element.declared_known) record["declared_at_least"] = true;
      record["arrived"] = element.arrived;
      if (element.outcome == Outcome::Damaged) record["used"] = element.used;
    }
    json why = Why(element);
    if (!why.is_null()) {
      record["why"] = std::move(why);
      if (!storage_note) record["path"] = ShortPath(element.path);
    }
    if (IsTrouble(element.outcome)) ++trouble;
    out << (position == 0 ? "\n" : ",\n") << Dump(record);
    ++position;
  }
  out << "\n]";
}

// ------------------------------------------------------------ the model

json Header(const Marker& m, const FieldJson& field) {
  const MarkerHeader& header = m.Header();
  json h;
  ForEachField(header, [&](const char* name, const auto& value) {
    if constexpr (!std::is_same_v<std::decay_t<decltype(value)>, std::string>) h[name] = field(value);
  });
  h["Name"] = field(header.Name);
  h["Text1"] = field(header.Text1);
  h["Text3"] = field(header.Text3);
  h["Text4"] = field(header.Text4);
  h["NormalizedName"] = ToUtf8(m.Name(), m.CodePage());
  return h;
}

template <class Record, class Extra>
void WriteTable(std::ostream& out, const char* key, const Table<Record>& table,
                const FieldJson& field, Extra extra) {
  out << ",\n\"" << key << "\": {\"Count\": " << table.Count << ", \"records\": [";
  std::size_t index = 0;
  for (const Record& element : table.Records) {
    json record = RecordJson(element, field);
    extra(record, element);
    record["index"] = index;
    out << (index == 0 ? "\n" : ",\n") << Dump(record);
    ++index;
  }
  out << "\n]}";
}

template <class Record>
void WriteTable(std::ostream& out, const char* key, const Table<Record>& table,
                const FieldJson& field) {
  WriteTable(out, key, table, field, [](json&, const Record&) {});
}

json PieceJson(const Piece& p, const FieldJson& field) {
  json r;
  r["index"] = p.index;
  ForEachField(p.record, [&](const char* name, const auto& value) { r[name] = field(value); });
  // Derived as the position file derives them.
  r["centre"] = {Number(p.centre_x), Number(p.centre_y)};
  r["extent"] = {Number(p.extent_x), Number(p.extent_y)};
  r["half"] = p.half;
  // The size and class that the piece's CROIXES record names, when it does.
  r["SizeIndex"] = p.size_index ? json(*p.size_index) : json(nullptr);
  r["ClassIndex"] = p.class_index ? json(*p.class_index) : json(nullptr);
  r["SizeNumber"] = p.size_number ? json(*p.size_number) : json(nullptr);
  r["Class"] = p.class_name ? field(*p.class_name) : json(nullptr);
  return r;
}

json SplitElement(const CutsElement& e, std::size_t index, bool first, const FieldJson& field) {
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
  for (const SplitRecord& s : e.Splits) {
    json split = RecordJson(s, field);
    split["Offset"] = Number(s.Offset);
    splits.push_back(std::move(split));
  }
  r["splits"] = std::move(splits);
  return r;
}

// What ImportMarker would conclude from the marker (short of writing).
json Verdict(const ReadResult& read) {
  switch (read.status) {
    case ImportStatus::Imported:
      return {{"status", "imports"}, {"message", "the file would be imported"}};
    case ImportStatus::Damaged:
      return {{"status", "damaged"}, {"message", DamageWithHint(read.reason, read.salvage)}};
    case ImportStatus::NoPieces:
      return {{"status", "no pieces"}, {"message", StatusText(ImportStatus::NoPieces)}};
    case ImportStatus::CorruptIndex:
      return {{"status", "corrupt index"}, {"message", read.reason}};
    default:
      return {{"status", StatusText(read.status)}, {"message", read.reason}};
  }
}

}  // namespace

bool WriteDump(std::ostream& out, const std::filesystem::path& file, unsigned code_page) {
  ReadOptions options;
  options.walk = true;
  options.code_page = code_page;
  const ReadResult read = ReadMarker(file, options);
  const bool opened = read.status != ImportStatus::CannotOpen;
  out << "{\n\"file\": " << Dump(file.string())
      << ",\n\"code_page\": " << (code_page != 0 ? code_page : read.marker.CodePage())
      << ",\n\"opened\": " << (opened ? "true" : "false");
  if (!opened) {
    out << ",\n\"result\": "
        << Dump({{"status", "cannot be opened"},
                 {"message", std::string(StatusText(ImportStatus::CannotOpen)) + " (" + read.reason + ")"},
                 {"why", read.reason}})
        << "\n}\n";
    return false;
  }
  const Marker& m = read.marker;
  const FieldJson field(m.CodePage());
  out << ",\n\"result\": " << Dump(Verdict(read)) << ",\n";

  std::size_t trouble = 0;
  WriteWalk(out, read.walk, trouble);
  out << ",\n\"not_used\": " << trouble;
  out << ",\n\"header\": " << Dump(Header(m, field));
  WriteTable(out, "styles", m.Styles(), field);
  WriteTable(out, "sizes", m.Sizes(), field);
  WriteTable(out, "classes", m.Classes(), field, [&](json& record, const ClassRecord& c) {
    record["NormalizedName"] = ToUtf8(NormalizedName(c.Name, m.CodePage()), m.CodePage());
  });
  WriteTable(out, "croixes", m.Croixes(), field);
  WriteTable(out, "halfs", m.Halfs(), field);

  const std::size_t piece_count = m.PieceCount();
  out << ",\n\"pieces\": [";
  for (std::size_t j = 0; j < piece_count; ++j) {
    out << (j == 0 ? "\n" : ",\n") << Dump(PieceJson(m.PieceAt(j), field));
  }
  out << "\n]";

  // The first element that names a piece is the one whose cut lines it takes.
  std::vector<bool> named(piece_count, false);
  out << ",\n\"splits\": [";
  std::size_t index = 0;
  for (const CutsElement& e : m.Splits()) {
    const bool first = e.PieceIndex < piece_count && !named[e.PieceIndex];
    if (first) named[e.PieceIndex] = true;
    out << (index == 0 ? "\n" : ",\n") << Dump(SplitElement(e, index, first, field));
    ++index;
  }
  out << "\n]\n}\n";
  return true;
}

}  // namespace lumerca::tools
