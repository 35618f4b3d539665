// Field parsers of IGES parameter and global data.  Each parser starts at a
// field, returns the position after the field's delimiter (nullptr when the
// text ended without a field) and sets bits in a flag byte.
#pragma once

#include <string>

#include "elements/transform.h"

namespace IgesFlag {
constexpr unsigned kExponentD = 1;  // a real used the exponent letter 'D'
constexpr unsigned kInvalid = 2;    // the field was refused (warning given)
constexpr unsigned kEmpty = 4;      // the field was empty, its default applies
constexpr unsigned kRecordEnd = 8;  // the record delimiter ended the field
}  // namespace IgesFlag

struct IgesDelimiters {
  char param = ',';
  char record = ';';
};

// The delimiters the parsers use (those of the file being read).
IgesDelimiters& igesDelimiters();

const char* skipField(const char* text);                                      // hvd820
const char* parseInteger(const char* text, unsigned& flags, int& value);       // hvd200
const char* parseHollerithCount(const char* text, unsigned& flags, int& count);  // hvd240
const char* parseString(const char* text, unsigned& flags, std::string& value);  // hvd280
// Reals below 1e-14 in magnitude become 0.0.
const char* parseRealRaw(const char* text, unsigned& flags, double& value);    // hvd321
// As parseRealRaw, and values below the system epsilon become 0.0.
const char* parseReal(const char* text, unsigned& flags, double& value);       // hvd320
// Global parameter 1: sets the parameter delimiter; nullptr when malformed.
const char* checkDelimiterSpec(const char* text);                              // hvd800

// Steps through the fields of one entity's parameter data.  A field that is
// refused (its parser has warned) takes its default 0, 0.0 or empty and the
// reading goes on at the next field, so one bad value does not lose the
// element; its flag kInvalid stays in `flags`.  A field that is missing
// where one is required marks the cursor failed.
struct IgesFieldCursor {
  const char* p;
  unsigned flags = 0;
  bool failed = false;

  // The record delimiter ends the data.
  bool more() const { return p != nullptr && *p != '\0' && !(flags & IgesFlag::kRecordEnd); }
  int integer();
  // raw: values below the system epsilon are kept (coefficients).
  double real(bool raw = false);
  std::string string();
};
