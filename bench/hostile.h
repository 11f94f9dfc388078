#pragma once

// The worst cases of the catalogue of hostile inputs, as whole documents: each
// holds a small valid marker (so that the import goes through to its output)
// beside the hostile part.

#include "tests/support/compound_writer.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace lumerca::bench {

struct HostileCase {
  std::string name;
  std::string what;
  std::function<testing::ByteVector()> build;
};

// `largest_cut_streams`: the number of .CUTS streams of 32,767 splits in the
// largest valid marker.
std::vector<HostileCase> HostileCases(std::size_t largest_cut_streams, std::uint64_t seed);

// The shapes of the catalogue at any size n, to see how their cost grows.
struct HostileShape {
  std::string name;
  std::string what;
  std::size_t catalogue_n;  // n in the catalogue
  std::function<testing::ByteVector(std::size_t n)> build;
};
std::vector<HostileShape> HostileShapes();

}  // namespace lumerca::bench
