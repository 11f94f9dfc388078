// The MARKER stream: 105 bytes of fixed fields, then the four texts in the
// order Text1, Name, Text3, Text4.

#include "entry/marker.h"

#include <algorithm>
#include <cstddef>

namespace lumerca {

namespace {

// The fixed part: the width of each field comes from its type.
#define LUMERCA_FIELD_WIDTH(type, name, extent) +sizeof(type extent)
constexpr std::uint64_t kFixedBytes = 0 LUMERCA_MARKER_FIXED_FIELDS(LUMERCA_FIELD_WIDTH);
#undef LUMERCA_FIELD_WIDTH
static_assert(kFixedBytes == 105);

// The fixed fields in stream order, one read each, straight into the model.
// Returns the field in which the stream ended, or null.
const char* ReadFixedPart(LayoutReader& in, CMarker& m) {
  const char* missing = nullptr;
  // Every field is zeroed from where the stream ended.
#define LUMERCA_READ_FIELD(type, name, extent) \
  if (!in.Field(m, &CMarker::name) && !missing) missing = "the field " #name;
  LUMERCA_MARKER_FIXED_FIELDS(LUMERCA_READ_FIELD)
#undef LUMERCA_READ_FIELD
  return missing;
}

// The texts in stream order; the name is the second. The bytes behind each
// terminating NUL keep what the buffer held. Returns the text in which the
// stream ended, or null.
const char* ReadTexts(LayoutReader& in, CMarker& m) {
  const char* missing = nullptr;
  if (!in.Text(m.Text1, sizeof m.Text1, m.Text1Length)) missing = "Text1";
  if (!in.Text(m.Name, sizeof m.Name, m.NameLength) && !missing) missing = "the name";
  if (!in.Text(m.Text3, sizeof m.Text3, m.Text3Length) && !missing) missing = "Text3";
  if (!in.Text(m.Text4, sizeof m.Text4, m.Text4Length) && !missing) missing = "Text4";
  return missing;
}

}  // namespace

StreamRead CMarker::ReadHeader(storage::Stream& stream, std::uint32_t /*size*/) {
  LayoutReader in(stream);
  const char* fixed_missing = ReadFixedPart(in, *this);
  const char* text_missing = ReadTexts(in, *this);

  StreamRead read = in.Result();
  read.declared = kFixedBytes + TextBytes(Text1Length) + TextBytes(NameLength) +
                  TextBytes(Text3Length) + TextBytes(Text4Length);
  read.declared_known = fixed_missing == nullptr;
  // Width, ScaleX and ScaleY, the lengths that place the name, Text1 that
  // stands before it, and the name up to its buffer's 255 bytes are used.
  read.used_end = kFixedBytes + TextBytes(Text1Length) +
                  std::min<std::uint64_t>(TextBytes(NameLength), sizeof Name - 1);
  if (const char* place = fixed_missing ? fixed_missing : text_missing) read.place = place;
  return read;
}

}  // namespace lumerca
