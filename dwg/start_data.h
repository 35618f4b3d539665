// The start-up data of the toolkit directions: "DWGINIT.DAT" in the
// installation data tree (ririzidedareru/).  It holds what every new drawing
// of -dwgout and -dxfout starts with beyond the database's own defaults: the
// standard linetypes (name, description, dash pattern), the layers made at
// start (layer "0" among them, with colour and linetype) and the default
// text style (name, font, width factor, fixed height).  The file's own head
// comment describes its lines.
//
// The file is untrusted input: its size, line length and number of entries
// are bounded, every value is checked, and the first bad line ends the
// reading with a problem that names the line and what is wrong.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

struct DwgStartLinetype {
  std::string name;
  std::string description;
  std::vector<double> dashes;  // > 0 a dash, < 0 a gap, 0 a dot
};

struct DwgStartLayer {
  std::string name;
  int colourIndex = 7;  // 1..255
  std::string linetype;
};

struct DwgStartStyle {
  std::string name = "STANDARD";
  std::string font = "txt";
  double widthFactor = 1.0;
  double height = 0.0;  // 0: the height is given per text
};

struct DwgStartData {
  std::vector<DwgStartLinetype> linetypes;
  std::vector<DwgStartLayer> layers;
  DwgStartStyle textStyle;
};

// Why a start-up file was refused: the number of the message that says so
// (DwgStartMessage) and the line (0 for the file as a whole).
struct DwgStartProblem {
  int message = 0;
  long line = 0;
};

namespace DwgStartMessage {
constexpr int kUnknownKeyword = 1309;   // &t: the file, &i: the line
constexpr int kArgumentCount = 1310;    // &t: the file, &i: the line
constexpr int kBadValue = 1311;         // &t: the file, &i: the line
constexpr int kLineTooLong = 1312;      // &t: the file, &i: the line
constexpr int kBadName = 1313;          // &t: the file, &i: the line
constexpr int kUnknownLinetype = 1314;  // &t: the file, &i: the line
constexpr int kTooLarge = 1315;         // &t: the file, &i: the line
}  // namespace DwgStartMessage

class DwgStart {
 public:
  static constexpr char kFileName[] = "DWGINIT.DAT";
  static constexpr std::size_t kLineLength = 512;
  static constexpr std::size_t kMostBytes = 1 << 20;
  static constexpr std::size_t kMostEntries = 4096;
  static constexpr std::size_t kNameLength = 255;
  static constexpr std::size_t kDescriptionLength = 47;
  static constexpr std::size_t kMostDashes = 12;
  static constexpr double kLongestDash = 1.0e6;

  // Reads the contents of a start-up file into data (which starts empty);
  // false with the problem at the first bad line.
  static bool parse(std::string_view text, DwgStartData& data, DwgStartProblem& problem);

  // "<program directory>ririzidedareru/DWGINIT.DAT" ("./" for an empty
  // directory).
  static std::string pathIn(const std::string& programDirectory);

  // Reads the start-up file of that name into data.  -1 when it is missing,
  // not a plain file or unreadable (problem.message 0), -2 when its contents
  // are refused (problem set), else 0.
  static int load(const std::string& path, DwgStartData& data, DwgStartProblem& problem);
};

// The start-up data of the run, read by the toolkit's start.
DwgStartData& dwgStartData();
