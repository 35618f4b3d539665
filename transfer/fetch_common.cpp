#include "transfer/fetch_common.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <utility>

#include "elements/element_table.h"
#include "support/assign_tables.h"
#include "support/config.h"
#include "support/trace.h"
#include "transfer/transfer_lines.h"

namespace fetch_detail {

namespace {


Point3 minusReference(double x, double y, double z) {
  const Point3 ref = transferReader().reference;
  return Point3{x - ref.x, y - ref.y, z - ref.z};
}

// Three reals at the start of a line ("x y z"), the way stream extraction
// reads them.
bool parseReals(const std::string& line, double* values, int count) {
  const char* at = line.c_str();
  for (int i = 0; i < count; ++i) {
    char* end = nullptr;
    while (*at == ' ' || *at == '\t') ++at;
    if (!((*at >= '0' && *at <= '9') || *at == '-' || *at == '+' || *at == '.')) return false;
    values[i] = std::strtod(at, &end);
    if (end == at || !std::isfinite(values[i])) return false;
    at = end;
  }
  return true;
}

// The colour-definition element of the colour assignment: a new element
// table record of type 314 holding the colour in percent.
int makeColourDefinition(long red, long green, long blue, const std::string& name, long number) {
  const std::int32_t index = newIndex();
  if (index < 0) return -1;
  ElementRecord& e = element(index);
  e.type = IgesType::kColourDefinition;
  e.form = 0;
  std::memcpy(e.de.label, "COL_DEF ", 9);
  auto colour = std::make_unique<ColourRecord>();
  colour->red = static_cast<double>(red);
  colour->green = static_cast<double>(green);
  colour->blue = static_cast<double>(blue);
  colour->name = name;
  colour->colourIndex = static_cast<std::int32_t>(number);
  e.params = std::move(colour);
  return index;
}

}  // namespace

bool ValueReader::check(int rc) {
  if (rc == 0) return true;
  if (!failed_ && lastTransferStop() == TransferStop::kSection) mfaWarning(code_, 1000, Channel::kProtocol);
  failed_ = true;
  return false;
}

bool ValueReader::text(std::string& value) { return ok() && check(readTextLine(value)); }
bool ValueReader::token(std::string& value) { return ok() && check(readToken(value)); }
bool ValueReader::tokenView(std::string_view& value) { return ok() && check(readTokenView(value)); }
bool ValueReader::skip() { return ok() && check(skipValueLine()); }
bool ValueReader::integer(std::int32_t& value) { return ok() && check(readInt(value)); }
bool ValueReader::real(double& value) { return ok() && check(readReal(value)); }
bool ValueReader::angle(double& value) {
  if (!real(value)) return false;
  value = value * kPi / 180.0;
  return true;
}
bool ValueReader::point(Point3& value) {
  Point3 p;
  if (!ok() || !check(readPoint(p))) return false;
  value = minusReference(p.x, p.y, 0.0);
  return true;
}
bool ValueReader::pointXY(Point3& value) {
  double x = 0, y = 0;
  if (!real(x) || !real(y)) return false;
  value = minusReference(x, y, 0.0);
  return true;
}
bool ValueReader::point3(Point3& value) {
  std::string line;
  if (!text(line)) return false;
  double v[3];
  if (!parseReals(line, v, 3)) {
    failed_ = true;
    return false;
  }
  value = minusReference(v[0], v[1], v[2]);
  return true;
}
bool ValueReader::pen(TransferPen& value) { return ok() && check(readPen(value)); }
bool ValueReader::textBlock(std::string& value, std::int32_t length) {
  return ok() && check(readTextBlock(value, length));
}
bool ValueReader::intAndText(std::int32_t& value, std::string& text) {
  return ok() && check(readIntAndText(value, text));
}

bool openElement(std::int32_t position, std::string& keyword, std::string& identifier, std::string* rest) {
  TransferReaderState& s = transferReader();
  keyword.clear();
  identifier.clear();
  if (rest != nullptr) rest->clear();
  if (seekToPosition(position) != 0) return false;
  const std::size_t at = s.offset;
  if (at < s.bytes.size() && s.bytes[at] == '#' && (at == 0 || s.bytes[at - 1] == '\n')) {
    // A part of a symbol: its token line opens it.
    s.offset = at + 1;
    const std::string_view line = transfer_lines::takeRestOfLine();
    std::size_t from = 0;
    keyword = transfer_lines::nextToken(line, from);
    return !keyword.empty();
  }
  return seekToElement(position, keyword, identifier, rest) == 0;
}

namespace {

// Looks at the next value line and leaves the reader where it was: true when
// there is none, or (orEoe) when it is "EOE".
bool peekEnd(bool orEoe) {
  TransferReaderState& s = transferReader();
  const std::size_t offset = s.offset;
  const TransferStop stop = s.lastStop;
  const bool met = s.endOfFileMet;
  bool end = nextValueLine() != 0;
  if (!end && orEoe) {
    std::size_t at = 0;
    end = transfer_lines::nextToken(transfer_lines::takeRestOfLine(), at) == "EOE";
  }
  s.offset = offset;
  s.lastStop = stop;
  s.endOfFileMet = met;
  return end;
}

}  // namespace

bool atElementEnd() { return peekEnd(false); }

bool atPartEnd() { return peekEnd(true); }

std::size_t remainingBytes() {
  const TransferReaderState& s = transferReader();
  return s.offset < s.bytes.size() ? s.bytes.size() - s.offset : 0;
}

bool countFits(std::int64_t count, std::size_t itemBytes) {
  if (count < 0) return false;
  return static_cast<std::uint64_t>(count) <= remainingBytes() / (itemBytes == 0 ? 1 : itemBytes);
}

void stamp(std::int32_t index, std::int32_t type, std::int32_t form, const char* label) {
  if (!isElementIndex(index)) return;
  ElementRecord& e = element(index);
  e.type = type;
  e.form = form;
  std::memset(e.de.label, 0, sizeof e.de.label);
  std::memcpy(e.de.label, label, std::min<std::size_t>(std::strlen(label), 8));
}

bool debugAbove(int level) { return runSettings().traceLevel > level; }

void debugHeader(const char* name, const std::string& identifier, std::int32_t position,
                 const std::string& keyword) {
  if (!debugAbove(98)) return;
  std::printf("%s : ID %s Offset %d Type   %s\n", name, identifier.c_str(), static_cast<int>(position),
              keyword.c_str());
}

bool readStatus(ValueReader& r, TransferRecord& out) {
  std::string_view status;
  if (!r.tokenView(status)) return false;
  out.deleted = status == "deleted";
  return true;
}

bool readHead(ValueReader& r, TransferRecord& out, bool withPen) {
  if (transferReader().fileVersion != 0) {
    r.text(out.attributeText);
    r.skip();
  }
  readStatus(r, out);
  if (withPen) {
    TransferPen pen;
    if (r.pen(pen)) applyPen(pen, out);
  }
  return r.ok();
}

void applyPen(const TransferPen& pen, TransferRecord& out) {
  out.penColour = pen.colour;
  out.red = pen.red;
  out.green = pen.green;
  out.blue = pen.blue;
  out.colourName = pen.name;
  const auto [colour, definition] =
      colourDefinitionOf(pen.colour, pen.red, pen.green, pen.blue, pen.name, makeColourDefinition);
  if (definition >= 1) {
    out.colourDefinition = definition;
    out.colour = -deNumberOf(definition);
  } else {
    out.colourDefinition = 0;
    out.colour = colour;
  }
}

bool readLayer(ValueReader& r, TransferRecord& out) {
  double value = 0;
  if (!r.real(value)) return false;
  const std::int32_t layer = layerNumberOf(value);
  if (layer < 0) {
    mfaWarning(r.code(), 1010, Channel::kProtocol);
    out.layer = 0;
  } else {
    out.layer = layer;
  }
  return true;
}

bool readStyleAndWidth(ValueReader& r, TransferRecord& out) {
  std::int32_t style = 0;
  double width = 0;
  if (!r.integer(style) || !r.real(width)) return false;
  out.lineStyle = exchangeLineStyle(style);
  out.lineWidth = widthNumber(width);
  return true;
}

bool isPrimitive(std::string_view keyword) { return keyword.substr(0, 2) == "d_"; }

bool readTail(ValueReader& r, TransferRecord& out) {
  if (!isPrimitive(out.keyword)) readLayer(r, out);
  return readStyleAndWidth(r, out);
}

}  // namespace fetch_detail
