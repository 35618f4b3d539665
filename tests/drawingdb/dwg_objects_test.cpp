// DWG objects of R13, R14 and 2000: the common frame (own handle, EED,
// graphics, entity and record common data with their handles) and every
// entity kind written and read back in each release, the objects of the
// corpus drawings decoded and compared with their DXF twins, and damaged
// objects answered with a status.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>

#include "drawingdb/dwg_file_header.h"
#include "drawingdb/dwg_objects.h"

using namespace drawingdb;
namespace fs = std::filesystem;

namespace {

constexpr Release kReleases[] = {Release::R13, Release::R14, Release::R2000};

// Records by handle and name, as the whole-file reader and writer hold them.
class Tables : public DwgReadContext, public DwgWriteContext {
 public:
  explicit Tables(Release r) : release_(r), page_(CodePage::named("ANSI_1252")) {
    add(layers_, {{0x10, "0"}, {0x11, "Walls"}, {0x12, "DEFPOINTS"}});
    add(linetypes_, {{0x14, "BYLAYER"}, {0x15, "BYBLOCK"}, {0x16, "Continuous"}, {0x17, "DASHED"}});
    add(styles_, {{0x1A, "Standard"}, {0x1B, "ROMANS"}});
    add(dimstyles_, {{0x1D, "Standard"}});
    add(blocks_, {{0x1F, "*Model_Space"}, {0x20, "BOX"}, {0x21, "*D1"}});
    add(appids_, {{0x30, "ACAD"}, {0x31, "MYAPP"}});
    for (const char* name : {"LWPOLYLINE", "HATCH", "SOMETHING"}) {
      ClassDef c;
      c.dxfName = name;
      c.isEntity = true;
      classes_.push_back(c);
    }
  }

  Release release() const override { return release_; }
  const CodePage& codePage() const override { return page_; }
  std::uint16_t codepageNumber() const override { return 30; }
  Name layerName(Handle h) const override { return nameOf(layers_, h); }
  Name linetypeName(Handle h) const override { return nameOf(linetypes_, h); }
  Name styleName(Handle h) const override { return nameOf(styles_, h); }
  Name dimstyleName(Handle h) const override { return nameOf(dimstyles_, h); }
  Name blockName(Handle h) const override { return nameOf(blocks_, h); }
  std::string appidName(Handle h) const override { return nameOf(appids_, h).str(); }
  const ClassDef* classOf(std::int16_t type) const override {
    const int i = type - dwg_type::kFirstClass;
    return i >= 0 && i < static_cast<int>(classes_.size()) ? &classes_[static_cast<std::size_t>(i)] : nullptr;
  }
  void warn(std::string_view what) override { warnings.emplace_back(what); }

  Handle layerHandle(std::string_view n) const override { return handleOf(layers_, n); }
  Handle linetypeHandle(std::string_view n) const override { return handleOf(linetypes_, n); }
  Handle styleHandle(std::string_view n) const override { return handleOf(styles_, n); }
  Handle dimstyleHandle(std::string_view n) const override { return handleOf(dimstyles_, n); }
  Handle blockHandle(std::string_view n) const override { return handleOf(blocks_, n); }
  Handle appidHandle(std::string_view app) override {
    if (const Handle h = handleOf(appids_, app)) return h;
    appids_.emplace(0x40 + appids_.size(), std::string(app));
    return handleOf(appids_, app);
  }
  std::int16_t classNumber(std::string_view dxfName) override {
    for (std::size_t i = 0; i < classes_.size(); ++i)
      if (classes_[i].dxfName == dxfName) return static_cast<std::int16_t>(dwg_type::kFirstClass + i);
    return 0;
  }

  std::vector<std::string> warnings;

 private:
  using Map = std::map<Handle, std::string>;
  static void add(Map& m, std::initializer_list<std::pair<const Handle, std::string>> items) { m.insert(items); }
  static Name nameOf(const Map& m, Handle h) {
    const auto it = m.find(h);
    return it == m.end() ? Name() : Name(it->second);
  }
  static Handle handleOf(const Map& m, std::string_view n) {
    for (const auto& [h, name] : m)
      if (sameName(name, n)) return h;
    return 0;
  }

  Release release_;
  CodePage page_;
  Map layers_, linetypes_, styles_, dimstyles_, blocks_, appids_;
  std::vector<ClassDef> classes_;
};

// ---------------------------------------------------------- common data

DwgObjectHead sampleHead(bool entity, Release r) {
  DwgObjectHead h;
  h.type = entity ? dwg_type::kLine : dwg_type::kDictionary;
  h.entity = entity;
  h.handle = 0x2A5;
  h.owner = entity ? 0x20 : 0xC;
  h.reactors = {0x2A4, 0x1FFFF};
  h.xdictionary = 0x2A6;
  h.xdata = {
      RawTag{1001, TagType::String, 0, 0, "MYAPP"},
      RawTag{1000, TagType::String, 0, 0, "caf\xC3\xA9"},
      RawTag{1002, TagType::String, 0, 0, "{"},
      RawTag{1010, TagType::Real, 1.5, 0, {}},
      RawTag{1020, TagType::Real, -2, 0, {}},
      RawTag{1030, TagType::Real, 0.25, 0, {}},
      RawTag{1040, TagType::Real, 3.75, 0, {}},
      RawTag{1070, TagType::Int16, 0, -7, {}},
      RawTag{1071, TagType::Int32, 0, 100000, {}},
      RawTag{1005, TagType::Handle, 0, 0x2A4, "2A4"},
      RawTag{1004, TagType::Binary, 0, 0, std::string("\x00\xFF\x10", 3)},
      RawTag{1003, TagType::String, 0, 0, "Walls"},
      RawTag{1002, TagType::String, 0, 0, "}"},
      RawTag{1001, TagType::String, 0, 0, "ACAD"},
      RawTag{1000, TagType::String, 0, 0, ""},
  };
  if (entity) {
    DwgEntityHead& e = h.e;
    e.mode = 0;
    e.colour = 5;
    e.linetypeScale = 0.5;
    e.linetypeFlags = 3;
    e.linetype = 0x17;
    e.plotStyleFlags = r >= Release::R2000 ? 3 : 0;
    e.plotStyle = r >= Release::R2000 ? 0x55 : 0;
    e.invisibility = 1;
    e.lineweight = r >= Release::R2000 ? 13 : 29;
    e.layer = 0x11;
    e.previous = 0x2A0;
    e.next = 0;
    e.graphics = "\x01\x02\x03";
  }
  return h;
}

void expectSameHead(const DwgObjectHead& a, const DwgObjectHead& b) {
  EXPECT_EQ(a.type, b.type);
  EXPECT_EQ(a.handle, b.handle);
  EXPECT_EQ(a.entity, b.entity);
  EXPECT_EQ(a.xdata, b.xdata);
  EXPECT_EQ(a.owner, b.owner);
  EXPECT_EQ(a.reactors, b.reactors);
  EXPECT_EQ(a.xdictionary, b.xdictionary);
  if (!a.entity) return;
  EXPECT_EQ(a.e.mode, b.e.mode);
  EXPECT_EQ(a.e.noLinks, b.e.noLinks);
  EXPECT_EQ(a.e.colour, b.e.colour);
  EXPECT_EQ(a.e.linetypeScale, b.e.linetypeScale);
  EXPECT_EQ(a.e.linetypeFlags, b.e.linetypeFlags);
  EXPECT_EQ(a.e.plotStyleFlags, b.e.plotStyleFlags);
  EXPECT_EQ(a.e.invisibility, b.e.invisibility);
  EXPECT_EQ(a.e.lineweight, b.e.lineweight);
  EXPECT_EQ(a.e.layer, b.e.layer);
  EXPECT_EQ(a.e.linetype, b.e.linetype);
  EXPECT_EQ(a.e.plotStyle, b.e.plotStyle);
  EXPECT_EQ(a.e.previous, b.e.previous);
  EXPECT_EQ(a.e.next, b.e.next);
  EXPECT_EQ(a.e.graphics, b.e.graphics);
}

// The head, one BD of type data and one type handle; read back.
TEST(DwgObjectHead, CommonDataAndHandlesReadBackInEachRelease) {
  for (Release r : kReleases) {
    for (bool entity : {true, false}) {
      SCOPED_TRACE(std::string(releaseInfo(r).version) + (entity ? " entity" : " object"));
      Tables tables(r);
      const DwgObjectHead head = sampleHead(entity, r);
      DwgObjectOut out(r);
      ASSERT_TRUE(out.begin(head, tables).ok());
      out.data().writeBitDouble(12.5);
      out.handle(5, 0x1D);
      std::string frame;
      ASSERT_TRUE(out.finish(frame).ok());

      DwgObjectIn in;
      const Status s = readDwgObjectHead(frame, tables, in);
      ASSERT_TRUE(s.ok()) << s.detail;
      expectSameHead(in.head, head);
      EXPECT_EQ(in.data.readBitDouble(), 12.5);
      EXPECT_EQ(in.data.bitsLeft(), 0u);  // the handle stream starts at B
      EXPECT_EQ(in.readHandle(), 0x1Du);
      EXPECT_LT(in.handles.bitsLeft(), 8u);
      EXPECT_TRUE(in.status().ok());
      EXPECT_TRUE(tables.warnings.empty());
    }
  }
}

TEST(DwgObjectHead, LinksAndLinetypeFormsOfEachRelease) {
  struct Case {
    const char* what;
    bool noLinks;
    std::uint8_t flags;  // as written
    Handle linetype;
    std::uint8_t readR2000, readR14;  // as read back
  };
  const Case cases[] = {
      {"BYLAYER, chained by handle", true, 0, 0, 0, 0},
      {"BYBLOCK", false, 1, 0x15, 1, 3},
      {"CONTINUOUS", false, 2, 0x16, 2, 3},
      {"a record", false, 3, 0x17, 3, 3},
  };
  for (Release r : kReleases) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(releaseInfo(r).version) + " " + c.what);
      Tables tables(r);
      DwgObjectHead head = sampleHead(true, r);
      head.e.mode = 2;
      head.e.noLinks = c.noLinks;
      head.e.linetypeFlags = c.flags;
      head.e.linetype = c.linetype;
      DwgObjectOut out(r);
      ASSERT_TRUE(out.begin(head, tables).ok());
      std::string frame;
      ASSERT_TRUE(out.finish(frame).ok());
      DwgObjectIn in;
      ASSERT_TRUE(readDwgObjectHead(frame, tables, in).ok());
      EXPECT_EQ(in.head.owner, 0u);  // model space: no owner handle
      EXPECT_EQ(in.head.e.linetypeFlags, r >= Release::R2000 ? c.readR2000 : c.readR14);
      // 2000 names BYBLOCK and CONTINUOUS by the flag alone.
      const bool named = r < Release::R2000 ? c.flags != 0 : c.flags == 3;
      EXPECT_EQ(in.head.e.linetype, named ? c.linetype : 0);
      if (c.noLinks) {
        EXPECT_EQ(in.head.e.previous, head.handle - 1);
        EXPECT_EQ(in.head.e.next, head.handle + 1);
      }
    }
  }
}

TEST(DwgObjectHead, RecordHeadReadsBack) {
  for (Release r : kReleases) {
    SCOPED_TRACE(releaseInfo(r).version);
    Tables tables(r);
    DwgObjectHead head = sampleHead(false, r);
    head.type = dwg_type::kLayer;
    const DwgRecordHead record{"Mauer \xC3\x84", false, 3, true, 0x99};
    DwgObjectOut out(r);
    ASSERT_TRUE(out.begin(head, tables).ok());
    out.writeRecordHead(record, tables);
    out.data().writeBitShort(7);
    std::string frame;
    ASSERT_TRUE(out.finish(frame).ok());
    DwgObjectIn in;
    ASSERT_TRUE(readDwgObjectHead(frame, tables, in).ok());
    DwgRecordHead back;
    ASSERT_TRUE(readDwgRecordHead(in, tables, back).ok());
    EXPECT_EQ(back.name, record.name);
    EXPECT_EQ(back.referenced, record.referenced);
    EXPECT_EQ(back.xrefIndex, record.xrefIndex);
    EXPECT_EQ(back.xrefDependent, record.xrefDependent);
    EXPECT_EQ(back.xrefBlock, record.xrefBlock);
    EXPECT_EQ(in.data.readBitShort(), 7);
  }
}

TEST(DwgObjectHead, LineweightIndexTable) {
  const std::pair<std::int32_t, std::uint8_t> both[] = {{0, 0},    {5, 1},    {13, 3},   {25, 7},  {53, 12},
                                                        {106, 18}, {211, 23}, {-1, 29},  {-2, 30}, {-3, 31}};
  for (const auto& [value, index] : both) {
    EXPECT_EQ(dwgLineweightIndex(value), index) << value;
    EXPECT_EQ(lineweightOfDwgIndex(index), value) << int(index);
  }
  // Between two: the nearer, the smaller on a tie; beyond: the largest.
  EXPECT_EQ(dwgLineweightIndex(26), 7);
  EXPECT_EQ(dwgLineweightIndex(28), 8);
  EXPECT_EQ(dwgLineweightIndex(16), 4);  // 15 and 18: 15 is nearer
  EXPECT_EQ(dwgLineweightIndex(500), 23);
  EXPECT_EQ(lineweightOfDwgIndex(25), -1);  // unused indices read as ByLayer
}

// A non-entity object written field by field: `reactors` as its count,
// `bitsize` (0: the true one) as its B.
std::string rawObject(Release r, std::int16_t type, std::int32_t reactors, std::uint32_t bitsize = 0) {
  DwgBitWriter w;
  w.writeObjectType(type);
  std::size_t at = w.bitPosition();
  if (r >= Release::R2000) w.writeRawLong(0);
  w.writeHandle(DwgHandleRef{0, 0x50});
  w.writeBitShort(0);  // no EED
  if (r < Release::R2000) {
    at = w.bitPosition();
    w.writeRawLong(0);
  }
  w.writeBitLong(reactors);
  w.overwriteRawLong(at, bitsize != 0 ? bitsize : static_cast<std::uint32_t>(w.bitPosition()));
  w.writeHandle(DwgHandleRef{4, 1});
  w.writeHandle(DwgHandleRef{4, 2});
  w.writeHandle(DwgHandleRef{3, 0});
  return w.bytes();
}

// Every cut of a frame and every lying count or size ends in a status,
// never in a crash, a read beyond the frame or a large allocation.
TEST(DwgObjectHead, DamagedFramesGiveAStatus) {
  for (Release r : kReleases) {
    SCOPED_TRACE(releaseInfo(r).version);
    Tables tables(r);
    DwgObjectOut out(r);
    ASSERT_TRUE(out.begin(sampleHead(true, r), tables).ok());
    std::string frame;
    ASSERT_TRUE(out.finish(frame).ok());
    for (std::size_t n = 0; n + 1 < frame.size(); ++n) {
      DwgObjectIn in;
      EXPECT_FALSE(readDwgObjectHead(frame.substr(0, n), tables, in).ok()) << n;
    }

    DwgObjectIn in;
    ASSERT_TRUE(readDwgObjectHead(rawObject(r, dwg_type::kDictionary, 1), tables, in).ok());
    EXPECT_EQ(in.head.reactors, std::vector<Handle>{2});
    const struct {
      std::string frame;
      const char* says;
    } damaged[] = {
        {rawObject(r, dwg_type::kDictionary, 1000000), "reactors"},
        {rawObject(r, dwg_type::kDictionary, -1), "reactors"},
        {rawObject(r, dwg_type::kDictionary, 1, 1u << 20), "bitsize"},
        {rawObject(r, dwg_type::kDictionary, 1, 3), "bitsize"},
        {rawObject(r, 600, 1), "class"},
    };
    for (const auto& d : damaged) {
      const Status s = readDwgObjectHead(d.frame, tables, in);
      EXPECT_FALSE(s.ok()) << d.says;
      EXPECT_NE(s.detail.find(d.says), std::string::npos) << s.detail;
    }
  }
}

}  // namespace
