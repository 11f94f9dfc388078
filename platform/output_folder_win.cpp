// The output folder on Windows. A temporary file is created with CREATE_NEW
// under a name with 64 random bits, so it is always a new file of our own and
// never a link planted at a guessed name; it is renamed over its final name
// with MoveFileExW, which replaces the directory entry (a link there is
// replaced, not followed). Names: "csvimprt.txt.~<16 hex digits>.tmp" for a
// file being written, ".old" for an earlier file moved aside during a commit.

#include "platform/output_folder.h"

#include <windows.h>
#include <bcrypt.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <utility>

namespace lumerca::platform {
namespace {

// MAX_PATH: 259 characters and the terminator.
constexpr int kPathUnits = 260;

// Keeps the renames of two imports of this process from interleaving.
SRWLOCK g_commit_lock = SRWLOCK_INIT;

class CommitLock {
public:
  CommitLock() { AcquireSRWLockExclusive(&g_commit_lock); }
  ~CommitLock() { ReleaseSRWLockExclusive(&g_commit_lock); }
  CommitLock(const CommitLock&) = delete;
  CommitLock& operator=(const CommitLock&) = delete;
};

[[noreturn]] void Fail(const std::string& what, DWORD error) {
  throw OutputError(what + " (Windows error " + std::to_string(error) + ")");
}

std::wstring RandomSuffix() {
  unsigned char bytes[8];
  if (!BCRYPT_SUCCESS(BCryptGenRandom(nullptr, bytes, sizeof bytes,
                                      BCRYPT_USE_SYSTEM_PREFERRED_RNG))) {
    throw OutputError("no random bytes for a temporary file name");
  }
  static constexpr wchar_t kHex[] = L"0123456789abcdef";
  std::wstring out;
  for (unsigned char b : bytes) {
    out.push_back(kHex[b >> 4]);
    out.push_back(kHex[b & 0x0F]);
  }
  return out;
}

// A final name is a plain file name inside the folder.
bool IsPlainName(const std::string& name) {
  if (name.empty() || name == "." || name == "..") return false;
  return name.find_first_of("\\/:") == std::string::npos;
}

class WinTemporaryFile final : public TemporaryFile {
public:
  WinTemporaryFile(std::filesystem::path temporary, std::filesystem::path final_path, HANDLE file)
      : temporary_(std::move(temporary)), final_(std::move(final_path)), file_(file) {}

  ~WinTemporaryFile() override {
    Close();
    if (!committed_) DeleteFileW(temporary_.c_str());
  }

  void Write(const char* data, std::size_t size) override {
    if (file_ == INVALID_HANDLE_VALUE) throw OutputError("write after the file was finished");
    while (size > 0) {
      const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30));
      DWORD written = 0;
      if (!WriteFile(file_, data, chunk, &written, nullptr)) Fail("cannot write", GetLastError());
      if (written == 0) Fail("cannot write", ERROR_WRITE_FAULT);
      data += written;
      size -= written;
    }
  }

  void Finish() override {
    if (file_ == INVALID_HANDLE_VALUE) return;
    if (!FlushFileBuffers(file_)) Fail("cannot flush", GetLastError());
    const HANDLE file = std::exchange(file_, INVALID_HANDLE_VALUE);
    if (!CloseHandle(file)) Fail("cannot close", GetLastError());
  }

  const std::filesystem::path& temporary() const { return temporary_; }
  const std::filesystem::path& final_path() const { return final_; }
  void MarkCommitted() { committed_ = true; }

private:
  void Close() {
    if (file_ != INVALID_HANDLE_VALUE) CloseHandle(std::exchange(file_, INVALID_HANDLE_VALUE));
  }

  std::filesystem::path temporary_;
  std::filesystem::path final_;
  HANDLE file_;
  bool committed_ = false;
};

class WinOutputFolder final : public OutputFolder {
public:
  explicit WinOutputFolder(std::filesystem::path folder) : folder_(std::move(folder)) {}

  std::unique_ptr<TemporaryFile> CreateTemporary(const std::string& final_name) override {
    if (!IsPlainName(final_name)) throw OutputError("not a plain file name: " + final_name);
    const std::filesystem::path final_path = folder_ / final_name;
    // A clash with an existing name means another file got there first: draw
    // again. Anything else is a real failure.
    for (int attempt = 0; attempt < 16; ++attempt) {
      std::filesystem::path temporary = final_path;
      temporary += L".~" + RandomSuffix() + L".tmp";
      const HANDLE file =
          CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                      FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
      if (file != INVALID_HANDLE_VALUE) {
        return std::make_unique<WinTemporaryFile>(std::move(temporary), final_path, file);
      }
      const DWORD error = GetLastError();
      if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) {
        Fail("cannot create a temporary file for " + final_name, error);
      }
    }
    throw OutputError("no free temporary file name for " + final_name);
  }

  // The file that the first rename replaces is moved aside first, so that a
  // failure of the second rename (say, the host holds that file open) can put
  // it back: the pair in the folder is then the earlier one, unchanged.
  void Commit(TemporaryFile& first, TemporaryFile& second) override {
    auto* a = dynamic_cast<WinTemporaryFile*>(&first);
    auto* b = dynamic_cast<WinTemporaryFile*>(&second);
    if (a == nullptr || b == nullptr || a == b) throw OutputError("not two files of this folder");
    a->Finish();
    b->Finish();
    constexpr DWORD kReplace = MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH;

    CommitLock lock;
    std::filesystem::path earlier = a->final_path();
    earlier += L".~" + RandomSuffix() + L".old";
    bool kept_earlier = true;
    if (!MoveFileExW(a->final_path().c_str(), earlier.c_str(), MOVEFILE_WRITE_THROUGH)) {
      const DWORD error = GetLastError();
      if (error != ERROR_FILE_NOT_FOUND) {
        Fail("cannot move " + a->final_path().filename().string() + " aside", error);
      }
      kept_earlier = false;
    }
    const auto put_back = [&] {
      if (kept_earlier) {
        MoveFileExW(earlier.c_str(), a->final_path().c_str(), kReplace);
      }
    };

    if (!MoveFileExW(a->temporary().c_str(), a->final_path().c_str(), kReplace)) {
      const DWORD error = GetLastError();
      put_back();
      Fail("cannot rename the temporary file over " + a->final_path().filename().string(), error);
    }
    a->MarkCommitted();
    if (!MoveFileExW(b->temporary().c_str(), b->final_path().c_str(), kReplace)) {
      const DWORD error = GetLastError();
      if (kept_earlier) {
        put_back();
      } else {
        DeleteFileW(a->final_path().c_str());
      }
      Fail("cannot rename the temporary file over " + b->final_path().filename().string(), error);
    }
    b->MarkCommitted();
    if (kept_earlier) DeleteFileW(earlier.c_str());
  }

private:
  std::filesystem::path folder_;
};

}  // namespace

std::unique_ptr<OutputFolder> OpenOutputFolder(const std::filesystem::path& folder) {
  const DWORD attributes = GetFileAttributesW(folder.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    Fail("the output folder cannot be reached", GetLastError());
  }
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    throw OutputError("the output folder is not a folder");
  }
  return std::make_unique<WinOutputFolder>(folder);
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
