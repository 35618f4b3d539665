// The blocks of a DWG file of R13, R14 and 2000 placed one after another,
// and found again through the file header and the object map.
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
