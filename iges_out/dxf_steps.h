// The output steps of the own DXF writer (-dxf12out): points, lines,
// circles and arcs become their DXF entities; curves the writer has no
// entity for (ellipses, splines, polygons) a block of line segments.  The
// writer has no text entity: texts and symbols are left out, and a
// dimension is drawn with the lines and arcs of its drawing sub-elements.
// Composites point at nothing: their members are entities of their own,
// and a composite is done when one member was written.
#pragma once

#include <cstdint>
#include <vector>

#include "elements/target_steps.h"

class OwnDxfSteps final : public TargetSteps {
 public:
  bool failed() const override;
  int finish() override;

  int point(const StepContext& c, const TransferPoint& point) override;
  int line(const StepContext& c, const TransferLine& line) override;
  int circle(const StepContext& c, const TransferCircle& circle) override;
  int ellipse(const StepContext& c, const TransferEllipse& ellipse) override;
  int spline(const StepContext& c, const TransferSpline& spline) override;
  int hatch(const StepContext& c, const TransferHatch& hatch) override;

  int text(const StepContext& c, const TransferText& text) override;
  int dimension(const StepContext& c, const TransferDimension& dimension) override;
  int symbol(const StepContext& c, const TransferSymbol& symbol, SymbolPartReader& parts) override;

  int group(const StepContext& c, const TransferGroup& group, const WrittenMembers& members) override;
  int contour(const StepContext& c, const TransferContour& contour, const WrittenMembers& members) override;
  int planePart(const StepContext& c, const TransferPlanePart& part,
                const std::vector<std::int32_t>& contours) override;
};

// The one own-DXF step set of the program.
TargetSteps& ownDxfTargetSteps();
