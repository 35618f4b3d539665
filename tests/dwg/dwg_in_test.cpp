// The toolkit input: the mapping table, the typed records each entity kind
// makes, and DwgIn reading whole files (empty drawings, the layout names,
// blocks that insert themselves, deep nesting).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <set>
#include <string>
#include <unistd.h>

#include "drawingdb/dwg_file.h"
#include "drawingdb/dwg_objects.h"
#include "drawingdb/dwg_sections.h"
#include "drawingdb/file_io.h"
#include "dwg/dwg_in.h"
#include "dwg/entity_mapper.h"
#include "dwg/graph_attr.h"
#include "elements/element_table.h"
#include "iges_in/iges_annotation.h"
#include "iges_in/iges_structure.h"
#include "support/assign_tables.h"
#include "support/ide_msg.h"
#include "support/messages.h"
#include "support/run_state.h"

namespace db = drawingdb;

namespace {

db::Entity entityOf(db::EntityKind kind, db::EntityData data, const std::string& layer = "0") {
  db::Entity e = db::makeEntity(kind);
  e.data = std::move(data);
  e.common.layer = layer;
  return e;
}

const GeometryRecord& geometry(std::int32_t index) {
  const auto* rec = dynamic_cast<const GeometryRecord*>(element(index).params.get());
  EXPECT_NE(rec, nullptr) << "element " << index;
  static const GeometryRecord none;
  return rec != nullptr ? *rec : none;
}

class DwgInTest : public ::testing::Test {
 protected:
  void SetUp() override {
    resetRunState();
    runState().runMode = RunModeBit::kDxf | RunModeBit::kInput | RunModeBit::kPlus;
    runState().useToolkit = 1;
    resetDwgGraphAttr(DwgDirection::kInput);
    ideMsgReset();
    DxfLineType solid, dashed;
    solid.name = "CONTINUOUS";
    dashed.name = "DASHED";
    dashed.style = 2;
    assignTables().dxfLineTypes = {solid, dashed};
    protocol_ = std::tmpfile();
    mfaSetProtocolFile(protocol_);
    freeTable();
    resetTable();
    allocateTable(10);
  }
  void TearDown() override {
    mfaSetProtocolFile(nullptr);
    if (protocol_ != nullptr) std::fclose(protocol_);
    if (!path_.empty()) unlink(path_.c_str());
    freeTable();
    resetRunState();
  }
  // Maps model space of the database; the elements made.
  long mapModel() {
    MapContext c(db_, dwgGraphAttr());
    long count = 0;
    mapBlockEntities(c, db_.modelSpace(), 0, count);
    linkInserts(c);
    notCarried_ = c.notCarried;
    return count;
  }
  // Saves the database as DXF of the release and reads it with DwgIn.
  int readBack(db::Release release = db::Release::R2000, bool binary = false) {
    db::StringSink sink;
    db::SaveOptions options;
    options.release = release;
    options.format = binary ? db::FileFormat::DxfBinary : db::FileFormat::DxfAscii;
    EXPECT_TRUE(db::save(db_, sink, options).ok());
    return readText(sink.data);
  }
  int readText(const std::string& text) {
    char name[] = "/tmp/dwg_in_testXXXXXX";
    const int fd = mkstemp(name);
    EXPECT_GE(fd, 0);
    path_ = name;
    EXPECT_EQ(write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
    close(fd);
    ::testing::internal::CaptureStderr();
    const int r = dwgIn().ReadFile(path_);
    said_ = ::testing::internal::GetCapturedStderr();
    return r;
  }
  std::string protocol() {
    std::string text;
    std::rewind(protocol_);
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, protocol_)) > 0) text.append(buffer, n);
    return text;
  }
  std::vector<std::int32_t> ofType(std::int32_t type) const {
    std::vector<std::int32_t> out;
    for (std::int32_t i = 1; i <= elementTable().lastIndex; ++i)
      if (element(i).type == type) out.push_back(i);
    return out;
  }
  db::BlockRecord& block(const std::string& name) {
    db::BlockRecord& b = db_.addBlock(name);
    return b;
  }
  void insert(db::BlockRecord& into, const std::string& name, db::Point3 at = {}) {
    db::Insert in;
    in.block = name;
    in.insertion = at;
    db_.addEntity(into, entityOf(db::EntityKind::Insert, in));
  }

  db::Database db_ = db::Database::create(db::Release::R2000);
  std::map<std::string, long> notCarried_;
  std::string said_;
  std::string path_;
  std::FILE* protocol_ = nullptr;
};

TEST_F(DwgInTest, TheTableHasOneRowForEveryEntityKindAndReportsOnlyTheUnknown) {
  std::size_t count = 0;
  const DwgEntityMapping* rows = entityMappings(count);
  std::set<int> kinds;
  for (std::size_t k = 0; k < count; ++k) {
    SCOPED_TRACE(db::dxfNameOf(rows[k].kind));
    EXPECT_TRUE(kinds.insert(static_cast<int>(rows[k].kind)).second) << "kind twice";
    EXPECT_EQ(entityMappingOf(rows[k].kind), &rows[k]);
    // Every kind the database models is mapped; what it keeps only as read
    // is counted and reported.
    EXPECT_EQ(rows[k].map == nullptr, rows[k].kind == db::EntityKind::Unknown);
    EXPECT_EQ(rows[k].type == 0, rows[k].map == nullptr);
  }
  for (int kind = 0; kind <= static_cast<int>(db::EntityKind::Hatch); ++kind)
    EXPECT_NE(entityMappingOf(static_cast<db::EntityKind>(kind)), nullptr) << kind;
  EXPECT_EQ(kinds.size(), static_cast<std::size_t>(db::EntityKind::Hatch) + 1);
}

TEST_F(DwgInTest, GeometryKindsMakeTheTypedRecordsOfTheirIgesTypes) {
  db::BlockRecord& model = db_.modelSpace();
  db_.addEntity(model, entityOf(db::EntityKind::Line, db::Line{{1, 2, 3}, {4, 5, 6}}));
  db_.addEntity(model, entityOf(db::EntityKind::Point, db::PointEntity{{7, 8, 9}}));
  db::Circle circle;
  circle.center = {10, 20, 0};
  circle.radius = 5;
  db_.addEntity(model, entityOf(db::EntityKind::Circle, circle));
  db::Arc arc;
  arc.center = {0, 0, 0};
  arc.radius = 2;
  arc.startAngle = 0;
  arc.endAngle = 90;
  arc.extrusion = {0, 0, -1};
  db_.addEntity(model, entityOf(db::EntityKind::Arc, arc));
  db::Ellipse ellipse;
  ellipse.center = {1, 1, 0};
  ellipse.majorAxis = {0, 4, 0};
  ellipse.ratio = 0.5;
  db_.addEntity(model, entityOf(db::EntityKind::Ellipse, ellipse));
  db::Spline spline;
  spline.degree = 2;
  spline.controlPoints = {{0, 0, 0}, {1, 1, 0}, {2, 0, 0}};
  spline.knots = {0, 0, 0, 1, 1, 1};
  spline.weights = {1, 2, 1};
  db_.addEntity(model, entityOf(db::EntityKind::Spline, spline));
  db::Solid solid;
  solid.corner1 = {0, 0, 0};
  solid.corner2 = {1, 0, 0};
  solid.corner3 = {0, 1, 0};
  solid.corner4 = {1, 1, 0};
  db_.addEntity(model, entityOf(db::EntityKind::Solid, solid));
  db::Face3d face;
  face.corner1 = {0, 0, 0};
  face.corner2 = {1, 0, 1};
  face.corner3 = {1, 1, 1};
  face.corner4 = {0, 1, 0};
  face.invisibleEdges = 1 | 4;
  db_.addEntity(model, entityOf(db::EntityKind::Face3d, face));
  EXPECT_EQ(mapModel(), 9);  // the face: its two visible edges

  const struct {
    std::int32_t index, type, form;
    std::vector<double> values;  // the first values of the record
  } cases[] = {
      {1, 110, 0, {1, 2, 3, 4, 5, 6}},
      {2, 116, 0, {7, 8, 9}},
      {3, 100, 0, {0, 10, 20, 15, 20, 15, 20}},
      {4, 100, 1, {0, 0, 0, 2, 0}},
      // The conic in the ellipse's own system: 1/a^2, 0, 1/b^2, 0, 0, -1,
      // the start and end at the end of the major axis.
      {5, 104, 1, {1.0 / 16, 0, 1.0 / 4, 0, 0, -1, 0, 4, 0, 4, 0}},
      // K 2, degree 2, planar no, open, rational, not periodic, knots,
      // weights.
      {6, 126, 0, {2, 2, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 1}},
      // The outline 1-2-4-3 closed, x and y pairs at one z.
      {7, 106, 63, {1, 5, 0, 0, 0, 1, 0, 1, 1, 0, 1, 0, 0}},
      {8, 110, 0, {1, 0, 1, 1, 1, 1}},
      {9, 110, 0, {0, 1, 0, 0, 0, 0}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.index);
    EXPECT_EQ(element(c.index).type, c.type);
    EXPECT_EQ(element(c.index).form, c.form);
    EXPECT_EQ(element(c.index).state, ElementState::kWaiting);
    const std::vector<double>& v = geometry(c.index).values;
    ASSERT_GE(v.size(), c.values.size());
    for (std::size_t k = 0; k < c.values.size(); ++k) EXPECT_NEAR(v[k], c.values[k], 1e-12) << k;
  }
  // The arc's normal (0, 0, -1) mirrors its system; the ellipse's system
  // turns x onto its major axis.
  ASSERT_NE(element(4).matrix, nullptr);
  EXPECT_DOUBLE_EQ(element(4).matrix->r[2][2], -1.0);
  ASSERT_NE(element(5).matrix, nullptr);
  EXPECT_NEAR(element(5).matrix->r[1][0], 1.0, 1e-12);
  EXPECT_DOUBLE_EQ(element(5).matrix->t[0], 1.0);
  EXPECT_EQ(element(1).matrix, nullptr);
}

TEST_F(DwgInTest, PolylinesKeepTheirBulgesAsArcsOfAContour) {
  db::BlockRecord& model = db_.modelSpace();
  db::LwPolyline plain;
  plain.vertices = {{{0, 0, 0}}, {{10, 0, 0}}, {{10, 10, 0}}};
  plain.flags = 1;
  plain.elevation = 2;
  db_.addEntity(model, entityOf(db::EntityKind::LwPolyline, plain));
  db::LwPolyline bulged;
  bulged.vertices = {{{0, 0, 0}, 0, 0, 1.0}, {{10, 0, 0}}, {{10, 5, 0}}};
  db_.addEntity(model, entityOf(db::EntityKind::LwPolyline, bulged));
  db::Polyline space;
  space.flags = 8;
  for (const db::Point3& p : {db::Point3{0, 0, 0}, db::Point3{1, 2, 3}}) {
    db::Vertex v;
    v.location = p;
    v.flags = 32;
    space.vertices.push_back(v);
  }
  db_.addEntity(model, entityOf(db::EntityKind::Polyline, space));
  EXPECT_EQ(mapModel(), 3);

  // Closed without bulges: copious data of form 63 at the elevation.
  EXPECT_EQ(element(1).type, 106);
  EXPECT_EQ(element(1).form, 63);
  EXPECT_EQ(geometry(1).values, (std::vector<double>{2, 4, 0, 0, 2, 10, 0, 2, 10, 10, 2, 0, 0, 2}));
  // A half circle from (0,0) to (10,0) bulging to the right (bulge 1 is
  // counterclockwise: the centre on the chord), then a line.
  ASSERT_EQ(element(2).type, 102);
  const auto* contour = dynamic_cast<const CompositeRecord*>(element(2).params.get());
  ASSERT_NE(contour, nullptr);
  ASSERT_EQ(contour->constituents.size(), 2u);
  const std::int32_t arc = contour->constituents[0], line = contour->constituents[1];
  EXPECT_EQ(element(arc).type, 100);
  EXPECT_EQ(element(arc).dependency, 'p');
  const std::vector<double>& a = geometry(arc).values;
  EXPECT_NEAR(a[1], 5.0, 1e-9);
  EXPECT_NEAR(a[2], 0.0, 1e-9);
  EXPECT_EQ(std::vector<double>(a.begin() + 3, a.end()), (std::vector<double>{0, 0, 10, 0}));
  EXPECT_EQ(element(line).type, 110);
  EXPECT_EQ(firstSonOfType(2, 100), arc);
  // A 3D polyline: open copious data in space.
  const std::int32_t last = elementTable().lastIndex;
  EXPECT_EQ(element(last).type, 106);
  EXPECT_EQ(element(last).form, 12);
  EXPECT_EQ(geometry(last).values, (std::vector<double>{2, 2, 0, 0, 0, 1, 2, 3}));
}

TEST_F(DwgInTest, TextsBecomeNotesWithFontHeightAngleAndPlainMTextLines) {
  db::Record<db::TextStyle>& style = db_.addRecord(db_.styles, "ISO");
  style.data.font = "isocp.shx";
  db::BlockRecord& model = db_.modelSpace();
  db::Text text;
  text.value = "AB";
  text.insertion = {1, 2, 0};
  text.height = 3.5;
  text.rotation = 90;
  text.widthFactor = 0.8;
  text.style = "ISO";
  text.generation = 2;
  db_.addEntity(model, entityOf(db::EntityKind::Text, text));
  db::Text centred = text;
  centred.rotation = 0;
  centred.horizontal = 1;
  centred.alignment = {10, 10, 0};
  db_.addEntity(model, entityOf(db::EntityKind::Text, centred));
  db::MText mtext;
  mtext.value = "{\\fArial|b1;Bold}\\Pnext\\~line \\S1^2;";
  mtext.insertion = {0, 0, 0};
  mtext.height = 2;
  mtext.attachment = 7;
  db_.addEntity(model, entityOf(db::EntityKind::MText, mtext));
  EXPECT_EQ(mapModel(), 3);

  const auto* first = dynamic_cast<const NoteRecord*>(element(1).params.get());
  ASSERT_NE(first, nullptr);
  ASSERT_EQ(first->strings.size(), 1u);
  const NoteStringData& s = first->strings[0];
  EXPECT_EQ(s.text, "AB");
  EXPECT_EQ(s.fontName, "isocp");
  EXPECT_DOUBLE_EQ(s.boxHeight, 3.5);
  EXPECT_DOUBLE_EQ(s.boxWidth, 3.5 * 0.8 * 2);
  EXPECT_NEAR(s.angle, kPi / 2, 1e-12);
  EXPECT_EQ(s.mirror, 1);
  EXPECT_DOUBLE_EQ(s.start.x, 1.0);
  // Centred on its alignment point: half the estimated width to the left.
  const auto* second = dynamic_cast<const NoteRecord*>(element(2).params.get());
  ASSERT_NE(second, nullptr);
  EXPECT_NEAR(second->strings[0].start.x, 10.0 - 3.5 * 0.8, 1e-12);
  EXPECT_NEAR(second->strings[0].start.y, 10.0, 1e-12);
  // MTEXT: one string per paragraph, codes gone; attached at the bottom,
  // its last line stands on the insertion point.
  const auto* third = dynamic_cast<const NoteRecord*>(element(3).params.get());
  ASSERT_NE(third, nullptr);
  ASSERT_EQ(third->strings.size(), 2u);
  EXPECT_EQ(third->strings[0].text, "Bold");
  EXPECT_EQ(third->strings[1].text, "next line 1/2");
  EXPECT_NEAR(third->strings[1].start.y, 0.0, 1e-12);
  EXPECT_GT(third->strings[0].start.y, 0.0);
}

TEST_F(DwgInTest, MTextCodesAreRemovedAndLineBreaksKept) {
  const struct {
    const char* value;
    std::vector<std::string> lines;
  } cases[] = {
      {"plain", {"plain"}},
      {"a\\Pb\\Pc", {"a", "b", "c"}},
      {"\\H2.5x;big\\W0.8;narrow", {"bignarrow"}},
      {"\\C1;red{\\L under}\\l", {"red under"}},
      {"\\\\ \\{ \\}", {"\\ { }"}},
      {"50\\U+00B0", {"50\xb0"}},
      {"\\A1;x\\S3#4;", {"x3/4"}},
      {"cut\\f", {"cut"}},
  };
  for (const auto& c : cases) EXPECT_EQ(mtextPlainLines(c.value), c.lines) << c.value;
}

TEST_F(DwgInTest, AttributesShowTheirVisibleValuesAndTheOthersAreCounted) {
  block("B");
  db::BlockRecord& model = db_.modelSpace();
  db::AttDef constant;
  constant.defaultValue = "FIX";
  constant.flags = 2;
  db::AttDef asked = constant;
  asked.flags = 0;
  db::AttDef hidden = constant;
  hidden.flags = 1 | 2;
  for (const db::AttDef& a : {constant, asked, hidden}) db_.addEntity(model, entityOf(db::EntityKind::AttDef, a));
  db::Insert in;
  in.block = "B";
  const db::EntityId insert = db_.addEntity(model, entityOf(db::EntityKind::Insert, in));
  db::Attrib shown;
  shown.value = "42";
  db::Attrib invisible = shown;
  invisible.flags = 1;
  db_.addAttribute(insert, entityOf(db::EntityKind::Attrib, shown));
  db_.addAttribute(insert, entityOf(db::EntityKind::Attrib, invisible));
  mapModel();
  const std::vector<std::int32_t> notes = ofType(212);
  ASSERT_EQ(notes.size(), 2u);
  EXPECT_EQ(dynamic_cast<const NoteRecord*>(element(notes[0]).params.get())->strings[0].text, "FIX");
  EXPECT_EQ(dynamic_cast<const NoteRecord*>(element(notes[1]).params.get())->strings[0].text, "42");
  EXPECT_EQ(notCarried_, (std::map<std::string, long>{{"ATTDEF (invisible)", 1},
                                                      {"ATTDEF (value given by each insert)", 1},
                                                      {"ATTRIB (invisible)", 1}}));
}

TEST_F(DwgInTest, InsertsBecomeInstancesOfTheirBlocksPlacedAndArrayed) {
  db::BlockRecord& b = block("WHEEL");
  b.base = {1, 1, 0};
  db_.addEntity(b, entityOf(db::EntityKind::Line, db::Line{{0, 0, 0}, {1, 0, 0}}));
  db::Insert in;
  in.block = "WHEEL";
  in.insertion = {10, 0, 0};
  in.xScale = -2;  // mirrored
  in.rotation = 90;
  in.columns = 2;
  in.rows = 2;
  in.columnSpacing = 5;
  in.rowSpacing = 7;
  db_.addEntity(db_.modelSpace(), entityOf(db::EntityKind::Insert, in));
  MapContext c(db_, dwgGraphAttr());
  long count = 0;
  mapBlockEntities(c, db_.modelSpace(), 0, count);
  const std::int32_t definition = blockElement(c, db_.blockIndex(*db_.findBlock("WHEEL")));
  c.father = definition;
  long inBlock = 0;
  mapBlockEntities(c, *db_.findBlock("WHEEL"), 0, inBlock);
  EXPECT_EQ(linkInserts(c), 0);
  EXPECT_EQ(count, 4);
  const std::vector<std::int32_t> instances = ofType(408);
  ASSERT_EQ(instances.size(), 4u);
  for (std::int32_t i : instances) {
    const auto* rec = dynamic_cast<const InstanceRecord*>(element(i).params.get());
    ASSERT_NE(rec, nullptr);
    EXPECT_EQ(rec->definition, definition);
    EXPECT_EQ(firstSonOfType(i, 308), definition);
  }
  EXPECT_EQ(firstSonOfType(definition, 110), definition + 1);
  // The second cell (one column on): the base point (1, 1) goes to the
  // insertion point, x mirrored and doubled, turned by 90 degrees, the
  // column offset turned with it.
  const Transform& m = *element(instances[1]).matrix;
  const auto at = [&](double x, double y) {
    return std::pair<double, double>{m.r[0][0] * x + m.r[0][1] * y + m.t[0], m.r[1][0] * x + m.r[1][1] * y + m.t[1]};
  };
  const auto [bx, by] = at(1, 1);
  EXPECT_NEAR(bx, 10.0, 1e-12);
  EXPECT_NEAR(by, 5.0, 1e-12);
  const auto [px, py] = at(2, 1);
  EXPECT_NEAR(px, 10.0, 1e-12);
  EXPECT_NEAR(py, 3.0, 1e-12);
}

TEST_F(DwgInTest, BlocksThatInsertThemselvesAreReportedAndNotFollowed) {
  // SELF inserts itself; A and B insert each other; C is inserted by A
  // and fine.  Model space inserts SELF and A.
  db::BlockRecord& self = block("SELF");
  insert(self, "SELF");
  db_.addEntity(self, entityOf(db::EntityKind::Line, db::Line{{0, 0, 0}, {1, 0, 0}}));
  insert(block("A"), "B");
  insert(block("B"), "A");
  insert(*db_.findBlock("A"), "C");
  db_.addEntity(block("C"), entityOf(db::EntityKind::Point, db::PointEntity{}));
  insert(db_.modelSpace(), "SELF");
  insert(db_.modelSpace(), "A");
  ASSERT_EQ(readBack(), 0);
  EXPECT_EQ(dwgIn().selfInserts(), 3);
  int failed = 0, linked = 0;
  for (std::int32_t i : ofType(408)) {
    if (element(i).state == ElementState::kError) ++failed;
    else if (firstSonOfType(i, 308) != 0) ++linked;
  }
  EXPECT_EQ(failed, 3);
  EXPECT_EQ(linked, 3);  // the two of model space and the one of C
  const std::string said = protocol();
  EXPECT_NE(said.find("(1322)"), std::string::npos) << said;
}

TEST_F(DwgInTest, DeepNestingIsLinkedWhole) {
  // A chain of blocks, each inserting the next, the last holding a line.
  constexpr int kDepth = 3000;
  const auto name = [](int k) {
    std::string n = "N";
    n += std::to_string(k);
    return n;
  };
  for (int k = 0; k < kDepth; ++k) block(name(k));
  for (int k = 0; k + 1 < kDepth; ++k) insert(*db_.findBlock(name(k)), name(k + 1));
  db_.addEntity(*db_.findBlock(name(kDepth - 1)),
                entityOf(db::EntityKind::Line, db::Line{{0, 0, 0}, {1, 1, 0}}));
  insert(db_.modelSpace(), "N0");
  ASSERT_EQ(readBack(), 0);
  EXPECT_EQ(dwgIn().selfInserts(), 0);
  // From the model's instance down to the line through every level.
  std::int32_t at = ofType(408).front();
  int levels = 0;
  for (;;) {
    const std::int32_t definition = firstSonOfType(at, 308);
    ASSERT_NE(definition, 0) << levels;
    ++levels;
    const std::int32_t next = firstSonOfType(definition, 408);
    if (next == 0) {
      EXPECT_NE(firstSonOfType(definition, 110), 0);
      break;
    }
    at = next;
  }
  EXPECT_EQ(levels, kDepth);
}

TEST_F(DwgInTest, EmptyLayoutsEndWithTheirMessageAndLayoutNamesMatchInAnyCase) {
  // A block that nothing inserts makes no element of the layouts.
  db_.addEntity(block("UNUSED"), entityOf(db::EntityKind::Line, db::Line{{0, 0, 0}, {1, 0, 0}}));
  EXPECT_EQ(readBack(), -1);
  EXPECT_NE(said_.find("No AC elements to convert in file " + path_), std::string::npos) << said_;

  // R12: the entities section is model space; the reader names it
  // "*Model_Space".  Written by hand in capitals, it counts all the same.
  const std::string r12 =
      "0\nSECTION\n2\nENTITIES\n0\nLINE\n8\n0\n10\n0\n20\n0\n30\n0\n11\n1\n21\n1\n31\n0\n0\nENDSEC\n0\nEOF\n";
  EXPECT_EQ(readText(r12), 0) << said_;
  EXPECT_EQ(dwgIn().elementCount(), 1);
  EXPECT_EQ(ofType(110).size(), 1u);
  db::Database upper = db::Database::create(db::Release::R2000);
  upper.modelSpace().name = "*MODEL_SPACE";
  upper.namesChanged();
  EXPECT_TRUE(db::sameName(upper.modelSpace().name, "*Model_Space"));
}

TEST_F(DwgInTest, FilesOfEveryReleaseAsciiAndBinaryAreRead) {
  db_.addEntity(db_.modelSpace(), entityOf(db::EntityKind::Line, db::Line{{0, 0, 0}, {1, 0, 0}}));
  db::Circle circle;
  circle.radius = 1;
  db_.addEntity(db_.modelSpace(), entityOf(db::EntityKind::Circle, circle));
  const db::Database original = db_;
  int written = 0;
  for (const db::ReleaseInfo& info : db::releases()) {
    if (!db::can(info.release, db::kWriteDxf)) continue;
    ++written;
    const db::Release release = info.release;
    for (const bool binary : {false, true}) {
      // Binary DXF files exist from release 10 on.
      if (binary && release < db::Release::R10) continue;
      SCOPED_TRACE(std::string(info.name) + (binary ? " binary" : " ascii"));
      db_ = original;
      ASSERT_EQ(readBack(release, binary), 0) << said_;
      EXPECT_EQ(dwgIn().elementCount(), 2);
      EXPECT_EQ(ofType(110).size(), 1u);
      EXPECT_EQ(ofType(100).size(), 1u);
      // The database is not kept through the conversion that follows.
      EXPECT_TRUE(dwgIn().database().entities.empty() && dwgIn().database().blocks.empty());
    }
  }
  EXPECT_GE(written, 8);
}

// A multi-line attribute (DWG 2018) is one note with a string per line,
// each a line spacing below the one before; a single-line one keeps its
// value whole.
TEST_F(DwgInTest, MultiLineAttributesBecomeOneNoteWithALineEach) {
  struct Case {
    bool multiline;
    double lineSpacing;
    std::vector<std::string> lines;
  };
  const Case cases[] = {
      {false, 1, {"A\\PB"}},
      {true, 1, {"A", "B"}},
      {true, 2, {"A", "B", "C"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.lines.size());
    db_ = db::Database{};
    freeTable();
    resetTable();
    allocateTable(10);
    db::Attrib a;
    a.value = c.lines.size() == 3 ? "A\\PB\\PC" : "A\\PB";
    a.multiline = c.multiline;
    a.lineSpacing = c.lineSpacing;
    a.height = 2;
    a.insertion = {10, 20, 0};
    db_.addEntity(db_.modelSpace(), entityOf(db::EntityKind::Attrib, a));
    mapModel();
    const std::vector<std::int32_t> notes = ofType(212);
    ASSERT_EQ(notes.size(), 1u);
    const auto* note = dynamic_cast<const NoteRecord*>(element(notes[0]).params.get());
    ASSERT_NE(note, nullptr);
    ASSERT_EQ(note->strings.size(), c.lines.size());
    for (std::size_t k = 0; k < c.lines.size(); ++k) {
      EXPECT_EQ(note->strings[k].text, c.lines[k]);
      EXPECT_NEAR(note->strings[k].start.x, 10, 1e-12);
      EXPECT_NEAR(note->strings[k].start.y, 20 - 2 * (5.0 / 3.0) * c.lineSpacing * static_cast<double>(k), 1e-12);
    }
  }
}

// A DWG entity whose own data does not decode is left out, the drawing is
// read on, and one counted warning says how many.
TEST_F(DwgInTest, UndecodableDwgEntitiesAreLeftOutWithOneWarning) {
  for (int i = 0; i < 3; ++i)
    db_.addEntity(db_.modelSpace(), entityOf(db::EntityKind::Line, db::Line{{0, double(i), 0}, {1, double(i), 0}}));
  db::StringSink sink;
  db::SaveOptions options;
  options.release = db::Release::R2000;
  options.format = db::FileFormat::Dwg;
  ASSERT_TRUE(db::save(db_, sink, options).ok());
  const db::BlockRecord& model = db_.modelSpace();
  std::vector<db::Handle> lines;
  for (const db::EntityId id : model.entities) lines.push_back(db_.entities[id].common.handle);
  const db::Handle layer = db_.layers.find("0")->common.handle;
  // The two last lines become SPLINEs of a form no release knows.
  db::DwgFileIndex index;
  ASSERT_TRUE(db::indexDwgFile(sink.data, index).ok());
  db::DwgFileParts parts;
  parts.header = index.header;
  parts.headerVariables = std::string(index.headerVariables);
  parts.classes = std::string(index.classes);
  parts.preview = db::dwgMinimalPreview();
  for (const db::DwgObjectLocation& o : index.objects) {
    std::string data(db::readDwgObjectFrame(sink.data, o.address).data);
    if (o.handle == lines[1] || o.handle == lines[2]) {
      db::DwgObjectHead head;
      head.type = db::dwg_type::kSpline;
      head.handle = o.handle;
      head.entity = true;
      head.e.layer = layer;
      head.e.previous = o.handle == lines[1] ? lines[0] : lines[1];
      head.e.next = o.handle == lines[1] ? lines[2] : 0;
      struct Context final : db::DwgWriteContext {
        db::Release release() const override { return db::Release::R2000; }
        const db::CodePage& codePage() const override { return page; }
        std::uint16_t codepageNumber() const override { return 30; }
        db::Handle layerHandle(std::string_view) const override { return 0; }
        db::Handle linetypeHandle(std::string_view) const override { return 0; }
        db::Handle styleHandle(std::string_view) const override { return 0; }
        db::Handle dimstyleHandle(std::string_view) const override { return 0; }
        db::Handle blockHandle(std::string_view) const override { return 0; }
        db::Handle appidHandle(std::string_view) override { return 0; }
        std::int16_t classNumber(std::string_view) override { return -1; }
        void warn(std::string_view) override {}
        db::CodePage page = db::CodePage::named("ANSI_1252");
      } context;
      db::DwgObjectOut out(db::Release::R2000);
      ASSERT_TRUE(out.begin(head, context).ok());
      out.data().writeBitLong(7);
      ASSERT_TRUE(out.finish(data).ok());
    }
    parts.objects.add(o.handle, data);
  }
  std::string file;
  ASSERT_TRUE(db::dwgFileLayout(parts, file).ok());
  ASSERT_EQ(readText(file), 0) << said_;
  EXPECT_EQ(dwgIn().mapped(), (std::map<std::string, long>{{"LINE", 1}}));
  const std::string said = protocol();
  EXPECT_EQ(said.find("(1336)"), said.rfind("(1336)")) << said;
  EXPECT_NE(said.find("(1336)"), std::string::npos) << said;
  EXPECT_EQ(mfaCounts().warnings, 1) << said;
}

TEST_F(DwgInTest, UnknownKindsAreCountedAndReportedOncePerKind) {
  for (int k = 0; k < 3; ++k) {
    db::Entity e = db::makeEntity(db::EntityKind::Unknown);
    e.setDxfName("3DSOLID");
    db_.addEntity(db_.modelSpace(), e);
  }
  db_.addEntity(db_.modelSpace(), entityOf(db::EntityKind::Line, db::Line{{0, 0, 0}, {1, 0, 0}}));
  ASSERT_EQ(readBack(), 0);
  EXPECT_EQ(dwgIn().notCarried(), (std::map<std::string, long>{{"3DSOLID", 3}}));
  EXPECT_EQ(dwgIn().mapped(), (std::map<std::string, long>{{"LINE", 1}}));
  const std::string said = protocol();
  EXPECT_EQ(said.find("(1328)"), said.rfind("(1328)")) << said;
  EXPECT_NE(said.find("(1328)"), std::string::npos) << said;
}

}  // namespace

namespace {

TEST_F(DwgInTest, DimensionsGetTheirTextAndLeadersAndKeepTheirDrawnParts) {
  db::Dimension d;
  d.flags = 0;  // linear, rotated by 0: horizontal
  d.definition = {0, -10, 0};
  d.defPoint2 = {0, 0, 0};
  d.defPoint3 = {100, 5, 0};
  d.textMid = {50, -8, 0};
  db::Dimension radius = d;
  radius.flags = 4;
  // Three points: the legs from the vertex (15) through 13 and 14, the
  // arc through the definition point; given with the legs the other way
  // round, the arc still runs from the first leg counterclockwise.
  db::Dimension angle;
  angle.flags = 5;
  angle.defPoint4 = {0, 0, 0};
  angle.defPoint2 = {0, 10, 0};
  angle.defPoint3 = {10, 0, 0};
  angle.definition = {4, 3, 0};
  db_.addEntity(db_.modelSpace(), entityOf(db::EntityKind::Dimension, d));
  db_.addEntity(db_.modelSpace(), entityOf(db::EntityKind::Dimension, radius));
  db_.addEntity(db_.modelSpace(), entityOf(db::EntityKind::Dimension, angle));
  ASSERT_EQ(readBack(), 0) << said_;
  const std::vector<std::int32_t> linear = ofType(216);
  ASSERT_EQ(linear.size(), 1u);
  const auto* rec = dynamic_cast<const DimensionRecord*>(element(linear[0]).params.get());
  ASSERT_NE(rec, nullptr);
  // The note shows the length along the dimension line; the leaders point
  // at its ends, the measured points projected onto it.
  ASSERT_NE(rec->note, 0);
  const auto* note = dynamic_cast<const NoteRecord*>(element(rec->note).params.get());
  ASSERT_NE(note, nullptr);
  EXPECT_NE(note->strings.at(0).text.find("100"), std::string::npos) << note->strings.at(0).text;
  EXPECT_EQ(element(rec->note).state, ElementState::kTakenOver);
  ASSERT_EQ(rec->leaders.size(), 2u);
  const auto* first = dynamic_cast<const LeaderRecord*>(element(rec->leaders[0]).params.get());
  const auto* second = dynamic_cast<const LeaderRecord*>(element(rec->leaders[1]).params.get());
  ASSERT_TRUE(first != nullptr && second != nullptr);
  EXPECT_DOUBLE_EQ(first->head.x, 0.0);
  EXPECT_DOUBLE_EQ(second->head.x, 100.0);
  EXPECT_DOUBLE_EQ(second->head.y, -10.0);
  // The block the toolkit drew for it: its parts are the dimension's sons,
  // no subfigure of their own.
  EXPECT_NE(firstSonOfType(linear[0], 110), 0);
  EXPECT_TRUE(ofType(308).empty());
  // A radius dimension: its centre, and one leader with its arrow on the
  // curve; its drawn parts stay its sons.
  const std::vector<std::int32_t> radial = ofType(222);
  ASSERT_EQ(radial.size(), 1u);
  const auto* r = dynamic_cast<const DimensionRecord*>(element(radial[0]).params.get());
  ASSERT_NE(r, nullptr);
  EXPECT_NE(r->note, 0);
  EXPECT_TRUE(r->hasCentre);
  EXPECT_DOUBLE_EQ(r->centre.y, -10.0);
  ASSERT_EQ(r->leaders.size(), 1u);
  EXPECT_DOUBLE_EQ(dynamic_cast<const LeaderRecord*>(element(r->leaders[0]).params.get())->head.y, 0.0);
  EXPECT_NE(element(radial[0]).sons, nullptr);
  const std::vector<std::int32_t> angular = ofType(202);
  ASSERT_EQ(angular.size(), 1u);
  const auto* a = dynamic_cast<const DimensionRecord*>(element(angular[0]).params.get());
  ASSERT_NE(a, nullptr);
  ASSERT_EQ(a->leaders.size(), 2u);
  EXPECT_TRUE(a->hasCentre);
  const auto* from = dynamic_cast<const LeaderRecord*>(element(a->leaders[0]).params.get());
  const auto* to = dynamic_cast<const LeaderRecord*>(element(a->leaders[1]).params.get());
  ASSERT_TRUE(from != nullptr && to != nullptr);
  EXPECT_NEAR(from->head.x, 5.0, 1e-9);
  EXPECT_NEAR(from->head.y, 0.0, 1e-9);
  EXPECT_NEAR(to->head.x, 0.0, 1e-9);
  EXPECT_NEAR(to->head.y, 5.0, 1e-9);
  const auto* angleNote = dynamic_cast<const NoteRecord*>(element(a->note).params.get());
  ASSERT_NE(angleNote, nullptr);
  EXPECT_EQ(angleNote->strings.at(0).text.rfind("90", 0), 0u) << angleNote->strings.at(0).text;
}

TEST_F(DwgInTest, PaperSpaceBelongsToTheDrawingAndViewportsBecomeItsViews) {
  db::BlockRecord& paper = db_.paperSpace();
  db_.addEntity(paper, entityOf(db::EntityKind::Line, db::Line{{0, 0, 0}, {420, 0, 0}}));
  db::Viewport sheet;
  sheet.id = 1;
  db::Viewport view;
  view.id = 2;
  view.center = {200, 150, 0};
  view.height = 100;
  view.viewHeight = 50;
  view.viewCenter = {10, 20, 0};
  view.frozenLayers = {db_.addRecord(db_.layers, "HIDDEN").common.handle};
  db::Viewport off = view;
  off.id = 3;
  off.status = 0;
  for (const db::Viewport& v : {sheet, view, off})
    db_.addEntity(db_.paperSpace(), entityOf(db::EntityKind::Viewport, v));
  db_.addEntity(db_.modelSpace(), entityOf(db::EntityKind::Point, db::PointEntity{}, "HIDDEN"));
  ASSERT_EQ(readBack(), 0) << said_;
  const std::vector<std::int32_t> drawings = ofType(404);
  ASSERT_EQ(drawings.size(), 1u);
  EXPECT_EQ(element(drawings[0]).state, ElementState::kRegistered);
  EXPECT_NE(firstSonOfType(drawings[0], 110), 0);
  const auto* drawing = dynamic_cast<const DrawingRecord*>(element(drawings[0]).params.get());
  ASSERT_NE(drawing, nullptr);
  // Only the viewport onto the model that is on is a view of the sheet,
  // placed so that its view centre lands on its centre at scale 2.
  ASSERT_EQ(drawing->views.size(), 1u);
  const auto* rec = dynamic_cast<const DxfViewRecord*>(element(drawing->views[0].view).params.get());
  ASSERT_NE(rec, nullptr);
  EXPECT_EQ(rec->viewNumber, 2);
  EXPECT_DOUBLE_EQ(rec->scale, 2.0);
  EXPECT_DOUBLE_EQ(drawing->views[0].x, 180.0);
  EXPECT_DOUBLE_EQ(drawing->views[0].y, 110.0);
  // The point's layer is frozen in the view: its level is hidden.
  const std::int32_t point = ofType(116).at(0);
  EXPECT_EQ(rec->hiddenLevels, std::vector<std::int32_t>{element(point).de.level});
  EXPECT_EQ(ofType(410).size(), 3u);
}

TEST_F(DwgInTest, FurtherLayoutsAreDrawingsOfTheirOwnAfterTheFirst) {
  db_.addEntity(db_.paperSpace(), entityOf(db::EntityKind::Line, db::Line{{0, 0, 0}, {420, 0, 0}}));
  db::BlockRecord& second = block("*Paper_Space0");
  db::Circle circle;
  circle.radius = 5;
  db_.addEntity(second, entityOf(db::EntityKind::Circle, circle));
  db::Viewport view;
  view.id = 2;
  view.height = 10;
  view.viewHeight = 10;
  db_.addEntity(*db_.findBlock("*Paper_Space0"), entityOf(db::EntityKind::Viewport, view));
  db_.addEntity(db_.modelSpace(), entityOf(db::EntityKind::Point, db::PointEntity{}));
  ASSERT_EQ(readBack(), 0) << said_;
  EXPECT_TRUE(dwgIn().notCarried().empty());
  EXPECT_EQ(dwgIn().elementCount(), 3);
  const std::vector<std::int32_t> drawings = ofType(404);
  ASSERT_EQ(drawings.size(), 2u);
  // Paper space is the first drawing; the further layout holds its circle
  // and has its viewport as its view.
  EXPECT_NE(firstSonOfType(drawings[0], 110), 0);
  EXPECT_EQ(firstSonOfType(drawings[0], 100), 0);
  EXPECT_NE(firstSonOfType(drawings[1], 100), 0);
  const auto* first = dynamic_cast<const DrawingRecord*>(element(drawings[0]).params.get());
  const auto* further = dynamic_cast<const DrawingRecord*>(element(drawings[1]).params.get());
  ASSERT_NE(first, nullptr);
  ASSERT_NE(further, nullptr);
  EXPECT_TRUE(first->views.empty());
  ASSERT_EQ(further->views.size(), 1u);
  EXPECT_EQ(element(further->views[0].view).type, 410);
  EXPECT_EQ(element(drawings[1]).state, ElementState::kRegistered);
}

TEST_F(DwgInTest, HatchesAndLeadersBecomeSectionedAreasAndLeaders) {
  db::Hatch solid;
  db::HatchPath square;
  square.flags = 2 | 1;
  square.vertices = {{{0, 0, 0}}, {{10, 0, 0}}, {{10, 10, 0}}, {{0, 10, 0}}};
  solid.paths = {square};
  db::Hatch lines = solid;
  lines.solidFill = 0;
  lines.pattern = "ANSI37";
  lines.lines = {db::HatchLine{45, 0, 0, -2, 2, {}}, db::HatchLine{135, 0, 0, -2, -2, {}}};
  db::HatchPath circle;
  circle.flags = 1;
  db::HatchEdge whole;
  whole.type = 2;
  whole.start = {5, 5, 0};
  whole.radius = 3;
  whole.startAngle = 0;
  whole.endAngle = 360;
  circle.edges = {whole};
  lines.paths.push_back(circle);
  db_.addEntity(db_.modelSpace(), entityOf(db::EntityKind::Hatch, solid));
  db_.addEntity(db_.modelSpace(), entityOf(db::EntityKind::Hatch, lines));
  db::Leader leader;
  leader.vertices = {{1, 1, 0}, {5, 5, 0}, {9, 5, 0}};
  db_.addEntity(db_.modelSpace(), entityOf(db::EntityKind::Leader, leader));
  EXPECT_EQ(mapModel(), 3);

  const std::vector<std::int32_t> areas = ofType(230);
  ASSERT_EQ(areas.size(), 2u);
  const auto* filled = dynamic_cast<const AnnotationRecord*>(element(areas[0]).params.get());
  const auto* hatched = dynamic_cast<const AnnotationRecord*>(element(areas[1]).params.get());
  ASSERT_TRUE(filled != nullptr && hatched != nullptr);
  // A solid fill: no pattern, its boundary marked as filled.
  ASSERT_EQ(filled->geometry.size(), 1u);
  EXPECT_EQ(filled->values.at(0), 0.0);
  EXPECT_EQ(element(filled->geometry[0]).type, 106);
  EXPECT_EQ(element(filled->geometry[0]).form, 63);
  EXPECT_EQ(element(filled->geometry[0]).de.structure, 1);
  // Two families across each other: crossed lines, spaced by the first
  // family's offset across its lines (2 * sqrt 2), at its angle.
  ASSERT_EQ(hatched->geometry.size(), 2u);
  EXPECT_EQ(hatched->values.at(0), 16.0);
  EXPECT_NEAR(hatched->values.at(4), 2.0 * std::sqrt(2.0), 1e-12);
  EXPECT_NEAR(hatched->values.at(5), kPi / 4, 1e-12);
  EXPECT_EQ(element(hatched->geometry[1]).type, 102);
  EXPECT_EQ(firstSonOfType(hatched->geometry[1], 100), hatched->geometry[1] + 1);
  EXPECT_EQ(element(hatched->geometry[1] + 1).form, 0);  // the whole circle
  EXPECT_EQ(firstSonOfType(areas[1], 102), hatched->geometry[1]);

  const std::vector<std::int32_t> leaders = ofType(214);
  ASSERT_EQ(leaders.size(), 1u);
  const auto* l = dynamic_cast<const LeaderRecord*>(element(leaders[0]).params.get());
  ASSERT_NE(l, nullptr);
  EXPECT_DOUBLE_EQ(l->head.x, 1.0);
  EXPECT_EQ(l->points.size(), 2u);
  EXPECT_GT(l->arrowHeight, 0.0);
}

TEST_F(DwgInTest, LayersColoursAndLinetypesGoThroughTheAttributeMapping) {
  db::Record<db::Layer>& walls = db_.addRecord(db_.layers, "WALLS");
  walls.data.colour = 3;
  walls.data.linetype = "DASHED";
  ASSERT_EQ(dwgGraphAttr().handle_colAssignDwgIn("dwgin_colorassign", {"9", "3"}), 0);
  ASSERT_EQ(dwgGraphAttr().handle_lineStyleAssign("DWGIN_LINESTYLEASSIGN", {"4", "CENTER"}), 0);
  ASSERT_EQ(dwgGraphAttr().handle_blockColor("dwgin_blockcolor", {"6"}), 0);
  const struct {
    const char* layer;
    int colour;
    const char* linetype;
    std::int32_t wantColour, wantFont, wantWeight;
  } cases[] = {
      {"WALLS", 256, "BYLAYER", 9, 2, 50},  // the layer's colour 3, assigned 9; the layer's DASHED
      {"WALLS", 5, "CENTER", 5, 4, 50},     // own colour; the parameter file's linetype
      {"0", 0, "BYBLOCK", 6, 1, 25},        // by block: the block colour, the default line style
      {"NEW", 256, "", 7, 1, 50},           // a layer the table lacks is added with colour 7
  };
  for (const auto& c : cases) {
    db::Entity e = entityOf(db::EntityKind::Point, db::PointEntity{}, c.layer);
    e.common.colour = c.colour;
    e.common.linetype = c.linetype;
    db_.addEntity(db_.modelSpace(), e);
  }
  EXPECT_EQ(mapModel(), 4);
  for (std::int32_t i = 1; i <= 4; ++i) {
    const auto& c = cases[i - 1];
    SCOPED_TRACE(i);
    EXPECT_EQ(element(i).de.colour, c.wantColour);
    EXPECT_EQ(element(i).de.lineFont, c.wantFont);
    EXPECT_EQ(element(i).de.lineWeight, c.wantWeight);
    EXPECT_EQ(geometry(i).attributes.colour, c.wantColour);
    EXPECT_EQ(db_.layers.records.at(static_cast<std::size_t>(element(i).de.level)).common.name, c.layer);
  }
}

TEST_F(DwgInTest, EntitiesSharingNamesKeepTheirOwnColoursLinetypesAndCounts) {
  // As a reader makes them: every entity holds the one shared text of its
  // layer and linetype; colour and linetype still tell them apart, and a
  // kind counts under the name each entity gives (3DLINE among LINEs).
  db::Record<db::Layer>& walls = db_.addRecord(db_.layers, "WALLS");
  walls.data.colour = 3;
  ASSERT_EQ(dwgGraphAttr().handle_lineStyleAssign("DWGIN_LINESTYLEASSIGN", {"4", "CENTER"}), 0);
  const db::Name layer("WALLS"), byLayer("BYLAYER"), centre("CENTER");
  const struct {
    int colour;
    const db::Name* linetype;
    const char* name;
    std::int32_t wantColour, wantFont;
  } cases[] = {
      {256, &byLayer, "LINE", 3, 1}, {5, &byLayer, "3DLINE", 5, 1}, {256, &centre, "LINE", 3, 4},
      {5, &centre, "3DLINE", 5, 4},  {256, &byLayer, "LINE", 3, 1},
  };
  for (const auto& c : cases) {
    db::Entity e = entityOf(db::EntityKind::Line, db::Line{{0, 0, 0}, {1, 1, 0}});
    e.common.layer = layer;
    e.common.colour = c.colour;
    e.common.linetype = *c.linetype;
    e.setDxfName(c.name);
    db_.addEntity(db_.modelSpace(), e);
  }
  MapContext context(db_, dwgGraphAttr());
  long count = 0;
  mapBlockEntities(context, db_.modelSpace(), 0, count);
  EXPECT_EQ(count, 5);
  EXPECT_EQ(context.mapped, (std::map<std::string, long>{{"3DLINE", 2}, {"LINE", 3}}));
  for (std::int32_t i = 1; i <= 5; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(element(i).de.colour, cases[i - 1].wantColour);
    EXPECT_EQ(element(i).de.lineFont, cases[i - 1].wantFont);
    EXPECT_EQ(element(i).de.sequence, i);
  }
}

}  // namespace
