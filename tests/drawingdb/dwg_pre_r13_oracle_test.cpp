// DWG files before R13 the toolkit writes, read by the first reader of the
// DWG oracle beside the corpus (test-only): its checker says OK and its
// dump finds what was written, field by field: the elevation and the
// thickness of one entity in every release (2.5 and 10 too), and in 11/12
// the entities of paper space, the viewports on the sheet and extended
// data item by item.  Skipped without the oracle.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "dwg_corpus_files.h"
#include "drawingdb/file_io.h"
#include "drawingdb/model.h"

using namespace drawingdb;
namespace fs = std::filesystem;

namespace {

fs::path oracle() { return fs::path(TROVAK_CORPUS_DIR).parent_path() / "tools" / "dwg-oracle"; }
bool haveOracle() { return fs::exists(oracle() / "dwg-check") && fs::exists("/usr/bin/python3"); }

// One line per entity of the oracle's dump (BLOCK and ENDBLK left out):
// its kind, its space (entmode 1 paper, 2 model), the elevation and
// thickness it read, a viewport's place and number, and the extended
// data items as code:value.
constexpr const char* kDumpLines = R"PY(
import json, sys
for o in json.load(open(sys.argv[1]))['OBJECTS']:
    e = o.get('entity')
    if not e or e in ('BLOCK', 'ENDBLK'):
        continue
    row = [e, 'entmode=%s' % o.get('entmode')]
    if 'elevation_r11' in o: row.append('elevation=%g' % o['elevation_r11'])
    if 'thickness_r11' in o: row.append('thickness=%g' % o['thickness_r11'])
    if e == 'VIEWPORT':
        row.append('center=%g,%g size=%gx%g id=%d' % (o['center'][0], o['center'][1], o['width'], o['height'], o['id']))
    if 'eed' in o:
        row.append('eed=' + ' '.join('%s:%s' % (i.get('code'), i.get('value')) for i in o['eed']))
    print(' '.join(row))
)PY";

class OracleDir {
 public:
  OracleDir() {
    char name[] = "/tmp/trovak_prer13_oracle_XXXXXX";
    path_ = mkdtemp(name) != nullptr ? name : "";
  }
  ~OracleDir() {
    std::error_code ignored;
    if (!path_.empty()) fs::remove_all(path_, ignored);
  }
  // The checker's verdict on `db` written as `r`, and the dump's lines.
  std::pair<std::string, std::vector<std::string>> judge(Database& db, Release r) {
    StringSink sink;
    EXPECT_TRUE(save(db, sink, {FileFormat::Dwg, r, 16}).ok());
    const std::string dwg = path_ + "/out.dwg", json = path_ + "/out.json", script = path_ + "/dump.py";
    std::ofstream(dwg, std::ios::binary) << sink.data;
    std::ofstream(script) << kDumpLines;
    const std::string verdict = commandOutput((oracle() / "dwg-check").string() + " " + dwg + " 2>&1");
    commandOutput((oracle() / "bin" / "dwgread").string() + " -O json -o " + json + " " + dwg + " 2>/dev/null");
    std::vector<std::string> lines;
    std::string all = commandOutput("/usr/bin/python3 " + script + " " + json + " 2>&1");
    for (std::size_t at = 0; at < all.size();) {
      const std::size_t end = all.find('\n', at);
      lines.push_back(all.substr(at, end - at));
      at = end == std::string::npos ? all.size() : end + 1;
    }
    return {verdict, lines};
  }

 private:
  std::string path_;
};

RawTag textTag(std::int32_t code, std::string text) { return {code, TagType::String, 0, 0, std::move(text)}; }
RawTag realTag(std::int32_t code, double v) { return {code, TagType::Real, v, 0, {}}; }

// Elevation and thickness of one entity: the oracle reads the elevation
// first, as the toolkit writes it, in every release.
TEST(DwgPreR13Oracle, ElevationAndThicknessInEveryRelease) {
  if (!haveOracle()) GTEST_SKIP() << "no DWG oracle";
  OracleDir dir;
  for (const Release r : {Release::R2_5, Release::R2_6, Release::R9, Release::R10, Release::R12}) {
    SCOPED_TRACE(releaseInfo(r).version);
    Database db = Database::create(r);
    Entity e = makeEntity(EntityKind::Circle);
    get<Circle>(e.data) = Circle{{1, 2, 5}, 3, 7};
    db.addEntity(db.modelSpace(), std::move(e));
    const auto [verdict, lines] = dir.judge(db, r);
    EXPECT_NE(verdict.find(": OK "), std::string::npos) << verdict;
    EXPECT_EQ(lines, std::vector<std::string>{"CIRCLE entmode=2 elevation=5 thickness=7"});
  }
}

// 11/12: a model-space line, and on the sheet a line with extended data
// of two applications and two viewports.  (The oracle refuses a layer
// item among the last eight bytes of extended data, as if it were a
// handle: no viewport here freezes a layer.)
TEST(DwgPreR13Oracle, PaperSpaceViewportsAndExtendedData) {
  if (!haveOracle()) GTEST_SKIP() << "no DWG oracle";
  OracleDir dir;
  Database db = Database::create(Release::R12);
  db.addRecord(db.layers, "WALLS");
  Entity model = makeEntity(EntityKind::Line);
  get<Line>(model.data) = Line{{0, 0, 0}, {10, 5, 0}};
  db.addEntity(db.modelSpace(), std::move(model));
  Entity sheet = makeEntity(EntityKind::Line);
  get<Line>(sheet.data) = Line{{10, 10, 0}, {410, 10, 0}};
  sheet.common.paperSpace = true;
  sheet.common.extras().xdata = {textTag(1001, "ACAD"),  textTag(1000, "first"), textTag(1002, "{"),
                                 textTag(1003, "WALLS"), realTag(1040, 2.5),     RawTag{1070, TagType::Int16, 0, -7, {}},
                                 textTag(1002, "}"),     textTag(1001, "OTHER"), realTag(1010, 1),
                                 realTag(1020, 2),       realTag(1030, 3)};
  db.addEntity(db.paperSpace(), std::move(sheet));
  for (int id : {1, 2}) {
    Entity v = makeEntity(EntityKind::Viewport);
    Viewport& vp = get<Viewport>(v.data);
    vp.id = vp.status = id;
    vp.center = {100.0 * id, 50, 0};
    vp.width = 80;
    vp.height = 40;
    v.common.paperSpace = true;
    db.addEntity(db.paperSpace(), std::move(v));
  }
  const auto [verdict, lines] = dir.judge(db, Release::R12);
  EXPECT_NE(verdict.find(": OK "), std::string::npos) << verdict;
  ASSERT_EQ(lines.size(), 4u) << verdict;
  EXPECT_EQ(lines[0], "LINE entmode=2");
  EXPECT_EQ(lines[1], "LINE entmode=1 eed=1:0 0:first 2:0 3:1 40:2.5 70:-7 2:1 1:1 10:[1.0, 2.0, 3.0]");
  for (int id : {1, 2}) {
    const std::string& line = lines[static_cast<std::size_t>(id) + 1];
    const std::string want = "VIEWPORT entmode=1 center=" + std::to_string(100 * id) + ",50 size=80x40 id=" +
                             std::to_string(id) + " eed=1:0 0:MVIEW 2:0 70:16 ";
    EXPECT_EQ(line.substr(0, want.size()), want);
  }
}

}  // namespace
