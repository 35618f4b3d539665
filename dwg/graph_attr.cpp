#include "dwg/graph_attr.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <iterator>
#include <utility>

#include "dwg/dwg_texts.h"
#include "support/ascii.h"
#include "support/assign_tables.h"
#include "support/ide_msg.h"
#include "support/run_state.h"
#include "support/trace.h"

namespace {

constexpr char kStyleLayerPrefix[] = "Telvura_Style_";
constexpr char kDefaultPattern[] = "#";
constexpr char kEmptyLayer[] = "EMPTY";
constexpr char kDefaultDescription[] = "____________________________";  // 28 underscores
// A layer name of the database holds A-Z, 0-9, "$", "_", "-" and the byte 0xCD.
bool allowedInLayerName(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '$' || c == '_' || c == '-' ||
         static_cast<unsigned char>(c) == 0xCD;
}

// The words of the line style layers other than line styles, with their kinds
// and the suffixes of the built-in layers.
struct KindWord {
  const char* word;
  int kind;
  const char* layerSuffix;
};
constexpr KindWord kKindWords[] = {
    {"text", DwgKind::kText, "text"},
    {"measure", DwgKind::kDimension, "measure"},
    {"hatch", DwgKind::kHatch, "hatch"},
    {"filledhatch", DwgKind::kFilledHatch, "filledhatch"},
    {"filledhiddenhatch", DwgKind::kFilledHiddenHatch, "filledhiddenhatch"},
};

struct ModeName {
  const char* name;
  int mode;
};
constexpr ModeName kModeNames[] = {
    {"usetelvurasettings", DwgAttrMode::kUseTelvuraSettings},
    {"uselinestylelayer", DwgAttrMode::kUseLineStyleLayer},
};

// The line weights a drawing database holds, hundredths of a millimetre.
constexpr int kStandardLineWeights[] = {0,  5,  9,  13, 15, 18,  20,  25,  30,  35,  40,  50,
                                        53, 60, 70, 80, 90, 100, 106, 120, 140, 158, 200, 211};

std::string lowered(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return text;
}

bool startsWith(const std::string& text, const char* prefix) {
  return text.rfind(prefix, 0) == 0;
}

const std::string& argumentAt(const DwgGraphAttr::Arguments& arguments, std::size_t i) {
  static const std::string kNone;
  return i < arguments.size() ? arguments[i] : kNone;
}

// A whole argument read as an integer.
bool integerOf(const std::string& text, long& value) {
  if (text.empty()) return false;
  errno = 0;
  char* end = nullptr;
  const long v = std::strtol(text.c_str(), &end, 10);
  if (errno != 0 || end == text.c_str() || *end != '\0') return false;
  if (v < -2147483647L || v > 2147483647L) return false;
  value = v;
  return true;
}

// A whole argument read as a finite real.
bool realOf(const std::string& text, double& value) {
  if (text.empty()) return false;
  errno = 0;
  char* end = nullptr;
  const double v = std::strtod(text.c_str(), &end);
  if (errno != 0 || end == text.c_str() || *end != '\0' || !std::isfinite(v)) return false;
  value = v;
  return true;
}

std::string replacedPattern(const std::string& pattern, const std::string& name) {
  std::string result;
  for (char c : pattern) {
    if (c == '#')
      result += name;
    else
      result += c;
  }
  return result;
}

void putText(const std::string& text) { ideMsgPut(text); }

// The closing line of every failed handler: "keyword " and the keyword.
int failed(const char* keywordKey, const std::string& keyword) {
  dwgPut(keywordKey);
  putText(keyword);
  ideMsgEmit(IdeSeverity::kContinue);
  return -1;
}

// A list of the parameter file that holds kMostEntries takes no more.
bool tableFull(std::size_t size, const std::string& keyword) {
  if (size < DwgGraphAttr::kMostEntries) return false;
  dwgPut("DwgOutPara::ReadPara_11");
  putText(keyword);
  dwgPut("DwgOutPara::ReadPara_2");
  ideMsgEmit(IdeSeverity::kError);
  return true;
}

int nearestLineWeight(double hundredths) {
  int best = kStandardLineWeights[0];
  for (int weight : kStandardLineWeights)
    if (std::fabs(weight - hundredths) < std::fabs(best - hundredths)) best = weight;
  return best;
}

}  // namespace

// --- Layer list ---------------------------------------------------------

DwgLayerRecord* DwgLayerList::find(const std::string& name) {
  const auto found = byName_.find(name);
  return found == byName_.end() ? nullptr : &records_[found->second];
}

DwgLayerRecord& DwgLayerList::findOrAdd(const std::string& name, int colourIndex) {
  if (DwgLayerRecord* record = find(name)) return *record;
  byName_.emplace(name, records_.size());
  DwgLayerRecord record;
  record.name = name;
  record.colourIndex = colourIndex;
  records_.push_back(std::move(record));
  return records_.back();
}

// --- Construction -------------------------------------------------------

DwgGraphAttr::DwgGraphAttr() {
  TraceScope t("DwgGraphAttr::DwgGraphAttr");
  resetColourTables();
  DwgLayerDefinition defaultDefinition;
  defaultDefinition.name = kDefaultPattern;
  defaultDefinition.colour = kDefaultLayerColour;
  layerDefinitions_.push_back(defaultDefinition);
  for (int n = 0; n < kBuiltInStyleLayers; ++n) {
    const std::string name = kStyleLayerPrefix + std::to_string(n);
    addLineStyleLayer({DwgKind::kCurve, n, kThinnestLine, kThickestLine, name});
    DwgLayerDefinition definition;
    definition.name = name;
    correctAcLayerName(definition.name);
    definition.number = n;
    definition.colour = kDefaultLayerColour;
    definitionByName_.emplace(definition.name, layerDefinitions_.size());
    layerDefinitions_.push_back(definition);
  }
  for (const KindWord& word : kKindWords)
    addLineStyleLayer({word.kind, 0, kThinnestLine, kThickestLine,
                       std::string(kStyleLayerPrefix) + word.layerSuffix});
}

void DwgGraphAttr::resetColourTables() {
  for (int i = 0; i < 256; ++i) {
    const auto entry = static_cast<std::uint16_t>(i == 255 ? 0 : i);
    applicationToAc_[i] = entry;
    acToApplication_[i] = entry;
  }
}

void DwgGraphAttr::addLineStyleLayer(DwgLineStyleLayer entry) {
  const int style = entry.kind == DwgKind::kCurve ? entry.lineStyle : 0;
  styleLayerIndex_[{entry.kind, style}].push_back(lineStyleLayers_.size());
  lineStyleLayers_.push_back(std::move(entry));
}

// --- Colours --------------------------------------------------------------

int DwgGraphAttr::colourAssign(const std::string& keyword, const Arguments& arguments,
                               bool toAc, bool toApplication) {
  const std::string& first = argumentAt(arguments, 0);
  const std::string& second = argumentAt(arguments, 1);
  long application = 0, ac = 0;
  if (!integerOf(first, application)) {
    dwgPut("DwgGraphAttr::handle_colAssign_1");
    putText(first);
  } else if (application < 0 || application > highestApplicationColour_) {
    dwgPut("DwgGraphAttr::handle_colAssign_2");
    putText(std::to_string(highestApplicationColour_) + " : " + first);
  } else if (!integerOf(second, ac)) {
    dwgPut("DwgGraphAttr::handle_colAssign_3");
    putText(second);
  } else if (ac < 1 || ac > kHighestAcColour) {
    dwgPut("DwgGraphAttr::handle_colAssign_4");
    putText(second);
  } else {
    if (toAc) applicationToAc_[application] = static_cast<std::uint16_t>(ac);
    if (toApplication) acToApplication_[ac] = static_cast<std::uint16_t>(application);
    return 0;
  }
  ideMsgEmit(IdeSeverity::kError);
  return failed("DwgGraphAttr::handle_colAssign_5", keyword);
}

int DwgGraphAttr::handle_colAssign(const std::string& keyword, const Arguments& arguments) {
  TraceScope t("DwgGraphAttr::handle_colAssign");
  return colourAssign(keyword, arguments, true, true);
}

int DwgGraphAttr::handle_colAssignDwgIn(const std::string& keyword, const Arguments& arguments) {
  TraceScope t("DwgGraphAttr::handle_colAssignDwgIn");
  return colourAssign(keyword, arguments, false, true);
}

int DwgGraphAttr::handle_colAssignDwgOut(const std::string& keyword, const Arguments& arguments) {
  TraceScope t("DwgGraphAttr::handle_colAssignDwgOut");
  return colourAssign(keyword, arguments, true, false);
}

int DwgGraphAttr::handle_colDefault(const std::string& keyword, const Arguments& arguments) {
  TraceScope t("DwgGraphAttr::handle_colDefault");
  const std::string& argument = argumentAt(arguments, 0);
  if (lowered(argument) == "same") {
    resetColourTables();
    return 0;
  }
  long colour = 0;
  if (!integerOf(argument, colour)) {
    dwgPut("DwgGraphAttr::handle_colDefault_1");
    putText(argument);
    dwgPut("DwgGraphAttr::handle_colDefault_2");
    putText(keyword);
  } else if (colour < 0 || colour > kHighestAcColour) {
    // 0 is a colour index too: "by block".
    dwgPut("DwgGraphAttr::handle_colDefault_3");
    putText(argument);
  } else {
    for (int i = 0; i < 255; ++i) applicationToAc_[i] = static_cast<std::uint16_t>(colour);
    return 0;
  }
  ideMsgEmit(IdeSeverity::kError);
  return failed("DwgGraphAttr::handle_colAssign_5", keyword);
}

int DwgGraphAttr::handle_blockColor(const std::string& keyword, const Arguments& arguments) {
  TraceScope t("DwgGraphAttr::handle_blockColor");
  const std::string& argument = argumentAt(arguments, 0);
  long colour = 0;
  if (!integerOf(argument, colour)) {
    dwgPut("DwgGraphAttr::handle_blockColor_1");
    putText(argument);
  } else if (colour < 0 || colour > highestApplicationColour_) {
    dwgPut("DwgGraphAttr::handle_blockColor_2");
    putText(std::to_string(highestApplicationColour_) + " : " + argument);
  } else {
    blockColour_ = static_cast<int>(colour);
    return 0;
  }
  ideMsgEmit(IdeSeverity::kError);
  return failed("DwgGraphAttr::handle_colAssign_5", keyword);
}

int DwgGraphAttr::acColourOf(int applicationColour) const {
  if (applicationColour < 0 || applicationColour > 255) return applicationColour;
  return applicationToAc_[applicationColour];
}

int DwgGraphAttr::applicationColourOf(int acColour) const {
  if (acColour < 0 || acColour > 255) return acColour;
  return acToApplication_[acColour];
}

// --- Layers ---------------------------------------------------------------

int DwgGraphAttr::handle_layerAssign(const std::string& keyword, const Arguments& arguments) {
  TraceScope t("DwgGraphAttr::handle_layerAssign");
  const std::string& telvura = argumentAt(arguments, 0);
  const std::string& ac = argumentAt(arguments, 1);
  const std::string acKey = upperAscii(ac);
  // An earlier pair of the name this direction looks up stays in force.
  if (direction_ == DwgDirection::kOutput && assignmentByTelvura_.count(telvura) != 0) {
    dwgPut("DwgGraphAttr::handle_layerAssign_1");
    putText(telvura);
    dwgPut("DwgGraphAttr::handle_layerAssign_2");
    ideMsgEmit(IdeSeverity::kNote);
    return 0;
  }
  if (direction_ == DwgDirection::kInput && assignmentByAc_.count(acKey) != 0) {
    dwgPut("DwgGraphAttr::handle_layerAssign_3");
    putText(ac);
    dwgPut("DwgGraphAttr::handle_layerAssign_4");
    ideMsgEmit(IdeSeverity::kNote);
    return 0;
  }
  if (tableFull(layerAssignments_.size(), keyword)) return -1;
  assignmentByTelvura_.emplace(telvura, layerAssignments_.size());
  assignmentByAc_.emplace(acKey, layerAssignments_.size());
  layerAssignments_.emplace_back(telvura, ac);
  return 0;
}

const std::string* DwgGraphAttr::acLayerOf(const std::string& telvuraLayer) const {
  const auto found = assignmentByTelvura_.find(telvuraLayer);
  return found == assignmentByTelvura_.end() ? nullptr : &layerAssignments_[found->second].second;
}

const std::string* DwgGraphAttr::telvuraLayerOf(const std::string& acLayer) const {
  const auto found = assignmentByAc_.find(upperAscii(acLayer));
  return found == assignmentByAc_.end() ? nullptr : &layerAssignments_[found->second].first;
}

int DwgGraphAttr::handle_layerDefine(const std::string& keyword, const Arguments& arguments) {
  TraceScope t("DwgGraphAttr::handle_layerDefine");
  std::string name = argumentAt(arguments, 0);
  const std::string& numberText = argumentAt(arguments, 1);
  const std::string& colourText = argumentAt(arguments, 2);
  long number = 0, colour = 0;
  if (!integerOf(numberText, number)) {
    dwgPut("DwgGraphAttr::handle_layerDefine_1");
    putText(numberText);
  } else if (!integerOf(colourText, colour)) {
    dwgPut("DwgGraphAttr::handle_layerDefine_2");
    putText(colourText);
  } else if (colour < 1 || colour > kHighestAcColour) {
    dwgPut("DwgGraphAttr::handle_layerDefine_3");
    putText(colourText);
  } else {
    const bool isDefault = lowered(keyword) == "dwgout_layerdefault";
    correctAcLayerName(name, isDefault);
    DwgLayerDefinition definition{name, number, static_cast<int>(colour)};
    if (isDefault) {
      layerNameMode_ = name.find('#') != std::string::npos ? 2 : 1;
      layerDefinitions_.front() = std::move(definition);
      return 0;
    }
    const auto found = definitionByName_.find(name);
    if (found != definitionByName_.end()) {
      dwgPut("DwgGraphAttr::handle_layerDefine_4");
      putText(name);
      dwgPut("DwgGraphAttr::handle_layerDefine_6");
      ideMsgEmit(IdeSeverity::kNote);
      dwgPut("DwgGraphAttr::handle_layerDefine_7");
      ideMsgEmit(IdeSeverity::kContinue);
      layerDefinitions_[found->second] = std::move(definition);
      return 0;
    }
    if (tableFull(layerDefinitions_.size(), keyword)) return -1;
    definitionByName_.emplace(name, layerDefinitions_.size());
    layerDefinitions_.push_back(std::move(definition));
    return 0;
  }
  ideMsgEmit(IdeSeverity::kError);
  return failed("DwgGraphAttr::handle_layerDefine_5", keyword);
}

const DwgLayerDefinition* DwgGraphAttr::layerDefinition(const std::string& name) const {
  const auto found = definitionByName_.find(name);
  return found == definitionByName_.end() ? nullptr : &layerDefinitions_[found->second];
}

bool DwgGraphAttr::correctAcLayerName(std::string& name, bool keepPattern) {
  TraceScope t("DwgGraphAttr::correctAcLayerName");
  const bool cut = name.size() > kAcLayerNameLength;
  if (cut) {
    name.resize(kAcLayerNameLength);
    dwgPut("DwgGraphAttr::correctAcLayerName_1");
    putText(name);
    ideMsgEmit(IdeSeverity::kWarning);
  }
  name = upperAscii(name);
  for (char& c : name) {
    if (!allowedInLayerName(c) && !(keepPattern && c == '#')) c = '_';
  }
  if (name.size() > 1 && name.back() == '_') name.pop_back();
  return cut;
}

int DwgGraphAttr::SetLayer(const DwgElementAttributes& element, DwgEntityAttributes& entity,
                           DwgLayerList& layers, const std::string* layerName) const {
  TraceScope t("DwgGraphAttr::SetLayer");
  const std::string& pattern = defaultLayer().name;
  std::string name;
  int reported = 0;
  if (layerName != nullptr && *layerName != pattern) {
    name = *layerName;
  } else if (element.layerName.empty()) {
    dwgPut("DwgGraphAttr::SetLayer_1");
    ideMsgEmit(IdeSeverity::kNote);
    reported = 1;
    name = replacedPattern(pattern, kEmptyLayer);
  } else if (const std::string* assigned = acLayerOf(element.layerName)) {
    name = *assigned;
  } else if (layerNameMode_ == 1) {
    name = pattern;
  } else if (layerNameMode_ == 2) {
    name = replacedPattern(pattern, element.layerName);
  } else {
    return 0;
  }
  if (correctAcLayerName(name)) reported = 1;
  const DwgLayerDefinition* definition = layerDefinition(name);
  layers.findOrAdd(name, definition != nullptr ? definition->colour : defaultLayer().colour);
  entity.layer = name;
  return reported;
}

// --- Line styles ------------------------------------------------------------

int DwgGraphAttr::handle_lineStyleAssign(const std::string& keyword, const Arguments& arguments) {
  TraceScope t("DwgGraphAttr::handle_lineStyleAssign");
  const bool applies = (direction_ == DwgDirection::kInput && startsWith(keyword, "DWGIN_")) ||
                       (direction_ == DwgDirection::kOutput && startsWith(keyword, "DWGOUT_"));
  if (!applies) return 0;
  const std::string& styleText = argumentAt(arguments, 0);
  const std::string& name = argumentAt(arguments, 1);
  long style = 0;
  if (!integerOf(styleText, style)) {
    dwgPut("DwgGraphAttr::handle_lineStyleAssign_1");
    putText(styleText);
    ideMsgEmit(IdeSeverity::kError);
    return failed("DwgGraphAttr::handle_lineStyleAssign_5", keyword);
  }
  if (name.size() > kNameArgumentLength) {
    dwgPut("DwgGraphAttr::handle_lineStyleAssign_2");
    putText(": " + name);
    ideMsgEmit(IdeSeverity::kError);
    return failed("DwgGraphAttr::handle_lineStyleAssign_5", keyword);
  }
  if (startsWith(lowered(name), "default")) {
    defaultLineStyle_ = static_cast<int>(style);
    return 0;
  }
  if (direction_ == DwgDirection::kInput) {
    const std::string key = upperAscii(name);
    const auto found = styleByAcLinetype_.find(key);
    if (found != styleByAcLinetype_.end()) {
      dwgPut("DwgGraphAttr::handle_lineStyleAssign_3");
      putText(name);
      dwgPut("DwgGraphAttr::handle_lineStyleAssign_4");
      putText(std::to_string(found->second));
      ideMsgEmit(IdeSeverity::kNote);
      return 0;
    }
    if (tableFull(styleByAcLinetype_.size(), keyword)) return -1;
    styleByAcLinetype_.emplace(key, static_cast<int>(style));
    return 0;
  }
  DwgLinetype linetype;
  linetype.lineStyle = static_cast<int>(style);
  linetype.name = name;
  linetype.description = arguments.size() > 2 ? arguments[2] : kDefaultDescription;
  if (arguments.size() >= 5) {
    // The dash lengths may stand in one argument or spread over the rest.
    std::string values;
    for (std::size_t i = 4; i < arguments.size(); ++i) values += arguments[i] + " ";
    long count = 0;
    bool good = integerOf(arguments[3], count) && count >= 1 && count <= kMostDashes;
    std::size_t start = 0;
    while (good && linetype.dashes.size() < static_cast<std::size_t>(count)) {
      start = values.find_first_not_of(" ,\t", start);
      if (start == std::string::npos) break;
      const std::size_t end = values.find_first_of(" ,\t", start);
      double length = 0.0;
      good = realOf(values.substr(start, end - start), length);
      linetype.dashes.push_back(length);
      start = end;
    }
    if (!good || linetype.dashes.size() != static_cast<std::size_t>(count)) {
      dwgPut("DwgGraphAttr::handle_lineStyleAssign_6");
      putText(arguments[3] + ", " + values);
      ideMsgEmit(IdeSeverity::kError);
      return failed("DwgGraphAttr::handle_lineStyleAssign_5", keyword);
    }
  } else {
    linetype.dashes = {10.0, 10.0};
  }
  const auto found = linetypeByStyle_.find(linetype.lineStyle);
  if (found != linetypeByStyle_.end()) {
    linetypes_[found->second] = std::move(linetype);
    return 0;
  }
  if (tableFull(linetypes_.size(), keyword)) return -1;
  linetypeByStyle_.emplace(linetype.lineStyle, linetypes_.size());
  linetypes_.push_back(std::move(linetype));
  return 0;
}

const DwgLinetype* DwgGraphAttr::linetypeOf(int lineStyle) const {
  auto found = linetypeByStyle_.find(lineStyle);
  if (found == linetypeByStyle_.end()) found = linetypeByStyle_.find(defaultLineStyle_);
  return found == linetypeByStyle_.end() ? nullptr : &linetypes_[found->second];
}

int DwgGraphAttr::lineStyleOf(const std::string& acLinetype) const {
  const int* assigned = assignedLineStyleOf(acLinetype);
  return assigned == nullptr ? defaultLineStyle_ : *assigned;
}

const int* DwgGraphAttr::assignedLineStyleOf(const std::string& acLinetype) const {
  const auto found = styleByAcLinetype_.find(upperAscii(acLinetype));
  return found == styleByAcLinetype_.end() ? nullptr : &found->second;
}

int DwgGraphAttr::handle_lineStyleLayer(const std::string& keyword, const Arguments& arguments) {
  TraceScope t("DwgGraphAttr::handle_lineStyleLayer");
  const char* const kFailedKey = "DwgGraphAttr::handle_lineStyleLayer_5";
  if (arguments.size() != 2 && arguments.size() != 4) {
    dwgPut("DwgGraphAttr::handle_lineStyleLayer_1");
    putText(keyword);
    ideMsgEmit(IdeSeverity::kError);
    return failed(kFailedKey, keyword);
  }
  DwgLineStyleLayer entry{DwgKind::kCurve, 0, kThinnestLine, kThickestLine, arguments.back()};
  bool isWord = false;
  for (const KindWord& word : kKindWords) {
    if (lowered(arguments[0]) == word.word) {
      entry.kind = word.kind;
      isWord = true;
    }
  }
  long style = 0;
  if (!isWord) {
    if (!integerOf(arguments[0], style)) {
      dwgPut("DwgGraphAttr::handle_lineStyleLayer_11");
      putText(arguments[0]);
      ideMsgEmit(IdeSeverity::kError);
      return failed(kFailedKey, keyword);
    }
    entry.lineStyle = static_cast<int>(style);
  }
  if (arguments.size() == 4) {
    double* const bounds[] = {&entry.lower, &entry.upper};
    const char* const boundKeys[] = {"DwgGraphAttr::handle_lineStyleLayer_2",
                                     "DwgGraphAttr::handle_lineStyleLayer_3"};
    for (int i = 0; i < 2; ++i) {
      const std::string& text = arguments[1 + i];
      double value = 0.0;
      if (lowered(text) == "min") {
        value = kThinnestLine;
      } else if (lowered(text) == "max") {
        value = kThickestLine;
      } else if (!realOf(text, value) || value < kThinnestLine || value > kThickestLine) {
        dwgPut(boundKeys[i]);
        ideMsgPut(kThinnestLine);
        dwgPut("DwgGraphAttr::handle_lineStyleLayer_4");
        ideMsgPut(kThickestLine);
        dwgPut("DwgGraphAttr::handle_lineStyleLayer_6");
        putText(keyword + ": " + text);
        ideMsgEmit(IdeSeverity::kError);
        return failed(kFailedKey, keyword);
      }
      *bounds[i] = value;
    }
  }
  if (entry.layerName.size() > kNameArgumentLength) {
    dwgPut("DwgGraphAttr::handle_lineStyleLayer_10");
    putText(": " + entry.layerName);
    ideMsgEmit(IdeSeverity::kError);
    return failed(kFailedKey, keyword);
  }
  if (entry.lower > entry.upper) {
    dwgPut("DwgGraphAttr::handle_lineStyleLayer_7");
    ideMsgPut(entry.lower);
    dwgPut("DwgGraphAttr::handle_lineStyleLayer_8");
    ideMsgPut(entry.upper);
    dwgPut("DwgGraphAttr::handle_lineStyleLayer_9");
    ideMsgEmit(IdeSeverity::kNote);
    std::swap(entry.lower, entry.upper);
  }
  if (tableFull(lineStyleLayers_.size(), keyword)) return -1;
  addLineStyleLayer(std::move(entry));
  return 0;
}

std::string DwgGraphAttr::lineStyleLayerName(int kind, int lineStyle, double thickness) const {
  // Widths beyond the limits count as the nearest limit.
  if (!(thickness >= kThinnestLine)) thickness = kThinnestLine;
  if (thickness > kThickestLine) thickness = kThickestLine;
  constexpr double kSlack = 1e-9;
  for (int k = kind;;) {
    const auto found = styleLayerIndex_.find({k, k == DwgKind::kCurve ? lineStyle : 0});
    if (found != styleLayerIndex_.end()) {
      for (auto i = found->second.rbegin(); i != found->second.rend(); ++i) {
        const DwgLineStyleLayer& entry = lineStyleLayers_[*i];
        if (k != DwgKind::kCurve ||
            (entry.lower <= thickness + kSlack && thickness <= entry.upper + kSlack))
          return entry.layerName;
      }
    }
    if (k == DwgKind::kFilledHiddenHatch)
      k = DwgKind::kFilledHatch;
    else if (k == DwgKind::kFilledHatch)
      k = DwgKind::kHatch;
    else
      break;
  }
  return defaultLayer().name;
}

// --- Mode -------------------------------------------------------------------

int DwgGraphAttr::handle_graphAttr(const std::string& keyword, const Arguments& arguments) {
  TraceScope t("DwgGraphAttr::handle_graphAttr");
  const std::string& argument = argumentAt(arguments, 0);
  for (const ModeName& mode : kModeNames) {
    if (lowered(argument) != mode.name) continue;
    // The mode steers the entities of the output direction; each direction
    // takes only its own keyword.
    const std::string written = lowered(keyword);
    if ((direction_ == DwgDirection::kOutput && startsWith(written, "dwgout_")) ||
        (direction_ == DwgDirection::kInput && startsWith(written, "dwgin_")))
      graphAttrMode_ = mode.mode;
    return 0;
  }
  dwgPut("DwgGraphAttr::handle_graphAttr_1");
  putText(argument);
  dwgPut("DwgGraphAttr::handle_graphAttr_2");
  putText(keyword);
  ideMsgEmit(IdeSeverity::kError);
  return failed("DwgGraphAttr::handle_graphAttr_5", keyword);
}

// --- Entities -----------------------------------------------------------------

int DwgGraphAttr::applyAttributes(const DwgElementAttributes& element,
                                  DwgEntityAttributes& entity, DwgLayerList& layers,
                                  int kind) const {
  TraceScope t("DwgGraphAttr::applyAttributes");
  if (graphAttrMode_ == DwgAttrMode::kUseLineStyleLayer) {
    const std::string name =
        lineStyleLayerName(kind, element.lineStyle, element.lineWidth / 100.0);
    return SetLayer(element, entity, layers, &name);
  }
  // Colour index 0 is "by block"; colours beyond the palette take the layer's.
  if (element.colour >= 1 && element.colour <= 255)
    entity.colourIndex = applicationToAc_[element.colour];
  else if (element.colour == 0)
    entity.colourIndex = DwgEntityAttributes::kByBlock;
  else
    entity.colourIndex = DwgEntityAttributes::kByLayer;
  const DwgLinetype* linetype = linetypeOf(element.lineStyle);
  entity.linetype = linetype != nullptr ? linetype->name : std::string();
  entity.lineWeight = nearestLineWeight(widthOfNumber(element.lineWidth) * 100.0);
  return SetLayer(element, entity, layers, nullptr);
}

// --- The run's mapping --------------------------------------------------------

namespace {
DwgGraphAttr& graphAttrState() {
  static DwgGraphAttr state;
  return state;
}

const RunStateRegistrar kRunStateRegistered("DWG graphic attributes", [] { graphAttrState() = DwgGraphAttr(); });
}  // namespace

DwgGraphAttr& dwgGraphAttr() { return graphAttrState(); }

void resetDwgGraphAttr(int direction) {
  graphAttrState() = DwgGraphAttr();
  graphAttrState().setDirection(direction);
}
