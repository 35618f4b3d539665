#include "iges_out/number_text.h"

#include <charconv>
#include <cmath>
#include <cstdint>

namespace {

constexpr double kPow10[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                             1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
constexpr std::int64_t kIntPow10[] = {1,
                                      10,
                                      100,
                                      1000,
                                      10000,
                                      100000,
                                      1000000,
                                      10000000,
                                      100000000,
                                      1000000000,
                                      10000000000,
                                      100000000000,
                                      1000000000000,
                                      10000000000000,
                                      100000000000000,
                                      1000000000000000};
// Below 2^52 a double holds every half of an integer, and the rounding
// error of a product is a double itself.
constexpr double kExactLimit = 4503599627370496.0;

// The integer nearest to magnitude * 10^k taken exactly (not as the product
// rounds), a tie to the even one: the rounding of printf.  false when the
// scaled value is too large for the exact way.
bool scaledRound(double magnitude, int k, std::int64_t& n) {
  const double scale = kPow10[k];
  const double p = magnitude * scale;
  if (!(p < kExactLimit)) return false;
  // p + error is the exact product.
  const double error = std::fma(magnitude, scale, -p);
  double r = std::nearbyint(p);
  const double fraction = p - r;
  // p is a multiple of its unit in the last place, which is at most 1/2,
  // so any other fraction lies at least that unit inside a half and the
  // error (at most half that unit) does not carry it over.
  if (fraction == 0.5 || fraction == -0.5) {
    if (error > 0) r = p + 0.5;
    if (error < 0) r = p - 0.5;
  }
  n = static_cast<std::int64_t>(r);
  return true;
}

// The `count` lowest decimal digits of n (leading zeros included) at out.
char* digits(char* out, std::int64_t n, int count) {
  for (int i = count - 1; i >= 0; --i) {
    out[i] = static_cast<char>('0' + n % 10);
    n /= 10;
  }
  return out + count;
}

int digitCount(std::int64_t n) {
  int count = 1;
  while (n >= 10) {
    n /= 10;
    ++count;
  }
  return count;
}

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
  std::int64_t n = 0;
  if (!std::isfinite(value) || decimals < 0 || decimals > 15 || !scaledRound(std::fabs(value), decimals, n))
    return generalFixed(out, value, decimals);
  if (std::signbit(value)) *out++ = '-';
  const int count = digitCount(n) > decimals ? digitCount(n) : decimals + 1;
  const int whole = count - decimals;
  digits(out, n / kIntPow10[decimals], whole);
  out += whole;
  if (decimals == 0) return out;
  *out++ = '.';
  return digits(out, n % kIntPow10[decimals], decimals);
}

char* scientificText(char* out, double value, int decimals) {
  if (!std::isfinite(value) || decimals < 1 || decimals > 14) return generalScientific(out, value, decimals);
  const double magnitude = std::fabs(value);
  std::int64_t n = 0;
  int exponent = 0;
  if (magnitude != 0) {
    // An estimate of the decimal exponent from the binary one, put right
    // by the size of the rounded digits.
    exponent = static_cast<int>(std::floor(std::ilogb(magnitude) * 0.30102999566398120));
    bool found = false;
    for (int attempt = 0; attempt < 3 && !found; ++attempt) {
      const int k = decimals - exponent;
      if (k < 0 || k > 22 || !scaledRound(magnitude, k, n)) return generalScientific(out, value, decimals);
      if (n >= kIntPow10[decimals + 1]) {
        ++exponent;
      } else if (n < kIntPow10[decimals]) {
        --exponent;
      } else {
        found = true;
      }
    }
    if (!found) return generalScientific(out, value, decimals);
  }
  if (std::signbit(value)) *out++ = '-';
  *out++ = static_cast<char>('0' + n / kIntPow10[decimals]);
  *out++ = '.';
  out = digits(out, n % kIntPow10[decimals], decimals);
  *out++ = 'E';
  *out++ = exponent < 0 ? '-' : '+';
  const int size = exponent < 0 ? -exponent : exponent;
  return digits(out, size, size >= 100 ? 3 : 2);
}
