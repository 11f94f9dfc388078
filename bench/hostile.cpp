#include "bench/hostile.h"

#include "bench/generator.h"

namespace lumerca::bench {

std::vector<HostileCase> HostileCases(std::size_t largest_cut_streams, std::uint64_t seed) {
  std::vector<HostileCase> cases;
  for (const HostileShape& shape : HostileShapes()) {
    cases.push_back({shape.name, shape.what, [shape] { return shape.build(shape.catalogue_n); }});
  }
  const Shape largest = LargestShape(largest_cut_streams);
  cases.push_back({"largest-valid", "every table at its limit, " + largest.Describe(),
                   [largest, seed] { return GenerateFile(largest, seed); }});
  return cases;
}

}  // namespace lumerca::bench
