// Output steps of the geometric kinds: point (dpe200), line (dpe240),
// circle and arc (dpe280), ellipse (dpe320; its matrix, dpe360, is the IGES
// target's), spline (dpe330), hatch and polygon forms (dpe710), and the
// colour definitions of the colour assignment (dpe314).
//
// Each fetches its element, leaves it out when deleted, resolves its
// colour, refuses the geometry no target can draw (a radius or half axis
// that is not positive, a spline without spans, a polygon of one point)
// and hands the record to the run's target.
#include <cmath>

#include "elements/convert_result.h"
#include "support/trace.h"
#include "transfer/fetchers.h"
#include "transfer/output_steps.h"

namespace output_steps {

namespace {

// Fetches with the fetcher, then settles the colour and the deleted flag.
// 0 to go on, or the step result.
template <class Record, class Fetch>
int fetchRecord(const StepContext& c, Record& record, Fetch fetch) {
  const int fetched = fetch(c.index, c.position, record);
  if (fetched != 0) return fetched;
  if (leftOutAsDeleted(record)) return ConvertResult::kIgnored;
  resolveColour(record);
  return 0;
}

}  // namespace

int convertPoint(const StepContext& c) {
  TraceScope t("dpe200");
  TransferPoint p;
  // A deleted point that is not converted is not converted: it gets the
  // state of a left-out element, not that of a written one.
  if (const int r = fetchRecord(c, p, fetchPoint); r != 0) return r;
  return target().point(c, p);
}

int convertLine(const StepContext& c) {
  TraceScope t("dpe240");
  TransferLine l;
  if (const int r = fetchRecord(c, l, fetchLine); r != 0) return r;
  return target().line(c, l);
}

int convertCircle(const StepContext& c) {
  TraceScope t("dpe280");
  TransferCircle a;
  if (const int r = fetchRecord(c, a, fetchCircle); r != 0) return r;
  if (!(a.radius > 0.0) || !std::isfinite(a.radius)) return -1;
  return target().circle(c, a);
}

int convertEllipse(const StepContext& c) {
  TraceScope t("dpe320");
  TransferEllipse e;
  if (const int r = fetchRecord(c, e, fetchEllipse); r != 0) return r;
  const double a = e.halfAxisA, b = e.halfAxisB;
  if (!(a > 0.0) || !(b > 0.0) || !std::isfinite(a) || !std::isfinite(b)) return -1;
  const double norm = std::hypot(e.axisDirection[0], e.axisDirection[1]);
  if (!(norm > 0.0)) return -1;
  e.axisDirection[0] /= norm;
  e.axisDirection[1] /= norm;
  return target().ellipse(c, e);
}

int convertSpline(const StepContext& c) {
  TraceScope t("dpe330");
  TransferSpline s;
  if (const int r = fetchRecord(c, s, fetchSpline); r != 0) return r;
  const std::size_t spans = s.segments.size();
  if (spans == 0 || s.breakpoints.size() != spans + 1) return -1;
  return target().spline(c, s);
}

int convertHatch(const StepContext& c) {
  TraceScope t("dpe710");
  TransferHatch h;
  if (const int r = fetchRecord(c, h, fetchHatch); r != 0) return r;
  if (h.points.size() < 2) return -1;
  return target().hatch(c, h);
}

int convertColourDefinition(const StepContext& c) {
  TraceScope t("dpe314");
  if (!target().writesColourDefinitions()) return ConvertResult::kIgnored;
  const auto* colour = dynamic_cast<const ColourRecord*>(element(c.index).params.get());
  if (colour == nullptr) return -1;
  return target().colourDefinition(c, *colour);
}

}  // namespace output_steps
