#pragma once

// The readers of the five counted tables: STYLES, SIZES, CLASSES, CROIXES and
// HALFS. Each stream holds a signed 16-bit count, that many fixed records, and
// (STYLES, SIZES, CLASSES) the texts of the records in record order.

#include "model/records.h"
#include "readers/primitives.h"

#include <cstdint>

namespace lumerca::readers {

// Appends the records of one stream to `table` and sets its Count to the
// stream's count. Of a stream that ends before its declared layout, the
// records whose fixed part arrived whole are appended (their texts cut where
// the bytes ended) and Count is the number appended.
template <class Element>
StreamRead ReadStream(model::CTable<Element>& table, storage::Stream& stream, std::uint32_t size);

extern template StreamRead ReadStream(model::CStyles&, storage::Stream&, std::uint32_t);
extern template StreamRead ReadStream(model::CSizes&, storage::Stream&, std::uint32_t);
extern template StreamRead ReadStream(model::CClasses&, storage::Stream&, std::uint32_t);
extern template StreamRead ReadStream(model::CCroixes&, storage::Stream&, std::uint32_t);
extern template StreamRead ReadStream(model::CHalfs&, storage::Stream&, std::uint32_t);

}  // namespace lumerca::readers
