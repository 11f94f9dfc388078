#pragma once

// The structured-storage layer: exactly what the walk of a marker document
// needs. A document is a tree of storages whose leaves are streams. Two
// backends implement it: the portable compound-file reader (compound_file.h)
// and, on Windows, the system's structured storage (com_storage_win.cpp).

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>

namespace lumerca::storage {

// Element types as the compound-file directory and STATSTG number them.
enum class ElementType : std::uint32_t {
  Storage = 1,
  Stream = 2,
  LockBytes = 3,
  Property = 4,
  Root = 5,
};

struct Element {
  std::u16string name;   // UTF-16, as stored (not case-folded)
  std::uint32_t type = 0;  // an ElementType value; unknown values are kept as read
  std::uint64_t size = 0;  // stream size in bytes; the walk uses the low 32 bits
};

// A stream opened for reading, positioned at its first byte.
class Stream {
public:
  virtual ~Stream() = default;
  // Reads up to `count` bytes at the current position into `buffer` and
  // advances by the number delivered, which is returned. Fewer bytes than asked
  // (0 included) means the stream ended or failed.
  virtual std::uint32_t Read(void* buffer, std::uint32_t count) = 0;
};

// Lists the elements of one storage, one at a time.
class Enumerator {
public:
  enum class Result { Element, Done, Failed };
  virtual ~Enumerator() = default;
  virtual Result Next(Element& element) = 0;
};

class Storage {
public:
  virtual ~Storage() = default;
  // Each returns null on failure.
  virtual std::unique_ptr<Enumerator> EnumElements() = 0;
  virtual std::unique_ptr<Storage> OpenStorage(const std::u16string& name) = 0;
  virtual std::unique_ptr<Stream> OpenStream(const std::u16string& name) = 0;
};

// Opens a document read-only with the platform's backend (the system's
// structured storage on Windows, the portable reader elsewhere). Null when the
// file cannot be opened as a compound document; `why` then receives the
// reason, a short English text ("no such file", "not a compound file: ...").
// The file is opened once, without blocking, and only a regular file is read
// (platform/input_file.h); `size` (when given) receives the size of the file
// opened.
std::unique_ptr<Storage> OpenDocument(const std::filesystem::path& path, std::string* why = nullptr,
                                      std::uint64_t* size = nullptr);

// The reason for a file that the file system refuses, from its error: "no
// such file", "it is a folder", "no permission to read it (...)", or the
// system's own message.
std::string FileErrorText(const std::error_code& error);

}  // namespace lumerca::storage
