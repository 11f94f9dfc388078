#include "tests/support/fixed_reference.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace lumerca::testing {
namespace {

// A natural number as base-10^9 limbs, least significant first.
using Limbs = std::vector<std::uint64_t>;
constexpr std::uint64_t kBase = 1000000000;

// n *= factor, factor < 2^32 (limb * factor + carry stays below 2^62).
void MultiplyBy(Limbs& n, std::uint64_t factor) {
  std::uint64_t carry = 0;
  for (std::uint64_t& limb : n) {
    const std::uint64_t product = limb * factor + carry;
    limb = product % kBase;
    carry = product / kBase;
  }
  while (carry != 0) {
    n.push_back(carry % kBase);
    carry /= kBase;
  }
}

std::uint64_t Power(std::uint64_t base, int exponent) {
  std::uint64_t result = 1;
  for (int k = 0; k < exponent; ++k) result *= base;
  return result;
}

// The decimal digits of n, most significant first, without leading zeros
// ("0" for zero).
std::string Decimal(const Limbs& n) {
  std::string text;
  for (auto it = n.rbegin(); it != n.rend(); ++it) {
    std::string limb = std::to_string(*it);
    if (!text.empty()) limb.insert(0, 9 - limb.size(), '0');
    text += limb;
  }
  const std::size_t first = text.find_first_not_of('0');
  return first == std::string::npos ? "0" : text.substr(first);
}

// Adds one to the digit at `index` of `digits`, carrying to the left. The
// caller keeps a '0' in front, so that the carry always ends inside.
void Increment(std::string& digits, std::size_t index) {
  for (;;) {
    if (digits[index] != '9') {
      ++digits[index];
      return;
    }
    digits[index] = '0';
    --index;
  }
}

}  // namespace

std::string ReferenceFixed(double value) {
  std::uint64_t bits = 0;
  std::memcpy(&bits, &value, sizeof bits);
  std::string text = (bits >> 63) != 0 ? "-" : "";
  const unsigned biased = static_cast<unsigned>(bits >> 52) & 0x7FF;
  const std::uint64_t fraction = bits & ((std::uint64_t{1} << 52) - 1);

  if (biased == 0x7FF) {
    if (fraction == 0) return text + "1.#INF00";
    if (bits == 0xFFF8000000000000ULL) return text + "1.#IND00";
    if ((fraction >> 51) != 0) return text + "1.#QNAN0";
    return text + "1.#SNAN0";
  }
  if (biased == 0) return text + "0.000000";

  // value = m * 2^e exactly.
  const std::uint64_t m = fraction | (std::uint64_t{1} << 52);
  const int e = static_cast<int>(biased) - 1075;

  // All its digits, and how many of them stand before the point: m * 2^e as
  // an integer, or m * 5^-e with -e digits after the point.
  Limbs n = {m % kBase, m / kBase};
  for (int k = e; k > 0; k -= 31) MultiplyBy(n, std::uint64_t{1} << (k < 31 ? k : 31));
  for (int k = -e; k > 0; k -= 13) MultiplyBy(n, Power(5, k < 13 ? k : 13));
  std::string digits = Decimal(n);
  long point = static_cast<long>(digits.size()) - (e < 0 ? -e : 0);

  // At least one digit before the point and seven after it, and a '0' in
  // front for the carries.
  if (point < 1) {
    digits.insert(0, static_cast<std::size_t>(1 - point), '0');
    point = 1;
  }
  digits.insert(0, 1, '0');
  ++point;
  if (static_cast<long>(digits.size()) < point + 7) {
    digits.append(static_cast<std::size_t>(point + 7 - static_cast<long>(digits.size())), '0');
  }

  // First rounding: 17 significant digits, half-up on the exact expansion;
  // every digit after them becomes '0'.
  const std::size_t first = digits.find_first_not_of('0');
  const std::size_t cut = first + 17;
  if (cut < digits.size()) {
    const bool up = digits[cut] >= '5';
    for (std::size_t k = cut; k < digits.size(); ++k) digits[k] = '0';
    if (up) Increment(digits, cut - 1);
  }

  // Second rounding: six decimals, by the digit at 10^-7 alone.
  const auto seventh = static_cast<std::size_t>(point + 6);
  const bool up = digits[seventh] >= '5';
  digits.resize(seventh);
  if (up) Increment(digits, seventh - 1);

  std::string whole = digits.substr(0, static_cast<std::size_t>(point));
  const std::size_t nonzero = whole.find_first_not_of('0');
  whole = nonzero == std::string::npos ? "0" : whole.substr(nonzero);
  return text + whole + "." + digits.substr(static_cast<std::size_t>(point), 6);
}

}  // namespace lumerca::testing
