// Fuzzes the toolkit's audit over whatever the DXF reader makes of the
// input: the audit without repairs changes nothing, the audit with repairs
// leaves a database that a second audit finds clean and that writes and
// reads back.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "drawingdb/audit.h"
#include "drawingdb/dxf_codec.h"

using namespace drawingdb;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  Database db;
  if (!readDxf(input, db).status.ok()) return 0;
  const std::size_t found = audit(db, {false}).size();
  if (audit(db, {false}).size() != found) std::abort();
  audit(db, {true});
  if (!audit(db, {true}).empty()) std::abort();
  StringSink sink;
  if (!writeDxf(db, sink, {db.release >= Release::R13 ? Release::R2000 : Release::R12, false, 17}).ok()) std::abort();
  Database again;
  if (!readDxf(sink.data, again).status.ok()) std::abort();
  return 0;
}
