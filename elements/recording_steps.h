// A tee around the output steps of a run's target: every element the
// target writes is also drawn into the run's picture (support/conversion_picture.h)
// as the step handed it over, in the coordinates of the output.  An element
// the target leaves out is not drawn; one whose step failed is drawn as
// failed.  The dispatcher puts the tee in front of the chosen steps only
// when a picture was asked for.
#pragma once

#include "elements/target_steps.h"
#include "support/conversion_picture.h"

class RecordingSteps : public TargetSteps {
 public:
  RecordingSteps(TargetSteps& target, ConversionPicture& record) : target_(target), record_(record) {}

  void beginRun(const OutputExtents& extents) override { target_.beginRun(extents); }
  bool failed() const override { return target_.failed(); }
  std::int32_t layerList(const std::vector<std::int32_t>& members) override { return target_.layerList(members); }
  int finish() override { return target_.finish(); }

  int point(const StepContext& c, const TransferPoint& point) override { return target_.point(c, point); }
  int line(const StepContext& c, const TransferLine& line) override;
  int circle(const StepContext& c, const TransferCircle& circle) override;
  int ellipse(const StepContext& c, const TransferEllipse& ellipse) override;
  int spline(const StepContext& c, const TransferSpline& spline) override;
  int hatch(const StepContext& c, const TransferHatch& hatch) override;

  bool writesColourDefinitions() const override { return target_.writesColourDefinitions(); }
  int colourDefinition(const StepContext& c, const ColourRecord& colour) override {
    return target_.colourDefinition(c, colour);
  }
  void referToColourDefinition(std::int32_t definition, TransferRecord& record) override {
    target_.referToColourDefinition(definition, record);
  }

  int text(const StepContext& c, const TransferText& text) override;
  int beginDimension(const StepContext& c, const TransferDimension& dimension) override;
  int dimension(const StepContext& c, const TransferDimension& dimension) override;
  void endDimension(const StepContext& c, const TransferDimension& dimension) override;
  int symbol(const StepContext& c, const TransferSymbol& symbol, SymbolPartReader& parts) override {
    return target_.symbol(c, symbol, parts);
  }

  std::int32_t memberReference(std::int32_t index) override { return target_.memberReference(index); }
  int beginGroup(const StepContext& c, const TransferGroup& group) override { return target_.beginGroup(c, group); }
  int group(const StepContext& c, const TransferGroup& group, const WrittenMembers& members) override {
    return target_.group(c, group, members);
  }
  void endGroup(const StepContext& c, const TransferGroup& group) override { target_.endGroup(c, group); }
  bool writesUserElements() const override { return target_.writesUserElements(); }
  int beginUserDefinition(const StepContext& c, const TransferGroup& definition) override {
    return target_.beginUserDefinition(c, definition);
  }
  int userDefinition(const StepContext& c, const TransferGroup& definition, const WrittenMembers& members) override {
    return target_.userDefinition(c, definition, members);
  }
  void endUserDefinition(const StepContext& c, const TransferGroup& definition) override {
    target_.endUserDefinition(c, definition);
  }
  int userInstance(const StepContext& c, const TransferGroup& instance, std::int32_t definition) override {
    return target_.userInstance(c, instance, definition);
  }
  int beginContour(const StepContext& c, const TransferContour& contour) override {
    return target_.beginContour(c, contour);
  }
  int contour(const StepContext& c, const TransferContour& contour, const WrittenMembers& members) override {
    return target_.contour(c, contour, members);
  }
  void endContour(const StepContext& c, const TransferContour& contour) override { target_.endContour(c, contour); }
  void beginBoundary(const StepContext& c, const TransferPlanePart& part) override { target_.beginBoundary(c, part); }
  std::int32_t looseContour(const StepContext& c, const TransferPlanePart& part,
                            const std::vector<std::int32_t>& curves) override {
    return target_.looseContour(c, part, curves);
  }
  void endBoundary(const StepContext& c, const TransferPlanePart& part) override { target_.endBoundary(c, part); }
  int planePart(const StepContext& c, const TransferPlanePart& part, const std::vector<std::int32_t>& contours) override {
    return target_.planePart(c, part, contours);
  }

 private:
  // Keeps, drops or marks as failed the shapes drawn since `mark` by the
  // step's result; returns the result.
  int settle(std::size_t mark, const StepContext& c, int result);

  TargetSteps& target_;
  ConversionPicture& record_;
  std::size_t dimensionMark_ = 0;
};

// The points of a spline of the transfer file, from its start to its end:
// the B-spline form through its knots (rational when weighted), else the
// piecewise polynomial form; empty when neither can be evaluated.
std::vector<DrawnPoint> sampleTransferSpline(const TransferSpline& spline);

// Steps that write nothing and take every element: with a RecordingSteps
// around them, a statistics run draws what it read.
class DrawingOnlySteps : public TargetSteps {
 public:
  int finish() override { return 0; }
  int point(const StepContext&, const TransferPoint&) override { return ConvertResult::kDone; }
  int line(const StepContext&, const TransferLine&) override { return ConvertResult::kDone; }
  int circle(const StepContext&, const TransferCircle&) override { return ConvertResult::kDone; }
  int ellipse(const StepContext&, const TransferEllipse&) override { return ConvertResult::kDone; }
  int spline(const StepContext&, const TransferSpline&) override { return ConvertResult::kDone; }
  int hatch(const StepContext&, const TransferHatch&) override { return ConvertResult::kDone; }
  int text(const StepContext&, const TransferText&) override { return ConvertResult::kDone; }
  int dimension(const StepContext&, const TransferDimension&) override { return ConvertResult::kDone; }
  int symbol(const StepContext&, const TransferSymbol&, SymbolPartReader&) override { return ConvertResult::kDone; }
  int group(const StepContext&, const TransferGroup&, const WrittenMembers&) override { return ConvertResult::kDone; }
  int contour(const StepContext&, const TransferContour&, const WrittenMembers&) override {
    return ConvertResult::kDone;
  }
  int planePart(const StepContext&, const TransferPlanePart&, const std::vector<std::int32_t>&) override {
    return ConvertResult::kDone;
  }
};
