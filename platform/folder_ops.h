#pragma once

// What the journalled commit of the output folder (output_folder.cpp) needs
// of the file system, implemented for each system (output_folder_posix.cpp,
// output_folder_win.cpp). Names are plain file names inside the folder.
// Nothing here follows a link that stands at a name.

#include "platform/output_folder.h"

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace lumerca::platform::detail {

// The outcome of one operation: done, or not, with the system's words.
struct Result {
  bool ok = true;
  std::string why;  // the system's message when not ok

  static Result Done() { return {}; }
  static Result Failed(std::string why) { return {false, std::move(why)}; }
};

enum class EntryKind {
  Missing,
  Folder,  // a folder (or a link to one on Windows): no rename replaces it
  Other,   // a file, a link or anything else that a rename replaces
};

// A file being written, created by Folder::Create. Destroying it closes it.
class NewFile {
public:
  virtual ~NewFile() = default;
  virtual Result Write(const char* data, std::size_t size) = 0;
  virtual Result Flush() = 0;  // to the storage device
  virtual Result Close() = 0;
};

// A lock held while the object lives; a process that ends, however it ends,
// releases it.
class Held {
public:
  virtual ~Held() = default;
};

class Folder {
public:
  virtual ~Folder() = default;

  // The folder's path, for messages.
  virtual std::string Where() const = 0;

  // Creates `name`, which must not exist (a name planted there, a link
  // included, makes it fail with `taken` set).
  virtual std::unique_ptr<NewFile> Create(const std::string& name, Result& result, bool& taken) = 0;

  // Creates `name` as Create does and locks it for as long as the lock
  // lives. Null on failure (`taken` as for Create; also set when another
  // import's clean-up removed the file before the lock was had).
  virtual std::unique_ptr<Held> CreateLocked(const std::string& name, Result& result, bool& taken) = 0;

  // Locks the lock file `name` of another import when its import no longer
  // holds it (its process ended). Null when it is held, gone, or cannot be
  // locked on this file system.
  virtual std::unique_ptr<Held> LockAbandoned(const std::string& name) = 0;

  virtual EntryKind Kind(const std::string& name) = 0;
  // Whether an earlier file is best kept by a second link to it (the final
  // name never stands empty) rather than moved aside. Not on Windows: there
  // a file that a reader holds open cannot lose a name, so that its link
  // could not be removed again, while moving it aside fails at once.
  virtual bool KeepsEarlierByLink() const = 0;
  // A second name for the file `existing` (a hard link of the link itself,
  // where `existing` is a link).
  virtual Result Link(const std::string& existing, const std::string& name) = 0;
  // Renames `from` over `to`, replacing whatever file stands there.
  virtual Result Rename(const std::string& from, const std::string& to) = 0;
  // Removes a file; one that is not there counts as removed.
  virtual Result Remove(const std::string& name) = 0;
  // The names in the folder that begin with `prefix`; false when it cannot
  // be listed.
  virtual bool List(const std::string& prefix, std::vector<std::string>& names) = 0;

  // Keeps the commits of this process and of other processes into this
  // folder apart, for as long as the object lives.
  virtual std::unique_ptr<Held> Lock() = 0;
  // The folder's entries to the storage device.
  virtual Result Sync() = 0;
  // Records the files `finals`, committed without a flush, in `deferred`.
  virtual void Defer(DeferredFlushes& deferred, const std::vector<std::string>& finals) = 0;

  // 16 hexadecimal digits from the system's random source.
  virtual std::string RandomId() = 0;
};

class Transaction;

// The output folder over a folder's operations: each import writes its files
// under temporary names that carry its own random id and commits them as a
// journal would (output_folder.cpp says how).
class JournalledOutputFolder : public OutputFolder {
public:
  // With `deferred`, as OpenOutputFolder says.
  JournalledOutputFolder(std::unique_ptr<Folder> folder, DeferredFlushes* deferred);
  ~JournalledOutputFolder() override;

  std::unique_ptr<TemporaryFile> CreateTemporary(const std::string& final_name) override;
  bool Commit(TemporaryFile& first, TemporaryFile& second) override;

private:
  std::shared_ptr<Transaction> transaction_;
  DeferredFlushes* deferred_;
};

}  // namespace lumerca::platform::detail
