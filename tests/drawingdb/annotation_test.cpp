// SPLINE, MTEXT, LEADER, VIEWPORT and GROUP beyond the round trips of
// declarations_test: the forms releases without the kinds draw them in,
// the spline curve and the plain text those forms are made of, the text
// chunks of MTEXT, groups with their reactors and extension dictionaries,
// the audit of their references, damaged counts, and the corpus.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <set>
#include <sstream>

#include "drawingdb/annotation_forms.h"
#include "drawingdb/audit.h"
#include "drawingdb/code_page.h"
#include "drawingdb/dxf_codec.h"
#include "sample_drawing.h"

using namespace drawingdb;

namespace {

Database readBack(const std::string& bytes) {
  Database back;
  const DxfReadResult r = readDxf(bytes, back);
  EXPECT_TRUE(r.status.ok()) << r.status.detail;
  for (const Finding& f : r.findings) ADD_FAILURE() << f.code << ": " << f.detail;
  return back;
}

std::string written(Database& db, Release r, bool binary = false) {
  StringSink sink;
  const Status s = writeDxf(db, sink, {r, binary, 17});
  EXPECT_TRUE(s.ok()) << s.detail;
  return sink.data;
}

bool hasEntityType(const std::string& file, const std::string& type) {
  return file.find("\r\n  0\r\n" + type + "\r\n") != std::string::npos;
}

void expectNear(const Point3& a, const Point3& b, double tolerance = 1e-9) {
  EXPECT_NEAR(a.x, b.x, tolerance);
  EXPECT_NEAR(a.y, b.y, tolerance);
  EXPECT_NEAR(a.z, b.z, tolerance);
}

// A drawing with one entity of each of the kinds, in model space but the
// viewport.
Database annotated(Release r) {
  Database db = Database::create(r);
  Entity s = sample::entity(EntityKind::Spline, "0", 1);
  Spline& sp = get<Spline>(s.data);
  sp.degree = 2;
  sp.knots = {0, 0, 0, 1, 1, 1};
  sp.controlPoints = {{0, 0, 1}, {2, 4, 1}, {4, 0, 1}};
  db.addEntity(db.modelSpace(), std::move(s));
  Entity m = sample::entity(EntityKind::MText, "0", 2);
  MText& mt = get<MText>(m.data);
  mt.insertion = {10, 20, 0};
  mt.height = 2;
  mt.attachment = 1;
  mt.value = "{\\LLine} one\\Pline \\S1^2;";
  db.addEntity(db.modelSpace(), std::move(m));
  Entity l = sample::entity(EntityKind::Leader, "0", 3);
  get<Leader>(l.data).vertices = {{0, 0, 0}, {3, 4, 0}, {8, 4, 0}};
  db.addEntity(db.modelSpace(), std::move(l));
  Entity el = sample::entity(EntityKind::Ellipse, "0", 4);
  Ellipse& ellipse = get<Ellipse>(el.data);
  ellipse.center = {-10, -10, 0};
  ellipse.majorAxis = {0, 4, 0};
  ellipse.ratio = 0.5;
  ellipse.startParameter = 0;
  ellipse.endParameter = std::numbers::pi;
  db.addEntity(db.modelSpace(), std::move(el));
  Entity curved = sample::entity(EntityKind::Leader);
  get<Leader>(curved.data).pathType = 1;
  get<Leader>(curved.data).vertices = {{0, 10, 0}, {4, 14, 0}, {8, 10, 0}};
  db.addEntity(db.modelSpace(), std::move(curved));
  if (r >= Release::R12) db.dimstyles.find("STANDARD")->data.arrowSize = 0.6;
  Entity v = sample::entity(EntityKind::Viewport);
  Viewport& vp = get<Viewport>(v.data);
  vp.center = {100, 50, 0};
  vp.width = 40;
  vp.height = 20;
  vp.viewHeight = 5;
  db.addEntity(db.paperSpace(), std::move(v));
  return db;
}

// ------------------------------------------------------------ older forms

TEST(OlderForms, EveryReleaseWithoutTheKinds) {
  for (const Release r : {Release::R2_5, Release::R2_6, Release::R9, Release::R10, Release::R12}) {
    SCOPED_TRACE(std::string(releaseInfo(r).version));
    Database db = annotated(r);
    const std::string file = written(db, r);
    for (const char* kind : {"SPLINE", "MTEXT", "LEADER", "ELLIPSE"}) EXPECT_FALSE(hasEntityType(file, kind)) << kind;
    EXPECT_EQ(hasEntityType(file, "VIEWPORT"), r >= Release::R12);
    Database back = readBack(file);
    for (const Finding& f : audit(back, {false})) ADD_FAILURE() << "audit: " << f.code << ": " << f.detail;
    std::vector<const Entity*> ms;
    for (EntityId id : back.modelSpace().entities) ms.push_back(&back.entities[id]);
    // Paper space of releases before R11 is model space.
    const std::size_t frames = r >= Release::R12 ? 0 : 1;
    ASSERT_EQ(ms.size(), 8 + frames);
    const bool in3d = r >= Release::R10;

    // The spline: a polyline along the curve, a Bézier arc here.
    ASSERT_EQ(ms[0]->kind, EntityKind::Polyline);
    EXPECT_EQ(ms[0]->common.colour, 1);
    const auto& curve = get<Polyline>(ms[0]->data).vertices;
    ASSERT_EQ(curve.size(), 9u);
    const double z = in3d ? 1 : 0;
    expectNear(curve.front().location, {0, 0, z});
    expectNear(curve[4].location, {2, 2, z});
    expectNear(curve.back().location, {4, 0, z});

    // The text: a TEXT per line, the first with its top at the insertion.
    ASSERT_EQ(ms[1]->kind, EntityKind::Text);
    ASSERT_EQ(ms[2]->kind, EntityKind::Text);
    const Text& one = get<Text>(ms[1]->data);
    const Text& two = get<Text>(ms[2]->data);
    EXPECT_EQ(one.value, "Line one");
    EXPECT_EQ(two.value, "line 1/2");
    expectNear(one.insertion, {10, 18, 0});
    expectNear(two.insertion, {10, 18 - 2 * 5.0 / 3.0, 0});
    EXPECT_EQ(one.height, 2);
    EXPECT_EQ(ms[2]->common.colour, 2);

    // The leader: its path and, from R12 on where the style gives arrows a
    // size, its arrow.
    ASSERT_EQ(ms[3]->kind, EntityKind::Polyline);
    const auto& path = get<Polyline>(ms[3]->data).vertices;
    ASSERT_EQ(path.size(), 3u);
    expectNear(path[1].location, {3, 4, 0});
    ASSERT_EQ(ms[4]->kind, EntityKind::Solid);
    const Solid& arrow = get<Solid>(ms[4]->data);
    expectNear(arrow.corner1, {0, 0, 0});
    const double size = r >= Release::R12 ? 0.6 : 0.18;  // the style's, else $DIMASZ
    const Point3 base{0.6 * size, 0.8 * size, 0};
    expectNear(arrow.corner2, {base.x - 0.8 * size / 6, base.y + 0.6 * size / 6, 0});
    expectNear(arrow.corner3, {base.x + 0.8 * size / 6, base.y - 0.6 * size / 6, 0});

    // The half ellipse: a polyline from end to end of its major axis
    // through the end of the minor one, which lies left of the major.
    ASSERT_EQ(ms[5]->kind, EntityKind::Polyline);
    const auto& arc = get<Polyline>(ms[5]->data);
    EXPECT_EQ(arc.flags & 1, 0);
    ASSERT_EQ(arc.vertices.size(), 33u);
    expectNear(arc.vertices.front().location, {-10, -6, 0});
    expectNear(arc.vertices[16].location, {-12, -10, 0});
    expectNear(arc.vertices.back().location, {-10, -14, 0});
    for (const Vertex& v : arc.vertices) {
      const double x = (v.location.x + 10) / 2, y = (v.location.y + 10) / 4;
      EXPECT_NEAR(x * x + y * y, 1, 1e-12);
    }

    // A spline path runs through every vertex along a smooth curve.
    ASSERT_EQ(ms[6]->kind, EntityKind::Polyline);
    const auto& smooth = get<Polyline>(ms[6]->data).vertices;
    ASSERT_EQ(smooth.size(), 17u);
    expectNear(smooth[0].location, {0, 10, 0});
    expectNear(smooth[8].location, {4, 14, 0});
    expectNear(smooth[16].location, {8, 10, 0});
    expectNear(smooth[4].location, {1.75, 12.25, 0});  // the curve between its first two vertices
    ASSERT_EQ(ms[7]->kind, EntityKind::Solid);

    if (frames == 1) {
      ASSERT_EQ(ms[8]->kind, EntityKind::Polyline);
      const Polyline& frame = get<Polyline>(ms[8]->data);
      EXPECT_EQ(frame.flags & 1, 1);
      ASSERT_EQ(frame.vertices.size(), 4u);
      expectNear(frame.vertices[0].location, {80, 40, 0});
      expectNear(frame.vertices[2].location, {120, 60, 0});
    } else {
      ASSERT_EQ(back.paperSpace().entities.size(), 1u);
      EXPECT_EQ(back.entities[back.paperSpace().entities[0]].kind, EntityKind::Viewport);
    }
    // Every handle of the file is its own.
    if (r >= Release::R10) {
      std::set<Handle> seen;
      back.forEachHandle([&](Handle& h) { EXPECT_TRUE(seen.insert(h).second) << h; });
    }
  }
}

TEST(OlderForms, PeerReadsThemInR12) {
  if (!sample::haveEzdxf()) GTEST_SKIP() << "ezdxf is not installed";
  for (const bool binary : {false, true}) {
    Database db = annotated(Release::R12);
    const std::string path = "/tmp/drawingdb_older_" + std::to_string(getpid()) + (binary ? "b" : "a") + ".dxf";
    std::ofstream(path, std::ios::binary) << written(db, Release::R12, binary);
    const sample::PeerResult peer = sample::readWithPeer(path);
    ASSERT_TRUE(peer.ran) << peer.auditText;
    EXPECT_EQ(peer.errors, 0) << peer.auditText;
    std::vector<std::string> kinds;
    for (const auto& e : peer.entities) kinds.push_back(e.kind.substr(0, e.kind.find(':')));
    EXPECT_EQ(kinds, (std::vector<std::string>{"POLYLINE", "TEXT", "TEXT", "POLYLINE", "SOLID", "POLYLINE", "POLYLINE", "SOLID"}));
    if (peer.entities.size() > 2) {
      EXPECT_EQ(peer.entities[1].kind, "TEXT:Line one:Standard");
    }
    if (!HasFailure()) std::remove(path.c_str());
  }
}

// ------------------------------------------------------------ the pieces

TEST(SplinePoints, CurveFitOrPolygon) {
  const double h = std::sqrt(0.5);
  struct Case {
    const char* name;
    Spline spline;
    std::vector<Point3> expected;  // empty: every point on the unit circle
  };
  Spline linear;
  linear.degree = 1;
  linear.knots = {0, 0, 1, 2, 2};
  linear.controlPoints = {{0, 0, 0}, {1, 1, 0}, {2, 0, 0}};
  Spline quarter;  // a rational quadratic: a quarter of the unit circle
  quarter.degree = 2;
  quarter.flags = 4;
  quarter.knots = {0, 0, 0, 1, 1, 1};
  quarter.controlPoints = {{1, 0, 0}, {1, 1, 0}, {0, 1, 0}};
  quarter.weights = {1, h, 1};
  Spline badKnots = quarter;
  badKnots.knots = {0, 0, 1, 0.5, 1, 1};
  Spline fitOnly;
  fitOnly.fitPoints = {{0, 0, 0}, {5, 5, 0}, {9, 1, 0}};
  Spline badBoth = badKnots;
  badBoth.fitPoints = fitOnly.fitPoints;
  const Case cases[] = {
      {"linear", linear, {}},
      {"quarter circle", quarter, {}},
      {"knots out of order", badKnots, quarter.controlPoints},
      {"fit points only", fitOnly, fitOnly.fitPoints},
      {"fit points before a broken curve", badBoth, fitOnly.fitPoints},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<Point3> points = splinePoints(c.spline);
    if (std::string(c.name) == "linear") {
      ASSERT_EQ(points.size(), 17u);
      expectNear(points[4], {0.5, 0.5, 0});
      expectNear(points[8], {1, 1, 0});
      expectNear(points[12], {1.5, 0.5, 0});
      expectNear(points[16], {2, 0, 0});
    } else if (c.expected.empty()) {
      ASSERT_EQ(points.size(), 9u);
      for (const Point3& p : points) EXPECT_NEAR(std::hypot(p.x, p.y), 1, 1e-12);
      expectNear(points.back(), {0, 1, 0});
    } else {
      ASSERT_EQ(points.size(), c.expected.size());
      for (std::size_t i = 0; i < points.size(); ++i) expectNear(points[i], c.expected[i]);
    }
  }
}

TEST(MTextPlainText, FormattingCodesLeftOut) {
  const std::pair<std::string, std::string> cases[] = {
      {"plain", "plain"},
      {"one\\Ptwo", "one\ntwo"},
      {"{\\fArial|b1;bold} and {\\H2.5x;big}", "bold and big"},
      {"\\Lunder\\l \\Oover\\o \\Kstrike\\k", "under over strike"},
      {"a\\~b", "a b"},
      {"\\\\ \\{ \\}", "\\ { }"},
      {"\\S3#4; \\S1/2; \\Sx^y;", "3/4 1/2 x/y"},
      {"\\C1;red\\A1;\\T1.1;\\W0.8;\\Q10;\\pi1;x", "redx"},
      {"\\U+00E4", "\\U+00E4"},
      {"trailing\\", "trailing\\"},
      {"\\S1^2", "1/2"},
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(mtextPlainText(in), out) << in;
}

// The text of an MTEXT goes out in groups 3 of at most 250 bytes of the
// file before the closing group 1, never split inside a character (its
// UTF-8 bytes in a UTF-8 file, its escape in a code page that lacks it),
// and reads back whole.
TEST(MTextChunks, SplitAtCharactersAndJoined) {
  struct Case {
    std::size_t length;
    const char* character;  // every seventh
    const char* codePage;   // of the text as written
    std::size_t fullChunk;  // group 3 holds at least this many bytes
  };
  const Case cases[] = {
      {0, "\xe2\x82\xac", "ANSI_1252", 250},  {249, "\xe2\x82\xac", "ANSI_1252", 250},
      {250, "\xe2\x82\xac", "ANSI_1252", 250}, {251, "\xe2\x82\xac", "ANSI_1252", 250},
      {1000, "\xe2\x82\xac", "ANSI_1252", 250}, {1000, "\xd0\x96", "ANSI_1252", 244},  // Ж: \U+0416
      {1000, "\xd0\x96", "ANSI_1251", 250},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.length) + " " + c.codePage);
    std::string text;
    while (text.size() < c.length) text += (text.size() % 7 == 3) ? c.character : "x";
    Database db = Database::create(Release::R2000);
    db.header.set("$DWGCODEPAGE", std::string(c.codePage));
    Entity m = sample::entity(EntityKind::MText);
    get<MText>(m.data).value = text;
    db.addEntity(db.modelSpace(), std::move(m));
    const std::string file = written(db, Release::R2000);
    const CodePage page = CodePage::named(c.codePage);
    std::istringstream in(file);
    std::string code, value, joined, scratch;
    bool inMText = false;
    int closing = 0;
    while (std::getline(in, code) && std::getline(in, value)) {
      if (!value.empty() && value.back() == '\r') value.pop_back();
      const int group = std::stoi(code);
      if (group == 0) inMText = value == "MTEXT";
      if (!inMText || (group != 1 && group != 3)) continue;
      EXPECT_EQ(closing, 0) << "a group 3 after the group 1";
      EXPECT_LE(value.size(), 250u);
      if (group == 3) {
        EXPECT_GE(value.size(), c.fullChunk);
      }
      closing += group == 1 ? 1 : 0;
      // Each group decoded alone.
      joined += page.decode(value, scratch);
    }
    EXPECT_EQ(closing, 1);
    EXPECT_EQ(joined, text);
    Database back = readBack(file);
    EXPECT_EQ(get<MText>(back.entities[back.modelSpace().entities[0]].data).value, text);
  }
}

// ------------------------------------------------------------ groups

TEST(Groups, WithReactorsAndExtensionDictionariesInEveryRelease) {
  for (const Release r : {Release::R12, Release::R13, Release::R14, Release::R2000, Release::R2004}) {
    for (const bool binary : {false, true}) {
      SCOPED_TRACE(std::string(releaseInfo(r).version) + (binary ? " binary" : " ASCII"));
      Database db = Database::create(r);
      std::vector<Handle> lines;
      for (int i = 0; i < 3; ++i) {
        Entity e = sample::entity(EntityKind::Line);
        get<Line>(e.data).end = {double(i + 1), 0, 0};
        lines.push_back(db.entities[db.addEntity(db.modelSpace(), std::move(e))].common.handle);
      }
      Group g;
      g.description = "Doors of the ground floor";
      g.entities = {lines[0], lines[2]};
      const Handle group = db.addGroup("DOORS", g).handle;
      const Handle xdict = db.addObject("DICTIONARY", lines[1], Dictionary{}).handle;
      db.entities[db.modelSpace().entities[1]].common.xdictionary = xdict;
      // Records and block records have them as well.
      Record<Layer>& layer = db.addRecord(db.layers, "STATES");
      const Handle layerDict = db.addObject("DICTIONARY", layer.common.handle, Dictionary{}).handle;
      layer.common.xdictionary = layerDict;
      BlockRecord& block = db.addBlock("DOOR");
      const Handle blockHandle = block.handle;
      const Handle blockDict = db.addObject("DICTIONARY", blockHandle, Dictionary{}).handle;
      db.findBlock("DOOR")->xdictionary = blockDict;
      db.findBlock("DOOR")->reactors = {group};
      const std::string file = written(db, r, binary);
      Database back = readBack(file);
      for (const Finding& f : audit(back, {false})) ADD_FAILURE() << "audit: " << f.code << ": " << f.detail;
      const auto& ms = back.modelSpace().entities;
      ASSERT_EQ(ms.size(), 3u);
      if (r < Release::R13) {
        EXPECT_EQ(file.find("{ACAD_"), std::string::npos);
        for (EntityId id : ms) EXPECT_TRUE(back.entities[id].common.reactors().empty());
        continue;
      }
      const Object* o = back.findObject(group);
      ASSERT_NE(o, nullptr);
      ASSERT_EQ(o->kind, ObjectKind::Group);
      const Group& read = std::get<Group>(o->data);
      EXPECT_EQ(back.groupName(group), "DOORS");
      EXPECT_EQ(read.description, g.description);
      EXPECT_EQ(read.selectable, 1);
      EXPECT_EQ(read.entities, g.entities);
      EXPECT_EQ(back.entities[ms[0]].common.reactors(), std::vector<Handle>{group});
      EXPECT_TRUE(back.entities[ms[1]].common.reactors().empty());
      EXPECT_EQ(back.entities[ms[2]].common.reactors(), std::vector<Handle>{group});
      EXPECT_EQ(back.entities[ms[1]].common.xdictionary, xdict);
      ASSERT_NE(back.findObject(xdict), nullptr);
      EXPECT_EQ(back.findObject(xdict)->owner, lines[1]);
      EXPECT_FALSE(o->reactors.empty());
      EXPECT_EQ(back.layers.find("STATES")->common.xdictionary, layerDict);
      ASSERT_NE(back.findBlock("DOOR"), nullptr);
      EXPECT_EQ(back.findBlock("DOOR")->xdictionary, blockDict);
      EXPECT_EQ(back.findBlock("DOOR")->reactors, std::vector<Handle>{group});
    }
  }
}

// What a file of an older release cannot hold (here an entity kept as
// read from a 2000 file, written as R13) is neither a member of a group
// nor a leader's annotation there: no reference of the file dangles.
TEST(Groups, MembersNotWrittenAreLeftOut) {
  Database db = Database::create(Release::R2000);
  Entity line = sample::entity(EntityKind::Line);
  const Handle kept = db.entities[db.addEntity(db.modelSpace(), std::move(line))].common.handle;
  Entity unknown = makeEntity(EntityKind::Unknown);
  unknown.setDxfName("WIPEOUT");
  unknown.readIn = Release::R2000;
  const Handle dropped = db.entities[db.addEntity(db.modelSpace(), std::move(unknown))].common.handle;
  Entity l = sample::entity(EntityKind::Leader);
  get<Leader>(l.data).vertices = {{0, 0, 0}, {1, 1, 0}};
  get<Leader>(l.data).annotation = dropped;
  db.addEntity(db.modelSpace(), std::move(l));
  const Handle group = db.addGroup("MIXED", Group{"", 0, 1, {kept, dropped}}).handle;
  Database back = readBack(written(db, Release::R13));
  EXPECT_TRUE(audit(back, {false}).empty());
  EXPECT_EQ(std::get<Group>(back.findObject(group)->data).entities, std::vector<Handle>{kept});
  ASSERT_EQ(back.modelSpace().entities.size(), 2u);
  EXPECT_EQ(get<Leader>(back.entities[back.modelSpace().entities[1]].data).annotation, 0u);
}

TEST(Groups, PeerSeesTheGroup) {
  if (!sample::haveEzdxf()) GTEST_SKIP() << "ezdxf is not installed";
  Database db = Database::create(Release::R2000);
  std::vector<Handle> members;
  for (int i = 0; i < 2; ++i) {
    Entity e = sample::entity(EntityKind::Circle);
    get<Circle>(e.data).radius = i + 1;
    members.push_back(db.entities[db.addEntity(db.modelSpace(), std::move(e))].common.handle);
  }
  Group g;
  g.description = "rings";
  g.entities = members;
  db.addGroup("RINGS", g);
  const std::string path = "/tmp/drawingdb_group_" + std::to_string(getpid()) + ".dxf";
  std::ofstream(path, std::ios::binary) << written(db, Release::R2000);
  const sample::PeerResult peer = sample::readWithPeer(path);
  ASSERT_TRUE(peer.ran) << peer.auditText;
  EXPECT_EQ(peer.errors, 0) << peer.auditText;
  EXPECT_EQ(peer.groups, std::vector<std::string>{"RINGS|rings|1|2"});
  if (!HasFailure()) std::remove(path.c_str());
}

// ------------------------------------------------------------ audit

TEST(AnnotationAudit, DanglingReferencesFoundAndRepaired) {
  struct Case {
    const char* code;
    void (*damage)(Database&, Entity&);
  };
  const Case cases[] = {
      {"dangling-annotation", [](Database&, Entity& e) { get<Leader>(e.data).annotation = 0x7777; }},
      {"undefined-dimstyle", [](Database&, Entity& e) { get<Leader>(e.data).dimensionStyle = "NONE"; }},
      {"dangling-reactor", [](Database&, Entity& e) { e.common.extras().reactors.push_back(0x7778); }},
      {"dangling-xdictionary",
       [](Database& db, Entity& e) { e.common.xdictionary = db.entities[db.modelSpace().entities[0]].common.handle; }},
      {"dangling-group-entity", [](Database& db, Entity&) { db.addGroup("G", Group{"", 0, 1, {0x7779}}); }},
      {"undefined-style", [](Database& db, Entity&) {
         get<MText>(db.entities[db.modelSpace().entities[1]].data).style = "GONE";
       }},
      {"bad-spline", [](Database& db, Entity&) {
         get<Spline>(db.entities[db.modelSpace().entities[0]].data).knots.pop_back();
       }},
      {"dangling-layer", [](Database& db, Entity&) {
         get<Viewport>(db.entities[db.paperSpace().entities[0]].data).frozenLayers.push_back(0x777A);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code);
    Database db = annotated(Release::R2000);
    Entity& leader = db.entities[db.modelSpace().entities[2]];
    c.damage(db, leader);
    const std::vector<Finding> found = audit(db, {false});
    std::string codes;
    for (const Finding& f : found) codes += f.code + " ";
    ASSERT_EQ(found.size(), 1u) << codes;
    EXPECT_EQ(found[0].code, c.code);
    EXPECT_FALSE(found[0].fixed);
    EXPECT_EQ(audit(db, {false}).size(), 1u);  // nothing changed without repairs
    const std::vector<Finding> fixed = audit(db, {true});
    ASSERT_EQ(fixed.size(), 1u);
    EXPECT_TRUE(fixed[0].fixed);
    EXPECT_TRUE(audit(db, {false}).empty());
  }
}

// ------------------------------------------------------------ damaged input

std::string r2000With(const std::string& entity) {
  return "0\nSECTION\n2\nHEADER\n9\n$ACADVER\n1\nAC1015\n0\nENDSEC\n0\nSECTION\n2\nENTITIES\n" + entity +
         "0\nENDSEC\n0\nEOF\n";
}

TEST(AnnotationDamage, CountsBeyondTheGroupsRead) {
  struct Case {
    const char* name;
    std::string entity;
    std::size_t findings;
  };
  const Case cases[] = {
      {"knots stated in billions",
       "0\nSPLINE\n5\nA0\n8\n0\n100\nAcDbSpline\n70\n0\n71\n1\n72\n2000000000\n73\n2\n74\n0\n40\n0\n40\n0\n40\n1\n40\n1\n"
       "10\n0\n20\n0\n30\n0\n10\n1\n20\n1\n30\n0\n",
       1},
      {"negative vertex count", "0\nLEADER\n5\nA1\n8\n0\n100\nAcDbLeader\n76\n-5\n10\n1\n20\n2\n30\n0\n", 1},
      {"degree beyond reason",
       "0\nSPLINE\n5\nA2\n8\n0\n100\nAcDbSpline\n71\n32767\n72\n2\n73\n2\n40\n0\n40\n1\n10\n0\n20\n0\n10\n1\n20\n1\n", 0},
      {"text without closing group", "0\nMTEXT\n5\nA3\n8\n0\n100\nAcDbMText\n40\n1\n3\nonly a chunk\n", 0},
      {"text direction as an angle in degrees",
       "0\nMTEXT\n5\nA5\n8\n0\n100\nAcDbMText\n40\n1\n1\nup\n50\n90\n", 0},
      {"viewport XDATA cut short",
       "0\nVIEWPORT\n5\nA4\n8\n0\n100\nAcDbViewport\n69\n2\n1001\nACAD\n1000\nMVIEW\n1002\n{\n1070\n16\n1010\n1\n", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Database db;
    const DxfReadResult r = readDxf(r2000With(c.entity), db);
    ASSERT_TRUE(r.status.ok()) << r.status.detail;
    std::size_t mismatches = 0;
    for (const Finding& f : r.findings) mismatches += f.code == "count-mismatch" ? 1 : 0;
    EXPECT_EQ(mismatches, c.findings);
    ASSERT_EQ(db.modelSpace().entities.size(), 1u);
    if (const auto* m = get_if<MText>(&db.entities[db.modelSpace().entities[0]].data);
        m != nullptr && m->value == "up") {
      expectNear(m->xAxis, {0, 1, 0}, 1e-12);
    }
    // Whatever was read writes in every release and reads back.
    for (const Release out : {Release::R2_5, Release::R12, Release::R2000}) {
      Database copy;
      ASSERT_TRUE(readDxf(r2000With(c.entity), copy).status.ok());
      audit(copy);
      StringSink sink;
      ASSERT_TRUE(writeDxf(copy, sink, {out, false, 17}).ok());
      Database again;
      EXPECT_TRUE(readDxf(sink.data, again).status.ok());
    }
  }
}

// ------------------------------------------------------------ corpus

std::string corpusFile(const std::string& relative) {
  const char* env = std::getenv("TROVAK_CORPUS_DIR");
  const std::filesystem::path path = std::filesystem::path(env != nullptr ? env : TROVAK_CORPUS_DIR) / relative;
  std::ifstream in(path, std::ios::binary);
  if (!in) return {};
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

TEST(AnnotationCorpus, LeaderTextAndViewportOfRealFiles) {
  const std::string leaderFile = corpusFile("dwg/r14/Leader.dxf");
  const std::string exampleFile = corpusFile("dwg/example_r14.dxf");
  if (leaderFile.empty() || exampleFile.empty()) GTEST_SKIP() << "the corpus is not there";
  {
    Database db;
    ASSERT_TRUE(readDxf(leaderFile, db).status.ok());
    const Entity* leader = nullptr;
    for (const Entity& e : db.entities)
      if (e.kind == EntityKind::Leader) leader = &e;
    ASSERT_NE(leader, nullptr);
    const Leader& l = get<Leader>(leader->data);
    EXPECT_EQ(l.vertices.size(), 3u);
    EXPECT_EQ(l.dimensionStyle, "ANNOTATIVE");
    EXPECT_NE(leader->common.xdictionary, 0u);
    const HandleRef* ref = db.find(l.annotation);
    ASSERT_NE(ref, nullptr);
    const Entity& text = db.entities[ref->index];
    ASSERT_EQ(text.kind, EntityKind::MText);
    EXPECT_EQ(get<MText>(text.data).value, "MTEXT");
    EXPECT_EQ(text.common.reactors(), std::vector<Handle>{leader->common.handle});
  }
  {
    Database db;
    ASSERT_TRUE(readDxf(exampleFile, db).status.ok());
    ASSERT_EQ(db.paperSpace().entities.size(), 1u);
    const Entity& e = db.entities[db.paperSpace().entities[0]];
    ASSERT_EQ(e.kind, EntityKind::Viewport);
    const Viewport& v = get<Viewport>(e.data);
    EXPECT_EQ(v.id, 1);
    EXPECT_DOUBLE_EQ(v.viewHeight, 228.4221935424805);
    EXPECT_DOUBLE_EQ(v.viewCenter.x, 133.3499908447266);
    EXPECT_EQ(v.flags, 32768 | 128 | 32);
    EXPECT_TRUE(e.common.xdata().empty());
    int groups = 0;
    for (const Object& o : db.objects)
      if (o.kind == ObjectKind::Group) {
        ++groups;
        EXPECT_EQ(std::get<Group>(o.data).entities.size(), 7u);
      }
    EXPECT_EQ(groups, 1);
    // As 2000 the view has groups of its own.
    const std::string out = written(db, Release::R2000);
    EXPECT_NE(out.find("\r\n 45\r\n228.4221935424805\r\n"), std::string::npos);
    EXPECT_EQ(out.find("MVIEW"), std::string::npos);
  }
}

}  // namespace
