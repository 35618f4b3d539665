#include "dwg/start_data.h"

#include <sys/stat.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <unordered_set>

#include "dwg/out_para.h"
#include "support/run_state.h"
#include "support/trace.h"

namespace {

using Arguments = std::vector<std::string>;

struct Checked {
  DwgStartProblem& problem;
  long line;
  bool fail(int message) {
    problem = {message, line};
    return false;
  }
};

// Names compare without regard to ASCII case, as the drawing's tables do.
std::string upper(const std::string& name) {
  std::string u = name;
  for (char& c : u)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return u;
}

// The names given so far, upper-cased.
struct Names {
  std::unordered_set<std::string> linetypes;
  std::unordered_set<std::string> layers;
};

// A whole argument read as a finite real within [least, most].
bool realOf(const std::string& text, double least, double most, double& value) {
  if (text.empty()) return false;
  errno = 0;
  char* end = nullptr;
  const double v = std::strtod(text.c_str(), &end);
  if (errno != 0 || end == text.c_str() || *end != '\0' || !std::isfinite(v)) return false;
  if (v < least || v > most) return false;
  value = v;
  return true;
}

bool integerOf(const std::string& text, long least, long most, long& value) {
  if (text.empty()) return false;
  errno = 0;
  char* end = nullptr;
  const long v = std::strtol(text.c_str(), &end, 10);
  if (errno != 0 || end == text.c_str() || *end != '\0' || v < least || v > most) return false;
  value = v;
  return true;
}

// A name of a table record: present, not too long, without control bytes.
bool goodName(const std::string& name) {
  if (name.empty() || name.size() > DwgStart::kNameLength) return false;
  for (char c : name)
    if (static_cast<unsigned char>(c) < 0x20) return false;
  return true;
}

// linetype <name> ["<description>" [<dash> ...]]
bool readLinetype(const Arguments& a, std::size_t count, DwgStartData& data, Names& names, Checked& c) {
  if (count < 1 || count > 2 + DwgStart::kMostDashes) return c.fail(DwgStartMessage::kArgumentCount);
  DwgStartLinetype linetype;
  linetype.name = a[0];
  if (count > 1) linetype.description = a[1];
  if (!goodName(linetype.name) || names.linetypes.count(upper(linetype.name)) != 0 ||
      linetype.description.size() > DwgStart::kDescriptionLength)
    return c.fail(DwgStartMessage::kBadName);
  for (std::size_t i = 2; i < count; ++i) {
    double length = 0;
    if (!realOf(a[i], -DwgStart::kLongestDash, DwgStart::kLongestDash, length))
      return c.fail(DwgStartMessage::kBadValue);
    linetype.dashes.push_back(length);
  }
  names.linetypes.insert(upper(linetype.name));
  data.linetypes.push_back(std::move(linetype));
  return true;
}

// layer <name> <colour 1..255> <linetype>
bool readLayer(const Arguments& a, std::size_t count, DwgStartData& data, Names& names, Checked& c) {
  if (count != 3) return c.fail(DwgStartMessage::kArgumentCount);
  DwgStartLayer layer;
  layer.name = a[0];
  if (!goodName(layer.name) || names.layers.count(upper(layer.name)) != 0) return c.fail(DwgStartMessage::kBadName);
  long colour = 0;
  if (!integerOf(a[1], 1, 255, colour)) return c.fail(DwgStartMessage::kBadValue);
  layer.colourIndex = static_cast<int>(colour);
  layer.linetype = a[2];
  // CONTINUOUS is in every drawing; any other linetype is one of this file.
  if (upper(layer.linetype) != "CONTINUOUS" && names.linetypes.count(upper(layer.linetype)) == 0)
    return c.fail(DwgStartMessage::kUnknownLinetype);
  names.layers.insert(upper(layer.name));
  data.layers.push_back(std::move(layer));
  return true;
}

// textstyle <name> <font> <width factor> <fixed height>
bool readTextStyle(const Arguments& a, std::size_t count, DwgStartData& data, bool& seen, Checked& c) {
  if (count != 4) return c.fail(DwgStartMessage::kArgumentCount);
  if (seen || !goodName(a[0]) || !goodName(a[1])) return c.fail(DwgStartMessage::kBadName);
  DwgStartStyle style;
  style.name = a[0];
  style.font = a[1];
  if (!realOf(a[2], 0.01, 100.0, style.widthFactor) || !realOf(a[3], 0.0, 1.0e6, style.height))
    return c.fail(DwgStartMessage::kBadValue);
  data.textStyle = std::move(style);
  seen = true;
  return true;
}

bool lowerEquals(const std::string& word, const char* keyword) {
  std::size_t i = 0;
  for (; i < word.size() && keyword[i] != '\0'; ++i) {
    char w = word[i];
    if (w >= 'A' && w <= 'Z') w = static_cast<char>(w - 'A' + 'a');
    if (w != keyword[i]) return false;
  }
  return i == word.size() && keyword[i] == '\0';
}

}  // namespace

bool DwgStart::parse(std::string_view text, DwgStartData& data, DwgStartProblem& problem) {
  TraceScope t("DwgStart::parse");
  problem = {};
  if (text.size() > kMostBytes) {
    problem = {DwgStartMessage::kTooLarge, 0};
    return false;
  }
  bool styleSeen = false;
  Names names;
  std::size_t entries = 0;
  long number = 0;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string line(text.substr(start, end - start));
    start = end + 1;
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    Checked c{problem, number};
    if (line.size() > kLineLength) return c.fail(DwgStartMessage::kLineTooLong);
    const DwgOutPara::Line words = DwgOutPara::SplitLine(line);
    if (words.keyword.empty() || words.keyword[0] == '#' || words.keyword.rfind("//", 0) == 0) continue;
    if (++entries > kMostEntries) return c.fail(DwgStartMessage::kTooLarge);
    // Quoted parts count as arguments; their number is kept apart from the
    // arguments held, which are bounded.
    if (words.count > words.arguments.size()) return c.fail(DwgStartMessage::kArgumentCount);
    bool good = false;
    if (lowerEquals(words.keyword, "linetype"))
      good = readLinetype(words.arguments, words.count, data, names, c);
    else if (lowerEquals(words.keyword, "layer"))
      good = readLayer(words.arguments, words.count, data, names, c);
    else if (lowerEquals(words.keyword, "textstyle"))
      good = readTextStyle(words.arguments, words.count, data, styleSeen, c);
    else
      good = c.fail(DwgStartMessage::kUnknownKeyword);
    if (!good) return false;
  }
  return true;
}

std::string DwgStart::pathIn(const std::string& programDirectory) {
  std::string dir = programDirectory.empty() ? std::string("./") : programDirectory;
  if (dir.back() != '/') dir += '/';
  return dir + "ririzidedareru/" + kFileName;
}

int DwgStart::load(const std::string& path, DwgStartData& data, DwgStartProblem& problem) {
  TraceScope t("DwgStart::load");
  problem = {};
  // Only a plain file is read: a device or a pipe would never end.
  struct stat status {};
  if (::stat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) return -1;
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return -1;
  // One byte beyond the bound tells a file that is too large.
  std::string text;
  char buffer[4096];
  bool failed = false;
  while (text.size() <= kMostBytes) {
    const std::size_t got = std::fread(buffer, 1, sizeof buffer, file);
    text.append(buffer, got);
    if (got < sizeof buffer) {
      failed = std::ferror(file) != 0;
      break;
    }
  }
  std::fclose(file);
  if (failed) return -1;
  return parse(text, data, problem) ? 0 : -2;
}

namespace {
DwgStartData& startDataState() {
  static DwgStartData state;
  return state;
}

const RunStateRegistrar kRunStateRegistered("DWG start-up data", [] { startDataState() = DwgStartData(); });
}  // namespace

DwgStartData& dwgStartData() { return startDataState(); }
