// The structured-storage backend on Windows: IStorage, IEnumSTATSTG and
// IStream behind the storage layer's classes. Every interface is held by a
// ComPtr and so released by whoever opened it, on every path.

#include "storage/com_storage.h"
#include "storage/compound_file.h"

#include "platform/input_file.h"

#include <windows.h>
#include <objbase.h>
#include <objidl.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <utility>

namespace lumerca::storage {
namespace {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "element names are UTF-16 on Windows");

// Access modes: the document read-only with others kept from writing it;
// sub-storages and streams read-only and exclusive, as the system requires of
// elements opened in direct mode.
constexpr DWORD kDocumentMode = STGM_READ | STGM_SHARE_DENY_WRITE;  // 0x20
constexpr DWORD kElementMode = STGM_READ | STGM_SHARE_EXCLUSIVE;    // 0x10
static_assert(kDocumentMode == 0x20 && kElementMode == 0x10);

// Owns one reference to a COM interface.
template <class T>
class ComPtr {
public:
  ComPtr() = default;
  ~ComPtr() { Reset(); }
  ComPtr(const ComPtr&) = delete;
  ComPtr& operator=(const ComPtr&) = delete;
  ComPtr(ComPtr&& other) noexcept : ptr_(std::exchange(other.ptr_, nullptr)) {}
  ComPtr& operator=(ComPtr&& other) noexcept {
    if (this != &other) {
      Reset();
      ptr_ = std::exchange(other.ptr_, nullptr);
    }
    return *this;
  }

  // The address that a call returning the interface writes to.
  T** Receive() {
    Reset();
    return &ptr_;
  }
  void Reset() {
    if (ptr_ != nullptr) std::exchange(ptr_, nullptr)->Release();
  }
  T* operator->() const { return ptr_; }
  explicit operator bool() const { return ptr_ != nullptr; }

private:
  T* ptr_ = nullptr;
};

// Owns one name that the enumerator allocated with the task allocator.
class TaskMemName {
public:
  explicit TaskMemName(LPOLESTR name) : name_(name) {}
  ~TaskMemName() { CoTaskMemFree(name_); }
  TaskMemName(const TaskMemName&) = delete;
  TaskMemName& operator=(const TaskMemName&) = delete;
  const wchar_t* get() const { return name_; }

private:
  LPOLESTR name_;
};

std::u16string ToU16(const wchar_t* name) {
  std::u16string out;
  if (name == nullptr) return out;
  for (const wchar_t* p = name; *p != L'\0'; ++p) out.push_back(static_cast<char16_t>(*p));
  return out;
}

std::wstring ToWide(const std::u16string& name) {
  std::wstring out;
  out.reserve(name.size());
  for (char16_t c : name) out.push_back(static_cast<wchar_t>(c));
  return out;
}

class ComStream final : public Stream {
public:
  explicit ComStream(ComPtr<IStream> stream) : stream_(std::move(stream)) {}

  std::uint32_t Read(void* buffer, std::uint32_t count) override {
    if (count == 0) return 0;
    ULONG delivered = 0;
    // The result code is not examined: what counts is how many bytes arrived.
    // A failed read that reports more bytes than asked is not believed.
    stream_->Read(buffer, count, &delivered);
    return std::min<std::uint32_t>(delivered, count);
  }

private:
  ComPtr<IStream> stream_;
};

class ComEnumerator final : public Enumerator {
public:
  explicit ComEnumerator(ComPtr<IEnumSTATSTG> enumerator) : enumerator_(std::move(enumerator)) {}

  // S_OK delivers an element; a failure code ends the listing as failed; any
  // other success code (S_FALSE) ends it as complete.
  Result Next(Element& element) override {
    STATSTG stat{};
    const HRESULT hr = enumerator_->Next(1, &stat, nullptr);
    if (FAILED(hr)) return Result::Failed;
    // The name belongs to the caller of Next whenever the call succeeded.
    TaskMemName name(stat.pwcsName);
    if (hr != S_OK) return Result::Done;
    element.name = ToU16(name.get());
    element.type = stat.type;
    element.size = stat.cbSize.QuadPart;
    return Result::Element;
  }

private:
  ComPtr<IEnumSTATSTG> enumerator_;
};

class ComStorage final : public Storage {
public:
  explicit ComStorage(ComPtr<IStorage> storage) : storage_(std::move(storage)) {}

  std::unique_ptr<Enumerator> EnumElements() override {
    ComPtr<IEnumSTATSTG> enumerator;
    if (FAILED(storage_->EnumElements(0, nullptr, 0, enumerator.Receive())) || !enumerator) {
      return nullptr;
    }
    return std::make_unique<ComEnumerator>(std::move(enumerator));
  }

  std::unique_ptr<Storage> OpenStorage(const std::u16string& name) override {
    const std::wstring wide = ToWide(name);
    ComPtr<IStorage> sub;
    if (FAILED(storage_->OpenStorage(wide.c_str(), nullptr, kElementMode, nullptr, 0,
                                     sub.Receive())) ||
        !sub) {
      return nullptr;
    }
    return std::make_unique<ComStorage>(std::move(sub));
  }

  std::unique_ptr<Stream> OpenStream(const std::u16string& name) override {
    const std::wstring wide = ToWide(name);
    ComPtr<IStream> stream;
    if (FAILED(storage_->OpenStream(wide.c_str(), nullptr, kElementMode, 0, stream.Receive())) ||
        !stream) {
      return nullptr;
    }
    return std::make_unique<ComStream>(std::move(stream));
  }

private:
  ComPtr<IStorage> storage_;
};

// Why StgOpenStorageEx refused a document, from its result. For a file that
// is not a compound file, or a damaged one, the portable reader says what is
// wrong in more detail.
std::string OpenErrorText(HRESULT hr, const std::filesystem::path& path) {
  switch (hr) {
    case STG_E_FILENOTFOUND: return "no such file";
    case STG_E_PATHNOTFOUND: return "no such folder";
    case STG_E_ACCESSDENIED: return "no permission to read it (STG_E_ACCESSDENIED)";
    case STG_E_SHAREVIOLATION:
    case STG_E_LOCKVIOLATION:
      return "another program has it open for writing (STG_E_SHAREVIOLATION)";
    case STG_E_INSUFFICIENTMEMORY:
    case E_OUTOFMEMORY: return "memory ran out while opening it";
    case STG_E_TOOMANYOPENFILES: return "too many files are open (STG_E_TOOMANYOPENFILES)";
    case STG_E_INVALIDNAME: return "the path is not a valid file name (STG_E_INVALIDNAME)";
    case STG_E_FILEALREADYEXISTS:  // what the system says of a file of another format
    case STG_E_INVALIDHEADER:
    case STG_E_DOCFILECORRUPT:
    case STG_E_OLDFORMAT:
    case STG_E_OLDDLL: {
      std::string detail;
      if (!OpenCompoundFile(path, &detail)) return detail;
      break;
    }
    default: break;
  }
  char text[96];
  std::snprintf(text, sizeof text, "the system's structured storage refuses it (HRESULT 0x%08lX)",
                static_cast<unsigned long>(hr));
  return text;
}

}  // namespace

std::unique_ptr<Storage> OpenComDocument(const std::filesystem::path& path, std::string* why,
                                         std::uint64_t* size) {
  if (path.empty()) {
    if (why) *why = "no such file";
    return nullptr;
  }
  // Held until the system has the document open: while it is, nobody can
  // write, rename or replace the file, so the system opens the file that was
  // checked, and a pipe or a device is never handed to it.
  std::error_code error;
  std::string reason;
  const std::unique_ptr<platform::InputFile> pinned = platform::OpenInputFile(path, error, reason);
  if (!pinned) {
    if (why) *why = error ? FileErrorText(error) : reason;
    return nullptr;
  }
  if (size) *size = pinned->Size();
  ComPtr<IStorage> root;
  const HRESULT hr = StgOpenStorageEx(path.c_str(), kDocumentMode, STGFMT_ANY, 0, nullptr,
                                      nullptr, IID_IStorage,
                                      reinterpret_cast<void**>(root.Receive()));
  if (FAILED(hr) || !root) {
    if (why) *why = OpenErrorText(FAILED(hr) ? hr : E_POINTER, path);
    return nullptr;
  }
  return std::make_unique<ComStorage>(std::move(root));
}

}  // namespace lumerca::storage
