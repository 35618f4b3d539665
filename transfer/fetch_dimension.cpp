// Dimension fetcher: "measure" and the four dimension builders (distance,
// diameter, radius, angle).  The layouts are described with
// TransferDimension (elements/fetch_records.h).
#include <cmath>
#include <cstdio>
#include <string>
#include <string_view>

#include "elements/transform.h"
#include "support/config.h"
#include "support/run_state.h"
#include "support/trace.h"
#include "transfer/fetch_common.h"
#include "transfer/fetchers.h"

using namespace fetch_detail;

namespace {


struct MeasureKind {
  std::string_view token;
  std::int32_t code;
};
constexpr MeasureKind kMeasureKinds[] = {
    {"pointpointhor", 1}, {"pointpointvert", 1}, {"pointpoint", 1},   {"plc1plc2", 1},
    {"chain", 32769},     {"radiusofsect", 11},  {"diamofcircle", 2}, {"angle3points", 68},
    {"anglesector", 68},  {"angle2lines", 70},   {"arclength", 4101},
};

// The decoration tables: which value of the dimension a token sets.
enum class Field { kPreText, kPostText, kTextPosition, kArrows, kLength, kLeftArrow, kRightArrow, kLeft, kRight };
struct Decoration {
  std::string_view token;
  Field field;
  std::int32_t value;
};
constexpr Decoration kDecorations[] = {
    {"no_pretext", Field::kPreText, 0},        {"pretext", Field::kPreText, 1},
    {"no_posttext", Field::kPostText, 0},      {"minandmax", Field::kPostText, 9},
    {"minismax", Field::kPostText, 64},        {"fit", Field::kPostText, 64},
    {"outside_text", Field::kTextPosition, 0}, {"inside_text", Field::kTextPosition, 1},
    {"no_arrow", Field::kArrows, 0},           {"arrow", Field::kArrows, 1},
    {"is_shortmeasure", Field::kArrows, 1},    {"is_shortmeasure", Field::kLength, 1},
    {"is_longmeasure", Field::kLength, 0},     {"no_left_arrow", Field::kLeftArrow, 0},
    {"left_arrow", Field::kLeftArrow, 1},      {"no_right_arrow", Field::kRightArrow, 0},
    {"right_arrow", Field::kRightArrow, 1},    {"no_left", Field::kLeft, 0},
    {"left", Field::kLeft, 1},                 {"no_right", Field::kRight, 0},
    {"right", Field::kRight, 1},
};

std::int32_t& fieldOf(TransferDimension& d, Field f) {
  switch (f) {
    case Field::kPreText: return d.preText;
    case Field::kPostText: return d.postText;
    case Field::kTextPosition: return d.textPosition;
    case Field::kArrows: return d.arrows;
    case Field::kLength: return d.shortMeasure;
    case Field::kLeftArrow: return d.leftArrow;
    case Field::kRightArrow: return d.rightArrow;
    case Field::kLeft: return d.leftPart;
    case Field::kRight: break;
  }
  return d.rightPart;
}

// Sets the values of every table that knows the token; false when none does.
bool applyDecoration(TransferDimension& d, std::string_view token) {
  bool known = false;
  for (const Decoration& entry : kDecorations) {
    if (entry.token != token) continue;
    fieldOf(d, entry.field) = entry.value;
    if (entry.field == Field::kPostText) d.postTextToken = token;
    known = true;
  }
  return known;
}

// The frame tokens; checked after the decoration tables, so "no_arrow" and
// the like stay decoration.
const char* frameTranslation(std::string_view token) {
  if (token == "box_control") return "BOX";
  if (token == "box_contline") return "BOX_LINE";
  if (token == "theoretical" || token == "meas_theoretical") return "THEORETICAL";
  if (token.substr(0, 3) == "no_" || token.substr(0, 4) == "not_") return "NONE";
  return nullptr;
}

// The sub-element reader of a kind code (its low three bits).
const char* subReaderCode(std::int32_t kindCode) {
  switch (kindCode & 7) {
    case 3: return "hse503";
    case 1:
    case 2: return "hse502";
    default: return "hse504";
  }
}

// Number of definition points of a kind code.
int definitionPoints(std::int32_t kindCode) {
  const std::int32_t low = kindCode & 7;
  return low == 1 || low == 2 || low == 3 ? 3 : 4;
}

// One drawing sub-element whose keyword was read, up to its "EOE".  -1
// when its values ended early; otherwise 0, and the sub-element is kept
// when it could be read and the run converts it.
int readSubElement(ValueReader& r, const std::string& keyword, bool frame, const char* code,
                   TransferDimension& out) {
  TransferSubElement sub;
  sub.frame = frame;
  int rc = -99;
  if (frame && !runHas(RunModeBit::kPlus)) {
    std::printf("%s : IGES_GRAF false, Massrahmen '%s' werden ignoriert !\n", code, keyword.c_str());
  } else if (keyword == "d_line") {
    TransferLine line;
    rc = readLineBody(r, keyword, line);
    sub.kind = TransferSubElement::Kind::kLine;
    sub.record = std::move(line);
  } else if (keyword == "d_arc_3p" || keyword == "d_circle" || keyword == "d_fill_arc") {
    TransferCircle arc;
    rc = readCircleBody(r, keyword, arc);
    sub.kind = TransferSubElement::Kind::kArc;
    sub.record = std::move(arc);
  } else if (keyword == "d_string_angle" || keyword == "d_string_angle_em") {
    TransferText text;
    rc = readTextBody(r, keyword, text);
    sub.kind = TransferSubElement::Kind::kString;
    sub.record = std::move(text);
  } else {
    std::int32_t form = 0;
    const char* label = nullptr;
    if (hatchKindOf(keyword, form, label) && keyword != "hatch") {
      TransferHatch polygon;
      rc = readHatchBody(r, keyword, polygon);
      sub.kind = TransferSubElement::Kind::kPolyline;
      sub.record = std::move(polygon);
    } else {
      std::printf("%s : Masssubelement '%s' unbekannt, wird ignoriert !\n", code, keyword.c_str());
    }
  }
  if (rc == -1 || !r.ok()) return -1;
  if (rc == 0) out.parts.push_back(std::move(sub));
  skipToEndOfElement();  // the element may end without the marker
  return 0;
}

// The frame reader: the number of frame sub-elements and the sub-elements.
int readFrame(ValueReader& r, const std::string& token, const char* code, TransferDimension& out) {
  TraceScope t("hse507");
  out.frameToken = token;
  out.frameTranslated = frameTranslation(token);
  if (!r.integer(out.frameElements)) return -1;
  if (runSettings().traceLevel > 4) {
    std::printf("hse507 : measkind '%s', measbox '%s', translated '%s', posttext '%s'\n", out.kindToken.c_str(),
                out.frameToken.c_str(), out.frameTranslated.c_str(), out.postTextToken.c_str());
    std::printf("         Erkannte Anzahl der Massrahmenelemente -> %d\n", static_cast<int>(out.frameElements));
  }
  if (out.frameElements < 0) return -1;
  for (std::int32_t i = 0; i < out.frameElements && !atElementEnd(); ++i) {
    std::string keyword;
    if (!r.token(keyword)) return -1;
    if (keyword == "EOE") {
      --i;
      continue;
    }
    if (readSubElement(r, keyword, true, code, out) != 0) return -1;
  }
  return 0;
}

// The tagged value lines after the definition, up to the end of the
// element.
int readTagged(ValueReader& r, TransferDimension& out) {
  const char* code = subReaderCode(out.kindCode);
  TraceScope t(code);
  while (!atElementEnd()) {
    std::string tag;
    if (!r.token(tag)) return -1;
    if (tag == "EOE") continue;
    if (applyDecoration(out, tag)) {
      if (tag == "pretext" && !r.text(out.preTextString)) return -1;
    } else if (tag == "posttext") {
      if (!r.text(out.postTextString)) return -1;
    } else if (tag == "meas_raw") {
      if (!r.real(out.rawValue)) return -1;
      out.hasRaw = true;
    } else if (tag == "meas_aux") {
      if (!r.real(out.auxValue)) return -1;
      out.hasAux = true;
    } else if (frameTranslation(tag) != nullptr) {
      if (readFrame(r, tag, code, out) != 0) return -1;
    } else if (isPrimitive(tag)) {
      if (readSubElement(r, tag, false, code, out) != 0) return -1;
    }
    // Any other tag is passed over.
  }
  return r.result();
}

// Status of a dimension: "deleted" or "visible"; another token leaves the
// dimension unconverted.
int readDimensionStatus(ValueReader& r, TransferDimension& out) {
  std::string status;
  if (!r.token(status)) return -1;
  if (status == "deleted") {
    out.deleted = true;
  } else if (status != "visible") {
    return -99;
  }
  return 0;
}

// [v] text, [v] token, status, pen.
int readDimensionHead(ValueReader& r, TransferDimension& out) {
  if (transferReader().fileVersion != 0) {
    r.text(out.attributeText);
    r.skip();
  }
  if (!r.ok()) return -1;
  const int rc = readDimensionStatus(r, out);
  if (rc != 0) return rc;
  TransferPen pen;
  if (!r.pen(pen)) return -1;
  applyPen(pen, out);
  return 0;
}

// The member identifiers up to "end".
bool skipMembers(ValueReader& r) {
  std::string token;
  do {
    if (!r.token(token)) return false;
  } while (token != "end");
  return true;
}

// Definition points and the measured value; the angle of a linear
// dimension without a fixed orientation follows its first two points.
bool readDefinition(ValueReader& r, TransferDimension& out) {
  const int count = definitionPoints(out.kindCode);
  out.points.resize(static_cast<std::size_t>(count));
  for (Point3& p : out.points) r.point(p);
  double value = 0;
  if (!r.real(value)) return false;
  out.reals.push_back(value);
  if ((out.kindCode & 7) == 1 && out.orientation == 0) {
    out.angle = std::atan2(out.points[1].y - out.points[0].y, out.points[1].x - out.points[0].x);
  }
  return true;
}

int readMeasure(ValueReader& r, TransferDimension& out) {
  int rc = readDimensionHead(r, out);
  if (rc != 0) return rc;
  if (!skipMembers(r) || !r.token(out.kindToken)) return -1;
  bool known = false;
  for (const MeasureKind& kind : kMeasureKinds) {
    if (kind.token == out.kindToken) {
      out.kindCode = kind.code;
      known = true;
    }
  }
  if (!known) return -99;
  if ((out.kindCode & 7) == 5 && !runHas(RunModeBit::kPlus)) return -99;
  if ((out.kindCode & 7) == 1) {
    out.linearBlock = true;
    if (out.kindToken == "pointpointhor") {
      out.orientation = 1;
      out.angle = 0;
    } else if (out.kindToken == "pointpointvert") {
      out.orientation = 2;
      out.angle = kPi / 2;
    }
  }
  if (!readDefinition(r, out)) return -1;
  return readTagged(r, out);
}

// The common form of the four builders.
int buildDimension(ValueReader& r, std::int32_t kindCode, TransferDimension& out) {
  int rc = readDimensionHead(r, out);
  if (rc != 0) return rc;
  if (out.keyword == "measure_distance" && !skipMembers(r)) return -1;
  out.kindToken = out.keyword;
  out.kindCode = kindCode;
  out.linearBlock = (kindCode & 7) == 1;
  if (!readDefinition(r, out)) return -1;
  r.real(out.textHeight);
  r.text(out.text);
  readLayer(r, out);
  readStyleAndWidth(r, out);
  if (!r.ok()) return -1;
  return readTagged(r, out);
}

int dimensionOfKind(const char* name, std::int32_t kindCode, TransferDimension& out) {
  TraceScope t(name);
  return guarded(name, [&] {
    ValueReader r("hse500");
    return buildDimension(r, kindCode, out);
  });
}

int DimDis(TransferDimension& out) { return dimensionOfKind("DimDis", 1, out); }
int DimDia(TransferDimension& out) { return dimensionOfKind("DimDia", 2, out); }
int DimRam(TransferDimension& out) { return dimensionOfKind("DimRam", 11, out); }
int DimAng(TransferDimension& out) { return dimensionOfKind("DimAng", 68, out); }

}  // namespace

int fetchDimension(std::int32_t index, std::int32_t position, TransferDimension& out) {
  TraceScope t("hse500");
  return guarded("hse500", [&] {
    stamp(index, IgesType::kTransferDimension, 0, TransferLabel::kDimension);
    std::string keyword, identifier;
    if (!openElement(position, keyword, identifier)) return -99;
    debugHeader("hse500", identifier, position, keyword);
    out = TransferDimension();
    out.keyword = keyword;
    out.identifier = identifier;
    if (keyword == "measure") {
      ValueReader r("hse500");
      return readMeasure(r, out);
    }
    if (keyword == "measure_distance" || keyword == "dimension_distance") return DimDis(out);
    if (keyword == "dimension_diameter") return DimDia(out);
    if (keyword == "dimension_radius") return DimRam(out);
    if (keyword == "dimension_angular") return DimAng(out);
    return -99;
  });
}
