#pragma once

// The conventions that every stream of a marker file shares: little-endian
// fixed-width fields read one at a time, 16-bit record counts, and counted
// texts whose bytes follow the whole fixed part of their record or table.

#include "storage/storage.h"

#include <bit>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace lumerca {

// What a reader made of its stream.
enum class ReadOutcome {
  Read,     // the stream was decoded and its records entered the model
  Short,    // the stream ended before its declared layout; nothing entered the model
  Skipped,  // the stream was passed over on purpose (e.g. a .CUTS name without a number)
};

// Reads `width` bytes into `destination` with one read. False when the stream
// delivered fewer.
bool ReadField(storage::Stream& stream, void* destination, std::uint32_t width);

// Reads a counted text of `length` bytes into a buffer of `capacity` bytes and
// stores a NUL after the text. A length that does not fit keeps the first
// capacity - 1 bytes (the rest is still consumed); a negative length reads
// nothing and stores an empty text. False when the stream delivered fewer bytes
// than the length.
bool ReadText(storage::Stream& stream, char* buffer, std::size_t capacity, std::int16_t length);

// Consumes up to `size` bytes in chunks of at most 16, stopping at the first
// chunk that comes back short (a size of 0, or a multiple of 16, ends with a
// read of 0 bytes). True when all `size` bytes were delivered.
bool SkipBytes(storage::Stream& stream, std::uint32_t size);

// The signed decimal number that a stream name begins with (after white space,
// an optional sign), as a "%d" scan reads it. Empty when the name does not
// begin with a number.
std::optional<int> StreamNameNumber(std::u16string_view name);

// Records are read field by field straight into packed structures, whose
// in-memory layout is the stream's: this holds on little-endian machines only.
static_assert(std::endian::native == std::endian::little, "marker files are little-endian");

}  // namespace lumerca
