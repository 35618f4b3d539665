// The start-up data file DWGINIT.DAT: the entries it holds, the lines it
// refuses, and the toolkit's start on a program directory with a good, a
// bad or no file.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <utility>
#include <tuple>

#include "dwg/start_data.h"
#include "dwg/toolkit.h"

namespace {

using M = int;
namespace Msg = DwgStartMessage;

TEST(StartData, GoodLines) {
  const std::string text =
      "# head\r\n"
      "\n"
      "   // another comment\n"
      "LineType  dashdot2 \"Dash, dot\" 5 -2 0 -2\n"
      "linetype\tsolid\t\"\"\n"
      "layer Outline 3 DASHDOT2\n"
      "LAYER 0 1 continuous\n"
      "textstyle ROMAN romans 0.8 2.5";
  DwgStartData data;
  DwgStartProblem problem;
  ASSERT_TRUE(DwgStart::parse(text, data, problem)) << problem.message << " line " << problem.line;
  ASSERT_EQ(data.linetypes.size(), 2u);
  EXPECT_EQ(std::tuple(data.linetypes[0].name, data.linetypes[0].description, data.linetypes[0].dashes),
            std::tuple("dashdot2", "Dash, dot", (std::vector<double>{5, -2, 0, -2})));
  // An empty quoted description is no word: the solid line has only a name.
  EXPECT_EQ(data.linetypes[1].description, "");
  ASSERT_EQ(data.layers.size(), 2u);
  EXPECT_EQ(std::tuple(data.layers[0].name, data.layers[0].colourIndex, data.layers[1].linetype, data.textStyle.name),
            std::tuple("Outline", 3, "continuous", "ROMAN"));
  EXPECT_DOUBLE_EQ(data.textStyle.widthFactor, 0.8);
  EXPECT_DOUBLE_EQ(data.textStyle.height, 2.5);
}

TEST(StartData, RefusedLines) {
  const std::string longName(DwgStart::kNameLength + 1, 'N');
  const std::string tooManyDashes = "linetype L \"d\" 1 -1 1 -1 1 -1 1 -1 1 -1 1 -1 1\n";
  const struct {
    std::string text;
    M message;
    long line;
  } cases[] = {
      {"# ok\nlinetyp X \"d\"\n", Msg::kUnknownKeyword, 2},
      {"linetype\n", Msg::kArgumentCount, 1},
      {tooManyDashes, Msg::kArgumentCount, 1},
      {"linetype X \"d\" 1 -1 abc\n", Msg::kBadValue, 1},
      {"linetype X \"d\" nan\n", Msg::kBadValue, 1},
      {"linetype X \"d\" 1e7\n", Msg::kBadValue, 1},
      {"linetype X \"d\" 1 -1\nlinetype x \"e\"\n", Msg::kBadName, 2},
      {"linetype " + longName + " \"d\"\n", Msg::kBadName, 1},
      {"linetype X \"" + std::string(DwgStart::kDescriptionLength + 1, 'd') + "\"\n", Msg::kBadName, 1},
      {"linetype \"A\x01" "B\" \"d\"\n", Msg::kBadName, 1},
      {"layer 0 7\n", Msg::kArgumentCount, 1},
      {"layer 0 0 CONTINUOUS\n", Msg::kBadValue, 1},
      {"layer 0 256 CONTINUOUS\n", Msg::kBadValue, 1},
      {"layer 0 7x CONTINUOUS\n", Msg::kBadValue, 1},
      {"layer 0 99999999999999999999 CONTINUOUS\n", Msg::kBadValue, 1},
      {"layer 0 7 DASHED\nlinetype DASHED \"d\" 1 -1\n", Msg::kUnknownLinetype, 1},
      {"layer A 7 CONTINUOUS\nlayer a 1 CONTINUOUS\n", Msg::kBadName, 2},
      {"textstyle S f 1\n", Msg::kArgumentCount, 1},
      {"textstyle S f 0 0\n", Msg::kBadValue, 1},
      {"textstyle S f 1 -1\n", Msg::kBadValue, 1},
      {"textstyle S f 1 0\ntextstyle T f 1 0\n", Msg::kBadName, 2},
      {"\n\n" + std::string(DwgStart::kLineLength + 1, '#') + "\n", Msg::kLineTooLong, 3},
      {"linetype X \"d\" " + std::string(40, '1') + "\n", Msg::kBadValue, 1},
  };
  for (const auto& c : cases) {
    DwgStartData data;
    DwgStartProblem problem;
    EXPECT_FALSE(DwgStart::parse(c.text, data, problem)) << c.text;
    EXPECT_EQ(problem.message, c.message) << c.text;
    EXPECT_EQ(problem.line, c.line) << c.text;
  }
}

TEST(StartData, SizeAndEntriesAreBounded) {
  DwgStartData data;
  DwgStartProblem problem;
  std::string many;
  for (std::size_t i = 0; i <= DwgStart::kMostEntries; ++i) many += "linetype L" + std::to_string(i) + " \"d\"\n";
  EXPECT_FALSE(DwgStart::parse(many, data, problem));
  EXPECT_EQ(problem.message, Msg::kTooLarge);
  EXPECT_EQ(problem.line, static_cast<long>(DwgStart::kMostEntries + 1));

  data = {};
  const std::string huge(DwgStart::kMostBytes + 1, '\n');
  EXPECT_FALSE(DwgStart::parse(huge, data, problem));
  EXPECT_EQ(problem.message, Msg::kTooLarge);
}

// A program directory of its own with a data tree.
class ProgramDirectory : public ::testing::Test {
 protected:
  void SetUp() override {
    char name[] = "/tmp/dwg_start_XXXXXX";
    ASSERT_NE(mkdtemp(name), nullptr);
    dir_ = name;
    ASSERT_EQ(mkdir((dir_ + "/ririzidedareru").c_str(), 0755), 0);
  }
  void TearDown() override {
    std::remove(file().c_str());
    rmdir(file().c_str());
    rmdir((dir_ + "/ririzidedareru").c_str());
    rmdir(dir_.c_str());
  }
  std::string file() const { return dir_ + "/ririzidedareru/DWGINIT.DAT"; }
  void write(const std::string& text) {
    std::ofstream out(file(), std::ios::binary);
    out << text;
  }
  // Runs the start; returns its result and what it printed.
  std::pair<int, std::string> start(int useToolkit, bool german) {
    std::FILE* out = std::tmpfile();
    const int result = initialiseToolkit(useToolkit, german, dir_ + "/", out);
    std::string printed;
    std::rewind(out);
    for (int c; (c = std::fgetc(out)) != EOF;) printed += static_cast<char>(c);
    std::fclose(out);
    return {result, printed};
  }
  std::string dir_;
};

TEST_F(ProgramDirectory, StartReadsTheFileOrRefusesTheRun) {
  constexpr char kEnglish[] = "-> DWG-Toolkit error !\n   file DWGINIT.DAT not found !!!\n\n";
  constexpr char kGerman[] =
      "-> Fehler beim Initialisieren des DWG-Toolkit's !\n"
      "   M\xf6glicherweise wurde die Datei DWGINIT.DAT nicht gefunden !!!\n\n";
  using R = std::pair<int, std::string>;
  // No toolkit in the run: nothing is read.  Missing file.
  EXPECT_EQ(start(0, false), R(0, ""));
  EXPECT_EQ(start(1, false), R(-1, kEnglish));
  EXPECT_EQ(start(1, true), R(-1, kGerman));
  // A folder in its place is no file.
  ASSERT_EQ(mkdir(file().c_str(), 0755), 0);
  EXPECT_EQ(start(1, false), R(-1, kEnglish));
  ASSERT_EQ(rmdir(file().c_str()), 0);
  // Damaged: the line and what is wrong, then the toolkit's message.
  write("linetype A \"a\"\nlayer 0 7 NOSUCH\n");
  EXPECT_EQ(start(1, false), R(-1, "-> The start-up file " + file() +
                                       " is damaged, line 2: the layer's linetype is not defined before\n" + kEnglish));
  EXPECT_EQ(start(1, true).second, "-> Die Startdatei " + file() +
                                       " ist fehlerhaft, Zeile 2: der Linientyp des Layers ist nicht "
                                       "vorher definiert\n" + kGerman);
  // Good: read into the run's start-up data, nothing printed.
  write("linetype A \"a\" 1 -1\nlayer 0 2 A\n");
  EXPECT_EQ(start(1, false), R(0, ""));
  ASSERT_EQ(dwgStartData().layers.size(), 1u);
  EXPECT_EQ(dwgStartData().layers[0].colourIndex, 2);
  dwgStartData() = {};
}

}  // namespace
