// The output conversion loop on CAD transfer files written by the tests:
// every element kind in both file versions, the states the steps leave,
// deleted elements, the level gates, the layer list, identifiers with
// suffixes, deep and cyclic member lists and user elements.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "elements/element_table.h"
#include "iges_out/iges_steps.h"
#include "iges_out/iges_writer.h"
#include "iges_out/section_files.h"
#include "support/assign_tables.h"
#include "support/config.h"
#include "support/messages.h"
#include "support/run_state.h"
#include "tests/output_run_reset.h"
#include "transfer/dispatch_samples.h"
#include "transfer/output_dispatch.h"
#include "transfer/transfer_reader.h"

namespace {

namespace fs = std::filesystem;
using samples::IgesView;
using samples::TransferFile;

std::uint32_t levelBits(const std::string& level) {
  if (level == "G1") return RunModeBit::kG1;
  if (level == "PLUS") return RunModeBit::kPlus;
  return RunModeBit::kG1 | RunModeBit::kB1;
}

class DispatchLoopTest : public ::testing::Test {
 protected:
  void SetUp() override {
    resetOutputRun();
    dir_ = fs::temp_directory_path() / ("trovak_dispatch_loop_" + std::to_string(getpid()));
    fs::create_directories(dir_);
    RunPaths& p = runPaths();
    p.tempDir = dir_.string() + "/";
    p.assignDir = std::string(TROVAK_SOURCE_DIR) + "/ririzidedareru/assign/iges/";
    p.igesStartFile = p.tempDir + "strt.tmp";
    p.igesGlobalFile = p.tempDir + "glob.tmp";
    p.igesDirectoryFile = p.tempDir + "dirc.tmp";
    p.igesParameterFile = p.tempDir + "parm.tmp";
    p.igesTerminateFile = p.tempDir + "term.tmp";
  }
  void TearDown() override {
    resetIgesWriter();
    removeAllSectionFiles();
    resetTransferReader();
    freeTable();
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }

  // Loads the file into the element table at the level.
  void load(const std::string& file, const std::string& level) {
    runState().runMode = RunModeBit::kOutput | levelBits(level);
    runState().level = level;
    runState().outputTolerance = level == "PLUS" ? 0.1 : 0.0001;
    ASSERT_EQ(openTransferBytes(file), 0);
    resetIgesWriter();
    ASSERT_EQ(openSectionFiles(), 0);
    ASSERT_EQ(loadTransferTable(), 0);
    loaded_ = elementTable().lastIndex;
  }
  // The loop and the end of the IGES file; the file read back.
  IgesView convert() {
    const std::string out = dir_.string() + "/out.igs";
    setOutputGlobals(out, runState().level, transferReader().maxCoordinate);
    EXPECT_EQ(convertTransferElements(igesTargetSteps()), 0);
    EXPECT_EQ(finishIgesOutput(out), 0);
    text_ = samples::readFile(out);
    IgesView view = samples::readIges(text_);
    EXPECT_TRUE(view.errors.empty()) << view.errors.front();
    return view;
  }
  IgesView run(const std::string& file, const std::string& level) {
    load(file, level);
    return convert();
  }
  // The table index of the element with the identifier.
  std::int32_t indexOf(const std::string& id) {
    const auto position = transferReader().transferIdIndex.find(id);
    if (!position) return -1;
    // Records the output appends (colour definitions, matrices) lie behind
    // the loaded elements and carry no identifier.
    return findById(*position, 1, loaded_);
  }
  char stateOf(const std::string& id) {
    const std::int32_t i = indexOf(id);
    return i < 1 ? '?' : element(i).state;
  }
  // Every pointer of a composite names an entity written before it.
  void expectMembersBefore(const IgesView& view, int type, std::size_t firstPointer,
                           std::size_t countAt) {
    for (const samples::IgesEntity* e : view.ofType(type)) {
      const int n = e->integer(countAt);
      for (int k = 0; k < n; ++k) {
        const int pointer = e->integer(firstPointer + static_cast<std::size_t>(k));
        ASSERT_NE(view.at(pointer), nullptr) << type << " points at " << pointer;
        EXPECT_LT(pointer, e->sequence) << type << " points forward";
      }
    }
  }

  fs::path dir_;
  std::string text_;
  std::int32_t loaded_ = 0;
};

TEST_F(DispatchLoopTest, EveryKindInBothFileVersions) {
  // Both file versions give the same entities, bit for bit; every element
  // is converted, every member written before the entity pointing at it.
  std::string sections[2];
  for (int version : {0, 1}) {
    SCOPED_TRACE(version);
    SetUp();
    const IgesView view = run(samples::everyKind(version).str(), "PLUS");
    for (int id = 1; id <= 24; ++id) EXPECT_EQ(stateOf(std::to_string(id)), 'd') << "element " << id;
    EXPECT_EQ(view.countByType(), samples::everyKindCounts());
    expectMembersBefore(view, 402, 2, 1);
    expectMembersBefore(view, 102, 2, 1);
    expectMembersBefore(view, 308, 4, 3);
    // At level PLUS the pen's colour is a colour definition, written once
    // before the first element that uses it, and pointed at by its
    // negated directory sequence number.
    const samples::IgesEntity* colour = view.ofType(314).front();
    EXPECT_EQ(colour->label, "COL_DEF ");
    EXPECT_EQ(colour->status, "00000200");
    for (const samples::IgesEntity* l : view.ofType(110)) EXPECT_EQ(l->colour, -colour->sequence);
    const samples::IgesEntity* ellipse = view.ofType(104).front();
    ASSERT_NE(view.at(ellipse->matrix), nullptr);
    EXPECT_EQ(view.at(ellipse->matrix)->type, 124);
    EXPECT_EQ(view.at(ellipse->matrix)->label, "TRFMATRX");
    const samples::IgesEntity* instance = view.ofType(408).front();
    EXPECT_EQ(view.at(instance->integer(1))->type, 308);
    EXPECT_DOUBLE_EQ(instance->real(2), 100.0);
    const samples::IgesEntity* area = view.ofType(230).front();
    EXPECT_EQ(view.at(area->integer(1))->type, 102);
    // Directory and parameter lines of the two versions.
    std::string dp;
    std::size_t at = 0;
    while (at < text_.size()) {
      const std::size_t end = text_.find('\n', at);
      const std::string line = text_.substr(at, end - at);
      if (line.size() == 80 && (line[72] == 'D' || line[72] == 'P')) dp += line + "\n";
      at = end == std::string::npos ? text_.size() : end + 1;
    }
    sections[version] = dp;
    TearDown();
  }
  EXPECT_EQ(sections[0], sections[1]);
}

TEST_F(DispatchLoopTest, GeometryAsWritten) {
  const IgesView view = run(TransferFile()
                                .line("1", 0, 0, 10, 5)
                                .arc("2", 1, 2, 3, 4, 2, 1, 5)
                                .circle("3", 5, 5, 2)
                                .point("4", 3, 4)
                                .str(),
                            "G1B1");
  const samples::IgesEntity& line = *view.ofType(110).front();
  EXPECT_EQ((std::vector<double>{line.real(1), line.real(2), line.real(3), line.real(4), line.real(5),
                                 line.real(6)}),
            (std::vector<double>{0, 0, 0, 10, 5, 0}));
  EXPECT_EQ(line.level, 3);  // layer value 10: the first of three
  EXPECT_EQ(line.label, "LINE    ");
  EXPECT_EQ(line.status, "00000000");
  auto arcs = view.ofType(100);
  ASSERT_EQ(arcs.size(), 2u);
  if (arcs[0]->real(2) != 1.0) std::swap(arcs[0], arcs[1]);
  EXPECT_EQ((std::vector<double>{arcs[0]->real(2), arcs[0]->real(3), arcs[0]->real(4), arcs[0]->real(5),
                                 arcs[0]->real(6), arcs[0]->real(7)}),
            (std::vector<double>{1, 2, 4, 2, 1, 5}));
  // A full circle starts and ends at (cx + r, cy).
  EXPECT_EQ((std::vector<double>{arcs[1]->real(4), arcs[1]->real(5), arcs[1]->real(6), arcs[1]->real(7)}),
            (std::vector<double>{7, 5, 7, 5}));
  EXPECT_EQ(view.ofType(116).front()->level, 0);  // a point has no layer
}

TEST_F(DispatchLoopTest, AttributesBeyondTheDirectoryFields) {
  // A width far beyond the gradations and a line style without a pattern
  // leave the line readable: weight at the largest gradation, solid font.
  const IgesView view =
      run(TransferFile().line("1", 0, 0, 1, 1, 10, false, 77, 5e8).line("2", 0, 0, 2, 2).str(), "G1B1");
  ASSERT_EQ(view.ofType(110).size(), 2u);
  EXPECT_EQ(stateOf("1"), 'd');
  for (const samples::IgesEntity* line : view.ofType(110)) {
    EXPECT_GE(line->lineWeight, 0);
    EXPECT_LE(line->lineWeight, 10000);
    EXPECT_GE(line->lineFont, 0);
    EXPECT_LE(line->lineFont, 5);
  }
}

TEST_F(DispatchLoopTest, DeletedElementsFollowTheSwitch) {
  struct Case {
    int setting;  // _INBI
    int useToolkit;
    bool written;
  };
  const Case cases[] = {{kNotSet, 0, true}, {1, 0, true}, {0, 0, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.setting);
    SetUp();
    runSettings().inbiMode = c.setting;
    runState().useToolkit = c.useToolkit;
    const IgesView view = run(TransferFile()
                                  .line("1", 0, 0, 1, 1, 10, true)
                                  .point("2", 1, 1, true)
                                  .text("3", 0, 0, 2, "gone", 10, true)
                                  .line("4", 0, 0, 2, 2)
                                  .str(),
                              "G1B1");
    EXPECT_EQ((std::string{stateOf("1"), stateOf("2"), stateOf("3"), stateOf("4")}), c.written ? "dddd" : "iiid");
    EXPECT_EQ(view.ofType(110).size(), c.written ? 2u : 1u);
    EXPECT_EQ(view.ofType(116).size(), c.written ? 1u : 0u);
    for (const samples::IgesEntity* line : view.ofType(110)) {
      // A deleted line is written blanked.
      EXPECT_EQ(line->status, line->real(4) == 1.0 ? "01000000" : "00000000");
    }
    TearDown();
  }
  // The toolkit default is off.
  SetUp();
  runState().useToolkit = 1;
  EXPECT_FALSE(convertsDeletedElements());
}

TEST_F(DispatchLoopTest, LevelsGateTextsDimensionsAndPlaneParts) {
  const std::string file = TransferFile()
                               .text("1", 0, 0, 2, "note")
                               .dimension("2", "dimension_distance", {{0, 0}, {10, 0}, {5, 5}}, 10, "")
                               .line("3", 0, 0, 5, 0)
                               .line("4", 5, 0, 5, 5)
                               .line("5", 5, 5, 0, 0)
                               .planePart("6", {"3", "4", "5"})
                               .str();
  struct Case {
    const char* level;
    char text, dimension, plane;
    int notes, areas, contours;
  };
  const Case cases[] = {
      {"G1", 'i', 'i', 'i', 0, 0, 0},
      {"G1B1", 'd', 'd', 'd', 2, 0, 1},  // a plane part below PLUS: its contours only
      {"PLUS", 'd', 'd', 'd', 2, 1, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.level);
    SetUp();
    runSettings().traceLevel = 5;
    testing::internal::CaptureStdout();
    const IgesView view = run(file, c.level);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(std::tuple(stateOf("1"), stateOf("2"), stateOf("6")), std::tuple(c.text, c.dimension, c.plane));
    EXPECT_EQ(std::tuple(view.ofType(212).size(), view.ofType(230).size(), view.ofType(102).size()),
              std::tuple(static_cast<std::size_t>(c.notes), static_cast<std::size_t>(c.areas),
                         static_cast<std::size_t>(c.contours)));
    const bool refused = std::string(c.level) == "G1";
    EXPECT_EQ(out.find("wird ignoriert (Leistungsstufenfehler)") != std::string::npos, refused) << out;
    if (refused) {
      EXPECT_NE(out.find("-> dpe100 : Fl\xe4" "che (Index:"), std::string::npos);
    } else {
      EXPECT_NE(out.find("dpe800 : Anzahl erkannter Konturen  ->  1\n"), std::string::npos);
    }
    TearDown();
  }
}

TEST_F(DispatchLoopTest, UnknownTypeFailsAloneAndTheLoopGoesOn) {
  // An element of a type no step knows: error state and error 790, counted
  // once; the loop goes on with the next element.
  load(TransferFile().line("1", 0, 0, 1, 1).line("2", 0, 0, 2, 2).str(), "G1B1");
  element(indexOf("1")).type = 9999;
  const IgesView view = convert();
  EXPECT_EQ(std::tuple(stateOf("1"), stateOf("2"), mfaCounts().errors, mfaCounts().warnings),
            std::tuple('e', 'd', 1, 0));
  // The end of the run finds its failure reported already.
  EXPECT_EQ(reportUnreportedFailures(), 0);
  EXPECT_EQ(mfaCounts().errors, 1);
  EXPECT_EQ(view.ofType(110).size(), 1u);
}

TEST_F(DispatchLoopTest, LayerListOfPlusRuns) {
  // Layer values 10, 20, 30 are the layers 3, 2, 1; the list runs from
  // layer 3 down to 1, the members of one layer in table order.
  const std::string onLayers = TransferFile()
                                   .line("1", 0, 0, 1, 0, 30)
                                   .line("2", 0, 0, 2, 0, 10)
                                   .line("3", 0, 0, 3, 0, 20)
                                   .line("4", 0, 0, 4, 0, 10)
                                   .str();
  const IgesView view = run(onLayers, "PLUS");
  const auto lists = view.ofType(406);
  ASSERT_EQ(lists.size(), 1u);
  const samples::IgesEntity& list = *lists.front();
  EXPECT_EQ(std::tuple(list.form, list.label, list.status, list.lineWeight, list.colour, list.lineFont, list.level),
            std::tuple(6731, std::string("SI-LIST "), std::string("00000300"), 871, 871, 1, 0));
  ASSERT_EQ(list.integer(1), 4);
  std::vector<int> levels;
  for (int k = 0; k < 4; ++k) levels.push_back(view.at(list.integer(2 + static_cast<std::size_t>(k)))->level);
  EXPECT_EQ(levels, (std::vector<int>{3, 3, 2, 1}));
  EXPECT_EQ(element(outputDispatch().layerListIndex).state, 'd');

  struct Case {
    const char* name;
    std::string file;
    const char* level;
    int sist;
  };
  const Case none[] = {
      {"no layer members", TransferFile().line("1", 0, 0, 1, 0, 99).point("2", 1, 1).str(), "PLUS", kNotSet},
      {"switched off", onLayers, "PLUS", 0},
      {"below PLUS", onLayers, "G1B1", kNotSet},
  };
  for (const Case& c : none) {
    SCOPED_TRACE(c.name);
    TearDown();
    SetUp();
    runSettings().sistMode = c.sist;
    EXPECT_TRUE(run(c.file, c.level).ofType(406).empty());
    EXPECT_EQ(text_.find("SI-LIST"), std::string::npos);
  }
}

TEST_F(DispatchLoopTest, IdentifiersCommentsAndUnknownSections) {
  // "17" and "17a" are two elements; comment lines, blank lines and an
  // unknown section between the elements change nothing.
  const std::string file = TransferFile()
                               .line("17", 0, 0, 1, 0)
                               .raw("a comment line of the CAD system\n\n")
                               .line("17a", 0, 0, 2, 0)
                               .raw("@bogus 18\n#1\n#2\n")
                               .group("19", "G", {"17", "17a", "99"})
                               .str();
  std::string withComments = file;
  const std::string second = "@line 17a\n#attribute text of 17a\n";
  withComments.insert(withComments.find(second) + second.size(), "comment between two values\n\n");
  for (const std::string& f : {file, withComments}) {
    SetUp();
    const IgesView view = run(f, "G1B1");
    ASSERT_EQ(view.ofType(402).size(), 1u);
    EXPECT_EQ(view.ofType(402).front()->integer(1), 2);
    EXPECT_EQ(view.ofType(110).size(), 2u);
    EXPECT_DOUBLE_EQ(view.ofType(110)[1]->real(4), 2.0);
    EXPECT_EQ(elementTable().lastIndex, 3);
    TearDown();
  }
}

TEST_F(DispatchLoopTest, DeepAndCyclicMemberLists) {
  // 400 groups, each holding the next, the last holding a line: every
  // group is written, each after the group it holds and pointing at it,
  // and the line once.  A member list that leads back to its own group
  // loses the link that closes the cycle, reported once.
  constexpr int kDepth = 400;
  TransferFile deep;
  deep.line("1000", 0, 0, 1, 1);
  for (int i = kDepth; i >= 1; --i) {
    deep.group(std::to_string(i), "G", {i == kDepth ? std::string("1000") : std::to_string(i + 1)});
  }
  deep.group("2050", "A", {"2051"}).group("2051", "B", {"2050", "1000"});
  const IgesView view = run(deep.str(), "G1B1");
  int errors = 0;
  for (std::int32_t i = 1; i <= elementTable().lastIndex; ++i) errors += element(i).state == 'e';
  EXPECT_EQ(errors, 0);
  EXPECT_EQ(mfaCounts().errors, 0);
  EXPECT_EQ(mfaCounts().warnings, 1);
  for (int i = 1; i <= kDepth; ++i) {
    SCOPED_TRACE(i);
    ASSERT_EQ(stateOf(std::to_string(i)), 'd');
    const int held = i == kDepth ? element(indexOf("1000")).de.sequence
                                 : element(indexOf(std::to_string(i + 1))).de.sequence;
    const samples::IgesEntity* group = view.at(element(indexOf(std::to_string(i))).de.sequence);
    ASSERT_NE(group, nullptr);
    EXPECT_EQ(group->type, 402);
    EXPECT_EQ(group->integer(1), 1);
    EXPECT_EQ(group->integer(2), held);
  }
  EXPECT_EQ(stateOf("2050"), 'd');
  EXPECT_EQ(stateOf("2051"), 'd');
  EXPECT_EQ(view.ofType(402).size(), static_cast<std::size_t>(kDepth + 2));
  expectMembersBefore(view, 402, 2, 1);
  EXPECT_EQ(view.ofType(110).size(), 1u);  // the line once, however many groups hold it
}

TEST_F(DispatchLoopTest, UserElementsNestedTenThousandDeepAndTheirCycles) {
  // Definitions, each holding a line and an instance of the definition
  // below; one instance of the last at the top.  At PLUS every definition
  // and instance is written, a definition after the instance it holds, with
  // its nesting depth; nothing fails however deep the chain.
  constexpr int kDepth = 10000;
  TransferFile deep;
  auto id = [](int k, int part) { return std::to_string(3 * k + part); };
  for (int k = 0; k < kDepth; ++k) {
    deep.line(id(k, 1), 0, k, 1, k);
    std::vector<std::string> members{id(k, 1)};
    if (k > 0) members.push_back(id(k - 1, 3));
    std::string name = "U";
    name += std::to_string(k);
    deep.userdef(id(k, 2), name, members);
    deep.userref(id(k, 3), name, 0, 0);
  }
  const IgesView view = run(deep.str(), "PLUS");
  EXPECT_EQ(mfaCounts().errors, 0);
  EXPECT_EQ(mfaCounts().warnings, 0);
  ASSERT_EQ(view.ofType(308).size(), static_cast<std::size_t>(kDepth));
  ASSERT_EQ(view.ofType(408).size(), static_cast<std::size_t>(kDepth));
  for (int k = 0; k < kDepth; ++k) {
    SCOPED_TRACE(k);
    const samples::IgesEntity* definition = view.at(element(indexOf(id(k, 2))).de.sequence);
    const samples::IgesEntity* instance = view.at(element(indexOf(id(k, 3))).de.sequence);
    ASSERT_TRUE(definition != nullptr && instance != nullptr);
    ASSERT_EQ(definition->type, 308);
    EXPECT_EQ(definition->integer(1), k);  // the nesting depth
    ASSERT_EQ(definition->integer(3), k > 0 ? 2 : 1);
    const std::size_t last = 3 + static_cast<std::size_t>(definition->integer(3));
    const std::set<int> members{definition->integer(4), definition->integer(last)};
    std::set<int> expected{element(indexOf(id(k, 1))).de.sequence};
    if (k > 0) expected.insert(element(indexOf(id(k - 1, 3))).de.sequence);
    EXPECT_EQ(members, expected);
    EXPECT_EQ(instance->integer(1), definition->sequence);
  }
  expectMembersBefore(view, 308, 4, 3);

  // Two definitions holding instances of each other: the instance inside
  // the definition it refers to closes a cycle, reported once; the rest is
  // written.
  TearDown();
  SetUp();
  TransferFile cycle;
  cycle.line("1", 0, 0, 1, 0).line("2", 0, 1, 1, 1);
  cycle.userdef("3", "A", {"1", "6"}).userref("4", "A", 0, 0);
  cycle.userdef("5", "B", {"2", "4"}).userref("6", "B", 0, 0);
  const IgesView cyclic = run(cycle.str(), "PLUS");
  EXPECT_EQ(mfaCounts().errors, 0);
  EXPECT_EQ(mfaCounts().warnings, 1);
  EXPECT_EQ(cyclic.ofType(110).size(), 2u);
  EXPECT_EQ(cyclic.ofType(308).size(), 2u);
  EXPECT_EQ(cyclic.ofType(408).size(), 1u);
  expectMembersBefore(cyclic, 308, 4, 3);
}

TEST_F(DispatchLoopTest, NestedGroupsKeepTheOrderOfTheirMembers) {
  // Groups in groups write their members in son order, each group right
  // after its last member.  The loop takes the inner group first (the
  // table's order): b, then the innermost group of b, then c, then the
  // inner group; the outer group then writes a and d and itself.
  TransferFile f;
  f.line("1", 0, 0, 1, 0).line("2", 0, 1, 1, 1).line("3", 0, 2, 1, 2).line("4", 0, 3, 1, 3);
  f.group("20", "Outer", {"1", "10", "4"});
  f.group("10", "Inner", {"2", "11", "3"}).group("11", "Innermost", {"2"});
  const IgesView view = run(f.str(), "G1B1");
  std::vector<int> order;
  for (const char* id : {"2", "11", "3", "10", "1", "4", "20"}) order.push_back(element(indexOf(id)).de.sequence);
  for (std::size_t k = 1; k < order.size(); ++k) EXPECT_LT(order[k - 1], order[k]) << k;
  EXPECT_EQ(view.ofType(402).size(), 3u);
  EXPECT_EQ(mfaCounts().warnings, 0);
}

TEST_F(DispatchLoopTest, SymbolsBecomeLabels) {
  // A symbol with a leader arrow and a text: a general label pointing at
  // its note and leader.  Below the annotation levels the text is left out
  // and the label keeps its leader.
  const std::string head = "#visible\n#1 0 0 0 x\n";
  const std::string symbol = "@symbol 1\n" + head + "#symbol_pfeil\n" + head + "#arrow\n#1\n#2\n#3\n#4\n#5\n#6\n#EOE\n" +
                             "#text\n" + head +
                             "#11\n#12\n#2\n#0\n#0\n#4\n#0\n#3\n#mnone\n#1 f\n#1\n#0\n#one\n#2\n#ok\n#EOE\n";
  const std::string file = TransferFile(0).raw(symbol).str();
  struct Case {
    const char* level;
    bool note;
  };
  for (const Case& c : {Case{"G1B1", true}, Case{"G1", false}}) {
    SCOPED_TRACE(c.level);
    SetUp();
    const IgesView view = run(file, c.level);
    ASSERT_EQ(view.ofType(210).size(), 1u);
    const samples::IgesEntity& label = *view.ofType(210).front();
    EXPECT_EQ(stateOf("1"), 'd');
    if (c.note) {
      ASSERT_NE(view.at(label.integer(1)), nullptr);
      EXPECT_EQ(view.at(label.integer(1))->type, 212);
      const std::vector<std::string>& note = view.at(label.integer(1))->params;
      ASSERT_GE(note.size(), 3u);
      EXPECT_EQ(note[note.size() - 3], "ok");  // then the two pointer counts
    } else {
      EXPECT_EQ(label.integer(1), 0);
    }
    ASSERT_EQ(label.integer(2), 1);
    const samples::IgesEntity* leader = view.at(label.integer(3));
    ASSERT_NE(leader, nullptr);
    EXPECT_EQ(leader->type, 214);
    EXPECT_EQ(leader->form, 3);  // the arrow's head form
    EXPECT_EQ(leader->status, "00010100");
    TearDown();
  }
}

TEST_F(DispatchLoopTest, SonCountMismatchIsCorrected) {
  load(TransferFile().line("1", 0, 0, 1, 1).line("2", 0, 0, 2, 2).group("3", "G", {"1", "2"}).str(), "G1B1");
  element(indexOf("3")).sonCount = 5;
  testing::internal::CaptureStdout();
  const IgesView view = convert();
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find("dpe600 : FEHLER : Anzahl der Sohnelemente in der lokalen Datenstruktur nicht "
                     "eingetragen !!!!!\n                  Anzahl korrigiert -> ABLAUF EVTL. KORREKT\n"
                     "         Index in der lokalen Datenstruktur : "),
            std::string::npos)
      << out;
  EXPECT_EQ(view.ofType(402).front()->integer(1), 2);
}

}  // namespace
