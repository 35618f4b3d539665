// The output steps of the IGES target (-igesout): every element of the
// transfer file becomes IGES entities, each packed by its entity writer
// (iges_entities.h) into the parameter section and followed by its
// directory entry (iges_directory.h).  Composites point at the directory
// entries of their members, so memberReference is the member's sequence
// number.
//
//   iges_steps_geometry.cpp    points, lines, arcs, ellipses with their
//                              matrix, splines, polygons, colour
//                              definitions, the layer list, the run's end
//   iges_steps_annotation.cpp  notes, dimensions with their notes, leaders
//                              and witness lines, labels of symbols
//   iges_steps_composite.cpp   groups, subfigures, composite curves,
//                              sectioned areas
#pragma once

#include <cstdint>
#include <vector>

#include "elements/target_steps.h"

class IgesSteps final : public TargetSteps {
 public:
  bool failed() const override;
  std::int32_t layerList(const std::vector<std::int32_t>& members) override;  // dpe900
  int finish() override;

  int point(const StepContext& c, const TransferPoint& point) override;
  int line(const StepContext& c, const TransferLine& line) override;
  int circle(const StepContext& c, const TransferCircle& circle) override;
  int ellipse(const StepContext& c, const TransferEllipse& ellipse) override;
  int spline(const StepContext& c, const TransferSpline& spline) override;
  int hatch(const StepContext& c, const TransferHatch& hatch) override;

  bool writesColourDefinitions() const override { return true; }
  int colourDefinition(const StepContext& c, const ColourRecord& colour) override;
  void referToColourDefinition(std::int32_t definition, TransferRecord& record) override;

  int text(const StepContext& c, const TransferText& text) override;
  int dimension(const StepContext& c, const TransferDimension& dimension) override;
  int symbol(const StepContext& c, const TransferSymbol& symbol, SymbolPartReader& parts) override;

  std::int32_t memberReference(std::int32_t index) override;
  int group(const StepContext& c, const TransferGroup& group, const WrittenMembers& members) override;
  bool writesUserElements() const override { return true; }
  int userDefinition(const StepContext& c, const TransferGroup& definition,
                     const WrittenMembers& members) override;
  int userInstance(const StepContext& c, const TransferGroup& instance, std::int32_t definition) override;
  int contour(const StepContext& c, const TransferContour& contour, const WrittenMembers& members) override;
  std::int32_t looseContour(const StepContext& c, const TransferPlanePart& part,
                            const std::vector<std::int32_t>& curves) override;
  int planePart(const StepContext& c, const TransferPlanePart& part,
                const std::vector<std::int32_t>& contours) override;
};

// The one IGES step set of the program.
TargetSteps& igesTargetSteps();
