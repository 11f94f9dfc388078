// FormatFixed: the legacy Windows C runtime's "%f", byte for byte, directly
// and through CPrintfFile; and against the rules done literally on the exact
// decimal expansion (tests/support/fixed_reference.h) over many values.

#include "output/fixed_format.h"
#include "output/printf_file.h"
#include "tests/support/fixed_reference.h"

#include <gtest/gtest.h>

#include <bit>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace lumerca {

using namespace lumerca::output;
using namespace lumerca::platform;
namespace {

using testing::ReferenceFixed;

std::string Fixed(double value) {
  char text[kFixedMaxChars];
  return std::string(text, FormatFixed(text, value));
}

class StringSink : public TextSink {
public:
  void Write(const char* data, std::size_t size) override { bytes.append(data, size); }
  std::string bytes;
};

std::string Printed(double value) {
  StringSink sink;
  CPrintfFile file(sink);
  file.Printf("%f\n", value);
  file.Close();
  return sink.bytes;
}

double FromBits(std::uint64_t bits) { return std::bit_cast<double>(bits); }

struct Case {
  double value;
  std::string text;
};

void ExpectTexts(const std::vector<Case>& cases) {
  for (const Case& c : cases) {
    EXPECT_EQ(Fixed(c.value), c.text) << std::hexfloat << c.value;
    EXPECT_EQ(ReferenceFixed(c.value), c.text) << std::hexfloat << c.value;
  }
}

// The values whose texts the platform's runtime is known to write; what
// std::to_chars and glibc write differs for most of them.
const std::vector<Case>& KnownTexts() {
  static const std::vector<Case> cases = {
      {100.0078125, "100.007813"},
      {-0.0078125, "-0.007813"},
      {0.0234375, "0.023438"},
      {1.0693275, "1.069328"},  // 1.06932749999999998636...: 17 digits 1.0693275000000000
      {0.1071925, "0.107193"},
      {123456789012.12346, "123456789012.123460"},
      {0x1p60, "1152921504606847000.000000"},
      {1e23, "99999999999999992000000.000000"},
      {static_cast<double>(FLT_MAX), "340282346638528860000000000000000000000.000000"},
      {1e300, "10000000000000001" + std::string(284, '0') + ".000000"},
      {-0.0000001, "-0.000000"},
      {-0.0, "-0.000000"},
      {9.5e-7, "0.000001"},
      {std::numeric_limits<double>::infinity(), "1.#INF00"},
      {-std::numeric_limits<double>::infinity(), "-1.#INF00"},
      {FromBits(0xFFF8000000000000ULL), "-1.#IND00"},
      {FromBits(0x7FF8000000000000ULL), "1.#QNAN0"},
      {FromBits(0xFFF8000000000001ULL), "-1.#QNAN0"},
      {FromBits(0x7FF0000000000001ULL), "1.#SNAN0"},
  };
  return cases;
}

TEST(FixedFormatTest, KnownTextsOfThePlatform) {
  ExpectTexts(KnownTexts());
  for (const Case& c : KnownTexts()) {
    EXPECT_EQ(Printed(c.value), c.text + "\r\n") << std::hexfloat << c.value;
  }
  // 0/0 as the machine computes it is the indefinite NaN.
  volatile double zero = 0.0;
  EXPECT_EQ(Fixed(zero / zero), "-1.#IND00");
}

TEST(FixedFormatTest, ExactTiesRoundAwayFromZero) {
  ExpectTexts({
      // At the sixth decimal.
      {0.0078125, "0.007813"},
      {-0.0078125, "-0.007813"},
      {0x1p-7 * 5, "0.039063"},  // 0.0390625
      {123547.2890625, "123547.289063"},
      {-123547.2890625, "-123547.289063"},
      // At the 17th significant digit, half-up (ties to even would keep the
      // 2 of 1125899906842624.25 and of 10000000000.0078125).
      {0x1p50 + 0.25, "1125899906842624.300000"},
      {-(0x1p50 + 0.25), "-1125899906842624.300000"},
      {10000000000.0078125, "10000000000.007813"},
      {1 + 0x1p-17, "1.000008"},  // 1.00000762939453125
      {9 * 0x1p-24, "0.000001"},  // 5.36441802978515625e-7, below 2^-19
      // Exactly 17 digits: nothing to round.
      {2251799813685248.5, "2251799813685248.500000"},
  });
}

TEST(FixedFormatTest, NearTiesFollowTheTwoRoundings) {
  ExpectTexts({
      // The neighbours of the table's double-rounding cases: only the upper
      // ones reach the half at the 7th decimal.
      {std::nextafter(1.0693275, 0.0), "1.069327"},
      {std::nextafter(0.1071925, 0.0), "0.107192"},
      {std::nextafter(0.1071925, 1.0), "0.107193"},
      // 0.99999950000000004 and 999999999.99999952: the second rounding
      // carries into a new digit.
      {0.9999995, "1.000000"},
      {1e9 - 0x1p-21, "1000000000.000000"},
      // 9.9999994999999995 and 99999.999999499996 stay below the half.
      {9.9999995, "9.999999"},
      {99999.9999995, "99999.999999"},
      {std::nextafter(1e10, 0.0), "9999999999.999998"},
      {1.0 / 3, "0.333333"},
      {2.0 / 3 * 1e9, "666666666.666667"},
  });
}

TEST(FixedFormatTest, FloatsWidened) {
  ExpectTexts({
      {static_cast<double>(0.98f), "0.980000"},  // 0.98000001907348633
      {static_cast<double>(16777215.0f), "16777215.000000"},
      {static_cast<double>(1e-7f), "0.000000"},
      {static_cast<double>(-37.5f), "-37.500000"},
      {static_cast<double>(-FLT_MAX), "-340282346638528860000000000000000000000.000000"},
      {static_cast<double>(FLT_MIN), "0.000000"},
  });
}

TEST(FixedFormatTest, HugeValuesKeep17Digits) {
  ExpectTexts({
      {9007199254740991.0, "9007199254740991.000000"},
      {1e16, "10000000000000000.000000"},
      {99999999999999984.0, "99999999999999984.000000"},  // 17 digits: whole
      {1e17, "100000000000000000.000000"},
      {123456789012345678.0, "123456789012345680.000000"},
      {0x1.fffffffffffffp62, "9223372036854774800.000000"},
      {0x1.fffffffffffffp63, "18446744073709550000.000000"},  // 2^64 - 2048
      {0x1p64, "18446744073709552000.000000"},
      {DBL_MAX, "17976931348623157" + std::string(292, '0') + ".000000"},
      {-DBL_MAX, "-17976931348623157" + std::string(292, '0') + ".000000"},
  });
  EXPECT_EQ(Fixed(-DBL_MAX).size(), kFixedMaxChars);
}

TEST(FixedFormatTest, TinyValuesAndZeros) {
  ExpectTexts({
      {0.0, "0.000000"},
      {5e-7, "0.000000"},  // 4.9999999999999998e-7
      {std::nextafter(5e-7, 1.0), "0.000001"},
      {-std::nextafter(5e-7, 1.0), "-0.000001"},
      {4e-7, "0.000000"},
      {1.5e-6, "0.000002"},
      {2.5e-6, "0.000003"},  // 2.5000000000000002e-6
      {DBL_MIN, "0.000000"},
      {std::numeric_limits<double>::denorm_min(), "0.000000"},
      {-std::numeric_limits<double>::denorm_min(), "-0.000000"},
      {FromBits(0x800FFFFFFFFFFFFFULL), "-0.000000"},
  });
}

TEST(FixedFormatTest, NotFiniteValues) {
  ExpectTexts({
      {FromBits(0x7FF0000000000000ULL), "1.#INF00"},
      {FromBits(0x7FF8000000000000ULL), "1.#QNAN0"},  // the indefinite's bits without the sign
      {FromBits(0x7FFFFFFFFFFFFFFFULL), "1.#QNAN0"},
      {FromBits(0xFFFFFFFFFFFFFFFFULL), "-1.#QNAN0"},
      {FromBits(0xFFF0000000000001ULL), "-1.#SNAN0"},
      {FromBits(0x7FF7FFFFFFFFFFFFULL), "1.#SNAN0"},
      {static_cast<double>(std::numeric_limits<float>::quiet_NaN()), "1.#QNAN0"},
  });
}

// Deterministic draws of every kind against the literal rules.
TEST(FixedFormatTest, AgreesWithTheRulesOnDrawnValues) {
  std::mt19937_64 random(20240611);
  std::uniform_real_distribution<double> moderate(-1e7, 1e7);
  std::uniform_real_distribution<float> coordinate(-3000.0f, 3000.0f);
  auto check = [](double value) {
    ASSERT_EQ(Fixed(value), ReferenceFixed(value)) << std::hexfloat << value;
  };
  for (int i = 0; i < 100000; ++i) check(moderate(random));
  for (int i = 0; i < 100000; ++i) {
    const auto a = static_cast<double>(coordinate(random));
    const auto b = static_cast<double>(coordinate(random));
    check(a);
    check(a + (b + a) * 0.5);  // as the writers compute centres
  }
  for (int i = 0; i < 50000; ++i) {
    check(static_cast<double>(std::bit_cast<float>(static_cast<std::uint32_t>(random()))));
  }
  for (int i = 0; i < 20000; ++i) check(FromBits(random()));
  // Every binary exponent from 2^-30 to 2^80, where the cases meet.
  for (int i = 0; i < 50000; ++i) {
    const std::uint64_t m = (random() >> 11) | (std::uint64_t{1} << 52);
    check(std::ldexp(static_cast<double>(m), static_cast<int>(random() % 111) - 30 - 52));
  }
  // Around the halves of millionths.
  for (int i = 0; i < 20000; ++i) {
    const double half = (static_cast<double>(random() >> (24 + random() % 40)) + 0.5) / 1e6;
    check(half);
    check(std::nextafter(half, 0.0));
    check(std::nextafter(half, HUGE_VAL));
  }
}

TEST(FixedFormatTest, WideProductsAgree) {
  std::mt19937_64 random(7);
  const std::uint64_t max = ~std::uint64_t{0};
  const detail::Wide top = detail::MultiplyWidePortable(max, max);
  EXPECT_EQ(top.high, max - 1);
  EXPECT_EQ(top.low, 1u);
  for (int i = 0; i < 10000; ++i) {
    const std::uint64_t a = random() >> (random() % 64), b = random() >> (random() % 64);
    const detail::Wide portable = detail::MultiplyWidePortable(a, b);
    const detail::Wide wide = detail::MultiplyWide(a, b);
    ASSERT_EQ(portable.high, wide.high) << a << " * " << b;
    ASSERT_EQ(portable.low, wide.low) << a << " * " << b;
    ASSERT_EQ(portable.low, a * b);
  }
}

}  // namespace
}  // namespace lumerca
