// The non-entity objects of DWG files of R13, R14 and 2000: the control
// objects of the symbol tables, the table records (block records, layers,
// text styles, linetypes, views, UCSs, viewports, applications, dimension
// styles, viewport entity records), dictionaries, layouts, multiline
// styles, groups, xrecords, placeholders and dictionary variables.
//
// Reading fills a Database: control objects give the tables their handles
// and the order of their records, records become Record<R> or BlockRecord,
// objects become Object.  Values the database does not model are kept as
// the DXF groups a DXF file of the same drawing holds (a record's extra
// groups, an unknown object's groups), so DXF and DWG readers fill the
// database alike and a DWG writer finds them again.  Objects of kinds not
// understood keep their bits and are written back unchanged to a file of
// the release they came from.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "drawingdb/dimstyle_forms.h"
#include "drawingdb/dwg_objects.h"
#include "drawingdb/model.h"

namespace drawingdb {

// Reads the non-entity objects of one file into a database.  Objects come
// in any order; finish() then puts records in the order their control
// objects list them and turns the handles records hold of other records
// into the names the database links by.  Handles are not entered in the
// database's index (the caller reindexes when every object is in).
class DwgRecordReader {
 public:
  explicit DwgRecordReader(Database& db) : db_(db) {}

  // One object whose frame has been read up to its type data (a kind
  // numbered by a class is named through the context).  A damaged object
  // answers with a Status and leaves nothing behind; kinds not understood
  // are kept with their bits.
  Status read(DwgObjectIn& in, DwgReadContext& ctx);
  // After the last object.
  void finish(DwgReadContext& ctx);

  // Where the entities of a block begin and end (the chain walk starts
  // here); first and last are 0 for an empty block.
  struct BlockChain {
    Handle record = 0;
    std::size_t block = 0;  // index in Database::blocks
    Handle first = 0;
    Handle last = 0;
    std::vector<Handle> owned{};  // 2004 on: every entity, in order (no chain)
    std::vector<Handle> inserts;  // 2000: the inserts that name the block
  };
  const std::vector<BlockChain>& blockChains() const { return chains_; }

 private:
  struct Control {
    std::vector<Handle> entries;
    std::vector<Handle> special;  // spaces of the block table, BYBLOCK/BYLAYER
  };
  Database& db_;
  std::unordered_map<std::int16_t, Control> controls_;
  std::vector<BlockChain> chains_;
  // A multiline style's line names its linetype by position among the
  // linetype table's entries (from 2018 on by handle): the object, its
  // tag, the position.
  struct MlineLinetype {
    std::size_t object;
    std::size_t tag;
    std::int32_t index;
    Handle record = 0;  // 2018: the linetype by handle instead
  };
  std::unordered_map<Handle, Handle> layerLinetypes_;  // layer record -> linetype record
  std::vector<MlineLinetype> mlineLinetypes_;
};

// Writes the non-entity objects of a database, one frame at a time.
class DwgRecordWriter {
 public:
  // `db` stays unchanged while the writer lives; its index must be up to
  // date (Database::reindex).
  explicit DwgRecordWriter(const Database& db);

  // The frame data (from the type number to the padded end of the handle
  // stream) of what `h` names: a table (its control object), a record, a
  // block record, or an object.  `owner` of tables and records is found in
  // the database.
  Status write(Handle h, DwgWriteContext& ctx, std::string& frame) const;
  // An empty VX control object (the database has no such table).
  static Status writeVxControl(Handle h, DwgWriteContext& ctx, std::string& frame);
  // Whether write() writes the object to a file of release `r`: layouts,
  // plot style dictionaries and placeholders are 2000 only, objects kept
  // with their bits go back to files of their own release.  (A writer
  // leaves the others out, and dictionaries leave out entries naming them.)
  bool writes(const Object& o, Release r) const;

 private:
  bool isMlineStyleDictionary(Handle h) const;

  const Database& db_;
  ArrowBlocks arrows_;
  std::unordered_map<std::string, std::vector<Handle>> insertsOf_;  // folded block name -> inserts
};

// A table record's name as R13 and R14 hold it: upper case, characters
// outside letters, digits, `_ $ -` and a leading `*` replaced by `_`.
std::string dwgR14Name(std::string_view name);

}  // namespace drawingdb
