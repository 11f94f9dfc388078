// printf-style formatting for the output files. "%f" is the legacy Windows C
// runtime's text (fixed_format.h) and "%d" plain decimal from std::to_chars:
// neither reads nor changes any locale, so "." is always the separator, and
// every platform writes the same bytes.

#include "output/printf_file.h"

#include "output/fixed_format.h"

#include <charconv>
#include <cstring>
#include <string>
#include <system_error>

namespace lumerca {
namespace {

[[noreturn]] void BadCall(const char* format, const char* why) {
  throw std::logic_error(std::string("CPrintfFile::Printf(\"") + format + "\"): " + why);
}

// Appends `size` bytes of text, each "\n" as CR LF.
void AppendText(std::string& out, const char* text, std::size_t size) {
  const char* const end = text + size;
  while (text != end) {
    const void* found = std::memchr(text, '\n', static_cast<std::size_t>(end - text));
    const char* line_end = found != nullptr ? static_cast<const char*>(found) : end;
    out.append(text, static_cast<std::size_t>(line_end - text));
    if (line_end == end) break;
    out += "\r\n";
    text = line_end + 1;
  }
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

CPrintfFile::CPrintfFile(TextSink& sink) : sink_(sink) {}

CPrintfFile::~CPrintfFile() = default;

void CPrintfFile::VPrintf(const char* format, const PrintfArg* args, std::size_t count) {
  if (closed_) BadCall(format, "the file is closed");
  const std::size_t mark = buffer_.size();
  try {
    Format(format, args, count);
  } catch (...) {
    buffer_.resize(mark);  // a call that fails adds nothing
    throw;
  }
  if (buffer_.size() >= kChunkSize) Flush();
}

void CPrintfFile::Format(const char* format, const PrintfArg* args, std::size_t count) {
  std::size_t next = 0;
  const char* literal = format;
  const char* p = format;
  while (*p != '\0') {
    if (*p != '%') {
      ++p;
      continue;
    }
    AppendText(buffer_, literal, static_cast<std::size_t>(p - literal));
    const char conversion = p[1];
    if (conversion == '%') {
      buffer_ += '%';
    } else {
      if (conversion != 's' && conversion != 'd' && conversion != 'f') {
        BadCall(format, "unsupported conversion");
      }
      if (next == count) BadCall(format, "too few arguments");
      const PrintfArg& arg = args[next++];
      switch (conversion) {
        case 's':
          if (arg.type != PrintfArg::Type::String || arg.s == nullptr) {
            BadCall(format, "%s needs a string");
          }
          AppendText(buffer_, arg.s, arg.size == PrintfArg::kUpToNul ? std::strlen(arg.s) : arg.size);
          break;
        case 'd':
          if (arg.type != PrintfArg::Type::Int) BadCall(format, "%d needs an int");
          AppendDecimal(buffer_, arg.i);
          break;
        default:
          if (arg.type != PrintfArg::Type::Double) BadCall(format, "%f needs a double");
          AppendFixed(buffer_, arg.d);
          break;
      }
    }
    p += 2;
    literal = p;
  }
  AppendText(buffer_, literal, static_cast<std::size_t>(p - literal));
  if (next != count) BadCall(format, "too many arguments");
}

void CPrintfFile::Flush() {
  if (buffer_.empty()) return;
  sink_.Write(buffer_.data(), buffer_.size());
  buffer_.clear();
}

void CPrintfFile::Close() {
  if (closed_) return;
  Flush();
  closed_ = true;
  buffer_.shrink_to_fit();
}

}  // namespace lumerca
