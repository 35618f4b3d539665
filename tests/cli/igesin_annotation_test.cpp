// -igesin through the real program over an IGES file with annotation and
// structure (the corpus files hold geometry only): the script carries the
// dimension, text, group and symbol-model statements, the models go to the
// configured user library, and below the annotation level the annotation
// is reported instead of written.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "cli/run_program.h"
#include "iges_in/convert_iges_builder.h"
#include "iges_in/kpl_reader.h"

namespace {

// The number of a statistics line "<label>  :  <n>", -1 when missing.
int statisticsNumber(const std::string& protocol, const std::string& label) {
  const std::size_t at = protocol.find("\n" + label);
  if (at == std::string::npos) return -1;
  const std::size_t colon = protocol.find(':', at);
  return colon == std::string::npos ? -1 : std::atoi(protocol.c_str() + colon + 1);
}

struct AnnotatedRun {
  ProgramResult result;
  std::string script;
  std::string protocol;
};

AnnotatedRun convert(const TempDir& dir, const std::string& level, const std::string& extraConfig) {
  const std::string igs = igestest::annotatedDrawing().write(dir.path() + "/annotated.igs");
  std::filesystem::create_directories(dir.path() + "/tmp");
  const std::string config =
      dir.write("run.config", "TR_PROT ./\nTR_TEMP " + dir.path() + "/tmp\nTR_LANG english\nTR_STAT nein\n" +
                                  extraConfig);
  AnnotatedRun run;
  run.result = runProgram(TROVAK_PROGRAM, {"-igesin", level, igs, "out.kpl", config}, dir.path(), "", 120);
  run.script = readWholeFile(dir.path() + "/out.kpl");
  run.protocol = readWholeFile(dir.path() + "/annotated.igs.prot");
  return run;
}

TEST(IgesinAnnotation, PlusWritesDimensionsTextsGroupsAndSymbolModels) {
  TempDir dir;
  const std::string library = dir.path() + "/library";
  std::filesystem::create_directories(library);
  const AnnotatedRun run = convert(dir, "-plus", "TR_USER vorh\nTR_UBBL " + library + "/\n");
  ASSERT_EQ(run.result.status, 0) << run.result.out << run.result.err;
  const kpl::Script s = kpl::readScript(run.script);
  EXPECT_TRUE(s.errors.empty()) << s.errors.front();
  EXPECT_TRUE(s.closed);
  const std::string& t = run.script;
  // The definition is a model of its own in the library, made before the
  // main model, which the header saved and the end of the definitions
  // creates again; both instances refer to it.  Everything else goes into
  // the main model.
  const std::vector<std::string> once = {
      "=DTCreateLinearDimension(\"pointpointhor\"", "\"two_points\"", "= DTCreateRadiusDimension (", "\"HELLO\"",
      "DTCreateGroup (\"GRP.1\"", "model_save(top,true,false,IGES_NAME)", "cd(\"" + library + "\")",
      "input_new(true,\"LIB_BOLT\")", "output_save(\"LIB_BOLT\")", "model_create(IGES_NAME)"};
  for (const std::string& statement : once)
    EXPECT_EQ(occurrences(t, statement), 1) << statement << "\n" << t;
  EXPECT_EQ(occurrences(t, "user_symbol(\"" + library + "/LIB_BOLT\""), 2);
  const std::size_t main = t.find("model_create(IGES_NAME)");
  EXPECT_LT(t.find("output_save(\"LIB_BOLT\")"), main);
  for (const char* inMain : {"user_symbol(", "\"HELLO\"", "DTCreateLinearDimension", "DTCreateGroup"})
    EXPECT_GT(t.find(inMain), main) << inMain;
  // The geometry: the measured line, the group's two lines and the arc
  // (the definition's member lies in its own model).
  EXPECT_GE(s.lines.size(), 3u);
  EXPECT_EQ(s.circles.size() + s.arcs.size(), 1u);
}

TEST(IgesinAnnotation, GeometryLevelReportsTheAnnotation) {
  TempDir dir;
  const AnnotatedRun run = convert(dir, "-g1", "");
  ASSERT_EQ(run.result.status, 0) << run.result.out << run.result.err;
  const kpl::Script s = kpl::readScript(run.script);
  EXPECT_TRUE(s.errors.empty()) << s.errors.front();
  EXPECT_EQ(occurrences(run.script, "Dimension"), 0);
  EXPECT_EQ(occurrences(run.script, "HELLO"), 0);
  EXPECT_EQ(occurrences(run.script, "input_new("), 0);
  EXPECT_NE(run.protocol.find("(190)"), std::string::npos) << run.protocol;
  EXPECT_GE(s.lines.size(), 3u);
  // The elements left in the error state are errors of the closing
  // message too, one for each.
  const int failed = statisticsNumber(run.protocol, "with errors");
  EXPECT_GT(failed, 0) << run.protocol;
  EXPECT_EQ(closingCounts(run.protocol).first, failed) << run.protocol;
  EXPECT_EQ(occurrences(run.protocol, "(790)"), failed);
}

TEST(IgesinSender, ConfiguredSenderSwitchesTheRecognitionOff) {
  // A file whose native system is Quorix: recognised (note 126) unless the
  // configuration fixes the sender.
  igestest::Builder b;
  b.add(110, "0.,0.,0.,50.,0.,0.;");
  std::string text = b.text();
  const std::string native = "4Htest,3H1.0,";
  const std::size_t at = text.find(native);
  ASSERT_NE(at, std::string::npos);
  text.replace(at, native.size(), "6HQuorix,1H1,");  // same length: the columns stay
  struct Case {
    const char* setting;
    bool recognised;
  };
  const Case cases[] = {
      {"", true}, {"I_SPEZ auto\n", true}, {"I_SPEZ euclid\n", false}, {"TR_SPEZ dogs\n", false},
      {"I_SPEC medusa\n", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.setting);
    TempDir dir;
    const std::string igs = dir.write("quorix.igs", text);
    std::filesystem::create_directories(dir.path() + "/tmp");
    const std::string config = dir.write(
        "run.config", "TR_PROT ./\nTR_TEMP " + dir.path() + "/tmp\nTR_LANG english\nTR_STAT nein\n" + c.setting);
    const ProgramResult run = runProgram(TROVAK_PROGRAM, {"-igesin", igs, "out.kpl", config}, dir.path(), "", 120);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(occurrences(run.err, "(126)"), c.recognised ? 1 : 0) << run.err;
  }
}

}  // namespace
