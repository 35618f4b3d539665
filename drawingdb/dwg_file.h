// Whole DWG files of R13, R14 and 2000 to and from a Database.
//
// A file is a fixed header with section locators followed by blocks found
// through them: header variables, classes, the objects (found through the
// object map), the second header and the template; 2000 adds the
// AuxHeader.  Writing lays them out in the order native writers use:
//
//   fixed header · AuxHeader (2000) · preview · header variables · classes
//   · objects (ascending handles) · object map · second header · template
//
// Reading never assumes an order: every block is found through its
// locator, every object through the map, and each address, size and count
// is checked against the file before it is used.  Table records are read
// before the entities, so that the entities' handles to layers, linetypes,
// styles and blocks resolve to names; each block's entities are then
// followed along the chain its block record starts, in drawing order.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "drawingdb/byte_sink.h"
#include "drawingdb/dwg_file_header.h"
#include "drawingdb/dwg_paged_file.h"
#include "drawingdb/dwg_sections.h"
#include "drawingdb/model.h"
#include "drawingdb/releases.h"
#include "drawingdb/status.h"

namespace drawingdb {

// ------------------------------------------------------------- reading

struct DwgReadResult {
  Status status;
  std::vector<Finding> findings;  // objects damaged or not understood, links that lead nowhere
};

// The finding of an entity left out: its object's frame was sound (size
// and CRC) and its common data read, but the data of its kind did not
// decode.  The rest of the drawing is read.
inline constexpr std::string_view kDwgEntityLeftOut = "dwg-entity-left-out";

// Reads a DWG file of R13 to 2018 held in memory (or, through
// dwg_pre_r13.h, of 2.5 to 11/12) into an empty database.  A damaged file
// answers with a Status saying what and where; the database then holds what
// was read up to there.  An entity whose own data does not decode in a
// sound frame is left out with a finding kDwgEntityLeftOut.
DwgReadResult readDwg(std::string_view file, Database& db);

// ------------------------------------------------------------- writing

struct DwgWriteOptions {
  Release release = Release::R2000;
  // Where to report what the release could not carry; nothing is
  // reported when null.
  std::vector<Finding>* findings = nullptr;
};

// Writes the database as a DWG file of R13, R14, 2000 or 2004 (2.5 to
// 11/12 through dwg_pre_r13.h).  Adds to the database what the release
// requires and it lacks (Database::completeFor), as the DXF writer does.
Status writeDwg(Database& db, ByteSink& sink, const DwgWriteOptions& options);

// ------------------------------------------------------ the file layout

// The objects of a file as encoded, in ascending handle order: each
// object's bit data (type, handle, data and handle stream, padded to a
// byte) one after the other in `data`.
struct DwgEncodedObjects {
  struct Entry {
    Handle handle = 0;
    std::size_t offset = 0;
    std::size_t size = 0;
  };
  std::vector<Entry> entries;
  std::string data;

  void add(Handle handle, std::string_view bytes) {
    entries.push_back({handle, data.size(), bytes.size()});
    data.append(bytes);
  }
};

// What a file is made of, each block encoded or described; dwgFileLayout
// places them.
struct DwgFileParts {
  DwgFileHeader header;          // release, codepage and application bytes; the locators are made here
  std::string headerVariables;   // bit data of the header variables
  std::string classes;           // bit data of the classes
  DwgAuxHeader auxHeader;        // 2000 only
  DwgPreview preview;
  DwgEncodedObjects objects;
  DwgSecondHeader secondHeader;  // the locators are filled in here
  DwgTemplate measurement;
};

// Lays the parts out as one file in `out` (emptied first); the locators,
// the addresses and every CRC are filled in.
Status dwgFileLayout(const DwgFileParts& parts, std::string& out);

// Lays the parts out as a file of 2004 in `out`: the sections (header
// variables and classes within their sentinels, the objects with their
// offsets in the object map, AuxHeader, template, ObjFreeSpace and the
// small sections files of that release carry) as compressed or stored
// pages.  The file header's release, locators and second header are not
// used; its codepage is.
Status dwgPagedFileLayout(const DwgFileParts& parts, std::string& out);

// The 16 bytes AppInfo stores before each of its texts.  They identify the
// text: a GUID, its first three fields little-endian.  Files of the CAD
// release hold random GUIDs (version 4) there, the same for the same text;
// ours are name-based (version 3: MD5 of the nil namespace and the text),
// so that a text always has the same one.
std::array<std::uint8_t, 16> dwgAppInfoGuid(std::string_view text);

// A file's blocks as found through its header and object map.
struct DwgFileIndex {
  DwgFileHeader header;
  std::string_view headerVariables;  // bit data within the sentinels
  std::string_view classes;
  std::vector<DwgObjectLocation> objects;  // ascending handles
};

// Finds the blocks of a file; every locator, block and map page checked.
Status indexDwgFile(std::string_view file, DwgFileIndex& index);

// ------------------------------------------------- the objects of any layout

// What the object reader needs of a file of any layout: the bit data of
// the header variables and of the classes, the bytes the object map points
// into (flat files: the file itself; paged files: their objects section)
// and the map.  The views point into the file or into `held`.
struct DwgObjectSource {
  Release release = Release::R2000;
  std::uint16_t codepage = 30;
  std::string_view headerVariables;
  std::string_view classes;
  std::string_view objects;
  std::vector<DwgObjectLocation> map;  // ascending handles
  DwgPagedIndex held;                  // the sections read out of a paged file
};

// Indexes a file through the layout of its release: the flat layout of
// R13 to 2000, the paged layout of 2004, 2010, 2013 and 2018, the
// Reed-Solomon coded layout of 2007.
Status indexDwgObjectSource(std::string_view file, DwgObjectSource& out);

// The frame of the object at `address` of the source's objects, in the
// form of its release: its bit data and, from 2010 on, the size of its
// handle stream in bits.
DwgPagedObjectFrame readDwgObjectFrameOf(const DwgObjectSource& source, std::uint64_t address);

}  // namespace drawingdb
