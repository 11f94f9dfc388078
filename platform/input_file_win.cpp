#include "platform/input_file.h"

#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <utility>

namespace lumerca::platform {
namespace {

std::function<void(const std::filesystem::path&)>& BeforeOpen() {
  static std::function<void(const std::filesystem::path&)> hook;
  return hook;
}

class WinInputFile final : public InputFile {
public:
  WinInputFile(HANDLE file, std::uint64_t size) : file_(file), size_(size) {}
  ~WinInputFile() override { CloseHandle(file_); }

  std::uint64_t Size() const override { return size_; }

  bool ReadAll(std::vector<std::byte>& bytes, std::string& why) override {
    bytes.resize(static_cast<std::size_t>(size_));
    LARGE_INTEGER start{};
    std::size_t done = 0;
    bool ok = SetFilePointerEx(file_, start, nullptr, FILE_BEGIN) != 0;
    while (ok && done < bytes.size()) {
      const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1u << 30));
      DWORD read = 0;
      ok = ReadFile(file_, bytes.data() + done, chunk, &read, nullptr) && read > 0;
      done += read;
    }
    if (done == bytes.size()) return true;
    why = "reading it failed after " + std::to_string(done) + " of its " + std::to_string(size_) + " bytes";
    return false;
  }

private:
  HANDLE file_;
  std::uint64_t size_;
};

// The system's errors that have words of their own (storage::FileErrorText).
std::error_code ErrorOf(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
      return std::make_error_code(std::errc::no_such_file_or_directory);
    case ERROR_ACCESS_DENIED: return std::make_error_code(std::errc::permission_denied);
    case ERROR_FILENAME_EXCED_RANGE: return std::make_error_code(std::errc::filename_too_long);
    default: return {static_cast<int>(error), std::system_category()};
  }
}

}  // namespace

std::unique_ptr<InputFile> OpenInputFile(const std::filesystem::path& path, std::error_code& error,
                                         std::string& reason) {
  if (BeforeOpen()) BeforeOpen()(path);
  // Others may read the file while it is open, but not write, rename or
  // remove it: the file read is the file at the path until it is closed.
  const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    const DWORD last = GetLastError();
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (last == ERROR_ACCESS_DENIED && attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      error = std::make_error_code(std::errc::is_a_directory);
    } else if (last == ERROR_SHARING_VIOLATION || last == ERROR_LOCK_VIOLATION) {
      reason = "another program has it open for writing (ERROR_SHARING_VIOLATION)";
    } else {
      error = ErrorOf(last);
    }
    return nullptr;
  }
  LARGE_INTEGER size{};
  const DWORD type = GetFileType(file);
  if (type != FILE_TYPE_DISK || !GetFileSizeEx(file, &size) || size.QuadPart < 0) {
    reason = type == FILE_TYPE_PIPE   ? "it is a named pipe, not a file"
             : type == FILE_TYPE_CHAR ? "it is a device, not a file"
                                      : "it is not a regular file";
    CloseHandle(file);
    return nullptr;
  }
  return std::make_unique<WinInputFile>(file, static_cast<std::uint64_t>(size.QuadPart));
}

void SetBeforeInputOpenHook(std::function<void(const std::filesystem::path&)> hook) {
  BeforeOpen() = std::move(hook);
}

}  // namespace lumerca::platform
