// The layout of DWG files of 2007 (AC1021): the bytes below the sections.
//
//   0x00   plain header as in the paged files of 2004: version, maintenance
//          byte, preview and SummaryInfo addresses, codepage
//   0x80   the file header, 3 interleaved Reed-Solomon codewords (k = 239):
//          a 0x20-byte prologue, then 0x110 bytes (34 eight-byte fields),
//          usually compressed; a copy of 0x80..0x47F ends the file
//   0x480  pages laid end to end; the pages map lists (size, id) in file
//          order, so a page's address is 0x480 + the sizes before it
//
// Two system pages, Reed-Solomon coded (k = 239) and compressed, each
// repeated several times inside its codewords, describe the rest: the
// pages map and the sections map, whose records name each section and
// list its pages.  A data page has no header: it is either the section's
// bytes stored plainly or codewords (k = 251) holding compressed bytes.
//
// Reading checks every id, size, offset and count against the file and
// against each other before using it; a damaged file answers BadFile (or
// OutOfRange for sizes beyond what a file can hold) saying what is wrong
// where, never reads outside the file and allocates no more than the
// sections it was asked for can hold.  Bad bytes within what the codewords
// can correct are corrected; the file header falls back on its copy.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "drawingdb/status.h"

namespace drawingdb {

inline constexpr std::size_t kDwg2007PagesStart = 0x480;
inline constexpr std::size_t kDwg2007HeaderCopy = 0x400;  // bytes of the copy at the end of the file

// The fields of the file header that reading uses, by their place among
// the 34 (byte offset = 8 x place).
struct Dwg2007Header {
  std::uint8_t formatMaintenance = 0;      // plain header 0x0B
  std::uint16_t codepage = 0;              // plain header 0x13
  std::uint64_t fileSize = 0;              // 1
  std::uint64_t pagesMapCorrection = 0;    // 3: repeats of the pages map's data
  std::uint64_t pagesMapCopyOffset = 0;    // 5
  std::uint64_t pagesMapOffset = 0;        // 7: address of the pages map - 0x480
  std::uint64_t pagesMapId = 0;            // 8
  std::uint64_t pagesMapCompressed = 0;    // 10
  std::uint64_t pagesMapSize = 0;          // 11
  std::uint64_t pageCount = 0;             // 12
  std::uint64_t highestPageId = 0;         // 13
  std::uint64_t sectionCount = 0;          // 20
  std::uint64_t sectionsMapCompressed = 0; // 22
  std::uint64_t sectionsMapCopyId = 0;     // 23
  std::uint64_t sectionsMapId = 0;         // 24
  std::uint64_t sectionsMapSize = 0;       // 25
  std::uint64_t sectionsMapCorrection = 0; // 27: repeats of the sections map's data
  std::uint64_t streamVersion = 0;         // 29
};

struct Dwg2007Page {
  std::int64_t id = 0;       // < 0: unused space
  std::uint64_t size = 0;    // bytes on disk
  std::uint64_t address = 0;
};

struct Dwg2007SectionPage {
  std::uint64_t offset = 0;        // of the page's data within the section
  std::uint64_t id = 0;
  std::uint64_t dataSize = 0;      // bytes the page adds to the section
  std::uint64_t compressedSize = 0;
};

inline constexpr std::uint64_t kDwg2007Stored = 1;  // encoding: bytes as they are
inline constexpr std::uint64_t kDwg2007Coded = 4;   // encoding: codewords, compressed when smaller

struct Dwg2007Section {
  std::string name;             // "AcDb:Header"
  std::uint64_t size = 0;       // bytes of the section's data
  std::uint64_t maxPageSize = 0;
  std::uint64_t encrypted = 0;  // 1: password-protected data
  std::uint64_t encoding = kDwg2007Coded;
  std::vector<Dwg2007SectionPage> pages;
};

// What the file header and the two system pages of a file say.
struct Dwg2007File {
  Dwg2007Header header;
  std::vector<Dwg2007Page> pages;        // used pages, by ascending id
  std::vector<Dwg2007Section> sections;  // in stored order
  std::size_t corrected = 0;             // bad bytes the codewords corrected

  // The section of that name; nullptr when the file has none.
  const Dwg2007Section* section(std::string_view name) const;
  // The used page of that id; nullptr when there is none.
  const Dwg2007Page* page(std::int64_t id) const;
};

// Whether the file opens with the version of 2007.
bool isDwg2007File(std::string_view file);

// Reads the file header, the pages map and the sections map.
Status readDwg2007File(std::string_view file, Dwg2007File& layout);

// The data of one section (its `size` bytes), every page decoded and
// decompressed; a section without pages reads as `size` zero bytes.
// Password-protected sections answer NotSupported.  `corrected` (when
// given) grows by the bad bytes the codewords corrected.
Status readDwg2007Section(std::string_view file, const Dwg2007File& layout, const Dwg2007Section& section,
                          std::string& out, std::size_t* corrected = nullptr);
// The same for the section of a name; NotFound when the file has none.
Status readDwg2007Section(std::string_view file, const Dwg2007File& layout, std::string_view name,
                          std::string& out, std::size_t* corrected = nullptr);

}  // namespace drawingdb
