#include "iges_out/number_text.h"

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>

namespace {

constexpr std::uint64_t kPow10[] = {1ULL,
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
constexpr int kLargestPower = 19;
// The largest scaled value taken: room for the digits and a carry.
constexpr std::uint64_t kLargestScaled = std::uint64_t{1} << 62;

__extension__ typedef unsigned __int128 Wide;

// The integer nearest to magnitude * 10^k taken exactly, a tie to the even
// one: the rounding of printf.  The double is an integer times a power of
// two, so the product is an integer of at most 117 bits shifted by that
// power.  false when k is outside 0..19 or the result is above 2^62.
bool scaledRound(double magnitude, int k, std::uint64_t& n) {
  if (k < 0 || k > kLargestPower) return false;
  const auto bits = std::bit_cast<std::uint64_t>(magnitude);
  const int biased = static_cast<int>((bits >> 52) & 0x7ff);
  std::uint64_t mantissa = bits & ((std::uint64_t{1} << 52) - 1);
  int shift = -1074;  // the power of two of the mantissa's unit
  if (biased != 0) {
    mantissa |= std::uint64_t{1} << 52;
    shift = biased - 1075;
  }
  const Wide product = static_cast<Wide>(mantissa) * kPow10[k];
  if (shift >= 0) {
    if (shift > 62 || (product >> (62 - shift)) != 0) return false;
    n = static_cast<std::uint64_t>(product << shift);
    return n <= kLargestScaled;
  }
  const int down = -shift;
  if (down >= 118) {
    n = 0;  // less than half of one
    return true;
  }
  Wide quotient = product >> down;
  const Wide rest = product & ((Wide{1} << down) - 1);
  const Wide half = Wide{1} << (down - 1);
  if (rest > half || (rest == half && (quotient & 1) != 0)) ++quotient;
  if (quotient > kLargestScaled) return false;
  n = static_cast<std::uint64_t>(quotient);
  return true;
}

constexpr char kDigitPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

// Writes the `count` lowest decimal digits of n (leading zeros included) at
// out and takes them off n; the end of the digits.  Values below 2^32 (the
// decimals of coordinates) take the narrower divisions.
template <class Unsigned>
char* takeDigitsOf(char* out, Unsigned& n, int count) {
  char* at = out + count;
  while (at - out >= 2) {
    const char* pair = kDigitPairs + 2 * (n % 100);
    n /= 100;
    *--at = pair[1];
    *--at = pair[0];
  }
  if (at != out) {
    *--at = static_cast<char>('0' + n % 10);
    n /= 10;
  }
  return out + count;
}

char* takeDigits(char* out, std::uint64_t& n, int count) {
  if (n > UINT32_MAX) return takeDigitsOf(out, n, count);
  auto narrow = static_cast<std::uint32_t>(n);
  char* end = takeDigitsOf(out, narrow, count);
  n = narrow;
  return end;
}

char* digits(char* out, std::uint64_t n, int count) { return takeDigits(out, n, count); }

char* generalFixed(char* out, double value, int decimals) {
  return std::to_chars(out, out + 400, value, std::chars_format::fixed, decimals).ptr;
}

char* generalScientific(char* out, double value, int decimals) {
  char* end = std::to_chars(out, out + 400, value, std::chars_format::scientific, decimals).ptr;
  for (char* c = out; c != end; ++c)
    if (*c == 'e') *c = 'E';
  return end;
}

}  // namespace

char* fixedText(char* out, double value, int decimals) {
  std::uint64_t n = 0;
  if (!std::isfinite(value) || decimals < 0 || decimals > 17 || !scaledRound(std::fabs(value), decimals, n))
    return generalFixed(out, value, decimals);
  if (std::signbit(value)) *out++ = '-';
  // The whole part as an integer, then the point and the decimals with
  // their leading zeros.
  // (The usual numbers of decimals divide by a constant, which compiles
  // to a multiplication instead of a slow division.)
  std::uint64_t whole = 0;
  switch (decimals) {
    case 6: whole = n / kPow10[6]; break;
    case 8: whole = n / kPow10[8]; break;
    default: whole = n / kPow10[decimals]; break;
  }
  std::uint64_t fraction = n - whole * kPow10[decimals];
  out = std::to_chars(out, out + 24, whole).ptr;
  if (decimals == 0) return out;
  *out++ = '.';
  return takeDigits(out, fraction, decimals);
}

char* scientificText(char* out, double value, int decimals) {
  if (!std::isfinite(value) || decimals < 1 || decimals > 17) return generalScientific(out, value, decimals);
  const double magnitude = std::fabs(value);
  std::uint64_t n = 0;
  int exponent = 0;
  if (magnitude != 0) {
    // The decimal exponent estimated from the binary one e as
    // floor(e log10 2) (78913 / 2^18 is log10 2 closely enough for every
    // exponent a double has), then put right by the size of the rounded
    // digits.
    const int binary = static_cast<int>((std::bit_cast<std::uint64_t>(magnitude) >> 52) & 0x7ff) - 1023;
    exponent = (binary * 78913) >> 18;
    bool found = false;
    for (int attempt = 0; attempt < 3 && !found; ++attempt) {
      const int k = decimals - exponent;
      if (!scaledRound(magnitude, k, n)) return generalScientific(out, value, decimals);
      if (n >= kPow10[decimals + 1]) {
        ++exponent;
      } else if (n < kPow10[decimals]) {
        --exponent;
      } else {
        found = true;
      }
    }
    if (!found) return generalScientific(out, value, decimals);
  }
  if (std::signbit(value)) *out++ = '-';
  out[1] = '.';
  takeDigits(out + 2, n, decimals);
  out[0] = static_cast<char>('0' + n);
  out += 2 + decimals;
  *out++ = 'E';
  *out++ = exponent < 0 ? '-' : '+';
  const int size = exponent < 0 ? -exponent : exponent;
  return digits(out, size, size >= 100 ? 3 : 2);
}
