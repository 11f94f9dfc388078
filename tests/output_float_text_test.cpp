// The decimal texts of output/float_text.h: the C library's path, which the
// WebAssembly build takes, gives the bytes of std::to_chars, which the native
// build takes, on the values where the two could part (powers of two, whose
// neighbours lie unevenly; integers beyond 2^24; denormals; ties), and on
// many drawn at random from every exponent.

#include "output/float_text.h"

#include <gtest/gtest.h>

#include <bit>
#include <charconv>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace lumerca::output {
namespace {

std::string Shortest(float value) {
  char text[kFloatTextMaxChars];
  return std::string(text, detail::FormatShortestPortable(text, value));
}

std::string ShortestToChars(float value) {
  char text[kFloatTextMaxChars];
  return std::string(text, std::to_chars(text, text + sizeof text, value).ptr);
}

std::string Scientific(double value, int precision) {
  char text[kFloatTextMaxChars];
  return std::string(text, detail::FormatScientificPortable(text, value, precision));
}

std::string ScientificToChars(double value, int precision) {
  char text[kFloatTextMaxChars];
  return std::string(text, std::to_chars(text, text + sizeof text, value, std::chars_format::scientific,
                                         precision).ptr);
}

void ExpectShortest(float value) {
  ASSERT_EQ(Shortest(value), ShortestToChars(value)) << std::hexfloat << value;
}

void ExpectScientific(double value) {
  for (const int precision : {16, 17}) {
    ASSERT_EQ(Scientific(value, precision), ScientificToChars(value, precision))
        << std::hexfloat << value << " precision " << precision;
  }
}

TEST(FloatTextTest, ShortestOfChosenValues) {
  const std::vector<std::pair<float, const char*>> cases = {
      {0.0f, "0"}, {-0.0f, "-0"}, {1.0f, "1"}, {-0.5f, "-0.5"}, {10000.0f, "10000"},
      {100000.0f, "1e+05"}, {1e-4f, "1e-04"}, {0.001f, "0.001"}, {16777216.0f, "16777216"},
      {123456782336.0f, "123456782336"}, {1e10f, "1e+10"}, {3.4028235e38f, "3.4028235e+38"},
      {1e-45f, "1e-45"}, {0.1f, "0.1"}, {-12.375f, "-12.375"},
      {std::numeric_limits<float>::infinity(), "inf"}, {-std::numeric_limits<float>::infinity(), "-inf"},
  };
  for (const auto& [value, text] : cases) {
    EXPECT_EQ(Shortest(value), text) << std::hexfloat << value;
    ExpectShortest(value);
  }
  EXPECT_EQ(Shortest(std::numeric_limits<float>::quiet_NaN()),
            ShortestToChars(std::numeric_limits<float>::quiet_NaN()));
  EXPECT_EQ(Shortest(-std::numeric_limits<float>::quiet_NaN()),
            ShortestToChars(-std::numeric_limits<float>::quiet_NaN()));
}

// At a power of two the float below is half as far as the one above: the
// shortest digits may lie above the value where the nearest ones do not read
// back. Every power of two and the floats around it.
TEST(FloatTextTest, ShortestAroundPowersOfTwo) {
  for (int e = -149; e <= 127; ++e) {
    const float power = std::ldexp(1.0f, e);
    for (const float value : {power, std::nextafter(power, 0.0f), std::nextafter(power, INFINITY)}) {
      if (std::isinf(value)) continue;
      ExpectShortest(value);
      ExpectShortest(-value);
    }
  }
}

TEST(FloatTextTest, ShortestOfIntegersAndDenormals) {
  for (std::uint32_t n = 16777200; n < 16777300; ++n) ExpectShortest(static_cast<float>(n));
  for (double v = 1e9; v < 1e38; v *= 3.7) ExpectShortest(static_cast<float>(v));
  for (std::uint32_t bits = 1; bits < 5000; bits += 7) ExpectShortest(std::bit_cast<float>(bits));
  ExpectShortest(FLT_MIN);
  ExpectShortest(FLT_MAX);
}

TEST(FloatTextTest, ShortestOfRandomFloats) {
  std::mt19937 random(21);
  for (int i = 0; i < 200000; ++i) {
    const float value = std::bit_cast<float>(static_cast<std::uint32_t>(random()));
    if (std::isnan(value)) continue;
    ExpectShortest(value);
  }
  // Coordinates as markers hold them.
  std::uniform_real_distribution<float> coordinate(-3000.0f, 3000.0f);
  for (int i = 0; i < 100000; ++i) ExpectShortest(coordinate(random));
}

// The 17 digits that FormatFixed takes for the values beyond its integer
// arithmetic, ties included (they decide the last digit to even).
TEST(FloatTextTest, ScientificOfChosenValues) {
  EXPECT_EQ(Scientific(0.1, 16), "1.0000000000000001e-01");
  EXPECT_EQ(Scientific(-2.5e-300, 3), "-2.500e-300");
  EXPECT_EQ(Scientific(1e100, 0), "1e+100");
  for (const double value : {0.0, -0.0, 1.0, 0x1p50 + 0.25, 0x1p-20 * 3, 1e22, 0x1p64, 0x1p64 + 0x1p12,
                             DBL_MAX, DBL_MIN, DBL_TRUE_MIN, 4e-7, 1.0 / 3, 2.0 / 3e-250}) {
    ExpectScientific(value);
    ExpectScientific(-value);
  }
  EXPECT_EQ(Scientific(std::numeric_limits<double>::infinity(), 16), "inf");
  EXPECT_EQ(Scientific(-std::numeric_limits<double>::infinity(), 16), "-inf");
}

TEST(FloatTextTest, ScientificOfRandomDoubles) {
  std::mt19937_64 random(21);
  for (int i = 0; i < 100000; ++i) {
    const double value = std::bit_cast<double>(random());
    if (std::isnan(value)) continue;
    ExpectScientific(value);
  }
  // Exact ties at the 17th digit: 18 significant digits ending in 5.
  for (std::uint64_t m = 1; m < 2000; ++m) {
    ExpectScientific(static_cast<double>((std::uint64_t{1} << 52) + m) / 4.0);
    ExpectScientific(std::ldexp(static_cast<double>((std::uint64_t{1} << 52) + 2 * m + 1), 20));
  }
}

}  // namespace
}  // namespace lumerca::output
