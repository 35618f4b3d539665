// Typed parameter records of the element table: the parameter data of one
// element, read by the IGES parameter pass or a converter, or by a fetcher of
// the output direction.  Every record derives from ParamRecord and is owned
// by its element (ElementRecord::params).  Modules that need a record of
// their own (dimensions, texts, drawings ...) derive it in their own header.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <typeinfo>
#include <vector>

#include "elements/transform.h"

struct ParamRecord {
  virtual ~ParamRecord() = default;
  // A table holds a typed record for most elements, each a few dozen
  // bytes: they are made from blocks of their size (param_records.cpp)
  // instead of one block of the heap each, which would add its own
  // bookkeeping and round the size up.
  static void* operator new(std::size_t size);
  static void operator delete(void* record, std::size_t size) noexcept;
};

// The record as class R, null when it is none (or there is no record).
// Most records asked for are of class R itself: their class compared first
// spares a search of the class hierarchy.
template <typename R>
const R* recordAs(const ParamRecord* record) {
  if (record == nullptr) return nullptr;
  if (typeid(*record) == typeid(R)) return static_cast<const R*>(record);
  return dynamic_cast<const R*>(record);
}

// The graphic attributes of a drawable entity, copied from its directory
// entry; a negative colour is the negated DE number of a 314 colour
// definition.  The four status flags are those of decodeStatus (single
// digits, kept in a byte each: most typed records hold these attributes).
struct GraphicAttributes {
  std::int32_t lineFont = 1;
  std::int32_t level = 0;
  std::int32_t lineWeight = 0;
  std::int32_t colour = 7;
  std::int8_t blank = 0;
  std::int8_t subordinate = 0;
  std::int8_t entityUse = 0;
  std::int8_t hierarchy = 0;
};

// The geometric entities (100, 104, 106, 110, 112, 116, 124, 126 ...): the
// parameters in the order of the parameter data, integers and pointers as
// their values.
struct GeometryRecord : ParamRecord {
  std::vector<double> values;
  GraphicAttributes attributes;
};

// 102 composite curve.
struct CompositeRecord : ParamRecord {
  std::vector<std::int32_t> constituents;  // element indices, 0 for a null pointer
  GraphicAttributes attributes;
  bool hasMatrix = false;
  Transform matrix;  // resolved matrix of the curve
};

// 108 plane.
struct PlaneRecord : ParamRecord {
  double a = 0, b = 0, c = 0, d = 0;
  std::int32_t boundary = 0;  // element index of the bounding curve, 0 for none
  Point3 symbolPoint;
  double symbolSize = 0;
  GraphicAttributes attributes;
};

// 118 ruled surface, 120 surface of revolution, 122 tabulated cylinder,
// 125 flash: the pointers as element indices and the remaining values.
struct SurfaceRecord : ParamRecord {
  std::vector<std::int32_t> curves;
  std::vector<double> values;
  GraphicAttributes attributes;
};

// 210 general label, 228 general symbol, 230 sectioned area: the pointers
// read by the parameter pass (element indices, 0 for null) and the numbers
// between them.
struct AnnotationRecord : ParamRecord {
  std::int32_t note = 0;
  std::vector<std::int32_t> geometry;  // 228 geometry, 230 boundary and islands
  std::vector<std::int32_t> leaders;
  std::vector<double> values;
  GraphicAttributes attributes;
};

// 308 subfigure definition.
struct SubfigureRecord : ParamRecord {
  std::int32_t depth = 0;
  std::string name;
  std::vector<std::int32_t> members;  // element indices
};

// 314 colour definition.
struct ColourRecord : ParamRecord {
  double red = 0, green = 0, blue = 0;  // percent
  std::string name;
  std::int32_t colourIndex = 0;  // selected colour of the palette
};

// 404 drawing.
struct DrawingRecord : ParamRecord {
  struct ViewSlot {
    std::int32_t view = 0;  // element index of the 410, 0 when left out
    double x = 0, y = 0;    // origin of the view on the drawing
  };
  std::vector<ViewSlot> views;
  std::vector<std::int32_t> annotations;  // element indices
  // The drawing's frame: two opposite corners in drawing coordinates, when
  // the drawing states its size.
  bool hasFrame = false;
  double frameX1 = 0, frameY1 = 0, frameX2 = 0, frameY2 = 0;
};

// 410 view.
struct ViewRecord : ParamRecord {
  std::int32_t viewNumber = 0;
  double scale = 1.0;
  std::int32_t clipPlanes[6] = {};  // element indices, 0 for none
  GraphicAttributes attributes;
  bool hasMatrix = false;
  Transform matrix;
};
