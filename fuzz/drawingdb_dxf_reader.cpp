// Fuzzes the toolkit's DXF reader, ASCII and binary (told from the
// sentinel): whatever it reads must write again as DXF of 2000 and R12,
// and those files must read back.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "drawingdb/dxf_codec.h"

using namespace drawingdb;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  Database db;
  if (!readDxf(input, db).status.ok()) return 0;
  for (Release r : {Release::R2000, Release::R12}) {
    StringSink sink;
    if (!writeDxf(db, sink, {r, false, 17}).ok()) std::abort();
    Database again;
    if (!readDxf(sink.data, again).status.ok()) std::abort();
  }
  return 0;
}
