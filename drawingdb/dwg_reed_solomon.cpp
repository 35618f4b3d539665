// Reed-Solomon decoding of DWG 2007 codewords: syndromes, the error
// locator by Berlekamp-Massey, its roots by trying every position (Chien),
// the error values by Forney's formula.
#include "drawingdb/dwg_reed_solomon.h"

#include <algorithm>
#include <array>

#include "drawingdb/dwg_bits.h"

namespace drawingdb {

namespace {

constexpr std::size_t kOrder = 255;  // of the field's multiplicative group

struct Field {
  std::array<std::uint8_t, 2 * kOrder> power{};  // a^i, twice over for sums of logs
  std::array<std::uint16_t, 256> log{};          // log[0] unused
};

constexpr Field makeField(unsigned polynomial) {
  Field f;
  unsigned x = 1;
  for (std::size_t i = 0; i < kOrder; ++i) {
    f.power[i] = static_cast<std::uint8_t>(x);
    f.power[i + kOrder] = static_cast<std::uint8_t>(x);
    f.log[x] = static_cast<std::uint16_t>(i);
    x <<= 1;
    if ((x & 0x100) != 0) x ^= polynomial;
  }
  return f;
}
constexpr Field kSystemField = makeField(0x169);
constexpr Field kPageField = makeField(0x11D);

// The arithmetic of one code: its field and its number of parity bytes.
class Code {
 public:
  explicit Code(DwgRsCode code)
      : field_(code == DwgRsCode::System ? kSystemField : kPageField), parity_(code == DwgRsCode::System ? 16 : 4) {}

  std::size_t parity() const { return parity_; }

  std::uint8_t mul(std::uint8_t a, std::uint8_t b) const {
    if (a == 0 || b == 0) return 0;
    return field_.power[field_.log[a] + field_.log[b]];
  }
  std::uint8_t div(std::uint8_t a, std::uint8_t b) const {  // b != 0
    if (a == 0) return 0;
    return field_.power[field_.log[a] + kOrder - field_.log[b]];
  }
  std::uint8_t powerOf(std::size_t e) const { return field_.power[e % kOrder]; }

  // p(x) with p[i] the coefficient of x^i.
  std::uint8_t evaluate(std::span<const std::uint8_t> p, std::uint8_t x) const {
    std::uint8_t v = 0;
    for (std::size_t i = p.size(); i-- > 0;) v = static_cast<std::uint8_t>(mul(v, x) ^ p[i]);
    return v;
  }

  // S_i = c(a^i), i = 1..parity; all zero for a codeword.
  bool syndromes(std::span<const std::uint8_t, kDwgRsCodeword> c, std::span<std::uint8_t> s) const {
    bool clean = true;
    for (std::size_t i = 0; i < parity_; ++i) {
      s[i] = evaluate(c, powerOf(i + 1));
      clean = clean && s[i] == 0;
    }
    return clean;
  }

 private:
  const Field& field_;
  std::size_t parity_;
};

}  // namespace

std::size_t dwgRsDataBytes(DwgRsCode code) { return kDwgRsCodeword - Code(code).parity(); }

int dwgRsCorrect(std::span<std::uint8_t, kDwgRsCodeword> codeword, DwgRsCode kind) {
  const Code code(kind);
  const std::size_t parity = code.parity();
  std::array<std::uint8_t, kDwgRsCodeword> s{};
  if (code.syndromes(codeword, s)) return 0;

  // Berlekamp-Massey: the shortest locator L(x) whose recurrence yields
  // the syndromes.
  std::array<std::uint8_t, kDwgRsCodeword + 1> locator{1}, previous{1}, scratch{};
  std::size_t errors = 0, shift = 1;
  std::uint8_t lastDiscrepancy = 1;
  for (std::size_t n = 0; n < parity; ++n) {
    std::uint8_t d = s[n];
    for (std::size_t i = 1; i <= errors; ++i) d ^= code.mul(locator[i], s[n - i]);
    if (d == 0) {
      ++shift;
      continue;
    }
    const std::uint8_t factor = code.div(d, lastDiscrepancy);
    scratch = locator;
    for (std::size_t i = 0; i + shift < locator.size(); ++i) locator[i + shift] ^= code.mul(factor, previous[i]);
    if (2 * errors <= n) {
      errors = n + 1 - errors;
      previous = scratch;
      lastDiscrepancy = d;
      shift = 1;
    } else {
      ++shift;
    }
  }
  if (2 * errors > parity) return -1;

  // The error values (Forney): with the first root a^1,
  //   e = W(X^-1) / L'(X^-1),  W(x) = S(x) L(x) mod x^parity.
  std::array<std::uint8_t, kDwgRsCodeword> evaluator{};
  for (std::size_t i = 0; i < parity; ++i)
    for (std::size_t j = 0; j <= std::min(i, errors); ++j) evaluator[i] ^= code.mul(locator[j], s[i - j]);
  std::array<std::uint8_t, kDwgRsCodeword + 1> derivative{};
  for (std::size_t i = 1; i <= errors; i += 2) derivative[i - 1] = locator[i];

  std::array<std::uint8_t, kDwgRsCodeword> fixed{};
  std::copy(codeword.begin(), codeword.end(), fixed.begin());
  std::size_t found = 0;
  const std::span<const std::uint8_t> lambda(locator.data(), errors + 1);
  for (std::size_t j = 0; j < kDwgRsCodeword && found < errors; ++j) {
    const std::uint8_t inverse = code.powerOf(kOrder - j);  // X^-1 for an error at byte j
    if (code.evaluate(lambda, inverse) != 0) continue;
    const std::uint8_t slope = code.evaluate(std::span<const std::uint8_t>(derivative.data(), errors), inverse);
    if (slope == 0) return -1;
    fixed[j] ^= code.div(code.evaluate(std::span<const std::uint8_t>(evaluator.data(), parity), inverse), slope);
    ++found;
  }
  if (found != errors || !code.syndromes(fixed, s)) return -1;
  std::copy(fixed.begin(), fixed.end(), codeword.begin());
  return static_cast<int>(errors);
}

std::string dwgRsParity(std::string_view data, DwgRsCode kind) {
  const Code code(kind);
  const std::size_t parity = code.parity();
  std::string out(parity, '\0');
  if (data.size() != kDwgRsCodeword - parity) return out;
  // Read backwards (byte j as the coefficient of y^(254-j)) a codeword
  // has the data on top and the parity as the remainder of the division
  // by h(y), the monic polynomial with the roots a^-1 .. a^-parity; the
  // division runs as a shift register over the data, highest degree first.
  std::array<std::uint8_t, kDwgRsCodeword + 1> h{1};
  for (std::size_t r = 1; r <= parity; ++r) {
    const std::uint8_t root = code.powerOf(kOrder - r);
    for (std::size_t i = r; i > 0; --i) h[i] = static_cast<std::uint8_t>(h[i - 1] ^ code.mul(h[i], root));
    h[0] = code.mul(h[0], root);
  }
  std::array<std::uint8_t, kDwgRsCodeword> remainder{};
  for (char byte : data) {
    const auto top = static_cast<std::uint8_t>(static_cast<std::uint8_t>(byte) ^ remainder[parity - 1]);
    for (std::size_t i = parity - 1; i > 0; --i) remainder[i] = static_cast<std::uint8_t>(remainder[i - 1] ^ code.mul(top, h[i]));
    remainder[0] = code.mul(top, h[0]);
  }
  for (std::size_t i = 0; i < parity; ++i) out[i] = static_cast<char>(remainder[parity - 1 - i]);
  return out;
}

Status dwgRsDecode(std::string_view coded, std::size_t codewords, DwgRsCode code, std::size_t wanted,
                   std::string& out, std::size_t& corrected) {
  corrected = 0;
  const std::size_t k = dwgRsDataBytes(code);
  if (wanted > codewords * k)
    return Status::fail(StatusCode::BadFile, std::to_string(wanted) + " bytes asked of " + std::to_string(codewords) +
                                                 " codewords of " + std::to_string(k));
  if (codewords > coded.size() / kDwgRsCodeword)
    return Status::fail(StatusCode::BadFile, std::to_string(codewords) + " codewords need " +
                                                 std::to_string(codewords * kDwgRsCodeword) + " bytes, " +
                                                 std::to_string(coded.size()) + " are there");
  std::array<std::uint8_t, kDwgRsCodeword> word{};
  for (std::size_t i = 0; wanted > 0; ++i) {
    for (std::size_t j = 0; j < kDwgRsCodeword; ++j) word[j] = static_cast<std::uint8_t>(coded[i + j * codewords]);
    const int fixed = dwgRsCorrect(word, code);
    if (fixed < 0)
      return Status::fail(StatusCode::BadFile, "codeword " + std::to_string(i) + " of " + std::to_string(codewords) +
                                                   " has more bad bytes than its parity can correct");
    corrected += static_cast<std::size_t>(fixed);
    const std::size_t take = std::min(wanted, k);
    out.append(reinterpret_cast<const char*>(word.data()), take);
    wanted -= take;
  }
  return {};
}

std::string dwgRsEncode(std::string_view data, DwgRsCode code) {
  const std::size_t k = dwgRsDataBytes(code);
  const std::size_t codewords = (data.size() + k - 1) / k;
  std::string out(codewords * kDwgRsCodeword, '\0');
  std::string word;
  for (std::size_t i = 0; i < codewords; ++i) {
    word.assign(data.substr(i * k, k));
    word.resize(k, '\0');
    word += dwgRsParity(word, code);
    for (std::size_t j = 0; j < kDwgRsCodeword; ++j) out[i + j * codewords] = word[j];
  }
  return out;
}

}  // namespace drawingdb
