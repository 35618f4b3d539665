#include "driver/statistics.h"

#include <algorithm>
#include <cctype>
#include <cstdarg>
#include <cstring>
#include <utility>

#include "elements/element_table.h"
#include "support/config.h"
#include "support/messages.h"
#include "support/run_state.h"
#include "support/trace.h"

namespace {

// Message numbers of the report.
constexpr int kMsgRunMode = 11;
constexpr int kMsgRunMode2 = 12;
constexpr int kMsgGlobalTitle = 21;
constexpr int kMsgGlobalFirst = 22;  // 22..45, one per global value
constexpr int kMsgElementTitle = 49;
constexpr int kMsgSectionTitle = 50;
constexpr int kMsgSectionHead = 51;
constexpr int kMsgElements = 62;
constexpr int kMsgConverted = 63;
constexpr int kMsgErrors = 64;
constexpr int kMsgDrawings = 65;
constexpr int kMsgViews = 66;
constexpr int kMsgSubfigures = 67;
constexpr int kMsgLevelTag = 68;
constexpr int kMsgNothing = 70;
constexpr int kMsgIgnored = 75;
constexpr int kMsgListEnd = 129;
constexpr int kMsgToolkitFirst = 655;
constexpr int kMsgNameTable = 899;
constexpr int kMsgToolkitSecond = 1106;
constexpr int kMsgTitle = 1200;
constexpr int kMsgIgesIn = 1201;
constexpr int kMsgIgesOut = 1202;
constexpr int kMsgDxfIn = 1203;
constexpr int kMsgDxfOut = 1204;
constexpr int kMsgDwgIn = 1205;
constexpr int kMsgDwgOut = 1206;
constexpr int kMsgUnknownMode = 1207;
constexpr int kMsgSectionLabel = 1208;  // 1208..1212: S, G, D, P, T
constexpr int kMsgSectionUnit = 1213;
constexpr int kMsgTableHead = 1214;
constexpr int kMsgSum = 1215;
constexpr int kMsgUnknownKind = 1216;
constexpr int kMsgOtherForms = 1217;

// Width of the kind names; shorter texts are padded, longer ones cut.
constexpr std::size_t kKindNameWidth = 36;
// Width of the entries of the name table and the first toolkit list.
constexpr int kEntryWidth = 48;
constexpr std::size_t kRuleLength = 42;

constexpr std::int32_t kAllForms = INT32_MIN;

// The kinds of element the report names.  Per type, the row with kAllForms
// takes every form that no form row of the type takes; a type with form
// rows tells its forms apart, and that row then holds the remaining forms.
struct KindRow {
  std::int32_t type;
  std::int32_t formLow;
  std::int32_t formHigh;
  int message;
  const char* tag;
};

constexpr const char* kG1 = "G1  ";
constexpr const char* kG2 = "G2  ";
constexpr const char* kG3 = "G3  ";
constexpr const char* kB1 = "B1  ";
constexpr const char* kB2 = "B2  ";
constexpr const char* kLevelTags[] = {"G1  ", "G2  ", "G3  ", "B1  ", "B2  ", "PLUS"};

constexpr KindRow kKinds[] = {
    // Curves and points.
    {100, kAllForms, 0, 1218, kG1},
    {102, kAllForms, 0, 1219, kG1},
    {104, kAllForms, 0, 1220, kG1},
    {104, 1, 1, 1221, kG1},
    {104, 2, 2, 1222, kG1},
    {104, 3, 3, 1223, kG1},
    {106, kAllForms, 0, 1224, kG1},
    {106, 1, 3, 1225, kG1},
    {106, 11, 13, 1226, kG1},
    {106, 20, 21, 1299, kB1},
    {106, 31, 38, 1227, kB2},
    {106, 40, 40, 1228, kB2},
    {106, 63, 63, 1229, kG1},
    {108, kAllForms, 0, 1230, kG1},
    {110, kAllForms, 0, 1231, kG1},
    {112, kAllForms, 0, 1232, kG1},
    {114, kAllForms, 0, 1233, kG3},
    {116, kAllForms, 0, 1234, kG1},
    {118, kAllForms, 0, 1235, kG3},
    {120, kAllForms, 0, 1236, kG3},
    {122, kAllForms, 0, 1237, kG3},
    {123, kAllForms, 0, 1238, kG3},
    {124, kAllForms, 0, 1239, kG2},
    {125, kAllForms, 0, 1240, kG1},
    {125, 1, 2, 1240, kG1},
    {126, kAllForms, 0, 1241, kG1},
    {128, kAllForms, 0, 1242, kG3},
    {130, kAllForms, 0, 1243, kG1},
    // Surfaces and solids.
    {140, kAllForms, 0, 1244, kG3},
    {141, kAllForms, 0, 1245, kG3},
    {142, kAllForms, 0, 1246, kG3},
    {143, kAllForms, 0, 1247, kG3},
    {144, kAllForms, 0, 1248, kG3},
    {154, kAllForms, 0, 1249, kG3},
    {158, kAllForms, 0, 1250, kG3},
    {164, kAllForms, 0, 1251, kG3},
    {186, kAllForms, 0, 1252, kG3},
    {190, kAllForms, 0, 1253, kG3},
    {192, kAllForms, 0, 1254, kG3},
    {196, kAllForms, 0, 1255, kG3},
    {198, kAllForms, 0, 1256, kG3},
    // Annotation.
    {202, kAllForms, 0, 1257, kB1},
    {206, kAllForms, 0, 1258, kB1},
    {208, kAllForms, 0, 1259, kB1},
    {210, kAllForms, 0, 1260, kB1},
    {212, kAllForms, 0, 1261, kB1},
    {214, kAllForms, 0, 1262, kB1},
    {216, kAllForms, 0, 1263, kB1},
    {218, kAllForms, 0, 1264, kB1},
    {220, kAllForms, 0, 1265, kB1},
    {222, kAllForms, 0, 1266, kB1},
    {228, kAllForms, 0, 1267, kB1},
    {230, kAllForms, 0, 1268, kB1},
    // Definitions.
    {304, kAllForms, 0, 1269, kG2},
    {306, kAllForms, 0, 1270, kG2},
    {308, kAllForms, 0, 1271, kG2},
    {310, kAllForms, 0, 1272, kB1},
    {312, kAllForms, 0, 1273, kB1},
    {314, kAllForms, 0, 1274, kG2},
    {316, kAllForms, 0, 1275, kG2},
    {320, kAllForms, 0, 1276, kG2},
    {322, kAllForms, 0, 1277, kG2},
    // Structure.
    {402, kAllForms, 0, 1278, kG2},
    {402, 1, 1, 1279, kG2},
    {402, 3, 4, 1281, kG2},
    {402, 5, 5, 1278, kG2},
    {402, 7, 7, 1280, kG2},
    {402, 9, 9, 1278, kG2},
    {402, 13, 13, 1278, kG2},
    {402, 14, 14, 1279, kG2},
    {402, 15, 15, 1280, kG2},
    {402, 16, 16, 1278, kG2},
    {404, kAllForms, 0, 1282, kG2},
    {406, kAllForms, 0, 1283, kG2},
    {406, 6731, 6731, 1284, kG2},
    {408, kAllForms, 0, 1285, kG2},
    {410, kAllForms, 0, 1286, kG2},
    {412, kAllForms, 0, 1287, kG2},
    {414, kAllForms, 0, 1288, kG2},
    {416, kAllForms, 0, 1289, kG2},
    {418, kAllForms, 0, 1290, kG2},
    {420, kAllForms, 0, 1291, kG2},
    {430, kAllForms, 0, 1292, kG2},
    // Topology of boundary representations.
    {502, kAllForms, 0, 1293, kG3},
    {504, kAllForms, 0, 1294, kG3},
    {508, kAllForms, 0, 1295, kG3},
    {510, kAllForms, 0, 1296, kG3},
    {514, kAllForms, 0, 1297, kG3},
    // The layer element of the output directions.
    {8888, kAllForms, 0, 1298, kG2},
};

constexpr bool kindsSorted() {
  for (std::size_t i = 1; i < std::size(kKinds); ++i)
    if (kKinds[i].type < kKinds[i - 1].type) return false;
  return true;
}
static_assert(kindsSorted(), "kKinds is searched by type");

// ---------------------------------------------------------------------------
// Kinds

// The rows of kKinds of one type.
std::pair<const KindRow*, const KindRow*> kindRowsOf(std::int32_t type) {
  return std::equal_range(std::begin(kKinds), std::end(kKinds), KindRow{type, 0, 0, 0, nullptr},
                          [](const KindRow& a, const KindRow& b) { return a.type < b.type; });
}

std::string trimmedRight(std::string text) {
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

std::string paddedName(std::string text) {
  if (text.size() > kKindNameWidth) text.resize(kKindNameWidth);
  text.append(kKindNameWidth - text.size(), ' ');
  return text;
}

std::string formatted(int number, const std::vector<long>& ints, const std::string& textArg) {
  char buffer[kMessageLineLength + 1];
  const std::size_t n = mfaFormat(mfaTextOf(number), ints, textArg, buffer, sizeof buffer);
  return std::string(buffer, n);
}

// Where an element of this type and form is counted: the form row of its
// type that takes the form (byForm, with the form), or the row of all (or
// the remaining) forms of the type.
struct RowKey {
  std::int32_t type = 0;
  std::int32_t form = 0;
  bool byForm = false;
  const KindRow* row = nullptr;  // nullptr for a type the report does not name
};

RowKey rowKeyOf(std::int32_t type, std::int32_t form) {
  RowKey key;
  key.type = type;
  const auto [first, last] = kindRowsOf(type);
  if (first == last) return key;
  key.row = first;  // the row of all forms is listed first for its type
  for (const KindRow* row = first + 1; row != last; ++row) {
    if (form >= row->formLow && form <= row->formHigh) {
      key.row = row;
      key.form = form;
      key.byForm = true;
      break;
    }
  }
  return key;
}

// A new row of the table.  `unknownName` is the text of the row of a type
// the report does not name.
KindStatistics newKind(const RowKey& key, const std::string& unknownName) {
  KindStatistics kind;
  kind.type = key.type;
  kind.form = key.form;
  kind.byForm = key.byForm;
  if (key.row == nullptr) {
    char buffer[kMessageLineLength + 1];
    const std::size_t n = mfaFormat(unknownName, {key.type}, "", buffer, sizeof buffer);
    kind.name = paddedName(std::string(buffer, n));
    return kind;
  }
  kind.levelTag = key.row->tag;
  std::string name = mfaTextOf(key.row->message);
  const auto [first, last] = kindRowsOf(key.type);
  if (!key.byForm && last - first > 1) name = trimmedRight(name) + mfaTextOf(kMsgOtherForms);
  kind.name = paddedName(name);
  return kind;
}

std::uint64_t pairKey(std::int32_t a, std::int32_t b) {
  return (static_cast<std::uint64_t>(static_cast<std::uint32_t>(a)) << 32) |
         static_cast<std::uint32_t>(b);
}

bool kindBefore(const KindStatistics& a, const KindStatistics& b) {
  if (a.type != b.type) return a.type < b.type;
  if (a.byForm != b.byForm) return a.byForm;  // form rows before the remaining forms
  return a.form < b.form;
}

// The printed form of a state character: itself when printable.
char shownState(char state) {
  const unsigned char c = static_cast<unsigned char>(state);
  return (c >= 0x20 && c < 0x7F) ? state : '?';
}

// ---------------------------------------------------------------------------
// Report text

void appendf(std::string& out, const char* format, ...) __attribute__((format(printf, 2, 3)));
void appendf(std::string& out, const char* format, ...) {
  char small[256];
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  const int n = std::vsnprintf(small, sizeof small, format, args);
  va_end(args);
  if (n < 0) {
    va_end(again);
    return;
  }
  if (static_cast<std::size_t>(n) < sizeof small) {
    out.append(small, static_cast<std::size_t>(n));
  } else {
    std::string big(static_cast<std::size_t>(n) + 1, '\0');
    std::vsnprintf(big.data(), big.size(), format, again);
    out.append(big.data(), static_cast<std::size_t>(n));
  }
  va_end(again);
}

void appendRule(std::string& out) { out.append(kRuleLength, '*').push_back('\n'); }

void appendUnderlined(std::string& out, const std::string& text) {
  appendf(out, "%s\n", text.c_str());
  out.append(text.size(), '=').push_back('\n');
}

// A string field of the global section, which may fill its array.
template <std::size_t N>
std::string fieldText(const char (&field)[N]) {
  return std::string(field, strnlen(field, N));
}

bool allDigits(const char* text, std::size_t from, std::size_t to) {
  for (std::size_t i = from; i < to; ++i)
    if (!std::isdigit(static_cast<unsigned char>(text[i]))) return false;
  return true;
}

// The creation date "yymmdd.hhmmss" (or "yyyymmdd.hhmmss") shown as
// day.month.year hours:minutes:seconds; any other text is shown as it is.
void appendCreationDate(std::string& out, const std::string& label, const IgesGlobal& g) {
  const std::string date = fieldText(g.creationDate);
  const char* d = date.c_str();
  std::size_t year = 0;  // index of the two year digits shown
  std::size_t month = 0;
  if (date.size() >= 15 && allDigits(d, 0, 8) && d[8] == '.' && allDigits(d, 9, 15)) {
    year = 2;
    month = 4;
  } else if (date.size() >= 13 && allDigits(d, 0, 6) && d[6] == '.' && allDigits(d, 7, 13)) {
    year = 0;
    month = 2;
  } else {
    std::string shown;
    for (char c : date) shown.push_back(std::isprint(static_cast<unsigned char>(c)) ? c : '?');
    appendf(out, "%s %s\n", label.c_str(), shown.c_str());
    return;
  }
  const std::size_t day = month + 2;
  const std::size_t time = day + 3;
  appendf(out, "%s %c%c.%c%c.%c%c %c%c:%c%c:%c%c\n", label.c_str(), d[day], d[day + 1], d[month],
          d[month + 1], d[year], d[year + 1], d[time], d[time + 1], d[time + 2], d[time + 3],
          d[time + 4], d[time + 5]);
}

bool isIgesRun(std::uint32_t mode) {
  return (mode & (RunModeBit::kDxf | RunModeBit::kDwg)) == 0;
}

std::string runModeName(std::uint32_t mode) {
  const bool input = (mode & RunModeBit::kInput) != 0;
  const bool output = (mode & RunModeBit::kOutput) != 0;
  int number = kMsgUnknownMode;
  if (input != output) {
    if (mode & RunModeBit::kDxf)
      number = input ? kMsgDxfIn : kMsgDxfOut;
    else if (mode & RunModeBit::kDwg)
      number = input ? kMsgDwgIn : kMsgDwgOut;
    else
      number = input ? kMsgIgesIn : kMsgIgesOut;
  }
  const std::string& level = runState().level;
  std::string name = formatted(number, {}, level.empty() ? "G1B1" : level);
  appendf(name, " (0x%04X)", static_cast<unsigned>(mode));
  return name;
}

void appendRunSection(std::string& out, const RunStatistics& s) {
  TraceScope t("sta512");
  appendRule(out);
  out.push_back('\n');
  appendUnderlined(out, mfaTextOf(kMsgTitle));
  out.push_back('\n');
  appendf(out, "%s %s\n", mfaTextOf(kMsgRunMode).c_str(), runModeName(s.runMode).c_str());
  char word[16];
  std::snprintf(word, sizeof word, "0x%04X", static_cast<unsigned>(s.runMode2));
  appendf(out, "%s %s\n", mfaTextOf(kMsgRunMode2).c_str(), word);
  out.push_back('\n');
}

void appendGlobalSection(std::string& out, const IgesGlobal& g) {
  TraceScope t("sta511");
  auto label = [](int index) { return mfaTextOf(kMsgGlobalFirst + index); };
  auto text = [&](int index, const std::string& value) {
    appendf(out, "%s %s\n", label(index).c_str(), value.c_str());
  };
  auto integer = [&](int index, std::int32_t value) {
    appendf(out, "%s %ld\n", label(index).c_str(), static_cast<long>(value));
  };
  const std::string units = fieldText(g.unitsName);
  appendRule(out);
  appendUnderlined(out, mfaTextOf(kMsgGlobalTitle));
  appendf(out, "%s %c\n", label(0).c_str(), g.paramDelimiter);
  appendf(out, "%s %c\n", label(1).c_str(), g.recordDelimiter);
  text(2, fieldText(g.senderProductId));
  text(3, fieldText(g.fileName));
  text(4, fieldText(g.nativeSystemId));
  text(5, fieldText(g.preprocessorVersion));
  integer(6, g.integerBits);
  integer(7, g.singleMaxPower);
  integer(8, g.singleDigits);
  integer(9, g.doubleMaxPower);
  integer(10, g.doubleDigits);
  text(11, fieldText(g.receiverProductId));
  appendf(out, "%s %f\n", label(12).c_str(), g.modelScale);
  integer(13, g.unitsFlag);
  text(14, units);
  integer(15, g.lineWeightGradations);
  appendf(out, "%s %f\n", label(16).c_str(), static_cast<double>(g.maxLineWidth));
  appendCreationDate(out, label(17), g);
  appendf(out, "%s %f %s\n", label(18).c_str(), g.minResolution, units.c_str());
  appendf(out, "%s %f %s\n", label(19).c_str(), g.maxCoordinate, units.c_str());
  text(20, fieldText(g.authorName));
  text(21, "");  // the author's organisation is not kept
  integer(22, g.versionFlag);
  appendf(out, "%s %ld\n\n", label(23).c_str(), static_cast<long>(g.draftingStandard));
  appendRule(out);
}

void appendNameTable(std::string& out, const RunStatistics& s) {
  TraceScope t("sta555");
  appendRule(out);
  appendUnderlined(out, mfaTextOf(kMsgNameTable));
  for (const NameCount& entry : s.names)
    appendf(out, "%-48s : %4d\n", entry.name.c_str(), static_cast<int>(entry.count));
  out.push_back('\n');
  appendRule(out);
}

void appendToolkitLists(std::string& out, const RunStatistics& s) {
  TraceScope t("sta575");
  appendUnderlined(out, mfaTextOf(kMsgToolkitFirst));
  for (const NameCount& entry : s.toolkit[ToolkitList::kNotConverted]) {
    std::string line = entry.name;
    line.append(std::max<std::size_t>(1, kEntryWidth - std::min<std::size_t>(line.size(), kEntryWidth)), ' ');
    appendf(out, "%s%d\n", line.c_str(), static_cast<int>(entry.count));
  }
  appendf(out, "%s\n", mfaTextOf(kMsgListEnd).c_str());
  appendUnderlined(out, mfaTextOf(kMsgToolkitSecond));
  for (const NameCount& entry : s.toolkit[ToolkitList::kNotes])
    appendf(out, "%s\n", entry.name.c_str());
  appendf(out, "%s\n", mfaTextOf(kMsgListEnd).c_str());
  out.push_back('\n');
  appendRule(out);
}

void appendSectionCounts(std::string& out, const RunStatistics& s, const StatisticsSources& src) {
  TraceScope t("sta513");
  const std::string title = mfaTextOf(kMsgSectionTitle);
  appendf(out, "\n%s\n", title.c_str());
  out.append(title.size(), '=').push_back('\n');
  if (!isIgesRun(s.runMode)) return;
  appendf(out, "%s\n", mfaTextOf(kMsgSectionHead).c_str());
  long counts[5] = {0, 0, 0, 0, 0};
  if (src.counts != nullptr) {
    const IgesCounts& c = *src.counts;
    counts[0] = c.startCount;
    counts[1] = c.globalCount;
    counts[2] = c.directoryCount;
    counts[3] = c.parameterCount;
    counts[4] = c.terminateCount;
  } else {
    bool written = false;
    for (int i = 0; i < 4; ++i) {
      counts[i] = s.igesSections[i];
      written = written || s.igesSections[i] != 0;
    }
    counts[4] = written ? 1 : 0;
  }
  const std::string unit = mfaTextOf(kMsgSectionUnit);
  for (int i = 0; i < 5; ++i)
    appendf(out, "%s %8ld  %s\n", mfaTextOf(kMsgSectionLabel + i).c_str(), counts[i], unit.c_str());
}

void appendKindRow(std::string& out, const KindStatistics& k) {
  const char* name = k.name.c_str();
  const int total = k.total;
  const int converted = k.outcome[Outcome::kConverted];
  const int ignored = k.outcome[Outcome::kIgnored];
  const int errors = k.outcome[Outcome::kError];
  const int rest = k.rest();
  const long type = k.type;
  if (k.levelTag.empty()) {
    appendf(out, "%s       %4ld        :%6d %6d %6d %6d %6d\n", name, type, total, converted, ignored,
            errors, rest);
  } else if (k.byForm) {
    appendf(out, "%s  %s %4ld  %4ld  :%6d %6d %6d %6d %6d\n", name, k.levelTag.c_str(), type,
            static_cast<long>(k.form), total, converted, ignored, errors, rest);
  } else {
    appendf(out, "%s  %s       %4ld  :%6d %6d %6d %6d %6d\n", name, k.levelTag.c_str(), type, total,
            converted, ignored, errors, rest);
  }
}

void appendElementStatistics(std::string& out, const RunStatistics& s, const StatisticsSources& src) {
  TraceScope t("sta515");
  long sums[4] = {0, 0, 0, 0};  // total, converted, ignored, with errors
  for (const KindStatistics& k : s.kinds) {
    sums[0] += k.total;
    for (int i = 0; i < 3; ++i) sums[i + 1] += k.outcome[i];
  }
  appendf(out, "\n%s\n", mfaTextOf(kMsgElementTitle).c_str());
  appendf(out, "%s%8ld\n", mfaTextOf(kMsgElements).c_str(), sums[0]);
  appendf(out, "%s%8ld\n", mfaTextOf(kMsgConverted).c_str(), sums[1]);
  appendf(out, "%s%8ld\n", mfaTextOf(kMsgIgnored).c_str(), sums[2]);
  appendf(out, "%s%8ld\n", mfaTextOf(kMsgErrors).c_str(), sums[3]);
  if (isIgesRun(s.runMode)) {
    appendf(out, "%s%8ld\n", mfaTextOf(kMsgDrawings).c_str(), static_cast<long>(src.drawings));
    appendf(out, "%s%8ld\n", mfaTextOf(kMsgViews).c_str(), static_cast<long>(src.views));
    appendf(out, "%s%8ld\n", mfaTextOf(kMsgSubfigures).c_str(),
            static_cast<long>(src.subfigureDefinitions));
  }
  for (const char* tag : kLevelTags) {
    long count = 0;
    for (const KindStatistics& k : s.kinds)
      if (k.levelTag == tag) count += k.total;
    if (count > 0)
      appendf(out, "%s%8ld\n", formatted(kMsgLevelTag, {}, tag).c_str(), count);
  }
  if (sums[0] == 0) {
    appendf(out, "\n\n%s = 0 !!!\n", mfaTextOf(kMsgNothing).c_str());
  } else {
    appendf(out, "\n%s\n", mfaTextOf(kMsgTableHead).c_str());
    for (const KindStatistics& k : s.kinds) appendKindRow(out, k);
    std::string label = mfaTextOf(kMsgSum);
    const std::size_t width = kKindNameWidth + 17;
    if (label.size() < width) label.append(width - label.size(), ' ');
    appendf(out, "%s  :%6d %6d %6d %6d %6d\n", label.c_str(), static_cast<int>(sums[0]),
            static_cast<int>(sums[1]), static_cast<int>(sums[2]), static_cast<int>(sums[3]),
            static_cast<int>(sums[0] - sums[1] - sums[3]));
  }
  out.push_back('\n');
  appendRule(out);
}

std::string reportText(const RunStatistics& s, const StatisticsSources& src, bool withGlobal) {
  std::string out;
  appendRunSection(out, s);
  if (withGlobal && isIgesRun(s.runMode) && src.global != nullptr)
    appendGlobalSection(out, *src.global);
  if (!s.names.empty()) appendNameTable(out, s);
  if (runState().useToolkit) appendToolkitLists(out, s);
  appendSectionCounts(out, s, src);
  appendElementStatistics(out, s, src);
  return out;
}

}  // namespace

int statisticsComplete() {
  TraceScope t("sta151");
  RunStatistics& s = runStatistics();
  s.runMode = runState().runMode;
  s.runMode2 = runState().runMode2;
  s.kinds.clear();
  // Row of each (type, form) pair met, so that each element costs one
  // lookup; and the row of all forms of each type.
  std::unordered_map<std::uint64_t, std::size_t> rowOfPair;
  std::unordered_map<std::uint64_t, std::size_t> rowOfKey;
  const std::string unknownName = mfaTextOf(kMsgUnknownKind);
  const ElementTable& table = elementTable();
  const std::int32_t last = std::min(table.lastIndex, table.capacity - 1);
  int counted = 0;
  for (std::int32_t i = 1; i <= last; ++i) {
    const ElementRecord& e = element(i);
    auto found = rowOfPair.find(pairKey(e.type, e.form));
    if (found == rowOfPair.end()) {
      const RowKey key = rowKeyOf(e.type, e.form);
      // Form rows are keyed by their form, the rows of all forms by form
      // INT32_MIN, which no form row has.
      const auto [row, added] =
          rowOfKey.emplace(pairKey(key.type, key.byForm ? key.form : kAllForms), s.kinds.size());
      if (added) s.kinds.push_back(newKind(key, unknownName));
      found = rowOfPair.emplace(pairKey(e.type, e.form), row->second).first;
    }
    KindStatistics& kind = s.kinds[found->second];
    ++kind.total;
    ++counted;
    switch (e.state) {
      case ElementState::kDone:
      case ElementState::kTakenOver:
      case ElementState::kDefinitionWritten:
        ++kind.outcome[Outcome::kConverted];
        break;
      case ElementState::kIgnored:
        ++kind.outcome[Outcome::kIgnored];
        break;
      case ElementState::kError:
        ++kind.outcome[Outcome::kError];
        break;
      case ElementState::kWaiting:
      case ElementState::kRegistered:
        break;
      default:
        std::printf(
            "sta151 : Element mit unbekanntem Status %d (%c) gefunden - Entity : %d , Form : %d , "
            "Index : %d\n",
            static_cast<int>(e.state), shownState(e.state), static_cast<int>(e.type),
            static_cast<int>(e.form), static_cast<int>(i));
        break;
    }
  }
  std::fflush(stdout);
  std::sort(s.kinds.begin(), s.kinds.end(), kindBefore);
  s.complete = true;
  return counted;
}

void statisticsReport(std::FILE* protocol, bool toConsole, const StatisticsSources& sources) {
  TraceScope t("sta510");
  const RunStatistics& s = runStatistics();
  if (!s.complete) statisticsComplete();
  if (protocol != nullptr) {
    const std::string text = reportText(s, sources, true);
    std::fwrite(text.data(), 1, text.size(), protocol);
    std::fflush(protocol);
  }
  if (toConsole) {
    const std::string text = reportText(s, sources, false);
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
  }
}

void statisticsReportRun(std::FILE* protocol, const StatisticsSources& sources) {
  statisticsReport(protocol, runSettings().statisticsToConsole != 0, sources);
}
