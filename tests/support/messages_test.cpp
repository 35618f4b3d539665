// The numbered message facility: loading, expansion, headers, channels,
// levels, counters and position lines.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "support/messages.h"
#include "support/run_state.h"

namespace {

// Loads a message table from text through a temporary stream.
void loadTable(const std::string& text) {
  std::FILE* f = std::tmpfile();
  ASSERT_NE(f, nullptr);
  std::fputs(text.c_str(), f);
  std::rewind(f);
  ASSERT_EQ(mfaLoadStream(f), 0);
  std::fclose(f);
}

const char* kTable =
    "90 FEHLER\n91 WARNUNG\n92 HINWEIS\n93 in Funktion\n"
    "100 Text hundert\n"
    "101 &i01 of &i02\n"
    "121 Datei: &t01\n"
    "860 Wert falsch in &t01\n"
    "910 Pos3 &i01 &i02 &i03 &t01\n"
    "911 Pos &i01 &i02 &i03 &t01\n"
    "914 Zeile &i01\n"
    "1329 Element &i01\n";

class Messages : public ::testing::Test {
 protected:
  void SetUp() override {
    mfaResetRun();
    loadTable(kTable);
  }
  void TearDown() override {
    mfaResetRun();
    mfaFree();
  }
};

std::string readAll(std::FILE* f) {
  std::rewind(f);
  std::string s;
  for (int c; (c = std::fgetc(f)) != EOF;) s.push_back(static_cast<char>(c));
  return s;
}

TEST_F(Messages, LoadSkipsLinesWithoutNumberAndKeepsFirstEntry) {
  loadTable("# comment\n\n0 zero\nabc text\n  7 seven\n7 second seven\n-3 negative\n12\n");
  EXPECT_EQ(mfaTextCount(), 3);  // 7, 7 and 12 (empty text)
  EXPECT_EQ(mfaTextOf(7), "seven");
  EXPECT_EQ(mfaTextOf(12), "");
  EXPECT_EQ(mfaTextOf(0), "");
}

// Texts are found through an index by number: it must follow each load
// and forget the numbers of the table before.
TEST_F(Messages, EachLoadAnswersFromItsOwnTable) {
  loadTable("7 seven\n32767 last\n7 other seven\n");
  EXPECT_EQ(mfaTextOf(7), "seven");
  EXPECT_EQ(mfaTextOf(32767), "last");
  EXPECT_EQ(mfaTextOf(100), "");
  EXPECT_EQ(mfaTextOf(-7), "");
  EXPECT_EQ(mfaTextOf(40000), "");
  loadTable("100 again hundred\n");
  EXPECT_EQ(mfaTextOf(100), "again hundred");
  EXPECT_EQ(mfaTextOf(7), "");
  EXPECT_EQ(mfaTextOf(32767), "");
  // A run's reset keeps the loaded table and what it answers.
  mfaResetRun();
  EXPECT_EQ(mfaTextOf(100), "again hundred");
}

TEST_F(Messages, OverLongLineIsCutAndItsRestNeverBecomesALine) {
  const std::string longText(400, 'x');
  loadTable("5 " + longText + "123 tail\n6 six\n");
  EXPECT_EQ(mfaTextOf(5).size(), kMessageLineLength - 2);
  EXPECT_EQ(mfaTextOf(6), "six");
  EXPECT_EQ(mfaTextCount(), 2);
  // Too long for the shown texts: the message prints empty.
  EXPECT_EQ(mfaMessageText(5), "");
}

TEST_F(Messages, MoreThanOneThousandEntriesKeepTheFirstThousand) {
  std::string text;
  for (int i = 1; i <= 1200; ++i) text += std::to_string(i) + " t" + std::to_string(i) + "\n";
  testing::internal::CaptureStderr();
  loadTable(text);
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(mfaTextCount(), kMaxMessageTexts);
  EXPECT_EQ(mfaTextOf(1000), "t1000");
  EXPECT_EQ(mfaTextOf(1001), "");
  EXPECT_NE(err.find("mfa000 : Fehlermeldungsanzahl zu gross (> MAXM_MELD_TEXT)"), std::string::npos);
}

TEST_F(Messages, MissingFileLeavesTheTableEmpty) {
  EXPECT_LT(mfaLoad("/nonexistent/dt_xx.msg"), 0);
  EXPECT_EQ(mfaTextCount(), 0);
  EXPECT_EQ(mfaMessageText(100), "");
}

TEST(MessageFormat, Placeholders) {
  struct Case {
    const char* text;
    std::vector<long> ints;
    const char* arg;
    const char* expected;
  } cases[] = {
      {"&i01 of &i02", {3, 7}, "", "3 of 7"},
      {"name &t01!", {}, "abc", "name abc!"},
      {"&x01 stays", {}, "", "&x01 stays"},
      {"lit \\&i01", {5}, "", "lit &i01"},
      {"missing &i01", {}, "", "missing "},
      {"end &", {}, "", "end &"},
  };
  for (const Case& c : cases) {
    char out[64];
    const std::size_t n = mfaFormat(c.text, c.ints, c.arg, out, sizeof out);
    EXPECT_EQ(std::string(out, n), c.expected) << c.text;
  }
  char small[5];
  EXPECT_EQ(mfaFormat("&t01", {}, "abcdefgh", small, sizeof small), 4u);
  EXPECT_STREQ(small, "abcd");
}

TEST_F(Messages, TextCopyRespectsMaximumLength) {
  char buffer[8];
  std::size_t length = 99;
  EXPECT_EQ(mfaText(90, 7, length, buffer), 0);
  EXPECT_STREQ(buffer, "FEHLER");
  EXPECT_EQ(length, 6u);
  EXPECT_EQ(mfaText(100, 7, length, buffer), -1);
  EXPECT_STREQ(buffer, "");
  EXPECT_EQ(mfaText(4711, 7, length, buffer), -1);
}

TEST_F(Messages, HeaderAndBadValueLayouts) {
  // A header names the function; the time stamp may change between the
  // calls, so the lines are compared around it.
  testing::internal::CaptureStderr();
  mfaError("abc123", 100, Channel::kConsole);
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(err.rfind("\nFEHLER (100) in Funktion abc123, ", 0), 0u) << err;
  EXPECT_NE(err.find("\nText hundert\n"), std::string::npos);

  // A bad value: header word, number and time stamp on one line, then the
  // text and the key of the bad value; no "in Funktion" line, whichever way
  // it is reported.
  const auto check = [](const std::string& err) {
    EXPECT_EQ(err.rfind("\nWARNUNG (860), ", 0), 0u) << err;
    EXPECT_EQ(err.find("in Funktion"), std::string::npos) << err;
    const std::string tail = "\nWert falsch in global.cfg : MAXM_SPLI_FAKT\n";
    ASSERT_GE(err.size(), tail.size());
    EXPECT_EQ(err.substr(err.size() - tail.size()), tail) << err;
  };
  mfaSetCurrentName("global.cfg");
  testing::internal::CaptureStderr();
  mfaWarning("MAXM_SPLI_FAKT", 860, Channel::kConsoleOnly);
  check(testing::internal::GetCapturedStderr());
  testing::internal::CaptureStderr();
  mfaReport("MAXM_SPLI_FAKT", 860, Channel::kConsoleOnly, Severity::kWarning, {}, {}, "global.cfg", nullptr);
  check(testing::internal::GetCapturedStderr());
  EXPECT_EQ(mfaCounts().warnings, 2);
}

TEST_F(Messages, LevelFiltersButCountingHappensFirst) {
  mfaSetMessageLevel(1);
  testing::internal::CaptureStderr();
  mfaError("a", 100, 0);
  mfaWarning("a", 100, 0);
  mfaNote("a", 100, 0);
  mfaReport("a", 100, 0, Severity::kWarning, {}, {}, "", nullptr);
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("FEHLER (100)"), std::string::npos);
  EXPECT_EQ(err.find("WARNUNG"), std::string::npos);
  EXPECT_EQ(err.find("HINWEIS"), std::string::npos);
  const MessageCounts c = mfaCounts();
  EXPECT_EQ(c.errors, 1);
  EXPECT_EQ(c.warnings, 2);
  EXPECT_EQ(c.notes, 1);
  mfaSetMessageLevel(-1);
  testing::internal::CaptureStderr();
  mfaReport("a", 100, 0, Severity::kPlain, {}, {}, "", nullptr);
  mfaError("a", 100, 0);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

TEST_F(Messages, Channels) {
  // No protocol open: the protocol channel goes to the console.
  testing::internal::CaptureStderr();
  mfaReport("a", 100, Channel::kProtocol, Severity::kPlain, {}, {}, "", nullptr);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Text hundert\n");

  std::FILE* protocol = std::tmpfile();
  ASSERT_NE(protocol, nullptr);
  mfaSetProtocolFile(protocol);
  struct Case {
    int channel;
    bool console;
    bool file;
  } cases[] = {{0, true, false}, {8, true, false}, {1, false, true},
               {22, false, true}, {2, true, true},  {50, true, true}};
  for (const Case& c : cases) {
    std::fflush(protocol);
    const std::string before = readAll(protocol);
    std::fseek(protocol, 0, SEEK_END);
    testing::internal::CaptureStderr();
    mfaReport("a", 100, c.channel, Severity::kPlain, {}, {}, "", nullptr);
    const std::string err = testing::internal::GetCapturedStderr();
    std::fflush(protocol);
    const std::string after = readAll(protocol);
    std::fseek(protocol, 0, SEEK_END);
    EXPECT_EQ(err == "Text hundert\n", c.console) << c.channel;
    EXPECT_EQ(after.size() > before.size(), c.file) << c.channel;
  }
  mfaSetProtocolFile(nullptr);
  std::fclose(protocol);
}

TEST_F(Messages, PositionLinesOfTheContext) {
  mfaSetPositionNumbers(5, 9, 0);
  testing::internal::CaptureStderr();
  mfaError("a", 100, 0);
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("Text hundert\nPos 5 9  \n\n"), std::string::npos) << err;

  mfaSetDxfRun(true);
  testing::internal::CaptureStderr();
  mfaWarning("a", 100, 0);
  err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("Text hundert\nZeile 9\n\n"), std::string::npos) << err;
  // A drawing read through the toolkit numbers its entities, not lines.
  mfaSetDrawingRun(true);
  testing::internal::CaptureStderr();
  mfaWarning("a", 100, 0);
  err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("Text hundert\nElement 9\n\n"), std::string::npos) << err;
  mfaSetDrawingRun(false);
  mfaSetDxfRun(false);

  // Notes clear the first number and never carry a position line.
  testing::internal::CaptureStderr();
  mfaNote("a", 100, 0);
  err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(err.find("Pos"), std::string::npos) << err;

  // Silent: nothing printed, still counted.
  mfaSetPositionSilent();
  const int errors = mfaCounts().errors;
  testing::internal::CaptureStderr();
  mfaError("a", 100, 0);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(mfaCounts().errors, errors + 1);
}

TEST_F(Messages, ReportSeveritiesAndPositions) {
  struct Case {
    int severity;
    MessagePosition position;
    const char* expectedTail;
  } cases[] = {
      {Severity::kError, {1, 2, 3, 0, "X"}, "3 of 7\nPos3 1 2 3 X\n"},
      {Severity::kWarning, {0, 2, 3, 2, ""}, "3 of 7\nPos 2 3  DIRECTORY\n"},
      {Severity::kNote, {0, 0, 0, 0, ""}, "3 of 7\n"},
  };
  const char* headers[] = {"", "FEHLER", "WARNUNG", "HINWEIS"};
  for (const Case& c : cases) {
    testing::internal::CaptureStderr();
    mfaReport("xyz001", 101, 0, c.severity, {3, 7}, {}, "", &c.position);
    const std::string err = testing::internal::GetCapturedStderr();
    const std::string head = std::string("\n") + headers[c.severity] + " (101) in Funktion xyz001, ";
    EXPECT_EQ(err.rfind(head, 0), 0u) << err;
    const std::string tail = c.expectedTail;
    ASSERT_GE(err.size(), tail.size());
    EXPECT_EQ(err.substr(err.size() - tail.size()), tail) << err;
  }
  testing::internal::CaptureStderr();
  mfaReport("xyz001", 101, 0, Severity::kPlain, {1, 2}, {}, "", nullptr);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "1 of 2\n");
}

TEST_F(Messages, ReportArgsTakesContextNumbersAboveTheLimit) {
  mfaSetPositionNumbers(11, 22, 33);
  const long ints[] = {4, 5};
  MessagePosition position{kPositionFromContext + 1, 7, kPositionFromContext + 1, 3, ""};
  testing::internal::CaptureStderr();
  mfaReportArgs("a", 101, 0, Severity::kPlain, 2, ints, 0, nullptr, "", &position);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "4 of 5\nPos3 11 7 33 PARAMETER\n");
  testing::internal::CaptureStderr();
  mfaReportArgs("a", 101, 0, Severity::kPlain, -4, nullptr, 0, nullptr, "", nullptr);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), " of \n");
}

TEST_F(Messages, MessageTextTakesArgumentsFromTheContext) {
  mfaSetCurrentName("a.igs");
  EXPECT_EQ(mfaMessageText(121), "Datei: a.igs");
  mfaSetPositionNumbers(1, 2, 3);
  EXPECT_EQ(mfaMessageText(911), "Pos 1 2 3 ");
  EXPECT_EQ(mfaMessageText(914), "Zeile 2");
  EXPECT_EQ(mfaMessageText(4711), "");
}

// The built-in texts stand in while no message file is loaded (what a run
// without its message file prints is checked on runs of the program, in
// cli/installation).
TEST(MessagesWithoutFile, BuiltInTextsServeOnlyWhileNoFileIsLoaded) {
  mfaResetRun();
  mfaFree();
  resetRunState();
  runState().language = "english";
  EXPECT_EQ(mfaTextOf(91), "WARNING");
  EXPECT_NE(mfaTextOf(990), "");
  // A loaded file that lacks a number leaves its text empty.
  loadTable("90 F\n");
  EXPECT_EQ(mfaTextOf(990), "");
  EXPECT_EQ(mfaTextOf(90), "F");
  mfaFree();
  EXPECT_EQ(mfaTextOf(91), "WARNING");
  resetRunState();
}

}  // namespace
