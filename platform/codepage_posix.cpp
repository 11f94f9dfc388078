// The code pages on systems other than Windows: the tables of each code page
// built once from ICU's converters. (The process's setting of the ANSI code
// page is in codepage_ansi_posix.cpp.)

#include "platform/codepage.h"

#include <unicode/uchar.h>
#include <unicode/ucnv.h>
#include <unicode/ucnv_cb.h>
#include <unicode/ucnv_err.h>
#include <unicode/ustring.h>
#include <unicode/utf16.h>

#include <cstddef>
#include <mutex>
#include <vector>

namespace lumerca::platform {
namespace {

struct LeadRange {
  unsigned char first;
  unsigned char last;
};

struct Supported {
  unsigned id;
  const char* converter;  // ICU's name of the Windows code page
  LeadRange leads[2];     // the lead bytes of a double-byte code page
};

// The lead-byte ranges are those that the Windows code pages declare.
constexpr Supported kSupported[] = {
    {437, "ibm-437_P100-1995", {}},
    {850, "ibm-850_P100-1995", {}},
    {874, "windows-874-2000", {}},
    {932, "ibm-943_P15A-2003", {{0x81, 0x9F}, {0xE0, 0xFC}}},
    {936, "windows-936-2000", {{0x81, 0xFE}, {}}},
    {949, "windows-949-2000", {{0x81, 0xFE}, {}}},
    {950, "windows-950-2000", {{0x81, 0xFE}, {}}},
    {1250, "windows-1250", {}},
    {1251, "windows-1251", {}},
    {1252, "windows-1252", {}},
    {1253, "windows-1253", {}},
    {1254, "windows-1254", {}},
    {1255, "windows-1255", {}},
    {1256, "windows-1256", {}},
    {1257, "windows-1257", {}},
    {1258, "windows-1258", {}},
};
constexpr std::size_t kSupportedCount = sizeof(kSupported) / sizeof(kSupported[0]);

// One ICU converter that reports every unmappable byte sequence or character
// instead of substituting it, and uses round-trip mappings only.
class Converter {
public:
  explicit Converter(const char* name) {
    UErrorCode error = U_ZERO_ERROR;
    converter_ = ucnv_open(name, &error);
    if (U_FAILURE(error)) {
      converter_ = nullptr;
      return;
    }
    ucnv_setToUCallBack(converter_, UCNV_TO_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &error);
    ucnv_setFromUCallBack(converter_, UCNV_FROM_U_CALLBACK_STOP, nullptr, nullptr, nullptr,
                          &error);
    ucnv_setFallback(converter_, false);
    if (U_FAILURE(error)) {
      ucnv_close(converter_);
      converter_ = nullptr;
    }
  }
  ~Converter() {
    if (converter_ != nullptr) ucnv_close(converter_);
  }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;

  bool IsOpen() const { return converter_ != nullptr; }

  // The one character that `size` bytes encode; false unless they encode
  // exactly one.
  bool Decode(const char* bytes, int size, UChar32& character) {
    UChar units[4];
    UErrorCode error = U_ZERO_ERROR;
    const int32_t length = ucnv_toUChars(converter_, units, 4, bytes, size, &error);
    if (U_FAILURE(error) || length <= 0 || length > 2) return false;
    if (length == 1) {
      character = units[0];
      return true;
    }
    if (!U16_IS_LEAD(units[0]) || !U16_IS_TRAIL(units[1])) return false;
    character = 0x10000 + ((static_cast<UChar32>(units[0]) - 0xD800) << 10) +
                (static_cast<UChar32>(units[1]) - 0xDC00);
    return true;
  }

  // The bytes of `character`; false when the code page does not hold it with
  // a round-trip mapping.
  bool Encode(UChar32 character, char* bytes, int capacity, int& size) {
    if (character < 0 || character > 0x10FFFF) return false;
    UChar units[2];
    int32_t count = 1;
    if (character <= 0xFFFF) {
      units[0] = static_cast<UChar>(character);
    } else {
      const UChar32 offset = character - 0x10000;
      units[0] = static_cast<UChar>(0xD800 + (offset >> 10));
      units[1] = static_cast<UChar>(0xDC00 + (offset & 0x3FF));
      count = 2;
    }
    UErrorCode error = U_ZERO_ERROR;
    size = ucnv_fromUChars(converter_, bytes, capacity, units, count, &error);
    return U_SUCCESS(error) && error != U_STRING_NOT_TERMINATED_WARNING && size > 0;
  }

  // The upper case of the character of `size` bytes at `bytes`, written over
  // them when the code page holds it in as many bytes; false otherwise.
  bool Upper(char* bytes, int size) {
    UChar32 character = 0;
    if (!Decode(bytes, size, character)) return false;
    const UChar32 upper = u_toupper(character);
    if (upper == character) return false;
    char encoded[8];
    int encoded_size = 0;
    if (!Encode(upper, encoded, static_cast<int>(sizeof(encoded)), encoded_size)) return false;
    if (encoded_size != size) return false;
    UChar32 back = 0;
    if (!Decode(encoded, encoded_size, back) || back != upper) return false;
    for (int i = 0; i < size; ++i) bytes[i] = encoded[i];
    return true;
  }

private:
  UConverter* converter_ = nullptr;
};

std::unique_ptr<const CodePage> Build(const Supported& supported) {
  Converter converter(supported.converter);
  if (!converter.IsOpen()) return nullptr;

  std::array<bool, 256> lead{};
  bool multi_byte = false;
  for (const LeadRange& range : supported.leads) {
    if (range.first == 0) continue;
    multi_byte = true;
    for (unsigned b = range.first; b <= range.last; ++b) lead[b] = true;
  }

  return CodePage::FromUpperCasing(supported.id, multi_byte, lead, [&converter](char* bytes, int size) {
    return converter.Upper(bytes, size);
  });
}

struct Slot {
  std::once_flag once;
  std::unique_ptr<const CodePage> page;
};

const Supported* FindSupported(unsigned id) {
  for (const Supported& supported : kSupported) {
    if (supported.id == id) return &supported;
  }
  return nullptr;
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
  const Supported* supported = FindSupported(code_page);
  UErrorCode error = U_ZERO_ERROR;
  std::unique_ptr<UConverter, ConverterCloser> converter(
      supported ? ucnv_open(supported->converter, &error) : nullptr);
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

std::vector<unsigned> KnownCodePages() {
  std::vector<unsigned> ids;
  for (const Supported& supported : kSupported) ids.push_back(supported.id);
  return ids;
}

const CodePage* CodePage::Find(unsigned id) {
  static std::array<Slot, kSupportedCount> slots;
  for (std::size_t i = 0; i < kSupportedCount; ++i) {
    if (kSupported[i].id != id) continue;
    Slot& slot = slots[i];
    std::call_once(slot.once, [&] { slot.page = Build(kSupported[i]); });
    return slot.page.get();
  }
  return nullptr;
}

}  // namespace lumerca::platform
