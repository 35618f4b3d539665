// Fuzzes the toolkit's reading of whole DWG files of 2.5 to 11/12: the
// fixed header and its section addresses, the header variables, the table
// descriptors and records, the entity, block and extra sections with their
// JUMPs, and (11/12) the CRCs and sentinels.  A file that reads is written
// again in its release, and what was written must read back.
//
// Seeds: unless an input file is named (a crash being replayed), the R2.6,
// R9 and R11 drawings of the shared corpus beside the project are added to
// the corpus directories at start-up; they are read there, never copied.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "drawingdb/byte_sink.h"
#include "drawingdb/dwg_pre_r13.h"
#include "fuzz/dwg_corpus_seeds.h"

using namespace drawingdb;

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  return fuzz::addDwgCorpusSeeds(argc, argv, {"r2.6", "r9", "r11"}, {});
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  Database db;
  std::vector<Finding> findings;
  const Status read = readDwgPreR13(input, db, findings);
  if (!read.ok()) {
    if (read.detail.empty()) std::abort();
    return 0;
  }
  std::string written;
  if (!writeDwgPreR13(db, db.release, written, nullptr).ok()) return 0;
  Database back;
  if (!readDwgPreR13(written, back, findings).ok()) std::abort();
  return 0;
}
