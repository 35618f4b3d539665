// The program's own plain DXF writer (-dxf12out).
//
// The comment, HEADER, TABLES, BLOCKS and ENTITIES sections are gathered in
// memory, each in pieces that are never copied as it grows, and written
// into the output file at the end, in that order, with one pass over each.
// Entities are written while the element loop runs; every entity's layer
// is registered in the layer list, and the TABLES section (line types and
// layers) is written at the end, once every layer used is known.  The
// output file appears under its name only when it is complete (see
// support/output_file.h); no other file is made.
//
//   resetDxfWriter()
//   startDxfSections()
//   writeDxfComment()
//   ... dxfWritePoint / dxfWriteLine / dxfWriteArc / dxfWriteLineBlock ...
//   finishDxfOutput(extents, outputName): HEADER, TABLES, section ends, output
//
// Every record is a group-code line and a value line, each ended by "\n";
// reals are written "%.8f".
#pragma once

#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// One layer: a pair (line style, width) and the line type it draws with.
struct DxfLayer {
  std::string name;  // "L<style>S<width as an integer>"
  std::int32_t lineStyle = 0;
  double width = 0.0;
  std::string lineType;
};

// Layers are found by line style and the width's integer part, the two
// things their name is made of, so two layers never share a name.
struct DxfLayerList {
  std::vector<DxfLayer> layers;  // in order of first use
  std::map<std::pair<std::int32_t, long>, std::size_t> index;
  // The layer found last: entities in a row mostly share their layer.
  std::pair<std::int32_t, long> lastKey;
  std::size_t last = 0;
  bool lastKnown = false;
};

enum DxfSection { kDxfStart, kDxfHeader, kDxfTables, kDxfBlocks, kDxfEntities, kDxfSectionCount };

// The text of one section, in pieces: each new piece is about as large as
// the text before it (up to a bound), so the text grows without copies and
// with little room unused.  Large pieces are advised to large pages
// (support/large_pages.h); they come from the heap, so that they take up
// memory the loading of the drawing gave back.
class DxfSectionText {
 public:
  DxfSectionText() = default;
  DxfSectionText(const DxfSectionText&) = delete;
  DxfSectionText& operator=(const DxfSectionText&) = delete;
  DxfSectionText(DxfSectionText&& other) noexcept;
  DxfSectionText& operator=(DxfSectionText&& other) noexcept;
  ~DxfSectionText() { release(); }

  // Throws std::bad_alloc when memory runs out.
  void append(std::string_view text);

  std::size_t size() const { return size_; }
  std::size_t pieceCount() const { return pieces_.size(); }
  std::string_view piece(std::size_t i) const { return {pieces_[i].text, pieces_[i].size}; }
  // The memory the pieces take.
  std::size_t capacity() const;
  std::string joined() const;
  // Hands the pieces in order to `write` (bool(std::string_view)) until one
  // fails, giving back each piece's memory once it is written; the text is
  // empty afterwards.  Whether every piece was written.
  template <class Write>
  bool writeOut(Write&& write) {
    bool written = true;
    for (Piece& p : pieces_) {
      written = written && write(std::string_view(p.text, p.size));
      giveBack(p);
    }
    release();
    return written;
  }
  // Empties the text and gives its memory back.
  void release();

 private:
  struct Piece {
    char* text = nullptr;
    std::size_t size = 0;
    std::size_t capacity = 0;
  };
  static void giveBack(Piece& piece);
  // Room for `most` bytes at the end of the text; throws std::bad_alloc.
  char* room(std::size_t most);

  std::vector<Piece> pieces_;
  std::size_t size_ = 0;
};

struct DxfWriterState {
  DxfSectionText sections[kDxfSectionCount];
  DxfLayerList layerList;
  std::int32_t blockNumber = 0;  // the last "*X<n>" handed out
  bool failed = false;           // memory for a section ran out
  std::string group;             // the group being written (kept for its room)
};

DxfWriterState& dxfWriter();
// Forgets the sections of a former run, empties the layer list.
void resetDxfWriter();

// The drawing extents written as the limits of the HEADER section.
struct DxfExtents {
  double xmin = 0.0, ymin = 0.0, xmax = 0.0, ymax = 0.0;
};

// Starts the five sections and writes the section heads of BLOCKS and
// ENTITIES.  0, or -1 when memory runs out.
int startDxfSections();

// The layer of an entity: looked up by (line style, width), made when new,
// and its group "  8\n<name>\n" written to the section.
int dxfLayerOf(DxfSection section, std::int32_t lineStyle, double width);  // dxf105
// The layer name a (line style, width) pair gets.
std::string dxfLayerName(std::int32_t lineStyle, double width);

int writeDxfComment();  // sse100: the two comment groups of the start of the file
// HEADER section with the limits; `decimals` the digits after the point.
int writeDxfHeader(const DxfExtents& extents, int decimals);  // gte100
// TABLES section: LTYPE from the run's DXF line types, LAYER from the list.
int writeDxfTables();  // gte110, dxf150

// Entities, each on the layer of its line style and width.
int dxfWritePoint(double x, double y, std::int32_t lineStyle, double width);  // vds200
int dxfWriteLine(const double start[3], const double end[3], std::int32_t lineStyle,
                 double width);  // vds240
// A full circle (fullCircle true, angles ignored) or an arc from
// startAngle to endAngle in degrees.
int dxfWriteArc(double centreX, double centreY, double radius, bool fullCircle,
                double startAngle, double endAngle, std::int32_t lineStyle,
                double width);  // vds280
// An element drawn as a block "*X<n>" of line segments (x1, y1, x2, y2),
// with its INSERT in the entities.
struct DxfSegment {
  double x1 = 0.0, y1 = 0.0, x2 = 0.0, y2 = 0.0;
};
int dxfWriteLineBlock(const std::vector<DxfSegment>& segments, std::int32_t lineStyle,
                      double width);  // vds300

// Digits after the point of the limits: the run's _PREC when set (0..16),
// else 8.
int dxfLimitDecimals();

// Ends the BLOCKS and ENTITIES sections, writes HEADER and TABLES and
// writes the sections into `outputName` in the order comment, HEADER,
// TABLES, BLOCKS, ENTITIES, ending with the EOF marker.  0, or -4 after an
// error: 980 when memory for a section ran out, 1301 when the output cannot
// be made, 1300 when writing it failed (no output file is left then).
int finishDxfOutput(const DxfExtents& extents, const std::string& outputName);  // stt100
