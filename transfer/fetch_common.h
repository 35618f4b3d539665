// The reading pattern all element fetchers share: opening an element at its
// position, the value reader that stops at the first missing value, the
// common head and tail of an element (attribute text, status, pen, layer,
// line style, line width), the stamp of the element table record, and the
// body readers of the drawing primitives that dimensions and symbols are
// built from.  Used by the fetch_*.cpp files only.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <new>
#include <stdexcept>
#include <string>
#include <string_view>

#include "elements/element_table.h"
#include "support/messages.h"
#include "elements/fetch_records.h"
#include "transfer/transfer_reader.h"

namespace fetch_detail {

// Reads the value lines of one element.  The first read that fails makes
// every later read fail as well, so a fetcher reads its whole layout and
// asks once whether it was complete.  A '@' where a value belongs reports
// warning 1000 with the fetcher's code (once).
class ValueReader {
 public:
  explicit ValueReader(const char* code) : code_(code) {}

  bool ok() const { return !failed_; }
  int result() const { return failed_ ? -1 : 0; }
  const char* code() const { return code_; }
  // Marks a value that did not make sense (a count beyond the file).
  void fail() { failed_ = true; }

  bool text(std::string& value);    // the rest of the line
  bool token(std::string& value);   // one token
  bool tokenView(std::string_view& value);  // one token, a view into the file
  bool skip();                      // one value line of any content
  bool integer(std::int32_t& value);
  bool real(double& value);
  bool angle(double& value);        // degrees in the file, radians here
  bool point(Point3& value);        // "x y" on one line, reference point subtracted
  bool pointXY(Point3& value);      // x and y on two lines, reference point subtracted
  bool point3(Point3& value);       // "x y z" on one line, reference point subtracted
  bool pen(TransferPen& value);
  bool textBlock(std::string& value, std::int32_t length);
  bool intAndText(std::int32_t& value, std::string& text);

 private:
  bool check(int rc);

  const char* code_;
  bool failed_ = false;
};

// Seeks to the element at the position: a section ("@keyword identifier
// rest") or the value line that opens a part of a symbol ("#keyword").
// false when the position names neither.
bool openElement(std::int32_t position, std::string& keyword, std::string& identifier,
                 std::string* rest = nullptr);
// true when the element has no further value line (the next line with a
// role is a '@' line or the file ends); the reading offset stays.
bool atElementEnd();
// The same, or the next value line is the "EOE" that ends a sub-element or
// a part of a symbol.
bool atPartEnd();
// Bytes left after the reading offset.
std::size_t remainingBytes();
// true when `count` items of at least `itemBytes` bytes each fit into the
// rest of the file.
bool countFits(std::int64_t count, std::size_t itemBytes);

// Sets the type, form and label of the element table record at the index.
void stamp(std::int32_t index, std::int32_t type, std::int32_t form, const char* label);
// At debug level above 98: "<name> : ID <id> Offset <position> Type   <keyword>".
void debugHeader(const char* name, const std::string& identifier, std::int32_t position,
                 const std::string& keyword);
bool debugAbove(int level);

// Opens the element at the position for the fetch `code` when its keyword is
// one of `keywords`: `out` is then a new record with the element's keyword
// and identifier (and `rest` the rest of its header line).
template <class Record>
bool openRecord(const char* code, std::int32_t position, std::initializer_list<std::string_view> keywords, Record& out,
                std::string* rest = nullptr) {
  std::string keyword, identifier;
  if (!openElement(position, keyword, identifier, rest)) return false;
  debugHeader(code, identifier, position, keyword);
  if (std::find(keywords.begin(), keywords.end(), keyword) == keywords.end()) return false;
  out = Record();
  out.keyword = keyword;
  out.identifier = identifier;
  return true;
}

// [v] attribute text, [v] token, status token and (withPen) the pen.
bool readHead(ValueReader& r, TransferRecord& out, bool withPen = true);
// The status token: "deleted" sets the flag, any other clears it.
bool readStatus(ValueReader& r, TransferRecord& out);
// The colour assignment of a pen.
void applyPen(const TransferPen& pen, TransferRecord& out);
// The layer value: its layer number, or warning 1010 and layer 0.
bool readLayer(ValueReader& r, TransferRecord& out);
// The line style number and the line width, mapped.
bool readStyleAndWidth(ValueReader& r, TransferRecord& out);
// Layer (unless the keyword is a "d_" primitive), style and width.
bool readTail(ValueReader& r, TransferRecord& out);
bool isPrimitive(std::string_view keyword);  // begins with "d_"

// Body readers: the value lines of an element whose header line (or part
// token) was read, by keyword.  0, -1, or -99 for a keyword of another kind.
int readLineBody(ValueReader& r, const std::string& keyword, TransferLine& out);
int readCircleBody(ValueReader& r, const std::string& keyword, TransferCircle& out);
int readHatchBody(ValueReader& r, const std::string& keyword, TransferHatch& out);
int readTextBody(ValueReader& r, const std::string& keyword, TransferText& out);

// Entity form and label of a hatch or polygon keyword; false for another.
bool hatchKindOf(std::string_view keyword, std::int32_t& form, const char*& label);

// Runs a fetch; a failed allocation reports error 370 with the code and
// gives -1.
template <class Fetch>
int guarded(const char* code, Fetch&& fetch) {
  try {
    return fetch();
  } catch (const std::bad_alloc&) {
    return mfaNoMemory(code);
  } catch (const std::length_error&) {
    return mfaNoMemory(code);
  }
}

// The EDX copy: when the element table record at the index holds a record
// of the kind, it is copied into `out`; true then.
template <class Record>
bool copyStoredRecord(std::int32_t index, Record& out) {
  if (!isElementIndex(index)) return false;
  const auto* stored = dynamic_cast<const Record*>(element(index).params.get());
  if (stored == nullptr) return false;
  out = *stored;
  return true;
}

}  // namespace fetch_detail
