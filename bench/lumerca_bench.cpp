// lumerca-bench: how fast numbers are formatted, how the conversion scales
// with the size of the marker file, against the floor of plain file input and
// output and against libgsf, and what the worst hostile inputs cost in time
// and memory.
//
//   lumerca-bench [--seed N] [--rungs N] [--from K] [--runs N] [--cuts N] [--splits N]
//                 [--largest-cuts N] [--batch N] [--no-numbers] [--no-ladder] [--no-hostile]
//                 [--no-batch] [--small-batch-only] [--baseline TOOL] [--check]
//   lumerca-bench --generate FILE [--seed N] [--pieces N] [--sizes N] [--classes N]
//                 [--croixes N] [--halfs N] [--styles N] [--cuts N] [--splits N] [--long-names]
//   lumerca-bench --generate FILE --hostile NAME [--n N]

#include "bench/batch.h"
#include "bench/generator.h"
#include "bench/heap_counter.h"
#include "bench/hostile.h"
#include "bench/measure.h"
#include "bench/numbers.h"
#include "platform/codepage.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include <fcntl.h>
#include <malloc.h>
#include <unistd.h>

using namespace lumerca::platform;

namespace fs = std::filesystem;
using namespace lumerca::bench;

namespace {

struct Options {
  std::uint64_t seed = 1;
  unsigned rungs = 13;
  std::size_t top_cut_streams = 16384;
  std::size_t splits_per_stream = 1024;
  std::size_t largest_cut_streams = 256;
  unsigned from_rung = 0;  // the rungs below are left out
  int repetitions = 0;     // runs per file (0: by the file's size)
  bool numbers = true;
  bool ladder = true;
  bool hostile = true;
  std::size_t batch_files = 2000;  // 0: no batch rung
  fs::path baseline;               // another lumerca-import measured beside this one
  bool small_batch_only = false;   // of the batch rungs, the small markers' alone
  bool check = false;
  fs::path generate;  // write one synthetic marker file of `shape`
  Shape shape;
  std::string hostile_case;  // with `generate`: write this hostile case instead
  std::size_t hostile_n = 0;  // its size (0: the catalogue's)
};

// The top of the ladder: every table at its format limit, long names, and
// .CUTS streams in groups of 1,024 per storage.
Shape TopShape(const Options& options) {
  Shape top = LargestShape(options.top_cut_streams);
  top.halfs = 8191;
  top.styles = 4095;
  top.splits_per_stream = options.splits_per_stream;
  return top;
}

// Writes a generated file and flushes it to the disk, so that its write-back
// does not run during the measurements that follow.
void WriteFile(const fs::path& path, const lumerca::testing::ByteVector& bytes) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) throw std::runtime_error("cannot create " + path.string());
  const auto* data = reinterpret_cast<const char*>(bytes.data());
  std::size_t left = bytes.size();
  while (left > 0) {
    const ssize_t n = ::write(fd, data, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ::close(fd);
      throw std::runtime_error("cannot write " + path.string());
    }
    data += n;
    left -= static_cast<std::size_t>(n);
  }
  if (::fsync(fd) != 0 || ::close(fd) != 0) throw std::runtime_error("cannot flush " + path.string());
}

std::string Mb(double bytes) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f", bytes / 1e6);
  return text;
}

std::string Ratio(double now, double before) {
  if (before <= 0) return "-";
  char text[32];
  std::snprintf(text, sizeof text, "%.2f", now / before);
  return text;
}

// Processor times come in clock ticks: a ratio of a few ticks means nothing.
std::string CpuRatio(double now, double before) {
  if (before < 0.02 || now < 0.02) return "-";
  return Ratio(now, before);
}

struct Best {
  ConversionSample first;  // memory figures come from the first run
  double open = 1e300, walk = 1e300, write = 1e300, total = 1e300;
  double write_user = 1e300, write_system = 1e300;
  void Add(const ConversionSample& s, bool is_first) {
    if (is_first) first = s;
    open = std::min(open, s.open_s);
    walk = std::min(walk, s.walk_s);
    write = std::min(write, s.write_s);
    total = std::min(total, s.Total());
    write_user = std::min(write_user, s.write_user_s);
    write_system = std::min(write_system, s.write_system_s);
  }
};

// Small files run several times and keep the fastest run of each step.
int Repetitions(std::uint64_t bytes) {
  if (bytes < 4'000'000) return 5;
  if (bytes < 64'000'000) return 3;
  return 2;
}

Best Measure(const fs::path& file, const fs::path& out, int reps) {
  Best best;
  for (int r = 0; r < reps; ++r) {
    ClearOutput(out);
    best.Add(ConvertInChild(file, out), r == 0);
  }
  ClearOutput(out);
  return best;
}

struct Row {
  unsigned rung = 0;
  std::uint64_t input = 0, output = 0;
  Best best;
  double floor = 0, gsf = 0;
};

void RunLadder(const Options& options, const fs::path& scratch, const fs::path& out) {
  const Shape top = TopShape(options);
  std::printf("== Ladder: seed %llu, %u rungs, each doubling every count of the one before\n",
              static_cast<unsigned long long>(options.seed), options.rungs);
  std::printf("   top rung: %s\n", top.Describe().c_str());
  std::printf("   times in seconds (fastest of 5 runs below 4 MB, of 3 below 64 MB, else of 2);\n"
              "   ratio = time / time of the rung before (linear scaling: about 2.0)\n\n");
  std::printf("%4s %11s %11s | %8s %5s | %8s %5s | %8s %5s | %8s %5s | %7s\n", "rung", "input MB",
              "output MB", "open", "ratio", "walk", "ratio", "write", "ratio", "total", "ratio",
              "MB/s");
  std::vector<Row> rows;
  for (unsigned k = options.from_rung; k < options.rungs; ++k) {
    const Shape shape = Scaled(top, options.rungs - 1 - k);
    const fs::path file = scratch / ("rung" + std::to_string(k) + ".mrk");
    {
      const auto bytes = GenerateFile(shape, options.seed);
      WriteFile(file, bytes);
    }
    malloc_trim(0);
    Row row;
    row.rung = k;
    row.input = fs::file_size(file);
    const int reps = options.repetitions > 0 ? options.repetitions : Repetitions(row.input);
    row.best = Measure(file, out, reps);
    if (row.best.first.status != 0) {
      std::printf("rung %u: %s (%s)\n", k, StatusName(row.best.first.status), row.best.first.message);
      fs::remove(file);
      continue;
    }
    row.output = row.best.first.output_bytes;
    row.floor = 1e300;
    row.gsf = 1e300;
    for (int r = 0; r < reps; ++r) {
      ClearOutput(out);
      row.floor = std::min(row.floor, FloorSeconds(file, out, row.output));
      row.gsf = std::min(row.gsf, GsfSeconds(file));
    }
    ClearOutput(out);
    fs::remove(file);

    const Row* before = rows.empty() ? nullptr : &rows.back();
    std::printf("%4u %11s %11s | %8.4f %5s | %8.4f %5s | %8.4f %5s | %8.4f %5s | %7.1f\n", k,
                Mb(static_cast<double>(row.input)).c_str(), Mb(static_cast<double>(row.output)).c_str(),
                row.best.open, before ? Ratio(row.best.open, before->best.open).c_str() : "-",
                row.best.walk, before ? Ratio(row.best.walk, before->best.walk).c_str() : "-",
                row.best.write, before ? Ratio(row.best.write, before->best.write).c_str() : "-",
                row.best.total, before ? Ratio(row.best.total, before->best.total).c_str() : "-",
                static_cast<double>(row.input) / row.best.total / 1e6);
    std::fflush(stdout);
    rows.push_back(row);
  }

  std::printf("\n   memory: heap = peak of the bytes live through operator new during the\n"
              "   conversion, above the process's own; RSS = peak resident set of the measuring\n"
              "   process above its start. write CPU: the write step's processor time in the\n"
              "   program and in the kernel (page cache, file system). floor = read the input +\n"
              "   write the output's bytes (two files, flushed, renamed); libgsf = open + read\n"
              "   every stream; read/gsf = (open + walk) / libgsf.\n\n");
  std::printf("%4s %11s | %9s %7s | %9s %7s | %7s %5s %6s %5s | %8s %6s %7s | %8s %8s\n", "rung",
              "input MB", "heap MB", "heap/B", "RSS MB", "RSS/B", "wr user", "ratio", "wr sys",
              "ratio", "floor s", "ratio", "conv/fl", "libgsf s", "read/gsf");
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const Row& r = rows[i];
    const double input = static_cast<double>(r.input);
    const double heap = static_cast<double>(r.best.first.HeapPeak());
    const double rss = static_cast<double>(r.best.first.rss_peak);
    const Row* p = i > 0 ? &rows[i - 1] : nullptr;
    std::printf("%4u %11s | %9s %7.2f | %9s %7.2f | %7.3f %5s %6.3f %5s | %8.4f %6s %7.2f | %8.4f %8.2f\n",
                r.rung, Mb(input).c_str(), Mb(heap).c_str(), heap / input, Mb(rss).c_str(),
                rss / input, r.best.write_user, p ? CpuRatio(r.best.write_user, p->best.write_user).c_str() : "-",
                r.best.write_system, p ? CpuRatio(r.best.write_system, p->best.write_system).c_str() : "-",
                r.floor, p ? Ratio(r.floor, p->floor).c_str() : "-", r.best.total / r.floor, r.gsf,
                (r.best.open + r.best.walk) / r.gsf);
  }
  // The scaling exponent over the upper half of the ladder: 1.0 is linear.
  if (rows.size() >= 4) {
    const Row& low = rows[rows.size() / 2];
    const Row& high = rows.back();
    const double size = std::log(static_cast<double>(high.input) / static_cast<double>(low.input));
    auto exponent = [size](double t_high, double t_low) { return std::log(t_high / t_low) / size; };
    std::printf("\n   scaling exponent from rung %u to rung %u (time ~ size^e; 1.00 is linear):\n"
                "   open %.2f, walk %.2f, write %.2f, total %.2f, floor %.2f, libgsf %.2f\n",
                low.rung, high.rung, exponent(high.best.open, low.best.open),
                exponent(high.best.walk, low.best.walk), exponent(high.best.write, low.best.write),
                exponent(high.best.total, low.best.total), exponent(high.floor, low.floor),
                exponent(high.gsf, low.gsf));
  }
  std::printf("\n");
}

void RunHostile(const Options& options, const fs::path& scratch, const fs::path& out) {
  std::printf("== Worst cases of the hostile catalogue (one run each; memory as above)\n\n");
  std::printf("%-21s %10s %-10s | %8s %8s %8s %8s | %9s %7s | %9s %7s\n", "case", "input MB",
              "result", "open s", "walk s", "write s", "total s", "heap MB", "heap/B", "RSS MB",
              "RSS/B");
  for (const HostileCase& c : HostileCases(options.largest_cut_streams, options.seed)) {
    const fs::path file = scratch / (c.name + ".mrk");
    {
      const auto bytes = c.build();
      WriteFile(file, bytes);
    }
    malloc_trim(0);
    const double input = static_cast<double>(fs::file_size(file));
    const Best best = Measure(file, out, 1);
    const ConversionSample& s = best.first;
    const double heap = static_cast<double>(s.HeapPeak());
    const double rss = static_cast<double>(s.rss_peak);
    std::printf("%-21s %10s %-10s | %8.4f %8.4f %8.4f %8.4f | %9s %7.2f | %9s %7.2f\n",
                c.name.c_str(), Mb(input).c_str(), StatusName(s.status), s.open_s, s.walk_s,
                s.write_s, s.Total(), Mb(heap).c_str(), heap / input, Mb(rss).c_str(), rss / input);
    if (s.status == 3) std::printf("%-21s   %s\n", "", s.message);
    std::fflush(stdout);
    fs::remove(file);
  }
  std::printf("\n");
  for (const HostileCase& c : HostileCases(options.largest_cut_streams, options.seed)) {
    std::printf("   %-21s %s\n", c.name.c_str(), c.what.c_str());
  }

  // Each shape at a quarter, half, once and twice its size in the catalogue:
  // a step whose time more than doubles with n grows faster than the input.
  std::printf("\n== The same shapes at n/4, n/2, n and 2n (fastest of 3 runs; ratio to the size before)\n"
              "   walk+report: the walk recording every element, as the model dump does\n\n");
  std::printf("%-21s %7s %9s | %8s %5s | %8s %5s | %8s %5s | %7s | %11s %5s %7s\n", "shape", "n",
              "input MB", "open s", "ratio", "walk s", "ratio", "write s", "ratio", "heap/B",
              "walk+report", "ratio", "heap/B");
  for (const HostileShape& shape : HostileShapes()) {
    Best before;
    double before_report = 0;
    for (int step = 0; step < 4; ++step) {
      const std::size_t n = shape.catalogue_n * (std::size_t{1} << step) / 4;
      const fs::path file = scratch / (shape.name + "-" + std::to_string(n) + ".mrk");
      WriteFile(file, shape.build(n));
      malloc_trim(0);
      const double input = static_cast<double>(fs::file_size(file));
      const Best best = Measure(file, out, 3);
      double report = 1e300;
      std::uint64_t report_heap = 0;
      for (int r = 0; r < 3; ++r) {
        ClearOutput(out);
        const ConversionSample s = ConvertInChild(file, out, true);
        report = std::min(report, s.walk_s);
        report_heap = s.HeapPeak();
      }
      ClearOutput(out);
      const bool first = step == 0;
      std::printf("%-21s %7zu %9s | %8.4f %5s | %8.4f %5s | %8.4f %5s | %7.2f | %11.4f %5s %7.2f\n",
                  first ? shape.name.c_str() : "", n, Mb(input).c_str(), best.open,
                  first ? "-" : Ratio(best.open, before.open).c_str(), best.walk,
                  first ? "-" : Ratio(best.walk, before.walk).c_str(), best.write,
                  first ? "-" : Ratio(best.write, before.write).c_str(),
                  static_cast<double>(best.first.HeapPeak()) / input, report,
                  first ? "-" : Ratio(report, before_report).c_str(),
                  static_cast<double>(report_heap) / input);
      std::fflush(stdout);
      before = best;
      before_report = report;
      fs::remove(file);
    }
  }
  std::printf("\n");
}

// The self-check run by CTest: the generator is reproducible from its seed,
// and what it writes imports with exactly the pieces and cut lines drawn.
int Check(const fs::path& scratch, const fs::path& out) {
  int failures = 0;
  auto expect = [&failures](bool ok, const std::string& what) {
    if (!ok) {
      std::printf("FAILED: %s\n", what.c_str());
      ++failures;
    }
  };
  Shape shape;
  shape.pieces = 300;
  shape.sizes = 7;
  shape.classes = 11;
  shape.croixes = 40;
  shape.halfs = 9;
  shape.cut_streams = 50;
  shape.splits_per_stream = 6;
  shape.cut_streams_per_storage = 16;
  expect(shape.Valid(), "the shape is valid");
  const auto a = GenerateFile(shape, 7);
  expect(a == GenerateFile(shape, 7), "the same seed gives the same bytes");
  expect(a != GenerateFile(shape, 8), "another seed gives other bytes");
  Shape long_names = shape;
  long_names.long_names = true;
  expect(GenerateFile(long_names, 7).size() > a.size(), "long names make a larger file");
  expect(LargestShape(1).Valid() && Scaled(LargestShape(1), 20).Valid(),
         "the largest shape and its scaled rungs are valid");
  expect(BatchShape().Valid() && SmallBatchShape().Valid(), "the batch rungs' shapes are valid");

  const fs::path file = scratch / "check.mrk";
  WriteFile(file, a);
  const ConversionSample s = ConvertInChild(file, out);
  expect(s.status == 0, std::string("the file imports (") + s.message + ")");
  expect(s.pieces == shape.pieces, "every piece is read");

  // Position file: a piece line has ten fields, a cut line five.
  const auto marker = GenerateMarker(shape, 7);
  std::set<int> halfs(marker.halfs.begin(), marker.halfs.end());
  std::size_t piece_lines = 0, cut_lines = 0;
  for (std::size_t j = 0; j < marker.pieces.size(); ++j) {
    if (halfs.count(static_cast<int>(j)) != 0) continue;
    ++piece_lines;
    auto cuts = marker.cuts.find(static_cast<int>(j));
    if (cuts != marker.cuts.end()) cut_lines += cuts->second.size();
  }
  std::ifstream positions(out / "posimport.txt", std::ios::binary);
  std::string line;
  std::size_t got_pieces = 0, got_cuts = 0;
  while (std::getline(positions, line)) {
    const auto commas = std::count(line.begin(), line.end(), ',');
    if (commas == 9) ++got_pieces;
    if (commas == 4) ++got_cuts;
  }
  expect(got_pieces == piece_lines, "one position line per piece that is not a half piece (" +
                                        std::to_string(got_pieces) + " of " +
                                        std::to_string(piece_lines) + ")");
  expect(got_cuts == cut_lines, "one line per cut line (" + std::to_string(got_cuts) + " of " +
                                    std::to_string(cut_lines) + ")");
  expect(GsfSeconds(file) >= 0, "libgsf opens the file");
  ClearOutput(out);
  std::printf("generator check: %s\n", failures == 0 ? "passed" : "FAILED");
  return failures == 0 ? 0 : 1;
}

void RunBatch(const Options& options, const fs::path& scratch) {
#ifdef LUMERCA_IMPORT_TOOL
  BatchOptions batch;
  batch.tool = LUMERCA_IMPORT_TOOL;
  batch.baseline = options.baseline;
  batch.files = options.batch_files;
  batch.runs = options.repetitions > 0 ? options.repetitions : 3;
  batch.seed = options.seed;
  batch.small_only = options.small_batch_only;
  RunBatchRungs(batch, scratch);
#else
  (void)options;
  (void)scratch;
  std::printf("== Batch: left out, lumerca-import is not built (LUMERCA_BUILD_TOOLS=OFF)\n\n");
#endif
}

bool ParseNumber(const char* text, unsigned long long& value) {
  char* end = nullptr;
  value = std::strtoull(text, &end, 10);
  return end != text && *end == '\0';
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    unsigned long long value = 0;
    auto number = [&](unsigned long long max) {
      if (i + 1 >= argc || !ParseNumber(argv[i + 1], value) || value > max) {
        std::fprintf(stderr, "lumerca-bench: %s needs a number up to %llu\n", arg.c_str(), max);
        std::exit(2);
      }
      ++i;
      return value;
    };
    if (arg == "--seed") {
      options.seed = number(~0ULL);
    } else if (arg == "--rungs") {
      options.rungs = static_cast<unsigned>(std::max(1ULL, number(16)));
    } else if (arg == "--from") {
      options.from_rung = static_cast<unsigned>(number(15));
    } else if (arg == "--runs") {
      options.repetitions = static_cast<int>(number(100));
    } else if (arg == "--cuts") {
      options.top_cut_streams = options.shape.cut_streams = number(65535);
    } else if (arg == "--splits") {
      options.splits_per_stream = options.shape.splits_per_stream = number(kMaxSplitsPerStream);
    } else if (arg == "--largest-cuts") {
      options.largest_cut_streams = number(65535);
    } else if (arg == "--no-numbers") {
      options.numbers = false;
    } else if (arg == "--no-ladder") {
      options.ladder = false;
    } else if (arg == "--no-hostile") {
      options.hostile = false;
    } else if (arg == "--batch") {
      options.batch_files = std::max(1ULL, number(1000000));
    } else if (arg == "--no-batch") {
      options.batch_files = 0;
    } else if (arg == "--small-batch-only") {
      options.small_batch_only = true;
    } else if (arg == "--baseline" && i + 1 < argc) {
      options.baseline = argv[++i];
    } else if (arg == "--check") {
      options.check = true;
    } else if (arg == "--generate" && i + 1 < argc) {
      options.generate = argv[++i];
    } else if (arg == "--pieces") {
      options.shape.pieces = number(kMaxPieces);
    } else if (arg == "--sizes") {
      options.shape.sizes = number(kMaxTableRecords);
    } else if (arg == "--classes") {
      options.shape.classes = number(kMaxTableRecords);
    } else if (arg == "--croixes") {
      options.shape.croixes = number(kMaxTableRecords);
    } else if (arg == "--halfs") {
      options.shape.halfs = number(kMaxTableRecords);
    } else if (arg == "--styles") {
      options.shape.styles = number(kMaxTableRecords);
    } else if (arg == "--long-names") {
      options.shape.long_names = true;
    } else if (arg == "--hostile" && i + 1 < argc) {
      options.hostile_case = argv[++i];
    } else if (arg == "--n") {
      options.hostile_n = number(1000000);
    } else {
      std::fprintf(stderr,
                   "usage: lumerca-bench [--seed N] [--rungs N] [--cuts N] [--splits N]\n"
                   "                     [--largest-cuts N] [--no-numbers] [--no-ladder] [--no-hostile]\n"
                   "                     [--batch N] [--no-batch] [--small-batch-only] [--baseline TOOL]\n"
                   "                     [--check]\n"
                   "  --rungs N         rungs of the ladder (default 13), each twice the one before\n"
                   "  --cuts N          .CUTS streams of the top rung (default 16384)\n"
                   "  --splits N        splits per .CUTS stream (default 1024)\n"
                   "  --largest-cuts N  .CUTS streams of 32,767 splits in the largest marker (256)\n"
                   "  --from K          start the ladder at rung K\n"
                   "  --runs N          runs per file (default: 5 below 4 MB, 3 below 64 MB, else 2)\n"
                   "  --batch N         markers of each batch rung (default 2000)\n"
                   "  --no-batch        leave the batch rungs out\n"
                   "  --small-batch-only  of the batch rungs, the small markers' alone\n"
                   "  --baseline TOOL   measure another build of lumerca-import in the batch rungs\n"
                   "                    too, its runs alternating with this one's\n"
                   "  --check           check the generator and exit\n"
                   "       lumerca-bench --generate FILE [--seed N] [--pieces N] [--sizes N]\n"
                   "                     [--classes N] [--croixes N] [--halfs N] [--styles N]\n"
                   "                     [--cuts N] [--splits N] [--long-names]\n"
                   "  --generate FILE   write one synthetic marker file (defaults: 64 pieces,\n"
                   "                    8 sizes, 16 classes, 64 croixes, 4 halfs, 2 styles,\n"
                   "                    16 .CUTS streams of 8 splits)\n"
                   "       lumerca-bench --generate FILE --hostile NAME [--n N]\n"
                   "  --hostile NAME    write the hostile case NAME of the benchmark instead, at\n"
                   "                    size N (default: the catalogue's)\n");
      return 2;
    }
  }

  if (!options.generate.empty() && !options.hostile_case.empty()) {
    for (const HostileShape& shape : HostileShapes()) {
      if (shape.name != options.hostile_case) continue;
      const std::size_t n = options.hostile_n != 0 ? options.hostile_n : shape.catalogue_n;
      WriteFile(options.generate, shape.build(n));
      std::printf("%s: %s (n = %zu)\n", options.generate.c_str(), shape.what.c_str(), n);
      return 0;
    }
    std::fprintf(stderr, "lumerca-bench: no hostile case %s; there are:", options.hostile_case.c_str());
    for (const HostileShape& shape : HostileShapes()) std::fprintf(stderr, " %s", shape.name.c_str());
    std::fprintf(stderr, "\n");
    return 2;
  }
  if (!options.generate.empty()) {
    if (!options.shape.Valid()) {
      std::fprintf(stderr, "lumerca-bench: a count is 0 where a table must not be empty\n");
      return 2;
    }
    try {
      WriteFile(options.generate, GenerateFile(options.shape, options.seed));
    } catch (const std::exception& e) {
      std::fprintf(stderr, "lumerca-bench: %s\n", e.what());
      return 1;
    }
    std::printf("%s: %s\n", options.generate.c_str(), options.shape.Describe().c_str());
    return 0;
  }

  const fs::path scratch = fs::temp_directory_path() / ("lumerca-bench-" + std::to_string(::getpid()));
  const fs::path out = scratch / "out";
  fs::create_directories(out);
  // The code page's tables are built once per process: build them here, so
  // that no measured conversion pays for them.
  (void)lumerca::platform::CurrentCodePage();

  int status = 0;
  try {
    if (options.check) {
      status = Check(scratch, out);
    } else {
      std::printf("lumerca-bench on %ld cores; input bytes per second in MB/s (10^6 bytes)\n\n",
                  sysconf(_SC_NPROCESSORS_ONLN));
      if (options.numbers) RunNumberFormatting(options.seed);
      if (options.ladder) RunLadder(options, scratch, out);
      if (options.hostile) RunHostile(options, scratch, out);
      if (options.batch_files > 0) RunBatch(options, scratch);
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "lumerca-bench: %s\n", e.what());
    status = 1;
  }
  std::error_code error;
  fs::remove_all(scratch, error);
  return status;
}
