// Dimension statements of the KPL script.  A dimension of the exchange file
// is a bundle of elements: the dimension entity (IGES 202 angular, 206
// diameter, 216 linear, 222 radius), its leaders, its witness lines and the
// note that carries the dimension text.  The annotation conversion gathers
// the bundle into a ScriptDimensionRecord; ScriptDimension decomposes the
// text into pre-text, measure value, post-text, deviations and fit code,
// chooses the KPL dimension kind and writes one dimension statement, so
// that the CAD system rebuilds a live, associative dimension.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "script/geometry.h"
#include "script/script_writer.h"
#include "script/text.h"

// A leader (arrow) of a dimension.
struct ScriptDimLeader {
  int form = 0;            // arrow kind; 5, 6 and 9 are arrow heads
  std::string arrowName;   // DWG/DXF input: the arrow block's name ("CLOSED", "_DOT" ...)
  ScriptPointXYZ arrowPoint;
  double arrowSize = 0.0;
};

// A witness line of a dimension.
struct ScriptDimWitness {
  std::int32_t index = 0;  // element index, 0 none
  int suppressed = 0;      // 1: the witness line is suppressed (half dimension)
};

// The parts of a dimension text.  DimAnalyseText fills them from the note;
// the toolkit directions may hand them over already decomposed.
struct ScriptDimTexts {
  std::string pre, value, post;
  std::string upper, lower;  // deviations
  std::string tolerance;     // tolerance text ("%%p0.1", "@+-0.1" ...)
  std::string fit;           // fit code ("H7")
  std::string font;          // font name, "" none
  double height = 0.0;       // text height, model units
  double x = 0.0, y = 0.0;   // text position
  double angle = 0.0;        // radians
  int digits = 0;            // decimal digits of the measure value
  bool showZeros = false;    // the measure value shows trailing zeros
};

// The KPL dimension a record becomes; kNone for a kind the script cannot
// express (an ordinate dimension, for one).
enum class ScriptDimKind { kNone, kLinear, kDiameter, kRadius, kAngular };

// Geometry an angular dimension measures, as already written: the one
// object written for an arc or a line (0 when there is none, or more than
// one), and a line's end points as its record holds them.
struct ScriptDimReference {
  std::int32_t arc = 0;
  std::int32_t line = 0;
  bool hasEnds = false;
  ScriptPointXYZ start, end;
};

struct ScriptDimensionRecord {
  ScriptDimKind kind = ScriptDimKind::kLinear;
  std::int32_t level = 0;
  ScriptAttributes attributes;  // colour number and blank status
  std::string layerName;        // DXF/DWG input: the dimension's layer, or ""
  ScriptElementData data;       // directory data for the info block
  char state = 'w';             // processing state of the dimension element

  ScriptNoteRecord note;       // the strings of the dimension text
  bool textsGiven = false;     // `texts` is already decomposed (no analysis)
  ScriptDimTexts texts;

  std::vector<ScriptDimLeader> leaders;     // up to two
  std::vector<ScriptDimWitness> witnesses;  // up to two

  ScriptPointXYZ linePosition;  // dimension line position
  double lineAngle = 0.0;       // dimension line angle, radians
  // Linear: the two measured points.  Angular: the points on both legs.
  ScriptPointXYZ first, second;
  // Radius and diameter: the centre.  Angular: the vertex.
  ScriptPointXYZ centre;
  std::int32_t circle = 0;  // element number of the measured circle or arc
  // Angular: the geometry the dimension refers to (one arc, or two lines).
  std::vector<ScriptDimReference> references;

  bool aligned = false;      // linear: already known to be aligned
  bool asLinear = false;     // diameter given as a linear dimension
  bool shortRadius = false;  // toolkit radius: short radius measure
  bool arcLength = false;    // angular on an arc: arc-length dimension
  int k = 0;                 // trailing integer of the linear and two-line forms
  double textScale = 1.0;    // toolkit: factor of the text height
};

// ses505: writes the dimension.  The element matrix is applied first, then
// the view matrix (either may be null).  0 when written, -1 for failure or
// an unsupported kind (nothing written), -99 outside the view's clip box.
// On success the new number is appended to `created`; the caller marks
// the parts the dimension consumed.
int ScriptDimension(std::int32_t index, const ScriptDimensionRecord& dimension, const ScriptMatrix* view,
                    const ScriptMatrix* elementMatrix, std::vector<std::int32_t>& created);

// ses501: the parts of the dimension text, before quoting; positions in the
// note's coordinates.  `angular` removes the degree signs that the KPL
// angular dimension adds by itself.
ScriptDimTexts DimAnalyseText(const ScriptNoteRecord& note, bool angular);

// ses502: "{ { \"digits\", <d> } ... }".  `extra` options (each a quoted
// word) are added before the closing brace.
std::string DimOptionsBlock(int digits, bool showZeros, const std::string& preText,
                            const std::vector<ScriptDimWitness>& witnesses, char state,
                            const std::vector<ScriptDimLeader>& leaders,
                            const std::vector<std::string>& extra = {});
// The pre-text as the text block shows it: without the part that the
// options block turned into a symbol or a repetition.
std::string DimShownPreText(const std::string& preText);

enum class DimTextForm {
  kToolkit,  // font, angle, position with z, colour
  kIges,     // inline, empty font name
  kSector,   // IGES angular sector and arc length
};
// The text block; `texts` already quoted.
std::string DimTextBlock(const ScriptDimTexts& texts, DimTextForm form, const std::string& colour,
                         double textScale = 1.0);
// "{\"<t1>\",\"<t2>\",\"<t3>\",\"<t4>\"}"; the toolkit form writes "%%p" as
// "@+-" and numeric deviations as signed numbers.
std::string DimToleranceBlock(const std::string& upper, const std::string& lower, const std::string& tolerance,
                              const std::string& fit, bool toolkit);
// "{<count>,{\"<name>\",<size>,<colour>}...}".
std::string DimArrowBlock(const std::vector<ScriptDimLeader>& leaders, const std::string& colour);
// KPL name of a DWG/DXF arrow ("" for the default filled arrow).
const char* DimArrowName(const std::string& inputArrow);
// A measure value of exactly "@029" goes to the post-text.
void DimMoveCode029(ScriptDimTexts& texts);

// The patterns of the text split, in the order they are tried.
enum DimPattern {
  kDimPatternRepeatParen,   // "(4 x)"
  kDimPatternRepeatTrail,   // "... 4 x 90 =)" at the end
  kDimPatternRepeatEquals,  // "4 x 90 ="
  kDimPatternRepeatCount,   // "4x" before the value
  kDimPatternFitAfter,      // "25H7"
  kDimPatternFitStart,      // "H7 25"
  kDimPatternNumber,        // the measure value
  kDimPatternCount
};
