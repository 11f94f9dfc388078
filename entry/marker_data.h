#pragma once

// What a lumerca::Marker holds: the model as read, its index, the code page of
// its texts and what the read concluded. Built once by a read and never
// changed afterwards, so that copies of a Marker share it across threads.

#include <lumerca/marker.h>

#include "model/index.h"
#include "model/marker.h"
#include "platform/codepage.h"

#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace lumerca::detail {

// A field of a model record into the same field of a public record.
template <class T>
void CopyField(T& out, T in) {
  out = in;
}
template <std::size_t N>
void CopyField(std::array<std::uint8_t, N>& out, const std::uint8_t (&in)[N]) {
  std::memcpy(out.data(), in, N);
}

struct MarkerData {
  model::CMarker model;
  std::optional<model::ModelIndex> index;  // built once the walk has filled the model
  const platform::CodePage* code_page = nullptr;

  // Of the read's code page: the header as public data, the normalised name
  // of the marker and of each class.
  MarkerHeader header;
  std::string name;
  std::vector<std::string> class_names;

  // What the read concluded: Imported when the marker can be written.
  ImportStatus status = ImportStatus::CannotOpen;
  std::string reason;
  std::string salvage;
  bool indexes_hold = false;  // every cross-reference that the writers follow names a record

  static Marker Wrap(std::shared_ptr<const MarkerData> data) {
    Marker marker;
    marker.data_ = std::move(data);
    return marker;
  }
  static const MarkerData& Of(const Marker& marker) { return *marker.data_; }
  // What a default-constructed Marker shows.
  static const MarkerData& Empty();
};

}  // namespace lumerca::detail
