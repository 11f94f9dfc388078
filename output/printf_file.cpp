// printf-style formatting for the output files. "%f" is the legacy Windows C
// runtime's text (fixed_format.h) and "%d" plain decimal from std::to_chars:
// neither reads nor changes any locale, so "." is always the separator, and
// every platform writes the same bytes.

#include "output/printf_file.h"

#include "output/fixed_format.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <memory>
#include <string>
#include <system_error>

namespace lumerca::output {
namespace {

[[noreturn]] void BadCall(const char* format, const char* why) {
  throw std::logic_error(std::string("CPrintfFile::Printf(\"") + format + "\"): " + why);
}

}  // namespace

void AppendFixed(std::string& out, double value) {
  char text[kFixedMaxChars];
  out.append(text, FormatFixed(text, value));
}

void AppendDecimal(std::string& out, long long value) {
  char text[24];
  const auto [end, error] = std::to_chars(text, text + sizeof(text), value);
  if (error != std::errc()) throw std::logic_error("AppendDecimal: buffer too small");
  out.append(text, end);
}

CPrintfFile::CPrintfFile(platform::TextSink& sink) : sink_(sink) {}

CPrintfFile::~CPrintfFile() = default;

void CPrintfFile::Grow(std::size_t size) {
  const std::size_t used = Used();
  const std::size_t capacity = static_cast<std::size_t>(limit_ - buffer_.get());
  // A chunk and the longest line of numbers fit without growing again.
  const std::size_t wanted = std::max({used + size, 2 * capacity, kChunkSize + 4096});
  std::unique_ptr<char[]> grown(new char[wanted]);  // not zeroed: it is written over
  if (used != 0) std::memcpy(grown.get(), buffer_.get(), used);
  buffer_ = std::move(grown);
  cursor_ = buffer_.get() + used;
  limit_ = buffer_.get() + wanted;
}

// `size` bytes of text, each "\n" as CR LF.
void CPrintfFile::PutText(const char* text, std::size_t size) {
  const char* const end = text + size;
  while (text != end) {
    const void* found = std::memchr(text, '\n', static_cast<std::size_t>(end - text));
    const char* line_end = found != nullptr ? static_cast<const char*>(found) : end;
    const auto length = static_cast<std::size_t>(line_end - text);
    char* out = Room(length + 2);
    std::memcpy(out, text, length);
    out += length;
    if (line_end == end) {
      cursor_ = out;
      break;
    }
    out[0] = '\r';
    out[1] = '\n';
    cursor_ = out + 2;
    text = line_end + 1;
  }
}

void CPrintfFile::VPrintf(const char* format, const PrintfArg* args, std::size_t count) {
  if (closed_) BadCall(format, "the file is closed");
  const std::size_t mark = Used();
  try {
    Format(format, args, count);
  } catch (...) {
    cursor_ = buffer_.get() + mark;  // a call that fails adds nothing
    throw;
  }
  if (Used() >= kChunkSize) Flush();
}

void CPrintfFile::Format(const char* format, const PrintfArg* args, std::size_t count) {
  // Room for the format's own bytes (each "\n" takes two) and the longest
  // number for every argument; a string argument makes room for itself.
  const std::size_t room = 2 * std::strlen(format) + count * kFixedMaxChars;
  char* out = Room(room);
  std::size_t next = 0;
  for (const char* p = format; *p != '\0'; ++p) {
    if (*p != '%') {
      if (*p == '\n') *out++ = '\r';
      *out++ = *p;
      continue;
    }
    const char conversion = *++p;
    if (conversion == '%') {
      *out++ = '%';
      continue;
    }
    if (conversion != 's' && conversion != 'd' && conversion != 'f') {
      BadCall(format, "unsupported conversion");  // also a '%' at the end
    }
    if (next == count) BadCall(format, "too few arguments");
    const PrintfArg& arg = args[next++];
    switch (conversion) {
      case 's':
        if (arg.type != PrintfArg::Type::String || arg.s == nullptr) {
          BadCall(format, "%s needs a string");
        }
        cursor_ = out;
        PutText(arg.s, arg.size == PrintfArg::kUpToNul ? std::strlen(arg.s) : arg.size);
        out = Room(room);
        break;
      case 'd':
        if (arg.type != PrintfArg::Type::Int) BadCall(format, "%d needs an int");
        out = std::to_chars(out, out + kFixedMaxChars, arg.i).ptr;
        break;
      default:
        if (arg.type != PrintfArg::Type::Double) BadCall(format, "%f needs a double");
        out = FormatFixed(out, arg.d);
        break;
    }
  }
  if (next != count) BadCall(format, "too many arguments");
  cursor_ = out;
}

void CPrintfFile::Flush() {
  if (Used() == 0) return;
  sink_.Write(buffer_.get(), Used());
  cursor_ = buffer_.get();
}

void CPrintfFile::Close() {
  if (closed_) return;
  Flush();
  closed_ = true;
  buffer_.reset();
  cursor_ = limit_ = nullptr;
}

}  // namespace lumerca::output
