// The LZ compression of 2004-layout pages: the known streams decode and
// encode byte for byte, the encoder's output decodes to its input for
// every form of match it makes, and damaged streams are refused without
// writing past the output.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "drawingdb/dwg_compression.h"

using namespace drawingdb;

namespace {

std::string bytes(std::initializer_list<int> list) {
  std::string s;
  for (int b : list) s.push_back(static_cast<char>(b));
  return s;
}

std::string repeat(std::string_view part, std::size_t times) {
  std::string s;
  for (std::size_t i = 0; i < times; ++i) s.append(part);
  return s;
}

std::string ramp(std::size_t n) {
  std::string s;
  for (std::size_t i = 0; i < n; ++i) s.push_back(static_cast<char>(i));
  return s;
}

std::string decompress(std::string_view in, std::size_t capacity, Status& status) {
  std::string out(capacity, '\0');
  std::size_t produced = 0;
  status = dwgDecompress(in, out, produced);
  out.resize(produced);
  return out;
}

std::string roundTrip(std::string_view input) {
  std::string packed;
  EXPECT_TRUE(dwgCompress(input, packed).ok());
  Status s;
  const std::string back = decompress(packed, input.size(), s);
  EXPECT_TRUE(s.ok()) << s.detail;
  return back;
}

TEST(DwgCompression, KnownStreamsDecodeAndEncodeByteForByte) {
  struct Case {
    const char* what;
    std::string plain;
    std::string packed;
  };
  const std::string ramp64 = ramp(64);
  const std::vector<Case> cases = {
      {"a run of one byte", std::string(20, 'A'), bytes({1, 'A', 'A', 'A', 'A', 0x2E, 0, 0, 0x11, 0, 0})},
      {"a short match, then a literal run",
       repeat("ABCD", 4) + "XYZ1",
       bytes({1, 'A', 'B', 'C', 'D', 0xDC, 0, 1, 'X', 'Y', 'Z', '1', 0x11, 0, 0})},
      {"an extended literal run and an extended match",
       repeat(ramp64, 3), bytes({0, 0x2E}) + ramp64 + bytes({0x20, 0x5F, 0xFC, 0, 0x11, 0, 0})},
      {"nothing", "", bytes({0x11, 0, 0})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Status s;
    EXPECT_EQ(decompress(c.packed, c.plain.size(), s), c.plain);
    EXPECT_TRUE(s.ok()) << s.detail;
    std::string packed;
    ASSERT_TRUE(dwgCompress(c.plain, packed).ok());
    EXPECT_EQ(packed, c.packed);
  }
}

// Inputs chosen so that the encoder makes each form: short and medium
// matches, long ones (more than 0x4000 back, both values of the distance's
// top bit), extended lengths of several zero bytes, one to three trailing
// literals and literal runs of every length class.
TEST(DwgCompression, WhatIsCompressedDecompressesToItself) {
  std::mt19937 random(7);
  auto noise = [&](std::size_t n) {
    std::string s;
    for (std::size_t i = 0; i < n; ++i) s.push_back(static_cast<char>(random()));
    return s;
  };
  const std::string block = noise(300);
  std::string mixed;
  for (int i = 0; i < 200; ++i) mixed += noise(static_cast<std::size_t>(i % 23)) + block.substr(0, static_cast<std::size_t>(3 + i % 40));
  const std::string far = noise(0x2000);
  struct Case {
    const char* what;
    std::string input;
  };
  const std::vector<Case> cases = {
      {"a zero page", std::string(0x7400, '\0')},
      {"noise", noise(0x7400)},
      {"short and medium matches with literals between", mixed},
      {"a copy 0x5000 back", far + noise(0x3000) + far},
      {"a copy 0x9000 back (distance bit 14)", far + noise(0x7000) + far},
      {"a copy just within the window", far + noise(0xBFFF - 0x2000) + far},
      {"a copy just beyond the window", far + noise(0xC000 - 0x2000) + far},
      {"three bytes far back", std::string("QRS") + noise(0x500) + "QRS" + noise(5)},
      {"four bytes", "WXYZ"},
      {"a long run", std::string(100000, 'x')},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(roundTrip(c.input), c.input);
  }
  std::string packed;
  ASSERT_TRUE(dwgCompress(std::string(0x7400, '\0'), packed).ok());
  EXPECT_LT(packed.size(), 200u);
}

TEST(DwgCompression, InputsTooShortForAStreamAreRefused) {
  for (std::string_view input : {"a", "ab", "abc"}) {
    std::string packed;
    EXPECT_EQ(dwgCompress(input, packed).code, StatusCode::OutOfRange) << input;
  }
}

// Each stream would read past its end, copy from before the output or
// write past it; each is refused and writes nothing beyond the output.
TEST(DwgCompression, DamagedStreamsAreRefused) {
  struct Case {
    const char* what;
    std::string packed;
    std::size_t capacity;
  };
  const std::vector<Case> cases = {
      {"an empty stream", "", 16},
      {"no end marker", bytes({1, 'A', 'B', 'C', 'D'}), 16},
      {"a literal run cut short", bytes({5, 'A', 'B'}), 16},
      {"an extended length cut short", bytes({0, 0, 0}), 1000},
      {"a match before any output", bytes({0x40, 0, 0x11, 0, 0}), 16},
      {"a match from before the start", bytes({1, 'A', 'B', 'C', 'D', 0x40, 2, 0x11, 0, 0}), 16},
      {"a long match from before the start", bytes({1, 'A', 'B', 'C', 'D', 0x12, 0, 0, 0x11, 0, 0}), 0x10000},
      {"a literal run where a match belongs", bytes({1, 'A', 'B', 'C', 'D', 0x41, 0, 'x', 3, 1, 2, 3, 4, 5, 6, 0x11}), 64},
      {"a match past the output", bytes({1, 'A', 'B', 'C', 'D', 0x2E, 0, 0, 0x11, 0, 0}), 10},
      {"literals past the output", bytes({2, 'A', 'B', 'C', 'D', 'E', 0x11, 0, 0}), 4},
      {"an extended match far past the output", bytes({1, 'A', 'B', 'C', 'D', 0x20, 0, 0, 0, 0, 0, 0, 0xFF, 0, 0, 0x11}), 1000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::string out(c.capacity + 8, '\x5A');
    std::size_t produced = 0;
    const Status s = dwgDecompress(c.packed, std::span<char>(out.data(), c.capacity), produced);
    EXPECT_EQ(s.code, StatusCode::BadFile);
    EXPECT_NE(s.detail.find("compressed data at byte"), std::string::npos) << s.detail;
    EXPECT_LE(produced, c.capacity);
    EXPECT_EQ(out.substr(c.capacity), std::string(8, '\x5A'));
  }
}

}  // namespace
