#pragma once

// The fields of every record of a marker file, one list per record, in the
// order in which the stream holds them. The library declares its own records
// from these lists, reads each record field by field as its list says, and
// declares the public records of <lumerca/model.h> from the same lists, so
// that a field has one name and one type everywhere.
//
// A fixed field is X(type, name, extent): `type name extent` declares it.
// The extent is empty for a number (little-endian in the stream) and [n] for
// n bytes that are stored as read and interpreted nowhere (the Raw fields,
// named Raw and the field's position in its record).
//
// A text is T(name, length, capacity): its bytes follow the whole fixed part
// of its record (or table), as many as the fixed field `length` says; the
// library keeps at most capacity - 1 of them.

#include <cstdint>

// MARKER: the header, 105 bytes of fixed fields, then four texts.
#define LUMERCA_MARKER_FIXED_FIELDS(X) \
  X(std::uint8_t, Raw1, [6])           \
  X(float, Width, ) /* millimetres */  \
  X(std::uint8_t, Raw3, [10])          \
  X(float, ScaleX, )                   \
  X(float, ScaleY, )                   \
  X(std::uint8_t, Raw6, [18])          \
  X(std::uint8_t, Raw7, [2])           \
  X(std::uint8_t, Raw8, [2])           \
  X(std::uint8_t, Raw9, [2])           \
  X(std::uint8_t, Raw10, [1])          \
  X(std::uint8_t, Raw11, [40])         \
  X(std::int16_t, Text1Length, )       \
  X(std::int16_t, NameLength, )        \
  X(std::int16_t, Text3Length, )       \
  X(std::int16_t, Text4Length, )       \
  X(std::uint8_t, Raw16, [4])
// The name is the second text of the stream.
#define LUMERCA_MARKER_TEXTS(T)   \
  T(Text1, Text1Length, 256)      \
  T(Name, NameLength, 256)        \
  T(Text3, Text3Length, 256)      \
  T(Text4, Text4Length, 256)

// STYLES: a signed 16-bit count, the fixed records, then their texts.
#define LUMERCA_STYLE_FIELDS(X)  \
  X(std::int16_t, Raw1, )        \
  X(std::int16_t, NameLength, )  \
  X(std::int16_t, Raw3, )
#define LUMERCA_STYLE_TEXTS(T) T(Name, NameLength, 50)

// SIZES: as STYLES.
#define LUMERCA_SIZE_FIELDS(X)     \
  X(std::uint8_t, Raw1, [4])       \
  X(std::uint8_t, SizeNumber, )    \
  X(std::uint8_t, Raw3, [7])       \
  X(std::int16_t, NameLength, )    \
  X(std::int16_t, Raw5, )
#define LUMERCA_SIZE_TEXTS(T) T(Name, NameLength, 20)

// CLASSES: as STYLES; each class gives its Name, then its Text.
#define LUMERCA_CLASS_FIELDS(X)    \
  X(std::uint8_t, Raw1, [4])       \
  X(std::int16_t, NameLength, )    \
  X(std::int16_t, TextLength, )    \
  X(std::int16_t, Raw4, )
#define LUMERCA_CLASS_TEXTS(T)  \
  T(Name, NameLength, 256)      \
  T(Text, TextLength, 256)

// CROIXES: a signed 16-bit count and the records; no texts.
#define LUMERCA_CROIX_FIELDS(X)    \
  X(std::uint8_t, Raw1, [4])       \
  X(std::int16_t, SizeIndex, )     \
  X(std::int16_t, ClassIndex, )    \
  X(std::uint8_t, Raw4, [8])
#define LUMERCA_CROIX_TEXTS(T)

// HALFS: as CROIXES.
#define LUMERCA_HALF_FIELDS(X)     \
  X(std::uint8_t, Raw1, [12])      \
  X(std::int16_t, Raw2, )          \
  X(std::int16_t, PieceIndex, )
#define LUMERCA_HALF_TEXTS(T)

// PIECES: an unsigned 16-bit count, then 86-byte records.
#define LUMERCA_PIECE_FIELDS(X)    \
  X(std::uint8_t, Raw1, [4])       \
  X(std::uint8_t, Attr2, )         \
  X(std::uint8_t, Raw3, [1])       \
  X(float, Attr4, )                \
  X(std::uint8_t, Attr5, )         \
  X(std::uint8_t, Raw6, [5])       \
  X(float, PlaceX, )               \
  X(float, PlaceY, )               \
  X(std::uint8_t, Raw9, [4])       \
  X(float, MaxY, )                 \
  X(float, MinY, )                 \
  X(float, MaxX, )                 \
  X(float, MinX, )                 \
  X(std::int16_t, CroixIndex, )    \
  X(std::uint8_t, Raw15, [40])
#define LUMERCA_PIECE_TEXTS(T)

// A .CUTS stream: a 5-byte header, then SplitCount records of 22 bytes.
#define LUMERCA_CUTS_HEADER_FIELDS(X) \
  X(std::uint8_t, Raw1, )             \
  X(std::int16_t, SplitCount, )       \
  X(std::uint16_t, Raw3, )
// One cut line: each end point A (first coordinate) before B.
#define LUMERCA_SPLIT_FIELDS(X)    \
  X(float, A1, )                   \
  X(float, B1, )                   \
  X(float, A2, )                   \
  X(float, B2, )                   \
  X(std::uint16_t, Raw5, )         \
  X(std::uint16_t, OffsetCode, )   \
  X(std::uint16_t, Kind, )
