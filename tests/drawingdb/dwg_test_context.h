// A read context for tests that decode single DWG objects: the release, its
// classes (types from 500 on), UTF-8 texts, and names that answer every
// handle with layer "0" and style "Standard" unless a test says otherwise.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "drawingdb/dwg_records.h"

namespace drawingdb {

class TestReadContext : public DwgReadContext {
 public:
  TestReadContext(Release r, std::vector<ClassDef> classes) : release_(r), classes_(std::move(classes)) {}
  Release release() const override { return release_; }
  const CodePage& codePage() const override { return page_; }
  Name layerName(Handle) const override { return Name("0"); }
  Name linetypeName(Handle) const override { return {}; }
  Name styleName(Handle) const override { return Name("Standard"); }
  Name dimstyleName(Handle) const override { return {}; }
  Name blockName(Handle) const override { return {}; }
  std::string appidName(Handle) const override { return "ACAD"; }
  const ClassDef* classOf(std::int16_t type) const override {
    const int i = type - dwg_type::kFirstClass;
    return i >= 0 && i < static_cast<int>(classes_.size()) ? &classes_[static_cast<std::size_t>(i)] : nullptr;
  }
  void warn(std::string_view) override {}

 protected:
  std::vector<ClassDef>& classes() { return classes_; }

 private:
  Release release_;
  std::vector<ClassDef> classes_;
  CodePage page_ = CodePage::utf8();
};

}  // namespace drawingdb
