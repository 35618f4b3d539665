// Fuzzes the toolkit's reading of whole DWG files of R13 to 2018: header
// variables, classes, every object through the map (from 2004 on within
// the paged sections), table records before entities and each block's
// entity chain or ownership list.  A file that reads is written again in
// its release where the toolkit writes that release, and what was written
// must read back.
//
// Seeds: unless an input file is named (a crash being replayed), the R14,
// 2000, 2004, 2010, 2013 and 2018 drawings of the shared corpus beside the
// project are added to the corpus directories at start-up; they are read
// there, never copied.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "drawingdb/byte_sink.h"
#include "drawingdb/dwg_file.h"
#include "fuzz/dwg_corpus_seeds.h"

using namespace drawingdb;

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  return fuzz::addDwgCorpusSeeds(argc, argv, {"r14", "2000", "2004", "2010", "2013", "2018"});
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  Database db;
  const DwgReadResult read = readDwg(input, db);
  if (!read.status.ok()) {
    if (read.status.detail.empty()) std::abort();
    return 0;
  }
  StringSink sink;
  if (!writeDwg(db, sink, {db.release, nullptr}).ok()) return 0;
  Database back;
  if (!readDwg(sink.data, back).status.ok()) std::abort();
  return 0;
}
