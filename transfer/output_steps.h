// The per-kind output steps of the output loop (output_dispatch.h) and the
// helpers they share: the step context, the directory entries of the IGES
// target and the conversion of a composite element's members.  Used by the
// output_*.cpp files only.
#pragma once

#include <cstdint>
#include <vector>

#include "elements/element_table.h"
#include "iges_out/iges_entities.h"
#include "elements/fetch_records.h"

namespace output_steps {

// The status digits of an IGES entity: blank status, subordinate switch,
// entity use and hierarchy.
struct EntityStatus {
  int blank = 0;
  int subordinate = 0;
  int use = 0;
  int hierarchy = 0;
};

// What a step knows of the element it converts.
struct StepContext {
  std::int32_t index = 0;
  std::int32_t position = 0;
  int depth = 0;          // 0 for a top-level element
  EntityStatus status;    // given by the composite for its members
};

bool igesTarget();
bool dxfTarget();
bool plusLevel();

// Steps, by element kind (output_geometry.cpp).
int convertPoint(const StepContext& c);    // dpe200
int convertLine(const StepContext& c);     // dpe240
int convertCircle(const StepContext& c);   // dpe280
int convertEllipse(const StepContext& c);  // dpe320 with dpe360
int convertSpline(const StepContext& c);   // dpe330
int convertHatch(const StepContext& c);    // dpe710
int convertColourDefinition(const StepContext& c);  // dpe314
// Composite kinds (output_composite.cpp).
int convertGroup(const StepContext& c);         // dpe600 / dpe640
int convertUserElement(const StepContext& c);   // dpe680 / dpe690, else dpe600
int convertContour(const StepContext& c);       // dpe700
int convertPlanePart(const StepContext& c);     // dpe400 / dpe420
int convertLayer(const StepContext& c);         // dpe888
// Annotation kinds (output_annotation.cpp).
int convertText(const StepContext& c);       // dpe440
int convertDimension(const StepContext& c);  // dpe500 / dpe505
int convertSymbol(const StepContext& c);     // dpe220

// The directory entry of the IGES target.
//
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
// Status digits of the element itself: those the context brings, blanked
// when the element is deleted.
EntityStatus statusOf(const StepContext& c, const TransferRecord& record);

// After a fetch: a colour that names a colour-definition element gets that
// element written first (IGES), and the record's colour becomes the negated
// directory sequence number of the written definition.  The element table
// may grow here.
void resolveColour(TransferRecord& record);
// A deleted element that the run does not convert.
bool leftOutAsDeleted(const TransferRecord& record);

// Converts the members (sons) of the composite element at c.index in son
// order, each with the given status digits, and collects the directory
// sequence numbers of the members that were written (IGES), or counts them
// (other targets).  `code` is the step's function code, printed when the
// son count entered in the table does not match the sons found.  Returns the
// number of members written.
int convertMembers(const StepContext& c, const char* code, const EntityStatus& memberStatus,
                   std::vector<std::int32_t>& written, std::vector<std::int32_t>* writtenIndices = nullptr);

// Runs the step of the element's type and sets its state; shared by the
// top-level loop and convertMember.
int runStep(const StepContext& c);
// runStep in two halves, for a step that runs the steps of nested elements
// itself: beginStep before the element's step (the element is then being
// converted), endStep with the step's result (its state is set, a failure
// reported); returns the result.
struct StepFrame {
  bool endMetBefore = false;  // the file's end was met before the step
};
StepFrame beginStep(const StepContext& c);
int endStep(const StepContext& c, const StepFrame& frame, int result);
// Whether the element's step is running (it is one of the composites whose
// members are being converted).
bool beingConverted(std::int32_t index);

// Appends a record to the element table for an entity the output makes
// (the ellipse's matrix, a contour of loose curves, the layer list): type,
// form and label set, state waiting.  -1 when the table cannot grow.
std::int32_t appendOutputRecord(std::int32_t type, std::int32_t form, const char* label);

// Geometry helpers.
IgesPoint igesPoint(const Point3& p);
// Angle of (x, y) in degrees, 0 <= angle < 360.
double degreesOf(double x, double y);

}  // namespace output_steps
