// The output conversion loop: once the element table holds one record per
// element of the CAD transfer file (or of the EDX file), every element is
// taken in conversion order (nextToConvert), read by the fetcher of its kind
// (fetchers.h) and handed to the step of its kind in the set of output
// steps of the run's target (elements/target_steps.h): the IGES writer's,
// the own DXF writer's or the drawing database builder's.  The dispatcher
// chooses the set once per run and hands it to convertTransferElements.
// Composite elements (groups, user elements, contours, plane parts,
// dimensions) convert their members through the same steps first, so that
// every member is written before the entity that points at it.
//
// Each step ends with a result that becomes the element's state:
//
//   0    written                 'd' (100)
//   -10  take again later        unchanged
//   -88  taken over              'c' (99)
//   -99  not converted           'i' (105): deleted, the level leaves the
//                                 kind out, the fetcher refused it, or the
//                                 target cannot express it
//   -77                          'r' (114)
//   else error                   'e' (101) and warning 790 of dpe100
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "elements/target_steps.h"

// State of the output loop for one run.
struct OutputDispatchState {
  std::int32_t classFlags = 0;  // OR of the class bits of the elements converted
  // Per element index: set while the element is being converted (its
  // members are on their way), so that a member list leading back to it is
  // not followed again.  A bit each: it lives beside the largest tables.
  std::vector<bool> onPath;
  // The elements reported as members of themselves.
  std::unordered_set<std::int32_t> cyclesReported;
  // Definition name -> index of the 308 user element definition, made on
  // the first use.
  std::unordered_map<std::string, std::int32_t> definitions;
  bool definitionsMade = false;
  std::int32_t layerListIndex = 0;  // the 406 "SI-LIST " record, 0 when none
  TargetSteps* steps = nullptr;     // the run's steps while the loop runs
};

OutputDispatchState& outputDispatch();
void resetOutputDispatch();

// dpe100: converts every element of the table with the given steps (the
// run's target); 0, or -1 when the target's output could not be written
// (its finish failed).
int convertTransferElements(TargetSteps& steps);
// dpe150: converts one member element (index, position) of a composite
// element at the given nesting depth (1 for a member of a top-level
// element; members nest as deep as the file holds them, an element being
// converted is not entered again), with the steps of the running loop; the member's state is set
// from the result.  `subordinate` and `entityUse` go into the member's
// status digits (the composite decides whether its members depend on it).
int convertMember(std::int32_t index, std::int32_t position, int depth, int subordinate = 0,
                  int entityUse = 0);

// The state a step result leaves on its element; 0 for "unchanged".
char stateOfStepResult(int result);
// Whether deleted elements are written: the run configuration's _INBI
// switch, by default on for the own writers and off for the toolkit.
bool convertsDeletedElements();
// Whether the output of level PLUS ends with the layer list (the IGES
// "SI-LIST " property): the _SIST switch, on by default.
bool writesLayerList();

// dpe900: the layer list, handed to the steps' layerList: 0 written, -1
// nothing to write (no member, or a target that writes no list).
int writeLayerList(TargetSteps& steps);
