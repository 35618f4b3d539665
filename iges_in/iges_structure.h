// The structuring entities of the IGES input: drawings and their views
// (404, 410), groups (402), subfigure definitions (308) and their singular
// instances (408).
//
// In drawing mode the driver converts the model once per view of each
// drawing (the view's matrix places the geometry on the drawing), then the
// drawing's own annotation.  Groups convert their members by a pass of
// their own and gather the written objects.  Subfigure definitions become
// symbol models of their own (one model file each) whose instances are
// symbol references, or, with userElementMode 2, each instance writes the
// definition's members again in its place.
//
// Structures that refer to themselves (a group inside itself, a definition
// whose members instance it) are reported once and broken at the element
// that closes the cycle.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "elements/transform.h"
#include "iges_in/iges_convert.h"
#include "iges_in/object_lists.h"

// A 308 read from a DXF block: the subfigure record with the block's base
// point and flags (bit 0 anonymous, bit 2 external reference).
struct BlockRecord : SubfigureRecord {
  Point3 base;
  std::int32_t blockFlags = 0;
};

// A 408 read from a DXF INSERT (or SHAPE): the definition it refers to,
// the reference point and scale as the IGES parameter data would give them
// (the whole placement of the insert is the element's matrix), and the
// flags of its block OR-ed in when it is linked.
struct InstanceRecord : ParamRecord {
  std::int32_t definition = 0;  // element index of the 308, 0 for none
  Point3 position;
  double scale = 1.0;
  std::int32_t blockFlags = 0;
  GraphicAttributes attributes;
};

// A 410 read from a DXF VIEWPORT: the levels (layer positions) the view
// shows are all but those of the layers frozen in the viewport.  A view
// without a level list shows every level.
struct DxfViewRecord : ViewRecord {
  bool hasLevelList = false;
  std::vector<std::int32_t> hiddenLevels;  // ascending
  std::vector<std::string> frozenLayers;
};

struct ScriptSource;

// Settings of the structure conversion, taken from the run configuration
// and the file read by igesStructureSettingsFromRun.
struct IgesStructureSettings {
  // 1: a view whose scale is not 1 is written in a world moved to the
  // view's origin with the view's scale; 0: the scale goes into the matrix.
  // The world switch of the configuration (_WORL, _WELT).
  int scaledViewHandling = 1;
  // Where the symbol models of subfigure definitions are saved ("" the
  // current directory): the user-library directory of the configuration
  // (_UBBL), without its closing '/'.
  std::string modelDirectory;
  // The script's header saved the top model before the definitions (the
  // header's subfigure form): the main model is created again once the
  // definitions are written.
  bool mainModelSaved = false;
};
IgesStructureSettings& igesStructureSettings();
// Fills the settings from the run configuration and the IGES file read,
// and tells the script's header what it must prepare: whether subfigure
// definitions will be written as symbol models (the header then saves the
// top model first) and where they go.  Called after the file is read and
// before the script is opened.
void igesStructureSettingsFromRun(ScriptSource& source);

// One name of the subfigure register.
struct SubfigureEntry {
  std::int32_t index = 0;      // the definition written under the name
  std::string writtenName;     // the name of its symbol model
  int uses = 0;
};

// What a view contributes to the script.
struct ViewInfo {
  std::string name;
  std::int32_t number = 0;
  double scale = 1.0;
  double x = 0.0, y = 0.0;  // origin on the drawing
};

// Per-view and total counts of the drawing passes.
struct ViewStatistics {
  std::int32_t converted = 0;  // 'd', 'c', 'o'
  std::int32_t ignored = 0;    // 'i'
  std::int32_t failed = 0;     // 'e'
};

// The process-wide state of the structure conversion, reset by
// convertModel.
struct IgesStructureState {
  // Register of the subfigure names met: original name -> entry; and the
  // name each definition is written (or known) under.
  std::unordered_map<std::string, SubfigureEntry> names;
  std::unordered_map<std::int32_t, std::string> definitionNames;
  std::unordered_set<std::string> writtenNames;  // the names of the register's entries
  std::unordered_set<std::string> modelFiles;  // model files written this run
  std::unordered_set<std::int32_t> activeDefinitions;  // definitions being written or expanded
  std::unordered_set<std::int32_t> activeGroups;  // groups a group walk holds open
  std::unordered_set<std::int32_t> groupCyclesReported;  // groups reported as their own member
  bool groupCycleShown = false;  // a group holding itself was shown on the console
  std::unordered_map<std::int32_t, std::string> viewNames;
  // Views-visible associativities (402 forms 3, 4): their view elements.
  std::unordered_map<std::int32_t, std::vector<std::int32_t>> viewLists;
  std::vector<char> underDrawing;  // per element: lies under a 404
  std::uint64_t underDrawingGeneration = 0;  // rises whenever underDrawing is made anew
  // The answers of the view test that follows fathers, per element, for the
  // view, drawing marks and links they were found with (-1 not known yet).
  std::vector<signed char> fatherWalkAnswers;
  std::int32_t fatherWalkView = 0;
  std::int32_t fatherWalkViewNumber = 0;
  std::uint64_t fatherWalkLinks = 0;
  std::uint64_t fatherWalkDrawings = 0;
  std::vector<std::int32_t> fatherWalkPath;
  std::int32_t currentDrawing = 0;
  std::int32_t currentSlot = -1;
  const Transform* currentViewMatrix = nullptr;
  int groupCounter = 0;
  int groupDepth = 0;
  int instanceDepth = 0;
  int nesting = 0;  // groups, definitions and instances being converted
  // The structures being converted from inside another one's pass: one
  // that comes back while it is open contains itself.
  std::unordered_set<std::int32_t> nestingPath;
  std::int32_t topLevelPick = 0;  // the element the top level of a pass took last
  bool mainModelCreated = false;
  bool cycleReported = false;
  bool selfContainingReported = false;  // a subfigure holding itself was shown on the console
  std::unordered_set<std::int32_t> selfContainingInstances;  // the instances reported for it
  // The objects of expanded instances that only the expansion around them
  // takes, kept for it by reference (see endExpansion).
  NestedObjectLists expansionLists;
  ViewStatistics viewTotals;
  int viewsConverted = 0;
};
IgesStructureState& igesStructureState();

// The collect step of 308, 402 and 408 (called by the engine's collect
// phase): a converter result of ConvertResult.
int collectStructure(std::int32_t index);
// A group that a pass meets as a member while the group itself is being
// converted holds itself: warning 1327 at the group (once per group, on the
// console the first time of a run) and true; false for any other element.
bool structureReportsGroupCycle(std::int32_t index);
// Called for every element the top level of a collect pass takes: once the
// subfigure definitions are passed, the main model is created again.
void structureTopLevelPick(std::int32_t index);
// The end of the conversion: a main model still to be created is created.
void structureFinish();

// Drawing mode (cee100): each view of each drawing is converted in a pass
// of its own, through the view's matrix onto the drawing sheet; a last pass
// per drawing writes its own annotation and border.  The subfigure
// definitions a drawing uses are written once, before its first view.
// 0 / -1.
int convertDrawingMode();
// Writes the subfigure definitions used inside a drawing before its views
// (cee180).
int prepareDrawing(std::int32_t drawing);
// The view filter (cee190).
int structureInCurrentView(std::int32_t index, std::int32_t viewNumber);
// Name, number, scale and origin of the view in slot `slot` of the drawing
// (cee270).  0 / -1.
int viewInfo(std::int32_t drawing, int slot, ViewInfo& info);
// The view's name (cee191).
std::string viewName(std::int32_t view);
// The view's transformation onto its drawing (cee831): model space to the
// view (the inverse of the view's matrix), scaled by `scale` and moved to
// the origin (unless `withOrigin` is false).  0 / -1.
int viewMatrix(std::int32_t view, double scale, double x, double y, bool withOrigin, Transform& out);

// Groups (cee600), subfigure definitions (cee680, cee681), instances
// (cee640, cee641), the name register (cee870).
int convertGroup(std::int32_t index);
int convertSubfigureDefinition(std::int32_t index);
int convertInstance(std::int32_t index);
int convertInstanceExpanded(std::int32_t index);
// Names the definition: 0 new (it is to be written under `name`), -10 the
// name is registered or its model exists (use `name`), -1 the registered
// definition failed.
int subfigureName(std::int32_t index, std::string& name);
// The plain file name a subfigure name is saved under.
std::string subfigureFileName(const std::string& name);
