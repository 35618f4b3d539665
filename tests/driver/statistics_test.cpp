// The conversion statistics: counting the element table by kind and state,
// and the report in the protocol file and on the console.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "driver/statistics.h"
#include "elements/element_table.h"
#include "iges_in/iges_global.h"
#include "support/config.h"
#include "support/messages.h"
#include "support/run_state.h"

namespace {

const std::string kDir = std::string(TROVAK_SOURCE_DIR) + "/ririzidedareru/msc/";
const std::string kRule(42, '*');

constexpr std::uint32_t kIgesIn = RunModeBit::kInput | RunModeBit::kG1 | RunModeBit::kB1;
constexpr std::uint32_t kIgesOut = RunModeBit::kOutput | RunModeBit::kG1 | RunModeBit::kB1;
constexpr std::uint32_t kDxfIn = RunModeBit::kInput | RunModeBit::kDxf | RunModeBit::kPlus;

std::string readAll(std::FILE* f) {
  std::rewind(f);
  std::string s;
  for (int c; (c = std::fgetc(f)) != EOF;) s.push_back(static_cast<char>(c));
  return s;
}

std::vector<std::string> linesOf(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

bool hasLine(const std::vector<std::string>& lines, const std::string& line) {
  for (const std::string& l : lines)
    if (l == line) return true;
  return false;
}

// Index of the line, or -1.
int lineIndex(const std::vector<std::string>& lines, const std::string& line) {
  for (std::size_t i = 0; i < lines.size(); ++i)
    if (lines[i] == line) return static_cast<int>(i);
  return -1;
}

std::string padded(const std::string& text, std::size_t width = 36) {
  return text + std::string(width > text.size() ? width - text.size() : 0, ' ');
}

class Statistics : public ::testing::Test {
 protected:
  void SetUp() override {
    resetRunState();
    load("dt_en.msg");
    ASSERT_EQ(allocateTable(20), 0);
    mode(kIgesIn);
  }
  void TearDown() override {
    statisticsFinish();
    freeTable();
    mfaResetRun();
    mfaFree();
  }

  static void load(const char* file) { ASSERT_EQ(mfaLoad(kDir + file), 0) << file; }
  static void mode(std::uint32_t bits) {
    runState().runMode = bits;
    statisticsInit();
  }
  static std::int32_t add(std::int32_t type, std::int32_t form, char state) {
    const std::int32_t i = newIndex();
    element(i).type = type;
    element(i).form = form;
    setStateRaw(i, state);
    return i;
  }

  // The report as the protocol file and the console receive it.
  struct Report {
    std::string protocol;
    std::string console;
  };
  static Report report(bool toConsole, const StatisticsSources& sources = {}) {
    Report r;
    std::FILE* f = std::tmpfile();
    EXPECT_NE(f, nullptr);
    testing::internal::CaptureStdout();
    statisticsReport(f, toConsole, sources);
    r.console = testing::internal::GetCapturedStdout();
    r.protocol = readAll(f);
    std::fclose(f);
    return r;
  }
};

TEST_F(Statistics, ConsoleSettingDecidesWhereTheReportGoesAndTheGlobalValuesStayInTheProtocol) {
  add(110, 0, ElementState::kDone);
  IgesGlobal global;
  std::strcpy(global.fileName, "part.igs");
  StatisticsSources sources;
  sources.global = &global;

  // _STAT off: the protocol only.
  runSettings().statisticsToConsole = 0;
  std::FILE* f = std::tmpfile();
  ASSERT_NE(f, nullptr);
  testing::internal::CaptureStdout();
  statisticsReportRun(f, sources);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  const std::string protocolOnly = readAll(f);
  std::fclose(f);
  EXPECT_NE(protocolOnly.find("File name                          : part.igs\n"), std::string::npos);

  // _STAT on (the default): the same report on the console, without the
  // global section.
  runSettings().statisticsToConsole = 1;
  const Report both = report(runSettings().statisticsToConsole != 0, sources);
  EXPECT_EQ(both.protocol, protocolOnly);
  const std::size_t start = both.protocol.find(kRule + "\nValues of the IGES global section\n");
  ASSERT_NE(start, std::string::npos);
  const std::size_t end = both.protocol.find("\n\n" + kRule + "\n", start + 1);
  ASSERT_NE(end, std::string::npos);
  const std::string withoutGlobal =
      both.protocol.substr(0, start) + both.protocol.substr(end + 2 + kRule.size() + 1);
  EXPECT_EQ(both.console, withoutGlobal);
  EXPECT_EQ(both.console.find("part.igs"), std::string::npos);

  // No protocol: the console alone.
  testing::internal::CaptureStdout();
  statisticsReport(nullptr, true, sources);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), both.console);
}

TEST_F(Statistics, IgesInputRunShowsRunModeGlobalValuesAndSectionCounts) {
  runState().level = "G1B1";
  runState().runMode2 = 0x12;
  mode(kIgesIn);
  add(110, 0, ElementState::kDone);
  IgesGlobal g;
  std::strcpy(g.senderProductId, "SENDER");
  std::strcpy(g.unitsName, "MM");
  g.integerBits = 32;
  g.modelScale = 2.0;
  g.maxCoordinate = 1000.0;
  g.draftingStandard = 3;
  std::strcpy(g.creationDate, "060315.142530");
  IgesCounts counts{1, 4, 20, 30, 1};
  StatisticsSources sources;
  sources.global = &g;
  sources.counts = &counts;
  sources.drawings = 2;
  sources.views = 5;
  sources.subfigureDefinitions = 1;

  std::vector<std::string> lines = linesOf(report(false, sources).protocol);
  ASSERT_GT(lines.size(), 40u);
  const std::vector<std::string> head = {
      kRule,
      "",
      "Conversion statistics",
      "=====================",
      "",
      "Conversion mode    : IGES input (IGES -> KPL), level G1B1 (0x000D)",
      "Additional flags   : 0x0012",
      "",
      kRule,
      "Values of the IGES global section",
      "=================================",
      "Parameter delimiter                : ,",
      "Record delimiter                   : ;",
      "Product id of the sender           : SENDER",
  };
  EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + head.size()), head);
  for (const char* line : {"Number of bits for integers        : 32", "Model scale                        : 2.000000",
                           "Units name                         : MM", "Maximum line width                 : 1.000000",
                           "Date of creation                   : 15.03.06 14:25:30",
                           "Minimum resolution                 : 0.000100 MM",
                           "Maximum coordinate                 : 1000.000000 MM"})
    EXPECT_TRUE(hasLine(lines, line)) << line;
  const int last = lineIndex(lines, "Drafting standard                  : 3");
  ASSERT_GT(last, 0);
  EXPECT_EQ(lines[last + 1], "");
  EXPECT_EQ(lines[last + 2], kRule);
  // Section counts, then the element counts with the IGES-only lines.
  const std::vector<std::string> sections = {
      "",
      "Number of records",
      "=================",
      "Section            Count    Unit",
      "Start (S)                1  records",
      "Global (G)               4  records",
      "Directory (D)           20  records",
      "Parameter (P)           30  records",
      "Terminate (T)            1  records",
      "",
      "Element statistics",
      "Number of elements              :       1",
      "converted                       :       1",
      "ignored                         :       0",
      "with errors                     :       0",
      "Number of drawings              :       2",
      "Number of views                 :       5",
      "Subfigure definitions           :       1",
  };
  for (std::size_t i = 0; i < sections.size(); ++i)
    EXPECT_EQ(lines[last + 3 + i], sections[i]) << i;

  // The long date form, and dates that are too short or not a date.
  const struct {
    const char* date;
    const char* shown;
  } dates[] = {{"20060315.142530", "15.03.06 14:25:30"},
               {"0603", "0603"},
               {"06031X.142530", "06031X.142530"},
               {"", ""}};
  for (const auto& d : dates) {
    std::strcpy(g.creationDate, d.date);
    lines = linesOf(report(false, sources).protocol);
    EXPECT_TRUE(hasLine(lines, std::string("Date of creation                   : ") + d.shown))
        << d.date;
  }
  std::memset(g.creationDate, '7', sizeof g.creationDate);  // no terminating zero
  lines = linesOf(report(false, sources).protocol);
  EXPECT_TRUE(hasLine(lines, "Date of creation                   : " + std::string(20, '7')));
}

TEST_F(Statistics, DxfRunHasNoGlobalSectionAndNoIgesCounts) {
  mode(kDxfIn);
  add(110, 0, ElementState::kDone);
  IgesGlobal g;
  IgesCounts counts{1, 4, 20, 30, 1};
  StatisticsSources sources{&g, &counts, 2, 5, 1};
  const std::vector<std::string> lines = linesOf(report(false, sources).protocol);
  EXPECT_EQ(lines[5], "Conversion mode    : DXF input (DXF -> KPL), level G1B1 (0x4011)");
  EXPECT_FALSE(hasLine(lines, "Values of the IGES global section"));
  const int title = lineIndex(lines, "Number of records");
  ASSERT_GT(title, 0);
  EXPECT_EQ(std::vector<std::string>(lines.begin() + title + 1, lines.begin() + title + 4),
            (std::vector<std::string>{"=================", "", "Element statistics"}));
  EXPECT_EQ(lines[title + 8].rfind("Elements of level G1", 0), 0u);  // no drawing/view counts
  EXPECT_FALSE(hasLine(lines, "Section            Count    Unit"));

  // An IGES output run counts the sections it wrote; its terminate section
  // is one line.
  mode(kIgesOut);
  RunStatistics& s = runStatistics();
  s.igesSections[0] = 2;
  s.igesSections[1] = 3;
  s.igesSections[2] = 10;
  s.igesSections[3] = 12;
  const std::vector<std::string> out = linesOf(report(false).protocol);
  EXPECT_EQ(out[5], "Conversion mode    : IGES output (CAD transfer file -> IGES), level G1B1 (0x000E)");
  EXPECT_TRUE(hasLine(out, "Directory (D)           10  records"));
  EXPECT_TRUE(hasLine(out, "Terminate (T)            1  records"));
}

TEST_F(Statistics, EmptyTableEndsTheElementStatisticsWithTheNothingLine) {
  const std::vector<std::string> lines = linesOf(report(false).protocol);
  ASSERT_GT(lines.size(), 6u);
  EXPECT_EQ(std::vector<std::string>(lines.end() - 7, lines.end()),
            (std::vector<std::string>{"Number of views                 :       0",
                                      "Subfigure definitions           :       0", "", "",
                                      "Number of convertible elements = 0 !!!", "", kRule}));
  EXPECT_FALSE(hasLine(lines, "Names and counts"));  // no names collected
}

TEST_F(Statistics, ElementsAreCountedPerKindAndStateIntoTheTable) {
  add(110, 0, ElementState::kDone);
  add(110, 1, ElementState::kError);
  add(110, 2, ElementState::kWaiting);
  add(100, 0, ElementState::kTakenOver);
  add(106, 1, ElementState::kDefinitionWritten);
  add(106, 2, ElementState::kDone);
  add(106, 40, ElementState::kIgnored);
  add(106, 99, ElementState::kError);
  add(106, 77, ElementState::kIgnored);
  add(9999, 3, ElementState::kError);
  add(9999, 4, ElementState::kDone);
  add(402, 7, ElementState::kRegistered);
  add(212, 0, ElementState::kDone);

  EXPECT_EQ(statisticsComplete(), 13);
  EXPECT_EQ(statisticsComplete(), 13);  // counting again starts afresh
  // Kinds by type and form, level tags, names and the five outcome
  // columns, as the protocol shows them.
  const std::vector<std::string> lines = linesOf(report(false).protocol);
  const int first = lineIndex(lines, "Number of elements              :      13");
  ASSERT_GT(first, 0);
  const std::vector<std::string> table = {
      "Number of elements              :      13",
      "converted                       :       6",
      "ignored                         :       2",
      "with errors                     :       3",
      "Number of drawings              :       0",
      "Number of views                 :       0",
      "Subfigure definitions           :       0",
      "Elements of level G1            :       8",
      "Elements of level G2            :       1",
      "Elements of level B1            :       1",
      "Elements of level B2            :       1",
      "",
      padded("Kind of element", 55) + ": total  conv.   ign. errors   rest",
      padded("Circular arc") + "  G1         " + " 100" + "  :     1      1      0      0      0",
      padded("Point set") + "  G1    106     1  :     1      1      0      0      0",
      padded("Point set") + "  G1    106     2  :     1      1      0      0      0",
      padded("Witness line") + "  B2    106    40  :     1      0      1      0      1",
      padded("Copious data (other forms)") + "  G1          106  :     2      0      1      1      1",
      padded("Line") + "  G1          110  :     3      1      0      1      1",
      padded("General note (text)") + "  B1          212  :     1      1      0      0      0",
      padded("Group without back pointers") + "  G2    402     7  :     1      0      0      0      1",
      padded("Unknown type 9999") + "       9999        :     2      1      0      1      0",
      padded("Total", 53) + "  :    13      6      2      3      4",
      "",
      kRule,
  };
  ASSERT_EQ(lines.size(), first + table.size());
  for (std::size_t i = 0; i < table.size(); ++i) EXPECT_EQ(lines[first + i], table[i]) << i;
}

TEST_F(Statistics, ElementWithAnUnknownStateIsReportedAndCountedInItsTotalOnly) {
  add(110, 0, ElementState::kDone);
  add(110, 5, 'x');
  add(126, 0, '\0');
  testing::internal::CaptureStdout();
  EXPECT_EQ(statisticsComplete(), 3);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "sta151 : Element mit unbekanntem Status 120 (x) gefunden - Entity : 110 , Form : 5 , "
            "Index : 2\n"
            "sta151 : Element mit unbekanntem Status 0 (?) gefunden - Entity : 126 , Form : 0 , "
            "Index : 3\n");
  const std::vector<KindStatistics>& kinds = runStatistics().kinds;
  ASSERT_EQ(kinds.size(), 2u);
  EXPECT_EQ(kinds[0].total, 2);
  EXPECT_EQ(kinds[0].rest(), 1);
  EXPECT_EQ(kinds[1].rest(), 1);
}

TEST_F(Statistics, TextsComeFromTheMessageFileOfTheRunLanguage) {
  add(110, 0, ElementState::kDone);
  add(104, 1, ElementState::kDone);
  IgesCounts counts{1, 4, 20, 30, 1};
  StatisticsSources sources;
  sources.counts = &counts;
  const struct {
    const char* file;
    const char* title;
    const char* mode;
    const char* section;
    const char* line;
    const char* ellipse;
    const char* sum;
  } languages[] = {
      {"dt_de.msg", "Statistik der Konvertierung",
       "Konvertierungsart  : IGES-Eingabe (IGES -> KPL), Stufe G1B1 (0x000D)",
       "Start (S)                1  S\xe4tze", "Linie", "Ellipse", "Summe"},
      {"dt_en.msg", "Conversion statistics",
       "Conversion mode    : IGES input (IGES -> KPL), level G1B1 (0x000D)",
       "Start (S)                1  records", "Line", "Ellipse", "Total"},
  };
  for (const auto& language : languages) {
    mfaFree();
    load(language.file);
    statisticsComplete();  // the kind names are taken when the table is counted
    const std::vector<std::string> lines = linesOf(report(false, sources).protocol);
    EXPECT_EQ(lines[2], language.title) << language.file;
    EXPECT_EQ(lines[3], std::string(std::strlen(language.title), '=')) << language.file;
    EXPECT_EQ(lines[5], language.mode) << language.file;
    EXPECT_TRUE(hasLine(lines, language.section)) << language.file;
    EXPECT_TRUE(hasLine(lines, padded(language.ellipse) + "  G1    104     1  :     1      1      0      0      0"))
        << language.file;
    EXPECT_TRUE(hasLine(lines, padded(language.line) + "  G1          110  :     1      1      0      0      0"))
        << language.file;
    EXPECT_TRUE(hasLine(lines, padded(language.sum, 53) + "  :     2      2      0      0      0"))
        << language.file;
  }
  // Without message texts the report keeps its layout.
  mfaFree();
  statisticsComplete();
  const std::vector<std::string> bare = linesOf(report(false, sources).protocol);
  EXPECT_EQ(bare[2], "");
  EXPECT_TRUE(hasLine(bare, padded("") + "  G1          110  :     1      1      0      0      0"));
}

TEST_F(Statistics, NameTableAndToolkitLists) {
  runState().useToolkit = 1;
  mode(RunModeBit::kOutput | RunModeBit::kDxf | RunModeBit::kPlus);
  statisticsAddName("LAYER_A");
  statisticsAddName("B");
  statisticsAddName("LAYER_A");
  statisticsAddToolkitEntry(ToolkitList::kNotConverted, "HATCH", 3);
  statisticsAddToolkitEntry(ToolkitList::kNotConverted, std::string(60, 'x'), 1);
  statisticsAddToolkitEntry(ToolkitList::kNotConverted, "HATCH", 2);
  statisticsAddToolkitEntry(ToolkitList::kNotes, "note one", 0);
  statisticsAddToolkitEntry(ToolkitList::kNotes, "note one", 0);
  statisticsAddToolkitEntry(7, "never shown", 1);
  add(110, 0, ElementState::kDone);

  const std::vector<std::string> lines = linesOf(report(false).protocol);
  const int names = lineIndex(lines, "Names and counts");
  ASSERT_GT(names, 0);
  const std::string dashes(42, '-');
  const std::vector<std::string> expected = {
      kRule,
      "Names and counts",
      "================",
      padded("LAYER_A", 48) + " :    2",
      padded("B", 48) + " :    1",
      "",
      kRule,
      "Objects of the drawing database not converted",
      "=============================================",
      padded("HATCH", 48) + "5",
      std::string(60, 'x') + " 1",
      dashes,
      "Notes of the drawing database",
      "=============================",
      "note one",
      dashes,
      "",
      kRule,
      "",
      "Number of records",
  };
  for (std::size_t i = 0; i < expected.size(); ++i)
    EXPECT_EQ(lines[names - 1 + i], expected[i]) << i;
  EXPECT_FALSE(hasLine(lines, "never shown 1"));

  // Without the toolkit the lists are left out.
  runState().useToolkit = 0;
  EXPECT_FALSE(hasLine(linesOf(report(false).protocol), "Notes of the drawing database"));
  statisticsFinish();
  EXPECT_TRUE(runStatistics().names.empty());
  EXPECT_TRUE(runStatistics().toolkit[ToolkitList::kNotConverted].empty());
}

}  // namespace
