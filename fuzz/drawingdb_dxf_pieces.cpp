// Fuzzes the toolkit's DXF reader as it reads files from disk: in pieces,
// through a source that gives short reads and a reader buffer of a few
// bytes, so that every refill, every move of the bytes kept and every
// growth of the buffer for a long tag is met.  The first two bytes choose
// the buffer size and the pattern of read sizes; the rest is the file.
// Whatever the pieces, the outcome must be that of reading the same bytes
// held whole: the same status and, when the read succeeds, a database
// that writes the same DXF.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "drawingdb/dxf_codec.h"

using namespace drawingdb;

namespace {

// Gives the bytes in pieces of 1 to 16 bytes, their sizes drawn from a
// small generator that `pattern` seeds.
class ShortReads final : public ByteSource {
 public:
  ShortReads(std::string_view bytes, std::uint8_t pattern) : bytes_(bytes), state_(pattern | 1u) {}
  std::size_t read(char* out, std::size_t n) override {
    state_ = state_ * 1103515245u + 12345u;
    const std::size_t piece = 1 + ((state_ >> 16) & 15u);
    const std::size_t k = std::min({n, piece, bytes_.size() - at_});
    std::copy_n(bytes_.data() + at_, k, out);
    at_ += k;
    return k;
  }
  Status status() const override { return {}; }
  std::size_t size() const override { return bytes_.size(); }

 private:
  std::string_view bytes_;
  std::size_t at_ = 0;
  std::uint32_t state_;
};

std::string dxfOf(Database& db) {
  StringSink sink;
  if (!writeDxf(db, sink, {Release::R2000, false, 17}).ok()) std::abort();
  return sink.data;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const std::size_t buffer = 1 + data[0] % 64;
  const std::string_view file(reinterpret_cast<const char*>(data) + 2, size - 2);
  Database whole;
  const DxfReadResult expected = readDxf(file, whole);
  ShortReads source(file, data[1]);
  Database pieces;
  const DxfReadResult got = readDxf(source, pieces, buffer);
  if (got.status.code != expected.status.code || got.status.detail != expected.status.detail) std::abort();
  if (got.findings.size() != expected.findings.size()) std::abort();
  if (expected.status.ok() && dxfOf(pieces) != dxfOf(whole)) std::abort();
  return 0;
}
