#pragma once

// The input of the structure-aware import target: parts separated by the four
// bytes FE ED FA CE. The first sets the document's shape, the others are the
// contents of the marker streams, in this order:
//
//   0  control: byte 0 bit 0 version 4 (else 3), bits 1-2 the layout (below),
//      bit 3 lower-case stream names, bit 4 import with salvage (a file that
//      is damaged is also imported without); byte 1 the ANSI code page (an index
//      into kCodePages); bytes 2.. the caller's name (up to 40 bytes, up to
//      a NUL)
//   1  MARKER    2 STYLES    3 SIZES    4 CLASSES   5 CROIXES   6 HALFS
//   7  PIECES    8 CHESS     9 1.CAS   10 2.CLS    11 3.PGS    12 NOTES
//  13  0.CUTS   14 1.CUTS   ...  up to 44 (31.CUTS)
//
// A part that is empty or that the input does not reach makes no stream
// (empty streams are the raw target's concern). Layouts: 0 every stream at
// the root; 1 the tables at the root, the .CUTS streams in a storage CUTS,
// the skipped kinds in EXTRA; 2 everything one storage down; 3 every stream
// in a storage of its own.
//
// Any bytes decode to some document, so every mutation is a valid input; the
// separator (named in fuzz/fuzz_import.dict) lets mutations add and drop
// streams.

#include "tests/support/compound_writer.h"
#include "tests/support/marker_streams.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace lumerca::fuzzing {

inline constexpr std::array<std::uint8_t, 4> kSeparator{0xFE, 0xED, 0xFA, 0xCE};
inline constexpr unsigned kCodePages[] = {1252, 1250, 1251, 437, 850, 932, 936, 949, 950, 1253};
inline constexpr std::size_t kFirstCuts = 13;
inline constexpr std::size_t kMaxCuts = 32;
inline constexpr std::size_t kMaxCallerName = 40;

struct ImportInput {
  testing::Node document;  // the root storage
  int version = 3;
  unsigned code_page = 1252;
  std::string caller_name;
  bool salvage = false;
};

std::vector<std::span<const std::uint8_t>> SplitParts(std::span<const std::uint8_t> input);
ImportInput DecodeImportInput(std::span<const std::uint8_t> input);

// The inverse, for the seed corpus. Throws std::invalid_argument when a part
// holds the separator.
testing::ByteVector JoinParts(const std::vector<testing::ByteVector>& parts);
// The parts of a marker: a control part with the given flags, then every
// stream that MarkerDocument would write (no .CUTS stream past 31.CUTS).
std::vector<testing::ByteVector> MarkerParts(const testing::MarkerRecipe& recipe, std::uint8_t flags,
                                             std::uint8_t code_page_index,
                                             const std::string& caller_name = "");

}  // namespace lumerca::fuzzing
