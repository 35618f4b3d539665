// The fixed layout of an IGES file that its reader and its writer share:
// the entity type numbers, the fields of a directory entry and the global
// parameters.  Pure data, no dependencies.
#pragma once

#include <cstdint>

// Entity type numbers (directory field 1 and the first parameter).
namespace IgesType {
constexpr std::int32_t kNull = 0;
constexpr std::int32_t kCircularArc = 100;
constexpr std::int32_t kCompositeCurve = 102;
constexpr std::int32_t kConicArc = 104;
constexpr std::int32_t kCopiousData = 106;
constexpr std::int32_t kPlane = 108;
constexpr std::int32_t kLine = 110;
constexpr std::int32_t kParametricSpline = 112;
constexpr std::int32_t kParametricSplineSurface = 114;
constexpr std::int32_t kPoint = 116;
constexpr std::int32_t kRuledSurface = 118;
constexpr std::int32_t kSurfaceOfRevolution = 120;
constexpr std::int32_t kTabulatedCylinder = 122;
constexpr std::int32_t kTransformationMatrix = 124;
constexpr std::int32_t kFlash = 125;
constexpr std::int32_t kBSplineCurve = 126;
constexpr std::int32_t kBSplineSurface = 128;
constexpr std::int32_t kAngularDimension = 202;
constexpr std::int32_t kDiameterDimension = 206;
constexpr std::int32_t kFlagNote = 208;
constexpr std::int32_t kGeneralLabel = 210;
constexpr std::int32_t kGeneralNote = 212;
constexpr std::int32_t kLeader = 214;
constexpr std::int32_t kLinearDimension = 216;
constexpr std::int32_t kOrdinateDimension = 218;
constexpr std::int32_t kPointDimension = 220;
constexpr std::int32_t kRadiusDimension = 222;
constexpr std::int32_t kGeneralSymbol = 228;
constexpr std::int32_t kSectionedArea = 230;
constexpr std::int32_t kAssociativityDefinition = 302;
constexpr std::int32_t kLineFontDefinition = 304;
constexpr std::int32_t kMacroDefinition = 306;
constexpr std::int32_t kSubfigureDefinition = 308;
constexpr std::int32_t kTextFontDefinition = 310;
constexpr std::int32_t kTextDisplayTemplate = 312;
constexpr std::int32_t kColourDefinition = 314;
constexpr std::int32_t kUnitsData = 316;
constexpr std::int32_t kAssociativityInstance = 402;
constexpr std::int32_t kDrawing = 404;
constexpr std::int32_t kProperty = 406;
constexpr std::int32_t kSubfigureInstance = 408;
constexpr std::int32_t kView = 410;
constexpr std::int32_t kRectangularArray = 412;
constexpr std::int32_t kCircularArray = 414;
constexpr std::int32_t kExternalReference = 416;
constexpr std::int32_t kNodalLoad = 418;
// Element types of this system beyond the IGES numbers.
constexpr std::int32_t kTransferDimension = 444;  // a dimension of the CAD transfer file
constexpr std::int32_t kLayer = 8888;             // a layer of the CAD transfer file
}  // namespace IgesType

// --- Directory entry ---------------------------------------------------------
//
// Two 80-column records of ten 8-column fields each; column 73 of each
// holds the section letter 'D' and the sequence number in 74..80.

enum IgesDirectoryField : int {
  kDirEntityType,
  kDirParameterData,
  kDirStructure,
  kDirLineFont,
  kDirLevel,
  kDirView,
  kDirMatrix,
  kDirLabelDisplay,
  kDirStatus,
  kDirSequence,
  kDirEntityType2,
  kDirLineWeight,
  kDirColour,
  kDirParameterLines,
  kDirForm,
  kDirReserved1,
  kDirReserved2,
  kDirLabel,
  kDirSubscript,
  kDirSequence2,
  kIgesDirectoryFieldCount
};

enum class IgesFieldKind : char { kInteger, kText, kReserved, kSequence };

struct IgesDirectoryColumns {
  int record;          // 1 or 2
  int column;          // first column, 1-based
  int width;
  IgesFieldKind kind;
  const char* name;
  std::int32_t defaultValue;  // an integer field left blank or unreadable
};

inline constexpr IgesDirectoryColumns kIgesDirectory[kIgesDirectoryFieldCount] = {
    {1, 1, 8, IgesFieldKind::kInteger, "entity type", 0},
    {1, 9, 8, IgesFieldKind::kInteger, "parameter data", 0},
    {1, 17, 8, IgesFieldKind::kInteger, "structure", 0},
    {1, 25, 8, IgesFieldKind::kInteger, "line font pattern", 1},
    {1, 33, 8, IgesFieldKind::kInteger, "level", 0},
    {1, 41, 8, IgesFieldKind::kInteger, "view", 0},
    {1, 49, 8, IgesFieldKind::kInteger, "transformation matrix", 0},
    {1, 57, 8, IgesFieldKind::kInteger, "label display associativity", 0},
    {1, 65, 8, IgesFieldKind::kText, "status number", 0},
    {1, 73, 8, IgesFieldKind::kSequence, "sequence number", 0},
    {2, 1, 8, IgesFieldKind::kInteger, "entity type", 0},
    {2, 9, 8, IgesFieldKind::kInteger, "line weight number", 0},
    {2, 17, 8, IgesFieldKind::kInteger, "colour number", 7},
    {2, 25, 8, IgesFieldKind::kInteger, "parameter line count", 0},
    {2, 33, 8, IgesFieldKind::kInteger, "form number", 0},
    {2, 41, 8, IgesFieldKind::kReserved, "reserved", 0},
    {2, 49, 8, IgesFieldKind::kReserved, "reserved", 0},
    {2, 57, 8, IgesFieldKind::kText, "entity label", 0},
    {2, 65, 8, IgesFieldKind::kInteger, "entity subscript number", 0},
    {2, 73, 8, IgesFieldKind::kSequence, "sequence number", 0},
};

// Offset of a field's first column in its record.
constexpr int igesDirectoryOffset(IgesDirectoryField field) {
  return kIgesDirectory[field].column - 1;
}

// Each record's fields follow each other without a gap and fill 80 columns.
constexpr bool igesDirectoryTableIsDense() {
  int next[3] = {0, 1, 1};
  for (const IgesDirectoryColumns& f : kIgesDirectory) {
    if (f.column != next[f.record]) return false;
    next[f.record] += f.width;
  }
  return next[1] == 81 && next[2] == 81;
}
static_assert(igesDirectoryTableIsDense());

// --- Global section ------------------------------------------------------------

enum class IgesGlobalKind : char { kDelimiter, kString, kInteger, kReal };

struct IgesGlobalParameter {
  int index;  // 1-based position in the section
  const char* name;
  IgesGlobalKind kind;
};

namespace IgesGlobalIndex {
constexpr int kParameterDelimiter = 1;
constexpr int kRecordDelimiter = 2;
constexpr int kSenderProductId = 3;
constexpr int kFileName = 4;
constexpr int kNativeSystemId = 5;
constexpr int kPreprocessorVersion = 6;
constexpr int kIntegerBits = 7;
constexpr int kSingleMaxPower = 8;
constexpr int kSingleDigits = 9;
constexpr int kDoubleMaxPower = 10;
constexpr int kDoubleDigits = 11;
constexpr int kReceiverProductId = 12;
constexpr int kModelScale = 13;
constexpr int kUnitsFlag = 14;
constexpr int kUnitsName = 15;
constexpr int kLineWeightGradations = 16;
constexpr int kMaxLineWidth = 17;
constexpr int kCreationDate = 18;
constexpr int kMinResolution = 19;
constexpr int kMaxCoordinate = 20;
constexpr int kAuthorName = 21;
constexpr int kAuthorOrganisation = 22;
constexpr int kVersionFlag = 23;
constexpr int kDraftingStandard = 24;
// Parameters from here on may be missing: the section may end before them.
constexpr int kFirstOptional = kMaxCoordinate;
}  // namespace IgesGlobalIndex

inline constexpr IgesGlobalParameter kIgesGlobalParameters[] = {
    {1, "parameter delimiter", IgesGlobalKind::kDelimiter},
    {2, "record delimiter", IgesGlobalKind::kDelimiter},
    {3, "sender product id", IgesGlobalKind::kString},
    {4, "file name", IgesGlobalKind::kString},
    {5, "native system id", IgesGlobalKind::kString},
    {6, "preprocessor version", IgesGlobalKind::kString},
    {7, "integer bits", IgesGlobalKind::kInteger},
    {8, "single precision magnitude", IgesGlobalKind::kInteger},
    {9, "single precision significance", IgesGlobalKind::kInteger},
    {10, "double precision magnitude", IgesGlobalKind::kInteger},
    {11, "double precision significance", IgesGlobalKind::kInteger},
    {12, "receiver product id", IgesGlobalKind::kString},
    {13, "model space scale", IgesGlobalKind::kReal},
    {14, "units flag", IgesGlobalKind::kInteger},
    {15, "units name", IgesGlobalKind::kString},
    {16, "line weight gradations", IgesGlobalKind::kInteger},
    {17, "maximum line width", IgesGlobalKind::kReal},
    {18, "creation date", IgesGlobalKind::kString},
    {19, "minimum resolution", IgesGlobalKind::kReal},
    {20, "maximum coordinate", IgesGlobalKind::kReal},
    {21, "author", IgesGlobalKind::kString},
    {22, "author organisation", IgesGlobalKind::kString},
    {23, "version flag", IgesGlobalKind::kInteger},
    {24, "drafting standard", IgesGlobalKind::kInteger},
};
constexpr int kIgesGlobalCount = 24;
static_assert(sizeof kIgesGlobalParameters / sizeof kIgesGlobalParameters[0] == kIgesGlobalCount);

constexpr IgesGlobalKind igesGlobalKind(int index) { return kIgesGlobalParameters[index - 1].kind; }
