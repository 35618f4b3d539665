// The fixed and scientific texts of reals against the general conversion
// of the standard library, which rounds as printf does.
#include "iges_out/number_text.h"

#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace {

std::string expectedFixed(double v, int decimals) {
  char buffer[400];
  return std::string(buffer, std::to_chars(buffer, buffer + sizeof buffer, v, std::chars_format::fixed, decimals).ptr);
}

std::string expectedScientific(double v, int decimals) {
  char buffer[400];
  std::string text(buffer,
                   std::to_chars(buffer, buffer + sizeof buffer, v, std::chars_format::scientific, decimals).ptr);
  for (char& c : text)
    if (c == 'e') c = 'E';
  return text;
}

std::string fixed(double v, int decimals) {
  char buffer[400];
  return std::string(buffer, fixedText(buffer, v, decimals));
}

std::string scientific(double v, int decimals) {
  char buffer[400];
  return std::string(buffer, scientificText(buffer, v, decimals));
}

void expectBothForms(double v) {
  for (int decimals : {0, 1, 6, 8, 12, 15, 17}) EXPECT_EQ(fixed(v, decimals), expectedFixed(v, decimals)) << v;
  for (int decimals : {1, 6, 12, 14, 16}) EXPECT_EQ(scientific(v, decimals), expectedScientific(v, decimals)) << v;
}

TEST(NumberText, ChosenValues) {
  const double inf = std::numeric_limits<double>::infinity();
  const std::vector<double> values = {
      0.0, -0.0, 1.0, -1.0, 0.5, 123.5, -2.25, 1000.0, 0.1, 0.3, 1.0 / 3.0, 2.0 / 3.0,
      // Ties of the eighth and twelfth decimal (exact binary halves).
      0.001953125, 0.0009765625, 1.0 / 8192.0, 2.5e-9, 1.5, 2.5, -0.001953125,
      // A carry into the next decade, and the edges of a decade.
      9.9999999999995, 9.99999999999949, 0.99999999999995, 99.999999995, 1e-8, 5e-9, 4.9999999999e-9,
      999999.999999995, 1e15, 4.5e15, 1e16, 1e22, 1e23, 1e300, 1e-300, 5e-324, 123456789.123456789,
      -987654.3210987, 6.02214076e23, std::numeric_limits<double>::max(), std::numeric_limits<double>::min(),
      inf, -inf, std::numeric_limits<double>::quiet_NaN()};
  for (double v : values) expectBothForms(v);
}

TEST(NumberText, DrawingCoordinatesAndRandomBits) {
  std::mt19937_64 random(20261208);
  std::uniform_int_distribution<std::int64_t> grid(-2000000, 2000000);
  std::uniform_real_distribution<double> spread(-1e6, 1e6);
  for (int i = 0; i < 20000; ++i) {
    // Coordinates on grids of halves, thousandths and arbitrary reals.
    expectBothForms(static_cast<double>(grid(random)) / 2.0);
    expectBothForms(static_cast<double>(grid(random)) / 1000.0);
    expectBothForms(spread(random));
    // Any bit pattern: every magnitude, and the values the short way refuses.
    const std::uint64_t bits = random();
    double any = 0;
    std::memcpy(&any, &bits, sizeof any);
    expectBothForms(any);
  }
}

}  // namespace
