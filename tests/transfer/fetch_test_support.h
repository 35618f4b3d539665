// Shared set-up of the fetcher tests: a CAD transfer file written by the
// test, loaded into the reader and the element table, the element's index
// and position by its identifier, and the messages a fetch reported.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "elements/element_table.h"
#include "support/assign_tables.h"
#include "support/config.h"
#include "support/messages.h"
#include "support/run_state.h"
#include "transfer/fetchers.h"
#include "transfer/transfer_reader.h"

namespace fetch_test {

// Message texts that name their number, so a test sees which one came.
inline void loadMessageTexts() {
  std::FILE* f = std::tmpfile();
  ASSERT_NE(f, nullptr);
  std::fputs("90 E\n91 W\n92 N\n93 in\n370 M370\n510 M510\n630 M630\n685 M685\n1000 M1000\n1010 M1010\n", f);
  std::rewind(f);
  ASSERT_EQ(mfaLoadStream(f), 0);
  std::fclose(f);
}

// Header sections: the file version (none for 0), layer values 10, 20, 30
// and the reference point (1, 2).
inline std::string header(int version) {
  std::string h;
  if (version != 0) h += "@fileversion\n#" + std::to_string(version) + "\n#V1\n#Other\n";
  h += "@general\n#0\n#0\n#100\n#100\n#3\n#10\n#20\n#30\n@reference\n#1\n#2\n#0\n";
  return h;
}

// The leading lines of an element in a file of the version.
inline std::string versionLines(int version, const std::string& attribute = "attr text") {
  return version != 0 ? "#" + attribute + "\n#x\n" : "";
}

class FetchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    resetRunState();
    loadMessageTexts();
    runState().runMode = RunModeBit::kOutput | RunModeBit::kG1 | RunModeBit::kB1 | RunModeBit::kPlus;
  }
  void TearDown() override {
    resetTransferReader();
    freeTable();
    mfaResetRun();
    mfaFree();
  }

  // Loads the file; false when the header or the table could not be made.
  bool load(const std::string& file) {
    file_ = file;
    return openTransferBytes(file) == 0 && loadTransferTable() == 0;
  }
  // Position of the section whose header line begins "@<start>".
  std::int32_t positionOf(const std::string& start) const {
    std::size_t at = file_.rfind("\n@" + start);
    if (at == std::string::npos) return -1;
    return static_cast<std::int32_t>(file_.size() - (at + 2));
  }
  // Table index of the element at the position, 0 when none.
  static std::int32_t indexOf(std::int32_t position) {
    for (std::int32_t i = 1; i <= elementTable().lastIndex; ++i) {
      if (element(i).transferId == position) return i;
    }
    return 0;
  }
  // Runs a fetch with the console captured: the result and the messages.
  template <class Fetch>
  int run(Fetch&& fetch, std::string* messages = nullptr) {
    testing::internal::CaptureStderr();
    const int rc = fetch();
    const std::string err = testing::internal::GetCapturedStderr();
    if (messages != nullptr) *messages = err;
    return rc;
  }
  // Fetches the element whose header begins "@<start>" with the fetcher.
  template <class Record>
  int fetch(int (*fetcher)(std::int32_t, std::int32_t, Record&), const std::string& start, Record& out,
            std::string* messages = nullptr) {
    const std::int32_t position = positionOf(start);
    const std::int32_t index = indexOf(position);
    lastIndex_ = index;
    return run([&] { return fetcher(index, position, out); }, messages);
  }
  std::string label() const { return std::string(element(lastIndex_).de.label); }

  std::string file_;
  std::int32_t lastIndex_ = 0;
};

inline bool near(double a, double b, double tolerance = 1e-9) { return std::fabs(a - b) <= tolerance; }

}  // namespace fetch_test
