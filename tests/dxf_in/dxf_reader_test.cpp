// The DXF reader: groups and line ends, the header, the tables, the
// sections and what a damaged file does.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iterator>
#include <string>
#include <tuple>

#include "dxf_in/dxf_test_support.h"

namespace {

DxfText twoLines() {
  DxfText d;
  d.header("AC1009").layers({{"0", 7, "CONTINUOUS"}});
  d.section("BLOCKS").endsec().section("ENTITIES");
  d.g(0, "LINE").g(8, "0").g(10, "1.5").g(20, "2").g(30, "0").g(11, "4").g(21, "6").g(31, "0");
  d.g(0, "LINE").g(8, "0").g(10, "0").g(20, "0").g(11, "-3").g(21, "1e2");
  return d.endsec().eof();
}

TEST(DxfGroupStore, RepeatedCodesKeepEveryValueAndLookupsTakeTheLast) {
  DxfGroups g;
  const std::pair<int, const char*> groups[] = {{10, "1"}, {20, "2"},   {3, "ab"}, {62, "-3"}, {3, "cd"},    {10, "7"},
                                                {38, "4"}, {230, "-1"}, {3, "ef"}, {72, "x"},  {1000, "u"}, {1000, "v"}};
  for (const auto& [code, value] : groups) g.add(DxfGroup{code, value, 0});
  // Got and expected: the last x of point 10, its y and missing z, the
  // elevation as z of point 18, missing reals, the extrusion, the colour
  // without its sign, a missing and a present but bad integer.
  const std::pair<double, double> cases[] = {
      {g.point(10).x, 7},   {g.point(10).y, 2},      {g.point(10).z, 0},    {g.point(18).z, 4},
      {g.real(41), 0},      {g.real(41, 1.5), 1.5},  {g.extrusion().x, 0},  {g.extrusion().z, -1},
      {g.colour(), 3},      {g.integer(71, 5), 5},   {g.integer(72, 5), 0},
  };
  for (std::size_t k = 0; k < std::size(cases); ++k) EXPECT_EQ(cases[k].first, cases[k].second) << k;
  EXPECT_EQ(std::tuple(g.text(3), g.text(1000), g.text(1)), std::tuple("ef", "v", ""));
  // The texts of a code joined in file order while shorter than the limit.
  EXPECT_EQ(std::tuple(g.joined(3, 1 << 20), g.joined(3, 4)), std::tuple("abcdef", "abcd"));
  // The next entity finds nothing of this one.
  g.clear();
  g.add(DxfGroup{20, "9", 0});
  EXPECT_FALSE(g.has(10));
  EXPECT_EQ(std::tuple(g.point(10).y, g.text(1000)), std::tuple(9.0, ""));
}

// The reader hands entities to the mapping; the mapping reads the store and
// never the file, so neither it nor the store may reach back to the reader.
TEST(DxfGroupStore, OnlyTheReaderIncludesTheReader) {
  for (const char* file : {"dxf_mapping.h", "dxf_mapping.cpp", "dxf_store.h", "dxf_store.cpp"}) {
    std::FILE* f = std::fopen((std::string(TROVAK_SOURCE_DIR) + "/dxf_in/" + file).c_str(), "rb");
    ASSERT_NE(f, nullptr) << file;
    std::string text;
    for (int c = std::getc(f); c != EOF; c = std::getc(f)) text += static_cast<char>(c);
    std::fclose(f);
    EXPECT_EQ(text.find("dxf_in/dxf_reader.h"), std::string::npos) << file;
  }
}

TEST_F(DxfReaderTest, LineEndsDoNotChangeWhatIsRead) {
  for (const char* end : {"\n", "\r\n", "\r"}) {
    SCOPED_TRACE(end[0] == '\n' ? "LF" : end[1] == '\n' ? "CR LF" : "CR");
    ASSERT_EQ(readAfresh(twoLines().text(end)), 0);
    const auto lines = ofType(110);
    ASSERT_EQ(lines.size(), 2u);
    const auto* a = recordOf<GeometryRecord>(lines[0]);
    const auto* b = recordOf<GeometryRecord>(lines[1]);
    ASSERT_TRUE(a != nullptr && b != nullptr);
    EXPECT_EQ(a->values, (std::vector<double>{1.5, 2, 0, 4, 6, 0}));
    EXPECT_EQ(b->values, (std::vector<double>{0, 0, 0, -3, 100, 0}));
    // The directory entry names the entity's line in the file.
    EXPECT_GT(element(lines[1]).de.sequence, element(lines[0]).de.sequence);
    EXPECT_EQ(element(lines[0]).de.paramPointer, element(lines[0]).de.sequence);
    EXPECT_EQ(dxfReader().header.version, DxfVersion::kRelease12);
    EXPECT_EQ(mfaCounts().warnings, 0);
  }
}

TEST_F(DxfReaderTest, VersionCodesOfTheHeader) {
  const std::pair<const char*, int> cases[] = {
      {"AC1006", 10}, {"AC1009", 12}, {"AC1011", 13}, {"AC1012", 13}, {"AC1015", -1}, {"AC1003", -1}, {"", -1}};
  for (const auto& [text, version] : cases) {
    SCOPED_TRACE(text);
    DxfText d;
    d.header(text).section("ENTITIES").g(0, "POINT").endsec().eof();
    ASSERT_EQ(readAfresh(d.text()), 0);
    EXPECT_EQ(dxfReader().header.version, version);
  }
}

TEST_F(DxfReaderTest, HeaderVariablesTakeTheirFollowingGroup) {
  DxfText d;
  d.g(999, "written by a test").section("HEADER").g(9, "$ACADVER").g(1, "AC1009");
  d.g(9, "$INSBASE").g(10, "0").g(20, "0").g(30, "0");  // not kept
  d.g(9, "$DIMASZ").g(40, "0.18");
  d.g(9, "$DIMBLK").g(1, "ARROW");
  d.g(9, "$DIMTAD").g(70, "1");
  d.g(9, "$TEXTSIZE").g(40, "2.5");
  // The flag variables take their value only from a group 70.
  d.g(9, "$SPLINETYPE").g(40, "7").g(70, "5");
  d.g(9, "$DIMZIN").g(1, "x");
  d.endsec().section("ENTITIES").g(0, "POINT").endsec().eof();
  ASSERT_EQ(read(d.text()), 0);
  const DxfHeader& h = dxfReader().header;
  EXPECT_DOUBLE_EQ(h.dimensions.at("$DIMASZ").real, 0.18);
  EXPECT_EQ(h.dimensions.at("$DIMBLK").text, "ARROW");
  EXPECT_EQ(h.dimensions.at("$DIMTAD").integer, 1);
  EXPECT_EQ(h.dimensions.count("$DIMZIN"), 0u);
  EXPECT_EQ(h.dimensions.count("$INSBASE"), 0u);
  EXPECT_DOUBLE_EQ(h.textSize, 2.5);
  EXPECT_EQ(h.splineType, 5);
}

TEST_F(DxfReaderTest, LayerTableKeepsColourOfLayersSwitchedOffAndFindsTheLastName) {
  DxfText d;
  d.section("TABLES").g(0, "TABLE").g(2, "LAYER").g(70, "1");  // grows past its count
  d.g(0, "LAYER").g(2, "WALLS").g(70, "5").g(62, "-3").g(6, "DASHED");
  d.g(0, "LAYER").g(2, "0").g(70, "0").g(62, "7").g(6, "CONTINUOUS");
  d.g(0, "LAYER").g(2, "walls").g(70, "12").g(62, "4").g(6, "CONTINUOUS");
  d.g(0, "ENDTAB").endsec().section("ENTITIES").g(0, "POINT").endsec().eof();
  ASSERT_EQ(read(d.text()), 0);
  const auto& layers = dxfReader().layers.entries;
  ASSERT_EQ(layers.size(), 3u);
  EXPECT_EQ(layers[0].colour, 3);
  EXPECT_TRUE(layers[0].off);
  EXPECT_EQ(std::tuple(layers[0].flags, layers[0].lineType), std::tuple(5, "DASHED"));
  EXPECT_EQ(layers[2].flags, 4);  // the low three bits
  // The last of equal names wins; names compare without case.
  EXPECT_EQ(findLayer("WALLS"), 2);
  EXPECT_EQ(findLayer("Walls"), 2);
  EXPECT_EQ(findLayer("0"), 1);
  EXPECT_EQ(findLayer("ROOF"), -1);
}

TEST_F(DxfReaderTest, TableCountsAreNotBelievedBeyondTheFile) {
  DxfText d;
  d.section("TABLES").g(0, "TABLE").g(2, "LTYPE").g(70, "2000000000");
  d.g(0, "LTYPE").g(2, "A").g(0, "ENDTAB");
  d.g(0, "TABLE").g(2, "STYLE").g(70, "-5").g(0, "STYLE").g(2, "S").g(3, "romans.SHX").g(41, "0.8");
  d.g(0, "ENDTAB").endsec().eof();
  const std::string text = d.text();
  read(text);
  EXPECT_LE(dxfReader().lineTypes.entries.capacity(), text.size());
  EXPECT_EQ(dxfReader().lineTypes.entries.size(), 1u);
  ASSERT_EQ(findTextStyle("s"), 0);
  EXPECT_DOUBLE_EQ(dxfReader().textStyles.entries[0].widthFactor, 0.8);
}

TEST_F(DxfReaderTest, MissingSectionsAreReported) {
  struct Case {
    const char* name;
    std::string text;
    int result;
    int warnings;
  };
  DxfText onlyEntities, onlyHeader, tablesAndBlocks;
  onlyEntities.section("ENTITIES").g(0, "POINT").endsec().eof();
  onlyHeader.header("AC1009").eof();
  tablesAndBlocks.layers({{"0", 7, "CONTINUOUS"}}).section("BLOCKS").endsec().eof();
  const Case cases[] = {
      {"entities only", onlyEntities.text(), 0, 2},
      {"header only", onlyHeader.text(), -8, 3},
      {"no ENTITIES", tablesAndBlocks.text(), 0, 1},
      {"not a DXF file", "hello\nworld\n", -8, 4},  // 978 once
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(readAfresh(c.text), c.result);
    EXPECT_EQ(std::tuple(mfaCounts().warnings, mfaCounts().errors), std::tuple(c.warnings, c.result == 0 ? 0 : 1));
  }
}

TEST_F(DxfReaderTest, AGroupCodeThatIsNoNumberEndsTheEntity) {
  DxfText d;
  d.section("ENTITIES");
  d.g(0, "LINE").g(10, "1").g(20, "1").raw("1x", "junk").g(11, "9").g(21, "9");
  d.g(0, "CIRCLE").g(10, "5").g(20, "5").g(40, "2");
  d.endsec().eof();
  ASSERT_EQ(read(d.text()), 0);
  EXPECT_EQ(dxfReader().badCodeLines, 1);
  EXPECT_EQ(mfaCounts().warnings, 3);  // 978, and 973 and 974 for the missing sections
  const auto lines = ofType(110);
  ASSERT_EQ(lines.size(), 1u);
  // The line ended at the bad group: its end point was not taken from the
  // groups after it.
  const auto* l = recordOf<GeometryRecord>(lines[0]);
  EXPECT_EQ(l->values[3], 0.0);
  // The circle after it is read as it stands.
  const auto circles = ofType(100);
  ASSERT_EQ(circles.size(), 1u);
  const auto* c = recordOf<GeometryRecord>(circles[0]);
  EXPECT_EQ(std::tuple(c->values[1], c->values[3]), std::tuple(5.0, 7.0));
}

TEST_F(DxfReaderTest, LongValuesAreCutToTheirFieldsWithAWarningEach) {
  const std::string longName(300, 'L');
  const std::string longText(1 << 20, 'T');
  DxfText d;
  d.section("ENTITIES").g(0, "TEXT").g(8, longName).g(1, longText).g(40, "2.5");
  // A binary chunk of 127 bytes fits its field.
  d.g(0, "LINE").g(8, "0").g(1001, std::string(80, 'A')).g(1002, "{{{{{{{").g(1004, std::string(254, 'F'));
  d.endsec().eof();
  ASSERT_EQ(read(d.text()), 0);
  const auto texts = ofType(212);
  ASSERT_EQ(texts.size(), 1u);
  const auto* note = recordOf<NoteRecord>(texts[0]);
  ASSERT_NE(note, nullptr);
  EXPECT_EQ(note->strings.at(0).text, std::string(kDxfLineLength, 'T'));
  // The layer met was added with its cut name.
  ASSERT_GE(dxfReader().layers.entries.size(), 1u);
  EXPECT_EQ(dxfReader().layers.entries[0].name, std::string(kDxfLineLength, 'L'));
  const DxfGroups& g = dxfReader().groups;
  EXPECT_EQ(std::tuple(g.text(1001).size(), g.text(1002).size(), g.text(1004).size()),
            std::tuple(kDxfAppNameLength, kDxfControlLength, 254u));
  // The line after the cut one is read in step.
  EXPECT_EQ(ofType(110).size(), 1u);
  // Four values cut (layer, text, application, control), each a warning
  // of its own; and 973, 974 for the missing sections.
  EXPECT_EQ(dxfReader().cutValues, 4);
  EXPECT_EQ(mfaCounts().warnings, 6);
  EXPECT_EQ(reports("(988)"), 4u);
}

TEST_F(DxfReaderTest, ManyCutValuesAreCountedAndSummedUp) {
  DxfText d;
  d.section("ENTITIES");
  for (int k = 0; k < 50; ++k) d.g(0, "TEXT").g(8, "0").g(1, std::string(400, 'x')).g(40, "1");
  d.endsec().eof();
  ASSERT_EQ(read(d.text()), 0);
  EXPECT_EQ(ofType(212).size(), 50u);
  EXPECT_EQ(dxfReader().cutValues, 50);
  // Every cut value counts; the first ones are listed one by one, the
  // others named by one note with their count and lines.
  EXPECT_EQ(std::tuple(mfaCounts().warnings, mfaCounts().notes), std::tuple(50 + 2, 1));
  EXPECT_EQ(reports("(988)"), static_cast<std::size_t>(kDxfCutValuesListed));
  EXPECT_EQ(reports("(989)"), 1u);
  EXPECT_GT(dxfReader().lastUnlistedCut, dxfReader().firstUnlistedCut);
}

TEST_F(DxfReaderTest, BinaryFilesAreRecognisedByTheirSentinel) {
  const std::string sentinel(kDxfBinarySentinel, kDxfBinarySentinelLength);
  const struct {
    const char* name;
    std::string bytes;
    bool binary;
  } cases[] = {
      {"binary", sentinel + std::string("\0SECTION\0", 9), true},
      {"sentinel only", sentinel, true},
      {"ASCII", twoLines().text(), false},
      {"sentinel without its NUL", sentinel.substr(0, 21) + "x", false},
      {"shorter than the sentinel", "AutoCAD Binary", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string bytes = c.bytes;
    std::FILE* f = fmemopen(bytes.data(), bytes.size(), "rb");
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(dxfIsBinary(f), c.binary);
    EXPECT_EQ(std::ftell(f), 0);  // the position is kept
    std::fclose(f);
  }
}

TEST_F(DxfReaderTest, AFileThatEndsTooEarlyIsAnErrorAndWhatWasReadStays) {
  const std::string whole = twoLines().text();
  const std::string eof = "0\nEOF\n";
  const std::string endsec = "0\nENDSEC\n";
  const std::size_t secondLine = whole.rfind("0\nLINE\n");
  struct Case {
    const char* name;
    std::string text;
    const char* error;  // "" for none
    std::size_t lines;  // lines read
  };
  const Case cases[] = {
      {"whole", whole, "", 2},
      {"without EOF", whole.substr(0, whole.size() - eof.size()), "(987)", 2},
      {"without ENDSEC and EOF", whole.substr(0, whole.size() - eof.size() - endsec.size()), "(986)", 2},
      {"EOF without ENDSEC", whole.substr(0, whole.size() - eof.size() - endsec.size()) + eof, "(985)", 2},
      {"inside the second line", whole.substr(0, secondLine + 20), "(986)", 2},
      {"after the first line's groups", whole.substr(0, secondLine), "(986)", 1},
      {"inside the header", whole.substr(0, 30), "(985)", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    readAfresh(c.text);
    EXPECT_EQ(ofType(110).size(), c.lines);
    if (*c.error == '\0') {
      EXPECT_EQ(mfaCounts().errors, 0);
    } else {
      EXPECT_EQ(reports(c.error), 1u) << protocol();
      // One report of the end, however many readers it ended.
      EXPECT_EQ(reports("(98"), 1u) << protocol();
    }
  }
  // Wherever the file is cut, what was read before stays.
  for (std::size_t cutAt : {std::size_t{10}, whole.size() / 3, whole.size() / 2, whole.size() - 12}) {
    readAfresh(whole.substr(0, cutAt));
    EXPECT_LE(ofType(110).size(), 2u) << cutAt;
  }
}

// What the reader made of a file, as text: every element with its type,
// line and values, the lines read, the values cut and the counts.
std::string readingOf(const DxfReaderState& s) {
  std::string out;
  for (std::int32_t i = 1; i <= elementTable().lastIndex; ++i) {
    const ElementRecord& e = element(i);
    out += std::to_string(e.type) + "@" + std::to_string(e.de.sequence) + ":";
    if (const auto* g = dynamic_cast<const GeometryRecord*>(e.params.get()))
      for (double v : g->values) out += std::to_string(v) + " ";
    if (const auto* n = dynamic_cast<const NoteRecord*>(e.params.get()))
      for (const auto& piece : n->strings) out += "[" + piece.text + "]";
    out += "\n";
  }
  out += "lines " + std::to_string(s.line) + ", cut " + std::to_string(s.cutValues) + ", warnings " +
         std::to_string(mfaCounts().warnings) + ", errors " + std::to_string(mfaCounts().errors);
  return out;
}

// The file is read a block at a time: wherever a block ends (inside a
// group code, between the two characters of a line end, inside a value
// that is cut, right after it), the reading is the same.  The blanks in
// front of the first code lines move the text against the blocks.
TEST_F(DxfReaderTest, WhereTheBlocksOfTheFileEndChangesNothing) {
  constexpr std::size_t kBlock = std::size_t{1} << 16;  // the reader's block
  const std::string value(300, 'x');                    // cut to 255 characters
  const auto file = [&](const char* lineEnd, std::size_t lines, std::size_t pad) {
    DxfText d;
    d.section("ENTITIES");
    for (std::size_t k = 0; k < lines; ++k) {
      const std::size_t blanks = std::min<std::size_t>(pad, 200);
      pad -= blanks;
      d.raw(std::string(blanks, ' ') + "0", "LINE").g(8, "0").g(10, "5").g(20, "2").g(11, "4").g(21, "6");
    }
    d.g(0, "TEXT").g(8, "0").g(10, "1").g(20, "1").g(40, "2.5").g(1, value);
    d.g(0, "LINE").g(8, "0").g(10, "7").g(20, "8").g(11, "9").g(21, "10");
    return d.endsec().eof().text(lineEnd);
  };
  for (const char* lineEnd : {"\n", "\r\n", "\r", "\n\r"}) {
    SCOPED_TRACE(testing::PrintToString(std::string(lineEnd)));
    // Enough lines that the text's value starts a little before the block's end.
    const std::size_t before = file(lineEnd, 0, 0).find(value);
    const std::size_t perLine = file(lineEnd, 1, 0).find(value) - before;
    const std::size_t lines = (kBlock - 700 - before) / perLine + 1;
    ASSERT_EQ(readAfresh(file(lineEnd, lines, 0)), 0);
    const std::string expected = readingOf(dxfReader());
    ASSERT_EQ(dxfReader().cutValues, 1);
    const long start = static_cast<long>(file(lineEnd, lines, 0).find(value));
    const long end = start + static_cast<long>(value.size());
    for (long at : {start - 8, start - 3, start - 2, start - 1, start, start + 1, start + 254, start + 255,
                    start + 256, end - 1, end, end + 1, end + 2, end + 3}) {
      SCOPED_TRACE(at - start);
      const long pad = static_cast<long>(kBlock) - at;
      ASSERT_GE(pad, 0);
      const std::string text = file(lineEnd, lines, static_cast<std::size_t>(pad));
      ASSERT_EQ(static_cast<long>(text.find(value)), start + pad);
      ASSERT_EQ(readAfresh(text), 0);
      EXPECT_EQ(readingOf(dxfReader()), expected);
    }
  }
}

TEST_F(DxfReaderTest, UnlistedEntitiesGoToTheScratchSlot) {
  DxfText d;
  d.section("ENTITIES");
  d.g(0, "HATCH").g(8, "0").g(2, "SOLID").g(10, "0").g(20, "0");
  d.endsec().eof();
  ASSERT_EQ(read(d.text()), 0);
  EXPECT_EQ(elementTable().lastIndex, 0);
  EXPECT_EQ(element(0).type, 9999);
  EXPECT_EQ(dxfReader().entitiesSkipped, 1);
  // What is not converted is named once in the protocol.
  EXPECT_NE(protocol().find("(979)"), std::string::npos);
  EXPECT_EQ(mfaCounts().warnings, 3);  // 979, and 973 and 974 for the missing sections
}

}  // namespace
