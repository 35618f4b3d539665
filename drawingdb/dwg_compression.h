// The LZ compression of DWG files of 2004 and later (AC1018, AC1024,
// AC1027, AC1032): system pages and compressed data pages hold their bytes
// in this form.
//
// A stream is a literal run, then matches, each followed by literals, and
// the end marker 0x11 (writers add two zero bytes).  A match copies
// `length` bytes from `distance` bytes back in the output (the source may
// overlap what it writes); its last byte carries in two bits how many
// literals (1..3) follow it directly; 0 there lets a literal-run opcode
// (0x00..0x0F, runs of 4 bytes and more) or the next match follow.
//
//   literal run  0x01..0x0F: op + 3 bytes; 0x00: 0x12 + 255 per zero byte
//                + the first non-zero byte
//   0x40..0xFF   length (op >> 4) - 1, one byte b: distance
//                ((op >> 2) & 3 | b << 2) + 1, literals op & 3
//   0x20..0x3F   length (op & 0x1F) + 2 (0: extended from 0x1F), bytes
//                b1 b2: distance (b1 >> 2 | b2 << 6) + 1, literals b1 & 3
//   0x10, 0x12..0x1F  length (op & 7) + 2 (0: extended from 7), b1 b2:
//                distance ((op & 8) << 11 | b1 >> 2 | b2 << 6) + 0x4000
//   0x11         end of the stream
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>

#include "drawingdb/status.h"

namespace drawingdb {

// Decompresses `in` into `out`, which it may fill but never pass: a stream
// that would write beyond it, copy from before its start or run past the
// end of `in` without an end marker answers BadFile.  `produced` tells how
// many bytes of `out` were written (also when the stream is damaged).
Status dwgDecompress(std::string_view in, std::span<char> out, std::size_t& produced);

// Appends the compressed form of `in` to `out`, end marker and its two
// zero bytes included.  Greedy matching over the whole window the format
// reaches (0xBFFF bytes back).  A stream must open with a literal run of at
// least four bytes, so an input of one to three bytes cannot be compressed
// (OutOfRange); an empty input is the end marker alone.
Status dwgCompress(std::string_view in, std::string& out);

}  // namespace drawingdb
