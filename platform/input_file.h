#pragma once

// A marker file opened for reading once: what it is and how large it is are
// taken from the file opened, never from its path again, so that a file
// swapped at the path meanwhile (by a pipe, a device, another file) is never
// mixed up with the one read. Opening never blocks: a named pipe at the path
// is refused, not waited on.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

namespace lumerca::platform {

class InputFile {
public:
  virtual ~InputFile() = default;
  // The size of the file opened.
  virtual std::uint64_t Size() const = 0;
  // Reads the file from its start into `bytes` (Size() bytes). False when
  // fewer arrive; `why` then says how many.
  virtual bool ReadAll(std::vector<std::byte>& bytes, std::string& why) = 0;
};

// Opens `path` for reading, following a link given as the path, and keeps it
// only when what it opened is a regular file. On Windows the file is held so
// that others may read it, but not write, rename or remove it, while it is
// open. Null when it cannot be opened: `error` is then the system's error
// (for the words of storage::FileErrorText), or `reason` says what is wrong
// ("it is a named pipe, not a file").
std::unique_ptr<InputFile> OpenInputFile(const std::filesystem::path& path, std::error_code& error,
                                         std::string& reason);

// Test seam: called with the path just before each open. Not exported from
// the shared library; empty by default.
void SetBeforeInputOpenHook(std::function<void(const std::filesystem::path&)> hook);

}  // namespace lumerca::platform
