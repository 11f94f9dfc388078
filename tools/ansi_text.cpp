#include "tools/ansi_text.h"

#include <unicode/ucnv.h>
#include <unicode/ucnv_cb.h>
#include <unicode/ustring.h>

#include <memory>
#include <vector>

namespace lumerca::tools {
namespace {

// ICU's names of the Windows code pages.
const char* ConverterName(unsigned code_page) {
  switch (code_page) {
    case 437: return "ibm-437_P100-1995";
    case 850: return "ibm-850_P100-1995";
    case 874: return "windows-874-2000";
    case 932: return "ibm-943_P15A-2003";
    case 936: return "windows-936-2000";
    case 949: return "windows-949-2000";
    case 950: return "windows-950-2000";
    case 1250: return "windows-1250";
    case 1251: return "windows-1251";
    case 1252: return "windows-1252";
    case 1253: return "windows-1253";
    case 1254: return "windows-1254";
    case 1255: return "windows-1255";
    case 1256: return "windows-1256";
    case 1257: return "windows-1257";
    case 1258: return "windows-1258";
    default: return nullptr;
  }
}

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

// Every byte sequence without a mapping becomes U+FFFD. (ICU's own
// substitute for an unmapped single byte is U+001A, a control character that
// XML does not allow.)
void ReplacementCharacter(const void*, UConverterToUnicodeArgs* args, const char*, int32_t,
                          UConverterCallbackReason reason, UErrorCode* error) {
  if (reason > UCNV_IRREGULAR) return;  // reset, close, clone
  *error = U_ZERO_ERROR;
  const UChar replacement = 0xFFFD;
  ucnv_cbToUWriteUChars(args, &replacement, 1, 0, error);
}

struct ConverterCloser {
  void operator()(UConverter* converter) const { ucnv_close(converter); }
};

}  // namespace

std::string AnsiToUtf8(std::string_view bytes, unsigned code_page) {
  if (bytes.empty()) return {};
  const char* name = ConverterName(code_page);
  UErrorCode error = U_ZERO_ERROR;
  std::unique_ptr<UConverter, ConverterCloser> converter(name ? ucnv_open(name, &error) : nullptr);
  if (!converter || U_FAILURE(error)) return Latin1ToUtf8(bytes);
  ucnv_setToUCallBack(converter.get(), ReplacementCharacter, nullptr, nullptr, nullptr, &error);
  if (U_FAILURE(error)) return Latin1ToUtf8(bytes);

  // A byte gives at most two UTF-16 units.
  std::vector<UChar> units(2 * bytes.size() + 1);
  const int32_t length = ucnv_toUChars(converter.get(), units.data(), static_cast<int32_t>(units.size()),
                                       bytes.data(), static_cast<int32_t>(bytes.size()), &error);
  if (U_FAILURE(error)) return Latin1ToUtf8(bytes);

  int32_t needed = 0;
  error = U_ZERO_ERROR;
  u_strToUTF8WithSub(nullptr, 0, &needed, units.data(), length, 0xFFFD, nullptr, &error);
  std::string out(static_cast<std::size_t>(needed), '\0');
  error = U_ZERO_ERROR;
  u_strToUTF8WithSub(out.data(), needed, nullptr, units.data(), length, 0xFFFD, nullptr, &error);
  if (U_FAILURE(error)) return Latin1ToUtf8(bytes);
  return out;
}

}  // namespace lumerca::tools
