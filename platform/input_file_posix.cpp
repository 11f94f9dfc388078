#include "platform/input_file.h"

#include <cerrno>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace lumerca::platform {
namespace {

std::function<void(const std::filesystem::path&)>& BeforeOpen() {
  static std::function<void(const std::filesystem::path&)> hook;
  return hook;
}

// What stands at a path that is not a regular file.
const char* WhatItIs(mode_t mode) {
  if (S_ISFIFO(mode)) return "it is a named pipe, not a file";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "it is a device, not a file";
  if (S_ISSOCK(mode)) return "it is a socket, not a file";
  return "it is not a regular file";
}

class PosixInputFile final : public InputFile {
public:
  PosixInputFile(int fd, std::uint64_t size) : fd_(fd), size_(size) {}
  ~PosixInputFile() override { ::close(fd_); }

  std::uint64_t Size() const override { return size_; }

  bool ReadAll(std::vector<std::byte>& bytes, std::string& why) override {
    bytes.resize(static_cast<std::size_t>(size_));
    std::size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t n = ::pread(fd_, bytes.data() + done, bytes.size() - done, static_cast<off_t>(done));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        why = "reading it failed after " + std::to_string(done) + " of its " + std::to_string(size_) + " bytes";
        return false;
      }
      done += static_cast<std::size_t>(n);
    }
    return true;
  }

private:
  int fd_;
  std::uint64_t size_;
};

}  // namespace

std::unique_ptr<InputFile> OpenInputFile(const std::filesystem::path& path, std::error_code& error,
                                         std::string& reason) {
  if (BeforeOpen()) BeforeOpen()(path);
  // O_NONBLOCK: a named pipe opens at once instead of waiting for a writer
  // (and is then refused); it changes nothing for a regular file.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    error.assign(errno, std::generic_category());
    return nullptr;
  }
  struct stat status {};
  if (::fstat(fd, &status) != 0) {
    error.assign(errno, std::generic_category());
    ::close(fd);
    return nullptr;
  }
  if (!S_ISREG(status.st_mode)) {
    if (S_ISDIR(status.st_mode)) {
      error = std::make_error_code(std::errc::is_a_directory);
    } else {
      reason = WhatItIs(status.st_mode);
    }
    ::close(fd);
    return nullptr;
  }
  return std::make_unique<PosixInputFile>(fd, static_cast<std::uint64_t>(status.st_size));
}

void SetBeforeInputOpenHook(std::function<void(const std::filesystem::path&)> hook) {
  BeforeOpen() = std::move(hook);
}

}  // namespace lumerca::platform
