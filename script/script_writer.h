// The KPL script writer core: the one output stream of the input
// directions, its header, prologue and closing statements, the numbered
// element and length variables, the registry of points already written and
// the argument blocks (z reference, line style, blank, colour, info) that
// every element statement carries.
#pragma once

#include <cstdint>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

// What the writer needs to know of the exchange file being converted.  The
// input conversion driver fills it from the reader's global values before
// ScriptOpen.
struct ScriptSource {
  int unitFlag = 0;          // 1 inch, 2 millimetre, 3 by unitName
  std::string unitName;      // as in the exchange file ("MM", "INCH")
  double modelScale = 1.0;
  bool subfiguresPending = false;  // subfigure definitions become symbol models
  std::string symbolModelDir;      // where the symbol models are saved
  std::vector<std::int32_t> levels;  // the level of every element, index order
  // The exchange file orders its elements in depth (a z-order property):
  // the statements then take their z reference from the element's place in
  // that order instead of its level.  `zOrderOf` gives the place of an
  // element (-1 when it has none).
  bool zOrderProperty = false;
  std::function<int(std::int32_t index)> zOrderOf;
  // Colours defined by the file itself: the CAD colour index of the
  // definition that a negative colour number names (0 when it names none).
  std::function<int(long colour)> definedColourOf;
};

// A layer of the input's layer table (own DXF reader, toolkit input).
struct ScriptLayer {
  std::string name;
  std::int32_t number = 0;
  int off = 0;          // 1: switched off
  long colour = 0;      // colour number of the exchange file
  int cadColour = 0;    // CAD colour index of the layer's colour (0 unknown)
  bool written = false;  // sub-layer statement written
};

// Directory data of one element, for the info and name blocks.
struct ScriptElementData {
  int type = 0;
  int form = 0;
  long sequence = 0;          // D sequence number (IGES) or entity number (DXF/DWG)
  long parameterPointer = 0;  // IGES parameter-data pointer
  std::string name;           // "" when the element has none
};

// Colour and blank status of an element, as its statements write them.
struct ScriptAttributes {
  long colour = 0;  // colour number of the exchange file
  int blank = 0;    // 1 blanked
};

struct ScriptPointXYZ {
  double x = 0.0, y = 0.0, z = 0.0;
};

struct ScriptReference {
  std::int32_t number = 0;
  double x = 0.0, y = 0.0, z = 0.0;
};

// The process-wide state of the writer, reset at the start of a run.
struct ScriptState {
  std::ostream* out = nullptr;  // the open script, nullptr when closed
  std::int32_t elementCounter = 1;
  std::int32_t lengthCounter = 1;
  std::int32_t statementCounter = 0;
  int lastPercent = -1;
  std::int32_t lastLayer = 0;
  std::int32_t lastZOrder = 0;
  int zOrderFlag = -1;
  bool haveReference = false;
  ScriptReference reference;
  double pointTolerance = 0.0001;
  double unitScale = 1.0;
  double modelScale = 1.0;
  bool zMechanism = false;  // the exchange file carries the z-order property
  std::vector<ScriptLayer> layers;  // the input's layer table, table order
  bool hasLayerTable = false;
  int contourDepth = 0;
  bool clipSet = false;  // the current view has a clip box
  double clipX1 = 0.0, clipY1 = 0.0, clipX2 = 0.0, clipY2 = 0.0;
};

ScriptState& scriptState();
void resetScriptState();  // closes an open script too

// Numbers as the script writes them: general format, 10 significant digits.
std::string scriptNumber(double value);
void scriptAppendNumber(std::string& text, double value);
void scriptAppendInteger(std::string& text, long value);
// Writes text to the open stream as it stands.
void scriptWrite(const std::string& text);
// The same, but a value that is no number is written as 0: the CAD system
// cannot read "nan" or "inf".
std::string scriptFiniteNumber(double value);
// "E<n>": script element n as a statement names it.
inline std::string E(std::int32_t n) { return std::string("E").append(std::to_string(n)); }

// A text lent by the writer for building one statement, empty when lent;
// its room is kept for the next statement.  Lent texts are handed back in
// the reverse order (as scopes end).
class ScriptScratch {
 public:
  ScriptScratch();
  ~ScriptScratch();
  ScriptScratch(const ScriptScratch&) = delete;
  ScriptScratch& operator=(const ScriptScratch&) = delete;
  std::string& text() { return *text_; }

 private:
  std::string* text_;
};

// The open stream; every writer writes through it.
std::ostream& scriptOut();
// Writes one statement line.
void scriptStatement(const std::string& text);
// Hands out the next element number and counts the statement that uses it.
std::int32_t scriptNextElement();
// The configuration asks for the graphic info of groups.
bool scriptGraphicInfoOn();

// Registries (also reset by the symbol-model operations).
void scriptResetRegistries();
std::int32_t scriptPointLookup(double x, double y, std::int32_t ref, std::int32_t newNumber);

// The lifecycle.
int ScriptOpen(const std::string& outputName, const ScriptSource& source);  // ses721
int ScriptPrologue();                                                       // ses100
// Puts the script under its name once complete: 0, or -7 when a write,
// flush or close of it failed (nothing is then left under its name).
int ScriptClose();                                                          // ses820
// "<script name> (<system's reason>)" of the last open or close that failed.
const std::string& ScriptFileFailure();
// Opens on a stream the caller owns (tests, and the symbol-model pass).
int ScriptOpenStream(std::ostream& out, const std::string& outputName, const ScriptSource& source);

int ScriptWorldSave(double scale, const ScriptPointXYZ* origin);  // ses101
int ScriptWorldRestore();                                         // ses102

// Layers and levels.
std::int32_t ScriptLayerOf(const std::string& name);  // ses103
int ScriptSubLayer(ScriptLayer& layer);               // ses104
int ScriptLayerSwitch(std::int32_t index, std::int32_t level);  // ses230
int ScriptLevelList(const std::vector<std::int32_t>& levels);
// Switches the z reference to the element's place in the z-order (see
// ScriptSource); 1 when the element has a place, else 0.
int ScriptZOrder(std::int32_t index);  // ses231

// Argument blocks.  The append forms add the block to a statement being
// built, with the same effects as the forms that return it.
std::string ScriptZRef(std::int32_t index, std::int32_t level);  // ses220
void scriptAppendZRef(std::string& text, std::int32_t index, std::int32_t level);
void scriptAppendLineStyle(std::string& text, int font, double width);
void scriptAppendColourText(std::string& text, long colour);
void scriptAppendColourTextOf(std::string& text, int cadColour, int red, int green, int blue);
void scriptAppendInfoText(std::string& text, std::int32_t index, const ScriptElementData* data);
std::string ScriptLineStyle(int font, double width);             // ses210
std::string ScriptBlank(int blank);
std::string ScriptColourText(long colour);                              // ses870
std::string ScriptColourTextOf(int cadColour, int red, int green, int blue);  // ses870
std::string ScriptInfoText(std::int32_t index, const ScriptElementData* data);

// Statements.
int ScriptSetInfo(std::int32_t n, std::int32_t index, const ScriptElementData& data);
int ScriptProgress(int percent);

std::int32_t ScriptPoint(std::int32_t index, const ScriptAttributes& attributes,
                         const ScriptElementData* data, const ScriptPointXYZ* reference,
                         const ScriptPointXYZ& point);  // ses1001
std::int32_t ScriptPointBare(const ScriptPointXYZ* reference, const ScriptPointXYZ& point);  // ses1000
// A construction point: default attributes, no info.
std::int32_t ScriptConstructionPoint(const ScriptPointXYZ* reference, const ScriptPointXYZ& point);
std::int32_t ScriptLength(double value);

// Appends n to a created list; the capacity doubles when full.
int ScriptRecordCreated(std::int32_t n, std::vector<std::int32_t>& list);  // ses1100
// Records element n in a created list and counts it and its statement.
void ScriptFinishElement(std::int32_t n, std::vector<std::int32_t>& created);
