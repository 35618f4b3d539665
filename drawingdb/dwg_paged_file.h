// The paged layout of DWG files of 2004, 2010, 2013 and 2018 (AC1018,
// AC1024, AC1027, AC1032): the bytes below the sections.
//
//   0x00  plain header: version, maintenance byte, preview and SummaryInfo
//         addresses, application bytes, codepage, security flags
//   0x80  0x6C bytes XORed with a fixed byte sequence: the file ID, the ids
//         and places of the two system pages, page counts, a CRC-32
//   0xEC  20 more bytes of that sequence
//   0x100 pages laid end to end; the page map lists (id, size) in file
//         order, so a page's address is 0x100 + the sizes before it
//
// Two system pages (20-byte plain header, compressed body) describe the
// rest: the page map and the section map, whose descriptions name each
// section and list its pages.  A data page has a 32-byte header XORed with
// a mask of its address and carries up to one page size of its section,
// compressed or stored.  Every page carries a checksum.
//
// Reading checks every id, size, offset and count against the file and
// against each other before using it; a damaged file answers BadFile (or
// OutOfRange for sizes beyond what a file can hold) saying what is wrong
// where, never reads outside the file and allocates no more than the
// sections it was asked for can hold.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "drawingdb/dwg_file_header.h"
#include "drawingdb/releases.h"
#include "drawingdb/status.h"

namespace drawingdb {

// ---------------------------------------------------------- checksums

// The zip CRC-32 (reflected 0xEDB88320, register and result inverted) of
// the decrypted header block.
std::uint32_t dwgCrc32(std::string_view bytes);

// The checksum of pages: two 16-bit sums modulo 0xFFF1 (Adler's, with a
// seed in place of its start value 1).
std::uint32_t dwgPageChecksum(std::string_view bytes, std::uint32_t seed);

// XORs `bytes` with the file's fixed byte sequence, taken from position
// `from` of it on (the header block starts at position 0).
void dwgScramble(std::span<char> bytes, std::size_t from = 0);

// --------------------------------------------------------- the header

inline constexpr std::size_t kDwgPagedHeaderBlock = 0x6C;  // bytes of the encrypted block at 0x80
inline constexpr std::size_t kDwgPagesStart = 0x100;       // address of the first page
inline constexpr std::uint32_t kDwgPageMapType = 0x41630E3B;
inline constexpr std::uint32_t kDwgSectionMapType = 0x4163003B;
inline constexpr std::uint32_t kDwgDataPageType = 0x4163043B;
inline constexpr std::uint32_t kDwgMaxPageData = 0x7400;    // uncompressed bytes of a compressed page

struct DwgPagedHeader {
  Release release = Release::R2004;
  std::uint8_t formatMaintenance = 0x68;   // 0x0B
  std::uint32_t previewAddress = 0;        // 0x0D: first data byte of the preview page
  std::uint8_t appRelease = 0x19;          // 0x11
  std::uint8_t appMaintenance = 0;         // 0x12
  std::uint16_t codepage = 30;             // 0x13
  std::uint32_t security = 0;              // 0x18: 1 data encrypted, 2 properties encrypted
  std::uint32_t summaryInfoAddress = 0;    // 0x20: first data byte of the SummaryInfo page
  std::uint32_t vbaAddress = 0;            // 0x24
  // The encrypted block.
  std::uint32_t lastPageId = 0;
  std::uint64_t lastPageEnd = 0;           // end of the last page - 0x100
  std::uint64_t headerCopyAddress = 0;     // the block's copy at the end of the file
  std::uint32_t gapCount = 0;
  std::uint32_t pageCount = 0;             // pages in the page map that are no gaps
  std::uint32_t pageMapId = 0;
  std::uint64_t pageMapAddress = 0;        // address of the page map - 0x100
  std::uint32_t sectionMapId = 0;
  std::uint32_t pageArraySize = 0;         // highest page id
  std::uint32_t gapArraySize = 0;
  bool operator==(const DwgPagedHeader&) const = default;
};

// --------------------------------------------------- pages and sections

struct DwgPage {
  std::int32_t id = 0;       // < 0: a gap (free space)
  std::uint32_t size = 0;    // bytes on disk, header and padding included
  std::uint64_t address = 0;
};

struct DwgSectionPage {
  std::uint32_t id = 0;
  std::uint32_t dataSize = 0;   // bytes following the page header
  std::uint64_t offset = 0;     // of the page's data within the section
};

struct DwgSectionInfo {
  std::string name;             // "AcDb:Header"
  std::uint64_t size = 0;       // bytes of the section's data
  std::uint32_t maxPageSize = 0;
  std::uint32_t compression = 2;  // 1 stored, 2 compressed
  std::uint32_t number = 0;     // the section id data pages carry
  std::uint32_t encrypted = 0;  // 1: password-protected data
  std::vector<DwgSectionPage> pages;
};

// What the header and the two system pages of a file say.
struct DwgPagedFile {
  DwgPagedHeader header;
  std::vector<DwgPage> pages;           // in file order, gaps included
  std::vector<DwgSectionInfo> sections; // in stored order

  // The section of that name; nullptr when the file has none.
  const DwgSectionInfo* section(std::string_view name) const;
  // The used page of that id; nullptr when there is none.
  const DwgPage* page(std::int32_t id) const;
};

// Whether the file opens with the version of a release in this layout.
bool isDwgPagedFile(std::string_view file);

// Reads the headers, the page map and the section map.
Status readDwgPagedFile(std::string_view file, DwgPagedFile& layout);

// The data of one section (its `size` bytes), every page checked and
// decompressed; a section without pages reads as `size` zero bytes.
// Password-protected sections answer NotSupported.
Status readDwgPagedSection(std::string_view file, const DwgPagedFile& layout, const DwgSectionInfo& section,
                           std::string& out);
// The same for the section of a name; NotFound when the file has none.
Status readDwgPagedSection(std::string_view file, const DwgPagedFile& layout, std::string_view name,
                           std::string& out);

// ------------------------------------------------------ the object layer

// What the object reader needs of a paged file, each part checked: the bit
// data of the header variables and of the classes (within their sentinels,
// CRC checked; from 2010 on the size field has a second, high word), the
// objects section and the object map, whose offsets lie within it.  A file
// of 2007 is indexed the same way through its own layout; `layout` then
// holds the header's release, maintenance byte and codepage alone.
struct DwgPagedIndex {
  DwgPagedFile layout;
  std::string headerVariables;
  std::string classes;
  std::string objects;
  std::vector<DwgObjectLocation> objectMap;  // ascending handles
};
Status indexDwgPagedFile(std::string_view file, DwgPagedIndex& index);

// The frame of the object at `offset` of the objects section: MS size,
// (from 2010 on) UMC size of the handle stream in bits, the data, RS CRC
// over all before it.  `data` is the bit data after the size fields,
// `handleBits` the handle stream's size (0 before 2010).
struct DwgPagedObjectFrame {
  Status status;
  std::string_view data;
  std::uint64_t handleBits = 0;
};
DwgPagedObjectFrame readDwgPagedObjectFrame(std::string_view objects, std::uint64_t offset, Release r);

// --------------------------------------------------------------- writing

struct DwgPagedSectionData {
  std::string name;
  std::string data;
  bool compressed = true;
  // Page size of a stored section (a multiple of 0x20 not smaller than the
  // data); 0: the data's size rounded up to 0x80.
  std::uint32_t pageSize = 0;
};

// Lays the sections out as a file in `out` (emptied first): data pages in
// the given order with ids from 1, compressed sections in pages of 0x7400
// bytes, then the section map and the page map, the blank system header
// and the copy of the header block.  The header's release, maintenance,
// application and codepage bytes are taken from `header`; its addresses,
// ids and counts are computed (the SummaryInfo and Preview addresses from
// sections of those names).
Status writeDwgPagedFile(const DwgPagedHeader& header, std::span<const DwgPagedSectionData> sections,
                         std::string& out);

// Where writeDwgPagedFile puts the first data byte of section `index`'s
// page, for data that states its own address (the preview).  Known only
// when the sections before it are stored, not compressed; nullopt else.
std::optional<std::uint64_t> dwgPagedDataAddress(std::span<const DwgPagedSectionData> sections, std::size_t index);

}  // namespace drawingdb
