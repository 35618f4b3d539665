// The paged layout of DWG files of 2004 and later: checksums and the byte
// sequence against known values, files written and read back section for
// section, the corpus files read and re-laid-out, and damaged copies
// (checksums, truncation, lying sizes, ids and offsets, expansions past
// their size) answered with a status.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <vector>

#include "dwg_corpus_files.h"
#include "drawingdb/dwg_compression.h"
#include "drawingdb/dwg_paged_file.h"
#include "drawingdb/dwg_sections.h"

using namespace drawingdb;
namespace fs = std::filesystem;

namespace {

std::string hexBytes(std::string_view s) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string out;
  for (char c : s) {
    if (!out.empty()) out += ' ';
    out += kDigits[static_cast<std::uint8_t>(c) >> 4];
    out += kDigits[static_cast<std::uint8_t>(c) & 15];
  }
  return out;
}

std::uint32_t rl(std::string_view b, std::size_t at) {
  std::uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = v << 8 | static_cast<std::uint8_t>(b[at + static_cast<std::size_t>(i)]);
  return v;
}
void setRl(std::string& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + static_cast<std::size_t>(i)] = static_cast<char>(v >> (8 * i));
}

std::vector<fs::path> corpusFiles() {
  std::vector<fs::path> files;
  const fs::path root = fs::path(TROVAK_CORPUS_DIR) / "dwg";
  for (const char* dir : {"2004", "2010", "2013", "2018"}) {
    if (!fs::is_directory(root / dir)) continue;
    for (const fs::directory_entry& e : fs::directory_iterator(root / dir))
      if (e.path().extension() == ".dwg") files.push_back(e.path());
  }
  std::sort(files.begin(), files.end());
  return files;
}

std::vector<DwgPagedSectionData> sampleSections() {
  std::string objects("\xCA\x0D\x00\x00", 4);
  for (int i = 0; objects.size() < 0x7400 * 2 + 1000; ++i) objects += "object " + std::to_string(i * 7919 % 10007) + ";";
  return {
      {"AcDb:SummaryInfo", std::string("\x01\x00\x00", 3) + std::string(60, '\x02'), false, 0},
      {"AcDb:Preview", std::string(200, '\x07'), false, 0x400},
      {"AcDb:FileDepList", std::string(8, '\0'), false, 0},
      {"AcDb:AcDbObjects", objects, true, 0},
      {"AcDb:Template", "", true, 0},
      {"AcDb:Header", std::string("header variables ") + std::string(500, 'h'), true, 0},
  };
}

std::string sampleFile(Release release = Release::R2004) {
  DwgPagedHeader h;
  h.release = release;
  h.codepage = 29;
  const std::vector<DwgPagedSectionData> sections = sampleSections();
  std::string file;
  EXPECT_TRUE(writeDwgPagedFile(h, sections, file).ok());
  return file;
}

// Replaces the body of the system page at `address` with `body`, checksum
// renewed; the compressed body must fit the page.
void rewriteSystemPage(std::string& file, const DwgPagedFile& layout, std::uint64_t address, std::string_view body,
                       std::uint32_t statedSize) {
  std::string packed;
  ASSERT_TRUE(dwgCompress(body, packed).ok());
  std::uint32_t room = 0;
  for (const DwgPage& p : layout.pages)
    if (p.address == address) room = p.size;
  ASSERT_LE(packed.size() + 20, std::max<std::size_t>(room, file.size() - address));
  std::string head = file.substr(address, 20);
  setRl(head, 4, statedSize);
  setRl(head, 8, static_cast<std::uint32_t>(packed.size()));
  setRl(head, 16, 0);
  setRl(head, 16, dwgPageChecksum(packed, dwgPageChecksum(head, 0)));
  file.replace(address, 20, head);
  file.replace(address + 20, packed.size(), packed);
}

std::string systemBody(std::string_view file, std::uint64_t address) {
  std::string body(rl(file, address + 4), '\0');
  std::size_t produced = 0;
  EXPECT_TRUE(dwgDecompress(file.substr(address + 20, rl(file, address + 8)), body, produced).ok());
  return body;
}

TEST(DwgPagedFile, ChecksumsAndTheByteSequenceGiveTheKnownValues) {
  EXPECT_EQ(dwgCrc32("123456789"), 0xCBF43926u);
  EXPECT_EQ(dwgPageChecksum("123456789", 0), 0x091501DDu);
  EXPECT_EQ(dwgPageChecksum("123456789", 0x12345678), 0x25AE5855u);
  EXPECT_EQ(dwgPageChecksum(std::string(0x3000, '\0'), 0), 0u);
  // Sums that would pass 32 bits without the reduction after each chunk.
  EXPECT_EQ(dwgPageChecksum(std::string(0x20000, '\xFF'), 0xFFF0FFF0), 0xCF1F1DE1u);

  std::string zeros(16, '\0');
  dwgScramble(zeros);
  EXPECT_EQ(hexBytes(zeros), "29 23 BE 84 E1 6C D6 AE 52 90 49 F1 F1 BB E9 EB");
  std::string id("AcFssFcAJMB\0", 12);
  dwgScramble(id);
  EXPECT_EQ(hexBytes(id), "68 40 F8 F7 92 2A B5 EF 18 DD 0B F1");
  std::string tail(20, '\0');
  dwgScramble(tail, 0xEC);
  EXPECT_EQ(hexBytes(tail), "F8 46 6A 04 96 73 0E D9 16 2F 67 68 D4 F7 4A 4A D0 57 68 76");
}

TEST(DwgPagedFile, WrittenFilesReadBackSectionForSection) {
  for (Release r : {Release::R2004, Release::R2010, Release::R2013, Release::R2018}) {
    SCOPED_TRACE(releaseInfo(r).version);
    const std::string file = sampleFile(r);
    ASSERT_TRUE(isDwgPagedFile(file));
    DwgPagedFile layout;
    const Status s = readDwgPagedFile(file, layout);
    ASSERT_TRUE(s.ok()) << s.detail;
    EXPECT_EQ(layout.header.release, r);
    EXPECT_EQ(layout.header.codepage, 29);
    // SummaryInfo is the first page, the preview the second; the header
    // names the first byte of their data.
    EXPECT_EQ(layout.header.summaryInfoAddress, 0x120u);
    EXPECT_EQ(layout.header.previewAddress, 0x1C0u);
    EXPECT_EQ(file.substr(0x1C0, 200), std::string(200, '\x07'));
    // Known before the layout while only stored pages come first: the
    // FileDepList after the preview's 0x400 bytes; not after the objects.
    const std::vector<DwgPagedSectionData> sections = sampleSections();
    EXPECT_EQ(dwgPagedDataAddress(sections, 0), std::optional<std::uint64_t>(0x120));
    EXPECT_EQ(dwgPagedDataAddress(sections, 1), std::optional<std::uint64_t>(0x1C0));
    EXPECT_EQ(dwgPagedDataAddress(sections, 2), std::optional<std::uint64_t>(0x1C0 + 0x400 + 0x20));
    EXPECT_EQ(dwgPagedDataAddress(sections, 4), std::nullopt);
    EXPECT_EQ(dwgPagedDataAddress(sections, 9), std::nullopt);
    // Data pages 1..7 (the objects take three), the section map and the page map.
    EXPECT_EQ(layout.header.sectionMapId, 8u);
    EXPECT_EQ(layout.header.pageMapId, 9u);
    EXPECT_EQ(layout.pages.size(), 9u);
    EXPECT_EQ(file.substr(layout.header.headerCopyAddress, kDwgPagedHeaderBlock), file.substr(0x80, kDwgPagedHeaderBlock));
    EXPECT_EQ(file.size(), layout.header.headerCopyAddress + kDwgPagedHeaderBlock);
    ASSERT_EQ(layout.sections.size(), 7u);
    EXPECT_EQ(layout.sections[0].name, "");
    for (const DwgPagedSectionData& d : sampleSections()) {
      SCOPED_TRACE(d.name);
      const DwgSectionInfo* info = layout.section(d.name);
      ASSERT_NE(info, nullptr);
      EXPECT_EQ(info->compression, d.compressed ? 2u : 1u);
      std::string data;
      const Status read = readDwgPagedSection(file, layout, *info, data);
      ASSERT_TRUE(read.ok()) << read.detail;
      EXPECT_EQ(data, d.data);
    }
    std::string none;
    EXPECT_EQ(readDwgPagedSection(file, layout, "AcDb:Handles", none).code, StatusCode::NotFound);
  }
}

TEST(DwgPagedFile, CorpusFilesReadAndLayOutAgainTheSame) {
  const std::vector<fs::path> files = corpusFiles();
  if (files.empty()) GTEST_SKIP() << "no DWG files of 2004 and later in the corpus";
  for (const fs::path& path : files) {
    SCOPED_TRACE(path.string());
    const std::string file = fileContents(path);
    DwgPagedFile layout;
    const Status s = readDwgPagedFile(file, layout);
    ASSERT_TRUE(s.ok()) << s.detail;
    std::vector<DwgPagedSectionData> sections;
    for (const DwgSectionInfo& info : layout.sections) {
      if (info.name.empty()) continue;
      std::string data;
      const Status read = readDwgPagedSection(file, layout, info, data);
      ASSERT_TRUE(read.ok()) << info.name << ": " << read.detail;
      EXPECT_EQ(data.size(), info.size);
      sections.push_back({info.name, data, info.compression == 2, info.compression == 2 ? 0 : info.maxPageSize});
    }
    auto data = [&](std::string_view name) {
      for (const DwgPagedSectionData& d : sections)
        if (d.name == name) return std::string_view(d.data);
      return std::string_view();
    };
    EXPECT_EQ(hexBytes(data("AcDb:Header").substr(0, 4)), "CF 7B 1F 23");
    EXPECT_EQ(hexBytes(data("AcDb:Classes").substr(0, 4)), "8D A1 C4 B8");
    EXPECT_EQ(hexBytes(data("AcDb:AcDbObjects").substr(0, 4)), "CA 0D 00 00");
    EXPECT_EQ(hexBytes(data("AcDb:AuxHeader").substr(0, 2)), "FF 77");
    // The header's SummaryInfo address is the first byte of its page's data.
    const DwgSectionInfo* summary = layout.section("AcDb:SummaryInfo");
    ASSERT_NE(summary, nullptr);
    ASSERT_EQ(summary->pages.size(), 1u);
    EXPECT_EQ(layout.header.summaryInfoAddress, layout.page(static_cast<std::int32_t>(summary->pages[0].id))->address + 32);

    // Laid out again by the writer, every section reads back the same.
    std::string again;
    ASSERT_TRUE(writeDwgPagedFile(layout.header, sections, again).ok());
    DwgPagedFile back;
    ASSERT_TRUE(readDwgPagedFile(again, back).ok());
    for (const DwgPagedSectionData& d : sections) {
      std::string read;
      ASSERT_TRUE(readDwgPagedSection(again, back, d.name, read).ok()) << d.name;
      EXPECT_EQ(read, d.data) << d.name;
    }
  }
}

// A damage done to the sample file and where it shows: in the layout
// (page map, section map, headers) or in one section.
struct Damage {
  const char* what;
  std::function<void(std::string& file, const DwgPagedFile& layout)> apply;
  const char* section;  // nullptr: readDwgPagedFile fails
  StatusCode code = StatusCode::BadFile;
};

const DwgPage& pageOf(const DwgPagedFile& layout, std::string_view section, std::size_t n = 0) {
  return *layout.page(static_cast<std::int32_t>(layout.section(section)->pages.at(n).id));
}

// The section map with one section's description changed.
void changeDescription(std::string& file, const DwgPagedFile& layout, std::string_view name,
                       const std::function<void(std::string& body, std::size_t at)>& change) {
  const DwgPage& map = *layout.page(static_cast<std::int32_t>(layout.header.sectionMapId));
  std::string body = systemBody(file, map.address);
  std::size_t at = 20;
  for (const DwgSectionInfo& s : layout.sections) {
    if (s.name == name) break;
    at += 96 + 16 * s.pages.size();
  }
  change(body, at);
  rewriteSystemPage(file, layout, map.address, body, static_cast<std::uint32_t>(body.size()));
}

TEST(DwgPagedFile, DamagedFilesAreRefusedWithAStatus) {
  const std::vector<Damage> damages = {
      {"the file ID", [](std::string& f, const DwgPagedFile&) { f[0x81] ^= 1; }, nullptr},
      {"the header block's CRC", [](std::string& f, const DwgPagedFile&) { f[0xB0] ^= 1; }, nullptr},
      {"cut before the pages", [](std::string& f, const DwgPagedFile&) { f.resize(0xF0); }, nullptr},
      {"cut inside the page map",
       [](std::string& f, const DwgPagedFile& l) { f.resize(l.header.pageMapAddress + 0x100 + 24); }, nullptr},
      {"a page map checksum",
       [](std::string& f, const DwgPagedFile& l) { f[l.header.pageMapAddress + 0x100 + 22] ^= 0x40; }, nullptr},
      {"a page map placed beyond the file",
       [](std::string& f, const DwgPagedFile&) {
         std::string block = f.substr(0x80, 0x6C);
         dwgScramble(block);
         setRl(block, 0x54, 0x7FFFFFF0);
         setRl(block, 0x68, 0);
         setRl(block, 0x68, dwgCrc32(block));
         dwgScramble(block);
         f.replace(0x80, 0x6C, block);
       },
       nullptr},
      {"a page map that expands past its stated size",
       [](std::string& f, const DwgPagedFile& l) {
         const std::uint64_t at = l.header.pageMapAddress + 0x100;
         rewriteSystemPage(f, l, at, systemBody(f, at), rl(f, at + 4) - 8);
       },
       nullptr},
      {"a page map listing a page twice",
       [](std::string& f, const DwgPagedFile& l) {
         const std::uint64_t at = l.header.pageMapAddress + 0x100;
         std::string body = systemBody(f, at);
         setRl(body, 8, rl(body, 0));
         rewriteSystemPage(f, l, at, body, static_cast<std::uint32_t>(body.size()));
       },
       nullptr},
      {"a section map counting more sections than it holds",
       [](std::string& f, const DwgPagedFile& l) {
         changeDescription(f, l, "", [](std::string& body, std::size_t) { setRl(body, 0, 5000); });
       },
       nullptr},
      {"a section listing more pages than the map holds",
       [](std::string& f, const DwgPagedFile& l) {
         changeDescription(f, l, "AcDb:Header", [](std::string& body, std::size_t at) { setRl(body, at + 8, 90000); });
       },
       nullptr},
      {"a data page's checksum",
       [](std::string& f, const DwgPagedFile& l) { f[pageOf(l, "AcDb:Header").address + 40] ^= 0x10; }, "AcDb:Header"},
      {"a stored page's data",
       [](std::string& f, const DwgPagedFile& l) { f[pageOf(l, "AcDb:SummaryInfo").address + 40] ^= 0x10; },
       "AcDb:SummaryInfo"},
      {"a data page's header",
       [](std::string& f, const DwgPagedFile& l) { f[pageOf(l, "AcDb:Header").address] ^= 0x10; }, "AcDb:Header"},
      {"a section larger than its pages hold",
       [](std::string& f, const DwgPagedFile& l) {
         changeDescription(f, l, "AcDb:Header", [](std::string& body, std::size_t at) { setRl(body, at, 0x7401); });
       },
       "AcDb:Header"},
      {"a section without pages larger than the file",
       [](std::string& f, const DwgPagedFile& l) {
         changeDescription(f, l, "AcDb:Template", [](std::string& body, std::size_t at) { setRl(body, at + 4, 1); });
       },
       "AcDb:Template"},
      {"a page's size in the section map",
       [](std::string& f, const DwgPagedFile& l) {
         changeDescription(f, l, "AcDb:Header", [](std::string& body, std::size_t at) {
           setRl(body, at + 96 + 4, rl(body, at + 96 + 4) + 1);
         });
       },
       "AcDb:Header"},
      {"a page's offset in the section map",
       [](std::string& f, const DwgPagedFile& l) {
         changeDescription(f, l, "AcDb:AcDbObjects", [](std::string& body, std::size_t at) { setRl(body, at + 96 + 8, 0x7400); });
       },
       "AcDb:AcDbObjects"},
      {"a page id the page map lacks",
       [](std::string& f, const DwgPagedFile& l) {
         changeDescription(f, l, "AcDb:Header", [](std::string& body, std::size_t at) { setRl(body, at + 96, 77); });
       },
       "AcDb:Header"},
      {"a page of another section",
       [](std::string& f, const DwgPagedFile& l) {
         const std::uint32_t other = l.section("AcDb:Header")->pages[0].id;
         changeDescription(f, l, "AcDb:AcDbObjects", [other](std::string& body, std::size_t at) { setRl(body, at + 96, other); });
       },
       "AcDb:AcDbObjects"},
      {"a page listed twice in a section",
       [](std::string& f, const DwgPagedFile& l) {
         changeDescription(f, l, "AcDb:AcDbObjects",
                           [](std::string& body, std::size_t at) { setRl(body, at + 96 + 16, rl(body, at + 96)); });
       },
       "AcDb:AcDbObjects"},
      {"a password-protected section",
       [](std::string& f, const DwgPagedFile& l) {
         changeDescription(f, l, "AcDb:Header", [](std::string& body, std::size_t at) { setRl(body, at + 28, 1); });
       },
       "AcDb:Header", StatusCode::NotSupported},
      {"a password-protected drawing", [](std::string& f, const DwgPagedFile&) { f[0x18] = 1; }, nullptr,
       StatusCode::NotSupported},
  };
  const std::string sound = sampleFile();
  DwgPagedFile layout;
  ASSERT_TRUE(readDwgPagedFile(sound, layout).ok());
  for (const Damage& d : damages) {
    SCOPED_TRACE(d.what);
    std::string file = sound;
    d.apply(file, layout);
    DwgPagedFile read;
    const Status s = readDwgPagedFile(file, read);
    if (d.section == nullptr) {
      EXPECT_EQ(s.code, d.code) << s.detail;
      EXPECT_FALSE(s.detail.empty());
      continue;
    }
    ASSERT_TRUE(s.ok()) << s.detail;
    std::string data;
    const Status section = readDwgPagedSection(file, read, d.section, data);
    EXPECT_EQ(section.code, d.code) << section.detail;
    EXPECT_FALSE(section.detail.empty());
    // The other sections still read.
    std::string other;
    const char* elsewhere = std::string_view(d.section) == "AcDb:FileDepList" ? "AcDb:Header" : "AcDb:FileDepList";
    EXPECT_TRUE(readDwgPagedSection(file, read, elsewhere, other).ok());
  }
}

// A file of the object layer: header variables and classes within their
// sentinels (from 2010 on with the size's high word), three objects and
// their map.
struct ObjectFile {
  std::string headerSection, classesSection, objects, handles;
  std::vector<DwgObjectLocation> map;
};

ObjectFile objectFile(Release r) {
  ObjectFile f;
  auto framed = [&](std::string_view data, const DwgSentinel& begin) {
    std::string out;
    EXPECT_TRUE(writeDwgSentinelBlock(data, begin, out).ok());
    if (r >= Release::R2010) {
      // The size's high word, covered by the CRC.
      out.insert(20, 4, '\0');
      const std::uint16_t crc = dwgCrc16(std::string_view(out).substr(16, 8 + data.size()));
      out[24 + data.size()] = static_cast<char>(crc & 0xFF);
      out[25 + data.size()] = static_cast<char>(crc >> 8);
    }
    return out;
  };
  f.headerSection = framed("variables", kDwgHeaderVariablesBegin);
  f.classesSection = framed("classes", kDwgClassesBegin) + std::string(8, '\0');
  f.objects.assign("\xCA\x0D\x00\x00", 4);
  for (Handle h : {Handle{1}, Handle{2}, Handle{0x30}}) {
    f.map.push_back({h, f.objects.size()});
    std::string data(5 + h % 7, static_cast<char>(h));
    if (r >= Release::R2010) {
      // MS size, UMC handle bits, data, CRC.
      std::string frame;
      frame.push_back(static_cast<char>(data.size()));
      frame.push_back(0);
      frame.push_back(8);
      frame += data;
      const std::uint16_t crc = dwgCrc16(frame);
      frame.push_back(static_cast<char>(crc & 0xFF));
      frame.push_back(static_cast<char>(crc >> 8));
      f.objects += frame;
    } else {
      writeDwgObjectFrame(data, f.objects);
    }
  }
  EXPECT_TRUE(writeDwgObjectMap(f.map, f.handles).ok());
  return f;
}

std::string fileOf(const ObjectFile& f, Release r) {
  DwgPagedHeader h;
  h.release = r;
  const std::vector<DwgPagedSectionData> sections = {
      {"AcDb:AcDbObjects", f.objects, true, 0},
      {"AcDb:Handles", f.handles, true, 0},
      {"AcDb:Classes", f.classesSection, true, 0},
      {"AcDb:Header", f.headerSection, true, 0},
  };
  std::string file;
  EXPECT_TRUE(writeDwgPagedFile(h, sections, file).ok());
  return file;
}

TEST(DwgPagedIndex, FindsTheVariablesClassesAndEveryObject) {
  for (Release r : {Release::R2004, Release::R2010, Release::R2018}) {
    SCOPED_TRACE(releaseInfo(r).version);
    const ObjectFile f = objectFile(r);
    DwgPagedIndex index;
    const Status s = indexDwgPagedFile(fileOf(f, r), index);
    ASSERT_TRUE(s.ok()) << s.detail;
    EXPECT_EQ(index.headerVariables, "variables");
    EXPECT_EQ(index.classes, "classes");
    EXPECT_EQ(index.objectMap, f.map);
    for (const DwgObjectLocation& o : index.objectMap) {
      const DwgPagedObjectFrame frame = readDwgPagedObjectFrame(index.objects, o.address, r);
      ASSERT_TRUE(frame.status.ok()) << frame.status.detail;
      EXPECT_EQ(frame.data, std::string(5 + o.handle % 7, static_cast<char>(o.handle)));
      EXPECT_EQ(frame.handleBits, r >= Release::R2010 ? 8u : 0u);
    }
  }
}

TEST(DwgPagedIndex, DamagedSectionsAndObjectsAreRefused) {
  struct Case {
    const char* what;
    std::function<void(ObjectFile&)> damage;
  };
  const std::vector<Case> cases = {
      {"the header variables' CRC", [](ObjectFile& f) { f.headerSection[22] ^= 1; }},
      {"the header variables' size", [](ObjectFile& f) { f.headerSection[16] = 100; }},
      {"the classes' end sentinel", [](ObjectFile& f) { f.classesSection[f.classesSection.size() - 9] ^= 1; }},
      {"the classes' begin sentinel", [](ObjectFile& f) { f.classesSection[0] ^= 1; }},
      {"an object map entry beyond the objects", [](ObjectFile& f) {
         f.handles.clear();
         f.map.back().address = f.objects.size();
         writeDwgObjectMap(f.map, f.handles);
       }},
      {"the object map's CRC", [](ObjectFile& f) { f.handles[3] ^= 1; }},
  };
  for (Release r : {Release::R2004, Release::R2010}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(releaseInfo(r).version) + ": " + c.what);
      ObjectFile f = objectFile(r);
      c.damage(f);
      DwgPagedIndex index;
      const Status s = indexDwgPagedFile(fileOf(f, r), index);
      EXPECT_NE(s.code, StatusCode::Ok);
      EXPECT_FALSE(s.detail.empty());
    }
    // Damaged object frames show when the object is read.
    ObjectFile f = objectFile(r);
    f.objects[f.map[1].address + 3] ^= 1;
    DwgPagedIndex index;
    ASSERT_TRUE(indexDwgPagedFile(fileOf(f, r), index).ok());
    EXPECT_EQ(readDwgPagedObjectFrame(index.objects, f.map[1].address, r).status.code, StatusCode::BadFile);
    EXPECT_TRUE(readDwgPagedObjectFrame(index.objects, f.map[2].address, r).status.ok());
    EXPECT_EQ(readDwgPagedObjectFrame(index.objects, index.objects.size() - 3, r).status.code, StatusCode::BadFile);
    EXPECT_EQ(readDwgPagedObjectFrame(index.objects, index.objects.size(), r).status.code, StatusCode::BadFile);
  }
}

TEST(DwgPagedIndex, CorpusFilesIndexToEveryObject) {
  const std::vector<fs::path> files = corpusFiles();
  if (files.empty()) GTEST_SKIP() << "no DWG files of 2004 and later in the corpus";
  for (const fs::path& path : files) {
    SCOPED_TRACE(path.string());
    DwgPagedIndex index;
    const Status s = indexDwgPagedFile(fileContents(path), index);
    ASSERT_TRUE(s.ok()) << s.detail;
    EXPECT_GT(index.objectMap.size(), 100u);
    EXPECT_EQ(index.objectMap.front().address, 4u);
    for (const DwgObjectLocation& o : index.objectMap) {
      const DwgPagedObjectFrame frame = readDwgPagedObjectFrame(index.objects, o.address, index.layout.header.release);
      ASSERT_TRUE(frame.status.ok()) << frame.status.detail;
    }
  }
}

// The classes of 2004 open with their highest number and carry counts of
// their instances.
TEST(DwgPagedIndex, ClassesOf2004ReadAndWriteBack) {
  std::vector<ClassDef> classes(3);
  classes[0] = {"LAYOUT", "AcDbLayout", "ObjectDBX Classes", 0, 3, false, false};
  classes[1] = {"SCALE", "AcDbScale", "ObjectDBX Classes", 1153, 33, false, false};
  classes[2] = {"WIPEOUT", "AcDbWipeout", "WipeOut", 127, 0, true, true};
  const CodePage page = CodePage::named("ANSI_1252");
  std::string data;
  ASSERT_TRUE(writeDwgClasses(classes, Release::R2004, page, data).ok());
  const DwgClassesRead read = readDwgClasses(data, Release::R2004, page);
  ASSERT_TRUE(read.status.ok()) << read.status.detail;
  ASSERT_EQ(read.classes.size(), 3u);
  EXPECT_EQ(read.numbers, (std::vector<std::int16_t>{500, 501, 502}));
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(read.classes[i].dxfName, classes[i].dxfName);
    EXPECT_EQ(read.classes[i].instances, classes[i].instances);
    EXPECT_EQ(read.classes[i].flags, classes[i].flags);
    EXPECT_EQ(read.classes[i].isEntity, classes[i].isEntity);
  }
  // A count beyond what the data holds.
  data[0] = static_cast<char>(0xFF);
  EXPECT_FALSE(readDwgClasses(data, Release::R2004, page).status.ok());

  for (const fs::path& path : corpusFiles()) {
    if (path.parent_path().filename() != "2004") continue;
    SCOPED_TRACE(path.string());
    DwgPagedIndex index;
    ASSERT_TRUE(indexDwgPagedFile(fileContents(path), index).ok());
    const DwgClassesRead corpus = readDwgClasses(index.classes, Release::R2004, page);
    ASSERT_TRUE(corpus.status.ok()) << corpus.status.detail;
    ASSERT_GE(corpus.classes.size(), 4u);
    EXPECT_EQ(corpus.classes[2].dxfName, "LAYOUT");
    EXPECT_EQ(corpus.classes[2].instances, 3);
    for (std::size_t i = 0; i < corpus.numbers.size(); ++i) EXPECT_EQ(corpus.numbers[i], 500 + static_cast<int>(i));
  }
}

// The header variables of 2004 files: every handle they name is an object
// of the file, the next free handle lies above all of them, and written
// again they read back the same.
TEST(DwgPagedIndex, HeaderVariablesOf2004NameTheFilesObjects) {
  const CodePage page = CodePage::named("ANSI_1252");
  bool any = false;
  for (const fs::path& path : corpusFiles()) {
    if (path.parent_path().filename() != "2004") continue;
    SCOPED_TRACE(path.string());
    any = true;
    DwgPagedIndex index;
    ASSERT_TRUE(indexDwgPagedFile(fileContents(path), index).ok());
    Header header;
    DwgHeaderHandles handles;
    const Status s = readDwgHeaderVariables(index.headerVariables, Release::R2004, page, header, handles);
    ASSERT_TRUE(s.ok()) << s.detail;
    auto mapped = [&](Handle h) {
      return std::any_of(index.objectMap.begin(), index.objectMap.end(), [h](const DwgObjectLocation& o) { return o.handle == h; });
    };
    for (Handle h : {handles.modelSpace, handles.paperSpace, handles.byLayer, handles.byBlock, handles.continuous,
                     handles.namedObjects, handles.layerControl, handles.blockControl, handles.currentLayer,
                     handles.layoutDictionary, handles.materialDictionary, handles.colorDictionary}) {
      EXPECT_NE(h, 0u);
      EXPECT_TRUE(mapped(h)) << std::hex << h;
    }
    EXPECT_EQ(handles.vxControl, 0u);
    EXPECT_GT(handles.handseed, index.objectMap.back().handle);
    EXPECT_EQ(header.integer("$CECOLOR"), 256);
    EXPECT_EQ(header.real("$LTSCALE"), 1.0);

    std::string data;
    ASSERT_TRUE(writeDwgHeaderVariables(header, handles, Release::R2004, page, data).ok());
    Header back;
    DwgHeaderHandles backHandles;
    ASSERT_TRUE(readDwgHeaderVariables(data, Release::R2004, page, back, backHandles).ok());
    EXPECT_EQ(backHandles, handles);
    EXPECT_EQ(back.integer("$CECOLOR"), 256);
    EXPECT_EQ(back.real("$LTSCALE"), 1.0);
    std::string again;
    ASSERT_TRUE(writeDwgHeaderVariables(back, backHandles, Release::R2004, page, again).ok());
    EXPECT_EQ(again, data);
  }
  if (!any) GTEST_SKIP() << "no DWG files of 2004 in the corpus";
}

// Every prefix of a file is refused or read in full, never past its end.
TEST(DwgPagedFile, EveryTruncationIsRefused) {
  const std::string sound = sampleFile();
  for (std::size_t size = 0; size < sound.size() - kDwgPagedHeaderBlock - 20; size += 7) {
    const std::string_view cut = std::string_view(sound).substr(0, size);
    DwgPagedFile layout;
    Status s = readDwgPagedFile(cut, layout);
    for (std::size_t i = 0; s.ok() && i < layout.sections.size(); ++i) {
      std::string data;
      s = readDwgPagedSection(cut, layout, layout.sections[i], data);
    }
    EXPECT_FALSE(s.ok()) << size;
  }
}

}  // namespace
