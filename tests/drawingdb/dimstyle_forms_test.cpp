// Dimension styles carried between R14 and 2000: arrows by name and by
// block handle, the linear unit and the fit, through DWG and DXF files of
// each release, and each way.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "drawingdb/dimstyle_forms.h"
#include "drawingdb/dxf_tags.h"
#include "drawingdb/file_io.h"

using namespace drawingdb;

namespace {

RawTag group(int code, std::int64_t integer, std::string text = {}) {
  RawTag t;
  t.code = code;
  t.type = tagTypeOf(code);
  t.integer = integer;
  t.text = t.type == TagType::Handle && code > 7 ? formatHandle(static_cast<Handle>(integer)) : std::move(text);
  return t;
}

const RawTag* groupOf(const std::vector<RawTag>& tags, int code) {
  for (const RawTag& t : tags)
    if (t.code == code) return &t;
  return nullptr;
}

// A drawing with the arrow block "_ArchTick" and a style "Arch" whose
// values are in the form of release `r`: the arrow of the first end, a
// linear unit and a fit that both releases can state.
struct Style {
  const char* arrow1;   // DIMBLK1 by name ("" default)
  int unit;             // DIMUNIT
  int fit;              // DIMFIT
  int linearUnit;       // DIMLUNIT
  int fraction;         // DIMFRAC
  int attachFit;        // DIMATFIT
  int textMove;         // DIMTMOVE
};

Database drawing(Release r, const Style& s) {
  Database db = Database::create(r);
  const Handle arrow = db.addBlock("_ArchTick").handle;
  auto& style = db.addRecord(db.dimstyles, "Arch");
  if (r >= Release::R2000) {
    style.common.extra = {group(343, *s.arrow1 != 0 ? static_cast<std::int64_t>(arrow) : 0), group(277, s.linearUnit),
                          group(276, s.fraction), group(289, s.attachFit), group(279, s.textMove)};
  } else {
    style.common.extra = {group(6, 0, s.arrow1), group(270, s.unit), group(287, s.fit)};
  }
  return db;
}

std::string written(Database& db, FileFormat format, Release r) {
  StringSink sink;
  const Status s = save(db, sink, {format, r, 16});
  EXPECT_TRUE(s.ok()) << s.detail;
  return sink.data;
}

// The style as a file of release `r` holds it, read back.
std::vector<RawTag> styleIn(const std::string& file) {
  Database back;
  const ReadResult read = readBytes(file, back);
  EXPECT_TRUE(read.status.ok()) << read.status.detail;
  const Record<DimStyle>* style = back.dimstyles.find("Arch");
  if (style == nullptr) {
    ADD_FAILURE() << "no style Arch";
    return {};
  }
  // Arrows by handle are shown by the name of their block.
  std::vector<RawTag> out = style->common.extra;
  for (RawTag& t : out)
    if (t.code >= 342 && t.code <= 344) {
      const HandleRef* ref = back.find(static_cast<Handle>(t.integer));
      t.text = ref != nullptr && ref->kind == RefKind::Block ? back.blocks[ref->index].name : "?";
    }
  return out;
}

std::optional<std::int64_t> integerIn(const std::vector<RawTag>& tags, int code) {
  const RawTag* t = groupOf(tags, code);
  if (t == nullptr) return std::nullopt;
  return t->integer;
}

// Each row states one style in both forms.
const Style kStyles[] = {
    {"_ArchTick", 6, 4, 4, 2, 3, 1},  // architectural, not stacked; text moved with a leader
    {"", 2, 3, 2, 0, 3, 0},           // decimal, best fit
    {"_ArchTick", 5, 1, 5, 0, 1, 0},  // fractional stacked; arrows leave first
    {"", 7, 5, 5, 2, 3, 2},           // fractional not stacked; text moved without a leader
};

TEST(DimStyleForms, EachReleaseReadsTheOthersValuesInItsOwnForm) {
  for (const FileFormat format : {FileFormat::Dwg, FileFormat::DxfAscii}) {
    for (const Style& s : kStyles) {
      SCOPED_TRACE(std::string(format == FileFormat::Dwg ? "DWG " : "DXF ") + s.arrow1 + " " + std::to_string(s.unit));
      // 2000 to R14: names, DIMUNIT and DIMFIT; no group of 2000 left.
      Database newer = drawing(Release::R2000, s);
      const std::vector<RawTag> older = styleIn(written(newer, format, Release::R14));
      const RawTag* arrow = groupOf(older, 6);
      ASSERT_NE(arrow, nullptr);
      EXPECT_EQ(foldedName(arrow->text), foldedName(s.arrow1));
      EXPECT_EQ(integerIn(older, 270), s.unit);
      EXPECT_EQ(integerIn(older, 287), s.fit);
      for (const int code : {276, 277, 279, 289, 343}) EXPECT_EQ(groupOf(older, code), nullptr) << code;

      // R14 to 2000: the block by handle, DIMLUNIT, DIMFRAC, DIMATFIT and
      // DIMTMOVE; no group of R14 left.
      Database old = drawing(Release::R14, s);
      const std::vector<RawTag> newerRead = styleIn(written(old, format, Release::R2000));
      const RawTag* block = groupOf(newerRead, 343);
      if (*s.arrow1 != 0) {
        ASSERT_NE(block, nullptr);
        EXPECT_EQ(foldedName(block->text), foldedName(s.arrow1));
      } else {
        EXPECT_TRUE(block == nullptr || block->integer == 0);
      }
      EXPECT_EQ(integerIn(newerRead, 277), s.linearUnit);
      EXPECT_EQ(integerIn(newerRead, 276), s.fraction);
      EXPECT_EQ(integerIn(newerRead, 289), s.attachFit);
      EXPECT_EQ(integerIn(newerRead, 279), s.textMove);
      for (const int code : {6, 270, 287}) EXPECT_EQ(groupOf(newerRead, code), nullptr) << code;
    }
  }
}

// The header's variables of the same pairs, each way.
TEST(DimStyleForms, HeaderVariablesFollowTheRelease) {
  for (const FileFormat format : {FileFormat::Dwg, FileFormat::DxfAscii}) {
    for (const Style& s : kStyles) {
      SCOPED_TRACE(std::string(format == FileFormat::Dwg ? "DWG " : "DXF ") + std::to_string(s.unit));
      Database old = Database::create(Release::R14);
      old.header.set("$DIMUNIT", s.unit);
      old.header.set("$DIMFIT", s.fit);
      Database newer;
      ASSERT_TRUE(readBytes(written(old, format, Release::R2000), newer).status.ok());
      EXPECT_EQ(newer.header.integer("$DIMLUNIT"), s.linearUnit);
      EXPECT_EQ(newer.header.integer("$DIMFRAC"), s.fraction);
      EXPECT_EQ(newer.header.integer("$DIMATFIT"), s.attachFit);
      EXPECT_EQ(newer.header.integer("$DIMTMOVE"), s.textMove);
      Database back;
      ASSERT_TRUE(readBytes(written(newer, format, Release::R14), back).status.ok());
      EXPECT_EQ(back.header.integer("$DIMUNIT"), s.unit);
      EXPECT_EQ(back.header.integer("$DIMFIT"), s.fit);
    }
  }
}

// R14 DWG files keep the angular decimals in their variable dictionary; a
// file of 2000 made from one holds them in its header.
TEST(DimStyleForms, AngularDecimalsOfR14ReachTheHeaderOf2000) {
  for (const FileFormat to : {FileFormat::Dwg, FileFormat::DxfAscii})
    for (const std::int32_t decimals : {3, 8}) {
      SCOPED_TRACE(std::string(to == FileFormat::Dwg ? "DWG " : "DXF ") + std::to_string(decimals));
      Database written14 = Database::create(Release::R14);
      written14.header.set("$DIMADEC", decimals);
      Database old;
      ASSERT_TRUE(readBytes(written(written14, FileFormat::Dwg, Release::R14), old).status.ok());
      ASSERT_EQ(old.release, Release::R14);
      Database newer;
      ASSERT_TRUE(readBytes(written(old, to, Release::R2000), newer).status.ok());
      EXPECT_EQ(newer.header.integer("$DIMADEC"), decimals);
    }
}

// An arrow whose block the drawing lacks becomes the default arrow, and
// groups of neither form pass as they are.
TEST(DimStyleForms, MissingArrowBlocksGiveTheDefaultArrow) {
  const ArrowBlocks none{[](std::string_view) { return Handle{0}; }, [](Handle) { return std::string(); }};
  const std::vector<RawTag> r14 = {group(5, 0, "_DOT"), group(271, 3)};
  const std::vector<RawTag> to2000 = dimStyleGroupsFor(r14, Release::R2000, none);
  EXPECT_EQ(groupOf(to2000, 5), nullptr);
  EXPECT_EQ(groupOf(to2000, 342), nullptr);
  EXPECT_EQ(integerIn(to2000, 271), 3);
  const std::vector<RawTag> r2000 = {group(342, 0x99), group(341, 0x98)};
  const std::vector<RawTag> to14 = dimStyleGroupsFor(r2000, Release::R14, none);
  ASSERT_NE(groupOf(to14, 5), nullptr);
  EXPECT_EQ(groupOf(to14, 5)->text, "");
  EXPECT_EQ(groupOf(to14, 341), nullptr);
}

}  // namespace
