// The parameter data writers of the IGES output: one per entity kind.
//
// Each writer takes plain IGES-level values (coordinates, counts and the
// directory sequence numbers of the entities it points at, which were
// written before it) and packs the entity's parameter record into the
// parameter section: the entity type, its parameters, then the pointer
// groups (back pointers to associativities, properties) and the record
// delimiter.  The caller then fills and writes the directory entry
// (iges_writer.h).  The writers know nothing of where the values came from.
//
// Every writer returns 0, or -1 when the parameter section cannot be written.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct IgesPoint {
  double x = 0.0, y = 0.0, z = 0.0;
};

// Back pointers to associativities and property pointers of a record, as
// directory sequence numbers.
struct IgesPointerGroups {
  std::vector<std::int32_t> associativities;
  std::vector<std::int32_t> properties;
};

struct IgesPointParams {  // 116
  IgesPoint point;
  IgesPointerGroups pointers;
};

struct IgesLineParams {  // 110; both ends are written in the plane z = 0
  IgesPoint start, end;
  IgesPointerGroups pointers;
};

struct IgesArcParams {  // 100
  double zDisplacement = 0.0;
  double centreX = 0.0, centreY = 0.0;
  double startX = 0.0, startY = 0.0;
  double endX = 0.0, endY = 0.0;
  IgesPointerGroups pointers;
};

struct IgesConicParams {  // 104
  double coefficients[6] = {};  // A, B, C, D, E, F
  double zDisplacement = 0.0;
  double startX = 0.0, startY = 0.0;
  double endX = 0.0, endY = 0.0;
  IgesPointerGroups pointers;
};

struct IgesSplineSegment {
  double x[4] = {};  // A, B, C, D of x(t)
  double y[4] = {};
};
struct IgesSplineParams {  // 112; z coefficients are all 0.0
  std::int32_t splineType = 3;
  std::int32_t degree = 3;
  std::int32_t dimensions = 2;
  std::vector<double> breakPoints;  // N + 1 values
  std::vector<IgesSplineSegment> segments;  // N segments
  double terminal[12] = {};  // x, x', x''/2, x'''/6, then y and z alike
  IgesPointerGroups pointers;
};

struct IgesMatrixParams {  // 124
  double rotation[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
  double translation[3] = {};
  IgesPointerGroups pointers;
};

struct IgesColourParams {  // 314
  double red = 0.0, green = 0.0, blue = 0.0;  // percent
  std::string name;
  IgesPointerGroups pointers;
};

struct IgesMemberParams {  // 102 composite curve, 402 associativity
  std::vector<std::int32_t> members;  // directory sequence numbers
  IgesPointerGroups pointers;
};

struct IgesCopiousParams {  // 106
  std::int32_t interpretation = 1;  // 1: x, y pairs with a common z
  double z = 0.0;
  std::vector<std::pair<double, double>> points;
  IgesPointerGroups pointers;
};

struct IgesLeaderParams {  // 214
  double arrowHeight = 0.0, arrowWidth = 0.0;
  double z = 0.0;
  double headX = 0.0, headY = 0.0;
  std::vector<std::pair<double, double>> segmentEnds;
  IgesPointerGroups pointers;
};

struct IgesDiameterParams {  // 206
  std::int32_t note = 0, firstLeader = 0, secondLeader = 0;
  double centreX = 0.0, centreY = 0.0;
  IgesPointerGroups pointers;
};

struct IgesAngularParams {  // 202
  std::int32_t note = 0, firstWitness = 0, secondWitness = 0;
  double vertexX = 0.0, vertexY = 0.0, radius = 0.0;
  std::int32_t firstLeader = 0, secondLeader = 0;
  IgesPointerGroups pointers;
};

struct IgesRadiusParams {  // 222
  std::int32_t note = 0, leader = 0;
  double centreX = 0.0, centreY = 0.0;
  std::int32_t secondLeader = 0;  // written only for form 1
  bool form1 = false;
  IgesPointerGroups pointers;
};

struct IgesLinearDimensionParams {  // 216
  // Note, first and second leader, first and second witness line; only the
  // first memberCount of them exist, the rest are written as 0.
  std::int32_t members[5] = {};
  int memberCount = 5;
  IgesPointerGroups pointers;
};

struct IgesPropertyParams {  // 406
  std::int32_t valueCount = 1;
  std::string value;
  IgesPointerGroups pointers;
};

struct IgesNoteString {
  std::int32_t characterCount = 0;  // as stored (may differ from the text)
  double boxWidth = 0.0, boxHeight = 0.0;
  std::int32_t fontCode = 1;
  double slantAngle = 0.0, rotationAngle = 0.0;
  std::int32_t mirrorFlag = 0, rotateFlag = 0;
  double startX = 0.0, startY = 0.0, startZ = 0.0;
  std::string text;
};
struct IgesNoteParams {  // 212
  std::vector<IgesNoteString> strings;
  IgesPointerGroups pointers;
};

struct IgesSectionedAreaParams {  // 230
  std::int32_t boundary = 0;  // directory sequence number of the boundary
  std::int32_t pattern = 0;
  double patternX = 0.0, patternY = 0.0;
  double distance = 0.0, angle = 0.0;
  std::vector<std::int32_t> islands;
  IgesPointerGroups pointers;
};

struct IgesInstanceParams {  // 408
  std::int32_t definition = 0;  // directory sequence number of the 308
  double x = 0.0, y = 0.0, z = 0.0;
  double scale = 1.0;
  IgesPointerGroups pointers;
};

struct IgesDefinitionParams {  // 308
  std::int32_t depth = 0;
  std::string name;
  std::vector<std::int32_t> members;
  IgesPointerGroups pointers;
};

struct IgesLabelParams {  // 210
  std::int32_t note = 0;  // 0 when there is none
  std::vector<std::int32_t> leaders;
  IgesPointerGroups pointers;
};

// The writers; the code is the function code of each.
int writeIgesPoint(const IgesPointParams& p);                 // vds200
int writeIgesLine(IgesLineParams& p);                         // vds240 (sets both z to 0.0)
int writeIgesArc(const IgesArcParams& p);                     // vds280
int writeIgesConic(const IgesConicParams& p);                 // vds320
int writeIgesSpline(const IgesSplineParams& p);               // vds330
int writeIgesMatrix(const IgesMatrixParams& p);               // vds360
int writeIgesColour(const IgesColourParams& p);               // vds314
int writeIgesComposite(const IgesMemberParams& p);            // vds700
int writeIgesCopious(const IgesCopiousParams& p);             // vds710 (interpretation 1)
int writeIgesWitnessLine(const IgesCopiousParams& p);         // vds522
int writeIgesLeader(const IgesLeaderParams& p);               // vds520
int writeIgesDiameterDimension(const IgesDiameterParams& p);  // vds518
int writeIgesAngularDimension(const IgesAngularParams& p);    // vds514
int writeIgesRadiusDimension(const IgesRadiusParams& p);      // vds512
int writeIgesLinearDimension(const IgesLinearDimensionParams& p);  // vds510
int writeIgesAssociativity(const IgesMemberParams& p);        // vds505
int writeIgesProperty(const IgesPropertyParams& p);           // vds580
int writeIgesNote(const IgesNoteParams& p);                   // vds440
int writeIgesSectionedArea(const IgesSectionedAreaParams& p); // vds410
int writeIgesUserInstance(const IgesInstanceParams& p);       // vds680
int writeIgesDefinition(const IgesDefinitionParams& p);       // vds690
// Any entity type whose parameters are a member list: the count and the
// members, then the caller's pointer groups.
int writeIgesGeneric(std::int32_t entityType, const IgesMemberParams& p);  // vds610
int writeIgesLabel(const IgesLabelParams& p);                 // vds220

// The closing pointer groups of every record: the associativity count and
// pointers, then "0;" or the property count and pointers, the last ending
// with ";".
int writePointerGroups(const IgesPointerGroups& pointers);  // vds777
