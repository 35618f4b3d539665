// Runs of -dxfin (drawings read through the toolkit) on small drawings:
// blocks that insert themselves and deep nesting converted whole in both
// subfigure modes, and binary files.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "cli/run_program.h"
#include "drawingdb/file_io.h"
#include "drawingdb/model.h"

namespace {

namespace db = drawingdb;

struct ToolkitRun {
  ProgramResult result;
  std::string protocol;
  std::string script;
};

std::string dxfOf(db::Database& database, bool binary = false) {
  db::StringSink sink;
  db::SaveOptions options;
  options.format = binary ? db::FileFormat::DxfBinary : db::FileFormat::DxfAscii;
  EXPECT_TRUE(db::save(database, sink, options).ok());
  return sink.data;
}

ToolkitRun convert(const std::string& dxf, const std::string& settings = "", const std::string& level = "") {
  TempDir dir;
  const std::string input = dir.write("in.dxf", dxf);
  const std::string config = dir.write(
      "run.config", "TR_PROT ./\nTR_TEMP " + dir.path() + "\nTR_LANG english\nTR_STAT nein\n" + settings);
  ToolkitRun run;
  std::vector<std::string> args{"-dxfin"};
  if (!level.empty()) args.push_back(level);
  args.insert(args.end(), {input, dir.path() + "/out.kpl", config});
  run.result = runProgram(TROVAK_PROGRAM, args, dir.path(), "", 120);
  run.protocol = readWholeFile(dir.path() + "/in.dxf.prot");
  run.script = readWholeFile(dir.path() + "/out.kpl");
  return run;
}

db::Entity line(double x) {
  db::Entity e = db::makeEntity(db::EntityKind::Line);
  e.data = db::Line{{x, 0, 0}, {x + 1, 1, 0}};
  return e;
}

db::Entity insertOf(const std::string& block) {
  db::Entity e = db::makeEntity(db::EntityKind::Insert);
  db::Insert in;
  in.block = block;
  e.data = in;
  return e;
}

TEST(DxfinRun, SelfInsertingBlocksAreLeftAndDeepNestingConvertsWhole) {
  db::Database database = db::Database::create(db::Release::R2000);
  constexpr int kDepth = 200;
  for (int k = 0; k < kDepth; ++k) database.addBlock("LEVEL" + std::to_string(k));
  for (int k = 0; k + 1 < kDepth; ++k)
    database.addEntity(*database.findBlock("LEVEL" + std::to_string(k)), insertOf("LEVEL" + std::to_string(k + 1)));
  database.addEntity(*database.findBlock("LEVEL" + std::to_string(kDepth - 1)), line(7));
  database.addEntity(database.addBlock("LOOP"), insertOf("LOOP"));
  database.addEntity(*database.findBlock("LOOP"), line(3));
  database.addEntity(database.modelSpace(), insertOf("LEVEL0"));
  database.addEntity(database.modelSpace(), insertOf("LOOP"));
  const ToolkitRun run = convert(dxfOf(database));
  EXPECT_EQ(run.result.status, 0) << run.result.err;
  // The line at the bottom of the chain is drawn once; the looping block
  // is reported and its own line drawn where model space inserts it.
  EXPECT_EQ(occurrences(run.script, "DTCreateLine("), 2) << run.script;
  EXPECT_NE(run.protocol.find("(1322)"), std::string::npos);
}

TEST(DxfinRun, NestingConvertsWholeAsExpandedBlocksAndAsSymbolModels) {
  // 200 levels, named and anonymous blocks by turns from an anonymous one
  // at the top, each holding a line and an insert of the next.  Anonymous
  // blocks are expanded where they are inserted in both modes; with
  // symbol models each named block is a model of its own, which the
  // anonymous block above it refers to.
  constexpr int kDepth = 200;
  db::Database database = db::Database::create(db::Release::R2000);
  const auto name = [](int k) { return (k % 2 == 0 ? std::string("*U") : std::string("N")).append(std::to_string(k)); };
  for (int k = 0; k < kDepth; ++k) database.addBlock(name(k)).flags = k % 2 == 0 ? 1 : 0;
  for (int k = 0; k < kDepth; ++k) {
    db::BlockRecord& b = *database.findBlock(name(k));
    database.addEntity(b, line(k));
    if (k + 1 < kDepth) database.addEntity(b, insertOf(name(k + 1)));
  }
  database.addEntity(database.modelSpace(), insertOf(name(0)));
  const std::string dxf = dxfOf(database);
  for (const char* mode : {"", "TR_USER neu\n"}) {
    SCOPED_TRACE(mode);
    const ToolkitRun run = convert(dxf, mode);
    ASSERT_EQ(run.result.status, 0) << run.result.err;
    EXPECT_EQ(run.protocol.find("(510)"), std::string::npos);
    EXPECT_EQ(run.protocol.find("(1322)"), std::string::npos);
    EXPECT_EQ(occurrences(run.script, "DTCreateLine("), kDepth);
    const int models = *mode == 0 ? 0 : kDepth / 2;
    EXPECT_EQ(occurrences(run.script, "output_save(\""), models);
    EXPECT_EQ(occurrences(run.script, "user_symbol(\"N"), models);
    EXPECT_EQ(run.script.find("output_save(\"*U"), std::string::npos);
  }
}

TEST(DxfinRun, BinaryFilesConvertAsTheirAsciiTwins) {
  db::Database database = db::Database::create(db::Release::R2013);
  database.addEntity(database.modelSpace(), line(0));
  db::Entity circle = db::makeEntity(db::EntityKind::Circle);
  circle.data = db::Circle{{5, 5, 0}, 2};
  database.addEntity(database.modelSpace(), circle);
  const ToolkitRun ascii = convert(dxfOf(database));
  const ToolkitRun binary = convert(dxfOf(database, true));
  EXPECT_EQ(ascii.result.status, 0) << ascii.result.err;
  EXPECT_EQ(binary.result.status, 0) << binary.result.err;
  EXPECT_EQ(occurrences(ascii.script, "DTCreateCircle("), 1);
  // The script names itself in its prompt; the rest is the same.
  const auto withoutPrompt = [](const std::string& script) {
    std::istringstream in(script);
    std::string out;
    for (std::string l; std::getline(in, l);)
      if (l.rfind("prompt (", 0) != 0) out += l + "\n";
    return out;
  };
  EXPECT_EQ(withoutPrompt(ascii.script), withoutPrompt(binary.script));
}

}  // namespace

TEST(DxfinRun, ABlockInsertedInModelAndOnASheetIsDrawnAtEachInsert) {
  // Block B (one line) inserted once in model space and once on the sheet
  // of a layout that shows the model through a viewport.  At level plus
  // the model is drawn through the view, the sheet's insert on the sheet;
  // expanded, each insert draws the line.
  db::Database database = db::Database::create(db::Release::R2000);
  database.addEntity(database.addBlock("B"), line(0));
  db::Entity inModel = insertOf("B");
  db::get<db::Insert>(inModel.data).insertion = {10, 0, 0};
  database.addEntity(database.modelSpace(), inModel);
  // The sheet's own viewport (identifier 1) and one showing the model
  // around (10, 0) at scale 1.
  const auto viewport = [](db::Point3 center, double width, double height, std::int32_t id) {
    db::Entity e = db::makeEntity(db::EntityKind::Viewport);
    db::Viewport& v = db::get<db::Viewport>(e.data);
    v.center = center;
    v.width = width;
    v.height = v.viewHeight = height;
    v.status = v.id = id;
    v.viewCenter = {10, 0, 0};
    return e;
  };
  database.addEntity(database.paperSpace(), viewport({150, 100, 0}, 300, 200, 1));
  database.addEntity(database.paperSpace(), viewport({100, 100, 0}, 80, 60, 2));
  db::Entity onSheet = insertOf("B");
  db::get<db::Insert>(onSheet.data).insertion = {200, 150, 0};
  onSheet.common.paperSpace = true;
  database.addEntity(database.paperSpace(), onSheet);
  const std::string dxf = dxfOf(database);
  for (const char* level : {"", "-plus"}) {
    for (const char* mode : {"", "TR_USER neu\n"}) {
      SCOPED_TRACE(std::string(*level == 0 ? "default level, " : "level plus, ") + (*mode == 0 ? "expanded" : "symbol models"));
      const ToolkitRun run = convert(dxf, mode, level);
      ASSERT_EQ(run.result.status, 0) << run.result.err;
      EXPECT_EQ(run.protocol.find("(1323)"), std::string::npos) << run.protocol;
      if (*mode == 0) EXPECT_EQ(occurrences(run.script, "DTCreateLine("), 2) << run.script;
      else EXPECT_EQ(occurrences(run.script, "user_symbol(\"B\""), 2) << run.script;
    }
  }
}
