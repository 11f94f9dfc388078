#include "bench/batch.h"

#include "bench/generator.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sched.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace fs = std::filesystem;

namespace lumerca::bench {
namespace {

using Clock = std::chrono::steady_clock;

unsigned Processors() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof set, &set) != 0) return 1;
  return static_cast<unsigned>(std::max(1, CPU_COUNT(&set)));
}

[[noreturn]] void Fail(const std::string& what) {
  throw std::runtime_error(what + ": " + std::strerror(errno));
}

// Writes back what earlier runs left dirty, so that no run pays for
// another's.
void Settle(const fs::path& folder) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) Fail("open " + folder.string());
  ::syncfs(fd);
  ::close(fd);
}

// Seconds that `tool` -q -j `jobs` -o `out` `input` takes; throws unless
// every file imports.
double ConvertTree(const fs::path& tool, unsigned jobs, const fs::path& input, const fs::path& out) {
  const std::string j = std::to_string(jobs);
  const std::vector<std::string> args = {tool.string(), "-q", "-j", j, "-o", out.string(), input.string()};
  std::vector<char*> argv;
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t quiet;  // the tool's summary is not the benchmark's
  posix_spawn_file_actions_init(&quiet);
  posix_spawn_file_actions_addopen(&quiet, 2, "/dev/null", O_WRONLY, 0);
  const auto start = Clock::now();
  pid_t pid = -1;
  const int started = posix_spawn(&pid, argv[0], &quiet, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&quiet);
  if (started != 0) throw std::runtime_error("cannot start " + tool.string());
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    throw std::runtime_error(tool.string() + " -j " + j + " did not import every file");
  }
  return seconds;
}

// One file of a rung: where it is, where its pair goes (relative to the
// output folder), and the sizes of its two output files.
struct Item {
  fs::path input;
  fs::path folder;
  std::uint64_t sizes[2] = {0, 0};
};

void WriteAll(int fd, const char* data, std::size_t size, const fs::path& path) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) Fail("write " + path.string());
    data += n;
    size -= static_cast<std::size_t>(n);
  }
}

// Makes `folder` below the folder `root` (a descriptor), with its parents.
void MakeFolder(int root, const fs::path& folder) {
  if (::mkdirat(root, folder.c_str(), 0777) == 0 || errno == EEXIST) return;
  if (errno != ENOENT || !folder.has_parent_path()) Fail("mkdir " + folder.string());
  MakeFolder(root, folder.parent_path());
  if (::mkdirat(root, folder.c_str(), 0777) != 0 && errno != EEXIST) Fail("mkdir " + folder.string());
}

// The floor: one thread reads every input, makes its output folder, writes
// as many bytes as each of its output files holds under a temporary name and
// renames it into place; then one syncfs. Seconds.
double Floor(const std::vector<Item>& items, const fs::path& out) {
  std::vector<char> bytes, zeros;
  const auto start = Clock::now();
  fs::create_directories(out);
  const int root = ::open(out.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (root < 0) Fail("open " + out.string());
  static const char* const kNames[2] = {"csvimprt.txt", "posimport.txt"};
  for (const Item& item : items) {
    const int in = ::open(item.input.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) Fail("open " + item.input.string());
    struct stat status {};
    if (::fstat(in, &status) != 0) Fail("stat " + item.input.string());
    bytes.resize(static_cast<std::size_t>(status.st_size));
    for (std::size_t got = 0; got < bytes.size();) {
      const ssize_t n = ::read(in, bytes.data() + got, bytes.size() - got);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) Fail("read " + item.input.string());
      got += static_cast<std::size_t>(n);
    }
    ::close(in);
    MakeFolder(root, item.folder);
    for (int k = 0; k < 2; ++k) {
      const fs::path temporary = item.folder / (std::string(".floor.") + kNames[k]);
      const fs::path final_name = item.folder / kNames[k];
      const int fd = ::openat(root, temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
      if (fd < 0) Fail("create " + temporary.string());
      zeros.assign(item.sizes[k], 'x');
      WriteAll(fd, zeros.data(), zeros.size(), temporary);
      if (::close(fd) != 0) Fail("close " + temporary.string());
      if (::renameat(root, temporary.c_str(), root, final_name.c_str()) != 0) Fail("rename " + final_name.string());
    }
  }
  if (::syncfs(root) != 0) Fail("syncfs " + out.string());
  ::close(root);
  return std::chrono::duration<double>(Clock::now() - start).count();
}

std::uint64_t FileSize(const fs::path& path) {
  std::error_code error;
  const auto size = fs::file_size(path, error);
  if (error) throw std::runtime_error("no output file " + path.string());
  return size;
}

struct Rung {
  std::string title;
  Shape shape;
  std::size_t folders;  // the tree's folders (1: every file in one folder)
};

struct Measured {
  std::string label;
  std::vector<double> seconds;
  std::size_t one = 0;  // the -j 1 run of the same build (0: none)

  double Fastest() const { return *std::min_element(seconds.begin(), seconds.end()); }
  double Median() const {
    std::vector<double> sorted = seconds;
    std::sort(sorted.begin(), sorted.end());
    const std::size_t n = sorted.size();
    return n % 2 == 1 ? sorted[n / 2] : (sorted[n / 2 - 1] + sorted[n / 2]) / 2;
  }
};

void RunRung(const Rung& rung, const BatchOptions& options, const fs::path& scratch) {
  const fs::path input = scratch / "batch";
  // Each run writes a folder of its own, and all are removed at the end: a
  // file system may take longer to make files where many were removed a
  // short while before (ext4 without a journal passes over inodes freed in
  // the last minute), which would charge one run for the removal of
  // another's output.
  const fs::path outputs = scratch / "batch-out";
  std::size_t run_number = 0;
  const auto next_out = [&] { return outputs / std::to_string(run_number++); };
  fs::remove_all(input);
  std::vector<Item> items;
  std::uint64_t bytes = 0;
  for (std::size_t i = 0; i < options.files; ++i) {
    fs::path relative;
    if (rung.folders > 1) {
      const std::size_t folder = i % rung.folders;
      relative = fs::path("line" + std::to_string(folder % 4)) / ("week" + std::to_string(folder));
    }
    const fs::path name = "m" + std::to_string(i);
    fs::create_directories(input / relative);
    const auto marker = GenerateFile(rung.shape, options.seed + i);
    bytes += marker.size();
    std::ofstream(input / relative / (name.string() + ".mrk"), std::ios::binary)
        .write(reinterpret_cast<const char*>(marker.data()), static_cast<std::streamsize>(marker.size()));
    items.push_back({input / relative / (name.string() + ".mrk"), relative / name, {0, 0}});
  }
  std::sort(items.begin(), items.end(), [](const Item& a, const Item& b) { return a.input < b.input; });

  // A first run, not counted, gives the sizes of the output files (and
  // brings the inputs and the tool into the cache).
  const unsigned processors = Processors();
  const fs::path out = next_out();
  ConvertTree(options.tool, processors, input, out);
  std::uint64_t output_bytes = 0;
  for (Item& item : items) {
    item.sizes[0] = FileSize(out / item.folder / "csvimprt.txt");
    item.sizes[1] = FileSize(out / item.folder / "posimport.txt");
    output_bytes += item.sizes[0] + item.sizes[1];
  }

  std::vector<unsigned> jobs = {1};
  if (processors > 1) jobs.push_back(processors);
  std::vector<Measured> measured = {{"floor", {}, 0}};
  struct Run {
    fs::path tool;
    unsigned jobs;
    std::size_t slot;
  };
  std::vector<Run> runs;
  for (const bool baseline : {false, true}) {
    if (baseline && options.baseline.empty()) continue;
    const std::size_t one = measured.size();
    for (unsigned j : jobs) {
      runs.push_back({baseline ? options.baseline : options.tool, j, measured.size()});
      measured.push_back({(baseline ? "baseline -j " : "-j ") + std::to_string(j), {}, one});
    }
  }
  for (int round = 0; round < options.runs; ++round) {
    Settle(scratch);
    measured[0].seconds.push_back(Floor(items, next_out()));
    for (const Run& run : runs) {
      Settle(scratch);
      measured[run.slot].seconds.push_back(ConvertTree(run.tool, run.jobs, input, next_out()));
    }
  }
  fs::remove_all(outputs);
  fs::remove_all(input);

  const double n = static_cast<double>(options.files);
  std::printf("== Batch: %s: lumerca-import -q on %zu markers (%.1f kB each on average, %.1f kB of output;\n"
              "   %s),\n   %zu folders; %d runs each, alternating\n\n",
              rung.title.c_str(), options.files, static_cast<double>(bytes) / n / 1e3,
              static_cast<double>(output_bytes) / n / 1e3, rung.shape.Describe().c_str(), rung.folders,
              options.runs);
  std::printf("%-16s %9s %9s %9s %10s %9s\n", "run", "fastest s", "median s", "files/s", "time/floor",
              "time/-j1");
  const double floor = measured[0].Fastest();
  for (const Measured& row : measured) {
    char ratio[16] = "-";
    if (row.one > 0) std::snprintf(ratio, sizeof ratio, "%.2f", row.Fastest() / measured[row.one].Fastest());
    std::printf("%-16s %9.3f %9.3f %9.1f %10.2f %9s\n", row.label.c_str(), row.Fastest(), row.Median(),
                n / row.Fastest(), row.Fastest() / floor, ratio);
  }
  std::printf("\n   every run in seconds, in the order run:\n");
  for (const Measured& row : measured) {
    std::printf("   %-16s", row.label.c_str());
    for (const double seconds : row.seconds) std::printf(" %.3f", seconds);
    std::printf("\n");
  }
  std::printf("\n   floor: one thread reads every input, makes the folders, writes each output file's\n"
              "   bytes under a temporary name and renames it; one syncfs at the end\n\n");
}

}  // namespace

Shape SmallBatchShape() {
  Shape shape;
  shape.pieces = 30;
  shape.sizes = 5;
  shape.classes = 8;
  shape.croixes = 40;
  shape.halfs = 2;
  shape.styles = 1;
  shape.cut_streams = 6;  // 6 pieces with 4 cut lines each
  shape.splits_per_stream = 4;
  return shape;
}

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

void RunBatchRungs(const BatchOptions& options, const fs::path& scratch) {
  const Rung rungs[] = {
      {"small markers in a tree", SmallBatchShape(), 20},
      {"larger markers in one folder", BatchShape(), 1},
  };
  for (const Rung& rung : rungs) {
    RunRung(rung, options, scratch);
    std::fflush(stdout);
    if (options.small_only) break;
  }
}

}  // namespace lumerca::bench
