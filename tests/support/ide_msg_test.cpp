// The keyed messages of the DWG directions.
#include <gtest/gtest.h>

#include "support/ide_msg.h"

namespace {

class IdeMsg : public ::testing::Test {
 protected:
  void SetUp() override { ideMsgReset(); }
  void TearDown() override { ideMsgReset(); }
};

TEST_F(IdeMsg, TextLookup) {
  ideMsgLoadText(
      "DwgIn::init - Pfad fehlt~~\r\n"
      "DwgIn::ReadFile_1\t\t-Datei nicht ladbar~\n"
      "DwgIn::ReadFile_1 -second line loses\n"
      "Key-With-Dash - dashed\n"
      "NoDash text\n");
  const struct {
    const char* key;
    const char* expected;
  } cases[] = {
      {"DwgIn::init", " Pfad fehlt  "},
      {"DwgIn::ReadFile_1", "Datei nicht ladbar "},
      {"DwgIn::ReadFile", "default~"},  // a longer key on the line is no match
      {"Key-With-Dash", " dashed"},
      {"NoDash", "default~"},
      {"Unknown", "default~"},
  };
  for (const auto& c : cases) {
    const std::string expected = std::string(c.expected) == "default~" ? "default " : c.expected;
    EXPECT_EQ(ideMsgText(c.key, "default~"), expected) << c.key;
  }
}

TEST_F(IdeMsg, EmitHeadersContinuationAndThreshold) {
  testing::internal::CaptureStderr();
  ideMsgReport(IdeSeverity::kError, "none", "Cannot load AC file~", "a.dwg");
  ideMsgPut(std::string("second"));
  ideMsgEmit(IdeSeverity::kContinue);
  ideMsgReport(IdeSeverity::kNote, "none", "n");
  ideMsgReport(IdeSeverity::kWarning, "none", "w");
  ideMsgReport(IdeSeverity::kProgramError, "none", "p");
  ideMsgReport(IdeSeverity::kFatal, "none", "f");
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Error: Cannot load AC file a.dwg\n       second\nNote: n\nWarning: w\n"
            "Program Error: p\nFatal Error: f\n");

  ideMsgSetThreshold(ideMsgThresholdForLevel(1));
  testing::internal::CaptureStderr();
  EXPECT_EQ(ideMsgReport(IdeSeverity::kWarning, "none", "dropped"), 0);
  EXPECT_EQ(ideMsgEmit(IdeSeverity::kContinue), 0);  // continues a dropped warning
  EXPECT_EQ(ideMsgReport(IdeSeverity::kError, "none", "kept"), 1);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Error: kept\n");
}

TEST_F(IdeMsg, StreamIsBounded) {
  ideMsgPut(std::string(2000, 'a'));
  testing::internal::CaptureStderr();
  ideMsgEmit(IdeSeverity::kNote);
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(err.size(), std::string("Note: ").size() + kIdeMsgStreamSize - 1 + 1);
}

TEST_F(IdeMsg, Commands) {
  testing::internal::CaptureStderr();
  EXPECT_EQ(ideMsgCommand({"reset"}), 0);
  EXPECT_EQ(ideMsgCommand({"msgApp", "hello", "world"}), 0);
  ideMsgPut(std::string("discarded"));
  EXPECT_EQ(ideMsgCommand({"flush"}), 0);
  EXPECT_EQ(ideMsgCommand({}), -1);
  EXPECT_EQ(ideMsgCommand({"bogus"}), -1);
  ideMsgLoadText("a -1\nb -2\n");
  EXPECT_EQ(ideMsgCommand({"reset"}), 0);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "no internal messages present\nError: hello world\nError: mode missing for msg\n"
            "Error: invalid argument for msg: bogus\na -1\nb -2\n");
}

TEST_F(IdeMsg, LoadFailureWarnsAndKeepsDefaults) {
  testing::internal::CaptureStderr();
  EXPECT_EQ(ideMsgLoad("/nonexistent/dwg_ge.msg"), -1);
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(err.rfind("Warning: unable to obtain status of message file /nonexistent/dwg_ge.msg. "
                      "Using defaults (english) \n",
                      0),
            0u)
      << err;
  EXPECT_NE(err.find("System errno is "), std::string::npos);
  testing::internal::CaptureStderr();
  EXPECT_EQ(ideMsgLoad("/tmp"), -1);  // a directory is no message file
  EXPECT_NE(testing::internal::GetCapturedStderr().find("can not open /tmp"), std::string::npos);
  EXPECT_EQ(ideMsgText("DwgIn::init", "Installation pathname missing. Can not continue!"),
            "Installation pathname missing. Can not continue!");
}

}  // namespace
