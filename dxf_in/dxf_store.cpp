#include "dxf_in/dxf_store.h"

#include <algorithm>
#include <cerrno>
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
  const double v = std::strtod(value.c_str(), nullptr);
  return std::isfinite(v) ? v : 0.0;
}

// ---------------------------------------------------------------------------
// Groups

void DxfGroups::add(DxfGroup group) {
  const int code = group.code;
  list.push_back(std::move(group));
  if (code >= 0 && code < kIndexed) lastOf_[code] = list.size();
}

void DxfGroups::clear() {
  for (const DxfGroup& g : list)
    if (g.code >= 0 && g.code < kIndexed) lastOf_[g.code] = 0;
  list.clear();
}

const DxfGroup* DxfGroups::last(int code) const {
  if (code >= 0 && code < kIndexed) {
    const std::size_t at = lastOf_[code];
    return at > 0 && at <= list.size() ? &list[at - 1] : nullptr;
  }
  for (auto it = list.rbegin(); it != list.rend(); ++it)
    if (it->code == code) return &*it;
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
  for (const DxfGroup& g : list)
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
