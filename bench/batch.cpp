#include "bench/batch.h"

#include "bench/generator.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sched.h>
#include <spawn.h>
#include <sys/wait.h>

extern char** environ;

namespace fs = std::filesystem;

namespace lumerca::bench {
namespace {

unsigned Processors() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof set, &set) != 0) return 1;
  return static_cast<unsigned>(std::max(1, CPU_COUNT(&set)));
}

// Seconds that `tool` -q -j `jobs` -o `out` `folder` takes; throws unless
// every file imports.
double ConvertFolder(const fs::path& tool, unsigned jobs, const fs::path& folder, const fs::path& out) {
  fs::remove_all(out);
  const std::string j = std::to_string(jobs);
  const std::vector<std::string> args = {tool.string(), "-q", "-j", j, "-o", out.string(), folder.string()};
  std::vector<char*> argv;
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t quiet;  // the tool's summary is not the benchmark's
  posix_spawn_file_actions_init(&quiet);
  posix_spawn_file_actions_addopen(&quiet, 2, "/dev/null", O_WRONLY, 0);
  const auto start = std::chrono::steady_clock::now();
  pid_t pid = -1;
  const int started = posix_spawn(&pid, argv[0], &quiet, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&quiet);
  if (started != 0) throw std::runtime_error("cannot start " + tool.string());
  int status = 0;
  waitpid(pid, &status, 0);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    throw std::runtime_error("lumerca-import -j " + j + " did not import every file");
  }
  return seconds;
}

}  // namespace

Shape BatchShape() {
  Shape shape;
  shape.pieces = 200;
  shape.sizes = 10;
  shape.classes = 16;
  shape.croixes = 160;
  shape.halfs = 4;
  shape.cut_streams = 20;  // 20 pieces with 5 cut lines each
  shape.splits_per_stream = 5;
  return shape;
}

void RunBatchRung(const fs::path& tool, const fs::path& scratch, std::size_t files, int runs,
                  std::uint64_t seed) {
  const Shape shape = BatchShape();
  const fs::path folder = scratch / "batch";
  const fs::path out = scratch / "batch-out";
  fs::create_directories(folder);
  std::uint64_t bytes = 0;
  for (std::size_t i = 0; i < files; ++i) {
    const auto marker = GenerateFile(shape, seed + i);
    bytes += marker.size();
    std::string name = "m";
    name += std::to_string(i);
    name += ".mrk";
    std::ofstream(folder / name, std::ios::binary)
        .write(reinterpret_cast<const char*>(marker.data()), static_cast<std::streamsize>(marker.size()));
  }
  const unsigned processors = Processors();
  std::printf("== Batch: lumerca-import on a folder of %zu markers (%.1f kB each on average;\n"
              "   %s), fastest of %d runs\n\n",
              files, static_cast<double>(bytes) / static_cast<double>(files) / 1e3,
              shape.Describe().c_str(), runs);
  double one = 1e300, all = 1e300;
  for (int r = 0; r < runs; ++r) {
    one = std::min(one, ConvertFolder(tool, 1, folder, out));
    all = std::min(all, ConvertFolder(tool, processors, folder, out));
  }
  const double n = static_cast<double>(files);
  std::printf("%8s %10s %10s %9s\n", "jobs", "seconds", "markers/s", "time/-j1");
  std::printf("%8u %10.3f %10.1f %9.2f\n", 1u, one, n / one, 1.0);
  std::printf("%8u %10.3f %10.1f %9.2f\n", processors, all, n / all, all / one);
  std::printf("\n   speed-up with %u jobs: %.2f\n\n", processors, one / all);
  fs::remove_all(out);
  fs::remove_all(folder);
}

}  // namespace lumerca::bench
