#pragma once

// The batch rungs: a tree of small markers (a few pieces and cut lines each,
// as most real markers are) and a folder of larger ones, each converted by
// lumerca-import one at a time and with every processor, against the floor
// of plain file input and output measured in the same run.

#include "bench/generator.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>

namespace lumerca::bench {

struct BatchOptions {
  std::filesystem::path tool;      // the lumerca-import measured
  std::filesystem::path baseline;  // another build of it measured beside it (empty: none)
  std::size_t files = 2000;        // markers of each rung
  int runs = 3;                    // runs of each measurement, alternating
  std::uint64_t seed = 1;
  bool small_only = false;         // the rung of small markers alone
};

// Writes each rung's markers under `scratch`, then measures, alternating
// within each round: the floor (one thread reading every input, making the
// folders, writing as many bytes as each output file holds under a temporary
// name, renaming it, and one syncfs of the output's file system at the end),
// and `tool -q -j N` (and the baseline's) for N = 1 and the processors
// available. Prints seconds (fastest and median of the runs), files per
// second and the ratios to the floor and to -j 1.
void RunBatchRungs(const BatchOptions& options, const std::filesystem::path& scratch);

// The small marker of the tree rung, and the larger one of the folder rung.
Shape SmallBatchShape();
Shape BatchShape();

}  // namespace lumerca::bench
