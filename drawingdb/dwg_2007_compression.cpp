// The 2007 LZ decompressor.
#include "drawingdb/dwg_2007_compression.h"

#include <cstdint>
#include <string>

namespace drawingdb {

namespace {

// The order in which a literal run of n (1..31) bytes left after its
// 32-byte blocks comes out: row n - 1 lists the input positions.
constexpr std::uint8_t kLiteralOrder[31][31] = {
    {0},
    {1, 0},
    {2, 1, 0},
    {0, 1, 2, 3},
    {4, 0, 1, 2, 3},
    {5, 1, 2, 3, 4, 0},
    {6, 5, 1, 2, 3, 4, 0},
    {0, 1, 2, 3, 4, 5, 6, 7},
    {8, 0, 1, 2, 3, 4, 5, 6, 7},
    {9, 1, 2, 3, 4, 5, 6, 7, 8, 0},
    {10, 9, 1, 2, 3, 4, 5, 6, 7, 8, 0},
    {8, 9, 10, 11, 0, 1, 2, 3, 4, 5, 6, 7},
    {12, 8, 9, 10, 11, 0, 1, 2, 3, 4, 5, 6, 7},
    {13, 9, 10, 11, 12, 1, 2, 3, 4, 5, 6, 7, 8, 0},
    {14, 13, 9, 10, 11, 12, 1, 2, 3, 4, 5, 6, 7, 8, 0},
    {8, 9, 10, 11, 12, 13, 14, 15, 0, 1, 2, 3, 4, 5, 6, 7},
    {9, 10, 11, 12, 13, 14, 15, 16, 8, 0, 1, 2, 3, 4, 5, 6, 7},
    {17, 9, 10, 11, 12, 13, 14, 15, 16, 1, 2, 3, 4, 5, 6, 7, 8, 0},
    {18, 17, 16, 8, 9, 10, 11, 12, 13, 14, 15, 0, 1, 2, 3, 4, 5, 6, 7},
    {16, 17, 18, 19, 8, 9, 10, 11, 12, 13, 14, 15, 0, 1, 2, 3, 4, 5, 6, 7},
    {20, 16, 17, 18, 19, 8, 9, 10, 11, 12, 13, 14, 15, 0, 1, 2, 3, 4, 5, 6, 7},
    {21, 20, 16, 17, 18, 19, 8, 9, 10, 11, 12, 13, 14, 15, 0, 1, 2, 3, 4, 5, 6, 7},
    {22, 21, 20, 16, 17, 18, 19, 8, 9, 10, 11, 12, 13, 14, 15, 0, 1, 2, 3, 4, 5, 6, 7},
    {16, 17, 18, 19, 20, 21, 22, 23, 8, 9, 10, 11, 12, 13, 14, 15, 0, 1, 2, 3, 4, 5, 6, 7},
    {17, 18, 19, 20, 21, 22, 23, 24, 16, 8, 9, 10, 11, 12, 13, 14, 15, 0, 1, 2, 3, 4, 5, 6, 7},
    {25, 17, 18, 19, 20, 21, 22, 23, 24, 16, 8, 9, 10, 11, 12, 13, 14, 15, 0, 1, 2, 3, 4, 5, 6, 7},
    {26, 25, 17, 18, 19, 20, 21, 22, 23, 24, 16, 8, 9, 10, 11, 12, 13, 14, 15, 0, 1, 2, 3, 4, 5, 6, 7},
    {24, 25, 26, 27, 16, 17, 18, 19, 20, 21, 22, 23, 8, 9, 10, 11, 12, 13, 14, 15, 0, 1, 2, 3, 4, 5, 6, 7},
    {28, 24, 25, 26, 27, 16, 17, 18, 19, 20, 21, 22, 23, 8, 9, 10, 11, 12, 13, 14, 15, 0, 1, 2, 3, 4, 5, 6, 7},
    {29, 28, 24, 25, 26, 27, 16, 17, 18, 19, 20, 21, 22, 23, 8, 9, 10, 11, 12, 13, 14, 15, 0, 1, 2, 3, 4, 5, 6, 7},
    {30, 26, 27, 28, 29, 18, 19, 20, 21, 22, 23, 24, 25, 10, 11, 12, 13, 14, 15, 16, 17, 2, 3, 4, 5, 6, 7, 8, 9, 1, 0},
};

class Decoder2007 {
 public:
  Decoder2007(std::string_view in, std::span<char> out) : in_(in), out_(out) {}

  Status run() {
    std::uint8_t op = 0;
    std::size_t count = 0;
    if (!next(op)) return status_;
    if ((op & 0xF0) == 0x20) {
      std::uint8_t skipped = 0;
      if (!next(skipped) || !next(skipped) || !next(op)) return status_;
      count = op & 7;
      if (count == 0) {
        fail("the stream opens with an empty literal run");
        return status_;
      }
    } else if (!literalCount(op, count)) {
      return status_;
    }
    for (;;) {
      if (!literals(count)) return status_;
      if (done()) return status_;
      if (!next(op)) return status_;
      // A match, then its literals or the next match.
      for (;;) {
        std::size_t length = 0, distance = 0;
        if (!match(op, length, distance) || !copyMatch(length, distance)) return status_;
        count = op & 7;
        if (count != 0) break;
        if (done() || !next(op)) return status_;
        if (op >> 4 == 0) {
          if (!literalCount(op, count)) return status_;
          break;
        }
        if (op >> 4 == 0xF) op &= 0x0F;
      }
    }
  }

  std::size_t produced() const { return pos_; }

 private:
  bool fail(std::string what) {
    if (status_.ok())
      status_ = Status::fail(StatusCode::BadFile, "compressed data at byte " + std::to_string(at_) + ": " + what);
    return false;
  }

  bool done() const { return at_ >= in_.size(); }

  bool next(std::uint8_t& byte) {
    if (done()) return fail("the stream ends inside an opcode");
    byte = static_cast<std::uint8_t>(in_[at_++]);
    return true;
  }

  bool literalCount(std::uint8_t op, std::size_t& count) {
    count = std::size_t{op} + 8;
    if (count != 0x17) return true;
    std::uint8_t b = 0;
    if (!next(b)) return false;
    count += b;
    if (b != 0xFF) return true;
    for (;;) {
      std::uint8_t lo = 0, hi = 0;
      if (!next(lo) || !next(hi)) return false;
      const std::size_t word = std::size_t{lo} | std::size_t{hi} << 8;
      count += word;
      if (word != 0xFFFF) return true;
    }
  }

  // Decodes the match of `op`; `op` becomes the match's last byte.
  bool match(std::uint8_t& op, std::size_t& length, std::size_t& distance) {
    std::uint8_t b1 = 0, b2 = 0;
    switch (op >> 4) {
      case 0:
        if (!next(b1) || !next(b2)) return false;
        length = (op & 0x0Fu) + 0x13u + ((b2 >> 3) & 0x10u);
        distance = b1 + ((b2 & 0x78u) << 5) + 1;
        op = b2;
        return true;
      case 1:
        if (!next(b1) || !next(b2)) return false;
        length = (op & 0x0Fu) + 3u;
        distance = b1 + ((b2 & 0xF8u) << 5) + 1;
        op = b2;
        return true;
      case 2: {
        std::uint8_t b3 = 0;
        if (!next(b1) || !next(b2) || !next(b3)) return false;
        distance = b1 | std::size_t{b2} << 8;
        length = op & 7u;
        if ((op & 8) == 0) {
          length += b3 & 0xF8u;
          op = b3;
          return true;
        }
        std::uint8_t b4 = 0;
        if (!next(b4)) return false;
        distance += 1;
        length += (std::size_t{b3} << 3) + ((b4 & 0xF8u) << 8) + 0x100;
        op = b4;
        return true;
      }
      default:
        if (!next(b1)) return false;
        length = op >> 4;
        distance = (op & 0x0Fu) + ((b1 & 0xF8u) << 1) + 1;
        op = b1;
        return true;
    }
  }

  bool copyMatch(std::size_t length, std::size_t distance) {
    if (distance == 0 || distance > pos_)
      return fail("a match reaches " + std::to_string(distance) + " bytes back from byte " + std::to_string(pos_));
    if (length > out_.size() - pos_)
      return fail("a match of " + std::to_string(length) + " bytes passes the end of the " +
                  std::to_string(out_.size()) + " bytes");
    // Byte by byte: the source may overlap what the match writes.
    for (std::size_t i = 0; i < length; ++i, ++pos_) out_[pos_] = out_[pos_ - distance];
    return true;
  }

  bool literals(std::size_t count) {
    if (count > in_.size() - at_) return fail(std::to_string(count) + " literals, the stream ends before");
    if (count > out_.size() - pos_)
      return fail(std::to_string(count) + " literals pass the end of the " + std::to_string(out_.size()) + " bytes");
    const char* from = in_.data() + at_;
    char* to = out_.data() + pos_;
    at_ += count;
    pos_ += count;
    for (; count >= 32; count -= 32, from += 32, to += 32)
      for (std::size_t group = 0; group < 4; ++group)
        for (std::size_t i = 0; i < 8; ++i) to[8 * group + i] = from[8 * (3 - group) + i];
    if (count == 0) return true;
    const std::uint8_t* order = kLiteralOrder[count - 1];
    for (std::size_t i = 0; i < count; ++i) to[i] = from[order[i]];
    return true;
  }

  std::string_view in_;
  std::span<char> out_;
  std::size_t at_ = 0;
  std::size_t pos_ = 0;
  Status status_;
};

}  // namespace

Status dwg2007Decompress(std::string_view in, std::span<char> out, std::size_t& produced) {
  Decoder2007 decoder(in, out);
  Status s = decoder.run();
  produced = decoder.produced();
  return s;
}

}  // namespace drawingdb
