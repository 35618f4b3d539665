// The emit steps of the IGES geometry entities: each takes the entity's
// parameter values (in the order of its IGES parameter data, after the type
// number), the element's script description and its resolved matrix, and
// writes it through the KPL script writer.  Results are converter results:
// 0 written ('d'), -88 written as something else ('c'), -99 not converted
// ('i'), -1 error ('e').
#pragma once

#include <cstdint>
#include <vector>

#include "elements/convert_result.h"
#include "iges_in/iges_geometry_math.h"
#include "script/geometry.h"


// The process-wide state of the geometry emit steps, reset at the start of
// a conversion.
struct IgesGeometryState {
  bool levelWarningShown = false;  // warning 190 went to the console once
  bool paletteLoaded = false;      // the colour definitions table was read
};
IgesGeometryState& igesGeometryState();
// Warning 190 for an element the run's level does not convert: the first
// time to the console and the protocol, later to the protocol only; with the
// element's position when an index is given.
void refuseForLevel(const char* code, std::int32_t index = 0);

using ParameterValues = std::vector<double>;

ScriptMatrix toScriptMatrix(const Transform& m);

// The emit gates of a drawable entity: false when it is left unconverted
// (entity use other than 0 below level PLUS without bit 8; blanked while
// blanked elements are not converted).
bool passesEmitGates(int entityUse, int blankStatus);
// Blanked elements are converted unless the configuration says no; the
// toolkit directions leave them out by default.
bool convertBlanked();

int emitPoint(const ScriptElement& e, const Transform* m, const ParameterValues& v,
              std::vector<std::int32_t>& created);  // 116
int emitLine(const ScriptElement& e, const Transform* m, const ParameterValues& v,
             std::vector<std::int32_t>& created);  // 110
int emitCircularArc(const ScriptElement& e, const Transform* m, const ParameterValues& v,
                    std::vector<std::int32_t>& created);  // 100
// 104: classified by its invariants; sequence is the DE number for report 470.
int emitConicArc(const ScriptElement& e, const Transform* m, const ParameterValues& v,
                 std::vector<std::int32_t>& created);
// 106 by form.
int emitCopiousData(const ScriptElement& e, const Transform* m, int form,
                    const ParameterValues& v, std::vector<std::int32_t>& created);
// 125 forms 1 and 2.
int emitFlash(const ScriptElement& e, const Transform* m, int form, const ParameterValues& v,
              std::vector<std::int32_t>& created);
// 112: outputKind becomes 110 when it was written as lines.
int emitParametricSpline(const ScriptElement& e, const Transform* m, const ParameterValues& v,
                         std::vector<std::int32_t>& created, int& outputKind);
// 126.
int emitRationalBSpline(const ScriptElement& e, const Transform* m, const ParameterValues& v,
                        std::vector<std::int32_t>& created);

// pov314: the palette colour of a colour definition given in percent (the
// nearest entry of the installation's colour definitions, loaded on first
// use).  0 with its colour number in colour, or -1 with colour 1 when the
// palette is empty (the definition is then faulty).
int selectPaletteColour(double redPercent, double greenPercent, double bluePercent, int& colour);
