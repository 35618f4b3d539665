// -igesin through the real program over structures nested a hundred deep:
// groups in groups, subfigure definitions holding instances of each other,
// and groups and instances taking turns.  Nesting without a cycle converts
// whole: every line at the bottom reaches the script and no cycle is
// reported.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "cli/run_program.h"
#include "iges_in/convert_iges_builder.h"
#include "iges_in/kpl_reader.h"

namespace {

constexpr int kDepth = 100;

std::string pointers(const std::vector<int>& des) {
  std::string s = std::to_string(des.size());
  for (int d : des) s.append(",").append(std::to_string(d));
  return s;
}

// A line from (0, y) to (1, y); a member of a definition is dependent.
int addLine(igestest::Builder& b, int y, bool dependent) {
  igestest::Entity line{110, 0, "0.," + std::to_string(y) + ".,0.,1.," + std::to_string(y) + ".,0.;"};
  if (dependent) line.status = "00010000";
  return b.add(line);
}

int addDefinition(igestest::Builder& b, int k, const std::vector<int>& members) {
  const std::string name = std::string("S").append(std::to_string(k));
  return b.add(308, std::to_string(k) + "," + std::to_string(name.size()) + "H" + name + "," + pointers(members) + ";");
}

int addInstance(igestest::Builder& b, int definition, bool dependent) {
  igestest::Entity instance{408, 0, std::to_string(definition) + ",0.,0.,0.;"};
  if (dependent) instance.status = "00010000";
  return b.add(instance);
}

// Each level a group holding a line and the group below.
igestest::Builder nestedGroups() {
  igestest::Builder b;
  int inner = 0;
  for (int k = 0; k < kDepth; ++k) {
    const int line = addLine(b, k, false);
    inner = b.add(402, pointers(inner == 0 ? std::vector<int>{line} : std::vector<int>{line, inner}) + ";", 7);
  }
  return b;
}

// Each level a definition holding a line and an instance of the one below;
// one instance of the last outside.
igestest::Builder nestedDefinitions() {
  igestest::Builder b;
  int inner = 0;
  for (int k = 0; k < kDepth; ++k) {
    const int line = addLine(b, k, true);
    const int definition = addDefinition(b, k, inner == 0 ? std::vector<int>{line} : std::vector<int>{line, inner});
    inner = addInstance(b, definition, k + 1 < kDepth);
  }
  return b;
}

// Groups and instances taking turns: each definition holds a line and a
// group, which holds the instance of the definition below.
igestest::Builder groupsAndInstances() {
  igestest::Builder b;
  int inner = 0;
  for (int k = 0; k < kDepth; ++k) {
    const int line = addLine(b, k, true);
    std::vector<int> members{line};
    if (inner != 0) {
      igestest::Entity group{402, 7, pointers({inner}) + ";"};
      group.status = "00010000";
      members.push_back(b.add(group));
    }
    inner = addInstance(b, addDefinition(b, k, members), k + 1 < kDepth);
  }
  return b;
}

bool hasLineAt(const kpl::Script& s, int y) {
  for (const kpl::Line& l : s.lines)
    if (std::fabs(l.start.y - y) < 1e-6 && std::fabs(l.end.y - y) < 1e-6) return true;
  return false;
}

TEST(IgesinNesting, AcyclicNestingConvertsWholeAtAnyDepth) {
  struct Case {
    const char* name;
    std::function<igestest::Builder()> build;
    bool asModels;  // definitions kept as symbol models of their own
  };
  const Case cases[] = {
      {"groups", nestedGroups, false},
      {"definitions expanded", nestedDefinitions, false},
      {"definitions as models", nestedDefinitions, true},
      {"groups and instances expanded", groupsAndInstances, false},
      {"groups and instances as models", groupsAndInstances, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const std::string igs = c.build().write(dir.path() + "/nested.igs");
    const std::string library = dir.path() + "/library";
    std::filesystem::create_directories(library);
    std::filesystem::create_directories(dir.path() + "/tmp");
    const std::string models = c.asModels ? "TR_USER vorh\nTR_UBBL " + library + "/\n" : "";
    const std::string config = dir.write(
        "run.config", "TR_PROT ./\nTR_TEMP " + dir.path() + "/tmp\nTR_LANG english\nTR_STAT nein\n" + models);
    const ProgramResult run =
        runProgram(TROVAK_PROGRAM, {"-igesin", "-plus", igs, "out.kpl", config}, dir.path(), "", 300);
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    const std::string script = readWholeFile(dir.path() + "/out.kpl");
    const std::string protocol = readWholeFile(dir.path() + "/nested.igs.prot");
    for (const char* cycle : {"(510)", "(1322)", "(1327)"}) EXPECT_EQ(occurrences(protocol, cycle), 0) << cycle;
    EXPECT_EQ(closingCounts(protocol), std::make_pair(0, 0)) << protocol;
    if (c.asModels) {
      // Each line lies in the model of its definition.
      EXPECT_EQ(occurrences(script, "input_new(true,"), kDepth);
      for (int k = 0; k < kDepth; ++k)
        EXPECT_EQ(occurrences(script, "output_save(\"S" + std::to_string(k) + "\")"), 1) << k;
      EXPECT_EQ(occurrences(script, "DTCreateLine"), kDepth);
    } else {
      const kpl::Script s = kpl::readScript(script);
      EXPECT_TRUE(s.errors.empty()) << s.errors.front();
      EXPECT_EQ(s.lines.size(), static_cast<std::size_t>(kDepth));
      for (int k = 0; k < kDepth; ++k) EXPECT_TRUE(hasLineAt(s, k)) << k;
    }
  }
}

}  // namespace
