#pragma once

// The fault seam of the output folder, for tests: a hook that the writing and
// the commit of a pair ask before each of their steps, and that can make the
// step fail as the system would, or stop the import there as a process killed
// at that moment stops. Nothing of it is exported from the shared library;
// the tests link the platform layer itself. Without a hook (the default)
// every step runs.

#include <functional>
#include <string>

namespace lumerca::platform {

// The steps, in the order in which one import meets them. `name` is the file
// that the step works on (the final name it renames to, or the temporary
// name it creates, writes or removes).
enum class OutputStep {
  CreateLock,       // the import's lock file, which says its state
  Create,           // a new file under its temporary name
  Write,            // bytes into it
  Flush,            // its bytes to the storage device
  Close,            // the file closed
  MarkForward,      // the lock file says: put the new files in place
  Link,             // the earlier file kept under a second name (a hard link)
  MoveAside,        // the earlier file renamed aside (where a link is refused)
  NoteAbsent,       // a note that no earlier file stood at the final name
  PutInPlace,       // a new file renamed over its final name
  MarkBack,         // the lock file says: put the earlier files back
  Restore,          // an earlier file renamed back over its final name
  RemoveFinal,      // a new file removed where no earlier file stood
  RemoveTemporary,  // a temporary file, note or earlier file removed
  RemoveLock,       // the lock file removed: nothing of the import is left
  SyncFolder,       // the folder's entries to the storage device
};

const char* OutputStepName(OutputStep step);

enum class Fault {
  None,  // the step runs
  Fail,  // the step fails, as the system would fail it
  Stop,  // the import stops before the step and leaves everything as it stands
};

// Called before each step, on the importing thread. Set it while no import
// runs; an empty function removes it.
using OutputFaultHook = std::function<Fault(OutputStep step, const std::string& name)>;
void SetOutputFaultHook(OutputFaultHook hook);

// What a Stop throws through the import: the files, the lock file and the
// locks are left as a killed process leaves them (its files closed, its locks
// released), and nothing is cleaned up.
struct OutputStopped {};

}  // namespace lumerca::platform
