#include "bench/numbers.h"

#include "bench/generator.h"
#include "output/fixed_format.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace lumerca::bench {

using namespace lumerca::output;
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kValues = 1 << 20;

struct ValueSet {
  const char* name;
  const char* what;
  std::vector<double> values;
};

std::vector<ValueSet> ValueSets(std::uint64_t seed) {
  Random random(seed);
  std::vector<ValueSet> sets;
  auto add = [&](const char* name, const char* what, const std::function<double()>& draw) {
    ValueSet set{name, what, {}};
    set.values.reserve(kValues);
    for (std::size_t i = 0; i < kValues; ++i) set.values.push_back(draw());
    sets.push_back(std::move(set));
  };
  // As the generator draws a piece's box and its cut lines, and as the
  // position writer combines them.
  add("coordinates", "floats in [-160, 2200) widened",
      [&] { return static_cast<double>(random.Uniform(-160.0f, 2200.0f)); });
  add("centres", "place + (min + max) * 0.5 of floats, in double", [&] {
    const auto place = static_cast<double>(random.Uniform(0.0f, 2000.0f));
    const auto low = static_cast<double>(-random.Uniform(20.0f, 160.0f));
    const auto high = static_cast<double>(random.Uniform(20.0f, 160.0f));
    return place + (low + high) * 0.5;
  });
  add("doubles", "53-bit doubles in [-10^4, 10^4)", [&] {
    return (static_cast<double>(random.Next() >> 11) * 0x1p-53 - 0.5) * 2e4;
  });
  add("wide", "53-bit doubles from 2^-30 to 2^80", [&] {
    const double m = static_cast<double>((random.Next() >> 11) | (std::uint64_t{1} << 52));
    return std::ldexp(m, static_cast<int>(random.Below(111)) - 30 - 52);
  });
  return sets;
}

// Seconds for the fastest of three passes; `bytes` receives the text's length.
double Time(const std::vector<double>& values, char* (*format)(char*, double), std::size_t& bytes) {
  double best = 1e300;
  for (int run = 0; run < 3; ++run) {
    char text[kFixedMaxChars + 8];
    std::size_t total = 0;
    const auto start = Clock::now();
    for (const double value : values) total += static_cast<std::size_t>(format(text, value) - text);
    best = std::min(best, std::chrono::duration<double>(Clock::now() - start).count());
    bytes = total;
  }
  return best;
}

char* ToChars(char* out, double value) {
  return std::to_chars(out, out + kFixedMaxChars + 8, value, std::chars_format::fixed, 6).ptr;
}

}  // namespace

void RunNumberFormatting(std::uint64_t seed) {
  std::printf("== Number formatting: %zu values per set, fastest of 3 passes, millions per second\n"
              "   to_chars = std::to_chars fixed with six decimals (the former text);\n"
              "   fixed = FormatFixed, the Windows runtime's \"%%f\"\n\n",
              kValues);
  std::printf("%-12s %10s %10s %6s | %9s  %s\n", "values", "to_chars", "fixed", "ratio",
              "bytes/num", "drawn as");
  for (const ValueSet& set : ValueSets(seed)) {
    std::size_t old_bytes = 0, new_bytes = 0;
    const double old_s = Time(set.values, ToChars, old_bytes);
    const double new_s = Time(set.values, FormatFixed, new_bytes);
    const auto n = static_cast<double>(set.values.size());
    std::printf("%-12s %10.1f %10.1f %6.2f | %9.2f  %s\n", set.name, n / old_s / 1e6,
                n / new_s / 1e6, old_s / new_s, static_cast<double>(new_bytes) / n, set.what);
  }
  std::printf("\n");
}

}  // namespace lumerca::bench
