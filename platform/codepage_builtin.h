#pragma once

// The code pages that a build without ICU at run time (the WebAssembly build)
// has: their table files (codepage_tables.h), written when building from the
// ICU of the machine that builds. The single-byte ones are compiled in; the
// double-byte ones, which are large, are files read when a code page is first
// needed (codepage_wasm.cpp says where).

#include <cstddef>

namespace lumerca::platform {

struct BuiltInCodePage {
  unsigned id;
  const unsigned char* table;  // the table file; null: it is the file cp<id>.bin
  std::size_t size;
};

extern const BuiltInCodePage kBuiltInCodePages[];
extern const std::size_t kBuiltInCodePageCount;

}  // namespace lumerca::platform
