#pragma once

// Where formatted text goes, and the error of storing it: the output folder's
// files are sinks, and the formatted text file (output/printf_file.h) writes
// into one.

#include <cstddef>
#include <stdexcept>

namespace lumerca::platform {

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

}  // namespace lumerca::platform
