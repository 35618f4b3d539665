// The frame of DWG files of R13 to 2000: file header, sentinel blocks,
// object map and object frames written and read back, damaged copies
// answered with a status, and the corpus files read through to every
// object.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>

#include "dwg_corpus_files.h"
#include "drawingdb/dwg_file_header.h"

using namespace drawingdb;
namespace fs = std::filesystem;

namespace {

DwgFileHeader sampleHeader(Release release) {
  DwgFileHeader h;
  h.release = release;
  h.formatMaintenance = release == Release::R2000 ? 15 : 0;
  h.previewAddress = 0x58;
  h.appRelease = 0x15;
  h.codepage = 28;
  h.locators = {{0, 0x100, 40}, {1, 0x140, 40}, {2, 0x180, 8}, {3, 0, 0}, {4, 0x1F0, 4}};
  if (release == Release::R2000) h.locators.push_back({5, 0x61, 123});
  return h;
}

// The header followed by zeros up to `size` bytes.
std::string fileWith(const DwgFileHeader& h, std::size_t size = 0x200) {
  std::string file;
  EXPECT_TRUE(writeDwgFileHeader(h, file).ok());
  file.resize(size, '\0');
  return file;
}

void patchCrc(std::string& file, std::size_t locators) {
  const std::size_t at = 0x19 + 9 * locators;
  const std::uint16_t crc = dwgCrc16(std::string_view(file).substr(0, at));
  file[at] = static_cast<char>(crc & 0xFF);
  file[at + 1] = static_cast<char>(crc >> 8);
}

TEST(DwgFileHeader, WritesTheFixedLayoutAndReadsItBack) {
  for (Release r : {Release::R13, Release::R14, Release::R2000}) {
    SCOPED_TRACE(releaseInfo(r).version);
    const DwgFileHeader h = sampleHeader(r);
    const std::string file = fileWith(h);
    EXPECT_EQ(file.substr(0, 6), releaseInfo(r).version);
    // The fixed header ends at 0x58 with five locators, at 0x61 with six.
    const std::size_t end = r == Release::R2000 ? 0x61 : 0x58;
    EXPECT_EQ(dwgFileHeaderSize(h.locators.size()), end);
    EXPECT_EQ(file.substr(end - 16, 16),
              std::string(reinterpret_cast<const char*>(kDwgFileHeaderEnd.data()), 16));
    const DwgFileHeaderRead read = readDwgFileHeader(file);
    ASSERT_TRUE(read.status.ok()) << read.status.detail;
    EXPECT_EQ(read.header, h);
    ASSERT_NE(read.header.locator(DwgSection::Template), nullptr);
    EXPECT_EQ(read.header.locator(DwgSection::Template)->address, 0x1F0u);
  }
  std::string out;
  EXPECT_EQ(writeDwgFileHeader(sampleHeader(Release::R12), out).code, StatusCode::NotSupported);
  EXPECT_TRUE(out.empty());
}

TEST(DwgFileHeader, CrcEqualsTheSeedZeroFormWithItsConstant) {
  // A CRC from seed 0 XORed with a constant of the locator count gives the
  // same value as seed 0xC0C1.
  for (auto [count, constant] : {std::pair<std::size_t, std::uint16_t>{5, 0x3CC4}, {6, 0x8461}}) {
    DwgFileHeader h = sampleHeader(count == 6 ? Release::R2000 : Release::R14);
    const std::string file = fileWith(h);
    const std::string_view covered = std::string_view(file).substr(0, 0x19 + 9 * count);
    EXPECT_EQ(dwgCrc16(covered), dwgCrc16(covered, 0) ^ constant);
  }
}

TEST(DwgFileHeader, DamagedHeadersAnswerWithAStatus) {
  struct Case {
    const char* name;
    std::function<void(std::string&)> damage;
    StatusCode code;
  };
  const std::vector<Case> cases = {
      {"empty", [](std::string& f) { f.clear(); }, StatusCode::BadFile},
      {"cut inside the locators", [](std::string& f) { f.resize(0x30); }, StatusCode::OutOfRange},
      {"cut before the end sentinel", [](std::string& f) { f.resize(0x50); }, StatusCode::OutOfRange},
      {"not a version", [](std::string& f) { f.replace(0, 6, "HELLO!"); }, StatusCode::BadFile},
      {"a later release", [](std::string& f) { f.replace(0, 6, "AC1018"); }, StatusCode::NotSupported},
      {"CRC changed", [](std::string& f) { f[0x19 + 45] ^= 1; }, StatusCode::BadFile},
      {"a locator changed", [](std::string& f) { f[0x1A] ^= 1; }, StatusCode::BadFile},
      {"sentinel changed", [](std::string& f) { f[0x57] ^= 1; }, StatusCode::BadFile},
      {"count of a million locators",
       [](std::string& f) {
         f[0x17] = 0x0F;
         patchCrc(f, 5);
       },
       StatusCode::OutOfRange},
      {"locator past the end",
       [](std::string& f) {
         f[0x19 + 9 * 4 + 4] = 0x7F;  // template address 0x7F0001F0
         patchCrc(f, 5);
       },
       StatusCode::OutOfRange},
      {"locator size past the end",
       [](std::string& f) {
         f[0x19 + 9 * 0 + 8] = 0x10;  // header variables size 0x10000028
         patchCrc(f, 5);
       },
       StatusCode::OutOfRange},
      {"object map locator missing",
       [](std::string& f) {
         f[0x19 + 9 * 2] = 9;
         patchCrc(f, 5);
       },
       StatusCode::BadFile},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string file = fileWith(sampleHeader(Release::R14));
    c.damage(file);
    const DwgFileHeaderRead read = readDwgFileHeader(file);
    EXPECT_EQ(read.status.code, c.code) << read.status.detail;
    EXPECT_FALSE(read.status.detail.empty());
  }
}

TEST(DwgSentinelBlock, FramesItsDataAndRefusesDamage) {
  const std::string data = "\x01\x02\x03variables";
  std::string file(10, 'x');
  ASSERT_TRUE(writeDwgSentinelBlock(data, kDwgHeaderVariablesBegin, file).ok());
  const DwgSectionLocator where{0, 10, static_cast<std::uint32_t>(data.size() + 38)};
  ASSERT_EQ(file.size(), where.address + where.size);
  const DwgSentinelBlockRead read = readDwgSentinelBlock(file, where, kDwgHeaderVariablesBegin);
  ASSERT_TRUE(read.status.ok()) << read.status.detail;
  EXPECT_EQ(read.data, data);

  struct Case {
    const char* name;
    std::function<void(std::string&, DwgSectionLocator&)> damage;
    StatusCode code;
  };
  const std::vector<Case> cases = {
      {"locator past the end", [](std::string&, DwgSectionLocator& l) { l.size += 1; }, StatusCode::OutOfRange},
      {"locator too small", [](std::string&, DwgSectionLocator& l) { l.size = 37; }, StatusCode::BadFile},
      {"begin sentinel", [](std::string& f, DwgSectionLocator&) { f[10] ^= 1; }, StatusCode::BadFile},
      {"size larger than the locator", [](std::string& f, DwgSectionLocator&) { f[26 + 1] = 1; },
       StatusCode::OutOfRange},
      {"data changed", [](std::string& f, DwgSectionLocator&) { f[31] ^= 1; }, StatusCode::BadFile},
      {"end sentinel", [](std::string& f, DwgSectionLocator&) { f.back() ^= 1; }, StatusCode::BadFile},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string damaged = file;
    DwgSectionLocator at = where;
    c.damage(damaged, at);
    EXPECT_EQ(readDwgSentinelBlock(damaged, at, kDwgHeaderVariablesBegin).status.code, c.code);
  }
  // The classes block is not the header variables block.
  EXPECT_FALSE(readDwgSentinelBlock(file, where, kDwgClassesBegin).status.ok());
}

// Objects with gaps in their handles, stored out of handle order.
std::vector<DwgObjectLocation> scatteredObjects(std::size_t count) {
  std::vector<DwgObjectLocation> objects;
  for (std::size_t i = 0; i < count; ++i)
    objects.push_back({1 + i * 8 + (i % 7), 0x400 + ((i * 7919) % count) * 40});
  return objects;
}

struct MapPage {
  std::size_t size;
  std::size_t offset;
};

std::vector<MapPage> pagesOf(std::string_view map) {
  std::vector<MapPage> pages;
  for (std::size_t at = 0; at + 2 <= map.size();) {
    const std::size_t size = static_cast<std::uint8_t>(map[at]) << 8 | static_cast<std::uint8_t>(map[at + 1]);
    pages.push_back({size, at});
    at += size + 2;
  }
  return pages;
}

TEST(DwgObjectMap, WritesPagesOfAtMost2032BytesAndReadsThemBack) {
  for (std::size_t count : {0, 1, 700, 5000}) {
    SCOPED_TRACE(count);
    const std::vector<DwgObjectLocation> objects = scatteredObjects(count);
    std::string file(0x400 + 40 * count + 4, '\0');
    const auto address = static_cast<std::uint32_t>(file.size());
    ASSERT_TRUE(writeDwgObjectMap(objects, file).ok());
    const DwgSectionLocator where{2, address, static_cast<std::uint32_t>(file.size() - address)};
    const std::vector<MapPage> pages = pagesOf(std::string_view(file).substr(address));
    ASSERT_FALSE(pages.empty());
    EXPECT_EQ(pages.back().size, 2u);
    if (count == 0) {
      EXPECT_EQ(pages.size(), 1u);
    }
    if (count == 5000) {
      EXPECT_GT(pages.size(), 3u);
    }
    for (const MapPage& p : pages) EXPECT_LE(p.size, kDwgMapPageLimit);
    const DwgObjectMapRead read = readDwgObjectMap(file, where);
    ASSERT_TRUE(read.status.ok()) << read.status.detail;
    EXPECT_EQ(read.objects, objects);
  }
  std::string out;
  const std::vector<DwgObjectLocation> falling = {{5, 10}, {4, 20}};
  EXPECT_EQ(writeDwgObjectMap(falling, out).code, StatusCode::OutOfRange);
  const std::vector<DwgObjectLocation> nullHandle = {{0, 10}};
  EXPECT_EQ(writeDwgObjectMap(nullHandle, out).code, StatusCode::OutOfRange);
}

// A map page around `pairs`, with its size and CRC.
std::string pageOf(std::string_view pairs) {
  std::string page;
  page.push_back(static_cast<char>((pairs.size() + 2) >> 8));
  page.push_back(static_cast<char>((pairs.size() + 2) & 0xFF));
  page.append(pairs);
  const std::uint16_t crc = dwgCrc16(page);
  page.push_back(static_cast<char>(crc >> 8));
  page.push_back(static_cast<char>(crc & 0xFF));
  return page;
}

TEST(DwgObjectMap, DamagedMapsAnswerWithAStatus) {
  const std::string end = pageOf("");
  struct Case {
    const char* name;
    std::string map;
    StatusCode code;
  };
  std::string badCrc = pageOf("\x01\x10") + end;
  badCrc[4] ^= 1;
  std::string oversized = pageOf(std::string(2040, '\x01')) + end;
  const std::vector<Case> cases = {
      {"page CRC", badCrc, StatusCode::BadFile},
      {"page of 2041 bytes", oversized, StatusCode::OutOfRange},
      {"page size past the map", std::string("\x00\x40\x01\x10", 4), StatusCode::OutOfRange},
      {"page size below 2", pageOf("").replace(0, 2, std::string("\x00\x01", 2)), StatusCode::BadFile},
      {"null first handle", pageOf(std::string("\x00\x10", 2)) + end, StatusCode::BadFile},
      {"repeated handle", pageOf(std::string("\x01\x10\x00\x01", 4)) + end, StatusCode::BadFile},
      {"handle falling across pages", pageOf("\x05\x10") + pageOf("\x03\x10") + end, StatusCode::BadFile},
      {"address before the file", pageOf("\x01\x10\x01\x51") + end, StatusCode::OutOfRange},
      {"address past the file", pageOf("\x01\xFF\x3F") + end, StatusCode::OutOfRange},
      {"pair cut by the page end", pageOf("\x01") + end, StatusCode::BadFile},
      {"modular value running on", pageOf("\x01\x90\x90") + end, StatusCode::BadFile},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string file(0x20, '\0');
    const DwgSectionLocator where{2, 0x20, static_cast<std::uint32_t>(c.map.size())};
    file += c.map;
    const DwgObjectMapRead read = readDwgObjectMap(file, where);
    EXPECT_EQ(read.status.code, c.code) << read.status.detail;
  }
  // A map without its final empty page ends at the locator's end.
  std::string file(0x20, '\0');
  file += pageOf("\x01\x10\x02\x02");
  const DwgObjectMapRead read = readDwgObjectMap(file, {2, 0x20, 8});
  ASSERT_TRUE(read.status.ok()) << read.status.detail;
  EXPECT_EQ(read.objects, (std::vector<DwgObjectLocation>{{1, 0x10}, {3, 0x12}}));
  EXPECT_EQ(readDwgObjectMap(file, {2, 0x20, 9}).status.code, StatusCode::OutOfRange);
}

TEST(DwgObjectFrame, FramesTheDataWithSizeAndCrc) {
  for (std::size_t size : {0, 1, 0x7FFF, 0x8000, 70000}) {
    SCOPED_TRACE(size);
    std::string file = "pre";
    const std::string data(size, '\x5A');
    writeDwgObjectFrame(data, file);
    EXPECT_EQ(file.size(), 3 + (size > 0x7FFF ? 4 : 2) + size + 2);
    const DwgObjectFrame read = readDwgObjectFrame(file, 3);
    ASSERT_TRUE(read.status.ok()) << read.status.detail;
    EXPECT_EQ(read.data, data);
    file.back() ^= 1;
    EXPECT_EQ(readDwgObjectFrame(file, 3).status.code, StatusCode::BadFile);
    EXPECT_EQ(readDwgObjectFrame(std::string_view(file).substr(0, file.size() - 1), 3).status.code,
              StatusCode::OutOfRange);
  }
  EXPECT_EQ(readDwgObjectFrame("ab", 2).status.code, StatusCode::OutOfRange);
  EXPECT_EQ(readDwgObjectFrame(std::string("\xFF\xFF", 2), 0).status.code, StatusCode::BadFile);
}

// ------------------------------------------------------------------ corpus

std::vector<fs::path> corpusFiles() { return dwgCorpusDrawings(fs::path(TROVAK_CORPUS_DIR) / "dwg"); }

TEST(DwgCorpus, EveryObjectOfTheMapHasItsFrameAndItsHandle) {
  const std::vector<fs::path> files = corpusFiles();
  if (files.empty()) GTEST_SKIP() << "no DWG corpus of R14 and 2000";
  for (const fs::path& path : files) {
    SCOPED_TRACE(path.string());
    const std::string file = fileContents(path);
    const DwgFileHeaderRead header = readDwgFileHeader(file);
    ASSERT_TRUE(header.status.ok()) << header.status.detail;
    const DwgFileHeader& h = header.header;
    EXPECT_EQ(h.locators.size(), h.release == Release::R2000 ? 6u : 5u);

    // Writing the header read gives the file's bytes again.
    std::string again;
    ASSERT_TRUE(writeDwgFileHeader(h, again).ok());
    EXPECT_EQ(again, file.substr(0, again.size()));

    EXPECT_TRUE(readDwgSentinelBlock(file, *h.locator(DwgSection::HeaderVariables), kDwgHeaderVariablesBegin)
                    .status.ok());
    EXPECT_TRUE(readDwgSentinelBlock(file, *h.locator(DwgSection::Classes), kDwgClassesBegin).status.ok());

    const DwgSectionLocator& where = *h.locator(DwgSection::ObjectMap);
    const DwgObjectMapRead map = readDwgObjectMap(file, where);
    ASSERT_TRUE(map.status.ok()) << map.status.detail;
    ASSERT_GT(map.objects.size(), 10u);
    EXPECT_LE(map.objects.size(), where.size / 2);
    for (const DwgObjectLocation& o : map.objects) {
      const DwgObjectFrame frame = readDwgObjectFrame(file, o.address);
      ASSERT_TRUE(frame.status.ok()) << frame.status.detail;
      // Type, in 2000 the bit size, then the object's own handle.
      DwgBitReader bits(frame.data);
      bits.readObjectType();
      if (h.release == Release::R2000) bits.readRawLong();
      const DwgHandleRef own = bits.readHandle();
      ASSERT_FALSE(bits.failed());
      EXPECT_EQ(own.code, 0);
      EXPECT_EQ(own.value, o.handle);
    }

    // The map written again (in pages of our own size) reads the same.
    std::string rewritten = file;
    const auto at = static_cast<std::uint32_t>(rewritten.size());
    ASSERT_TRUE(writeDwgObjectMap(map.objects, rewritten).ok());
    const DwgObjectMapRead reread =
        readDwgObjectMap(rewritten, {2, at, static_cast<std::uint32_t>(rewritten.size() - at)});
    ASSERT_TRUE(reread.status.ok()) << reread.status.detail;
    EXPECT_EQ(reread.objects, map.objects);
  }
}

TEST(DwgCorpus, CutOrChangedCorpusFilesAnswerWithAStatus) {
  const std::vector<fs::path> files = corpusFiles();
  if (files.empty()) GTEST_SKIP() << "no DWG corpus of R14 and 2000";
  const std::string file = fileContents(files.front());
  const DwgFileHeader h = readDwgFileHeader(file).header;
  const DwgSectionLocator& where = *h.locator(DwgSection::ObjectMap);
  // Cut inside the object map: the header refuses the locator.
  EXPECT_EQ(readDwgFileHeader(std::string_view(file).substr(0, where.address + where.size / 2)).status.code,
            StatusCode::OutOfRange);
  // Any changed byte of the map is found by its page CRC or its checks.
  for (std::size_t i = 0; i < where.size; i += 97) {
    std::string changed = file;
    changed[where.address + i] ^= 0x21;
    EXPECT_FALSE(readDwgObjectMap(changed, where).status.ok()) << "byte " << i;
  }
}

}  // namespace

// ------------------------------------------------------------ peer readers

// The object count in the verdict line of the DWG oracle ("objects=74").
std::string objectCountOf(const std::string& verdict) {
  const std::size_t at = verdict.find(" objects=");
  return at == std::string::npos ? "" : verdict.substr(at + 9, verdict.find(' ', at + 9) - at - 9);
}

TEST(DwgPeerReaders, FollowTheHeaderAndObjectMapWeWrite) {
  const fs::path oracle = fs::path(TROVAK_CORPUS_DIR).parent_path() / "tools" / "dwg-oracle";
  const fs::path root = fs::path(TROVAK_CORPUS_DIR) / "dwg";
  const std::vector<fs::path> samples = {root / "r14" / "v.dwg", root / "2000" / "entities-2d.dwg"};
  if (!fs::exists(oracle / "dwg-check") || !fs::exists(samples[0]) || !fs::exists(samples[1]))
    GTEST_SKIP() << "no DWG oracle or corpus";
  const fs::path dir = fs::temp_directory_path() / ("dwg_frame_" + std::to_string(getpid()));
  fs::create_directories(dir);
  for (const fs::path& sample : samples) {
    SCOPED_TRACE(sample.string());
    const std::string file = fileContents(sample);
    DwgFileHeader h = readDwgFileHeader(file).header;
    const DwgSectionLocator old = *h.locator(DwgSection::ObjectMap);
    const DwgObjectMapRead map = readDwgObjectMap(file, old);
    ASSERT_TRUE(map.status.ok()) << map.status.detail;
    // Our map goes after the file; the native one is wiped, so a reader
    // that finds the objects found them through ours.
    std::string changed = file;
    changed.replace(old.address, old.size, std::string(old.size, '\xEE'));
    const auto at = static_cast<std::uint32_t>(changed.size());
    ASSERT_TRUE(writeDwgObjectMap(map.objects, changed).ok());
    for (DwgSectionLocator& l : h.locators)
      if (l.number == static_cast<std::uint8_t>(DwgSection::ObjectMap)) l = {l.number, at, static_cast<std::uint32_t>(changed.size() - at)};
    std::string header;
    ASSERT_TRUE(writeDwgFileHeader(h, header).ok());
    changed.replace(0, header.size(), header);
    const fs::path path = dir / sample.filename();
    std::ofstream(path, std::ios::binary) << changed;

    const std::string verdict = commandOutput((oracle / "dwg-check").string() + " " + path.string() + " 2>&1");
    EXPECT_NE(verdict.find(": OK "), std::string::npos) << verdict;
    EXPECT_EQ(objectCountOf(verdict), std::to_string(map.objects.size())) << verdict;
    const std::string converted = commandOutput((oracle / "bin" / "dxfrw-dwg2dxf").string() + " " + path.string() +
                                           " -y -v2000 " + (dir / "out.dxf").string() + " 2>&1");
    EXPECT_NE(converted.find("Success"), std::string::npos) << converted;
  }
  fs::remove_all(dir);
  fs::remove("/tmp/extmax.txt");
}
