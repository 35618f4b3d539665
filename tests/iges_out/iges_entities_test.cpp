// The parameter records of the IGES entity writers.

#include "iges_out/iges_entities.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include "iges_out/iges_writer.h"
#include "iges_out/section_files.h"
#include "iges_out/section_files_fixture.h"
#include "support/config.h"

namespace {

class IgesEntitiesTest : public SectionFilesTest {
 protected:
  void SetUp() override { makeScratch("trovak_entities_test"); }
  void TearDown() override {
    resetIgesWriter();
    removeScratch();
  }

  // The parameter data one writer call produces: the data columns of its
  // lines without their padding, joined; every line must carry the
  // directory number 1 and its own sequence number.
  std::string record(const std::function<int()>& write) {
    resetIgesWriter();
    EXPECT_EQ(openSectionFiles(), 0);
    EXPECT_EQ(write(), 0);
    std::istringstream in(sectionFileText(igesWriter().files[kSectionParameter], igesWriter().paths[kSectionParameter]));
    std::string all, line;
    int n = 0;
    while (std::getline(in, line)) {
      EXPECT_EQ(line.size(), 80u);
      char tail[20];
      std::snprintf(tail, sizeof tail, "%8dP%7d", 1, ++n);
      EXPECT_EQ(line.substr(64), tail);
      const std::string data = line.substr(0, 64);
      all += data.substr(0, data.find_last_not_of(' ') + 1);
    }
    EXPECT_TRUE(igesWriter().recordEnded);
    return all;
  }
};

TEST_F(IgesEntitiesTest, ParameterRecordsOfEachKind) {
  struct Case {
    const char* name;
    std::function<int()> write;
    std::string expected;
  };
  IgesPointerGroups groups;
  groups.associativities = {21};
  groups.properties = {23, 25};
  IgesNoteString empty;
  empty.boxWidth = 2.0;
  IgesNoteString text = empty;
  text.text = "AB";
  text.characterCount = 2;
  IgesSplineParams spline;
  spline.breakPoints = {0.0, 1.0};
  spline.segments.resize(1);
  spline.segments[0].x[1] = 2.0;
  spline.terminal[0] = 3.0;
  // More segments than break points can carry: only what both describe.
  IgesSplineParams shortSpline = spline;
  shortSpline.segments.resize(3);

  const Case cases[] = {
      {"point with pointer groups", [&] { return writeIgesPoint({{1, 2, 3}, groups}); },
       "116,1.0D+00,2.0D+00,3.0D+00,1,21,2,23,25;"},
      {"arc", [&] { return writeIgesArc({0.5, 1, 2, 3, 4, 5, 6, {}}); },
       "100,5.0D-01,1.0D+00,2.0D+00,3.0D+00,4.0D+00,5.0D+00,6.0D+00,0,0;"},
      {"matrix: rows with the translation after each",
       [&] {
         IgesMatrixParams m;
         m.translation[0] = 10;
         m.translation[2] = 30;
         return writeIgesMatrix(m);
       },
       "124,1.0D+00,0.0D+00,0.0D+00,1.0D+01,0.0D+00,1.0D+00,0.0D+00,0.0D+00,0.0D+00,0.0D+00,"
       "1.0D+00,3.0D+01,0,0;"},
      {"colour", [&] { return writeIgesColour({100.0, 50.0, 0.0, "ORANGE", {}}); },
       "314,1.0D+02,5.0D+01,0.0D+00,6HORANGE,0,0;"},
      {"spline", [&] { return writeIgesSpline(spline); },
       "112,3,3,2,1,0.0D+00,1.0D+00,0.0D+00,2.0D+00,0.0D+00,0.0D+00,0.0D+00,0.0D+00,0.0D+00,"
       "0.0D+00,0.0D+00,0.0D+00,0.0D+00,0.0D+00,3.0D+00,0.0D+00,0.0D+00,0.0D+00,0.0D+00,"
       "0.0D+00,0.0D+00,0.0D+00,0.0D+00,0.0D+00,0.0D+00,0.0D+00,0,0;"},
      {"associativity: count, then members",
       [&] { return writeIgesAssociativity({{7, 9}, {}}); }, "402,2,7,9,0,0;"},
      {"copious data", [&] { return writeIgesCopious({9, 4.0, {{1, 2}, {3, 4}}, {}}); },
       "106,1,2,0.0D+00,1.0D+00,2.0D+00,3.0D+00,4.0D+00,0,0;"},
      {"leader", [&] { return writeIgesLeader({1, 0.5, 0, 2, 3, {{4, 5}}, {}}); },
       "214,1,1.0D+00,5.0D-01,0.0D+00,2.0D+00,3.0D+00,4.0D+00,5.0D+00,0,0;"},
      {"angular", [&] { return writeIgesAngularDimension({1, 3, 5, 7, 8, 9, 11, 13, {}}); },
       "202,1,3,5,7.0D+00,8.0D+00,9.0D+00,11,13,0,0;"},
      {"radius, form 1", [&] { return writeIgesRadiusDimension({1, 3, 7, 8, 5, true, {}}); },
       "222,1,3,7.0D+00,8.0D+00,5,0,0;"},
      {"linear dimension with three members",
       [&] { return writeIgesLinearDimension({{1, 3, 5, 7, 9}, 3, {}}); },
       "216,1,3,5,0,0,0,0;"},
      {"property", [&] { return writeIgesProperty({1, "WAND", {}}); }, "406,1,4HWAND,0,0;"},
      {"note: an empty line is one blank",
       [&] { return writeIgesNote({{empty, text}, {}}); },
       "212,2,0,2.0D+00,0.0D+00,1,0.0D+00,0.0D+00,0,0,0.0D+00,0.0D+00,0.0D+00,1H ,"
       "2,2.0D+00,0.0D+00,1,0.0D+00,0.0D+00,0,0,0.0D+00,0.0D+00,0.0D+00,2HAB,0,0;"},
      {"sectioned area",
       [&] { return writeIgesSectionedArea({3, 1, 1.5, 2.5, 0.5, 45.0, {5, 7}, {}}); },
       "230,3,1,1.5D+00,2.5D+00,0.0D+00,5.0D-01,4.5D+01,2,5,7,0,0;"},
      {"definition", [&] { return writeIgesDefinition({1, "PART", {3}, {}}); },
       "308,1,4HPART,1,3,0,0;"},
      {"generic with the caller's pointer groups",
       [&] { return writeIgesGeneric(406, {{3, 5}, groups}); }, "406,2,3,5,1,21,2,23,25;"},
      {"label without leaders", [&] { return writeIgesLabel({0, {}, {}}); }, "210,0,0,0,0;"},
      {"label", [&] { return writeIgesLabel({5, {7, 9}, {}}); }, "210,5,2,7,9,0,0;"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(record(c.write), c.expected);
  }
  const std::string full = record([&] { return writeIgesSpline(spline); });
  EXPECT_EQ(record([&] { return writeIgesSpline(shortSpline); }), full);
}

TEST_F(IgesEntitiesTest, AFailedWriteIsReported) {
  resetIgesWriter();
  IgesPointParams point;
  // No section files open: nothing can be written.
  EXPECT_EQ(writeIgesPoint(point), -1);
  EXPECT_EQ(writePointerGroups({}), -1);
}

}  // namespace
