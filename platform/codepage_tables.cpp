#include "platform/codepage_tables.h"

#include <cstring>
#include <utility>

namespace lumerca::platform {
namespace {

constexpr char kMagic[4] = {'L', 'M', 'C', 'P'};
constexpr std::uint32_t kVersion = 1;
constexpr char kReplacement[] = "\xEF\xBF\xBD";  // U+FFFD

void PutUtf8(std::string& out, std::uint32_t c) {
  if (c < 0x80) {
    out.push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (c >> 6)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xE0 | (c >> 12)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

// The one character of U+0000 to U+FFFF that `utf8` holds, if it holds exactly one.
std::optional<std::uint16_t> OneCharacter(const std::string& utf8) {
  const auto b = [&](std::size_t i) { return static_cast<unsigned char>(utf8[i]); };
  if (utf8.size() == 1 && b(0) < 0x80) return b(0);
  if (utf8.size() == 2 && (b(0) & 0xE0) == 0xC0) {
    return static_cast<std::uint16_t>((b(0) & 0x1F) << 6 | (b(1) & 0x3F));
  }
  if (utf8.size() == 3 && (b(0) & 0xF0) == 0xE0) {
    return static_cast<std::uint16_t>((b(0) & 0x0F) << 12 | (b(1) & 0x3F) << 6 | (b(2) & 0x3F));
  }
  return std::nullopt;
}

bool IsMark(std::uint16_t c) {
  return c == CodePageDecoder::kUnmapped || c == CodePageDecoder::kLead ||
         c == CodePageDecoder::kIllegal;
}

void Put8(std::string& out, std::uint8_t v) { out.push_back(static_cast<char>(v)); }
void Put16(std::string& out, std::uint16_t v) {
  Put8(out, static_cast<std::uint8_t>(v & 0xFF));
  Put8(out, static_cast<std::uint8_t>(v >> 8));
}
void Put32(std::string& out, std::uint32_t v) {
  Put16(out, static_cast<std::uint16_t>(v & 0xFFFF));
  Put16(out, static_cast<std::uint16_t>(v >> 16));
}

// Reads the file front to back; any read past its end fails it.
class Reader {
public:
  explicit Reader(std::string_view file) : file_(file) {}
  bool ok() const { return ok_; }
  bool at_end() const { return at_ == file_.size(); }
  std::uint8_t U8() {
    if (at_ >= file_.size()) {
      ok_ = false;
      return 0;
    }
    return static_cast<std::uint8_t>(file_[at_++]);
  }
  std::uint16_t U16() {
    const std::uint8_t low = U8();
    return static_cast<std::uint16_t>(low | U8() << 8);
  }
  std::uint32_t U32() {
    const std::uint16_t low = U16();
    return low | static_cast<std::uint32_t>(U16()) << 16;
  }

private:
  std::string_view file_;
  std::size_t at_ = 0;
  bool ok_ = true;
};

}  // namespace

std::string CodePageDecoder::ToUtf8(std::string_view bytes) const {
  std::string out;
  out.reserve(bytes.size() + bytes.size() / 2);
  std::size_t i = 0;
  while (i < bytes.size()) {
    // A run of bytes that stand for themselves (ASCII, in most code pages)
    // goes in with one append.
    std::size_t run = i;
    while (run < bytes.size() && static_cast<unsigned char>(bytes[run]) < 0x80 &&
           single[static_cast<unsigned char>(bytes[run])] == static_cast<unsigned char>(bytes[run])) {
      ++run;
    }
    if (run != i) {
      out.append(bytes.data() + i, run - i);
      i = run;
      continue;
    }
    const auto byte = static_cast<unsigned char>(bytes[i]);
    const std::uint16_t c = single[byte];
    if (c == kLead) {
      if (i + 1 == bytes.size()) {
        out += kReplacement;  // cut short
        break;
      }
      const std::uint16_t pair = (*pairs[byte])[static_cast<unsigned char>(bytes[i + 1])];
      if (pair == kIllegal) {
        out += kReplacement;
        i += 1;
      } else {
        if (pair == kUnmapped) {
          out += kReplacement;
        } else {
          PutUtf8(out, pair);
        }
        i += 2;
      }
    } else {
      if (c == kUnmapped) {
        out += kReplacement;
      } else {
        PutUtf8(out, c);
      }
      i += 1;
    }
  }
  return out;
}

std::string WriteCodePageTables(const CodePage& page,
                                const std::function<std::string(std::string_view)>& decode) {
  std::string out(kMagic, sizeof kMagic);
  Put32(out, kVersion);
  Put32(out, page.Id());
  Put8(out, page.IsMultiByte() ? 1 : 0);
  for (unsigned b = 0; b < 256; ++b) Put8(out, page.IsLeadByte(static_cast<unsigned char>(b)) ? 1 : 0);

  // The upper-casing, asked of the code page one character at a time.
  for (unsigned b = 0; b < 256; ++b) {
    std::string text(1, static_cast<char>(b));
    page.ToUpper(text);
    Put8(out, static_cast<std::uint8_t>(text[0]));
  }
  std::vector<std::pair<std::uint16_t, std::uint16_t>> uppers;
  for (unsigned lead = 0; lead < 256; ++lead) {
    if (!page.IsLeadByte(static_cast<unsigned char>(lead))) continue;
    for (unsigned trail = 0; trail < 256; ++trail) {
      std::string text{static_cast<char>(lead), static_cast<char>(trail)};
      page.ToUpper(text);
      const auto upper = static_cast<std::uint16_t>(static_cast<unsigned char>(text[0]) << 8 |
                                                    static_cast<unsigned char>(text[1]));
      const auto from = static_cast<std::uint16_t>(lead << 8 | trail);
      if (upper != from) uppers.emplace_back(from, upper);
    }
  }
  Put32(out, static_cast<std::uint32_t>(uppers.size()));
  for (const auto& [from, to] : uppers) {
    Put16(out, from);
    Put16(out, to);
  }

  // The decoding. A byte begins a two-byte sequence when some byte after it
  // decodes otherwise than the two bytes alone do.
  std::array<std::string, 256> alone;
  for (unsigned b = 0; b < 256; ++b) alone[b] = decode(std::string(1, static_cast<char>(b)));
  std::vector<unsigned> leads;
  std::array<std::uint16_t, 256> single{};
  std::vector<std::array<std::uint16_t, 256>> pairs;
  for (unsigned b = 0; b < 256; ++b) {
    std::array<std::uint16_t, 256> pair{};
    bool lead = false;
    for (unsigned t = 0; t < 256; ++t) {
      const std::string two = decode(std::string{static_cast<char>(b), static_cast<char>(t)});
      if (two == alone[b] + alone[t]) {
        pair[t] = CodePageDecoder::kIllegal;
        continue;
      }
      lead = true;
      if (two == kReplacement) {
        pair[t] = CodePageDecoder::kUnmapped;
        continue;
      }
      const auto c = OneCharacter(two);
      if (!c || IsMark(*c)) return {};
      pair[t] = *c;
    }
    if (lead) {
      if (alone[b] != kReplacement) return {};  // a lead byte alone is a sequence cut short
      single[b] = CodePageDecoder::kLead;
      leads.push_back(b);
      pairs.push_back(pair);
    } else if (alone[b] == kReplacement) {
      single[b] = CodePageDecoder::kUnmapped;
    } else {
      const auto c = OneCharacter(alone[b]);
      if (!c || IsMark(*c)) return {};
      single[b] = *c;
    }
  }
  for (const std::uint16_t c : single) Put16(out, c);
  Put8(out, static_cast<std::uint8_t>(leads.size()));
  for (std::size_t i = 0; i < leads.size(); ++i) {
    Put8(out, static_cast<std::uint8_t>(leads[i]));
    for (const std::uint16_t c : pairs[i]) Put16(out, c);
  }
  return out;
}

std::optional<CodePageTables> ReadCodePageTables(std::string_view file) {
  if (file.size() < sizeof kMagic || std::memcmp(file.data(), kMagic, sizeof kMagic) != 0) {
    return std::nullopt;
  }
  Reader in(file.substr(sizeof kMagic));
  if (in.U32() != kVersion) return std::nullopt;
  const std::uint32_t id = in.U32();
  const bool multi_byte = in.U8() != 0;
  std::array<bool, 256> lead{};
  bool has_leads = false;
  for (bool& l : lead) {
    l = in.U8() != 0;
    has_leads = has_leads || l;
  }
  std::array<unsigned char, 256> single_upper{};
  for (unsigned char& u : single_upper) u = in.U8();
  std::vector<std::uint16_t> double_upper;
  const std::uint32_t uppers = in.U32();
  if (uppers > 65536) return std::nullopt;
  if (has_leads) {
    double_upper.resize(65536);
    for (std::size_t c = 0; c < double_upper.size(); ++c) double_upper[c] = static_cast<std::uint16_t>(c);
  }
  for (std::uint32_t i = 0; i < uppers && in.ok(); ++i) {
    const std::uint16_t from = in.U16();
    const std::uint16_t to = in.U16();
    if (!has_leads) return std::nullopt;
    double_upper[from] = to;
  }

  CodePageTables tables;
  for (std::uint16_t& c : tables.decoder.single) c = in.U16();
  const std::uint8_t count = in.U8();
  for (unsigned i = 0; i < count && in.ok(); ++i) {
    const std::uint8_t b = in.U8();
    auto pair = std::make_unique<std::array<std::uint16_t, 256>>();
    for (std::uint16_t& c : *pair) c = in.U16();
    tables.decoder.pairs[b] = std::move(pair);
  }
  if (!in.ok() || !in.at_end()) return std::nullopt;
  // Every byte marked as a lead byte has its trail bytes.
  for (unsigned b = 0; b < 256; ++b) {
    if ((tables.decoder.single[b] == CodePageDecoder::kLead) != (tables.decoder.pairs[b] != nullptr)) {
      return std::nullopt;
    }
  }
  tables.page = std::make_unique<CodePage>(id, multi_byte, lead, single_upper, std::move(double_upper));
  return tables;
}

}  // namespace lumerca::platform
