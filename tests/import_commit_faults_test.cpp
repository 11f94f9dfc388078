// The commit of a pair under faults: every step of an import made to fail,
// and stopped as a kill would stop it, with and without hard links; the
// files of a live import left alone by another's clean-up; those of a
// process that died settled by the next import.

#include <lumerca/marker.h>

#include "platform/output_faults.h"
#include "platform/output_folder.h"
#include "tests/support/commit_faults.h"
#include "tests/support/import_fixture.h"

#include <gtest/gtest.h>

#include <iostream>
#include <string>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

namespace lumerca::testing {
namespace {

namespace fs = std::filesystem;
using platform::Fault;
using platform::OutputStep;

class CommitFaults : public ImportFixture {
protected:
  void SetUp() override {
    ImportFixture::SetUp();
    for (int i = 0; i < 3; ++i) {
      MarkerRecipe recipe = JacketMarker();
      recipe.header.name = "MARKER ";
      recipe.header.name += std::to_string(i + 1);
      for (auto& piece : recipe.pieces) piece.place_x += static_cast<float>(1000 * i);
      markers_.push_back(dir() / ("m" + std::to_string(i + 1) + ".mrk"));
      WriteBytes(markers_.back(), MarkerFile(recipe));
    }
  }

  void TearDown() override {
    platform::SetOutputFaultHook({});
    ImportFixture::TearDown();
  }

  void Expect(const CommitFaultReport& report) {
    std::string problems;
    for (const auto& p : report.problems) problems += p + "\n";
    EXPECT_TRUE(report.problems.empty()) << problems;
    std::string steps;
    for (const auto& s : report.steps) steps += s + "\n";
    // The steps of a commit into a folder that holds a pair: the writing,
    // the marks, the earlier files kept and each new file put in place.
    for (const char* step : {"create the lock file", "write", "flush", "mark forward", "put in place csvimprt.txt",
                             "put in place posimport.txt", "remove the lock file"}) {
      EXPECT_NE(steps.find(step), std::string::npos) << step << " is not among\n" << steps;
    }
    EXPECT_GT(report.imports, 300u);
    std::cout << report.imports << " imports, " << report.steps.size() << " steps\n";
  }

  std::vector<std::string> Ours() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(out())) {
      const std::string name = entry.path().filename().string();
      if (name.rfind(".lumerca-", 0) == 0) names.push_back(name);
    }
    return names;
  }

  std::vector<fs::path> markers_;
};

TEST_F(CommitFaults, EveryStepFailedOrStopped) {
  const CommitFaultReport report = RunCommitFaults(markers_, dir() / "faults", {});
  Expect(report);
  std::string steps;
  for (const auto& s : report.steps) steps += s + "\n";
  EXPECT_NE(steps.find("link the earlier file csvimprt.txt"), std::string::npos) << steps;
}

// Where the file system refuses hard links, the earlier file is moved aside:
// the same promises hold.
TEST_F(CommitFaults, EveryStepFailedOrStoppedWithoutLinks) {
  CommitFaultOptions options;
  options.links_refused = true;
  const CommitFaultReport report = RunCommitFaults(markers_, dir() / "faults", options);
  Expect(report);
  std::string steps;
  for (const auto& s : report.steps) steps += s + "\n";
  EXPECT_NE(steps.find("move the earlier file aside csvimprt.txt"), std::string::npos) << steps;
}

// The same with the flush deferred: a failure or a stop at any step, into
// an empty folder (nothing flushed) or one holding a pair (flushed first),
// leaves what it leaves without deferring.
TEST_F(CommitFaults, EveryStepFailedOrStoppedWithTheFlushDeferred) {
  CommitFaultOptions options;
  options.deferred = true;
  options.stops_in_recovery = false;  // the recovery is the same code as above
  const CommitFaultReport report = RunCommitFaults(markers_, dir() / "faults", options);
  Expect(report);
}

// A deferred flush leaves out the flushes of a pair only where no earlier
// file stands at either name: a folder holding a pair, or one file of it,
// still gets both files flushed before they replace it and the folder after.
// Without the option, every pair is flushed.
TEST_F(CommitFaults, AFlushIsDeferredOnlyWhereNothingEarlierStands) {
  struct Counted {
    int flushes = 0, folder_syncs = 0;
  };
  Counted counted;
  platform::SetOutputFaultHook([&](OutputStep step, const std::string&) {
    counted.flushes += step == OutputStep::Flush;
    counted.folder_syncs += step == OutputStep::SyncFolder;
    return Fault::None;
  });
  DeferredFlush deferred;
  ImportOptions options;
  options.deferred = &deferred;
  const auto import = [&](const fs::path& folder, const ImportOptions& with) {
    counted = {};
    fs::create_directories(folder);
    return ImportMarker(markers_[0], "", folder, with);
  };

  ImportResult result = import(dir() / "fresh", options);
  ASSERT_EQ(result.status, ImportStatus::Imported);
  EXPECT_TRUE(result.deferred);
  EXPECT_EQ(counted.flushes, 0);
  EXPECT_EQ(counted.folder_syncs, 0);
  EXPECT_EQ(deferred.Pending(), 1u);

  result = import(dir() / "fresh", options);  // now holding the pair
  ASSERT_EQ(result.status, ImportStatus::Imported);
  EXPECT_FALSE(result.deferred);
  EXPECT_EQ(counted.flushes, 2);
  EXPECT_EQ(counted.folder_syncs, 1);
  EXPECT_EQ(deferred.Pending(), 1u);

  fs::create_directories(dir() / "half");
  WriteBytes(dir() / "half" / "posimport.txt", {'x'});
  result = import(dir() / "half", options);
  ASSERT_EQ(result.status, ImportStatus::Imported);
  EXPECT_FALSE(result.deferred);
  EXPECT_EQ(counted.flushes, 2);
  EXPECT_EQ(ReadFile(dir() / "half" / "posimport.txt"), ReadFile(dir() / "fresh" / "posimport.txt"));

  result = import(dir() / "default", {});
  ASSERT_EQ(result.status, ImportStatus::Imported);
  EXPECT_FALSE(result.deferred);
  EXPECT_EQ(counted.flushes, 2);
  EXPECT_EQ(counted.folder_syncs, 1);

  // WriteMarker takes the same option.
  ReadResult read = ReadMarker(markers_[1]);
  ASSERT_TRUE(read.ok());
  lumerca::WriteOptions write;
  write.deferred = &deferred;
  counted = {};
  fs::create_directories(dir() / "written");
  WriteResult written = WriteMarker(read.marker, dir() / "written", write);
  ASSERT_TRUE(written.ok()) << written.reason;
  EXPECT_TRUE(written.deferred);
  EXPECT_EQ(counted.flushes, 0);
  EXPECT_EQ(deferred.Pending(), 2u);

  std::string why;
  EXPECT_TRUE(deferred.Flush(why)) << why;
  EXPECT_EQ(deferred.Pending(), 0u);
  EXPECT_TRUE(deferred.Flush(why)) << why;  // nothing left to flush
  EXPECT_EQ(ReadFile(dir() / "fresh" / "csvimprt.txt"), ReadFile(dir() / "default" / "csvimprt.txt"));
  EXPECT_EQ(ReadFile(dir() / "fresh" / "posimport.txt"), ReadFile(dir() / "default" / "posimport.txt"));
}

// An import that is still writing keeps its files while another commits
// into the same folder; its own commit then goes through.
TEST_F(CommitFaults, ALiveImportIsLeftAlone) {
  auto folder = platform::OpenOutputFolder(out());
  auto orders = folder->CreateTemporary("csvimprt.txt");
  orders->Write("live\r\n", 6);
  orders->Finish();
  const std::vector<std::string> live = Ours();
  ASSERT_EQ(live.size(), 2u);  // its lock file and its new file

  ASSERT_EQ(ImportMarker(markers_[0], "", out()).status, ImportStatus::Imported);
  EXPECT_EQ(Ours(), live);

  auto positions = folder->CreateTemporary("posimport.txt");
  positions->Write("pair\r\n", 6);
  positions->Finish();
  folder->Commit(*orders, *positions);
  orders.reset();
  positions.reset();
  folder.reset();
  EXPECT_EQ(ReadFile(out() / "csvimprt.txt"), "live\r\n");
  EXPECT_EQ(ReadFile(out() / "posimport.txt"), "pair\r\n");
  EXPECT_TRUE(Ours().empty());
}

// A process that dies between putting its two files in place leaves the new
// csvimprt.txt beside the earlier posimport.txt; its lock dies with it, and
// the next import into the folder puts the new posimport.txt in place and
// removes the rest, even when its own commit then fails.
TEST_F(CommitFaults, ADeadProcessIsSettledByTheNextImport) {
  const fs::path alone = dir() / "alone";
  fs::create_directories(alone);
  ASSERT_EQ(ImportMarker(markers_[1], "", alone).status, ImportStatus::Imported);
  ASSERT_EQ(ImportMarker(markers_[0], "", out()).status, ImportStatus::Imported);
  const std::string earlier_positions = ReadFile(out() / "posimport.txt");

  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    platform::SetOutputFaultHook([](OutputStep step, const std::string& name) {
      return step == OutputStep::Link && name == "posimport.txt" ? Fault::Stop : Fault::None;
    });
    (void)ImportMarker(markers_[1], "", out());
    ::_exit(0);  // as a kill: nothing cleaned up
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(ReadFile(out() / "csvimprt.txt"), ReadFile(alone / "csvimprt.txt"));
  EXPECT_EQ(ReadFile(out() / "posimport.txt"), earlier_positions) << "the stop came too late";
  EXPECT_EQ(Ours().size(), 3u);  // its lock file, the earlier csvimprt.txt, the new posimport.txt

  bool failed = false;
  platform::SetOutputFaultHook([&](OutputStep step, const std::string&) {
    if (step != OutputStep::MarkForward || failed) return Fault::None;
    failed = true;
    return Fault::Fail;
  });
  EXPECT_EQ(ImportMarker(markers_[2], "", out()).status, ImportStatus::OutputFailed);
  EXPECT_EQ(ReadFile(out() / "csvimprt.txt"), ReadFile(alone / "csvimprt.txt"));
  EXPECT_EQ(ReadFile(out() / "posimport.txt"), ReadFile(alone / "posimport.txt"));
  EXPECT_TRUE(Ours().empty());
  EXPECT_EQ(FilesInOutput(), 2u);
}

}  // namespace
}  // namespace lumerca::testing
