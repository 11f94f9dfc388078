#pragma once

// The text file through which both output files are written: printf-style
// formatting whose numbers never depend on a locale and are spelt as the
// legacy Windows C runtime spells them, and "\n" stored as CR LF.

#include "platform/text_sink.h"

#include <cstddef>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

namespace lumerca::output {

// One argument of Printf: "%s" takes a C string (up to its NUL) or a string
// (all its bytes), "%d" an int, "%f" a double.
struct PrintfArg {
  static constexpr std::size_t kUpToNul = static_cast<std::size_t>(-1);
  enum class Type { String, Int, Double } type;
  const char* s = nullptr;
  std::size_t size = kUpToNul;
  int i = 0;
  double d = 0;
  PrintfArg(const char* v) : type(Type::String), s(v) {}
  PrintfArg(const std::string& v) : type(Type::String), s(v.data()), size(v.size()) {}
  PrintfArg(std::string_view v) : type(Type::String), s(v.data()), size(v.size()) {}
  PrintfArg(int v) : type(Type::Int), i(v) {}
  PrintfArg(double v) : type(Type::Double), d(v) {}
};

// Formatted bytes are kept in memory and handed to the sink in chunks of
// kChunkSize and at Close. A file destroyed without Close hands nothing more to
// its sink: what it wrote is incomplete, and its caller discards it.
class CPrintfFile {
public:
  static constexpr std::size_t kChunkSize = 64 * 1024;

  explicit CPrintfFile(platform::TextSink& sink);
  ~CPrintfFile();
  CPrintfFile(const CPrintfFile&) = delete;
  CPrintfFile& operator=(const CPrintfFile&) = delete;

  // Formats as the legacy Windows C runtime's printf does in the "C" locale
  // ("%d", "%f" with six decimals, "%s", "%%") and stores every "\n" as CR
  // LF, including those of a "%s" argument. Throws OutputError from the sink,
  // and std::logic_error for any other conversion, an argument of the wrong
  // type or count, or a call after Close: the formats are the writers' own.
  template <class... Args>
  void Printf(const char* format, const Args&... args) {
    const PrintfArg list[] = {PrintfArg(args)..., PrintfArg(0)};
    VPrintf(format, list, sizeof...(Args));
  }

  // Hands every buffered byte to the sink. Throws OutputError.
  void Close();

private:
  void Format(const char* format, const PrintfArg* args, std::size_t count);
  void Flush();
  void VPrintf(const char* format, const PrintfArg* args, std::size_t count);

  // Room for `size` more bytes at cursor_ (the buffer grows when it has less).
  char* Room(std::size_t size) {
    if (static_cast<std::size_t>(limit_ - cursor_) < size) Grow(size);
    return cursor_;
  }
  void Grow(std::size_t size);
  void PutText(const char* text, std::size_t size);
  std::size_t Used() const { return static_cast<std::size_t>(cursor_ - buffer_.get()); }

  platform::TextSink& sink_;
  // The formatted bytes not yet handed over: [buffer_, cursor_); the buffer
  // ends at limit_. Numbers are formatted straight into it.
  std::unique_ptr<char[]> buffer_;
  char* cursor_ = nullptr;
  char* limit_ = nullptr;
  bool closed_ = false;
};

// Appends the text of "%f" for `value` to `out`: six decimals, "." as
// separator, rounded and spelt as the legacy Windows C runtime does
// (FormatFixed in fixed_format.h).
void AppendFixed(std::string& out, double value);

// Appends the text of printf's "%d" for `value` to `out`.
void AppendDecimal(std::string& out, long long value);

}  // namespace lumerca::output
