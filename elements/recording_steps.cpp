// The tee that draws what the output steps write.
#include "elements/recording_steps.h"

#include <cmath>
#include <string>

namespace {

constexpr int kSamplesPerSpan = 8;

DrawnPoint flat(const Point3& p) { return {p.x, p.y}; }

DrawnStyle styleOf(const StepContext& c, const TransferRecord& r) {
  DrawnStyle s;
  s.element = c.index;
  s.layer = std::to_string(r.layer);
  s.colour = r.colour;
  s.red = r.red;
  s.green = r.green;
  s.blue = r.blue;
  return s;
}

// A point of the B-spline at parameter u (de Boor), rational with weights.
DrawnPoint deBoor(const TransferSpline& s, std::size_t span, double u) {
  const std::size_t p = static_cast<std::size_t>(s.degree);
  const bool weighted = s.weights.size() == s.controlPoints.size();
  std::vector<double> x(p + 1), y(p + 1), w(p + 1);
  for (std::size_t j = 0; j <= p; ++j) {
    const std::size_t k = span - p + j;
    const double wk = weighted && s.rational ? s.weights[k] : 1.0;
    x[j] = s.controlPoints[k].x * wk;
    y[j] = s.controlPoints[k].y * wk;
    w[j] = wk;
  }
  for (std::size_t r = 1; r <= p; ++r) {
    for (std::size_t j = p; j >= r; --j) {
      const std::size_t i = span - p + j;
      const double d = s.knots[i + p - r + 1] - s.knots[i];
      const double a = d != 0.0 ? (u - s.knots[i]) / d : 0.0;
      x[j] = (1.0 - a) * x[j - 1] + a * x[j];
      y[j] = (1.0 - a) * y[j - 1] + a * y[j];
      w[j] = (1.0 - a) * w[j - 1] + a * w[j];
    }
  }
  if (w[p] == 0.0) return {x[p], y[p]};
  return {x[p] / w[p], y[p] / w[p]};
}

}  // namespace

std::vector<DrawnPoint> sampleTransferSpline(const TransferSpline& s) {
  std::vector<DrawnPoint> out;
  const std::size_t n = s.controlPoints.size();
  if (s.degree >= 1 && n > static_cast<std::size_t>(s.degree) &&
      s.knots.size() == n + static_cast<std::size_t>(s.degree) + 1) {
    const std::size_t p = static_cast<std::size_t>(s.degree);
    for (std::size_t span = p; span < n; ++span) {
      const double a = s.knots[span], b = s.knots[span + 1];
      if (!(b > a)) continue;
      const int first = out.empty() ? 0 : 1;
      for (int k = first; k <= kSamplesPerSpan; ++k) out.push_back(deBoor(s, span, a + (b - a) * k / kSamplesPerSpan));
    }
    return out;
  }
  if (!s.segments.empty() && s.breakpoints.size() == s.segments.size() + 1) {
    for (std::size_t i = 0; i < s.segments.size(); ++i) {
      const TransferSpline::Segment& g = s.segments[i];
      const double length = s.breakpoints[i + 1] - s.breakpoints[i];
      const int first = out.empty() ? 0 : 1;
      for (int k = first; k <= kSamplesPerSpan; ++k) {
        const double u = length * k / kSamplesPerSpan;
        out.push_back({g.x[0] + u * (g.x[1] + u * (g.x[2] + u * g.x[3])),
                       g.y[0] + u * (g.y[1] + u * (g.y[2] + u * g.y[3]))});
      }
    }
  }
  return out;
}

int RecordingSteps::settle(std::size_t mark, const StepContext& c, int result) {
  if (result == ConvertResult::kDone) return result;
  if (result == ConvertResult::kIgnored || result == ConvertResult::kTakenOver) {
    record_.dropSince(mark);
  } else {
    record_.failSince(mark, c.index);
  }
  return result;
}

int RecordingSteps::line(const StepContext& c, const TransferLine& line) {
  const std::size_t mark = record_.mark();
  record_.line(styleOf(c, line), flat(line.start), flat(line.end));
  return settle(mark, c, target_.line(c, line));
}

int RecordingSteps::circle(const StepContext& c, const TransferCircle& circle) {
  const std::size_t mark = record_.mark();
  const DrawnStyle style = styleOf(c, circle);
  if (circle.fullCircle) {
    record_.circle(style, flat(circle.centre), circle.radius);
  } else {
    const double a = std::atan2(circle.start.y - circle.centre.y, circle.start.x - circle.centre.x);
    const double b = std::atan2(circle.end.y - circle.centre.y, circle.end.x - circle.centre.x);
    record_.arc(style, flat(circle.centre), circle.radius, a, b);
  }
  return settle(mark, c, target_.circle(c, circle));
}

int RecordingSteps::ellipse(const StepContext& c, const TransferEllipse& e) {
  const std::size_t mark = record_.mark();
  record_.ellipse(styleOf(c, e), flat(e.centre), e.halfAxisA, e.halfAxisB,
                  std::atan2(e.axisDirection[1], e.axisDirection[0]), e.fullEllipse, e.startAngle, e.endAngle);
  return settle(mark, c, target_.ellipse(c, e));
}

int RecordingSteps::spline(const StepContext& c, const TransferSpline& spline) {
  const std::size_t mark = record_.mark();
  record_.spline(styleOf(c, spline), sampleTransferSpline(spline));
  return settle(mark, c, target_.spline(c, spline));
}

int RecordingSteps::hatch(const StepContext& c, const TransferHatch& hatch) {
  const std::size_t mark = record_.mark();
  std::vector<DrawnPoint> points;
  points.reserve(hatch.points.size());
  for (const Point3& p : hatch.points) points.push_back(flat(p));
  const std::string label(hatch.label);
  if (label == TransferLabel::kHatch) {
    record_.hatch(styleOf(c, hatch), std::move(points));
  } else {
    record_.polyline(styleOf(c, hatch), std::move(points), hatch.closed);
  }
  return settle(mark, c, target_.hatch(c, hatch));
}

namespace {

void drawText(ConversionPicture& record, const DrawnStyle& style, const TransferText& text) {
  for (const TransferTextPart& part : text.parts) {
    record.text(style, flat(part.insertion), part.height, part.angle, part.text);
  }
}

}  // namespace

int RecordingSteps::text(const StepContext& c, const TransferText& text) {
  const std::size_t mark = record_.mark();
  drawText(record_, styleOf(c, text), text);
  return settle(mark, c, target_.text(c, text));
}

int RecordingSteps::beginDimension(const StepContext& c, const TransferDimension& dimension) {
  dimensionMark_ = record_.mark();
  record_.beginDimension(c.index);
  const int result = target_.beginDimension(c, dimension);
  if (result != ConvertResult::kDone) {
    record_.endDimension();
    settle(dimensionMark_, c, result);
  }
  return result;
}

int RecordingSteps::dimension(const StepContext& c, const TransferDimension& dimension) {
  const DrawnStyle style = styleOf(c, dimension);
  for (const TransferSubElement& part : dimension.parts) {
    if (const auto* line = std::get_if<TransferLine>(&part.record)) {
      record_.line(style, flat(line->start), flat(line->end));
    } else if (const auto* arc = std::get_if<TransferCircle>(&part.record)) {
      const double a = std::atan2(arc->start.y - arc->centre.y, arc->start.x - arc->centre.x);
      const double b = std::atan2(arc->end.y - arc->centre.y, arc->end.x - arc->centre.x);
      if (arc->fullCircle) {
        record_.circle(style, flat(arc->centre), arc->radius);
      } else {
        record_.arc(style, flat(arc->centre), arc->radius, a, b);
      }
    } else if (const auto* polyline = std::get_if<TransferHatch>(&part.record)) {
      std::vector<DrawnPoint> points;
      for (const Point3& p : polyline->points) points.push_back(flat(p));
      record_.polyline(style, std::move(points), polyline->closed);
    } else if (const auto* string = std::get_if<TransferText>(&part.record)) {
      drawText(record_, style, *string);
    }
  }
  return settle(dimensionMark_, c, target_.dimension(c, dimension));
}

void RecordingSteps::endDimension(const StepContext& c, const TransferDimension& dimension) {
  record_.endDimension();
  target_.endDimension(c, dimension);
}
