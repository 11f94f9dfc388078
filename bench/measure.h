#pragma once

// The measured steps of one conversion, the two reference figures, and the
// running of a measurement in a child process of its own.

#include <cstdint>
#include <filesystem>
#include <string>

namespace lumerca::bench {

// One conversion as ImportMarker does it with salvage, timed step by step (a
// file with data missing is written from what arrived, so that its writing
// is measured too; without salvage the import would stop after the walk):
//   open  storage::OpenDocument (the whole file read and its tables checked)
//   walk  WalkStorage over a fresh model, then the document closed
//   write what the import does after the walk: the cross-reference check, the
//         name, both writers into temporary files (flushed to the device) and
//         the renames into place.
// Heap figures are bytes above what the process held before the open, at the
// highest point of each step (the later steps still hold what the earlier
// ones built: the walk holds the file image, the writing holds the model).
struct ConversionSample {
  int status = 0;  // 0 imported, 1 no pieces, 2 cannot be opened, 3 failed,
                   // 4 imported with salvage (damaged: data that the output uses is missing)
  double open_s = 0, walk_s = 0, write_s = 0;
  double write_user_s = 0, write_system_s = 0;  // CPU time of the write step: ours, the kernel's
  std::uint64_t heap_open = 0, heap_walk = 0, heap_write = 0;
  std::uint64_t rss_peak = 0;    // peak resident set of the process above its start
  std::uint64_t output_bytes = 0;
  std::uint64_t pieces = 0;
  char message[160] = {};

  double Total() const { return open_s + walk_s + write_s; }
  std::uint64_t HeapPeak() const;
};

const char* StatusName(int status);

// Converts `file` into `out_dir` in a forked child (so that each conversion
// starts from the same process state, and its resident-set peak is its own)
// and returns what the child measured. A child that dies is reported with
// status 3 and its signal in the message. With `record_all` the walk records
// every element it meets (as the model dump asks for), not only trouble.
ConversionSample ConvertInChild(const std::filesystem::path& file,
                                const std::filesystem::path& out_dir, bool record_all = false);

// The floor: read the file's bytes into memory, then write `output_bytes`
// bytes into two temporary files in `out_dir`, flush them to the device and
// rename them into place, as the import does with its two files. Seconds.
double FloorSeconds(const std::filesystem::path& file, const std::filesystem::path& out_dir,
                    std::uint64_t output_bytes);

// The independent reader: libgsf opens the compound file and reads every
// stream of every storage in full. Seconds; negative when libgsf cannot open
// the file. `streams` and `bytes` receive what it read.
double GsfSeconds(const std::filesystem::path& file, std::uint64_t* streams = nullptr,
                  std::uint64_t* bytes = nullptr);

// Removes csvimprt.txt and posimport.txt (and the floor's files) from `out_dir`.
void ClearOutput(const std::filesystem::path& out_dir);

}  // namespace lumerca::bench
