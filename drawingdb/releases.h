// The releases of drawing files the toolkit knows, oldest first.  One table
// names each release's version string (the first bytes of a DWG file), the
// text a DXF file carries in $ACADVER, and what the toolkit does with it;
// every other table of the program that names releases derives from this
// one.  A leaf: it includes nothing but the standard library, so any folder
// may include it.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace drawingdb {

// Ordered: "since R13" is `r >= Release::R13`.
enum class Release : std::uint8_t {
  R1_0,   // MC0.0
  R1_2,   // AC1.2
  R1_40,  // AC1.40
  R2_05,  // AC1.50
  R2_10,  // AC2.10
  R2_21,  // AC2.21
  R2_22,  // AC2.22 / AC1001
  R2_5,   // AC1002
  R2_6,   // AC1003
  R9,     // AC1004
  R10,    // AC1006
  R12,    // AC1009 (R11 and R12 share the format)
  R13,    // AC1012
  R14,    // AC1014
  R2000,  // AC1015
  R2004,  // AC1018
  R2007,  // AC1021
  R2010,  // AC1024
  R2013,  // AC1027
  R2018,  // AC1032
};

inline constexpr Release kOldestRelease = Release::R1_0;
inline constexpr Release kNewestRelease = Release::R2018;

// What the toolkit can do with files of a release (bit set).
enum Capability : std::uint8_t {
  kReadDxf = 1,
  kWriteDxf = 2,
  kReadDwg = 4,
  kWriteDwg = 8,
};

struct ReleaseInfo {
  Release release;
  std::string_view version;  // version string, "AC1015"
  std::string_view acadver;  // the DXF $ACADVER text (empty: no DXF of this release is known)
  std::string_view name;     // the release as users call it, "2000"
  std::uint8_t can;          // Capability bits
};

// Releases in order; releaseInfo(r) is kReleases[index of r].
std::span<const ReleaseInfo> releases();
const ReleaseInfo& releaseInfo(Release r);

// The release of a DXF $ACADVER text or a DWG version string (AC1011, an
// interim R13 version, reads as R13); nullopt when unknown.  Trailing blanks
// and NULs are ignored.
std::optional<Release> releaseFromVersion(std::string_view text);

inline bool can(Release r, Capability c) { return (releaseInfo(r).can & c) != 0; }

// A closed range of releases; the building block of the field declarations.
struct Span {
  Release first = kOldestRelease;
  Release last = kNewestRelease;
  bool empty = false;
  constexpr bool has(Release r) const { return !empty && first <= r && r <= last; }
};

inline constexpr Span kAllReleases{};
inline constexpr Span kNoRelease{kOldestRelease, kOldestRelease, true};
constexpr Span since(Release r) { return Span{r, kNewestRelease}; }
constexpr Span until(Release r) { return Span{kOldestRelease, r}; }
constexpr Span between(Release a, Release b) { return Span{a, b}; }

}  // namespace drawingdb
