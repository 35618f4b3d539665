#include "iges_in/iges_fields.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "support/messages.h"
#include "support/run_state.h"
#include "support/trace.h"

namespace {

// Values below this magnitude arrive as 0 (global.cfg "ALLG_SYST_EPSL").
constexpr double kSystemEpsilon = 0.0001;
constexpr double kRealZero = 1e-14;
constexpr std::size_t kLongestReal = 64;

bool isDelimiter(char c) {
  const IgesDelimiters& d = igesDelimiters();
  return c == d.param || c == d.record;
}

const char* skipBlanks(const char* p) {
  while (*p == ' ') ++p;
  return p;
}

// Position after the delimiter at p, with flag 8 for the record delimiter.
const char* afterDelimiter(const char* p, unsigned& flags, const char* code) {
  if (*p == '\0') {
    mfaWarning(code, 930, Channel::kProtocol);
    return p;
  }
  if (*p == igesDelimiters().record) flags |= IgesFlag::kRecordEnd;
  return p + 1;
}

// The field's text after its leading blanks; nullptr, flagged empty at the
// record's end, when there is none.
const char* fieldStart(const char* text, unsigned& flags) {
  if (text != nullptr) return skipBlanks(text);
  flags |= IgesFlag::kEmpty | IgesFlag::kRecordEnd;
  return nullptr;
}

// What the field readers keep while a file is read: its delimiters.
struct IgesFieldState {
  IgesDelimiters delimiters;
};

IgesFieldState& igesFieldState() {
  static IgesFieldState state;
  return state;
}

const RunStateRegistrar kRunStateRegistered("IGES fields", [] { igesFieldState() = IgesFieldState{}; });
}  // namespace

IgesDelimiters& igesDelimiters() { return igesFieldState().delimiters; }

const char* skipField(const char* text) {
  TraceScope t("hvd820");
  const char* p = text;
  while (*p != '\0' && !isDelimiter(*p)) ++p;
  return p;
}

const char* parseInteger(const char* text, unsigned& flags, int& value) {
  TraceScope t("hvd200");
  value = 0;
  const char* p = fieldStart(text, flags);
  if (p == nullptr) return nullptr;
  if (*p == '\0') {
    flags |= IgesFlag::kEmpty;
    mfaWarning(t.code(), 580, Channel::kProtocol);
    return nullptr;
  }
  if (*p == igesDelimiters().record) {
    flags |= IgesFlag::kEmpty | IgesFlag::kRecordEnd;
    return p + 1;
  }
  if (*p == igesDelimiters().param) {
    flags |= IgesFlag::kEmpty;
    mfaWarning(t.code(), 580, Channel::kProtocol);
    return p + 1;
  }
  long long magnitude = 0;
  bool negative = false;
  bool digits = false;
  bool bad = false;
  for (bool first = true; *p != '\0' && !isDelimiter(*p); ++p, first = false) {
    const char c = *p;
    if ((c == '+' || c == '-') && first) {
      negative = c == '-';
    } else if (c >= '0' && c <= '9') {
      digits = true;
      // Stop collecting once the value is out of range: it is refused anyway.
      if (!bad) magnitude = magnitude * 10 + (c - '0');
      if (magnitude > 2147483648LL) bad = true;
    } else if (c != ' ') {
      bad = true;
    }
  }
  if (!digits || bad || (!negative && magnitude > 2147483647LL)) {
    mfaWarning(t.code(), 570, Channel::kProtocol);
    flags |= IgesFlag::kInvalid;
    return afterDelimiter(skipField(p), flags, t.code());
  }
  value = static_cast<int>(negative ? -magnitude : magnitude);
  return afterDelimiter(p, flags, t.code());
}

const char* parseHollerithCount(const char* text, unsigned& flags, int& count) {
  TraceScope t("hvd240");
  count = 0;
  const char* p = fieldStart(text, flags);
  if (p == nullptr) return nullptr;
  if (isDelimiter(*p)) {
    flags |= IgesFlag::kEmpty;
    return p;
  }
  long long n = 0;
  for (; *p != '\0' && *p != 'H' && !isDelimiter(*p); ++p) {
    if (*p < '0' || *p > '9' || n > 1000000) {
      flags |= IgesFlag::kInvalid;
      return skipField(p);
    }
    n = n * 10 + (*p - '0');
  }
  if (*p != 'H') {
    if (*p == '\0') mfaWarning(t.code(), 930, Channel::kProtocol);
    flags |= IgesFlag::kInvalid;
    return p;
  }
  count = static_cast<int>(n);
  return p + 1;
}

const char* parseString(const char* text, unsigned& flags, std::string& value) {
  TraceScope t("hvd280");
  value.clear();
  if (text == nullptr || *text == '\0') {
    mfaWarning(t.code(), 250, Channel::kProtocol);
    flags |= IgesFlag::kEmpty;
    return nullptr;
  }
  const char* p = skipBlanks(text);
  if (isDelimiter(*p)) {
    flags |= IgesFlag::kEmpty;
    return afterDelimiter(p, flags, t.code());
  }
  int n = 0;
  unsigned countFlags = 0;
  p = parseHollerithCount(p, countFlags, n);
  if (countFlags & IgesFlag::kInvalid) {
    flags |= IgesFlag::kInvalid;
    return p == nullptr ? nullptr : afterDelimiter(skipField(p), flags, t.code());
  }
  // The count may not reach past the end of the text.
  const std::size_t available = std::strlen(p);
  if (static_cast<std::size_t>(n) > available) {
    mfaWarning(t.code(), 930, Channel::kProtocol);
    flags |= IgesFlag::kInvalid;
    return p + available;
  }
  value.assign(p, static_cast<std::size_t>(n));
  p += n;
  if (value.empty() || value == " ") {
    value.clear();
    flags |= IgesFlag::kEmpty;
  }
  const char* q = skipBlanks(p);
  if (*q == '\0' || isDelimiter(*q)) return afterDelimiter(q, flags, t.code());
  // The count was too small: the characters up to the next delimiter overflow.
  const char* end = skipField(q);
  const std::string overflow(q, static_cast<std::size_t>(end - q));
  const std::size_t k = overflow.size();
  const std::string run(k, ' ');
  std::size_t at = std::string::npos;
  if (k < static_cast<std::size_t>(n) && value.size() >= k) {
    at = value.rfind(run, value.size() - k);
  }
  if (at == std::string::npos) {
    mfaWarning(t.code(), 930, Channel::kProtocol);
    value.clear();
    flags |= IgesFlag::kInvalid;
    return afterDelimiter(end, flags, t.code());
  }
  value.erase(at, k);
  value += overflow;
  mfaWarning(t.code(), 810, Channel::kProtocol);
  return afterDelimiter(end, flags, t.code());
}

const char* parseRealRaw(const char* text, unsigned& flags, double& value) {
  TraceScope t("hvd321");
  value = 0.0;
  const char* p = fieldStart(text, flags);
  if (p == nullptr) return nullptr;
  if (*p == '\0') {
    flags |= IgesFlag::kEmpty;
    return nullptr;
  }
  if (isDelimiter(*p)) {
    flags |= IgesFlag::kEmpty;
    if (*p == igesDelimiters().param) mfaWarning(t.code(), 220, Channel::kProtocol);
    return afterDelimiter(p, flags, t.code());
  }
  // The field is checked where it stands; its characters are copied (blanks
  // left out, 'D' as 'E') only when they do not stand together as a number.
  const char param = igesDelimiters().param, record = igesDelimiters().record;
  const char* const first = p;
  const char* contentEnd = p;  // after the last character that is no blank
  std::size_t length = 0;      // characters that are no blanks
  int dots = 0, exponents = 0, plus = 0, minus = 0;
  bool bad = false;
  bool digitSeen = false;
  bool d = false;
  bool gap = false;  // a blank stands between characters of the number
  char previous = '\0';
  for (; *p != '\0' && *p != param && *p != record; ++p) {
    char c = *p;
    if (c == ' ') continue;
    if (p != contentEnd && length > 0) gap = true;
    if (c >= '0' && c <= '9') {
      digitSeen = true;
    } else if (c == '.') {
      bad |= ++dots > 1 || exponents > 0;
    } else if (c == 'E' || c == 'e' || c == 'D') {
      if (c == 'D') d = true;
      c = 'E';
      bad |= ++exponents > 1 || !digitSeen;
    } else if (c == '+' || c == '-') {
      bad |= (c == '+' ? ++plus : ++minus) > 2;
      bad |= !(length == 0 || previous == 'E');
    } else {
      bad = true;
    }
    if (length >= kLongestReal) bad = true;
    if (bad) break;
    previous = c;
    ++length;
    contentEnd = p + 1;
  }
  if (!bad && previous == 'E') bad = true;
  if (!bad && !digitSeen) bad = true;
  double v = 0.0;
  if (!bad) {
    // The value rounded to the nearest double; a value beyond the range of
    // doubles is refused, one below it is 0 (or the smallest it can be).
    const char* from = first;
    while (*from == ' ') ++from;
    if (*from == '+') ++from;
    std::from_chars_result r{};
    if (!gap && !d) r = std::from_chars(from, contentEnd, v);
    if (gap || d || r.ec != std::errc{} || r.ptr != contentEnd) {
      char buffer[kLongestReal + 1];
      std::size_t n = 0;
      for (const char* q = first; q != contentEnd; ++q)
        if (*q != ' ') buffer[n++] = *q == 'D' ? 'E' : *q;
      buffer[n] = '\0';
      const char* start = buffer[0] == '+' ? buffer + 1 : buffer;
      r = std::from_chars(start, buffer + n, v);
      if (r.ec != std::errc{} || r.ptr != buffer + n) {
        char* end = nullptr;
        v = std::strtod(buffer, &end);
        if (end != buffer + n) bad = true;
      }
    }
    if (!std::isfinite(v)) bad = true;
  }
  if (bad) {
    mfaWarning(t.code(), 450, Channel::kProtocol);
    flags |= IgesFlag::kInvalid;
    return afterDelimiter(skipField(p), flags, t.code());
  }
  if (d) flags |= IgesFlag::kExponentD;
  value = std::fabs(v) < kRealZero ? 0.0 : v;
  return afterDelimiter(p, flags, t.code());
}

const char* parseReal(const char* text, unsigned& flags, double& value) {
  TraceScope t("hvd320");
  const char* next = parseRealRaw(text, flags, value);
  if (std::fabs(value) < kSystemEpsilon) value = 0.0;
  return next;
}

const char* checkDelimiterSpec(const char* text) {
  TraceScope t("hvd800");
  if (text == nullptr) return nullptr;
  if (text[0] == ',') {
    igesDelimiters().param = ',';
    return text + 1;
  }
  if (text[0] != '1' || text[1] != 'H' || text[2] == '\0' || text[3] == '\0') return nullptr;
  igesDelimiters().param = text[2];
  return text + 4;
}

namespace {
// The next field read by `parse`; a missing field fails the cursor.
template <typename T>
T nextField(IgesFieldCursor& c, const char* (*parse)(const char*, unsigned&, T&)) {
  T v{};
  if (!c.more()) {
    c.failed = true;
    return v;
  }
  unsigned f = 0;
  c.p = parse(c.p, f, v);
  c.flags |= f;
  return v;
}
}  // namespace

int IgesFieldCursor::integer() { return nextField(*this, parseInteger); }

double IgesFieldCursor::real(bool raw) { return nextField(*this, raw ? parseRealRaw : parseReal); }

std::string IgesFieldCursor::string() { return nextField(*this, parseString); }
