// lumerca-bench-read [--runs N] [--bytes] [--write] FILE...
//
// The C++ side of the Python package's benchmark (python/bench/bench.py):
// for each FILE, the time of lumerca::ReadMarker on its path (or, with
// --bytes, on its bytes in memory, read once beforehand), and with --write
// that of WriteMarker into memory, as the public API gives them. Each is the
// fastest of N runs of as many calls as take about 0.2 s (at least one), in
// wall-clock time and in the thread's processor time (which a loaded
// machine disturbs less). Prints one line per file, tab-separated: FILE,
// seconds per read (wall, processor), seconds per write (wall, processor; 0
// without --write), the read's status.

#include <lumerca/marker.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <span>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// The calling thread's processor time, in seconds.
double ThreadSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

struct Times {
  double wall = 0, cpu = 0;
};

template <class F>
Times SecondsPerCall(int runs, F&& call) {
  // As many calls per run as take about 0.2 s, from one timed call.
  auto start = Clock::now();
  double cpu_start = ThreadSeconds();
  call();
  Times best{std::chrono::duration<double>(Clock::now() - start).count(), ThreadSeconds() - cpu_start};
  const long calls = std::max(1L, static_cast<long>(0.2 / std::max(best.wall, 1e-9)));
  for (int r = 0; r < runs; ++r) {
    start = Clock::now();
    cpu_start = ThreadSeconds();
    for (long i = 0; i < calls; ++i) call();
    const double n = static_cast<double>(calls);
    best.wall = std::min(best.wall, std::chrono::duration<double>(Clock::now() - start).count() / n);
    best.cpu = std::min(best.cpu, (ThreadSeconds() - cpu_start) / n);
  }
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  int runs = 5;
  bool bytes = false;
  bool write = false;
  std::vector<std::string> files;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--runs" && i + 1 < argc) {
      runs = std::max(1, std::atoi(argv[++i]));
    } else if (arg == "--bytes") {
      bytes = true;
    } else if (arg == "--write") {
      write = true;
    } else if (!arg.empty() && arg[0] == '-') {
      std::fputs("usage: lumerca-bench-read [--runs N] [--bytes] [--write] FILE...\n", stderr);
      return 2;
    } else {
      files.push_back(arg);
    }
  }
  lumerca::ReadOptions options;
  options.code_page = 1252;
  for (const std::string& file : files) {
    std::vector<char> data;
    if (bytes) {
      std::ifstream in(file, std::ios::binary);
      data.assign(std::istreambuf_iterator<char>(in), {});
    }
    // Each read's marker is dropped before the next read, as a program that
    // reads one marker after another does (and as the Python side does).
    const auto read_once = [&] {
      return bytes ? lumerca::ReadMarker(std::as_bytes(std::span(data)), options)
                   : lumerca::ReadMarker(file, options);
    };
    const lumerca::ImportStatus status = read_once().status;
    const Times read = SecondsPerCall(runs, [&] { (void)read_once(); });
    Times written;
    if (write) {
      const lumerca::Marker marker = read_once().marker;
      written = SecondsPerCall(runs, [&] {
        lumerca::OutputFiles out;
        (void)lumerca::WriteMarker(marker, out);
      });
    }
    std::printf("%s\t%.9f\t%.9f\t%.9f\t%.9f\t%s\n", file.c_str(), read.wall, read.cpu, written.wall,
                written.cpu, lumerca::StatusText(status));
  }
  return 0;
}
