#include "readers/primitives.h"

#include <algorithm>
#include <cstring>

namespace lumerca::readers {

bool ReadField(storage::Stream& stream, void* destination, std::uint32_t width) {
  if (stream.Read(destination, width) == width) return true;
  // A field that arrived in part is missing whole.
  std::memset(destination, 0, width);
  return false;
}

bool ReadText(storage::Stream& stream, char* buffer, std::size_t capacity, std::int16_t length) {
  if (capacity == 0) return false;
  if (length < 0) {
    // Nothing of the stream belongs to a negative length.
    buffer[0] = '\0';
    return true;
  }
  const auto stated = static_cast<std::uint32_t>(length);
  const auto kept = static_cast<std::uint32_t>(std::min<std::size_t>(stated, capacity - 1));
  const std::uint32_t delivered = stream.Read(buffer, kept);
  buffer[std::min(delivered, kept)] = '\0';
  if (delivered != kept) return false;

  // The bytes that do not fit are consumed all the same: the next text starts
  // behind them.
  char scratch[64];
  for (std::uint32_t rest = stated - kept; rest > 0;) {
    const auto chunk = std::min<std::uint32_t>(rest, sizeof scratch);
    if (stream.Read(scratch, chunk) != chunk) return false;
    rest -= chunk;
  }
  return true;
}

bool SkipBytes(storage::Stream& stream, std::uint32_t size) {
  unsigned char scratch[16];
  std::uint32_t consumed = 0;
  for (;;) {
    // Unsigned 32-bit difference, at most one chunk.
    const std::uint32_t chunk = std::min<std::uint32_t>(size - consumed, sizeof scratch);
    const std::uint32_t delivered = stream.Read(scratch, chunk);
    consumed += delivered;
    if (delivered != sizeof scratch) break;
  }
  return consumed >= size;
}

std::uint32_t LayoutReader::Read(void* buffer, std::uint32_t count) {
  const std::uint32_t delivered = std::min(stream_.Read(buffer, count), count);
  arrived_ += delivered;
  if (delivered < count) ended_ = true;
  return delivered;
}

bool LayoutReader::Field(void* destination, std::uint32_t width) {
  if (ended_) {
    std::memset(destination, 0, width);
    return width == 0;
  }
  return ReadField(*this, destination, width);
}

bool LayoutReader::Text(char* buffer, std::size_t capacity, std::int16_t length) {
  if (ended_) {
    if (capacity > 0) buffer[0] = '\0';
    return length <= 0;
  }
  return ReadText(*this, buffer, capacity, length);
}

StreamRead LayoutReader::Result() const {
  StreamRead read;
  read.arrived = arrived_;
  if (ended_) read.outcome = ReadOutcome::Short;
  return read;
}

std::optional<int> StreamNameNumber(std::u16string_view name) {
  // White space as the "C" locale's isspace: space, \t, \n, \v, \f, \r.
  auto is_space = [](char16_t c) { return c == u' ' || (c >= u'\t' && c <= u'\r'); };
  auto is_digit = [](char16_t c) { return c >= u'0' && c <= u'9'; };

  std::size_t i = 0;
  while (i < name.size() && is_space(name[i])) ++i;
  bool negative = false;
  if (i < name.size() && (name[i] == u'+' || name[i] == u'-')) {
    negative = name[i] == u'-';
    ++i;
  }
  if (i == name.size() || !is_digit(name[i])) return std::nullopt;

  // Accumulated modulo 2^32: an overlong number keeps its low bits.
  std::uint32_t value = 0;
  for (; i < name.size() && is_digit(name[i]); ++i) {
    value = value * 10u + static_cast<std::uint32_t>(name[i] - u'0');
  }
  if (negative) value = 0u - value;
  return static_cast<int>(static_cast<std::int32_t>(value));
}

}  // namespace lumerca::readers
