// The database builder of -dwgout and -dxfout.
//
// The output steps hand each converted element to DwgOut, which makes the
// matching entity in one drawing database of the toolkit, places it in model
// space or in the block being filled, gives it colour, linetype, line weight
// and layer through the run's graphic attribute mapping (graph_attr.h), and
// at the end of the run audits the database and saves it as DXF (or DWG) of
// the release chosen by -acad<ver>.
//
// Coordinates are those of the drawing (millimetres), already corrected for
// the reference point; angles given to DwgOut are in radians.  Every
// operation returns 0, or -1 when the database refuses the object (a value
// that is not finite, a zero radius or height); nothing is made then.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "drawingdb/model.h"
#include "drawingdb/releases.h"
#include "dwg/graph_attr.h"
#include "dwg/start_data.h"

// What DwgOut and the input direction share: the direction of the attribute
// mapping, the database, and the copying of attributes chosen by the mapping
// into the database's entities and table records.
class DwgBase {
 public:
  explicit DwgBase(int direction);
  virtual ~DwgBase() = default;

  drawingdb::Database& database() { return db_; }
  const DwgLayerList& layers() const { return layers_; }

 protected:
  // Sets colour, linetype, line weight and layer of an entity; the layer and
  // linetype records it names are made when the database lacks them.
  void applyTo(const DwgEntityAttributes& attributes, drawingdb::EntityCommon& common);
  // The linetype record of that name, made from the start-up data or the
  // parameter file's linetypes when missing; nullptr when neither knows it.
  const drawingdb::Record<drawingdb::Linetype>* linetypeRecord(const std::string& name);

  drawingdb::Database db_;
  drawingdb::NameTable names_;  // the layer and linetype names of entities, each held once
  DwgLayerList layers_;
  DwgStartData start_;
};

// One curve of the boundary list of collect mode.  Arcs run counter-clockwise
// from startAngle to endAngle (radians); an elliptic arc likewise from its
// start to its end parameter.
struct DwgBoundaryCurve {
  bool arc = false;
  bool ellipse = false;
  drawingdb::Point3 start;  // a segment's end points
  drawingdb::Point3 end;
  drawingdb::Point3 center;  // an arc's centre, radius and angles
  double radius = 0;
  double startAngle = 0;
  double endAngle = 0;
  drawingdb::Point3 majorAxis;  // an elliptic arc's, relative to the centre
  double ratio = 1;             // minor to major axis, at most 1
};

// One text part of a text element.
struct DwgTextPart {
  std::string text;
  double height = 0;
  double widthFactor = 1.0;
  double angle = 0;  // radians
  std::string fontName;
  drawingdb::Point3 insertion;
};

// A dimension as the output step has it.  Points are the dimension's
// definition points in the order the transfer file gives them:
// - linear (kindCode & 7 == 1): the two measured points, then a point on
//   the dimension line;
// - diameter (2) and radius (3): the centre, a point on the circle, and
//   optionally the point the text stands at;
// - angles (0, 4, 6) and arc length (5): the vertex, a point on each leg,
//   and optionally a point on the dimension arc (else the first leg's).
struct DwgDimension {
  int kindCode = 1;
  int orientation = 0;  // linear: 1 horizontal, 2 vertical, 0 along the measured points
  double angle = 0;     // linear, free: the dimension line's direction when the points meet (radians)
  std::vector<drawingdb::Point3> points;
  std::string text;  // the text shown; empty: the measurement
};

// A hatch of a plane part; its boundary is the boundary list of collect
// mode.
struct DwgHatch {
  int hatchKind = 0;     // 0 solid fill, 1 single hatching, 2 cross hatching
  double spacing = 0;    // of the hatch lines
  double angle = 0;      // of the hatch lines, radians
  int fillValue = 1;     // solid fill: positive a visible fill, else a hidden one
};

class DwgOut : public DwgBase {
 public:
  // The file format of the save: 0 DWG (-dwgout), 1 DXF (-dxfout).
  enum SaveType { kSaveDwg = 0, kSaveDxf = 1 };
  // Within this distance a circle element's start and end meet: a full circle.
  static constexpr double kFullCircleGap = 0.0001;
  static constexpr char kAuditReport[] = "/tmp/Audit_report.txt";
  // The identification text the database carries.
  static constexpr char kIdentification[] = "TROVAK_IGES";

  DwgOut();

  // The release of an -acad<ver> file version (1015 for AC1015); -1 (no
  // -acad given) or an unknown one: Release 2000.
  static drawingdb::Release releaseOfVersion(int fileVersion);

  // Start-up: a new database of the release with the start-up data's
  // linetypes, layers and text style, counters and collect mode cleared.
  int startUp(drawingdb::Release release, SaveType saveType, const DwgStartData& start);

  int extents(double xmin, double ymin, double xmax, double ymax);
  int line(const drawingdb::Point3& start, const drawingdb::Point3& end, const DwgElementAttributes& element);
  // A circle element from its centre, start and end point: a full circle
  // when start and end meet, else the counter-clockwise arc between them.
  int circleArc(const drawingdb::Point3& center, const drawingdb::Point3& start, const drawingdb::Point3& end,
                const DwgElementAttributes& element);
  // majorAxis: the end of the major axis relative to the centre; ratio:
  // minor to major (a ratio above 1 is turned into the same ellipse about
  // its other axis); parameters in radians.
  int ellipse(const drawingdb::Point3& center, const drawingdb::Point3& majorAxis, double ratio,
              double startParameter, double endParameter, const DwgElementAttributes& element);
  int point(const drawingdb::Point3& location, const DwgElementAttributes& element);
  // A 2D polyline through the points (at least two), closed back to the
  // first when `closed`; in collect mode its segments join the boundary
  // list.
  int polyline(const std::vector<drawingdb::Point3>& points, bool closed, const DwgElementAttributes& element);
  // A B-spline of the given degree: knots = control points + degree + 1,
  // non-decreasing; weights empty or one positive weight per control point
  // (a spline whose weights are all equal is held as a plain one).  In
  // collect mode the curve joins the boundary list as line segments along
  // it.
  int spline(int degree, const std::vector<double>& knots, const std::vector<drawingdb::Point3>& controlPoints,
             const std::vector<double>& weights, const DwgElementAttributes& element);
  // A dimension entity showing the anonymous block `block` (a "*D" block
  // made by createBlock and filled with the dimension's drawing, closed
  // here when still open).  Without a block, or with an empty one, the
  // database draws the block from the dimension's points.  The name of the
  // block shown goes to `made`.
  int dimension(const DwgDimension& dimension, const std::string& block, const DwgElementAttributes& element,
                std::string* made = nullptr);
  // A hatch over the boundary list, which it empties: the collected
  // curves are chained end to start (either way round) into loops, the
  // first loop the outer boundary, the others islands; curves that close
  // no loop are left out.  -1 when no loop closes or the pattern is
  // unusable.
  int hatch(const DwgHatch& hatch, const DwgElementAttributes& element);
  // One text entity per part.  textWidthFactor: the run configuration's
  // (used when > 0); senderCode 4 keeps the part's own width factor, any
  // other takes 0.66.
  int text(const std::vector<DwgTextPart>& parts, const DwgElementAttributes& element,
           double textWidthFactor, int senderCode);

  // Blocks: "*x..." and "*d..." (any case) make an anonymous "*D<n>"
  // block, any other name is corrected and gets "_<block counter>".  The
  // block is filled until closeBlock, which returns to the block that was
  // being filled before (a group's block holding a dimension's block), or
  // to model space.  Returns 0 (the name made in `made`), -1 for an empty
  // name.
  int createBlock(const std::string& name, std::string* made = nullptr);
  int closeBlock();
  // The layer of the block being filled (its BLOCK entity), added to the
  // layer table when missing.  -1 outside a block or for an empty name.
  int setBlockLayer(const std::string& layer);
  bool inBlock() const { return !openBlocks_.empty(); }
  // An insert of the block `name` (made by createBlock and closed) at
  // `insertion`, scaled by `scale` in x and y, into the block being filled
  // or model space.  -1 when there is no such block, it is still open, or
  // the values are not finite.
  int insert(const std::string& name, const drawingdb::Point3& insertion, double scale,
             const DwgElementAttributes& element);
  // The next number of a dimension block name "*D%d".
  int nextDimensionBlockNumber() { return ++dimensionBlockCounter_; }

  // Collect mode: while on, lines, circles, ellipses and splines are
  // appended to the boundary list instead of becoming entities.
  void setCollect(bool on) { collect_ = on; }
  bool collecting() const { return collect_; }
  const std::vector<DwgBoundaryCurve>& boundary() const { return boundary_; }
  void clearBoundary() { boundary_.clear(); }

  // Audits the database, writes the audit report and saves the file; 0, or
  // -1 when the file could not be written (no file is left then).
  int saveFile(const std::string& path);
  // The same with the report written elsewhere (tests).
  int saveFile(const std::string& path, const std::string& reportPath);

  SaveType saveType() const { return saveType_; }

 private:
  drawingdb::BlockRecord& currentBlock();
  int add(drawingdb::Entity entity, const DwgElementAttributes& element, int kind);
  // Colour, linetype, line weight and layer of a new entity of the kind
  // (DwgKind) for the element's attributes.
  void setAttributes(const DwgElementAttributes& element, int kind, drawingdb::EntityCommon& common);
  std::string styleFor(const std::string& fontName);

  SaveType saveType_ = kSaveDxf;
  // The blocks being filled, innermost last (indices into the block list).
  std::vector<std::size_t> openBlocks_;
  bool collect_ = false;
  std::vector<DwgBoundaryCurve> boundary_;
  int blockCounter_ = 0;
  int dimensionBlockCounter_ = 0;
  int anonymousBlockNumber_ = 0;  // the highest "*D<n>" given so far

  // The attributes chosen for each distinct set of element attributes and
  // kind.  The mapping is settled before start-up (the parameter file is
  // read first), and the layer and linetype records a choice makes stay, so
  // one choice serves every later entity of the same set; a drawing holds
  // few sets.  A choice that gave a message is not kept: the message comes
  // with every entity, as it would without the choices.
  struct AttributeKey {
    int kind;
    int colour;
    int lineStyle;
    int lineWidth;
    std::string layerName;
  };
  struct AttributeKeyLess {
    using is_transparent = void;
    template <class A, class B>
    bool operator()(const A& a, const B& b) const {
      return std::tie(a.kind, a.colour, a.lineStyle, a.lineWidth) < std::tie(b.kind, b.colour, b.lineStyle, b.lineWidth) ||
             (std::tie(a.kind, a.colour, a.lineStyle, a.lineWidth) == std::tie(b.kind, b.colour, b.lineStyle, b.lineWidth) &&
              std::string_view(a.layerName) < std::string_view(b.layerName));
    }
  };
  struct AttributeChoice {
    std::int32_t colour;
    std::int32_t lineweight;
    drawingdb::Name linetype;
    drawingdb::Name layer;
  };
  std::map<AttributeKey, AttributeChoice, AttributeKeyLess> attributeChoices_;
};

// The one database builder of the run.
DwgOut& dwgOut();
