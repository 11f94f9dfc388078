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
#include <type_traits>

namespace lumerca::readers {

// What a reader made of its stream.
enum class ReadOutcome {
  Read,     // the stream was decoded and its records entered the model
  Short,    // the stream ended before its declared layout: what arrived entered the model
            // (see StreamRead), what did not is missing
  Skipped,  // the stream was passed over on purpose (e.g. a .CUTS name without a number)
};

// What a reader made of one stream, and for a stream that ended before its
// declared layout, what is missing. A reader reads everything that arrived as
// its layout says and makes no record of bytes that never arrived: missing
// fields read as zero, missing texts are cut where the bytes ended, and a
// table keeps only its complete records, its Count (or SplitCount) set to
// what it kept.
struct StreamRead {
  ReadOutcome outcome = ReadOutcome::Read;
  // The bytes that the layout declares through its counts and lengths; a
  // lower bound when the stream ended before all of them arrived
  // (declared_known false).
  std::uint64_t declared = 0;
  bool declared_known = true;
  std::uint64_t arrived = 0;  // the bytes that the reader was given
  // The output files use, or must pass on the way to what they use, every
  // byte of the layout below this offset.
  std::uint64_t used_end = 0;
  // Where a Short stream ended: a part of the layout ("the name of size")
  // and the record it belongs to (-1 for none).
  const char* place = "";
  std::int64_t place_index = -1;
  // Streams of records: what they are (plural, "pieces"), how many the
  // stream declares, how many arrived whole and were kept.
  const char* records = "";
  std::int64_t declared_records = 0;
  std::int64_t kept_records = 0;

  // Something missing would have been used by the output files.
  bool Used() const { return outcome == ReadOutcome::Short && arrived < used_end; }
};

// A stream of PIECES or of a counted table that its storage lists with size 0
// and that delivers no byte holds no records: its count reads as 0, as a read
// that delivers nothing leaves it, and nothing is missing (an empty HALFS
// stream says there are no half pieces). A stream listed with bytes that do not
// arrive, or that ends inside its count or its records, is damaged.
inline void EmptyStreamHoldsNoRecords(StreamRead& read, std::uint32_t listed_size) {
  if (read.arrived != 0 || listed_size != 0) return;
  read.outcome = ReadOutcome::Read;
  read.declared = read.used_end = 0;
  read.declared_known = true;
  read.place = "";
  read.place_index = -1;
}

// Reads `width` bytes into `destination` with one read. False when the stream
// delivered fewer; the field is then missing and reads as zero.
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

// A stream read through its layout. It counts the bytes that arrive, and the
// first read that comes back short marks where the stream ended. From there
// Field and Text make no read at all (so that a count the bytes cannot hold
// costs nothing): every later field reads as zero and every later text as
// empty.
class LayoutReader final : public storage::Stream {
public:
  explicit LayoutReader(storage::Stream& stream) : stream_(stream) {}

  std::uint32_t Read(void* buffer, std::uint32_t count) override;

  // ReadField; false when the field is missing.
  bool Field(void* destination, std::uint32_t width);
  // Field into `member` of `record`, as wide as the member's type:
  // in.Field(piece, &CMarkerPiece::PlaceX) reads 4 bytes. (A member pointer
  // rather than a reference, because the member of a packed record may stand
  // at any address.)
  template <class Record, class T>
  bool Field(Record& record, T Record::*member) {
    static_assert(std::is_trivially_copyable_v<T>);
    return Field(&(record.*member), static_cast<std::uint32_t>(sizeof(T)));
  }
  // ReadText; false when bytes of the text are missing (a text of length 0
  // or less never is).
  bool Text(char* buffer, std::size_t capacity, std::int16_t length);

  bool ended() const { return ended_; }
  std::uint64_t arrived() const { return arrived_; }

  // The result so far: arrived and, once ended, outcome Short.
  StreamRead Result() const;

private:
  storage::Stream& stream_;
  std::uint64_t arrived_ = 0;
  bool ended_ = false;
};

// The bytes that a length field gives its text in the stream (0 for a
// negative length).
constexpr std::uint64_t TextBytes(std::int16_t length) {
  return length > 0 ? static_cast<std::uint64_t>(length) : 0;
}

// The signed decimal number that a stream name begins with (after white space,
// an optional sign), as a "%d" scan reads it. Empty when the name does not
// begin with a number.
std::optional<int> StreamNameNumber(std::u16string_view name);

// Records are read field by field straight into packed structures, whose
// in-memory layout is the stream's: this holds on little-endian machines only.
static_assert(std::endian::native == std::endian::little, "marker files are little-endian");

}  // namespace lumerca::readers
