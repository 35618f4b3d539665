// Whole DWG files of 2004: the sections a written file holds, what the
// object data of 2004 carries beside R2000's (colours, ownership lists),
// the corpus files read and written again, and damaged files, which end in
// a Status saying what is wrong, never in a crash, a hang or an unbounded
// allocation.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>

#include "drawingdb/dwg_compression.h"
#include "drawingdb/dwg_file.h"
#include "drawingdb/dwg_paged_file.h"
#include "drawingdb/file_io.h"
#include "sample_drawing.h"

using namespace drawingdb;
namespace fs = std::filesystem;

namespace {

std::string dwg2004(Database& db) {
  StringSink sink;
  const Status s = writeDwg(db, sink, {Release::R2004, nullptr});
  EXPECT_TRUE(s.ok()) << s.detail;
  return sink.data;
}

std::uint32_t rl(std::string_view bytes, std::size_t at) {
  std::uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<std::uint8_t>(bytes[at + static_cast<std::size_t>(i)]);
  return v;
}

std::string sectionOf(const std::string& file, std::string_view name) {
  DwgPagedFile layout;
  EXPECT_TRUE(readDwgPagedFile(file, layout).ok());
  std::string data;
  const Status s = readDwgPagedSection(file, layout, name, data);
  EXPECT_TRUE(s.ok()) << name << ": " << s.detail;
  return data;
}

// The file laid out again with one section's data changed.
std::string withSection(const std::string& file, std::string_view name, const std::function<void(std::string&)>& change) {
  DwgPagedFile layout;
  EXPECT_TRUE(readDwgPagedFile(file, layout).ok());
  std::vector<DwgPagedSectionData> sections;
  for (const DwgSectionInfo& info : layout.sections) {
    if (info.name.empty()) continue;
    std::string data;
    EXPECT_TRUE(readDwgPagedSection(file, layout, info, data).ok());
    if (info.name == name) change(data);
    sections.push_back({info.name, data, info.compression == 2, 0});
  }
  std::string out;
  EXPECT_TRUE(writeDwgPagedFile(layout.header, sections, out).ok());
  return out;
}

void setRl(std::string& bytes, std::size_t at, std::uint32_t v) {
  for (std::size_t i = 0; i < 4; ++i) bytes[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

// Puts `data` as the compressed data of the section's page at `page`: a
// new header (type, section, data size, page size, offset 0, checksums),
// XORed with the mask of its address.
void replaceDataPage(std::string& file, const DwgPage& page, std::uint32_t section, std::string_view data) {
  std::string head(32, '\0');
  setRl(head, 0, kDwgDataPageType);
  setRl(head, 4, section);
  setRl(head, 8, static_cast<std::uint32_t>(data.size()));
  setRl(head, 12, page.size);
  setRl(head, 28, dwgPageChecksum(data, 0));
  setRl(head, 24, dwgPageChecksum(head, rl(head, 28)));
  const auto mask = static_cast<std::uint32_t>(0x4164536Bu ^ page.address);
  for (std::size_t i = 0; i < 32; i += 4) setRl(head, i, rl(head, i) ^ mask);
  file.replace(page.address, 32, head);
  file.replace(page.address + 32, data.size(), data);
}

std::vector<std::string> kindsOf(const Database& db, const BlockRecord& b) {
  std::vector<std::string> out;
  for (const EntityId id : b.entities) {
    const Entity& e = db.entities[id];
    std::string row = std::string(e.dxfName()) + "|" + e.common.layer.str() + "|" + std::to_string(e.common.colour) +
                      "|" + e.common.linetype.str();
    if (const auto* p = get_if<Polyline>(&e.data)) row += "|" + std::to_string(p->vertices.size());
    if (const auto* i = get_if<Insert>(&e.data)) row += "|" + std::to_string(i->attributes.size());
    out.push_back(std::move(row));
  }
  return out;
}

// ------------------------------------------------------- what is written

TEST(Dwg2004, AWrittenFileHoldsTheSectionsOfItsRelease) {
  Database db = sample::drawing(Release::R2004);
  const std::string file = dwg2004(db);
  ASSERT_EQ(file.substr(0, 6), "AC1018");
  DwgPagedFile layout;
  ASSERT_TRUE(readDwgPagedFile(file, layout).ok());
  for (const char* name : {"AcDb:Header", "AcDb:AuxHeader", "AcDb:Classes", "AcDb:Handles", "AcDb:AcDbObjects",
                           "AcDb:ObjFreeSpace", "AcDb:Template", "AcDb:RevHistory", "AcDb:SummaryInfo", "AcDb:Preview",
                           "AcDb:AppInfo", "AcDb:FileDepList"})
    EXPECT_NE(layout.section(name), nullptr) << name;
  // The drawing properties open the file: their data follows the first
  // page's header.
  EXPECT_EQ(layout.header.summaryInfoAddress, 0x120u);
  EXPECT_EQ(sectionOf(file, "AcDb:AcDbObjects").substr(0, 4), std::string("\xCA\x0D\x00\x00", 4));
  const std::string classes = sectionOf(file, "AcDb:Classes");
  EXPECT_EQ(classes.substr(classes.size() - 8), std::string(8, '\0'));
  const std::string aux = sectionOf(file, "AcDb:AuxHeader");
  ASSERT_EQ(aux.size(), 123u);
  EXPECT_EQ(aux[3], '\x19');  // the format number of 2004
  EXPECT_EQ(sectionOf(file, "AcDb:RevHistory"), std::string("\0\0\0\0\0\0\0\0\x01\0\0\0\0\0\0\0", 16));
  const std::string summary = sectionOf(file, "AcDb:SummaryInfo");
  EXPECT_EQ(summary.substr(0, 6), std::string("\x01\x00\x00\x01\x00\x00", 6));
  // Every object the map names lies within the objects section.
  DwgObjectSource source;
  ASSERT_TRUE(indexDwgObjectSource(file, source).ok());
  EXPECT_EQ(source.release, Release::R2004);
  ASSERT_FALSE(source.map.empty());
  EXPECT_EQ(source.map.front().address, 4u);
  for (const DwgObjectLocation& o : source.map) EXPECT_TRUE(readDwgObjectFrameOf(source, o.address).status.ok());
}

// The parts real files of 2004 have beside the drawing: a preview whose
// entries point at their images within its page, the identifiers before
// the texts of AppInfo, and the materials, visual styles and annotation
// scales, which the header's material dictionary names.
TEST(Dwg2004, PreviewAppInfoAndDrawingStylesAreThoseOfRealFiles) {
  Database db = sample::drawing(Release::R2004);
  const std::string file = dwg2004(db);
  DwgPagedFile layout;
  ASSERT_TRUE(readDwgPagedFile(file, layout).ok());
  ASSERT_NE(layout.header.previewAddress, 0u);
  DwgPreview preview;
  const Status read = readDwgPreview(file, layout.header.previewAddress, preview);
  ASSERT_TRUE(read.ok()) << read.detail;
  EXPECT_EQ(preview, dwgMinimalPreview());
  EXPECT_EQ(layout.section("AcDb:Preview")->maxPageSize % 0x400, 0u);

  const std::string info = sectionOf(file, "AcDb:AppInfo");
  const std::size_t first = 4 + 2 + 2 * 16 + 4;  // version, list name, count
  ASSERT_GT(info.size(), first + 16);
  const std::array<std::uint8_t, 16> guid = dwgAppInfoGuid("2006.1");
  EXPECT_EQ(info.substr(first, 16), std::string(guid.begin(), guid.end()));

  Database back;
  ASSERT_TRUE(readDwg(file, back).status.ok());
  std::map<std::string, std::size_t> kinds;
  for (const Object& o : back.objects) {
    const auto* u = std::get_if<UnknownObject>(&o.data);
    if (u != nullptr && !u->keepsDwgBits()) ++kinds[o.dxfName];
  }
  EXPECT_EQ(kinds["MATERIAL"], 3u);
  EXPECT_EQ(kinds["VISUALSTYLE"], 24u);
  EXPECT_EQ(kinds["SCALE"], 33u);
  const Dictionary* root = back.dictionary(back.rootDictionary);
  ASSERT_NE(root, nullptr);
  Handle materials = 0;
  for (const DictionaryEntry& e : root->entries)
    if (e.name == "ACAD_MATERIAL") materials = e.object;
  ASSERT_NE(back.dictionary(materials), nullptr);
  std::vector<std::string> names;
  for (const DictionaryEntry& e : back.dictionary(materials)->entries) names.push_back(e.name);
  EXPECT_EQ(names, (std::vector<std::string>{"ByBlock", "ByLayer", "Global"}));
  DwgObjectSource source;
  ASSERT_TRUE(indexDwgObjectSource(file, source).ok());
  Header header;
  DwgHeaderHandles handles;
  ASSERT_TRUE(readDwgHeaderVariables(source.headerVariables, Release::R2004, CodePage::named("ANSI_1252"), header,
                                     handles)
                  .ok());
  EXPECT_EQ(handles.materialDictionary, materials);

  // Written again, the drawing keeps its own: nothing is added twice.
  Database again;
  ASSERT_TRUE(readDwg(dwg2004(back), again).status.ok());
  EXPECT_EQ(again.objects.size(), back.objects.size());
}

// Name-based GUIDs of version 3 under the nil namespace, stored with their
// first three fields little-endian (values of an independent implementation).
TEST(Dwg2004, AppInfoIdentifiersAreNameBasedGuids) {
  const struct {
    std::string_view text;
    std::string_view guid;
  } cases[] = {
      {"", "3613e74a4be4bf39b9d2752e234818a5"},
      {"2006.1", "6a2b45e1563e913197f84cc8f20086bf"},
      {"trovak_iges", "f2cbef79c374693389fa54cef4cc29da"},
      // Longer than one block of the hash.
      {std::string_view("0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef!"),
       "345a9853f843163bba8790c292858b32"},
  };
  for (const auto& c : cases) {
    std::string hex;
    for (const std::uint8_t b : dwgAppInfoGuid(c.text)) {
      static constexpr char kDigits[] = "0123456789abcdef";
      hex += kDigits[b >> 4];
      hex += kDigits[b & 15];
    }
    EXPECT_EQ(hex, c.guid) << c.text;
  }
}

// The sample drawing holds every kind the database models; read back, its
// blocks hold the same entities with their vertices and attributes (the
// ownership lists of 2004).  (Written again byte for byte: DwgRoundTrip.)
TEST(Dwg2004, BlocksReadBackWithTheirEntitiesVerticesAndAttributes) {
  Database db = sample::drawing(Release::R2004);
  const std::string file = dwg2004(db);
  Database back;
  const DwgReadResult read = readDwg(file, back);
  ASSERT_TRUE(read.status.ok()) << read.status.detail;
  EXPECT_EQ(back.release, Release::R2004);
  ASSERT_EQ(back.blocks.size(), db.blocks.size());
  for (std::size_t b = 0; b < db.blocks.size(); ++b) {
    SCOPED_TRACE(db.blocks[b].name);
    EXPECT_EQ(kindsOf(back, back.blocks[b]), kindsOf(db, db.blocks[b]));
  }
  EXPECT_EQ(back.layers.find("WALLS")->data.colour, 1);
}

// Entities of 2004 carry true colours and transparency beside the colour
// index (the DXF groups 420 and 440 in the database).
TEST(Dwg2004, TrueColoursAndTransparencyAreKept) {
  Database db = Database::create(Release::R2004);
  const struct {
    std::int32_t index;
    std::int64_t rgb;
    std::int64_t transparency;
  } cases[] = {{256, -1, -1}, {0, -1, -1}, {5, -1, -1}, {1, 0xFF0000, -1}, {7, 0x123456, 0x0200007F}, {3, -1, 0x02000033}};
  for (const auto& c : cases) {
    Entity e = sample::entity(EntityKind::Line, "0", c.index);
    if (c.rgb >= 0) e.common.extras().extra.push_back(RawTag{420, TagType::Int32, 0, c.rgb, std::to_string(c.rgb)});
    if (c.transparency >= 0)
      e.common.extras().extra.push_back(RawTag{440, TagType::Int32, 0, c.transparency, std::to_string(c.transparency)});
    db.addEntity(db.modelSpace(), std::move(e));
  }
  Database back;
  ASSERT_TRUE(readDwg(dwg2004(db), back).status.ok());
  ASSERT_EQ(back.modelSpace().entities.size(), std::size(cases));
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(i);
    const EntityCommon& e = back.entities[back.modelSpace().entities[i]].common;
    EXPECT_EQ(e.colour, cases[i].index);
    std::int64_t rgb = -1, transparency = -1;
    for (const RawTag& t : e.extra()) {
      if (t.code == 420) rgb = t.integer;
      if (t.code == 440) transparency = t.integer;
    }
    EXPECT_EQ(rgb, cases[i].rgb);
    EXPECT_EQ(transparency, cases[i].transparency);
  }
}

// A large drawing: the objects fill many pages, the blocks' ownership
// lists hold every entity in order.
TEST(Dwg2004, LargeDrawingKeepsItsEntitiesInOrder) {
  Database db = Database::create(Release::R2004);
  constexpr int kLines = 20000;
  for (int i = 0; i < kLines; ++i) {
    Entity e = sample::entity(EntityKind::Line, "0", 1 + i % 255);
    get<Line>(e.data) = Line{{double(i), 0, 0}, {double(i), 1, 0}};
    db.addEntity(db.modelSpace(), std::move(e));
  }
  const std::string file = dwg2004(db);
  Database back;
  const DwgReadResult read = readDwg(file, back);
  ASSERT_TRUE(read.status.ok()) << read.status.detail;
  ASSERT_EQ(back.modelSpace().entities.size(), std::size_t{kLines});
  for (int i = 0; i < kLines; i += 997) {
    const Entity& e = back.entities[back.modelSpace().entities[static_cast<std::size_t>(i)]];
    EXPECT_EQ(get<Line>(e.data).start.x, double(i));
    EXPECT_EQ(e.common.colour, 1 + i % 255);
  }
}

// ---------------------------------------------------------------- corpus

std::vector<fs::path> corpus2004() {
  std::vector<fs::path> files;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(fs::path(TROVAK_CORPUS_DIR) / "dwg" / "2004", ec))
    if (e.path().extension() == ".dwg") files.push_back(e.path());
  std::sort(files.begin(), files.end());
  return files;
}

TEST(Dwg2004, CorpusFilesReadAndWriteAgain) {
  const std::vector<fs::path> files = corpus2004();
  if (files.empty()) GTEST_SKIP() << "no DWG files of 2004 in the corpus";
  for (const fs::path& path : files) {
    SCOPED_TRACE(path.string());
    std::ifstream in(path, std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    Database db;
    const DwgReadResult read = readDwg(bytes.str(), db);
    ASSERT_TRUE(read.status.ok()) << read.status.detail;
    EXPECT_EQ(db.release, Release::R2004);
    EXPECT_FALSE(db.modelSpace().entities.empty());
    // The declarations hold what real files of 2004 store.
    for (const Object& o : db.objects) {
      if (o.dxfName == "MATERIAL" || o.dxfName == "VISUALSTYLE" || o.dxfName == "SCALE") {
        EXPECT_FALSE(std::get<UnknownObject>(o.data).keepsDwgBits()) << o.dxfName << " " << o.handle;
      }
    }
    Database back;
    const DwgReadResult again = readDwg(dwg2004(db), back);
    ASSERT_TRUE(again.status.ok()) << again.status.detail;
    EXPECT_EQ(kindsOf(back, back.modelSpace()), kindsOf(db, db.modelSpace()));
    EXPECT_EQ(back.entities.size(), db.entities.size());
  }
}

// ---------------------------------------------------------------- damage

TEST(Dwg2004, DamagedFilesEndInAStatus) {
  Database db = sample::drawing(Release::R2004);
  const std::string file = dwg2004(db);
  DwgPagedFile layout;
  ASSERT_TRUE(readDwgPagedFile(file, layout).ok());
  const DwgSectionInfo* objects = layout.section("AcDb:AcDbObjects");
  ASSERT_NE(objects, nullptr);
  const DwgPage& objectPage = *layout.page(static_cast<std::int32_t>(objects->pages.at(0).id));
  const struct {
    const char* what;
    std::function<std::string()> damaged;
  } damages[] = {
      {"a data page's checksum",
       [&] {
         std::string f = file;
         f[objectPage.address + 40] ^= 0x10;
         return f;
       }},
      {"a file cut inside a page", [&] { return file.substr(0, objectPage.address + objectPage.size / 2); }},
      {"header variables larger than their section",
       [&] { return withSection(file, "AcDb:Header", [](std::string& d) { d[16 + 2] = '\x7F'; }); }},
      {"classes larger than their section",
       [&] { return withSection(file, "AcDb:Classes", [](std::string& d) { d[16 + 3] = '\x40'; }); }},
      {"an object map offset past the objects",
       [&] {
         DwgObjectSource source;
         EXPECT_TRUE(indexDwgObjectSource(file, source).ok());
         source.map.back().address = 0x7FFFFFF;
         return withSection(file, "AcDb:Handles", [&](std::string& d) {
           d.clear();
           EXPECT_TRUE(writeDwgObjectMap(source.map, d).ok());
         });
       }},
      {"objects cut short",
       [&] { return withSection(file, "AcDb:AcDbObjects", [](std::string& d) { d.resize(d.size() / 2); }); }},
      {"an object claiming more bytes than the objects hold",
       [&] {
         return withSection(file, "AcDb:AcDbObjects", [](std::string& d) {
           d[4] = '\xFF';
           d[5] = '\x7F';
         });
       }},
  };
  for (const auto& d : damages) {
    SCOPED_TRACE(d.what);
    const std::string bytes = d.damaged();
    Database into;
    const DwgReadResult read = readDwg(bytes, into);
    EXPECT_FALSE(read.status.ok());
    EXPECT_FALSE(read.status.detail.empty());
  }
  // A compressed page whose stream would expand past the page's data.
  {
    std::string packed;
    ASSERT_TRUE(dwgCompress(std::string(2 * kDwgMaxPageData, 'x'), packed).ok());
    ASSERT_LE(packed.size() + 32, objectPage.size);
    std::string f = file;
    replaceDataPage(f, objectPage, objects->number, packed);
    Database into;
    const DwgReadResult read = readDwg(f, into);
    EXPECT_FALSE(read.status.ok());
    EXPECT_NE(read.status.detail.find("AcDb:AcDbObjects"), std::string::npos) << read.status.detail;
  }
}

// Every byte changed in turn: a Status or a drawing, never more.
TEST(Dwg2004, ChangedBytesAreCaughtOrHarmless) {
  Database db = sample::drawing(Release::R2004);
  const std::string file = dwg2004(db);
  for (std::size_t at = 0; at < file.size(); at += 5) {
    std::string changed = file;
    changed[at] = static_cast<char>(~changed[at]);
    Database into;
    const DwgReadResult read = readDwg(changed, into);
    if (!read.status.ok()) {
      EXPECT_FALSE(read.status.detail.empty()) << at;
    }
  }
}

}  // namespace
