#include "platform/output_folder.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <random>
#include <string>

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
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

std::string RandomSuffix() {
  static std::mutex mutex;
  static std::mt19937_64 engine{std::random_device{}() ^
                                (static_cast<std::uint64_t>(::getpid()) << 32)};
  std::lock_guard lock(mutex);
  static const char digits[] = "0123456789abcdef";
  std::string suffix;
  auto bits = engine();
  for (int i = 0; i < 16; ++i, bits >>= 4) suffix += digits[bits & 15];
  return suffix;
}

// Imports of one process commit one pair at a time; flock on the folder keeps
// imports of other processes out as well.
std::mutex commit_mutex;

class PosixTemporaryFile final : public TemporaryFile {
public:
  PosixTemporaryFile(std::shared_ptr<Descriptor> folder, std::string name, std::string final_name,
                     int fd)
      : folder_(std::move(folder)), name_(std::move(name)), final_name_(std::move(final_name)),
        fd_(fd) {}

  ~PosixTemporaryFile() override {
    if (fd_ >= 0) ::close(fd_);
    if (!committed_) ::unlinkat(folder_->get(), name_.c_str(), 0);
  }

  void Write(const char* data, std::size_t size) override {
    while (size > 0) {
      ssize_t n = ::write(fd_, data, size);
      if (n < 0) {
        if (errno == EINTR) continue;
        Fail("cannot write " + final_name_, errno);
      }
      data += n;
      size -= static_cast<std::size_t>(n);
    }
  }

  void Finish() override {
    if (::fsync(fd_) != 0) Fail("cannot flush " + final_name_, errno);
    int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0) Fail("cannot close " + final_name_, errno);
  }

  const std::string& name() const { return name_; }
  const std::string& final_name() const { return final_name_; }
  bool finished() const { return fd_ < 0; }
  void MarkCommitted() { committed_ = true; }

private:
  std::shared_ptr<Descriptor> folder_;
  std::string name_;
  std::string final_name_;
  int fd_;
  bool committed_ = false;
};

class PosixOutputFolder final : public OutputFolder {
public:
  PosixOutputFolder(std::shared_ptr<Descriptor> fd, std::filesystem::path path)
      : fd_(std::move(fd)), path_(std::move(path)) {}

  std::unique_ptr<TemporaryFile> CreateTemporary(const std::string& final_name) override {
    for (int attempt = 0; attempt < 100; ++attempt) {
      std::string name = "." + final_name + "." + RandomSuffix() + ".tmp";
      // O_EXCL never follows a link: a name planted beforehand makes the open
      // fail, and another name is tried.
      int fd = ::openat(fd_->get(), name.c_str(),
                        O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
      if (fd >= 0) return std::make_unique<PosixTemporaryFile>(fd_, name, final_name, fd);
      if (errno != EEXIST) Fail("cannot create a file in " + path_.string(), errno);
    }
    throw OutputError("cannot create a temporary file in " + path_.string());
  }

  void Commit(TemporaryFile& first, TemporaryFile& second) override {
    auto& a = static_cast<PosixTemporaryFile&>(first);
    auto& b = static_cast<PosixTemporaryFile&>(second);
    if (!a.finished() || !b.finished()) throw OutputError("output file not finished");
    Rename(a, b);
    // The folder's entries reach the device outside the lock, so that imports
    // into other folders need not wait for it.
    ::fsync(fd_->get());
  }

private:
  // Renames both files into place under the locks.
  void Rename(PosixTemporaryFile& a, PosixTemporaryFile& b) {
    std::lock_guard lock(commit_mutex);
    bool locked = ::flock(fd_->get(), LOCK_EX) == 0;
    struct Unlock {
      int fd;
      bool locked;
      ~Unlock() {
        if (locked) ::flock(fd, LOCK_UN);
      }
    } unlock{fd_->get(), locked};
    // The first file is exchanged with the one it replaces, so that a failure
    // of the second rename can put the earlier pair back. A rename replaces
    // whatever stands at the final name (a planted link included) without
    // following it.
    const int dir = fd_->get();
    // Only a file (or a link) at the final name is exchanged; anything else,
    // a planted folder say, is left where it is and the plain rename fails.
    struct stat existing {};
    const bool replaceable =
        ::fstatat(dir, a.final_name().c_str(), &existing, AT_SYMLINK_NOFOLLOW) == 0 &&
        (S_ISREG(existing.st_mode) || S_ISLNK(existing.st_mode));
    bool exchanged = replaceable && ::renameat2(dir, a.name().c_str(), dir,
                                                a.final_name().c_str(), RENAME_EXCHANGE) == 0;
    if (!exchanged &&
        ::renameat(dir, a.name().c_str(), dir, a.final_name().c_str()) != 0) {
      Fail("cannot rename to " + a.final_name(), errno);
    }
    if (::renameat(dir, b.name().c_str(), dir, b.final_name().c_str()) != 0) {
      int error = errno;
      if (exchanged) {
        ::renameat2(dir, a.name().c_str(), dir, a.final_name().c_str(), RENAME_EXCHANGE);
      } else {
        ::unlinkat(dir, a.final_name().c_str(), 0);
        a.MarkCommitted();
      }
      Fail("cannot rename to " + b.final_name(), error);
    }
    b.MarkCommitted();
    // After an exchange the temporary name holds the earlier file, which the
    // destructor removes; after a plain rename there is nothing left to remove.
    if (!exchanged) a.MarkCommitted();
  }

  std::shared_ptr<Descriptor> fd_;
  std::filesystem::path path_;
};

}  // namespace

std::unique_ptr<OutputFolder> OpenOutputFolder(const std::filesystem::path& folder) {
  int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) Fail("cannot open the output folder " + folder.string(), errno);
  return std::make_unique<PosixOutputFolder>(std::make_shared<Descriptor>(fd), folder);
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
