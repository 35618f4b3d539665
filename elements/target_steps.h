// The output steps of one target: what the output loop of the transfer
// file (transfer/output_dispatch.h) hands each element to once it has
// fetched it.  There is one set of steps per target (the IGES writer, the
// own DXF writer, the drawing database builder), each living with its
// writer; the run's dispatcher picks one set per run and hands it to the
// loop, so that no step asks which target it writes for.
//
// Division of work.  The loop takes the elements in conversion order,
// fetches each with the fetcher of its kind, leaves out deleted elements
// and the kinds the level does not convert, walks the members of
// composites (nesting, links back into a composite, member states) and
// turns every step result into the element's state.  The set writes: one
// operation per element kind, taking the fetched record, and hooks for
// what the targets do differently around composites (brackets), colour
// definitions, user elements and the layer list.
//
// Results.  Every operation that converts an element returns a step result
// of convert_result.h: 0 written, -99 the target has nothing to write for
// the element (it is left out, not an error), -88 taken over (see
// userInstance), -1 or any other value an error of the element.  Other
// hooks say what they return.
//
// Brackets.  A composite's steps run in this order, each begin hook first:
//   group, user definition, contour, dimension:
//       begin<Kind>, the members' own steps, <kind>(), end<Kind>
//   plane part:
//       beginBoundary, the boundary members' steps and looseContour calls,
//       endBoundary, then planePart()
// A begin<Kind> hook returns 0 to go on, or a step result that ends the
// composite's step at once (no member is converted, no end hook runs).
// Once it has returned 0, its end<Kind> hook runs exactly once, also
// when the members or the kind's operation failed, and also when the kind's
// operation is not called because no member was written (the composite is
// then left out with -99).  beginBoundary and endBoundary always come in
// pairs.  Brackets nest as the composites do: a group in a group opens its
// own begin/end pair inside its father's.
#pragma once

#include <cstdint>
#include <vector>

#include "elements/convert_result.h"
#include "elements/fetch_records.h"
#include "elements/param_records.h"

// How an element stands to the composite that converts it: the status
// digits of an IGES directory entry.  blank 1: the element is deleted and
// written blanked; subordinate 1: a part of its composite (physically
// dependent); use 0 geometry, 1 annotation, 2 definition, 3 other;
// hierarchy as IGES counts it.  Targets without such digits ignore them.
struct EntityStatus {
  int blank = 0;
  int subordinate = 0;
  int use = 0;
  int hierarchy = 0;
};

// What a step knows of the element it converts.
struct StepContext {
  std::int32_t index = 0;     // the element's index in the element table
  std::int32_t position = 0;  // its position in the transfer file
  int depth = 0;              // 0 for a top-level element, else below its composite
  EntityStatus status;        // given by the composite for its members
};

// The drawing extents of the transfer file (reference point subtracted).
struct OutputExtents {
  double xmin = 0, ymin = 0, xmax = 0, ymax = 0;
};

// The members of a composite that were written, in member order: the
// reference each member gave (memberReference, never 0) and its element
// index.
struct WrittenMembers {
  std::vector<std::int32_t> references;
  std::vector<std::int32_t> indices;
  bool empty() const { return indices.empty(); }
};

// The parts of a symbol ("text", "symbol_pfeil" ...) are not fetched with
// the symbol: a target that writes symbols reads the parts it uses through
// this reader, in the order it needs them, at the positions the symbol's
// parts give (TransferSymbolPart::position).  Results as the fetchers':
// 0 read, -1 the part ended early, -99 not a part of that kind or empty.
class SymbolPartReader {
 public:
  virtual int text(std::int32_t position, TransferText& out) = 0;
  virtual int leader(std::int32_t position, TransferLeader& out) = 0;

 protected:
  ~SymbolPartReader() = default;
};

class TargetSteps {
 public:
  virtual ~TargetSteps() = default;

  // --- The run ---------------------------------------------------------

  // Before the first element: the drawing extents of the transfer file.
  virtual void beginRun(const OutputExtents& /*extents*/) {}
  // Whether the target's output can no longer be written (a section file
  // the temporary folder refused): the loop stops taking elements.
  virtual bool failed() const { return false; }
  // The layer list of a PLUS run with the layer-list switch on, after the
  // last element: the member list per layer of the transfer reader
  // (buildLayerTable), never empty.  The element index of the record the
  // target made for the list, or -1 when it writes none.
  virtual std::int32_t layerList(const std::vector<std::int32_t>& /*members*/) { return -1; }
  // After the loop (and the layer list): 0 when every write of the run
  // succeeded, -1 when the output cannot be used.
  virtual int finish() = 0;

  // --- Geometric kinds ---------------------------------------------------
  // The record is fetched, its colour resolved, and it is not left out as
  // deleted.  The loop has checked what every target needs: a circle's
  // radius and an ellipse's half axes are positive and finite, the
  // ellipse's axis direction is a unit vector, a spline has at least one
  // span with its breakpoints, a hatch at least two points.

  virtual int point(const StepContext& c, const TransferPoint& point) = 0;      // dpe200
  virtual int line(const StepContext& c, const TransferLine& line) = 0;         // dpe240
  virtual int circle(const StepContext& c, const TransferCircle& circle) = 0;   // dpe280
  virtual int ellipse(const StepContext& c, const TransferEllipse& ellipse) = 0;  // dpe320
  virtual int spline(const StepContext& c, const TransferSpline& spline) = 0;   // dpe330
  // A polygon ("hatch", "d_polyline", "d_fill_polygon" ...).
  virtual int hatch(const StepContext& c, const TransferHatch& hatch) = 0;      // dpe710

  // --- Colour definitions -----------------------------------------------

  // Whether colours that name a colour-definition element are written as
  // references to a definition entity.  When false, colour-definition
  // elements are left out (-99) and records keep the colour number of the
  // colour assignment.
  virtual bool writesColourDefinitions() const { return false; }
  // dpe314: the colour-definition element c.index with its RGB values.
  virtual int colourDefinition(const StepContext& /*c*/, const ColourRecord& /*colour*/) {
    return ConvertResult::kIgnored;
  }
  // After the definition element `definition` that the record names has
  // had its step (its state tells how that went): the record's colour
  // becomes a reference to it, or no colour when it was not written.
  virtual void referToColourDefinition(std::int32_t /*definition*/, TransferRecord& /*record*/) {}

  // --- Annotation kinds --------------------------------------------------

  // dpe440: a text with at least one part, at a level that converts
  // annotation.
  virtual int text(const StepContext& c, const TransferText& text) = 0;
  // dpe500 / dpe505: a dimension at a level that converts annotation.
  // Brackets: beginDimension, the members the dimension names (PLUS runs),
  // dimension(), endDimension.  The database builder opens its "*D" block
  // in beginDimension, draws the sub-elements (record.parts) into it in
  // dimension() and closes it at the latest in endDimension.
  virtual int beginDimension(const StepContext& /*c*/, const TransferDimension& /*dimension*/) {
    return ConvertResult::kDone;
  }
  virtual int dimension(const StepContext& c, const TransferDimension& dimension) = 0;
  virtual void endDimension(const StepContext& /*c*/, const TransferDimension& /*dimension*/) {}
  // dpe220: a symbol; its parts are read through `parts`.
  virtual int symbol(const StepContext& c, const TransferSymbol& symbol, SymbolPartReader& parts) = 0;

  // --- Composite kinds ---------------------------------------------------

  // What a composite points at for its member `index` (written, state
  // done): for IGES the member's directory sequence number, 0 when it
  // wrote no entity of its own (the member is then left out of the
  // composite's list and not counted); by default the index itself.
  virtual std::int32_t memberReference(std::int32_t index) { return index; }

  // dpe600 / dpe640: a group ("group", "plane", "grafic"; user elements
  // the target does not write as such).  group() runs when at least one
  // member was written.  The database builder collects the members in a
  // block.
  virtual int beginGroup(const StepContext& /*c*/, const TransferGroup& /*group*/) {
    return ConvertResult::kDone;
  }
  virtual int group(const StepContext& c, const TransferGroup& group, const WrittenMembers& members) = 0;
  virtual void endGroup(const StepContext& /*c*/, const TransferGroup& /*group*/) {}

  // Whether user elements are written as definitions and instances (at
  // level PLUS only); when false they are converted as groups.
  virtual bool writesUserElements() const { return false; }
  // dpe690: a user element definition ("userdef"), its members parts of it.
  virtual int beginUserDefinition(const StepContext& /*c*/, const TransferGroup& /*definition*/) {
    return ConvertResult::kDone;
  }
  virtual int userDefinition(const StepContext& /*c*/, const TransferGroup& /*definition*/,
                             const WrittenMembers& /*members*/) {
    return ConvertResult::kIgnored;
  }
  virtual void endUserDefinition(const StepContext& /*c*/, const TransferGroup& /*definition*/) {}
  // dpe680: a user element reference ("userref") to the definition element
  // `definition`, whose step has run and left it done.  -88 when the
  // target cannot refer to that definition: the loop then converts the
  // reference's own members as a group.
  virtual int userInstance(const StepContext& /*c*/, const TransferGroup& /*instance*/,
                           std::int32_t /*definition*/) {
    return ConvertResult::kTakenOver;
  }

  // dpe700: a contour; contour() runs when at least one member was
  // written.
  virtual int beginContour(const StepContext& /*c*/, const TransferContour& /*contour*/) {
    return ConvertResult::kDone;
  }
  virtual int contour(const StepContext& c, const TransferContour& contour, const WrittenMembers& members) = 0;
  virtual void endContour(const StepContext& /*c*/, const TransferContour& /*contour*/) {}

  // dpe400 / dpe420 with dpe800: a plane part.  Between beginBoundary and
  // endBoundary the loop converts the part's boundary members (contours
  // and curves; the database builder collects their curves instead of
  // making entities).  Loose curves that follow each other in the member
  // list form one contour: looseContour gets their references and returns
  // the reference of the contour made of them, 0 when the target makes
  // none, -1 on a write failure (the plane part fails).  planePart() runs
  // when at least one contour was recognised, with the contours'
  // references (member contours and loose contours, in member order; a
  // target whose looseContour returns 0 gets only the member contours).
  virtual void beginBoundary(const StepContext& /*c*/, const TransferPlanePart& /*part*/) {}
  virtual std::int32_t looseContour(const StepContext& /*c*/, const TransferPlanePart& /*part*/,
                                    const std::vector<std::int32_t>& /*curves*/) {
    return 0;
  }
  virtual void endBoundary(const StepContext& /*c*/, const TransferPlanePart& /*part*/) {}
  virtual int planePart(const StepContext& c, const TransferPlanePart& part,
                        const std::vector<std::int32_t>& contours) = 0;
};
