// The frame of a DWG file of R13, R14 and 2000: the fixed file header with
// its section locators, the blocks framed by sentinels (header variables,
// classes), the object map and the frame of each object.
//
// Fixed header (byte-aligned, little endian):
//   0x00  6 bytes  version "AC1012" / "AC1014" / "AC1015", then 5 zero bytes
//   0x0B  RC   maintenance release of the format     0x0C  RC  1
//   0x0D  RL   address of the preview image
//   0x11  RC   release code of the saving application  0x12  RC  its maintenance
//   0x13  RS   codepage                               0x15  RL  locator count N
//   0x19  N x (RC number, RL address, RL size)
//         RS   CRC of bytes 0 .. end of the locators, then the end sentinel
//
// Object map: pages of (RS big-endian size P, P - 2 bytes of UMC handle
// delta / MC address delta pairs, RS big-endian CRC over size and pairs);
// the first pair of a page is absolute, a page of size 2 ends the map.
//
// Every reader here checks each count, size and address against the file
// before using it and answers with a Status that says what is wrong where.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "drawingdb/dwg_bits.h"
#include "drawingdb/releases.h"
#include "drawingdb/status.h"

namespace drawingdb {

inline constexpr DwgSentinel kDwgFileHeaderEnd = {0x95, 0xA0, 0x4E, 0x28, 0x99, 0x82, 0x1A, 0xE5,
                                                  0x5E, 0x41, 0xE0, 0x5F, 0x9D, 0x3A, 0x4D, 0x00};
inline constexpr DwgSentinel kDwgHeaderVariablesBegin = {0xCF, 0x7B, 0x1F, 0x23, 0xFD, 0xDE, 0x38, 0xA9,
                                                         0x5F, 0x7C, 0x68, 0xB8, 0x4E, 0x6D, 0x33, 0x5F};
inline constexpr DwgSentinel kDwgClassesBegin = {0x8D, 0xA1, 0xC4, 0xB8, 0xC4, 0xA9, 0xF8, 0xC5,
                                                 0xC0, 0xDC, 0xF4, 0x5F, 0xE7, 0xCF, 0xB6, 0x8A};
inline constexpr DwgSentinel kDwgPreviewBegin = {0x1F, 0x25, 0x6D, 0x07, 0xD4, 0x36, 0x28, 0x28,
                                                 0x9D, 0x57, 0xCA, 0x3F, 0x9D, 0x44, 0x10, 0x2B};
inline constexpr DwgSentinel kDwgSecondHeaderBegin = {0xD4, 0x7B, 0x21, 0xCE, 0x28, 0x93, 0x9F, 0xBF,
                                                      0x53, 0x24, 0x40, 0x09, 0x12, 0x3C, 0xAA, 0x01};

// Every end sentinel is the bitwise complement of its begin sentinel.
constexpr DwgSentinel endSentinelOf(const DwgSentinel& begin) {
  DwgSentinel end{};
  for (std::size_t i = 0; i < begin.size(); ++i) end[i] = static_cast<std::uint8_t>(~begin[i]);
  return end;
}

// The numbers of the section locator records.
enum class DwgSection : std::uint8_t {
  HeaderVariables = 0,
  Classes = 1,
  ObjectMap = 2,
  ObjFreeSpace = 3,  // optional: address 0, size 0 when absent
  Template = 4,
  AuxHeader = 5,     // 2000 only
};

struct DwgSectionLocator {
  std::uint8_t number = 0;
  std::uint32_t address = 0;
  std::uint32_t size = 0;
  bool operator==(const DwgSectionLocator&) const = default;
};

struct DwgFileHeader {
  Release release = Release::R2000;
  std::uint8_t formatMaintenance = 15;  // 0x0B: 0 for R13/R14 from us, 15 for 2000
  std::uint8_t one = 1;                 // 0x0C
  std::uint32_t previewAddress = 0;
  std::uint8_t appRelease = 0;          // 0x11
  std::uint8_t appMaintenance = 0;      // 0x12
  std::uint16_t codepage = 30;          // ANSI 1252
  std::vector<DwgSectionLocator> locators;

  // The locator with this number; nullptr when the file has none.
  const DwgSectionLocator* locator(DwgSection which) const;
  bool operator==(const DwgFileHeader&) const = default;
};

// Bytes of the fixed header with N locators, CRC and end sentinel.
constexpr std::size_t dwgFileHeaderSize(std::size_t locators) { return 0x19 + 9 * locators + 2 + 16; }

struct DwgFileHeaderRead {
  Status status;
  DwgFileHeader header;  // filled as far as it could be read
};

// Reads the fixed header of `file` (the whole file, so that the locators can
// be checked against its size).  Other releases answer NotSupported; a bad
// CRC or sentinel BadFile; a locator reaching past the end OutOfRange.
DwgFileHeaderRead readDwgFileHeader(std::string_view file);

// Appends the fixed header (with its CRC and end sentinel) to `out`.
Status writeDwgFileHeader(const DwgFileHeader& header, std::string& out);

// ------------------------------------------------- blocks within sentinels

// The data of a block laid out as: begin sentinel, RL size, data, RS CRC
// over the size field and the data, end sentinel (header variables and
// classes).  The locator must hold the whole block.
struct DwgSentinelBlockRead {
  Status status;
  std::string_view data;
};
DwgSentinelBlockRead readDwgSentinelBlock(std::string_view file, const DwgSectionLocator& where,
                                          const DwgSentinel& begin);
// Appends such a block around `data`; its locator size is data.size() + 38.
Status writeDwgSentinelBlock(std::string_view data, const DwgSentinel& begin, std::string& out);

// ------------------------------------------------------------ object map

struct DwgObjectLocation {
  Handle handle = 0;
  std::uint64_t address = 0;  // of the object's MS size field
  bool operator==(const DwgObjectLocation&) const = default;
};

// Pages readers accept; writers start a new page before a page would pass
// kDwgMapPageLimit bytes (size field included).
inline constexpr std::size_t kDwgMapPageLimit = 2032;
inline constexpr std::size_t kDwgMapPageReadLimit = 2040;

struct DwgObjectMapRead {
  Status status;
  std::vector<DwgObjectLocation> objects;  // ascending handles
};

// Reads the map at `where`; every handle must rise, every address must lie
// inside the file, or, when `objectsSize` is given, inside the objects
// section of that size (files of 2004 and later map offsets within it).
inline constexpr std::uint64_t kDwgObjectsInFile = UINT64_MAX;
DwgObjectMapRead readDwgObjectMap(std::string_view file, const DwgSectionLocator& where,
                                  std::uint64_t objectsSize = kDwgObjectsInFile);

// Appends the pages of the map and its final empty page.  The objects must
// have ascending, non-zero handles.
Status writeDwgObjectMap(std::span<const DwgObjectLocation> objects, std::string& out);

// ----------------------------------------------------------- one object

// The frame of one object: MS size S, S bytes of bit data, RS CRC over the
// MS bytes and the data.
struct DwgObjectFrame {
  Status status;
  std::string_view data;  // the S bytes; bit 0 is the object type
};
DwgObjectFrame readDwgObjectFrame(std::string_view file, std::uint64_t address);
// Appends the frame around `data`.
void writeDwgObjectFrame(std::string_view data, std::string& out);

}  // namespace drawingdb
