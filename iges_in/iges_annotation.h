// The annotation entities of the IGES input: general notes (212), leaders
// (214), general labels (210), general symbols (228), sectioned areas
// (230), the dimensions (202, 206, 216, 218, 220, 222) and dimensions
// assembled from parts (402 form 13).
//
// Like the structures, an annotation element is converted completely when
// the collect phase reaches it: its parts (the sons the parameter pass
// linked) are converted by a pass of their own, the statements are written
// and the element ends 'd' (or 'c' when it was written as a group), so
// that the emit phase only copies its objects.
//
// Annotation is converted at level PLUS, or G1 with B1; at any other level
// the element gets warning 190 and 'e'.  Labels and symbols need PLUS.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "elements/param_records.h"
#include "elements/transform.h"

// One string of a general note, as in its parameter data.
struct NoteStringData {
  std::int32_t characterCount = 0;
  double boxWidth = 0.0, boxHeight = 0.0;
  int fontCode = 1;  // a negative value pointed at a text font definition
  double slant = 0.0;
  double angle = 0.0;  // radians
  int mirror = 0;
  int vertical = 0;
  Point3 start;
  std::string text;
  // The font by name, from a text style of the drawing database (toolkit
  // input); "" when the string names none.
  std::string fontName;
};

// 212: the strings of the note.
struct NoteRecord : ParamRecord {
  std::vector<NoteStringData> strings;
  GraphicAttributes attributes;
};

// 214: the arrow head and the polyline from the head through the points.
struct LeaderRecord : ParamRecord {
  double arrowHeight = 0.0, arrowWidth = 0.0;
  double z = 0.0;
  Point3 head;
  std::vector<Point3> points;
  GraphicAttributes attributes;
};

// The dimensions: the parts read from the parameter data (element indices,
// 0 for none) and the points between them.
struct DimensionRecord : ParamRecord {
  std::int32_t note = 0;
  std::vector<std::int32_t> leaders;
  std::vector<std::int32_t> witnesses;  // witness lines (106 form 40) or other geometry
  std::vector<double> values;           // the numbers of the parameter data in order
  bool hasCentre = false;               // 202 vertex, 206 and 222 centre
  Point3 centre;
  std::int32_t arc = 0;                 // 206, 222: the arc the radius search found
  GraphicAttributes attributes;
};

// The annotation state of a run.
struct IgesAnnotationState {
  int dimensionGroups = 0;  // numbers of the "MASS.<n>" groups
  int labelDepth = 0;
  std::vector<std::int32_t> activeDimensionGroups;  // 402/13 being converted
  // The matrix of the annotation element whose parts are being converted
  // (applied to physically dependent parts), null for none.
  std::vector<const Transform*> fatherMatrices;
  // Radius search: the arcs of the table by first father (built once).
  bool arcsIndexed = false;
  std::vector<std::pair<std::int32_t, std::int32_t>> arcsByFather;  // (first father, arc), sorted
  // The candidates of the last radius search, per level.
  std::vector<std::int32_t> level1, level2;
};
IgesAnnotationState& igesAnnotationState();

// The element is one this module converts: 202..230 or a 402 of form 13.
bool isAnnotationElement(std::int32_t type, std::int32_t form);

// The collect step of an annotation element (called by the engine's
// collect phase): a converter result of ConvertResult.  The element is
// written here; on success its state is set and its objects are in its
// created list.
int collectAnnotation(std::int32_t index);

// The readers (cee440, cee582): fill the element's typed record when it
// has none.  0 / -1.
int readNote(std::int32_t index, const NoteRecord*& out);
int readLeader(std::int32_t index, const LeaderRecord*& out);

// The symbol name of a geometric-tolerance character in text font 1001 or
// 1003, "" when the character or the font has none.
std::string toleranceSymbolName(int font, char first);

// The radius search (cee599) for a diameter or radius dimension: the arc
// chosen (level 1 before level 2, the first in table order), 0 for none.
// The candidates of both levels stay in igesAnnotationState().
std::int32_t radiusSearch(std::int32_t dimension, const DimensionRecord& rec);

// The son-count check of the dimension, sectioned-area and subfigure
// converters: a zero count although sons exist is corrected (with the
// three trace lines).
void checkSonCount(const char* code, std::int32_t index);
