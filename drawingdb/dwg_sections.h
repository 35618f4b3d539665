// The sections of a DWG file of R13, R14 and 2000 beside the objects: the
// header variables, the classes, the AuxHeader (2000), the preview image,
// ObjFreeSpace, the template and the second file header.  Pure functions
// between a section's bytes and the database's parts; the whole-file reader
// and writer place the bytes and resolve the handles.
//
// Header variables: one positional list of bit-coded values per release
// (DWG angles in radians, dates as Julian day + milliseconds).  Variables
// the database declares go to and from drawingdb::Header; names that DXF
// stores (current layer, text style ...) are handles here and are given in
// DwgHeaderHandles, which the whole-file code resolves; values no DXF
// variable holds are kept in Header::dwgUnknown so that writing the release
// they came from gives them back.
//
// Every reader checks each count, size and address against the bytes it is
// given and answers with a Status saying what is wrong where.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "drawingdb/code_page.h"
#include "drawingdb/dwg_bits.h"
#include "drawingdb/dwg_file_header.h"
#include "drawingdb/model.h"
#include "drawingdb/releases.h"
#include "drawingdb/status.h"

namespace drawingdb {

// ------------------------------------------------------- header variables

// The handles the header variables section holds.  0 is a null reference.
struct DwgHeaderHandles {
  Handle handseed = 0;  // next free handle; also $HANDSEED of the Header

  Handle viewportEntityHeader = 0;  // current VX record
  Handle currentLayer = 0;          // $CLAYER
  Handle textStyle = 0;             // $TEXTSTYLE
  Handle currentLinetype = 0;       // $CELTYPE
  Handle dimStyle = 0;              // $DIMSTYLE
  Handle mlineStyle = 0;            // $CMLSTYLE
  Handle paperUcs = 0;              // $PUCSNAME
  Handle paperUcsOrthoRef = 0;      // $PUCSORTHOREF (2000)
  Handle paperUcsBase = 0;          // $PUCSBASE (2000)
  Handle ucs = 0;                   // $UCSNAME
  Handle ucsOrthoRef = 0;           // $UCSORTHOREF (2000)
  Handle ucsBase = 0;               // $UCSBASE (2000)
  Handle dimTextStyle = 0;          // $DIMTXSTY
  Handle dimLeaderBlock = 0;        // $DIMLDRBLK (2000; R13/R14 store no such)
  Handle dimBlock = 0;              // $DIMBLK (2000; R13/R14 store the name)
  Handle dimBlock1 = 0;             // $DIMBLK1 (2000)
  Handle dimBlock2 = 0;             // $DIMBLK2 (2000)

  Handle blockControl = 0;
  Handle layerControl = 0;
  Handle styleControl = 0;
  Handle linetypeControl = 0;
  Handle viewControl = 0;
  Handle ucsControl = 0;
  Handle vportControl = 0;
  Handle appidControl = 0;
  Handle dimstyleControl = 0;
  Handle vxControl = 0;

  Handle groupDictionary = 0;        // ACAD_GROUP
  Handle mlineStyleDictionary = 0;   // ACAD_MLINESTYLE
  Handle namedObjects = 0;           // the root dictionary
  Handle layoutDictionary = 0;       // ACAD_LAYOUT (2000)
  Handle plotSettingsDictionary = 0; // ACAD_PLOTSETTINGS (2000)
  Handle plotStyleDictionary = 0;    // ACAD_PLOTSTYLENAME (2000)
  Handle currentPlotStyle = 0;       // CPSNID (2000, stored only when $CEPSNTYPE is 3)
  Handle materialDictionary = 0;     // ACAD_MATERIAL (2004)
  Handle colorDictionary = 0;        // ACAD_COLOR (2004)

  Handle paperSpace = 0;             // block record *Paper_Space
  Handle modelSpace = 0;             // block record *Model_Space
  Handle byLayer = 0;                // linetypes BYLAYER, BYBLOCK, CONTINUOUS
  Handle byBlock = 0;
  Handle continuous = 0;

  bool operator==(const DwgHeaderHandles&) const = default;
};

// The table a named variable's handle points into.
enum class DwgNameTable : std::uint8_t { Layer, Style, Linetype, DimStyle, MlineStyle, Ucs, Block };

// A header variable that DXF stores as a name and DWG as a handle: the
// whole-file code turns the one into the other through its records.
struct DwgNamedHandle {
  std::string_view variable;  // "$CLAYER"
  Handle DwgHeaderHandles::*member;
  DwgNameTable table;
  Span in;  // releases whose header section holds the handle
};
std::span<const DwgNamedHandle> dwgHeaderNamedHandles();

// Reads the header variables from a section's data (between its size field
// and its CRC, see readDwgSentinelBlock); texts are in the file's code page
// `page`.  Declared variables are set in `header`, the others kept in
// header.dwgUnknown (dwgUnknownFrom = r).
Status readDwgHeaderVariables(std::string_view data, Release r, const CodePage& page, Header& header,
                              DwgHeaderHandles& handles);

// Writes the section's data for release r (R13, R14, 2000): declared
// variables from `header` (or their defaults), kept unknown values when
// header.dwgUnknownFrom == r (else the values a new drawing has).
Status writeDwgHeaderVariables(const Header& header, const DwgHeaderHandles& handles, Release r,
                               const CodePage& page, std::string& data);

// The code page numbers of the file header (offset 0x13) and the second
// header <-> the names $DWGCODEPAGE gives them.  An unknown number has the
// empty name; an unknown name is 30 (ANSI_1252).
std::string_view dwgCodePageName(std::uint16_t number);
std::uint16_t dwgCodePageNumber(std::string_view name);

// Julian dates as DXF holds them (days and fraction) <-> day + milliseconds.
DwgTime dwgTimeFromJulian(double julian);
double julianFromDwgTime(const DwgTime& t);

// --------------------------------------------------------------- classes

// Class numbers start here in every file.
inline constexpr std::int16_t kDwgFirstClassNumber = 500;

struct DwgClassesRead {
  Status status;
  std::vector<ClassDef> classes;
  std::vector<std::int16_t> numbers;  // the number of each class, as stored
};
// Reads the classes from a section's data.
DwgClassesRead readDwgClasses(std::string_view data, Release r, const CodePage& page);

// Writes the section's data; class i gets number 500 + i.
Status writeDwgClasses(std::span<const ClassDef> classes, Release r, const CodePage& page, std::string& data);

// The classes a file of release r lists: the standard classes of the
// release first (2000: ACDBDICTIONARYWDFLT, ACDBPLACEHOLDER, LAYOUT, and the
// others files of real applications list; R13/R14: DICTIONARYVAR,
// LWPOLYLINE, HATCH, XRECORD), then the other classes of `have` in their
// order, without the kinds that have fixed type numbers in r and without
// repeats.  Never empty.
std::vector<ClassDef> dwgClassesFor(std::span<const ClassDef> have, Release r);

// The number of the class with this DXF name in a list written by
// writeDwgClasses, or -1.
std::int16_t dwgClassNumber(std::span<const ClassDef> classes, std::string_view dxfName);

// ------------------------------------------------------------- AuxHeader

// The 123 raw bytes of the 2000 AuxHeader (locator 5).
struct DwgAuxHeader {
  std::array<std::uint8_t, 3> marker{0xFF, 0x77, 0x01};
  std::uint16_t appRelease = 0x17;
  std::uint16_t appMaintenance = 0;
  std::uint32_t saves = 1;
  std::int32_t minusOne = -1;
  std::uint16_t saves2 = 1;
  std::uint16_t unknown17 = 0;
  std::uint32_t zero19 = 0;
  std::array<std::uint16_t, 4> releases{0x17, 0, 0x17, 0};
  std::array<std::uint16_t, 6> unknown31{};
  std::array<std::uint32_t, 5> zero43{};
  DwgTime created;   // as $TDCREATE
  DwgTime updated;   // as $TDUPDATE
  std::uint64_t handseed = 0;
  std::uint16_t zero87 = 0;
  std::uint16_t saves3 = 1;
  std::array<std::uint32_t, 3> zero91{};
  std::uint32_t saves4 = 1;
  std::array<std::uint32_t, 2> zero107{};
  std::array<std::uint8_t, 8> zero115{};
  bool operator==(const DwgAuxHeader&) const = default;
};
inline constexpr std::size_t kDwgAuxHeaderSize = 123;
Status readDwgAuxHeader(std::string_view file, const DwgSectionLocator& where, DwgAuxHeader& out);
void writeDwgAuxHeader(const DwgAuxHeader& aux, std::string& out);

// --------------------------------------------------------------- preview

struct DwgPreviewEntry {
  std::uint8_t type = 0;  // 1 header, 2 bitmap (DIB without file header), 3 WMF
  std::string data;
  bool operator==(const DwgPreviewEntry&) const = default;
};
struct DwgPreview {
  std::vector<DwgPreviewEntry> entries;
  bool operator==(const DwgPreview&) const = default;
};
// The preview whose begin sentinel is at `address` (file header 0x0D).
Status readDwgPreview(std::string_view file, std::uint64_t address, DwgPreview& out);
// Appends the preview; its address is out.size() on entry (entries hold
// absolute addresses, so `out` is the file written so far).
Status writeDwgPreview(const DwgPreview& preview, std::string& out);
// The same for a preview whose begin sentinel will lie at file address
// `start` (files of 2004 store it in a page of their own).
Status writeDwgPreview(const DwgPreview& preview, std::uint64_t start, std::string& out);
// What a writer puts there: the 80-byte header entry and a small blank
// 8-bit bitmap, as native files have.
DwgPreview dwgMinimalPreview();

// ---------------------------------------------------------- ObjFreeSpace

struct DwgObjFreeSpace {
  std::uint32_t zero = 0;
  std::uint32_t handles = 0;  // the highest handle (HANDSEED - 1)
  DwgTime updated;            // as $TDUPDATE
  std::uint32_t firstObject = 0;  // address of the lowest object
  std::vector<std::uint64_t> values{0x32, 0x64, 0x200, 0xFFFFFFFF};
  bool operator==(const DwgObjFreeSpace&) const = default;
};
Status readDwgObjFreeSpace(std::string_view file, const DwgSectionLocator& where, DwgObjFreeSpace& out);
// Appends the block (53 bytes with the usual four values).
Status writeDwgObjFreeSpace(const DwgObjFreeSpace& free, std::string& out);

// -------------------------------------------------------------- template

struct DwgTemplate {
  std::string description;
  std::uint16_t measurement = 0;  // $MEASUREMENT: 0 imperial, 1 metric
  bool operator==(const DwgTemplate&) const = default;
};
Status readDwgTemplate(std::string_view file, const DwgSectionLocator& where, DwgTemplate& out);
Status writeDwgTemplate(const DwgTemplate& t, std::string& out);

// ------------------------------------------------------ second file header

struct DwgSecondHeaderHandle {
  std::uint8_t index = 0;  // 0 HANDSEED, 1-10 the control objects, 11 root dictionary,
                           // 12 ACAD_MLINESTYLE, 13 ACAD_GROUP
  Handle value = 0;
  bool operator==(const DwgSecondHeaderHandle&) const = default;
};
struct DwgSecondHeader {
  Release release = Release::R2000;
  std::uint8_t formatMaintenance = 15;  // as file header 0x0B
  std::uint8_t one = 1;                 // as file header 0x0C
  std::uint16_t appCode = 0;            // (maintenance << 8) | release code of the saving application
  std::uint16_t codepage = 30;
  std::vector<DwgSectionLocator> locators;
  std::vector<DwgSecondHeaderHandle> handles;
  std::array<std::uint8_t, 8> trailing{};  // R14 and 2000
  bool operator==(const DwgSecondHeader&) const = default;
};
// The 14 handle records from the header's handles.
std::vector<DwgSecondHeaderHandle> dwgSecondHeaderHandles(const DwgHeaderHandles& h);
// Reads the second header whose begin sentinel is at `address`.
Status readDwgSecondHeader(std::string_view file, std::uint64_t address, DwgSecondHeader& out);
// The address of the second header's begin sentinel, searched from the end
// of the file backwards; npos when there is none.
std::size_t findDwgSecondHeader(std::string_view file);
// Appends the second header; its address is out.size() on entry.
Status writeDwgSecondHeader(const DwgSecondHeader& second, std::string& out);

}  // namespace drawingdb
