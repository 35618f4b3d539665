// The output steps of the toolkit directions on fetched records, driven in
// the order the output loop calls them: what lands in model space and in
// which block, on which layer.
#include <gtest/gtest.h>

#include <string>
#include <variant>
#include <vector>

#include "dwg/toolkit_steps.h"
#include "tests/dwg/dwg_out_support.h"

namespace {

using drawingdb::EntityKind;
using drawingdb::Release;

class ToolkitStepsTest : public DwgOutFixture {
 protected:
  void SetUp() override {
    DwgOutFixture::SetUp();
    ASSERT_EQ(out.startUp(Release::R2000, DwgOut::kSaveDxf, {}), 0);
    steps.beginRun({0, 0, 100, 100});
  }
  // The entities of a block (model space when empty) as their kinds.
  std::vector<EntityKind> kindsIn(const std::string& block = "") {
    drawingdb::Database& db = out.database();
    const drawingdb::BlockRecord* b = block.empty() ? &db.modelSpace() : db.findBlock(block);
    std::vector<EntityKind> kinds;
    if (b == nullptr) return kinds;
    for (drawingdb::EntityId id : b->entities) kinds.push_back(db.entities[id].kind);
    return kinds;
  }
  template <class Data>
  const Data& lastOf(const std::string& block = "") {
    drawingdb::Database& db = out.database();
    const drawingdb::BlockRecord* b = block.empty() ? &db.modelSpace() : db.findBlock(block);
    return drawingdb::get<Data>(db.entities[b->entities.back()].data);
  }
  static TransferLine line(double x1, double y1, double x2, double y2, std::int32_t layer = 1) {
    TransferLine l;
    l.start = {x1, y1, 0};
    l.end = {x2, y2, 0};
    l.layer = layer;
    l.colour = 3;
    return l;
  }
  StepContext at(std::int32_t index) {
    StepContext c;
    c.index = index;
    return c;
  }
  DwgTargetSteps steps{out, [] { return std::unordered_map<std::int32_t, std::string>{{1, "10"}, {2, "20"}, {3, ""}}; }};
};

TEST_F(ToolkitStepsTest, ElementsTakeTheNamesOfTheirLayers) {
  // Layer numbers take the run's names; layer 0 (a value the list did not
  // hold) and numbers without a name have none: "EMPTY".
  const struct {
    std::int32_t layer;
    const char* made;
  } cases[] = {{1, "10"}, {2, "20"}, {0, "EMPTY"}, {3, "EMPTY"}, {7, "EMPTY"}};
  for (const auto& c : cases) {
    ASSERT_EQ(steps.line(at(1), line(0, 0, 1, 1, c.layer)), 0);
    EXPECT_EQ(last().common.layer, c.made) << c.layer;
    EXPECT_EQ(last().common.colour, 3);
  }
}

TEST_F(ToolkitStepsTest, GroupsAndUserElementsBecomeBlocksWithInserts) {
  // A group holding a line and a group: each group's members fill its own
  // block, which is inserted where the group stands (the inner one into the
  // outer block).
  TransferGroup outer, inner;
  outer.name = "Gruppe a";
  inner.name = "inner";
  ASSERT_EQ(steps.beginGroup(at(10), outer), 0);
  ASSERT_EQ(steps.line(at(1), line(0, 0, 1, 0)), 0);
  ASSERT_EQ(steps.beginGroup(at(11), inner), 0);
  ASSERT_EQ(steps.line(at(2), line(1, 0, 1, 1)), 0);
  ASSERT_EQ(steps.group(at(11), inner, {}), 0);
  steps.endGroup(at(11), inner);
  ASSERT_EQ(steps.group(at(10), outer, {}), 0);
  steps.endGroup(at(10), outer);
  EXPECT_EQ(kindsIn(), std::vector<EntityKind>{EntityKind::Insert});
  EXPECT_EQ(lastOf<drawingdb::Insert>().block, "GRUPPE_A_1");
  EXPECT_EQ(last().common.layer, "0");
  EXPECT_EQ(kindsIn("GRUPPE_A_1"), (std::vector<EntityKind>{EntityKind::Line, EntityKind::Insert}));
  EXPECT_EQ(lastOf<drawingdb::Insert>("GRUPPE_A_1").block, "INNER_2");
  EXPECT_EQ(kindsIn("INNER_2"), std::vector<EntityKind>{EntityKind::Line});

  // A group whose members all failed is closed by its end hook: what
  // follows lands in model space again.
  TransferGroup empty;
  ASSERT_EQ(steps.beginGroup(at(12), empty), 0);
  steps.endGroup(at(12), empty);
  EXPECT_FALSE(out.inBlock());

  // A definition becomes a block of its name, each reference an insert of
  // it at the reference's point and factor; a definition without a block
  // is taken over (the loop converts the reference as a group).
  TransferGroup bolt, reference;
  bolt.name = "BOLT";
  reference.insertion = {100, 50, 0};
  reference.factor = 2;
  reference.layer = 2;
  ASSERT_EQ(steps.beginUserDefinition(at(20), bolt), 0);
  ASSERT_EQ(steps.line(at(3), line(0, 0, 1, 0)), 0);
  ASSERT_EQ(steps.userDefinition(at(20), bolt, {}), 0);
  steps.endUserDefinition(at(20), bolt);
  EXPECT_EQ(steps.definitionBlock(20), "BOLT_4");
  ASSERT_EQ(steps.userInstance(at(21), reference, 20), 0);
  const auto& shown = lastOf<drawingdb::Insert>();
  EXPECT_EQ(std::tuple(shown.block, shown.insertion.x, shown.insertion.y, shown.xScale),
            std::tuple("BOLT_4", 100.0, 50.0, 2.0));
  EXPECT_EQ(last().common.layer, "20");
  EXPECT_EQ(steps.userInstance(at(22), reference, 99), ConvertResult::kTakenOver);
  EXPECT_EQ(steps.finish(), 0);
}

TEST_F(ToolkitStepsTest, AreasBecomeHatches) {
  // A plane part: its boundary curves are collected, not drawn, and become
  // the hatch's loop; single hatching is a user-defined pattern, no
  // hatching a solid fill.
  const struct {
    std::int32_t hatchKind;
    const char* pattern;
    int doubled;
  } parts[] = {{1, "_U", 0}, {2, "_U", 1}, {0, "SOLID", 0}};
  for (const auto& p : parts) {
    SCOPED_TRACE(p.hatchKind);
    TransferPlanePart part;
    part.hatchKind = p.hatchKind;
    part.hatchSpacing = 3;
    part.hatchAngle = kPi / 4;
    steps.beginBoundary(at(30), part);
    ASSERT_EQ(steps.line(at(31), line(0, 0, 10, 0)), 0);
    ASSERT_EQ(steps.line(at(32), line(10, 0, 10, 10)), 0);
    TransferHatch back;
    back.points = {{10, 10, 0}, {0, 10, 0}, {0, 0, 0}};
    ASSERT_EQ(steps.hatch(at(33), back), 0);
    steps.endBoundary(at(30), part);
    const std::size_t before = modelCount();
    ASSERT_EQ(steps.planePart(at(30), part, {}), 0);
    ASSERT_EQ(modelCount(), before + 1);
    const auto& h = lastOf<drawingdb::Hatch>();
    EXPECT_EQ(std::tuple(h.pattern, h.doubled, h.paths.size()), std::tuple(p.pattern, p.doubled, 1u));
    EXPECT_EQ(h.paths[0].edges.size(), 4u);
  }
  EXPECT_EQ(kindsIn(), std::vector<EntityKind>(3, EntityKind::Hatch));

  // Polygons: a filled one is a solid hatch over its outline, an open one
  // a polyline.
  TransferHatch filled, open;
  filled.points = {{0, 0, 0}, {4, 0, 0}, {4, 4, 0}};
  filled.closed = filled.filled = true;
  open.points = {{0, 0, 0}, {4, 0, 0}, {4, 4, 0}};
  ASSERT_EQ(steps.hatch(at(40), filled), 0);
  EXPECT_EQ(lastOf<drawingdb::Hatch>().pattern, "SOLID");
  ASSERT_EQ(steps.hatch(at(41), open), 0);
  const auto& polyline = lastOf<drawingdb::Polyline>();
  EXPECT_EQ(std::tuple(polyline.flags, polyline.vertices.size()), std::tuple(0, 3u));
}

TEST_F(ToolkitStepsTest, DimensionsDrawTheirSubElementsIntoTheirBlock) {
  TransferDimension d;
  d.kindCode = 1;
  d.layer = 2;
  d.points = {{0, 0, 0}, {10, 0, 0}, {5, 5, 0}};
  d.text = "10";
  TransferSubElement extension;
  extension.record = line(0, 0, 0, 5, 0);
  TransferSubElement arrow;
  arrow.kind = TransferSubElement::Kind::kPolyline;
  TransferHatch head;
  head.points = {{0, 5, 0}, {1, 5.3, 0}, {1, 4.7, 0}};
  head.closed = head.filled = true;
  arrow.record = head;
  d.parts = {extension, arrow};
  // Inside a group's block the dimension and its block nest.
  TransferGroup g;
  ASSERT_EQ(steps.beginGroup(at(50), g), 0);
  ASSERT_EQ(steps.dimension(at(51), d), 0);
  ASSERT_EQ(steps.group(at(50), g, {}), 0);
  steps.endGroup(at(50), g);
  EXPECT_EQ(kindsIn("GROUP_1"), std::vector<EntityKind>{EntityKind::Dimension});
  const auto& shown = lastOf<drawingdb::Dimension>("GROUP_1");
  EXPECT_EQ(shown.block, "*D1");
  EXPECT_EQ(shown.text, "10");
  EXPECT_EQ(kindsIn("*D1"), (std::vector<EntityKind>{EntityKind::Line, EntityKind::Hatch}));
  // The block stands on "no_layer", which the layer table holds.
  EXPECT_EQ(out.database().findBlock("*D1")->layer, "no_layer");
  EXPECT_NE(out.database().layers.find("no_layer"), nullptr);
  // The sub-elements stand on the dimension's layer.
  drawingdb::Database& db = out.database();
  for (drawingdb::EntityId id : db.findBlock("*D1")->entities) EXPECT_EQ(db.entities[id].common.layer, "20");
  EXPECT_FALSE(out.inBlock());
}

}  // namespace
