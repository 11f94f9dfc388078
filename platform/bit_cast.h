#pragma once

// std::bit_cast where the C++ library has it, and the compiler's built-in
// where it does not (the WebAssembly build's library has no std::bit_cast).

#include <bit>
#include <type_traits>

namespace lumerca::platform {

#if defined(__cpp_lib_bit_cast)
using std::bit_cast;
#else
template <class To, class From>
constexpr To bit_cast(const From& from) noexcept {
  static_assert(sizeof(To) == sizeof(From) && std::is_trivially_copyable_v<To> &&
                std::is_trivially_copyable_v<From>);
  return __builtin_bit_cast(To, from);
}
#endif

}  // namespace lumerca::platform
