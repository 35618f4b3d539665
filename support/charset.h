// Character translation: the per-font character tables of the assignment
// directory and the conversion of an exchange-file text into the bytes the
// script writer quotes.  The sending systems write special characters with
// their own escape conventions; the fonts of the CAD system number their
// characters differently from the exchange formats.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

constexpr int kCharsetEntries = 256;  // indexed by the character code
constexpr int kFontEntries = 223;     // indexed by the character code - 32
constexpr int kSymbolFontFirst = 1001;
constexpr int kSymbolFontCount = 3;   // fonts 1001, 1002, 1003

// Characters that the script writer turns into its special-character
// notation.
constexpr unsigned char kCharCentreLine = 24;
constexpr unsigned char kCharDegree = 30;
constexpr unsigned char kCharPlusMinus = 31;

// Longest table line read; the rest of a longer line is read away.
constexpr std::size_t kCharTableLineLength = 255;
// Most pairs kept from the font-name file.
constexpr std::size_t kMaxFontNames = 1024;

// The character tables of the run.  An entry 0 stands for a character the
// table does not map.
struct CharacterTables {
  std::array<std::int32_t, kCharsetEntries> charset{};
  std::array<std::int32_t, kFontEntries> current{};
  std::array<std::int32_t, kFontEntries> symbol[kSymbolFontCount]{};
  bool charsetLoaded = false;
  bool currentLoaded = false;
  bool symbolLoaded[kSymbolFontCount] = {false, false, false};
  int currentFont = 0;    // the font loaded into `current`
  int font1Missing = 0;   // the file of font 1 could not be opened
  std::vector<int> missingFonts;  // other fonts whose file could not be opened
  // Font names of the sending system and the CAD font names they become.
  std::vector<std::pair<std::string, std::string>> fontNames;
  bool fontNamesRead = false;
};

CharacterTables& characterTables();
void resetCharacterTables();

// fon140: reads the table of `font` (0 the charset table, 1001..1003 the
// symbol fonts, any other the current font table).  0, or -1 when the file
// cannot be opened (warning 150 for fonts other than 1).
int loadCharacterTable(int font);

// fon200: replaces one character through the table of `font`.  When the
// table cannot be had, a printable character stays, any other becomes a
// blank, and `font` becomes 1.
void translateCharacter(unsigned char& c, int& font);

// fon300: converts a whole text in place: the escapes of the sending system
// (runState().senderCode) first, then every other character through
// translateCharacter with the text's font.
void convertText(std::string& text, int font);

// fon400: the CAD font name for a font name of the sending system, from
// "fontname.cfg" of the assignment directory; the name itself when the file
// does not list it.
std::string cadFontName(const std::string& name);
