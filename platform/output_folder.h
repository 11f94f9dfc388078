#pragma once

// Output of one import: both files are written under temporary names created
// exclusively inside the output folder, and renamed over their final names only
// when both are complete. Nothing planted in the folder (a link at a final or a
// temporary name) is ever followed. The commit is a journal
// (output_folder.cpp): whichever of its steps fails, the folder holds the
// earlier pair or the new one; a process killed in the middle of it leaves
// files that the next import into the folder settles (the new pair put in
// place, or the earlier one put back) and removes.

#include "platform/text_sink.h"

#include <cstddef>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>

namespace lumerca::platform {

// A file created exclusively under a fresh temporary name. Write and Finish
// throw OutputError. A file that is not committed is removed when its folder
// and its files are destroyed.
class TemporaryFile : public TextSink {
public:
  ~TemporaryFile() override = default;
  // Writes out what is buffered and flushes it to the storage device (in a
  // folder opened with deferred flushes, the commit decides whether it is
  // flushed, and closes it).
  virtual void Finish() = 0;
};

// Pairs committed without being flushed to the storage device, which their
// owner brings there at once for all of them (Flush): for a batch of imports
// into folders that held no pair, where nothing earlier is at stake. Safe to
// use from several threads.
class DeferredFlushes {
public:
  DeferredFlushes();
  ~DeferredFlushes();
  DeferredFlushes(const DeferredFlushes&) = delete;
  DeferredFlushes& operator=(const DeferredFlushes&) = delete;

  // Brings every pair recorded so far to the storage device, with the
  // folders' entries: elsewhere than on Windows one syncfs of each file
  // system that holds one; on Windows FlushFileBuffers of each file (the
  // renames were written through). False, with the system's reason, when it
  // cannot; what was recorded then stays recorded.
  bool Flush(std::string& why);
  // The pairs recorded since the last flush.
  std::size_t Pending() const;

  // Records a pair committed into a folder: on Windows its two files,
  // elsewhere the folder (a descriptor of it, of which one per file system
  // is kept).
#if defined(_WIN32)
  void Add(const std::filesystem::path& first, const std::filesystem::path& second);
#else
  void Add(int folder);
#endif

  struct State;  // the system's

private:
  mutable std::mutex mutex_;
  std::unique_ptr<State> state_;
};

class OutputFolder {
public:
  virtual ~OutputFolder() = default;

  // A new temporary file in the folder, for the file that will be `final_name`.
  virtual std::unique_ptr<TemporaryFile> CreateTemporary(const std::string& final_name) = 0;

  // Renames both finished files over their final names, under a lock that
  // keeps the commits of this process and of other processes into the folder
  // apart (flock on the folder elsewhere than on Windows, a named mutex on
  // Windows). Before that, it settles what imports that were killed left in
  // the folder. Throws OutputError; the folder then holds the earlier pair,
  // and nothing of this import is left unless removing it failed (then the
  // next import removes it). Returns true when the pair was committed
  // without being flushed, and recorded for a deferred flush.
  virtual bool Commit(TemporaryFile& first, TemporaryFile& second) = 0;
};

// Opens an existing folder. Throws OutputError when it does not exist or is not
// a folder. With `deferred`, a pair committed into the folder while it holds
// no pair (neither final name taken: judged under the folder's lock) is not
// flushed, and is recorded there instead; into a folder that holds an earlier
// file, both new files are flushed before they are renamed over it, and the
// folder after, as without.
std::unique_ptr<OutputFolder> OpenOutputFolder(const std::filesystem::path& folder,
                                               DeferredFlushes* deferred = nullptr);

// The fixed folder of ImportLumercaFile: c:\userroot\temp\ on Windows, the
// build's setting elsewhere (a leading "~/" is the calling user's home folder
// from the password database).
std::filesystem::path FixedOutputFolder();

#ifndef _WIN32
// For the library's own tests, which link its internal libraries: while set,
// FixedOutputFolder gives `folder` instead (an empty path ends that), so that
// the tests of ImportLumercaFile write into a folder of the build tree and not
// into the home folder of whoever runs them. The shared library exports only
// the public API: a program that loads it cannot reach this, and its
// ImportLumercaFile always writes into the fixed folder.
void SetFixedOutputFolderForTests(const std::filesystem::path& folder);
#endif

// Converts the caller's path (ANSI code page on Windows, bytes elsewhere).
// Empty when it cannot be converted (on Windows: longer than 259 characters).
std::filesystem::path PathFromAnsi(const char* path);

}  // namespace lumerca::platform
