// Character tables of the fonts and the text conversion of the sending
// systems.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "driver/charset.h"
#include "driver/config.h"
#include "driver/messages.h"
#include "driver/run_state.h"

namespace {

namespace fs = std::filesystem;

class CharsetTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("trovak_charset_" + std::to_string(getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    resetRunState();
    resetRunConfiguration();
    resetCharacterTables();
    mfaResetRun();
    mfaSetMessageLevel(0);
    runState().runMode = RunModeBit::kInput;
    runPaths().assignDir = dir_.string() + "/";
  }
  void TearDown() override {
    resetCharacterTables();
    fs::remove_all(dir_);
  }

  void write(const char* name, const std::string& text) { std::ofstream(dir_ / name, std::ios::binary) << text; }
  static std::string converted(std::string text, int font) {
    convertText(text, font);
    return text;
  }
  int warnings() { return mfaCounts().warnings; }

  fs::path dir_;
};

TEST_F(CharsetTest, TablesKeepOnlyPairsInTheirRange) {
  write("font2.cfg",
        "/ comment 66,67\n65,66\n300,65\n254,88\n255,89\n31,70\nnonsense\n 97 , 98\n"
        "-99999999999999999999999,1\n99999999999999999999999,2\n66,\n");
  write("charset.cfg", "300,65\n-1,65\n65,321\n255,7\n");
  ASSERT_EQ(loadCharacterTable(2), 0);
  const CharacterTables& t = characterTables();
  EXPECT_EQ(t.currentFont, 2);
  EXPECT_EQ(t.current[33], 66);      // 'A' at index 65 - 32
  EXPECT_EQ(t.current[222], 88);     // 254, the last entry
  EXPECT_EQ(t.current[65], 98);      // blanks around the numbers
  EXPECT_EQ(converted("ACa", 2), "BCb");
  ASSERT_EQ(loadCharacterTable(0), 0);
  EXPECT_EQ(t.charset[65], 321 & 0xFF);  // only the low byte counts
  EXPECT_EQ(t.charset[255], 7);
  EXPECT_EQ(t.currentFont, 2);  // the charset table is no font

  // A text of another font reloads the current table; a missing file warns
  // once and leaves the printable characters alone.
  write("font3.cfg", "65,90\n");
  EXPECT_EQ(converted("AB", 3), "ZB");
  EXPECT_EQ(t.currentFont, 3);
  const int before = warnings();
  EXPECT_EQ(converted("A\x01" "B", 7), "A B");
  EXPECT_EQ(converted("AB", 7), "AB");
  EXPECT_EQ(warnings() - before, 1);
  EXPECT_EQ(t.currentFont, 3);

  // Symbol fonts have tables of their own.
  write("font1001.cfg", "65,35\n");
  EXPECT_EQ(converted("AA", 1001), "##");
  EXPECT_EQ(converted("A", 3), "Z");
}

TEST_F(CharsetTest, FontOneWithoutTableAndToolkitRuns) {
  // No font1.cfg: control characters become blanks, printable ones stay, and
  // no warning is given for font 1.
  int font = 1;
  unsigned char c = '\t';
  translateCharacter(c, font);
  EXPECT_EQ(c, ' ');
  EXPECT_EQ(font, 1);
  EXPECT_EQ(converted("x\x7f" "y\xE9", 1), "x y\xE9");
  EXPECT_EQ(characterTables().font1Missing, 1);
  EXPECT_EQ(warnings(), 0);

  // DXF runs read font 1 from font.cfg.
  resetCharacterTables();
  runState().runMode = RunModeBit::kInput | RunModeBit::kDxf;
  write("font.cfg", "66,67\n");
  EXPECT_EQ(converted("AB", 1), "AC");

  // Toolkit input: the charset table maps back from the exchange code.
  resetCharacterTables();
  runState().useToolkit = 1;
  write("charset.cfg", "200,65\n201,300\n");
  EXPECT_EQ(converted("AB", 1), std::string("\xC8" "B"));
  EXPECT_EQ(characterTables().charset[65], 200);
  // Toolkit output: the pair maps forward.
  resetCharacterTables();
  runState().runMode = RunModeBit::kOutput;
  EXPECT_EQ(converted("\xC9", 1), std::string(1, static_cast<char>(300 & 0xFF)));
  // Other fonts keep their characters in a toolkit run; the file is read once.
  write("font1001.cfg", "65,66\n");
  EXPECT_EQ(converted("A\x02", 1001), "A ");
  fs::remove(dir_ / "font1001.cfg");
  EXPECT_EQ(converted("A", 1001), "A");
  EXPECT_EQ(warnings(), 0);

  // A toolkit run without charset table: one warning for the text, not one
  // for each of its characters.
  resetCharacterTables();
  fs::remove(dir_ / "charset.cfg");
  EXPECT_EQ(converted("AB\x01", 1), "AB ");
  EXPECT_EQ(converted("CD", 1), "CD");
  EXPECT_EQ(warnings(), 1);
}

TEST_F(CharsetTest, EscapesOfTheSendingSystems) {
  // Without font tables every printable character passes unchanged.
  runState().senderCode = 1;
  EXPECT_EQ(converted("@T", 1), "\xDC");
  EXPECT_EQ(converted("@65", 1), "A");
  EXPECT_EQ(converted("@1", 1), "\xDF");       // the letter of the table
  EXPECT_EQ(converted("@12", 1), "\x0C");      // two digits are a code
  EXPECT_EQ(converted("@2550", 1), "\x19" "50");  // 255 is no code: the longest that is
  EXPECT_EQ(converted("@0x", 1), "@0x");
  EXPECT_EQ(converted("@+-0.1", 1), "@+-0.1");
  EXPECT_EQ(converted("^`C ^65", 1), "\xB0" "C A");
  EXPECT_EQ(converted("$H$10 $T$ $5$ $X$", 1), "\xD8" "10 \x18 \x05 $X$");
  EXPECT_EQ(converted("a@Su@S", 1), "\xE4\xFC");  // letter and combining character
  EXPECT_EQ(converted("x@S", 1), "x\xC8");
  EXPECT_EQ(converted("%%d%%P%%c%%#%%%%%u5%%065", 1), "\x1E\x1F\xD8\x18%5A");
  EXPECT_EQ(converted("@", 1), "@");

  // Sender 2 knows no "%%" escapes; sender 9 writes "@" for plus-minus.
  runState().senderCode = 2;
  EXPECT_EQ(converted("%%d @T", 1), "%%d @T");
  runState().senderCode = 9;
  EXPECT_EQ(converted("1@0.1 %%d", 1), "1\xB1" "0.1 \x1E");
  runState().senderCode = 99;
  EXPECT_EQ(converted("@T %%", 1), "@T %%");
  EXPECT_EQ(converted("o\xC8 \xE4", 1), "\xF6 \xE4");

  // Umlauts pass even a table that maps everything else.
  write("font1.cfg", "65,66\n228,65\n");
  resetCharacterTables();
  EXPECT_EQ(converted("A\xE4", 1), "B\xE4");
}

TEST_F(CharsetTest, FontNamesOfTheSendingSystem) {
  write("fontname.cfg", "/ comment\nSTD,iso_3098\n,empty\nnocomma\nRoman,roman_simplex\n");
  EXPECT_EQ(cadFontName("STD"), "iso_3098");
  EXPECT_EQ(cadFontName("Roman"), "roman_simplex");
  EXPECT_EQ(cadFontName("std"), "std");
  EXPECT_EQ(cadFontName(""), "");
  EXPECT_EQ(characterTables().fontNames.size(), 2u);
}

TEST_F(CharsetTest, InstalledTablesAreReadable) {
  const fs::path installed = fs::path(TROVAK_SOURCE_DIR) / "ririzidedareru" / "assign" / "iges";
  if (!fs::exists(installed / "font1.cfg")) GTEST_SKIP() << "no installation data";
  runPaths().assignDir = installed.string() + "/";
  EXPECT_EQ(loadCharacterTable(1), 0);
  EXPECT_EQ(loadCharacterTable(0), 0);
  EXPECT_EQ(loadCharacterTable(1003), 0);
  EXPECT_EQ(converted("Ab~\xB0", 1), "Ab~\xB0");
  EXPECT_EQ(cadFontName("X"), "X");
}

}  // namespace
