// Fuzzes the layout of DWG files of 2007: the input is read as a file
// (file header, pages map, sections map, every section's pages decoded and
// expanded), as one compressed stream expanded into a page, and as data
// coded with both Reed-Solomon codes, some of its bytes then damaged.
// What reads must keep within the file and its stated sizes; damage within
// half the parity is corrected, a codeword the decoder accepts is one.
//
// Seeds: unless an input file is named (a crash being replayed), the 2007
// drawings of the shared corpus beside the project are added to the corpus
// directories at start-up; they are read there, never copied.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "drawingdb/dwg_2007_compression.h"
#include "drawingdb/dwg_2007_file.h"
#include "drawingdb/dwg_reed_solomon.h"
#include "fuzz/dwg_corpus_seeds.h"

using namespace drawingdb;

namespace {

void check(bool condition) {
  if (!condition) std::abort();
}

void fuzzFile(std::string_view input) {
  Dwg2007File layout;
  const Status s = readDwg2007File(input, layout);
  if (!s.ok()) {
    check(!s.detail.empty());
    return;
  }
  for (const Dwg2007Page& p : layout.pages)
    check(p.id > 0 && p.address >= kDwg2007PagesStart && p.address + p.size <= input.size());
  for (const Dwg2007Section& info : layout.sections) {
    std::string data;
    const Status read = readDwg2007Section(input, layout, info, data);
    check(read.ok() ? data.size() == info.size : !read.detail.empty() && data.empty());
  }
}

void fuzzStream(std::string_view input) {
  std::string page(0x10000, '\0');
  std::size_t produced = 0;
  dwg2007Decompress(input, page, produced);
  check(produced <= page.size());
}

void fuzzCodes(std::string_view input) {
  for (const DwgRsCode code : {DwgRsCode::System, DwgRsCode::Page}) {
    const std::size_t k = dwgRsDataBytes(code);
    const std::size_t parity = 255 - k;
    // Whatever 255 bytes the decoder accepts form a codeword.
    if (input.size() >= 255) {
      std::array<std::uint8_t, 255> word{};
      std::copy_n(input.begin(), 255, word.begin());
      if (dwgRsCorrect(word, code) >= 0) check(dwgRsCorrect(word, code) == 0);
    }
    // Up to parity / 2 bad bytes a codeword are corrected.
    const std::string data(input.substr(0, 3 * k));
    std::string coded = dwgRsEncode(data, code);
    const std::size_t codewords = coded.size() / 255;
    if (codewords == 0) continue;
    for (std::size_t i = 0; i < parity / 2 && i < input.size(); ++i) {
      // One bad byte per codeword and round, at a place the input picks.
      for (std::size_t w = 0; w < codewords; ++w) {
        const std::size_t j = static_cast<std::uint8_t>(input[(i + w) % input.size()]) % 255;
        coded[w + ((j + i * 61) % 255) * codewords] ^= static_cast<char>(0xA5);
      }
    }
    std::string out;
    std::size_t corrected = 0;
    check(dwgRsDecode(coded, codewords, code, data.size(), out, corrected).ok() && out == data);
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  return fuzz::addDwgCorpusSeeds(argc, argv, {"2007"}, {});
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  fuzzFile(input);
  fuzzStream(input);
  fuzzCodes(input);
  return 0;
}
