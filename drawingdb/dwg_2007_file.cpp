// The layout of DWG files of 2007: file header, system pages and data
// pages, Reed-Solomon decoded and decompressed.
#include "drawingdb/dwg_2007_file.h"

#include <algorithm>
#include <array>

#include "drawingdb/dwg_2007_compression.h"
#include "drawingdb/dwg_bits.h"
#include "drawingdb/dwg_reed_solomon.h"
#include "drawingdb/releases.h"

namespace drawingdb {

namespace {

constexpr std::size_t kHeaderCodewords = 3;
constexpr std::size_t kSystemData = 239;  // data bytes of a codeword of the system pages
constexpr std::size_t kPageData = 251;    // and of data pages
constexpr std::size_t kHeaderPrologue = 0x20;
constexpr std::size_t kHeaderFields = 0x110;
constexpr std::size_t kSectionRecord = 8 * 8;
constexpr std::size_t kSectionPageRecord = 7 * 8;
// A system page lists pages and sections of the file: it cannot hold much
// more than the file itself.
constexpr std::uint64_t kSystemPageSlack = 0x10000;
// No writer makes pages larger than this.
constexpr std::uint64_t kLargestPage = 0x100000;
// The most one compressed byte can expand to: the longest match (0x100FF
// bytes) takes five bytes.
constexpr std::uint64_t kLargestExpansion = 0x3400;

Status bad(std::string what) { return Status::fail(StatusCode::BadFile, std::move(what)); }

std::uint64_t rll(std::string_view b, std::size_t at) {
  std::uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = v << 8 | static_cast<std::uint8_t>(b[at + static_cast<std::size_t>(i)]);
  return v;
}
std::uint32_t rl(std::string_view b, std::size_t at) { return static_cast<std::uint32_t>(rll(b, at) & 0xFFFFFFFF); }

constexpr std::uint64_t roundUp8(std::uint64_t n) { return (n + 7) / 8 * 8; }
constexpr std::uint64_t ceilDiv(std::uint64_t n, std::uint64_t d) { return (n + d - 1) / d; }

// The data of `codewords` interleaved codewords of `code` at `address`,
// `wanted` bytes of it, corrected.
Status decodeBlock(std::string_view file, std::uint64_t address, std::uint64_t codewords, DwgRsCode code,
                   std::uint64_t wanted, const std::string& where, std::string& out, std::size_t& corrected) {
  if (address > file.size() || codewords > (file.size() - address) / kDwgRsCodeword)
    return bad("the " + where + " at " + hexOf(address) + " needs " + std::to_string(codewords) +
               " codewords, the file ends before");
  std::size_t fixed = 0;
  out.clear();
  const Status s = dwgRsDecode(file.substr(address), codewords, code, wanted, out, fixed);
  if (!s.ok()) return bad("the " + where + " at " + hexOf(address) + ": " + s.detail);
  corrected += fixed;
  return {};
}

// `data` expanded to `size` bytes: decompressed when it is shorter, its
// first `size` bytes else.
Status expand(std::string_view data, std::span<char> to, const std::string& where) {
  if (data.size() >= to.size()) {
    std::copy_n(data.data(), to.size(), to.data());
    return {};
  }
  std::size_t produced = 0;
  if (Status s = dwg2007Decompress(data, to, produced); !s.ok()) return bad("the " + where + ": " + s.detail);
  if (produced != to.size())
    return bad("the " + where + " expands to " + std::to_string(produced) + " bytes, not " + std::to_string(to.size()));
  return {};
}

Status readHeaderAt(std::string_view file, std::uint64_t address, Dwg2007Header& h, std::size_t& corrected) {
  std::string coded;
  if (Status s = decodeBlock(file, address, kHeaderCodewords, DwgRsCode::System, kHeaderCodewords * kSystemData,
                             "file header", coded, corrected);
      !s.ok())
    return s;
  const auto compressed = static_cast<std::int32_t>(rl(coded, 0x18));
  std::string fields(kHeaderFields, '\0');
  if (compressed > 0) {
    if (static_cast<std::size_t>(compressed) > coded.size() - kHeaderPrologue)
      return bad("the file header at " + hexOf(address) + " claims " + std::to_string(compressed) +
                 " compressed bytes in " + std::to_string(coded.size() - kHeaderPrologue));
    if (Status s = expand(std::string_view(coded).substr(kHeaderPrologue, static_cast<std::size_t>(compressed)), fields,
                          "file header at " + hexOf(address));
        !s.ok())
      return s;
  } else {
    fields.assign(coded, kHeaderPrologue, kHeaderFields);
  }
  auto field = [&](std::size_t place) { return rll(fields, 8 * place); };
  h.fileSize = field(1);
  h.pagesMapCorrection = field(3);
  h.pagesMapCopyOffset = field(5);
  h.pagesMapOffset = field(7);
  h.pagesMapId = field(8);
  h.pagesMapCompressed = field(10);
  h.pagesMapSize = field(11);
  h.pageCount = field(12);
  h.highestPageId = field(13);
  h.sectionCount = field(20);
  h.sectionsMapCompressed = field(22);
  h.sectionsMapCopyId = field(23);
  h.sectionsMapId = field(24);
  h.sectionsMapSize = field(25);
  h.sectionsMapCorrection = field(27);
  h.streamVersion = field(29);
  return {};
}

Status readHeader(std::string_view file, Dwg2007File& layout) {
  if (!isDwg2007File(file)) return Status::fail(StatusCode::NotSupported, "not a DWG file of 2007");
  if (file.size() < kDwg2007PagesStart)
    return bad("the file ends at byte " + std::to_string(file.size()) + ", before its pages begin");
  Dwg2007Header& h = layout.header;
  h.formatMaintenance = static_cast<std::uint8_t>(file[0x0B]);
  h.codepage = static_cast<std::uint16_t>(static_cast<std::uint8_t>(file[0x13]) |
                                          static_cast<std::uint8_t>(file[0x14]) << 8);
  Status first = readHeaderAt(file, 0x80, h, layout.corrected);
  // The copy at the end of the file.
  if (!first.ok() && (file.size() < kDwg2007PagesStart + kDwg2007HeaderCopy ||
                      !readHeaderAt(file, file.size() - kDwg2007HeaderCopy, h, layout.corrected).ok()))
    return first;
  if (h.fileSize > file.size())
    return bad("the file header gives the file " + std::to_string(h.fileSize) + " bytes, it has " +
               std::to_string(file.size()));
  return {};
}

// A system page: `compressed` bytes repeated `repeats` times in codewords
// (k = 239) at `address`, expanding to `size` bytes; `room` bytes of the
// file are its own.
Status readSystemPage(std::string_view file, std::uint64_t address, std::uint64_t room, std::uint64_t compressed,
                      std::uint64_t size, std::uint64_t repeats, const char* what, std::string& body,
                      std::size_t& corrected) {
  const std::string where = std::string(what) + " at " + hexOf(address);
  if (address > file.size()) return bad("the " + where + " lies beyond the end of the file");
  room = std::min<std::uint64_t>(room, file.size() - address);
  if (compressed == 0 || repeats == 0 || compressed > room || repeats > room)
    return bad("the " + where + " holds " + std::to_string(compressed) + " bytes " + std::to_string(repeats) +
               " times, in " + std::to_string(room) + " bytes of the file");
  if (roundUp8(compressed) * repeats > room)
    return bad("the " + where + " holds " + std::to_string(compressed) + " bytes " + std::to_string(repeats) +
               " times, in " + std::to_string(room) + " bytes of the file");
  if (size > file.size() + kSystemPageSlack)
    return Status::fail(StatusCode::OutOfRange, "the " + where + " would expand to " + std::to_string(size) +
                                                    " bytes, more than the file can describe");
  const std::uint64_t codewords = ceilDiv(roundUp8(compressed) * repeats, kSystemData);
  if (codewords * kDwgRsCodeword > room)
    return bad("the " + where + " needs " + std::to_string(codewords) + " codewords in " + std::to_string(room) +
               " bytes of the file");
  std::string data;
  if (Status s = decodeBlock(file, address, codewords, DwgRsCode::System, compressed, what, data, corrected); !s.ok())
    return s;
  body.assign(static_cast<std::size_t>(size), '\0');
  return expand(data, body, where);
}

Status readPagesMap(std::string_view file, Dwg2007File& layout) {
  const Dwg2007Header& h = layout.header;
  if (h.pagesMapOffset > file.size() - kDwg2007PagesStart)
    return bad("the pages map at " + hexOf(h.pagesMapOffset) + " + 0x480 lies beyond the end of the file");
  const std::uint64_t address = kDwg2007PagesStart + h.pagesMapOffset;
  std::string body;
  if (Status s = readSystemPage(file, address, file.size() - address, h.pagesMapCompressed, h.pagesMapSize,
                                h.pagesMapCorrection, "pages map", body, layout.corrected);
      !s.ok())
    return s;
  std::uint64_t at = kDwg2007PagesStart;
  std::vector<Dwg2007Page> used;
  for (std::size_t i = 0; i + 16 <= body.size(); i += 16) {
    const std::uint64_t size = rll(body, i);
    const auto id = static_cast<std::int64_t>(rll(body, i + 8));
    if (size == 0 || size > file.size() - std::min<std::uint64_t>(at, file.size()))
      return bad("the pages map lists page " + std::to_string(id) + " of " + std::to_string(size) + " bytes at " +
                 hexOf(at) + ", the file ends at " + hexOf(file.size()));
    if (id > 0) used.push_back({id, size, at});
    at += size;
  }
  std::sort(used.begin(), used.end(), [](const Dwg2007Page& a, const Dwg2007Page& b) { return a.id < b.id; });
  for (std::size_t i = 1; i < used.size(); ++i)
    if (used[i].id == used[i - 1].id) return bad("the pages map lists page " + std::to_string(used[i].id) + " twice");
  layout.pages = std::move(used);
  return {};
}

std::string nameOf(std::string_view utf16) {
  std::string name;
  for (std::size_t i = 0; i + 1 < utf16.size(); i += 2) {
    const unsigned unit = static_cast<std::uint8_t>(utf16[i]) | static_cast<std::uint8_t>(utf16[i + 1]) << 8;
    if (unit == 0) break;
    name.push_back(unit < 0x80 ? static_cast<char>(unit) : '?');
  }
  return name;
}

Status readSectionsMap(std::string_view file, Dwg2007File& layout) {
  const Dwg2007Header& h = layout.header;
  const Dwg2007Page* page = h.sectionsMapId > INT64_MAX ? nullptr : layout.page(static_cast<std::int64_t>(h.sectionsMapId));
  if (page == nullptr) return bad("the sections map, page " + std::to_string(h.sectionsMapId) + ", is not in the pages map");
  std::string body;
  if (Status s = readSystemPage(file, page->address, page->size, h.sectionsMapCompressed, h.sectionsMapSize,
                                h.sectionsMapCorrection, "sections map", body, layout.corrected);
      !s.ok())
    return s;
  for (std::size_t at = 0; body.size() - at >= kSectionRecord;) {
    Dwg2007Section s;
    s.size = rll(body, at);
    s.maxPageSize = rll(body, at + 8);
    s.encrypted = rll(body, at + 16);
    const std::uint64_t nameBytes = rll(body, at + 32);
    s.encoding = rll(body, at + 48);
    const std::uint64_t pages = rll(body, at + 56);
    at += kSectionRecord;
    if (nameBytes > body.size() - at)
      return bad("section " + std::to_string(layout.sections.size()) + " of the sections map has a name of " +
                 std::to_string(nameBytes) + " bytes, the map ends before");
    s.name = nameOf(std::string_view(body).substr(at, static_cast<std::size_t>(nameBytes)));
    at += static_cast<std::size_t>(nameBytes);
    if (s.name.empty() && pages == 0) break;  // the closing record
    if (pages > (body.size() - at) / kSectionPageRecord)
      return bad("section " + s.name + " lists " + std::to_string(pages) + " pages, the sections map ends before");
    s.pages.reserve(static_cast<std::size_t>(pages));
    for (std::uint64_t p = 0; p < pages; ++p, at += kSectionPageRecord)
      s.pages.push_back({rll(body, at), rll(body, at + 16), rll(body, at + 24), rll(body, at + 32)});
    layout.sections.push_back(std::move(s));
  }
  return {};
}

// One data page of a section, decoded into `to` (its dataSize bytes).
Status readDataPage(std::string_view file, const Dwg2007File& layout, const Dwg2007Section& section,
                    const Dwg2007SectionPage& entry, std::span<char> to, std::size_t& corrected) {
  const std::string where = "page " + std::to_string(entry.id) + " of section " + section.name;
  const Dwg2007Page* page = entry.id == 0 || entry.id > INT64_MAX ? nullptr : layout.page(static_cast<std::int64_t>(entry.id));
  if (page == nullptr) return bad(where + " is not in the pages map");
  if (section.encoding == kDwg2007Stored) {
    if (entry.dataSize > page->size)
      return bad(where + " holds " + std::to_string(entry.dataSize) + " bytes, its " + std::to_string(page->size) +
                 " bytes on disk hold less");
    std::copy_n(file.data() + page->address, to.size(), to.data());
    return {};
  }
  if (entry.compressedSize == 0 || entry.compressedSize > page->size)
    return bad(where + " holds " + std::to_string(entry.compressedSize) + " compressed bytes in " +
               std::to_string(page->size) + " bytes on disk");
  const std::uint64_t codewords = ceilDiv(roundUp8(entry.compressedSize), kPageData);
  if (codewords * kDwgRsCodeword > page->size)
    return bad(where + " needs " + std::to_string(codewords) + " codewords, its " + std::to_string(page->size) +
               " bytes on disk hold less");
  std::string data;
  if (Status s = decodeBlock(file, page->address, codewords, DwgRsCode::Page, entry.compressedSize, where, data, corrected);
      !s.ok())
    return s;
  return expand(data, to, where);
}

}  // namespace

const Dwg2007Section* Dwg2007File::section(std::string_view name) const {
  for (const Dwg2007Section& s : sections)
    if (s.name == name) return &s;
  return nullptr;
}

const Dwg2007Page* Dwg2007File::page(std::int64_t id) const {
  const auto it = std::lower_bound(pages.begin(), pages.end(), id,
                                   [](const Dwg2007Page& p, std::int64_t v) { return p.id < v; });
  return it != pages.end() && it->id == id ? &*it : nullptr;
}

bool isDwg2007File(std::string_view file) {
  return releaseFromVersion(file.substr(0, 6)) == Release::R2007;
}

Status readDwg2007File(std::string_view file, Dwg2007File& layout) {
  layout = {};
  if (Status s = readHeader(file, layout); !s.ok()) return s;
  if (Status s = readPagesMap(file, layout); !s.ok()) return s;
  return readSectionsMap(file, layout);
}

Status readDwg2007Section(std::string_view file, const Dwg2007File& layout, const Dwg2007Section& section,
                          std::string& out, std::size_t* corrected) {
  out.clear();
  if (section.encrypted == 1)
    return Status::fail(StatusCode::NotSupported, "section " + section.name + " is password-protected");
  if (section.encoding != kDwg2007Stored && section.encoding != kDwg2007Coded)
    return bad("section " + section.name + " has encoding " + std::to_string(section.encoding));
  const bool stored = section.encoding == kDwg2007Stored;
  // A page listed twice would be decoded twice.
  std::vector<std::uint64_t> ids;
  for (const Dwg2007SectionPage& p : section.pages) ids.push_back(p.id);
  std::sort(ids.begin(), ids.end());
  if (std::adjacent_find(ids.begin(), ids.end()) != ids.end())
    return bad("section " + section.name + " lists a page twice");
  if (section.pages.empty()) {
    if (section.size > file.size())
      return bad("section " + section.name + " claims " + std::to_string(section.size) + " bytes and has no pages");
  } else {
    if (section.maxPageSize == 0 || section.maxPageSize > kLargestPage)
      return bad("section " + section.name + " has pages of " + std::to_string(section.maxPageSize) + " bytes");
    // Every page within the section and no larger than its bytes on disk
    // can expand to (a compressed page may pass the page size); the pages
    // together cover what the section claims.  The pages are distinct, so
    // their bytes on disk add up to no more than the file.
    std::uint64_t reach = 0;
    for (const Dwg2007SectionPage& p : section.pages) {
      const Dwg2007Page* page = p.id > INT64_MAX ? nullptr : layout.page(static_cast<std::int64_t>(p.id));
      if (page == nullptr)
        return bad("page " + std::to_string(p.id) + " of section " + section.name + " is not in the pages map");
      const std::uint64_t most = stored ? page->size : std::min(p.compressedSize, page->size) * kLargestExpansion;
      if (p.dataSize > most || p.offset > section.size || p.dataSize > section.size - p.offset)
        return bad("page " + std::to_string(p.id) + " of section " + section.name + " puts " +
                   std::to_string(p.dataSize) + " bytes at " + std::to_string(p.offset) + " of the section's " +
                   std::to_string(section.size) + " bytes");
      reach += p.dataSize;
    }
    if (section.size > reach)
      return bad("section " + section.name + " claims " + std::to_string(section.size) + " bytes, its " +
                 std::to_string(section.pages.size()) + " pages hold " + std::to_string(reach));
  }
  out.assign(static_cast<std::size_t>(section.size), '\0');
  std::size_t fixed = 0;
  for (const Dwg2007SectionPage& entry : section.pages) {
    const std::span<char> to(out.data() + entry.offset, static_cast<std::size_t>(entry.dataSize));
    if (Status s = readDataPage(file, layout, section, entry, to, fixed); !s.ok()) {
      out.clear();
      return s;
    }
  }
  if (corrected != nullptr) *corrected += fixed;
  return {};
}

Status readDwg2007Section(std::string_view file, const Dwg2007File& layout, std::string_view name, std::string& out,
                          std::size_t* corrected) {
  const Dwg2007Section* s = layout.section(name);
  if (s == nullptr) {
    out.clear();
    return Status::fail(StatusCode::NotFound, "the file has no section " + std::string(name));
  }
  return readDwg2007Section(file, layout, *s, out, corrected);
}

}  // namespace drawingdb
