#pragma once

// What every fuzz target shares: the libFuzzer entry point (also called by the
// replay main) and a check that stops the process when an invariant breaks, so
// that libFuzzer and the replay tests both see it as a crash.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

#define FUZZ_CHECK(condition, ...)                                                  \
  do {                                                                              \
    if (!(condition)) {                                                             \
      std::fprintf(stderr, "%s:%d: check failed: %s: ", __FILE__, __LINE__, #condition); \
      std::fprintf(stderr, __VA_ARGS__);                                            \
      std::fputc('\n', stderr);                                                     \
      std::abort();                                                                 \
    }                                                                               \
  } while (false)
