// DXF files to and from a Database, through the declarations of schema.h.
#pragma once

#include <string_view>
#include <vector>

#include "drawingdb/byte_sink.h"
#include "drawingdb/byte_source.h"
#include "drawingdb/model.h"
#include "drawingdb/releases.h"
#include "drawingdb/status.h"

namespace drawingdb {

struct DxfWriteOptions {
  Release release = Release::R2000;
  bool binary = false;
  int precision = 16;  // significant digits of reals in ASCII files
  // Where to report what the forms of an older release could not carry in
  // full (a hatch drawn in part, or filled for a pattern too fine: see
  // hatch_fill.h); the file is written all the same.  Nothing is
  // reported when null.
  std::vector<Finding>* findings = nullptr;
};

// Writes the database as a DXF file of the release: the sections, header
// variables, tables, classes and objects that release has and nothing it
// lacks.  Adds to the database what the release requires and it lacks
// (Database::completeFor).  Entities of kinds the release lacks are written
// in the forms it has (lightweight polylines as polylines; ELLIPSE, SPLINE,
// MTEXT, LEADER and VIEWPORT as annotation_forms.h says); other groups and
// objects the release cannot hold are left out.  What was written in part
// goes to options.findings.
Status writeDxf(Database& db, ByteSink& sink, const DxfWriteOptions& options);

struct DxfReadResult {
  Status status;
  std::vector<Finding> findings;  // what was read but not understood or repaired
};

// Reads an ASCII or binary DXF file into an empty database: held in
// memory, or read from a source in pieces through a buffer of `buffer`
// bytes (grown only for a tag longer than it), so that the file is never
// held whole.
DxfReadResult readDxf(std::string_view file, Database& db);
DxfReadResult readDxf(ByteSource& source, Database& db, std::size_t buffer = TagReader::kChunk);

}  // namespace drawingdb
