// The MARKER stream: 105 bytes of fixed fields, then the four texts in the
// order Text1, Name, Text3, Text4.

#include "entry/marker.h"

#include <algorithm>
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

// The sixteen fixed fields in stream order, with their names for messages.
// Returns the field in which the stream ended, or null.
const char* ReadFixedPart(LayoutReader& in, HeaderFields& h) {
  struct FixedField {
    void* field;
    std::uint32_t width;
    const char* name;
  };
  const FixedField fields[] = {
      {h.Raw1, 6, "the field Raw1"},
      {&h.Width, 4, "the field Width"},
      {h.Raw3, 10, "the field Raw3"},
      {&h.ScaleX, 4, "the field ScaleX"},
      {&h.ScaleY, 4, "the field ScaleY"},
      {h.Raw6, 18, "the field Raw6"},
      {h.Raw7, 2, "the field Raw7"},
      {h.Raw8, 2, "the field Raw8"},
      {h.Raw9, 2, "the field Raw9"},
      {h.Raw10, 1, "the field Raw10"},
      {h.Raw11, 40, "the field Raw11"},
      {&h.Text1Length, 2, "the field Text1Length"},
      {&h.NameLength, 2, "the field NameLength"},
      {&h.Text3Length, 2, "the field Text3Length"},
      {&h.Text4Length, 2, "the field Text4Length"},
      {h.Raw16, 4, "the field Raw16"},
  };
  const char* missing = nullptr;
  for (const FixedField& f : fields) {
    // Every field is zeroed from where the stream ended.
    if (!in.Field(f.field, f.width) && !missing) missing = f.name;
  }
  return missing;
}

// The texts in stream order; the name is the second. The bytes behind each
// terminating NUL keep what the buffer held. Returns the text in which the
// stream ended, or null.
const char* ReadTexts(LayoutReader& in, HeaderFields& h) {
  const char* missing = nullptr;
  if (!in.Text(h.Text1, sizeof h.Text1, h.Text1Length)) missing = "Text1";
  if (!in.Text(h.Name, sizeof h.Name, h.NameLength) && !missing) missing = "the name";
  if (!in.Text(h.Text3, sizeof h.Text3, h.Text3Length) && !missing) missing = "Text3";
  if (!in.Text(h.Text4, sizeof h.Text4, h.Text4Length) && !missing) missing = "Text4";
  return missing;
}

constexpr std::uint64_t kFixedBytes = 105;

}  // namespace

StreamRead CMarker::ReadHeader(storage::Stream& stream, std::uint32_t /*size*/) {
  // Read into a copy of the header, so that the bytes behind each text's NUL
  // keep what they held.
  HeaderFields fields;
  CopyHeader(*this, fields);
  LayoutReader in(stream);
  const char* fixed_missing = ReadFixedPart(in, fields);
  const char* text_missing = ReadTexts(in, fields);
  CopyHeader(fields, *this);

  StreamRead read = in.Result();
  read.declared = kFixedBytes + TextBytes(fields.Text1Length) + TextBytes(fields.NameLength) +
                  TextBytes(fields.Text3Length) + TextBytes(fields.Text4Length);
  read.declared_known = fixed_missing == nullptr;
  // Width, ScaleX and ScaleY, the lengths that place the name, Text1 that
  // stands before it, and the name up to its buffer's 255 bytes are used.
  read.used_end = kFixedBytes + TextBytes(fields.Text1Length) +
                  std::min<std::uint64_t>(TextBytes(fields.NameLength), sizeof fields.Name - 1);
  if (const char* place = fixed_missing ? fixed_missing : text_missing) read.place = place;
  return read;
}

}  // namespace lumerca
