// The 2004 LZ compression: decoder and a greedy hash-chain encoder.
#include "drawingdb/dwg_compression.h"

#include <algorithm>
#include <cstdint>
#include <vector>

namespace drawingdb {

namespace {

constexpr std::uint8_t kEndMarker = 0x11;
constexpr std::size_t kShortReach = 0x400;
constexpr std::size_t kMediumReach = 0x4000;
constexpr std::size_t kLongReach = 0xBFFF;

class Decoder {
 public:
  Decoder(std::string_view in, std::span<char> out) : in_(in), out_(out) {}

  Status run() {
    std::uint8_t op = 0;
    if (!next(op)) return status_;
    if (op < 0x10) {
      if (!literalRun(op) || !next(op)) return status_;
    }
    for (;;) {
      if (op == kEndMarker) return {};
      if (op < 0x10) {
        fail("a literal run follows literals");
        return status_;
      }
      std::size_t length = 0, distance = 0;
      std::uint8_t trailing = 0;
      if (!match(op, length, distance, trailing) || !copyMatch(length, distance)) return status_;
      if (trailing > 0) {
        if (!literals(trailing) || !next(op)) return status_;
        continue;
      }
      if (!next(op)) return status_;
      if (op < 0x10 && (!literalRun(op) || !next(op))) return status_;
    }
  }

  std::size_t produced() const { return pos_; }

 private:
  bool fail(std::string what) {
    if (status_.ok())
      status_ = Status::fail(StatusCode::BadFile, "compressed data at byte " + std::to_string(at_) + ": " + what);
    return false;
  }

  bool next(std::uint8_t& byte) {
    if (at_ >= in_.size()) return fail("the stream ends without its end marker");
    byte = static_cast<std::uint8_t>(in_[at_++]);
    return true;
  }

  // A length continued by zero bytes (255 each) up to the first non-zero.
  bool extended(std::size_t base, std::size_t& value) {
    value = base;
    for (;;) {
      std::uint8_t b = 0;
      if (!next(b)) return false;
      if (b != 0) {
        value += b;
        return true;
      }
      value += 255;
    }
  }

  bool literalRun(std::uint8_t op) {
    std::size_t count = static_cast<std::size_t>(op) + 3;
    if (op == 0 && !extended(0x12, count)) return false;
    return literals(count);
  }

  bool literals(std::size_t count) {
    if (count > in_.size() - at_) return fail("a literal run of " + std::to_string(count) + " bytes passes the end of the stream");
    if (count > out_.size() - pos_)
      return fail("a literal run of " + std::to_string(count) + " bytes passes the " + std::to_string(out_.size()) +
                  " bytes of the output");
    std::copy_n(in_.data() + at_, count, out_.data() + pos_);
    at_ += count;
    pos_ += count;
    return true;
  }

  bool match(std::uint8_t op, std::size_t& length, std::size_t& distance, std::uint8_t& trailing) {
    if (op >= 0x40) {
      std::uint8_t b = 0;
      if (!next(b)) return false;
      length = (op >> 4) - 1;
      distance = (((op >> 2) & 3) | (std::size_t{b} << 2)) + 1;
      trailing = op & 3;
      return true;
    }
    const bool medium = op >= 0x20;
    length = medium ? op & 0x1F : op & 7;
    if (length == 0 && !extended(medium ? 0x1F : 7, length)) return false;
    length += 2;
    std::uint8_t b1 = 0, b2 = 0;
    if (!next(b1) || !next(b2)) return false;
    distance = (b1 >> 2) | (std::size_t{b2} << 6);
    distance += medium ? 1 : (std::size_t{op & 8u} << 11) + 0x4000;
    trailing = b1 & 3;
    return true;
  }

  bool copyMatch(std::size_t length, std::size_t distance) {
    if (distance > pos_)
      return fail("a match reaches " + std::to_string(distance) + " bytes back, only " + std::to_string(pos_) +
                  " are there");
    if (length > out_.size() - pos_)
      return fail("a match of " + std::to_string(length) + " bytes passes the " + std::to_string(out_.size()) +
                  " bytes of the output");
    char* const to = out_.data() + pos_;
    const char* from = to - distance;
    if (distance >= length) {
      std::copy_n(from, length, to);
    } else {
      for (std::size_t i = 0; i < length; ++i) to[i] = from[i];
    }
    pos_ += length;
    return true;
  }

  std::string_view in_;
  std::span<char> out_;
  std::size_t at_ = 0;
  std::size_t pos_ = 0;
  Status status_;
};

// A length beyond what the opcode holds: one zero byte per 255, then the
// rest (1..255).
void putExtended(std::size_t excess, std::string& out) {
  const std::size_t zeros = (excess - 1) / 255;
  out.append(zeros, '\0');
  out.push_back(static_cast<char>(excess - 255 * zeros));
}

void putLiteralRun(std::string_view bytes, std::string& out) {
  const std::size_t n = bytes.size();
  if (n <= 0x12) {
    out.push_back(static_cast<char>(n - 3));
  } else {
    out.push_back('\0');
    putExtended(n - 0x12, out);
  }
  out.append(bytes);
}

void putMatch(std::size_t length, std::size_t distance, std::uint8_t trailing, std::string& out) {
  if (length <= 14 && distance <= kShortReach) {
    const std::size_t d = distance - 1;
    out.push_back(static_cast<char>(((length + 1) << 4) | ((d & 3) << 2) | trailing));
    out.push_back(static_cast<char>(d >> 2));
    return;
  }
  const bool medium = distance <= kMediumReach;
  const std::size_t d = medium ? distance - 1 : distance - 0x4000;
  const std::size_t v = length - 2;
  const std::size_t direct = medium ? 0x1F : 7;
  const std::uint8_t base = medium ? 0x20 : static_cast<std::uint8_t>(0x10 | ((d >> 11) & 8));
  if (v <= direct) {
    out.push_back(static_cast<char>(base | v));
  } else {
    out.push_back(static_cast<char>(base));
    putExtended(v - direct, out);
  }
  out.push_back(static_cast<char>(((d & 0x3F) << 2) | trailing));
  out.push_back(static_cast<char>((d >> 6) & 0xFF));
}

class Encoder {
 public:
  explicit Encoder(std::string_view in) : in_(in), previous_(in.size(), kNone), heads_(kHashSize, kNone) {}

  void run(std::string& out) {
    std::size_t i = std::min<std::size_t>(4, in_.size());
    for (std::size_t p = 0; p < i; ++p) insert(p);
    std::size_t literalsFrom = 0;
    while (i + 3 <= in_.size()) {
      std::size_t length = 0, distance = 0;
      longest(i, length, distance);
      if (length == 0) {
        insert(i++);
        continue;
      }
      flush(literalsFrom, i, out);
      pending_ = true;
      pendingLength_ = length;
      pendingDistance_ = distance;
      for (std::size_t p = i; p < i + length; ++p) insert(p);
      i += length;
      literalsFrom = i;
    }
    flush(literalsFrom, in_.size(), out);
    out.append("\x11\0\0", 3);
  }

 private:
  static constexpr std::uint32_t kNone = UINT32_MAX;
  static constexpr std::size_t kHashBits = 15;
  static constexpr std::size_t kHashSize = std::size_t{1} << kHashBits;
  static constexpr int kChainDepth = 24;

  std::uint32_t hashAt(std::size_t p) const {
    const auto b = [&](std::size_t k) { return static_cast<std::uint32_t>(static_cast<std::uint8_t>(in_[p + k])); };
    return ((b(0) << 16 | b(1) << 8 | b(2)) * 2654435761u) >> (32 - kHashBits);
  }

  void insert(std::size_t p) {
    if (p + 3 > in_.size()) return;
    const std::uint32_t h = hashAt(p);
    previous_[p] = heads_[h];
    heads_[h] = static_cast<std::uint32_t>(p);
  }

  // The longest earlier copy of the bytes at `i` the format can encode.
  void longest(std::size_t i, std::size_t& length, std::size_t& distance) const {
    const std::size_t limit = in_.size() - i;
    int depth = kChainDepth;
    for (std::uint32_t c = heads_[hashAt(i)]; c != kNone && depth-- > 0; c = previous_[c]) {
      const std::size_t d = i - c;
      if (d > kLongReach) break;
      std::size_t n = 0;
      while (n < limit && in_[c + n] == in_[i + n]) ++n;
      // Three bytes far back would need the long form, whose length 3
      // is the end marker.
      if (n < 3 || (n == 3 && d > kShortReach)) continue;
      if (n > length) {
        length = n;
        distance = d;
        if (n == limit) break;
      }
    }
  }

  // Writes the match found before (if any), with the literals that follow
  // it, in [from, to).
  void flush(std::size_t from, std::size_t to, std::string& out) {
    const std::string_view bytes = in_.substr(from, to - from);
    if (!pending_) {
      if (!bytes.empty()) putLiteralRun(bytes, out);
      return;
    }
    const std::uint8_t trailing = bytes.size() <= 3 ? static_cast<std::uint8_t>(bytes.size()) : 0;
    putMatch(pendingLength_, pendingDistance_, trailing, out);
    if (trailing > 0) out.append(bytes);
    else if (!bytes.empty()) putLiteralRun(bytes, out);
  }

  std::string_view in_;
  std::vector<std::uint32_t> previous_;
  std::vector<std::uint32_t> heads_;
  bool pending_ = false;
  std::size_t pendingLength_ = 0;
  std::size_t pendingDistance_ = 0;
};

}  // namespace

Status dwgDecompress(std::string_view in, std::span<char> out, std::size_t& produced) {
  Decoder decoder(in, out);
  Status s = decoder.run();
  produced = decoder.produced();
  return s;
}

Status dwgCompress(std::string_view in, std::string& out) {
  if (!in.empty() && in.size() < 4)
    return Status::fail(StatusCode::OutOfRange,
                        "a compressed stream opens with at least four literal bytes, the data has " + std::to_string(in.size()));
  if (in.size() >= UINT32_MAX)
    return Status::fail(StatusCode::OutOfRange, "data of " + std::to_string(in.size()) + " bytes is too large to compress");
  Encoder(in).run(out);
  return {};
}

}  // namespace drawingdb
