// The MARKER stream: 105 bytes of fixed fields, then the four texts in the
// order Text1, Name, Text3, Text4.

#include "entry/marker.h"

#include <cstddef>
#include <cstring>

namespace lumerca {

namespace {

// The header fields of CMarker, packed as the stream holds the fixed part.
#pragma pack(push, 1)
struct HeaderFields {
  unsigned char Raw1[6];
  float Width;
  unsigned char Raw3[10];
  float ScaleX;
  float ScaleY;
  unsigned char Raw6[18];
  unsigned char Raw7[2];
  unsigned char Raw8[2];
  unsigned char Raw9[2];
  unsigned char Raw10[1];
  unsigned char Raw11[40];
  std::int16_t Text1Length;
  std::int16_t NameLength;
  std::int16_t Text3Length;
  std::int16_t Text4Length;
  unsigned char Raw16[4];
  char Name[256];
  char Text1[256];
  char Text3[256];
  char Text4[256];
};
#pragma pack(pop)
static_assert(offsetof(HeaderFields, Name) == 105);

// Copies every header field between CMarker and HeaderFields (either way).
template <class From, class To>
void CopyHeader(const From& from, To& to) {
  static_assert(sizeof from.Raw1 == sizeof to.Raw1 && sizeof from.Raw16 == sizeof to.Raw16 &&
                sizeof from.Text4 == sizeof to.Text4);
  std::memcpy(to.Raw1, from.Raw1, sizeof to.Raw1);
  to.Width = from.Width;
  std::memcpy(to.Raw3, from.Raw3, sizeof to.Raw3);
  to.ScaleX = from.ScaleX;
  to.ScaleY = from.ScaleY;
  std::memcpy(to.Raw6, from.Raw6, sizeof to.Raw6);
  std::memcpy(to.Raw7, from.Raw7, sizeof to.Raw7);
  std::memcpy(to.Raw8, from.Raw8, sizeof to.Raw8);
  std::memcpy(to.Raw9, from.Raw9, sizeof to.Raw9);
  std::memcpy(to.Raw10, from.Raw10, sizeof to.Raw10);
  std::memcpy(to.Raw11, from.Raw11, sizeof to.Raw11);
  to.Text1Length = from.Text1Length;
  to.NameLength = from.NameLength;
  to.Text3Length = from.Text3Length;
  to.Text4Length = from.Text4Length;
  std::memcpy(to.Raw16, from.Raw16, sizeof to.Raw16);
  std::memcpy(to.Name, from.Name, sizeof to.Name);
  std::memcpy(to.Text1, from.Text1, sizeof to.Text1);
  std::memcpy(to.Text3, from.Text3, sizeof to.Text3);
  std::memcpy(to.Text4, from.Text4, sizeof to.Text4);
}

bool ReadFixedPart(storage::Stream& stream, HeaderFields& h) {
  return ReadField(stream, h.Raw1, 6) && ReadField(stream, &h.Width, 4) &&
         ReadField(stream, h.Raw3, 10) && ReadField(stream, &h.ScaleX, 4) &&
         ReadField(stream, &h.ScaleY, 4) && ReadField(stream, h.Raw6, 18) &&
         ReadField(stream, h.Raw7, 2) && ReadField(stream, h.Raw8, 2) &&
         ReadField(stream, h.Raw9, 2) && ReadField(stream, h.Raw10, 1) &&
         ReadField(stream, h.Raw11, 40) && ReadField(stream, &h.Text1Length, 2) &&
         ReadField(stream, &h.NameLength, 2) && ReadField(stream, &h.Text3Length, 2) &&
         ReadField(stream, &h.Text4Length, 2) && ReadField(stream, h.Raw16, 4);
}

// The texts in stream order; the name is the second. The bytes behind each
// terminating NUL keep what the buffer held.
bool ReadTexts(storage::Stream& stream, HeaderFields& h) {
  return ReadText(stream, h.Text1, sizeof h.Text1, h.Text1Length) &&
         ReadText(stream, h.Name, sizeof h.Name, h.NameLength) &&
         ReadText(stream, h.Text3, sizeof h.Text3, h.Text3Length) &&
         ReadText(stream, h.Text4, sizeof h.Text4, h.Text4Length);
}

}  // namespace

ReadOutcome CMarker::ReadHeader(storage::Stream& stream, std::uint32_t /*size*/) {
  // Read into a copy of the header so that a stream that ends early changes
  // nothing of it.
  HeaderFields fields;
  CopyHeader(*this, fields);
  if (!ReadFixedPart(stream, fields) || !ReadTexts(stream, fields)) return ReadOutcome::Short;
  CopyHeader(fields, *this);
  return ReadOutcome::Read;
}

}  // namespace lumerca
