// FormatFixed against the literal rules done on the exact decimal expansion
// (tests/support/fixed_reference.h), over doubles drawn from the input.
//
// The input is read in records of 9 bytes: a kind, then 8 bytes of payload
// (little-endian; a short last record is padded with zeros). Each kind makes
// one or more doubles:
//   0 the payload's bits               5 huge: 2^60 and beyond
//   1 a float widened                  6 tiny: 10^-8 to 10^-5, and denormals
//   2 an exact tie at the 17th digit   7 the writers' float arithmetic
//   3 near a tie at the 6th decimal    8 infinities, NaNs, zeros, limits
//   4 a digit string with a run of 9s after the 7th decimal (both roundings
//     meet)
// Every double is checked with both signs, and kinds 2 to 4 also with their
// neighbours a few units in the last place away.
//
// Invariants: FormatFixed and AppendFixed write exactly the reference's text,
// and never more than kFixedMaxChars bytes.

#include "fuzz/fuzz_target.h"
#include "output/fixed_format.h"
#include "output/printf_file.h"
#include "tests/support/fixed_reference.h"

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

using namespace lumerca::output;
using namespace lumerca::platform;

namespace {

class Payload {
public:
  explicit Payload(std::uint64_t bits) : bits_(bits) {}
  // The next `count` bits (count < 64).
  std::uint64_t Take(int count) {
    const std::uint64_t value = bits_ & ((std::uint64_t{1} << count) - 1);
    bits_ >>= count;
    return value;
  }
  std::uint64_t Rest() const { return bits_; }

private:
  std::uint64_t bits_;
};

void CheckOne(double value) {
  char text[lumerca::output::kFixedMaxChars + 16];
  std::memset(text, 0x7F, sizeof text);
  const char* end = lumerca::output::FormatFixed(text, value);
  const auto size = static_cast<std::size_t>(end - text);
  FUZZ_CHECK(size <= lumerca::output::kFixedMaxChars, "%a: %zu bytes", value, size);
  FUZZ_CHECK(static_cast<unsigned char>(text[lumerca::output::kFixedMaxChars]) == 0x7F,
             "%a: wrote past the room it was given", value);
  const std::string got(text, size);
  const std::string want = lumerca::testing::ReferenceFixed(value);
  FUZZ_CHECK(got == want, "bits %016llx (%a): \"%s\", the rules give \"%s\"",
             static_cast<unsigned long long>(std::bit_cast<std::uint64_t>(value)), value,
             got.c_str(), want.c_str());
  std::string appended = "x";
  lumerca::output::AppendFixed(appended, value);
  FUZZ_CHECK(appended == "x" + want, "%a: AppendFixed gives \"%s\"", value, appended.c_str());
}

void Check(double value) {
  CheckOne(value);
  CheckOne(std::bit_cast<double>(std::bit_cast<std::uint64_t>(value) ^ 0x8000000000000000ULL));
}

// The value and its neighbours up to three units in the last place away.
void CheckAround(double value) {
  if (!std::isfinite(value)) return Check(value);
  double below = value, above = value;
  Check(value);
  for (int k = 0; k < 3; ++k) {
    below = std::nextafter(below, -HUGE_VAL);
    above = std::nextafter(above, HUGE_VAL);
    Check(below);
    Check(above);
  }
}

// m / 2^s with m odd and exactly 18 significant digits, the last a 5: N
// integer digits and s = 18 - N binary places. The bounds come from floating
// point, so an occasional draw lands one digit off: still a value near a tie.
void Tie(Payload& p) {
  const int digits = static_cast<int>(p.Take(5)) - 12;  // N, -12 to 19
  const int places = 18 - digits;
  if (places < 1) return;
  const double low = std::ldexp(std::pow(10.0, digits - 1), places);
  const double high = std::fmin(std::ldexp(std::pow(10.0, digits), places), 0x1p53);
  if (!(std::ceil(low) < high)) return;
  const auto first = static_cast<std::uint64_t>(std::ceil(low));
  const auto span = static_cast<std::uint64_t>(high) - first;
  const std::uint64_t m = (first + p.Rest() % span) | 1;
  CheckAround(std::ldexp(static_cast<double>(m), -places));
}

// (k + 1/2) / 10^6 for k of up to 2^40.
void HalfMillionth(Payload& p) {
  const int bits = static_cast<int>(p.Take(6)) % 41;
  const std::uint64_t k = p.Rest() & ((std::uint64_t{1} << bits) - 1);
  CheckAround((static_cast<double>(k) + 0.5) / 1e6);
}

// "<whole>.<six decimals><d><nines><last>": when d is 4 the first rounding
// can carry into the 7th decimal; when d is 9 the second one carries far.
void Nines(Payload& p) {
  std::string text = std::to_string(p.Take(34) % 10000000000ULL);  // up to 10 digits
  text += '.';
  const std::uint64_t decimals = p.Take(20) % 1000000;
  const std::string six = std::to_string(decimals);
  text += std::string(6 - six.size(), '0') + six;
  text += p.Take(1) != 0 ? '4' : '9';
  text += std::string(static_cast<std::size_t>(p.Take(4)), '9');
  text += static_cast<char>('0' + p.Take(3));
  CheckAround(std::strtod(text.c_str(), nullptr));
}

void Huge(Payload& p) {
  const int exponent = 60 + static_cast<int>(p.Take(10) % 964);  // up to 2^1023
  const std::uint64_t m = p.Rest() | (std::uint64_t{1} << 52);
  Check(std::ldexp(static_cast<double>(m & ((std::uint64_t{1} << 53) - 1)), exponent - 52));
}

void Tiny(Payload& p) {
  if (p.Take(1) != 0) {
    Check(std::bit_cast<double>(p.Rest() & ((std::uint64_t{1} << 52) - 1)));  // a denormal
    return;
  }
  // 2^-27 to 2^-16: 7.5 * 10^-9 to 1.5 * 10^-5.
  const int exponent = -27 + static_cast<int>(p.Take(4) % 12);
  const std::uint64_t m = p.Rest() & ((std::uint64_t{1} << 52) - 1);
  CheckAround(std::ldexp(static_cast<double>(m | (std::uint64_t{1} << 52)), exponent - 52));
}

float Float(Payload& p) {
  return std::bit_cast<float>(static_cast<std::uint32_t>(p.Take(32)));
}

// The doubles that the writers print: centres and extents from floats, the
// width in inches, the scale factors as percentages.
void WriterArithmetic(Payload& p) {
  const auto a = static_cast<double>(Float(p));
  const auto b = static_cast<double>(Float(p));
  Check(a + (b + a) * 0.5);
  Check(b - a);
  Check(a / 10.0 / 2.54);
  Check((1.0 / b - 1.0) * 100.0);
}

void Special(Payload& p) {
  const std::uint64_t fraction = p.Take(52);
  const std::uint64_t infinity = 0x7FF0000000000000ULL;
  Check(std::bit_cast<double>(infinity));
  Check(std::bit_cast<double>(infinity | fraction));
  Check(std::bit_cast<double>(infinity | 0x0008000000000000ULL | fraction));
  Check(std::bit_cast<double>(0xFFF8000000000000ULL));
  Check(std::bit_cast<double>(infinity | (fraction & 0x0007FFFFFFFFFFFFULL) | 1));  // signalling
  Check(0.0);
  Check(std::bit_cast<double>(std::uint64_t{1}));
  Check(std::bit_cast<double>(0x000FFFFFFFFFFFFFULL));
  Check(std::bit_cast<double>(0x0010000000000000ULL));
  Check(std::bit_cast<double>(0x7FEFFFFFFFFFFFFFULL));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  for (std::size_t at = 0; at < size; at += 9) {
    std::uint8_t record[9] = {};
    std::memcpy(record, data + at, size - at < 9 ? size - at : 9);
    std::uint64_t bits = 0;
    for (int k = 8; k >= 1; --k) bits = (bits << 8) | record[k];
    Payload p(bits);
    switch (record[0] % 9) {
      case 0: Check(std::bit_cast<double>(bits)); break;
      case 1: Check(static_cast<double>(Float(p))); break;
      case 2: Tie(p); break;
      case 3: HalfMillionth(p); break;
      case 4: Nines(p); break;
      case 5: Huge(p); break;
      case 6: Tiny(p); break;
      case 7: WriterArithmetic(p); break;
      default: Special(p); break;
    }
  }
  return 0;
}
