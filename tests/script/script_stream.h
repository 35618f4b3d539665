// The script writer on a string stream, as the tests of its statements use
// it: a fresh run of the input direction, the script opened after its
// prologue, and the text written since the last look.
#pragma once

#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "script/script_writer.h"
#include "support/messages.h"
#include "support/run_state.h"

class ScriptStreamTest : public ::testing::Test {
 protected:
  void SetUp() override {
    resetRunState();
    mfaSetMessageLevel(0);
    runState().runMode = RunModeBit::kInput | RunModeBit::kG1;
  }
  void TearDown() override { resetScriptState(); }

  // Opens the script on the string stream; take() then starts after the
  // prologue.
  void open(ScriptSource source = ScriptSource()) {
    source.unitFlag = 2;
    source.unitName = "MM";
    ASSERT_EQ(ScriptOpenStream(out_, "/tmp/x/drawing.kpl", source), 0);
    take();
  }
  // The text written since the last call.
  std::string take() {
    const std::string all = out_.str();
    const std::string part = all.substr(seen_);
    seen_ = all.size();
    return part;
  }
  std::ostringstream out_;
  std::size_t seen_ = 0;
};
