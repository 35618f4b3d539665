// The section files of the IGES writer as a set: made under unpredictable
// names with mode 0600, so a name taken before neither stops the opening nor
// is touched; a writer reset in the middle of a run removes its files and
// frees their names.

#include "iges_out/section_files.h"

#include <gtest/gtest.h>

#include <string>

#include "iges_out/iges_writer.h"
#include "iges_out/section_files_fixture.h"
#include "support/config.h"
#include "support/messages.h"

namespace {

struct WriterCase {
  const char* name;
  int (*open)();
  void (*reset)();
  std::string RunPaths::*files[5];
};

const WriterCase kWriters[] = {
    {"IGES",
     openSectionFiles,
     resetIgesWriter,
     {&RunPaths::igesStartFile, &RunPaths::igesGlobalFile, &RunPaths::igesDirectoryFile,
      &RunPaths::igesParameterFile, &RunPaths::igesTerminateFile}},
};

class SectionFileSetTest : public SectionFilesTest {
 protected:
  void SetUp() override {
    resetRunConfiguration();
    mfaResetCounts();
    resetIgesWriter();
    makeScratch("trovak_section_set_test");
  }
  void TearDown() override {
    resetIgesWriter();
    removeAllSectionFiles();
    resetRunConfiguration();
    removeScratch();
  }
};

TEST_F(SectionFileSetTest, ANameTakenBeforeIsLeftAloneAndTheFilesAreOwnersOnly) {
  for (const WriterCase& w : kWriters) {
    for (int taken : {0, 2, 4}) {
      SCOPED_TRACE(std::string(w.name) + " file " + std::to_string(taken));
      w.reset();
      mfaResetCounts();
      const std::string foreign = runPaths().*w.files[taken];
      std::ofstream(foreign) << "foreign";
      ASSERT_EQ(w.open(), 0);
      EXPECT_EQ(mfaCounts().errors, 0);
      EXPECT_EQ(filesLeft(), 6);
      for (const auto& e : fs::directory_iterator(dir_)) {
        if (e.path().string() == foreign) continue;
        EXPECT_EQ(fs::status(e.path()).permissions(), fs::perms::owner_read | fs::perms::owner_write)
            << e.path();
      }
      // A reset removes the writer's files and leaves the foreign one alone;
      // the next round opens the names again.
      w.reset();
      EXPECT_EQ(readAll(foreign), "foreign");
      EXPECT_EQ(filesLeft(), 1);
      fs::remove(foreign);
    }
  }
}

}  // namespace
