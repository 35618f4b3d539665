// The per-kind output steps of the output loop (output_dispatch.h) and the
// helpers they share.  A step fetches its element, leaves it out when it is
// deleted or the level does not convert its kind, converts the members of
// a composite, and hands the fetched record to the steps of the run's
// target (elements/target_steps.h).  Used by the output_*.cpp files only.
#pragma once

#include <cstdint>
#include <vector>

#include "elements/element_table.h"
#include "elements/fetch_records.h"
#include "elements/target_steps.h"
#include "transfer/step_task.h"

namespace output_steps {

// The steps of the run's target, as handed to convertTransferElements.
TargetSteps& target();
bool plusLevel();

// Steps, by element kind (output_geometry.cpp).
int convertPoint(const StepContext& c);    // dpe200
int convertLine(const StepContext& c);     // dpe240
int convertCircle(const StepContext& c);   // dpe280
int convertEllipse(const StepContext& c);  // dpe320 with dpe360
int convertSpline(const StepContext& c);   // dpe330
int convertHatch(const StepContext& c);    // dpe710
int convertColourDefinition(const StepContext& c);  // dpe314
// Composite kinds (output_composite.cpp), whose steps convert members:
// coroutines (step_task.h).
StepTask convertGroup(StepContext c);        // dpe600 / dpe640
StepTask convertUserElement(StepContext c);  // dpe680 / dpe690, else dpe600
StepTask convertContour(StepContext c);      // dpe700
StepTask convertPlanePart(StepContext c);    // dpe400 / dpe420
int convertLayer(const StepContext& c);      // dpe888
// Annotation kinds (output_annotation.cpp).
int convertText(const StepContext& c);       // dpe440
StepTask convertDimension(StepContext c);    // dpe500 / dpe505, with its members
int convertSymbol(const StepContext& c);     // dpe220

// After a fetch: a colour that names a colour-definition element gets that
// element's step first when the target writes colour definitions, and the
// target turns the record's colour into a reference to it.  The element
// table may grow here.
void resolveColour(TransferRecord& record);
// A deleted element that the run does not convert.
bool leftOutAsDeleted(const TransferRecord& record);

// Converts the members (sons) of the composite element at c.index in son
// order, each with the given status digits, and collects those written
// with the reference the target gives each (memberReference; members it
// gives none are left out).  `code` is the step's function code, printed
// when the son count entered in the table does not match the sons found.
// Returns the number of members collected.
StepTask convertMembers(StepContext c, const char* code, EntityStatus memberStatus, WrittenMembers& written);
// convertMember (output_dispatch.h) as a step the composite's step awaits.
StepTask memberStep(std::int32_t index, std::int32_t position, int depth, int subordinate, int entityUse);
// Whether the element's kind converts members (its step is a coroutine).
bool convertsMembers(std::int32_t index);

// Runs the step of the element's type and sets its state; the top-level
// loop's and the colour definitions' way in.
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
// A member link back to an element being converted: warning 1326 naming
// the element, once per element.
void reportMemberCycle(std::int32_t index);

}  // namespace output_steps
