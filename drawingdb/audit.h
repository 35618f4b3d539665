// The audit: a pass over a database that checks what readers of the
// written file rely on (required records, references by name and handle,
// block cycles, unique handles, values the declarations check) and
// repairs what it can.  Each problem is returned as a finding.
#pragma once

#include <vector>

#include "drawingdb/model.h"
#include "drawingdb/status.h"

namespace drawingdb {

struct AuditOptions {
  bool fix = true;  // repair what can be repaired (findings say which were)
};

std::vector<Finding> audit(Database& db, const AuditOptions& options = {});

}  // namespace drawingdb
