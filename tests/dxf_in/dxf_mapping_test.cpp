// The mapping of DXF entities into element-table records: the records the
// IGES converters read, the common attributes, blocks and their links.
#include <cmath>
#include <cstdio>
#include <string>
#include <tuple>

#include "dxf_in/dxf_test_support.h"
#include "iges_in/iges_structure.h"

namespace {

// Layers "0" (colour 7) and "RED" (colour 1, dashed), then the entities.
DxfText withLayers() {
  DxfText d;
  d.header("AC1009").layers({{"0", 7, "CONTINUOUS"}, {"RED", 1, "DASHED"}});
  return d;
}

TEST_F(DxfReaderTest, ArcsAndCirclesBecomeCircularArcs) {
  DxfText d = withLayers();
  d.section("ENTITIES");
  d.g(0, "CIRCLE").g(8, "0").g(10, "1").g(20, "2").g(30, "3").g(40, "4");
  d.g(0, "ARC").g(8, "0").g(10, "0").g(20, "0").g(40, "2").g(50, "90").g(51, "180");
  d.endsec().eof();
  ASSERT_EQ(read(d.text()), 0);
  const auto arcs = ofType(100);
  ASSERT_EQ(arcs.size(), 2u);
  EXPECT_EQ(std::tuple(element(arcs[0]).form, element(arcs[1]).form), std::tuple(0, 1));
  EXPECT_EQ(recordOf<GeometryRecord>(arcs[0])->values, (std::vector<double>{3, 1, 2, 5, 2, 5, 2}));
  const std::vector<double>& v = recordOf<GeometryRecord>(arcs[1])->values;
  ASSERT_EQ(v.size(), 7u);
  const double expected[] = {0, 0, 0, 0, 2, -2, 0};
  for (int k = 0; k < 7; ++k) EXPECT_NEAR(v[static_cast<std::size_t>(k)], expected[k], 1e-12) << k;
  EXPECT_EQ(element(arcs[0]).matrix, nullptr);
}

TEST_F(DxfReaderTest, ExtrusionGivesTheObjectCoordinateSystem) {
  struct Case {
    double nx, ny, nz;
    bool matrix;
  };
  const Case cases[] = {{0, 0, 1, false}, {0, 0, 5, false}, {0, 0, -1, true}, {1, 0, 0, true}, {0.6, 0, 0.8, true},
                        {0, 0, 0, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.nx) + "," + std::to_string(c.ny) + "," + std::to_string(c.nz));
    Transform m;
    ASSERT_EQ(arbitraryAxis(Point3{c.nx, c.ny, c.nz}, m), c.matrix);
    if (!c.matrix) continue;
    // The third column is the normal, the axes are a right-handed
    // orthonormal frame.
    const double len = std::sqrt(c.nx * c.nx + c.ny * c.ny + c.nz * c.nz);
    EXPECT_NEAR(m.r[0][2], c.nx / len, 1e-12);
    EXPECT_NEAR(m.r[2][2], c.nz / len, 1e-12);
    const double det = m.r[0][0] * (m.r[1][1] * m.r[2][2] - m.r[1][2] * m.r[2][1]) -
                       m.r[0][1] * (m.r[1][0] * m.r[2][2] - m.r[1][2] * m.r[2][0]) +
                       m.r[0][2] * (m.r[1][0] * m.r[2][1] - m.r[1][1] * m.r[2][0]);
    EXPECT_NEAR(det, 1.0, 1e-12);
  }
  // A circle on the other side of the plane is mirrored in x.
  DxfText d = withLayers();
  d.section("ENTITIES").g(0, "CIRCLE").g(8, "0").g(10, "3").g(20, "1").g(40, "1").g(210, "0").g(220, "0").g(230, "-1");
  d.endsec().eof();
  ASSERT_EQ(read(d.text()), 0);
  const auto circles = ofType(100);
  ASSERT_EQ(circles.size(), 1u);
  const Transform* m = element(circles[0]).matrix.get();
  ASSERT_NE(m, nullptr);
  EXPECT_DOUBLE_EQ(m->r[0][0], -1.0);
  EXPECT_DOUBLE_EQ(m->r[1][1], 1.0);
  EXPECT_DOUBLE_EQ(m->r[2][2], -1.0);
}

TEST_F(DxfReaderTest, ColourAndLineTypeFromLayerAndBlock) {
  DxfText d = withLayers();
  d.section("BLOCKS").g(0, "BLOCK").g(8, "RED").g(2, "B").g(70, "0").g(10, "0").g(20, "0").g(62, "5");
  d.g(0, "LINE").g(8, "0").g(62, "0").g(6, "BYBLOCK");  // colour and line type by block
  d.g(0, "LINE").g(8, "0").g(62, "256");                 // by layer
  d.g(0, "ENDBLK").endsec();
  d.section("ENTITIES");
  d.g(0, "LINE").g(8, "0").g(62, "256");                 // the colour of layer "0"
  d.g(0, "LINE").g(8, "RED");                            // no colour: by layer
  d.g(0, "LINE").g(8, "RED").g(62, "3").g(6, "CONTINUOUS");
  d.g(0, "LINE").g(8, "RED").g(6, "NOSUCH");             // unknown line type: error 940
  d.g(0, "LINE").g(8, "NEW");                            // a layer the table does not list
  d.endsec().eof();
  ASSERT_EQ(read(d.text()), 0);
  const auto lines = ofType(110);
  ASSERT_EQ(lines.size(), 7u);
  struct Expect {
    std::int32_t colour, level, font, weight;
  };
  const Expect expected[] = {{5, 0, 2, 25}, {7, 0, 1, 50}, {7, 0, 1, 50}, {1, 1, 2, 50},
                             {3, 1, 1, 50}, {1, 1, 1, 50}, {7, 2, 1, 50}};
  for (std::size_t k = 0; k < lines.size(); ++k) {
    SCOPED_TRACE(k);
    const DirectoryFields& de = element(lines[k]).de;
    EXPECT_EQ(std::tuple(de.colour, de.level, de.lineWeight, de.lineFont),
              std::tuple(expected[k].colour, expected[k].level, expected[k].weight, expected[k].font));
    // The typed record carries the same attributes.
    EXPECT_EQ(recordOf<GeometryRecord>(lines[k])->attributes.colour, de.colour);
    EXPECT_EQ(recordOf<GeometryRecord>(lines[k])->attributes.level, de.level);
  }
  EXPECT_EQ(mfaCounts().errors, 1) << protocol();
  EXPECT_NE(protocol().find("(940)"), std::string::npos);
  EXPECT_EQ(dxfReader().layers.entries.at(2).name, "NEW");
  // The block's entities are its sons, and it is their father.
  const auto blocks = ofType(308);
  ASSERT_EQ(blocks.size(), 1u);
  EXPECT_EQ(sonsOf(blocks[0]), (std::vector<std::int32_t>{lines[0], lines[1]}));
  ASSERT_NE(element(lines[0]).fathers, nullptr);
  EXPECT_EQ(element(lines[0]).fathers->index, blocks[0]);
}

TEST_F(DxfReaderTest, InsertsAreLinkedToTheirBlocks) {
  DxfText d = withLayers();
  d.section("BLOCKS");
  d.g(0, "BLOCK").g(8, "0").g(2, "ANON").g(70, "1").g(10, "2").g(20, "3");
  d.g(0, "LINE").g(8, "0").g(10, "2").g(20, "3").g(11, "3").g(21, "3");
  d.g(0, "ENDBLK").endsec();
  d.section("ENTITIES");
  d.g(0, "INSERT").g(8, "0").g(2, "anon").g(10, "10").g(20, "20").g(41, "2").g(50, "90");
  d.g(0, "INSERT").g(8, "0").g(2, "MISSING").g(10, "0").g(20, "0");
  d.g(0, "INSERT").g(8, "0").g(2, "ANON").g(70, "3").g(71, "2").g(44, "5").g(45, "7");  // an array of 3 x 2
  d.endsec().eof();
  ASSERT_EQ(read(d.text()), 0);
  const auto blocks = ofType(308);
  const auto inserts = ofType(408);
  ASSERT_EQ(blocks.size(), 1u);
  ASSERT_EQ(inserts.size(), 8u);
  const auto* first = recordOf<InstanceRecord>(inserts[0]);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(std::tuple(first->definition, first->blockFlags), std::tuple(blocks[0], 1));
  EXPECT_EQ(sonsOf(inserts[0]), (std::vector<std::int32_t>{blocks[0]}));
  // The placement takes the block's base point to the insertion point,
  // scaled by 2 and turned by 90 degrees: (3, 3) lies 1 along the block's
  // x axis, so it lands 2 above the insertion point.
  const Transform* m = element(inserts[0]).matrix.get();
  ASSERT_NE(m, nullptr);
  const double x = m->r[0][0] * 3 + m->r[0][1] * 3 + m->t[0];
  const double y = m->r[1][0] * 3 + m->r[1][1] * 3 + m->t[1];
  EXPECT_NEAR(x, 10.0, 1e-9);
  EXPECT_NEAR(y, 22.0, 1e-9);
  // No block of that name: nothing linked.
  const auto* missing = recordOf<InstanceRecord>(inserts[1]);
  EXPECT_EQ(missing->definition, 0);
  EXPECT_EQ(element(inserts[1]).sons, nullptr);
  // The array: six instances, the last at column 2 and row 1.
  const Transform* last = element(inserts[7]).matrix.get();
  ASSERT_NE(last, nullptr);
  EXPECT_NEAR(last->r[0][0] * 2 + last->t[0], 10.0, 1e-9);  // (2, 3) is the base point
  EXPECT_NEAR(last->r[1][1] * 3 + last->t[1], 7.0, 1e-9);
}

TEST_F(DxfReaderTest, ABlockThatInsertsItselfIsNotFollowed) {
  DxfText d = withLayers();
  d.section("BLOCKS");
  // SELF inserts itself; A and B insert each other; C inserts A (and is fine).
  d.g(0, "BLOCK").g(2, "SELF").g(0, "LINE").g(11, "1").g(0, "INSERT").g(2, "SELF").g(0, "ENDBLK");
  d.g(0, "BLOCK").g(2, "A").g(0, "INSERT").g(2, "B").g(0, "ENDBLK");
  d.g(0, "BLOCK").g(2, "B").g(0, "LINE").g(11, "1").g(0, "INSERT").g(2, "A").g(0, "ENDBLK");
  d.g(0, "BLOCK").g(2, "C").g(0, "INSERT").g(2, "A").g(0, "ENDBLK");
  d.endsec().section("ENTITIES");
  d.g(0, "INSERT").g(2, "SELF").g(0, "INSERT").g(2, "C");
  d.endsec().eof();
  ASSERT_EQ(read(d.text()), 0);
  EXPECT_EQ(dxfReader().cyclesBroken, 3);
  EXPECT_EQ(mfaCounts().errors, 3) << protocol();
  const auto inserts = ofType(408);
  ASSERT_EQ(inserts.size(), 6u);
  int linked = 0;
  for (std::int32_t i : inserts) {
    const bool inCycle = element(i).state == ElementState::kError;
    EXPECT_EQ(element(i).sons == nullptr, inCycle) << i;
    if (!inCycle) ++linked;
  }
  EXPECT_EQ(linked, 3);  // C's insert of A and the two in ENTITIES
  // No walk of the table meets the same element twice on one path.
  for (std::int32_t i = 1; i <= elementTable().lastIndex; ++i) {
    std::int32_t de = 0, index = 0;
    int steps = 0;
    resetSonCursors(i);
    while (nextDescendant(i, de, index) == 0 && steps < 1000) ++steps;
    EXPECT_LT(steps, 1000) << i;
  }
}

TEST_F(DxfReaderTest, DimensionsByTypeTakeTheSonsOfTheirBlock) {
  const std::pair<int, std::int32_t> types[] = {{0, 216}, {1, 216}, {33, 216}, {2, 202}, {3, 206},
                                               {4, 222},  {5, 202}, {6, 218},  {7, 444}, {160, 216}};
  for (const auto& [flags, type] : types) EXPECT_EQ(dimensionTypeOf(flags), type) << flags;

  DxfText d = withLayers();
  d.section("BLOCKS").g(0, "BLOCK").g(2, "*D1").g(70, "1");
  d.g(0, "LINE").g(11, "5").g(0, "SOLID").g(11, "1").g(12, "0").g(22, "1").g(0, "TEXT").g(1, "5");
  d.g(0, "ENDBLK").endsec();
  d.section("ENTITIES");
  d.g(0, "DIMENSION").g(2, "*D1").g(70, "33").g(10, "5").g(13, "0").g(14, "5");
  d.g(0, "DIMENSION").g(2, "*D9").g(70, "3");
  d.endsec().eof();
  ASSERT_EQ(read(d.text()), 0);
  const auto linear = ofType(216);
  const auto diameter = ofType(206);
  ASSERT_EQ(linear.size(), 1u);
  ASSERT_EQ(diameter.size(), 1u);
  const auto block = ofType(308).at(0);
  // The dimension holds the block's parts; the block none.
  const std::vector<std::int32_t> parts = sonsOf(linear[0]);
  EXPECT_EQ(parts.size(), 3u);
  EXPECT_EQ(element(linear[0]).sonCount, 3);
  EXPECT_TRUE(sonsOf(block).empty());
  for (std::int32_t p : parts) {
    ASSERT_NE(element(p).fathers, nullptr);
    EXPECT_EQ(element(p).fathers->index, linear[0]);
  }
  // A dimension whose block is missing keeps no sons.
  EXPECT_TRUE(sonsOf(diameter[0]).empty());
  const auto* rec = recordOf<DimensionRecord>(linear[0]);
  ASSERT_NE(rec, nullptr);
  EXPECT_EQ(std::tuple(rec->values.size(), rec->values[0]), std::tuple(23u, 5.0));
}

TEST_F(DxfReaderTest, PolylinesBecomeCopiousDataOrSplines) {
  DxfText d;
  d.section("HEADER").g(9, "$ACADVER").g(1, "AC1009").g(9, "$SPLINETYPE").g(70, "5").endsec();
  d.layers({{"0", 7, "CONTINUOUS"}, {"RED", 1, "DASHED"}});
  d.section("ENTITIES");
  // A closed square.
  d.g(0, "POLYLINE").g(8, "RED").g(66, "1").g(70, "1").g(30, "2");
  for (const char* p : {"0,0", "1,0", "1,1", "0,1"}) {
    const std::string s(p);
    d.g(0, "VERTEX").g(10, s.substr(0, 1)).g(20, s.substr(2, 1));
  }
  d.g(0, "SEQEND");
  // An open polyline whose last vertex has a bulge (which belongs to no
  // segment): straight.
  d.g(0, "POLYLINE").g(70, "0").g(0, "VERTEX").g(10, "0").g(20, "0").g(0, "VERTEX").g(10, "2").g(20, "0").g(42, "1");
  d.g(0, "SEQEND");
  // A spline fit: frame points (16) and fitted points (8).
  d.g(0, "POLYLINE").g(70, "4");
  for (int k = 0; k < 5; ++k) d.g(0, "VERTEX").g(10, std::to_string(k)).g(20, std::to_string(k % 2)).g(70, "16");
  d.g(0, "VERTEX").g(10, "9").g(20, "9").g(70, "8").g(0, "SEQEND");
  // No SEQEND: the next entity still comes.
  d.g(0, "POLYLINE").g(0, "VERTEX").g(10, "1").g(0, "VERTEX").g(10, "2").g(0, "POINT").g(10, "7");
  d.endsec().eof();
  ASSERT_EQ(read(d.text()), 0);
  const auto copious = ofType(106);
  ASSERT_EQ(copious.size(), 3u);
  // The square: a closed curve of 5 points at the polyline's elevation,
  // with the polyline's own attributes.
  EXPECT_EQ(element(copious[0]).form, 63);
  EXPECT_EQ(recordOf<GeometryRecord>(copious[0])->values,
            (std::vector<double>{2, 5, 0, 0, 2, 1, 0, 2, 1, 1, 2, 0, 1, 2, 0, 0, 2}));
  EXPECT_EQ(std::tuple(element(copious[0]).de.level, element(copious[0]).de.colour, element(copious[1]).form),
            std::tuple(1, 1, 11));
  EXPECT_EQ(recordOf<GeometryRecord>(copious[1])->values, (std::vector<double>{2, 2, 0, 0, 0, 2, 0, 0}));
  EXPECT_TRUE(ofType(102).empty());
  // The spline: upper index 4, degree 2 ($SPLINETYPE 5), planar.
  const auto splines = ofType(126);
  ASSERT_EQ(splines.size(), 1u);
  const std::vector<double>& s = recordOf<GeometryRecord>(splines[0])->values;
  EXPECT_EQ(s[0], 4.0);
  EXPECT_EQ(s[1], 2.0);
  EXPECT_EQ(s[2], 1.0);
  EXPECT_EQ(s.size(), 6u + 8u + 5u + 15u + 5u);
  EXPECT_EQ(ofType(116).size(), 1u);
}

TEST_F(DxfReaderTest, ArcSegmentsOfPolylinesBecomeArcsOfAContour) {
  // A member: a line (x1 y1 z1 x2 y2 z2) or an arc (z, centre, start and
  // end, counter-clockwise).
  struct Member {
    std::int32_t type;
    std::vector<double> values;
  };
  struct Case {
    const char* name;
    std::vector<std::tuple<double, double, double>> vertices;  // x, y, bulge
    bool closed;
    std::vector<Member> members;
  };
  const double quarter = std::tan(3.14159265358979323846 / 8);
  const auto exact = [](double v) {
    char text[32];
    std::snprintf(text, sizeof text, "%.17g", v);
    return std::string(text);
  };
  const Case cases[] = {
      {"half circle counter-clockwise", {{0, 0, 1}, {2, 0, 0}}, false, {{100, {2, 1, 0, 0, 0, 2, 0}}}},
      {"quarter circle clockwise, then a line",
       {{0, 0, -quarter}, {1, 1, 0}, {3, 1, 0}},
       false,
       {{100, {2, 1, 0, 1, 1, 0, 0}}, {110, {1, 1, 2, 3, 1, 2}}}},
      {"closed ring of two half circles",
       {{0, 0, 1}, {2, 0, 1}},
       true,
       {{100, {2, 1, 0, 0, 0, 2, 0}}, {100, {2, 1, 0, 2, 0, 0, 0}}}},
      {"more than a half circle", {{0, 0, 2}, {2, 0, 0}}, false, {{100, {2, 1, -0.75, 0, 0, 2, 0}}}},
      {"a segment of no length is left out", {{0, 0, 1}, {0, 0, 1}, {2, 0, 0}}, false, {{100, {2, 1, 0, 0, 0, 2, 0}}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    DxfText d = withLayers();
    d.section("ENTITIES").g(0, "POLYLINE").g(8, "RED").g(66, "1").g(70, c.closed ? "1" : "0").g(30, "2");
    for (const auto& [x, y, bulge] : c.vertices)
      d.g(0, "VERTEX").g(10, exact(x)).g(20, exact(y)).g(42, exact(bulge));
    d.g(0, "SEQEND").endsec().eof();
    ASSERT_EQ(readAfresh(d.text()), 0);
    const auto contours = ofType(102);
    ASSERT_EQ(contours.size(), 1u);
    EXPECT_TRUE(ofType(106).empty());
    const std::int32_t contour = contours[0];
    const auto* rec = recordOf<CompositeRecord>(contour);
    ASSERT_NE(rec, nullptr);
    // The members are the contour's sons in the order of the vertices,
    // placed by it and drawn with its attributes.
    EXPECT_EQ(rec->constituents, sonsOf(contour));
    ASSERT_EQ(rec->constituents.size(), c.members.size());
    for (std::size_t k = 0; k < c.members.size(); ++k) {
      const ElementRecord& m = element(rec->constituents[k]);
      EXPECT_EQ(m.type, c.members[k].type) << k;
      EXPECT_EQ(std::tuple(m.dependency, m.de.colour, m.de.level, m.de.sequence),
                std::tuple('p', 1, element(contour).de.level, element(contour).de.sequence));
      const std::vector<double>& v = recordOf<GeometryRecord>(rec->constituents[k])->values;
      ASSERT_EQ(v.size(), c.members[k].values.size()) << k;
      for (std::size_t i = 0; i < v.size(); ++i) EXPECT_NEAR(v[i], c.members[k].values[i], 1e-9) << k << " " << i;
    }
  }
}

TEST_F(DxfReaderTest, FacesAndShownAttributesAreDrawnTheOthersCounted) {
  DxfText d = withLayers();
  d.section("ENTITIES");
  // A face of four corners, a triangle, one with the edges 1 and 3 hidden
  // (flags 5) and one with all hidden.
  d.g(0, "3DFACE").g(8, "RED").g(10, "0").g(20, "0").g(30, "0").g(11, "4").g(21, "0").g(31, "0");
  d.g(12, "4").g(22, "3").g(32, "1").g(13, "0").g(23, "3").g(33, "1");
  d.g(0, "3DFACE").g(8, "0").g(10, "0").g(20, "0").g(11, "1").g(21, "0").g(12, "0").g(22, "1");
  d.g(0, "3DFACE").g(8, "RED").g(70, "5").g(10, "0").g(20, "0").g(11, "4").g(21, "0").g(12, "4").g(22, "3");
  d.g(13, "0").g(23, "3");
  d.g(0, "3DFACE").g(70, "15").g(10, "0").g(20, "0").g(11, "1").g(21, "0").g(12, "0").g(22, "1");
  // Attributes: shown ones (a value, a constant definition) and the others.
  d.g(0, "ATTRIB").g(8, "0").g(1, "value").g(2, "TAG").g(10, "5").g(20, "6").g(40, "2").g(70, "0");
  d.g(0, "ATTRIB").g(8, "0").g(1, "hidden").g(2, "TAG").g(70, "1");
  d.g(0, "ATTDEF").g(8, "0").g(1, "constant").g(2, "TAG").g(3, "prompt").g(70, "2");
  d.g(0, "ATTDEF").g(8, "0").g(1, "default").g(2, "TAG").g(3, "prompt").g(70, "0");
  d.g(0, "ATTDEF").g(8, "0").g(1, "both").g(2, "TAG").g(70, "3");
  d.g(0, "SHAPE").g(8, "0").g(2, "BOX").g(10, "1").g(20, "1").g(40, "2");
  d.endsec().eof();
  ASSERT_EQ(read(d.text()), 0);

  const auto outlines = ofType(106);
  ASSERT_EQ(outlines.size(), 2u);
  EXPECT_EQ(element(outlines[0]).form, 63);
  EXPECT_EQ(recordOf<GeometryRecord>(outlines[0])->values,
            (std::vector<double>{2, 5, 0, 0, 0, 4, 0, 0, 4, 3, 1, 0, 3, 1, 0, 0, 0}));
  EXPECT_EQ(element(outlines[0]).de.colour, 1);
  EXPECT_EQ(recordOf<GeometryRecord>(outlines[1])->values,
            (std::vector<double>{2, 4, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 0}));
  // The visible edges 2 and 4 of the third face, each with the face's
  // attributes.
  const auto edges = ofType(110);
  ASSERT_EQ(edges.size(), 2u);
  EXPECT_EQ(recordOf<GeometryRecord>(edges[0])->values, (std::vector<double>{4, 0, 0, 4, 3, 0}));
  EXPECT_EQ(recordOf<GeometryRecord>(edges[1])->values, (std::vector<double>{0, 3, 0, 0, 0, 0}));
  for (std::int32_t e : edges) {
    EXPECT_EQ(std::tuple(element(e).de.colour, element(e).de.sequence), std::tuple(1, element(edges[0]).de.sequence));
  }
  EXPECT_EQ(ofType(6000).size(), 1u);

  const auto notes = ofType(212);
  ASSERT_EQ(notes.size(), 2u);
  const NoteStringData& value = recordOf<DxfNoteRecord>(notes[0])->strings.at(0);
  EXPECT_EQ(value.text, "value");
  EXPECT_DOUBLE_EQ(value.start.x, 5.0);
  EXPECT_DOUBLE_EQ(value.boxHeight, 2.0);
  EXPECT_EQ(recordOf<DxfNoteRecord>(notes[1])->strings.at(0).text, "constant");
  EXPECT_EQ(std::tuple(ofType(6051).size(), ofType(6050).size(), ofType(408).size()), std::tuple(1u, 2u, 1u));

  // What is not carried is counted by kind and named once per kind.
  const DxfReaderState& s = dxfReader();
  EXPECT_EQ(s.notCarried[DxfNotCarried::kShape], 1);
  EXPECT_EQ(s.notCarried[DxfNotCarried::kInvisibleAttribute], 2);
  EXPECT_EQ(s.notCarried[DxfNotCarried::kAttributeTemplate], 1);
  for (const char* number : {"(982)", "(983)", "(984)"}) EXPECT_EQ(reports(number), 1u) << number;
}

TEST_F(DxfReaderTest, TextsCarryTheirStyleAndPaperSpaceBelongsToTheDrawing) {
  DxfText d;
  d.header("AC1009").section("TABLES").g(0, "TABLE").g(2, "STYLE").g(70, "1");
  d.g(0, "STYLE").g(2, "NARROW").g(70, "0").g(40, "0").g(41, "0.5").g(3, "simplex.shx").g(0, "ENDTAB").endsec();
  d.section("ENTITIES");
  d.g(0, "TEXT").g(8, "0").g(1, "ABC").g(7, "narrow").g(10, "1").g(20, "2").g(40, "2").g(50, "90").g(71, "2");
  d.g(0, "MTEXT").g(8, "0").g(67, "1").g(3, "fir").g(3, "st\\Pse").g(1, "cond").g(10, "0").g(20, "10").g(40, "3");
  d.endsec().eof();
  ASSERT_EQ(read(d.text()), 0);
  const auto notes = ofType(212);
  ASSERT_EQ(notes.size(), 2u);
  const auto* text = recordOf<DxfNoteRecord>(notes[0]);
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(text->fontName, "simplex");
  const NoteStringData& s = text->strings.at(0);
  EXPECT_EQ(s.text, "ABC");
  EXPECT_DOUBLE_EQ(s.boxHeight, 2.0);
  EXPECT_DOUBLE_EQ(s.boxWidth, 3.0);  // 3 characters of 2 x 0.5
  EXPECT_NEAR(s.angle, 3.14159265358979 / 2, 1e-12);
  EXPECT_EQ(s.mirror, 1);
  // The MTEXT's pieces (3) are joined in file order before its end (1).
  const auto* mtext = recordOf<DxfNoteRecord>(notes[1]);
  ASSERT_EQ(mtext->strings.size(), 2u);
  EXPECT_EQ(std::tuple(mtext->strings[0].text, mtext->strings[1].text), std::tuple("first", "second"));
  EXPECT_DOUBLE_EQ(mtext->strings[0].start.y, 7.0);
  EXPECT_DOUBLE_EQ(mtext->strings[1].start.y, 2.0);
  // The MTEXT lies in paper space: a son of the drawing.
  const auto drawings = ofType(404);
  ASSERT_EQ(drawings.size(), 1u);
  EXPECT_EQ(sonsOf(drawings[0]), (std::vector<std::int32_t>{notes[1]}));
  EXPECT_EQ(element(drawings[0]).state, ElementState::kRegistered);
}

TEST_F(DxfReaderTest, ViewportsAreViewsOfTheDrawingWithTheirLevels) {
  DxfText d = withLayers();
  d.section("ENTITIES");
  // The sheet's own viewport, then one at (100, 50) of height 20 showing
  // a view of height 40 around (10, 10), with layer RED frozen.
  d.g(0, "VIEWPORT").g(67, "1").g(10, "0").g(20, "0").g(40, "400").g(41, "300").g(68, "1").g(69, "1");
  d.g(0, "VIEWPORT").g(67, "1").g(10, "100").g(20, "50").g(40, "30").g(41, "20").g(68, "2").g(69, "2");
  d.g(1001, "ACAD").g(1000, "MVIEW").g(1002, "{").g(1070, "16");
  d.g(1010, "0").g(1020, "0").g(1030, "0").g(1010, "0").g(1020, "0").g(1030, "1");
  d.g(1040, "0").g(1040, "40").g(1040, "10").g(1040, "10").g(1040, "50");
  d.g(1002, "{").g(1003, "red").g(1002, "}").g(1002, "}");
  d.endsec().eof();
  ASSERT_EQ(read(d.text()), 0);
  const auto views = ofType(410);
  ASSERT_EQ(views.size(), 2u);
  const auto* drawing = recordOf<DrawingRecord>(ofType(404).at(0));
  ASSERT_NE(drawing, nullptr);
  ASSERT_EQ(drawing->views.size(), 1u);
  EXPECT_EQ(drawing->views[0].view, views[1]);
  const auto* view = recordOf<DxfViewRecord>(views[1]);
  ASSERT_NE(view, nullptr);
  EXPECT_EQ(view->viewNumber, 2);
  EXPECT_DOUBLE_EQ(view->scale, 0.5);
  EXPECT_DOUBLE_EQ(drawing->views[0].x, 95.0);
  EXPECT_DOUBLE_EQ(drawing->views[0].y, 45.0);
  EXPECT_TRUE(view->hasLevelList);
  EXPECT_EQ(view->hiddenLevels, (std::vector<std::int32_t>{1}));
  const auto* sheet = recordOf<DxfViewRecord>(views[0]);
  EXPECT_FALSE(sheet->hasLevelList);
}

}  // namespace
