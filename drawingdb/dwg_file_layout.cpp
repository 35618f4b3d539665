// The blocks of a DWG file of R13, R14 and 2000 placed one after another,
// and found again through the file header and the object map; the
// sections of a file of 2004 laid out as pages.
#include <algorithm>
#include <array>
#include <optional>

#include "drawingdb/dwg_2007_file.h"
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
// a comment, each after the 16-byte identifier of its text.
std::string appInfo() {
  std::string out;
  appendRl(out, 3);
  appendWide(out, "AppInfoDataList");
  appendRl(out, 2);
  for (const std::string_view text : {std::string_view("2006.1"), std::string_view("trovak_iges")}) {
    for (const std::uint8_t b : dwgAppInfoGuid(text)) out.push_back(static_cast<char>(b));
    appendWide(out, text);
  }
  return out;
}

// MD5 (RFC 1321) of `bytes`.
std::array<std::uint8_t, 16> md5(std::string_view bytes) {
  static constexpr std::array<std::uint32_t, 64> kSine = {
      0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
      0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
      0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
      0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
      0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
      0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
      0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
      0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};
  static constexpr std::array<int, 16> kShift = {7, 12, 17, 22, 5, 9, 14, 20, 4, 11, 16, 23, 6, 10, 15, 21};
  std::string message(bytes);
  message.push_back(static_cast<char>(0x80));
  while (message.size() % 64 != 56) message.push_back('\0');
  const std::uint64_t bits = static_cast<std::uint64_t>(bytes.size()) * 8;
  for (int i = 0; i < 8; ++i) message.push_back(static_cast<char>(bits >> (8 * i)));
  std::array<std::uint32_t, 4> state = {0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476};
  for (std::size_t block = 0; block < message.size(); block += 64) {
    std::array<std::uint32_t, 16> w{};
    for (std::size_t i = 0; i < 64; ++i)
      w[i / 4] |= std::uint32_t{static_cast<std::uint8_t>(message[block + i])} << (8 * (i % 4));
    std::uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    for (std::uint32_t i = 0; i < 64; ++i) {
      std::uint32_t f = 0, g = 0;
      switch (i / 16) {
        case 0: f = (b & c) | (~b & d); g = i; break;
        case 1: f = (d & b) | (~d & c); g = (5 * i + 1) % 16; break;
        case 2: f = b ^ c ^ d; g = (3 * i + 5) % 16; break;
        default: f = c ^ (b | ~d); g = (7 * i) % 16; break;
      }
      const std::uint32_t sum = a + f + kSine[i] + w[g];
      const int shift = kShift[(i / 16) * 4 + i % 4];
      a = d;
      d = c;
      c = b;
      b += sum << shift | sum >> (32 - shift);
    }
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
  }
  std::array<std::uint8_t, 16> out{};
  for (std::size_t i = 0; i < 16; ++i) out[i] = static_cast<std::uint8_t>(state[i / 4] >> (8 * (i % 4)));
  return out;
}

}  // namespace

std::array<std::uint8_t, 16> dwgAppInfoGuid(std::string_view text) {
  // The nil namespace (16 zero bytes) before the name.
  std::string name(16, '\0');
  name.append(text);
  std::array<std::uint8_t, 16> g = md5(name);
  g[6] = static_cast<std::uint8_t>((g[6] & 0x0F) | 0x30);  // version 3
  g[8] = static_cast<std::uint8_t>((g[8] & 0x3F) | 0x80);  // the variant of RFC 4122
  // Stored as Windows keeps a GUID: the first three fields little-endian.
  std::reverse(g.begin(), g.begin() + 4);
  std::reverse(g.begin() + 4, g.begin() + 6);
  std::reverse(g.begin() + 6, g.begin() + 8);
  return g;
}

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

  std::string header, classes, aux, freeSpace, measurement;
  if (Status s = writeDwgSentinelBlock(parts.headerVariables, kDwgHeaderVariablesBegin, header); !s.ok()) return s;
  if (Status s = writeDwgSentinelBlock(parts.classes, kDwgClassesBegin, classes); !s.ok()) return s;
  classes.append(8, '\0');
  writeDwgAuxHeader(parts.auxHeader, aux);
  DwgObjFreeSpace free;
  free.zero = free.handles = 0xFFFF0000u;
  free.updated = parts.auxHeader.updated;
  if (Status s = writeDwgObjFreeSpace(free, freeSpace); !s.ok()) return s;
  if (Status s = writeDwgTemplate(parts.measurement, measurement); !s.ok()) return s;
  std::string revisions;
  for (const std::uint32_t v : {0u, 0u, 1u, 0u}) appendRl(revisions, v);

  // SummaryInfo first: its page opens the file at 0x100.
  std::vector<DwgPagedSectionData> sections;
  sections.push_back({"AcDb:SummaryInfo", summaryInfo(parts.auxHeader), false, 0});
  // The preview states the file addresses of its images: its page's place
  // is known before the file is laid out, only stored pages precede it.
  // Its page size is rounded up to 0x400, as native files have it.
  sections.push_back({"AcDb:Preview", {}, false, 0});
  const std::optional<std::uint64_t> previewAt = dwgPagedDataAddress(sections, sections.size() - 1);
  if (!previewAt) return Status::fail(StatusCode::OutOfRange, "the preview's address is not known before the layout");
  if (Status s = writeDwgPreview(parts.preview, *previewAt, sections.back().data); !s.ok()) return s;
  sections.back().pageSize = static_cast<std::uint32_t>((sections.back().data.size() + 0x3FF) / 0x400 * 0x400);
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
  if (isDwgPagedFile(file) || isDwg2007File(file)) {
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
