// Fuzzes the toolkit's DWG reading of R13 to 2018 up to the objects' data:
// the input is read as a file (fixed header, header variables, classes, the
// AuxHeader, preview, ObjFreeSpace, template and second header, object map,
// and every mapped object decoded: its frame, common data and, for
// entities, its type data), as one object's bits in each release (2007 on
// with their string streams, 2010 on without a bitsize), as the header
// variables and classes of 2010 and 2018, and,
// from its first byte on, as a bit stream of values of every type.  What
// reads must write again and read back to the same values; an entity read
// must write again.
//
// Seeds: unless an input file is named (a crash being replayed), the R14 and
// 2000 drawings of the shared corpus beside the project are added to the
// corpus directories at start-up; they are read there, never copied.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "drawingdb/dwg_bits.h"
#include "drawingdb/dwg_file_header.h"
#include "drawingdb/dwg_objects.h"
#include "drawingdb/dwg_sections.h"
#include "fuzz/dwg_corpus_seeds.h"

using namespace drawingdb;

namespace {

void check(bool condition) {
  if (!condition) std::abort();
}

bool sameDouble(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// Reads values whose types the stream itself picks (4 bits each) and checks
// that each written again reads back the same.
void fuzzBitStream(std::string_view input) {
  DwgBitReader in(input);
  for (int step = 0; step < 4096 && !in.failed(); ++step) {
    const std::uint8_t type = in.readFourBits();
    DwgBitWriter out;
    std::function<bool(DwgBitReader&)> same;
    switch (type) {
      case 0: {
        const std::int16_t v = in.readBitShort();
        out.writeBitShort(v);
        same = [v](DwgBitReader& r) { return r.readBitShort() == v; };
        break;
      }
      case 1: {
        const std::int32_t v = in.readBitLong();
        out.writeBitLong(v);
        same = [v](DwgBitReader& r) { return r.readBitLong() == v; };
        break;
      }
      case 2: {
        const double v = in.readBitDouble();
        out.writeBitDouble(v);
        same = [v](DwgBitReader& r) { return sameDouble(r.readBitDouble(), v); };
        break;
      }
      case 3: {
        const double fallback = in.readRawDouble();
        const double v = in.readDoubleWithDefault(fallback);
        out.writeDoubleWithDefault(v, fallback);
        same = [v, fallback](DwgBitReader& r) { return sameDouble(r.readDoubleWithDefault(fallback), v); };
        break;
      }
      case 4: {
        const std::int64_t v = in.readModularChar();
        out.writeModularChar(v);
        same = [v](DwgBitReader& r) { return r.readModularChar() == v; };
        break;
      }
      case 5: {
        const std::uint64_t v = in.readUnsignedModularChar();
        out.writeUnsignedModularChar(v);
        same = [v](DwgBitReader& r) { return r.readUnsignedModularChar() == v; };
        break;
      }
      case 6: {
        const std::uint64_t v = in.readModularShort();
        out.writeModularShort(v);
        same = [v](DwgBitReader& r) { return r.readModularShort() == v; };
        break;
      }
      case 7: {
        const DwgHandleRef v = in.readHandle();
        out.writeHandle(v);
        same = [v](DwgBitReader& r) { return r.readHandle() == v; };
        break;
      }
      case 8: {
        const std::string v = in.readText();
        // A text that still ends in NUL loses it again on the way back.
        if (!v.empty() && v.back() == '\0') continue;
        out.writeText(v);
        same = [v](DwgBitReader& r) { return r.readText() == v; };
        break;
      }
      case 9: {
        const std::uint64_t v = in.readBitLongLong();
        out.writeBitLongLong(v);
        same = [v](DwgBitReader& r) { return r.readBitLongLong() == v; };
        break;
      }
      case 10: {
        const std::uint8_t v = in.readThreeBits();
        out.writeThreeBits(v);
        same = [v](DwgBitReader& r) { return r.readThreeBits() == v; };
        break;
      }
      case 11: {
        const double v = in.readThickness(Release::R2000);
        out.writeThickness(v, Release::R2000);
        same = [v](DwgBitReader& r) { return sameDouble(r.readThickness(Release::R2000), v); };
        break;
      }
      case 12: {
        const DwgPoint3 v = in.readExtrusion(Release::R2000);
        out.writeExtrusion(v, Release::R2000);
        same = [v](DwgBitReader& r) {
          const DwgPoint3 p = r.readExtrusion(Release::R2000);
          return sameDouble(p.x, v.x) && sameDouble(p.y, v.y) && sameDouble(p.z, v.z);
        };
        break;
      }
      case 13: {
        const DwgTime v = in.readTime();
        out.writeTime(v);
        same = [v](DwgBitReader& r) { return r.readTime() == v; };
        break;
      }
      case 14:
        in.alignToByte();
        continue;
      default: {
        const std::string v = in.readRawBytes(in.readRawChar());
        out.writeRawBytes(v);
        same = [v](DwgBitReader& r) { return r.readRawBytes(v.size()) == v; };
        break;
      }
    }
    if (in.failed()) break;
    check(!out.failed());
    DwgBitReader back(out.bytes(), out.bitPosition());
    check(same(back) && !back.failed() && back.bitsLeft() == 0);
  }
}

// A drawing without records: every name and class is unknown, every
// record written is handle 0x10.
class NoRecords : public DwgReadContext, public DwgWriteContext {
 public:
  explicit NoRecords(Release r) : release_(r) {}
  Release release() const override { return release_; }
  const CodePage& codePage() const override { return page_; }
  std::uint16_t codepageNumber() const override { return 30; }
  Name layerName(Handle) const override { return {}; }
  Name linetypeName(Handle) const override { return {}; }
  Name styleName(Handle) const override { return {}; }
  Name dimstyleName(Handle) const override { return {}; }
  Name blockName(Handle) const override { return {}; }
  std::string appidName(Handle h) const override { return h != 0 ? "APP" : ""; }
  const ClassDef* classOf(std::int16_t) const override { return nullptr; }
  Handle layerHandle(std::string_view) const override { return 0x10; }
  Handle linetypeHandle(std::string_view) const override { return 0x10; }
  Handle styleHandle(std::string_view) const override { return 0x10; }
  Handle dimstyleHandle(std::string_view) const override { return 0x10; }
  Handle blockHandle(std::string_view) const override { return 0x10; }
  Handle appidHandle(std::string_view) override { return 0x10; }
  std::int16_t classNumber(std::string_view) override { return 500; }
  void warn(std::string_view) override {}

 private:
  Release release_;
  CodePage page_ = CodePage::named("ANSI_1252");
};

// One object's bits decoded in release `r` (from 2010 on with a handle
// stream of `handleBits`); an entity read up to 2004 is written again and
// reads back (later releases are read only).
void fuzzObject(std::string_view frame, Release r, std::uint64_t handleBits = 0) {
  NoRecords context(r);
  DwgObjectIn in;
  if (!readDwgObjectHead(frame, context, in, handleBits).ok()) return;
  check(in.bitsize <= frame.size() * 8 && in.data.bitPosition() <= in.bitsize);
  check(in.data.bitsLeft() + in.data.stringBitsLeft() <= in.bitsize);
  if (!in.head.entity) return;
  const std::int16_t type = in.head.type;
  if (isDwgVertexType(type)) {
    Vertex v;
    readDwgVertex(in, context, v);
    return;
  }
  if (type == dwg_type::kBlock) {
    std::string name;
    readDwgBlockName(in, context, name);
    return;
  }
  Entity e;
  if (!readDwgEntity(in, context, e).ok() || r > Release::R2004) return;
  std::string again;
  DwgEntityLinks links;
  links.mode = in.head.e.mode;
  links.owner = in.head.owner;
  if (!writeDwgEntity(e, links, context, again).ok()) return;
  DwgObjectIn back;
  check(readDwgObjectHead(again, context, back).ok());
  Entity e2;
  check(readDwgEntity(back, context, e2).ok() && e2.kind == e.kind);
}

// The header variables and classes read, written and read again: from the
// second writing on the data stay the same (the first may drop a trailing
// NUL of a text and take the shortest code of a handle).
void fuzzHeaderAndClasses(std::string_view vars, std::string_view classes, Release r) {
  const CodePage page = CodePage::raw();
  Header header;
  DwgHeaderHandles handles;
  if (r > Release::R2004) {
    // Read only: their string and handle streams.
    const Status s = readDwgHeaderVariables(vars, r, page, header, handles);
    check(s.ok() || !s.detail.empty());
    const DwgClassesRead read = readDwgClasses(classes, r, page);
    check(read.status.ok() || !read.status.detail.empty());
    return;
  }
  if (readDwgHeaderVariables(vars, r, page, header, handles).ok()) {
    std::string data[3];
    for (std::string& d : data) {
      check(writeDwgHeaderVariables(header, handles, r, page, d).ok());
      check(readDwgHeaderVariables(d, r, page, header, handles).ok());
    }
    check(data[1] == data[2]);
  }
  DwgClassesRead read = readDwgClasses(classes, r, page);
  if (read.status.ok()) {
    std::string data[3];
    for (std::string& d : data) {
      check(writeDwgClasses(read.classes, r, page, d).ok());
      read = readDwgClasses(d, r, page);
      check(read.status.ok());
    }
    check(data[1] == data[2]);
  }
}

// The raw blocks: what reads writes again at its place and reads back the same.
void fuzzRawBlocks(std::string_view input, const DwgFileHeader& h) {
  if (const DwgSectionLocator* l = h.locator(DwgSection::AuxHeader)) {
    DwgAuxHeader aux;
    if (readDwgAuxHeader(input, *l, aux).ok()) {
      std::string bytes;
      writeDwgAuxHeader(aux, bytes);
      check(bytes == input.substr(l->address, kDwgAuxHeaderSize));
    }
  }
  DwgPreview preview;
  if (readDwgPreview(input, h.previewAddress, preview).ok()) {
    std::string bytes(h.previewAddress, '\0');
    DwgPreview back;
    check(writeDwgPreview(preview, bytes).ok() && readDwgPreview(bytes, h.previewAddress, back).ok() && back == preview);
  }
  if (const DwgSectionLocator* l = h.locator(DwgSection::ObjFreeSpace)) {
    DwgObjFreeSpace free;
    if (readDwgObjFreeSpace(input, *l, free).ok()) {
      std::string bytes;
      DwgObjFreeSpace back;
      check(writeDwgObjFreeSpace(free, bytes).ok());
      const DwgSectionLocator at{3, 0, static_cast<std::uint32_t>(bytes.size())};
      check(readDwgObjFreeSpace(bytes, at, back).ok() && back == free);
    }
  }
  if (const DwgSectionLocator* l = h.locator(DwgSection::Template)) {
    DwgTemplate t;
    if (readDwgTemplate(input, *l, t).ok()) {
      std::string bytes;
      DwgTemplate back;
      check(writeDwgTemplate(t, bytes).ok());
      check(readDwgTemplate(bytes, {4, 0, static_cast<std::uint32_t>(bytes.size())}, back).ok() && back == t);
    }
  }
  const std::size_t second = findDwgSecondHeader(input);
  DwgSecondHeader sh;
  if (second != std::string_view::npos && readDwgSecondHeader(input, second, sh).ok()) {
    std::string bytes(second, '\0');
    DwgSecondHeader back;
    check(writeDwgSecondHeader(sh, bytes).ok() && readDwgSecondHeader(bytes, second, back).ok() && back == sh);
  }
}

void fuzzFile(std::string_view input) {
  const DwgFileHeaderRead header = readDwgFileHeader(input);
  if (!header.status.ok()) {
    check(!header.status.detail.empty());
    return;
  }
  const DwgFileHeader& h = header.header;
  for (const DwgSectionLocator& l : h.locators) check(std::uint64_t{l.address} + l.size <= input.size());

  // The header written again in place of the read one reads the same.
  std::string again;
  check(writeDwgFileHeader(h, again).ok());
  check(again.size() == dwgFileHeaderSize(h.locators.size()));
  again.append(input.substr(again.size()));
  const DwgFileHeaderRead reread = readDwgFileHeader(again);
  check(reread.status.ok() && reread.header == h);

  const DwgSentinelBlockRead vars =
      readDwgSentinelBlock(input, *h.locator(DwgSection::HeaderVariables), kDwgHeaderVariablesBegin);
  const DwgSentinelBlockRead classes = readDwgSentinelBlock(input, *h.locator(DwgSection::Classes), kDwgClassesBegin);
  fuzzHeaderAndClasses(vars.status.ok() ? vars.data : std::string_view(), classes.status.ok() ? classes.data : std::string_view(),
                       h.release);
  fuzzRawBlocks(input, h);

  const DwgSectionLocator& where = *h.locator(DwgSection::ObjectMap);
  const DwgObjectMapRead map = readDwgObjectMap(input, where);
  if (!map.status.ok()) return;
  check(map.objects.size() <= where.size / 2);
  Handle last = 0;
  for (const DwgObjectLocation& o : map.objects) {
    check(o.handle > last && o.address < input.size());
    last = o.handle;
    const DwgObjectFrame frame = readDwgObjectFrame(input, o.address);
    if (!frame.status.ok()) continue;
    DwgBitReader bits(frame.data);
    bits.readObjectType();
    if (h.release == Release::R2000) bits.readRawLong();
    const DwgHandleRef own = bits.readHandle();
    if (!bits.failed()) resolveHandle(own, o.handle);
    fuzzObject(frame.data, h.release);
  }
  // The map written again after the file reads back the same.
  std::string rewritten(input);
  check(writeDwgObjectMap(map.objects, rewritten).ok());
  const DwgObjectMapRead back = readDwgObjectMap(
      rewritten, {2, static_cast<std::uint32_t>(input.size()), static_cast<std::uint32_t>(rewritten.size() - input.size())});
  check(back.status.ok() && back.objects == map.objects);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) { return fuzz::addDwgCorpusSeeds(argc, argv); }

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  fuzzBitStream(input);
  fuzzFile(input);
  for (Release r : {Release::R13, Release::R2000, Release::R2007}) fuzzObject(input, r);
  // From 2010 on the handle stream's size comes before the object: the
  // first byte stands for it.
  if (!input.empty()) {
    const std::uint64_t handleBits = static_cast<std::uint8_t>(input[0]);
    for (Release r : {Release::R2010, Release::R2013, Release::R2018}) fuzzObject(input.substr(1), r, handleBits);
    fuzzHeaderAndClasses(input.substr(1), input.substr(1), handleBits % 2 == 0 ? Release::R2010 : Release::R2018);
  }
  return 0;
}
