// The element table loaded from an EDX file: element kinds and their
// parameter records, member links, the drawing extents, the conversion
// order over the loaded table, and the arcs of composite segments.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <tuple>
#include <vector>

#include "elements/element_table.h"
#include "support/messages.h"
#include "support/run_state.h"
#include "transfer/edx_parser.h"
#include "transfer/edx_table.h"
#include "elements/fetch_records.h"
#include "transfer/fetchers.h"
#include "transfer/transfer_reader.h"

namespace {

class EdxTableTest : public ::testing::Test {
 protected:
  void SetUp() override {
    resetRunState();
    runState().runMode = RunModeBit::kOutput;
    mfaSetMessageLevel(0);
  }
  void TearDown() override {
    resetEdxParser();
    resetTransferReader();
    freeTable();
  }

  // Loads the text and returns what the load printed.
  static int load(const std::string& text, std::string* printed = nullptr) {
    testing::internal::CaptureStdout();
    const int result = loadEdxText("t.edx", text);
    const std::string out = testing::internal::GetCapturedStdout();
    if (printed != nullptr) *printed = out;
    return result;
  }
};

// The sons of an element in list order.
std::vector<std::int32_t> sonsOf(std::int32_t index) {
  std::vector<std::int32_t> out;
  for (const LinkNode* n = element(index).sons; n != nullptr; n = n->next) out.push_back(n->index);
  return out;
}

std::string labelOf(std::int32_t index) { return element(index).de.label; }

template <typename Record>
const Record& paramsOf(std::int32_t index) {
  const auto* record = dynamic_cast<const Record*>(element(index).params.get());
  EXPECT_NE(record, nullptr) << "element " << index;
  static const Record none;
  return record != nullptr ? *record : none;
}

void expectPoint(const Point3& p, double x, double y, double z) {
  EXPECT_NEAR(p.x, x, 1e-9);
  EXPECT_NEAR(p.y, y, 1e-9);
  EXPECT_NEAR(p.z, z, 1e-9);
}

TEST_F(EdxTableTest, ElementsOfEveryKind) {
  const std::string text =
      "{0:\"plate\"\n"
      "  {.P(1,2,0)}\n"
      "  {.L(0,0,0)(4,0,0) .C(10,10,0)(0,3,4)}\n"
      "  {0:UT1024{def}{(0,0,0),1,(2,0,0),19,(3,1,0),(3,1,0),(2,2,0)}}\n"
      "}\n";
  ASSERT_EQ(load(text), 0);
  const ElementTable& table = elementTable();
  ASSERT_EQ(table.lastIndex, 7);
  struct Expected {
    std::int32_t type, form;
    const char* label;
  };
  const Expected expected[] = {
      {402, 7, "GROUP   "}, {116, 0, "POINT   "}, {110, 0, "LINE    "}, {100, 0, "CIRCLE  "},
      {402, 7, "GROUP   "}, {110, 0, "LINE    "}, {100, 0, "CIRCLE  "},
  };
  for (std::int32_t i = 1; i <= 7; ++i) {
    SCOPED_TRACE(i);
    const ElementRecord& e = element(i);
    const Expected& x = expected[i - 1];
    EXPECT_EQ(std::tuple(e.type, e.form, e.de.form, std::string(labelOf(i)), e.state),
              std::tuple(x.type, x.form, x.form, std::string(x.label), ElementState::kWaiting));
    // Identifiers ascend with the index, so that findById finds them.
    EXPECT_EQ(std::tuple(e.transferId, findById(i, 1, table.lastIndex)), std::tuple(i, i));
  }
  EXPECT_EQ(paramsOf<TransferGroup>(1).name, "plate");
  expectPoint(paramsOf<TransferPoint>(2).point, 1, 2, 0);
  expectPoint(paramsOf<TransferLine>(3).end, 4, 0, 0);
  const TransferCircle& circle = paramsOf<TransferCircle>(4);
  EXPECT_TRUE(circle.fullCircle);
  EXPECT_DOUBLE_EQ(circle.radius, 5);
  expectPoint(circle.start, 15, 10, 0);
  expectPoint(circle.end, 15, 10, 0);
  EXPECT_EQ(paramsOf<TransferGroup>(5).name, "CSEG.5");
  expectPoint(paramsOf<TransferLine>(6).start, 0, 0, 0);
  expectPoint(paramsOf<TransferLine>(6).end, 2, 0, 0);
  const TransferCircle& arc = paramsOf<TransferCircle>(7);
  EXPECT_FALSE(arc.fullCircle);
  expectPoint(arc.centre, 2, 1, 0);
  EXPECT_NEAR(arc.radius, 1, 1e-12);
  expectPoint(arc.start, 2, 0, 0);
  expectPoint(arc.end, 2, 2, 0);

  EXPECT_EQ(std::tuple(sonsOf(1), sonsOf(5)),
            std::tuple(std::vector<std::int32_t>{2, 3, 4, 5}, std::vector<std::int32_t>{6, 7}));
  EXPECT_EQ(std::tuple(element(6).fatherCount, element(6).fathers->index), std::tuple(1, 5));
  EXPECT_EQ(element(1).sonCursor, element(1).sons);

  // The box of the geometry (the circle with its radius) as the extents.
  const TransferReaderState& reader = transferReader();
  EXPECT_EQ(std::tuple(reader.xmin, reader.ymin, reader.xmax, reader.ymax, reader.maxCoordinate),
            std::tuple(0.0, 0.0, 15.0, 15.0, 15.0));
}

TEST_F(EdxTableTest, FetchersCopyTheRecords) {
  // No transfer file is open: what the fetchers give comes from the table.
  ASSERT_EQ(load("{0:\"g\"{.L(1,2,0)(3,4,0).C(5,5,0)(2,0,0).P(7,8,0)}}"), 0);
  TransferGroup group;
  ASSERT_EQ(fetchGroup(1, element(1).transferId, group), 0);
  EXPECT_EQ(group.name, "g");
  EXPECT_EQ(element(1).form, 7);  // the group keeps the form of the EDX loader
  TransferLine line;
  ASSERT_EQ(fetchLine(2, element(2).transferId, line), 0);
  expectPoint(line.start, 1, 2, 0);
  expectPoint(line.end, 3, 4, 0);
  TransferCircle circle;
  ASSERT_EQ(fetchCircle(3, element(3).transferId, circle), 0);
  EXPECT_DOUBLE_EQ(circle.radius, 2);
  EXPECT_TRUE(circle.fullCircle);
  EXPECT_EQ(element(3).type, 100);
  EXPECT_EQ(labelOf(3), "CIRCLE  ");
  TransferPoint point;
  ASSERT_EQ(fetchPoint(4, element(4).transferId, point), 0);
  expectPoint(point.point, 7, 8, 0);
}

TEST_F(EdxTableTest, ConversionOrderAndMemberWalk) {
  ASSERT_EQ(load("{.P(0,0,0)}{0:\"outer\"{0:\"inner\"{.L(0,0,0)(1,1,0)}}{.P(5,5,0)}}"), 0);
  // 1 point, 2 outer, 3 inner, 4 line, 5 point.
  std::vector<std::int32_t> order;
  ConvertPick pick;
  while (nextToConvert(pick) == 0) {
    order.push_back(pick.index);
    EXPECT_EQ(pick.deNumberOrType, element(pick.index).type);
    EXPECT_EQ(pick.id, pick.index);
    setStateDeep(pick.index, ElementState::kDone);
  }
  EXPECT_EQ(order, (std::vector<std::int32_t>{2, 1}));  // the top group first, its members with it
  SonResult son;
  resetSonCursors(2);
  std::vector<std::int32_t> walked;
  while (nextSon(2, son) == 0) walked.push_back(son.index);
  EXPECT_EQ(walked, (std::vector<std::int32_t>{3, 5}));
}

TEST_F(EdxTableTest, HierarchyLinksWithoutCycles) {
  std::string printed;
  ASSERT_EQ(load("{0:\"A\"{0:\"B\"{.P(1,1,0)}}}"
                 "{0:\"C\"{.P(2,2,0)}}"
                 "{0:\"empty\"}"
                 "{0:\"ELSgroup\"{\"C\",\"A\"}{\"C\",\"A\"}{\"A\",\"B\"}{\"A\",\"A\"}{\"X\",\"C\"}{\"B\",\"nowhere\"}}",
                 &printed),
            0);
  // 1 A, 2 B, 3 point, 4 C, 5 point, 6 empty.
  EXPECT_EQ(sonsOf(1), (std::vector<std::int32_t>{2, 4}));  // C once
  EXPECT_EQ(sonsOf(2), std::vector<std::int32_t>{3});       // not A: it holds B
  EXPECT_EQ(sonsOf(4), std::vector<std::int32_t>{5});       // the unknown son left out
  EXPECT_EQ(element(4).fatherCount, 1);
  EXPECT_EQ(element(6).state, ElementState::kError);  // a group without members
  EXPECT_NE(printed.find("Son : \"B\", Father : \"nowhere\"\n"), std::string::npos);

  // Every walk of the conversion ends.
  for (std::int32_t i = 1; i <= elementTable().lastIndex; ++i) {
    std::int32_t deNumber = 0, index = 0;
    int guard = 0;
    while (nextDescendant(i, deNumber, index) == 0 && ++guard < 100) {
    }
    EXPECT_LT(guard, 100);
  }
}

TEST_F(EdxTableTest, EmptyAndUnreadableFiles) {
  ASSERT_EQ(load("no blocks at all"), 0);
  EXPECT_EQ(elementTable().lastIndex, 0);
  EXPECT_DOUBLE_EQ(transferReader().xmax, 0);
  ConvertPick pick;
  EXPECT_EQ(nextToConvert(pick), -1);

  EXPECT_EQ(loadEdxTable("/nonexistent/dir/none.edx"), -99);

  // A file read from disk: its name and length in the report.
  namespace fs = std::filesystem;
  const fs::path path = fs::temp_directory_path() / ("edx_" + std::to_string(getpid()) + ".edx");
  {
    std::ofstream out(path, std::ios::binary);
    out << "{0:\"els2d\" .P(-3, 4, 0)}\r\n";
  }
  testing::internal::CaptureStdout();
  const int result = loadEdxTable(path.string());
  const std::string printed = testing::internal::GetCapturedStdout();
  fs::remove(path);
  ASSERT_EQ(result, 0);
  EXPECT_EQ(printed, "Reading file " + path.string() +
                         ", number of characters after compression : 21, (original length : 26)\n");
  ASSERT_EQ(elementTable().lastIndex, 1);
  EXPECT_DOUBLE_EQ(transferReader().xmin, -3);
  EXPECT_DOUBLE_EQ(transferReader().maxCoordinate, 4);
}

TEST(EdxArcShape, ArcsThroughTheirPoints) {
  struct Case {
    const char* name;
    Point3 s, a, b, e;
    bool straight, full;
    Point3 centre;
    double radius;
    Point3 start, end;
  };
  const double h = std::sqrt(0.5);
  const Case cases[] = {
      {"counter-clockwise quarter", {1, 0, 2}, {h, h, 0}, {h, h, 0}, {0, 1, 0}, false, false, {0, 0, 2}, 1,
       {1, 0, 2}, {0, 1, 2}},
      {"clockwise: the same arc from its end", {0, 1, 0}, {h, h, 0}, {h, h, 0}, {1, 0, 0}, false, false,
       {0, 0, 0}, 1, {1, 0, 0}, {0, 1, 0}},
      {"A on the chord: through B (clockwise)", {-1, 0, 0}, {0, 0, 0}, {0, 1, 0}, {1, 0, 0}, false, false,
       {0, 0, 0}, 1, {1, 0, 0}, {-1, 0, 0}},
      {"more than half a circle", {1, 0, 0}, {-1, 0, 0}, {0, -1, 0}, {0, 1, 0}, false, false, {0, 0, 0}, 1,
       {0, 1, 0}, {1, 0, 0}},
      {"closed: the full circle", {2, 0, 0}, {0, 2, 0}, {-2, 0, 0}, {2, 0, 0}, false, true, {0, 0, 0}, 2,
       {2, 0, 0}, {2, 0, 0}},
      {"all on a line", {0, 0, 0}, {1, 1, 0}, {2, 2, 0}, {3, 3, 0}, true, false, {}, 0, {0, 0, 0}, {3, 3, 0}},
      {"all in one place", {1, 1, 0}, {1, 1, 0}, {1, 1, 0}, {1, 1, 0}, true, false, {}, 0, {1, 1, 0}, {1, 1, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const EdxArcShape shape = edxArcShape(c.s, c.a, c.b, c.e);
    EXPECT_EQ(shape.straight, c.straight);
    EXPECT_EQ(shape.full, c.full);
    expectPoint(shape.start, c.start.x, c.start.y, c.start.z);
    expectPoint(shape.end, c.end.x, c.end.y, c.end.z);
    if (c.straight) continue;
    expectPoint(shape.centre, c.centre.x, c.centre.y, c.centre.z);
    EXPECT_NEAR(shape.radius, c.radius, 1e-12);
  }
}

}  // namespace
