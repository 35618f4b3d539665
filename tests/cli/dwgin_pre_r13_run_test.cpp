// -dwgin of files of 11/12 with paper space: the same drawing saved as a
// DXF and as a DWG file of that release converts to the same script, the
// sheet's entities on the sheet and the model drawn through its viewports
// at level plus, a frozen layer left out of its view.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "cli/run_program.h"
#include "drawingdb/file_io.h"
#include "drawingdb/model.h"

namespace {

namespace db = drawingdb;

std::string savedAs(db::Database& database, db::FileFormat format) {
  db::StringSink sink;
  db::SaveOptions options;
  options.format = format;
  options.release = db::Release::R12;
  EXPECT_TRUE(db::save(database, sink, options).ok());
  return sink.data;
}

// The script of a run, or the run's output when it failed.
std::string scriptOf(const std::string& direction, const std::string& name, const std::string& content,
                     const std::string& level) {
  TempDir dir;
  const std::string input = dir.write(name, content);
  const std::string config = dir.write("run.config", "TR_PROT ./\nTR_TEMP " + dir.path() + "\nTR_LANG english\nTR_STAT nein\n");
  std::vector<std::string> args{direction};
  if (!level.empty()) args.push_back(level);
  args.insert(args.end(), {input, dir.path() + "/out.kpl", config});
  const ProgramResult run = runProgram(TROVAK_PROGRAM, args, dir.path(), "", 120);
  if (run.status != 0) return "status " + std::to_string(run.status) + ": " + run.out + run.err;
  return readWholeFile(dir.path() + "/out.kpl");
}

// A script with what tells the directions apart made alike: the names
// they give their files and variables, and the layers (their colours are
// given in DXF runs alone).
std::string alike(const std::string& script) {
  std::string out;
  std::size_t at = 0;
  while (at < script.size()) {
    const std::size_t end = std::min(script.find('\n', at), script.size());
    std::string line = script.substr(at, end - at);
    at = end + 1;
    if (line.find("DTCreateLayer(") != std::string::npos) continue;
    for (const char* from : {"dwg", "DWG"})
      for (std::size_t k = line.find(from); k != std::string::npos; k = line.find(from, k + 3))
        line.replace(k, 3, from[0] == 'd' ? "dxf" : "DXF");
    out += line + "\n";
  }
  return out;
}

db::Entity line(db::Point3 from, db::Point3 to, const char* layer, bool paper) {
  db::Entity e = db::makeEntity(db::EntityKind::Line);
  e.data = db::Line{from, to};
  e.common.layer = layer;
  e.common.paperSpace = paper;
  return e;
}

db::Entity viewport(db::Point3 center, double width, double height, std::int32_t id) {
  db::Entity e = db::makeEntity(db::EntityKind::Viewport);
  db::Viewport& v = db::get<db::Viewport>(e.data);
  v.center = center;
  v.width = width;
  v.height = height;
  v.viewHeight = height / 2;
  v.status = v.id = id;
  v.viewCenter = {20, 10, 0};
  e.common.paperSpace = true;
  return e;
}

TEST(DwginPreR13Run, PaperSpaceAndViewportsConvertAsFromDxf) {
  db::Database drawing = db::Database::create(db::Release::R12);
  drawing.addRecord(drawing.layers, "WALLS");
  drawing.addRecord(drawing.layers, "HIDDEN");
  drawing.addEntity(drawing.modelSpace(), line({0, 0, 0}, {40, 20, 0}, "WALLS", false));
  drawing.addEntity(drawing.modelSpace(), line({0, 5, 0}, {40, 25, 0}, "HIDDEN", false));
  drawing.addEntity(drawing.paperSpace(), viewport({210, 148, 0}, 420, 297, 1));
  db::Entity view = viewport({100, 100, 0}, 80, 40, 2);
  db::get<db::Viewport>(view.data).frozenLayers = {drawing.layers.find("HIDDEN")->common.handle};
  drawing.addEntity(drawing.paperSpace(), std::move(view));
  drawing.addEntity(drawing.paperSpace(), line({10, 10, 0}, {410, 10, 0}, "0", true));
  const std::string dxf = savedAs(drawing, db::FileFormat::DxfAscii);
  const std::string dwg = savedAs(drawing, db::FileFormat::Dwg);
  ASSERT_EQ(dwg.substr(0, 6), "AC1009");
  for (const char* level : {"", "-plus"}) {
    SCOPED_TRACE(*level == 0 ? "default level" : "level plus");
    const std::string fromDxf = scriptOf("-dxfin", "in.dxf", dxf, level);
    const std::string fromDwg = scriptOf("-dwgin", "in.dwg", dwg, level);
    EXPECT_EQ(occurrences(fromDwg, "DTCreateLine("), *level == 0 ? 3 : 2) << fromDwg;
    EXPECT_EQ(alike(fromDwg), alike(fromDxf));
  }
}

}  // namespace
