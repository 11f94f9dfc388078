// The ANSI code page on systems other than Windows: a setting of the process,
// 1252 unless lumerca::SetAnsiCodePage changes it.

#include "platform/codepage.h"

#include <lumerca/marker.h>

#include <atomic>
#include <memory>

namespace lumerca::platform {
namespace {

std::atomic<unsigned> g_ansi_code_page{1252};

}  // namespace

std::string Latin1ToUtf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (const char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    if (b < 0x80) {
      out.push_back(c);
    } else {
      out.push_back(static_cast<char>(0xC0 | (b >> 6)));
      out.push_back(static_cast<char>(0x80 | (b & 0x3F)));
    }
  }
  return out;
}

const CodePage& CurrentCodePage() {
  const unsigned id = g_ansi_code_page.load(std::memory_order_acquire);
  if (const CodePage* page = CodePage::Find(id)) return *page;
  static const std::unique_ptr<CodePage> fallback = CodePage::AsciiOnly(1252, false);
  return *fallback;
}

}  // namespace lumerca::platform

namespace lumerca {

unsigned AnsiCodePage() noexcept {
  return platform::g_ansi_code_page.load(std::memory_order_acquire);
}

bool SetAnsiCodePage(unsigned code_page) noexcept {
  try {
    if (platform::CodePage::Find(code_page) == nullptr) return false;
  } catch (...) {
    return false;
  }
  platform::g_ansi_code_page.store(code_page, std::memory_order_release);
  return true;
}

}  // namespace lumerca
