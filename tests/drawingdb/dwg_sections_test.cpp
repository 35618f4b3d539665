// The sections of DWG files of R13 to 2000 beside the objects: header
// variables and classes written and read back per release, the raw blocks
// (AuxHeader, preview, ObjFreeSpace, template, second header) with their
// sentinels and CRCs, damaged copies answered with a status, and the corpus
// files read with values that agree with their DXF twins.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "dwg_corpus_files.h"
#include "drawingdb/dwg_sections.h"
#include "drawingdb/file_io.h"
#include "drawingdb/schema.h"

using namespace drawingdb;
namespace fs = std::filesystem;

namespace {

constexpr Release kReleases[] = {Release::R13, Release::R14, Release::R2000};

const CodePage& ansi1252() {
  static const CodePage page = CodePage::named("ANSI_1252");
  return page;
}

// A distinct value for the i-th variable, one its DWG form holds.
HeaderValue sampleValue(const HeaderVar& v, Bits bits, std::size_t i) {
  const auto n = static_cast<std::int32_t>(i);
  switch (v.kind) {
    case ValueKind::Bool: return i % 2 == 0;
    case ValueKind::Int:
      if (bits == Bits::B) return std::int32_t{v.real == 0 ? 1 : 0};
      if (bits == Bits::RC) return std::int32_t{200 - n % 100};
      return std::int32_t{-300 + 7 * n};
    case ValueKind::Real:
      if (bits == Bits::TIME) return 2451545.0 + 0.25 + n;  // whole milliseconds
      return 0.5 + 0.125 * n;
    case ValueKind::Text: return "v\xC3\xA4" + std::to_string(i);  // a character of ANSI 1252
    case ValueKind::Point: return Point3{1.5 * n, -2.0 * n, bits == Bits::RD2 ? 0.0 : 0.25 * n};
    default: return {};
  }
}

DwgHeaderHandles sampleHandles() {
  DwgHeaderHandles h;
  Handle next = 0x10;
  for (Handle* p : {&h.viewportEntityHeader, &h.currentLayer, &h.textStyle, &h.currentLinetype, &h.dimStyle,
                    &h.mlineStyle, &h.paperUcs, &h.paperUcsOrthoRef, &h.paperUcsBase, &h.ucs, &h.ucsOrthoRef,
                    &h.ucsBase, &h.dimTextStyle, &h.dimLeaderBlock, &h.dimBlock, &h.dimBlock1, &h.dimBlock2,
                    &h.blockControl, &h.layerControl, &h.styleControl, &h.linetypeControl, &h.viewControl,
                    &h.ucsControl, &h.vportControl, &h.appidControl, &h.dimstyleControl, &h.vxControl,
                    &h.groupDictionary, &h.mlineStyleDictionary, &h.namedObjects, &h.layoutDictionary,
                    &h.plotSettingsDictionary, &h.plotStyleDictionary, &h.currentPlotStyle, &h.paperSpace,
                    &h.modelSpace, &h.byLayer, &h.byBlock, &h.continuous})
    *p = next++;
  h.handseed = 0x12345;
  return h;
}

// The handles release r stores (the others read back as null).
DwgHeaderHandles storedIn(DwgHeaderHandles h, Release r) {
  if (r < Release::R2000) {
    h.paperUcsOrthoRef = h.paperUcsBase = h.ucsOrthoRef = h.ucsBase = 0;
    h.dimLeaderBlock = h.dimBlock = h.dimBlock1 = h.dimBlock2 = 0;
    h.layoutDictionary = h.plotSettingsDictionary = h.plotStyleDictionary = 0;
    h.currentPlotStyle = 0;
  }
  return h;
}

RawTag realTag(double v) {
  RawTag t;
  t.type = TagType::Real;
  t.real = v;
  return t;
}
RawTag intTag(std::int64_t v) {
  RawTag t;
  t.type = TagType::Int32;
  t.integer = v;
  return t;
}
RawTag textTag(std::string v, std::int64_t n = 0) {
  RawTag t;
  t.type = TagType::String;
  t.text = std::move(v);
  t.integer = n;
  return t;
}

const std::string* keptText(const Header& h, std::string_view name) {
  for (const UnknownVariable& u : h.dwgUnknown)
    if (u.name == name && !u.tags.empty()) return &u.tags.front().text;
  return nullptr;
}
const RawTag* kept(const Header& h, std::string_view name) {
  for (const UnknownVariable& u : h.dwgUnknown)
    if (u.name == name && !u.tags.empty()) return &u.tags.front();
  return nullptr;
}

std::string written(const Header& h, const DwgHeaderHandles& handles, Release r) {
  std::string data;
  const Status s = writeDwgHeaderVariables(h, handles, r, ansi1252(), data);
  EXPECT_TRUE(s.ok()) << s.detail;
  return data;
}

// Whether a raw double with this value starts at some bit of `data`.
bool holdsDouble(std::string_view data, double value) {
  for (std::size_t bit = 0; bit + 64 <= data.size() * 8; ++bit) {
    DwgBitReader in(data);
    in.seekBit(bit);
    if (in.readRawDouble() == value) return true;
  }
  return false;
}

// ------------------------------------------------------- header variables

TEST(DwgHeaderVariables, EveryVariableOfEachReleaseComesBack) {
  const auto vars = headerVars();
  for (Release r : kReleases) {
    SCOPED_TRACE(releaseInfo(r).version);
    Header h;
    std::size_t stored = 0;
    for (std::size_t i = 0; i < vars.size(); ++i)
      if (const Bits bits = vars[i].dwgBits(r); bits != Bits::None) {
        h.valueAt(i) = sampleValue(vars[i], bits, i);
        ++stored;
      }
    // Each release stores well over a hundred of them.
    EXPECT_GE(stored, 150u);
    // Held in the packed FLAGS of 2000.
    h.set("$CELWEIGHT", std::int32_t{35});
    h.set("$ENDCAPS", std::int32_t{2});
    h.set("$JOINSTYLE", std::int32_t{3});
    h.set("$LWDISPLAY", true);
    h.set("$XEDIT", false);
    h.set("$EXTNAMES", false);
    h.set("$PSTYLEMODE", false);
    h.set("$OLESTARTUP", true);
    h.set("$CEPSNTYPE", std::int32_t{3});  // then the plot style handle is stored
    h.set("$ANGBASE", 30.0);
    h.dwgUnknownFrom = r;
    h.dwgUnknown.push_back({"unknown1", {realTag(7.5)}});
    h.dwgUnknown.push_back({"unknown5", {textTag("meter")}});
    h.dwgUnknown.push_back({r == Release::R2000 ? "TSTACKSIZE" : "WIREFRAME", {intTag(1)}});
    const DwgHeaderHandles handles = sampleHandles();

    const std::string data = written(h, handles, r);
    Header back;
    DwgHeaderHandles backHandles;
    const Status s = readDwgHeaderVariables(data, r, ansi1252(), back, backHandles);
    ASSERT_TRUE(s.ok()) << s.detail;
    for (std::size_t i = 0; i < vars.size(); ++i)
      if (vars[i].dwgBits(r) != Bits::None && vars[i].name != "$ANGBASE") {
        EXPECT_EQ(back.valueAt(i), h.valueAt(i)) << vars[i].name;
      }
    EXPECT_NEAR(back.real("$ANGBASE"), 30.0, 1e-12);
    if (r == Release::R2000) {
      for (const char* name : {"$CELWEIGHT", "$ENDCAPS", "$JOINSTYLE", "$LWDISPLAY", "$XEDIT", "$EXTNAMES",
                               "$PSTYLEMODE", "$OLESTARTUP"})
        EXPECT_EQ(back.integer(name), h.integer(name)) << name;
    }
    EXPECT_EQ(backHandles, storedIn(handles, r));
    EXPECT_EQ(back.handle("$HANDSEED"), handles.handseed);
    EXPECT_EQ(back.dwgUnknownFrom, r);
    ASSERT_NE(kept(back, "unknown1"), nullptr);
    EXPECT_EQ(kept(back, "unknown1")->real, 7.5);
    ASSERT_NE(keptText(back, "unknown5"), nullptr);
    EXPECT_EQ(*keptText(back, "unknown5"), "meter");
    ASSERT_NE(kept(back, r == Release::R2000 ? "TSTACKSIZE" : "WIREFRAME"), nullptr);
    EXPECT_EQ(kept(back, r == Release::R2000 ? "TSTACKSIZE" : "WIREFRAME")->integer, 1);

    // What was read writes the same bits again.
    EXPECT_EQ(written(back, backHandles, r), data);
  }
}

TEST(DwgHeaderVariables, OnlyTheVariablesOfTheReleaseAreStored) {
  // A variable of one release changed leaves the data of the other alone.
  const DwgHeaderHandles handles = sampleHandles();
  for (auto [name, value, in] : {std::tuple{"$DIMFIT", HeaderValue{std::int32_t{5}}, Release::R14},
                                 std::tuple{"$PSVPSCALE", HeaderValue{2.0}, Release::R2000},
                                 std::tuple{"$DIMADEC", HeaderValue{std::int32_t{3}}, Release::R2000},
                                 std::tuple{"$BLIPMODE", HeaderValue{std::int32_t{1}}, Release::R13}}) {
    SCOPED_TRACE(name);
    Header h;
    const Header plain;
    ASSERT_TRUE(h.set(name, value));
    for (Release r : kReleases) {
      const bool stores = r == in || (in == Release::R14 && r == Release::R13) || (in == Release::R13 && r == Release::R14);
      EXPECT_EQ(written(h, handles, r) != written(plain, handles, r), stores) << releaseInfo(r).version;
    }
  }
}

TEST(DwgHeaderVariables, AnglesAreStoredInRadiansAndDatesAsDayAndMilliseconds) {
  Header h;
  h.set("$ANGBASE", 90.0);
  h.set("$TDCREATE", 2460462.5);  // 31 May 2024, noon
  const std::string data = written(h, {}, Release::R2000);
  EXPECT_TRUE(holdsDouble(data, std::acos(-1.0) / 2));
  EXPECT_FALSE(holdsDouble(data, 90.0));
  EXPECT_FALSE(holdsDouble(data, 2460462.5));

  for (auto [julian, day, ms] : {std::tuple{2451545.0, 2451545, 0}, std::tuple{2460462.5, 2460462, 43200000},
                                 std::tuple{2451545.0 + 1e-12, 2451545, 0},
                                 std::tuple{std::nextafter(2451545.0, 0.0), 2451545, 0},  // rounds into the next day
                                 std::tuple{0.0724696, 0, 6261373}}) {
    SCOPED_TRACE(julian);
    EXPECT_EQ(dwgTimeFromJulian(julian), (DwgTime{day, ms}));
  }
  for (DwgTime t : {DwgTime{2451545, 0}, DwgTime{2460462, 86399999}, DwgTime{0, 6261373}, DwgTime{2454762, 77709999}})
    EXPECT_EQ(dwgTimeFromJulian(julianFromDwgTime(t)), t);
  EXPECT_EQ(dwgTimeFromJulian(std::nan("")), DwgTime{});
  EXPECT_EQ(dwgTimeFromJulian(1e300), DwgTime{});
}

TEST(DwgHeaderVariables, StoredValuesThatConvertInexactlyAreKept) {
  // An angle whose degrees do not give the radians back, a date whose
  // milliseconds pass a day, lineweight index 25 (no weight): each written
  // back as stored.
  Header h;
  for (int i = 1; i < 1000 && h.dwgUnknown.empty(); ++i)
    if (const double radians = 0.1234 + i / 1000.0; radians * 180.0 / std::acos(-1.0) * std::acos(-1.0) / 180.0 != radians) {
      h.dwgUnknownFrom = Release::R2000;
      h.set("$ANGBASE", radians * 180.0 / std::acos(-1.0));
      h.dwgUnknown = {{"$ANGBASE", {realTag(radians)}}};
      break;
    }
  ASSERT_FALSE(h.dwgUnknown.empty()) << "every sample converts exactly";
  const std::string data = written(h, {}, Release::R2000);
  const double radians = h.dwgUnknown.front().tags.front().real;
  EXPECT_TRUE(holdsDouble(data, radians));
  Header back;
  DwgHeaderHandles handles;
  ASSERT_TRUE(readDwgHeaderVariables(data, Release::R2000, ansi1252(), back, handles).ok());
  EXPECT_EQ(written(back, handles, Release::R2000), data);

  // Once the degrees change, they decide.
  back.set("$ANGBASE", 45.0);
  EXPECT_FALSE(holdsDouble(written(back, handles, Release::R2000), radians));

  Header odd;
  odd.dwgUnknownFrom = Release::R2000;
  odd.set("$TDINDWG", 2.5);
  odd.dwgUnknown = {{"$TDINDWG", {intTag(std::int64_t{1} << 32 | 129600000)}},  // day 1, 36 h
                    {"FLAGS", {intTag(0x2A19)}}};                              // index 25
  const std::string oddData = written(odd, {}, Release::R2000);
  ASSERT_TRUE(readDwgHeaderVariables(oddData, Release::R2000, ansi1252(), back, handles).ok());
  EXPECT_DOUBLE_EQ(back.real("$TDINDWG"), 2.5);
  EXPECT_EQ(back.integer("$CELWEIGHT"), -1);
  ASSERT_NE(kept(back, "FLAGS"), nullptr);
  EXPECT_EQ(kept(back, "FLAGS")->integer, 0x2A19);
  EXPECT_EQ(written(back, handles, Release::R2000), oddData);
}

TEST(DwgHeaderVariables, UnknownValuesOfAnotherReleaseGiveWayToNewDrawingValues) {
  Header from14;
  from14.dwgUnknownFrom = Release::R14;
  from14.dwgUnknown = {{"unknown1", {realTag(6.1628e-14)}}};
  Header fresh;
  EXPECT_EQ(written(from14, {}, Release::R2000), written(fresh, {}, Release::R2000));
  EXPECT_NE(written(from14, {}, Release::R14), written(fresh, {}, Release::R14));
}

TEST(DwgHeaderVariables, R13KeepsWhatFollowsItsList) {
  // A new R13 section ends in four zero BS (eight bits 10101010); read
  // back they are kept with the padding after them, and so is a longer
  // tail of a file.
  const std::string data = written(Header{}, {}, Release::R13);
  Header back;
  DwgHeaderHandles handles;
  ASSERT_TRUE(readDwgHeaderVariables(data, Release::R13, ansi1252(), back, handles).ok());
  const RawTag* tail = kept(back, "tail");
  ASSERT_NE(tail, nullptr);
  EXPECT_EQ(tail->integer, 12);
  EXPECT_EQ(tail->text, std::string("\xAA\0", 2));

  back.dwgUnknown.back().tags.front() = textTag(std::string("\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xAB\xC0", 10), 76);
  const std::string longer = written(back, handles, Release::R13);
  Header again;
  ASSERT_TRUE(readDwgHeaderVariables(longer, Release::R13, ansi1252(), again, handles).ok());
  EXPECT_EQ(written(again, handles, Release::R13), longer);
}

TEST(DwgHeaderVariables, DamagedDataGiveAStatus) {
  Header h;
  h.set("$MENU", std::string(300, 'x'));
  for (Release r : kReleases) {
    SCOPED_TRACE(releaseInfo(r).version);
    const std::string data = written(h, sampleHandles(), r);
    for (std::size_t cut : {std::size_t{0}, std::size_t{1}, std::size_t{40}, data.size() / 2, data.size() - 30}) {
      Header back;
      DwgHeaderHandles handles;
      const Status s = readDwgHeaderVariables(std::string_view(data).substr(0, cut), r, ansi1252(), back, handles);
      EXPECT_EQ(s.code, StatusCode::BadFile) << cut;
      EXPECT_NE(s.detail.find("header variables"), std::string::npos) << s.detail;
    }
  }
  // Any byte set to all ones: read to the end or a status naming the section.
  const std::string data = written(h, sampleHandles(), Release::R2000);
  Header back;
  DwgHeaderHandles handles;
  for (std::size_t at = 0; at < data.size(); ++at) {
    std::string damaged = data;
    damaged[at] = '\xFF';
    const Status s = readDwgHeaderVariables(damaged, Release::R2000, ansi1252(), back, handles);
    if (!s.ok()) { EXPECT_NE(s.detail.find("header variables: "), std::string::npos) << s.detail; }
  }
  EXPECT_EQ(readDwgHeaderVariables("", Release::R12, ansi1252(), back, handles).code, StatusCode::NotSupported);
}

// ---------------------------------------------------------------- classes

TEST(DwgClasses, ClassesComeBackNumberedFrom500) {
  std::vector<ClassDef> classes = dwgClassesFor({}, Release::R14);
  classes[0].flags = 1153;
  classes[0].wasProxy = true;
  classes[1].application = "Anwendung \xC3\xBC";
  for (Release r : kReleases) {
    std::string data;
    ASSERT_TRUE(writeDwgClasses(classes, r, ansi1252(), data).ok());
    const DwgClassesRead back = readDwgClasses(data, r, ansi1252());
    ASSERT_TRUE(back.status.ok()) << back.status.detail;
    ASSERT_EQ(back.classes.size(), classes.size());
    for (std::size_t i = 0; i < classes.size(); ++i) {
      const ClassDef& a = classes[i];
      const ClassDef& b = back.classes[i];
      EXPECT_EQ(back.numbers[i], 500 + static_cast<int>(i));
      EXPECT_EQ(std::tie(a.dxfName, a.className, a.application, a.flags, a.wasProxy, a.isEntity),
                std::tie(b.dxfName, b.className, b.application, b.flags, b.wasProxy, b.isEntity));
    }
    // A class cut off in the middle.
    EXPECT_EQ(readDwgClasses(std::string_view(data).substr(0, data.size() - 3), r, ansi1252()).status.code,
              StatusCode::BadFile);
  }
}

TEST(DwgClasses, EachReleaseListsItsStandardClassesFirst) {
  ClassDef wipeout;
  wipeout.dxfName = "WIPEOUT";
  wipeout.className = "AcDbWipeout";
  wipeout.isEntity = true;
  ClassDef lw;
  lw.dxfName = "LWPOLYLINE";
  lw.className = "AcDbPolyline";
  const std::vector<ClassDef> have{lw, wipeout, wipeout};
  const auto names = [](const std::vector<ClassDef>& cs) {
    std::vector<std::string> out;
    for (const ClassDef& c : cs) out.push_back(c.dxfName);
    return out;
  };
  EXPECT_EQ(names(dwgClassesFor(have, Release::R2000)),
            (std::vector<std::string>{"ACDBDICTIONARYWDFLT", "ACDBPLACEHOLDER", "LAYOUT", "DICTIONARYVAR", "WIPEOUT"}));
  EXPECT_EQ(names(dwgClassesFor(have, Release::R14)),
            (std::vector<std::string>{"DICTIONARYVAR", "XRECORD", "LWPOLYLINE", "HATCH", "WIPEOUT"}));
  EXPECT_EQ(names(dwgClassesFor({}, Release::R13)), (std::vector<std::string>{"DICTIONARYVAR", "XRECORD"}));
  const std::vector<ClassDef> r14 = dwgClassesFor(have, Release::R14);
  EXPECT_EQ(dwgClassNumber(r14, "HATCH"), 503);
  EXPECT_TRUE(r14[3].isEntity);
  EXPECT_EQ(dwgClassNumber(r14, "LAYOUT"), -1);
}

// ------------------------------------------------------------ raw blocks

TEST(DwgRawBlocks, EachBlockComesBackAndDamageGivesAStatus) {
  DwgAuxHeader aux;
  aux.created = {2460462, 1000};
  aux.updated = {2460463, 2000};
  aux.handseed = 0x53;
  aux.unknown31 = {518, 9200, 518, 9200, 0, 1};
  std::string file(0x61, '\0');
  writeDwgAuxHeader(aux, file);
  ASSERT_EQ(file.size(), 0x61 + kDwgAuxHeaderSize);
  DwgAuxHeader auxBack;
  ASSERT_TRUE(readDwgAuxHeader(file, {5, 0x61, 123}, auxBack).ok());
  EXPECT_EQ(auxBack, aux);
  EXPECT_EQ(readDwgAuxHeader(file, {5, 0x62, 123}, auxBack).code, StatusCode::OutOfRange);
  EXPECT_EQ(readDwgAuxHeader(file, {5, 0x61, 100}, auxBack).code, StatusCode::BadFile);

  DwgObjFreeSpace free;
  free.handles = 0x52;
  free.updated = {2460463, 2000};
  free.firstObject = 0x1234;
  const std::size_t freeAt = file.size();
  ASSERT_TRUE(writeDwgObjFreeSpace(free, file).ok());
  EXPECT_EQ(file.size() - freeAt, 53u);
  DwgObjFreeSpace freeBack;
  ASSERT_TRUE(readDwgObjFreeSpace(file, {3, static_cast<std::uint32_t>(freeAt), 53}, freeBack).ok());
  EXPECT_EQ(freeBack, free);
  file[freeAt + 20] = '\x09';  // nine values claimed in 53 bytes
  EXPECT_EQ(readDwgObjFreeSpace(file, {3, static_cast<std::uint32_t>(freeAt), 53}, freeBack).code, StatusCode::BadFile);

  for (const DwgTemplate& t : {DwgTemplate{"", 1}, DwgTemplate{"metric", 0}}) {
    const std::size_t at = file.size();
    ASSERT_TRUE(writeDwgTemplate(t, file).ok());
    const DwgSectionLocator where{4, static_cast<std::uint32_t>(at), static_cast<std::uint32_t>(file.size() - at)};
    DwgTemplate back;
    ASSERT_TRUE(readDwgTemplate(file, where, back).ok());
    EXPECT_EQ(back, t);
    file[at] = '\x50';  // a description longer than the block
    EXPECT_EQ(readDwgTemplate(file, where, back).code, StatusCode::BadFile);
  }
}

TEST(DwgRawBlocks, PreviewsWithAndWithoutImages) {
  for (const DwgPreview& preview : {dwgMinimalPreview(), DwgPreview{}}) {
    std::string file(0xDC, '\0');
    ASSERT_TRUE(writeDwgPreview(preview, file).ok());
    DwgPreview back;
    ASSERT_TRUE(readDwgPreview(file, 0xDC, back).ok());
    EXPECT_EQ(back, preview);
    // The overall size counts from after itself to the end sentinel: an
    // empty preview has 1 (its entry count).
    const auto size = static_cast<std::uint8_t>(file[0xDC + 16]);
    if (preview.entries.empty()) { EXPECT_EQ(size, 1); }

    const auto damaged = [&](std::size_t at, char value) {
      std::string copy = file;
      copy[at] = value;
      return readDwgPreview(copy, 0xDC, back).code;
    };
    EXPECT_EQ(damaged(0xDC, '\0'), StatusCode::BadFile);                    // begin sentinel
    EXPECT_EQ(damaged(file.size() - 1, '\0'), StatusCode::BadFile);         // end sentinel
    EXPECT_EQ(damaged(0xDC + 19, '\x7F'), StatusCode::BadFile);             // size past the end
    EXPECT_EQ(readDwgPreview(file, file.size() - 8, back).code, StatusCode::BadFile);
    if (!preview.entries.empty()) {
      EXPECT_EQ(damaged(0xDC + 20, '\xFF'), StatusCode::BadFile);           // 255 entries
      EXPECT_EQ(damaged(0xDC + 20 + 1 + 4, '\x7F'), StatusCode::BadFile);   // entry address outside
    }
  }
  const DwgPreview minimal = dwgMinimalPreview();
  ASSERT_EQ(minimal.entries.size(), 2u);
  EXPECT_EQ(minimal.entries[0].data, std::string(80, '\0'));
  // A DIB: 40-byte info header, 256 colours, 8 bits a pixel.
  EXPECT_EQ(minimal.entries[1].data.size(), 40 + 1024 + 32u * 32u);
  EXPECT_EQ(minimal.entries[1].data[14], 8);
}

TEST(DwgRawBlocks, SecondHeaderRepeatsLocatorsAndHandles) {
  for (Release r : kReleases) {
    SCOPED_TRACE(releaseInfo(r).version);
    DwgSecondHeader s;
    s.release = r;
    s.formatMaintenance = r == Release::R2000 ? 15 : 0;
    s.appCode = 0x0617;
    s.codepage = 28;
    s.locators = {{0, 0x58, 500}, {1, 0x24C, 100}, {2, 0x40000, 3000}, {3, 0, 0}, {4, 0, 0}};
    if (r == Release::R2000) s.locators.push_back({5, 0x61, 123});
    s.handles = dwgSecondHeaderHandles(sampleHandles());
    if (r != Release::R13) s.trailing = {1, 2, 3, 4, 5, 6, 7, 8};
    std::string file(0x41234, 'z');
    ASSERT_TRUE(writeDwgSecondHeader(s, file).ok());
    EXPECT_EQ(findDwgSecondHeader(file), 0x41234u);
    DwgSecondHeader back;
    const Status read = readDwgSecondHeader(file, 0x41234, back);
    ASSERT_TRUE(read.ok()) << read.detail;
    EXPECT_EQ(back, s);
    ASSERT_EQ(back.handles.size(), 14u);
    EXPECT_EQ(back.handles[0].value, 0x12345u);  // HANDSEED
    EXPECT_EQ(back.handles[13].value, sampleHandles().groupDictionary);

    const auto damaged = [&](std::size_t at) {
      std::string copy = file;
      copy[at] = static_cast<char>(copy[at] ^ 0x10);
      return readDwgSecondHeader(copy, 0x41234, back).code;
    };
    EXPECT_EQ(damaged(0x41234 + 3), StatusCode::BadFile);      // sentinel
    EXPECT_EQ(damaged(0x41234 + 16), StatusCode::BadFile);     // size
    EXPECT_EQ(damaged(0x41234 + 30), StatusCode::BadFile);     // data under the CRC
    EXPECT_EQ(damaged(file.size() - 2), StatusCode::BadFile);  // end sentinel
    EXPECT_EQ(readDwgSecondHeader(file, 0x41000, back).code, StatusCode::BadFile);
    EXPECT_EQ(readDwgSecondHeader(file, file.size() + 5, back).code, StatusCode::BadFile);
  }
  EXPECT_EQ(findDwgSecondHeader("no sentinel here"), std::string_view::npos);
}

// ------------------------------------------------------------------ corpus

std::vector<fs::path> corpusFiles() { return dwgCorpusDrawings(fs::path(TROVAK_CORPUS_DIR) / "dwg"); }

struct CorpusSections {
  DwgFileHeader file;
  CodePage page = CodePage::raw();
  Header header;
  DwgHeaderHandles handles;
  DwgClassesRead classes;
};

void readSections(const std::string& file, CorpusSections& out) {
  const DwgFileHeaderRead h = readDwgFileHeader(file);
  ASSERT_TRUE(h.status.ok()) << h.status.detail;
  out.file = h.header;
  out.page = CodePage::named(dwgCodePageName(h.header.codepage));
  const DwgSentinelBlockRead vars =
      readDwgSentinelBlock(file, *h.header.locator(DwgSection::HeaderVariables), kDwgHeaderVariablesBegin);
  ASSERT_TRUE(vars.status.ok()) << vars.status.detail;
  const Status s = readDwgHeaderVariables(vars.data, h.header.release, out.page, out.header, out.handles);
  ASSERT_TRUE(s.ok()) << s.detail;
  const DwgSentinelBlockRead classes =
      readDwgSentinelBlock(file, *h.header.locator(DwgSection::Classes), kDwgClassesBegin);
  ASSERT_TRUE(classes.status.ok()) << classes.status.detail;
  out.classes = readDwgClasses(classes.data, h.header.release, out.page);
  ASSERT_TRUE(out.classes.status.ok()) << out.classes.status.detail;
}

TEST(DwgSectionsCorpus, EverySectionReadsAndWritesBackItsValues) {
  const std::vector<fs::path> files = corpusFiles();
  if (files.empty()) GTEST_SKIP() << "no DWG corpus of R14 and 2000";
  for (const fs::path& path : files) {
    SCOPED_TRACE(path.string());
    const std::string file = fileContents(path);
    CorpusSections s;
    ASSERT_NO_FATAL_FAILURE(readSections(file, s));
    const Release r = s.file.release;

    // Header variables: what was read writes data that read again give
    // the same values and write the same data.
    std::string data;
    ASSERT_TRUE(writeDwgHeaderVariables(s.header, s.handles, r, s.page, data).ok());
    Header back;
    DwgHeaderHandles backHandles;
    ASSERT_TRUE(readDwgHeaderVariables(data, r, s.page, back, backHandles).ok());
    EXPECT_EQ(backHandles, s.handles);
    for (std::size_t i = 0; i < headerVars().size(); ++i) EXPECT_EQ(back.valueAt(i), s.header.valueAt(i)) << headerVars()[i].name;
    std::string again;
    ASSERT_TRUE(writeDwgHeaderVariables(back, backHandles, r, s.page, again).ok());
    EXPECT_EQ(again, data);

    // Classes, numbered from 500 in order.
    ASSERT_FALSE(s.classes.classes.empty());
    for (std::size_t i = 0; i < s.classes.numbers.size(); ++i) EXPECT_EQ(s.classes.numbers[i], 500 + static_cast<int>(i));
    if (r == Release::R2000) {
      for (const char* standard : {"ACDBDICTIONARYWDFLT", "ACDBPLACEHOLDER", "LAYOUT"})
        EXPECT_GE(dwgClassNumber(s.classes.classes, standard), 500) << standard;
    }

    // The second header names the header's objects.
    const std::size_t second = findDwgSecondHeader(file);
    ASSERT_NE(second, std::string_view::npos);
    DwgSecondHeader sh;
    const Status shRead = readDwgSecondHeader(file, second, sh);
    ASSERT_TRUE(shRead.ok()) << shRead.detail;
    EXPECT_EQ(sh.release, r);
    EXPECT_EQ(sh.codepage, s.file.codepage);
    EXPECT_EQ(sh.handles, dwgSecondHeaderHandles(s.handles));
    for (std::size_t i = 0; i < 3; ++i) EXPECT_EQ(sh.locators.at(i), s.file.locators.at(i));
    std::string rewritten = file.substr(0, second);
    ASSERT_TRUE(writeDwgSecondHeader(sh, rewritten).ok());
    DwgSecondHeader shBack;
    ASSERT_TRUE(readDwgSecondHeader(rewritten, second, shBack).ok());
    EXPECT_EQ(shBack, sh);

    // The raw blocks.
    DwgPreview preview;
    EXPECT_TRUE(readDwgPreview(file, s.file.previewAddress, preview).ok());
    DwgTemplate t;
    ASSERT_TRUE(readDwgTemplate(file, *s.file.locator(DwgSection::Template), t).ok());
    EXPECT_LE(t.measurement, 1);
    if (const DwgSectionLocator* l = s.file.locator(DwgSection::AuxHeader)) {
      DwgAuxHeader aux;
      ASSERT_TRUE(readDwgAuxHeader(file, *l, aux).ok());
      EXPECT_EQ(aux.handseed, s.handles.handseed);
      std::string bytes;
      writeDwgAuxHeader(aux, bytes);
      EXPECT_EQ(bytes, file.substr(l->address, l->size));
    }
    if (const DwgSectionLocator* l = s.file.locator(DwgSection::ObjFreeSpace); l && l->size != 0) {
      DwgObjFreeSpace free;
      ASSERT_TRUE(readDwgObjFreeSpace(file, *l, free).ok());
      std::string bytes;
      ASSERT_TRUE(writeDwgObjFreeSpace(free, bytes).ok());
      EXPECT_EQ(bytes, file.substr(l->address, l->size));
    }
  }
}

TEST(DwgSectionsCorpus, HeaderVariablesAgreeWithTheDxfTwins) {
  const fs::path root = fs::path(TROVAK_CORPUS_DIR) / "dwg";
  std::vector<fs::path> twins;
  for (const fs::path& dwg : corpusFiles())
    if (fs::exists(fs::path(dwg).replace_extension(".dxf"))) twins.push_back(dwg);
  if (twins.empty()) GTEST_SKIP() << "no DWG of the corpus with a DXF twin";
  // The twins were saved again after the drawings: the times of saving and
  // editing and the extents moved on since.  ATTDIA is a setting of the
  // application the DXF writer did not carry over.
  const std::vector<std::string_view> moved{"$TDUPDATE", "$TDINDWG", "$TDUSRTIMER", "$EXTMIN", "$EXTMAX", "$ATTDIA"};
  const auto vars = headerVars();
  for (const fs::path& path : twins) {
    SCOPED_TRACE(path.string());
    CorpusSections s;
    ASSERT_NO_FATAL_FAILURE(readSections(fileContents(path), s));
    const Release r = s.file.release;
    Database dxf;
    const ReadResult read = readFile(fs::path(path).replace_extension(".dxf").string(), dxf);
    ASSERT_TRUE(read.status.ok()) << read.status.detail;
    std::size_t compared = 0;
    for (std::size_t i = 0; i < vars.size(); ++i) {
      const HeaderVar& v = vars[i];
      if (v.dwgBits(r) == Bits::None || !v.dxf.has(r) || std::count(moved.begin(), moved.end(), v.name) != 0) continue;
      ++compared;
      const HeaderValue& a = s.header.valueAt(i);
      const HeaderValue& b = dxf.header.valueAt(i);
      if (v.kind == ValueKind::Real && v.dwgBits(r) == Bits::TIME) {
        // Local times of different zones: quarter hours apart, give or take
        // the second some writers round to.
        const double quarters = (std::get<double>(a) - std::get<double>(b)) * 96;
        EXPECT_LE(std::fabs(quarters), 14.0 * 4) << v.name;
        EXPECT_NEAR(quarters, std::round(quarters), 2.0 / 900) << v.name;
      } else if (v.kind == ValueKind::Real) {
        // Some writers store single-precision values, their DXF the rounded decimal.
        EXPECT_NEAR(std::get<double>(a), std::get<double>(b), 1e-7 * std::max(1.0, std::fabs(std::get<double>(b))))
            << v.name;
      } else if (v.kind == ValueKind::Point) {
        const Point3 p = std::get<Point3>(a), q = std::get<Point3>(b);
        EXPECT_NEAR(p.x, q.x, 1e-6) << v.name;
        EXPECT_NEAR(p.y, q.y, 1e-6) << v.name;
        if (v.z.has(r)) { EXPECT_NEAR(p.z, q.z, 1e-6) << v.name; }
      } else {
        EXPECT_EQ(a, b) << v.name;
      }
    }
    EXPECT_GT(compared, 130u);
    if (r == Release::R2000) {
      for (const char* packed : {"$CELWEIGHT", "$ENDCAPS", "$JOINSTYLE", "$LWDISPLAY", "$XEDIT", "$EXTNAMES",
                                 "$PSTYLEMODE", "$OLESTARTUP"})
        EXPECT_EQ(s.header.integer(packed), dxf.header.integer(packed)) << packed;
    }
    EXPECT_GT(s.handles.handseed, s.handles.modelSpace);
    EXPECT_NE(s.handles.modelSpace, 0u);
    EXPECT_NE(s.handles.currentLayer, 0u);
  }
}

}  // namespace
