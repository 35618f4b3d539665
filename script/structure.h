// Structure statements of the KPL script: groups (associativities, labels
// and symbols written as groups), the brackets of dissolved subfigures, the
// symbol objects of labels and general symbols, and the symbol models of
// subfigure definitions with their instances.
//
// Every operation returns 0 on success and -1 on failure (an allocation
// failure reports error 370 under the operation's code); the forms that
// write a label or a symbol as a group return -88 when the group was
// written.  All of them write through the one stream of the writer core.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "script/geometry.h"
#include "script/script_writer.h"

// A group of objects already written (IGES associativity 402, a dissolved
// block, the parts of a label or symbol).
struct ScriptGroupRecord {
  std::string name;
  // Element numbers of the members' objects, in member order.
  std::vector<std::int32_t> members;
  ScriptPointXYZ reference;  // the group's reference point, before the matrix
  std::int32_t level = 0;
  ScriptAttributes attributes;  // colour number and blank status
  std::string layerName;        // DXF/DWG input: the group's layer, or ""
  ScriptElementData data;       // directory data for the info block
};

// One string of a note (IGES 212).
struct ScriptNoteString {
  std::string text;
  double height = 0.0;
  double angle = 0.0;  // radians
  ScriptPointXYZ position;  // start point of the string
};

// A general label (IGES 210): three leader points and the first string of
// its note.  A label with members is written as a group of them.
struct ScriptLabelRecord {
  ScriptPointXYZ leader[3];
  ScriptNoteString note;
  std::vector<std::int32_t> members;  // objects already written for its parts
  std::int32_t level = 0;
  ScriptAttributes attributes;
  std::string layerName;
  ScriptElementData data;
  // The view being converted, when there is one: its scale enlarges the
  // label's text (not for sending system 7).
  bool viewCurrent = false;
  double viewScale = 1.0;
};

// A general symbol (IGES 228): the symbol's name, the strings of its note,
// two anchor points and a direction triple.  A symbol with members is
// written as a group of them.
struct ScriptSymbolRecord {
  std::string name;
  std::vector<ScriptNoteString> strings;
  ScriptPointXYZ anchor[2];
  double direction[3] = {0.0, 0.0, 0.0};
  std::vector<std::int32_t> members;
  std::int32_t level = 0;
  ScriptAttributes attributes;
  std::string layerName;
  ScriptElementData data;
};

// An instance of a subfigure definition (IGES 408, a DXF/DWG insert).  The
// definition is placed as
//   p' = position + scale * Rot(angle) * M * p
// with M the mirror x -> -x when `mirrored` is set, else the identity.  A
// matrix handed to ScriptSymbolInstance moves the position and adds its own
// rotation, scale and mirroring.
struct ScriptInstanceRecord {
  std::string definition;  // name of the definition's symbol model
  ScriptPointXYZ position;
  double angle = 0.0;  // degrees
  double scale = 1.0;
  bool mirrored = false;
  std::int32_t level = 0;
  std::string layerName;
  ScriptElementData data;
};

// Brackets around the elements of a dissolved subfigure: with edxOut the
// script gets DTStartGroup/DTEndGroup, otherwise nothing is written.
int ScriptSubfigureBegin(int depth, const std::string& name);  // ses497
int ScriptSubfigureEnd(int depth, const std::string& name);    // ses498

// "E<n>=DTCreateGroup (...)" over the members; with graphicInfoMode 2 the
// reference point becomes a member named "GRP_REFPK", with any non-zero
// graphicInfoMode the group gets its reference point as attributes.
// Nothing is written with edxOut (0); -1 for a group without members.
int ScriptGroup(std::int32_t index, const ScriptGroupRecord& group, const ScriptMatrix* m,
                std::vector<std::int32_t>& created);  // ses500
// An associativity of a type the converter does not know, written as a
// group "Unknown(<type>)<index>"; -88 when written.
int ScriptUnknownAssociativity(std::int32_t index, const ScriptGroupRecord& group, const ScriptMatrix* m,
                               std::vector<std::int32_t>& created);  // ses499

// "E<n>=DTCreateSymbolComment(...)", or with members a group "Label<index>" (-88).
int ScriptLabel(std::int32_t index, const ScriptLabelRecord& label, const ScriptMatrix* m,
                std::vector<std::int32_t>& created);  // ses465
// "E<n> = DTCreateSymbolForm (...)", or with members a group "Symbol<index>" (-88).
int ScriptSymbolForm(std::int32_t index, const ScriptSymbolRecord& symbol, const ScriptMatrix* m,
                     std::vector<std::int32_t>& created);  // ses650
// The header text and the lines of a symbol's strings, as the symbol
// statement writes them (the rule depends on the sending system).
void scriptSymbolTexts(const std::vector<ScriptNoteString>& strings, std::string& header,
                       std::vector<std::string>& lines);

// Symbol models.  `levels` are the levels the model defines: those of a
// subfigure definition's members, or of the main model's elements.
int ScriptModelNew(const std::string& name, const std::vector<std::int32_t>& levels);  // ses600
int ScriptModelSave(const std::string& name);                                         // ses620
int ScriptModelCreate(const std::vector<std::int32_t>& levels);                       // ses600
// Where the symbol models are saved ("" the current directory); instances
// name their model file "<directory>/<definition>".
void ScriptSetSymbolModelDirectory(const std::string& directory);
int ScriptSymbolInstance(std::int32_t index, const ScriptInstanceRecord& instance, const ScriptMatrix* m,
                         std::vector<std::int32_t>& created);  // ses640

// Back to the state at the start of a run (the symbol-model directory).
void resetScriptStructureState();
