#include "dxf_in/dxf_store.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <utility>

#include "support/ascii.h"
#include "support/run_state.h"
#include "support/trace.h"

namespace {

// Entries of a table when its count is missing or below 1.
constexpr long kDefaultTableEntries = 10;
// A table entry takes at least this many bytes of the file ("0", the
// entity name and one group): a count beyond the file's size is not
// believed.
constexpr long kBytesPerTableEntry = 8;

const std::string kNoText;

}  // namespace

// ---------------------------------------------------------------------------
// State

DxfReaderState& dxfReader() {
  static DxfReaderState state;
  return state;
}

const RunStateRegistrar kRunStateRegistered("DXF reader", resetDxfReader);

void resetDxfReader() { dxfReader() = DxfReaderState{}; }

// ---------------------------------------------------------------------------
// Values

bool dxfIsInteger(const std::string& text, long& value) {
  const char* p = text.c_str();
  while (*p == ' ' || *p == '\t') ++p;
  if (*p == '\0') return false;
  errno = 0;
  char* end = nullptr;
  const long v = std::strtol(p, &end, 10);
  if (end == p) return false;
  while (*end == ' ' || *end == '\t') ++end;
  if (*end != '\0') return false;
  value = errno == ERANGE ? (v < 0 ? LONG_MIN : LONG_MAX) : v;
  return true;
}

std::string dxfTrimmed(const std::string& value) {
  std::size_t b = 0, e = value.size();
  while (b < e && (value[b] == ' ' || value[b] == '\t')) ++b;
  while (e > b && (value[e - 1] == ' ' || value[e - 1] == '\t')) --e;
  return value.substr(b, e - b);
}

int dxfInteger(const std::string& value) {
  const long v = std::strtol(value.c_str(), nullptr, 10);
  return static_cast<int>(std::clamp<long>(v, INT_MIN, INT_MAX));
}

double dxfReal(const std::string& value) {
  // A plain decimal number (what writers write) is converted directly;
  // both conversions round correctly, so they give the same value.  Signs,
  // blanks, hexadecimal digits, numbers out of range and the rest go to the
  // general conversion.
  const char* const begin = value.c_str();
  const char* const end = begin + value.size();
  if (begin != end && ((*begin >= '0' && *begin <= '9') || *begin == '-' || *begin == '.')) {
    double v = 0.0;
    const auto [stop, error] = std::from_chars(begin, end, v);
    if (error == std::errc() && (stop == end || *stop == ' ' || *stop == '\0') && std::isfinite(v)) return v;
  }
  const double v = std::strtod(begin, nullptr);
  return std::isfinite(v) ? v : 0.0;
}

// ---------------------------------------------------------------------------
// Groups

void DxfGroups::add(int code, std::string_view value, long line) {
  if (count_ == slots_.size()) slots_.emplace_back();
  DxfGroup& slot = slots_[count_++];
  slot.code = code;
  slot.value.assign(value);
  slot.line = line;
  if (code >= 0 && code < kIndexed) lastOf_[code] = count_;
}

void DxfGroups::clear() {
  for (std::size_t k = 0; k < count_; ++k) {
    const int code = slots_[k].code;
    if (code >= 0 && code < kIndexed) lastOf_[code] = 0;
  }
  count_ = 0;
}

const DxfGroup* DxfGroups::last(int code) const {
  if (code >= 0 && code < kIndexed) {
    const std::size_t at = lastOf_[code];
    return at > 0 && at <= count_ ? &slots_[at - 1] : nullptr;
  }
  for (std::size_t k = count_; k > 0; --k)
    if (slots_[k - 1].code == code) return &slots_[k - 1];
  return nullptr;
}

const std::string& DxfGroups::text(int code) const {
  const DxfGroup* g = last(code);
  return g != nullptr ? g->value : kNoText;
}

double DxfGroups::real(int code, double otherwise) const {
  const DxfGroup* g = last(code);
  return g != nullptr ? dxfReal(g->value) : otherwise;
}

int DxfGroups::integer(int code, int otherwise) const {
  const DxfGroup* g = last(code);
  return g != nullptr ? dxfInteger(g->value) : otherwise;
}

Point3 DxfGroups::point(int code) const { return Point3{real(code), real(code + 10), real(code + 20)}; }

int DxfGroups::colour() const {
  const int c = integer(62);
  return c == INT_MIN ? INT_MAX : std::abs(c);
}

std::string DxfGroups::joined(int code, std::size_t limit) const {
  std::string out;
  for (const DxfGroup& g : list())
    if (g.code == code && out.size() < limit) out += g.value;
  return out;
}

// ---------------------------------------------------------------------------
// Tables

template <typename Entry>
void DxfTable<Entry>::size(long count, long fileSize) {
  long n = count < 1 ? kDefaultTableEntries : count;
  n = std::min(n, fileSize / kBytesPerTableEntry + kDefaultTableEntries);
  if (static_cast<std::size_t>(n) > entries.capacity()) entries.reserve(static_cast<std::size_t>(n));
}

template <typename Entry>
std::int32_t DxfTable<Entry>::add(Entry entry) {
  const auto position = static_cast<std::int32_t>(entries.size());
  const std::string key = upperAscii(entry.name);
  entries.push_back(std::move(entry));
  lastByName[key] = position;
  return position;
}

template <typename Entry>
std::int32_t DxfTable<Entry>::find(const std::string& name) const {
  const auto it = lastByName.find(upperAscii(name));
  return it == lastByName.end() ? -1 : it->second;
}

template struct DxfTable<DxfLayerEntry>;
template struct DxfTable<DxfGroupsEntry>;
template struct DxfTable<DxfTextStyleEntry>;

namespace {

// The search is the same for the tables; each keeps its own function code.
template <typename Entry>
std::int32_t findEntry(const char* code, DxfTable<Entry> DxfReaderState::*table, const std::string& name) {
  TraceScope t(code);
  return (dxfReader().*table).find(name);
}

}  // namespace

std::int32_t findLayer(const std::string& name) { return findEntry("dxf120", &DxfReaderState::layers, name); }
std::int32_t findLineType(const std::string& name) { return findEntry("dxf220", &DxfReaderState::lineTypes, name); }
std::int32_t findTextStyle(const std::string& name) { return findEntry("dxf420", &DxfReaderState::textStyles, name); }
