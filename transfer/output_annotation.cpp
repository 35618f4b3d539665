// Output steps of the annotation kinds: texts (dpe440), dimensions (dpe500,
// dpe505) and symbols (dpe220).
//
// Texts and dimensions are converted at levels G1B1, G1B2 and PLUS only.
// A dimension that names members (level PLUS) has them converted first,
// between the target's dimension brackets; a symbol's parts are read when
// the target asks for them.
#include <string>

#include "elements/convert_result.h"
#include "support/run_state.h"
#include "support/trace.h"
#include "transfer/fetchers.h"
#include "transfer/output_steps.h"

namespace output_steps {

namespace {

// The parts of a symbol, read by their fetchers at the positions the
// symbol gives.  A part has no table record of its own: index 0 leaves the
// symbol's stamp alone.
class FetchedSymbolParts final : public SymbolPartReader {
 public:
  int text(std::int32_t position, TransferText& out) override { return fetchText(0, position, out); }
  int leader(std::int32_t position, TransferLeader& out) override {
    return fetchLeader(0, position, out);
  }
};

}  // namespace

int convertText(const StepContext& c) {
  TraceScope t("dpe440");
  if (!runConvertsAnnotation()) return ConvertResult::kIgnored;
  TransferText text;
  const int fetched = fetchText(c.index, c.position, text);
  if (fetched != 0) return fetched;
  if (leftOutAsDeleted(text) || text.parts.empty()) return ConvertResult::kIgnored;
  resolveColour(text);
  return target().text(c, text);
}

StepTask convertDimension(StepContext c) {
  if (!runConvertsAnnotation()) co_return ConvertResult::kIgnored;
  const bool withSons = plusLevel() && element(c.index).sons != nullptr;
  TraceScope t(withSons ? "dpe505" : "dpe500");
  TransferDimension d;
  const int fetched = fetchDimension(c.index, c.position, d);
  if (fetched != 0) co_return fetched;
  if (leftOutAsDeleted(d)) co_return ConvertResult::kIgnored;
  resolveColour(d);
  TargetSteps& steps = target();
  if (const int begun = steps.beginDimension(c, d); begun != 0) co_return begun;
  if (withSons) {
    // The elements the dimension names as its members are written as they
    // are, before the dimension.
    WrittenMembers members;
    co_await convertMembers(c, t.code(), EntityStatus{}, members);
  }
  const int result = steps.dimension(c, d);
  steps.endDimension(c, d);
  co_return result;
}

int convertSymbol(const StepContext& c) {
  TraceScope t("dpe220");
  TransferSymbol symbol;
  const int fetched = fetchSymbol(c.index, c.position, symbol);
  if (fetched != 0) return fetched;
  if (leftOutAsDeleted(symbol)) return ConvertResult::kIgnored;
  resolveColour(symbol);
  FetchedSymbolParts parts;
  return target().symbol(c, symbol, parts);
}

}  // namespace output_steps
