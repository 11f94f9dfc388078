#pragma once

// Fault injection into the writing and the commit of a pair, through the
// output folder's fault hook (platform/output_faults.h): every step of an
// import made to fail in turn, and stopped in turn as a kill would stop it,
// with what each leaves in the folder checked. Shared by the native test and
// the Windows program that runs it under Wine, so it uses no test framework:
// each problem found is a sentence in the result.

#include <filesystem>
#include <string>
#include <vector>

namespace lumerca::testing {

struct CommitFaultOptions {
  // The file system refuses hard links (every link fails), so that the
  // earlier file is moved aside.
  bool links_refused = false;
  // After each stop, the next import's recovery is made to fail at each of
  // its steps; with this, it is also stopped at each (pairs of stops).
  bool stops_in_recovery = true;
  // Each import defers its flush (ImportOptions::deferred), which is made
  // after it: the pair into the empty folder goes in place unflushed, the
  // one into a folder holding a pair is flushed before it replaces it.
  bool deferred = false;
};

struct CommitFaultReport {
  std::vector<std::string> problems;
  std::vector<std::string> steps;  // of an import into a folder holding a pair
  std::size_t imports = 0;         // imports made
};

// `markers` are three marker files whose pairs differ in both files; `work`
// is an empty folder for the output folders.
CommitFaultReport RunCommitFaults(const std::vector<std::filesystem::path>& markers,
                                  const std::filesystem::path& work, const CommitFaultOptions& options);

}  // namespace lumerca::testing
