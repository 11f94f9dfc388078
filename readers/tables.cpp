#include "readers/tables.h"

#include <algorithm>
#include <utility>

namespace lumerca::readers {

using namespace model;

namespace {

// The fixed record of each table, one read per field of exactly its width, in
// the order of its field list.
#define LUMERCA_READ_FIELD(type, name, extent) &&in.Field(e, &E::name)
#define LUMERCA_READ_FIXED(Element, FIELDS)              \
  bool ReadFixed(LayoutReader& in, Element& e) {         \
    using E = Element;                                   \
    return true FIELDS(LUMERCA_READ_FIELD);              \
  }
LUMERCA_READ_FIXED(CStylesElement, LUMERCA_STYLE_FIELDS)
LUMERCA_READ_FIXED(CSizesElement, LUMERCA_SIZE_FIELDS)
LUMERCA_READ_FIXED(CClassesElement, LUMERCA_CLASS_FIELDS)
LUMERCA_READ_FIXED(CCroixesElement, LUMERCA_CROIX_FIELDS)
LUMERCA_READ_FIXED(CHalfsElement, LUMERCA_HALF_FIELDS)
#undef LUMERCA_READ_FIXED
#undef LUMERCA_READ_FIELD

// The text part: each record's texts, in record order, behind all fixed
// records. Each returns the text in which the stream ended, or null.

const char* ReadTexts(LayoutReader& in, CStylesElement& e) {
  return in.Text(e.Name, sizeof e.Name, e.NameLength) ? nullptr : "the name of style";
}

const char* ReadTexts(LayoutReader& in, CSizesElement& e) {
  return in.Text(e.Name, sizeof e.Name, e.NameLength) ? nullptr : "the name of size";
}

const char* ReadTexts(LayoutReader& in, CClassesElement& e) {
  if (!in.Text(e.Name, sizeof e.Name, e.NameLength)) {
    in.Text(e.Text, sizeof e.Text, e.TextLength);  // empty: nothing more arrives
    return "the name of class";
  }
  return in.Text(e.Text, sizeof e.Text, e.TextLength) ? nullptr : "the text of class";
}

const char* ReadTexts(LayoutReader&, CCroixesElement&) { return nullptr; }
const char* ReadTexts(LayoutReader&, CHalfsElement&) { return nullptr; }

// What each table is to a reader of messages, and the size of its fixed
// record: whether texts follow the fixed records, the fixed record's bytes, a
// record (for a place in it) and the records.
struct TableInfo {
  bool has_texts = false;
  std::uint64_t fixed = 0;
  const char* record = "";
  const char* records = "";
};
template <class Element>
constexpr TableInfo kTable{};
template <>
constexpr TableInfo kTable<CStylesElement>{true, 0 LUMERCA_STYLE_FIELDS(LUMERCA_FIELD_BYTES), "the fixed record of style", "styles"};
template <>
constexpr TableInfo kTable<CSizesElement>{true, 0 LUMERCA_SIZE_FIELDS(LUMERCA_FIELD_BYTES), "the fixed record of size", "sizes"};
template <>
constexpr TableInfo kTable<CClassesElement>{true, 0 LUMERCA_CLASS_FIELDS(LUMERCA_FIELD_BYTES), "the fixed record of class", "classes"};
template <>
constexpr TableInfo kTable<CCroixesElement>{false, 0 LUMERCA_CROIX_FIELDS(LUMERCA_FIELD_BYTES), "CROIXES record", "CROIXES records"};
template <>
constexpr TableInfo kTable<CHalfsElement>{false, 0 LUMERCA_HALF_FIELDS(LUMERCA_FIELD_BYTES), "HALFS record", "HALFS records"};
// The fixed record is the record's fields but its texts.
static_assert(kTable<CStylesElement>.fixed == sizeof(CStylesElement) - sizeof(CStylesElement::Name));
static_assert(kTable<CSizesElement>.fixed == sizeof(CSizesElement) - sizeof(CSizesElement::Name));
static_assert(kTable<CClassesElement>.fixed ==
              sizeof(CClassesElement) - sizeof(CClassesElement::Name) - sizeof(CClassesElement::Text));
static_assert(kTable<CCroixesElement>.fixed == sizeof(CCroixesElement));
static_assert(kTable<CHalfsElement>.fixed == sizeof(CHalfsElement));

// The bytes of a record's texts in the stream.
std::uint64_t TextsOf(const CStylesElement& e) { return TextBytes(e.NameLength); }
std::uint64_t TextsOf(const CSizesElement& e) { return TextBytes(e.NameLength); }
std::uint64_t TextsOf(const CClassesElement& e) {
  return TextBytes(e.NameLength) + TextBytes(e.TextLength);
}
std::uint64_t TextsOf(const CCroixesElement&) { return 0; }
std::uint64_t TextsOf(const CHalfsElement&) { return 0; }

// The end of what the output files use: nothing of STYLES; the count and the
// fixed records of SIZES (its names are never written), of CROIXES and of
// HALFS; of CLASSES also every text up to the last class's name (its Text is
// never written, but each one stands before the next class's name). The part
// of a name beyond its buffer is not used either. `end_of_fixed` is the end
// of the fixed records, `records` those that arrived (all of them, when the
// stream did not end among them).
std::uint64_t UsedEnd(const CArray<CStylesElement>&, std::uint64_t) { return 0; }
std::uint64_t UsedEnd(const CArray<CSizesElement>&, std::uint64_t end_of_fixed) { return end_of_fixed; }
std::uint64_t UsedEnd(const CArray<CCroixesElement>&, std::uint64_t end_of_fixed) { return end_of_fixed; }
std::uint64_t UsedEnd(const CArray<CHalfsElement>&, std::uint64_t end_of_fixed) { return end_of_fixed; }

std::uint64_t UsedEnd(const CArray<CClassesElement>& records, std::uint64_t end_of_fixed) {
  std::uint64_t end = end_of_fixed;
  std::size_t k = 0;
  for (const CClassesElement& e : records) {
    if (++k == records.GetSize()) {
      end += std::min<std::uint64_t>(TextBytes(e.NameLength), sizeof e.Name - 1);
    } else {
      end += TextsOf(e);
    }
  }
  return end;
}

}  // namespace

template <class Element>
StreamRead ReadStream(CTable<Element>& table, storage::Stream& stream, std::uint32_t size) {
  constexpr TableInfo info = kTable<Element>;
  static_assert(info.fixed > 0, "a table without its TableInfo");
  LayoutReader in(stream);
  std::int16_t count = 0;
  const bool have_count = in.Field(&count, sizeof count);
  const std::int64_t declared = count > 0 ? count : 0;

  // The stream's records are collected apart from the table and enter it
  // together. The texts go into this stream's own records, whatever the table
  // held before. Storage grows with the records that arrived, never with the
  // count the stream declares.
  CArray<Element> records;
  Element work{};
  const char* place = have_count ? nullptr : "the record count";
  std::int64_t place_index = -1;
  for (std::int64_t i = 0; i < declared && !in.ended(); ++i) {
    if (!ReadFixed(in, work)) {
      place = info.record;
      place_index = i;
      break;
    }
    records.Add(work);
  }
  const std::uint64_t end_of_fixed = 2 + static_cast<std::uint64_t>(declared) * info.fixed;
  std::uint64_t texts = 0;
  std::int64_t index = 0;
  for (Element& record : records) {
    texts += TextsOf(record);
    const char* missing = ReadTexts(in, record);
    if (missing && !place) {
      place = missing;
      place_index = index;
    }
    ++index;
  }

  StreamRead read = in.Result();
  read.declared = end_of_fixed + texts;
  // The text lengths of records that did not arrive are not known.
  read.declared_known = have_count && (!info.has_texts ||
                                       static_cast<std::int64_t>(records.GetSize()) == declared);
  read.used_end = UsedEnd(records, end_of_fixed);
  read.records = info.records;
  read.declared_records = declared;
  read.kept_records = static_cast<std::int64_t>(records.GetSize());
  if (place) {
    read.place = place;
    read.place_index = place_index;
  }
  EmptyStreamHoldsNoRecords(read, size);

  table.Elements.Append(std::move(records));
  // A table cut short counts what it kept, so that Count never names records
  // that are not there.
  table.Count = in.ended() ? static_cast<std::int16_t>(read.kept_records) : count;
  return read;
}

template StreamRead ReadStream(CStyles&, storage::Stream&, std::uint32_t);
template StreamRead ReadStream(CSizes&, storage::Stream&, std::uint32_t);
template StreamRead ReadStream(CClasses&, storage::Stream&, std::uint32_t);
template StreamRead ReadStream(CCroixes&, storage::Stream&, std::uint32_t);
template StreamRead ReadStream(CHalfs&, storage::Stream&, std::uint32_t);

}  // namespace lumerca::readers
