// Drawings, views, groups, subfigure definitions and instances of the IGES
// input, converted from small files: what the script gets, how often, where,
// and in which state each element ends.
#include "iges_in/conversion_fixture.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <regex>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "elements/element_table.h"
#include "iges_in/convert_iges_builder.h"
#include "iges_in/iges_convert.h"
#include "iges_in/iges_geometry.h"
#include "iges_in/iges_reader.h"
#include "iges_in/iges_structure.h"
#include "iges_in/kpl_reader.h"
#include "script/script_writer.h"
#include "script/structure.h"
#include "support/assign_tables.h"
#include "support/config.h"
#include "support/messages.h"
#include "support/run_state.h"

namespace {

namespace fs = std::filesystem;

std::string pointers(const std::vector<int>& des) {
  std::string s = std::to_string(des.size());
  for (int d : des) s.append(",").append(std::to_string(d));
  return s;
}

// A line from (x1, y1) to (x2, y2).
std::string lineParams(double x1, double y1, double x2, double y2) {
  std::ostringstream o;
  o << x1 << ".," << y1 << ".,0.," << x2 << ".," << y2 << ".,0.;";
  return o.str();  // whole numbers only: "0.5." would be no number
}

// A line held by a chain of depth subfigure definitions, each holding the
// instance of the one before; the last instance alone is independent.
// Returns the last instance.
int addSubfigureChain(igestest::Builder& b, int depth) {
  igestest::Entity member{110, 0, lineParams(0, 0, 1, 0)};
  member.status = "00010000";
  int held = b.add(member);
  for (int k = 0; k < depth; ++k) {
    const std::string name = "S" + std::to_string(k);
    const int definition =
        b.add(308, std::to_string(k) + "," + std::to_string(name.size()) + "H" + name + "," + pointers({held}) + ";");
    igestest::Entity instance{408, 0, std::to_string(definition) + ",1.,0.,0.;"};
    instance.status = k + 1 < depth ? "00010000" : "00000000";
    held = b.add(instance);
  }
  return held;
}

bool hasLine(const kpl::Script& s, double x1, double y1, double x2, double y2) {
  for (const kpl::Line& l : s.lines) {
    if (std::fabs(l.start.x - x1) < 1e-6 && std::fabs(l.start.y - y1) < 1e-6 && std::fabs(l.end.x - x2) < 1e-6 &&
        std::fabs(l.end.y - y2) < 1e-6)
      return true;
  }
  return false;
}

// The lines (x1, y1, x2, y2) the script lacks, listed; empty when all are there.
std::string missingLines(const kpl::Script& s, std::initializer_list<std::array<double, 4>> lines) {
  std::string missing;
  for (const auto& l : lines)
    if (!hasLine(s, l[0], l[1], l[2], l[3]))
      missing += "(" + std::to_string(l[0]) + "," + std::to_string(l[1]) + ")-(" + std::to_string(l[2]) + "," +
                 std::to_string(l[3]) + ") ";
  return missing;
}

// A subfigure definition and two instances.
struct Subfigure {
  int line = 0, definition = 0, first = 0, second = 0;
};
Subfigure addSubfigure(igestest::Builder& b, const std::string& name) {
  Subfigure f;
  igestest::Entity member{110, 0, lineParams(0, 0, 1, 0)};
  member.status = "00010000";
  f.line = b.add(member);
  f.definition = b.add(308, "0," + std::to_string(name.size()) + "H" + name + "," + pointers({f.line}) + ";");
  f.first = b.add(408, std::to_string(f.definition) + ",10.,0.,0.,2.;");
  f.second = b.add(408, std::to_string(f.definition) + ",20.,5.,0.;");
  return f;
}

class Structure : public ConversionTest {
 protected:
  void SetUp() override {
    ConversionTest::SetUp();
    runSettings().viewMode = 1;
  }
};

// A view: number, scale.
int addView(igestest::Builder& b, int number, const std::string& scale) {
  return b.add(410, std::to_string(number) + "," + scale + ",0,0,0,0,0,0;");
}

// A drawing of the views at the origins, with annotation.
int addDrawing(igestest::Builder& b, const std::vector<int>& views, const std::vector<std::pair<int, int>>& origins,
               const std::vector<int>& annotation) {
  std::string p = std::to_string(views.size());
  for (std::size_t k = 0; k < views.size(); ++k) {
    p.append(",").append(std::to_string(views[k])).append(",");
    p.append(std::to_string(origins[k].first)).append(".,");
    p.append(std::to_string(origins[k].second)).append(".");
  }
  p += "," + pointers(annotation) + ";";
  return b.add(404, p);
}

// Two drawings of two views each: the model geometry once per view, placed
// at each view's origin, the annotation of each drawing once and where it
// stands; the progress counts every element once per view; the trace names
// drawings and views.
TEST_F(Structure, DrawingsConvertTheModelOncePerView) {
  igestest::Builder b;
  const int line = b.add(110, lineParams(0, 0, 1, 0));
  const int note1 = b.add(110, lineParams(5, 5, 6, 5));
  const int note2 = b.add(110, lineParams(7, 7, 8, 7));
  const int v1 = addView(b, 1, "1.");
  const int v2 = addView(b, 2, "1.");
  const int v3 = addView(b, 3, "1.");
  const int name = b.add(406, "1,5HFRONT;", 15);
  const int v4 = b.add(410, "4,1.,0,0,0,0,0,0,0,1," + std::to_string(name) + ";");
  const int d1 = addDrawing(b, {v1, v2}, {{0, 0}, {100, 0}}, {note1});
  const int d2 = addDrawing(b, {v3, v4}, {{0, 100}, {100, 100}}, {note2});
  runSettings().traceLevel = 1;
  ASSERT_EQ(convert(b), 0);
  const kpl::Script s = script();
  EXPECT_TRUE(s.errors.empty());
  EXPECT_EQ(s.lines.size(), 6u);
  EXPECT_EQ(missingLines(s, {{0, 0, 1, 0}, {100, 0, 101, 0}, {0, 100, 1, 100}, {100, 100, 101, 100}, {5, 5, 6, 5},
      {7, 7, 8, 7}}), "");
  EXPECT_EQ(states({line, note1, d1, d2, v4}), "ddddd");
  EXPECT_NE(console_.find("-> cee100 : Begin of 2. Drawing (Number of Drawings : 2)\n"), std::string::npos);
  EXPECT_NE(console_.find("-> cee100 : Begin of 2. View (Nr.: 4), Name : FRONT\n"), std::string::npos);
  EXPECT_NE(console_.find("-> cee100 : Begin of 1. View (Nr.: 3), Name : VIEW.3\n"), std::string::npos);
  EXPECT_NE(console_.find("-> cee100 : End   of 1. View (Nr.: 3)\n"), std::string::npos);
  // Four views: the progress scale, the count and one statistics line each in the protocol.
  EXPECT_EQ(std::tuple(elementTable().progressScale, igesStructureState().viewsConverted,
                       occurrences(protocol(), "converted")),
            std::tuple(4, 4, 4));
}

TEST_F(Structure, ViewFilterScaledViewsAndEmptyDrawings) {
  {
    igestest::Builder b;
    b.add(110, lineParams(0, 0, 2, 0));
    const int v1 = addView(b, 1, "1.");
    const int v2 = addView(b, 2, "1.");
    addDrawing(b, {v1, v2}, {{0, 0}, {50, 0}}, {});
    runSettings().viewNumber = 2;
    ASSERT_EQ(convert(b), 0);
    const kpl::Script s = script();
    ASSERT_EQ(s.lines.size(), 1u);
    EXPECT_TRUE(hasLine(s, 50, 0, 52, 0));
    EXPECT_EQ(states({v1, v2}), "id");
  }
  afresh();
  {
    // Scale 0.5 under scaledViewHandling 1: the world moves to the view's
    // origin around the view; the geometry is written unscaled.
    igestest::Builder b;
    b.add(110, lineParams(0, 0, 4, 0));
    const int v = addView(b, 1, "0.5");
    addDrawing(b, {v}, {{20, 10}}, {});
    ASSERT_EQ(convert(b), 0);
    const std::string t = text();
    const std::size_t save = t.find("DTCreateWorldFirstRota(");
    const std::size_t line = t.find("DTCreateLine");
    const std::size_t restore = t.find("C0=DTSetWorld(W0)");
    ASSERT_NE(save, std::string::npos);
    ASSERT_NE(line, std::string::npos);
    ASSERT_NE(restore, std::string::npos);
    EXPECT_LT(save, line);
    EXPECT_LT(line, restore);
    EXPECT_NE(t.find(",0.0,0.5)"), std::string::npos);
  }
  afresh();
  {
    // Without the scaled handling the scale and origin are in the matrix.
    igestest::Builder b;
    b.add(110, lineParams(0, 0, 4, 0));
    const int v = addView(b, 1, "0.5");
    const int note = b.add(110, lineParams(1, 1, 3, 1));
    addDrawing(b, {v}, {{20, 10}}, {});
    addDrawing(b, {}, {}, {note});
    igesStructureSettings().scaledViewHandling = 0;
    ASSERT_EQ(convert(b), 0);
    const kpl::Script s = script();
    EXPECT_EQ(text().find("DTCreateWorldFirstRota("), std::string::npos);
    EXPECT_TRUE(hasLine(s, 20, 10, 22, 10));
    // The second drawing has no views: report 435, its annotation written.
    EXPECT_EQ(reported(435), 1);
    EXPECT_TRUE(hasLine(s, 1, 1, 3, 1));
    EXPECT_EQ(state(note), 'd');
  }
  afresh();
  {
    // A drawing without views whose annotation places a subfigure: the
    // instance is expanded in the drawing's own pass.
    igestest::Builder b;
    const Subfigure f = addSubfigure(b, "MARK");
    addDrawing(b, {}, {}, {f.first});
    ASSERT_EQ(convert(b), 0);
    const kpl::Script s = script();
    EXPECT_TRUE(hasLine(s, 10, 0, 12, 0));
    EXPECT_EQ(state(f.first), 'd');
  }
  afresh();
  {
    // Elements that name their view: only that view's pass takes them; a
    // views-visible list puts an element into the views it lists.
    igestest::Builder b;
    const int v1 = addView(b, 1, "1.");
    const int v2 = addView(b, 2, "1.");
    igestest::Entity only2{110, 0, lineParams(0, 0, 1, 0)};
    only2.view = v2;
    b.add(only2);
    const int list = b.add(402, "1,0," + std::to_string(v1) + ";", 3);
    igestest::Entity listed{110, 0, lineParams(0, 5, 1, 5)};
    listed.view = list;
    b.add(listed);
    addDrawing(b, {v1, v2}, {{0, 0}, {100, 0}}, {});
    ASSERT_EQ(convert(b), 0);
    const kpl::Script s = script();
    EXPECT_EQ(s.lines.size(), 2u);
    EXPECT_EQ(missingLines(s, {{100, 0, 101, 0}, {0, 5, 1, 5}}), "");
    EXPECT_EQ(state(list), 'd');
  }
}

// The group statement's members: E numbers in the braces.
std::vector<std::vector<int>> groupMembers(const std::string& script) {
  std::vector<std::vector<int>> out;
  static const std::regex statement(R"(DTCreateGroup \("[^"]*", \{([^}]*)\})");
  static const std::regex number(R"(E(\d+))");
  for (auto it = std::sregex_iterator(script.begin(), script.end(), statement); it != std::sregex_iterator(); ++it) {
    const std::string list = (*it)[1];
    std::vector<int> members;
    for (auto n = std::sregex_iterator(list.begin(), list.end(), number); n != std::sregex_iterator(); ++n)
      members.push_back(std::stoi((*n)[1]));
    out.push_back(members);
  }
  return out;
}

// Nested groups: the inner group is written once and is a member of the
// outer one; a member shared by two groups is written once and belongs to
// both; the group names count up.
TEST_F(Structure, NestedGroupsAndSharedMembers) {
  igestest::Builder b;
  const int l1 = b.add(110, lineParams(0, 0, 1, 0));
  const int l2 = b.add(110, lineParams(0, 1, 1, 1));
  const int l3 = b.add(110, lineParams(0, 2, 1, 2));
  const int inner = b.add(402, pointers({l2, l1}) + ";", 1);
  const int outer = b.add(402, pointers({inner, l3}) + ";", 7);
  const int other = b.add(402, pointers({l1}) + ";", 14);
  const int odd = b.add(402, pointers({l3}) + ";", 99);
  runSettings().traceLevel = 1;
  ASSERT_EQ(convert(b), 0);
  const kpl::Script s = script();
  EXPECT_EQ(s.lines.size(), 3u);
  const std::vector<std::vector<int>> groups = groupMembers(text());
  ASSERT_EQ(groups.size(), 3u);
  const std::vector<std::int32_t>& innerObjects = element(indexOfPointer(inner)).scriptObjects;
  ASSERT_EQ(innerObjects.size(), 1u);
  const int l1Object = element(indexOfPointer(l1)).scriptObjects.at(0);
  int withInner = 0, withL1 = 0;
  for (const auto& g : groups)
    for (int m : g) {
      if (m == innerObjects[0]) ++withInner;
      if (m == l1Object) ++withL1;
    }
  EXPECT_EQ(std::tuple(withInner, withL1), std::tuple(1, 2));  // l1 in the inner group and the form 14 group
  EXPECT_EQ(states({inner, outer, other, odd}), "ddde");
  EXPECT_EQ(reported(521), 1);
  EXPECT_NE(console_.find("-> cee600 : Begin of Group 'GRP.1', Depth = 1\n"), std::string::npos);
  EXPECT_NE(console_.find("Depth = 2\n"), std::string::npos);
  EXPECT_NE(console_.find("            Number of sons  : 2\n"), std::string::npos);
}

// A group of 25 members starts a new line before its 1st and 21st member;
// groups that contain each other are converted without the member that
// closes the ring, which is reported once, and the rest is converted.
TEST_F(Structure, LongAndCyclicGroups) {
  {
    igestest::Builder b;
    std::vector<int> lines;
    for (int k = 0; k < 25; ++k) lines.push_back(b.add(110, lineParams(0, k, 1, k)));
    b.add(402, pointers(lines) + ";", 1);
    ASSERT_EQ(convert(b), 0);
    const std::string t = text();
    const std::size_t at = t.find("DTCreateGroup (");
    ASSERT_NE(at, std::string::npos);
    const std::string statement = t.substr(at, t.find(')', at) - at);
    const std::size_t open = statement.find('{');
    ASSERT_NE(open, std::string::npos);
    EXPECT_EQ(statement[open + 1], '\n');
    EXPECT_EQ(occurrences(statement, "\n"), 2);
    // The second line holds members 21..25.
    const std::string second = statement.substr(statement.rfind('\n') + 1);
    EXPECT_EQ(occurrences(second, "E"), 5);
  }
  afresh();
  {
    // g1 -> g2 -> g3 -> g1: the parameter data point at groups written later.
    igestest::Builder b;
    const int l = b.add(110, lineParams(0, 0, 1, 0));
    const int g1 = b.add(402, "2,5,3;", 1);   // l (DE 1) and g2 (DE 5) ... fixed below
    const int g2 = b.add(402, "1,7;", 1);
    const int g3 = b.add(402, "1,3;", 1);
    b.entity(g1).params = pointers({l, g2}) + ";";
    b.entity(g2).params = pointers({g3}) + ";";
    b.entity(g3).params = pointers({g1}) + ";";
    const int after = b.add(110, lineParams(5, 5, 6, 5));
    ASSERT_EQ(convert(b), 0);
    const kpl::Script s = script();
    EXPECT_EQ(missingLines(s, {{0, 0, 1, 0}, {5, 5, 6, 5}}), "");
    EXPECT_EQ(state(after), 'd');
    // g1 is taken first: g3's link back to it goes, g3 and g2 are left
    // empty, g1 holds the line.
    EXPECT_EQ(std::tuple(reported(1327), reported(510)), std::tuple(1, 0));
    EXPECT_EQ(mfaCounts().warnings, 1);
    EXPECT_EQ(states({g1, g2, g3}), "dii");
    const std::vector<std::vector<int>> groups = groupMembers(text());
    ASSERT_EQ(groups.size(), 1u);
    EXPECT_EQ(groups[0], std::vector<int>{created(l).at(0)});
  }
}

// Groups nested 300 deep convert whole: the innermost group is written
// first, every group holds the one inside it, the names count up from the
// outermost one and the trace shows every depth.  Beside the chain, a
// group holding a line, a group and a line writes its members in son
// order around the inner group, as one level of nesting does.
TEST_F(Structure, GroupsNestedAtAnyDepth) {
  constexpr int kDepth = 300;
  igestest::Builder b;
  const int line = b.add(110, lineParams(0, 0, 1, 0));
  std::vector<int> chain;
  int inner = line;
  for (int k = 0; k < kDepth; ++k) chain.push_back(inner = b.add(402, pointers({inner}) + ";", k % 2 == 0 ? 7 : 1));
  const int first = b.add(110, lineParams(0, 5, 1, 5));
  const int last = b.add(110, lineParams(0, 6, 1, 6));
  const int held = b.add(402, pointers({b.add(110, lineParams(0, 7, 1, 7))}) + ";", 7);
  const int around = b.add(402, pointers({first, held, last}) + ";", 7);
  runSettings().traceLevel = 1;
  ASSERT_EQ(convert(b), 0);
  EXPECT_EQ(std::tuple(mfaCounts().errors, mfaCounts().warnings), std::tuple(0, 0));
  EXPECT_EQ(script().lines.size(), 4u);
  static const std::regex statement(R"re(DTCreateGroup \("GRP\.(\d+)", \{([^}]*)\})re");
  const std::string written = text();
  std::vector<int> names;
  for (auto it = std::sregex_iterator(written.begin(), written.end(), statement); it != std::sregex_iterator(); ++it)
    names.push_back(std::stoi((*it)[1]));
  const std::vector<std::vector<int>> groups = groupMembers(written);
  ASSERT_EQ(groups.size(), static_cast<std::size_t>(kDepth + 2));
  ASSERT_EQ(names.size(), groups.size());
  for (int k = 0; k < kDepth; ++k) {
    SCOPED_TRACE(k);
    EXPECT_EQ(state(chain[k]), 'd');
    // Statement k is group k of the chain, named from the outermost down.
    EXPECT_EQ(names[k], kDepth - k);
    const int member = k == 0 ? created(line).at(0) : created(chain[k - 1]).at(0);
    EXPECT_EQ(groups[k], std::vector<int>{member});
  }
  EXPECT_EQ(state(around), 'd');
  std::vector<int> aroundMembers = groups[kDepth + 1];
  std::sort(aroundMembers.begin(), aroundMembers.end());
  EXPECT_EQ(aroundMembers, (std::vector<int>{created(held).at(0), created(first).at(0), created(last).at(0)}));
  // The lines of `around` are written after the group inside it.
  EXPECT_GT(created(first).at(0), created(held).at(0));
  EXPECT_NE(console_.find("-> cee600 : Begin of Group 'GRP.1', Depth = 1\n"), std::string::npos);
  EXPECT_NE(console_.find("-> cee600 : End   of Group 'GRP.300', Depth = 300\n"), std::string::npos);
}

// Structures 10,000 deep convert whole: a chain of groups each holding the
// one before (the first a line), and a chain of definitions each holding an
// instance of the one before, expanded and kept as models.
TEST_F(Structure, StructuresTenThousandDeep) {
  constexpr int kDepth = 10000;
  {
    igestest::Builder b;
    int inner = b.add(110, lineParams(0, 0, 1, 0));
    std::vector<int> chain;
    for (int k = 0; k < kDepth; ++k) chain.push_back(inner = b.add(402, pointers({inner}) + ";", 7));
    ASSERT_EQ(convert(b), 0);
    EXPECT_EQ(std::tuple(mfaCounts().errors, mfaCounts().warnings), std::tuple(0, 0));
    EXPECT_EQ(occurrences(text(), "DTCreateGroup ("), kDepth);
    std::size_t done = 0;
    for (int g : chain) done += state(g) == 'd' ? 1 : 0;
    EXPECT_EQ(done, chain.size());
  }
  for (int mode : {2, 0}) {
    SCOPED_TRACE(mode);
    afresh();
    runSettings().userElementMode = mode;
    igestest::Builder b;
    const int held = addSubfigureChain(b, kDepth);
    ASSERT_EQ(convert(b), 0);
    EXPECT_EQ(std::tuple(reported(510), reported(1322), mfaCounts().errors), std::tuple(0, 0, 0));
    EXPECT_EQ(state(held), 'd');
    if (mode == 2) {
      const kpl::Script s = script();
      ASSERT_EQ(s.lines.size(), 1u);
      EXPECT_TRUE(hasLine(s, kDepth, 0, kDepth + 1, 0));
    } else {
      EXPECT_EQ(occurrences(text(), "input_new(true,"), kDepth);
    }
  }
}

// The objects of nested expansions reach the group around them each once,
// the objects of the level below before those of the level's own lines,
// which are written after it:
// each level holds two lines, one level holds the level below twice, and
// one holds it through a group of its own, which lists the levels below it
// while the outer group lists that group.
TEST_F(Structure, ObjectsOfNestedExpansionsReachTheGroupAroundThem) {
  constexpr int kDepth = 40, kTwice = 20, kGrouped = 30;
  igestest::Builder b;
  const auto addLine = [&b](int y) {
    igestest::Entity line{110, 0, lineParams(0, y, 1, y)};
    line.status = "00010000";
    return b.add(line);
  };
  std::vector<int> before, after;  // per level
  for (int k = 0; k < kDepth; ++k) before.push_back(addLine(k));
  int inner = 0, innerGroup = 0;
  for (int k = 0; k < kDepth; ++k) {
    int below = inner;
    if (k == kGrouped) {
      igestest::Entity group{402, 7, pointers({inner}) + ";"};
      group.status = "00010000";
      below = innerGroup = b.add(group);
    }
    after.push_back(addLine(100 + k));
    std::vector<int> held{after.back(), before[static_cast<std::size_t>(k)]};
    if (k > 0) held.insert(held.begin() + 1, below);
    if (k == kTwice) held.push_back(below);
    const std::string name = "S" + std::to_string(k);
    const int definition = b.add(308, "0," + std::to_string(name.size()) + "H" + name + "," + pointers(held) + ";");
    igestest::Entity instance{408, 0, std::to_string(definition) + ",0.,0.,0.;"};
    instance.status = "00010000";
    inner = b.add(instance);
  }
  const int top = b.add(402, pointers({inner}) + ";", 7);
  ASSERT_EQ(convert(b), 0);
  EXPECT_EQ(mfaCounts().errors, 0);
  EXPECT_EQ(states({top, innerGroup, inner}), "ddd");
  // Level k: the level below in full (the group by its own object), then
  // its two lines as the definition lists them.
  const auto levelObjects = [&](int level) {
    const int last = level >= kGrouped ? kGrouped : 0;
    std::vector<int> objects;
    if (last == kGrouped) objects.push_back(created(innerGroup).at(0));
    for (int k = last; k <= level; ++k) {
      objects.push_back(created(after[static_cast<std::size_t>(k)]).at(0));
      objects.push_back(created(before[static_cast<std::size_t>(k)]).at(0));
    }
    return objects;
  };
  const std::vector<std::vector<int>> groups = groupMembers(text());
  ASSERT_EQ(groups.size(), 2u);
  EXPECT_EQ(groups[0], levelObjects(kGrouped - 1));
  EXPECT_EQ(groups[1], levelObjects(kDepth - 1));
}

// An element without a view of its own that depends on its father is in
// the views of its first father, however long the chain of fathers; a
// chain of fathers that closes on itself ends the walk (in the view).
TEST_F(Structure, DependentElementsAreInTheViewsOfTheirFathersAtAnyDepth) {
  igestest::Builder b;
  const int v1 = addView(b, 1, "1.");
  const int v2 = addView(b, 2, "1.");
  igestest::Entity dependent{110, 0, lineParams(0, 0, 1, 0)};
  dependent.status = "00010000";
  const int line = b.add(dependent);
  int inner = line;
  for (int k = 0; k < 200; ++k) {
    igestest::Entity group{402, 7, pointers({inner}) + ";"};
    group.status = "00010000";
    inner = b.add(group);
  }
  igestest::Entity top{402, 7, pointers({inner}) + ";"};
  top.view = v2;
  b.add(top);
  // Two dependent groups holding each other, and a line in the first.
  igestest::Entity ring{110, 0, lineParams(0, 5, 1, 5)};
  ring.status = "00010000";
  const int ringLine = b.add(ring);
  igestest::Entity first{402, 7, ""};
  first.status = "00010000";
  const int a = b.add(first);
  const int c = b.add(first);
  b.entity(a).params = pointers({ringLine, c}) + ";";
  b.entity(c).params = pointers({a}) + ";";
  read(b);
  igesConvertState().currentView = indexOfPointer(v1);
  const std::tuple expected{0, 1, 1, 1};
  EXPECT_EQ(std::tuple(structureInCurrentView(indexOfPointer(line), 1), structureInCurrentView(indexOfPointer(line), 2),
                       structureInCurrentView(indexOfPointer(ringLine), 1),
                       structureInCurrentView(indexOfPointer(ringLine), 2)),
            expected);
  // Asked again (the answers are kept per view), the same.
  EXPECT_EQ(std::tuple(structureInCurrentView(indexOfPointer(line), 1), structureInCurrentView(indexOfPointer(line), 2)),
            std::tuple(0, 1));
  igesConvertState().currentView = 0;
}

// userElementMode 2 (the default): every instance writes the definition's
// members in its place and scale; the definition is not written itself;
// an instance without a definition fails with its error text.
TEST_F(Structure, InstancesExpandedInPlace) {
  igestest::Builder b;
  const Subfigure f = addSubfigure(b, "BOLT");
  const int orphan = b.add(408, "0,1.,1.,0.;");
  runSettings().traceLevel = 1;
  ASSERT_EQ(convert(b), 0);
  const kpl::Script s = script();
  EXPECT_EQ(s.lines.size(), 2u);
  EXPECT_EQ(missingLines(s, {{10, 0, 12, 0}, {20, 5, 21, 5}}), "");
  EXPECT_EQ(states({f.definition, f.first, f.second, f.line, orphan}), "iddde");
  const std::string missing =
      "FEHLER (cee641) : 408 mit Index " + std::to_string(indexOfPointer(orphan)) + " hat keinen Sohn !\n";
  EXPECT_NE(protocol().find(missing), std::string::npos);
  EXPECT_NE(console_.find("-> cee681 : End   of Subfigure 'BOLT' (" + std::to_string(indexOfPointer(f.definition)) +
                          ") -> converted to Group\n"),
            std::string::npos);
  EXPECT_NE(console_.find("            Scale factor    : (f) 2.000000\n"), std::string::npos);
  EXPECT_EQ(text().find("input_new"), std::string::npos);
}

// Symbol models: the definition is written once as a model of its own under
// its repaired name, instances refer to it; a second definition of the same
// name is not written again (error 897) and its instances use the first
// model; a name that would leave the model directory stays a plain name.
TEST_F(Structure, DefinitionsAsSymbolModels) {
  runSettings().userElementMode = 0;
  igestest::Builder b;
  const Subfigure f = addSubfigure(b, "LIB/BOLT");
  const Subfigure again = addSubfigure(b, "LIB/BOLT");
  const Subfigure escape = addSubfigure(b, "../../x");
  const int orphan = b.add(408, "0,1.,1.,0.;");
  igesStructureSettings().modelDirectory = "models";
  runSettings().traceLevel = 2;
  ASSERT_EQ(convert(b), 0);
  const std::string t = text();
  EXPECT_EQ(std::tuple(occurrences(t, "input_new(true,\"LIB_BOLT\")"), occurrences(t, "output_save(\"LIB_BOLT\")"),
                       occurrences(t, "user_symbol(\"models/LIB_BOLT\""), occurrences(t, "input_new(true,")),
            std::tuple(1, 1, 4, 2));
  EXPECT_EQ(t.find("input_new(true,\"../"), std::string::npos);
  EXPECT_EQ(t.find("\"../"), std::string::npos);
  EXPECT_EQ(states({f.definition, f.line, again.definition, again.first, escape.first, orphan}), "ddodde");
  EXPECT_EQ(reported(897), 1);
  EXPECT_GE(reported(893), 1);
  EXPECT_GE(reported(894), 1);
  EXPECT_NE(console_.find("-> cee870 : New Subfigurename 'LIB_BOLT' extracted from 'LIB/BOLT'\n"), std::string::npos);
  EXPECT_NE(console_.find("-> cee870 : last Definition of Subfigure 'LIB_BOLT' used\n"), std::string::npos);
  const std::string missing =
      "FEHLER (cee640) : 408 mit Index " + std::to_string(indexOfPointer(orphan)) + " hat keinen Sohn !\n";
  EXPECT_NE(protocol().find(missing), std::string::npos);
  // The model files are plain names in the configured directory.
  EXPECT_EQ(subfigureFileName("LIB_BOLT"), "models/LIB_BOLT.udo");
  for (const std::string& file : igesStructureState().modelFiles) {
    EXPECT_EQ(file.rfind("models/", 0), 0u) << file;
    EXPECT_EQ(file.find('/', 7), std::string::npos) << file;
    EXPECT_NE(file.substr(7, 1), ".") << file;
  }
}

// Definitions that hold instances of themselves, directly or through
// another definition, in both modes: one error 1322 at the instance that
// closes the cycle (and no other report of it, however many instances reach
// the cycle, and also when none does); that instance fails, the rest is
// converted or settled.
TEST_F(Structure, CyclicDefinitionsEnd) {
  struct Case {
    const char* name;
    bool throughAnother;
    int outerInstances;  // instances of LOOP outside the definitions
  };
  const Case cases[] = {
      {"direct", false, 1},
      {"through another definition", true, 1},
      {"met by two instances", true, 2},
      {"a closed ring no instance reaches", true, 0},
  };
  for (const Case& c : cases) {
    for (int mode : {2, 0}) {
      SCOPED_TRACE(std::string(c.name) + ", mode " + std::to_string(mode));
      runSettings().userElementMode = mode;
      igestest::Builder b;
      igestest::Entity member{110, 0, lineParams(0, 0, 1, 0)};
      member.status = "00010000";
      const int line = b.add(member);
      // DE numbers: line 1, LOOP 3, its inner instance 5, OTHER 7, its
      // instance of LOOP 9, the outer instance 11.  Directly LOOP holds an
      // instance of itself; else LOOP holds OTHER, which holds LOOP.
      const int loop = b.add(308, "0,4HLOOP," + pointers({line, 5}) + ";");
      const int inner = b.add(408, std::string(c.throughAnother ? "7" : "3") + ",1.,0.,0.;");
      const int other = b.add(308, "1,5HOTHER," + pointers({9}) + ";");
      const int closing = b.add(408, std::to_string(loop) + ",2.,0.,0.;");
      std::vector<int> outer;
      for (int k = 0; k < c.outerInstances; ++k)
        outer.push_back(b.add(408, std::to_string(loop) + "," + std::to_string(10 * (k + 1)) + ".,0.,0.;"));
      ASSERT_EQ(inner, 5);
      ASSERT_EQ(other, 7);
      ASSERT_EQ(convert(b), 0);
      EXPECT_EQ(std::tuple(reported(1322), reported(510)), std::tuple(1, 0));
      EXPECT_EQ(state(c.throughAnother ? closing : inner), 'e');
      for (int o : outer) EXPECT_NE(state(o), 'w');
      EXPECT_NE(state(line), 'w');
      // The line of LOOP is written (at each outer instance, or in its
      // model) when an instance reaches it.
      if (c.outerInstances > 0) {
        EXPECT_GE(script().lines.size(), 1u);
      }
      afresh();
    }
  }
  // The cycle closed through a group of the definition: LOOP (DE 3) holds
  // the line and a group (DE 5) holding an instance (DE 7) of LOOP.
  for (int mode : {2, 0}) {
    SCOPED_TRACE("through a group, mode " + std::to_string(mode));
    runSettings().userElementMode = mode;
    igestest::Builder b;
    igestest::Entity member{110, 0, lineParams(0, 0, 1, 0)};
    member.status = "00010000";
    const int line = b.add(member);
    const int loop = b.add(308, "0,4HLOOP," + pointers({line, 5}) + ";");
    igestest::Entity group{402, 7, "1,7;"};
    group.status = "00010000";
    ASSERT_EQ(b.add(group), 5);
    igestest::Entity inner{408, 0, std::to_string(loop) + ",2.,0.,0.;"};
    inner.status = "00010000";
    ASSERT_EQ(b.add(inner), 7);
    const int outer = b.add(408, std::to_string(loop) + ",10.,0.,0.;");
    ASSERT_EQ(convert(b), 0);
    EXPECT_EQ(reported(1322), 1);
    EXPECT_EQ(state(7), 'e');
    EXPECT_NE(state(outer), 'w');
    EXPECT_GE(script().lines.size(), 1u);
    afresh();
  }
}

// Subfigures nested deeper than any fixed bound: a chain of definitions,
// each holding an instance of the one before (moved by 1 in x), the first
// holding a line.  Expanded, the one outer instance writes the line once,
// moved by the whole chain; kept as models, every definition is a model of
// its own, written before the model that refers to it.
TEST_F(Structure, NestedDefinitionsAtAnyDepth) {
  constexpr int kDepth = 150;
  for (int mode : {2, 0}) {
    SCOPED_TRACE(mode);
    runSettings().userElementMode = mode;
    igestest::Builder b;
    const int held = addSubfigureChain(b, kDepth);
    ASSERT_EQ(convert(b), 0);
    EXPECT_EQ(std::tuple(reported(510), reported(1322)), std::tuple(0, 0));
    EXPECT_EQ(state(held), 'd');
    const std::string t = text();
    if (mode == 2) {
      const kpl::Script s = script();
      ASSERT_EQ(s.lines.size(), 1u);
      EXPECT_TRUE(hasLine(s, kDepth, 0, kDepth + 1, 0));
      EXPECT_EQ(t.find("input_new"), std::string::npos);
    } else {
      EXPECT_EQ(occurrences(t, "input_new(true,"), kDepth);
      EXPECT_EQ(occurrences(t, "user_symbol("), kDepth);
      for (int k = 1; k < kDepth; ++k) {
        const std::size_t model = t.find("input_new(true,\"S" + std::to_string(k) + "\")");
        const std::size_t inner = t.find("output_save(\"S" + std::to_string(k - 1) + "\")");
        ASSERT_NE(model, std::string::npos) << k;
        EXPECT_LT(inner, model) << k;
      }
    }
    afresh();
  }
}

// Below level PLUS subfigures and instances give warning 190 and fail; a
// definition whose member count was not kept is counted again, reported,
// and converted.
TEST_F(Structure, SubfiguresNeedPlusAndCountedMembers) {
  {
    runState().runMode = RunModeBit::kInput | RunModeBit::kG1 | RunModeBit::kB1;
    igestest::Builder b;
    const Subfigure f = addSubfigure(b, "NUT");
    ASSERT_EQ(convert(b), 0);
    EXPECT_EQ(states({f.definition, f.first}), "ee");
    EXPECT_GE(reported(190), 1);
  }
  afresh();
  {
    runSettings().userElementMode = 1;
    igestest::Builder b;
    const Subfigure f = addSubfigure(b, "NUT");
    read(b);
    element(indexOfPointer(f.definition)).sonCount = 0;
    ASSERT_EQ(run(), 0);
    EXPECT_NE(console_.find("cee680 : FEHLER : Anzahl der Sohnelemente in der lokalen Datenstruktur nicht "
                            "eingetragen !!!!!"),
              std::string::npos);
    EXPECT_NE(console_.find("         Index in der lokalen Datenstruktur : " +
                            std::to_string(indexOfPointer(f.definition)) + "\n"),
              std::string::npos);
    EXPECT_EQ(element(indexOfPointer(f.definition)).sonCount, 1);
    EXPECT_EQ(state(f.definition), 'd');
    EXPECT_EQ(occurrences(text(), "user_symbol(\"NUT\""), 2);
  }
  afresh();
  {
    // The header saved the top model: the main model is made again once the
    // definitions are written, and the instances go into it.
    runSettings().userElementMode = 0;
    igesStructureSettings().mainModelSaved = true;
    igestest::Builder b;
    addSubfigure(b, "NUT");
    addSubfigure(b, "BOLT");
    b.add(110, lineParams(3, 3, 4, 3));
    ASSERT_EQ(convert(b), 0);
    const std::string t = text();
    ASSERT_EQ(occurrences(t, "model_create(IGES_NAME)"), 1);
    const std::size_t created = t.find("model_create(IGES_NAME)");
    EXPECT_LT(t.rfind("output_save(\"BOLT\")"), created);
    EXPECT_LT(t.rfind("output_save(\"NUT\")"), created);
    EXPECT_GT(t.find("user_symbol("), created);
    EXPECT_EQ(occurrences(t, "user_symbol("), 4);
  }
}

// Each symbol model defines the levels of its definition's members and of
// the instances among them, but not those inside a nested definition (a
// model of its own); the main model defines the levels outside every
// definition.
TEST_F(Structure, SymbolModelsDefineTheLevelsOfTheirMembers) {
  runSettings().userElementMode = 0;
  igesStructureSettings().mainModelSaved = true;
  igestest::Builder b;
  const auto add = [&b](int type, const std::string& params, int level, bool member) {
    igestest::Entity e{type, 0, params};
    e.level = level;
    if (member) e.status = "00010000";
    return b.add(e);
  };
  const int nutLine = add(110, lineParams(0, 0, 1, 0), 9, true);
  const int nut = b.add(308, "0,3HNUT," + pointers({nutLine}) + ";");
  const int nested = add(408, std::to_string(nut) + ",0.,0.,0.;", 4, true);
  const int boltLine = add(110, lineParams(0, 0, 2, 0), 3, true);
  const int bolt = b.add(308, "1,4HBOLT," + pointers({boltLine, nested}) + ";");
  add(110, lineParams(5, 5, 6, 5), 7, false);
  add(408, std::to_string(bolt) + ",10.,0.,0.;", 8, false);
  ASSERT_EQ(convert(b), 0);
  const std::string t = text();
  const auto part = [&t](const std::string& from, const std::string& to) {
    const std::size_t a = t.find(from);
    if (a == std::string::npos) return std::string();
    return t.substr(a, t.find(to, a) - a);
  };
  const auto levels = [](const std::string& text) {
    std::string found;
    for (int level : {3, 4, 7, 8, 9})
      if (text.find("Z" + std::to_string(level) + "=DTCreateLengthSum") != std::string::npos)
        found += std::to_string(level);
    return found;
  };
  EXPECT_EQ(levels(part("input_new(true,\"NUT\")", "output_save")), "9");
  EXPECT_EQ(levels(part("input_new(true,\"BOLT\")", "output_save")), "34");
  EXPECT_EQ(levels(part("model_create(IGES_NAME)", "user_symbol")), "78");
}

// Duplicate names in userElementMode 2: note 891, the first definition's
// members are written for the instances of the second.
TEST_F(Structure, DuplicateNamesWhenExpanding) {
  igestest::Builder b;
  const Subfigure first = addSubfigure(b, "PIN");
  igestest::Entity member{110, 0, lineParams(0, 0, 0, 3)};
  member.status = "00010000";
  const int other = b.add(member);
  const int second = b.add(308, "0,3HPIN," + pointers({other}) + ";");
  const int instance = b.add(408, std::to_string(second) + ",50.,0.,0.;");
  ASSERT_EQ(convert(b), 0);
  const kpl::Script s = script();
  EXPECT_TRUE(hasLine(s, 50, 0, 51, 0));
  EXPECT_FALSE(hasLine(s, 50, 0, 50, 3));
  EXPECT_GE(reported(891), 1);
  EXPECT_EQ(states({instance, first.first}), "dd");
}

// Instances inside a drawing's views: as models the definitions are written
// before the views, once, and each view places its instances; expanded,
// each view writes the members at each instance.
TEST_F(Structure, SubfiguresInViews) {
  for (int mode : {0, 2}) {
    SCOPED_TRACE(mode);
    runSettings().userElementMode = mode;
    igestest::Builder b;
    const Subfigure f = addSubfigure(b, "VALVE");
    const int v1 = addView(b, 1, "1.");
    const int v2 = addView(b, 2, "1.");
    addDrawing(b, {v1, v2}, {{0, 0}, {100, 0}}, {});
    ASSERT_EQ(convert(b), 0);
    const std::string t = text();
    if (mode == 0) {
      EXPECT_EQ(std::tuple(occurrences(t, "input_new(true,\"VALVE\")"), occurrences(t, "user_symbol(\"VALVE\"")),
                std::tuple(1, 4));
      EXPECT_EQ(state(f.definition), 'd');
    } else {
      const kpl::Script s = script();
      EXPECT_EQ(s.lines.size(), 4u);
      EXPECT_EQ(missingLines(s, {{10, 0, 12, 0}, {110, 0, 112, 0}, {120, 5, 121, 5}}), "");
    }
    afresh();
  }
}


std::vector<int> sonsOf(int de) {
  std::vector<int> out;
  for (const LinkNode* n = element(indexOfPointer(de)).sons; n != nullptr; n = n->next) out.push_back(deNumberOf(n->index));
  return out;
}

// The members the parameter pass links for the associativities that are
// not plain groups: the views of a views-visible list (form 4 with its four
// values per view skipped, the entities shown keeping their own place), and
// the parts of a dimensioned geometry (form 13).
TEST_F(Structure, AssociativityMembersOfViewListsAndDimensionedGeometry) {
  igestest::Builder b;
  const int v1 = addView(b, 1, "1.");
  const int v2 = addView(b, 2, "1.");
  const int v3 = addView(b, 3, "1.");
  // NV 2, NE 1: view 2 and view 3 each with font, font definition, colour
  // and weight, then the entity shown.
  const int list = b.add(402, "", 4);
  igestest::Entity shown{110, 0, lineParams(0, 0, 1, 0)};
  shown.view = list;
  const int line = b.add(shown);
  b.entity(list).params =
      "2,1," + std::to_string(v2) + ",1,0,3,2," + std::to_string(v3) + ",1,0,3,2," + std::to_string(line) + ";";
  const int arc = b.add(100, "0.,0.,0.,5.,0.,5.,0.;");
  const int noteDe = b.add(212, "1,1,2.,1.,1,0.,0.,0,0,1.,2.,0.,1HA;");
  const int point = b.add(116, "1.,1.,0.;");
  const int dim = b.add(222, std::to_string(noteDe) + ",0,0.,0.,0;");
  const int property = b.add(406, "1,5HLABEL;", 15);
  struct Case {
    std::string params;
    std::vector<int> sons;
  };
  const std::vector<Case> cases = {
      // With geometry: the dimension, then only points, lines and arcs.
      {"1,3," + std::to_string(dim) + "," + std::to_string(arc) + "," + std::to_string(noteDe) + "," +
           std::to_string(point) + ";",
       {dim, arc, point}},
      // Without geometry the members stay as they are ...
      {"2,0," + std::to_string(dim) + "," + std::to_string(noteDe) + ";", {dim, noteDe}},
      // ... unless a property and a point open the list, in either order.
      {"2,0," + std::to_string(property) + "," + std::to_string(point) + ";", {}},
      {"2,0," + std::to_string(point) + "," + std::to_string(property) + ";", {}},
  };
  std::vector<int> groups;
  for (const Case& c : cases) groups.push_back(b.add(402, c.params, 13));
  addDrawing(b, {v1, v2, v3}, {{0, 0}, {100, 0}, {200, 0}}, {});
  ASSERT_EQ(convert(b), 0);
  std::vector<int> views = sonsOf(list);
  std::sort(views.begin(), views.end());
  EXPECT_EQ(views, (std::vector<int>{v2, v3}));
  EXPECT_EQ(element(indexOfPointer(line)).fathers, nullptr);
  EXPECT_EQ(state(list), 'd');
  // The line shows in views 2 and 3 only.
  const kpl::Script sc = script();
  EXPECT_FALSE(hasLine(sc, 0, 0, 1, 0));
  EXPECT_EQ(missingLines(sc, {{100, 0, 101, 0}, {200, 0, 201, 0}}), "");
  // The measured geometry is still converted by itself; the dimension once
  // per view, through the first group, which both groups then gather.
  EXPECT_EQ(states({arc, point}), "dd");
  EXPECT_EQ(occurrences(text(), "\"A\""), 3);
  EXPECT_EQ(occurrences(text(), "DTCreateGroup (\"MASS."), 6);
  for (std::size_t k = 0; k < cases.size(); ++k) {
    SCOPED_TRACE(cases[k].params);
    std::vector<int> got = sonsOf(groups[k]), want = cases[k].sons;
    std::sort(got.begin(), got.end());
    std::sort(want.begin(), want.end());
    EXPECT_EQ(got, want);
  }
}

// With the border switch a drawing that states its size (drawing size
// property) gets its frame once, in drawing coordinates, each side with the
// drawing's info; other drawings and other switches get none.
TEST_F(Structure, DrawingBorderFromTheDrawingSize) {
  struct Case {
    int viewMode;
    bool sized;
    const char* size;  // the drawing size property
    int borders;
  };
  // A size property with one value, a negative or a missing size gives no frame.
  for (const Case& c : {Case{2, true, "2,420.,297.;", 1}, Case{1, true, "2,420.,297.;", 0},
                        Case{2, false, "2,420.,297.;", 0}, Case{2, true, "1,420.;", 0},
                        Case{2, true, "2,-420.,297.;", 0}, Case{2, true, "2,420.;", 0}}) {
    SCOPED_TRACE(std::to_string(c.viewMode) + (c.sized ? " sized " : " unsized ") + c.size);
    runSettings().viewMode = c.viewMode;
    igestest::Builder b;
    b.add(110, lineParams(1, 1, 2, 1));
    const int v1 = addView(b, 1, "0.5");
    const int v2 = addView(b, 2, "1.");
    const int size = b.add(406, c.size, 16);
    const int other = b.add(406, "1,5HSHEET;", 15);
    const std::string tail = c.sized ? ",0,2," + std::to_string(other) + "," + std::to_string(size) + ";" : ";";
    std::string p = "2," + std::to_string(v1) + ",10.,10.," + std::to_string(v2) + ",200.,10.,0";
    const int drawing = b.add(404, p + tail);
    ASSERT_EQ(convert(b), 0);
    const kpl::Script s = script();
    EXPECT_EQ(s.lines.size(), 2u + 4u * c.borders);
    const bool framed = c.borders == 1;
    EXPECT_EQ(std::tuple(hasLine(s, 0, 0, 420, 0), hasLine(s, 420, 0, 420, 297), hasLine(s, 420, 297, 0, 297),
                         hasLine(s, 0, 297, 0, 0)),
              std::tuple(framed, framed, framed, framed));
    EXPECT_EQ(occurrences(text(), ",404,0,"), 4 * c.borders);
    EXPECT_EQ(element(indexOfPointer(drawing)).scriptObjects.size(), 4u * c.borders);
    EXPECT_EQ(state(drawing), 'd');
    afresh();
  }
}

// View 1 at scale 2 turned a quarter to the left (x -> y) and moved to
// (10, 0, 0), with the given planes of its volume, on a drawing at
// (100, 50) with the annotation; two lines from the view's origin, one
// along each of its axes x and -y.
void addRotatedView(igestest::Builder& b, const std::string& volume, const std::vector<int>& annotation) {
  b.add(110, lineParams(10, 0, 10, 5));
  b.add(110, lineParams(10, 0, 12, 0));
  const int matrix = b.add(124, "0.,-1.,0.,10.,1.,0.,0.,0.,0.,0.,1.,0.;");
  igestest::Entity view{410, 0, "1,2.," + volume + ";"};
  view.matrix = matrix;
  addDrawing(b, {b.add(view)}, {{100, 50}}, annotation);
}

// The view's matrix places the view's coordinate system in model space, so
// the geometry goes through its inverse: a model point p lands on the
// drawing at origin + scale * R^T (p - T).  View 1: R turns a quarter to
// the left (x -> y), T = (10, 0, 0), scale 2, origin (100, 50).
//   (10, 0) -> R^T (0, 0) = (0, 0)   -> (100, 50)
//   (10, 5) -> R^T (0, 5) = (5, 0)   -> (110, 50)
//   (12, 0) -> R^T (2, 0) = (0, -2)  -> (100, 46)
TEST_F(Structure, RotatedViewPlacesTheModelThroughTheInverseOfItsMatrix) {
  for (int scaled : {0, 1}) {
    SCOPED_TRACE(scaled);
    igestest::Builder b;
    addRotatedView(b, "0,0,0,0,0,0", {});
    igesStructureSettings().scaledViewHandling = scaled;
    ASSERT_EQ(convert(b), 0);
    const kpl::Script s = script();
    ASSERT_EQ(s.lines.size(), 2u);
    if (scaled == 0) {
      EXPECT_EQ(missingLines(s, {{100, 50, 110, 50}, {100, 50, 100, 46}}), "");
    } else {
      // The world carries origin and scale; the geometry is turned only.
      EXPECT_EQ(missingLines(s, {{0, 0, 5, 0}, {0, 0, 0, -2}}), "");
      EXPECT_NE(text().find("DTCreateWorldFirstRota("), std::string::npos);
    }
    afresh();
  }
}

// A view whose volume has four sides clips its geometry to them: the box
// of the view above, x from -1 to 3 and y from -1 to 1 in view space,
// placed like the geometry.  The line along the view's x axis is cut at
// x = 3, the one along its -y axis at y = -1, one outside is dropped; the
// drawing's own annotation and a symbol model written from inside the view
// are not clipped.
TEST_F(Structure, ViewVolumeClipsTheGeometryOfItsView) {
  for (int scaled : {0, 1}) {
    SCOPED_TRACE(scaled);
    runSettings().userElementMode = 0;
    igestest::Builder b;
    b.add(110, lineParams(20, 20, 21, 20));
    const Subfigure f = addSubfigure(b, "FAR");
    b.entity(f.first).params = std::to_string(f.definition) + ",50.,50.,0.;";
    b.entity(f.second).params = std::to_string(f.definition) + ",10.,0.,0.;";
    const int note = b.add(110, lineParams(150, 150, 160, 150));
    const auto plane = [&b](const char* abcd) { return std::to_string(b.add(108, std::string(abcd) + ",0,0.,0.,0.,0.;")); };
    const std::string left = plane("1.,0.,0.,-1."), top = plane("0.,1.,0.,1."), right = plane("2.,0.,0.,6."),
                      bottom = plane("0.,1.,0.,-1.");
    addRotatedView(b, left + "," + top + "," + right + "," + bottom + ",0,0", {note});
    igesStructureSettings().scaledViewHandling = scaled;
    ASSERT_EQ(convert(b), 0);
    const kpl::Script s = script();
    // Two cut lines, the annotation and the member in the symbol model.
    EXPECT_EQ(s.lines.size(), 4u);
    if (scaled == 0) {
      EXPECT_EQ(missingLines(s, {{100, 50, 106, 50}, {100, 50, 100, 48}}), "");
    } else {
      EXPECT_EQ(missingLines(s, {{0, 0, 3, 0}, {0, 0, 0, -1}}), "");
    }
    EXPECT_TRUE(hasLine(s, 150, 150, 160, 150));
    // The model of the definition keeps its member whole.
    const std::string t = text();
    const std::size_t model = t.find("input_new(true,\"FAR\")");
    ASSERT_NE(model, std::string::npos);
    EXPECT_NE(t.substr(model, t.find("output_save", model) - model).find("DTCreateLine"), std::string::npos);
    afresh();
  }
}

// The settings come from the run: the world switch, the user-library
// directory (without its closing '/'), and whether definitions become
// models before the main model (then the header saves the top model).
TEST_F(Structure, SettingsFromTheRunConfiguration) {
  igestest::Builder b;
  addSubfigure(b, "NUT");
  read(b);
  struct Case {
    int world;
    std::string library;
    int mode;
    std::uint32_t level;
    int scaled;
    std::string directory;
    bool pending;
  };
  const std::vector<Case> cases = {
      {1, "", kNotSet, RunModeBit::kPlus, 1, "", false},
      {0, "/lib/models/", 0, RunModeBit::kPlus, 0, "/lib/models", true},
      {1, "models//", 1, RunModeBit::kPlus, 1, "models", true},
      {1, "/", 0, RunModeBit::kG1 | RunModeBit::kB1, 1, "/", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.library);
    runSettings().worldMode = c.world;
    runPaths().ubblDir = c.library;
    runSettings().userElementMode = c.mode;
    runState().runMode = RunModeBit::kInput | c.level;
    ScriptSource source;
    igesStructureSettingsFromRun(source);
    const auto& set = igesStructureSettings();
    EXPECT_EQ(std::tuple(set.scaledViewHandling, set.modelDirectory, set.mainModelSaved),
              std::tuple(c.scaled, c.directory, c.pending));
    EXPECT_EQ(std::tuple(source.subfiguresPending, source.symbolModelDir), std::tuple(c.pending, c.directory));
  }
  runPaths().ubblDir.clear();
}

}  // namespace
