#pragma once

// Synthetic marker files of any size up to the format's limits, written
// through the tests' compound-file writer. The same shape and seed give the
// same bytes on every machine: the generator draws from its own SplitMix64
// sequence and converts to floating point with exact operations only.

#include "tests/support/compound_writer.h"
#include "tests/support/marker_streams.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace lumerca::bench {

// The largest counts that a marker file can hold: PIECES has an unsigned
// 16-bit count, every other table and a .CUTS stream a signed one.
inline constexpr std::size_t kMaxPieces = 65535;
inline constexpr std::size_t kMaxTableRecords = 32767;
inline constexpr std::size_t kMaxSplitsPerStream = 32767;
// The longest texts: a class Name or Text and the header texts hold 255
// bytes, a style name 49, a size name 19. A stream name holds 31 UTF-16 units.
inline constexpr std::size_t kMaxClassText = 255;
inline constexpr std::size_t kMaxStyleName = 49;
inline constexpr std::size_t kMaxSizeName = 19;
inline constexpr std::size_t kMaxStreamName = 31;

struct Shape {
  std::size_t pieces = 64;
  std::size_t sizes = 8;
  std::size_t classes = 16;
  std::size_t croixes = 64;   // (size, class) pairs; pieces name them
  std::size_t halfs = 4;      // HALFS records, each naming a piece
  std::size_t styles = 2;
  std::size_t cut_streams = 16;        // one per piece, spread evenly over the pieces
  std::size_t splits_per_stream = 8;
  std::size_t cut_streams_per_storage = 1024;  // .CUTS streams are grouped in sub-storages
  bool long_names = false;  // texts and stream names of their largest length
  bool skipped_streams = true;  // CHESS, .CAS, .CLS, .PGS and unknown streams beside the tables

  // Every count within the format's limits, and every table that a
  // cross-reference needs is non-empty.
  bool Valid() const;
  std::string Describe() const;
};

// `top` with every count divided by 2^halvings (at least 1 where the table
// must not be empty): the rungs of a ladder whose sizes double.
Shape Scaled(const Shape& top, unsigned halvings);

// The largest marker with every table at its format limit and the longest
// names; `cut_streams` .CUTS streams of 32,767 splits.
Shape LargestShape(std::size_t cut_streams);

// The marker of `shape` drawn from `seed`: every cross-reference is in range,
// so that the whole import (both writers) runs on it.
testing::MarkerRecipe GenerateMarker(const Shape& shape, std::uint64_t seed);

// The document tree of `shape` and `seed`: the tables at the root, the .CUTS
// streams in sub-storages "CUTS0", "CUTS1"..., the skipped kinds in "EXTRA".
testing::Node GenerateDocument(const Shape& shape, std::uint64_t seed);

// The file's bytes (version 3, 512-byte sectors).
testing::ByteVector GenerateFile(const Shape& shape, std::uint64_t seed);

// Deterministic random numbers (SplitMix64).
class Random {
public:
  explicit Random(std::uint64_t seed) : state_(seed) {}
  std::uint64_t Next();
  // Uniform in [0, n); n > 0.
  std::uint64_t Below(std::uint64_t n) { return Next() % n; }
  // Uniform in [low, high), exactly reproducible (53-bit fraction, one
  // multiplication and one addition in double, then rounded to float).
  float Uniform(float low, float high);

private:
  std::uint64_t state_;
};

}  // namespace lumerca::bench
