// "%f" as the legacy Windows C runtime writes it (see fixed_format.h).
//
// A finite value x = m * 2^e (m < 2^53) is first rounded to 17 significant
// digits R1, then R1 to six decimals. With x in [10^(N-1), 10^N), the first
// rounding is at 10^(N-17), the second at 10^-6:
// - below 10^10 (N <= 10) the result in millionths is
//     F = round_half_up(round_half_up(x * 10^6, 10^-j)),  j = 11 - N,
//   which is floor(x * 10^6 + 1/2 + 1/(2 * 10^j)): the first rounding
//   reaches the second one's half exactly when the fraction of x * 10^6 is
//   at least 1/2 - 1/(2 * 10^j). That is one exact comparison in 128 bits;
// - from 10^10 on (N >= 11) the 17 digits reach no further than 10^-6, so the
//   text is those digits followed by zeros.
// Exact ties at the 17th digit (the expansion has exactly 18 significant
// digits, the last a 5: for instance 2^50 + 0.25) are rounded half-up like
// every other value. The runtime decides them in an internal arithmetic of its
// own that no documentation shows; half-up is what it does everywhere else.
// Exact integer arithmetic covers 2^-19 <= x < 2^64 and 0 <= x < 4 * 10^-7,
// where the result is zero; the values between and the larger ones take their
// 17 digits from FormatScientific (std::to_chars, or the C library's exact
// "%e" where the C++ library has no floating-point to_chars: correctly
// rounded, ties to even), with exact ties detected and rounded up.

#include "output/fixed_format.h"

#include "output/float_text.h"
#include "platform/bit_cast.h"

#include <bit>
#include <charconv>
#include <cstring>
#include <system_error>

namespace lumerca::output {
namespace detail {

Wide MultiplyWidePortable(std::uint64_t a, std::uint64_t b) {
  const std::uint64_t a_low = a & 0xFFFFFFFFu, a_high = a >> 32;
  const std::uint64_t b_low = b & 0xFFFFFFFFu, b_high = b >> 32;
  const std::uint64_t low_low = a_low * b_low;
  const std::uint64_t high_low = a_high * b_low;
  const std::uint64_t low_high = a_low * b_high;
  const std::uint64_t high_high = a_high * b_high;
  // The middle column: at most 3 * (2^32 - 1), no overflow.
  const std::uint64_t middle = (low_low >> 32) + (high_low & 0xFFFFFFFFu) + (low_high & 0xFFFFFFFFu);
  return {high_high + (high_low >> 32) + (low_high >> 32) + (middle >> 32),
          (middle << 32) | (low_low & 0xFFFFFFFFu)};
}

Wide MultiplyWide(std::uint64_t a, std::uint64_t b) {
#if defined(__SIZEOF_INT128__)
  __extension__ using Uint128 = unsigned __int128;
  const Uint128 product = static_cast<Uint128>(a) * b;
  return {static_cast<std::uint64_t>(product >> 64), static_cast<std::uint64_t>(product)};
#else
  return MultiplyWidePortable(a, b);
#endif
}

}  // namespace detail

namespace {

using detail::Wide;

constexpr std::uint64_t kPow10[20] = {1ULL,
                                      10ULL,
                                      100ULL,
                                      1000ULL,
                                      10000ULL,
                                      100000ULL,
                                      1000000ULL,
                                      10000000ULL,
                                      100000000ULL,
                                      1000000000ULL,
                                      10000000000ULL,
                                      100000000000ULL,
                                      1000000000000ULL,
                                      10000000000000ULL,
                                      100000000000000ULL,
                                      1000000000000000ULL,
                                      10000000000000000ULL,
                                      100000000000000000ULL,
                                      1000000000000000000ULL,
                                      10000000000000000000ULL};

constexpr std::uint64_t kMillion = 1000000;
constexpr std::uint64_t kSignBit = 0x8000000000000000ULL;
constexpr std::uint64_t kFractionBits = 0x000FFFFFFFFFFFFFULL;
constexpr std::uint64_t kImplicitBit = 0x0010000000000000ULL;
constexpr std::uint64_t kQuietBit = 0x0008000000000000ULL;
constexpr std::uint64_t kIndefinite = 0xFFF8000000000000ULL;
// Below 4 * 10^-7 even the 17-digit rounding stays below 5 * 10^-7: zero.
constexpr std::uint64_t kZeroBelow = platform::bit_cast<std::uint64_t>(4e-7);

constexpr char kPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

// --------------------------------------------------------------- 128 bits

bool Less(Wide a, Wide b) { return a.high < b.high || (a.high == b.high && a.low < b.low); }

Wide Subtract(Wide a, Wide b) {
  return {a.high - b.high - (a.low < b.low ? 1 : 0), a.low - b.low};
}

// 2^k, k < 128.
Wide PowerOfTwo(unsigned k) {
  return k >= 64 ? Wide{std::uint64_t{1} << (k - 64), 0} : Wide{0, std::uint64_t{1} << k};
}

// v >> s, 0 < s < 128.
Wide ShiftRight(Wide v, unsigned s) {
  if (s >= 64) return {0, v.high >> (s - 64)};
  return {v.high >> s, (v.low >> s) | (v.high << (64 - s))};
}

// v mod 2^s, 0 < s < 128.
Wide LowBits(Wide v, unsigned s) {
  if (s >= 64) return {v.high & ((std::uint64_t{1} << (s - 64)) - 1), v.low};
  return {0, v.low & ((std::uint64_t{1} << s) - 1)};
}

// a * b, which must be below 2^128.
Wide Multiply(Wide a, std::uint64_t b) {
  const Wide low = detail::MultiplyWide(a.low, b);
  return {low.high + a.high * b, low.low};
}

// --------------------------------------------------------------- digits

// The number of decimal digits of v > 0.
int DigitCount(std::uint64_t v) {
  const int guess = (static_cast<int>(std::bit_width(v)) * 1233) >> 12;
  return guess + (v >= kPow10[guess] ? 1 : 0);
}

// Writes the `count` lowest decimal digits of v so that they end at `end`.
void WriteDigits(char* end, std::uint64_t v, int count) {
  while (count >= 2) {
    end -= 2;
    std::memcpy(end, kPairs + 2 * (v % 100), 2);
    v /= 100;
    count -= 2;
  }
  if (count == 1) end[-1] = static_cast<char>('0' + v % 10);
}

// The text of `units` millionths.
char* WriteMillionths(char* out, std::uint64_t units) {
  const std::uint64_t whole = units / kMillion;
  const auto decimals = static_cast<std::uint32_t>(units - whole * kMillion);
  if (whole < 10) {
    *out++ = static_cast<char>('0' + whole);
  } else if (whole < 100) {
    std::memcpy(out, kPairs + 2 * whole, 2);
    out += 2;
  } else if (whole < 10000) {
    const auto high = static_cast<std::uint32_t>(whole) / 100;
    const auto low = static_cast<std::uint32_t>(whole) % 100;
    if (high < 10) {
      *out++ = static_cast<char>('0' + high);
    } else {
      std::memcpy(out, kPairs + 2 * high, 2);
      out += 2;
    }
    std::memcpy(out, kPairs + 2 * low, 2);
    out += 2;
  } else {
    const int count = DigitCount(whole);
    WriteDigits(out + count, whole, count);
    out += count;
  }
  out[0] = '.';
  const std::uint32_t high = decimals / 10000, low = decimals % 10000;
  std::memcpy(out + 1, kPairs + 2 * high, 2);
  std::memcpy(out + 3, kPairs + 2 * (low / 100), 2);
  std::memcpy(out + 5, kPairs + 2 * (low % 100), 2);
  return out + 7;
}

// The text of `digits` * 10^zeros millionths, where `digits` >= 10^10.
char* WriteDigitsAndZeros(char* out, std::uint64_t digits, int zeros) {
  char text[20];
  const int count = DigitCount(digits);
  WriteDigits(text + count, digits, count);
  if (zeros >= 6) {
    std::memcpy(out, text, static_cast<std::size_t>(count));
    out += count;
    std::memset(out, '0', static_cast<std::size_t>(zeros - 6));
    out += zeros - 6;
    std::memcpy(out, ".000000", 7);
    return out + 7;
  }
  const int decimals = 6 - zeros;  // taken from `digits`
  std::memcpy(out, text, static_cast<std::size_t>(count - decimals));
  out += count - decimals;
  *out++ = '.';
  std::memcpy(out, text + count - decimals, static_cast<std::size_t>(decimals));
  out += decimals;
  std::memset(out, '0', static_cast<std::size_t>(zeros));
  return out + zeros;
}

char* WriteText(char* out, const char* text) {
  const std::size_t size = std::strlen(text);
  std::memcpy(out, text, size);
  return out + size;
}

// "1#INF", "1#IND", "1#QNAN" and "1#SNAN" are the runtime's digit strings of
// the values that are not finite; six decimals turn them into these.
char* WriteNotFinite(char* out, std::uint64_t bits) {
  if ((bits & kFractionBits) == 0) return WriteText(out, "1.#INF00");
  if (bits == kIndefinite) return WriteText(out, "1.#IND00");
  if ((bits & kQuietBit) != 0) return WriteText(out, "1.#QNAN0");
  return WriteText(out, "1.#SNAN0");
}

// --------------------------------------------------------------- cases

// x = m * 2^e in [2^52, 2^64): an integer. Up to 17 digits it is written
// whole; beyond, rounded half-up to 17 digits followed by zeros.
char* WriteInteger(char* out, std::uint64_t x) {
  const int count = DigitCount(x);
  if (count <= 17) return WriteDigitsAndZeros(out, x, 6);
  const int dropped = count - 17;
  // x < 2^64 - 2^11, so adding half of 10^dropped <= 500 cannot overflow.
  const std::uint64_t digits = (x + kPow10[dropped] / 2) / kPow10[dropped];
  return WriteDigitsAndZeros(out, digits, dropped + 6);
}

// x = m / 2^s in [10^10, 2^53), 0 < s <= 19: the 17 digits, rounded half-up
// at 10^(N-17), followed by N - 11 zeros.
char* WriteLargeFraction(char* out, std::uint64_t m, unsigned s) {
  const std::uint64_t whole = m >> s;
  const std::uint64_t fraction = m & ((std::uint64_t{1} << s) - 1);
  const int count = DigitCount(whole);  // N, 11 to 16
  const std::uint64_t scale = kPow10[17 - count];
  // fraction * scale < 2^19 * 10^6: no overflow.
  const std::uint64_t digits =
      whole * scale + ((fraction * scale + (std::uint64_t{1} << (s - 1))) >> s);
  return WriteDigitsAndZeros(out, digits, count - 11);
}

// x = m / 2^s below 10^10, 19 <= s <= 71: F = floor(y + 1/2 + 1/(2 * 10^j))
// with y = x * 10^6 = I + r / 2^s. F is I + 1 when r >= 2^(s-1), or when the
// gap d = 2^(s-1) - r satisfies d * 10^j <= 2^(s-1); else I.
char* WriteSmall(char* out, std::uint64_t m, unsigned s) {
  const Wide y = detail::MultiplyWide(m, kMillion);  // below 2^73
  const std::uint64_t whole = ShiftRight(y, s).low;  // below 10^16
  const Wide rest = LowBits(y, s);
  const Wide half = PowerOfTwo(s - 1);
  std::uint64_t units = whole;
  if (!Less(rest, half)) {
    ++units;
  } else if (!Less(rest, Subtract(half, ShiftRight(half, 3)))) {
    // Within an eighth of the half: the gap may be small enough (10^j >= 10).
    // j = 11 - N, and whole has N + 6 digits; below 10^-6, N = -6 is the
    // only case that can round up.
    const int j = whole == 0 ? 17 : 17 - DigitCount(whole);
    // gap < 2^70 and 10^j <= 10^17: the product stays below 2^127.
    if (!Less(half, Multiply(Subtract(half, rest), kPow10[j]))) ++units;
  }
  return WriteMillionths(out, units);
}

// Any finite x >= 4 * 10^-7: the 17 digits from FormatScientific.
char* WriteGeneral(char* out, double x, std::uint64_t m, int e) {
  char text[kFloatTextMaxChars];
  const char* const text_end = FormatScientific(text, x, 16);
  // "d.dddddddddddddddde+dd": 17 digits, then the exponent.
  std::uint64_t digits = static_cast<std::uint64_t>(text[0] - '0');
  for (int i = 2; i < 18; ++i) digits = digits * 10 + static_cast<std::uint64_t>(text[i] - '0');
  int exponent = 0;
  std::from_chars(text + 19 + (text[19] == '+' ? 1 : 0), text_end, exponent);
  int count = exponent + 1;  // N

  // m * 2^e with m odd has exactly -e decimals when e < 0, the last a 5: an
  // exact tie at the 17th digit when those decimals end at digit 18. Then
  // FormatScientific rounded to even, and the 18 exact digits are rounded up here.
  const int zeros = std::countr_zero(m);
  const int decimals = -(e + zeros);
  if (decimals >= 1 && decimals == 18 - count) {
    FormatScientific(text, x, 17);
    digits = static_cast<std::uint64_t>(text[0] - '0');
    for (int i = 2; i < 18; ++i) digits = digits * 10 + static_cast<std::uint64_t>(text[i] - '0');
    if (++digits == kPow10[17]) {
      digits = kPow10[16];
      ++count;
    }
  }

  if (count >= 11) return WriteDigitsAndZeros(out, digits, count - 11);
  if (count < -6) return WriteMillionths(out, 0);
  // The first 17 - (11 - N) digits and the next one decide the millionths.
  const int dropped = 11 - count;  // 1 to 17
  return WriteMillionths(out, (digits + kPow10[dropped] / 2) / kPow10[dropped]);
}

}  // namespace

char* FormatFixed(char* out, double value) {
  const auto bits = platform::bit_cast<std::uint64_t>(value);
  if ((bits & kSignBit) != 0) *out++ = '-';
  const std::uint64_t magnitude = bits & ~kSignBit;
  const auto biased = static_cast<int>(magnitude >> 52);
  if (biased == 0x7FF) return WriteNotFinite(out, bits);
  if (magnitude < kZeroBelow) return WriteMillionths(out, 0);  // also zero and denormals

  const std::uint64_t m = (magnitude & kFractionBits) | kImplicitBit;
  const int e = biased - 1075;
  if (e >= 0) {
    if (e <= 11) return WriteInteger(out, m << e);
  } else if (e >= -71) {
    const auto s = static_cast<unsigned>(-e);
    if (s <= 19 && (m >> s) >= kPow10[10]) return WriteLargeFraction(out, m, s);
    return WriteSmall(out, m, s);
  }
  return WriteGeneral(out, platform::bit_cast<double>(magnitude), m, e);
}

}  // namespace lumerca::output
