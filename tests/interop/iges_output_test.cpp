// The IGES files of -igesout read by other readers: the Open CASCADE IGES
// reader (when the program was built with it) loads every file without a
// fail message, finds the entity counts the transfer file implies and makes
// shapes of them; and -igesin reads the files back into KPL scripts with the
// geometry of the transfer file within the resolution of the global section.
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <string>
#include <vector>

#include "cli/run_program.h"
#include "iges_in/kpl_reader.h"
#include "transfer/dispatch_samples.h"

#ifdef TROVAK_HAVE_OCCT
#include <IFSelect_ReturnStatus.hxx>
#include <IGESControl_Reader.hxx>
#include <IGESData_IGESEntity.hxx>
#include <IGESData_IGESModel.hxx>
#include <Interface_Check.hxx>
#include <Interface_CheckIterator.hxx>
#include <XSControl_WorkSession.hxx>
#endif

#ifdef TROVAK_HAVE_OCCT
// The Open CASCADE libraries keep allocations of their own until the
// process ends; the leak checker of the sanitised build is told so.
extern "C" const char* __lsan_default_suppressions() { return "leak:libTKernel\nleak:libTKXSBase\nleak:libTKIGES\n"; }
#endif

namespace {

struct Sample {
  const char* name;
  std::string transfer;
  std::vector<std::string> switches;
  std::map<int, int> counts;
};

// The files the -igesout tests write.
std::vector<Sample> igesSamples() {
  const std::map<int, int> small = {{100, 1}, {110, 2}, {212, 1}, {402, 1}};
  return {
      {"every kind, version 0", samples::everyKind(0).str(), {"-igesout", "-plus"}, samples::everyKindCounts()},
      {"every kind, version 1", samples::everyKind(1).str(), {"-igesout", "-plus"}, samples::everyKindCounts()},
      {"small drawing", samples::smallDrawing().str(), {"-igesout"}, small},
      {"small drawing, G1", samples::smallDrawing().str(), {"-igesout", "-g1"}, {{100, 1}, {110, 2}, {402, 1}}},
      {"small drawing, VDAIS", samples::smallDrawing().str(), {"-igesout", "-vdais"}, {{100, 1}, {110, 2}, {402, 1}}},
  };
}

// Writes the IGES file of the sample into the directory; its path.
std::string writeIges(const TempDir& dir, const Sample& sample) {
  const std::string config =
      dir.write("run.config", "TR_TEMP " + dir.path() + "\nTR_PROT " + dir.path() + "\nTR_STAT nein\n");
  dir.write("in.trf", sample.transfer);
  std::vector<std::string> args = sample.switches;
  args.insert(args.end(), {"out.igs", "in.trf", config});
  const ProgramResult run = runProgram(TROVAK_PROGRAM, args, dir.path());
  EXPECT_EQ(run.status, 0) << run.err;
  return dir.path() + "/out.igs";
}

#ifdef TROVAK_HAVE_OCCT
TEST(IgesOutputInterop, OpenCascadeReadsEveryFile) {
  for (const Sample& sample : igesSamples()) {
    SCOPED_TRACE(sample.name);
    TempDir dir;
    const std::string path = writeIges(dir, sample);
    IGESControl_Reader reader;
    ASSERT_EQ(reader.ReadFile(path.c_str()), IFSelect_RetDone);
    Handle(IGESData_IGESModel) model = Handle(IGESData_IGESModel)::DownCast(reader.Model());
    ASSERT_FALSE(model.IsNull());
    // The one known fail: the layer list (406 form 6731) carries the colour
    // 871 that marks it for the receiving CAD system, outside the colour
    // numbers 0 to 8 this reader accepts.
    const auto isLayerList = [&](Standard_Integer number) {
      if (number < 1 || number > model->NbEntities()) return false;
      const Handle(IGESData_IGESEntity) e = model->Entity(number);
      return e->TypeNumber() == 406 && e->FormNumber() == 6731;
    };
    std::vector<std::string> fails;
    int layerListColourFails = 0;
    Interface_CheckIterator checks = reader.WS()->ModelCheckList();
    for (checks.Start(); checks.More(); checks.Next()) {
      const Handle(Interface_Check)& check = checks.Value();
      for (Standard_Integer i = 1; i <= check->NbFails(); ++i) {
        const std::string fail = check->CFail(i);
        if (isLayerList(checks.Number()) && fail.find("Color Number") != std::string::npos) {
          ++layerListColourFails;
          continue;
        }
        fails.push_back(fail);
      }
    }
    std::string all;
    for (const std::string& f : fails) all += f + "\n";
    EXPECT_TRUE(fails.empty()) << all;
    // Only PLUS files have the layer list, and its colour is 871.
    const bool plus = sample.switches.back() == "-plus";
    EXPECT_EQ(layerListColourFails > 0, plus) << layerListColourFails;
    const samples::IgesView view = samples::readIges(samples::readFile(path));
    for (const samples::IgesEntity* list : view.ofType(406)) {
      if (list->form == 6731) {
        EXPECT_EQ(list->colour, 871);
      }
    }
    std::map<int, int> counts;
    for (Standard_Integer i = 1; i <= model->NbEntities(); ++i) ++counts[model->Entity(i)->TypeNumber()];
    EXPECT_EQ(counts, sample.counts);
    reader.TransferRoots();
    EXPECT_GT(reader.NbShapes(), 0);
  }
}
#else
TEST(IgesOutputInterop, OpenCascadeReadsEveryFile) {
  GTEST_SKIP() << "built without the Open CASCADE IGES reader";
}
#endif

TEST(IgesOutputInterop, IgesInReadsEverySample) {
  // The program's own IGES input takes every file of its output: status 0,
  // a complete script, no error or warning in the closing message.
  for (const Sample& sample : igesSamples()) {
    SCOPED_TRACE(sample.name);
    TempDir dir;
    const std::string iges = writeIges(dir, sample);
    const std::string script = dir.path() + "/back.kpl";
    const std::string config = dir.write("back.config", "TR_TEMP " + dir.path() + "\nTR_PROT " + dir.path() +
                                                            "\nTR_STAT nein\nTR_LANG english\n");
    const ProgramResult back = runProgram(TROVAK_PROGRAM, {"-igesin", "-plus", iges, script, config}, dir.path());
    ASSERT_EQ(back.status, 0) << back.err;
    EXPECT_NE(back.err.find(" 0 errors, 0 warnings"), std::string::npos) << back.err;
    const kpl::Script s = kpl::readScriptFile(script);
    EXPECT_TRUE(s.errors.empty()) << s.errors.front();
    EXPECT_TRUE(s.closed);
  }
}

TEST(IgesOutputInterop, IgesInReadsTheGeometryBack) {
  // Lines, a circle and arcs away from the origin, with a reference point.
  struct Arc {
    double cx, cy, r, sx, sy, ex, ey;
  };
  const std::vector<std::vector<double>> lines = {{0, 0, 10, 5}, {-3.25, 7.5, 12.125, -4}, {100, 100, 150, 100}};
  const std::vector<Arc> arcs = {{10, 10, 5, 15, 10, 10, 15}, {-20, 5, 2.5, -20, 7.5, -22.5, 5}};
  samples::TransferFile f;
  int id = 1;
  for (const auto& l : lines) f.line(std::to_string(id++), l[0], l[1], l[2], l[3]);
  f.circle(std::to_string(id++), 30, -10, 4);
  for (const Arc& a : arcs) f.arc(std::to_string(id++), a.cx, a.cy, a.r, a.sx, a.sy, a.ex, a.ey);
  const Sample sample{"geometry", f.str(), {"-igesout"}, {}};
  TempDir dir;
  const std::string iges = writeIges(dir, sample);
  const samples::IgesView view = samples::readIges(samples::readFile(iges));
  ASSERT_TRUE(view.errors.empty());
  // The resolution the file promises (global 19, 1.0D-04 below PLUS).
  ASSERT_NE(view.global.find(",1.0D-04,"), std::string::npos) << view.global;
  const double resolution = 1e-4;

  const std::string script = dir.path() + "/back.kpl";
  const std::string config = dir.write("back.config", "TR_TEMP " + dir.path() + "\nTR_PROT " + dir.path() +
                                                          "\nTR_STAT nein\n");
  const ProgramResult back = runProgram(TROVAK_PROGRAM, {"-igesin", iges, script, config}, dir.path());
  ASSERT_EQ(back.status, 0) << back.err;
  const kpl::Script s = kpl::readScriptFile(script);
  ASSERT_TRUE(s.errors.empty()) << s.errors.front();

  auto near = [&](kpl::Point p, double x, double y) {
    return std::fabs(p.x - x) <= resolution && std::fabs(p.y - y) <= resolution;
  };
  ASSERT_EQ(s.lines.size(), lines.size());
  for (const auto& l : lines) {
    bool found = false;
    for (const kpl::Line& k : s.lines) {
      found = found || (near(k.start, l[0], l[1]) && near(k.end, l[2], l[3])) ||
              (near(k.start, l[2], l[3]) && near(k.end, l[0], l[1]));
    }
    EXPECT_TRUE(found) << "line from " << l[0] << ", " << l[1];
  }
  ASSERT_EQ(s.circles.size(), 1u);
  EXPECT_TRUE(near(s.circles[0].centre, 30, -10));
  EXPECT_NEAR(s.circles[0].radius, 4, resolution);
  ASSERT_EQ(s.arcs.size(), arcs.size());
  for (const Arc& a : arcs) {
    bool found = false;
    for (const kpl::Arc& k : s.arcs) {
      found = found || (near(k.centre, a.cx, a.cy) && std::fabs(k.radius - a.r) <= resolution &&
                        near(k.start, a.sx, a.sy) && near(k.end, a.ex, a.ey));
    }
    EXPECT_TRUE(found) << "arc about " << a.cx << ", " << a.cy;
  }
}

}  // namespace
