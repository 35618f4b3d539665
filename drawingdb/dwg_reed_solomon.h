// The Reed-Solomon code that guards the file header, the system pages and
// the data pages of DWG files of 2007 (AC1021).
//
// A codeword is 255 bytes over GF(256), whose element x (the byte 2)
// generates the field.  Byte j of a codeword is the coefficient of x^j:
// the data fills bytes 0..k-1, the parity bytes k..254, and every codeword
// is a multiple of
//
//   g(x) = (x - a)(x - a^2) ... (x - a^(255-k))      a = 2
//
// so its value at a^1 .. a^(255-k) is zero.  The file uses two codes:
//
//   system  the file header and the system pages: 16 parity bytes
//           (k = 239, corrects 8 bad bytes per codeword), field
//           polynomial x^8+x^6+x^5+x^4+1 (0x169)
//   page    data pages: 4 parity bytes (k = 251, corrects 2), field
//           polynomial x^8+x^4+x^3+x^2+1 (0x11D); the bytes between the
//           data and the parity (a fixed filler) count as data
//
// A block of n codewords is interleaved byte by byte: byte j of codeword i
// is stored at i + j * n.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "drawingdb/status.h"

namespace drawingdb {

inline constexpr std::size_t kDwgRsCodeword = 255;

enum class DwgRsCode : std::uint8_t { System, Page };

// k: the data bytes of a codeword of the code (239 or 251).
std::size_t dwgRsDataBytes(DwgRsCode code);

// Corrects `codeword` in place.  Answers how many bytes it changed, or -1
// when the errors are more than the code can locate (the codeword is then
// left as it was).
int dwgRsCorrect(std::span<std::uint8_t, kDwgRsCodeword> codeword, DwgRsCode code);

// The parity bytes of `data` (k bytes): appended to it they make a
// codeword.
std::string dwgRsParity(std::string_view data, DwgRsCode code);

// Reads a block of `codewords` interleaved codewords from the start of
// `coded`, corrects each, and appends the data of as many codewords as it
// takes to hold `wanted` bytes (wanted <= codewords * k) to `out`.
// `corrected` counts the bytes changed.  A block longer than `coded`, or a
// codeword with more errors than its parity can correct, answers BadFile.
Status dwgRsDecode(std::string_view coded, std::size_t codewords, DwgRsCode code, std::size_t wanted,
                   std::string& out, std::size_t& corrected);

// The inverse of dwgRsDecode for whole blocks: `data` (padded with zero
// bytes to whole codewords) coded and interleaved.
std::string dwgRsEncode(std::string_view data, DwgRsCode code);

}  // namespace drawingdb
