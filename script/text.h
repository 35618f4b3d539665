// Text statements of the KPL script: one note (an IGES general note, or a
// text entity of the DXF and DWG inputs) becomes one text statement per
// string, a text block for stacked notes, a rotated local world for
// vertical text and a mirror construction for mirrored text.  The rule
// that makes any text fit for a KPL string literal lives here too; the
// dimension and symbol writers use it as well.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "script/geometry.h"
#include "script/script_writer.h"

// One string of a note.
struct ScriptTextString {
  std::int32_t characterCount = 0;
  double boxWidth = 0.0;   // model units
  double boxHeight = 0.0;  // model units
  std::string fontName;    // "" when the string names no font
  int fontCode = 1;        // the font whose table translates the characters
  double angle = 0.0;      // radians
  int mirror = 0;          // 0 none, 1 about the base line's normal, other about the base line
  int vertical = 0;        // 1 characters stacked vertically
  int anchor = 1;          // 1..9, see scriptAnchorName
  ScriptPointXYZ start;
  bool hasText = true;     // false: a string record without text
  std::string text;        // as in the exchange file
  bool rejected = false;   // the note conversion's content check rejected it
  bool ownWidthFactor = false;  // the record carries its own width factor
};

// A note: its attributes and strings.
struct ScriptNoteRecord {
  int form = 0;  // 2 embedded font changes, 6 multi-line stack
  std::int32_t level = 0;
  ScriptAttributes attributes;  // colour number and blank status
  std::string layerName;        // DXF/DWG input: the entity's layer, or ""
  ScriptElementData data;       // directory data for the info block
  std::vector<ScriptTextString> strings;
  // The view being converted, when there is one: its scale enlarges the
  // texts (not for sending system 7).
  bool viewCurrent = false;
  double viewScale = 1.0;
  // Toolkit directions: the DWG text factor (0 none).
  double dwgTextFactor = 0.0;
};

// The KPL name of an anchor code: "begint" .. "endv", "beginv" for any
// code outside 1..9.
const char* scriptAnchorName(int anchor);

// The text made fit for a KPL string literal (without the quotes): '"' and
// '\' escaped, '$', control bytes and bytes above 126 as "@ddd", a lone '@'
// inside the text doubled.  At most four times as long as the input.
std::string ScriptQuoteText(std::string_view text);

// ses440: writes the note.  0, -1 on allocation failure (error 370), -99
// when the note has no strings, a string record has no text (the strings
// before it stay written) or the note lies outside the view's clip box.
int ScriptText(std::int32_t index, const ScriptNoteRecord& note, const ScriptMatrix* m,
               std::vector<std::int32_t>& created);
