#include "platform/folder_ops.h"
#include "platform/output_folder.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <random>
#include <string>

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

namespace lumerca::platform {
namespace {

[[noreturn]] void Fail(const std::string& what, int error) {
  throw OutputError(what + ": " + std::strerror(error));
}

// A descriptor closed on destruction.
class Descriptor {
public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }

private:
  int fd_;
};

std::string Words(int error) { return std::strerror(error); }

detail::Result Done() { return detail::Result::Done(); }
detail::Result Failed(int error) { return detail::Result::Failed(Words(error)); }

// The commits of one process into one folder take turns under a mutex of
// the folder's (imports into other folders mostly get others), beside flock
// on the folder, which keeps other processes' commits out too, and those of
// this process wherever the file system has flock.
constexpr std::size_t kCommitMutexes = 64;
std::mutex commit_mutexes[kCommitMutexes];

std::mutex& CommitMutex(int folder) {
  struct stat status {};
  if (::fstat(folder, &status) != 0) return commit_mutexes[0];
  const std::size_t key = static_cast<std::size_t>(status.st_ino) * 31u + static_cast<std::size_t>(status.st_dev);
  return commit_mutexes[key % kCommitMutexes];
}

// A descriptor whose lock goes when it is closed.
class HeldDescriptor final : public detail::Held {
public:
  explicit HeldDescriptor(int fd) : fd_(fd) {}
  ~HeldDescriptor() override { ::close(fd_); }

private:
  int fd_;
};

class FolderLock final : public detail::Held {
public:
  explicit FolderLock(int fd) : process_(CommitMutex(fd)), fd_(fd) {
    // Where the file system cannot lock a folder, the lock of the process
    // is all there is.
    int result;
    do {
      result = ::flock(fd_, LOCK_EX);
    } while (result != 0 && errno == EINTR);
    locked_ = result == 0;
  }
  ~FolderLock() override {
    if (locked_) ::flock(fd_, LOCK_UN);
  }

private:
  std::lock_guard<std::mutex> process_;
  int fd_;
  bool locked_ = false;
};

class PosixNewFile final : public detail::NewFile {
public:
  explicit PosixNewFile(int fd) : fd_(fd) {}
  ~PosixNewFile() override {
    if (fd_ >= 0) ::close(fd_);
  }

  detail::Result Write(const char* data, std::size_t size) override {
    while (size > 0) {
      const ssize_t n = ::write(fd_, data, size);
      if (n < 0) {
        if (errno == EINTR) continue;
        return Failed(errno);
      }
      data += n;
      size -= static_cast<std::size_t>(n);
    }
    return Done();
  }

  detail::Result Flush() override { return ::fsync(fd_) == 0 ? Done() : Failed(errno); }

  detail::Result Close() override {
    const int fd = fd_;
    fd_ = -1;
    return ::close(fd) == 0 ? Done() : Failed(errno);
  }

private:
  int fd_;
};

class PosixFolder final : public detail::Folder {
public:
  PosixFolder(std::shared_ptr<Descriptor> fd, std::filesystem::path path)
      : fd_(std::move(fd)), path_(std::move(path)) {}

  std::string Where() const override { return path_.string(); }

  std::unique_ptr<detail::NewFile> Create(const std::string& name, detail::Result& result,
                                          bool& taken) override {
    // O_EXCL never follows a link: a name planted beforehand makes the open
    // fail.
    const int fd = ::openat(dir(), name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0) {
      taken = errno == EEXIST;
      result = Failed(errno);
      return nullptr;
    }
    return std::make_unique<PosixNewFile>(fd);
  }

  std::unique_ptr<detail::Held> CreateLocked(const std::string& name, detail::Result& result,
                                             bool& taken) override {
    const int fd = ::openat(dir(), name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0) {
      taken = errno == EEXIST;
      result = Failed(errno);
      return nullptr;
    }
    auto held = std::make_unique<HeldDescriptor>(fd);
    // Another import may lock the file between the open and the flock, take
    // it for abandoned and remove it: then it is no longer linked, and
    // another name is drawn. Where flock is refused, nobody can tell a live
    // import from an ended one, and nobody removes the file of another.
    int locked;
    do {
      locked = ::flock(fd, LOCK_EX);
    } while (locked != 0 && errno == EINTR);
    struct stat status {};
    if (locked == 0 && ::fstat(fd, &status) == 0 && status.st_nlink == 0) {
      taken = true;
      result = Failed(ENOENT);
      return nullptr;
    }
    return held;
  }

  std::unique_ptr<detail::Held> LockAbandoned(const std::string& name) override {
    // Opened for writing, as NFS wants for an exclusive lock; without
    // blocking, should anything but a file stand there.
    const int fd = ::openat(dir(), name.c_str(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return nullptr;
    auto held = std::make_unique<HeldDescriptor>(fd);
    struct stat opened {}, named {};
    if (::fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode) || ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
      return nullptr;
    }
    // Still the file of that name: not removed or renamed by another
    // import's clean-up before the lock was had.
    if (::fstat(fd, &opened) != 0 || opened.st_nlink == 0 ||
        ::fstatat(dir(), name.c_str(), &named, AT_SYMLINK_NOFOLLOW) != 0 ||
        named.st_dev != opened.st_dev || named.st_ino != opened.st_ino) {
      return nullptr;
    }
    return held;
  }

  detail::EntryKind Kind(const std::string& name) override {
    struct stat status {};
    if (::fstatat(dir(), name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) {
      // Only a name known to be free counts as free.
      return errno == ENOENT ? detail::EntryKind::Missing : detail::EntryKind::Other;
    }
    return S_ISDIR(status.st_mode) ? detail::EntryKind::Folder : detail::EntryKind::Other;
  }

  bool KeepsEarlierByLink() const override { return true; }

  detail::Result Link(const std::string& existing, const std::string& name) override {
    // Without AT_SYMLINK_FOLLOW a link at `existing` is linked, not followed.
    return ::linkat(dir(), existing.c_str(), dir(), name.c_str(), 0) == 0 ? Done() : Failed(errno);
  }

  detail::Result Rename(const std::string& from, const std::string& to) override {
    // A rename replaces whatever stands at `to` (a planted link included)
    // without following it.
    return ::renameat(dir(), from.c_str(), dir(), to.c_str()) == 0 ? Done() : Failed(errno);
  }

  detail::Result Remove(const std::string& name) override {
    return ::unlinkat(dir(), name.c_str(), 0) == 0 || errno == ENOENT ? Done() : Failed(errno);
  }

  bool List(const std::string& prefix, std::vector<std::string>& names) override {
    const int fd = ::openat(dir(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    DIR* listing = ::fdopendir(fd);
    if (listing == nullptr) {
      ::close(fd);
      return false;
    }
    errno = 0;
    while (const dirent* entry = ::readdir(listing)) {
      if (std::strncmp(entry->d_name, prefix.c_str(), prefix.size()) == 0) names.emplace_back(entry->d_name);
    }
    const bool complete = errno == 0;
    ::closedir(listing);
    return complete;
  }

  std::unique_ptr<detail::Held> Lock() override { return std::make_unique<FolderLock>(dir()); }

  detail::Result Sync() override { return ::fsync(dir()) == 0 ? Done() : Failed(errno); }

  void Defer(DeferredFlushes& deferred, const std::vector<std::string>&) override { deferred.Add(dir()); }

  std::string RandomId() override {
    std::uint64_t bits = 0;
    // getentropy rather than getrandom: WebAssembly's C library has only it.
    if (::getentropy(&bits, sizeof bits) != 0) {
      std::random_device device;
      bits = (static_cast<std::uint64_t>(device()) << 32) ^ device();
    }
    static const char digits[] = "0123456789abcdef";
    std::string id;
    for (int i = 0; i < 16; ++i, bits >>= 4) id += digits[bits & 15];
    return id;
  }

private:
  int dir() const { return fd_->get(); }

  std::shared_ptr<Descriptor> fd_;
  std::filesystem::path path_;
};

}  // namespace

// One descriptor of a folder on each file system that holds a deferred pair.
struct DeferredFlushes::State {
  std::map<dev_t, int> file_systems;
  bool sync_all = false;  // a file system could not be told or kept: all of them
  std::size_t pending = 0;

  ~State() {
    for (const auto& [device, fd] : file_systems) ::close(fd);
  }
};

DeferredFlushes::DeferredFlushes() : state_(std::make_unique<State>()) {}
DeferredFlushes::~DeferredFlushes() = default;

void DeferredFlushes::Add(int folder) {
  struct stat status {};
  const bool known = ::fstat(folder, &status) == 0;
  std::lock_guard lock(mutex_);
  ++state_->pending;
  if (!known) {
    state_->sync_all = true;
  } else if (state_->file_systems.count(status.st_dev) == 0) {
    // A descriptor is kept: the folder may be renamed or removed before the
    // flush, its file system stays.
    const int fd = ::fcntl(folder, F_DUPFD_CLOEXEC, 0);
    if (fd >= 0) state_->file_systems.emplace(status.st_dev, fd);
    else state_->sync_all = true;
  }
}

bool DeferredFlushes::Flush(std::string& why) {
  std::lock_guard lock(mutex_);
  if (state_->pending == 0) return true;
  if (state_->sync_all) ::sync();
  for (const auto& [device, fd] : state_->file_systems) {
    // syncfs writes back the whole file system (data, inodes, folders'
    // entries) and waits for it, and reports a write-back error that any
    // file of it met since the descriptor was opened.
    if (::syncfs(fd) != 0) {
      why = std::strerror(errno);
      return false;
    }
  }
  for (const auto& [device, fd] : state_->file_systems) ::close(fd);
  state_->file_systems.clear();
  state_->sync_all = false;
  state_->pending = 0;
  return true;
}

std::size_t DeferredFlushes::Pending() const {
  std::lock_guard lock(mutex_);
  return state_->pending;
}

std::unique_ptr<OutputFolder> OpenOutputFolder(const std::filesystem::path& folder, DeferredFlushes* deferred) {
  int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) Fail("cannot open the output folder " + folder.string(), errno);
  return std::make_unique<detail::JournalledOutputFolder>(
      std::make_unique<PosixFolder>(std::make_shared<Descriptor>(fd), folder), deferred);
}

namespace {
std::mutex fixed_folder_for_tests_mutex;
std::filesystem::path fixed_folder_for_tests;
}  // namespace

void SetFixedOutputFolderForTests(const std::filesystem::path& folder) {
  std::lock_guard lock(fixed_folder_for_tests_mutex);
  fixed_folder_for_tests = folder;
}

std::filesystem::path FixedOutputFolder() {
  {
    std::lock_guard lock(fixed_folder_for_tests_mutex);
    if (!fixed_folder_for_tests.empty()) return fixed_folder_for_tests;
  }
  std::string configured = LUMERCA_OUTPUT_DIR;
  if (configured.rfind("~/", 0) != 0) return configured;
  long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
  std::string buffer(size > 0 ? static_cast<std::size_t>(size) : 16384, '\0');
  passwd entry{};
  passwd* found = nullptr;
  if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) != 0 || !found ||
      !found->pw_dir || !*found->pw_dir) {
    throw OutputError("cannot find the home folder of the calling user");
  }
  return std::filesystem::path(found->pw_dir) / configured.substr(2);
}

std::filesystem::path PathFromAnsi(const char* path) {
  if (!path) return {};
  return std::filesystem::path(std::string(path));
}

}  // namespace lumerca::platform
