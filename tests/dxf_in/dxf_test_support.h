// Builds small DXF files for the reader tests and reads them into the
// element table the way the input driver does.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "dxf_in/dxf_mapping.h"
#include "dxf_in/dxf_reader.h"
#include "elements/element_table.h"
#include "support/assign_tables.h"
#include "support/config.h"
#include "support/messages.h"
#include "support/run_state.h"

// A DXF text built group by group.
class DxfText {
 public:
  DxfText& g(int code, const std::string& value) {
    groups_.emplace_back(std::to_string(code), value);
    return *this;
  }
  // A group whose code line is given as it stands.
  DxfText& raw(const std::string& codeLine, const std::string& value) {
    groups_.emplace_back(codeLine, value);
    return *this;
  }
  DxfText& section(const std::string& name) { return g(0, "SECTION").g(2, name); }
  DxfText& endsec() { return g(0, "ENDSEC"); }
  DxfText& header(const std::string& version) {
    return section("HEADER").g(9, "$ACADVER").g(1, version).endsec();
  }
  // A TABLES section with the layers given as (name, colour, line type).
  DxfText& layers(const std::vector<std::tuple<std::string, int, std::string>>& list) {
    section("TABLES").g(0, "TABLE").g(2, "LTYPE").g(70, "2");
    g(0, "LTYPE").g(2, "CONTINUOUS").g(70, "0").g(3, "Solid").g(72, "65").g(73, "0").g(40, "0.0");
    g(0, "LTYPE").g(2, "DASHED").g(70, "0").g(3, "__ __").g(72, "65").g(73, "2").g(40, "0.75").g(49, "0.5").g(49, "-0.25");
    g(0, "ENDTAB").g(0, "TABLE").g(2, "LAYER").g(70, std::to_string(list.size()));
    for (const auto& [name, colour, type] : list)
      g(0, "LAYER").g(2, name).g(70, "0").g(62, std::to_string(colour)).g(6, type);
    return g(0, "ENDTAB").endsec();
  }
  DxfText& eof() { return g(0, "EOF"); }
  std::string text(const char* lineEnd = "\n") const {
    std::string out;
    for (const auto& [code, value] : groups_) out += code + lineEnd + value + lineEnd;
    return out;
  }

 private:
  std::vector<std::pair<std::string, std::string>> groups_;
};

class DxfReaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    resetRunState();
    runState().runMode = RunModeBit::kDxf | RunModeBit::kInput | RunModeBit::kPlus;
    // The installation's line types: CONTINUOUS draws style 1, DASHED 2.
    DxfLineType solid, dashed;
    solid.name = "CONTINUOUS";
    dashed.name = "DASHED";
    dashed.style = 2;
    assignTables().dxfLineTypes = {solid, dashed};
    dxfReader().lineTypeAssignmentsRead = true;
    protocol_ = std::tmpfile();
    mfaSetProtocolFile(protocol_);
  }
  void TearDown() override {
    mfaSetProtocolFile(nullptr);
    if (protocol_ != nullptr) std::fclose(protocol_);
    releaseDxfReader();
    resetRunState();
  }
  // Reads the text as the dispatcher does: header, then the sections.
  int read(const std::string& text) {
    bytes_ = text;
    std::FILE* f = fmemopen(bytes_.data(), bytes_.size(), "rb");
    if (f == nullptr) return -100;
    const int r = readDxfFile(f);
    dxfReader().file = nullptr;
    std::fclose(f);
    return r;
  }
  // Reads the text as a new run would: reader, counts and protocol start
  // anew (for the cases of one test).
  int readAfresh(const std::string& text) {
    releaseDxfReader();
    resetDxfReader();
    dxfReader().lineTypeAssignmentsRead = true;
    mfaResetCounts();
    std::FILE* fresh = std::tmpfile();
    mfaSetProtocolFile(fresh);
    if (protocol_ != nullptr) std::fclose(protocol_);
    protocol_ = fresh;
    return read(text);
  }
  // How often the protocol names the text (a message number "(988)").
  std::size_t reports(const std::string& text) {
    const std::string written = protocol();
    std::size_t n = 0;
    for (std::size_t at = written.find(text); at != std::string::npos; at = written.find(text, at + 1)) ++n;
    return n;
  }
  // The protocol written so far.
  std::string protocol() {
    std::fflush(protocol_);
    std::rewind(protocol_);
    std::string out;
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, protocol_)) > 0) out.append(buffer, n);
    return out;
  }
  // The elements of one type, in table order.
  std::vector<std::int32_t> ofType(std::int32_t type) const {
    std::vector<std::int32_t> out;
    for (std::int32_t i = 1; i <= elementTable().lastIndex; ++i)
      if (element(i).type == type) out.push_back(i);
    return out;
  }
  // The element's typed record of class R, nullptr when it has another.
  template <typename R>
  static const R* recordOf(std::int32_t index) {
    return dynamic_cast<const R*>(element(index).params.get());
  }
  std::vector<std::int32_t> sonsOf(std::int32_t index) const {
    std::vector<std::int32_t> out;
    for (const LinkNode* n = element(index).sons; n != nullptr; n = n->next)
      if (n->index > 0) out.push_back(n->index);
    return out;
  }

  std::FILE* protocol_ = nullptr;
  std::string bytes_;
};
