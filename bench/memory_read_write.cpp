// The native side of the page's benchmark (bench/page_bench.sh): what the
// page's worker does with a marker, timed the same way, on the public API:
//
//   lumerca-bench-memory FILE [RUNS]
//
// reads the file's bytes (not timed), then ReadMarker from the bytes,
// WriteMarker into memory and DrawMarker, each the fastest of RUNS runs
// (default 5), and prints them as JSON, in milliseconds, with the first
// run's times apart (first_read_ms, ...): that run finds the memory it
// writes to fresh from the system, as the page's first marker does. The C
// library keeps what is freed for the runs after it (as the page's worker
// keeps its memory), rather than hand large blocks back to the system.

#include <lumerca/marker.h>
#include <lumerca/picture.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <span>
#include <vector>

#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace {

double Milliseconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - since).count();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s FILE [RUNS]\n", argv[0]);
    return 2;
  }
  const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
  std::ifstream in(argv[1], std::ios::binary);
  const std::vector<char> bytes{std::istreambuf_iterator<char>(in), {}};
  if (!in.is_open() || in.bad()) {
    std::fprintf(stderr, "cannot read %s\n", argv[1]);
    return 1;
  }
#ifdef __GLIBC__
  mallopt(M_MMAP_MAX, 0);
  mallopt(M_TRIM_THRESHOLD, 1 << 30);
#endif
  double read = 1e300, write = 1e300, draw = 1e300;
  double first[3] = {0, 0, 0};
  std::size_t output = 0, cut_lines = 0;
  for (int r = 0; r < runs; ++r) {
    auto start = std::chrono::steady_clock::now();
    const lumerca::ReadResult result = lumerca::ReadMarker(std::as_bytes(std::span(bytes)));
    read = std::min(read, Milliseconds(start));
    if (!result.ok()) {
      std::fprintf(stderr, "%s: %s (%s)\n", argv[1], lumerca::StatusText(result.status), result.reason.c_str());
      return 1;
    }
    lumerca::OutputFiles files;
    start = std::chrono::steady_clock::now();
    const lumerca::WriteResult written = lumerca::WriteMarker(result.marker, files);
    write = std::min(write, Milliseconds(start));
    if (!written.ok()) return 1;
    output = files.csvimprt.size() + files.posimport.size();
    start = std::chrono::steady_clock::now();
    const lumerca::Picture picture = lumerca::DrawMarker(result.marker);
    draw = std::min(draw, Milliseconds(start));
    cut_lines = picture.cuts.size();
    if (r == 0) first[0] = read, first[1] = write, first[2] = draw;
  }
  std::printf("{\"bytes\": %zu, \"output_bytes\": %zu, \"cut_lines\": %zu, \"read_ms\": %.1f, "
              "\"write_ms\": %.1f, \"draw_ms\": %.1f, \"first_read_ms\": %.1f, \"first_write_ms\": %.1f, "
              "\"first_draw_ms\": %.1f}\n",
              bytes.size(), output, cut_lines, read, write, draw, first[0], first[1], first[2]);
  return 0;
}
