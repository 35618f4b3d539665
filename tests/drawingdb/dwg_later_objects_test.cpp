// Objects of DWG 2007 to 2018 whose forms no corpus drawing holds, built
// bit by bit as those releases store them (data, string stream and handle
// stream apart) and read back: SPLINE of 2013, hatch spline edges with fit
// points (2010), multi-line attributes and MTEXT columns (2018), VIEWPORT
// and VIEW lighting (2007), IMAGE, WIPEOUT, IMAGEDEF and proxies.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "drawingdb/dwg_objects.h"
#include "drawingdb/dwg_records.h"
#include "dwg_test_context.h"

using namespace drawingdb;

namespace {

constexpr Handle kOwn = 0x80, kLayer = 0x10, kStyle = 0x11, kOtherStyle = 0x12, kOwner = 0x30;

void appendBits(DwgBitWriter& to, const DwgBitWriter& from) {
  DwgBitReader bits(from.bytes(), from.bitPosition());
  for (std::size_t n = from.bitPosition(); n > 0; --n) to.writeBit(bits.readBit() != 0);
}

// One object of 2007 or later: the common data written on construction,
// the caller's type data to data() and text(), its handles to handle().
class LaterFrame {
 public:
  LaterFrame(Release r, std::int16_t type, bool entity) : r_(r) {
    if (r >= Release::R2010) {
      if (type < 256) {
        data_.writeBitPair(0);
        data_.writeRawChar(static_cast<std::uint8_t>(type));
      } else {
        data_.writeBitPair(2);
        data_.writeRawShort(static_cast<std::uint16_t>(type));
      }
    } else {
      data_.writeBitShort(type);
      bitsizeAt_ = data_.bitPosition();
      data_.writeRawLong(0);
    }
    data_.writeHandle(DwgHandleRef{0, kOwn});
    data_.writeBitShort(0);  // no EED
    if (entity) {
      data_.writeBit(false);  // no graphics
      data_.writeBitPair(2);  // model space
    }
    data_.writeBitLong(0);  // reactors
    data_.writeBit(true);   // no extension dictionary
    if (r >= Release::R2013) data_.writeBit(false);
    if (entity) {
      data_.writeBitShort(256);  // ByLayer
      data_.writeBitDouble(1);
      data_.writeBitPair(0);  // linetype ByLayer
      data_.writeBitPair(0);  // plot style ByLayer
      data_.writeBitPair(0);  // material ByLayer
      data_.writeRawChar(0);  // shadows
      if (r >= Release::R2010)
        for (int i = 0; i < 3; ++i) data_.writeBit(false);
      data_.writeBitShort(0);
      data_.writeRawChar(29);
      handle(5, kLayer);
    } else {
      handle(4, kOwner);
    }
  }

  DwgBitWriter& data() { return data_; }
  void text(std::string_view ascii) {
    strings_.writeBitShort(static_cast<std::int16_t>(ascii.size()));
    for (char ch : ascii) strings_.writeRawShort(static_cast<std::uint8_t>(ch));
    texts_ = true;
  }
  void handle(std::uint8_t code, Handle h) { handles_.writeHandle(DwgHandleRef{code, h}); }

  // The frame from the type on; `handleBits` the size of its handle
  // stream (stored before the frame from 2010 on).
  std::string frame(std::uint64_t& handleBits) {
    DwgBitWriter out = data_;
    appendBits(out, strings_);
    if (texts_) out.writeRawShort(static_cast<std::uint16_t>(strings_.bitPosition()));
    out.writeBit(texts_);
    const std::size_t bitsize = out.bitPosition();
    appendBits(out, handles_);
    if (r_ < Release::R2010) out.overwriteRawLong(bitsizeAt_, static_cast<std::uint32_t>(bitsize));
    handleBits = out.bytes().size() * 8 - bitsize;
    return out.bytes();
  }

 private:
  Release r_;
  std::size_t bitsizeAt_ = 0;
  DwgBitWriter data_, strings_, handles_;
  bool texts_ = false;
};

// Lookups: one layer, two text styles, the classes IMAGE and WIPEOUT
// (500, 501) and IMAGEDEF and IMAGEDEF_REACTOR (502, 503).
class Lookups : public TestReadContext {
 public:
  explicit Lookups(Release r)
      : TestReadContext(r, {{"IMAGE", "AcDbRasterImage"},
                            {"WIPEOUT", "AcDbWipeout"},
                            {"IMAGEDEF", "AcDbRasterImageDef"},
                            {"IMAGEDEF_REACTOR", "AcDbRasterImageDefReactor"}}) {
    classes()[0].isEntity = classes()[1].isEntity = true;
  }
  Name layerName(Handle h) const override { return h == kLayer ? Name("0") : Name(); }
  Name styleName(Handle h) const override {
    return h == kStyle ? Name("Notes") : h == kOtherStyle ? Name("Other") : Name();
  }
};

// Reads an entity frame: the status, and whether every handle was taken.
struct EntityRead {
  Status status;
  Entity entity;
  std::size_t handleBitsLeft = 0;
};
EntityRead readEntity(LaterFrame& f, Release r) {
  EntityRead out;
  std::uint64_t handleBits = 0;
  const std::string frame = f.frame(handleBits);
  Lookups names(r);
  DwgObjectIn in;
  out.status = readDwgObjectHead(frame, names, in, r >= Release::R2010 ? handleBits : 0);
  if (!out.status.ok()) return out;
  out.status = readDwgEntity(in, names, out.entity);
  out.handleBitsLeft = in.handles.bitsLeft();
  return out;
}

void point3(DwgBitWriter& w, double x, double y, double z = 0) { w.writeBitPoint3(DwgPoint3{x, y, z}); }
void point2(DwgBitWriter& w, double x, double y) { w.writeRawPoint2(DwgPoint2{x, y}); }

// ----------------------------------------------------------- SPLINE 2013

// From 2013 on a flags BL (bit 0: by fit points) and the knot
// parameterisation (15: by control points) decide the form, not the
// scenario before them.
TEST(DwgLaterObjects, Spline2013FormsReadToTheirGeometry) {
  struct Case {
    const char* name;
    std::int32_t scenario, flags, parameterisation;
    bool fit;
  };
  const Case cases[] = {
      {"fit points by the flag", 1, 1, 0, true},
      {"control points by the parameterisation", 2, 0, 15, false},
      {"control points by the scenario", 1, 0, 0, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LaterFrame f(Release::R2013, dwg_type::kSpline, true);
    DwgBitWriter& w = f.data();
    w.writeBitLong(c.scenario);
    w.writeBitLong(c.flags);
    w.writeBitLong(c.parameterisation);
    w.writeBitLong(3);  // degree
    if (c.fit) {
      w.writeBitDouble(0.001);
      point3(w, 1, 0);
      point3(w, 0, 1);
      w.writeBitLong(3);
      point3(w, 0, 0), point3(w, 5, 5), point3(w, 10, 0);
    } else {
      w.writeBit(true);  // rational
      w.writeBit(false);  // closed
      w.writeBit(false);  // periodic
      w.writeBitDouble(1e-10);
      w.writeBitDouble(1e-10);
      w.writeBitLong(8);
      w.writeBitLong(4);
      w.writeBit(true);  // weights
      for (double k : {0, 0, 0, 0, 1, 1, 1, 1}) w.writeBitDouble(k);
      for (int i = 0; i < 4; ++i) {
        point3(w, i, i % 2, 0);
        w.writeBitDouble(i == 1 ? 0.5 : 1);
      }
    }
    const EntityRead read = readEntity(f, Release::R2013);
    ASSERT_TRUE(read.status.ok()) << read.status.detail;
    const Spline* s = read.entity.data.getIf<Spline>();
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->degree, 3);
    if (c.fit) {
      ASSERT_EQ(s->fitPoints.size(), 3u);
      EXPECT_EQ(s->fitPoints[1], (Point3{5, 5, 0}));
      EXPECT_EQ(s->endTangent, (Point3{0, 1, 0}));
      EXPECT_TRUE(s->controlPoints.empty());
    } else {
      ASSERT_EQ(s->controlPoints.size(), 4u);
      EXPECT_EQ(s->controlPoints[3], (Point3{3, 1, 0}));
      EXPECT_EQ(s->weights, (std::vector<double>{1, 0.5, 1, 1}));
      EXPECT_EQ(s->knots.size(), 8u);
      EXPECT_NE(s->flags & 4, 0);  // rational
    }
  }
}

// ------------------------------------------------------------ HATCH 2010

// From 2010 on a hatch's spline edge ends with its fit points and, when it
// has any, its start and end tangents; the edge after it and the seed
// points must still read in place.
TEST(DwgLaterObjects, HatchSplineEdgeFitPointsAndSeeds2010) {
  for (const std::size_t fitPoints : {std::size_t{0}, std::size_t{3}}) {
    SCOPED_TRACE(fitPoints);
    LaterFrame f(Release::R2010, dwg_type::kHatch, true);
    DwgBitWriter& w = f.data();
    // No gradient.
    w.writeBitLong(0), w.writeBitLong(0), w.writeBitDouble(0), w.writeBitDouble(0), w.writeBitLong(0);
    w.writeBitDouble(0), w.writeBitLong(0);
    f.text("");
    w.writeBitDouble(0);  // elevation
    point3(w, 0, 0, 1);
    f.text("SOLID");
    w.writeBit(true);   // solid fill
    w.writeBit(false);  // associative
    w.writeBitLong(1);  // paths
    w.writeBitLong(1);  // external path of edges
    w.writeBitLong(2);  // edges
    w.writeRawChar(4);  // spline
    w.writeBitLong(3);
    w.writeBit(false), w.writeBit(false);
    w.writeBitLong(8), w.writeBitLong(4);
    for (double k : {0, 0, 0, 0, 1, 1, 1, 1}) w.writeBitDouble(k);
    for (int i = 0; i < 4; ++i) point2(w, i * 10.0, i % 2 * 5.0);
    w.writeBitLong(static_cast<std::int32_t>(fitPoints));
    for (std::size_t i = 0; i < fitPoints; ++i) point2(w, i * 15.0, 2);
    if (fitPoints > 0) point2(w, 1, 0), point2(w, 0, -1);
    w.writeRawChar(1);  // line back to the start
    point2(w, 30, 5), point2(w, 0, 0);
    w.writeBitLong(0);  // no boundary objects
    w.writeBitShort(0);  // style
    w.writeBitShort(1);  // predefined
    w.writeBitLong(2);   // seeds
    point2(w, 3, 1), point2(w, 7, 2);

    const EntityRead read = readEntity(f, Release::R2010);
    ASSERT_TRUE(read.status.ok()) << read.status.detail;
    const Hatch* h = read.entity.data.getIf<Hatch>();
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(h->pattern, "SOLID");
    ASSERT_EQ(h->paths.size(), 1u);
    ASSERT_EQ(h->paths[0].edges.size(), 2u);
    const HatchEdge& spline = h->paths[0].edges[0];
    EXPECT_EQ(spline.controlPoints.size(), 4u);
    ASSERT_EQ(spline.fitPoints.size(), fitPoints);
    if (fitPoints > 0) {
      EXPECT_EQ(spline.fitPoints[2], (Point3{30, 2, 0}));
      EXPECT_EQ(spline.startTangent, (Point3{1, 0, 0}));
      EXPECT_EQ(spline.endTangent, (Point3{0, -1, 0}));
    }
    EXPECT_EQ(h->paths[0].edges[1].start, (Point3{30, 5, 0}));
    EXPECT_EQ(h->seeds, (std::vector<Point3>{{3, 1, 0}, {7, 2, 0}}));
  }
}

// ----------------------------------------------------- MTEXT and attributes

// The fields of an MTEXT (or of the one a multi-line attribute embeds) up
// to its annotation data, with its text.
void mtextFields(LaterFrame& f, std::string_view text) {
  DwgBitWriter& w = f.data();
  point3(w, 1, 2);      // insertion
  point3(w, 0, 0, 1);   // extrusion
  point3(w, 1, 0);      // x axis
  w.writeBitDouble(40);  // rectangle width
  w.writeBitDouble(0);   // and height
  w.writeBitDouble(2.5);
  w.writeBitShort(1);  // top left
  w.writeBitShort(1);
  w.writeBitDouble(6), w.writeBitDouble(30);  // extents
  f.text(text);
  w.writeBitShort(1);
  w.writeBitDouble(1.5);  // line spacing
  w.writeBit(false);
  w.writeBitLong(0);  // no background
}

// 2018: B not annotative and the copies, the registered application and
// the columns; dynamic columns list their heights.
void mtextAnnotation(LaterFrame& f, bool present, std::int16_t columnType) {
  DwgBitWriter& w = f.data();
  w.writeBit(present);
  if (!present) return;
  w.writeBitShort(4);
  w.writeBit(true);
  f.handle(5, 0);  // registered application
  w.writeBitLong(1);
  point3(w, 1, 0), point3(w, 1, 2);
  for (double v : {40.0, 0.0, 30.0, 6.0}) w.writeBitDouble(v);
  w.writeBitShort(columnType);
  if (columnType == 0) return;
  w.writeBitLong(2);
  w.writeBitDouble(20), w.writeBitDouble(1);
  w.writeBit(false), w.writeBit(false);
  if (columnType == 2) w.writeBitDouble(3), w.writeBitDouble(4);
}

TEST(DwgLaterObjects, MText2018AnnotationAndColumnsReadPast) {
  for (const std::int16_t columns : {0, 1, 2}) {
    SCOPED_TRACE(columns);
    LaterFrame f(Release::R2018, dwg_type::kMText, true);
    mtextFields(f, "Two\\Plines");
    f.handle(5, kStyle);
    mtextAnnotation(f, true, columns);
    const EntityRead read = readEntity(f, Release::R2018);
    ASSERT_TRUE(read.status.ok()) << read.status.detail;
    const MText* m = read.entity.data.getIf<MText>();
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->value, "Two\\Plines");
    EXPECT_EQ(m->style, "Notes");
    EXPECT_DOUBLE_EQ(m->lineSpacing, 1.5);
    EXPECT_LT(read.handleBitsLeft, 8u);
  }
}

// ATTRIB and ATTDEF of 2018: a single line (type 1) as before, a
// multi-line one (2 attribute, 4 definition) with its embedded MTEXT,
// whose text is the value, and annotative data of its own.
TEST(DwgLaterObjects, Attributes2018SingleAndMultiLine) {
  struct Case {
    const char* name;
    std::int16_t type;
    std::uint8_t attributeType;
    bool embeddedAnnotation;
    std::size_t annotativeBytes;
  };
  const Case cases[] = {
      {"single-line attribute", dwg_type::kAttrib, 1, false, 0},
      {"multi-line attribute", dwg_type::kAttrib, 2, false, 0},
      {"multi-line attribute, annotated", dwg_type::kAttrib, 2, true, 3},
      {"single-line definition", dwg_type::kAttDef, 1, false, 0},
      {"multi-line definition", dwg_type::kAttDef, 4, true, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LaterFrame f(Release::R2018, c.type, true);
    DwgBitWriter& w = f.data();
    w.writeRawChar(0xFF & ~0x01);  // every default but the elevation
    w.writeRawDouble(0.5);
    point2(w, 1, 2);
    w.writeBit(true);  // extrusion (0, 0, 1)
    w.writeBit(true);  // no thickness
    w.writeRawDouble(2.5);
    f.text("First line");
    w.writeRawChar(0);  // version
    w.writeRawChar(c.attributeType);
    const bool multi = c.attributeType != 1;
    if (multi) {
      mtextFields(f, "First line\\PSecond line");
      mtextAnnotation(f, c.embeddedAnnotation, 0);
      w.writeBitShort(static_cast<std::int16_t>(c.annotativeBytes));
      if (c.annotativeBytes > 0) {
        w.writeRawBytes(std::string(c.annotativeBytes, '\x07'));
        f.handle(5, 0);
        w.writeBitShort(0);
      }
    }
    f.text("PART_NO");
    w.writeBitShort(0);
    w.writeRawChar(8);  // preset
    w.writeBit(false);  // lock position
    if (c.type == dwg_type::kAttDef) {
      w.writeRawChar(0);
      f.text("Part number?");
    }
    f.handle(5, kStyle);

    const EntityRead read = readEntity(f, Release::R2018);
    ASSERT_TRUE(read.status.ok()) << read.status.detail;
    EXPECT_LT(read.handleBitsLeft, 8u);
    const std::string expected = multi ? "First line\\PSecond line" : "First line";
    const AttributeText* a = nullptr;
    if (const Attrib* at = read.entity.data.getIf<Attrib>()) {
      a = at;
      EXPECT_EQ(at->value, expected);
    } else if (const AttDef* def = read.entity.data.getIf<AttDef>()) {
      a = def;
      EXPECT_EQ(def->defaultValue, expected);
      EXPECT_EQ(def->prompt, "Part number?");
    }
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->multiline, multi);
    EXPECT_EQ(a->tag, "PART_NO");
    EXPECT_EQ(a->flags, 8);
    EXPECT_EQ(a->style, "Notes");
    EXPECT_EQ(a->insertion, (Point3{1, 2, 0.5}));
    EXPECT_DOUBLE_EQ(a->lineSpacing, multi ? 1.5 : 1);
  }
}

// ------------------------------------------------------- VIEWPORT 2007

// 2007 adds the major grid lines, the lighting and four handles at the
// end; the frozen layers and UCS before them stay in place.
TEST(DwgLaterObjects, Viewport2007LightingAndHandles) {
  for (const Release r : {Release::R2007, Release::R2010, Release::R2018}) {
    SCOPED_TRACE(static_cast<int>(r));
    LaterFrame f(r, dwg_type::kViewport, true);
    DwgBitWriter& w = f.data();
    point3(w, 100, 50);
    w.writeBitDouble(80), w.writeBitDouble(60);
    point3(w, 0, 0), point3(w, 0, 0, 1);
    w.writeBitDouble(0);  // twist
    w.writeBitDouble(42);  // view height
    for (double v : {50.0, 0.0, 0.0, 0.0}) w.writeBitDouble(v);
    point2(w, 7, 8), point2(w, 0, 0), point2(w, 1, 1), point2(w, 5, 5);
    w.writeBitShort(1000);
    w.writeBitShort(5);  // major grid lines
    w.writeBitLong(1);   // frozen layers
    w.writeBitLong(32800);
    f.text("monochrome.ctb");
    w.writeRawChar(0);
    w.writeBit(false), w.writeBit(true);
    point3(w, 0, 0), point3(w, 1, 0), point3(w, 0, 1);
    w.writeBitDouble(3);   // elevation
    w.writeBitShort(2);    // ortho type
    w.writeBitShort(0);    // shade plot mode
    w.writeBit(true);      // default lighting
    w.writeRawChar(1);
    w.writeBitDouble(0.5), w.writeBitDouble(0.7);
    writeDwgColour2004(w, 250);
    f.handle(5, 0x44);  // frozen layer
    for (int i = 0; i < 3; ++i) f.handle(5, 0);  // clip boundary, named and base UCS
    f.handle(4, 0), f.handle(5, 0x45), f.handle(4, 0), f.handle(3, 0x46);
    const EntityRead read = readEntity(f, r);
    ASSERT_TRUE(read.status.ok()) << read.status.detail;
    const Viewport* v = read.entity.data.getIf<Viewport>();
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(v->viewCenter, (Point3{7, 8, 0}));
    EXPECT_EQ(v->frozenLayers, std::vector<Handle>{0x44});
    EXPECT_EQ(v->plotStyleSheet, "monochrome.ctb");
    EXPECT_DOUBLE_EQ(v->elevation, 3);
    EXPECT_EQ(v->orthoType, 2);
    EXPECT_LT(read.handleBitsLeft, 8u);
  }
}

// ------------------------------------------ IMAGE, WIPEOUT and proxies

std::vector<RawTag> groupsOf(const Entity& e) {
  const UnknownEntity* u = e.data.getIf<UnknownEntity>();
  return u != nullptr ? u->tags : std::vector<RawTag>{};
}
const RawTag* group(const std::vector<RawTag>& tags, int code, std::size_t nth = 0) {
  for (const RawTag& t : tags)
    if (t.code == code && nth-- == 0) return &t;
  return nullptr;
}

// IMAGE and WIPEOUT give the groups of a DXF file (2010 on with the clip
// mode) and keep their bits for a file of their release; a clip boundary
// of an unknown type is damage.
TEST(DwgLaterObjects, RasterImagesReadToTheirGroups) {
  struct Case {
    const char* name;
    Release release;
    std::int16_t type;
    std::int16_t boundary;
    bool ok;
  };
  const Case cases[] = {
      {"IMAGE 2007, rectangle", Release::R2007, 500, 1, true},
      {"IMAGE 2010, polygon", Release::R2010, 500, 2, true},
      {"WIPEOUT 2018, polygon", Release::R2018, 501, 2, true},
      {"IMAGE 2018, boundary of type 3", Release::R2018, 500, 3, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LaterFrame f(c.release, c.type, true);
    DwgBitWriter& w = f.data();
    w.writeBitLong(0);
    point3(w, 10, 20), point3(w, 0.5, 0), point3(w, 0, 0.5);
    point2(w, 640, 480);
    w.writeBitShort(7);
    w.writeBit(true);
    w.writeRawChar(50), w.writeRawChar(60), w.writeRawChar(0);
    if (c.release >= Release::R2010) w.writeBit(true);
    w.writeBitShort(c.boundary);
    if (c.boundary == 1) {
      point2(w, -0.5, -0.5), point2(w, 639.5, 479.5);
    } else {
      w.writeBitLong(3);
      point2(w, 0, 0), point2(w, 100, 0), point2(w, 0, 100);
    }
    f.handle(5, 0x50);
    f.handle(3, 0x51);
    const EntityRead read = readEntity(f, c.release);
    EXPECT_EQ(read.status.ok(), c.ok) << read.status.detail;
    if (!c.ok) continue;
    EXPECT_EQ(read.entity.dxfName(), c.type == 500 ? "IMAGE" : "WIPEOUT");
    const std::vector<RawTag> tags = groupsOf(read.entity);
    ASSERT_NE(group(tags, 10), nullptr);
    EXPECT_DOUBLE_EQ(group(tags, 20)->real, 20);
    EXPECT_DOUBLE_EQ(group(tags, 23)->real, 480);
    EXPECT_EQ(group(tags, 340)->integer, 0x50);
    EXPECT_EQ(group(tags, 360)->integer, 0x51);
    EXPECT_EQ(group(tags, 281)->integer, 50);
    EXPECT_EQ(group(tags, 91)->integer, c.boundary == 1 ? 2 : 3);
    EXPECT_DOUBLE_EQ(group(tags, 14, 1)->real, c.boundary == 1 ? 639.5 : 100);
    EXPECT_EQ(group(tags, 290) != nullptr, c.release >= Release::R2010);
    EXPECT_TRUE(read.entity.data.getIf<UnknownEntity>()->keepsDwgBits());
  }
}

// The proxy's drawing format: one BL before 2018, release and maintenance
// release apart from then on; group 95 holds both.
TEST(DwgLaterObjects, ProxyEntityFormatByRelease) {
  for (const Release r : {Release::R2010, Release::R2018}) {
    SCOPED_TRACE(static_cast<int>(r));
    LaterFrame f(r, dwg_type::kProxyEntity, true);
    DwgBitWriter& w = f.data();
    w.writeBitLong(499 + 1);  // class id
    if (r >= Release::R2018) {
      w.writeBitLong(32);
      w.writeBitLong(3);
    } else {
      w.writeBitLong(32 | 3 << 16);
    }
    w.writeBit(false);
    w.writeRawBytes("proxy data");
    const EntityRead read = readEntity(f, r);
    ASSERT_TRUE(read.status.ok()) << read.status.detail;
    const std::vector<RawTag> tags = groupsOf(read.entity);
    ASSERT_NE(group(tags, 95), nullptr);
    EXPECT_EQ(group(tags, 90)->integer, 498);
    EXPECT_EQ(group(tags, 91)->integer, 500);
    EXPECT_EQ(group(tags, 95)->integer, 32 | 3 << 16);
    EXPECT_EQ(group(tags, 70)->integer, 0);
    // The bits stay whole, from the class id on.
    EXPECT_GT(read.entity.data.getIf<UnknownEntity>()->dwg.dataBits, 10u * 8);
  }
}

// ------------------------------------------------------------- objects

Status readObject(LaterFrame& f, Release r, Database& db) {
  std::uint64_t handleBits = 0;
  const std::string frame = f.frame(handleBits);
  Lookups names(r);
  DwgObjectIn in;
  if (Status s = readDwgObjectHead(frame, names, in, r >= Release::R2010 ? handleBits : 0); !s.ok()) return s;
  DwgRecordReader records(db);
  const Status s = records.read(in, names);
  records.finish(names);
  return s;
}

// VIEW of 2007 on: lighting after the render mode, camera plottable after
// the UCS, background, visual style and sun before the UCS handles and the
// live section after them.
TEST(DwgLaterObjects, View2007CameraAndLighting) {
  for (const bool ucs : {false, true}) {
    SCOPED_TRACE(ucs);
    LaterFrame f(Release::R2013, dwg_type::kView, false);
    DwgBitWriter& w = f.data();
    f.text("Front");
    w.writeBitShort(0);  // no xref
    w.writeBitDouble(12), w.writeBitDouble(16);
    point2(w, 4, 5);
    point3(w, 0, 0), point3(w, 0, 0, 1);
    for (double v : {0.0, 50.0, 0.0, 0.0}) w.writeBitDouble(v);
    w.writeFourBits(1);
    w.writeRawChar(0);  // render mode
    w.writeBit(true), w.writeRawChar(1), w.writeBitDouble(0), w.writeBitDouble(0);
    writeDwgColour2004(w, 250);
    w.writeBit(false);  // model space
    w.writeBit(ucs);
    if (ucs) {
      point3(w, 1, 1), point3(w, 1, 0), point3(w, 0, 1);
      w.writeBitDouble(0), w.writeBitShort(0);
    }
    w.writeBit(true);  // camera plottable
    f.handle(5, 0);    // xref block
    f.handle(4, 0), f.handle(5, 0x60), f.handle(3, 0);
    if (ucs) f.handle(5, 0x61), f.handle(5, 0x62);
    f.handle(4, 0);
    Database db;
    const Status s = readObject(f, Release::R2013, db);
    ASSERT_TRUE(s.ok()) << s.detail;
    const Record<View>* v = db.views.find("Front");
    ASSERT_NE(v, nullptr);
    EXPECT_DOUBLE_EQ(v->data.height, 12);
    EXPECT_EQ(v->data.center, (Point3{4, 5, 0}));
    const RawTag* named = group(v->common.extra, 345);
    EXPECT_EQ(named != nullptr && named->integer == 0x62, ucs);
  }
}

// IMAGEDEF and ACAD_PROXY_OBJECT give the groups of a DXF file and keep
// their bits.
TEST(DwgLaterObjects, ImageDefinitionAndProxyObjectGroups) {
  Database db;
  LaterFrame def(Release::R2018, 502, false);
  def.data().writeBitLong(0);
  point2(def.data(), 640, 480);
  def.text("C:\\images\\site.png");
  def.data().writeBit(true);
  def.data().writeRawChar(2);
  point2(def.data(), 0.01, 0.01);
  ASSERT_TRUE(readObject(def, Release::R2018, db).ok());
  LaterFrame proxy(Release::R2018, dwg_type::kProxyObject, false);
  proxy.data().writeBitLong(503);
  proxy.data().writeBitLong(32);
  proxy.data().writeBitLong(1);
  proxy.data().writeBit(true);
  ASSERT_TRUE(readObject(proxy, Release::R2018, db).ok());
  ASSERT_EQ(db.objects.size(), 2u);
  const auto* image = std::get_if<UnknownObject>(&db.objects[0].data);
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(db.objects[0].dxfName, "IMAGEDEF");
  EXPECT_EQ(group(image->tags, 1)->text, "C:\\images\\site.png");
  EXPECT_DOUBLE_EQ(group(image->tags, 20)->real, 480);
  EXPECT_EQ(group(image->tags, 281)->integer, 2);
  EXPECT_TRUE(image->keepsDwgBits());
  const auto* p = std::get_if<UnknownObject>(&db.objects[1].data);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(group(p->tags, 91)->integer, 503);
  EXPECT_EQ(group(p->tags, 95)->integer, 32 | 1 << 16);
  EXPECT_EQ(group(p->tags, 70)->integer, 1);
}

}  // namespace
