#include "output/float_text.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace lumerca::output {
namespace detail {
namespace {

char* Copy(char* out, const char* text) {
  const std::size_t size = std::strlen(text);
  std::memcpy(out, text, size);
  return out + size;
}

// The significant digits and the decimal exponent of printf's "%.*e" text of a
// finite `value` (the radix character, whatever the locale makes it, skipped).
struct Digits {
  char digits[48];
  int count = 0;
  int exponent = 0;
};

Digits Scientific(double value, int precision) {
  char text[96];
  std::snprintf(text, sizeof text, "%.*e", precision, std::fabs(value));
  Digits d;
  const char* c = text;
  for (; *c != 'e' && *c != '\0'; ++c) {
    if (*c >= '0' && *c <= '9') d.digits[d.count++] = *c;
  }
  if (*c == 'e') d.exponent = std::atoi(c + 1);
  return d;
}

char* WriteExponent(char* out, int exponent) {
  *out++ = 'e';
  *out++ = exponent < 0 ? '-' : '+';
  const int magnitude = exponent < 0 ? -exponent : exponent;
  if (magnitude >= 100) *out++ = static_cast<char>('0' + magnitude / 100);
  *out++ = static_cast<char>('0' + magnitude / 10 % 10);
  *out++ = static_cast<char>('0' + magnitude % 10);
  return out;
}

// The float that `count` digits and `exponent` (d.ddd * 10^exponent) read as.
// The text has no radix character, so that no locale can change its meaning.
float ReadBack(const char* digits, int count, int exponent) {
  char text[32];
  std::memcpy(text, digits, static_cast<std::size_t>(count));
  std::snprintf(text + count, sizeof text - static_cast<std::size_t>(count), "e%d", exponent - (count - 1));
  return std::strtof(text, nullptr);
}

// Adds `step` (+1 or -1) to the last of `count` digits; false when the digits
// would change their number (999 + 1, 100 - 1).
bool Step(char* digits, int count, int step) {
  for (int i = count - 1; i >= 0; --i) {
    if (step > 0 && digits[i] != '9') {
      ++digits[i];
      return true;
    }
    if (step < 0 && digits[i] != '0') {
      --digits[i];
      return !(i == 0 && digits[0] == '0');
    }
    digits[i] = step > 0 ? '0' : '9';
  }
  return false;
}

}  // namespace

char* FormatScientificPortable(char* out, double value, int precision) {
  if (std::isnan(value)) return Copy(out, std::signbit(value) ? "-nan" : "nan");
  if (std::signbit(value)) *out++ = '-';
  if (std::isinf(value)) return Copy(out, "inf");
  const Digits d = Scientific(value, precision);
  *out++ = d.digits[0];
  if (d.count > 1) {
    *out++ = '.';
    std::memcpy(out, d.digits + 1, static_cast<std::size_t>(d.count - 1));
    out += d.count - 1;
  }
  return WriteExponent(out, d.exponent);
}

char* FormatShortestPortable(char* out, float value) {
  if (std::isnan(value)) return Copy(out, std::signbit(value) ? "-nan" : "nan");
  if (std::signbit(value)) *out++ = '-';
  if (std::isinf(value)) return Copy(out, "inf");
  const float magnitude = std::fabs(value);
  if (magnitude == 0) return Copy(out, "0");

  // The fewest digits that read back as the value: for each number of digits
  // the correctly rounded ones, or, where the value's interval is lopsided
  // (at a power of two), their neighbour on the value's side. Nine always do.
  Digits d;
  for (int count = 1; count <= 9; ++count) {
    d = Scientific(magnitude, count - 1);
    const float back = ReadBack(d.digits, d.count, d.exponent);
    if (back == magnitude) break;
    Digits next = d;
    if (Step(next.digits, next.count, back < magnitude ? 1 : -1) &&
        ReadBack(next.digits, next.count, next.exponent) == magnitude) {
      d = next;
      break;
    }
  }
  while (d.count > 1 && d.digits[d.count - 1] == '0') --d.count;

  // The scientific text and the fixed one; the shorter one, fixed on a tie.
  char scientific[32];
  char* end = scientific;
  *end++ = d.digits[0];
  if (d.count > 1) {
    *end++ = '.';
    std::memcpy(end, d.digits + 1, static_cast<std::size_t>(d.count - 1));
    end += d.count - 1;
  }
  end = WriteExponent(end, d.exponent);
  const auto scientific_size = static_cast<std::size_t>(end - scientific);

  char fixed[64];
  std::size_t fixed_size = 0;
  if (d.exponent >= d.count - 1) {
    // An integer: its exact digits (beyond 2^24 they are not the shortest's).
    fixed_size = static_cast<std::size_t>(std::snprintf(fixed, sizeof fixed, "%.0f", static_cast<double>(magnitude)));
  } else if (d.exponent >= 0) {
    const auto whole = static_cast<std::size_t>(d.exponent + 1);
    std::memcpy(fixed, d.digits, whole);
    fixed[whole] = '.';
    std::memcpy(fixed + whole + 1, d.digits + whole, static_cast<std::size_t>(d.count) - whole);
    fixed_size = static_cast<std::size_t>(d.count) + 1;
  } else {
    const auto zeros = static_cast<std::size_t>(-d.exponent - 1);
    std::memcpy(fixed, "0.", 2);
    std::memset(fixed + 2, '0', zeros);
    std::memcpy(fixed + 2 + zeros, d.digits, static_cast<std::size_t>(d.count));
    fixed_size = 2 + zeros + static_cast<std::size_t>(d.count);
  }
  if (fixed_size <= scientific_size) {
    std::memcpy(out, fixed, fixed_size);
    return out + fixed_size;
  }
  std::memcpy(out, scientific, scientific_size);
  return out + scientific_size;
}

}  // namespace detail

#if LUMERCA_FLOAT_TO_CHARS

char* FormatScientific(char* out, double value, int precision) {
  return std::to_chars(out, out + kFloatTextMaxChars, value, std::chars_format::scientific, precision).ptr;
}

char* FormatShortest(char* out, float value) {
  return std::to_chars(out, out + kFloatTextMaxChars, value).ptr;
}

#else

char* FormatScientific(char* out, double value, int precision) {
  return detail::FormatScientificPortable(out, value, precision);
}

char* FormatShortest(char* out, float value) {
  return detail::FormatShortestPortable(out, value);
}

#endif

}  // namespace lumerca::output
