#include "support/charset.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "support/assign_tables.h"
#include "support/config.h"
#include "support/messages.h"
#include "support/run_state.h"
#include "support/trace.h"

namespace {

constexpr int kMsgCannotOpen = 150;
constexpr int kSenderDrafting = 1;  // "@", "^" and "$" escapes
constexpr int kSenderNoPercent = 2;  // no "%%" escapes
constexpr int kSenderAtIsPlusMinus = 9;
constexpr unsigned char kPlusMinusIso = 177;
constexpr unsigned char kDegreeIso = 176;
constexpr unsigned char kDiameter = 216;
constexpr unsigned char kCombiningUmlaut = 200;

// The letters and signs that follow "@" in the texts of sending system 1.
struct AtEscape {
  char after;
  unsigned char code;
};
constexpr AtEscape kAtEscapes[] = {
    {'C', 199}, {'d', 236}, {'D', 204}, {'e', 239}, {'E', 207}, {'f', 242}, {'F', 210}, {'g', 249},
    {'G', 217}, {'i', 229}, {'I', 197}, {'j', 225}, {'J', 193}, {'k', 233}, {'K', 201}, {'l', 237},
    {'L', 205}, {'m', 245}, {'M', 213}, {'n', 241}, {'N', 209}, {'o', 234}, {'p', 238}, {'q', 228},
    {'r', 246}, {'R', 214}, {'s', 232}, {'S', 200}, {'t', 252}, {'T', 220}, {'u', 229}, {'U', 197},
    {'v', 227}, {'V', 195}, {'w', 235}, {'W', 203}, {'x', 240}, {'X', 208}, {'y', 255}, {'1', 223},
    {'2', 181}, {'6', 167}, {'-', 230}, {'/', 202}, {'_', 198}, {'{', 212}, {'[', 244}, {'}', 219},
    {']', 251}, {'|', 216}, {'?', 191},
};

// The ISO 8859-1 letters that pass every conversion unchanged.
constexpr unsigned char kIsoUmlauts[] = {223, 228, 246, 252, 196, 214, 220};

// A letter followed by the combining character becomes its umlaut.
struct UmlautPair {
  char letter;
  unsigned char umlaut;
};
constexpr UmlautPair kUmlautPairs[] = {{'a', 228}, {'A', 196}, {'o', 246},
                                       {'O', 214}, {'u', 252}, {'U', 220}};

CharacterTables& state() {
  static CharacterTables tables;
  return tables;
}

const RunStateRegistrar kRunStateRegistered("character tables", resetCharacterTables);

bool isPrintable(unsigned char c) { return c >= 32 && c != 127; }

bool toolkitRun() { return runState().useToolkit != 0; }

std::string fileOf(int font) {
  if (font == 0) return "charset.cfg";
  if (font == 1 && runHas(RunModeBit::kDxf | RunModeBit::kDwg)) return "font.cfg";
  return "font" + std::to_string(font) + ".cfg";
}


// "a,b" with two integers in the range of int; false otherwise.
bool pairOf(const std::string& line, long& a, long& b) {
  const char* s = line.c_str();
  char* end = nullptr;
  a = std::strtol(s, &end, 10);
  if (end == s) return false;
  while (*end == ' ' || *end == '\t') ++end;
  if (*end != ',') return false;
  const char* second = end + 1;
  b = std::strtol(second, &end, 10);
  return end != second;
}

std::int32_t* tableFor(CharacterTables& t, int font, std::size_t& size) {
  if (font == 0) {
    size = t.charset.size();
    return t.charset.data();
  }
  if (font >= kSymbolFontFirst && font < kSymbolFontFirst + kSymbolFontCount) {
    size = kFontEntries;
    return t.symbol[font - kSymbolFontFirst].data();
  }
  size = kFontEntries;
  return t.current.data();
}

void markLoaded(CharacterTables& t, int font) {
  if (font == 0) {
    t.charsetLoaded = true;
  } else if (font >= kSymbolFontFirst && font < kSymbolFontFirst + kSymbolFontCount) {
    t.symbolLoaded[font - kSymbolFontFirst] = true;
  } else {
    t.currentLoaded = true;
  }
}

void readPairs(std::FILE* file, CharacterTables& t, int font) {
  const bool toolkit = toolkitRun();
  const bool output = runHas(RunModeBit::kOutput);
  std::size_t size = 0;
  std::int32_t* table = toolkit ? t.charset.data() : tableFor(t, font, size);
  if (toolkit) size = t.charset.size();
  std::string line;
  while (readTableLine(file, kCharTableLineLength, line)) {
    if (!line.empty() && line[0] == '/') continue;
    long a = 0, b = 0;
    if (!pairOf(line, a, b)) continue;
    if (toolkit) {
      // The toolkit translates in one table: towards the exchange file in an
      // output direction, back from it in an input direction.
      if (output) {
        if (a >= 0 && a < kCharsetEntries) table[a] = static_cast<std::int32_t>(b & 0xFF);
      } else if (a >= 0 && a < kCharsetEntries && b >= 0 && b < kCharsetEntries) {
        table[b] = static_cast<std::int32_t>(a);
      }
      continue;
    }
    // Font tables begin at the blank; a is compared before it is reduced,
    // so that no value of the file can overflow.
    const long first = font != 0 ? 32 : 0;
    if (a < first || a - first >= static_cast<long>(size)) continue;
    table[a - first] = static_cast<std::int32_t>(b & 0xFF);
  }
  // A toolkit run leaves the font's own table empty; it counts as read so
  // that it is not read again for every character.
  if (toolkit) t.charsetLoaded = true;
  markLoaded(t, font);
}

// The character a table entry gives, or the fallback for an unmapped one.
unsigned char entryOrFallback(std::int32_t entry, unsigned char c) {
  if ((entry & 0xFF) != 0) return static_cast<unsigned char>(entry & 0xFF);
  return isPrintable(c) ? c : ' ';
}

unsigned char fontEntry(const std::array<std::int32_t, kFontEntries>& table, unsigned char c) {
  const int index = static_cast<int>(c) - 32;
  if (index < 0 || index >= kFontEntries) return entryOrFallback(0, c);
  return entryOrFallback(table[index], c);
}

bool knownMissing(const CharacterTables& t, int font) {
  if (font == 1) return t.font1Missing != 0;
  return std::find(t.missingFonts.begin(), t.missingFonts.end(), font) != t.missingFonts.end();
}

// A decoded character of a text: its code and whether it still goes through
// the font table.
struct Decoded {
  unsigned char code;
  bool translate;
};

// Digits of a number escape at text[pos]: the longest run of one to three
// digits whose value lies in 1..254.  0 when there is none.
std::size_t numberEscape(const std::string& text, std::size_t pos, int& value) {
  std::size_t digits = 0;
  while (digits < 3 && pos + digits < text.size() && std::isdigit(static_cast<unsigned char>(text[pos + digits]))) {
    ++digits;
  }
  for (; digits > 0; --digits) {
    value = std::atoi(text.substr(pos, digits).c_str());
    if (value >= 1 && value <= 254) return digits;
  }
  return 0;
}

bool isDigitAt(const std::string& text, std::size_t pos) {
  return pos < text.size() && std::isdigit(static_cast<unsigned char>(text[pos]));
}

// The escapes of sending system 1 at text[i]; the length consumed, 0 when
// no escape starts there.
std::size_t drafterEscape(const std::string& text, std::size_t i, unsigned char& code) {
  const char c = text[i];
  int value = 0;
  if (c == '@' && i + 1 < text.size()) {
    // Two or more digits are a character code; a single digit is a code
    // too, except 1, 2 and 6, which name the letters of the table.
    const char next = text[i + 1];
    const bool tableDigit = (next == '1' || next == '2' || next == '6') && !isDigitAt(text, i + 2);
    if (!tableDigit) {
      const std::size_t digits = numberEscape(text, i + 1, value);
      if (digits > 0) {
        code = static_cast<unsigned char>(value);
        return 1 + digits;
      }
    }
    for (const AtEscape& e : kAtEscapes) {
      if (e.after == next) {
        code = e.code;
        return 2;
      }
    }
    return 0;
  }
  if (c == '^' && i + 1 < text.size()) {
    if (text[i + 1] == '`') {
      code = kDegreeIso;
      return 2;
    }
    const std::size_t digits = numberEscape(text, i + 1, value);
    if (digits > 0) {
      code = static_cast<unsigned char>(value);
      return 1 + digits;
    }
    return 0;
  }
  if (c == '$' && i + 2 < text.size() && text[i + 2] == '$') {
    const char inner = text[i + 1];
    if (inner >= '1' && inner <= '9') {
      code = static_cast<unsigned char>(inner - '0');
      return 3;
    }
    if (inner == 'H') {
      code = kDiameter;
      return 3;
    }
    if (inner == 'T') {
      code = kCharCentreLine;
      return 3;
    }
  }
  return 0;
}

// The "%%" escapes at text[i]; the length consumed, 0 when none starts
// there.  `removed` is set for an escape that leaves nothing.
std::size_t percentEscape(const std::string& text, std::size_t i, unsigned char& code, bool& removed) {
  removed = false;
  if (text[i] != '%' || i + 2 >= text.size() || text[i + 1] != '%') return 0;
  const char c = text[i + 2];
  int value = 0;
  const std::size_t digits = numberEscape(text, i + 2, value);
  if (digits > 0) {
    code = static_cast<unsigned char>(value);
    return 2 + digits;
  }
  switch (c) {
    case 'd': case 'D': code = kCharDegree; return 3;
    case 'p': case 'P': code = kCharPlusMinus; return 3;
    case 'c': case 'C': code = kDiameter; return 3;
    case '#': code = kCharCentreLine; return 3;
    case '%': code = '%'; return 3;
    case 'u': case 'U': removed = true; return 3;
    default: return 0;
  }
}

}  // namespace

CharacterTables& characterTables() { return state(); }

void resetCharacterTables() { state() = CharacterTables(); }

int loadCharacterTable(int font) {
  TraceScope t("fon140");
  CharacterTables& tables = state();
  const int previous = tables.currentFont;
  const bool current = font != 0 && !(font >= kSymbolFontFirst && font < kSymbolFontFirst + kSymbolFontCount);
  if (font != 0) tables.currentFont = font;
  const std::string name = runPaths().assignDir + fileOf(font);
  std::FILE* file = std::fopen(name.c_str(), "r");
  if (file == nullptr) {
    if (font == 1) {
      tables.font1Missing = 1;
    } else {
      mfaReport(t.code(), kMsgCannotOpen, Channel::kProtocol, Severity::kWarning, {}, {}, name, nullptr);
      if (!knownMissing(tables, font)) tables.missingFonts.push_back(font);
    }
    tables.currentFont = previous;
    return -1;
  }
  // A table read afresh replaces what an earlier font left in it.
  if (current && !toolkitRun()) tables.current.fill(0);
  readPairs(file, tables, font);
  std::fclose(file);
  return 0;
}

void translateCharacter(unsigned char& c, int& font) {
  TraceScope t("fon200");
  CharacterTables& tables = state();
  const auto unavailable = [&] {
    if (!isPrintable(c)) c = ' ';
    font = 1;
  };
  if (font == 1 && toolkitRun()) {
    // A charset table that could not be opened is not tried again for every
    // character.
    if (!tables.charsetLoaded && (knownMissing(tables, 0) || loadCharacterTable(0) != 0)) {
      return unavailable();
    }
    c = entryOrFallback(tables.charset[c], c);
    return;
  }
  if (font >= kSymbolFontFirst && font < kSymbolFontFirst + kSymbolFontCount) {
    const int k = font - kSymbolFontFirst;
    if (!tables.symbolLoaded[k]) {
      if (knownMissing(tables, font) || loadCharacterTable(font) != 0) return unavailable();
    }
    c = fontEntry(tables.symbol[k], c);
    return;
  }
  // Fonts share the current table: a text of another font than the one
  // loaded reloads it.
  if (!tables.currentLoaded || tables.currentFont != font) {
    if (knownMissing(tables, font) || loadCharacterTable(font) != 0) return unavailable();
    tables.currentLoaded = true;
    tables.currentFont = font;
  }
  c = fontEntry(tables.current, c);
}

void convertText(std::string& text, int font) {
  TraceScope t("fon300");
  const int sender = runState().senderCode;
  // First the escapes, each one decoded into one character; then the
  // letter-and-combining-character pairs; then the font table.
  std::vector<Decoded> decoded;
  decoded.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (std::find(std::begin(kIsoUmlauts), std::end(kIsoUmlauts), c) != std::end(kIsoUmlauts)) {
      decoded.push_back({c, false});
      ++i;
      continue;
    }
    if (sender == kSenderAtIsPlusMinus && c == '@') {
      decoded.push_back({kPlusMinusIso, false});
      ++i;
      continue;
    }
    unsigned char code = 0;
    if (sender == kSenderDrafting) {
      const std::size_t used = drafterEscape(text, i, code);
      if (used > 0) {
        decoded.push_back({code, false});
        i += used;
        continue;
      }
    }
    if (sender != kSenderNoPercent) {
      bool removed = false;
      const std::size_t used = percentEscape(text, i, code, removed);
      if (used > 0) {
        if (!removed) decoded.push_back({code, false});
        i += used;
        continue;
      }
    }
    decoded.push_back({c, true});
    ++i;
  }
  std::string out;
  out.reserve(decoded.size());
  int f = font;
  for (std::size_t k = 0; k < decoded.size(); ++k) {
    const Decoded d = decoded[k];
    if (d.translate && k + 1 < decoded.size() && decoded[k + 1].code == kCombiningUmlaut) {
      const auto pair = std::find_if(std::begin(kUmlautPairs), std::end(kUmlautPairs),
                                     [&](const UmlautPair& p) { return static_cast<unsigned char>(p.letter) == d.code; });
      if (pair != std::end(kUmlautPairs)) {
        out += static_cast<char>(pair->umlaut);
        ++k;
        continue;
      }
    }
    unsigned char c = d.code;
    if (d.translate) {
      f = font;
      translateCharacter(c, f);
    }
    out += static_cast<char>(c);
  }
  text.swap(out);
}

std::string cadFontName(const std::string& name) {
  TraceScope t("fon400");
  CharacterTables& tables = state();
  if (!tables.fontNamesRead) {
    tables.fontNamesRead = true;
    const std::string path = runPaths().assignDir + "fontname.cfg";
    if (std::FILE* file = std::fopen(path.c_str(), "r")) {
      std::string line;
      while (readTableLine(file, kCharTableLineLength, line) && tables.fontNames.size() < kMaxFontNames) {
        if (line.empty() || line[0] == '/') continue;
        const std::size_t comma = line.find(',');
        if (comma == std::string::npos || comma == 0 || comma + 1 >= line.size()) continue;
        tables.fontNames.emplace_back(line.substr(0, comma), line.substr(comma + 1));
      }
      std::fclose(file);
    }
  }
  for (const auto& [sender, cad] : tables.fontNames) {
    if (sender == name) return cad;
  }
  return name;
}
