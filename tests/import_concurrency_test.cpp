// Imports that overlap, into one output folder: threads of this process and
// other processes, from one shared marker file and from files of their own.
// Every call's csvimprt.txt differs from every other call's (it holds the
// caller's name), and the calls from files of their own differ in
// posimport.txt too (their pieces are moved), so that the pair found in the
// folder tells whether both files came from one call (for two calls from the
// shared file, whose posimport.txt is the same, it tells less).
//
// A pair is read under a shared flock on the folder: the commit renames both
// files under an exclusive one (and under a lock of the process), so a reader
// that takes the lock never sees a pair half replaced.

#include <lumerca/marker.h>

#include "tests/support/import_fixture.h"
#include "tests/support/marker_streams.h"
#include "tests/support/sample_markers.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

namespace lumerca {
namespace {

namespace fs = std::filesystem;
using namespace testing;

using Pair = std::pair<std::string, std::string>;  // csvimprt.txt, posimport.txt

constexpr int kThreads = 8;
constexpr int kCallsPerThread = 12;

// The marker of one caller: the Jacket marker, its pieces moved by `shift`
// (0 for the shared file).
MarkerRecipe Shifted(int shift) {
  MarkerRecipe recipe = JacketMarker();
  for (auto& piece : recipe.pieces) piece.place_x += static_cast<float>(shift);
  return recipe;
}

std::string CallerName(int process, int thread, int call) {
  return "P" + std::to_string(process) + " T" + std::to_string(thread) + " C" + std::to_string(call);
}

class ConcurrentImport : public ImportFixture {
protected:
  // Threads with an even number import the shared file, the others a file of
  // their own.
  fs::path MarkerOf(int process, int thread) const {
    if (thread % 2 == 0) return dir() / "shared.mrk";
    return dir() / ("own-" + std::to_string(process) + "-" + std::to_string(thread) + ".mrk");
  }

  void WriteMarkers(int processes) {
    WriteBytes(dir() / "shared.mrk", MarkerFile(Shifted(0)));
    for (int p = 0; p < processes; ++p) {
      for (int t = 1; t < kThreads; t += 2) WriteBytes(MarkerOf(p, t), MarkerFile(Shifted(1000 * (p * kThreads + t))));
    }
  }

  // The pair of every call, imported one after the other into a folder of
  // its own.
  std::set<Pair> ExpectedPairs(int processes) {
    const fs::path alone = dir() / "alone";
    fs::create_directories(alone);
    std::set<Pair> pairs;
    for (int p = 0; p < processes; ++p) {
      for (int t = 0; t < kThreads; ++t) {
        for (int c = 0; c < kCallsPerThread; ++c) {
          const auto result = ImportMarker(MarkerOf(p, t), CallerName(p, t, c), alone);
          EXPECT_EQ(result.status, ImportStatus::Imported);
          pairs.insert({ReadFile(alone / "csvimprt.txt"), ReadFile(alone / "posimport.txt")});
        }
      }
    }
    EXPECT_EQ(pairs.size(), static_cast<std::size_t>(processes * kThreads * kCallsPerThread));
    return pairs;
  }

  // Both files, read while no commit can run.
  Pair ReadPairLocked() const {
    const int fd = ::open(out().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    EXPECT_GE(fd, 0);
    EXPECT_EQ(::flock(fd, LOCK_SH), 0);
    Pair pair{ReadFile(out() / "csvimprt.txt"), ReadFile(out() / "posimport.txt")};
    ::flock(fd, LOCK_UN);
    ::close(fd);
    return pair;
  }

  // kThreads threads of `process`, each making its calls and checking the
  // pair after each. Returns the number of failed checks.
  int RunThreads(int process, const std::set<Pair>& expected) {
    std::atomic<int> failures{0};
    std::atomic<bool> go{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
      threads.emplace_back([&, t] {
        while (!go.load()) std::this_thread::yield();
        for (int c = 0; c < kCallsPerThread; ++c) {
          const auto result = ImportMarker(MarkerOf(process, t), CallerName(process, t, c), out());
          if (result.status != ImportStatus::Imported) ++failures;
          if (!expected.count(ReadPairLocked())) ++failures;
        }
      });
    }
    go = true;
    for (auto& thread : threads) thread.join();
    return failures.load();
  }
};

TEST_F(ConcurrentImport, ThreadsLeaveAConsistentPair) {
  WriteMarkers(1);
  const std::set<Pair> expected = ExpectedPairs(1);

  // A reader that keeps looking at the folder while the calls run.
  std::atomic<bool> done{false};
  std::atomic<int> reader_failures{0};
  std::atomic<int> snapshots{0};
  std::thread reader([&] {
    while (!done.load()) {
      if (fs::exists(out() / "csvimprt.txt")) {
        if (!expected.count(ReadPairLocked())) ++reader_failures;
        ++snapshots;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  });
  const int failures = RunThreads(0, expected);
  done = true;
  reader.join();

  EXPECT_EQ(failures, 0) << "calls that failed or found a mixed pair";
  EXPECT_EQ(reader_failures, 0) << "mixed pairs seen by the reader, of " << snapshots.load();
  // At the end, without any lock: one complete pair, and nothing else.
  EXPECT_EQ(expected.count({ReadFile(out() / "csvimprt.txt"), ReadFile(out() / "posimport.txt")}), 1u);
  EXPECT_EQ(FilesInOutput(), 2u) << "a temporary file was left behind";
}

// Processes (each with its threads) that import into the same folder: the
// flock on the folder keeps their commits apart.
TEST_F(ConcurrentImport, ProcessesLeaveAConsistentPair) {
  constexpr int kProcesses = 3;
  WriteMarkers(kProcesses);
  const std::set<Pair> expected = ExpectedPairs(kProcesses);

  std::vector<pid_t> children;
  for (int p = 0; p < kProcesses; ++p) {
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      const int failures = RunThreads(p, expected);
      ::_exit(failures == 0 ? 0 : 1);
    }
    children.push_back(child);
  }
  int mixed = 0;
  int alive = kProcesses;
  while (alive > 0) {
    if (fs::exists(out() / "csvimprt.txt") && !expected.count(ReadPairLocked())) ++mixed;
    int status = 0;
    const pid_t ended = ::waitpid(-1, &status, WNOHANG);
    if (ended > 0) {
      --alive;
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "process " << ended << " saw a failure";
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  EXPECT_EQ(mixed, 0);
  EXPECT_EQ(expected.count({ReadFile(out() / "csvimprt.txt"), ReadFile(out() / "posimport.txt")}), 1u);
  EXPECT_EQ(FilesInOutput(), 2u) << "a temporary file was left behind";
}

}  // namespace
}  // namespace lumerca
