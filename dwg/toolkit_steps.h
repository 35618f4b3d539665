// The output steps of -dxfout and -dwgout: every element of the transfer
// file that the output loop fetched becomes objects of the run's drawing
// database through DwgOut (dwg_out.h).
//
// - Curves, points and polygons become their entities; a filled polygon a
//   solid hatch.  While a plane part's boundary converts (collect mode)
//   they join DwgOut's boundary list instead, and the plane part becomes a
//   hatch over it: a user-defined pattern for single and cross hatching, a
//   solid fill otherwise.
// - A text becomes one text entity per text part, with the text style of
//   the part's font.
// - A dimension draws its sub-elements into an anonymous "*D<n>" block and
//   becomes a dimension entity showing that block (the database draws the
//   block from the dimension's points when the element brings no drawing).
// - A group collects its members in a block of its name and becomes an
//   insert of it; a user element definition a block of its name, each of
//   its references an insert of that block at the reference's point and
//   factor.
// - A symbol becomes its texts and its leaders as polylines.
//
// Colour, linetype, line weight and layer come from the run's graphic
// attribute mapping; the element's layer name is the name of its layer
// number (the layer value the transfer file gives it, see the driver).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <unordered_map>
#include <vector>

#include "dwg/dwg_out.h"
#include "elements/target_steps.h"

class DwgTargetSteps final : public TargetSteps {
 public:
  // The names of the transfer file's layers, asked for as the run begins
  // (the file is loaded then), by layer number (a number without a name
  // or with an empty one: the element has no layer name).
  // The run's text width factor and sending system, which choose the
  // width factor of texts (DwgOut::text), are taken then too.
  using LayerNames = std::function<std::unordered_map<std::int32_t, std::string>()>;
  DwgTargetSteps(DwgOut& out, LayerNames layerNames);

  void beginRun(const OutputExtents& extents) override;
  // Forgets what a run left: layer names, open blocks, definition blocks.
  void reset();
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

  int beginGroup(const StepContext& c, const TransferGroup& group) override;
  int group(const StepContext& c, const TransferGroup& group, const WrittenMembers& members) override;
  void endGroup(const StepContext& c, const TransferGroup& group) override;

  bool writesUserElements() const override { return true; }
  int beginUserDefinition(const StepContext& c, const TransferGroup& definition) override;
  int userDefinition(const StepContext& c, const TransferGroup& definition, const WrittenMembers& members) override;
  void endUserDefinition(const StepContext& c, const TransferGroup& definition) override;
  int userInstance(const StepContext& c, const TransferGroup& instance, std::int32_t definition) override;

  int contour(const StepContext& c, const TransferContour& contour, const WrittenMembers& members) override;

  void beginBoundary(const StepContext& c, const TransferPlanePart& part) override;
  void endBoundary(const StepContext& c, const TransferPlanePart& part) override;
  int planePart(const StepContext& c, const TransferPlanePart& part, const std::vector<std::int32_t>& contours) override;

  // The block a user element definition (element index) was made as; empty
  // when none.
  std::string definitionBlock(std::int32_t definition) const;

 private:
  // A block opened by a begin hook, closed by its kind's operation or, at
  // the latest, by the end hook.
  struct OpenBlock {
    std::int32_t index = 0;  // the composite element
    std::string name;
    bool open = false;
  };

  DwgElementAttributes attributesOf(const TransferRecord& record) const;
  // An insert's: on layer "0" and by layer unless the element gives them.
  DwgElementAttributes insertAttributesOf(const TransferRecord& record) const;
  int openBlock(std::int32_t index, const std::string& name);
  // Closes the innermost block when it is the composite's; its name.
  std::string closeBlock(std::int32_t index);
  int drawPolygon(const std::vector<Point3>& points, bool closed, bool filled, const DwgElementAttributes& a);
  int drawTextParts(const std::vector<TransferTextPart>& parts, const DwgElementAttributes& a);

  DwgOut& out_;
  LayerNames layerNamesOfRun_;
  std::unordered_map<std::int32_t, std::string> layerNames_;
  double textWidthFactor_ = 0;
  int senderCode_ = 0;
  std::vector<OpenBlock> blocks_;
  std::unordered_map<std::int32_t, std::string> definitionBlocks_;
  int boundaryDepth_ = 0;
};
