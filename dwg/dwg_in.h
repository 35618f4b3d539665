// The drawing reader of -dxfin and -dwgin: DwgIn loads a drawing into a
// database of the drawing database toolkit and turns its entities into
// elements of the element table (the entity mapper, entity_mapper.h), so
// that the run continues as an IGES input run.
//
// ReadFile walks the block table twice: the first pass counts what the
// layout blocks (*MODEL_SPACE, *PAPER_SPACE, in any case) would make and
// sizes the table with it; the second maps paper space into the first
// drawing, each further layout into a drawing of its own, model space at
// the top, and every other block into a subfigure definition (the blocks
// that draw a dimension go with their dimension).
// Inserts are linked to their blocks at the end; a block that inserts
// itself, directly or through others, is reported and not followed.
// Entity kinds no IGES entity carries are counted and reported once per
// kind with their count.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "dwg/dwg_out.h"

// A layer of the drawing read, for the script's layer table: the level of
// an element is its layer's position.
struct DwgInLayer {
  std::string name;  // the Telvura layer assigned by the parameter file, else the drawing's name
  std::int32_t number = 0;
  bool off = false;
  int colour = 7;  // of the drawing
};

class DwgIn : public DwgBase {
 public:
  DwgIn();

  // Start-up of the input side: the attribute mapping's direction to
  // input, then the toolkit's start-up data from the program directory.
  // Without a program directory: the fatal keyed message "DwgIn::init"
  // and -1.  0, or -1 when the start-up fails (its message in the
  // program's own language, German when `german`).
  static int init(const std::string& programDirectory, bool german);

  // Loads the file and fills the element table (a fresh one).  0, or -1
  // after the keyed message "DwgIn::ReadFile_1" (the file cannot be
  // loaded) or "DwgIn::ReadFile_2" (no element made of model or paper
  // space).
  int ReadFile(const std::string& fileName);

  // The model scale of the run (1.0 from the second pass on).
  double modelScale() const { return modelScale_; }
  const std::vector<DwgInLayer>& layerList() const { return layerList_; }
  // Entities mapped and not carried, by DXF name (the last ReadFile).
  const std::map<std::string, long>& mapped() const { return mapped_; }
  const std::map<std::string, long>& notCarried() const { return notCarried_; }
  // Elements made of the layout blocks.
  long elementCount() const { return elementCount_; }
  // Inserts not followed because their block inserts itself.
  int selfInserts() const { return selfInserts_; }

 private:
  double modelScale_ = 1.0;
  std::vector<DwgInLayer> layerList_;
  std::map<std::string, long> mapped_;
  std::map<std::string, long> notCarried_;
  long elementCount_ = 0;
  int selfInserts_ = 0;
};

// The one reader of the run.
DwgIn& dwgIn();
