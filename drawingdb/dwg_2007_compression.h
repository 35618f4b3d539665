// The LZ compression of DWG files of 2007 (AC1021): the file header, the
// system pages and compressed data pages hold their bytes in this form.
//
// A stream has no end marker; it ends with its last byte.  It opens with a
// literal run, then alternates matches and literal runs:
//
//   literal run  opcode 0x00..0x0F: op + 8 bytes; 0x0F adds the next byte,
//                and when that is 0xFF, 16-bit words while they are 0xFFFF
//                (the last word too).  A stream whose first byte is
//                0x20..0x2F skips three bytes and takes the low 3 bits of
//                the fourth as its first run.
//   match        by the high nibble of its opcode (b1, b2 .. the bytes
//                after it):
//     0   length (op & 15) + 0x13 (+ 0x10 with bit 7 of b2), distance
//         b1 + (b2 & 0x78) << 5, plus 1
//     1   length (op & 15) + 3, distance b1 + (b2 & 0xF8) << 5, plus 1
//     2   distance b1 | b2 << 8, length op & 7 + (b3 & 0xF8); with bit 3 of
//         op: distance + 1, length + (b3 << 3) + (b4 & 0xF8) << 8 + 0x100
//     3..15  length op >> 4, distance (op & 15) + (b1 & 0xF8) << 1, plus 1
//   The low 3 bits of a match's last byte count the literals after it; 0
//   lets a literal-run opcode (high nibble 0) or a match follow, an opcode
//   0xF0..0xFF standing for the match 0x00..0x0F.
//
// A literal run is stored shuffled: in blocks of 32 bytes with their four
// 8-byte groups in reverse order, the rest (1..31 bytes) in an order of
// its own per length.
#pragma once

#include <cstddef>
#include <span>
#include <string_view>

#include "drawingdb/status.h"

namespace drawingdb {

// Decompresses `in` into `out`, which it may fill but never pass: a stream
// that would write beyond it, copy from before its start or end inside an
// opcode answers BadFile.  `produced` tells how many bytes of `out` were
// written (also when the stream is damaged).
Status dwg2007Decompress(std::string_view in, std::span<char> out, std::size_t& produced);

}  // namespace drawingdb
