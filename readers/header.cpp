// The MARKER stream: 105 bytes of fixed fields, then the four texts in the
// order Text1, Name, Text3, Text4.

#include "readers/header.h"

#include <algorithm>
#include <cstddef>

namespace lumerca::readers {

using namespace model;

namespace {

constexpr std::uint64_t kFixedBytes = kHeaderFixedBytes;

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

StreamRead ReadHeader(CMarker& m, storage::Stream& stream, std::uint32_t /*size*/) {
  LayoutReader in(stream);
  const char* fixed_missing = ReadFixedPart(in, m);
  const char* text_missing = ReadTexts(in, m);

  StreamRead read = in.Result();
  read.declared = kFixedBytes + TextBytes(m.Text1Length) + TextBytes(m.NameLength) +
                  TextBytes(m.Text3Length) + TextBytes(m.Text4Length);
  read.declared_known = fixed_missing == nullptr;
  // Width, ScaleX and ScaleY, the lengths that place the name, Text1 that
  // stands before it, and the name up to its buffer's 255 bytes are used.
  read.used_end = kFixedBytes + TextBytes(m.Text1Length) +
                  std::min<std::uint64_t>(TextBytes(m.NameLength), sizeof m.Name - 1);
  if (const char* place = fixed_missing ? fixed_missing : text_missing) read.place = place;
  return read;
}

}  // namespace lumerca::readers
