// What the library says of itself, and its helpers for names and code pages.
#include <lumerca/marker.h>
#include <lumerca/version.h>

#include "output/normalize.h"
#include "platform/codepage.h"

namespace lumerca {

const char* Version() noexcept { return LUMERCA_MARKER_VERSION_STRING; }

bool IsSupportedCodePage(unsigned code_page) noexcept {
  try {
    return platform::CodePage::Find(code_page) != nullptr;
  } catch (...) {
    return false;
  }
}

std::string ToUtf8(std::string_view text, unsigned code_page) {
  return platform::AnsiToUtf8(text, code_page);
}

std::string NormalizedName(std::string_view name, unsigned code_page) {
  if (code_page == 0) return output::NormalizeName(name);
  if (const platform::CodePage* page = platform::CodePage::Find(code_page)) {
    return output::NormalizeName(name, *page);
  }
  // A code page not known here: its lead bytes and upper-casing are not
  // known either.
  return output::NormalizeName(name, *platform::CodePage::AsciiOnly(code_page, false));
}

}  // namespace lumerca
