#include "readers/tables.h"

#include <utility>

namespace lumerca {

namespace {

// The fixed record of each table, one read per field of exactly its width.

bool ReadFixed(storage::Stream& stream, CStylesElement& e) {
  return ReadField(stream, &e.Raw1, 2) && ReadField(stream, &e.NameLength, 2) &&
         ReadField(stream, &e.Raw3, 2);
}

bool ReadFixed(storage::Stream& stream, CSizesElement& e) {
  return ReadField(stream, e.Raw1, 4) && ReadField(stream, &e.SizeNumber, 1) &&
         ReadField(stream, e.Raw3, 7) && ReadField(stream, &e.NameLength, 2) &&
         ReadField(stream, &e.Raw5, 2);
}

bool ReadFixed(storage::Stream& stream, CClassesElement& e) {
  return ReadField(stream, e.Raw1, 4) && ReadField(stream, &e.NameLength, 2) &&
         ReadField(stream, &e.TextLength, 2) && ReadField(stream, &e.Raw4, 2);
}

bool ReadFixed(storage::Stream& stream, CCroixesElement& e) {
  return ReadField(stream, e.Raw1, 4) && ReadField(stream, &e.SizeIndex, 2) &&
         ReadField(stream, &e.ClassIndex, 2) && ReadField(stream, e.Raw4, 8);
}

bool ReadFixed(storage::Stream& stream, CHalfsElement& e) {
  return ReadField(stream, e.Raw1, 12) && ReadField(stream, &e.Raw2, 2) &&
         ReadField(stream, &e.PieceIndex, 2);
}

// The text part: each record's texts, in record order, behind all fixed records.

bool ReadTexts(storage::Stream& stream, CStylesElement& e) {
  return ReadText(stream, e.Name, sizeof e.Name, e.NameLength);
}

bool ReadTexts(storage::Stream& stream, CSizesElement& e) {
  return ReadText(stream, e.Name, sizeof e.Name, e.NameLength);
}

bool ReadTexts(storage::Stream& stream, CClassesElement& e) {
  return ReadText(stream, e.Name, sizeof e.Name, e.NameLength) &&
         ReadText(stream, e.Text, sizeof e.Text, e.TextLength);
}

bool ReadTexts(storage::Stream&, CCroixesElement&) { return true; }
bool ReadTexts(storage::Stream&, CHalfsElement&) { return true; }

}  // namespace

template <class Element>
ReadOutcome CTable<Element>::ReadStream(storage::Stream& stream, std::uint32_t /*size*/) {
  std::int16_t count = 0;
  if (!ReadField(stream, &count, sizeof count)) return ReadOutcome::Short;

  // The stream's records are collected apart from the table and enter it only
  // once the whole layout was read. The texts go into this stream's own
  // records, whatever the table held before. Storage grows with the records
  // actually read, never with the count the stream declares.
  CArray<Element> records;
  Element work{};
  for (int i = 0; i < count; ++i) {
    if (!ReadFixed(stream, work)) return ReadOutcome::Short;
    records.Add(work);
  }
  for (Element& record : records) {
    if (!ReadTexts(stream, record)) return ReadOutcome::Short;
  }

  Elements.Append(std::move(records));
  Count = count;
  return ReadOutcome::Read;
}

template class CTable<CStylesElement>;
template class CTable<CSizesElement>;
template class CTable<CClassesElement>;
template class CTable<CCroixesElement>;
template class CTable<CHalfsElement>;

}  // namespace lumerca
