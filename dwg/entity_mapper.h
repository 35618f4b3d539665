// The entity mapper of the toolkit input (-dxfin, -dwgin): every entity of
// a drawing database becomes elements of the element table of the IGES
// kinds the conversion engine converts, with the typed parameter records
// that engine reads and directory entries filled from the entity's layer,
// colour and linetype through the run's graphic attribute mapping.  After
// mapping, the table looks as if an IGES file had been read.
//
// One table (entityMappings) names, per entity kind of the database, the
// IGES type and form it becomes and the function that fills the typed
// record.  A kind no IGES record carries (an entity the database keeps
// only as read) has no function: its entities are counted by name and
// reported once per name with their count.
//
//   LINE 110, POINT 116, CIRCLE 100/0, ARC 100/1, ELLIPSE 104/1 (a conic
//   in the ellipse's own system), SPLINE 126, LWPOLYLINE and POLYLINE 106
//   (11 open, 63 closed) or, with bulges, a composite curve 102 of lines
//   and arcs, 3D POLYLINE 106/12, spline-fit POLYLINE 126, meshes 106/12
//   per row, SOLID and TRACE 106/63, 3DFACE 106/63 or its visible edges,
//   TEXT, MTEXT, ATTRIB and shown ATTDEF 212, INSERT 408 per array cell
//   (linked to the 308 of its block), DIMENSION 216/202/206/222/218 with
//   the entities of its block as parts (linear, aligned, radius,
//   diameter and angular dimensions also get the note and leaders the
//   dimension writer needs to write them as dimensions of the CAD system;
//   the parts are drawn when it cannot; ordinate dimensions keep their
//   parts only), LEADER 214, HATCH 230 with its boundary
//   loops as sons, VIEWPORT 410 of the drawing 404 that holds its layout's
//   paper space.
//
// The mapper reaches the element table only through ElementSink: a new
// element with its typed record, its directory attributes, its matrix,
// and the link of a son to its father.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "drawingdb/model.h"
#include "elements/param_records.h"
#include "elements/transform.h"

class DwgGraphAttr;

// Directory attributes of a mapped element.
struct DwgDirectoryAttributes {
  std::int32_t level = 0;
  std::int32_t colour = 7;
  std::int32_t lineFont = 1;
  std::int32_t lineWeight = 0;
  std::int32_t sequence = 0;  // the entity's number in the drawing
  std::int32_t structure = 0;  // 1: the boundary of a solid fill
};

// The mapper's narrow way into the element table.
class ElementSink {
 public:
  // A new element in state 'w' of the type and form owning `record`
  // (nullptr: none); 0 when the table cannot grow (error 370 reported).
  std::int32_t add(std::int32_t type, std::int32_t form, std::unique_ptr<ParamRecord> record);
  // Directory entry fields, and the graphic attributes of the typed record.
  void setDirectory(std::int32_t index, const DwgDirectoryAttributes& attributes);
  void setMatrix(std::int32_t index, const Transform& matrix);
  // Marks a drawing or view for the drawing pass.
  void setRegistered(std::int32_t index);
  // A son physically dependent on its father (a member of a contour).
  void setDependent(std::int32_t index);
  // A part another element's conversion writes (state 'c' from the start).
  void setTakenOver(std::int32_t index);
  // Links son and father both ways, the son by priority; 0 or -1.
  int link(std::int32_t father, std::int32_t son);
  ParamRecord* record(std::int32_t index);
};

// The elements the mapping of one entity made: the entity's own elements
// (linked to the context's father and given the entity's attributes) and
// the parts of them (members of contours, boundaries of a hatch, the note
// and leaders of a dimension: given the attributes only).
struct MadeElements {
  std::vector<std::int32_t> own;
  std::vector<std::int32_t> members;
  bool filled = false;  // the members bound a solid fill
};

// What the mapper keeps while it walks the blocks of one database.
struct MapContext {
  MapContext(drawingdb::Database& database, const DwgGraphAttr& attributes);

  drawingdb::Database& db;
  const DwgGraphAttr& attr;
  ElementSink sink;
  // The element of each block (a 308), by block position; 0 for none.
  std::vector<std::int32_t> blockElements;
  // Blocks that hold the drawn parts of a dimension (not definitions of
  // their own), by block position.
  std::vector<char> dimensionBlocks;
  // The drawing (404) of the layout being mapped, 0 before it is made.
  std::int32_t drawing = 0;
  // The element every new element is linked to as a son (a block, a
  // dimension), 0 for none, and the position of the block being mapped
  // (-1 for a layout).
  std::int32_t father = 0;
  long fatherBlock = -1;
  // Blocks that hold other blocks otherwise than by an insert (a
  // dimension and the block of its parts): (holder, held).
  std::vector<std::pair<long, std::size_t>> holds;
  // Inserts to link to their blocks once every block has its element:
  // (instance, block position, position of the block holding the insert
  // or -1).
  struct PendingInsert {
    std::int32_t instance = 0;
    std::size_t block = 0;
    long holder = -1;
  };
  std::vector<PendingInsert> inserts;
  // Copies of array inserts still allowed (bounded by the file's size).
  long arrayBudget = 10000;
  // Entities counted by DXF name: mapped, and not carried.
  std::map<std::string, long> mapped;
  std::map<std::string, long> notCarried;
  // The counter in `mapped` of the name last met with each entity kind
  // (a kind keeps one name but for entities of kinds the toolkit does not
  // model), so that an entity is counted without a lookup by name.
  struct NameCounter {
    std::string_view name;  // the key in `mapped`
    long* count = nullptr;
  };
  std::vector<NameCounter> mappedByKind;
  long sequence = 0;  // entities met so far
  // The directory attributes (the sequence aside) of each combination of
  // layer, colour and linetype met so far: those three decide them.  The
  // key views the texts of the entity's layer and linetype names, which
  // are the database's and stay where they are while it is mapped (the
  // names of one reading share their texts, so most keys compare by
  // address).
  struct DirectoryKey {
    std::string_view layer;
    std::string_view linetype;
    std::int32_t colour = 0;
    bool operator==(const DirectoryKey& o) const {
      const auto same = [](std::string_view a, std::string_view b) {
        return (a.data() == b.data() && a.size() == b.size()) || a == b;
      };
      return colour == o.colour && same(layer, o.layer) && same(linetype, o.linetype);
    }
  };
  struct DirectoryKeyHash {
    std::size_t operator()(const DirectoryKey& k) const;
  };
  std::unordered_map<DirectoryKey, DwgDirectoryAttributes, DirectoryKeyHash> directories;
  // The text style of the name the last text named, with its font.
  struct TextStyleOfName {
    bool valid = false;
    std::string name;
    const drawingdb::Record<drawingdb::TextStyle>* style = nullptr;
    std::string fontName;
  };
  TextStyleOfName lastTextStyle;
  // The views (410) made, for their level lists.
  std::vector<std::int32_t> views;
  bool linetypeTableRead = false;  // the installation's linetype table was asked for
  bool inDimension = false;        // mapping the parts of a dimension
  MadeElements made;               // of the entity being mapped
};

// A mapping function: makes the elements of one entity with their typed
// records; 0, or -1 when nothing could be made.
using DwgMapFunction = int (*)(MapContext& context, const drawingdb::Entity& entity);

struct DwgEntityMapping {
  drawingdb::EntityKind kind;
  std::int32_t type;  // the IGES type the kind usually becomes (0 when not carried)
  std::int32_t form;
  DwgMapFunction map;  // nullptr: not carried, counted and reported
};

// The mapping table, one row per entity kind, and the row of a kind
// (nullptr for a kind without a row).
const DwgEntityMapping* entityMappings(std::size_t& count);
const DwgEntityMapping* entityMappingOf(drawingdb::EntityKind kind);

// Whether an entity would make elements (mode 1 of the mapper counts them).
bool entityCarried(const drawingdb::Entity& entity);

// Maps one block's entities with the context's father: mode 1 counts the
// entities that would make elements without making any, mode 0 makes
// them.  `count` grows by the elements of the block (in mode 0 without
// the views of viewports, which show the drawing); returns 0.
int mapBlockEntities(MapContext& context, const drawingdb::BlockRecord& block, int mode, long& count);

// The 308 of a block definition (made once), 0 when it cannot be made.
std::int32_t blockElement(MapContext& context, std::size_t block);
// The drawing (404) of the layout being mapped, made on first use.
std::int32_t drawingElement(MapContext& context);

// Links every insert to the 308 of its block, with the block's base point
// in its placement.  An insert whose block holds it (directly or through
// other blocks) is reported once per insert (error 1322) and not linked.
// Returns the number of such inserts.
int linkInserts(MapContext& context);

// The level lists of the views: the levels of the layers frozen in each
// viewport.
void makeViewLevels(MapContext& context);

// The level of a layer: its position in the layer table (a layer not in
// the table is added to it).
std::int32_t layerLevel(MapContext& context, const std::string& layer);

// The lines of an MTEXT value: paragraphs split at "\P" (and line
// breaks), every formatting code removed, the escaped characters kept.
std::vector<std::string> mtextPlainLines(const std::string& value);
