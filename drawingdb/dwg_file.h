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

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "drawingdb/byte_sink.h"
#include "drawingdb/dwg_file_header.h"
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

// Reads a DWG file of R13, R14 or 2000 (or, through dwg_pre_r13.h, of 2.5
// to 11/12) held in memory into an empty database.  A damaged file answers
// with a Status saying what and where; the database then holds what was
// read up to there.
DwgReadResult readDwg(std::string_view file, Database& db);

// ------------------------------------------------------------- writing

struct DwgWriteOptions {
  Release release = Release::R2000;
  // Where to report what the release could not carry; nothing is
  // reported when null.
  std::vector<Finding>* findings = nullptr;
};

// Writes the database as a DWG file of R13, R14 or 2000 (2.5 to 11/12
// through dwg_pre_r13.h).  Adds to the database what the release requires
// and it lacks (Database::completeFor), as the DXF writer does.
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

// A file's blocks as found through its header and object map.
struct DwgFileIndex {
  DwgFileHeader header;
  std::string_view headerVariables;  // bit data within the sentinels
  std::string_view classes;
  std::vector<DwgObjectLocation> objects;  // ascending handles
};

// Finds the blocks of a file; every locator, block and map page checked.
Status indexDwgFile(std::string_view file, DwgFileIndex& index);

}  // namespace drawingdb
