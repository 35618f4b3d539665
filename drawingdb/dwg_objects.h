// The objects of DWG files of R13, R14 and 2000: the frame every object
// shares, decoded up to its type-specific data, and written from the
// database's values; the entity codecs (dwg_entities.cpp) on top.
//
// One object, from the first bit after its MS size:
//
//   BS    type (classes: 500 + the class's place in the classes section)
//   RL    bitsize B                               2000: here
//   H     own handle (code 0)
//   EED   repeated: BS n (0 ends), H application, n bytes of items
//   B     entities: graphics follow; 1: RL size g, g bytes
//   RL    bitsize B                               R13/R14: here
//   ...   common data: entity (mode, reactors, colour, linetype ...) or
//         other object (reactor count; table records: name and xref data)
//   ...   type-specific data
//   ----- bit B: the handle stream
//   H...  common handles (owner, reactors, extension dictionary; entities:
//         layer, linetype, previous/next, plot style), then the
//         type-specific handles, padded to a byte
//
// Names, not handles, link the database's entities to layers, linetypes,
// styles and blocks: the whole-file reader and writer hand the lookups in
// through the contexts below.  Every count and length read is checked
// against the bits left before it is used.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "drawingdb/code_page.h"
#include "drawingdb/dwg_bits.h"
#include "drawingdb/model.h"
#include "drawingdb/releases.h"
#include "drawingdb/status.h"

namespace drawingdb {

// The fixed object type numbers of these releases.
namespace dwg_type {
inline constexpr std::int16_t kText = 1, kAttrib = 2, kAttDef = 3, kBlock = 4, kEndBlock = 5, kSeqend = 6,
                              kInsert = 7, kMInsert = 8, kVertex2d = 10, kVertex3d = 11, kVertexMesh = 12,
                              kVertexPface = 13, kVertexPfaceFace = 14, kPolyline2d = 15, kPolyline3d = 16,
                              kArc = 17, kCircle = 18, kLine = 19, kDimensionOrdinate = 20,
                              kDimensionLinear = 21, kDimensionAligned = 22, kDimensionAngular3Point = 23,
                              kDimensionAngular2Line = 24, kDimensionRadius = 25, kDimensionDiameter = 26,
                              kPoint = 27, kFace3d = 28, kPolylinePface = 29, kPolylineMesh = 30, kSolid = 31,
                              kTrace = 32, kShape = 33, kViewport = 34, kEllipse = 35, kSpline = 36,
                              kRegion = 37, kSolid3d = 38, kBody = 39, kRay = 40, kXline = 41,
                              kDictionary = 42, kOleFrame = 43, kMText = 44, kLeader = 45, kTolerance = 46,
                              kMLine = 47, kBlockControl = 48, kBlockHeader = 49, kLayerControl = 50,
                              kLayer = 51, kStyleControl = 52, kStyle = 53, kLinetypeControl = 56,
                              kLinetype = 57, kViewControl = 60, kView = 61, kUcsControl = 62, kUcs = 63,
                              kVportControl = 64, kVport = 65, kAppIdControl = 66, kAppId = 67,
                              kDimStyleControl = 68, kDimStyle = 69, kVxControl = 70, kVx = 71, kGroup = 72,
                              kMLineStyle = 73, kOle2Frame = 74, kLongTransaction = 76,
                              kLwPolyline = 77,  // 2000; a class in R13/R14
                              kHatch = 78,       // 2000; a class in R13/R14
                              kXRecord = 79,     // 2000; a class in R13/R14
                              kPlaceholder = 80, kLayout = 82,  // 2004 on; classes before
                              kProxyEntity = 498, kProxyObject = 499, kFirstClass = 500;
}  // namespace dwg_type

// Whether a fixed type number is an entity (classes: their item id says).
bool isDwgEntityType(std::int16_t type);

// The R2000 lineweight index of a DXF lineweight (-1 ByLayer, -2 ByBlock,
// -3 default, else 1/100 mm; a value between two of the table's takes the
// nearer, the smaller on a tie) and back (an unused index reads as ByLayer).
std::uint8_t dwgLineweightIndex(std::int32_t lineweight);
std::int32_t lineweightOfDwgIndex(std::uint8_t index);

// Lookups the whole-file reader provides while objects are read (records
// first, so that names resolve).
class DwgReadContext {
 public:
  virtual ~DwgReadContext() = default;
  virtual Release release() const = 0;
  // The drawing's code page: texts become UTF-8 through it.
  virtual const CodePage& codePage() const = 0;
  // The name of the record a handle points to; empty when none or when it
  // is not a record of that table.  The linetypes include BYLAYER and
  // BYBLOCK, the blocks are the block records.
  virtual Name layerName(Handle h) const = 0;
  virtual Name linetypeName(Handle h) const = 0;
  virtual Name styleName(Handle h) const = 0;
  virtual Name dimstyleName(Handle h) const = 0;
  virtual Name blockName(Handle h) const = 0;
  virtual std::string appidName(Handle h) const = 0;
  // The class of a type number >= 500; nullptr when the classes section
  // has none of that number.
  virtual const ClassDef* classOf(std::int16_t type) const = 0;
  // A soft problem: counted and reported, not fatal.
  virtual void warn(std::string_view what) = 0;
};

// Lookups the whole-file writer provides while objects are written.
class DwgWriteContext {
 public:
  virtual ~DwgWriteContext() = default;
  virtual Release release() const = 0;
  virtual const CodePage& codePage() const = 0;
  // The number of the code page as the file header states it (EED texts
  // carry it).
  virtual std::uint16_t codepageNumber() const = 0;
  // The handle of a record by name (0 when there is none).  The linetypes
  // include the BYLAYER and BYBLOCK records, the blocks are block records.
  virtual Handle layerHandle(std::string_view name) const = 0;
  virtual Handle linetypeHandle(std::string_view name) const = 0;
  virtual Handle styleHandle(std::string_view name) const = 0;
  virtual Handle dimstyleHandle(std::string_view name) const = 0;
  virtual Handle blockHandle(std::string_view name) const = 0;
  // The APPID record of an application, made when missing.
  virtual Handle appidHandle(std::string_view app) = 0;
  // The type number of a class by DXF name, listed in the classes when
  // missing (R13/R14 LWPOLYLINE and HATCH, LAYOUT ...).
  virtual std::int16_t classNumber(std::string_view dxfName) = 0;
  virtual void warn(std::string_view what) = 0;
};

// Colours of 2004 on.  A CMC of objects and header variables: BS index
// (0), BL method byte and value, RC names flags (1 colour name, 2 book
// name), the names.  An entity's ENC: BS index with flags in its high bits
// (0x20 transparency BL follows, 0x80 method and value BL, 0x40 a DBCOLOR
// object in the handle stream, with 0x41/0x42 its colour and book names).
inline constexpr std::uint32_t kDwgColourByLayer = 0xC0000000u;
inline constexpr std::uint32_t kDwgColourByBlock = 0xC1000000u;
inline constexpr std::uint32_t kDwgColourRgb = 0xC2000000u;
inline constexpr std::uint32_t kDwgColourIndex = 0xC3000000u;

// A CMC of 2004 on as an index: ByLayer 256, ByBlock 0, an index itself;
// a true colour gives `rgb` (method and value) and 7 or its index.
std::int16_t readDwgColour2004(DwgBitReader& in, std::uint32_t* rgb = nullptr);
void writeDwgColour2004(DwgBitWriter& out, std::int16_t index, std::uint32_t rgb = 0);

// The common data of an entity as stored.
struct DwgEntityHead {
  std::uint8_t mode = 2;  // 0 owned by `owner`, 1 paper space, 2 model space
  bool noLinks = false;   // previous/next are own handle -1/+1 (not stored)
  std::int16_t colour = 256;
  // 2004 on, beside the index: a colour of the colour book or true colour
  // (method byte 0xC2 and RGB, 0 when the entity has none), its names, its
  // transparency (0 when none is stored) and the DBCOLOR object it names.
  std::uint32_t rgb = 0;
  std::string colourName{};
  std::string bookName{};
  std::uint32_t transparency = 0;
  Handle colourObject = 0;
  double linetypeScale = 1;
  // 0 BYLAYER, 1 BYBLOCK, 2 CONTINUOUS, 3 the record `linetype`.  R13/R14
  // store only "BYLAYER or a record": 1 and 2 need the record's handle.
  std::uint8_t linetypeFlags = 0;
  // 2000: 0 BYLAYER, 1 BYBLOCK, 2 the dictionary's default, 3 `plotStyle`.
  std::uint8_t plotStyleFlags = 0;
  std::int16_t invisibility = 0;
  std::uint8_t lineweight = 29;  // index (2000)
  // 2007: 0 BYLAYER, 1 BYBLOCK, 2 global, 3 a material named by handle.
  std::uint8_t materialFlags = 0;
  // 2010: which of the full, face and edge visual style handles follow.
  std::uint8_t visualStyles = 0;
  Handle layer = 0;
  Handle linetype = 0;
  Handle plotStyle = 0;
  Handle previous = 0;
  Handle next = 0;
  std::string graphics;  // proxy graphics, when the entity has them
};

// The frame and common data of any object.
struct DwgObjectHead {
  std::int16_t type = 0;
  Handle handle = 0;
  bool entity = false;
  // The EED as DXF groups: 1001 application name, then its items
  // (points as three groups 10x0, 10x0+10, 10x0+20; a 1003 layer by its
  // name, with the record's handle in `integer`; written, a non-zero
  // `integer` of a 1003 names the record, else its text does).
  std::vector<RawTag> xdata;
  Handle owner = 0;  // entities: only with mode 0
  std::vector<Handle> reactors;
  Handle xdictionary = 0;
  DwgEntityHead e;  // entities only
};

// The common part of a table record (after the reactor count).
struct DwgRecordHead {
  std::string name;  // UTF-8
  bool referenced = true;   // DXF flag 64
  std::int16_t xrefIndex = 0;  // xref index + 1; 0 unless xref dependent
  bool xrefDependent = false;  // DXF flag 16
  Handle xrefBlock = 0;
};

// One object's frame decoded up to its type-specific data.
struct DwgObjectIn {
  DwgObjectHead head;
  std::string_view frame;  // the object's bytes from the type on
  std::uint32_t bitsize = 0;  // B: where the handle stream starts
  DwgBitReader data{std::string_view()};     // at the type-specific data, ends at B
  DwgBitReader handles{std::string_view()};  // at the type-specific handles
  // Set by the entity readers for the assembly: POLYLINE first/last vertex
  // and SEQEND, INSERT (with attributes) first/last ATTRIB and SEQEND.
  Handle firstFollower = 0;
  Handle lastFollower = 0;
  Handle seqend = 0;
  // 2004 on: the vertices or attributes in order (no first/last links).
  std::vector<Handle> followers{};

  // The data from the data reader's position to the handle stream, the
  // string stream of 2007 and later included: what an object kept with its
  // bits holds.
  DwgBitReader restOfData() const {
    DwgBitReader rest(frame, bitsize);
    rest.seekBit(data.bitPosition());
    return rest;
  }
  // A handle of the handle stream resolved against the object's own
  // handle; 0 and false for a code that cannot be resolved (noted in
  // status()).
  Handle readHandle();
  // Ok, or the first problem of the data, the handles or a reference.
  Status status() const;
  std::string badReference;  // a reference or count found wrong, if any
};

// Decodes the frame of one object (the S bytes of readDwgObjectFrame):
// type, bitsize, own handle, EED, graphics, the common data and the common
// handles.  Whether the object is an entity comes from its type or class.
// `out` reads from `frame`, which must outlive it.  From 2010 on the frame
// does not hold its bitsize: `handleBits`, the size of the handle stream
// (stored before the frame), gives it.  From 2007 on the texts come from
// the string stream at the end of the data (DwgBitReader::locateStrings).
Status readDwgObjectHead(std::string_view frame, DwgReadContext& context, DwgObjectIn& out,
                         std::uint64_t handleBits = 0);

// The start of one object's frame alone: its type, its own handle and
// whether it is an entity, without the rest of the head.
struct DwgObjectKind {
  std::int16_t type = 0;
  Handle handle = 0;
  bool entity = false;
};
Status readDwgObjectKind(std::string_view frame, const DwgReadContext& context, DwgObjectKind& out,
                         std::uint64_t handleBits = 0);

// Table records: the common part after the reactor count and the xref
// block handle; the readers then stand at the type-specific fields.
Status readDwgRecordHead(DwgObjectIn& in, DwgReadContext& context, DwgRecordHead& out);

// An object being written: begin() writes everything up to the type data
// and keeps the common handles; the caller writes the type-specific data
// to data() and the type-specific handles to handles(); finish() joins the
// two streams and patches the bitsize.
class DwgObjectOut {
 public:
  explicit DwgObjectOut(Release release) : release_(release) {}

  Status begin(const DwgObjectHead& head, DwgWriteContext& context);
  void writeRecordHead(const DwgRecordHead& record, DwgWriteContext& context);
  DwgBitWriter& data() { return data_; }
  DwgBitWriter& handles() { return handles_; }
  Release release() const { return release_; }
  // Writes a handle reference with the given code (an absolute one; 0 null).
  void handle(std::uint8_t code, Handle h) { handles_.writeHandle(DwgHandleRef{code, h}); }
  // The object's bytes from the type on, for writeDwgObjectFrame.
  Status finish(std::string& frame);

 private:
  Release release_;
  DwgBitWriter data_;
  DwgBitWriter handles_;
  std::size_t bitsizeAt_ = 0;
  bool begun_ = false;
};

// ------------------------------------------------------- declared objects
//
// Objects of files of 2004 that the database keeps as their DXF groups
// (UnknownObject tags), their data declared value by value: MATERIAL (the
// colour factors and the six maps of a material), VISUALSTYLE (face, edge
// and display settings) and SCALE (an annotation scale).  Every value has
// its form, its DXF group and a default.  Reading gives a subclass marker
// and the groups in the declared order.  Writing takes each value from the
// group of its code (the n-th value of a code, such as a map's matrix, from
// the n-th group of that code) in whatever order the groups come, or the
// default when a group is missing.  None of them has handles of its own.

// Whether objects of that DXF name are declared for release r.
bool isDwgDeclaredObject(std::string_view dxfName, Release r);
// The type data of a declared object as groups.  NotSupported when a value
// says that data follows that the declarations do not hold (a material's
// own colour, a procedural map): the caller then keeps the object's bits.
Status readDwgDeclaredObject(std::string_view dxfName, DwgBitReader& data, const CodePage& page,
                             std::vector<RawTag>& tags);
// Writes the type data from the groups.  A value the declarations cannot
// carry is written as its default, with a warning.
Status writeDwgDeclaredObject(std::string_view dxfName, const std::vector<RawTag>& tags, const CodePage& page,
                              DwgBitWriter& data, DwgWriteContext& context);
// The groups of a new object: the subclass marker and every value's
// default (empty texts).
std::vector<RawTag> dwgDeclaredDefaults(std::string_view dxfName);

// Texts of the object data: TV bytes in the drawing's code page <-> UTF-8;
// from 2007 on (a reader whose strings are located) UTF-16 of the string
// stream.
std::string readDwgText(DwgBitReader& in, const CodePage& page);
void writeDwgText(DwgBitWriter& out, std::string_view text, const CodePage& page);

// ------------------------------------------------------------- entities

// Where an entity stands among others: decided by the assembly.
struct DwgEntityLinks {
  std::uint8_t mode = 2;  // 0 owned by `owner`, 1 paper space, 2 model space
  Handle owner = 0;
  Handle previous = 0;
  Handle next = 0;
  // POLYLINE: first/last vertex; INSERT with attributes: first/last ATTRIB.
  Handle firstFollower = 0;
  Handle lastFollower = 0;
  Handle seqend = 0;
  // 2004 on: every vertex or attribute, in order (files list them all).
  std::vector<Handle> followers{};
};

// Reads the type-specific part of a drawable entity (every kind of the
// database; kinds it does not model become UnknownEntity with their bits
// kept).  VERTEX, SEQEND, BLOCK and ENDBLK have their own readers below.
Status readDwgEntity(DwgObjectIn& in, DwgReadContext& context, Entity& out);
// A vertex of a polyline (types 10-14).  Its common data is kept as its
// own groups where it says more than that it lies on `headLayer`, the
// layer of its polyline (empty: not known, every group is kept).
Status readDwgVertex(DwgObjectIn& in, DwgReadContext& context, Vertex& out, std::string_view headLayer = {});
// The name a BLOCK entity states.  Files name anonymous blocks and further
// layouts in full only here ("*D3", "*Paper_Space0"); their block records
// say "*D" and "*Paper_Space".
Status readDwgBlockName(DwgObjectIn& in, DwgReadContext& context, std::string& name);
// The common groups (layer, linetype, colour, EED ...) of an entity the
// database keeps with its head: BLOCK, ENDBLK and SEQEND.
Status readDwgFollowerGroups(DwgObjectIn& in, DwgReadContext& context, EntityCommon& out);
// Whether the assembly reads this type with readDwgVertex, or as SEQEND,
// BLOCK or ENDBLK (no type data the database keeps).
bool isDwgVertexType(std::int16_t type);

// Writes an entity's object: `frame` receives the bytes from the type on.
Status writeDwgEntity(const Entity& entity, const DwgEntityLinks& links, DwgWriteContext& context,
                      std::string& frame);
// The vertex `index` of a POLYLINE entity (its layer, colour and linetype).
Status writeDwgVertex(const Entity& polyline, std::size_t index, const DwgEntityLinks& links,
                      DwgWriteContext& context, std::string& frame);
// The SEQEND after a POLYLINE's vertices or an INSERT's attributes.
Status writeDwgSeqend(const Entity& parent, Handle seqend, const DwgEntityLinks& links, DwgWriteContext& context,
                      std::string& frame);
// The BLOCK and ENDBLK entities of a block.
Status writeDwgBlockBegin(const BlockRecord& block, const DwgEntityLinks& links, DwgWriteContext& context,
                          std::string& frame);
Status writeDwgBlockEnd(const BlockRecord& block, const DwgEntityLinks& links, DwgWriteContext& context,
                        std::string& frame);

}  // namespace drawingdb
