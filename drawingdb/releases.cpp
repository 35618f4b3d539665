#include "drawingdb/releases.h"

#include <array>

namespace drawingdb {
namespace {

constexpr std::uint8_t kDxfBoth = kReadDxf | kWriteDxf;
// DWG files the toolkit reads and writes: 2.5 to 11/12 in their
// byte-oriented layout, R13, R14 and 2000 in the flat bit-coded one, 2004
// in the paged one.
constexpr std::uint8_t kDxfDwg = kDxfBoth | kReadDwg | kWriteDwg;

// Releases before R2.5 wrote DXF files that no reader of today accepts; the
// toolkit names them so that a file of one is recognised and refused
// clearly.
constexpr std::array<ReleaseInfo, 20> kReleases{{
    {Release::R1_0, "MC0.0", "", "1.0", 0},
    {Release::R1_2, "AC1.2", "", "1.2", 0},
    {Release::R1_40, "AC1.40", "", "1.40", 0},
    {Release::R2_05, "AC1.50", "", "2.05", 0},
    {Release::R2_10, "AC2.10", "AC2.10", "2.10", 0},
    {Release::R2_21, "AC2.21", "", "2.21", 0},
    {Release::R2_22, "AC1001", "AC1001", "2.22", 0},
    {Release::R2_5, "AC1002", "AC1002", "2.5", kDxfDwg},
    {Release::R2_6, "AC1003", "AC1003", "2.6", kDxfDwg},
    {Release::R9, "AC1004", "AC1004", "9", kDxfDwg},
    {Release::R10, "AC1006", "AC1006", "10", kDxfDwg},
    {Release::R12, "AC1009", "AC1009", "12", kDxfDwg},
    {Release::R13, "AC1012", "AC1012", "13", kDxfDwg},
    {Release::R14, "AC1014", "AC1014", "14", kDxfDwg},
    {Release::R2000, "AC1015", "AC1015", "2000", kDxfDwg},
    {Release::R2004, "AC1018", "AC1018", "2004", kDxfDwg},
    {Release::R2007, "AC1021", "AC1021", "2007", kReadDxf | kReadDwg},
    {Release::R2010, "AC1024", "AC1024", "2010", kReadDxf | kReadDwg},
    {Release::R2013, "AC1027", "AC1027", "2013", kReadDxf | kReadDwg},
    {Release::R2018, "AC1032", "AC1032", "2018", kReadDxf | kReadDwg},
}};

constexpr bool tableIsInOrder() {
  for (std::size_t i = 0; i < kReleases.size(); ++i)
    if (static_cast<std::size_t>(kReleases[i].release) != i) return false;
  return kReleases.back().release == kNewestRelease;
}
static_assert(tableIsInOrder(), "the release table lists every release once, in order");

}  // namespace

std::span<const ReleaseInfo> releases() { return kReleases; }

const ReleaseInfo& releaseInfo(Release r) { return kReleases[static_cast<std::size_t>(r)]; }

std::optional<Release> releaseFromVersion(std::string_view text) {
  while (!text.empty() && (text.back() == ' ' || text.back() == '\0' || text.back() == '\r')) text.remove_suffix(1);
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  if (text == "AC1011") return Release::R13;
  for (const ReleaseInfo& info : kReleases)
    if (text == info.version || (!info.acadver.empty() && text == info.acadver)) return info.release;
  return std::nullopt;
}

}  // namespace drawingdb
