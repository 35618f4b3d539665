// Fuzzes the paged layout of DWG files of 2004 and later: the input is
// read as a file (headers, page map, section map, every section's pages
// checked and expanded, then the header variables, classes and objects
// they hold), and as one compressed stream expanded into a
// page.  What reads must keep within the file and its stated sizes; the
// sections read, laid out again, read back the same; any input compressed
// expands to itself.
//
// Seeds: unless an input file is named (a crash being replayed), the 2004,
// 2010, 2013 and 2018 drawings of the shared corpus beside the project are
// added to the corpus directories at start-up; they are read there, never
// copied.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "drawingdb/dwg_compression.h"
#include "drawingdb/dwg_objects.h"
#include "drawingdb/dwg_paged_file.h"
#include "drawingdb/dwg_sections.h"
#include "fuzz/dwg_corpus_seeds.h"

using namespace drawingdb;

namespace {

void check(bool condition) {
  if (!condition) std::abort();
}

void fuzzFile(std::string_view input) {
  DwgPagedFile layout;
  const Status s = readDwgPagedFile(input, layout);
  if (!s.ok()) {
    check(!s.detail.empty());
    return;
  }
  for (const DwgPage& p : layout.pages) check(p.id > 0 && p.address >= kDwgPagesStart);
  std::vector<DwgPagedSectionData> sections;
  for (const DwgSectionInfo& info : layout.sections) {
    std::string data;
    const Status read = readDwgPagedSection(input, layout, info, data);
    if (!read.ok()) {
      check(!read.detail.empty());
      continue;
    }
    check(data.size() == info.size);
    if (info.name.empty() || info.name.size() >= 64 || layout.section(info.name) != &info) continue;
    // Stored sections go back into pages of their own size when it fits.
    std::uint32_t pageSize = 0;
    if (info.compression == 1 && info.maxPageSize % 0x20 == 0 && info.maxPageSize >= data.size()) pageSize = info.maxPageSize;
    if (info.compression == 2 && !data.empty() && data.size() < 4) continue;
    sections.push_back({info.name, std::move(data), info.compression == 2, pageSize});
  }
  std::string again;
  if (!writeDwgPagedFile(layout.header, sections, again).ok()) return;
  DwgPagedFile back;
  check(readDwgPagedFile(again, back).ok());
  for (const DwgPagedSectionData& d : sections) {
    std::string data;
    check(readDwgPagedSection(again, back, d.name, data).ok() && data == d.data);
  }
}

// The classes a file lists, for the objects' kinds; every name unknown.
class Classes : public DwgReadContext {
 public:
  Classes(Release r, std::vector<ClassDef> classes) : release_(r), classes_(std::move(classes)) {}
  Release release() const override { return release_; }
  const CodePage& codePage() const override { return page_; }
  Name layerName(Handle) const override { return {}; }
  Name linetypeName(Handle) const override { return {}; }
  Name styleName(Handle) const override { return {}; }
  Name dimstyleName(Handle) const override { return {}; }
  Name blockName(Handle) const override { return {}; }
  std::string appidName(Handle h) const override { return h != 0 ? "APP" : ""; }
  const ClassDef* classOf(std::int16_t type) const override {
    const int i = type - 500;
    return i >= 0 && i < static_cast<int>(classes_.size()) ? &classes_[static_cast<std::size_t>(i)] : nullptr;
  }
  void warn(std::string_view) override {}

 private:
  Release release_;
  std::vector<ClassDef> classes_;
  CodePage page_ = CodePage::utf8();
};

// The object layer of a file that reads: header variables, classes and
// every mapped object's frame and common data, entities with their type
// data (2007 on: their string streams).  A failure says what.
void fuzzObjects(std::string_view input) {
  DwgPagedIndex index;
  if (!indexDwgPagedFile(input, index).ok()) return;
  const Release r = index.layout.header.release;
  Header header;
  DwgHeaderHandles handles;
  const Status vars = readDwgHeaderVariables(index.headerVariables, r, CodePage::utf8(), header, handles);
  check(vars.ok() || !vars.detail.empty());
  DwgClassesRead classes = readDwgClasses(index.classes, r, CodePage::utf8());
  check(classes.status.ok() || !classes.status.detail.empty());
  Classes context(r, std::move(classes.classes));
  for (const DwgObjectLocation& o : index.objectMap) {
    const DwgPagedObjectFrame frame = readDwgPagedObjectFrame(index.objects, o.address, r);
    if (!frame.status.ok()) continue;
    DwgObjectIn in;
    const Status head = readDwgObjectHead(frame.data, context, in, frame.handleBits);
    check(head.ok() || !head.detail.empty());
    if (!head.ok() || !in.head.entity || isDwgVertexType(in.head.type) || in.head.type == dwg_type::kBlock) continue;
    check(in.bitsize <= frame.data.size() * 8);
    Entity e;
    const Status s = readDwgEntity(in, context, e);
    check(s.ok() || !s.detail.empty());
  }
}

void fuzzStream(std::string_view input) {
  std::string page(kDwgMaxPageData, '\0');
  std::size_t produced = 0;
  dwgDecompress(input, page, produced);
  check(produced <= page.size());
  if (input.size() < 4) return;
  std::string packed;
  check(dwgCompress(input, packed).ok());
  std::string back(input.size(), '\0');
  check(dwgDecompress(packed, back, produced).ok() && produced == input.size() && back == input);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  return fuzz::addDwgCorpusSeeds(argc, argv, {"2004", "2010", "2013", "2018"}, {});
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  fuzzFile(input);
  fuzzObjects(input);
  fuzzStream(input);
  return 0;
}
