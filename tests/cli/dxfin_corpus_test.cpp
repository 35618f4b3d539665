// -dxfin over real and generated DXF files, -dwgin over real and generated
// DWG files.
//
// Every DXF file of the corpus that has something to draw (each release,
// ASCII and binary) converts with status 0, and the script, read back
// through its point chain, holds what another DXF reader finds in the same
// file with every insert expanded: lines, circles, arcs with their end
// points, points, ellipses, splines, the segments and bulge arcs of
// polylines, and texts with their contents and positions.  The script may
// hold more lines (solids, traces and faces are drawn as lines too), but
// not more circles or arcs.  A drawing built through the toolkit with one
// of each kind is compared the same way, so the comparison runs without
// the corpus as well.
//
// The R12 files read through the toolkit give the same geometry as read
// by the own DXF reader (-dxf12in).  A drawing whose layouts hold nothing
// convertible ends with the message of an empty file and no script; the
// layout blocks are found whatever the case of their names.
//
// The DWG files of the corpus (R2.6 to 2018) convert with -dwgin -plus and
// hold the geometry the peer finds in their DXF twins (or in the DXF the
// DWG oracle makes of them); drawings the toolkit writes as DWG of every
// release it writes convert as their DXF does; a damaged DWG file
// cannot be loaded.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <tuple>
#include <vector>

#include "cli/dxf_peer.h"
#include "cli/run_program.h"
#include "drawingdb/byte_sink.h"
#include "drawingdb/dwg_paged_file.h"
#include "drawingdb/file_io.h"
#include "drawingdb/model.h"
#include "iges_in/kpl_reader.h"

namespace {

using namespace dxfpeer;
namespace db = drawingdb;

std::string corpus() { return std::string(TROVAK_CORPUS_DIR); }

struct Conversion {
  ProgramResult result;
  std::string script;  // its path
  bool written = false;
};

// `level` is a level switch ("-plus") or empty.
Conversion convert(const TempDir& dir, const std::string& direction, const std::string& file,
                   const std::string& level = "") {
  const std::string config =
      dir.write("run.config", "TR_PROT ./\nTR_TEMP " + dir.path() + "\nTR_LANG english\nTR_STAT nein\n");
  Conversion run;
  run.script = dir.path() + "/out" + direction + ".kpl";
  std::vector<std::string> arguments{direction, file, run.script, config};
  if (!level.empty()) arguments.insert(arguments.begin() + 1, level);
  run.result = runProgram(TROVAK_PROGRAM, arguments, dir.path(), "", 300);
  run.written = std::filesystem::exists(run.script);
  EXPECT_FALSE(run.result.timedOut) << file;
  EXPECT_EQ(run.result.err.find("runtime error"), std::string::npos) << run.result.err.substr(0, 2000);
  EXPECT_EQ(run.result.err.find("Sanitizer"), std::string::npos) << run.result.err.substr(0, 2000);
  return run;
}

// The script of a -dxfin run that must succeed.
kpl::Script convertedScript(const TempDir& dir, const std::string& file, const std::string& direction = "-dxfin",
                            const std::string& level = "") {
  const Conversion run = convert(dir, direction, file, level);
  EXPECT_EQ(run.result.status, 0) << run.result.out.substr(0, 2000) << run.result.err.substr(0, 2000);
  kpl::Script s = kpl::readScriptFile(run.script);
  EXPECT_TRUE(s.errors.empty()) << s.errors.front();
  EXPECT_TRUE(s.closed);
  return s;
}

std::vector<kpl::Point> writtenPoints(const kpl::Script& s) {
  std::vector<kpl::Point> out;
  for (const auto& [n, p] : s.points) out.push_back(p);
  return out;
}

bool samePlace(const kpl::Point& a, const kpl::Point& b) { return near(a, b, std::fabs(a.x)); }

// Everything the peer lists (but for what it sets apart) must be in the
// script; circles and arcs no more than the peer lists.
// With `fittedSplines`, a spline of the file's twin is matched by its
// degree, the count of its control points and its ends only: the file
// holds it by fit points and a fit tolerance, and the twin the curve its
// writing program fitted within that tolerance, which the file does not
// tell.
bool sameEnds(const kpl::Spline& a, const kpl::Spline& b) {
  const std::size_t n = a.controlPoints.size();
  if (a.degree != b.degree || n == 0 || n != b.controlPoints.size()) return false;
  const auto& p = a.controlPoints;
  const double scale = std::max(std::fabs(p[0].x), std::fabs(p[0].y));
  const auto& q = b.controlPoints;
  return (near(p[0], q[0], scale) && near(p[n - 1], q[n - 1], scale)) ||
         (near(p[0], q[n - 1], scale) && near(p[n - 1], q[0], scale));
}

void expectPeerGeometry(const Drawing& x, const kpl::Script& s, bool fittedSplines = false) {
  std::vector<kpl::Line> lines = x.lines;
  lines.insert(lines.end(), x.polylineLines.begin(), x.polylineLines.end());
  const auto lostLines = missing(lines, s.lines, lineKey, sameLine);
  EXPECT_TRUE(lostLines.empty()) << describe(lostLines.size(), lines.size(), "lines", lostLines.front().start);

  // Circles and arcs beyond the file's only where the parts of its
  // dimensions are drawn.
  const auto lostCircles = missing(x.circles, s.circles, centreKey, sameCircle);
  EXPECT_TRUE(lostCircles.empty()) << describe(lostCircles.size(), x.circles.size(), "circles",
                                               lostCircles.front().centre);
  EXPECT_LE(s.circles.size(), x.circles.size() + x.dimensions.circles.size());

  const auto lostArcs = missing(x.arcs, s.arcs, arcKey, sameArc);
  EXPECT_TRUE(lostArcs.empty()) << describe(lostArcs.size(), x.arcs.size(), "arcs", lostArcs.front().centre);
  EXPECT_LE(s.arcs.size(), x.arcs.size() + x.dimensions.arcs.size());

  const auto lostPoints = missing(places(x.points), writtenPoints(s), pointKey, samePlace);
  EXPECT_TRUE(lostPoints.empty()) << describe(lostPoints.size(), x.points.size(), "points", lostPoints.front());

  const auto lostEllipses =
      missing(x.ellipses, s.ellipses, [](const Ellipse& e) { return e.centre.x; },
              [](const kpl::Ellipse& e) { return e.centre.x; }, sameEllipse);
  EXPECT_TRUE(lostEllipses.empty()) << describe(lostEllipses.size(), x.ellipses.size(), "ellipses",
                                                lostEllipses.front().centre);
  EXPECT_EQ(s.ellipses.size(), x.ellipses.size());

  const auto splineKey = [](const kpl::Spline& p) { return p.controlPoints.empty() ? 0.0 : p.controlPoints[0].x; };
  std::vector<kpl::Spline> lostSplines;
  for (const kpl::Spline& e : x.splines) {
    bool found = false;
    for (const kpl::Spline& w : s.splines) found = found || sameSpline(e, w) || (fittedSplines && sameEnds(e, w));
    if (!found) lostSplines.push_back(e);
  }
  EXPECT_TRUE(lostSplines.empty()) << lostSplines.size() << " of " << x.splines.size()
                                   << " splines missing, first starting at x " << splineKey(lostSplines.front());

  const auto lostTexts = missingTexts(x.texts, s.texts);
  EXPECT_TRUE(lostTexts.empty()) << describe(lostTexts.size(), x.texts.size(), "texts", lostTexts.front().position)
                                 << ": \"" << lostTexts.front().value << "\"";
}

class DxfinCorpus : public ::testing::TestWithParam<const char*> {};

TEST_P(DxfinCorpus, ScriptHoldsTheGeometryOfTheFile) {
  const std::string file = corpus() + "/" + GetParam();
  if (!std::filesystem::exists(file)) GTEST_SKIP() << "no corpus";
  TempDir dir;
  const kpl::Script s = convertedScript(dir, file);
  if (!available()) GTEST_SKIP() << "the peer reader (python3 with ezdxf) is not installed";
  expectPeerGeometry(read(file), s);
}

// Every DXF file of the corpus but dwg/2000/PolyLine2D.dxf, whose layouts
// hold a viewport only (see DxfinLayouts).
INSTANTIATE_TEST_SUITE_P(
    EveryRelease, DxfinCorpus,
    ::testing::Values("dwg/r2.6/entities.dxf", "dwg/r9/entities.dxf", "dwg/r11/entities-2d.dxf",
                      "dxf/example_r12.dxf", "dxf/r12/Leader.dxf", "dxf/r12/Constraints.dxf", "dxf/r13/v.dxf",
                      "dwg/r14/Leader.dxf", "dwg/example_r14.dxf", "dxf/sample_r14.dxf", "dwg/2000/entities-2d.dxf",
                      "dwg/example_2000.dxf", "dxf/example_2000.dxfb", "dwg/2007/Arc.dxf", "dwg/2007/Line.dxf"));

// A drawing with one entity of each kind and inserts of a block, moved,
// turned, scaled and mirrored.
db::Database kindsDrawing(db::Release release) {
  db::Database d = db::Database::create(release);
  auto add = [&](db::BlockRecord& block, db::EntityKind kind, auto fill) {
    db::Entity e = db::makeEntity(kind);
    fill(e);
    d.addEntity(block, std::move(e));
  };
  db::BlockRecord& part = d.addBlock("PART");
  const std::size_t partIndex = d.blockIndex(part);
  add(d.blocks[partIndex], db::EntityKind::Line,
      [](db::Entity& e) { db::get<db::Line>(e.data) = db::Line{{0, 0, 0}, {4, 1, 0}}; });
  add(d.blocks[partIndex], db::EntityKind::Arc, [](db::Entity& e) {
    db::Arc& a = db::get<db::Arc>(e.data);
    a.center = {1, 1, 0};
    a.radius = 2;
    a.startAngle = 10;
    a.endAngle = 100;
  });
  add(d.blocks[partIndex], db::EntityKind::Text, [](db::Entity& e) {
    db::Text& t = db::get<db::Text>(e.data);
    t.insertion = {0.5, -1, 0};
    t.height = 0.5;
    t.value = "in block";
  });
  db::BlockRecord& model = d.modelSpace();
  const std::size_t modelIndex = d.blockIndex(model);
  auto inModel = [&](db::EntityKind kind, auto fill) { add(d.blocks[modelIndex], kind, fill); };
  inModel(db::EntityKind::Line,
          [](db::Entity& e) { db::get<db::Line>(e.data) = db::Line{{10, 20, 0}, {35.5, 27.25, 0}}; });
  inModel(db::EntityKind::Circle, [](db::Entity& e) {
    db::get<db::Circle>(e.data).center = {50, 50, 0};
    db::get<db::Circle>(e.data).radius = 7.5;
  });
  inModel(db::EntityKind::Arc, [](db::Entity& e) {
    db::Arc& a = db::get<db::Arc>(e.data);
    a.center = {80, 10, 0};
    a.radius = 5;
    a.startAngle = 300;
    a.endAngle = 45;  // through 0 degrees
  });
  inModel(db::EntityKind::Point, [](db::Entity& e) { db::get<db::PointEntity>(e.data).location = {3, 4, 0}; });
  inModel(db::EntityKind::LwPolyline, [](db::Entity& e) {
    auto& v = db::get<db::LwPolyline>(e.data).vertices;
    v = {{{100, 0, 0}, 0, 0, 0}, {{110, 0, 0}, 0, 0, 1}, {{110, 10, 0}, 0, 0, -0.4}, {{100, 12, 0}, 0, 0, 0}};
  });
  inModel(db::EntityKind::Text, [](db::Entity& e) {
    db::Text& t = db::get<db::Text>(e.data);
    t.insertion = {0, 60, 0};
    t.height = 2.5;
    t.rotation = 30;
    t.value = "Welle \"A\" 50%";
  });
  if (release >= db::Release::R13) {
    inModel(db::EntityKind::Ellipse, [](db::Entity& e) {
      db::Ellipse& l = db::get<db::Ellipse>(e.data);
      l.center = {150, 50, 0};
      l.majorAxis = {20, 10, 0};
      l.ratio = 0.4;
    });
    inModel(db::EntityKind::Ellipse, [](db::Entity& e) {
      db::Ellipse& l = db::get<db::Ellipse>(e.data);
      l.center = {200, 50, 0};
      l.majorAxis = {0, 15, 0};
      l.ratio = 0.5;
      l.startParameter = 0.5;
      l.endParameter = 4.0;
    });
    inModel(db::EntityKind::Spline, [](db::Entity& e) {
      db::Spline& s = db::get<db::Spline>(e.data);
      s.flags = 8;
      s.degree = 3;
      s.knots = {0, 0, 0, 0, 1, 2, 2, 2, 2};
      s.controlPoints = {{0, 100, 0}, {10, 110, 0}, {20, 95, 0}, {30, 105, 0}, {40, 100, 0}};
    });
    inModel(db::EntityKind::MText, [](db::Entity& e) {
      db::MText& t = db::get<db::MText>(e.data);
      t.insertion = {60, 120, 0};
      t.attachment = 7;  // bottom left: the insertion point is the first line's base point
      t.height = 3;
      t.value = "Zeile eins";
    });
  }
  const struct {
    db::Point3 at;
    double xScale, yScale, rotation;
  } inserts[] = {{{0, 0, 0}, 1, 1, 0}, {{40, 80, 0}, 2, 2, 90}, {{90, 80, 0}, -1, 1, 0}, {{130, 80, 0}, 1.5, 1.5, 215}};
  for (const auto& i : inserts) {
    inModel(db::EntityKind::Insert, [&](db::Entity& e) {
      db::Insert& n = db::get<db::Insert>(e.data);
      n.block = "PART";
      n.insertion = i.at;
      n.xScale = i.xScale;
      n.yScale = i.yScale;
      n.rotation = i.rotation;
    });
  }
  return d;
}

std::string saved(db::Database& d, db::Release release, bool binary, bool dwg = false) {
  db::StringSink sink;
  db::SaveOptions options;
  options.format = dwg ? db::FileFormat::Dwg : binary ? db::FileFormat::DxfBinary : db::FileFormat::DxfAscii;
  options.release = release;
  EXPECT_TRUE(save(d, sink, options).ok());
  return sink.data;
}

struct Form {
  const char* name;
  db::Release release;
  bool binary;
};

class DxfinKinds : public ::testing::TestWithParam<Form> {};

TEST_P(DxfinKinds, ScriptHoldsEveryKindOfAGeneratedDrawing) {
  db::Database d = kindsDrawing(GetParam().release);
  TempDir dir;
  const std::string file =
      dir.write("kinds.dxf", saved(d, GetParam().release, GetParam().binary));
  const kpl::Script s = convertedScript(dir, file);
  if (!available()) GTEST_SKIP() << "the peer reader (python3 with ezdxf) is not installed";
  const Drawing x = read(file);
  EXPECT_GE(x.texts.size(), 5u);  // the peer sees what was built
  expectPeerGeometry(x, s);
}

INSTANTIATE_TEST_SUITE_P(Forms, DxfinKinds,
                         ::testing::Values(Form{"R12Ascii", db::Release::R12, false},
                                           Form{"R12Binary", db::Release::R12, true},
                                           Form{"R2000Ascii", db::Release::R2000, false},
                                           Form{"R2004Binary", db::Release::R2004, true}),
                         [](const auto& info) { return std::string(info.param.name); });

// The items of `lost` that are not among `setApart`.
template <typename T, typename U, typename Same>
std::vector<T> without(const std::vector<T>& lost, const std::vector<U>& setApart, Same same) {
  std::vector<T> out;
  for (const T& item : lost) {
    bool apart = false;
    for (const U& a : setApart) apart = apart || same(item, a);
    if (!apart) out.push_back(item);
  }
  return out;
}

// The R12 files of the corpus: the same lines, circles, arcs and points
// through the toolkit as through the own reader, both ways round.  Set
// apart are the kinds the readers draw in their own ways: the own reader
// leaves out 3DLINE and 3DFACE and draws a polyface mesh as the chain of
// its corners, where the toolkit draws the edges of its faces; the own
// reader draws dimensions from their blocks, the toolkit writes linear,
// radius, diameter and angular ones as live dimensions.
TEST(DxfinRelease12, ToolkitAndOwnReaderGiveTheSameGeometry) {
  const char* const files[] = {"dwg/r2.6/entities.dxf", "dwg/r9/entities.dxf", "dwg/r11/entities-2d.dxf",
                               "dxf/example_r12.dxf",   "dxf/r12/Leader.dxf",  "dxf/r12/Constraints.dxf"};
  if (!std::filesystem::exists(corpus())) GTEST_SKIP() << "no corpus";
  if (!available()) GTEST_SKIP() << "the peer reader (python3 with ezdxf) is not installed";
  const auto endOf = [](const kpl::Point& p, const kpl::Line& l) {
    return near(p, l.start, std::fabs(p.x)) || near(p, l.end, std::fabs(p.x));
  };
  const auto arcOf = [](const kpl::Arc& a, const kpl::Arc& b) {
    return sameCircle(kpl::Circle{0, a.centre, a.radius}, kpl::Circle{0, b.centre, b.radius});
  };
  // The centre and the ends of a dimension's arc (an angular dimension the
  // toolkit writes live, the own reader draws from its block).
  const auto onArc = [](const kpl::Point& p, const kpl::Arc& arc) {
    const double d = std::hypot(p.x - arc.centre.x, p.y - arc.centre.y);
    const double tolerance = 2e-4 + 1e-9 * std::fabs(arc.radius);
    return d < tolerance || std::fabs(d - arc.radius) < tolerance;
  };
  for (const char* name : files) {
    SCOPED_TRACE(name);
    const std::string file = corpus() + "/" + name;
    const Drawing x = read(file);
    std::vector<kpl::Line> apartLines = x.faces.lines;
    apartLines.insert(apartLines.end(), x.dimensions.lines.begin(), x.dimensions.lines.end());
    TempDir dir;
    const Conversion toolkit = convert(dir, "-dxfin", file);
    const Conversion own = convert(dir, "-dxf12in", file);
    ASSERT_EQ(toolkit.result.status, 0) << toolkit.result.out.substr(0, 2000);
    ASSERT_EQ(own.result.status, 0) << own.result.out.substr(0, 2000);
    const kpl::Script a = kpl::readScriptFile(toolkit.script);
    const kpl::Script b = kpl::readScriptFile(own.script);
    for (const auto& [from, to, label] :
         {std::tuple{&a, &b, "toolkit's not in the own reader's"}, std::tuple{&b, &a, "own reader's not in the toolkit's"}}) {
      SCOPED_TRACE(label);
      const auto lines = without(missing(from->lines, to->lines, lineKey, sameLine), apartLines, sameLine);
      EXPECT_TRUE(lines.empty()) << describe(lines.size(), from->lines.size(), "lines", lines.front().start);
      const auto circles = missing(from->circles, to->circles, centreKey, sameCircle);
      EXPECT_TRUE(circles.empty()) << describe(circles.size(), from->circles.size(), "circles",
                                               circles.front().centre);
      const auto arcs = without(missing(from->arcs, to->arcs, arcKey, sameArc), x.dimensions.arcs, arcOf);
      EXPECT_TRUE(arcs.empty()) << describe(arcs.size(), from->arcs.size(), "arcs", arcs.front().centre);
      const auto points = without(without(missing(places(writtenPoints(*from)), writtenPoints(*to), pointKey,
                                                  samePlace),
                                          apartLines, endOf),
                                  x.dimensions.points, samePlace);
      const auto pointsOff = without(points, x.dimensions.arcs, onArc);
      EXPECT_TRUE(pointsOff.empty()) << describe(pointsOff.size(), from->points.size(), "points", pointsOff.front());
    }
  }
}

// A drawing with nothing convertible in model and paper space (nothing at
// all, a block nothing inserts, or a sheet with its viewport only) ends with the message of the
// empty file and writes no script; the layout blocks are model and paper
// space whatever the case of their names.
TEST(DxfinLayouts, EmptyLayoutsGiveTheMessageAndNoScript) {
  const std::string noElements = "No AC elements to convert in file ";
  std::vector<std::string> files;
  TempDir dir;
  db::Database empty = db::Database::create(db::Release::R2000);
  // A sheet with its viewport and nothing to show in it.
  db::Database onlyViewport = db::Database::create(db::Release::R2000);
  db::Entity viewport = db::makeEntity(db::EntityKind::Viewport);
  db::Viewport& v = db::get<db::Viewport>(viewport.data);
  v.center = {148.5, 105, 0};
  v.width = 297;
  v.height = 210;
  v.id = 1;
  onlyViewport.addEntity(onlyViewport.paperSpace(), viewport);
  // A block that nothing inserts makes no element of the layouts.
  db::Database unused = db::Database::create(db::Release::R2000);
  db::Entity line = db::makeEntity(db::EntityKind::Line);
  db::get<db::Line>(line.data) = db::Line{{0, 0, 0}, {1, 1, 0}};
  unused.addEntity(unused.addBlock("UNUSED"), line);
  files.push_back(dir.write("empty.dxf", saved(empty, db::Release::R2000, false)));
  files.push_back(dir.write("unused_block.dxf", saved(unused, db::Release::R2000, false)));
  files.push_back(dir.write("only_viewport.dxf", saved(onlyViewport, db::Release::R2000, false)));
  if (std::filesystem::exists(corpus())) files.push_back(corpus() + "/dwg/2000/PolyLine2D.dxf");
  for (const std::string& file : files) {
    SCOPED_TRACE(file);
    TempDir runDir;
    const Conversion run = convert(runDir, "-dxfin", file);
    EXPECT_NE(run.result.status, 0);
    EXPECT_NE((run.result.out + run.result.err).find(noElements + file), std::string::npos)
        << run.result.out.substr(0, 2000);
    EXPECT_FALSE(run.written);
    // The keyed error is an error of the run in its closing line.
    EXPECT_EQ(closingCounts(run.result.err), std::make_pair(1, 0)) << run.result.err;
  }
}

TEST(DxfinLayouts, LayoutBlocksAreFoundWhateverTheCaseOfTheirNames) {
  const struct {
    const char* model;
    const char* paper;
    bool inPaperSpace;
  } rows[] = {{"*Model_Space", "*Paper_Space", false}, {"*MODEL_SPACE", "*PAPER_SPACE", false},
              {"*model_space", "*paper_space", false}, {"*Model_Space", "*Paper_Space", true},
              {"*MODEL_SPACE", "*PAPER_SPACE", true}};
  for (const auto& row : rows) {
    SCOPED_TRACE(std::string(row.model) + (row.inPaperSpace ? " paper" : " model"));
    db::Database d = db::Database::create(db::Release::R2000);
    d.modelSpace().name = row.model;
    d.paperSpace().name = row.paper;
    d.namesChanged();
    db::Entity line = db::makeEntity(db::EntityKind::Line);
    db::get<db::Line>(line.data) = db::Line{{1, 2, 0}, {5, 7, 0}};
    d.addEntity(row.inPaperSpace ? d.paperSpace() : d.modelSpace(), line);
    TempDir dir;
    const kpl::Script s = convertedScript(dir, dir.write("named.dxf", saved(d, db::Release::R2000, false)));
    ASSERT_EQ(s.lines.size(), 1u);
    EXPECT_TRUE(sameLine(s.lines[0], kpl::Line{0, {1, 2}, {5, 7}}));
  }
}

// -dwgin: the DWG files of the corpus convert with status 0 and hold the
// geometry the peer finds in their DXF twins, or, where there is none, in
// the DXF the DWG oracle converts them to.  They run at level
// PLUS, the scope -dxfin always has: below it, blocks and inserts are not
// converted.
std::string oracle() { return std::filesystem::path(TROVAK_CORPUS_DIR).parent_path().string() + "/tools/dwg-oracle"; }

class DwginCorpus : public ::testing::TestWithParam<const char*> {};

TEST_P(DwginCorpus, ScriptHoldsTheGeometryOfTheFile) {
  const std::string file = corpus() + "/" + GetParam();
  if (!std::filesystem::exists(file)) GTEST_SKIP() << "no corpus";
  TempDir dir;
  const kpl::Script s = convertedScript(dir, file, "-dwgin", "-plus");
  if (!available()) GTEST_SKIP() << "the peer reader (python3 with ezdxf) is not installed";
  // The twin of the large R14 sample was saved by a CAD program that draws
  // its table and its arc dimension as inserts of their blocks; the DWG
  // file holds both as custom entities, which no DWG reader draws: it is
  // compared with what the oracle reads.
  std::string twin = file.substr(0, file.size() - 4) + ".dxf";
  if (!std::filesystem::exists(twin) || std::string(GetParam()) == "dwg/example_r14.dwg") {
    if (!std::filesystem::exists(oracle() + "/bin/dwg2dxf")) GTEST_SKIP() << "no twin and no DWG oracle";
    twin = dir.path() + "/twin.dxf";
    const ProgramResult made = runProgram(oracle() + "/bin/dwg2dxf", {"-y", "-o", twin, file}, dir.path(), "", 120);
    ASSERT_EQ(made.status, 0) << made.err;
  }
  expectPeerGeometry(read(twin), s, true);
}

// Every DWG file of the corpus but dwg/2000/PolyLine2D.dwg, whose layouts
// hold a viewport only.
INSTANTIATE_TEST_SUITE_P(
    EveryFile, DwginCorpus,
    ::testing::Values("dwg/r2.6/entities.dwg", "dwg/r9/entities.dwg", "dwg/r11/entities-2d.dwg", "dwg/example_r14.dwg", "dwg/r14/Leader.dwg", "dwg/r14/v.dwg", "dwg/example_2000.dwg",
                      "dwg/2000/entities-2d.dwg", "dwg/2000/Arc.dwg", "dwg/2000/circle.dwg", "dwg/2000/Ellipse.dwg",
                      "dwg/2000/Line.dwg", "dwg/2000/Point.dwg", "dwg/2000/Polyline.dwg", "dwg/2000/Spline.dwg",
                      "dwg/2000/Text.dwg", "dwg/2004/Arc.dwg", "dwg/2004/circle.dwg", "dwg/2004/Ellipse.dwg",
                      "dwg/2004/Line.dwg", "dwg/2004/Polyline.dwg", "dwg/2004/Spline.dwg", "dwg/2004/Text.dwg",
                      "dwg/2007/Arc.dwg", "dwg/2007/Line.dwg",
                      "dwg/2010/Arc.dwg", "dwg/2010/Line.dwg", "dwg/2010/Text.dwg", "dwg/2013/Line.dwg",
                      "dwg/2013/Text.dwg", "dwg/2018/Arc.dwg", "dwg/2018/Line.dwg", "dwg/2018/Text.dwg"));

class DwginKinds : public ::testing::TestWithParam<Form> {};

// A drawing written as DWG by the toolkit converts as its DXF does.
TEST_P(DwginKinds, ScriptHoldsEveryKindOfAGeneratedDrawing) {
  db::Database d = kindsDrawing(GetParam().release);
  TempDir dir;
  const std::string file = dir.write("kinds.dwg", saved(d, GetParam().release, false, true));
  const std::string twin = dir.write("kinds.dxf", saved(d, GetParam().release, false));
  const kpl::Script s = convertedScript(dir, file, "-dwgin", "-plus");
  if (!available()) GTEST_SKIP() << "the peer reader (python3 with ezdxf) is not installed";
  expectPeerGeometry(read(twin), s);
}

INSTANTIATE_TEST_SUITE_P(Releases, DwginKinds,
                         ::testing::Values(Form{"R2_5", db::Release::R2_5, false}, Form{"R2_6", db::Release::R2_6, false},
                                           Form{"R9", db::Release::R9, false}, Form{"R10", db::Release::R10, false},
                                           Form{"R12", db::Release::R12, false}, Form{"R13", db::Release::R13, false},
                                           Form{"R14", db::Release::R14, false}, Form{"R2000", db::Release::R2000, false},
                                           Form{"R2004", db::Release::R2004, false}),
                         [](const auto& info) { return std::string(info.param.name); });

// A damaged DWG file ends with the message that it cannot be loaded, and
// no script: files cut short, and in 2004 a page whose bytes no longer
// give its checksum.
TEST(DwginDamaged, ACutFileCannotBeLoaded) {
  TempDir dir;
  for (const db::Release release : {db::Release::R9, db::Release::R12, db::Release::R2000, db::Release::R2004}) {
    db::Database d = kindsDrawing(release);
    const std::string whole = saved(d, release, false, true);
    // A file of 2004 ends with a copy of its header block, which readers
    // do not need: its cut goes into the page map before it.
    const std::size_t tail = release == db::Release::R2004 ? 0x100 : 3;
    std::vector<std::string> damaged;
    for (const std::size_t keep : {std::size_t{40}, whole.size() / 2, whole.size() - tail})
      damaged.push_back(whole.substr(0, keep));
    if (release == db::Release::R2004) {
      db::DwgPagedFile layout;
      ASSERT_TRUE(db::readDwgPagedFile(whole, layout).ok());
      const db::DwgSectionInfo* objects = layout.section("AcDb:AcDbObjects");
      ASSERT_NE(objects, nullptr);
      std::string changed = whole;
      changed[layout.page(static_cast<std::int32_t>(objects->pages.at(0).id))->address + 40] ^= 0x10;
      damaged.push_back(changed);
    }
    for (std::size_t i = 0; i < damaged.size(); ++i) {
      SCOPED_TRACE(std::string(db::releaseInfo(release).version) + " damage " + std::to_string(i));
      const std::string file = dir.write("damaged.dwg", damaged[i]);
      const Conversion run = convert(dir, "-dwgin", file);
      EXPECT_NE(run.result.status, 0);
      EXPECT_NE((run.result.out + run.result.err).find("Cannot load AC file " + file), std::string::npos)
          << run.result.out.substr(0, 2000) << run.result.err.substr(0, 2000);
      EXPECT_FALSE(run.written);
    }
  }
}

// A damaged DWG file of 2007 (cut, or its maps and file header beyond
// what their codewords correct) ends the same way.
TEST(DwginDamaged, ADamaged2007FileCannotBeLoaded) {
  const std::string sample = corpus() + "/dwg/2007/Line.dwg";
  if (!std::filesystem::exists(sample)) GTEST_SKIP() << "no corpus";
  std::ifstream in(sample, std::ios::binary);
  const std::string whole{std::istreambuf_iterator<char>(in), {}};
  // Every third byte of the ranges inverted: far more than the parity of
  // their codewords corrects.
  auto smudged = [&](std::initializer_list<std::pair<std::size_t, std::size_t>> ranges) {
    std::string s = whole;
    for (const auto& [from, to] : ranges)
      for (std::size_t i = from; i < to; i += 3) s[i] = static_cast<char>(~s[i]);
    return s;
  };
  const std::size_t copy = whole.size() - 0x400;
  const struct {
    const char* what;
    std::string bytes;
  } cases[] = {
      {"cut in its pages", whole.substr(0, whole.size() / 2)},
      {"cut in the header copy", whole.substr(0, whole.size() - 0x100)},
      {"pages map unreadable", smudged({{0x480, 0x880}})},
      {"both file headers unreadable", smudged({{0x80, 0x380}, {copy, copy + 0x300}})},
  };
  TempDir dir;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string file = dir.write("damaged.dwg", c.bytes);
    const Conversion run = convert(dir, "-dwgin", file);
    EXPECT_NE(run.result.status, 0);
    EXPECT_NE((run.result.out + run.result.err).find("Cannot load AC file " + file), std::string::npos)
        << run.result.out.substr(0, 2000) << run.result.err.substr(0, 2000);
    EXPECT_FALSE(run.written);
  }
}

}  // namespace
