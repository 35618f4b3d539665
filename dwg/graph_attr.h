// Graphic attribute mapping of the DWG directions.
//
// DwgGraphAttr holds the rules that translate the graphic attributes of the
// target CAD system (Telvura, "TV": colour numbers 0-255, line style
// numbers, line widths, layer names) into those of a drawing database ("AC":
// colour indices 1-255, linetype names, layer names) and back.  The rules
// start from built-in defaults and are changed by the parameter file
// "dwg_para.iga" (DwgOutPara, out_para.h), read once per run; afterwards
// they are only read.  The output direction asks for the attributes of each
// entity it creates (applyAttributes), the input direction for the reverse
// lookups.  The direction flag decides which half of a two-way keyword of
// the parameter file applies.
//
// The seam to the drawing database is made of plain values: applyAttributes
// fills a DwgEntityAttributes and SetLayer records layers in a DwgLayerList;
// the writer copies both into the database's entities and layer records.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <unordered_map>
#include <vector>

namespace DwgDirection {
constexpr int kOutput = 0;
constexpr int kInput = 1;
}  // namespace DwgDirection

// Graphic attribute modes: the entity takes the element's own colour,
// linetype and width, or only a layer chosen by line style and width.
namespace DwgAttrMode {
constexpr int kUseTelvuraSettings = 0;
constexpr int kUseLineStyleLayer = 1;
}  // namespace DwgAttrMode

// Kinds of entity that ask for a line style layer.
namespace DwgKind {
constexpr int kCurve = 0;
constexpr int kText = 1;
constexpr int kDimension = 2;
constexpr int kHatch = 3;
constexpr int kFilledHatch = 4;
constexpr int kFilledHiddenHatch = 5;
}  // namespace DwgKind

// What the writer knows of an element when it asks for attributes.
struct DwgElementAttributes {
  int colour = 0;         // CAD colour number; negative: by layer
  int lineStyle = 1;      // CAD line style number
  int lineWidth = 0;      // line width number, hundredths of a millimetre
  std::string layerName;  // the element's layer name
};

// The graphic attributes of one database entity.
struct DwgEntityAttributes {
  static constexpr int kByBlock = 0;
  static constexpr int kByLayer = 256;
  static constexpr int kLineWeightByLayer = -1;
  int colourIndex = kByLayer;  // 0 by block, 1..255, 256 by layer
  std::string linetype;        // "" by layer
  int lineWeight = kLineWeightByLayer;  // hundredths of a millimetre, a standard weight
  std::string layer;           // "" the database's layer "0"
};

// One layer record of the database being built.
struct DwgLayerRecord {
  std::string name;
  int colourIndex = 7;
  std::string linetype = "CONTINUOUS";
  bool on = true;
  bool frozen = false;
};

// The layer records in order of creation, found by name.
class DwgLayerList {
 public:
  // The record named name, or nullptr.
  DwgLayerRecord* find(const std::string& name);
  // The record named name, added with colourIndex when missing.
  DwgLayerRecord& findOrAdd(const std::string& name, int colourIndex);
  const std::vector<DwgLayerRecord>& records() const { return records_; }

 private:
  std::vector<DwgLayerRecord> records_;
  std::unordered_map<std::string, std::size_t> byName_;
};

struct DwgLayerDefinition {
  std::string name;  // a name pattern for the default definition
  long number = 0;
  int colour = 7;
};

struct DwgLinetype {
  int lineStyle = 1;
  std::string name;
  std::string description;
  std::vector<double> dashes;
};

struct DwgLineStyleLayer {
  int kind = DwgKind::kCurve;
  int lineStyle = 0;
  double lower = 0.0;
  double upper = 0.0;
  std::string layerName;
};

class DwgGraphAttr {
 public:
  using Arguments = std::vector<std::string>;

  static constexpr int kHighestAcColour = 255;
  static constexpr int kDefaultLayerColour = 7;
  static constexpr std::size_t kAcLayerNameLength = 31;
  static constexpr std::size_t kNameArgumentLength = 32;
  // Line style layers and layer definitions made at construction: one per
  // line style number below this.
  static constexpr int kBuiltInStyleLayers = 30;
  // The run's thickness limits, millimetres: the line weights a drawing
  // database holds run from 0.00 to 2.11 mm.
  static constexpr double kThinnestLine = 0.0;
  static constexpr double kThickestLine = 2.11;
  // Most dash lengths of one linetype.
  static constexpr int kMostDashes = 12;
  // Most entries of one list of the parameter file (layer definitions,
  // assignments, linetypes, line style layers).
  static constexpr std::size_t kMostEntries = 10000;

  DwgGraphAttr();

  void setDirection(int direction) { direction_ = direction; }
  int direction() const { return direction_; }

  // Keyword handlers of the parameter file: 0, or -1 on a bad argument
  // (reported, nothing changed).  The keyword is passed as written.
  int handle_colAssign(const std::string& keyword, const Arguments& arguments);
  int handle_colAssignDwgIn(const std::string& keyword, const Arguments& arguments);
  int handle_colAssignDwgOut(const std::string& keyword, const Arguments& arguments);
  int handle_colDefault(const std::string& keyword, const Arguments& arguments);
  int handle_blockColor(const std::string& keyword, const Arguments& arguments);
  int handle_layerAssign(const std::string& keyword, const Arguments& arguments);
  int handle_layerDefine(const std::string& keyword, const Arguments& arguments);
  int handle_lineStyleAssign(const std::string& keyword, const Arguments& arguments);
  int handle_lineStyleLayer(const std::string& keyword, const Arguments& arguments);
  int handle_graphAttr(const std::string& keyword, const Arguments& arguments);

  // Makes name acceptable as a layer name of the database: at most 31
  // characters (a warning names the cut name), upper case, characters other
  // than A-Z, 0-9, "$", "_", "-" (and the byte 0xCD) become "_", a trailing
  // "_" of a longer name goes.  With keepPattern the "#" of a default layer
  // name pattern survives.  true when the name was cut.
  static bool correctAcLayerName(std::string& name, bool keepPattern = false);

  // Output direction: sets colour, linetype, line weight and layer of a new
  // entity of the given kind (DwgKind) according to the graphic attribute
  // mode; layers are found or made in layers.  0, or 1 when choosing the
  // layer gave a message (see SetLayer).
  int applyAttributes(const DwgElementAttributes& element, DwgEntityAttributes& entity,
                       DwgLayerList& layers, int kind) const;
  // Chooses the entity's layer (layerName, or nullptr for the element's
  // own), makes it in layers when missing and sets it on entity.  Returns 0,
  // or 1 when it gave a message: a note for an element without a layer, a
  // warning for a name cut to length.
  int SetLayer(const DwgElementAttributes& element, DwgEntityAttributes& entity,
               DwgLayerList& layers, const std::string* layerName) const;

  // Output lookups.
  int acColourOf(int applicationColour) const;
  // The linetype of a line style, else that of the default line style, else
  // nullptr (the entity keeps the layer's linetype).
  const DwgLinetype* linetypeOf(int lineStyle) const;
  // The layer of the line style layers for kind, style and thickness
  // (millimetres), or the default layer name pattern.
  std::string lineStyleLayerName(int kind, int lineStyle, double thickness) const;

  // Input lookups.
  int applicationColourOf(int acColour) const;
  // The Telvura layer assigned to an AC layer, or nullptr.
  const std::string* telvuraLayerOf(const std::string& acLayer) const;
  // The line style assigned to an AC linetype, else the default line style.
  int lineStyleOf(const std::string& acLinetype) const;
  // The line style assigned to an AC linetype, or nullptr without one.
  const int* assignedLineStyleOf(const std::string& acLinetype) const;
  int blockColour() const { return blockColour_; }

  // The tables, for the writer and for checks.
  int graphAttrMode() const { return graphAttrMode_; }
  int layerNameMode() const { return layerNameMode_; }
  int defaultLineStyle() const { return defaultLineStyle_; }
  const DwgLayerDefinition& defaultLayer() const { return layerDefinitions_.front(); }
  const std::vector<DwgLayerDefinition>& layerDefinitions() const { return layerDefinitions_; }
  const std::vector<DwgLinetype>& linetypes() const { return linetypes_; }
  const std::vector<DwgLineStyleLayer>& lineStyleLayers() const { return lineStyleLayers_; }
  const DwgLayerDefinition* layerDefinition(const std::string& name) const;
  const std::string* acLayerOf(const std::string& telvuraLayer) const;
  void setLayerNameMode(int mode) { layerNameMode_ = mode; }

 private:
  int colourAssign(const std::string& keyword, const Arguments& arguments, bool toAc,
                   bool toApplication);
  void addLineStyleLayer(DwgLineStyleLayer entry);
  void resetColourTables();

  std::uint16_t applicationToAc_[256];
  std::uint16_t acToApplication_[256];
  int highestApplicationColour_ = 255;
  int blockColour_ = 5;
  int layerNameMode_ = 2;
  int defaultLineStyle_ = 1;
  int graphAttrMode_ = DwgAttrMode::kUseTelvuraSettings;
  int direction_ = DwgDirection::kOutput;
  // Element 0 is the default definition.
  std::vector<DwgLayerDefinition> layerDefinitions_;
  std::unordered_map<std::string, std::size_t> definitionByName_;
  // Layer assignments in file order, with the first pair of each Telvura
  // name and of each AC name (upper-cased).
  std::vector<std::pair<std::string, std::string>> layerAssignments_;
  std::unordered_map<std::string, std::size_t> assignmentByTelvura_;
  std::unordered_map<std::string, std::size_t> assignmentByAc_;
  // Output: one linetype per line style.  Input: AC name (upper-cased) ->
  // line style.
  std::vector<DwgLinetype> linetypes_;
  std::map<int, std::size_t> linetypeByStyle_;
  std::unordered_map<std::string, int> styleByAcLinetype_;
  // Line style layers in order of addition, and per (kind, line style) the
  // positions of its entries, so a lookup scans only its own entries.
  std::vector<DwgLineStyleLayer> lineStyleLayers_;
  std::map<std::pair<int, int>, std::vector<std::size_t>> styleLayerIndex_;
};

// The one attribute mapping of the run.
DwgGraphAttr& dwgGraphAttr();
// A fresh mapping with the built-in defaults and the direction.
void resetDwgGraphAttr(int direction);
