// The database builder DwgOut: the drawing it builds from output steps, the
// blocks it names, collect mode, and the saved file of every -acad release,
// read back by ezdxf and by the toolkit's own reader, with its audit report
// and console lines.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <numbers>
#include <sstream>
#include <string>
#include <tuple>

#include "drawingdb/file_io.h"
#include "dwg/dwg_out.h"
#include "dwg/out_para.h"
#include "dwg/start_data.h"
#include "support/ide_msg.h"
#include "support/messages.h"
#include "support/run_state.h"
#include "tests/drawingdb/sample_drawing.h"
#include "tests/dwg/dwg_out_support.h"

namespace {

using drawingdb::Point3;
using drawingdb::Release;

constexpr double kPi = std::numbers::pi;

std::string tempName(const std::string& tag) { return "/tmp/dwg_out_" + std::to_string(getpid()) + "_" + tag; }

std::string contents(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

bool exists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

using DwgOutTest = DwgOutFixture;

TEST_F(DwgOutTest, StartUpTakesTheStartData) {
  ASSERT_EQ(out.startUp(Release::R2000, DwgOut::kSaveDxf, installedStartData()), 0);
  drawingdb::Database& db = out.database();
  EXPECT_EQ(db.release, Release::R2000);
  const auto* dashed = db.linetypes.find("DASHED");
  ASSERT_NE(dashed, nullptr);
  EXPECT_EQ(dashed->data.dashes.size(), 2u);
  EXPECT_DOUBLE_EQ(dashed->data.patternLength, 9.0);
  // The database's own CONTINUOUS is kept, not made twice.
  int continuous = 0;
  for (const auto& r : db.linetypes.records) continuous += drawingdb::sameName(r.common.name, "CONTINUOUS") ? 1 : 0;
  EXPECT_EQ(continuous, 1);
  EXPECT_EQ(db.layers.find("0")->data.colour, 7);
  EXPECT_NE(db.appids.find(DwgOut::kIdentification), nullptr);

  DwgStartData own;
  own.linetypes.push_back({"DASH2", "d", {1, -1}});
  own.layers.push_back({"0", 3, "DASH2"});
  own.layers.push_back({"FRAME", 5, "CONTINUOUS"});
  own.textStyle = {"ROMAN", "romans", 0.8, 0};
  ASSERT_EQ(out.startUp(Release::R12, DwgOut::kSaveDxf, own), 0);
  drawingdb::Database& db12 = out.database();
  EXPECT_EQ(db12.layers.find("0")->data.colour, 3);
  EXPECT_EQ(db12.layers.find("0")->data.linetype, "DASH2");
  EXPECT_NE(db12.layers.find("FRAME"), nullptr);
  EXPECT_EQ(db12.styles.find("ROMAN")->data.font, "romans");
  EXPECT_EQ(db12.header.text("$TEXTSTYLE"), "ROMAN");
  // A fresh start forgets the previous drawing.
  EXPECT_TRUE(db12.modelSpace().entities.empty());
}

// Entities of one attribute set get the same colour, linetype and layer
// however often the set comes, and the message an attribute set gives
// (no layer, a layer name cut to length) comes with every entity of it.
TEST_F(DwgOutTest, RepeatedAttributeSetsAndTheirMessages) {
  ASSERT_EQ(out.startUp(Release::R2000, DwgOut::kSaveDxf, installedStartData()), 0);
  const std::string longName(40, 'L');
  const DwgElementAttributes sets[] = {element(3, "Wall", 2), element(3, "Roof"), element(5, ""),
                                       element(3, longName), element(3, "Wall", 2)};
  testing::internal::CaptureStderr();
  for (int round = 0; round < 2; ++round) {
    for (const DwgElementAttributes& set : sets) ASSERT_EQ(out.line({0, 0, 0}, {1, 1, 0}, set), 0);
  }
  const std::string messages = testing::internal::GetCapturedStderr();
  const auto count = [&messages](const std::string& text) {
    std::size_t n = 0;
    for (std::size_t at = messages.find(text); at != std::string::npos; at = messages.find(text, at + 1)) ++n;
    return n;
  };
  EXPECT_EQ(count("Empty Layername"), 2u);
  EXPECT_EQ(count("Name too long"), 2u);
  const std::size_t n = std::size(sets);
  ASSERT_EQ(modelCount(), 2 * n);
  for (std::size_t i = 0; i < 2 * n; ++i) {
    const std::size_t first = i % n == 4 ? 0 : i % n;  // the last set repeats the first
    const drawingdb::EntityCommon& a = entity(first).common;
    const drawingdb::EntityCommon& b = entity(i).common;
    EXPECT_EQ(std::tuple(b.colour, b.lineweight, b.linetype.str(), b.layer.str()),
              std::tuple(a.colour, a.lineweight, a.linetype.str(), a.layer.str()))
        << i;
  }
  EXPECT_NE(entity(0).common.layer.str(), entity(1).common.layer.str());
  EXPECT_NE(entity(0).common.colour, entity(2).common.colour);
  EXPECT_NE(out.database().layers.find(entity(3).common.layer), nullptr);
}

TEST_F(DwgOutTest, CirclesAndArcs) {
  ASSERT_EQ(out.startUp(Release::R2000, DwgOut::kSaveDxf, {}), 0);
  const Point3 c{10, 20, 0};
  // Start and end within 0.0001: a full circle of the start point's radius.
  ASSERT_EQ(out.circleArc(c, {15, 20, 0}, {15, 20.00009, 0}, {}), 0);
  // Quarter from 90 to 180 degrees; an end below the centre gives an angle
  // increased by a full turn.
  ASSERT_EQ(out.circleArc(c, {10, 22, 0}, {8, 20, 0}, {}), 0);
  ASSERT_EQ(out.circleArc(c, {12, 20, 0}, {10, 18, 0}, {}), 0);
  const auto& circle = drawingdb::get<drawingdb::Circle>(entity(0).data);
  EXPECT_DOUBLE_EQ(circle.radius, 5);
  const auto& quarter = drawingdb::get<drawingdb::Arc>(entity(1).data);
  EXPECT_DOUBLE_EQ(quarter.radius, 2);
  EXPECT_NEAR(quarter.startAngle, 90, 1e-12);
  EXPECT_NEAR(quarter.endAngle, 180, 1e-12);
  const auto& threeQuarters = drawingdb::get<drawingdb::Arc>(entity(2).data);
  EXPECT_NEAR(threeQuarters.startAngle, 0, 1e-12);
  EXPECT_NEAR(threeQuarters.endAngle, 270, 1e-12);
  // Refused: zero radius, values that are not finite.
  EXPECT_EQ(std::tuple(out.circleArc(c, c, c, {}), out.circleArc(c, {NAN, 0, 0}, {1, 0, 0}, {})), std::tuple(-1, -1));
  EXPECT_EQ(out.line({0, 0, 0}, {INFINITY, 0, 0}, {}), -1);
  EXPECT_EQ(out.database().modelSpace().entities.size(), 3u);
}

TEST_F(DwgOutTest, CollectModeFillsTheBoundaryList) {
  ASSERT_EQ(out.startUp(Release::R2000, DwgOut::kSaveDxf, {}), 0);
  out.setCollect(true);
  ASSERT_EQ(out.line({0, 0, 0}, {10, 0, 0}, {}), 0);
  ASSERT_EQ(out.circleArc({0, 0, 0}, {3, 0, 0}, {3, 0, 0}, {}), 0);
  ASSERT_EQ(out.circleArc({0, 0, 0}, {0, 3, 0}, {3, 0, 0}, {}), 0);
  out.setCollect(false);
  EXPECT_TRUE(out.database().modelSpace().entities.empty());
  ASSERT_EQ(out.boundary().size(), 3u);
  EXPECT_FALSE(out.boundary()[0].arc);
  EXPECT_EQ(out.boundary()[0].end.x, 10);
  EXPECT_TRUE(out.boundary()[1].arc);
  EXPECT_DOUBLE_EQ(out.boundary()[1].startAngle, 0);
  EXPECT_DOUBLE_EQ(out.boundary()[1].endAngle, 2 * kPi);
  EXPECT_DOUBLE_EQ(out.boundary()[2].startAngle, kPi / 2);
  EXPECT_DOUBLE_EQ(out.boundary()[2].endAngle, 0);
  out.clearBoundary();
  EXPECT_TRUE(out.boundary().empty());
}

TEST_F(DwgOutTest, EllipsesKeepTheirPoints) {
  ASSERT_EQ(out.startUp(Release::R2000, DwgOut::kSaveDxf, {}), 0);
  // A ratio above 1: the same curve about its longer axis; the point at
  // each parameter stays.
  ASSERT_EQ(out.ellipse({1, 2, 0}, {4, 0, 0}, 1.5, 0.3, 2.0, {}), 0);
  const auto& e = drawingdb::get<drawingdb::Ellipse>(entity(0).data);
  EXPECT_NEAR(e.ratio, 1 / 1.5, 1e-12);
  auto at = [](const drawingdb::Ellipse& s, double t) {
    const Point3 minor{-s.majorAxis.y * s.ratio, s.majorAxis.x * s.ratio, 0};
    return Point3{s.center.x + s.majorAxis.x * std::cos(t) + minor.x * std::sin(t),
                  s.center.y + s.majorAxis.y * std::cos(t) + minor.y * std::sin(t), 0};
  };
  // The original start point: centre + (4, 0) cos t + (0, 6) sin t.
  const Point3 expected{1 + 4 * std::cos(0.3), 2 + 6 * std::sin(0.3), 0};
  const Point3 got = at(e, e.startParameter);
  EXPECT_NEAR(got.x, expected.x, 1e-9);
  EXPECT_NEAR(got.y, expected.y, 1e-9);
  EXPECT_GE(e.startParameter, 0);
  EXPECT_LT(e.startParameter, 2 * kPi);
  // A full ellipse, however its parameters are written, runs 0 to 2 pi.
  ASSERT_EQ(out.ellipse({0, 0, 0}, {2, 0, 0}, 0.5, -kPi, kPi, {}), 0);
  const auto& full = drawingdb::get<drawingdb::Ellipse>(entity(1).data);
  EXPECT_EQ(full.startParameter, 0);
  EXPECT_DOUBLE_EQ(full.endParameter, 2 * kPi);
  EXPECT_EQ(out.ellipse({0, 0, 0}, {0, 0, 0}, 0.5, 0, 1, {}), -1);
  EXPECT_EQ(out.ellipse({0, 0, 0}, {1, 0, 0}, 0, 0, 1, {}), -1);

  // Before R13 the database keeps the ellipse; the file writer draws it in
  // the form the release has.
  ASSERT_EQ(out.startUp(Release::R12, DwgOut::kSaveDxf, {}), 0);
  ASSERT_EQ(out.ellipse({0, 0, 0}, {2, 0, 0}, 0.5, 0, 2 * kPi, {}), 0);
  EXPECT_EQ(entity(0).kind, drawingdb::EntityKind::Ellipse);
}

TEST_F(DwgOutTest, TextsWidthsAndStyles) {
  ASSERT_EQ(out.startUp(Release::R2000, DwgOut::kSaveDxf, installedStartData()), 0);
  DwgTextPart part;
  part.text = "A\tB";
  part.height = 3.5;
  part.widthFactor = 0.9;
  part.angle = kPi / 2;
  part.insertion = {5, 6, 7};
  DwgTextPart roman = part;
  roman.fontName = "romans";
  const struct {
    double configured;
    int sender;
    double width;
  } rules[] = {{0.8, 4, 0.8}, {0, 4, 0.9}, {0, 99, 0.66}, {-1, 1, 0.66}};
  std::size_t n = 0;
  for (const auto& r : rules) {
    ASSERT_EQ(out.text({part}, {}, r.configured, r.sender), 0);
    EXPECT_DOUBLE_EQ(drawingdb::get<drawingdb::Text>(entity(n++).data).widthFactor, r.width);
  }
  ASSERT_EQ(out.text({roman, roman}, {}, 1.0, 99), 0);
  const auto& t = drawingdb::get<drawingdb::Text>(entity(n).data);
  EXPECT_EQ(t.value, "A B");
  EXPECT_DOUBLE_EQ(t.rotation, 90);
  EXPECT_EQ(std::tuple(t.insertion, t.style), std::tuple((Point3{5, 6, 0}), "romans"));
  EXPECT_EQ(drawingdb::get<drawingdb::Text>(entity(0).data).style, "STANDARD");
  // The style is made once, with the font's name.
  int made = 0;
  for (const auto& s : out.database().styles.records) made += s.common.name == "romans" ? 1 : 0;
  EXPECT_EQ(made, 1);
  EXPECT_EQ(out.database().styles.find("romans")->data.font, "romans");
  DwgTextPart flat = part;
  flat.height = 0;
  EXPECT_EQ(out.text({flat}, {}, 1.0, 99), -1);
}

TEST_F(DwgOutTest, BlocksAreNamedAndFilled) {
  ASSERT_EQ(out.startUp(Release::R2000, DwgOut::kSaveDxf, {}), 0);
  const struct {
    const char* asked;
    const char* made;
  } cases[] = {{"*D7", "*D1"}, {"*x12", "*D2"}, {"*dim", "*D3"}, {"Gruppe 1", "GRUPPE_1_1"}, {"part", "PART_2"}};
  for (const auto& c : cases) {
    std::string made;
    ASSERT_EQ(out.createBlock(c.asked, &made), 0) << c.asked;
    EXPECT_EQ(made, c.made);
    ASSERT_EQ(out.line({0, 0, 0}, {1, 1, 0}, {}), 0);
    ASSERT_EQ(out.closeBlock(), 0);
    const drawingdb::BlockRecord* block = out.database().findBlock(c.made);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(std::tuple(block->entities.size(), block->flags & 1), std::tuple(1u, c.made[0] == '*' ? 1 : 0));
  }
  EXPECT_TRUE(out.database().modelSpace().entities.empty());
  EXPECT_EQ(out.createBlock(""), -1);
  // A block opened while another is filled nests in it: closing it returns
  // to the outer block, which may then show it by an insert; an open block
  // cannot be inserted (into itself).
  std::string outer, inner;
  ASSERT_EQ(out.createBlock("outer", &outer), 0);
  ASSERT_EQ(out.createBlock("inner", &inner), 0);
  EXPECT_EQ(out.insert(outer, {0, 0, 0}, 1, {}), -1);
  ASSERT_EQ(out.line({0, 0, 0}, {1, 1, 0}, {}), 0);
  ASSERT_EQ(out.closeBlock(), 0);
  ASSERT_EQ(out.insert(inner, {5, 6, 0}, 2, {}), 0);
  EXPECT_EQ(out.insert("NO_SUCH_BLOCK", {0, 0, 0}, 1, {}), -1);
  EXPECT_EQ(out.insert(inner, {kPi, 0, 0}, 0, {}), -1);
  ASSERT_EQ(out.closeBlock(), 0);
  EXPECT_FALSE(out.inBlock());
  ASSERT_EQ(out.insert(outer, {0, 0, 0}, 1, {}), 0);
  ASSERT_EQ(out.database().findBlock(outer)->entities.size(), 1u);
  const auto& shown = drawingdb::get<drawingdb::Insert>(
      out.database().entities[out.database().findBlock(outer)->entities[0]].data);
  EXPECT_EQ(std::tuple(shown.block, shown.insertion, shown.xScale, shown.yScale),
            std::tuple(inner, (Point3{5, 6, 0}), 2.0, 2.0));
  EXPECT_EQ(drawingdb::get<drawingdb::Insert>(last().data).block, outer);
  EXPECT_EQ(out.nextDimensionBlockNumber(), 1);
  EXPECT_EQ(out.nextDimensionBlockNumber(), 2);
}

TEST_F(DwgOutTest, AttributesMakeTheirLayersAndLinetypes) {
  DwgOutPara::ReadParaText("DWGOUT_LINESTYLEASSIGN 2 LONGDASH \"Long __\" 2 \"20.0,-5.0\"\n");
  ASSERT_EQ(out.startUp(Release::R2000, DwgOut::kSaveDxf, installedStartData()), 0);
  DwgElementAttributes e = element(3, "Kontur a");
  e.lineStyle = 2;
  ASSERT_EQ(out.line({0, 0, 0}, {1, 0, 0}, e), 0);
  const drawingdb::Entity& line = entity(0);
  EXPECT_EQ(std::tuple(line.common.layer, line.common.colour, line.common.linetype),
            std::tuple("KONTUR_A", 3, "LONGDASH"));
  const auto* linetype = out.database().linetypes.find("LONGDASH");
  ASSERT_NE(linetype, nullptr);
  EXPECT_DOUBLE_EQ(linetype->data.patternLength, 25);
  const auto* layer = out.database().layers.find("KONTUR_A");
  ASSERT_NE(layer, nullptr);
  EXPECT_TRUE(drawingdb::sameName(layer->data.linetype, "CONTINUOUS"));
}

// ------------------------------------------------------------- saving

struct Saved {
  int result = -1;
  std::string printed;
};

class SavedDrawing : public DwgOutTest, public ::testing::WithParamInterface<int> {
 protected:
  void TearDown() override {
    std::remove(path.c_str());
    std::remove(report.c_str());
    DwgOutTest::TearDown();
  }
  Saved save() {
    Saved s;
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();  // what a failed save says there
    s.result = out.saveFile(path, report);
    testing::internal::GetCapturedStderr();
    s.printed = testing::internal::GetCapturedStdout();
    return s;
  }
  // One entity of every kind DwgOut makes, and a block.
  void build(Release release) {
    ASSERT_EQ(out.startUp(release, DwgOut::kSaveDxf, installedStartData()), 0);
    ASSERT_EQ(out.extents(-10, -10, 100, 80), 0);
    ASSERT_EQ(out.line({0, 0, 0}, {50, 25, 0}, element(1, "Kontur")), 0);
    ASSERT_EQ(out.circleArc({20, 20, 0}, {25, 20, 0}, {25, 20, 0}, element(2, "Kontur")), 0);
    // An element without a layer name lands on the layer EMPTY.
    ASSERT_EQ(out.circleArc({20, 20, 0}, {20, 30, 0}, {10, 20, 0}, element(3, "")), 0);
    ASSERT_EQ(out.ellipse({60, 40, 0}, {10, 0, 0}, 0.5, 0, 2 * kPi, element(4, "Kontur")), 0);
    ASSERT_EQ(out.point({1, 2, 0}, element(5, "Punkte")), 0);
    DwgTextPart part;
    part.text = "Hallo";
    part.height = 2.5;
    part.insertion = {3, 4, 0};
    part.fontName = "romans";
    ASSERT_EQ(out.text({part}, element(6, "Text"), 1.0, 99), 0);
    ASSERT_EQ(out.createBlock("*D1"), 0);
    ASSERT_EQ(out.line({0, 0, 0}, {1, 0, 0}, element(7, "Bemassung")), 0);
    ASSERT_EQ(out.closeBlock(), 0);
  }
  std::string path = tempName(std::to_string(GetParam()) + ".dxf");
  std::string report = tempName(std::to_string(GetParam()) + "_audit.txt");
};

TEST_P(SavedDrawing, ReadsBackAsBuilt) {
  const Release release = DwgOut::releaseOfVersion(GetParam());
  build(release);
  const Saved saved = save();
  ASSERT_EQ(saved.result, 0);
  EXPECT_EQ(saved.printed, "Audit : ok.\n");
  EXPECT_NE(contents(report).find("0 errors found"), std::string::npos) << contents(report);
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0077 & ~0044, 0u) << std::oct << st.st_mode;

  // The toolkit's reader: release, entities and the block.
  drawingdb::Database back;
  const drawingdb::ReadResult read = drawingdb::readFile(path, back);
  ASSERT_TRUE(read.status.ok()) << read.status.detail;
  EXPECT_EQ(read.format.release, release);
  const bool ellipse = release >= Release::R13;
  const char* kinds[] = {"LINE", "CIRCLE", "ARC", ellipse ? "ELLIPSE" : "POLYLINE", "POINT", "TEXT"};
  ASSERT_EQ(back.modelSpace().entities.size(), std::size(kinds));
  for (std::size_t i = 0; i < std::size(kinds); ++i)
    EXPECT_EQ(back.entities[back.modelSpace().entities[i]].dxfName(), kinds[i]) << i;
  const drawingdb::BlockRecord* block = back.findBlock("*D1");
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(block->entities.size(), 1u);
  EXPECT_NE(back.linetypes.find("DASHED"), nullptr);
  EXPECT_DOUBLE_EQ(back.header.point("$EXTMAX").x, 100);

  // ezdxf, which reads the older releases as R12: no audit error, every
  // entity on its layer with its colour and geometry.
  if (!sample::haveEzdxf()) GTEST_SKIP() << "ezdxf is not installed";
  const sample::PeerResult peer = sample::readWithPeer(path);
  ASSERT_TRUE(peer.ran) << peer.auditText;
  EXPECT_EQ(peer.errors, 0) << peer.auditText;
  ASSERT_EQ(peer.entities.size(), std::size(kinds));
  const struct {
    const char* layer;
    int colour;
  } expected[] = {{"KONTUR", 1}, {"KONTUR", 2}, {"EMPTY", 3}, {"KONTUR", 4}, {"PUNKTE", 5}, {"TEXT", 6}};
  for (std::size_t i = 0; i < std::size(kinds); ++i) {
    EXPECT_EQ(peer.entities[i].kind.substr(0, peer.entities[i].kind.find(':')), kinds[i]);
    EXPECT_EQ(peer.entities[i].layer, expected[i].layer) << i;
    EXPECT_EQ(peer.entities[i].colour, expected[i].colour) << i;
  }
  EXPECT_EQ(peer.entities[0].numbers, (std::vector<double>{0, 0, 0, 50, 25, 0}));
  EXPECT_EQ(peer.entities[2].numbers, (std::vector<double>{20, 20, 0, 10, 90, 180}));
  EXPECT_EQ(peer.entities[5].kind, "TEXT:Hallo:romans");
}

INSTANTIATE_TEST_SUITE_P(AcadVersions, SavedDrawing,
                         ::testing::Values(1002, 1003, 1004, 1006, 1009, 1012, 1014, 1015, 1018),
                         [](const auto& info) { return "AC" + std::to_string(info.param); });

class SaveFailures : public SavedDrawing {};

TEST_P(SaveFailures, LeaveNoFile) {
  build(Release::R2000);
  // A DWG of a release the toolkit only reads: refused, no file.
  ASSERT_EQ(out.startUp(Release::R2010, DwgOut::kSaveDwg, installedStartData()), 0);
  ASSERT_EQ(out.line({0, 0, 0}, {1, 0, 0}, {}), 0);
  Saved dwg = save();
  EXPECT_EQ(dwg.result, -1);
  EXPECT_FALSE(exists(path));
  EXPECT_EQ(dwg.printed, "Audit : ok.\n");

  // A folder that does not exist: no file, the run is told.
  ASSERT_EQ(out.startUp(Release::R2000, DwgOut::kSaveDxf, installedStartData()), 0);
  path = tempName("missing/folder.dxf");
  Saved missing = save();
  EXPECT_EQ(missing.result, -1);
  EXPECT_FALSE(exists(path));

  // The report cannot be written: the drawing is still saved.
  path = tempName("report.dxf");
  report = tempName("no/such/report.txt");
  Saved unreported = save();
  EXPECT_EQ(unreported.result, 0);
  EXPECT_TRUE(exists(path));
}

INSTANTIATE_TEST_SUITE_P(Once, SaveFailures, ::testing::Values(0));

TEST_F(DwgOutTest, AuditFindingsAreReported) {
  ASSERT_EQ(out.startUp(Release::R2000, DwgOut::kSaveDxf, {}), 0);
  ASSERT_EQ(out.line({0, 0, 0}, {1, 0, 0}, {}), 0);
  // An entity whose layer has no record: the audit repairs and reports it.
  out.database().entities[out.database().modelSpace().entities[0]].common.layer = "GHOST";
  const std::string path = tempName("findings.dxf"), report = tempName("findings_audit.txt");
  testing::internal::CaptureStdout();
  const int result = out.saveFile(path, report);
  const std::string printed = testing::internal::GetCapturedStdout();
  EXPECT_EQ(result, 0);
  EXPECT_EQ(printed, "Audit : Check \"" + report + "\" for errors.\n");
  const std::string text = contents(report);
  EXPECT_NE(text.find("Audit of " + path + "\n"), std::string::npos) << text;
  EXPECT_NE(text.find("1 errors found"), std::string::npos) << text;
  std::remove(path.c_str());
  std::remove(report.c_str());
}

// What an older release cannot hold is left out when written, and the run
// is told once with the count; a drawing that fits says nothing.
TEST_F(DwgOutTest, PartsAReleaseCannotHoldAreReported) {
  resetRunState();
  std::FILE* protocol = std::tmpfile();
  ASSERT_NE(protocol, nullptr);
  mfaSetProtocolFile(protocol);
  const auto said = [&] {
    std::fflush(protocol);
    std::rewind(protocol);
    std::string text;
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, protocol)) > 0) text.append(buffer, n);
    return text;
  };
  const std::string path = tempName("left_out.dwg"), report = tempName("left_out_audit.txt");
  ASSERT_EQ(out.startUp(Release::R12, DwgOut::kSaveDwg, {}), 0);
  ASSERT_EQ(out.line({0, 0, 0}, {1, 0, 0}, {}), 0);
  testing::internal::CaptureStdout();
  EXPECT_EQ(out.saveFile(path, report), 0);
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(said().find("(1337)"), std::string::npos) << said();

  // Two viewports of model space, which a file of 11/12 holds only in
  // paper space.
  ASSERT_EQ(out.startUp(Release::R12, DwgOut::kSaveDwg, {}), 0);
  for (int k = 0; k < 3; ++k) ASSERT_EQ(out.line({0, 0, 0}, {1, 0, 0}, {}), 0);
  for (std::size_t k : {0, 2}) {
    drawingdb::Entity viewport = drawingdb::makeEntity(drawingdb::EntityKind::Viewport);
    viewport.common = entity(k).common;
    entity(k) = std::move(viewport);
  }
  EXPECT_EQ(out.saveFile(path, report), 0);
  const std::string text = said();
  EXPECT_NE(text.find("(1337)"), std::string::npos) << text;
  EXPECT_EQ(text.find("(1337)"), text.rfind("(1337)")) << text;
  EXPECT_TRUE(exists(path));
  drawingdb::Database back;
  ASSERT_TRUE(drawingdb::readFile(path, back).status.ok());
  EXPECT_EQ(back.modelSpace().entities.size(), 1u);

  mfaSetProtocolFile(nullptr);
  std::fclose(protocol);
  std::remove(path.c_str());
  std::remove(report.c_str());
}

}  // namespace
