// Assignment tables of the installation: tuning values and the mappings of
// line styles, colours, leaders, colour definitions and DXF line types
// between the target CAD system and the exchange formats.  The files lie in
// the assignment directory of the run (runPaths().assignDir).
#pragma once

#include <array>
#include <cstddef>
#include <cstdio>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

constexpr int kLineStylePairs = 64;
constexpr int kColourListCount = 9;
constexpr int kColourListLength = 256;
constexpr int kLeaderPairs = 11;

// Values of "global.cfg"; the defaults stay where a key is missing or out
// of range.
struct GlobalValues {
  double systemEpsilon = 0.0001;         // ALLG_SYST_EPSL
  double minimumResolution = 0.0001;     // MINM_RESO_WERT
  int maxArcInterpolation = 16;          // MAXM_KRBG_ITPO (2..128)
  double hyperbolaFactor = 1.0;          // HYPB_ITPO_FAKT
  double parabolaFactor = 1.5;           // PARB_ITPO_FAKT
  double splineFactor = 1.0;             // MAXM_SPLI_FAKT
  double heightThicknessFactor = 1.0;    // HOEH_DICK_FAKT
  long frame[5] = {0, 0, 0, 0, 0};       // ABMA, WIMA, BOMA, RAMA, DUMA _RAHM
  long textIndex[8] = {0, 0, 0, 0, 0, 0, 0, 0};  // TXTV..TXTS _INDX
  double slashAngle = 45.0;              // SLSH_WINK
  std::string textEscapes = "><#/";      // TEXT_ESCP_ZCHN
  std::string referencePointName = "BEZUGSPUNKT";  // BEZG_PNKT_NAME
  std::string emptyErrorText = "errormessage";     // LEER_FEHL_MELD
};

struct DxfLineType {
  std::string name;
  std::string description;
  int style = 1;  // the line style it serves (the third field)
  double patternLength = 0.0;
  std::vector<double> elements;  // dash (> 0), gap (< 0) and dot (0) lengths
};

struct ColourDefinition {
  std::string name;
  long red = 0, green = 0, blue = 0, number = 0;
};

// The assignment state of the run.
struct AssignTables {
  GlobalValues global;
  std::pair<long, long> lineStyles[kLineStylePairs];
  std::vector<long> colourLists[kColourListCount];
  long colourListNumber[kColourListCount] = {0, 1, 2, 3, 4, 5, 6, 7, 8};
  std::pair<long, long> leaders[kLeaderPairs];
  std::vector<ColourDefinition> colourDefinitions;
  std::vector<DxfLineType> dxfLineTypes;
  double lineWidthFactor = 1.0;
  // Colour triples (red, green, blue) already made into colour-definition
  // elements, with the element: a file may hold a pen of its own on every
  // element, so the lookup is by key, not by a walk over the list.
  std::map<std::array<long, 3>, int> madeColours;
};

AssignTables& assignTables();
// The system epsilon of the global values; 0.0001 when it is not positive.
inline double systemEpsilon() {
  const double e = assignTables().global.systemEpsilon;
  return e > 0.0 ? e : 0.0001;
}
void resetAssignTables();

// One line of at most `limit` characters (an installation table, the
// configuration file, a dialog answer), without its line end ("\n" or
// "\r\n"); the rest of a longer line is read away and `cut` says so.  False
// at the end of the file.
bool readTableLine(std::FILE* file, std::size_t limit, std::string& line, bool* cut = nullptr);

int readGlobalValues();       // zti100: "global.cfg"; 0, never fails for a missing file
int readLineStyles();         // zti200: "linestyle.cfg" (IGES runs)
int readColourLists();        // zti500: "color.cfg"; -1 when missing
int readLeaders();            // zti600: "leader.cfg" (IGES runs)
int readColourDefinitions();  // zti510: "farbtabelle.zuor"; -1 on memory failure
int readDxfLineTypes();       // zti201: "dxf_linetypes.zuor"
// zti300: the line-width factor.  The IGES input passes the global section's
// width of maximum line weight and its number of gradations once they are
// known; other runs call it with (0, 0) and get 1.0.
int readAssignments(double maxLineWidth = 0.0, long lineWeightGradations = 0);

int cadLineStyle(int n);       // zti220
int exchangeLineStyle(int n);  // zti240
int widthNumber(double width); // zti320
double widthOfNumber(int n);   // zti340

int colourListOf(int c);       // zti520

// Makes a colour-definition element (type 314, form 0) with red, green and
// blue in percent, the name and the colour number; returns its element
// index, or a negative number when it could not be made.
using MakeColourElement =
    std::function<int(long redPercent, long greenPercent, long bluePercent,
                      const std::string& name, long number)>;
// zti521: (colour list of the number, colour-definition element or -1/-2).
std::pair<int, int> colourDefinitionOf(long number, long red, long green, long blue,
                                       const std::string& name,
                                       const MakeColourElement& makeElement);

// Reads the red, green and blue of the colour-definition element at index;
// false when the index holds none.
using ColourOfElement = std::function<bool(int index, double& red, double& green, double& blue)>;
// Chooses the nearest palette colour (the IGES conversion's rule).
using NearestPaletteColour = std::function<int(double red, double green, double blue)>;
// zti540: c >= 0 a colour number of the exchange file; c < 0 a pointer to a
// colour-definition element, resolved through the two callbacks (0 when
// either is missing or the element holds no colour).
int cadColourOf(long c, const ColourOfElement& colourOf = nullptr,
                const NearestPaletteColour& nearest = nullptr);

// The CAD system's arrow kind of a leader form of the exchange file: the
// kind of the first leader pair whose value is v; 1 without one.
int leaderKindOf(long v);  // zti620
