#include "readers/tables.h"

#include <algorithm>
#include <utility>

namespace lumerca {

namespace {

// The fixed record of each table, one read per field of exactly its width.

bool ReadFixed(LayoutReader& in, CStylesElement& e) {
  using E = CStylesElement;
  return in.Field(e, &E::Raw1) && in.Field(e, &E::NameLength) && in.Field(e, &E::Raw3);
}

bool ReadFixed(LayoutReader& in, CSizesElement& e) {
  using E = CSizesElement;
  return in.Field(e, &E::Raw1) && in.Field(e, &E::SizeNumber) && in.Field(e, &E::Raw3) &&
         in.Field(e, &E::NameLength) && in.Field(e, &E::Raw5);
}

bool ReadFixed(LayoutReader& in, CClassesElement& e) {
  using E = CClassesElement;
  return in.Field(e, &E::Raw1) && in.Field(e, &E::NameLength) && in.Field(e, &E::TextLength) &&
         in.Field(e, &E::Raw4);
}

bool ReadFixed(LayoutReader& in, CCroixesElement& e) {
  using E = CCroixesElement;
  return in.Field(e, &E::Raw1) && in.Field(e, &E::SizeIndex) && in.Field(e, &E::ClassIndex) &&
         in.Field(e, &E::Raw4);
}

bool ReadFixed(LayoutReader& in, CHalfsElement& e) {
  using E = CHalfsElement;
  return in.Field(e, &E::Raw1) && in.Field(e, &E::Raw2) && in.Field(e, &E::PieceIndex);
}

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

// What each table is to a reader of messages, and how much of its stream the
// output files use.
template <class Element>
struct Table;

template <>
struct Table<CStylesElement> {
  static constexpr bool kHasTexts = true;
  static constexpr std::uint64_t kFixed = 6;
  static constexpr const char* kRecord = "the fixed record of style";
  static constexpr const char* kRecords = "styles";
  static std::uint64_t Texts(const CStylesElement& e) { return TextBytes(e.NameLength); }
};

template <>
struct Table<CSizesElement> {
  static constexpr bool kHasTexts = true;
  static constexpr std::uint64_t kFixed = 16;
  static constexpr const char* kRecord = "the fixed record of size";
  static constexpr const char* kRecords = "sizes";
  static std::uint64_t Texts(const CSizesElement& e) { return TextBytes(e.NameLength); }
};

template <>
struct Table<CClassesElement> {
  static constexpr bool kHasTexts = true;
  static constexpr std::uint64_t kFixed = 10;
  static constexpr const char* kRecord = "the fixed record of class";
  static constexpr const char* kRecords = "classes";
  static std::uint64_t Texts(const CClassesElement& e) {
    return TextBytes(e.NameLength) + TextBytes(e.TextLength);
  }
};

template <>
struct Table<CCroixesElement> {
  static constexpr bool kHasTexts = false;
  static constexpr std::uint64_t kFixed = 16;
  static constexpr const char* kRecord = "CROIXES record";
  static constexpr const char* kRecords = "CROIXES records";
  static std::uint64_t Texts(const CCroixesElement&) { return 0; }
};

template <>
struct Table<CHalfsElement> {
  static constexpr bool kHasTexts = false;
  static constexpr std::uint64_t kFixed = 16;
  static constexpr const char* kRecord = "HALFS record";
  static constexpr const char* kRecords = "HALFS records";
  static std::uint64_t Texts(const CHalfsElement&) { return 0; }
};

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
      end += Table<CClassesElement>::Texts(e);
    }
  }
  return end;
}

}  // namespace

template <class Element>
StreamRead CTable<Element>::ReadStream(storage::Stream& stream, std::uint32_t size) {
  using Info = Table<Element>;
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
      place = Info::kRecord;
      place_index = i;
      break;
    }
    records.Add(work);
  }
  const std::uint64_t end_of_fixed = 2 + static_cast<std::uint64_t>(declared) * Info::kFixed;
  std::uint64_t texts = 0;
  std::int64_t index = 0;
  for (Element& record : records) {
    texts += Info::Texts(record);
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
  read.declared_known = have_count && (!Info::kHasTexts ||
                                       static_cast<std::int64_t>(records.GetSize()) == declared);
  read.used_end = UsedEnd(records, end_of_fixed);
  read.records = Info::kRecords;
  read.declared_records = declared;
  read.kept_records = static_cast<std::int64_t>(records.GetSize());
  if (place) {
    read.place = place;
    read.place_index = place_index;
  }
  EmptyStreamHoldsNoRecords(read, size);

  Elements.Append(std::move(records));
  // A table cut short counts what it kept, so that Count never names records
  // that are not there.
  Count = in.ended() ? static_cast<std::int16_t>(read.kept_records) : count;
  return read;
}

template class CTable<CStylesElement>;
template class CTable<CSizesElement>;
template class CTable<CClassesElement>;
template class CTable<CCroixesElement>;
template class CTable<CHalfsElement>;

}  // namespace lumerca
