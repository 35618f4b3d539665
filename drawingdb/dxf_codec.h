// DXF files to and from a Database, through the declarations of schema.h.
#pragma once

#include <string_view>
#include <vector>

#include "drawingdb/byte_sink.h"
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

struct DxfReadOptions {
  // The bytes are a read-only mapping of the file: the pages read are
  // handed back to the system as the reading goes on (they are read from
  // the file again should anything look back at them), so a large file
  // is never resident whole.
  bool mappedFile = false;
};

// Reads an ASCII or binary DXF file held in memory into an empty database.
DxfReadResult readDxf(std::string_view file, Database& db, const DxfReadOptions& options = {});

}  // namespace drawingdb
