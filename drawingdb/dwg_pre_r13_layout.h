// The layout of DWG files before R13 (2.5, 2.6, 9, 10 and 11/12), shared
// by their reader and writer.
//
// These files are byte-oriented: every value is a little-endian integer or
// an IEEE double at a byte position.  A file is
//
//   fixed header (version, section addresses, five table descriptors)
//   · header variables at fixed offsets (their number at 0x11 tells where
//     they end) · [11/12: CRC, sentinel] · entity section · the tables,
//     fixed-size records each · block-definition entities · extra entities
//     · [11/12: auxiliary header]
//
// Tables and entities refer to records by their number in the table.
// Files of 11/12 wrap every section in 16-byte sentinels (each end the
// bitwise complement of its begin) and end every table record and entity
// with a CRC.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "drawingdb/releases.h"

namespace drawingdb::prer13 {

// The tables, in the order files of 11/12 lay them out.
enum Table : std::uint8_t { kBlock, kLayer, kStyle, kLinetype, kView, kUcs, kVport, kAppid, kDimstyle, kVx, kTables };

inline constexpr std::array<std::string_view, kTables> kTableNames{"BLOCK", "LAYER", "STYLE", "LTYPE", "VIEW",
                                                                    "UCS",   "VPORT", "APPID", "DIMSTYLE", "VX"};

// Where each table's descriptor (RS record size, RS count, RS flags, RL
// address) stands: the first five in the fixed header, the others among
// the header variables.
inline constexpr std::array<std::uint16_t, kTables> kDescriptorAt{0x2C,  0x36,  0x40,  0x4A,  0x54,
                                                                  0x3EF, 0x500, 0x512, 0x522, 0x69F};
inline constexpr std::size_t kDescriptorSize = 10;
inline constexpr std::size_t kVariablesStart = 0x5E;

// Fixed header fields.
inline constexpr std::size_t kEntitiesStartAt = 0x14;
inline constexpr std::size_t kEntitiesEndAt = 0x18;
inline constexpr std::size_t kBlocksStartAt = 0x1C;
inline constexpr std::size_t kBlocksSizeAt = 0x20;
inline constexpr std::size_t kExtrasStartAt = 0x24;
inline constexpr std::size_t kExtrasSizeAt = 0x28;
inline constexpr std::uint32_t kBlocksMark = 0x40000000;  // on the block section's size and block offsets
inline constexpr std::uint32_t kExtrasMark = 0x80000000;  // on the extras size and JUMP targets into it
inline constexpr std::uint32_t kSizeBits = 0x00FFFFFF;

// What a release stores.
struct ReleaseLayout {
  Release release;
  std::uint16_t variables;  // the number a writer states at 0x11
  std::array<std::uint16_t, kTables> recordSize;  // 0: the release has no such table
  bool sentinels;           // 11/12: sentinels, CRCs, auxiliary header
  bool threeD;              // 10 on: LINE and POINT 3D unless flagged 2D; 3D dimension points
};

// The layout of a release from 2.5 to 11/12; null for others.
const ReleaseLayout* layoutOf(Release r);

// Where the header variables end for a count stated at 0x11; 0 for a count
// no release uses.
std::size_t variablesEnd(std::uint16_t count);

// Whether a file with `count` header variables holds table `t`'s
// descriptor (the five of the fixed header always).
bool holdsTable(std::uint16_t count, Table t);

// The 16-byte sentinels of 11/12 files.  The END of each is the bitwise
// complement of its BEGIN.
enum class Sentinel : std::uint8_t { Entities, Blocks, Extras, AuxHeader };
std::array<std::uint8_t, 16> sentinel(Sentinel s, bool end);
std::array<std::uint8_t, 16> tableSentinel(Table t, bool end);

// Entity type codes.
enum EntityType : std::uint8_t {
  kLine = 1, kPoint = 2, kCircle = 3, kShape = 4, kText = 7, kArc = 8, kTrace = 9, kSolid = 11, kBlockBegin = 12,
  kBlockEnd = 13, kInsert = 14, kAttdef = 15, kAttrib = 16, kSeqend = 17, kJump = 18, kPolyline = 19, kVertex = 20,
  kLine3d = 21, kFace3d = 22, kDimension = 23, kViewport = 24,
};
inline constexpr std::uint8_t kDeletedType = 0x80;

// Common entity flags.
inline constexpr std::uint8_t kHasColour = 0x01;
inline constexpr std::uint8_t kHasLinetype = 0x02;
inline constexpr std::uint8_t kHasElevation = 0x04;  // LINE, POINT, 3DLINE, 3DFACE from 10 on: points are 2D
inline constexpr std::uint8_t kHasThickness = 0x08;
inline constexpr std::uint8_t kHasHandle = 0x20;
inline constexpr std::uint8_t kHasExtra = 0x40;
inline constexpr std::uint8_t kFollowers = 0x80;  // POLYLINE: vertices follow; INSERT: attributes follow

// 11/12: the flag kHasExtra adds a byte after the options and marks the
// entity as one of paper space.  Its bits:
inline constexpr std::uint8_t kExtraEed = 0x02;       // extended data follows (RS size, then the items)
inline constexpr std::uint8_t kExtraViewport = 0x04;  // an RS viewport number follows the handle

// The items of extended data (11/12): an RC code, then the value.  Code c
// is DXF group 1000 + c.
//   0 text (RC length, bytes)   1 application (RS APPID record number)
//   2 brace (RC 0 open, 1 close)   3 layer (RS LAYER record number)
//   4 bytes (RC length, bytes)   5 handle (8 bytes, most significant first)
//   10-15 point (3RD)   40-42 real (RD)   70 RS   71 RL
inline constexpr std::uint8_t kEedApplication = 1;

// VIEWPORT (11/12): 3RD centre on the sheet, RD width, RD height, RS
// viewport number; its view is in its "ACAD" extended data, as in DXF
// files of 11/12.  Each has a record in the VX table: RS address of the
// entity (its low 16 bits), RS viewport number (-1 while switched off),
// RS number of the VX record before it (-1 for the first).
//
// SHAPE: 2RD insertion point, RD size, RC number of the shape in its
// shape file, then RD rotation (option 0x01) and RC STYLE record number
// of the shape file (option 0x02).  A SHAPE is read as an entity of a
// kind the database does not model, with the groups DXF gives it; its
// number and the font file of its shape file, which DXF files do not hold,
// are kept among its extra groups under these codes.
inline constexpr std::int32_t kShapeNumber = 70;
inline constexpr std::int32_t kShapeFile = 3;

// Linetype indexes for BYLAYER and BYBLOCK in entities: 11/12 store an RS,
// older releases an RC (BYLAYER is then the absence of the field).
inline constexpr std::uint16_t kLinetypeByLayer11 = 32767;
inline constexpr std::uint16_t kLinetypeByBlock11 = 32766;
inline constexpr std::uint8_t kLinetypeByBlockOld = 255;
// The same for CELTYPE among the header variables.
inline constexpr std::uint16_t kCeltypeByLayerOld = 256;
inline constexpr std::uint16_t kCeltypeByBlockOld = 255;

// ------------------------------------------------------ header variables

// How a header variable is stored.
enum class Slot : std::uint8_t {
  Short,      // RS (signed)
  Byte,       // RC
  Real,       // RD
  Point2,     // 2RD
  Point3,     // 3RD
  Text,       // zero-padded bytes, `size` of them
  Date,       // RL day, RL milliseconds
  Handle,     // 8 bytes, most significant first
  Layer,      // RS index into the LAYER table
  Style,      // RS index into the STYLE table
  Linetype,   // RS index into the LTYPE table, or BYLAYER / BYBLOCK
  Ucs,        // RS index into the UCS table, -1 none
  Dimstyle,   // RS index into the DIMSTYLE table, -1 none
  Fixed,      // no variable: the default bytes (`real` as an RS, or `text`)
};

struct HeaderSlot {
  std::uint16_t offset;
  Slot slot;
  std::string_view name;    // "$LTSCALE"; empty for values no variable holds
  std::uint16_t above;      // present when the count at 0x11 is greater
  double real = 0;          // default of numbers (Fixed: the RS written)
  std::string_view text = {};  // default of texts
  std::array<double, 3> point = {};
  std::uint8_t size = 0;    // Text
};

std::span<const HeaderSlot> headerSlots();

// The offset of the entity count of 2.5 to 9 (PLINEGEN from 10 on).
inline constexpr std::size_t kEntityCountAt = 0x76;
inline constexpr std::size_t kCodepageAt = 0x3F9;
inline constexpr std::size_t kHandlingAt = 0x4EC;

// The auxiliary header of 11/12 (after its begin sentinel): 138 bytes.
inline constexpr std::size_t kAuxHeaderSize = 138;
// The table numbers the auxiliary header lists, in table order.
inline constexpr std::array<std::uint16_t, kTables> kAuxTableIds{1, 2, 3, 5, 6, 7, 8, 9, 10, 11};

}  // namespace drawingdb::prer13
