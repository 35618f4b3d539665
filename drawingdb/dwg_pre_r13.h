// DWG files before R13 (2.5, 2.6, 9, 10 and 11/12) to and from a Database;
// dwg_pre_r13_layout.h describes their layout.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "drawingdb/model.h"
#include "drawingdb/releases.h"
#include "drawingdb/status.h"

namespace drawingdb {

// Reads a file of 2.5 to 11/12 held in memory into an empty database.
// Every address, count, record size and entity length is checked against
// the file; a damaged file answers with a Status saying what and where.
// Entities the toolkit does not read (deleted ones, obsolete kinds) are
// passed over by their length and reported in `findings`, and so is
// extended data it cannot make sense of.
Status readDwgPreR13(std::string_view file, Database& db, std::vector<Finding>& findings);

// Writes the database as a file of release `r` (2.5 to 11/12) into `out`.
// Kinds the release lacks are drawn in the forms it has (ellipses,
// splines, texts of several lines, leaders, hatches, lightweight
// polylines); what it cannot hold at all (paper space and viewports
// before 11/12, the extended data of entities outside paper space, kinds
// the toolkit keeps only as read, shapes known by name alone) goes to
// `findings` when given.
Status writeDwgPreR13(const Database& db, Release r, std::string& out, std::vector<Finding>* findings);

}  // namespace drawingdb
