#include "drawingdb/dwg_pre_r13_layout.h"

#include <algorithm>

namespace drawingdb::prer13 {
namespace {

constexpr std::array<ReleaseLayout, 5> kLayouts{{
    //                 BLOCK LAYER STYLE LTYPE VIEW UCS VPORT APPID DIMSTYLE VX
    {Release::R2_5, 114, {38, 38, 194, 188, 92, 0, 0, 0, 0, 0}, false, false},
    {Release::R2_6, 122, {38, 38, 194, 188, 92, 0, 0, 0, 0, 0}, false, false},
    {Release::R9, 129, {37, 37, 194, 187, 91, 0, 0, 0, 0, 0}, false, false},
    {Release::R10, 158, {37, 37, 194, 187, 149, 105, 249, 33, 0, 0}, false, true},
    {Release::R12, 205, {45, 41, 198, 191, 153, 109, 253, 37, 324, 43}, true, true},
}};

// The counts of header variables files state, with where the variables
// end.
struct CountEnd {
  std::uint16_t count;
  std::uint16_t end;
};
constexpr CountEnd kCountEnds[] = {{104, 0x36F}, {114, 0x3A1}, {120, 0x3C5}, {122, 0x3D5}, {129, 0x3EF},
                                   {158, 0x512}, {160, 0x51E}, {204, 0x6BB}, {205, 0x6BD}};

// The begin sentinels; the end ones are their complements.
constexpr std::uint8_t kTableBegins[kTables][16] = {
    {0xDB, 0xEF, 0xB3, 0xF0, 0xC7, 0x3E, 0x6D, 0xA6, 0xC9, 0xB6, 0x24, 0x5C, 0x4C, 0x6F, 0x32, 0xCB},
    {0x0E, 0xC4, 0x64, 0x6F, 0xBB, 0x1D, 0xD3, 0x8B, 0x00, 0x49, 0xC2, 0xEF, 0x18, 0xEA, 0x6F, 0xFB},
    {0xE2, 0x3E, 0xC1, 0x82, 0x43, 0x9F, 0x61, 0x77, 0x50, 0xAB, 0xC7, 0x66, 0x96, 0x00, 0x06, 0x18},
    {0xAC, 0x90, 0x1A, 0xCA, 0x1C, 0xBD, 0x95, 0x15, 0x16, 0x16, 0x4C, 0x14, 0xCE, 0x18, 0x88, 0xAF},
    {0xC1, 0x3C, 0xAA, 0x56, 0x68, 0xF4, 0xB4, 0x1E, 0x4B, 0x74, 0xF4, 0x08, 0x42, 0x4D, 0xBF, 0xA5},
    {0x60, 0x4A, 0xFA, 0x3D, 0x84, 0x90, 0xCC, 0x5B, 0xEF, 0xE7, 0xD6, 0xA5, 0x7F, 0x1E, 0x61, 0xCD},
    {0xF6, 0xED, 0x44, 0x61, 0x2A, 0xDC, 0xE4, 0x7B, 0x4E, 0xB9, 0x2B, 0xBB, 0x66, 0x60, 0x63, 0x8D},
    {0xE1, 0x25, 0xC2, 0x50, 0x36, 0x68, 0x6C, 0x0C, 0x3B, 0xD3, 0x5D, 0x56, 0xC1, 0x79, 0x1C, 0x3A},
    {0xB4, 0x18, 0x3E, 0x42, 0xC9, 0x9F, 0xFF, 0xE5, 0xB6, 0xE2, 0xCB, 0xB3, 0x75, 0xC3, 0xC3, 0xB0},
    {0xE0, 0xCA, 0x36, 0x7C, 0xCE, 0xE7, 0x58, 0x6F, 0x2B, 0x7D, 0x74, 0x55, 0x05, 0xF1, 0x44, 0x7F},
};
constexpr std::uint8_t kSectionBegins[4][16] = {
    {0xC4, 0x6E, 0x68, 0x54, 0xF8, 0x6E, 0x33, 0x30, 0x63, 0x3E, 0xC1, 0x85, 0x2A, 0xDC, 0x94, 0x01},
    {0x72, 0x2B, 0x7D, 0xEC, 0x3E, 0x8C, 0x88, 0x6C, 0x7A, 0x72, 0x0A, 0xFD, 0xC8, 0x6C, 0x84, 0x26},
    {0xD5, 0xF9, 0xD3, 0xBB, 0x0A, 0xA9, 0x69, 0xA6, 0xCD, 0x1C, 0x87, 0xC7, 0xEE, 0x80, 0x4B, 0x17},
    {0x29, 0x8D, 0xD1, 0x49, 0xA9, 0x73, 0x1F, 0xEA, 0x99, 0xDE, 0x32, 0xF9, 0x4D, 0x0A, 0xE0, 0x19},
};

std::array<std::uint8_t, 16> beginOrEnd(const std::uint8_t (&begin)[16], bool end) {
  std::array<std::uint8_t, 16> out{};
  for (std::size_t i = 0; i < 16; ++i) out[i] = static_cast<std::uint8_t>(end ? ~begin[i] : begin[i]);
  return out;
}

using S = Slot;
constexpr HeaderSlot real(std::uint16_t at, std::string_view name, std::uint16_t above, double value) {
  return {at, S::Real, name, above, value};
}
constexpr HeaderSlot shortValue(std::uint16_t at, std::string_view name, std::uint16_t above, double value) {
  return {at, S::Short, name, above, value};
}
constexpr HeaderSlot byteValue(std::uint16_t at, std::string_view name, std::uint16_t above, double value) {
  return {at, S::Byte, name, above, value};
}
constexpr HeaderSlot point3(std::uint16_t at, std::string_view name, std::uint16_t above, double x = 0, double y = 0,
                            double z = 0) {
  return {at, S::Point3, name, above, 0, {}, {x, y, z}};
}
constexpr HeaderSlot point2(std::uint16_t at, std::string_view name, std::uint16_t above, double x = 0, double y = 0) {
  return {at, S::Point2, name, above, 0, {}, {x, y, 0}};
}
constexpr HeaderSlot text(std::uint16_t at, std::string_view name, std::uint16_t above, std::uint8_t size,
                          std::string_view value = {}) {
  return {at, S::Text, name, above, 0, value, {}, size};
}
constexpr HeaderSlot index(std::uint16_t at, Slot s, std::string_view name, std::uint16_t above) {
  return {at, s, name, above, s == S::Ucs || s == S::Dimstyle ? -1.0 : 0.0};
}
constexpr HeaderSlot fixed(std::uint16_t at, std::uint16_t above, double value) { return {at, S::Fixed, {}, above, value}; }
constexpr HeaderSlot fixedText(std::uint16_t at, std::uint16_t above, std::uint8_t size, std::string_view value) {
  return {at, S::Fixed, {}, above, 0, value, {}, size};
}

// Every header variable at its offset; `above` 0 means every file has it.
// Defaults are those of a new drawing.  Values at offsets no entry covers
// are zero.
constexpr HeaderSlot kSlots[] = {
    point3(0x05E, "$INSBASE", 0),
    {0x076, S::Short, "$PLINEGEN", 129, 0},
    point3(0x078, "$EXTMIN", 0),
    point3(0x090, "$EXTMAX", 0),
    point2(0x0A8, "$LIMMIN", 0),
    point2(0x0B8, "$LIMMAX", 0, 12, 9),
    point3(0x0C8, "$VIEWCTR", 0),
    real(0x0E0, "$VIEWSIZE", 0, 9),
    shortValue(0x0E8, "$SNAPMODE", 0, 0),
    point2(0x0EA, "$SNAPUNIT", 0, 1, 1),
    point2(0x0FA, "$SNAPBASE", 0),
    real(0x10A, "$SNAPANG", 0, 0),
    shortValue(0x112, "$SNAPSTYLE", 0, 0),
    shortValue(0x114, "$SNAPISOPAIR", 0, 0),
    shortValue(0x116, "$GRIDMODE", 0, 0),
    point2(0x118, "$GRIDUNIT", 0),
    shortValue(0x128, "$ORTHOMODE", 0, 0),
    shortValue(0x12A, "$REGENMODE", 0, 1),
    shortValue(0x12C, "$FILLMODE", 0, 1),
    shortValue(0x12E, "$QTEXTMODE", 0, 0),
    shortValue(0x130, "$DRAGMODE", 0, 2),
    real(0x132, "$LTSCALE", 0, 1),
    real(0x13A, "$TEXTSIZE", 0, 0.2),
    real(0x142, "$TRACEWID", 0, 0.05),
    index(0x14A, S::Layer, "$CLAYER", 0),
    fixed(0x14C, 0, 15),
    {0x156, S::Short, "$PSLTSCALE", 129, 0},
    {0x158, S::Short, "$TREEDEPTH", 129, 3020},
    real(0x15C, {}, 0, 1.3807),
    shortValue(0x164, "$LUNITS", 0, 2),
    shortValue(0x166, "$LUPREC", 0, 4),
    shortValue(0x168, "$AXISMODE", 0, 0),
    point2(0x16A, "$AXISUNIT", 0),
    real(0x17A, "$SKETCHINC", 0, 0.1),
    real(0x182, "$FILLETRAD", 0, 0),
    shortValue(0x18A, "$AUNITS", 0, 0),
    shortValue(0x18C, "$AUPREC", 0, 0),
    index(0x18E, S::Style, "$TEXTSTYLE", 0),
    shortValue(0x190, "$OSMODE", 0, 0),
    shortValue(0x192, "$ATTMODE", 0, 1),
    text(0x194, "$MENU", 0, 15, "acad"),
    real(0x1A3, "$DIMSCALE", 0, 1),
    real(0x1AB, "$DIMASZ", 0, 0.18),
    real(0x1B3, "$DIMEXO", 0, 0.0625),
    real(0x1BB, "$DIMDLI", 0, 0.38),
    real(0x1C3, "$DIMEXE", 0, 0.18),
    real(0x1CB, "$DIMTP", 0, 0),
    real(0x1D3, "$DIMTM", 0, 0),
    real(0x1DB, "$DIMTXT", 0, 0.18),
    real(0x1E3, "$DIMCEN", 0, 0.09),
    real(0x1EB, "$DIMTSZ", 0, 0),
    byteValue(0x1F3, "$DIMTOL", 0, 0),
    byteValue(0x1F4, "$DIMLIM", 0, 0),
    byteValue(0x1F5, "$DIMTIH", 0, 1),
    byteValue(0x1F6, "$DIMTOH", 0, 1),
    byteValue(0x1F7, "$DIMSE1", 0, 0),
    byteValue(0x1F8, "$DIMSE2", 0, 0),
    byteValue(0x1F9, "$DIMTAD", 0, 0),
    byteValue(0x1FA, "$LIMCHECK", 0, 0),
    real(0x229, "$ELEVATION", 0, 0),
    real(0x231, "$THICKNESS", 0, 0),
    point3(0x239, "$VIEWDIR", 0, 0, 0, 1),
    shortValue(0x2E3, "$BLIPMODE", 0, 1),
    byteValue(0x2E5, "$DIMZIN", 0, 0),
    real(0x2E6, "$DIMRND", 0, 0),
    real(0x2EE, "$DIMDLE", 0, 0),
    text(0x2F6, "$DIMBLK", 0, 33),
    fixed(0x317, 0, 100),
    shortValue(0x319, "$COORDS", 0, 0),
    shortValue(0x31B, "$CECOLOR", 0, 256),
    index(0x31D, S::Linetype, "$CELTYPE", 0),
    {0x31F, S::Date, "$TDCREATE", 0},
    {0x327, S::Date, "$TDUPDATE", 0},
    {0x32F, S::Date, "$TDINDWG", 0},
    {0x337, S::Date, "$TDUSRTIMER", 0},
    shortValue(0x33F, "$USRTIMER", 0, 1),
    shortValue(0x341, "$FASTZOOM", 0, 1),
    shortValue(0x343, "$SKPOLY", 0, 0),
    real(0x353, "$ANGBASE", 0, 0),
    shortValue(0x35B, "$ANGDIR", 0, 0),
    shortValue(0x35D, "$PDMODE", 0, 0),
    real(0x35F, "$PDSIZE", 0, 0),
    real(0x367, "$PLINEWID", 0, 0),
    shortValue(0x36F, "$USERI1", 104, 0),
    shortValue(0x371, "$USERI2", 104, 0),
    shortValue(0x373, "$USERI3", 104, 0),
    shortValue(0x375, "$USERI4", 104, 0),
    shortValue(0x377, "$USERI5", 104, 0),
    real(0x379, "$USERR1", 104, 0),
    real(0x381, "$USERR2", 104, 0),
    real(0x389, "$USERR3", 104, 0),
    real(0x391, "$USERR4", 104, 0),
    real(0x399, "$USERR5", 104, 0),
    byteValue(0x3A1, "$DIMALT", 114, 0),
    byteValue(0x3A2, "$DIMALTD", 114, 2),
    byteValue(0x3A3, "$DIMASO", 114, 1),
    byteValue(0x3A4, "$DIMSHO", 114, 1),
    text(0x3A5, "$DIMPOST", 114, 16),
    text(0x3B5, "$DIMAPOST", 114, 16),
    real(0x3C5, "$DIMALTF", 120, 25.4),
    real(0x3CD, "$DIMLFAC", 120, 1),
    shortValue(0x3D5, "$SPLINESEGS", 122, 8),
    shortValue(0x3D7, "$SPLFRAME", 122, 0),
    shortValue(0x3D9, "$ATTREQ", 122, 1),
    shortValue(0x3DB, "$ATTDIA", 122, 0),
    real(0x3DD, "$CHAMFERA", 122, 0),
    real(0x3E5, "$CHAMFERB", 122, 0),
    shortValue(0x3ED, "$MIRRTEXT", 122, 1),
    point3(0x3FB, "$UCSORG", 129),
    point3(0x413, "$UCSXDIR", 129, 1, 0, 0),
    point3(0x42B, "$UCSYDIR", 129, 0, 1, 0),
    point3(0x443, {}, 129),  // target
    real(0x45B, {}, 129, 50),  // lens length
    real(0x463, {}, 129, 0),   // view twist
    real(0x46B, {}, 129, 0),   // front clip
    real(0x473, {}, 129, 0),   // back clip
    shortValue(0x47B, {}, 129, 0),  // view mode
    byteValue(0x47D, "$DIMTOFL", 129, 0),
    text(0x47E, "$DIMBLK1", 129, 33),
    text(0x49F, "$DIMBLK2", 129, 33),
    byteValue(0x4C0, "$DIMSAH", 129, 0),
    byteValue(0x4C1, "$DIMTIX", 129, 0),
    byteValue(0x4C2, "$DIMSOXD", 129, 0),
    real(0x4C3, "$DIMTVP", 129, 0),
    shortValue(0x4EC, "$HANDLING", 129, 0),
    {0x4EE, S::Handle, "$HANDSEED", 129},
    shortValue(0x4F6, "$SURFU", 129, 6),
    shortValue(0x4F8, "$SURFV", 129, 6),
    shortValue(0x4FA, "$SURFTYPE", 129, 6),
    shortValue(0x4FC, "$SURFTAB1", 129, 6),
    shortValue(0x4FE, "$SURFTAB2", 129, 6),
    shortValue(0x50A, {}, 129, 0),  // flat land
    shortValue(0x50C, "$SPLINETYPE", 129, 6),
    shortValue(0x50E, {}, 129, 1),  // UCS icon
    index(0x510, S::Ucs, "$UCSNAME", 129),
    shortValue(0x51C, "$WORLDVIEW", 158, 1),
    fixed(0x51E, 160, 5),
    fixed(0x520, 160, 1),
    index(0x52C, S::Dimstyle, "$DIMSTYLE", 160),
    shortValue(0x531, "$DIMCLRD", 160, 0),
    shortValue(0x533, "$DIMCLRE", 160, 0),
    shortValue(0x535, "$DIMCLRT", 160, 0),
    shortValue(0x537, "$SHADEDGE", 160, 3),
    shortValue(0x539, "$SHADEDIF", 160, 70),
    shortValue(0x53D, "$UNITMODE", 160, 0),
    real(0x53F, {}, 160, 412148564080.0),
    real(0x547, {}, 160, 1),
    real(0x54F, {}, 160, 1),
    real(0x557, {}, 160, 1),
    fixedText(0x55F, 160, 32, "m"),
    real(0x5DF, "$DIMTFAC", 160, 1),
    point3(0x5E7, "$PUCSORG", 160),
    point3(0x5FF, "$PUCSXDIR", 160, 1, 0, 0),
    point3(0x617, "$PUCSYDIR", 160, 0, 1, 0),
    index(0x62F, S::Ucs, "$PUCSNAME", 160),
    shortValue(0x631, "$TILEMODE", 160, 1),
    shortValue(0x633, "$PLIMCHECK", 160, 0),
    point3(0x637, "$PEXTMIN", 160, 1e20, 1e20, 1e20),
    point3(0x64F, "$PEXTMAX", 160, -1e20, -1e20, -1e20),
    point2(0x667, "$PLIMMIN", 160),
    point2(0x677, "$PLIMMAX", 160, 12, 9),
    point3(0x687, "$PINSBASE", 160),
    shortValue(0x6A9, "$MAXACTVP", 160, 16),
    real(0x6AB, "$DIMGAP", 160, 0.09),
    real(0x6B3, "$PELEVATION", 160, 0),
    shortValue(0x6BB, "$VISRETAIN", 204, 0),
};

}  // namespace

const ReleaseLayout* layoutOf(Release r) {
  for (const ReleaseLayout& l : kLayouts)
    if (l.release == r) return &l;
  return nullptr;
}

std::size_t variablesEnd(std::uint16_t count) {
  for (const CountEnd& c : kCountEnds)
    if (c.count == count) return c.end;
  return 0;
}

bool holdsTable(std::uint16_t count, Table t) {
  switch (t) {
    case kUcs:
    case kVport: return count > 129;
    case kAppid: return count > 158;
    case kDimstyle:
    case kVx: return count > 160;
    default: return true;
  }
}

std::array<std::uint8_t, 16> sentinel(Sentinel s, bool end) { return beginOrEnd(kSectionBegins[static_cast<int>(s)], end); }

std::array<std::uint8_t, 16> tableSentinel(Table t, bool end) { return beginOrEnd(kTableBegins[t], end); }

std::span<const HeaderSlot> headerSlots() { return kSlots; }

}  // namespace drawingdb::prer13
