// Runs of -dxf12in on small files: the statuses of the direction, the
// messages of missing sections, and what the script holds for the entity
// kinds that the conversion treats specially.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <regex>
#include <string>
#include <vector>

#include "cli/run_program.h"
#include "iges_in/kpl_reader.h"

namespace {

struct DxfRun {
  ProgramResult result;
  std::string protocol;
  std::string script;
};

DxfRun convert(const std::string& dxf, const std::string& level = "", const std::string& settings = "") {
  TempDir dir;
  const std::string input = dir.write("in.dxf", dxf);
  const std::string config = dir.write(
      "run.config", "TR_PROT ./\nTR_TEMP " + dir.path() + "\nTR_LANG english\nTR_STAT nein\n" + settings);
  std::vector<std::string> args{"-dxf12in"};
  if (!level.empty()) args.push_back(level);
  args.insert(args.end(), {input, dir.path() + "/out.kpl", config});
  DxfRun run;
  run.result = runProgram(TROVAK_PROGRAM, args, dir.path(), "", 120);
  run.protocol = readWholeFile(dir.path() + "/in.dxf.prot");
  run.script = readWholeFile(dir.path() + "/out.kpl");
  return run;
}

std::string groups(const std::vector<std::string>& pairs) {
  std::string out;
  for (const std::string& s : pairs) out += s + "\n";
  return out;
}

const std::string kHeader = groups({"0", "SECTION", "2", "HEADER", "9", "$ACADVER", "1", "AC1009", "0", "ENDSEC"});
const std::string kTables = groups({"0", "SECTION", "2", "TABLES", "0", "TABLE", "2", "LAYER", "70", "1", "0", "LAYER",
                                    "2", "0", "70", "0", "62", "3", "6", "CONTINUOUS", "0", "ENDTAB", "0", "ENDSEC"});
const std::string kEof = groups({"0", "EOF"});

std::string entities(const std::vector<std::string>& pairs) {
  return groups({"0", "SECTION", "2", "ENTITIES"}) + groups(pairs) + groups({"0", "ENDSEC"});
}

std::string blocks(const std::vector<std::string>& pairs) {
  return groups({"0", "SECTION", "2", "BLOCKS"}) + groups(pairs) + groups({"0", "ENDSEC"});
}

TEST(Dxf12inRun, StatusesAndMessagesOfFilesWithoutTheirSections) {
  // Empty: status 18, said on the console; no section at all or no DXF:
  // the direction ends with -8; only the entities: the missing sections are
  // warned in the protocol and the rest is converted.
  const struct {
    const char* name;
    std::string text;
    int status;
    bool onConsole;
    std::vector<const char*> reported, notReported;
  } cases[] = {
      {"empty", "", 18, true, {"(971)"}, {}},
      {"no section", kHeader + kEof, 38, false, {"(977)"}, {}},
      {"text", "just some text\nof two lines\n", 38, false, {"(972)"}, {}},
      {"entities only", entities({"0", "LINE", "8", "0", "10", "1", "20", "1", "11", "4", "21", "5"}) + kEof, 0,
       false, {"(972)", "(973)", "(974)"}, {"(976)"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const DxfRun run = convert(c.text);
    EXPECT_EQ(run.result.status, c.status) << run.result.err;
    const std::string& said = c.onConsole ? run.result.err : run.protocol;
    for (const char* number : c.reported) EXPECT_NE(said.find(number), std::string::npos) << number << said;
    for (const char* number : c.notReported) EXPECT_EQ(said.find(number), std::string::npos) << number;
    if (c.status != 0) continue;
    const kpl::Script s = kpl::readScript(run.script);
    ASSERT_EQ(s.lines.size(), 1u);
    EXPECT_DOUBLE_EQ(s.lines[0].end.x, 4.0);
    EXPECT_DOUBLE_EQ(s.lines[0].end.y, 5.0);
  }

  // A binary DXF file: the status of input that cannot be read, and a
  // message that says what the direction reads instead of the complaints
  // of a text reader.
  const DxfRun binary = convert(std::string("AutoCAD Binary DXF\r\n\x1a\0\0SECTION\0\x02HEADER\0", 37));
  EXPECT_EQ(binary.result.status, 14);
  EXPECT_NE(binary.result.err.find("(981)"), std::string::npos) << binary.result.err;
  EXPECT_NE(binary.result.err.find("ASCII DXF"), std::string::npos) << binary.result.err;
  EXPECT_NE(binary.protocol.find("(981)"), std::string::npos);
  for (const char* number : {"(972)", "(977)", "(978)"}) EXPECT_EQ(binary.result.err.find(number), std::string::npos);
}

TEST(Dxf12inRun, FilesThatEndTooEarlyAreErrorsNamingTheirLastLine) {
  const std::string whole =
      kHeader + kTables +
      entities({"0", "LINE", "8", "0", "10", "0", "20", "0", "11", "1", "21", "0",  //
                "0", "LINE", "8", "0", "10", "0", "20", "1", "11", "1", "21", "1",  //
                "0", "LINE", "8", "0", "10", "0", "20", "2", "11", "1", "21", "2"}) +
      kEof;
  // The lines of a text; a last one without its line end counts.
  const auto linesOf = [](const std::string& text) {
    return static_cast<long>(std::count(text.begin(), text.end(), '\n') + (text.back() != '\n' ? 1 : 0));
  };
  const std::string endMarks = "0\nENDSEC\n0\nEOF\n";
  struct Case {
    const char* name;
    std::string text;
    const char* message;  // the error and what it names
    int status;
    std::size_t lines;  // lines written
  };
  const Case cases[] = {
      // Inside the third line's groups (its points are not there: it is
      // too short to be written).
      {"cut at nine tenths", whole.substr(0, whole.size() * 9 / 10), "inside the entity LINE", 0, 2},
      // Where the ENDSEC of the tables was cut to "E".
      {"cut at half", whole.substr(0, whole.size() / 2), "inside the entity E of line", 0, 0},
      {"cut at a tenth", whole.substr(0, whole.size() / 10), "inside the section HEADER", 38, 0},
      {"without end marks", whole.substr(0, whole.size() - endMarks.size()), "inside the entity LINE", 0, 3},
      {"without EOF", whole.substr(0, whole.size() - 6), "without its end mark EOF", 0, 3},
      {"EOF without ENDSEC", whole.substr(0, whole.size() - endMarks.size()) + kEof, "inside the section ENTITIES", 0, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const DxfRun run = convert(c.text);
    EXPECT_FALSE(run.result.timedOut);
    const std::string where = "The DXF file ends in line " + std::to_string(linesOf(c.text)) + " " + c.message;
    EXPECT_NE(run.result.err.find(where), std::string::npos) << where << "\n" << run.result.err;
    EXPECT_NE(run.protocol.find(where), std::string::npos);
    // An error, and what was read is converted.
    EXPECT_EQ(run.result.status, c.status) << run.result.err;
    EXPECT_EQ(run.result.err.find("Conversion finished: 0 errors"), std::string::npos);
    EXPECT_EQ(kpl::readScript(run.script).lines.size(), c.lines);
  }
  // The whole file: no word of an end.
  const DxfRun run = convert(whole);
  ASSERT_EQ(run.result.status, 0);
  EXPECT_EQ(run.result.err.find("The DXF file ends"), std::string::npos);
  EXPECT_EQ(kpl::readScript(run.script).lines.size(), 3u);
}

TEST(Dxf12inRun, AValueCutToItsFieldIsAWarningWithItsLine) {
  const std::string text(1 << 20, 'x');
  const DxfRun run = convert(kHeader + kTables + entities({"0", "TEXT", "8", "0", "10", "0", "20", "0", "40", "2", "1", text}) + kEof);
  ASSERT_EQ(run.result.status, 0) << run.result.err;
  const long line = 10 + 24 + 4 + 12;  // the header, the tables, the section head and the text's groups
  const std::string warning = std::string("The value in line ").append(std::to_string(line)) +
                              " of the DXF file is cut to 255 of its " +
                              std::to_string(text.size()) + " characters";
  EXPECT_NE(run.result.err.find(warning),
            std::string::npos)
      << run.result.err;
  EXPECT_NE(run.script.find(std::string("\"").append(255, 'x').append("\"")), std::string::npos);
}

TEST(Dxf12inRun, AttributesFacesShapesAndPolylineArcsAreDrawnOrReported) {
  const std::string file =
      kHeader + kTables +
      blocks({"0", "BLOCK", "8", "0", "2", "B", "70", "2", "10", "0", "20", "0",                                    //
              "0", "ATTDEF", "8", "0", "10", "0", "20", "0", "40", "1", "1", "FIXED", "2", "T1", "3", "?", "70", "2",  //
              "0", "ATTDEF", "8", "0", "10", "0", "20", "2", "40", "1", "1", "DEFAULT", "2", "T2", "3", "?", "70", "0",
              "0", "ENDBLK", "8", "0"}) +
      entities({"0", "INSERT", "8", "0", "66", "1", "2", "B", "10", "10", "20", "10",                     //
                "0", "ATTRIB", "8", "0", "10", "10", "20", "12", "40", "1", "1", "SHOWN", "2", "T2", "70", "0",  //
                "0", "ATTRIB", "8", "0", "10", "10", "20", "14", "40", "1", "1", "HIDDEN", "2", "T3", "70", "1",  //
                "0", "SEQEND",                                                                          //
                "0", "POLYLINE", "8", "0", "66", "1", "70", "1",                                         //
                "0", "VERTEX", "8", "0", "10", "0", "20", "0", "42", "1",                                //
                "0", "VERTEX", "8", "0", "10", "10", "20", "0", "42", "1", "0", "SEQEND",                //
                "0", "3DFACE", "8", "0", "10", "20", "20", "0", "11", "25", "21", "0", "12", "25", "22", "5",
                "13", "20", "23", "5",                                                                 //
                "0", "SHAPE", "8", "0", "2", "BOX", "10", "1", "20", "1", "40", "2"}) +
      kEof;
  const DxfRun run = convert(file, "-plus");
  ASSERT_EQ(run.result.status, 0) << run.result.err;
  const kpl::Script s = kpl::readScript(run.script);
  EXPECT_TRUE(s.errors.empty()) << s.errors.front();
  // The shown attribute values are texts at their places.
  EXPECT_NE(run.script.find("\"FIXED\""), std::string::npos);
  EXPECT_NE(run.script.find("\"SHOWN\""), std::string::npos);
  EXPECT_EQ(run.script.find("HIDDEN"), std::string::npos);
  EXPECT_EQ(run.script.find("DEFAULT"), std::string::npos);
  // The ring of two half circles: two arcs of radius 5 in one contour; the
  // face: a contour of four lines.
  ASSERT_EQ(s.arcs.size(), 2u);
  for (const kpl::Arc& a : s.arcs) {
    EXPECT_NEAR(a.centre.x, 5.0, 1e-9);
    EXPECT_NEAR(a.centre.y, 0.0, 1e-9);
    EXPECT_NEAR(a.radius, 5.0, 1e-9);
  }
  EXPECT_EQ(s.lines.size(), 4u);
  EXPECT_EQ(s.contours, 2);
  // What cannot be carried is named once per kind and counted as not
  // converted in the statistics.
  for (const char* message : {"1 DXF entities SHAPE are not converted", "1 invisible DXF attributes",
                              "1 DXF attribute definitions (ATTDEF) are not converted"})
    EXPECT_NE(run.result.err.find(message), std::string::npos) << message;
  // The outcome columns (total, converted, ignored, failed, rest) of the
  // statistics row of a type.
  const auto row = [&](const std::string& type) {
    const std::regex pattern("\\s" + type + "\\s+:([ 0-9]+)");
    std::smatch m;
    return std::regex_search(run.protocol, m, pattern) ? m[1].str() : std::string();
  };
  EXPECT_EQ(row("6050"), "     1      0      1      0      1");
  EXPECT_EQ(row("6051"), "     1      0      1      0      1");
  EXPECT_EQ(row("408"), "     2      1      0      1      0");
}

TEST(Dxf12inRun, LayerStatementsCarryTheColoursOfTheLayerTable) {
  // With original layer names each layer statement carries its layer's
  // colour; a layer switched off (negative colour) keeps its colour.
  struct Layer {
    const char* name;
    const char* colour;
    const char* statement;
  };
  const Layer layers[] = {
      {"0", "7", "LY0=DTCreateLayer(\"0\", \"active\",   {7})"},
      {"WALL", "2", "LY1=DTCreateLayer(\"WALL\", \"inactive\", {2})"},
      {"DOOR", "-4", "LY2=DTCreateLayer(\"DOOR\", \"inactive\", {4})"},
      {"TEXT", "7", "LY3=DTCreateLayer(\"TEXT\", \"inactive\", {7})"},
  };
  std::vector<std::string> table = {"0", "SECTION", "2", "TABLES", "0", "TABLE", "2", "LAYER", "70", "4"};
  std::vector<std::string> lines;
  int y = 0;
  for (const Layer& l : layers) {
    table.insert(table.end(), {"0", "LAYER", "2", l.name, "70", "0", "62", l.colour, "6", "CONTINUOUS"});
    const std::string at = std::to_string(y++);
    lines.insert(lines.end(), {"0", "LINE", "8", l.name, "10", "0", "20", at, "11", "5", "21", at});
  }
  table.insert(table.end(), {"0", "ENDTAB", "0", "ENDSEC"});
  const DxfRun run = convert(kHeader + groups(table) + entities(lines) + kEof, "", "TR_LAYR true\n");
  ASSERT_EQ(run.result.status, 0) << run.result.err;
  for (const Layer& l : layers) EXPECT_NE(run.script.find(l.statement), std::string::npos) << l.name << "\n" << run.script;
}

TEST(Dxf12inRun, BlocksAreExpandedAtTheirInsertsAndSelfInsertsAreBroken) {
  const std::string file =
      kHeader + kTables +
      blocks({"0", "BLOCK", "8", "0", "2", "B", "70", "0", "10", "1", "20", "0",                       //
              "0", "LINE", "8", "0", "62", "0", "10", "1", "20", "0", "11", "2", "21", "0",            //
              "0", "INSERT", "8", "0", "2", "B", "10", "5", "20", "5",                                 // itself
              "0", "ENDBLK", "8", "0"}) +
      entities({"0", "INSERT", "8", "0", "2", "B", "62", "4", "10", "10", "20", "10",                   //
                "0", "INSERT", "8", "0", "2", "B", "10", "20", "20", "10", "50", "90",                  //
                "0", "HATCH", "8", "0", "2", "SOLID"}) +
      kEof;
  const DxfRun run = convert(file);
  ASSERT_EQ(run.result.status, 0) << run.result.err;
  EXPECT_FALSE(run.result.timedOut);
  // The block that inserts itself is named.
  EXPECT_NE(run.protocol.find("(1322)"), std::string::npos);
  EXPECT_NE(run.protocol.find("Subfigure B contains itself"), std::string::npos) << run.protocol;
  const kpl::Script s = kpl::readScript(run.script);
  EXPECT_TRUE(s.errors.empty()) << s.errors.front();
  // One line per insert, placed by the block's base point (1, 0).
  ASSERT_EQ(s.lines.size(), 2u);
  EXPECT_NEAR(s.lines[0].start.x, 10.0, 1e-9);
  EXPECT_NEAR(s.lines[0].end.x, 11.0, 1e-9);
  EXPECT_NEAR(s.lines[1].start.y, 10.0, 1e-9);
  EXPECT_NEAR(s.lines[1].end.y, 11.0, 1e-9);
  EXPECT_NEAR(s.lines[1].end.x, 20.0, 1e-9);
}

TEST(Dxf12inRun, AnonymousBlocksAreExpandedAndReferencesRefusedWhenBlocksBecomeModels) {
  const std::string file =
      kHeader + kTables +
      blocks({"0", "BLOCK", "2", "*U1", "70", "1", "10", "0", "20", "0",                          //
              "0", "LINE", "10", "0", "20", "0", "11", "1", "21", "0", "0", "ENDBLK",              //
              "0", "BLOCK", "2", "XREF", "70", "4", "10", "0", "20", "0",                         //
              "0", "LINE", "10", "0", "20", "0", "11", "2", "21", "0", "0", "ENDBLK",              //
              "0", "BLOCK", "2", "NORMAL", "70", "0", "10", "0", "20", "0",                       //
              "0", "LINE", "10", "0", "20", "0", "11", "3", "21", "0", "0", "ENDBLK"}) +
      entities({"0", "INSERT", "2", "*U1", "10", "10", "20", "0",  //
                "0", "INSERT", "2", "XREF", "10", "20", "20", "0",  //
                "0", "INSERT", "2", "NORMAL", "10", "30", "20", "0"}) +
      kEof;
  const DxfRun run = convert(file, "", "TR_USER neu\n");
  ASSERT_EQ(run.result.status, 0) << run.result.err;
  const kpl::Script s = kpl::readScript(run.script);
  // The anonymous block is written where it is inserted; the external
  // reference nowhere; the named block as a symbol model of its own, which
  // its insert refers to.
  ASSERT_EQ(s.lines.size(), 2u);
  int expanded = 0, model = 0;
  for (const kpl::Line& l : s.lines) {
    const double length = std::fabs(l.end.x - l.start.x);
    EXPECT_NE(length, 2.0);
    if (length == 1.0 && std::fabs(l.start.x - 10.0) < 1e-9) ++expanded;
    if (length == 3.0) ++model;
  }
  EXPECT_EQ(expanded, 1);
  EXPECT_EQ(model, 1);
  EXPECT_NE(run.script.find("output_save(\"NORMAL\")"), std::string::npos);
  EXPECT_NE(run.script.find("user_symbol(\"NORMAL\""), std::string::npos);
  EXPECT_EQ(run.script.find("XREF"), std::string::npos);
  EXPECT_EQ(run.script.find("*U1"), std::string::npos);
}

TEST(Dxf12inRun, SpaceBlocksAreTheSpacesInEverySubfigureMode) {
  // Files of later releases saved as R12 hold the blocks of model and
  // paper space, usually empty; what such a block holds is drawn as the
  // space's own, never as a block.  The line with group 67 stands for
  // what paper space holds.
  const std::vector<std::string> paperLine = {"0", "LINE", "8", "0", "10", "50", "20", "0", "11", "60", "21", "0"};
  std::vector<std::string> paperLineMarked = paperLine;
  paperLineMarked.insert(paperLineMarked.begin() + 4, {"67", "1"});
  const std::vector<std::string> modelLine = {"0", "LINE", "8", "0", "10", "0", "20", "0", "11", "4", "21", "0"};
  const auto spaces = [](const std::string& model, const std::string& paper, const std::vector<std::string>& inModel,
                         const std::vector<std::string>& inPaper) {
    std::vector<std::string> b = {"0", "BLOCK", "8", "0", "2", model, "70", "0", "10", "0", "20", "0"};
    b.insert(b.end(), inModel.begin(), inModel.end());
    b.insert(b.end(), {"0", "ENDBLK", "8", "0", "0", "BLOCK", "8", "0", "2", paper, "70", "0", "10", "0", "20", "0"});
    b.insert(b.end(), inPaper.begin(), inPaper.end());
    b.insert(b.end(), {"0", "ENDBLK", "8", "0"});
    return b;
  };
  const std::string plain = kHeader + kTables + entities(paperLineMarked) + kEof;
  const struct {
    const char* name;
    std::string file;
    std::size_t lines;
  } cases[] = {
      {"empty $ blocks", kHeader + kTables + blocks(spaces("$MODEL_SPACE", "$PAPER_SPACE", {}, {})) + entities(modelLine) + kEof, 1},
      {"empty * blocks, other case",
       kHeader + kTables + blocks(spaces("*Model_Space", "*PAPER_space", {}, {})) + entities(modelLine) + kEof, 1},
      {"blocks holding the spaces",
       kHeader + kTables + blocks(spaces("$MODEL_SPACE", "$PAPER_SPACE", modelLine, paperLine)) + kEof, 2},
  };
  for (const char* mode : {"TR_USER neu\n", "TR_USER vorh\n", ""}) {
    const DxfRun reference = convert(plain, "", mode);
    ASSERT_EQ(reference.result.status, 0) << reference.result.err;
    const std::vector<kpl::Line> sheet = kpl::readScript(reference.script).lines;
    for (const auto& c : cases) {
      SCOPED_TRACE(std::string(c.name) + ", " + mode);
      const DxfRun run = convert(c.file, "", mode);
      ASSERT_EQ(run.result.status, 0) << run.result.err;
      EXPECT_EQ(run.script.find("output_save("), std::string::npos) << run.script;
      EXPECT_EQ(run.script.find("user_symbol("), std::string::npos) << run.script;
      const kpl::Script s = kpl::readScript(run.script);
      ASSERT_EQ(s.lines.size(), c.lines) << run.script;
      EXPECT_NEAR(s.lines[0].end.x, 4.0, 1e-9);
      if (c.lines == 2) {
        // The paper space line as the same line with group 67 is drawn.
        ASSERT_EQ(sheet.size(), 1u);
        EXPECT_NEAR(s.lines[1].start.x, sheet[0].start.x, 1e-9);
        EXPECT_NEAR(s.lines[1].end.x, sheet[0].end.x, 1e-9);
        EXPECT_NEAR(s.lines[1].start.y, sheet[0].start.y, 1e-9);
      }
    }
  }
}

TEST(Dxf12inRun, DeeplyNestedBlocksAreExpandedToTheirDepth) {
  // Block k holds a line and an insert of block k+1, 10,000 deep.
  constexpr int kDepth = 10000;
  std::vector<std::string> chain;
  for (int k = 0; k < kDepth; ++k) {
    const std::string name = std::string("N").append(std::to_string(k));
    chain.insert(chain.end(), {"0", "BLOCK", "2", name, "70", "0", "10", "0", "20", "0",  //
                               "0", "LINE", "10", "0", "20", "0", "11", "1", "21", "0"});
    if (k + 1 < kDepth) {
      const std::string next = std::string("N").append(std::to_string(k + 1));
      chain.insert(chain.end(), {"0", "INSERT", "2", next, "10", "0", "20", "1"});
    }
    chain.insert(chain.end(), {"0", "ENDBLK"});
  }
  const DxfRun run = convert(kHeader + kTables + blocks(chain) + entities({"0", "INSERT", "2", "N0"}) + kEof);
  ASSERT_EQ(run.result.status, 0) << run.result.err;
  EXPECT_FALSE(run.result.timedOut);
  EXPECT_EQ(run.protocol.find("(510)"), std::string::npos);
  EXPECT_EQ(run.protocol.find("(1322)"), std::string::npos);
  // Every level is written, one line each, moved by the levels above it.
  const kpl::Script s = kpl::readScript(run.script);
  EXPECT_TRUE(s.errors.empty()) << s.errors.front();
  ASSERT_EQ(s.lines.size(), static_cast<std::size_t>(kDepth));
  double lowest = 0.0;
  for (const kpl::Line& l : s.lines) lowest = std::max(lowest, l.start.y);
  EXPECT_NEAR(lowest, kDepth - 1.0, 1e-6);
}

TEST(Dxf12inRun, ViewportsDriveViewPassesAtLevelPlus) {
  // A viewport of scale 1 showing the model around (0, 0) on a sheet
  // centred at (50, 50); the first line lies on a layer it shows, the
  // second on one frozen in it.
  const std::string file =
      kHeader + kTables +
      entities({"0", "LINE", "8", "0", "10", "0", "20", "0", "11", "10", "21", "0",  //
                "0", "LINE", "8", "HIDDEN", "10", "0", "20", "5", "11", "10", "21", "5",  //
                "0", "VIEWPORT", "8", "0", "67", "1", "10", "50", "20", "50", "40", "100", "41", "100", "68",
                "2", "69", "2", "1001", "ACAD", "1000", "MVIEW", "1002", "{", "1070", "16", "1010", "0", "1020",
                "0", "1030", "0", "1010", "0", "1020", "0", "1030", "1", "1040", "0", "1040", "100", "1040", "0",
                "1040", "0", "1002", "{", "1003", "hidden", "1002", "}", "1002", "}"}) +
      kEof;
  const DxfRun run = convert(file, "-plus");
  ASSERT_EQ(run.result.status, 0) << run.result.err;
  const kpl::Script s = kpl::readScript(run.script);
  ASSERT_EQ(s.lines.size(), 1u);
  EXPECT_NEAR(s.lines[0].start.x, 50.0, 1e-9);
  EXPECT_NEAR(s.lines[0].start.y, 50.0, 1e-9);
  EXPECT_NEAR(s.lines[0].end.x, 60.0, 1e-9);
}

TEST(Dxf12inRun, ABlockInsertedInModelAndOnTheSheetIsDrawnAtEachInsert) {
  // Block B inserted in the model, which a viewport shows on the sheet,
  // and on the sheet itself: at level plus the view draws the model's
  // insert and the sheet its own.
  const std::string file =
      kHeader + kTables +
      blocks({"0", "BLOCK", "8", "0", "2", "B", "70", "0", "10", "0", "20", "0",  //
              "0", "LINE", "8", "0", "10", "0", "20", "0", "11", "1", "21", "1", "0", "ENDBLK", "8", "0"}) +
      entities({"0", "INSERT", "8", "0", "2", "B", "10", "10", "20", "0",  //
                "0", "VIEWPORT", "8", "0", "67", "1", "10", "50", "20", "50", "40", "100", "41", "100", "68",
                "2", "69", "2", "1001", "ACAD", "1000", "MVIEW", "1002", "{", "1070", "16", "1010", "0", "1020",
                "0", "1030", "0", "1010", "0", "1020", "0", "1030", "1", "1040", "0", "1040", "100", "1040", "0",
                "1040", "0", "1002", "{", "1002", "}", "1002", "}",  //
                "0", "INSERT", "8", "0", "67", "1", "2", "B", "10", "200", "20", "150"}) +
      kEof;
  for (const char* level : {"", "-plus"}) {
    SCOPED_TRACE(*level == 0 ? "default level" : "level plus");
    const DxfRun run = convert(file, level);
    ASSERT_EQ(run.result.status, 0) << run.result.err;
    EXPECT_EQ(run.protocol.find("(1323)"), std::string::npos) << run.protocol;
    const kpl::Script s = kpl::readScript(run.script);
    ASSERT_EQ(s.lines.size(), 2u) << run.script;
    // On the sheet at (200, 150); the model's at (10, 0), or where the
    // view (scale 1, centred at (50, 50) on the sheet) shows it.
    std::vector<double> xs{s.lines[0].start.x, s.lines[1].start.x};
    std::sort(xs.begin(), xs.end());
    EXPECT_NEAR(xs[0], *level == 0 ? 10.0 : 60.0, 1e-9);
    EXPECT_NEAR(xs[1], 200.0, 1e-9);
  }
}

}  // namespace
