// The program's own reader of ASCII DXF files (-dxf12in).
//
// A DXF file is a sequence of groups, each two text lines: the group code
// (a decimal integer) and the value.  The reader collects the groups of one
// entity in the group store (DxfGroups of dxf_store.h), in file order, then
// hands the entity by its name to the entity mapping (dxf_mapping.h), which makes one element-table
// record of the IGES kind the conversion engine knows.  The HEADER section
// gives the file version and the defaults of texts and dimensions, the
// TABLES section the line types, layers, dimension styles and text styles,
// the BLOCKS section the block definitions (308) whose entities become
// their sons, and the ENTITIES section the drawing itself.  After reading,
// linkBlocks ties the inserts and dimensions to their blocks.
//
// Everything read comes from outside: lines end with LF, CR LF or a lone
// CR; they are cut at 255 characters and texts at the length of their
// store field (each cut value is a warning), counts are bounded by the
// file's size, a group-code line that is not a number ends the entity with
// a warning, a block that inserts itself is reported and not linked, and a
// file that ends inside a section, inside an entity or without its end
// mark is an error naming the line where it ended (what was read is still
// converted).  Binary DXF files are recognised by their sentinel and left
// to the toolkit's reader.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "dxf_in/dxf_store.h"

// Longest line read; the rest of a longer line is read away.
constexpr std::size_t kDxfLineLength = 255;
// Store field sizes (characters kept of a group value).
constexpr std::size_t kDxfTextLength = 256;
constexpr std::size_t kDxfAppNameLength = 31;
constexpr std::size_t kDxfControlLength = 4;
constexpr std::size_t kDxfXLayerLength = 255;
// A binary chunk of extended data holds up to 127 bytes, written as two
// hexadecimal digits each.
constexpr std::size_t kDxfBinaryLength = 2 * 127;
constexpr std::size_t kDxfXHandleLength = 255;

// The first bytes of a binary DXF file.
constexpr char kDxfBinarySentinel[] = "AutoCAD Binary DXF\r\n\x1a";
constexpr std::size_t kDxfBinarySentinelLength = 22;  // with its closing NUL
static_assert(sizeof kDxfBinarySentinel == kDxfBinarySentinelLength);
// Cut values reported one by one; the further ones are counted and
// summed up in one note at the end of the file.
constexpr long kDxfCutValuesListed = 20;

// Attaches the open input file; the reader does not close it.
void dxfReaderAttach(std::FILE* file);

// true when the file (at its current position, which is kept) begins with
// the sentinel of a binary DXF file.
bool dxfIsBinary(std::FILE* file);

// scl520: one group into `out`: 0, -1 at the end of the file.  A group-code
// line that is not a number gives warning 978 and the reader moves on to
// the next line that holds the code 0: `out` is then that group (the next
// entity), as if the entity had ended.
int readGroup(DxfGroup& out);
// hvd500: appends one group to the group store; a value of extended data
// longer than its field (application name, control string, layer, binary
// chunk, handle) is cut to it with a warning.
void storeGroup(DxfGroups& store, const DxfGroup& group);
// hvd502: clears the group store and stores the groups up to the next code
// 0, which stays the reader's current group.  0, -1 at the end of the file.
int readEntityGroups();

// stt840: the HEADER section from the current position: 0 when the file
// begins with one (it is read), else -1.
int readHeader();
// The input driver's part of the reader: the sections TABLES, BLOCKS and
// ENTITIES in file order (others skipped), warnings 973, 974, 976 for the
// missing ones, then linkBlocks.  0, or -8 (error 977) when none was read.
int readDxfSections();
// stt847: the entity whose name is the current group, with the element
// `father` (a block, 0 in ENTITIES).  The new element, 0 for none.
std::int32_t readEntity(std::int32_t father);
// stt845: links inserts and dimensions to their blocks.
int linkBlocks();
// stt849: frees the tables and lists.
void releaseDxfReader();

// The reader run over a whole file from its start (header, sections,
// links), for the fuzz target and the benchmark: 0 or the reader's
// negative result.
int readDxfFile(std::FILE* file);
