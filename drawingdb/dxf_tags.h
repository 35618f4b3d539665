// DXF tags: group-code/value pairs, the layer under every DXF section.
// The value type of every group code comes from one table of code ranges;
// readers and writers of ASCII and binary DXF both use it, so a code's
// type is stated once.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "drawingdb/byte_sink.h"
#include "drawingdb/byte_source.h"
#include "drawingdb/code_page.h"
#include "drawingdb/status.h"

namespace drawingdb {

enum class TagType : std::uint8_t {
  String,   // text, NUL-terminated in binary DXF
  Handle,   // hexadecimal text
  Real,     // 8-byte double in binary DXF
  Int16,
  Int32,
  Int64,
  Bool,     // 1 byte in binary DXF
  Binary,   // hex text in ASCII, length byte + bytes in binary DXF
  Comment,  // 999: ASCII only
};

// The value type of a group code (codes outside every range read as text).
TagType tagTypeOf(int code);

// The 22 bytes that open a binary DXF file.
inline constexpr std::string_view kBinaryDxfSentinel{"AutoCAD Binary DXF\r\n\x1a\0", 22};

// One tag as read.  `text` is valid until the next call of the reader.
struct Tag {
  int code = 0;
  TagType type = TagType::String;
  std::string_view text;    // strings, handles, bytes of binary chunks
  double real = 0;          // Real
  std::int64_t integer = 0; // Int16/32/64, Bool, and the value of a Handle
};

// Reads the tags of a DXF file, ASCII or binary (told from the sentinel),
// held in memory or taken from a source in pieces.  Every length is checked
// against the bytes left; a malformed tag stops the reader with a status
// naming the line (ASCII) or byte offset (binary).  Comments (999) are
// skipped.
class TagReader {
 public:
  explicit TagReader(std::string_view file);
  // Reads from `source` through a buffer of `chunk` bytes (more only for a
  // single tag that is longer; at least one byte); a source that fails
  // stops the reader with its status.
  explicit TagReader(ByteSource& source, std::size_t chunk = kChunk);
  static constexpr std::size_t kChunk = std::size_t{1} << 20;

  bool binary() const { return binary_; }
  // The next tag; false at the end of the data or after an error.
  bool next(Tag& tag);
  // The tag last returned is returned once more by the next call.
  void pushBack() { pushedBack_ = true; }
  // Ok, or the error that stopped the reader.
  const Status& status() const { return status_; }
  // Position for messages: the line of the last code (ASCII) or the byte
  // offset of the last tag (binary).
  std::size_t position() const { return binary_ ? tagOffset_ : line_; }
  // Bytes not yet read (bounds allocations by what the file can hold).
  std::size_t remaining() const { return size_ - std::min(size_, consumed_ + pos_); }
  // The code page of the text values read from now on (UTF-8 in the tags
  // returned); until it is set, text is returned as it stands in the file.
  void setCodePage(CodePage page) { codePage_ = std::move(page); }
  const CodePage& codePage() const { return codePage_; }

 private:
  void start();
  bool fail(std::string what);
  bool nextAscii(Tag& tag);
  bool nextBinary(Tag& tag);
  bool readLine(std::string_view& line);
  // Whether `n` bytes from pos_ on are in data_, reading more from the
  // source when they are not (which moves what data_ holds).
  bool have(std::size_t n) { return data_.size() - pos_ >= n || refill(n); }
  bool refill(std::size_t n);

  std::string_view data_;  // the file, or what the buffer holds of it
  std::size_t pos_ = 0;    // in data_
  ByteSource* source_ = nullptr;
  std::string buffer_;          // reading from a source: the bytes at consumed_ on
  std::size_t consumed_ = 0;    // bytes of the file before data_
  std::size_t size_ = 0;        // bytes of the file, as far as known
  bool sourceDone_ = false;
  std::size_t line_ = 0;
  std::size_t tagOffset_ = 0;
  bool binary_ = false;
  int codeBytes_ = 2;
  bool pushedBack_ = false;
  bool started_ = false;
  Tag last_;
  std::string scratch_;  // decoded bytes of an ASCII binary chunk
  CodePage codePage_ = CodePage::raw();
  std::string decoded_;  // a text value in UTF-8
  Status status_;
};

// Writes tags to a byte sink, ASCII or binary.  Numbers are written by the
// type of their code (an integer given for a real code is written as a
// real), so the two forms always agree.
class TagWriter {
 public:
  struct Options {
    bool binary = false;
    int codeBytes = 2;   // binary: 1 for R12 and older, 2 from R13
    int precision = 16;  // significant digits of reals in ASCII (17: shortest exact)
    // The code page text values are written in (from UTF-8); null: as given.
    const CodePage* codePage = nullptr;
  };
  TagWriter(ByteSink& sink, Options options);

  void text(int code, std::string_view value);
  void real(int code, double value);
  void integer(int code, std::int64_t value);
  void handle(int code, Handle value);
  void boolean(int code, bool value) { integer(code, value ? 1 : 0); }
  void bytes(int code, std::string_view value);  // binary chunk, split in 127-byte pieces by the caller
  // The bytes text(code, value) writes for the value (in the code page).
  std::size_t textSize(int code, std::string_view value);
  // Writes a tag as read (used for groups kept unchanged).
  void tag(const Tag& t);

  // Hands the buffered bytes to the sink; the status reports a refusing sink.
  Status flush();
  std::size_t bytesWritten() const { return written_ + used_; }

 private:
  // Bytes are gathered in one block and handed to the sink when a tag ends
  // beyond kFlushAt; a tag is written straight into the block.
  static constexpr std::size_t kFlushAt = std::size_t{1} << 16;

  void code(int c);
  void maybeFlush();
  // Room for n more bytes at the end of the block (grows it for a value
  // longer than the block).
  char* room(std::size_t n);
  void append(std::string_view s);
  void append(char c);

  ByteSink& sink_;
  Options options_;
  std::unique_ptr<char[]> block_;
  std::size_t used_ = 0;
  std::size_t capacity_ = 0;
  std::string encoded_;  // a text value in the code page
  std::size_t written_ = 0;
  bool failed_ = false;
};

// The text of a real as written to ASCII DXF: at most `precision`
// significant digits (17 or more: the shortest text that reads back
// exactly), always with a decimal point.
std::string formatReal(double value, int precision);

// Parses a hexadecimal handle ("1F"); false when it is not one.
bool parseHandle(std::string_view text, Handle& out);
std::string formatHandle(Handle h);

}  // namespace drawingdb
