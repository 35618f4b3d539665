// The blocks of a DWG file of R13, R14 and 2000 placed one after another,
// and found again through the file header and the object map; the
// sections of a file of 2004 laid out as pages.
#include <algorithm>

#include "drawingdb/dwg_bits.h"
#include "drawingdb/dwg_file.h"

namespace drawingdb {

namespace {

bool fitsAddress(std::size_t bytes) { return bytes <= UINT32_MAX; }

}  // namespace

// ------------------------------------------------------------- layout

Status dwgFileLayout(const DwgFileParts& parts, std::string& out) {
  const Release r = parts.header.release;
  if (r < Release::R13 || r > Release::R2000)
    return Status::fail(StatusCode::NotSupported,
                        "DWG files of version " + std::string(releaseInfo(r).version) + " are not laid out here");
  const bool r2000 = r == Release::R2000;
  out.clear();
  auto here = [&] { return static_cast<std::uint32_t>(out.size()); };

  DwgFileHeader header = parts.header;
  header.locators.clear();
  for (std::uint8_t n = 0; n < (r2000 ? 6 : 5); ++n) header.locators.push_back({n, 0, 0});
  auto locator = [&](DwgSection s) -> DwgSectionLocator& { return header.locators[static_cast<std::size_t>(s)]; };

  // The fixed header is written again once every address is known.
  out.append(dwgFileHeaderSize(header.locators.size()), '\0');

  if (r2000) {
    locator(DwgSection::AuxHeader) = {5, here(), static_cast<std::uint32_t>(kDwgAuxHeaderSize)};
    writeDwgAuxHeader(parts.auxHeader, out);
  }
  header.previewAddress = here();
  if (Status s = writeDwgPreview(parts.preview, out); !s.ok()) return s;

  auto sentinelBlock = [&](std::string_view data, const DwgSentinel& begin, DwgSection which) {
    const std::uint32_t at = here();
    const Status s = writeDwgSentinelBlock(data, begin, out);
    locator(which) = {static_cast<std::uint8_t>(which), at, here() - at};
    return s;
  };
  if (Status s = sentinelBlock(parts.headerVariables, kDwgHeaderVariablesBegin, DwgSection::HeaderVariables); !s.ok())
    return s;
  if (parts.classes.empty()) return Status::fail(StatusCode::OutOfRange, "a DWG file needs at least one class");
  if (Status s = sentinelBlock(parts.classes, kDwgClassesBegin, DwgSection::Classes); !s.ok()) return s;
  // Converters leave these four bytes between the classes and the objects.
  out.append("\xCA\x0D\x00\x00", 4);

  std::vector<DwgObjectLocation> map;
  map.reserve(parts.objects.entries.size());
  out.reserve(out.size() + parts.objects.data.size() + 4 * parts.objects.entries.size() + 4096);
  Handle last = 0;
  for (const DwgEncodedObjects::Entry& o : parts.objects.entries) {
    if (o.handle <= last)
      return Status::fail(StatusCode::OutOfRange, "object " + hexOf(o.handle) + " does not follow " + hexOf(last));
    last = o.handle;
    map.push_back({o.handle, out.size()});
    writeDwgObjectFrame(std::string_view(parts.objects.data).substr(o.offset, o.size), out);
    if (!fitsAddress(out.size()))
      return Status::fail(StatusCode::OutOfRange, "the objects pass the 4 GB a DWG file can address");
  }
  {
    const std::uint32_t at = here();
    if (Status s = writeDwgObjectMap(map, out); !s.ok()) return s;
    locator(DwgSection::ObjectMap) = {2, at, here() - at};
  }
  // ObjFreeSpace is left out (locator 3 stays 0/0).  The second header
  // copies the locators as they stand; the template's is 0/0 there, as in
  // native files, since the template follows it.
  DwgSecondHeader second = parts.secondHeader;
  second.release = r;
  second.formatMaintenance = header.formatMaintenance;
  second.one = header.one;
  second.codepage = header.codepage;
  second.locators = header.locators;
  if (Status s = writeDwgSecondHeader(second, out); !s.ok()) return s;
  {
    const std::uint32_t at = here();
    if (Status s = writeDwgTemplate(parts.measurement, out); !s.ok()) return s;
    locator(DwgSection::Template) = {4, at, here() - at};
  }
  if (!fitsAddress(out.size()))
    return Status::fail(StatusCode::OutOfRange, "the file passes the 4 GB a DWG file can address");

  std::string fixed;
  if (Status s = writeDwgFileHeader(header, fixed); !s.ok()) return s;
  std::copy(fixed.begin(), fixed.end(), out.begin());
  return {};
}

// ------------------------------------------------------ the paged layout

namespace {

void appendRl(std::string& out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}
void appendRs(std::string& out, std::uint16_t v) {
  out.push_back(static_cast<char>(v & 0xFF));
  out.push_back(static_cast<char>(v >> 8));
}

// The drawing properties: eight empty texts (RS length counting the NUL,
// then the bytes), editing time, creation and update as day and
// milliseconds, no custom properties, two zero longs.
std::string summaryInfo(const DwgAuxHeader& aux) {
  std::string out;
  for (int i = 0; i < 8; ++i) out.append("\x01\x00\x00", 3);
  for (const DwgTime& t : {DwgTime{}, aux.created, aux.updated}) {
    appendRl(out, static_cast<std::uint32_t>(t.day));
    appendRl(out, static_cast<std::uint32_t>(t.milliseconds));
  }
  appendRs(out, 0);
  appendRl(out, 0);
  appendRl(out, 0);
  return out;
}

// A UTF-16 text of AppInfo: RS units counting the NUL, the units, the NUL.
void appendWide(std::string& out, std::string_view ascii) {
  appendRs(out, static_cast<std::uint16_t>(ascii.size() + 1));
  for (const char c : ascii) appendRs(out, static_cast<std::uint8_t>(c));
  appendRs(out, 0);
}

// What application wrote the file: the list's name, then the version and
// a comment, each after a 16-byte checksum (left zero).
std::string appInfo() {
  std::string out;
  appendRl(out, 3);
  appendWide(out, "AppInfoDataList");
  appendRl(out, 2);
  for (const std::string_view text : {std::string_view("2006.1"), std::string_view("trovak_iges")}) {
    out.append(16, '\0');
    appendWide(out, text);
  }
  return out;
}

}  // namespace

Status dwgPagedFileLayout(const DwgFileParts& parts, std::string& out) {
  const Release r = parts.header.release;
  if (r != Release::R2004)
    return Status::fail(StatusCode::NotSupported,
                        "DWG files of version " + std::string(releaseInfo(r).version) + " are not laid out here");
  if (parts.classes.empty()) return Status::fail(StatusCode::OutOfRange, "a DWG file needs at least one class");

  // The objects, each framed, after four bytes the converters put there;
  // the map holds their offsets within the section.
  std::string objects("\xCA\x0D\x00\x00", 4);
  objects.reserve(objects.size() + parts.objects.data.size() + 4 * parts.objects.entries.size());
  std::vector<DwgObjectLocation> map;
  map.reserve(parts.objects.entries.size());
  Handle last = 0;
  for (const DwgEncodedObjects::Entry& o : parts.objects.entries) {
    if (o.handle <= last)
      return Status::fail(StatusCode::OutOfRange, "object " + hexOf(o.handle) + " does not follow " + hexOf(last));
    last = o.handle;
    map.push_back({o.handle, objects.size()});
    writeDwgObjectFrame(std::string_view(parts.objects.data).substr(o.offset, o.size), objects);
    if (!fitsAddress(objects.size()))
      return Status::fail(StatusCode::OutOfRange, "the objects pass the 4 GB a DWG section can hold");
  }
  std::string handles;
  if (Status s = writeDwgObjectMap(map, handles); !s.ok()) return s;
  map = {};

  std::string header, classes, aux, freeSpace, measurement, preview;
  if (Status s = writeDwgSentinelBlock(parts.headerVariables, kDwgHeaderVariablesBegin, header); !s.ok()) return s;
  if (Status s = writeDwgSentinelBlock(parts.classes, kDwgClassesBegin, classes); !s.ok()) return s;
  classes.append(8, '\0');
  writeDwgAuxHeader(parts.auxHeader, aux);
  DwgObjFreeSpace free;
  free.zero = free.handles = 0xFFFF0000u;
  free.updated = parts.auxHeader.updated;
  if (Status s = writeDwgObjFreeSpace(free, freeSpace); !s.ok()) return s;
  if (Status s = writeDwgTemplate(parts.measurement, measurement); !s.ok()) return s;
  if (Status s = writeDwgPreview(DwgPreview{}, preview); !s.ok()) return s;
  std::string revisions;
  for (const std::uint32_t v : {0u, 0u, 1u, 0u}) appendRl(revisions, v);

  // SummaryInfo first: its page opens the file at 0x100.
  std::vector<DwgPagedSectionData> sections;
  sections.push_back({"AcDb:SummaryInfo", summaryInfo(parts.auxHeader), false, 0});
  sections.push_back({"AcDb:Preview", std::move(preview), false, 0});
  sections.push_back({"AcDb:AppInfo", appInfo(), false, 0});
  sections.push_back({"AcDb:FileDepList", std::string(8, '\0'), false, 0});
  sections.push_back({"AcDb:RevHistory", std::move(revisions), true, 0});
  sections.push_back({"AcDb:AcDbObjects", std::move(objects), true, 0});
  sections.push_back({"AcDb:ObjFreeSpace", std::move(freeSpace), true, 0});
  sections.push_back({"AcDb:Template", std::move(measurement), true, 0});
  sections.push_back({"AcDb:Handles", std::move(handles), true, 0});
  sections.push_back({"AcDb:Classes", std::move(classes), true, 0});
  sections.push_back({"AcDb:AuxHeader", std::move(aux), true, 0});
  sections.push_back({"AcDb:Header", std::move(header), true, 0});

  DwgPagedHeader paged;
  paged.release = r;
  paged.codepage = parts.header.codepage;
  return writeDwgPagedFile(paged, sections, out);
}

// ------------------------------------------------------------- index

Status indexDwgFile(std::string_view file, DwgFileIndex& index) {
  DwgFileHeaderRead header = readDwgFileHeader(file);
  if (!header.status.ok()) return header.status;
  index.header = std::move(header.header);
  const DwgFileHeader& h = index.header;
  auto required = [&](DwgSection s, const char* what, const DwgSectionLocator*& where) -> Status {
    where = h.locator(s);
    if (where == nullptr || where->size == 0)
      return Status::fail(StatusCode::BadFile, std::string("the file has no ") + what);
    return {};
  };
  const DwgSectionLocator* where = nullptr;
  if (Status s = required(DwgSection::HeaderVariables, "header variables", where); !s.ok()) return s;
  DwgSentinelBlockRead block = readDwgSentinelBlock(file, *where, kDwgHeaderVariablesBegin);
  if (!block.status.ok()) return block.status;
  index.headerVariables = block.data;
  if (Status s = required(DwgSection::Classes, "classes", where); !s.ok()) return s;
  block = readDwgSentinelBlock(file, *where, kDwgClassesBegin);
  if (!block.status.ok()) return block.status;
  index.classes = block.data;
  if (Status s = required(DwgSection::ObjectMap, "object map", where); !s.ok()) return s;
  DwgObjectMapRead map = readDwgObjectMap(file, *where);
  if (!map.status.ok()) return map.status;
  index.objects = std::move(map.objects);
  return {};
}

// ------------------------------------------------- the objects of any layout

Status indexDwgObjectSource(std::string_view file, DwgObjectSource& out) {
  out = DwgObjectSource{};
  if (isDwgPagedFile(file)) {
    if (Status s = indexDwgPagedFile(file, out.held); !s.ok()) return s;
    const DwgPagedIndex& held = out.held;
    out.release = held.layout.header.release;
    out.codepage = held.layout.header.codepage;
    out.headerVariables = held.headerVariables;
    out.classes = held.classes;
    out.objects = held.objects;
    out.map = held.objectMap;
    return {};
  }
  DwgFileIndex index;
  if (Status s = indexDwgFile(file, index); !s.ok()) return s;
  out.release = index.header.release;
  out.codepage = index.header.codepage;
  out.headerVariables = index.headerVariables;
  out.classes = index.classes;
  out.objects = file;
  out.map = std::move(index.objects);
  return {};
}

DwgPagedObjectFrame readDwgObjectFrameOf(const DwgObjectSource& source, std::uint64_t address) {
  if (source.release >= Release::R2004) return readDwgPagedObjectFrame(source.objects, address, source.release);
  const DwgObjectFrame flat = readDwgObjectFrame(source.objects, address);
  DwgPagedObjectFrame frame;
  frame.status = flat.status;
  frame.data = flat.data;
  return frame;
}

}  // namespace drawingdb
