// The output folder on Windows: the operations that the journalled commit
// (output_folder.cpp) needs. A file is created with CREATE_NEW under a name
// with 64 random bits, so it is always a new file of our own and never a link
// planted at a guessed name; renames use MoveFileExW, which replaces the
// directory entry (a link there is replaced, not followed). An import's lock
// file is held open without sharing read or write access: another process can
// open it only once the import's process has ended. The commits of all
// processes into one folder take a named mutex (CommitMutexName).

#include "platform/folder_ops.h"
#include "platform/output_folder.h"

#include <windows.h>
#include <bcrypt.h>

#include <algorithm>
#include <cstdint>
#include <cwctype>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace lumerca::platform {
namespace {

// MAX_PATH: 259 characters and the terminator.
constexpr int kPathUnits = 260;

// Keeps the commits of two imports of this process into one folder apart
// (imports into other folders mostly get other locks), beside the named
// mutex, which is had by one thread at a time, and keeps other processes out.
constexpr std::size_t kCommitLocks = 64;
SRWLOCK g_commit_locks[kCommitLocks] = {};

SRWLOCK& CommitLock(const std::wstring& mutex_name) {
  std::uint64_t hash = 14695981039346656037ull;  // FNV-1a
  for (wchar_t c : mutex_name) hash = (hash ^ static_cast<std::uint16_t>(c)) * 1099511628211ull;
  return g_commit_locks[hash % kCommitLocks];
}

[[noreturn]] void Fail(const std::string& what, DWORD error) {
  throw OutputError(what + " (Windows error " + std::to_string(error) + ")");
}

detail::Result Done() { return detail::Result::Done(); }
detail::Result Failed(DWORD error) {
  return detail::Result::Failed("Windows error " + std::to_string(error));
}

// Our names are ASCII.
std::wstring Wide(const std::string& name) { return std::wstring(name.begin(), name.end()); }

class HeldHandle final : public detail::Held {
public:
  explicit HeldHandle(HANDLE handle) : handle_(handle) {}
  ~HeldHandle() override { CloseHandle(handle_); }

private:
  HANDLE handle_;
};

// "Local\lumerca_marker commit C:/USERROOT/TEMP": the folder's full path,
// upper case, with forward slashes and no slash at the end (a hash of it
// where the name would be too long for a mutex).
std::wstring CommitMutexName(const std::filesystem::path& folder) {
  wchar_t full[32768];
  const DWORD units = GetFullPathNameW(folder.c_str(), 32768, full, nullptr);
  std::wstring path = units > 0 && units < 32768 ? std::wstring(full, units) : folder.wstring();
  for (wchar_t& c : path) c = c == L'\\' ? L'/' : static_cast<wchar_t>(std::towupper(c));
  while (path.size() > 1 && path.back() == L'/') path.pop_back();
  std::wstring name = L"Local\\lumerca_marker commit " + path;
  if (name.size() < MAX_PATH) return name;
  std::uint64_t hash = 14695981039346656037ull;  // FNV-1a
  for (wchar_t c : path) hash = (hash ^ static_cast<std::uint16_t>(c)) * 1099511628211ull;
  wchar_t digits[17];
  for (int i = 15; i >= 0; --i, hash >>= 4) digits[i] = L"0123456789abcdef"[hash & 15];
  digits[16] = L'\0';
  return L"Local\\lumerca_marker commit #" + std::wstring(digits);
}

class FolderLock final : public detail::Held {
public:
  explicit FolderLock(const std::wstring& name) : process_(CommitLock(name)) {
    AcquireSRWLockExclusive(&process_);
    // Without the mutex (the system refuses it) the lock of the process is
    // all there is. A mutex abandoned by a process that ended is ours.
    mutex_ = CreateMutexW(nullptr, FALSE, name.c_str());
    if (mutex_ != nullptr) {
      const DWORD waited = WaitForSingleObject(mutex_, INFINITE);
      owned_ = waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED;
    }
  }
  ~FolderLock() override {
    if (owned_) ReleaseMutex(mutex_);
    if (mutex_ != nullptr) CloseHandle(mutex_);
    ReleaseSRWLockExclusive(&process_);
  }

private:
  SRWLOCK& process_;
  HANDLE mutex_ = nullptr;
  bool owned_ = false;
};

class WinNewFile final : public detail::NewFile {
public:
  explicit WinNewFile(HANDLE file) : file_(file) {}
  ~WinNewFile() override {
    if (file_ != INVALID_HANDLE_VALUE) CloseHandle(file_);
  }

  detail::Result Write(const char* data, std::size_t size) override {
    while (size > 0) {
      const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30));
      DWORD written = 0;
      if (!WriteFile(file_, data, chunk, &written, nullptr)) return Failed(GetLastError());
      if (written == 0) return Failed(ERROR_WRITE_FAULT);
      data += written;
      size -= written;
    }
    return Done();
  }

  detail::Result Flush() override { return FlushFileBuffers(file_) ? Done() : Failed(GetLastError()); }

  detail::Result Close() override {
    const HANDLE file = std::exchange(file_, INVALID_HANDLE_VALUE);
    return CloseHandle(file) ? Done() : Failed(GetLastError());
  }

private:
  HANDLE file_;
};

class WinFolder final : public detail::Folder {
public:
  explicit WinFolder(std::filesystem::path folder)
      : folder_(std::move(folder)), mutex_name_(CommitMutexName(folder_)) {}

  std::string Where() const override { return folder_.string(); }

  std::unique_ptr<detail::NewFile> Create(const std::string& name, detail::Result& result,
                                          bool& taken) override {
    const HANDLE file = CreateFileW(At(name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
      Refused(result, taken);
      return nullptr;
    }
    return std::make_unique<WinNewFile>(file);
  }

  std::unique_ptr<detail::Held> CreateLocked(const std::string& name, detail::Result& result,
                                             bool& taken) override {
    // Created and held at once: others may rename or remove it (as its own
    // import does), but not open it for reading while it is held.
    const HANDLE file =
        CreateFileW(At(name).c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
      Refused(result, taken);
      return nullptr;
    }
    return std::make_unique<HeldHandle>(file);
  }

  std::unique_ptr<detail::Held> LockAbandoned(const std::string& name) override {
    const HANDLE file = CreateFileW(At(name).c_str(), GENERIC_READ, FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) return nullptr;
    auto held = std::make_unique<HeldHandle>(file);
    BY_HANDLE_FILE_INFORMATION info{};
    if (GetFileType(file) != FILE_TYPE_DISK || !GetFileInformationByHandle(file, &info) ||
        (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0) {
      return nullptr;
    }
    return held;
  }

  detail::EntryKind Kind(const std::string& name) override {
    const DWORD attributes = GetFileAttributesW(At(name).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
      const DWORD error = GetLastError();
      // Only a name known to be free counts as free.
      return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? detail::EntryKind::Missing
                                                                             : detail::EntryKind::Other;
    }
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? detail::EntryKind::Folder : detail::EntryKind::Other;
  }

  bool KeepsEarlierByLink() const override { return false; }

  detail::Result Link(const std::string& existing, const std::string& name) override {
    return CreateHardLinkW(At(name).c_str(), At(existing).c_str(), nullptr) ? Done() : Failed(GetLastError());
  }

  detail::Result Rename(const std::string& from, const std::string& to) override {
    return MoveFileExW(At(from).c_str(), At(to).c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)
               ? Done()
               : Failed(GetLastError());
  }

  detail::Result Remove(const std::string& name) override {
    if (DeleteFileW(At(name).c_str())) return Done();
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND ? Done() : Failed(error);
  }

  bool List(const std::string& prefix, std::vector<std::string>& names) override {
    WIN32_FIND_DATAW found{};
    const HANDLE search = FindFirstFileW((folder_ / (Wide(prefix) + L"*")).c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_NOT_FOUND;
    do {
      std::string name;
      bool ascii = true;
      for (const wchar_t* c = found.cFileName; *c != L'\0'; ++c) {
        ascii = ascii && *c < 0x80;
        name.push_back(static_cast<char>(*c));
      }
      if (ascii && name.compare(0, prefix.size(), prefix) == 0) names.push_back(std::move(name));
    } while (FindNextFileW(search, &found));
    const bool complete = GetLastError() == ERROR_NO_MORE_FILES;
    FindClose(search);
    return complete;
  }

  std::unique_ptr<detail::Held> Lock() override { return std::make_unique<FolderLock>(mutex_name_); }

  // The renames were written through.
  detail::Result Sync() override { return Done(); }

  void Defer(DeferredFlushes& deferred, const std::vector<std::string>& finals) override {
    deferred.Add(At(finals.at(0)), At(finals.at(1)));
  }

  std::string RandomId() override {
    unsigned char bytes[8];
    if (!BCRYPT_SUCCESS(BCryptGenRandom(nullptr, bytes, sizeof bytes, BCRYPT_USE_SYSTEM_PREFERRED_RNG))) {
      throw OutputError("no random bytes for a temporary file name");
    }
    static constexpr char kHex[] = "0123456789abcdef";
    std::string id;
    for (unsigned char b : bytes) {
      id.push_back(kHex[b >> 4]);
      id.push_back(kHex[b & 0x0F]);
    }
    return id;
  }

private:
  std::filesystem::path At(const std::string& name) const { return folder_ / Wide(name); }

  // The last error of a create that failed.
  static void Refused(detail::Result& result, bool& taken) {
    const DWORD error = GetLastError();
    taken = error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS;
    result = Failed(error);
  }

  std::filesystem::path folder_;
  std::wstring mutex_name_;
};

}  // namespace

// The files of the deferred pairs: each is opened again and flushed.
struct DeferredFlushes::State {
  std::vector<std::filesystem::path> files;
  std::size_t pending = 0;
};

DeferredFlushes::DeferredFlushes() : state_(std::make_unique<State>()) {}
DeferredFlushes::~DeferredFlushes() = default;

void DeferredFlushes::Add(const std::filesystem::path& first, const std::filesystem::path& second) {
  std::lock_guard lock(mutex_);
  state_->files.push_back(first);
  state_->files.push_back(second);
  ++state_->pending;
}

bool DeferredFlushes::Flush(std::string& why) {
  std::lock_guard lock(mutex_);
  std::vector<std::filesystem::path>& files = state_->files;
  while (!files.empty()) {
    const std::filesystem::path& file = files.back();
    // The renames were written through; the files' bytes are flushed here.
    const HANDLE handle = CreateFileW(file.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT,
                                      nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
      const DWORD error = GetLastError();
      // A file removed or replaced since has nothing of ours left to flush.
      if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) {
        why = "cannot open " + file.string() + " (Windows error " + std::to_string(error) + ")";
        return false;
      }
    } else {
      const bool flushed = FlushFileBuffers(handle) != 0;
      const DWORD error = GetLastError();
      CloseHandle(handle);
      if (!flushed) {
        why = "cannot flush " + file.string() + " (Windows error " + std::to_string(error) + ")";
        return false;
      }
    }
    files.pop_back();
  }
  state_->pending = 0;
  return true;
}

std::size_t DeferredFlushes::Pending() const {
  std::lock_guard lock(mutex_);
  return state_->pending;
}

std::unique_ptr<OutputFolder> OpenOutputFolder(const std::filesystem::path& folder, DeferredFlushes* deferred) {
  const DWORD attributes = GetFileAttributesW(folder.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    Fail("the output folder cannot be reached", GetLastError());
  }
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    throw OutputError("the output folder is not a folder");
  }
  return std::make_unique<detail::JournalledOutputFolder>(std::make_unique<WinFolder>(folder), deferred);
}

std::filesystem::path FixedOutputFolder() { return std::filesystem::path(L"c:\\userroot\\temp\\"); }

std::filesystem::path PathFromAnsi(const char* path) {
  if (path == nullptr) return {};
  wchar_t buffer[kPathUnits];
  // The whole string with its terminator; 0 when it does not fit.
  const int units = MultiByteToWideChar(CP_ACP, 0, path, -1, buffer, kPathUnits);
  if (units <= 1) return {};
  return std::filesystem::path(buffer);
}

}  // namespace lumerca::platform
