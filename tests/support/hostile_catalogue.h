#pragma once

// The catalogue of hostile files: marker documents damaged in one place
// (containers), and shapes that cost the reader most at any size. The unit
// tests, the Wine comparison (lumerca-wine-hostile) and the benchmark all draw
// their files from here.

#include <lumerca/marker.h>

#include "tests/support/compound_writer.h"

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace lumerca::testing {

// One damaged document. Every one is a marker (mostly Blouse) damaged in one
// place, so that the status says how far the reader got.
struct HostileFile {
  std::string name;  // also the file name's stem
  std::function<ByteVector()> bytes;
  // The status of the native import, where it follows from the damage alone
  // (a truncated file's depends on what the cut left).
  std::optional<ImportStatus> status;
};

std::vector<HostileFile> HostileContainers();

// The bytes of the container case `name` (std::out_of_range if none).
ByteVector HostileContainer(const std::string& name);

// A shape of the catalogue at any size n, to see how its cost grows.
struct HostileShape {
  std::string name;
  std::string what;
  std::size_t catalogue_n;  // n in the catalogue
  std::function<ByteVector(std::size_t n)> build;
};
std::vector<HostileShape> HostileShapes();

}  // namespace lumerca::testing
