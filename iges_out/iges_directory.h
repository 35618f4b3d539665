// The directory entries of the IGES output steps (iges_steps.h): the entry
// of an element of the transfer file, of an entity that is part of an
// element, and of a record the output adds to the element table.  Used by
// the iges_steps*.cpp files only.
#pragma once

#include <cstdint>

#include "elements/element_table.h"
#include "elements/fetch_records.h"
#include "elements/target_steps.h"
#include "iges_out/iges_entities.h"

namespace iges_steps {

// beginEntity() is the parameter line the next record starts on; after the
// entity writer has packed the record, writeEntity() fills the entry (type,
// form, parameter pointer and line count, status digits) and writes its two
// lines.  The directory sequence number of the entry, or -1 when the
// section file cannot be written.
std::int32_t beginEntity();
std::int32_t writeEntity(DirectoryEntry& de, std::int32_t type, std::int32_t form,
                         std::int32_t parameterStart, const EntityStatus& status);
// The element's own entry: the graphic attributes of the record (line
// style, layer, line width, colour), the element's label as the fetcher
// stamped it, its index as the subscript, then writeEntity.  Returns the
// step result: 0, or -1.
int writeElementEntity(const StepContext& c, const TransferRecord& record, std::int32_t type,
                       std::int32_t form, std::int32_t parameterStart,
                       std::int32_t matrixSequence = 0);
// A directory entry of an entity that is part of an element (a dimension's
// note and leaders, a contour made of loose curves ...) with the element's
// attributes and the given status.
DirectoryEntry partEntry(const TransferRecord& record, const char* label);

// Appends a record to the element table for an entity the output makes
// (the ellipse's matrix, a contour of loose curves, the layer list): type,
// form and label set, state waiting.  -1 when the table cannot grow.
std::int32_t appendOutputRecord(std::int32_t type, std::int32_t form, const char* label);

inline IgesPoint igesPoint(const Point3& p) { return IgesPoint{p.x, p.y, p.z}; }

}  // namespace iges_steps
