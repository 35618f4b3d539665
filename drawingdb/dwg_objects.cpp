#include "drawingdb/dwg_objects.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>

#include "drawingdb/dxf_tags.h"

namespace drawingdb {

namespace {

// 1/100 mm of each lineweight index; indices 24-28 are unused.
constexpr std::array<std::int16_t, 24> kLineweights = {0,  5,  9,   13,  15,  18,  20,  25,  30,  35,  40,  50,
                                                       53, 60, 70, 80, 90, 100, 106, 120, 140, 158, 200, 211};
constexpr std::uint8_t kLineweightByLayer = 29, kLineweightByBlock = 30, kLineweightDefault = 31;

// Every handle reference takes at least one byte: a count of references
// needs that many bytes left in the handle stream.
bool countFits(std::int64_t count, const DwgBitReader& handles) {
  return count >= 0 && static_cast<std::uint64_t>(count) <= handles.bitsLeft() / 8;
}

// ------------------------------------------------------------------ EED

std::uint64_t bigEndian(std::string_view b) {
  std::uint64_t v = 0;
  for (char c : b) v = v << 8 | static_cast<std::uint8_t>(c);
  return v;
}
std::uint64_t littleEndian(std::string_view b) {
  std::uint64_t v = 0;
  for (std::size_t i = b.size(); i-- > 0;) v = v << 8 | static_cast<std::uint8_t>(b[i]);
  return v;
}
double doubleAt(std::string_view b) {
  const std::uint64_t bits = littleEndian(b.substr(0, 8));
  double d;
  std::memcpy(&d, &bits, sizeof d);
  return d;
}
void appendLittle(std::string& out, std::uint64_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>(v >> (8 * i) & 0xFF));
}
void appendBig(std::string& out, std::uint64_t v, int bytes) {
  for (int i = bytes; i-- > 0;) out.push_back(static_cast<char>(v >> (8 * i) & 0xFF));
}
void appendDouble(std::string& out, double d) {
  std::uint64_t bits;
  std::memcpy(&bits, &d, sizeof d);
  appendLittle(out, bits, 8);
}

RawTag textTag(std::int32_t code, std::string text) { return RawTag{code, TagType::String, 0, 0, std::move(text)}; }
RawTag realTag(std::int32_t code, double v) { return RawTag{code, TagType::Real, v, 0, {}}; }
RawTag intTag(std::int32_t code, TagType type, std::int64_t v) { return RawTag{code, type, 0, v, {}}; }

// The items of one application's EED as DXF groups; false (with what was
// read so far appended) when an item is cut short or of an unknown code.
// A text is RC length, RS code page and the bytes up to 2004, RS length in
// UTF-16 units and the units from 2007 on.
bool decodeEed(std::string_view b, DwgReadContext& context, std::vector<RawTag>& out, std::string& problem) {
  std::size_t at = 0;
  const auto need = [&](std::size_t n) {
    if (b.size() - at >= n) return true;
    problem = "EED item cut short at byte " + std::to_string(at);
    return false;
  };
  std::string scratch;
  while (at < b.size()) {
    const auto code = static_cast<std::uint8_t>(b[at++]);
    switch (code) {
      case 0: {
        if (context.release() >= Release::R2007) {
          // RS count of UTF-16 units, then the units.
          if (!need(2)) return false;
          const std::size_t units = littleEndian(b.substr(at, 2));
          at += 2;
          if (!need(2 * units)) return false;
          out.push_back(textTag(1000, dwgUtf8OfUtf16(b.substr(at, 2 * units))));
          at += 2 * units;
          break;
        }
        if (!need(3)) return false;
        const auto length = static_cast<std::uint8_t>(b[at]);
        at += 3;  // length, code page (big endian)
        if (!need(length)) return false;
        out.push_back(textTag(1000, std::string(context.codePage().decode(b.substr(at, length), scratch))));
        at += length;
        break;
      }
      case 2:
        if (!need(1)) return false;
        out.push_back(textTag(1002, b[at++] == 0 ? "{" : "}"));
        break;
      case 3: {
        if (!need(8)) return false;
        const Handle layer = littleEndian(b.substr(at, 8));
        at += 8;
        // The name, with the handle kept beside it for who needs the
        // record itself (the frozen layers of a viewport).
        RawTag t = textTag(1003, context.layerName(layer).str());
        t.integer = static_cast<std::int64_t>(layer);
        out.push_back(std::move(t));
        break;
      }
      case 4: {
        if (!need(1)) return false;
        const auto length = static_cast<std::uint8_t>(b[at++]);
        if (!need(length)) return false;
        out.push_back(RawTag{1004, TagType::Binary, 0, 0, std::string(b.substr(at, length))});
        at += length;
        break;
      }
      case 5: {
        if (!need(8)) return false;
        const Handle h = bigEndian(b.substr(at, 8));
        at += 8;
        out.push_back(RawTag{1005, TagType::Handle, 0, static_cast<std::int64_t>(h), formatHandle(h)});
        break;
      }
      case 10: case 11: case 12: case 13: case 14: case 15:
        if (!need(24)) return false;
        for (int k = 0; k < 3; ++k, at += 8) out.push_back(realTag(1000 + code + 10 * k, doubleAt(b.substr(at, 8))));
        break;
      case 40: case 41: case 42:
        if (!need(8)) return false;
        out.push_back(realTag(1000 + code, doubleAt(b.substr(at, 8))));
        at += 8;
        break;
      case 70:
        if (!need(2)) return false;
        out.push_back(intTag(1070, TagType::Int16, static_cast<std::int16_t>(littleEndian(b.substr(at, 2)))));
        at += 2;
        break;
      case 71:
        if (!need(4)) return false;
        out.push_back(intTag(1071, TagType::Int32, static_cast<std::int32_t>(littleEndian(b.substr(at, 4)))));
        at += 4;
        break;
      default:
        problem = "EED item of unknown code " + std::to_string(code) + " at byte " + std::to_string(at - 1);
        return false;
    }
  }
  return true;
}

// The items of the groups [first, last) of one application; codes EED
// cannot hold are left out with a warning.
std::string encodeEed(const std::vector<RawTag>& tags, std::size_t first, std::size_t last,
                      DwgWriteContext& context) {
  std::string out, scratch;
  for (std::size_t i = first; i < last; ++i) {
    const RawTag& t = tags[i];
    const int code = t.code - 1000;
    switch (code) {
      case 0: {
        std::string_view bytes = context.codePage().encode(t.text, scratch);
        if (bytes.size() > 255) {
          context.warn("EED text longer than 255 bytes cut short");
          bytes = bytes.substr(0, 255);
        }
        out.push_back(0);
        out.push_back(static_cast<char>(bytes.size()));
        appendBig(out, context.codepageNumber(), 2);
        out.append(bytes);
        break;
      }
      case 2:
        out.push_back(2);
        out.push_back(t.text == "}" ? 1 : 0);
        break;
      case 3:
        out.push_back(3);
        appendLittle(out, t.integer != 0 ? static_cast<Handle>(t.integer) : context.layerHandle(t.text), 8);
        break;
      case 4: {
        std::string_view bytes = t.text;
        if (bytes.size() > 255) {
          context.warn("EED binary chunk longer than 255 bytes cut short");
          bytes = bytes.substr(0, 255);
        }
        out.push_back(4);
        out.push_back(static_cast<char>(bytes.size()));
        out.append(bytes);
        break;
      }
      case 5:
        out.push_back(5);
        appendBig(out, static_cast<std::uint64_t>(t.integer), 8);
        break;
      case 10: case 11: case 12: case 13: case 14: case 15: {
        // X, then the Y and Z groups that follow it (0 when missing).
        double y = 0, z = 0;
        if (i + 1 < last && tags[i + 1].code == t.code + 10) y = tags[++i].real;
        if (i + 1 < last && tags[i + 1].code == t.code + 20) z = tags[++i].real;
        out.push_back(static_cast<char>(code));
        appendDouble(out, t.real);
        appendDouble(out, y);
        appendDouble(out, z);
        break;
      }
      case 40: case 41: case 42:
        out.push_back(static_cast<char>(code));
        appendDouble(out, t.real);
        break;
      case 70:
        out.push_back(70);
        appendLittle(out, static_cast<std::uint64_t>(t.integer), 2);
        break;
      case 71:
        out.push_back(71);
        appendLittle(out, static_cast<std::uint64_t>(t.integer), 4);
        break;
      default:
        context.warn("XDATA group " + std::to_string(t.code) + " has no DWG form: left out");
        break;
    }
  }
  return out;
}

Status readEed(DwgBitReader& in, Handle own, DwgReadContext& context, std::vector<RawTag>& out) {
  for (;;) {
    const auto size = static_cast<std::uint16_t>(in.readBitShort());
    if (in.failed() || size == 0) break;
    const DwgHandleRef app = in.readHandle();
    if (std::size_t{size} * 8 > in.bitsLeft()) {
      return Status::fail(StatusCode::BadFile, "EED of " + std::to_string(size) + " bytes beyond the object at bit " +
                                                   std::to_string(in.bitPosition()));
    }
    const std::string bytes = in.readRawBytes(size);
    const std::optional<Handle> appHandle = resolveHandle(app, own);
    const std::string name = appHandle ? context.appidName(*appHandle) : std::string();
    if (name.empty()) {
      context.warn("EED of an unknown application left out");
      continue;
    }
    const std::size_t before = out.size();
    out.push_back(textTag(1001, name));
    std::string problem;
    if (!decodeEed(bytes, context, out, problem)) {
      context.warn("EED of " + name + " left out: " + problem);
      out.resize(before);
    }
  }
  return in.status();
}

void writeEed(const std::vector<RawTag>& xdata, DwgWriteContext& context, DwgBitWriter& out) {
  std::size_t i = 0;
  while (i < xdata.size() && xdata[i].code != 1001) ++i;
  while (i < xdata.size()) {
    std::size_t end = i + 1;
    while (end < xdata.size() && xdata[end].code != 1001) ++end;
    const std::string items = encodeEed(xdata, i + 1, end, context);
    if (items.size() > 0xFFFF) {
      context.warn("EED of " + xdata[i].text + " beyond 65535 bytes left out");
    } else if (!items.empty()) {
      out.writeBitShort(static_cast<std::int16_t>(items.size()));
      out.writeHandle(DwgHandleRef{5, context.appidHandle(xdata[i].text)});
      out.writeRawBytes(items);
    }
    i = end;
  }
  out.writeBitShort(0);
}

// Appends `bits` bits of `from` (read from its position) to `to`.
void copyBits(DwgBitReader& from, std::size_t bits, DwgBitWriter& to) {
  for (; bits >= 32; bits -= 32) to.writeRawLong(from.readRawLong());
  for (; bits >= 8; bits -= 8) to.writeRawChar(from.readRawChar());
  for (; bits > 0; --bits) to.writeBit(from.readBit() != 0);
}

}  // namespace

bool isDwgEntityType(std::int16_t type) {
  using namespace dwg_type;
  if (type >= kText && type <= kMLine) return type != 9 && type != kDictionary;
  return type == kOle2Frame || type == kLwPolyline || type == kHatch || type == kProxyEntity;
}

std::uint8_t dwgLineweightIndex(std::int32_t lineweight) {
  if (lineweight == -2) return kLineweightByBlock;
  if (lineweight == -3) return kLineweightDefault;
  if (lineweight < 0) return kLineweightByLayer;
  // The nearest weight of the table (sorted); of two as near, the thinner.
  const auto above = std::lower_bound(kLineweights.begin(), kLineweights.end(), lineweight);
  if (above == kLineweights.begin()) return 0;
  const auto below = above - 1;
  const auto index = [](auto at) { return static_cast<std::uint8_t>(at - kLineweights.begin()); };
  if (above == kLineweights.end() || lineweight - *below <= *above - lineweight) return index(below);
  return index(above);
}

std::int32_t lineweightOfDwgIndex(std::uint8_t index) {
  if (index < kLineweights.size()) return kLineweights[index];
  if (index == kLineweightByBlock) return -2;
  if (index == kLineweightDefault) return -3;
  return -1;
}

std::string readDwgText(DwgBitReader& in, const CodePage& page) {
  if (in.unicodeTexts()) return in.readUnicodeText();
  const std::string bytes = in.readText();
  std::string scratch;
  return std::string(page.decode(bytes, scratch));
}

void writeDwgText(DwgBitWriter& out, std::string_view text, const CodePage& page) {
  std::string scratch;
  out.writeText(page.encode(text, scratch));
}

// -------------------------------------------------------------- reading

Handle DwgObjectIn::readHandle() {
  const DwgHandleRef ref = handles.readHandle();
  if (handles.failed()) return 0;
  const std::optional<Handle> h = resolveHandle(ref, head.handle);
  if (!h) {
    if (badReference.empty())
      badReference = "handle reference of code " + std::to_string(ref.code) + " unresolvable at bit " +
                     std::to_string(handles.bitPosition());
    return 0;
  }
  return *h;
}

Status DwgObjectIn::status() const {
  // A lying count or a bad reference tells more than the read past the
  // end it leads to.
  if (!badReference.empty()) return Status::fail(StatusCode::BadFile, badReference);
  if (data.failed()) return data.status();
  if (handles.failed()) return handles.status();
  return {};
}

namespace {

// The type, the bitsize and the own handle that begin every object: 2000
// to 2007 store the bitsize after the type, from 2010 on it is what the
// handle stream (of `handleBits`) leaves of the frame.
Status readKind(DwgBitReader& in, Release r, std::size_t frameBits, std::uint64_t handleBits, std::uint32_t& bitsize,
                DwgObjectKind& out) {
  out.type = in.readObjectType(r);
  if (r >= Release::R2010) {
    if (handleBits > frameBits) return Status::fail(StatusCode::BadFile, "handle stream larger than the object");
    bitsize = static_cast<std::uint32_t>(std::min<std::uint64_t>(frameBits - handleBits, UINT32_MAX));
  } else if (r >= Release::R2000) {
    bitsize = in.readRawLong();
  }
  const DwgHandleRef own = in.readHandle();
  if (in.failed()) return in.status();
  if (own.code != 0 || own.value == 0)
    return Status::fail(StatusCode::BadFile, "object without a handle of its own");
  out.handle = own.value;
  return {};
}

// Whether an object of `type` is an entity, from the type or its class.
Status entityKind(const DwgReadContext& context, DwgObjectKind& out) {
  if (out.type < dwg_type::kFirstClass) {
    out.entity = isDwgEntityType(out.type);
  } else if (const ClassDef* c = context.classOf(out.type)) {
    out.entity = c->isEntity;
  } else {
    return Status::fail(StatusCode::BadFile, "object of type " + std::to_string(out.type) + " without a class");
  }
  return {};
}

// ENC flags in the high byte of the colour word.
constexpr std::uint16_t kEncTransparency = 0x20, kEncObject = 0x40, kEncRgb = 0x80, kEncColourName = 0x41,
                        kEncBookName = 0x42;

// An entity's colour: a CMC index before 2004, an ENC from then on.
void readEntityColour(DwgBitReader& d, Release r, DwgEntityHead& e) {
  if (r < Release::R2004) {
    e.colour = d.readColor();
    return;
  }
  const auto word = static_cast<std::uint16_t>(d.readBitShort());
  const std::uint16_t flags = word >> 8;
  e.colour = static_cast<std::int16_t>(word & 0x1FF);
  if ((flags & kEncTransparency) != 0) e.transparency = static_cast<std::uint32_t>(d.readBitLong());
  if ((flags & kEncObject) != 0) e.colourObject = 1;  // its handle follows in the handle stream
  else if ((flags & kEncRgb) != 0) e.rgb = static_cast<std::uint32_t>(d.readBitLong());
  if ((flags & kEncColourName) == kEncColourName) e.colourName = readDwgText(d, CodePage::raw());
  if ((flags & kEncBookName) == kEncBookName) e.bookName = readDwgText(d, CodePage::raw());
}

void writeEntityColour(DwgBitWriter& d, Release r, const DwgEntityHead& e) {
  if (r < Release::R2004) {
    d.writeColor(e.colour);
    return;
  }
  std::uint16_t flags = 0;
  if (e.transparency != 0) flags |= kEncTransparency;
  if (e.colourObject != 0) {
    flags |= kEncObject;
    if (!e.colourName.empty()) flags |= kEncColourName;
    if (!e.bookName.empty()) flags |= kEncBookName;
  } else if (e.rgb != 0) {
    flags |= kEncRgb;
  }
  d.writeBitShort(static_cast<std::int16_t>((flags << 8) | (static_cast<std::uint16_t>(e.colour) & 0x1FF)));
  if ((flags & kEncTransparency) != 0) d.writeBitLong(static_cast<std::int32_t>(e.transparency));
  if ((flags & kEncRgb) != 0) d.writeBitLong(static_cast<std::int32_t>(e.rgb));
  if ((flags & kEncColourName) == kEncColourName) d.writeText(e.colourName);
  if ((flags & kEncBookName) == kEncBookName) d.writeText(e.bookName);
}

}  // namespace

std::int16_t readDwgColour2004(DwgBitReader& in, std::uint32_t* rgb) {
  in.readBitShort();
  const auto value = static_cast<std::uint32_t>(in.readBitLong());
  const std::uint8_t names = in.readRawChar();
  if ((names & 1) != 0) readDwgText(in, CodePage::raw());
  if ((names & 2) != 0) readDwgText(in, CodePage::raw());
  if (rgb != nullptr) *rgb = 0;
  switch (value >> 24) {
    case 0xC0: return 256;
    case 0xC1: return 0;
    case 0xC3: return static_cast<std::int16_t>(value & 0xFF);
    case 0xC2:
      if (rgb != nullptr) *rgb = value;
      return 7;
    default: return 7;  // the foreground, or none
  }
}

void writeDwgColour2004(DwgBitWriter& out, std::int16_t index, std::uint32_t rgb) {
  out.writeBitShort(0);
  std::uint32_t value = rgb;
  if (value == 0)
    value = index == 256 ? kDwgColourByLayer
            : index == 0 ? kDwgColourByBlock
                         : kDwgColourIndex | (static_cast<std::uint32_t>(index) & 0xFF);
  out.writeBitLong(static_cast<std::int32_t>(value));
  out.writeRawChar(0);
}

Status readDwgObjectKind(std::string_view frame, const DwgReadContext& context, DwgObjectKind& out,
                         std::uint64_t handleBits) {
  out = DwgObjectKind{};
  DwgBitReader in(frame);
  std::uint32_t bitsize = 0;
  if (Status s = readKind(in, context.release(), frame.size() * 8, handleBits, bitsize, out); !s.ok()) return s;
  return entityKind(context, out);
}

Status readDwgObjectHead(std::string_view frame, DwgReadContext& context, DwgObjectIn& out, std::uint64_t handleBits) {
  const Release r = context.release();
  DwgObjectHead& head = out.head;
  head = DwgObjectHead{};
  out.frame = frame;
  out.badReference.clear();
  out.firstFollower = out.lastFollower = out.seqend = 0;
  out.followers.clear();
  DwgBitReader in(frame);
  DwgObjectKind kind;
  if (Status s = readKind(in, r, frame.size() * 8, handleBits, out.bitsize, kind); !s.ok()) return s;
  head.type = kind.type;
  head.handle = kind.handle;
  if (Status s = readEed(in, head.handle, context, head.xdata); !s.ok()) return s;
  if (Status s = entityKind(context, kind); !s.ok()) return s;
  head.entity = kind.entity;
  if (head.entity && in.readBit() != 0) {
    const std::uint32_t size = in.readRawLong();
    if (std::uint64_t{size} * 8 > in.bitsLeft())
      return Status::fail(StatusCode::BadFile, "graphics of " + std::to_string(size) + " bytes beyond the object");
    head.e.graphics = in.readRawBytes(size);
  }
  if (r < Release::R2000) out.bitsize = in.readRawLong();
  if (in.failed()) return in.status();
  if (out.bitsize < in.bitPosition() || out.bitsize > frame.size() * 8)
    return Status::fail(StatusCode::BadFile, "bitsize " + std::to_string(out.bitsize) + " outside the object");

  out.data = DwgBitReader(frame, out.bitsize);
  out.data.seekBit(in.bitPosition());
  if (r >= Release::R2007) {
    out.data.locateStrings(out.bitsize);
    if (out.data.failed()) return out.data.status();
  }
  out.handles = DwgBitReader(frame);
  out.handles.seekBit(out.bitsize);
  DwgBitReader& d = out.data;

  std::int32_t reactors = 0;
  bool linetypeByLayer = false;
  bool noXdictionary = false;
  DwgEntityHead& e = head.e;
  // From 2004 on: whether the handle stream leaves out the extension
  // dictionary; from 2013 on whether the object keeps data in the data
  // storage section.
  const auto presence = [&] {
    if (r >= Release::R2004) noXdictionary = d.readBit() != 0;
    if (r >= Release::R2013) d.readBit();
  };
  if (head.entity) {
    e.mode = d.readBitPair();
    reactors = d.readBitLong();
    presence();
    if (r < Release::R2000) linetypeByLayer = d.readBit() != 0;
    if (r < Release::R2004) e.noLinks = d.readBit() != 0;
    readEntityColour(d, r, e);
    e.linetypeScale = d.readBitDouble();
    if (r >= Release::R2000) {
      e.linetypeFlags = d.readBitPair();
      e.plotStyleFlags = d.readBitPair();
    } else {
      e.linetypeFlags = linetypeByLayer ? 0 : 3;
    }
    if (r >= Release::R2007) {
      e.materialFlags = d.readBitPair();
      d.readRawChar();  // shadow flags
    }
    if (r >= Release::R2010)
      for (int i = 0; i < 3; ++i) e.visualStyles |= static_cast<std::uint8_t>(d.readBit() << i);
    e.invisibility = d.readBitShort();
    if (r >= Release::R2000) e.lineweight = d.readRawChar();
  } else {
    reactors = d.readBitLong();
    presence();
  }
  if (d.failed()) return d.status();
  if (!countFits(reactors, out.handles))
    return Status::fail(StatusCode::BadFile, std::to_string(reactors) + " reactors beyond the object");

  if (!head.entity || e.mode == 0) head.owner = out.readHandle();
  head.reactors.reserve(static_cast<std::size_t>(reactors));
  for (std::int32_t i = 0; i < reactors; ++i) head.reactors.push_back(out.readHandle());
  if (!noXdictionary) head.xdictionary = out.readHandle();
  if (head.entity) {
    const auto links = [&] {
      if (e.noLinks) {
        e.previous = head.handle - 1;
        e.next = head.handle + 1;
      } else {
        e.previous = out.readHandle();
        e.next = out.readHandle();
      }
    };
    if (r < Release::R2000) {
      e.layer = out.readHandle();
      if (!linetypeByLayer) e.linetype = out.readHandle();
      links();
    } else {
      if (r < Release::R2004) links();
      if (e.colourObject != 0) e.colourObject = out.readHandle();
      e.layer = out.readHandle();
      if (e.linetypeFlags == 3) e.linetype = out.readHandle();
      if (e.materialFlags == 3) out.readHandle();
      if (e.plotStyleFlags == 3) e.plotStyle = out.readHandle();
      for (int i = 0; i < 3; ++i)
        if ((e.visualStyles >> i & 1) != 0) out.readHandle();
    }
  }
  return out.status();
}

Status readDwgRecordHead(DwgObjectIn& in, DwgReadContext& context, DwgRecordHead& out) {
  out.name = readDwgText(in.data, context.codePage());
  if (context.release() >= Release::R2007) {
    // One BS: the xref index, bit 8 set for an xref-dependent record.
    const std::int16_t xref = in.data.readBitShort();
    out.referenced = true;
    out.xrefDependent = (xref & 0x100) != 0;
    out.xrefIndex = static_cast<std::int16_t>(xref & ~0x100);
  } else {
    out.referenced = in.data.readBit() != 0;
    out.xrefIndex = in.data.readBitShort();
    out.xrefDependent = in.data.readBit() != 0;
  }
  out.xrefBlock = in.readHandle();
  return in.status();
}

// -------------------------------------------------------------- writing

Status DwgObjectOut::begin(const DwgObjectHead& head, DwgWriteContext& context) {
  if (begun_) return Status::fail(StatusCode::OutOfRange, "object begun twice");
  begun_ = true;
  if (head.handle == 0) return Status::fail(StatusCode::OutOfRange, "object without a handle");
  const Release r = release_;
  DwgBitWriter& d = data_;
  d.writeObjectType(head.type);
  if (r >= Release::R2000) {
    bitsizeAt_ = d.bitPosition();
    d.writeRawLong(0);
  }
  d.writeHandle(DwgHandleRef{0, head.handle});
  writeEed(head.xdata, context, d);
  const DwgEntityHead& e = head.e;
  if (head.entity) {
    d.writeBit(!e.graphics.empty());
    if (!e.graphics.empty()) {
      d.writeRawLong(static_cast<std::uint32_t>(e.graphics.size()));
      d.writeRawBytes(e.graphics);
    }
  }
  if (r < Release::R2000) {
    bitsizeAt_ = d.bitPosition();
    d.writeRawLong(0);
  }
  // R13/R14 have no BYBLOCK or CONTINUOUS flag: those name their record.
  const bool linetypeHandle = e.linetypeFlags == 3 || (r < Release::R2000 && e.linetypeFlags != 0);
  const bool noXdictionary = head.xdictionary == 0;
  if (head.entity) {
    d.writeBitPair(e.mode);
    d.writeBitLong(static_cast<std::int32_t>(head.reactors.size()));
    if (r >= Release::R2004) d.writeBit(noXdictionary);
    if (r < Release::R2000) d.writeBit(!linetypeHandle);
    if (r < Release::R2004) d.writeBit(e.noLinks);
    writeEntityColour(d, r, e);
    d.writeBitDouble(e.linetypeScale);
    if (r >= Release::R2000) {
      d.writeBitPair(e.linetypeFlags);
      d.writeBitPair(e.plotStyleFlags);
    }
    d.writeBitShort(e.invisibility);
    if (r >= Release::R2000) d.writeRawChar(e.lineweight);
  } else {
    d.writeBitLong(static_cast<std::int32_t>(head.reactors.size()));
    if (r >= Release::R2004) d.writeBit(noXdictionary);
  }

  if (!head.entity || e.mode == 0) handle(4, head.owner);
  for (const Handle h : head.reactors) handle(4, h);
  if (r < Release::R2004 || !noXdictionary) handle(3, head.xdictionary);
  if (head.entity) {
    const auto links = [&] {
      if (e.noLinks) return;
      handle(4, e.previous);
      handle(4, e.next);
    };
    if (r < Release::R2000) {
      handle(5, e.layer);
      if (linetypeHandle) handle(5, e.linetype);
      links();
    } else {
      if (r < Release::R2004) links();
      if (r >= Release::R2004 && e.colourObject != 0) handle(5, e.colourObject);
      handle(5, e.layer);
      if (linetypeHandle) handle(5, e.linetype);
      if (e.plotStyleFlags == 3) handle(5, e.plotStyle);
    }
  }
  if (d.failed()) return Status::fail(StatusCode::OutOfRange, d.failure());
  return {};
}

void DwgObjectOut::writeRecordHead(const DwgRecordHead& record, DwgWriteContext& context) {
  writeDwgText(data_, record.name, context.codePage());
  data_.writeBit(record.referenced);
  data_.writeBitShort(record.xrefIndex);
  data_.writeBit(record.xrefDependent);
  handle(5, record.xrefBlock);
}

Status DwgObjectOut::finish(std::string& frame) {
  if (!begun_) return Status::fail(StatusCode::OutOfRange, "object finished before it was begun");
  if (data_.failed()) return Status::fail(StatusCode::OutOfRange, data_.failure());
  if (handles_.failed()) return Status::fail(StatusCode::OutOfRange, handles_.failure());
  const std::size_t bitsize = data_.bitPosition();
  if (bitsize > UINT32_MAX) return Status::fail(StatusCode::OutOfRange, "object data beyond 4 GB");
  data_.overwriteRawLong(bitsizeAt_, static_cast<std::uint32_t>(bitsize));
  DwgBitReader handles(handles_.bytes(), handles_.bitPosition());
  copyBits(handles, handles_.bitPosition(), data_);
  frame = data_.bytes();
  return {};
}

// ------------------------------------------------------- declared objects

namespace {

// How a declared value is stored.  Colour: the CMC of 2004 (BS index, BL
// method and value, RC 0 for no names) as two groups, the index and the
// method and value.
enum class Stored : std::uint8_t { B, RC, BS, BL, BD, TV, Colour };

struct Declared {
  Stored form;
  std::int16_t code;
  double fallback = 0;
  std::int16_t valueCode = 0;  // Colour: the group of the method and value
  // Present only when the value before it is 1 (a map's file name follows
  // its source "image file").
  bool afterOne = false;
  // The largest value the declarations go on from; -1 any.  A material's
  // colour method 1 (a colour of its own) and a map source beyond "image
  // file" carry data not declared here.
  std::int16_t most = -1;
};

struct DeclaredKind {
  std::string_view dxfName;
  std::string_view subclass;
  std::vector<Declared> values;
};

// A material's map: blend factor, projection, tiling, automatic transform,
// the 4x4 matrix by rows, the source (0 the scene, 1 an image file) and
// the file's name.
void materialMap(std::vector<Declared>& v, std::int16_t blend, std::int16_t projection, std::int16_t tiling,
                 std::int16_t transform, std::int16_t matrix, std::int16_t source, std::int16_t file,
                 double sourceFallback = 1) {
  v.push_back({Stored::BD, blend, 1});
  v.push_back({Stored::RC, projection, 2});
  v.push_back({Stored::RC, tiling, 1});
  v.push_back({Stored::RC, transform, 1});
  for (int i = 0; i < 16; ++i) v.push_back({Stored::BD, matrix, i % 5 == 0 ? 1.0 : 0.0});
  v.push_back({Stored::RC, source, sourceFallback, 0, false, 1});
  v.push_back({Stored::TV, file, 0, 0, true});
}

std::vector<Declared> materialValues() {
  std::vector<Declared> v = {{Stored::TV, 1},
                             {Stored::TV, 2},
                             {Stored::RC, 70, 0, 0, false, 0},
                             {Stored::BD, 40, 1},
                             {Stored::RC, 71, 0, 0, false, 0},
                             {Stored::BD, 41, 1}};
  materialMap(v, 42, 73, 74, 75, 43, 72, 3);
  v.push_back({Stored::RC, 76, 0, 0, false, 0});
  v.push_back({Stored::BD, 45, 1});
  materialMap(v, 46, 78, 79, 170, 47, 77, 4);
  v.push_back({Stored::BD, 44, 0.5});
  materialMap(v, 48, 172, 173, 174, 49, 171, 6);
  v.push_back({Stored::BD, 140, 1});
  materialMap(v, 141, 176, 177, 178, 142, 175, 7);
  materialMap(v, 143, 270, 271, 272, 144, 179, 8);
  v.push_back({Stored::BD, 145, 1});
  materialMap(v, 146, 274, 275, 276, 147, 273, 9, 0);
  return v;
}

constexpr double kForeground = static_cast<double>(kDwgColourIndex | 7);
constexpr double kNoColour = static_cast<double>(0xC8000000u);

std::vector<Declared> visualStyleValues() {
  auto colour = [](std::int16_t index, std::int16_t value) { return Declared{Stored::Colour, index, kForeground, value}; };
  return {{Stored::TV, 2},       {Stored::BL, 70},     {Stored::BL, 71, 2},  {Stored::BL, 72, 1},
          {Stored::BL, 73, 1},   {Stored::BD, 40, -0.6}, {Stored::BD, 41, 30}, colour(63, 421),
          {Stored::BL, 90, 2},   {Stored::BL, 74},     {Stored::BL, 91},     colour(64, 422),
          {Stored::Colour, 65, kNoColour, 423}, {Stored::BL, 75, 1}, {Stored::BD, 42, 1}, {Stored::BL, 92, 8},
          colour(66, 424),       {Stored::BD, 43, 1},  {Stored::BL, 76, 1},  {Stored::BL, 77, 6},
          {Stored::BL, 78, 2},   colour(67, 425),      {Stored::BL, 79, 5},  {Stored::RC, 170},
          {Stored::BL, 171},     {Stored::B, 290},     {Stored::BL, 174},    {Stored::BL, 175, 1},
          {Stored::BL, 93, 13},  {Stored::BL, 44},     {Stored::BL, 173},    {Stored::B, 291, 1}};
}

const std::vector<DeclaredKind>& declaredKinds() {
  static const std::vector<DeclaredKind> kinds = {
      {"MATERIAL", "AcDbMaterial", materialValues()},
      {"VISUALSTYLE", "AcDbVisualStyle", visualStyleValues()},
      {"SCALE", "AcDbScale", {{Stored::BS, 70}, {Stored::TV, 300}, {Stored::BD, 140, 1}, {Stored::BD, 141, 1},
                              {Stored::B, 290}}},
  };
  return kinds;
}

const DeclaredKind* declaredKind(std::string_view dxfName) {
  for (const DeclaredKind& k : declaredKinds())
    if (k.dxfName == dxfName) return &k;
  return nullptr;
}

RawTag declaredTag(std::int16_t code, double real, std::int64_t integer, std::string text = {}) {
  RawTag t;
  t.code = code;
  t.type = tagTypeOf(code);
  t.real = real;
  t.integer = integer;
  t.text = std::move(text);
  return t;
}

// The n-th group of a code, or nullptr.
const RawTag* nthGroup(const std::vector<RawTag>& tags, std::int16_t code, std::size_t nth) {
  for (const RawTag& t : tags)
    if (t.code == code && nth-- == 0) return &t;
  return nullptr;
}

double numberOf(const RawTag& t) { return t.type == TagType::Real ? t.real : static_cast<double>(t.integer); }

Status undeclared(std::string_view dxfName) {
  std::string what = "no declaration of ";
  what += dxfName;
  return Status::fail(StatusCode::NotSupported, std::move(what));
}

}  // namespace

bool isDwgDeclaredObject(std::string_view dxfName, Release r) {
  return r == Release::R2004 && declaredKind(dxfName) != nullptr;
}

Status readDwgDeclaredObject(std::string_view dxfName, DwgBitReader& data, const CodePage& page,
                             std::vector<RawTag>& tags) {
  const DeclaredKind* kind = declaredKind(dxfName);
  if (kind == nullptr) return undeclared(dxfName);
  std::vector<RawTag> out{declaredTag(100, 0, 0, std::string(kind->subclass))};
  double previous = 0;
  for (const Declared& d : kind->values) {
    if (d.afterOne && previous != 1) continue;
    double value = 0;
    switch (d.form) {
      case Stored::B: value = data.readBit(); break;
      case Stored::RC: value = data.readRawChar(); break;
      case Stored::BS: value = data.readBitShort(); break;
      case Stored::BL: value = data.readBitLong(); break;
      case Stored::BD: value = data.readBitDouble(); break;
      case Stored::TV: out.push_back(declaredTag(d.code, 0, 0, readDwgText(data, page))); break;
      case Stored::Colour: {
        const std::int16_t index = data.readBitShort();
        const auto method = static_cast<std::uint32_t>(data.readBitLong());
        if (data.readRawChar() != 0)
          return Status::fail(StatusCode::NotSupported, std::string(dxfName) + ": a colour with a name");
        out.push_back(declaredTag(d.code, index, index));
        out.push_back(declaredTag(d.valueCode, method, static_cast<std::int32_t>(method)));
        break;
      }
    }
    if (data.failed()) return data.status();
    if (d.form == Stored::TV || d.form == Stored::Colour) continue;
    if (d.most >= 0 && value > d.most)
      return Status::fail(StatusCode::NotSupported, std::string(dxfName) + ": group " + std::to_string(d.code) +
                                                        " of value " + std::to_string(static_cast<int>(value)));
    out.push_back(declaredTag(d.code, value, static_cast<std::int64_t>(value)));
    previous = value;
  }
  tags = std::move(out);
  return {};
}

Status writeDwgDeclaredObject(std::string_view dxfName, const std::vector<RawTag>& tags, const CodePage& page,
                              DwgBitWriter& data, DwgWriteContext& context) {
  const DeclaredKind* kind = declaredKind(dxfName);
  if (kind == nullptr) return undeclared(dxfName);
  std::vector<std::pair<std::int16_t, std::size_t>> seen;  // code -> groups of it taken so far
  auto next = [&](std::int16_t code) -> const RawTag* {
    auto it = std::find_if(seen.begin(), seen.end(), [&](const auto& s) { return s.first == code; });
    if (it == seen.end()) it = seen.insert(seen.end(), {code, 0});
    return nthGroup(tags, code, it->second++);
  };
  double previous = 0;
  for (const Declared& d : kind->values) {
    if (d.afterOne && previous != 1) continue;
    const RawTag* t = next(d.code);
    if (d.form == Stored::TV) {
      writeDwgText(data, t != nullptr ? t->text : std::string(), page);
      continue;
    }
    if (d.form == Stored::Colour) {
      const RawTag* method = next(d.valueCode);
      const auto value = method != nullptr ? static_cast<std::uint32_t>(method->integer)
                                           : static_cast<std::uint32_t>(d.fallback);
      data.writeBitShort(static_cast<std::int16_t>(t != nullptr ? t->integer : (value >> 24 == 0xC8 ? 0 : 256)));
      data.writeBitLong(static_cast<std::int32_t>(value));
      data.writeRawChar(0);
      continue;
    }
    double value = t != nullptr ? numberOf(*t) : d.fallback;
    if (d.most >= 0 && (value < 0 || value > d.most)) {
      context.warn(std::string(dxfName) + ": group " + std::to_string(d.code) + " of value " +
                   std::to_string(static_cast<int>(value)) + " has no DWG form here: written as " +
                   std::to_string(static_cast<int>(d.fallback)));
      value = d.fallback;
    }
    switch (d.form) {
      case Stored::B: data.writeBit(value != 0); break;
      case Stored::RC: data.writeRawChar(static_cast<std::uint8_t>(value)); break;
      case Stored::BS: data.writeBitShort(static_cast<std::int16_t>(value)); break;
      case Stored::BL: data.writeBitLong(static_cast<std::int32_t>(value)); break;
      default: data.writeBitDouble(value); break;
    }
    previous = value;
  }
  if (data.failed()) return Status::fail(StatusCode::OutOfRange, std::string(dxfName) + ": " + data.failure());
  return {};
}

std::vector<RawTag> dwgDeclaredDefaults(std::string_view dxfName) {
  const DeclaredKind* kind = declaredKind(dxfName);
  if (kind == nullptr) return {};
  std::vector<RawTag> out{declaredTag(100, 0, 0, std::string(kind->subclass))};
  double previous = 0;
  for (const Declared& d : kind->values) {
    if (d.afterOne && previous != 1) continue;
    if (d.form == Stored::TV) {
      out.push_back(declaredTag(d.code, 0, 0));
      continue;
    }
    if (d.form == Stored::Colour) {
      const auto value = static_cast<std::uint32_t>(d.fallback);
      const std::int16_t index = value >> 24 == 0xC8 ? 0 : 256;
      out.push_back(declaredTag(d.code, index, index));
      out.push_back(declaredTag(d.valueCode, value, static_cast<std::int32_t>(value)));
      continue;
    }
    out.push_back(declaredTag(d.code, d.fallback, static_cast<std::int64_t>(d.fallback)));
    previous = d.fallback;
  }
  return out;
}

}  // namespace drawingdb
