#pragma once

// The batch rung: a folder of generated markers of a realistic size
// converted by lumerca-import one at a time and with every processor.

#include "bench/generator.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>

namespace lumerca::bench {

// Writes `files` markers (about 200 pieces, 10 sizes and 100 cut lines each)
// into `scratch`/batch, converts the folder with `tool` at -j 1 and at -j of
// the processors available (fastest of `runs` runs each, alternating) and
// prints the seconds, markers per second and the speed-up.
void RunBatchRung(const std::filesystem::path& tool, const std::filesystem::path& scratch,
                  std::size_t files, int runs, std::uint64_t seed);

// The realistic marker of the rung.
Shape BatchShape();

}  // namespace lumerca::bench
