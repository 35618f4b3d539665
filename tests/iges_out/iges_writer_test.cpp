// The IGES file writer: token formats, line packing, directory entries, the
// start, global and terminate sections, the section files and their
// joining, and a file written here read back by the IGES reader.

#include "iges_out/iges_writer.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <limits>
#include <fstream>
#include <sstream>

#include "elements/element_table.h"
#include "iges_in/iges_reader.h"
#include "iges_out/iges_entities.h"
#include "iges_out/section_files.h"
#include "iges_out/section_files_fixture.h"
#include "support/assign_tables.h"
#include "support/config.h"
#include "support/messages.h"
#include "support/product.h"
#include "support/run_state.h"
#include "support/time_stamp.h"

namespace {

std::vector<std::string> linesOf(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

// A data part padded to its columns, as the reader of a line expects it.
std::string padded(const std::string& data, std::size_t width) {
  std::string out = data;
  out.resize(width, ' ');
  return out;
}

std::string upper(std::string text) {
  for (char& c : text)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return text;
}

std::string parameterLine(const std::string& data, int directory, int sequence) {
  char tail[32];
  std::snprintf(tail, sizeof tail, "%8dP%7d", directory, sequence);
  return padded(data, 64) + tail;
}

std::string globalLine(const std::string& data, int sequence) {
  char tail[16];
  std::snprintf(tail, sizeof tail, "G%7d", sequence);
  return padded(data, 72) + tail;
}

class IgesWriterTest : public SectionFilesTest {
 protected:
  void SetUp() override {
    resetRunState();
    makeScratch("trovak_igesout_test");
    fs::create_directories(dir_ / "assign");
    RunPaths& p = runPaths();
    p.tempDir = dir_.string() + "/";
    p.assignDir = (dir_ / "assign").string() + "/";
  }
  void TearDown() override {
    resetIgesWriter();
    removeAllSectionFiles();
    closeIgesInput();
    freeTable();
    resetRunConfiguration();
    removeScratch();
  }

  // The lines of one section file so far.
  std::vector<std::string> section(IgesSection which) {
    return linesOf(sectionFileText(igesWriter().files[which], igesWriter().paths[which]));
  }
  void writeStartText(const std::string& text) {
    std::ofstream(dir_ / "assign" / "startsection.txt", std::ios::binary) << text;
  }
};

TEST(IgesTokens, FormatsAndShortening) {
  struct Case {
    std::string token, expected;
  };
  const Case cases[] = {
      {igesReal(15.0), "1.500000000000E+01,"},
      {shortenReal(igesReal(15.0)), "1.5D+01,"},
      {shortenReal(igesReal(10.0)), "1.0D+01,"},
      {shortenReal(igesReal(0.0)), "0.0D+00,"},
      {shortenReal(igesReal(-0.125, true)), "-1.25D-01;"},
      {shortenReal(igesReal(1234.56789)), "1.23456789D+03,"},
      {shortenReal(igesShortReal(100.0)), "1.0D+02,"},
      // A value no reader could take is written as zero.
      {igesReal(std::numeric_limits<double>::infinity()), "0.000000000000E+00,"},
      {igesInteger(-7), "-7,"},
      {igesInteger(0, true), "0;"},
      {igesString("MM"), "2HMM,"},
      {igesString("a,b;c", true), "5Ha,b;c;"},
      {igesString(""), ","},
      {igesString("a\nb\r"), "4Ha b ,"},
      // Global 19 keeps four digits of the mantissa.
      {shortenReal(resolutionText(0.0001) + ","), "1.0D-04,"},
      {shortenReal(resolutionText(0.1) + ","), "1.0D-01,"},
      {shortenReal(resolutionText(0.00012345) + ","), "1.234D-04,"},
      {shortenReal(resolutionText(0.00099999) + ","), "1.0D-03,"},
      {shortenReal(resolutionText(0.0) + ","), "0.0D+00,"},
  };
  for (const Case& c : cases) EXPECT_EQ(c.token, c.expected);

  EXPECT_EQ(classifyToken("12HHELLO WORLD,"), TokenClass::kString);
  EXPECT_EQ(classifyToken("1.5D+01,"), TokenClass::kReal);
  EXPECT_EQ(classifyToken("-42,"), TokenClass::kInteger);
  EXPECT_EQ(classifyToken(","), TokenClass::kOther);
  EXPECT_EQ(classifyToken("H,"), TokenClass::kOther);
}

TEST(IgesTokens, PackedRealsAreThePrintedOnesShortened) {
  // A real packed without printing is the "%.12E" text shortened, digit for
  // digit: halfway cases, the smallest and largest magnitudes, three-digit
  // exponents, negative zero and values that are not finite.
  const double values[] = {0.0,
                           -0.0,
                           1.0,
                           -1.0,
                           0.5,
                           9.9999999999995,
                           9.99999999999949,
                           1.0000000000005,
                           123456.7890125,
                           2.5e-5,
                           1e100,
                           -1.7976931348623157e308,
                           2.2250738585072014e-308,
                           4.9e-324,
                           1.0 / 3.0,
                           std::numeric_limits<double>::quiet_NaN(),
                           -std::numeric_limits<double>::infinity()};
  for (const double v : values) {
    for (const bool last : {false, true}) {
      SCOPED_TRACE(testing::Message() << v << (last ? " last" : ""));
      std::string packed = "x";
      appendPackedReal(packed, v, last);
      std::string expected = "x";
      expected += shortenReal(igesReal(v, last));
      EXPECT_EQ(packed, expected);
      char printed[64];
      std::snprintf(printed, sizeof printed, "%E", std::isfinite(v) ? v : 0.0);
      EXPECT_EQ(igesShortReal(v, last), std::string(printed) + (last ? ";" : ","));
      std::snprintf(printed, sizeof printed, "%.12E", std::isfinite(v) ? v : 0.0);
      EXPECT_EQ(igesReal(v, last), std::string(printed) + (last ? ";" : ","));
    }
  }
}

TEST_F(IgesWriterTest, GlobalStringSplitButRealNever) {
  ASSERT_EQ(openSectionFiles(), 0);
  IgesWriterState& s = igesWriter();
  std::FILE* g = s.files[kSectionGlobal];
  const std::string text(100, 'A');
  ASSERT_EQ(packToken(g, s.globalSeq, "1H,,1H;,", 'G', 72), 0);
  ASSERT_EQ(packToken(g, s.globalSeq, igesString(text), 'G', 72), 0);
  // 41 characters on the second line; a real of 19 does not fit in the
  // rest of it and is moved whole to the third.
  ASSERT_EQ(packToken(g, s.globalSeq, igesString(std::string(11, 'B')), 'G', 72), 0);
  ASSERT_EQ(packToken(g, s.globalSeq, "1.234567890123E+01,", 'G', 72), 0);
  ASSERT_EQ(packToken(g, s.globalSeq, "7;", 'G', 72), 0);
  const std::vector<std::string> expected = {
      globalLine("1H,,1H;,100H" + std::string(60, 'A'), 1),
      globalLine(std::string(40, 'A') + ",11H" + std::string(11, 'B') + ",", 2),
      globalLine("1.234567890123D+01,7;", 3),
  };
  EXPECT_EQ(section(kSectionGlobal), expected);
  EXPECT_EQ(s.globalSeq, 4);
}

TEST_F(IgesWriterTest, StringWhoseCountDoesNotFitStartsANewLine) {
  ASSERT_EQ(openSectionFiles(), 0);
  IgesWriterState& s = igesWriter();
  std::FILE* p = s.files[kSectionParameter];
  ASSERT_EQ(packToken(p, s.parameterSeq, std::string(61, '9') + ",", 'P', 64), 0);
  ASSERT_EQ(packToken(p, s.parameterSeq, igesString(std::string(150, 'x'), true), 'P', 64), 0);
  const std::vector<std::string> expected = {
      parameterLine(std::string(61, '9') + ",", 1, 1),
      parameterLine("150H" + std::string(60, 'x'), 1, 2),
      parameterLine(std::string(64, 'x'), 1, 3),
      parameterLine(std::string(26, 'x') + ";", 1, 4),
  };
  EXPECT_EQ(section(kSectionParameter), expected);
  // An absurdly long token is refused, not packed.
  EXPECT_EQ(packToken(p, s.parameterSeq, std::string(kMaxTokenLength + 1, '1'), 'P', 64), -1);
}

TEST_F(IgesWriterTest, LineRecordsAndDirectoryEntries) {
  ASSERT_EQ(openSectionFiles(), 0);
  // The model line: z is forced to 0 at both ends.
  IgesLineParams line;
  line.end = {10.0, 5.0, 7.0};
  line.start.z = -3.0;
  ASSERT_EQ(writeIgesLine(line), 0);
  EXPECT_EQ(line.end.z, 0.0);
  DirectoryEntry de;
  de.entityType = 110;
  de.paramPointer = 1;
  de.lineFont = 1;
  de.level = 5;
  std::strcpy(de.status, "00000000");
  de.lineWeight = 2;
  de.colour = 3;
  de.paramLineCount = 1;
  std::strcpy(de.label, "LINE");
  de.subscript = 6;
  std::string d1, d2;
  formatDirectoryEntry(de, d1, d2);
  ASSERT_EQ(writeDirectoryEntry(d1, d2), 0);
  EXPECT_EQ(de.sequence, 1);
  EXPECT_EQ(de.sequence2, 2);
  EXPECT_EQ(d1, "     110       1       0       1       5       0       0       000000000D      1\n");
  EXPECT_EQ(d2, "     110       2       3       1       0                LINE           7D      2\n");

  // A record whose last token ends exactly in column 64 stays on one line,
  // the next entity starts a new one carrying the next directory number.
  IgesLineParams exact;
  exact.start = {12.3456, 0.0, 0.0};
  exact.end = {65.4321, 0.0, 0.0};
  ASSERT_EQ(writeIgesLine(exact), 0);
  formatDirectoryEntry(de, d1, d2);
  IgesPointParams point;
  point.pointers.associativities = {9, 11};
  ASSERT_EQ(writeIgesPoint(point), 0);
  const std::string exactData =
      "110,1.23456D+01,0.0D+00,0.0D+00,6.54321D+01,0.0D+00,0.0D+00,0,0;";
  ASSERT_EQ(exactData.size(), 64u);
  const std::vector<std::string> expected = {
      parameterLine("110,0.0D+00,0.0D+00,0.0D+00,1.0D+01,5.0D+00,0.0D+00,0,0;", 1, 1),
      parameterLine(exactData, 3, 2),
      parameterLine("116,0.0D+00,0.0D+00,0.0D+00,2,9,11,0;", 5, 3),
  };
  EXPECT_EQ(section(kSectionParameter), expected);
  EXPECT_EQ(section(kSectionDirectory).size(), 2u);

  // A field wider than its eight columns is refused instead of shifting
  // the record.
  de.paramPointer = 123456789;
  formatDirectoryEntry(de, d1, d2);
  EXPECT_EQ(writeDirectoryEntry(d1, d2), -1);
  EXPECT_EQ(section(kSectionDirectory).size(), 2u);
}

// Every directory field the writer puts into its columns is read back from
// the same columns by the reader.
TEST_F(IgesWriterTest, DirectoryEntryReadsBackFieldByField) {
  DirectoryEntry out;
  out.entityType = 126;
  out.paramPointer = 17;
  out.structure = -3;
  out.lineFont = 4;
  out.level = 55;
  out.view = 9;
  out.matrixPointer = 11;
  out.labelAssoc = 13;
  std::strcpy(out.status, "01020304");
  out.lineWeight = 21;
  out.colour = 6;
  out.paramLineCount = 2;
  out.form = 5;
  std::strcpy(out.label, "CURVE7");
  out.subscript = 41;
  std::string d1, d2;
  formatDirectoryEntry(out, d1, d2);

  resetIgesReader();
  resetTable();
  ASSERT_EQ(allocateTable(4), 0);
  igesReader().counts.parameterCount = 100;
  igesReader().counts.directoryCount = 100;
  ASSERT_EQ(readDirectoryFirst(d1.c_str()), 0);
  ASSERT_EQ(readDirectorySecond(d2.c_str()), 0);
  const DirectoryEntry in = directoryEntryOf(elementTable().lastIndex);
  const std::pair<const char*, std::pair<std::int32_t, std::int32_t>> fields[] = {
      {"entity type", {in.entityType, out.entityType}},
      {"parameter data", {in.paramPointer, out.paramPointer}},
      {"structure", {in.structure, out.structure}},
      {"line font", {in.lineFont, out.lineFont}},
      {"level", {in.level, out.level}},
      {"view", {in.view, out.view}},
      {"matrix", {in.matrixPointer, out.matrixPointer}},
      {"label display", {in.labelAssoc, out.labelAssoc}},
      {"sequence", {in.sequence, out.sequence}},
      {"entity type 2", {in.entityType2, out.entityType2}},
      {"line weight", {in.lineWeight, out.lineWeight}},
      {"colour", {in.colour, out.colour}},
      {"parameter lines", {in.paramLineCount, out.paramLineCount}},
      {"form", {in.form, out.form}},
      {"subscript (written one higher)", {in.subscript, out.subscript + 1}},
      {"sequence 2", {in.sequence2, out.sequence2}},
  };
  for (const auto& [name, values] : fields) EXPECT_EQ(values.first, values.second) << name;
  EXPECT_STREQ(in.status, out.status);
  EXPECT_STREQ(in.label, out.label);
  resetTable();
}

TEST_F(IgesWriterTest, StartLinesAndTerminateRecord) {
  ASSERT_EQ(openSectionFiles(), 0);
  std::string text;
  for (int i = 0; i < 130; ++i) text += static_cast<char>('a' + i % 26);
  ASSERT_EQ(writeStartLine(text), 0);
  ASSERT_EQ(writeStartLine(""), 0);
  const std::vector<std::string> expected = {
      text.substr(0, 72) + "S      1",
      padded(std::string(21, ' ') + text.substr(72, 51), 72) + "S      2",
      padded(std::string(21, ' ') + text.substr(123), 72) + "S      3",
      std::string(72, ' ') + "S      4",
  };
  EXPECT_EQ(section(kSectionStart), expected);

  IgesWriterState& s = igesWriter();
  s.startCount = 12;
  s.globalSeq = 4;
  s.directorySeq = 21;
  s.parameterSeq = 36;
  ASSERT_EQ(writeTerminate(), 0);
  EXPECT_EQ(section(kSectionTerminate),
            std::vector<std::string>{"S0000012G0000004D0000020P0000035" + std::string(40, ' ') +
                                     "T      1"});
}

TEST_F(IgesWriterTest, StartSectionFromTemplateFileAndSettings) {
  writeStartText(
      "SENDEFIRMA         :   acme gmbh\n"
      "TELEFON            :\n"
      "unrelated line\n"
      ".TEXT.\n"
      "free text, kept in upper case\n");
  runSettings().startTexts[kStartCompany] = "werk 2";
  runSettings().startTexts[kStartEna] = "x";
  runState().level = "G1B1";
  ASSERT_EQ(openSectionFiles(), 0);
  igesWriter().global.fileName = "out.igs";
  ASSERT_EQ(writeStartSection(), 0);
  const std::vector<std::string> lines = section(kSectionStart);
  ASSERT_EQ(lines.size(), 21u);
  for (std::size_t i = 0; i < lines.size(); ++i) {
    ASSERT_EQ(lines[i].size(), 80u);
    char tail[16];
    std::snprintf(tail, sizeof tail, "S%7d", static_cast<int>(i + 1));
    EXPECT_EQ(lines[i].substr(72), tail);
  }
  auto data = [&](std::size_t i) {
    std::string d = lines[i].substr(0, 72);
    return d.substr(0, d.find_last_not_of(' ') + 1);
  };
  EXPECT_EQ(data(0), std::string(72, '*'));
  EXPECT_EQ(data(1), "VDAIS VERSION/LEIST: 2006.1/G1B1");
  EXPECT_EQ(data(2), "--------------ANGABEN UEBER DEN ABSENDER--------------------------------");
  EXPECT_EQ(data(3), "SENDEFIRMA         : ACME GMBH WERK 2");
  EXPECT_EQ(data(5), "TELEFON            :");
  EXPECT_EQ(data(7), upper("ERZEUGENDES SYSTEM : " + std::string(kProductTitle) + " (" +
                           buildDate() + ")"));
  EXPECT_EQ(data(8), "ERZEUGUNGSDATUM    : " + timeStamp(1));
  EXPECT_EQ(data(9), "SENDE-FILENAME     : OUT.IGS");
  EXPECT_EQ(data(10), "--------------ANGABEN UEBER DAS TEIL------------------------------------");
  // No _GDAT: today's date.
  EXPECT_EQ(data(15), "GUELTIGKEITSDATUM  : " + timeStamp(1));
  EXPECT_EQ(data(16), "--------------ANGABEN UEBER/FUER DEN EMPFAENGER-------------------------");
  EXPECT_EQ(data(18), "EMPFAENGERNAME/ABT : X");
  EXPECT_EQ(data(19), std::string(72, '*'));
  EXPECT_EQ(data(20), "FREE TEXT, KEPT IN UPPER CASE");
}

TEST_F(IgesWriterTest, GlobalSectionOfTheOutput) {
  runState().outputTolerance = 0.0001;
  runSettings().startTexts[kStartProject] = "proj";
  runSettings().startTexts[kStartCompany] = "firm";
  setOutputGlobals("dir/out.igs", "G1B1", 250.0);
  const IgesOutputGlobal& g = igesWriter().global;
  EXPECT_EQ(g.senderProductId, "VERS2006.1-G1B1");
  EXPECT_EQ(g.preprocessorVersion, "2006.1(" + buildDate() + ")");
  EXPECT_EQ(g.creationDate.size(), 13u);
  igesWriter().global.creationDate = "261207.031500";
  igesWriter().global.nativeSystemId = "SYS";
  igesWriter().global.preprocessorVersion = "V";
  ASSERT_EQ(openSectionFiles(), 0);
  ASSERT_EQ(writeGlobalSection(), 0);
  const std::string all =
      "1H,,1H;,15HVERS2006.1-G1B1,11HDIR/OUT.IGS,3HSYS,1HV,32,38,6,308,15,4HPROJ,1.0D+00,2,"
      "2HMM,10000,1.0D+02,13H261207.031500,1.0D-04,2.5D+02,,4HFIRM,6,6;";
  const std::vector<std::string> lines = section(kSectionGlobal);
  std::string joined;
  for (const std::string& l : lines) joined += l.substr(0, l.find_last_not_of(' ', 71) + 1);
  EXPECT_EQ(joined, all);
  EXPECT_EQ(igesWriter().globalSeq, static_cast<std::int32_t>(lines.size()));
}

TEST_F(IgesWriterTest, JoiningSkipsMissingFilesAndNeverLeavesAPartialOutput) {
  ASSERT_EQ(openSectionFiles(), 0);
  ASSERT_EQ(writeStartLine("start"), 0);
  ASSERT_EQ(closeSectionFiles(), 0);
  fs::remove(igesWriter().paths[kSectionGlobal]);
  const std::string out = (dir_ / "out.igs").string();
  EXPECT_EQ(joinSectionFiles(igesWriter().paths, out), 0);
  EXPECT_EQ(igesWriter().missingSectionFiles, 1);
  EXPECT_EQ(readAll(out), padded("start", 72) + "S      1\n");
  EXPECT_EQ(filesLeft(), 1);  // only the output

  // An output that cannot be made: error 980, nothing left behind.
  resetIgesWriter();
  mfaResetCounts();
  ASSERT_EQ(openSectionFiles(), 0);
  ASSERT_EQ(closeSectionFiles(), 0);
  EXPECT_EQ(joinSectionFiles(igesWriter().paths, (dir_ / "no" / "out.igs").string()), -4);
  EXPECT_EQ(mfaCounts().errors, 1);
  EXPECT_EQ(filesLeft(), 1);
}

TEST_F(IgesWriterTest, MissingStartTemplateEndsTheOutputWithoutAFile) {
  ASSERT_EQ(openSectionFiles(), 0);
  setOutputGlobals("out.igs", "G1", 1.0);
  const std::string out = (dir_ / "out.igs").string();
  EXPECT_EQ(finishIgesOutput(out), -3);
  EXPECT_EQ(mfaCounts().errors, 2);  // 130, 340
  EXPECT_FALSE(fs::exists(out));
  EXPECT_EQ(filesLeft(), 0);
}

// A small drawing written through the writers is read back by the IGES
// reader with the same entities.
TEST_F(IgesWriterTest, WrittenFileReadsBack) {
  writeStartText("PROJEKT            : test\n");
  ASSERT_EQ(openSectionFiles(), 0);
  IgesWriterState& s = igesWriter();
  // Writes the parameter record and the directory entry of one entity;
  // returns its directory sequence number.
  auto entity = [&](std::int32_t type, const std::function<int()>& write) {
    const std::int32_t first = s.parameterSeq;
    EXPECT_EQ(write(), 0) << type;
    DirectoryEntry de;
    de.entityType = type;
    de.paramPointer = first;
    de.paramLineCount = s.parameterSeq - first;
    std::strcpy(de.status, "00000000");
    std::string l1, l2;
    formatDirectoryEntry(de, l1, l2);
    EXPECT_EQ(writeDirectoryEntry(l1, l2), 0);
    return de.sequence;
  };
  IgesLineParams line;
  line.end = {10.0, 5.0, 0.0};
  const std::int32_t lineSeq = entity(110, [&] { return writeIgesLine(line); });
  IgesArcParams arc;
  arc.centreX = 1.5;
  arc.startX = 2.5;
  arc.endX = 2.5;
  const std::int32_t arcSeq = entity(100, [&] { return writeIgesArc(arc); });
  IgesMemberParams composite;
  composite.members = {lineSeq, arcSeq};
  entity(102, [&] { return writeIgesComposite(composite); });
  IgesColourParams colour{10.0, 20.0, 30.0, "RED", {}};
  entity(314, [&] { return writeIgesColour(colour); });
  IgesDefinitionParams definition;
  definition.name = std::string(90, 'N');  // a name over two parameter lines
  definition.members = {lineSeq};
  const std::int32_t definitionSeq = entity(308, [&] { return writeIgesDefinition(definition); });
  IgesInstanceParams instance;
  instance.definition = definitionSeq;
  instance.x = 100.0;
  entity(408, [&] { return writeIgesUserInstance(instance); });

  runState().level = "G1";
  setOutputGlobals("out.igs", "G1", 100.0);
  const std::string out = (dir_ / "out.igs").string();
  ASSERT_EQ(finishIgesOutput(out), 0);
  EXPECT_EQ(filesLeft(), 1);
  for (const std::string& l : linesOf(readAll(out))) ASSERT_EQ(l.size(), 80u) << l;

  std::FILE* f = std::fopen(out.c_str(), "rb");
  ASSERT_NE(f, nullptr);
  resetIgesReader();
  mfaResetCounts();
  ASSERT_EQ(igesReaderAttach(f), 0);
  skipLeadingControl();
  ASSERT_EQ(readStartSection(1), 0);
  ASSERT_EQ(readGlobalSection(), 0);
  ASSERT_EQ(readIgesInput(), 0);
  EXPECT_EQ(mfaCounts().errors, 0);
  EXPECT_EQ(mfaCounts().warnings, 0);
  EXPECT_STREQ(igesReader().global.unitsName, "MM");
  EXPECT_DOUBLE_EQ(igesReader().global.minResolution, 0.0001);
  ASSERT_EQ(elementTable().lastIndex, 6);
  const std::int32_t types[] = {110, 100, 102, 314, 308, 408};
  for (int i = 0; i < 6; ++i) EXPECT_EQ(element(i + 1).type, types[i]);

  std::string text;
  const DirectoryFields& lde = element(1).de;
  ASSERT_EQ(fetchParameterData(110, lde.paramPointer, lde.paramLineCount, text), 0);
  EXPECT_EQ(text.substr(0, 52), "0.0D+00,0.0D+00,0.0D+00,1.0D+01,5.0D+00,0.0D+00,0,0;");
  auto* comp = dynamic_cast<CompositeRecord*>(element(3).params.get());
  ASSERT_NE(comp, nullptr);
  EXPECT_EQ(comp->constituents, (std::vector<std::int32_t>{1, 2}));
  auto* col = dynamic_cast<ColourRecord*>(element(4).params.get());
  ASSERT_NE(col, nullptr);
  EXPECT_EQ(col->blue, 30.0);
  EXPECT_EQ(col->name, "RED");
  auto* sub = dynamic_cast<SubfigureRecord*>(element(5).params.get());
  ASSERT_NE(sub, nullptr);
  EXPECT_EQ(sub->name, std::string(90, 'N'));
  EXPECT_EQ(sub->members, (std::vector<std::int32_t>{1}));
  closeIgesInput();
  std::fclose(f);
}

}  // namespace
