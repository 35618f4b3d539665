// The code pages of DXF text.  Files before 2007 hold their strings in the
// code page their header names in $DWGCODEPAGE (ANSI_1252 when it names
// none) and write the characters the page lacks as \U+XXXX escapes, or as
// \M+nXXXX for the double-byte pages; files from 2007 on hold UTF-8.
// Inside the database every string is UTF-8: a CodePage turns the bytes of
// a file into it when reading and back into the page when writing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace drawingdb {

class CodePage {
 public:
  enum class Kind : std::uint8_t {
    Raw,         // bytes kept as they are: a code page the toolkit does not know
    Utf8,        // files from 2007 on
    SingleByte,  // a table of the 128 upper bytes
    DoubleByte,  // lead and trail bytes, converted by the system's C library
  };

  // The page a $DWGCODEPAGE value names ("ANSI_1252", "ansi_1251",
  // "DOS850", "BIG5" ...), compared without regard to case; Raw when the
  // name is not one the toolkit knows.
  static CodePage named(std::string_view name);
  static CodePage utf8();
  static CodePage raw();

  CodePage(CodePage&&) noexcept;
  CodePage& operator=(CodePage&&) noexcept;
  ~CodePage();

  Kind kind() const { return kind_; }
  bool known() const { return kind_ != Kind::Raw; }
  // The name of the page as $DWGCODEPAGE writes it ("ANSI_1252").
  std::string_view name() const { return name_; }

  // The UTF-8 text of a string value of a file: the bytes in the page,
  // \U+XXXX (and a surrogate pair of them, or eight hex digits for a
  // character above U+FFFF) and \M+nXXXX decoded.  Returns `bytes` itself
  // when there is nothing to decode, else a view of `scratch`.  Raw keeps
  // the bytes as read.
  std::string_view decode(std::string_view bytes, std::string& scratch) const;

  // The bytes of a UTF-8 string in the page: a character the page lacks
  // becomes \U+XXXX (a pair of them above U+FFFF), a backslash that would
  // read as the start of an escape becomes \U+005C.  A byte that starts
  // no UTF-8 character is taken for the ISO 8859-1 character of its value.
  // Returns `text` itself when it is unchanged, else a view of `scratch`.
  std::string_view encode(std::string_view text, std::string& scratch) const;

  // Characters that decode() could not read (bytes the page does not
  // define, broken UTF-8, lone surrogates): each became U+FFFD.
  std::size_t undecodable() const { return undecodable_; }

 private:
  struct Converters;
  CodePage(Kind kind, std::string name, int table);

  void decodeBytes(std::string_view bytes, std::string& out) const;
  void encodeCharacter(std::uint32_t c, std::string& out) const;

  Kind kind_ = Kind::Raw;
  std::string name_;
  int table_ = -1;  // SingleByte: index of the table; DoubleByte: index of the page
  mutable std::size_t undecodable_ = 0;
  mutable std::unique_ptr<Converters> converters_;  // DoubleByte, opened when first needed
};

// The value of a hexadecimal digit, or -1.
int hexDigit(char c);

// Appends the UTF-8 bytes of a code point.
void appendUtf8(std::uint32_t c, std::string& out);

}  // namespace drawingdb
