// Files as a whole: the format of a file found from its first bytes,
// reading a file by name, and writing a database in a chosen format and
// release to a byte sink the caller gives.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "drawingdb/byte_sink.h"
#include "drawingdb/model.h"
#include "drawingdb/releases.h"
#include "drawingdb/status.h"

namespace drawingdb {

enum class FileFormat : std::uint8_t { Unknown, DxfAscii, DxfBinary, Dwg };

// The DWG file layouts, one per family of releases.
enum class DwgFamily : std::uint8_t {
  None,        // not a DWG file
  BeforeR13,   // up to AC1009: fixed header, tables at offsets
  R13To2000,   // AC1012 - AC1015: sections and object map
  R2004,       // AC1018: pages, compression
  R2007,       // AC1021: Reed-Solomon pages
  R2010On,     // AC1024 - AC1032
};

struct FormatInfo {
  FileFormat format = FileFormat::Unknown;
  std::optional<Release> release;  // when the first bytes tell it
  DwgFamily family = DwgFamily::None;
  Status readable;                 // Ok, or why the toolkit cannot read the file (yet)
};

// Looks at the first bytes of a file (a few kilobytes are enough for the
// release of a DXF file, whose $ACADVER opens the header).
FormatInfo detectFormat(std::string_view firstBytes);

struct ReadResult {
  Status status;
  std::vector<Finding> findings;
  FormatInfo format;
};

// Reads a file held in memory into an empty database, as its format says.
ReadResult readBytes(std::string_view file, Database& db);
// Reads the file of that name.
ReadResult readFile(const std::string& path, Database& db);

struct SaveOptions {
  FileFormat format = FileFormat::DxfAscii;
  Release release = Release::R2000;
  int precision = 16;  // significant digits of reals in ASCII DXF
  // Where to report what the release's forms could not carry in full
  // (see DxfWriteOptions); nothing is reported when null.
  std::vector<Finding>* findings = nullptr;
};

// Writes the database in the format and release asked for.
Status save(Database& db, ByteSink& sink, const SaveOptions& options);

}  // namespace drawingdb
