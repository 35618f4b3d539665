// Text fetcher: "text" with its three layouts (one line, "block", "blo"),
// the strings "d_string_angle" and "d_string_angle_em" of dimensions and
// symbols, and "variable".
//
// "text" after the head: insertion x, insertion y, height, angle, the four
// reals bounding the text (y1, y2, x1, x2), the mirror token, the font as
// "number name", the character width factor, the text length, the layout
// token and the text:
//   "block"  line spacing, number of lines, one value line per line
//   "blo"    number of lines (spacing 1.5 x height), one value line per line
//   other    character count, then the text (a text written over several
//            lines continues on lines without a role character)
// then, when the element goes on, the layer value, line style and width.
// "d_string_angle": head, the text, x, y, height, angle, width factor, line
// style, line width; "d_string_angle_em" adds an integer, a real and an
// integer.  "variable": head, x, y, height, the text, then optionally
// layer, style and width.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "support/trace.h"
#include "transfer/fetch_common.h"
#include "transfer/fetchers.h"

using namespace fetch_detail;

namespace {

constexpr double kSmallLength = 0.0001;
constexpr std::int32_t kTextBuffer = static_cast<std::int32_t>(kTransferLineLength);

// The text split at its line feeds; "a\nb\n" gives "a", "b", "".
std::vector<std::string> splitLines(const std::string& text) {
  std::vector<std::string> out;
  std::size_t from = 0;
  for (;;) {
    const std::size_t lf = text.find('\n', from);
    std::string line = text.substr(from, lf == std::string::npos ? std::string::npos : lf - from);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    out.push_back(std::move(line));
    if (lf == std::string::npos) return out;
    from = lf + 1;
  }
}

double charWidth(const std::string& text, double widthFactor, double height) {
  return static_cast<double>(text.size()) * widthFactor * std::fabs(height);
}

// Layer, line style and width at the end of a text, when the element has
// them.
void readOptionalTail(ValueReader& r, TransferText& out) {
  if (!atPartEnd()) readLayer(r, out);
  if (r.ok() && !atPartEnd()) readStyleAndWidth(r, out);
}

int emptyText(ValueReader& r) {
  mfaWarning("hse440", 685, Channel::kProtocol);
  (void)r;
  return -99;
}

// "d_string_angle", "d_string_angle_em" and "variable": one part.
int readString(ValueReader& r, const std::string& keyword, TransferText& out) {
  TransferTextPart part;
  double height = 0;
  if (keyword == "variable") {
    r.pointXY(part.insertion);
    r.real(height);
    r.textBlock(part.text, kTextBuffer);
  } else {
    r.textBlock(part.text, kTextBuffer);
    r.pointXY(part.insertion);
    r.real(height);
    r.angle(part.angle);
    r.real(part.widthFactor);
    readStyleAndWidth(r, out);
    if (keyword == "d_string_angle_em") {
      r.integer(out.emphasis[0]);
      r.real(out.emphasisValue);
      r.integer(out.emphasis[1]);
    }
  }
  if (!r.ok()) return -1;
  if (keyword == "variable") readOptionalTail(r, out);
  if (!r.ok()) return -1;
  if (part.text.empty()) return emptyText(r);
  if (std::fabs(part.widthFactor) < kSmallLength) part.widthFactor = 1.0;
  part.height = std::fabs(height);
  part.width = charWidth(part.text, part.widthFactor, height);
  out.parts.push_back(std::move(part));
  return 0;
}

int readText(ValueReader& r, TransferText& out) {
  TransferTextPart model;
  double height = 0;
  double y1 = 0, y2 = 0, x1 = 0, x2 = 0;
  r.pointXY(model.insertion);
  r.real(height);
  r.angle(model.angle);
  r.real(y1);
  r.real(y2);
  r.real(x1);
  r.real(x2);
  r.token(model.mirror);
  r.intAndText(model.fontNumber, model.fontName);
  r.real(model.widthFactor);
  r.real(out.textLength);
  std::string layout;
  r.token(layout);
  if (!r.ok()) return -1;
  const Point3 ref = referencePoint();
  out.box[0] = y1 - ref.y;
  out.box[1] = y2 - ref.y;
  out.box[2] = x1 - ref.x;
  out.box[3] = x2 - ref.x;
  if (std::fabs(model.widthFactor) < kSmallLength) model.widthFactor = 1.0;
  model.height = std::fabs(height);
  model.width = std::hypot(x2 - x1, y2 - y1) - model.height;  // provisional
  const double c = std::cos(model.angle);
  const double s = std::sin(model.angle);

  if (layout == "block" || layout == "blo") {
    std::int32_t lines = 0;
    if (layout == "block") {
      r.real(out.lineSpacing);
    } else {
      out.lineSpacing = 1.5 * model.height;
    }
    if (!r.integer(lines)) return -1;
    if (lines == 0) return -99;
    if (!countFits(lines, 2)) return -1;  // "#\n" per line at least
    out.form = 6;
    Point3 at = model.insertion;
    for (std::int32_t i = 0; i < lines; ++i) {
      TransferTextPart part = model;
      if (!r.textBlock(part.text, kTextBuffer)) return -1;
      if (!part.text.empty() && part.text.back() == '\r') part.text.pop_back();
      part.insertion = at;
      part.width = charWidth(part.text, part.widthFactor, height);
      out.parts.push_back(std::move(part));
      at.x += out.lineSpacing * s;
      at.y -= out.lineSpacing * c;
    }
    readOptionalTail(r, out);
    return r.result();
  }

  std::int32_t count = 0;
  if (!r.integer(count)) return -1;
  const std::int64_t length = std::min<std::int64_t>(std::max<std::int64_t>(std::int64_t{count} + 1, 1), kTextBuffer);
  std::string text;
  if (!r.textBlock(text, static_cast<std::int32_t>(length))) return -1;
  readOptionalTail(r, out);
  if (!r.ok()) return -1;
  if (text.empty()) return emptyText(r);
  const std::vector<std::string> strings = splitLines(text);
  const bool several = strings.size() > 1;
  out.form = several ? 2 : 0;
  Point3 at = model.insertion;
  for (const std::string& string : strings) {
    TransferTextPart part = model;
    part.text = string;
    part.insertion = at;
    part.width = several || out.textLength <= kSmallLength ? charWidth(string, part.widthFactor, height)
                                                           : out.textLength;
    at.x += part.width * c;
    at.y += part.width * s;
    out.parts.push_back(std::move(part));
  }
  return 0;
}

const char* textLabelOf(const std::string& keyword) {
  if (keyword == "text") return TransferLabel::kText;
  if (keyword == "d_string_angle") return TransferLabel::kString;
  if (keyword == "d_string_angle_em") return TransferLabel::kStringEm;
  if (keyword == "variable") return TransferLabel::kVariable;
  return nullptr;
}

}  // namespace

namespace fetch_detail {

int readTextBody(ValueReader& r, const std::string& keyword, TransferText& out) {
  const char* label = textLabelOf(keyword);
  if (label == nullptr) return -99;
  out = TransferText();
  out.keyword = keyword;
  std::copy(label, label + 8, out.label);
  if (!readHead(r, out)) return -1;
  return keyword == "text" ? readText(r, out) : readString(r, keyword, out);
}

}  // namespace fetch_detail

int fetchText(std::int32_t index, std::int32_t position, TransferText& out) {
  TraceScope t("hse440");
  return guarded("hse440", [&] {
    std::string keyword, identifier;
    if (!openElement(position, keyword, identifier)) {
      stamp(index, IgesType::kGeneralNote, 0, TransferLabel::kText);
      return -99;
    }
    debugHeader("hse440", identifier, position, keyword);
    const char* label = textLabelOf(keyword);
    stamp(index, IgesType::kGeneralNote, 0, label != nullptr ? label : TransferLabel::kText);
    ValueReader r("hse440");
    const int rc = readTextBody(r, keyword, out);
    out.identifier = identifier;
    if (rc == 0) stamp(index, IgesType::kGeneralNote, out.form, out.label);
    return rc;
  });
}
