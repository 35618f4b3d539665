// The installed message files: a text for every number in use, texts short
// enough to be shown, single-byte texts, and keyed files for the DWG
// directions.
#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <string>

#include "support/builtin_texts.h"
#include "support/ide_msg.h"
#include "support/message_numbers.h"
#include "support/messages.h"

namespace {

const std::string kDir = std::string(TROVAK_SOURCE_DIR) + "/ririzidedareru/msc/";

std::set<int> numbersInUse() {
  std::set<int> numbers;
  std::ifstream in(kDir + "numbers.txt");
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    numbers.insert(std::stoi(line));
  }
  return numbers;
}

bool isUtf8Multibyte(const std::string& text) {
  for (std::size_t i = 0; i + 1 < text.size(); ++i) {
    const unsigned char a = static_cast<unsigned char>(text[i]);
    const unsigned char b = static_cast<unsigned char>(text[i + 1]);
    if ((a == 0xC3 || a == 0xC2) && b >= 0x80 && b <= 0xBF) return true;
  }
  return false;
}

TEST(MessageFiles, EveryNumberInUseHasAShownText) {
  const std::set<int> numbers = numbersInUse();
  ASSERT_GT(numbers.size(), 100u);
  for (const char* file : {"dt_de.msg", "dt_en.msg"}) {
    mfaFree();
    ASSERT_EQ(mfaLoad(kDir + file), 0) << file;
    EXPECT_EQ(mfaTextCount(), static_cast<int>(numbers.size())) << file;
    for (int n : numbers) {
      char buffer[kMessageTextLength + 1];
      std::size_t length = 0;
      EXPECT_EQ(mfaText(n, kMessageTextLength, length, buffer), 0) << file << " " << n;
      EXPECT_GT(length, 0u) << file << " " << n;
      EXPECT_FALSE(isUtf8Multibyte(buffer)) << file << " " << n;
    }
  }
  mfaFree();
}

TEST(MessageFiles, BuiltInTextsAgreeWithTheFiles) {
  // The built-in texts stand in for the files; they must say the same.
  const int numbers[] = {90, 91, 92, 93, 990, 991, 992, 993, 994, 995, 996, 997, 998, 999};
  for (const bool german : {true, false}) {
    mfaFree();
    ASSERT_EQ(mfaLoad(kDir + (german ? "dt_de.msg" : "dt_en.msg")), 0);
    for (int n : numbers) {
      ASSERT_NE(builtinText(n, german), nullptr) << n;
      EXPECT_EQ(mfaTextOf(n), builtinText(n, german)) << n;
    }
  }
  mfaFree();
}

TEST(MessageFiles, TheProgramKnowsEveryNumberInUse) {
  std::size_t count = 0;
  const int* numbers = messageNumbersInUse(count);
  EXPECT_EQ(std::set<int>(numbers, numbers + count), numbersInUse());
  mfaFree();
  ASSERT_EQ(mfaLoad(kDir + "dt_en.msg"), 0);
  EXPECT_EQ(mfaFirstMissingText(numbers, count), 0);
  mfaLoadStream(nullptr);
  ASSERT_EQ(mfaTextCount(), 0);
  EXPECT_EQ(mfaFirstMissingText(numbers, count), numbers[0]);
  mfaFree();
}

// The keyed files of the DWG directions (their keys are checked against the
// program's in tests/dwg): single-byte texts that the keyed messages load.
TEST(MessageFiles, KeyedFilesAreSingleByteAndLoad) {
  for (const char* file : {"dwg_ge.msg", "dwg_en.msg"}) {
    std::ifstream in(kDir + file);
    ASSERT_TRUE(in) << file;
    for (std::string line; std::getline(in, line);) EXPECT_FALSE(isUtf8Multibyte(line)) << line;
  }
  ideMsgReset();
  ASSERT_EQ(ideMsgLoad(kDir + "dwg_en.msg"), 0);
  EXPECT_EQ(ideMsgText("_HeaderMsgWarn", "x"), "Warning: ");
  EXPECT_EQ(ideMsgText("DwgIn::ReadFile_1", "x"), "Cannot load AC file ");
  ideMsgReset();
}

}  // namespace
