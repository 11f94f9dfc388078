#include "bench/measure.h"

#include "bench/heap_counter.h"
#include "entry/import_steps.h"
#include "model/marker.h"
#include "entry/walk.h"
#include "model/index.h"
#include "output/normalize.h"
#include "platform/codepage.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <new>
#include <string>
#include <system_error>
#include <vector>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace lumerca::bench {

using namespace lumerca::model;
using namespace lumerca::readers;
using namespace lumerca::entry;
using namespace lumerca::output;
using namespace lumerca::platform;
namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point from, Clock::time_point to) {
  return std::chrono::duration<double>(to - from).count();
}

// A field of /proc/self/status in bytes (the file gives kB).
std::uint64_t StatusBytes(const char* field) {
  std::ifstream in("/proc/self/status");
  std::string line;
  const std::size_t length = std::strlen(field);
  while (std::getline(in, line)) {
    if (line.compare(0, length, field) == 0 && line.size() > length && line[length] == ':') {
      return std::stoull(line.substr(length + 1)) * 1024;
    }
  }
  return 0;
}

// CPU time of this process so far: in user mode, or in the kernel.
double CpuSeconds(bool kernel) {
  struct rusage usage {};
  ::getrusage(RUSAGE_SELF, &usage);
  const struct timeval& t = kernel ? usage.ru_stime : usage.ru_utime;
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
}

void SetMessage(ConversionSample& sample, const std::string& text) {
  std::snprintf(sample.message, sizeof sample.message, "%s", text.c_str());
}

std::uint64_t FileSize(const std::filesystem::path& path) {
  std::error_code error;
  const auto size = std::filesystem::file_size(path, error);
  return error ? 0 : static_cast<std::uint64_t>(size);
}

ConversionSample Convert(const std::filesystem::path& file, const std::filesystem::path& out_dir,
                         bool record_all) {
  ConversionSample sample;
  const std::uint64_t rss_start = StatusBytes("VmRSS");
  const std::uint64_t base = HeapNow();
  auto above = [base] { return HeapPeak() > base ? HeapPeak() - base : 0; };
  try {
    auto model = std::make_unique<CMarker>();
    WalkReport report;
    report.record_all = record_all;
    ResetHeapPeak();
    const auto t0 = Clock::now();
    auto t1 = t0;
    // The open is timed up to the walk, whose heap is counted from there.
    const bool opened = OpenAndWalk(file, *model, report, nullptr, [&] {
      t1 = Clock::now();
      sample.open_s = Seconds(t0, t1);
      sample.heap_open = above();
      ResetHeapPeak();
    });
    if (!opened) {
      sample.open_s = Seconds(t0, Clock::now());
      sample.heap_open = above();
      sample.status = 2;
      return sample;
    }
    const auto t2 = Clock::now();
    sample.walk_s = Seconds(t1, t2);
    sample.heap_walk = above();
    sample.pieces = model->m_pieces.GetSize();

    ResetHeapPeak();
    const double user0 = CpuSeconds(false), system0 = CpuSeconds(true);
    if (model->m_pieces.IsEmpty()) {
      sample.status = 1;
    } else {
      // The write step builds the index and checks the cross-references as an
      // import does.
      const ModelIndex index(*model);
      const std::string bad = CheckIndexes(*model, index);
      if (!bad.empty()) throw std::runtime_error(bad);
      const platform::CodePage& code_page = platform::CurrentCodePage();
      const std::string_view name = FieldText(model->Name);
      WriteOutputFiles(*model, index, code_page, name, out_dir);
      SetMessage(sample, NormalizeName(name, code_page));
      if (report.used_damage > 0) sample.status = 4;
    }
    model.reset();
    const auto t3 = Clock::now();
    sample.write_s = Seconds(t2, t3);
    sample.write_user_s = CpuSeconds(false) - user0;
    sample.write_system_s = CpuSeconds(true) - system0;
    sample.heap_write = above();
  } catch (const std::bad_alloc&) {
    sample.status = 3;
    SetMessage(sample, "memory exhausted");
  } catch (const std::exception& e) {
    sample.status = 3;
    SetMessage(sample, e.what());
  }
  const std::uint64_t hwm = StatusBytes("VmHWM");
  sample.rss_peak = hwm > rss_start ? hwm - rss_start : 0;
  if (sample.status == 0 || sample.status == 4) {
    sample.output_bytes = FileSize(out_dir / "csvimprt.txt") + FileSize(out_dir / "posimport.txt");
  }
  return sample;
}

[[noreturn]] void Fail(const std::string& what) {
  throw std::system_error(errno, std::generic_category(), what);
}

}  // namespace

std::uint64_t ConversionSample::HeapPeak() const {
  return std::max({heap_open, heap_walk, heap_write});
}

const char* StatusName(int status) {
  switch (status) {
    case 0: return "imported";
    case 1: return "no pieces";
    case 2: return "cannot open";
    case 4: return "salvaged";
    default: return "failed";
  }
}

ConversionSample ConvertInChild(const std::filesystem::path& file,
                                const std::filesystem::path& out_dir, bool record_all) {
  std::fflush(nullptr);
  int fds[2];
  if (::pipe(fds) != 0) Fail("pipe");
  const pid_t pid = ::fork();
  if (pid < 0) Fail("fork");
  if (pid == 0) {
    ::close(fds[0]);
    const ConversionSample sample = Convert(file, out_dir, record_all);
    const char* p = reinterpret_cast<const char*>(&sample);
    std::size_t left = sizeof sample;
    while (left > 0) {
      const ssize_t n = ::write(fds[1], p, left);
      if (n <= 0) ::_exit(2);
      p += n;
      left -= static_cast<std::size_t>(n);
    }
    ::_exit(0);
  }
  ::close(fds[1]);
  ConversionSample sample;
  char* p = reinterpret_cast<char*>(&sample);
  std::size_t got = 0;
  while (got < sizeof sample) {
    const ssize_t n = ::read(fds[0], p + got, sizeof sample - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += static_cast<std::size_t>(n);
  }
  ::close(fds[0]);
  int wstatus = 0;
  while (::waitpid(pid, &wstatus, 0) < 0 && errno == EINTR) {
  }
  if (got != sizeof sample) {
    sample = ConversionSample{};
    sample.status = 3;
    if (WIFSIGNALED(wstatus)) {
      SetMessage(sample, std::string("killed by signal ") + std::to_string(WTERMSIG(wstatus)));
    } else {
      SetMessage(sample, "the measuring process ended early");
    }
  }
  return sample;
}

double FloorSeconds(const std::filesystem::path& file, const std::filesystem::path& out_dir,
                    std::uint64_t output_bytes) {
  constexpr std::size_t kChunk = 64 * 1024;  // as the formatted text file hands its bytes on
  const auto t0 = Clock::now();
  std::vector<char> bytes;
  {
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) Fail("open " + file.string());
    struct stat st {};
    if (::fstat(fd, &st) != 0) Fail("stat " + file.string());
    bytes.resize(static_cast<std::size_t>(st.st_size));
    std::size_t got = 0;
    while (got < bytes.size()) {
      const ssize_t n = ::read(fd, bytes.data() + got, bytes.size() - got);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) Fail("read " + file.string());
      got += static_cast<std::size_t>(n);
    }
    ::close(fd);
  }
  std::vector<char> chunk(kChunk, 'x');
  const std::uint64_t halves[2] = {output_bytes / 2, output_bytes - output_bytes / 2};
  for (int k = 0; k < 2; ++k) {
    const auto temporary = out_dir / (".floor-" + std::to_string(k) + ".tmp");
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) Fail("create " + temporary.string());
    std::uint64_t left = halves[k];
    while (left > 0) {
      const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(left, kChunk));
      const ssize_t written = ::write(fd, chunk.data(), n);
      if (written < 0 && errno == EINTR) continue;
      if (written <= 0) Fail("write " + temporary.string());
      left -= static_cast<std::uint64_t>(written);
    }
    if (::fsync(fd) != 0 || ::close(fd) != 0) Fail("flush " + temporary.string());
    const auto final_name = out_dir / ("floor-" + std::to_string(k) + ".txt");
    if (::rename(temporary.c_str(), final_name.c_str()) != 0) Fail("rename " + final_name.string());
  }
  return Seconds(t0, Clock::now());
}

void ClearOutput(const std::filesystem::path& out_dir) {
  std::error_code error;
  for (const char* name : {"csvimprt.txt", "posimport.txt", "floor-0.txt", "floor-1.txt"}) {
    std::filesystem::remove(out_dir / name, error);
  }
}

}  // namespace lumerca::bench
