// Why a file could not be opened as a document, in words a user can act on.

#include "storage/compound_file.h"

#include <algorithm>
#include <cstdio>
#include <string_view>

namespace lumerca::storage {
namespace {

using namespace std::string_view_literals;

// Signatures of formats that are often mistaken for marker files.
struct Signature {
  std::string_view magic;
  const char* what;
};

constexpr Signature kSignatures[] = {
    {"\x0E\x11\xFC\x0D\xD0\xCF\x11\x0E"sv, "a compound file of the early beta format, which is not supported"},
    {"%PDF-"sv, "a PDF document"},
    {"PK\x03\x04"sv, "a ZIP archive (or a document stored as one)"},
    {"PK\x05\x06"sv, "an empty ZIP archive"},
    {"\x89PNG\r\n\x1A\n"sv, "a PNG image"},
    {"\xFF\xD8\xFF"sv, "a JPEG image"},
    {"GIF87a"sv, "a GIF image"},
    {"GIF89a"sv, "a GIF image"},
    {"II*\0"sv, "a TIFF image"},
    {"MM\0*"sv, "a TIFF image"},
    {"{\\rtf"sv, "an RTF document"},
    {"\x1F\x8B"sv, "a gzip archive"},
    {"BZh"sv, "a bzip2 archive"},
    {"\xFD" "7zXZ\0"sv, "an xz archive"},
    {"7z\xBC\xAF\x27\x1C"sv, "a 7-Zip archive"},
    {"Rar!\x1A\x07"sv, "a RAR archive"},
    {"MZ"sv, "a Windows program or library"},
    {"\x7F" "ELF"sv, "an ELF program or library"},
    {"SQLite format 3\0"sv, "an SQLite database"},
    {"<?xml"sv, "an XML document"},
    {"\xEF\xBB\xBF<?xml"sv, "an XML document"},
};

bool StartsWith(std::span<const std::byte> bytes, std::string_view magic) {
  if (bytes.size() < magic.size()) return false;
  for (std::size_t i = 0; i < magic.size(); ++i) {
    if (std::to_integer<unsigned char>(bytes[i]) != static_cast<unsigned char>(magic[i])) return false;
  }
  return true;
}

// Text: no NUL and no control character but tab, line and form feeds and
// carriage return among the first bytes (any 8-bit code page, or UTF-8).
bool LooksLikeText(std::span<const std::byte> head) {
  return std::all_of(head.begin(), head.end(), [](std::byte b) {
    const auto c = std::to_integer<unsigned char>(b);
    return c >= 0x20 || c == '\t' || c == '\n' || c == '\r' || c == '\f';
  });
}

// The first line of a text, at most 40 bytes, with bytes outside printable
// ASCII written as \xNN.
std::string Quote(std::span<const std::byte> head) {
  std::string quoted = "\"";
  std::size_t shown = 0;
  for (std::byte b : head) {
    const auto c = std::to_integer<unsigned char>(b);
    if (c == '\n' || c == '\r' || shown == 40) break;
    if (c >= 0x20 && c < 0x7F && c != '"' && c != '\\') {
      quoted.push_back(static_cast<char>(c));
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      quoted += hex;
    }
    ++shown;
  }
  if (shown == 40) quoted += "...";
  return quoted + "\"";
}

std::string Hex(std::span<const std::byte> bytes) {
  std::string text;
  for (std::byte b : bytes) {
    char hex[4];
    std::snprintf(hex, sizeof hex, "%02X", std::to_integer<unsigned>(b));
    if (!text.empty()) text.push_back(' ');
    text += hex;
  }
  return text;
}

}  // namespace

std::string DescribeForeignBytes(std::span<const std::byte> bytes) {
  if (bytes.empty()) return "the file is empty";
  for (const Signature& s : kSignatures) {
    if (StartsWith(bytes, s.magic)) return std::string("it looks like ") + s.what;
  }
  const auto head = bytes.first(std::min<std::size_t>(bytes.size(), 512));
  if (LooksLikeText(head)) return "it holds text: " + Quote(head);
  return "its first bytes are " + Hex(bytes.first(std::min<std::size_t>(bytes.size(), 8))) +
         ", not the compound-file signature D0 CF 11 E0 A1 B1 1A E1";
}

std::string FileErrorText(const std::error_code& error) {
  if (error == std::errc::no_such_file_or_directory) return "no such file";
  if (error == std::errc::is_a_directory) return "it is a folder, not a file";
  if (error == std::errc::permission_denied || error == std::errc::operation_not_permitted) {
    return "no permission to read it (" + error.message() + ")";
  }
  if (error == std::errc::filename_too_long) return "the path is too long";
  return "it cannot be read (" + error.message() + ")";
}

}  // namespace lumerca::storage
