// The layout of DWG files of 2007: the decompressor against a known
// stream, the Reed-Solomon codes against the parity bytes of the corpus
// files (bad bytes corrected up to what the parity allows, more refused),
// the corpus files read section for section, and damaged copies
// (truncation, bad bytes, lying sizes, ids and counts in the file header
// and both maps) answered with a status.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <vector>

#include "dwg_corpus_files.h"
#include "drawingdb/dwg_2007_compression.h"
#include "drawingdb/dwg_2007_file.h"
#include "drawingdb/dwg_reed_solomon.h"

using namespace drawingdb;
namespace fs = std::filesystem;

namespace {

std::string bytes(std::initializer_list<int> list) {
  std::string s;
  for (int b : list) s.push_back(static_cast<char>(b));
  return s;
}

std::uint64_t rll(std::string_view b, std::size_t at) {
  std::uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = v << 8 | static_cast<std::uint8_t>(b[at + static_cast<std::size_t>(i)]);
  return v;
}
void setRll(std::string& b, std::size_t at, std::uint64_t v) {
  for (int i = 0; i < 8; ++i) b[at + static_cast<std::size_t>(i)] = static_cast<char>(v >> (8 * i));
}

std::vector<fs::path> corpusFiles() {
  std::vector<fs::path> files;
  const fs::path dir = fs::path(TROVAK_CORPUS_DIR) / "dwg" / "2007";
  if (fs::is_directory(dir))
    for (const fs::directory_entry& e : fs::directory_iterator(dir))
      if (e.path().extension() == ".dwg") files.push_back(e.path());
  std::sort(files.begin(), files.end());
  return files;
}

// Reads the layout and every section; the first failure.
Status readAll(std::string_view file) {
  Dwg2007File layout;
  Status s = readDwg2007File(file, layout);
  for (std::size_t i = 0; s.ok() && i < layout.sections.size(); ++i) {
    std::string data;
    s = readDwg2007Section(file, layout, layout.sections[i], data);
    if (s.ok() && data.size() != layout.sections[i].size) s = Status::fail(StatusCode::BadFile, "size");
  }
  return s;
}

// The 34 fields of the file header at 0x80, decoded.
std::string headerFields(std::string_view file) {
  std::string coded, fields(0x110, '\0');
  std::size_t corrected = 0, produced = 0;
  EXPECT_TRUE(dwgRsDecode(file.substr(0x80), 3, DwgRsCode::System, 3 * 239, coded, corrected).ok());
  EXPECT_TRUE(dwg2007Decompress(std::string_view(coded).substr(0x20, rll(coded, 0x18) & 0xFFFFFFFF), fields, produced).ok());
  return fields;
}

// `file` with its header at 0x80 replaced by `fields`, stored plainly.
std::string withHeader(std::string file, std::string_view fields) {
  std::string coded(3 * 239, '\0');
  coded.replace(0x20, fields.size(), fields);
  const std::string block = dwgRsEncode(coded, DwgRsCode::System);
  file.replace(0x80, block.size(), block);
  return file;
}

// A system page's data decoded: `compressed` bytes at `address` expanded
// to `size`.
std::string systemPage(std::string_view file, std::uint64_t address, std::uint64_t compressed, std::uint64_t size,
                       std::uint64_t repeats) {
  std::string data, body(size, '\0');
  std::size_t corrected = 0, produced = 0;
  const std::size_t codewords = ((compressed + 7) / 8 * 8 * repeats + 238) / 239;
  EXPECT_TRUE(dwgRsDecode(file.substr(address), codewords, DwgRsCode::System, compressed, data, corrected).ok());
  EXPECT_TRUE(dwg2007Decompress(data, body, produced).ok());
  return body;
}

// The sections map of `file` and the pages map, each with a change, put
// back stored plainly once (the header says so).
struct Maps {
  std::string fields, pages, sections;
  std::uint64_t pagesAddress = 0, sectionsAddress = 0;
};

Maps mapsOf(std::string_view file) {
  Maps m;
  m.fields = headerFields(file);
  m.pagesAddress = 0x480 + rll(m.fields, 8 * 7);
  m.pages = systemPage(file, m.pagesAddress, rll(m.fields, 8 * 10), rll(m.fields, 8 * 11), rll(m.fields, 8 * 3));
  Dwg2007File layout;
  EXPECT_TRUE(readDwg2007File(file, layout).ok());
  m.sectionsAddress = layout.page(static_cast<std::int64_t>(rll(m.fields, 8 * 24)))->address;
  m.sections = systemPage(file, m.sectionsAddress, rll(m.fields, 8 * 22), rll(m.fields, 8 * 25), rll(m.fields, 8 * 27));
  return m;
}

std::string withMaps(std::string file, Maps m) {
  const std::string pages = dwgRsEncode(m.pages, DwgRsCode::System);
  const std::string sections = dwgRsEncode(m.sections, DwgRsCode::System);
  file.replace(m.pagesAddress, pages.size(), pages);
  file.replace(m.sectionsAddress, sections.size(), sections);
  setRll(m.fields, 8 * 3, 1);
  setRll(m.fields, 8 * 10, m.pages.size());
  setRll(m.fields, 8 * 11, m.pages.size());
  setRll(m.fields, 8 * 22, m.sections.size());
  setRll(m.fields, 8 * 25, m.sections.size());
  setRll(m.fields, 8 * 27, 1);
  return withHeader(std::move(file), m.fields);
}

// ----------------------------------------------------------- compression

TEST(Dwg2007Compression, TheAuxHeaderStreamExpandsToItsKnownBytes) {
  const std::string in = bytes({
      0x04, 0x00, 0x08, 0x00, 0x33, 0x00, 0x00, 0x00, 0xff, 0xff, 0x77, 0x01, 0x1f, 0x30, 0x03, 0x0b, 0x00, 0x24, 0x39, 0x05,
      0x00, 0x16, 0x00, 0x2e, 0x00, 0x53, 0x00, 0x03, 0x01, 0x65, 0x05, 0x06, 0x01, 0xb1, 0x1d, 0x00, 0x00, 0x00, 0x04, 0x57,
      0x08, 0x94, 0x01, 0x01, 0x30, 0x00, 0x33, 0x08, 0x01, 0x7c, 0x25, 0x00, 0xb7, 0xaf, 0xc3, 0x00, 0xfb, 0xdb, 0x37, 0x06,
      0x02, 0x5e, 0x8a, 0x01, 0x6a, 0x67, 0x81, 0x11, 0x2b, 0xdf, 0x10, 0x4f, 0x28, 0xe0, 0x22, 0x00, 0x00});
  const std::string expected = bytes({
      0xff, 0x77, 0x01, 0x1f, 0x00, 0x08, 0x00, 0x33, 0x00, 0x00, 0x00, 0xff, 0xff, 0xff, 0xff, 0x24, 0x00, 0x0b, 0x00, 0x00,
      0x00, 0x00, 0x00, 0x16, 0x00, 0x2e, 0x00, 0x16, 0x00, 0x2e, 0x00, 0x04, 0x00, 0x65, 0x05, 0x06, 0x01, 0xb1, 0x1d, 0x00,
      0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x01, 0x01, 0x01,
      0x00, 0x01, 0x00, 0xdb, 0x7c, 0x25, 0x00, 0xb7, 0xaf, 0xc3, 0x00, 0xfb, 0x7c, 0x25, 0x00, 0x67, 0x5e, 0x8a, 0x01, 0x6a,
      0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x2b, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
      0x00, 0x00, 0x00, 0x33, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
      0x00, 0x00, 0x00});
  ASSERT_EQ(in.size(), 77u);
  ASSERT_EQ(expected.size(), 123u);
  std::string out(expected.size(), '\0');
  std::size_t produced = 0;
  ASSERT_TRUE(dwg2007Decompress(in, out, produced).ok());
  EXPECT_EQ(produced, expected.size());
  EXPECT_EQ(out, expected);
}

TEST(Dwg2007Compression, LiteralRunsComeOutInTheirOrderAndMatchesRepeat) {
  std::string ramp;
  for (int i = 0; i < 0x80; ++i) ramp.push_back(static_cast<char>(i));
  struct Case {
    const char* what;
    std::string in, out;
  };
  const Case cases[] = {
      // 0x00: 8 literals, as they are.
      {"8 literals", bytes({0x00}) + ramp.substr(0, 8), ramp.substr(0, 8)},
      // 0x0F 0x11: 0x17 + 0x11 = 40 literals, a reversed block of 32 and 8.
      {"40 literals", bytes({0x0F, 0x11}) + ramp.substr(0, 40),
       ramp.substr(24, 8) + ramp.substr(16, 8) + ramp.substr(8, 8) + ramp.substr(0, 8) + ramp.substr(32, 8)},
      // The 0x2x opening: three bytes skipped, 3 literals from the fourth.
      {"opening 0x2x", bytes({0x20, 0x55, 0x66, 0x03}) + ramp.substr(0, 3), bytes({2, 1, 0})},
      // 8 literals, match 0x40 (length 4, distance 2): repeats the last two.
      {"short match", bytes({0x00}) + ramp.substr(0, 8) + bytes({0x41, 0x00}),
       ramp.substr(0, 8) + bytes({6, 7, 6, 7})},
      // A 0x1x match (length 3, distance 8), then 1 literal after it.
      {"medium match", bytes({0x00}) + ramp.substr(0, 8) + bytes({0x10, 0x07, 0x01, 0x7F}),
       ramp.substr(0, 8) + ramp.substr(0, 3) + bytes({0x7F})},
  };
  for (const Case& c : cases) {
    std::string out(c.out.size(), '\0');
    std::size_t produced = 0;
    const Status s = dwg2007Decompress(c.in, out, produced);
    EXPECT_TRUE(s.ok()) << c.what << ": " << s.detail;
    EXPECT_EQ(out, c.out) << c.what;
  }
}

TEST(Dwg2007Compression, DamagedStreamsAreRefusedWithinTheirOutput) {
  std::string ramp;
  for (int i = 0; i < 0x40; ++i) ramp.push_back(static_cast<char>(i));
  struct Case {
    const char* what;
    std::string in;
    std::size_t capacity;
  };
  const Case cases[] = {
      {"empty", "", 8},
      {"literals past the input", bytes({0x00}) + ramp.substr(0, 5), 8},
      {"literals past the output", bytes({0x00}) + ramp.substr(0, 8), 7},
      {"match before the start", bytes({0x00}) + ramp.substr(0, 8) + bytes({0x4F, 0x00}), 64},
      {"match past the output", bytes({0x00}) + ramp.substr(0, 8) + bytes({0x41, 0x00}), 10},
      {"match cut", bytes({0x00}) + ramp.substr(0, 8) + bytes({0x10, 0x07}), 64},
      {"long match past the output", bytes({0x00}) + ramp.substr(0, 8) + bytes({0x28, 0x01, 0x00, 0xFF, 0xF8}), 0x1000},
      {"literal count cut", bytes({0x0F, 0xFF, 0xFF, 0xFF}), 0x20000},
      {"empty opening run", bytes({0x20, 0, 0, 0x08}), 64},
  };
  for (const Case& c : cases) {
    std::string out(c.capacity + 16, '\x5A');
    std::size_t produced = 0;
    const Status s = dwg2007Decompress(c.in, std::span<char>(out.data(), c.capacity), produced);
    EXPECT_EQ(s.code, StatusCode::BadFile) << c.what;
    EXPECT_FALSE(s.detail.empty()) << c.what;
    EXPECT_LE(produced, c.capacity) << c.what;
    EXPECT_EQ(out.substr(c.capacity), std::string(16, '\x5A')) << c.what;
  }
}

// ---------------------------------------------------------- Reed-Solomon

TEST(Dwg2007ReedSolomon, CorpusCodewordsCarryTheParityOfTheirData) {
  const std::vector<fs::path> files = corpusFiles();
  if (files.empty()) GTEST_SKIP() << "no 2007 drawings in the corpus";
  for (const fs::path& path : files) {
    const std::string file = fileContents(path);
    // The file header: three codewords of the system code, whole.
    std::string data;
    std::size_t corrected = 99;
    ASSERT_TRUE(dwgRsDecode(std::string_view(file).substr(0x80), 3, DwgRsCode::System, 3 * 239, data, corrected).ok());
    EXPECT_EQ(corrected, 0u) << path;
    EXPECT_EQ(dwgRsEncode(data, DwgRsCode::System), file.substr(0x80, 3 * 255)) << path;
    // Every coded data page: its codewords re-encoded from their data
    // bytes (filler included) give the page's bytes.
    Dwg2007File layout;
    ASSERT_TRUE(readDwg2007File(file, layout).ok()) << path;
    EXPECT_EQ(layout.corrected, 0u) << path;
    std::size_t pages = 0;
    for (const Dwg2007Section& s : layout.sections) {
      if (s.encoding != kDwg2007Coded) continue;
      for (const Dwg2007SectionPage& p : s.pages) {
        const Dwg2007Page* page = layout.page(static_cast<std::int64_t>(p.id));
        ASSERT_NE(page, nullptr);
        const std::size_t codewords = ((p.compressedSize + 7) / 8 * 8 + 250) / 251;
        data.clear();
        ASSERT_TRUE(dwgRsDecode(std::string_view(file).substr(page->address), codewords, DwgRsCode::Page,
                                codewords * 251, data, corrected).ok());
        EXPECT_EQ(corrected, 0u) << path << " page " << p.id;
        EXPECT_EQ(dwgRsEncode(data, DwgRsCode::Page), file.substr(page->address, codewords * 255))
            << path << " page " << p.id;
        ++pages;
      }
    }
    EXPECT_GE(pages, 8u) << path;
  }
}

TEST(Dwg2007ReedSolomon, BadBytesAreCorrectedUpToHalfTheParity) {
  struct Case {
    DwgRsCode code;
    std::size_t bad;
    bool corrected;
  };
  const Case cases[] = {
      {DwgRsCode::System, 1, true}, {DwgRsCode::System, 5, true}, {DwgRsCode::System, 8, true},
      {DwgRsCode::System, 9, false}, {DwgRsCode::System, 30, false},
      {DwgRsCode::Page, 1, true}, {DwgRsCode::Page, 2, true}, {DwgRsCode::Page, 3, false},
  };
  for (const Case& c : cases) {
    const std::size_t k = dwgRsDataBytes(c.code);
    std::string data;
    for (std::size_t i = 0; i < k; ++i) data.push_back(static_cast<char>(i * 37 + 11));
    const std::string sound = data + dwgRsParity(data, c.code);
    ASSERT_EQ(sound.size(), 255u);
    std::array<std::uint8_t, 255> word{};
    std::copy(sound.begin(), sound.end(), word.begin());
    ASSERT_EQ(dwgRsCorrect(word, c.code), 0);
    // Bad bytes spread over data and parity.
    for (std::size_t i = 0; i < c.bad; ++i) word[(i * 97 + 3) % 255] ^= static_cast<std::uint8_t>(0x5A + i);
    const std::array<std::uint8_t, 255> damaged = word;
    const int fixed = dwgRsCorrect(word, c.code);
    if (c.corrected) {
      EXPECT_EQ(fixed, static_cast<int>(c.bad)) << c.bad;
      EXPECT_EQ(std::string(word.begin(), word.end()), sound) << c.bad;
    } else {
      EXPECT_EQ(fixed, -1) << c.bad;
      EXPECT_EQ(word, damaged) << c.bad;
    }
  }
}

TEST(Dwg2007ReedSolomon, BlocksDecodeAcrossTheirInterleaving) {
  std::string data;
  for (int i = 0; i < 1000; ++i) data.push_back(static_cast<char>(i * 7));
  std::string coded = dwgRsEncode(data, DwgRsCode::System);  // 5 codewords
  ASSERT_EQ(coded.size(), 5u * 255);
  // Eight bad bytes in a row fall on the five codewords 2 or 1 at a time.
  for (std::size_t i = 300; i < 308; ++i) coded[i] = static_cast<char>(~coded[i]);
  std::string out;
  std::size_t corrected = 0;
  ASSERT_TRUE(dwgRsDecode(coded, 5, DwgRsCode::System, data.size(), out, corrected).ok());
  EXPECT_EQ(out, data);
  EXPECT_EQ(corrected, 8u);
  // 9 x 5 bad bytes in a row put 9 on every codeword.
  for (std::size_t i = 300; i < 345; ++i) coded[i] = static_cast<char>(coded[i] ^ 0x33);
  out.clear();
  EXPECT_EQ(dwgRsDecode(coded, 5, DwgRsCode::System, data.size(), out, corrected).code, StatusCode::BadFile);
  // More codewords than bytes, more data than codewords.
  EXPECT_EQ(dwgRsDecode(coded, 6, DwgRsCode::System, 10, out, corrected).code, StatusCode::BadFile);
  EXPECT_EQ(dwgRsDecode(coded, 5, DwgRsCode::System, 5 * 239 + 1, out, corrected).code, StatusCode::BadFile);
}

// ------------------------------------------------------------ the layout

TEST(Dwg2007File, CorpusFilesReadSectionForSection) {
  const std::vector<fs::path> files = corpusFiles();
  if (files.empty()) GTEST_SKIP() << "no 2007 drawings in the corpus";
  for (const fs::path& path : files) {
    const std::string file = fileContents(path);
    ASSERT_TRUE(isDwg2007File(file));
    Dwg2007File layout;
    const Status s = readDwg2007File(file, layout);
    ASSERT_TRUE(s.ok()) << path << ": " << s.detail;
    EXPECT_EQ(layout.header.fileSize, file.size());
    for (const char* name : {"AcDb:Header", "AcDb:Classes", "AcDb:Handles", "AcDb:AcDbObjects", "AcDb:AuxHeader",
                             "AcDb:Preview", "AcDb:SummaryInfo"})
      EXPECT_NE(layout.section(name), nullptr) << path << " " << name;
    for (const Dwg2007Section& section : layout.sections) {
      std::string data;
      const Status r = readDwg2007Section(file, layout, section, data);
      EXPECT_TRUE(r.ok()) << path << " " << section.name << ": " << r.detail;
      EXPECT_EQ(data.size(), section.size) << path << " " << section.name;
    }
    // Sections keep their sentinels: header variables and classes open
    // with theirs.
    std::string header, classes;
    ASSERT_TRUE(readDwg2007Section(file, layout, "AcDb:Header", header).ok());
    ASSERT_TRUE(readDwg2007Section(file, layout, "AcDb:Classes", classes).ok());
    EXPECT_EQ(header.substr(0, 4), bytes({0xCF, 0x7B, 0x1F, 0x23})) << path;
    EXPECT_EQ(classes.substr(0, 4), bytes({0x8D, 0xA1, 0xC4, 0xB8})) << path;
    std::string none;
    EXPECT_EQ(readDwg2007Section(file, layout, "AcDb:Nothing", none).code, StatusCode::NotFound);
  }
}

TEST(Dwg2007File, BadBytesWithinTheParityAreCorrected) {
  const std::vector<fs::path> files = corpusFiles();
  if (files.empty()) GTEST_SKIP() << "no 2007 drawings in the corpus";
  const std::string sound = fileContents(files.front());
  Dwg2007File layout;
  ASSERT_TRUE(readDwg2007File(sound, layout).ok());
  const Dwg2007Section* objects = layout.section("AcDb:AcDbObjects");
  ASSERT_NE(objects, nullptr);
  std::string expected;
  ASSERT_TRUE(readDwg2007Section(sound, layout, *objects, expected).ok());
  const std::uint64_t pageAt = layout.page(static_cast<std::int64_t>(objects->pages.front().id))->address;

  std::string file = sound;
  file[0x90] = static_cast<char>(~file[0x90]);            // file header
  file[0x480 + 0x10] = static_cast<char>(file[0x490] ^ 1);  // pages map
  file[pageAt + 5] = static_cast<char>(~file[pageAt + 5]);  // objects data
  Dwg2007File damaged;
  ASSERT_TRUE(readDwg2007File(file, damaged).ok());
  EXPECT_EQ(damaged.corrected, 2u);
  std::string data;
  std::size_t corrected = 0;
  ASSERT_TRUE(readDwg2007Section(file, damaged, "AcDb:AcDbObjects", data, &corrected).ok());
  EXPECT_EQ(corrected, 1u);
  EXPECT_EQ(data, expected);

  // A file header beyond its parity: the copy at the end takes over.
  file = sound;
  for (std::size_t i = 0x80; i < 0x80 + 3 * 255; i += 7) file[i] = static_cast<char>(~file[i]);
  EXPECT_TRUE(readAll(file).ok());
  // ... and with the copy damaged as well, the file is refused.
  for (std::size_t i = file.size() - 0x400; i < file.size() - 0x400 + 3 * 255; i += 7) file[i] = static_cast<char>(~file[i]);
  EXPECT_EQ(readAll(file).code, StatusCode::BadFile);
  // A data page beyond its parity: three bad bytes in each codeword.
  file = sound;
  const std::size_t codewords = ((objects->pages.front().compressedSize + 7) / 8 * 8 + 250) / 251;
  for (std::size_t i = 0; i < 3 * codewords; ++i) file[pageAt + i] = static_cast<char>(~file[pageAt + i]);
  EXPECT_EQ(readAll(file).code, StatusCode::BadFile);
}

TEST(Dwg2007File, DamagedFilesAreRefusedWithAStatus) {
  const std::vector<fs::path> files = corpusFiles();
  if (files.empty()) GTEST_SKIP() << "no 2007 drawings in the corpus";
  const std::string sound = fileContents(files.front());
  ASSERT_TRUE(readAll(withMaps(sound, mapsOf(sound))).ok()) << "maps stored plainly read as well";

  using Header = std::function<void(std::string&)>;
  auto field = [](std::size_t place, std::uint64_t value) { return [=](std::string& f) { setRll(f, 8 * place, value); }; };
  const struct {
    const char* what;
    Header change;
  } headers[] = {
      {"file size past the end", field(1, 0x1000000)},
      {"pages map past the end", field(7, 0x7FFFFFFFFFFFFFFF)},
      {"pages map of no bytes", field(10, 0)},
      {"pages map compressed beyond the file", field(10, 0x10000000)},
      {"pages map expanding beyond the file", field(11, 0x7FFFFFFFFFFF)},
      {"pages map repeated without end", field(3, 0x4000000000000000)},
      {"pages map repeats not fitting", field(3, 2000)},
      {"pages map short", field(11, 0x20)},
      {"sections map absent", field(24, 77)},
      {"sections map of a huge id", field(24, 0xFFFFFFFFFFFFFFFF)},
      {"sections map expanding beyond the file", field(25, 0x7FFFFFFFFFFF)},
      {"sections map repeated past its page", field(27, 40)},
  };
  const std::string fields = headerFields(sound);
  for (const auto& c : headers) {
    std::string f = fields;
    c.change(f);
    const Status s = readAll(withHeader(sound, f));
    EXPECT_FALSE(s.ok()) << c.what;
    EXPECT_FALSE(s.detail.empty()) << c.what;
  }

  // The maps: offsets into the decoded pages map (16 bytes a page) and
  // into the sections map, whose first record (FileDepList) has one page.
  const Maps maps = mapsOf(sound);
  using Change = std::function<void(Maps&)>;
  auto pages = [](std::size_t at, std::uint64_t v) { return [=](Maps& m) { setRll(m.pages, at, v); }; };
  auto sections = [](std::size_t at, std::uint64_t v) { return [=](Maps& m) { setRll(m.sections, at, v); }; };
  const std::size_t firstPage = 0x40 + rll(maps.sections, 32);  // the first record's page
  const std::size_t second = firstPage + 56;                    // the second record
  const struct {
    const char* what;
    Change change;
  } changes[] = {
      {"page of no bytes", pages(0, 0)},
      {"page past the end", pages(16, 0x7FFFFFFFFFFFFFFF)},
      {"pages listed twice", pages(24, rll(maps.pages, 8))},
      {"sections map page lost", [](Maps& m) { m.pages.resize(16); }},
      {"section bigger than its pages", sections(0, 0x100000)},
      {"section of no pages beyond the file",
       [&](Maps& m) {
         setRll(m.sections, 0, 0x7FFFFFFF);
         setRll(m.sections, 56, 0);
         m.sections.erase(firstPage, 56);
       }},
      {"name past the map", sections(32, 0x100000)},
      {"page count past the map", sections(56, 0x1000000)},
      {"unknown encoding", sections(48, 3)},
      {"password-protected", sections(16, 1)},
      {"page past the section", sections(firstPage, 0x90)},
      {"page of a missing id", sections(firstPage + 16, 999)},
      {"page bigger than the section", sections(firstPage + 24, 0x1000)},
      {"page bigger than its disk page", [&](Maps& m) { setRll(m.sections, 0, 0x1000); setRll(m.sections, firstPage + 24, 0x1000); }},
      {"page size huge", sections(8, 0x7FFFFFFFFFFF)},
      {"second section past its pages", sections(second, 0x10000000)},
  };
  for (const auto& c : changes) {
    Maps m = maps;
    c.change(m);
    const Status s = readAll(withMaps(sound, m));
    EXPECT_FALSE(s.ok()) << c.what;
    EXPECT_FALSE(s.detail.empty()) << c.what;
  }
}

TEST(Dwg2007File, EveryTruncationIsRefused) {
  const std::vector<fs::path> files = corpusFiles();
  if (files.empty()) GTEST_SKIP() << "no 2007 drawings in the corpus";
  const std::string sound = fileContents(files.front());
  for (std::size_t size = 0; size < sound.size(); size += 331) {
    const Status s = readAll(std::string_view(sound).substr(0, size));
    EXPECT_FALSE(s.ok()) << size;
  }
  EXPECT_FALSE(readAll(std::string_view(sound).substr(0, sound.size() - 1)).ok());
}

}  // namespace
