// The paged layout of DWG files of 2004 and later: headers, system pages,
// data pages and their checksums, read and written.
#include "drawingdb/dwg_bits.h"
#include "drawingdb/dwg_paged_file.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <functional>
#include <optional>

#include "drawingdb/dwg_2007_file.h"
#include "drawingdb/dwg_compression.h"

namespace drawingdb {

namespace {

constexpr std::string_view kFileId("AcFssFcAJMB\0", 12);
constexpr std::size_t kSystemHeaderSize = 20;
constexpr std::size_t kDataHeaderSize = 32;
constexpr std::size_t kDescriptionSize = 8 + 6 * 4 + 64;
constexpr std::uint32_t kDataPageMask = 0x4164536B;
// A system page lists pages and sections of the file: it cannot hold much
// more than the file itself.
constexpr std::size_t kSystemPageSlack = 0x10000;
// Compressed pages larger than this are no page any writer makes.
constexpr std::uint32_t kLargestCompressedPage = 0x100000;

Status bad(std::string what) { return Status::fail(StatusCode::BadFile, std::move(what)); }

std::uint32_t rl(std::string_view b, std::size_t at) {
  std::uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = v << 8 | static_cast<std::uint8_t>(b[at + static_cast<std::size_t>(i)]);
  return v;
}
std::uint64_t rll(std::string_view b, std::size_t at) { return rl(b, at) | std::uint64_t{rl(b, at + 4)} << 32; }
std::uint16_t rs(std::string_view b, std::size_t at) {
  return static_cast<std::uint16_t>(static_cast<std::uint8_t>(b[at]) | static_cast<std::uint8_t>(b[at + 1]) << 8);
}

void putRl(std::string& out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>(v >> (8 * i)));
}
void putRll(std::string& out, std::uint64_t v) {
  putRl(out, static_cast<std::uint32_t>(v));
  putRl(out, static_cast<std::uint32_t>(v >> 32));
}
void setRl(std::string& out, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out[at + static_cast<std::size_t>(i)] = static_cast<char>(v >> (8 * i));
}

constexpr std::size_t roundUp(std::size_t n, std::size_t to) { return (n + to - 1) / to * to; }

// The fixed byte sequence: a linear congruential generator from 1.
struct Sequence {
  std::uint32_t state = 1;
  std::uint8_t next() {
    state = state * 0x343FD + 0x269EC3;
    return static_cast<std::uint8_t>(state >> 16);
  }
};

bool isPagedRelease(Release r) {
  return r == Release::R2004 || r == Release::R2010 || r == Release::R2013 || r == Release::R2018;
}

// The system page at `address`: its header checked, its body decompressed.
Status readSystemPage(std::string_view file, std::uint64_t address, std::uint32_t type, const char* what,
                      std::string& body) {
  const std::string where = std::string(what) + " at " + hexOf(address);
  if (address > file.size() || file.size() - address < kSystemHeaderSize)
    return bad("the " + where + " lies beyond the end of the file (" + std::to_string(file.size()) + " bytes)");
  const std::string_view head = file.substr(address, kSystemHeaderSize);
  if (rl(head, 0) != type) return bad("the " + where + " is no such page (type " + hexOf(rl(head, 0)) + ")");
  const std::uint32_t expanded = rl(head, 4), compressed = rl(head, 8), compression = rl(head, 12);
  if (compression != 2) return bad("the " + where + " has compression " + std::to_string(compression));
  if (compressed > file.size() - address - kSystemHeaderSize)
    return bad("the " + where + " holds " + std::to_string(compressed) + " bytes, the file ends before");
  if (expanded > file.size() + kSystemPageSlack)
    return Status::fail(StatusCode::OutOfRange, "the " + where + " would expand to " + std::to_string(expanded) +
                                                    " bytes, more than the file can describe");
  const std::string_view data = file.substr(address + kSystemHeaderSize, compressed);
  std::string plain(head);
  setRl(plain, 16, 0);
  const std::uint32_t sum = dwgPageChecksum(data, dwgPageChecksum(plain, 0));
  if (sum != rl(head, 16))
    return bad("the " + where + " has the checksum " + hexOf(rl(head, 16)) + ", its bytes give " + hexOf(sum));
  body.assign(expanded, '\0');
  std::size_t produced = 0;
  if (Status s = dwgDecompress(data, body, produced); !s.ok()) return bad("the " + where + ": " + s.detail);
  if (produced != expanded)
    return bad("the " + where + " expands to " + std::to_string(produced) + " bytes, not " + std::to_string(expanded));
  return {};
}

Status readPlainHeader(std::string_view file, DwgPagedHeader& h) {
  const std::optional<Release> release = releaseFromVersion(file.substr(0, 6));
  if (!release || !isPagedRelease(*release))
    return Status::fail(StatusCode::NotSupported, "not a DWG file of 2004, 2010, 2013 or 2018");
  if (file.size() < kDwgPagesStart)
    return bad("the file ends at byte " + std::to_string(file.size()) + ", before its pages begin");
  h.release = *release;
  h.formatMaintenance = static_cast<std::uint8_t>(file[0x0B]);
  h.previewAddress = rl(file, 0x0D);
  h.appRelease = static_cast<std::uint8_t>(file[0x11]);
  h.appMaintenance = static_cast<std::uint8_t>(file[0x12]);
  h.codepage = rs(file, 0x13);
  h.security = rl(file, 0x18);
  h.summaryInfoAddress = rl(file, 0x20);
  h.vbaAddress = rl(file, 0x24);

  std::string block(file.substr(0x80, kDwgPagedHeaderBlock));
  dwgScramble(block);
  if (std::string_view(block).substr(0, kFileId.size()) != kFileId)
    return bad("the header block at 0x80 does not start with the file ID");
  const std::uint32_t crc = rl(block, 0x68);
  setRl(block, 0x68, 0);
  if (dwgCrc32(block) != crc)
    return bad("the header block at 0x80 has the CRC " + hexOf(crc) + ", its bytes give " + hexOf(dwgCrc32(block)));
  h.lastPageId = rl(block, 0x28);
  h.lastPageEnd = rll(block, 0x2C);
  h.headerCopyAddress = rll(block, 0x34);
  h.gapCount = rl(block, 0x3C);
  h.pageCount = rl(block, 0x40);
  h.pageMapId = rl(block, 0x50);
  h.pageMapAddress = rll(block, 0x54);
  h.sectionMapId = rl(block, 0x5C);
  h.pageArraySize = rl(block, 0x60);
  h.gapArraySize = rl(block, 0x64);
  if ((h.security & 1) != 0) return Status::fail(StatusCode::NotSupported, "the drawing is password-protected");
  return {};
}

Status readPageMap(std::string_view file, DwgPagedFile& layout) {
  const DwgPagedHeader& h = layout.header;
  if (h.pageMapAddress > file.size())
    return bad("the page map at " + hexOf(h.pageMapAddress) + " + 0x100 lies beyond the end of the file");
  std::string body;
  if (Status s = readSystemPage(file, h.pageMapAddress + kDwgPagesStart, kDwgPageMapType, "page map", body); !s.ok())
    return s;
  std::uint64_t address = kDwgPagesStart;
  for (std::size_t at = 0; at < body.size();) {
    if (body.size() - at < 8) return bad("the page map ends inside an entry at byte " + std::to_string(at));
    const auto id = static_cast<std::int32_t>(rl(body, at));
    const std::uint32_t size = rl(body, at + 4);
    at += 8;
    if (id < 0) {
      if (body.size() - at < 16) return bad("the page map ends inside a gap entry at byte " + std::to_string(at));
      at += 16;
    }
    if (id == 0 || size == 0)
      return bad("the page map lists page " + std::to_string(id) + " of " + std::to_string(size) + " bytes");
    layout.pages.push_back({id, size, address});
    address += size;
  }
  // The file's pages by id, for the lookups of page().
  std::vector<DwgPage> used;
  for (const DwgPage& p : layout.pages)
    if (p.id > 0) used.push_back(p);
  std::sort(used.begin(), used.end(), [](const DwgPage& a, const DwgPage& b) { return a.id < b.id; });
  for (std::size_t i = 1; i < used.size(); ++i)
    if (used[i].id == used[i - 1].id) return bad("the page map lists page " + std::to_string(used[i].id) + " twice");
  const DwgPage* map = nullptr;
  for (const DwgPage& p : used)
    if (p.id == static_cast<std::int32_t>(h.pageMapId)) map = &p;
  if (map == nullptr || map->address != h.pageMapAddress + kDwgPagesStart)
    return bad("the page map does not list itself as page " + std::to_string(h.pageMapId) + " at " +
               hexOf(h.pageMapAddress + kDwgPagesStart));
  layout.pages = std::move(used);
  return {};
}

Status readSectionMap(std::string_view file, DwgPagedFile& layout) {
  const std::uint32_t id = layout.header.sectionMapId;
  const DwgPage* page = layout.page(static_cast<std::int32_t>(id));
  if (page == nullptr) return bad("the section map, page " + std::to_string(id) + ", is not in the page map");
  std::string body;
  if (Status s = readSystemPage(file, page->address, kDwgSectionMapType, "section map", body); !s.ok()) return s;
  if (body.size() < 20) return bad("the section map is " + std::to_string(body.size()) + " bytes short");
  const std::uint32_t count = rl(body, 0);
  std::size_t at = 20;
  if (count > (body.size() - at) / kDescriptionSize)
    return bad("the section map counts " + std::to_string(count) + " sections in " + std::to_string(body.size()) + " bytes");
  layout.sections.reserve(count);
  for (std::uint32_t n = 0; n < count; ++n) {
    if (body.size() - at < kDescriptionSize)
      return bad("the section map ends inside section " + std::to_string(n));
    DwgSectionInfo s;
    s.size = rll(body, at);
    const std::uint32_t pages = rl(body, at + 8);
    s.maxPageSize = rl(body, at + 12);
    s.compression = rl(body, at + 20);
    s.number = rl(body, at + 24);
    s.encrypted = rl(body, at + 28);
    const std::string_view name = std::string_view(body).substr(at + 32, 64);
    s.name = std::string(name.substr(0, std::min(name.find('\0'), name.size())));
    at += kDescriptionSize;
    if (pages > (body.size() - at) / 16)
      return bad("section " + s.name + " lists " + std::to_string(pages) + " pages, the section map ends before");
    s.pages.reserve(pages);
    for (std::uint32_t p = 0; p < pages; ++p, at += 16) s.pages.push_back({rl(body, at), rl(body, at + 4), rll(body, at + 8)});
    layout.sections.push_back(std::move(s));
  }
  return {};
}

// One data page of a section: header decrypted and checked, the data
// within the file and its checksum right.
Status dataPage(std::string_view file, const DwgPagedFile& layout, const DwgSectionInfo& section,
                const DwgSectionPage& entry, std::string_view& data) {
  const std::string where = "page " + std::to_string(entry.id) + " of section " + section.name;
  const DwgPage* page = entry.id == 0 || entry.id > INT32_MAX ? nullptr : layout.page(static_cast<std::int32_t>(entry.id));
  if (page == nullptr) return bad(where + " is not in the page map");
  if (page->address > file.size() || file.size() - page->address < kDataHeaderSize)
    return bad(where + " at " + hexOf(page->address) + " lies beyond the end of the file");
  std::array<std::uint32_t, 8> word{};
  const auto mask = static_cast<std::uint32_t>(kDataPageMask ^ page->address);
  for (std::size_t i = 0; i < word.size(); ++i) word[i] = rl(file, page->address + 4 * i) ^ mask;
  if (word[0] != kDwgDataPageType) return bad(where + " at " + hexOf(page->address) + " is no data page");
  if (word[1] != section.number)
    return bad(where + " belongs to section number " + std::to_string(word[1]) + ", not " + std::to_string(section.number));
  if (word[2] != entry.dataSize)
    return bad(where + " holds " + std::to_string(word[2]) + " bytes, the section map says " + std::to_string(entry.dataSize));
  if (word[4] != entry.offset)
    return bad(where + " starts at " + std::to_string(word[4]) + " of the section, the section map says " +
               std::to_string(entry.offset));
  if (entry.dataSize > page->size - std::min<std::uint64_t>(page->size, kDataHeaderSize) ||
      entry.dataSize > file.size() - page->address - kDataHeaderSize)
    return bad(where + " at " + hexOf(page->address) + " holds " + std::to_string(entry.dataSize) +
               " bytes, its page or the file ends before");
  data = file.substr(page->address + kDataHeaderSize, entry.dataSize);
  const std::uint32_t dataSum = dwgPageChecksum(data, 0);
  std::string plain;
  for (std::size_t i = 0; i < word.size(); ++i) putRl(plain, i == 6 ? 0 : word[i]);
  const std::uint32_t headSum = dwgPageChecksum(plain, dataSum);
  if (word[7] != dataSum || word[6] != headSum)
    return bad(where + " at " + hexOf(page->address) + " has the checksums " + hexOf(word[6]) + "/" + hexOf(word[7]) +
               ", its bytes give " + hexOf(headSum) + "/" + hexOf(dataSum));
  return {};
}

}  // namespace

// ---------------------------------------------------------- checksums

std::uint32_t dwgCrc32(std::string_view bytes) {
  static const std::array<std::uint32_t, 256> table = [] {
    std::array<std::uint32_t, 256> t{};
    for (std::uint32_t i = 0; i < 256; ++i) {
      std::uint32_t c = i;
      for (int k = 0; k < 8; ++k) c = (c & 1) != 0 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[i] = c;
    }
    return t;
  }();
  std::uint32_t crc = 0xFFFFFFFFu;
  for (char ch : bytes) crc = table[(crc ^ static_cast<std::uint8_t>(ch)) & 0xFF] ^ (crc >> 8);
  return crc ^ 0xFFFFFFFFu;
}

std::uint32_t dwgPageChecksum(std::string_view bytes, std::uint32_t seed) {
  std::uint32_t a = seed & 0xFFFF, b = seed >> 16;
  while (!bytes.empty()) {
    const std::size_t chunk = std::min<std::size_t>(bytes.size(), 0x15B0);
    for (std::size_t i = 0; i < chunk; ++i) {
      a += static_cast<std::uint8_t>(bytes[i]);
      b += a;
    }
    a %= 0xFFF1;
    b %= 0xFFF1;
    bytes.remove_prefix(chunk);
  }
  return b << 16 | a;
}

void dwgScramble(std::span<char> bytes, std::size_t from) {
  Sequence s;
  for (std::size_t i = 0; i < from; ++i) s.next();
  for (char& c : bytes) c = static_cast<char>(static_cast<std::uint8_t>(c) ^ s.next());
}

// ------------------------------------------------------------- reading

const DwgSectionInfo* DwgPagedFile::section(std::string_view name) const {
  for (const DwgSectionInfo& s : sections)
    if (s.name == name) return &s;
  return nullptr;
}

const DwgPage* DwgPagedFile::page(std::int32_t id) const {
  const auto it = std::lower_bound(pages.begin(), pages.end(), id, [](const DwgPage& p, std::int32_t v) { return p.id < v; });
  return it != pages.end() && it->id == id ? &*it : nullptr;
}

bool isDwgPagedFile(std::string_view file) {
  const std::optional<Release> r = releaseFromVersion(file.substr(0, 6));
  return r && isPagedRelease(*r);
}

Status readDwgPagedFile(std::string_view file, DwgPagedFile& layout) {
  layout = {};
  if (Status s = readPlainHeader(file, layout.header); !s.ok()) return s;
  if (Status s = readPageMap(file, layout); !s.ok()) return s;
  return readSectionMap(file, layout);
}

Status readDwgPagedSection(std::string_view file, const DwgPagedFile& layout, const DwgSectionInfo& section,
                           std::string& out) {
  out.clear();
  if (section.encrypted == 1)
    return Status::fail(StatusCode::NotSupported, "section " + section.name + " is password-protected");
  if (section.compression != 1 && section.compression != 2)
    return bad("section " + section.name + " has compression " + std::to_string(section.compression));
  const bool compressed = section.compression == 2;
  if (!section.pages.empty()) {
    if (section.maxPageSize == 0 || (compressed && section.maxPageSize > kLargestCompressedPage))
      return bad("section " + section.name + " has pages of " + std::to_string(section.maxPageSize) + " bytes");
    // Each page expands to no more than its page size, and a compressed
    // byte to no more than 255.
    std::uint64_t reach = 0;
    for (const DwgSectionPage& p : section.pages)
      reach += std::min<std::uint64_t>(section.maxPageSize, compressed ? 255 * std::uint64_t{p.dataSize} : p.dataSize);
    if (section.size > reach)
      return bad("section " + section.name + " claims " + std::to_string(section.size) + " bytes, its " +
                 std::to_string(section.pages.size()) + " pages hold at most " + std::to_string(reach));
  } else if (section.size > file.size()) {
    return bad("section " + section.name + " claims " + std::to_string(section.size) + " bytes and has no pages");
  }
  // A page listed twice would be expanded twice.
  std::vector<std::uint32_t> ids;
  for (const DwgSectionPage& p : section.pages) ids.push_back(p.id);
  std::sort(ids.begin(), ids.end());
  if (std::adjacent_find(ids.begin(), ids.end()) != ids.end())
    return bad("section " + section.name + " lists a page twice");
  out.assign(section.size, '\0');
  std::string expanded;
  for (const DwgSectionPage& entry : section.pages) {
    std::string_view data;
    if (Status s = dataPage(file, layout, section, entry, data); !s.ok()) return s;
    if (entry.offset > section.size || entry.offset % section.maxPageSize != 0)
      return bad("page " + std::to_string(entry.id) + " of section " + section.name + " starts at " +
                 std::to_string(entry.offset) + ", outside the section's " + std::to_string(section.size) + " bytes");
    const std::size_t room = static_cast<std::size_t>(section.size - entry.offset);
    if (!compressed) {
      std::copy_n(data.data(), std::min(room, data.size()), out.data() + entry.offset);
      continue;
    }
    // A page expands to its page size; the part past the section's end is
    // padding.
    std::span<char> to(out.data() + entry.offset, room);
    if (room < section.maxPageSize) {
      expanded.assign(section.maxPageSize, '\0');
      to = expanded;
    } else {
      to = to.first(section.maxPageSize);
    }
    std::size_t produced = 0;
    if (Status s = dwgDecompress(data, to, produced); !s.ok())
      return bad("page " + std::to_string(entry.id) + " of section " + section.name + ": " + s.detail);
    if (to.data() == expanded.data()) std::copy_n(expanded.data(), std::min(room, produced), out.data() + entry.offset);
  }
  return {};
}

Status readDwgPagedSection(std::string_view file, const DwgPagedFile& layout, std::string_view name, std::string& out) {
  const DwgSectionInfo* s = layout.section(name);
  if (s == nullptr) {
    out.clear();
    return Status::fail(StatusCode::NotFound, "the file has no section " + std::string(name));
  }
  return readDwgPagedSection(file, layout, *s, out);
}

// ------------------------------------------------------ the object layer

namespace {

// The bit data between a section's begin sentinel and its CRC.  From 2010
// on most files hold a high word of the size after it (always 0); which
// framing a file uses shows in the CRC.
Status sentinelData(std::string_view section, const DwgSentinel& begin, Release r, const char* what,
                    std::string& data) {
  const std::string_view opening(reinterpret_cast<const char*>(begin.data()), begin.size());
  const DwgSentinel endBytes = endSentinelOf(begin);
  const std::string_view closing(reinterpret_cast<const char*>(endBytes.data()), endBytes.size());
  if (section.size() < 16 + 4 + 2 + 16 || section.substr(0, 16) != opening)
    return bad(std::string("the ") + what + " do not open with their sentinel");
  Status first;
  for (const std::size_t fields : {std::size_t{8}, std::size_t{4}}) {
    if (fields == 8 && (r < Release::R2010 || section.size() < 16 + 8 + 2 + 16 || rl(section, 20) != 0)) continue;
    const std::uint32_t size = rl(section, 16);
    Status s;
    if (size > section.size() - 16 - fields - 2 - 16) {
      s = bad(std::string("the ") + what + " claim " + std::to_string(size) + " bytes, their section holds " +
              std::to_string(section.size()));
    } else {
      const std::size_t end = 16 + fields + size;
      const std::uint16_t stored = rs(section, end);
      const std::uint16_t computed = dwgCrc16(section.substr(16, fields + size));
      if (stored != computed)
        s = bad(std::string("the ") + what + " have the CRC " + hexOf(stored) + ", their bytes give " + hexOf(computed));
      else if (section.substr(end + 2, 16) != closing)
        s = bad(std::string("the ") + what + " do not end with their sentinel");
      else {
        data.assign(section.substr(16 + fields, size));
        return {};
      }
    }
    if (first.ok()) first = s;
  }
  return first;
}

}  // namespace

namespace {

using SectionReader = std::function<Status(std::string_view name, std::string& out)>;

// The sections the object reader needs, read by name through the file's
// layout.
Status indexSections(Release r, const SectionReader& read, DwgPagedIndex& index) {
  std::string section;
  if (Status s = read("AcDb:Header", section); !s.ok()) return s;
  if (Status s = sentinelData(section, kDwgHeaderVariablesBegin, r, "header variables", index.headerVariables); !s.ok())
    return s;
  if (Status s = read("AcDb:Classes", section); !s.ok()) return s;
  if (Status s = sentinelData(section, kDwgClassesBegin, r, "classes", index.classes); !s.ok()) return s;
  if (Status s = read("AcDb:AcDbObjects", index.objects); !s.ok()) return s;
  if (Status s = read("AcDb:Handles", section); !s.ok()) return s;
  DwgObjectMapRead map =
      readDwgObjectMap(section, {2, 0, static_cast<std::uint32_t>(section.size())}, index.objects.size());
  if (!map.status.ok()) return Status::fail(map.status.code, "AcDb:Handles: " + map.status.detail);
  index.objectMap = std::move(map.objects);
  return {};
}

}  // namespace

Status indexDwgPagedFile(std::string_view file, DwgPagedIndex& index) {
  index = {};
  if (isDwg2007File(file)) {
    Dwg2007File layout;
    if (Status s = readDwg2007File(file, layout); !s.ok()) return s;
    index.layout.header.release = Release::R2007;
    index.layout.header.formatMaintenance = layout.header.formatMaintenance;
    index.layout.header.codepage = layout.header.codepage;
    return indexSections(
        Release::R2007,
        [&](std::string_view name, std::string& out) { return readDwg2007Section(file, layout, name, out); }, index);
  }
  if (Status s = readDwgPagedFile(file, index.layout); !s.ok()) return s;
  return indexSections(
      index.layout.header.release,
      [&](std::string_view name, std::string& out) { return readDwgPagedSection(file, index.layout, name, out); },
      index);
}

DwgPagedObjectFrame readDwgPagedObjectFrame(std::string_view objects, std::uint64_t offset, Release r) {
  DwgPagedObjectFrame result;
  if (offset >= objects.size()) {
    result.status = bad("object at " + hexOf(offset) + " lies past the end of the objects");
    return result;
  }
  const std::string_view rest = objects.substr(offset);
  DwgBitReader in(rest);
  const std::uint64_t size = in.readModularShort();
  if (r >= Release::R2010) result.handleBits = in.readUnsignedModularChar();
  if (in.failed()) {
    result.status = bad("object at " + hexOf(offset) + ": size " + in.failure());
    return result;
  }
  const std::size_t head = in.bitPosition() / 8;
  if (size > rest.size() - head || rest.size() - head - size < 2) {
    result.status = bad("object at " + hexOf(offset) + " of " + std::to_string(size) + " bytes reaches past the objects");
    return result;
  }
  if (result.handleBits > size * 8) {
    result.status = bad("object at " + hexOf(offset) + " has a handle stream of " + std::to_string(result.handleBits) +
                        " bits in " + std::to_string(size) + " bytes");
    return result;
  }
  const std::uint16_t stored = rs(rest, head + size);
  const std::uint16_t computed = dwgCrc16(rest.substr(0, head + size));
  if (stored != computed) {
    result.status = bad("object at " + hexOf(offset) + ": CRC " + hexOf(stored) + ", its bytes give " + hexOf(computed));
    return result;
  }
  result.data = rest.substr(head, size);
  return result;
}

// ------------------------------------------------------------- writing

namespace {

// Pads `out` to `size` bytes with the fixed sequence, as native files do.
void padPage(std::string& out, std::size_t pageStart, std::size_t size) {
  const std::size_t used = out.size() - pageStart;
  if (used >= size) return;
  std::string pad(size - used, '\0');
  dwgScramble(pad);
  out.append(pad);
}

void putSystemPage(std::uint32_t type, std::size_t expanded, std::string_view compressed, std::string& out) {
  std::string head;
  putRl(head, type);
  putRl(head, static_cast<std::uint32_t>(expanded));
  putRl(head, static_cast<std::uint32_t>(compressed.size()));
  putRl(head, 2);
  putRl(head, 0);
  setRl(head, 16, dwgPageChecksum(compressed, dwgPageChecksum(head, 0)));
  out.append(head);
  out.append(compressed);
}

// The bytes a stored section's single page carries: its page size.
std::size_t storedPageData(const DwgPagedSectionData& s) {
  return s.pageSize != 0 ? s.pageSize : roundUp(s.data.size(), 0x80);
}

}  // namespace

std::optional<std::uint64_t> dwgPagedDataAddress(std::span<const DwgPagedSectionData> sections, std::size_t index) {
  if (index >= sections.size()) return std::nullopt;
  std::uint64_t at = kDwgPagesStart;
  for (std::size_t i = 0; i < index; ++i) {
    const DwgPagedSectionData& s = sections[i];
    if (s.compressed) return std::nullopt;
    if (!s.data.empty()) at += kDataHeaderSize + roundUp(storedPageData(s), 0x20);
  }
  return at + kDataHeaderSize;
}

Status writeDwgPagedFile(const DwgPagedHeader& header, std::span<const DwgPagedSectionData> sections, std::string& out) {
  if (!isPagedRelease(header.release))
    return Status::fail(StatusCode::NotSupported,
                        "DWG files of version " + std::string(releaseInfo(header.release).version) + " are not paged");
  out.assign(kDwgPagesStart, '\0');
  DwgPagedHeader h = header;
  std::vector<DwgPage> pages;
  std::vector<DwgSectionInfo> infos;
  std::uint32_t nextId = 1;

  auto addDataPage = [&](const DwgSectionInfo& info, std::uint64_t offset, std::string_view data) {
    const std::size_t at = out.size();
    const std::size_t size = kDataHeaderSize + roundUp(data.size(), 0x20);
    const std::array<std::uint32_t, 8> words{kDwgDataPageType, info.number, static_cast<std::uint32_t>(data.size()),
                                             static_cast<std::uint32_t>(size), static_cast<std::uint32_t>(offset), 0, 0,
                                             dwgPageChecksum(data, 0)};
    std::string head;
    for (std::uint32_t w : words) putRl(head, w);
    setRl(head, 24, dwgPageChecksum(head, words[7]));
    const auto mask = static_cast<std::uint32_t>(kDataPageMask ^ at);
    for (std::size_t i = 0; i < 8; ++i) setRl(head, 4 * i, rl(head, 4 * i) ^ mask);
    out.append(head);
    out.append(data);
    padPage(out, at, size);
    const std::uint32_t id = nextId++;
    pages.push_back({static_cast<std::int32_t>(id), static_cast<std::uint32_t>(size), at});
    return DwgSectionPage{id, static_cast<std::uint32_t>(data.size()), offset};
  };

  std::uint32_t number = 1;
  for (const DwgPagedSectionData& s : sections) {
    if (s.name.size() >= 64) return Status::fail(StatusCode::OutOfRange, "section name " + s.name + " is too long");
    DwgSectionInfo info;
    info.name = s.name;
    info.size = s.data.size();
    info.compression = s.compressed ? 2 : 1;
    info.number = number++;
    const std::size_t dataStart = out.size() + kDataHeaderSize;
    if (s.compressed) {
      info.maxPageSize = kDwgMaxPageData;
      std::string chunk, packed;
      for (std::size_t offset = 0; offset < s.data.size(); offset += kDwgMaxPageData) {
        chunk.assign(std::string_view(s.data).substr(offset, kDwgMaxPageData));
        chunk.resize(kDwgMaxPageData, '\0');
        packed.clear();
        if (Status st = dwgCompress(chunk, packed); !st.ok()) return st;
        info.pages.push_back(addDataPage(info, offset, packed));
      }
    } else {
      const std::size_t pageSize = storedPageData(s);
      if (pageSize < s.data.size() || pageSize % 0x20 != 0)
        return Status::fail(StatusCode::OutOfRange, "section " + s.name + " of " + std::to_string(s.data.size()) +
                                                        " bytes cannot be stored in pages of " + std::to_string(pageSize));
      info.maxPageSize = static_cast<std::uint32_t>(pageSize);
      if (!s.data.empty()) {
        std::string page(s.data);
        page.resize(pageSize, '\0');
        info.pages.push_back(addDataPage(info, 0, page));
      }
    }
    if (!info.pages.empty() && s.name == "AcDb:SummaryInfo") h.summaryInfoAddress = static_cast<std::uint32_t>(dataStart);
    if (!info.pages.empty() && s.name == "AcDb:Preview") h.previewAddress = static_cast<std::uint32_t>(dataStart);
    infos.push_back(std::move(info));
    if (out.size() > UINT32_MAX) return Status::fail(StatusCode::OutOfRange, "the sections pass the 4 GB of a file");
  }

  // The section map: an unnamed empty description, then the sections.
  std::string map;
  const auto count = static_cast<std::uint32_t>(infos.size() + 1);
  for (std::uint32_t w : {count, 2u, kDwgMaxPageData, 0u, count}) putRl(map, w);
  auto describe = [&](const DwgSectionInfo& info) {
    putRll(map, info.size);
    for (std::uint32_t w : {static_cast<std::uint32_t>(info.pages.size()), info.maxPageSize, 1u, info.compression,
                            info.number, info.encrypted})
      putRl(map, w);
    std::string name = info.name;
    name.resize(64, '\0');
    map.append(name);
    for (const DwgSectionPage& p : info.pages) {
      putRl(map, p.id);
      putRl(map, p.dataSize);
      putRll(map, p.offset);
    }
  };
  DwgSectionInfo unnamed;
  unnamed.maxPageSize = kDwgMaxPageData;
  describe(unnamed);
  for (const DwgSectionInfo& info : infos) describe(info);
  std::string packed;
  if (Status s = dwgCompress(map, packed); !s.ok()) return s;
  h.sectionMapId = nextId++;
  const std::size_t sectionMapAt = out.size();
  putSystemPage(kDwgSectionMapType, map.size(), packed, out);
  padPage(out, sectionMapAt, roundUp(kSystemHeaderSize + packed.size(), 0x20));
  pages.push_back({static_cast<std::int32_t>(h.sectionMapId), static_cast<std::uint32_t>(out.size() - sectionMapAt),
                   sectionMapAt});

  // The page map lists itself: its size is found by compressing until it
  // no longer grows (the page is padded to the size it lists).
  h.pageMapId = nextId++;
  const std::size_t pageMapAt = out.size();
  std::uint32_t mapSize = 0x20;
  for (;;) {
    map.clear();
    for (const DwgPage& p : pages) {
      putRl(map, static_cast<std::uint32_t>(p.id));
      putRl(map, p.size);
    }
    putRl(map, h.pageMapId);
    putRl(map, mapSize);
    packed.clear();
    if (Status s = dwgCompress(map, packed); !s.ok()) return s;
    const auto needed = static_cast<std::uint32_t>(roundUp(kSystemHeaderSize + packed.size(), 0x20));
    if (needed <= mapSize) break;
    mapSize = needed;
  }
  putSystemPage(kDwgPageMapType, map.size(), packed, out);
  pages.push_back({static_cast<std::int32_t>(h.pageMapId), mapSize, pageMapAt});

  h.lastPageId = h.pageMapId;
  h.lastPageEnd = pageMapAt + mapSize - kDwgPagesStart;
  h.pageMapAddress = pageMapAt - kDwgPagesStart;
  h.pageCount = static_cast<std::uint32_t>(pages.size());
  h.pageArraySize = h.pageMapId;
  h.gapCount = 0;
  h.gapArraySize = 0;

  // The tail: a blank system page header, then the copy of the block.
  for (std::uint32_t w : {kDwgPageMapType, 0u, 0u, 2u, 0u}) putRl(out, w);
  h.headerCopyAddress = out.size();
  if (out.size() > UINT32_MAX) return Status::fail(StatusCode::OutOfRange, "the file passes the 4 GB it can address");

  std::string block(kFileId);
  for (std::uint32_t w : {0u, static_cast<std::uint32_t>(kDwgPagedHeaderBlock), 4u, 0u, 0u, 0u, 1u, h.lastPageId})
    putRl(block, w);
  putRll(block, h.lastPageEnd);
  putRll(block, h.headerCopyAddress);
  for (std::uint32_t w : {h.gapCount, h.pageCount, 0x20u, 0x80u, 0x40u, h.pageMapId}) putRl(block, w);
  putRll(block, h.pageMapAddress);
  for (std::uint32_t w : {h.sectionMapId, h.pageArraySize, h.gapArraySize, 0u}) putRl(block, w);
  setRl(block, 0x68, dwgCrc32(block));
  dwgScramble(block);
  out.append(block);

  std::string head(releaseInfo(h.release).version);
  head.resize(0x0B, '\0');
  head.push_back(static_cast<char>(h.formatMaintenance));
  head.push_back(3);
  putRl(head, h.previewAddress);
  head.push_back(static_cast<char>(h.appRelease));
  head.push_back(static_cast<char>(h.appMaintenance));
  head.push_back(static_cast<char>(h.codepage & 0xFF));
  head.push_back(static_cast<char>(h.codepage >> 8));
  head.push_back(0);
  head.push_back(static_cast<char>(h.appRelease));
  head.push_back(static_cast<char>(h.appMaintenance));
  for (std::uint32_t w : {0u, 0u, h.summaryInfoAddress, 0u, 0x80u}) putRl(head, w);
  head.resize(0x80, '\0');
  head.append(block);
  std::string tail(kDwgPagesStart - head.size(), '\0');
  dwgScramble(tail, head.size());
  head.append(tail);
  std::copy(head.begin(), head.end(), out.begin());
  return {};
}

}  // namespace drawingdb
