// Fuzzes the toolkit's DXF tag reader, ASCII and binary: every tag of the
// input is read and written again in the form it came in, and the written
// tags must read back the same.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "drawingdb/dxf_tags.h"

using namespace drawingdb;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  TagReader reader(input);
  StringSink sink;
  TagWriter writer(sink, {reader.binary(), 2, 17});
  std::vector<std::pair<int, TagType>> codes;
  Tag tag;
  while (reader.next(tag)) {
    writer.tag(tag);
    codes.emplace_back(tag.code, tag.type);
  }
  if (!writer.flush().ok()) std::abort();
  TagReader again(sink.data);
  std::size_t i = 0;
  while (again.next(tag)) {
    if (i >= codes.size() || codes[i].first != tag.code) std::abort();
    ++i;
  }
  if (!again.status().ok()) std::abort();
  return 0;
}
