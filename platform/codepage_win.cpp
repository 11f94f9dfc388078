// The ANSI code page on Windows: the system's (GetACP), whose lead bytes and
// maximum character size come from GetCPInfo and whose upper-casing is built
// once, character by character, with the system's conversion services.

#include "platform/codepage.h"

#include <lumerca/marker.h>

#include <windows.h>

#include <cstddef>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace lumerca::platform {
namespace {

// The one UTF-16 unit that `size` bytes of code page `cp` encode.
bool Decode(UINT cp, const char* bytes, int size, wchar_t& character) {
  wchar_t units[4];
  const int length = MultiByteToWideChar(cp, MB_ERR_INVALID_CHARS, bytes, size, units, 4);
  if (length != 1) return false;
  character = units[0];
  return true;
}

// The upper case of the character of `size` bytes at `bytes`, written over
// them when the code page holds it, without a best-fit substitute, in as many
// bytes; false otherwise.
bool Upper(UINT cp, char* bytes, int size) {
  wchar_t character = 0;
  if (!Decode(cp, bytes, size, character)) return false;
  wchar_t upper = 0;
  if (LCMapStringW(LOCALE_INVARIANT, LCMAP_UPPERCASE, &character, 1, &upper, 1) != 1) {
    return false;
  }
  if (upper == character) return false;
  char encoded[8];
  BOOL used_default = FALSE;
  const int encoded_size = WideCharToMultiByte(cp, WC_NO_BEST_FIT_CHARS, &upper, 1, encoded,
                                               static_cast<int>(sizeof(encoded)), nullptr,
                                               &used_default);
  if (encoded_size != size || used_default) return false;
  wchar_t back = 0;
  if (!Decode(cp, encoded, encoded_size, back) || back != upper) return false;
  for (int i = 0; i < size; ++i) bytes[i] = encoded[i];
  return true;
}

std::unique_ptr<CodePage> Build(UINT cp) {
  CPINFO info{};
  if (!GetCPInfo(cp, &info)) return CodePage::AsciiOnly(cp, false);
  const bool multi_byte = info.MaxCharSize != 1;

  std::array<bool, 256> lead{};
  for (int r = 0; r + 1 < MAX_LEADBYTES; r += 2) {
    const unsigned first = info.LeadByte[r];
    const unsigned last = info.LeadByte[r + 1];
    if (first == 0 && last == 0) break;
    for (unsigned b = first; b <= last && b < 256; ++b) lead[b] = true;
  }

  return CodePage::FromUpperCasing(cp, multi_byte, lead, [cp](char* bytes, int size) {
    return Upper(cp, bytes, size);
  });
}

}  // namespace

// The system's ANSI code page, and any other single- or double-byte code page
// that the system has, built once per process when first asked for.
const CodePage* CodePage::Find(unsigned id) {
  const CodePage& current = CurrentCodePage();
  if (current.Id() == id) return &current;
  CPINFO info{};
  if (id == 0 || !GetCPInfo(id, &info) || info.MaxCharSize > 2) return nullptr;
  static std::mutex mutex;
  static std::map<unsigned, std::unique_ptr<CodePage>> built;
  std::lock_guard lock(mutex);
  std::unique_ptr<CodePage>& page = built[id];
  if (!page) page = Build(id);
  return page.get();
}

const CodePage& CurrentCodePage() {
  static const std::unique_ptr<CodePage> page = Build(GetACP());
  return *page;
}

std::string AnsiToUtf8(std::string_view bytes, unsigned code_page) {
  if (bytes.empty() || bytes.size() > 0x3FFFFFFF) return {};
  const int size = static_cast<int>(bytes.size());
  // A code page the system does not have is read as Latin-1 (28591).
  UINT cp = code_page;
  CPINFO info{};
  if (!GetCPInfo(cp, &info)) cp = 28591;
  // An unmapped sequence becomes what the system maps it to (its default
  // character where it has no mapping at all).
  std::vector<wchar_t> units(static_cast<std::size_t>(size) * 2 + 1);
  int length = MultiByteToWideChar(cp, 0, bytes.data(), size, units.data(),
                                   static_cast<int>(units.size()));
  if (length <= 0) return {};
  const int needed = WideCharToMultiByte(CP_UTF8, 0, units.data(), length, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(needed > 0 ? needed : 0), '\0');
  if (needed > 0) {
    WideCharToMultiByte(CP_UTF8, 0, units.data(), length, out.data(), needed, nullptr, nullptr);
  }
  return out;
}

}  // namespace lumerca::platform

namespace lumerca {

unsigned AnsiCodePage() noexcept { return GetACP(); }

// The system's ANSI code page cannot be changed by the library: only that code
// page is accepted, and nothing changes.
bool SetAnsiCodePage(unsigned code_page) noexcept { return code_page == GetACP(); }

}  // namespace lumerca
