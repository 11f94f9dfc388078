#pragma once

// The text file through which both output files are written: printf-style
// formatting whose numbers never depend on a locale, and "\n" stored as CR LF.

#include <cstddef>
#include <stdexcept>
#include <string>
#include <string_view>

namespace lumerca {

// Where the formatted bytes go. Write throws OutputError when the bytes cannot
// be stored.
class TextSink {
public:
  virtual ~TextSink() = default;
  virtual void Write(const char* data, std::size_t size) = 0;
};

class OutputError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// One argument of Printf: "%s" takes a C string, "%d" an int, "%f" a double.
struct PrintfArg {
  enum class Type { String, Int, Double } type;
  const char* s = nullptr;
  int i = 0;
  double d = 0;
  PrintfArg(const char* v) : type(Type::String), s(v) {}
  PrintfArg(const std::string& v) : type(Type::String), s(v.c_str()) {}
  PrintfArg(int v) : type(Type::Int), i(v) {}
  PrintfArg(double v) : type(Type::Double), d(v) {}
};

class CPrintfFile {
public:
  explicit CPrintfFile(TextSink& sink);
  ~CPrintfFile();
  CPrintfFile(const CPrintfFile&) = delete;
  CPrintfFile& operator=(const CPrintfFile&) = delete;

  // Formats as printf does in the "C" locale ("%d", "%f" with six decimals,
  // "%s", "%%") and stores every "\n" as CR LF. Throws OutputError.
  template <class... Args>
  void Printf(const char* format, const Args&... args) {
    const PrintfArg list[] = {PrintfArg(args)..., PrintfArg(0)};
    VPrintf(format, list, sizeof...(Args));
  }

  // Hands every buffered byte to the sink. Throws OutputError.
  void Close();

private:
  void VPrintf(const char* format, const PrintfArg* args, std::size_t count);

  TextSink& sink_;
  std::string buffer_;
  bool closed_ = false;
};

// Appends the text of printf's "%f" (six decimals, "." as separator, "inf",
// "-inf", "nan", "-nan") for `value` to `out`.
void AppendFixed(std::string& out, double value);

}  // namespace lumerca
