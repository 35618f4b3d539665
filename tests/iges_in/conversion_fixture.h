// The set-up the conversion tests share: a fresh run, an IGES file built by
// the test read into the element table, the script written into a string,
// and the protocol kept in a temporary file.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <initializer_list>
#include <sstream>
#include <string>
#include <vector>

#include "elements/element_table.h"
#include "iges_in/convert_iges_builder.h"
#include "iges_in/iges_annotation.h"
#include "iges_in/iges_convert.h"
#include "iges_in/iges_geometry.h"
#include "iges_in/iges_reader.h"
#include "iges_in/iges_script_source.h"
#include "iges_in/iges_structure.h"
#include "iges_in/kpl_reader.h"
#include "script/script_writer.h"
#include "script/structure.h"
#include "support/assign_tables.h"
#include "support/config.h"
#include "support/messages.h"
#include "support/run_state.h"

inline int occurrences(const std::string& text, const std::string& what) {
  int n = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

class ConversionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    resetRunState();
    runState().runMode = RunModeBit::kInput | RunModeBit::kPlus;
    dir_ = std::filesystem::temp_directory_path() / ("trovak_conversion_test_" + std::to_string(getpid()));
    std::filesystem::create_directories(dir_);
    runPaths().tempDir = dir_.string();
    protocol_ = std::tmpfile();
    mfaSetProtocolFile(protocol_);
  }
  void TearDown() override {
    resetScriptState();
    closeIgesInput();
    if (file_ != nullptr) std::fclose(file_);
    file_ = nullptr;
    freeTable();
    mfaSetProtocolFile(nullptr);
    if (protocol_ != nullptr) std::fclose(protocol_);
    protocol_ = nullptr;
    runPaths().tempDir.clear();
    igesStructureSettings() = IgesStructureSettings{};
    std::filesystem::remove_all(dir_);
  }

  // A fresh run for the next case of a test.
  void afresh() {
    TearDown();
    SetUp();
  }

  void read(const igestest::Builder& b) {
    const std::string path = b.write((dir_ / "in.igs").string());
    file_ = std::fopen(path.c_str(), "rb");
    ASSERT_NE(file_, nullptr);
    ASSERT_EQ(igesReaderAttach(file_), 0);
    skipLeadingControl();
    ASSERT_EQ(readStartSection(0), 0);
    ASSERT_EQ(readGlobalSection(), 0);
    ASSERT_EQ(readIgesInput(), 0);
  }
  // Converts what read() loaded; standard output of the conversion goes to
  // `console_`.  The result of convertModel.
  int run() {
    ScriptSource source;
    source.unitFlag = 2;
    source.subfiguresPending = igesStructureSettings().mainModelSaved;
    igesScriptSourceOfTable(source);
    out_.str("");
    EXPECT_EQ(ScriptOpenStream(out_, "a.kpl", source), 0);
    testing::internal::CaptureStdout();
    const int r = convertModel();
    console_ = testing::internal::GetCapturedStdout();
    return r;
  }
  int convert(const igestest::Builder& b) {
    read(b);
    return run();
  }

  kpl::Script script() const { return kpl::readScript(out_.str()); }
  std::string text() const { return out_.str(); }
  std::string protocol() const {
    std::fflush(protocol_);
    std::rewind(protocol_);
    std::string t;
    char buffer[512];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, protocol_)) > 0;) t.append(buffer, n);
    return t;
  }
  int reported(int number) const { return occurrences(protocol(), "(" + std::to_string(number) + ")"); }
  static char state(int de) { return element(indexOfPointer(de)).state; }
  // The states of several elements in a row, to compare at once.
  static std::string states(std::initializer_list<int> des) {
    std::string s;
    for (int de : des) s += state(de);
    return s;
  }
  static const ObjectList& created(int de) {
    return element(indexOfPointer(de)).scriptObjects;
  }

  std::filesystem::path dir_;
  std::FILE* file_ = nullptr;
  std::FILE* protocol_ = nullptr;
  std::ostringstream out_;
  std::string console_;
};
