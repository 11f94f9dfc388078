// The commit of a pair, as a journal: whatever step fails, the folder holds
// the earlier pair or the new one, and whatever moment a process is killed
// at, the next import into the folder finishes or undoes what it left.
//
// Each import draws a random id and names everything it makes after it:
//
//   .lumerca-<id>.writing                 its lock file, locked while it lives; the name
//   .lumerca-<id>.forward                 says its state: writing its files, putting
//   .lumerca-<id>.back                    them in place, putting the earlier ones back
//   .lumerca-<id>.<final name>.new        a new file, until it is put in place
//   .lumerca-<id>.<final name>.old        the earlier file at the final name (a second link
//                                         to it, or on Windows and where links are refused,
//                                         the file itself moved aside)
//   .lumerca-<id>.<final name>.none       a note: no earlier file stood at the final name
//
// The lock file is made (and locked) before anything else and removed after
// everything else. The new files are written and flushed in state writing
// (for a batch with deferred flushes, they are flushed only when an earlier
// file stands at a final name, which is judged under the folder's lock; into
// a folder that holds none they go in place unflushed, and the batch flushes
// its file systems once at its end). Then, under the folder's lock: the lock
// file becomes forward, and each
// file in turn has its earlier file kept (.old, or .none) and its new file
// renamed over the final name. The earlier files and the lock file are then
// removed. When a step fails, the lock file becomes back and every final name
// gets its earlier file again (or none, where none stood).
//
// A commit, under the folder's lock, first looks for lock files that no live
// import holds (their process ended) and settles each as its state says:
// writing, its temporary files go; forward, its new files still waiting are
// put in place; back, the earlier files are put back. Each of these steps
// can be repeated, so that a process killed while it settles leaves work that
// the next one finishes. When a final name cannot be settled, the commit
// fails rather than put its pair where the settling, done later, would put
// older files over it.

#include "platform/folder_ops.h"
#include "platform/output_faults.h"

#include <algorithm>
#include <functional>
#include <optional>
#include <set>
#include <utility>

namespace lumerca::platform {

namespace {

OutputFaultHook& Hook() {
  static OutputFaultHook hook;
  return hook;
}

}  // namespace

const char* OutputStepName(OutputStep step) {
  switch (step) {
    case OutputStep::CreateLock: return "create the lock file";
    case OutputStep::Create: return "create";
    case OutputStep::Write: return "write";
    case OutputStep::Flush: return "flush";
    case OutputStep::Close: return "close";
    case OutputStep::MarkForward: return "mark forward";
    case OutputStep::Link: return "link the earlier file";
    case OutputStep::MoveAside: return "move the earlier file aside";
    case OutputStep::NoteAbsent: return "note that no earlier file stands";
    case OutputStep::PutInPlace: return "put in place";
    case OutputStep::MarkBack: return "mark back";
    case OutputStep::Restore: return "restore the earlier file";
    case OutputStep::RemoveFinal: return "remove the new file";
    case OutputStep::RemoveTemporary: return "remove a temporary file";
    case OutputStep::RemoveLock: return "remove the lock file";
    case OutputStep::SyncFolder: return "sync the folder";
  }
  return "unknown step";
}

void SetOutputFaultHook(OutputFaultHook hook) { Hook() = std::move(hook); }

namespace detail {
namespace {

constexpr char kPrefix[] = ".lumerca-";
constexpr std::size_t kPrefixSize = sizeof kPrefix - 1;
constexpr std::size_t kIdDigits = 16;

enum class State { Writing, Forward, Back };

const char* StateWord(State state) {
  switch (state) {
    case State::Writing: return "writing";
    case State::Forward: return "forward";
    case State::Back: return "back";
  }
  return "";
}

std::string LockName(const std::string& id, State state) {
  return kPrefix + id + "." + StateWord(state);
}

// role: "new", "old" or "none".
std::string TemporaryName(const std::string& id, const std::string& final_name, const char* role) {
  return kPrefix + id + "." + final_name + "." + role;
}

// A name of ours split into the import's id and the rest: a state word, or
// "<final name>.<role>".
struct OurName {
  std::string id;
  std::string rest;
};

std::optional<OurName> Parse(const std::string& name) {
  if (name.size() < kPrefixSize + kIdDigits + 2 || name.compare(0, kPrefixSize, kPrefix) != 0 ||
      name[kPrefixSize + kIdDigits] != '.') {
    return std::nullopt;
  }
  std::string id = name.substr(kPrefixSize, kIdDigits);
  if (!std::all_of(id.begin(), id.end(),
                   [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); })) {
    return std::nullopt;
  }
  return OurName{std::move(id), name.substr(kPrefixSize + kIdDigits + 1)};
}

std::optional<State> StateOf(const std::string& rest) {
  for (State state : {State::Writing, State::Forward, State::Back}) {
    if (rest == StateWord(state)) return state;
  }
  return std::nullopt;
}

// The final name of "<final name>.<role>".
std::optional<std::string> FinalOf(const std::string& rest) {
  for (const char* role : {".new", ".old", ".none"}) {
    const std::string suffix = role;
    if (rest.size() > suffix.size() && rest.compare(rest.size() - suffix.size(), suffix.size(), suffix) == 0) {
      return rest.substr(0, rest.size() - suffix.size());
    }
  }
  return std::nullopt;
}

bool IsPlainName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." &&
         name.find_first_of("/\\:") == std::string::npos && name.compare(0, kPrefixSize, kPrefix) != 0;
}

[[noreturn]] void Fail(const std::string& what, const Result& result) {
  throw OutputError(what + ": " + result.why);
}

}  // namespace

// One import's files in the folder: its id, its lock, its state.
class Transaction {
public:
  explicit Transaction(std::unique_ptr<Folder> folder) : folder_(std::move(folder)) {}

  ~Transaction() {
    // Files written but never committed go, with the lock file; after a
    // stop, everything stays as a killed process leaves it.
    if (stopped_ || !live_ || settled_) return;
    try {
      if (Settle(id_, State::Writing, finals_).clean) RemoveLock();
    } catch (const OutputStopped&) {
    }
  }

  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;

  Folder& folder() { return *folder_; }
  const std::string& id() const { return id_; }

  // Runs `operation` as `step` on `name`, unless the fault hook fails or
  // stops it.
  template <class Operation>
  Result Run(OutputStep step, const std::string& name, Operation&& operation) {
    if (const OutputFaultHook& hook = Hook()) {
      switch (hook(step, name)) {
        case Fault::None: break;
        case Fault::Fail: return Result::Failed("failure injected by a test");
        case Fault::Stop:
          stopped_ = true;
          throw OutputStopped{};
      }
    }
    return operation();
  }

  // The lock file, made and locked before any other file of the import.
  void Begin() {
    if (live_) return;
    for (int attempt = 0; attempt < 100; ++attempt) {
      const std::string id = folder_->RandomId();
      const std::string name = LockName(id, State::Writing);
      bool taken = false;
      std::unique_ptr<Held> lock;
      const Result result = Run(OutputStep::CreateLock, name, [&] {
        Result r;
        lock = folder_->CreateLocked(name, r, taken);
        return r;
      });
      if (lock) {
        id_ = id;
        lock_ = std::move(lock);
        state_ = State::Writing;
        live_ = true;
        return;
      }
      if (!taken) Fail("cannot create a file in " + folder_->Where(), result);
    }
    throw OutputError("cannot create a file of a free name in " + folder_->Where());
  }

  std::unique_ptr<NewFile> Create(const std::string& final_name, std::string& name) {
    Begin();
    name = TemporaryName(id_, final_name, "new");
    if (std::find(finals_.begin(), finals_.end(), final_name) != finals_.end()) {
      throw OutputError("a second file for " + final_name);
    }
    finals_.push_back(final_name);
    std::unique_ptr<NewFile> file;
    bool taken = false;
    const Result result = Run(OutputStep::Create, name, [&] {
      Result r;
      file = folder_->Create(name, r, taken);
      return r;
    });
    if (!file) Fail("cannot create a file in " + folder_->Where(), result);
    return file;
  }

  // Puts the new files of `finals` in place, in this order. Without
  // `complete`, the new files were flushed and closed before. With it, they
  // are still open: when no earlier file stands at any final name (judged
  // under the folder's lock), `complete(false)` closes them and the pair is
  // put in place without a flush; otherwise the lock is let go while
  // `complete(true)` flushes and closes them, and then taken again. Returns
  // whether the pair went in place without a flush.
  bool Commit(const std::vector<std::string>& finals, const std::function<void(bool flush)>& complete) {
    bool flushed = !complete;
    std::unique_ptr<Held> folder_lock;
    std::vector<bool> existed;
    for (;;) {
      folder_lock = folder_->Lock();
      // An interrupted commit whose files cannot be put where its state
      // says would, settled later, put older files over this import's pair:
      // this one waits for it.
      if (!Recover()) {
        throw OutputError("cannot settle what an interrupted import left in " + folder_->Where() +
                          ": its files cannot be renamed");
      }
      // Nothing is touched when a folder stands at a final name: no rename
      // replaces it.
      existed.clear();
      for (const std::string& final_name : finals) {
        const EntryKind kind = folder_->Kind(final_name);
        if (kind == EntryKind::Folder) {
          throw OutputError("cannot rename to " + final_name + ": a folder stands there");
        }
        existed.push_back(kind != EntryKind::Missing);
      }
      if (flushed) break;
      if (std::find(existed.begin(), existed.end(), true) == existed.end()) {
        complete(false);
        break;
      }
      // An earlier file is at stake: the new files reach the device before
      // they replace it. Not under the lock, so that the commits of other
      // imports into the folder need not wait for the device.
      folder_lock.reset();
      complete(true);
      flushed = true;
    }
    Mark(State::Forward, OutputStep::MarkForward);
    try {
      for (std::size_t i = 0; i < finals.size(); ++i) {
        const std::string& final_name = finals[i];
        if (existed[i]) {
          KeepEarlier(final_name);
        } else {
          NoteAbsent(final_name);
        }
        const Result put = Run(OutputStep::PutInPlace, final_name, [&] {
          return folder_->Rename(TemporaryName(id_, final_name, "new"), final_name);
        });
        if (!put.ok) Fail("cannot rename to " + final_name, put);
      }
    } catch (const OutputError&) {
      settled_ = true;  // what is left stays for the next import
      // Without the mark (a second failure), nothing more is done here: the
      // next import puts the new files in place.
      bool marked = true;
      try {
        Mark(State::Back, OutputStep::MarkBack);
      } catch (const OutputError&) {
        marked = false;
      }
      if (marked && Settle(id_, State::Back, finals).clean) RemoveLock();
      throw;
    }
    settled_ = true;
    // The earlier files (or the notes that none stood) go: only these are
    // left, each new file having been put in place. What cannot be removed
    // stays, with the lock file that says it, for the next import.
    bool clean = true;
    for (std::size_t i = 0; i < finals.size(); ++i) {
      const std::string name = TemporaryName(id_, finals[i], existed[i] ? "old" : "none");
      if (!Run(OutputStep::RemoveTemporary, name, [&] { return folder_->Remove(name); }).ok) clean = false;
    }
    if (clean) RemoveLock();
    lock_.reset();
    return !flushed;
  }

  // Settles the imports that left their files here when their process
  // ended. What cannot be settled now stays for a later import. False when
  // the final names of one that was putting its files in place, or back,
  // could not be brought to what its state says.
  bool Recover() {
    std::vector<std::string> names;
    if (!folder_->List(kPrefix, names)) return true;
    struct Abandoned {
      std::string id;
      State state;
      std::string lock_name;
      std::unique_ptr<Held> lock;
    };
    std::vector<Abandoned> abandoned;
    for (const std::string& name : names) {
      const std::optional<OurName> ours = Parse(name);
      if (!ours || ours->id == id_) continue;
      const std::optional<State> state = StateOf(ours->rest);
      if (!state) continue;
      if (std::unique_ptr<Held> lock = folder_->LockAbandoned(name)) {
        abandoned.push_back({ours->id, *state, name, std::move(lock)});
      }
    }
    if (abandoned.empty()) return true;
    // Listed again now that they are locked: the first listing may have
    // missed a file that an import made while it was taken.
    names.clear();
    if (!folder_->List(kPrefix, names)) return false;
    bool settled = true;
    for (Abandoned& a : abandoned) {
      std::vector<std::string> finals;
      for (const std::string& name : names) {
        const std::optional<OurName> ours = Parse(name);
        if (!ours || ours->id != a.id) continue;
        const std::optional<std::string> final_name = FinalOf(ours->rest);
        if (final_name && IsPlainName(*final_name) && std::find(finals.begin(), finals.end(), *final_name) == finals.end()) {
          finals.push_back(*final_name);
        }
      }
      const Settled done = Settle(a.id, a.state, finals);
      settled = settled && done.finals;
      if (done.clean) Run(OutputStep::RemoveLock, a.lock_name, [&] { return folder_->Remove(a.lock_name); });
    }
    return settled;
  }

  void SyncFolder() {
    Run(OutputStep::SyncFolder, ".", [&] { return folder_->Sync(); });
  }

private:
  void Mark(State state, OutputStep step) {
    const std::string from = LockName(id_, state_);
    const std::string to = LockName(id_, state);
    const Result result = Run(step, to, [&] { return folder_->Rename(from, to); });
    if (!result.ok) Fail("cannot rename " + from, result);
    state_ = state;
  }

  // The earlier file at `final_name` is kept as .old: a second link to it,
  // so that the final name never stands empty, or where the file system
  // refuses links (or on Windows), the file itself moved aside.
  void KeepEarlier(const std::string& final_name) {
    const std::string earlier = TemporaryName(id_, final_name, "old");
    if (folder_->KeepsEarlierByLink() &&
        Run(OutputStep::Link, final_name, [&] { return folder_->Link(final_name, earlier); }).ok) {
      return;
    }
    const Result moved =
        Run(OutputStep::MoveAside, final_name, [&] { return folder_->Rename(final_name, earlier); });
    if (!moved.ok) Fail("cannot keep the earlier " + final_name, moved);
  }

  // The note is a second link to the lock file where links are had: only
  // its name counts, and a link costs the file system no new file, which a
  // batch of many small imports feels.
  void NoteAbsent(const std::string& final_name) {
    const std::string note = TemporaryName(id_, final_name, "none");
    const Result result = Run(OutputStep::NoteAbsent, note, [&] {
      if (folder_->KeepsEarlierByLink() && folder_->Link(LockName(id_, state_), note).ok) return Result::Done();
      Result r;
      bool taken = false;
      std::unique_ptr<NewFile> file = folder_->Create(note, r, taken);
      return file ? file->Close() : r;
    });
    if (!result.ok) Fail("cannot create a file in " + folder_->Where(), result);
  }

  struct Settled {
    bool finals = true;  // every final name is what the state says
    bool clean = true;   // nothing of the import is left but its lock file
  };

  // Brings the final names of import `id` to what `state` says, and removes
  // its temporary files. Every step can be repeated.
  Settled Settle(const std::string& id, State state, const std::vector<std::string>& finals) {
    Settled settled;
    bool& clean = settled.clean;
    for (const std::string& final_name : finals) {
      const std::string fresh = TemporaryName(id, final_name, "new");
      const std::string earlier = TemporaryName(id, final_name, "old");
      const std::string absent = TemporaryName(id, final_name, "none");
      const bool waiting = folder_->Kind(fresh) != EntryKind::Missing;
      if (state == State::Forward && waiting) {
        if (!Run(OutputStep::PutInPlace, final_name, [&] { return folder_->Rename(fresh, final_name); }).ok) {
          clean = settled.finals = false;
          continue;
        }
      } else if (state == State::Back) {
        if (folder_->Kind(earlier) != EntryKind::Missing) {
          // While the new file waits, the final name still holds the earlier
          // file (linked), or nothing (the earlier file moved aside).
          if (!waiting || folder_->Kind(final_name) == EntryKind::Missing) {
            if (!Run(OutputStep::Restore, final_name, [&] { return folder_->Rename(earlier, final_name); }).ok) {
              clean = settled.finals = false;
              continue;
            }
          }
        } else if (folder_->Kind(absent) != EntryKind::Missing && !waiting) {
          // The new file was put where none stood: none stands there again.
          if (!Run(OutputStep::RemoveFinal, final_name, [&] { return folder_->Remove(final_name); }).ok) {
            clean = settled.finals = false;
            continue;
          }
        }
      }
      // The note first: without it a new file still waiting says that the
      // final name was never touched.
      for (const std::string* name : {&absent, &fresh, &earlier}) {
        if (!Run(OutputStep::RemoveTemporary, *name, [&] { return folder_->Remove(*name); }).ok) {
          clean = false;
        }
      }
    }
    return settled;
  }

  void RemoveLock() {
    const std::string name = LockName(id_, state_);
    if (Run(OutputStep::RemoveLock, name, [&] { return folder_->Remove(name); }).ok) live_ = false;
  }

  std::unique_ptr<Folder> folder_;
  std::string id_;
  std::unique_ptr<Held> lock_;
  State state_ = State::Writing;
  std::vector<std::string> finals_;  // of the files created, in order
  bool live_ = false;     // its lock file is there
  bool settled_ = false;  // committed, or given up: the destructor leaves it
  bool stopped_ = false;  // stopped by the fault hook: nothing more is done
};

namespace {

// A new file under its temporary name.
class JournalledFile final : public TemporaryFile {
public:
  JournalledFile(std::shared_ptr<Transaction> transaction, std::string final_name, std::string name,
                 std::unique_ptr<NewFile> file)
      : transaction_(std::move(transaction)), final_name_(std::move(final_name)),
        name_(std::move(name)), file_(std::move(file)) {}

  void Write(const char* data, std::size_t size) override {
    if (!file_) throw OutputError("write after " + final_name_ + " was finished");
    const Result result =
        transaction_->Run(OutputStep::Write, name_, [&] { return file_->Write(data, size); });
    if (!result.ok) Fail("cannot write " + final_name_, result);
  }

  // Flushed and closed now; with deferred flushes, left open for the commit
  // to complete.
  void Finish() override {
    if (deferred_) {
      finished_ = true;
    } else {
      Complete(true);
    }
  }

  // Flushes the file to the device (when `flush`) and closes it.
  void Complete(bool flush) {
    finished_ = true;
    if (!file_) return;
    if (flush) {
      const Result flushed = transaction_->Run(OutputStep::Flush, name_, [&] { return file_->Flush(); });
      if (!flushed.ok) Fail("cannot flush " + final_name_, flushed);
    }
    const Result closed = transaction_->Run(OutputStep::Close, name_, [&] { return file_->Close(); });
    file_.reset();
    if (!closed.ok) Fail("cannot close " + final_name_, closed);
  }

  void Defer() { deferred_ = true; }

  const Transaction* transaction() const { return transaction_.get(); }
  const std::string& final_name() const { return final_name_; }
  bool finished() const { return finished_; }

private:
  std::shared_ptr<Transaction> transaction_;
  std::string final_name_;
  std::string name_;
  std::unique_ptr<NewFile> file_;
  bool deferred_ = false;
  bool finished_ = false;
};

}  // namespace

JournalledOutputFolder::JournalledOutputFolder(std::unique_ptr<Folder> folder, DeferredFlushes* deferred)
    : transaction_(std::make_shared<Transaction>(std::move(folder))), deferred_(deferred) {}

JournalledOutputFolder::~JournalledOutputFolder() = default;

std::unique_ptr<TemporaryFile> JournalledOutputFolder::CreateTemporary(const std::string& final_name) {
  if (!IsPlainName(final_name)) throw OutputError("not a plain file name: " + final_name);
  std::string name;
  std::unique_ptr<NewFile> file = transaction_->Create(final_name, name);
  auto created = std::make_unique<JournalledFile>(transaction_, final_name, std::move(name), std::move(file));
  if (deferred_) created->Defer();
  return created;
}

bool JournalledOutputFolder::Commit(TemporaryFile& first, TemporaryFile& second) {
  auto* a = dynamic_cast<JournalledFile*>(&first);
  auto* b = dynamic_cast<JournalledFile*>(&second);
  if (a == nullptr || b == nullptr || a == b || a->transaction() != transaction_.get() ||
      b->transaction() != transaction_.get()) {
    throw OutputError("not two files of this folder");
  }
  if (!a->finished() || !b->finished()) throw OutputError("output file not finished");
  const std::vector<std::string> finals = {a->final_name(), b->final_name()};
  std::function<void(bool)> complete;
  if (deferred_) {
    complete = [&](bool flush) {
      a->Complete(flush);
      b->Complete(flush);
    };
  }
  if (transaction_->Commit(finals, complete)) {
    transaction_->folder().Defer(*deferred_, finals);
    return true;
  }
  // The folder's entries reach the device outside the lock, so that imports
  // into other folders need not wait for it.
  transaction_->SyncFolder();
  return false;
}

}  // namespace detail
}  // namespace lumerca::platform
