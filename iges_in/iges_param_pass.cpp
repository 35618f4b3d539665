// The parameter pass: after the directory and parameter sections are read,
// every structuring entity's parameter data is read once so that fathers
// and sons are linked before the conversion starts.

#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "elements/element_table.h"
#include "iges_in/iges_convert.h"
#include "iges_in/iges_fields.h"
#include "iges_in/iges_geometry_math.h"
#include "iges_in/iges_reader.h"
#include "support/assign_tables.h"
#include "support/messages.h"
#include "support/trace.h"

namespace {

// A count in the parameter data names more fields than follow it.
constexpr int kMsgCountBeyondData = 1325;

// Steps through the fields of one entity's parameter data.  A field that
// cannot be read takes its default; once the text is used up every further
// field is empty.
struct Fields {
  const char* p;
  unsigned flags = 0;

  // The record delimiter ends the data.
  bool more() const { return p != nullptr && *p != '\0' && !(flags & IgesFlag::kRecordEnd); }
  int integer() {
    int v = 0;
    if (more()) p = parseInteger(p, flags, v);
    return v;
  }
  double real() {
    double v = 0.0;
    if (more()) p = parseReal(p, flags, v);
    return v;
  }
  std::string string() {
    std::string v;
    if (more()) p = parseString(p, flags, v);
    return v;
  }
  // A count of following fields: never more than the text can hold.  A
  // count beyond the fields that follow (each field but the last ends in a
  // parameter delimiter; strings holding delimiters only add to them) is
  // warned about: the data were cut or their count lies.
  int count(const char* code, int warning) {
    int n = integer();
    const int most = p == nullptr ? 0 : static_cast<int>(std::strlen(p)) + 1;
    if (n < 0 || n > most) {
      mfaWarning(code, warning, Channel::kProtocol);
      n = n < 0 ? 0 : most;
    }
    if (n > 0) {
      int fields = more() ? 1 : 0;
      if (fields != 0) {
        const char delimiter = igesDelimiters().param;
        for (const char* c = p; *c != '\0'; ++c) fields += *c == delimiter ? 1 : 0;
      }
      if (n > fields) mfaWarning(code, kMsgCountBeyondData, Channel::kProtocol);
    }
    return n;
  }
};

// A DE pointer of the parameter data as an element index; 0 for a null
// pointer or one that names no element.
std::int32_t indexOf(std::int32_t self, int pointer, const char* code) {
  if (pointer <= 0) return 0;
  const std::int32_t index = indexOfPointer(pointer);
  if (index > elementTable().lastIndex || index == self) {
    mfaWarning(code, 975, Channel::kProtocol);
    return 0;
  }
  return index;
}

// Reads a pointer and links it as a son by priority.
std::int32_t sonByPriority(std::int32_t self, Fields& f, const char* code) {
  const std::int32_t son = indexOf(self, f.integer(), code);
  if (son != 0) linkFatherSon(self, son);
  return son;
}

// Reads a pointer and appends it as a son, keeping file order.
std::int32_t sonInFileOrder(std::int32_t self, Fields& f, const char* code) {
  const std::int32_t son = indexOf(self, f.integer(), code);
  if (son != 0) {
    appendSon(self, son);
    linkSon(self, son, 'v');
  }
  return son;
}

// The matrix of one 124 entity.
bool matrixOf(std::int32_t index, Transform& m) {
  const ElementRecord& e = element(index);
  std::string text;
  if (e.de.entityType != IgesType::kTransformationMatrix ||
      fetchParameterData(IgesType::kTransformationMatrix, e.de.paramPointer, e.de.paramLineCount,
                         text) != 0)
    return false;
  Fields f{text.c_str()};
  for (int row = 0; row < 3; ++row) {
    for (int col = 0; col < 3; ++col) m.r[row][col] = f.real();
    m.t[row] = f.real();
  }
  return true;
}

// The element's matrix chain composed outermost first: a point p of the
// element becomes M1(M2(...Mn(p))).
bool resolvedMatrix(std::int32_t index, Transform& out) {
  TraceScope t("pov050");
  out = Transform{};
  if (element(index).de.matrixPointer == 0) return false;
  std::vector<std::int32_t> chain;
  if (matrixChain(index, chain) != 0 || chain.empty()) return false;
  for (std::int32_t m : chain) {
    Transform b;
    if (!matrixOf(m, b)) return false;
    out = composeTransforms(out, b);
  }
  return true;
}

void readComposite(std::int32_t i, Fields& f) {  // 102
  TraceScope t("pov100");
  auto rec = std::make_unique<CompositeRecord>();
  rec->attributes = attributesOf(i);
  const int n = f.count(t.code(), 975);
  for (int k = 0; k < n && f.more(); ++k) rec->constituents.push_back(sonByPriority(i, f, t.code()));
  rec->hasMatrix = resolvedMatrix(i, rec->matrix);
  element(i).params = std::move(rec);
}

void readPlane(std::int32_t i, Fields& f) {  // 108
  TraceScope t("pov110");
  auto rec = std::make_unique<PlaneRecord>();
  rec->attributes = attributesOf(i);
  rec->a = f.real();
  rec->b = f.real();
  rec->c = f.real();
  rec->d = f.real();
  const int pointer = f.integer();
  if (pointer < 0) mfaWarning(t.code(), 912, Channel::kProtocol);
  rec->boundary = indexOf(i, pointer, t.code());
  if (rec->boundary != 0) {
    if (linkFatherSon(i, rec->boundary) != 0) mfaWarning(t.code(), 913, Channel::kProtocol);
  }
  rec->symbolPoint.x = f.real();
  rec->symbolPoint.y = f.real();
  rec->symbolPoint.z = f.real();
  rec->symbolSize = f.real();
  element(i).params = std::move(rec);
}

// 118, 120, 122, 125: `layout` lists the fields, 'p' a pointer, 'r' a real,
// 'i' an integer.
void readSurface(std::int32_t i, Fields& f, const char* code, const char* layout) {
  TraceScope t(code);
  auto rec = std::make_unique<SurfaceRecord>();
  rec->attributes = attributesOf(i);
  for (const char* l = layout; *l != '\0'; ++l) {
    if (*l == 'p')
      rec->curves.push_back(sonByPriority(i, f, code));
    else if (*l == 'i')
      rec->values.push_back(f.integer());
    else
      rec->values.push_back(f.real());
  }
  element(i).params = std::move(rec);
}

void readGeneralLabel(std::int32_t i, Fields& f) {  // 210
  TraceScope t("pov150");
  auto rec = std::make_unique<AnnotationRecord>();
  rec->attributes = attributesOf(i);
  rec->note = sonByPriority(i, f, t.code());
  const int n = f.count(t.code(), 975);
  for (int k = 0; k < n && f.more(); ++k) rec->leaders.push_back(sonByPriority(i, f, t.code()));
  element(i).params = std::move(rec);
}

// Dimensions: a list of fields where 'p' is a pointer linked as a son and
// 'r' a number that is skipped here.
void readDimension(std::int32_t i, Fields& f, const char* code, const char* layout) {
  TraceScope t(code);
  for (const char* l = layout; *l != '\0'; ++l) {
    if (*l == 'p')
      sonByPriority(i, f, code);
    else
      f.real();
  }
}

void readSectionedArea(std::int32_t i, Fields& f) {  // 230
  TraceScope t("pov220");
  auto rec = std::make_unique<AnnotationRecord>();
  rec->attributes = attributesOf(i);
  rec->geometry.push_back(sonByPriority(i, f, t.code()));  // exterior boundary
  rec->values.push_back(f.integer());                        // fill pattern
  for (int k = 0; k < 5; ++k) rec->values.push_back(f.real());  // point, distance, angle
  const int n = f.count(t.code(), 975);
  for (int k = 0; k < n && f.more(); ++k) rec->geometry.push_back(sonByPriority(i, f, t.code()));
  element(i).params = std::move(rec);
}

void readGeneralSymbol(std::int32_t i, Fields& f) {  // 228
  TraceScope t("pov225");
  auto rec = std::make_unique<AnnotationRecord>();
  rec->attributes = attributesOf(i);
  rec->note = sonInFileOrder(i, f, t.code());
  int n = f.count(t.code(), 975);
  for (int k = 0; k < n && f.more(); ++k) rec->geometry.push_back(sonInFileOrder(i, f, t.code()));
  n = f.count(t.code(), 975);
  for (int k = 0; k < n && f.more(); ++k) rec->leaders.push_back(sonInFileOrder(i, f, t.code()));
  element(i).params = std::move(rec);
}

void readSubfigure(std::int32_t i, Fields& f) {  // 308
  TraceScope t("pov230");
  auto rec = std::make_unique<SubfigureRecord>();
  rec->depth = f.integer();
  rec->name = f.string();
  const int n = f.count(t.code(), 898);
  for (int k = 0; k < n && f.more(); ++k) {
    const int pointer = f.integer();
    const std::int32_t son = indexOf(i, pointer, t.code());
    if (son == 0) {
      mfaWarning(t.code(), 898, Channel::kProtocol);
      continue;
    }
    linkFatherSon(i, son);
    rec->members.push_back(son);
  }
  element(i).params = std::move(rec);
}

void readColour(std::int32_t i, Fields& f) {  // 314
  TraceScope t("pov314");
  auto rec = std::make_unique<ColourRecord>();
  rec->red = f.real();
  rec->green = f.real();
  rec->blue = f.real();
  rec->name = f.string();
  element(i).params = std::move(rec);
}

bool isPointLineOrArc(std::int32_t index) {
  const std::int32_t type = element(index).type;
  return type == IgesType::kPoint || type == IgesType::kLine || type == IgesType::kCircularArc;
}

// Views visible (forms 3 and 4): NV views, each followed in form 4 by its
// line font, font definition, colour and line weight, then NE pointers
// back to the entities shown in them.  The views are the list's members;
// the entities point at the list through their view field and keep their
// own place in the conversion.  The list steers the view filter only and
// is done at once.
void readViewsVisible(std::int32_t i, Fields& f, const char* code) {
  ElementRecord& e = element(i);
  const int views = f.count(code, 975);
  f.count(code, 975);
  for (int k = 0; k < views && f.more(); ++k) {
    sonByPriority(i, f, code);
    if (e.form == 4)
      for (int skip = 0; skip < 4 && f.more(); ++skip) f.integer();
  }
  e.state = ElementState::kDone;
}

// Dimensioned geometry (form 13): N, M, then N + M pointers.  With M the
// first pointer is the dimension and the rest count only when they are
// points, lines or arcs (the geometry the dimension measures).  Without M,
// a property and a point as the first two members, in either order, carry
// no dimension: the list is dropped.
void readDimensionedGeometry(std::int32_t i, Fields& f, const char* code) {
  const int n = f.count(code, 975);
  const int m = f.count(code, 975);
  std::vector<std::int32_t> members;
  for (long k = 0; k < static_cast<long>(n) + m && f.more(); ++k) members.push_back(indexOf(i, f.integer(), code));
  if (m == 0 && members.size() >= 2 && members[0] != 0 && members[1] != 0) {
    const std::int32_t a = element(members[0]).type, b = element(members[1]).type;
    if ((a == IgesType::kProperty && b == IgesType::kPoint) ||
        (a == IgesType::kPoint && b == IgesType::kProperty))
      return;
  }
  for (std::size_t k = 0; k < members.size(); ++k) {
    const std::int32_t son = members[k];
    if (son == 0) continue;
    if (m != 0 && k > 0 && !isPointLineOrArc(son)) continue;
    linkFatherSon(i, son);
  }
}

void readAssociativity(std::int32_t i, Fields& f) {  // 402
  TraceScope t("pov240");
  switch (element(i).form) {
    case 3: case 4:
      readViewsVisible(i, f, t.code());
      return;
    case 13:
      readDimensionedGeometry(i, f, t.code());
      return;
    default: {
      const int n = f.count(t.code(), 975);
      for (int k = 0; k < n && f.more(); ++k) sonByPriority(i, f, t.code());
    }
  }
}

// The width and height of a drawing size property (406 form 16: the
// number of values, then width and height in drawing units).
bool drawingSizeOf(std::int32_t property, double& width, double& height) {
  const ElementRecord& e = element(property);
  std::string text;
  if (e.de.entityType != IgesType::kProperty || e.form != 16 ||
      fetchParameterData(IgesType::kProperty, e.de.paramPointer, e.de.paramLineCount, text) != 0)
    return false;
  Fields f{text.c_str()};
  if (f.integer() < 2) return false;
  width = f.real();
  height = f.real();
  return std::isfinite(width) && std::isfinite(height) && width > 0.0 && height > 0.0;
}

void readDrawing(std::int32_t i, Fields& f) {  // 404
  TraceScope t("pov250");
  auto rec = std::make_unique<DrawingRecord>();
  int n = f.count(t.code(), 975);
  for (int k = 0; k < n && f.more(); ++k) {
    DrawingRecord::ViewSlot slot;
    int pointer = f.integer();
    if (pointer < 0) {
      mfaWarning(t.code(), 443, Channel::kProtocol);
      pointer = pointer == INT32_MIN ? INT32_MAX : -pointer;
    }
    slot.view = indexOf(i, pointer, t.code());
    if (slot.view != 0 && element(slot.view).type != IgesType::kView) {
      // Not a view: left out of the drawing, its origin is still read.
      mfaWarning(t.code(), 444, Channel::kProtocol);
      slot.view = 0;
    }
    slot.x = f.real();
    slot.y = f.real();
    rec->views.push_back(slot);
  }
  n = f.count(t.code(), 975);
  for (int k = 0; k < n && f.more(); ++k) {
    const std::int32_t son = sonByPriority(i, f, t.code());
    if (son != 0) rec->annotations.push_back(son);
  }
  // The pointers that close the parameter data: associativities, then
  // properties.  A drawing size property (406 form 16) gives the frame,
  // from the drawing's origin to its width and height.
  if (f.more()) {
    n = f.count(t.code(), 975);
    for (int k = 0; k < n && f.more(); ++k) f.integer();
    n = f.count(t.code(), 975);
    for (int k = 0; k < n && f.more(); ++k) {
      const std::int32_t p = indexOf(i, f.integer(), t.code());
      double width = 0.0, height = 0.0;
      if (p == 0 || rec->hasFrame || !drawingSizeOf(p, width, height)) continue;
      rec->hasFrame = true;
      rec->frameX2 = width;
      rec->frameY2 = height;
    }
  }
  element(i).params = std::move(rec);
  element(i).state = ElementState::kRegistered;
  elementTable().drawingsPresent = true;
}

void readProperty(std::int32_t i, Fields& f) {  // 406
  TraceScope t("pov280");
  // The values of a property are numbers, names or pointers by form; the
  // forms that point at entities list them as their values.
  const int form = element(i).form;
  const int n = f.count(t.code(), 975);
  if (form == 1 || form == 21) {  // definition levels, region restrictions
    for (int k = 0; k < n && f.more(); ++k) {
      if (form == 1) {
        f.integer();
      } else {
        sonInFileOrder(i, f, t.code());
      }
    }
  }
}

void readSingularInstance(std::int32_t i, Fields& f) {  // 408
  TraceScope t("pov260");
  sonByPriority(i, f, t.code());
}

void readView(std::int32_t i, Fields& f) {  // 410
  TraceScope t("pov270");
  auto rec = std::make_unique<ViewRecord>();
  rec->attributes = attributesOf(i);
  rec->viewNumber = f.integer();
  rec->scale = f.real();
  if (std::fabs(rec->scale) < assignTables().global.systemEpsilon) rec->scale = 1.0;
  for (int k = 0; k < 6 && f.more(); ++k) rec->clipPlanes[k] = sonInFileOrder(i, f, t.code());
  // The associativities and properties that close the parameter data; the
  // view's name comes from its properties.
  ElementRecord& e = element(i);
  int n = f.count(t.code(), 975);
  for (int k = 0; k < n && f.more(); ++k) e.sideRecord().assocs.push_back(indexOf(i, f.integer(), t.code()));
  n = f.count(t.code(), 975);
  for (int k = 0; k < n && f.more(); ++k) e.sideRecord().props.push_back(indexOf(i, f.integer(), t.code()));
  rec->hasMatrix = resolvedMatrix(i, rec->matrix);
  e.params = std::move(rec);
  e.state = ElementState::kRegistered;
  elementTable().drawingsPresent = true;
}

bool hasReader(std::int32_t type) {
  switch (type) {
    case IgesType::kCompositeCurve:
    case IgesType::kPlane:
    case IgesType::kRuledSurface:
    case IgesType::kSurfaceOfRevolution:
    case IgesType::kTabulatedCylinder:
    case IgesType::kFlash:
    case IgesType::kAngularDimension:
    case IgesType::kDiameterDimension:
    case IgesType::kGeneralLabel:
    case IgesType::kLinearDimension:
    case IgesType::kOrdinateDimension:
    case IgesType::kPointDimension:
    case IgesType::kRadiusDimension:
    case IgesType::kGeneralSymbol:
    case IgesType::kSectionedArea:
    case IgesType::kSubfigureDefinition:
    case IgesType::kColourDefinition:
    case IgesType::kAssociativityInstance:
    case IgesType::kDrawing:
    case IgesType::kProperty:
    case IgesType::kSubfigureInstance:
    case IgesType::kView: return true;
    default:
      return false;
  }
}

}  // namespace

void readEntityParameters(std::int32_t i, std::int32_t type, const std::string& text) {
  Fields f{text.c_str()};
  switch (type) {
    case IgesType::kCompositeCurve: readComposite(i, f); break;
    case IgesType::kPlane: readPlane(i, f); break;
    case IgesType::kRuledSurface: readSurface(i, f, "pov120", "ppii"); break;
    case IgesType::kSurfaceOfRevolution: readSurface(i, f, "pov130", "pprr"); break;
    case IgesType::kTabulatedCylinder: readSurface(i, f, "pov140", "prrr"); break;
    case IgesType::kFlash: readSurface(i, f, "pov145", "rrrrrp"); break;
    case IgesType::kGeneralLabel: readGeneralLabel(i, f); break;
    case IgesType::kLinearDimension: readDimension(i, f, "pov160", "ppppp"); break;
    case IgesType::kPointDimension: readDimension(i, f, "pov170", "ppp"); break;
    case IgesType::kOrdinateDimension: readDimension(i, f, "pov180", "pp"); break;
    case IgesType::kRadiusDimension: readDimension(i, f, "pov190", "pprrp"); break;
    case IgesType::kAngularDimension: readDimension(i, f, "pov200", "ppprrrpp"); break;
    case IgesType::kDiameterDimension: readDimension(i, f, "pov210", "ppprr"); break;
    case IgesType::kSectionedArea: readSectionedArea(i, f); break;
    case IgesType::kGeneralSymbol: readGeneralSymbol(i, f); break;
    case IgesType::kSubfigureDefinition: readSubfigure(i, f); break;
    case IgesType::kColourDefinition: readColour(i, f); break;
    case IgesType::kAssociativityInstance: readAssociativity(i, f); break;
    case IgesType::kDrawing: readDrawing(i, f); break;
    case IgesType::kProperty: readProperty(i, f); break;
    case IgesType::kSubfigureInstance: readSingularInstance(i, f); break;
    case IgesType::kView: readView(i, f); break;
    default: break;
  }
}

namespace {

void readParameters(std::int32_t i) {
  const ElementRecord& e = element(i);
  std::string text;
  if (fetchParameterData(e.de.entityType, e.de.paramPointer, e.de.paramLineCount, text) != 0)
    return;
  readEntityParameters(i, e.de.entityType, text);
}

}  // namespace

void parameterPass() {
  TraceScope t("ldv966");
  ElementTable& table = elementTable();
  for (std::int32_t i = 1; i <= table.lastIndex; ++i) {
    ElementRecord& e = element(i);
    e.classBits = classBitsOf(e.type, e.form);
    table.classesMet |= e.classBits;
    if (!hasReader(e.de.entityType)) continue;
    mfaSetPosition(i, e.de.paramPointer);
    readParameters(i);
  }
  mfaClearPosition();
  for (std::int32_t i = 1; i <= table.lastIndex; ++i) {
    ElementRecord& e = element(i);
    e.sonCursor = e.sons;
    e.sonCursor2 = e.sons;
  }
}
