#include "drawingdb/dwg_file_header.h"

#include <cstring>

namespace drawingdb {

namespace {

constexpr std::size_t kLocatorsOffset = 0x19;
constexpr std::size_t kLocatorBytes = 9;
constexpr std::size_t kSentinelBytes = 16;
// Sentinel, RL size, RS CRC, sentinel around the data of a block.
constexpr std::size_t kSentinelBlockFrame = 16 + 4 + 2 + 16;

std::string_view viewOf(const DwgSentinel& s) { return {reinterpret_cast<const char*>(s.data()), s.size()}; }

std::uint16_t bigEndianShortAt(std::string_view bytes, std::size_t at) {
  return static_cast<std::uint16_t>(static_cast<std::uint8_t>(bytes[at]) << 8 | static_cast<std::uint8_t>(bytes[at + 1]));
}

std::uint16_t littleEndianShortAt(std::string_view bytes, std::size_t at) {
  return static_cast<std::uint16_t>(static_cast<std::uint8_t>(bytes[at]) | static_cast<std::uint8_t>(bytes[at + 1]) << 8);
}

void appendBigEndianShort(std::string& out, std::uint16_t value) {
  out.push_back(static_cast<char>(value >> 8));
  out.push_back(static_cast<char>(value & 0xFF));
}

void appendLittleEndianShort(std::string& out, std::uint16_t value) {
  out.push_back(static_cast<char>(value & 0xFF));
  out.push_back(static_cast<char>(value >> 8));
}

void appendLittleEndianLong(std::string& out, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

bool isFrameRelease(Release r) { return r >= Release::R13 && r <= Release::R2000; }

// The block of a locator, when the locator lies inside the file.
Status checkInside(std::string_view file, const DwgSectionLocator& where, const char* what) {
  if (std::uint64_t{where.address} + where.size > file.size())
    return Status::fail(StatusCode::OutOfRange, std::string(what) + " at " + hexOf(where.address) + ", " +
                                                    std::to_string(where.size) + " bytes, reaches past the end of the file (" +
                                                    std::to_string(file.size()) + " bytes)");
  return {};
}

}  // namespace

const DwgSectionLocator* DwgFileHeader::locator(DwgSection which) const {
  for (const DwgSectionLocator& l : locators)
    if (l.number == static_cast<std::uint8_t>(which)) return &l;
  return nullptr;
}

// ------------------------------------------------------------ file header

DwgFileHeaderRead readDwgFileHeader(std::string_view file) {
  DwgFileHeaderRead result;
  DwgFileHeader& h = result.header;
  if (file.size() < kLocatorsOffset) {
    result.status = Status::fail(StatusCode::BadFile, "file of " + std::to_string(file.size()) +
                                                          " bytes is shorter than a DWG file header");
    return result;
  }
  const std::optional<Release> release = releaseFromVersion(file.substr(0, 6));
  if (!release) {
    result.status = Status::fail(StatusCode::BadFile, "no DWG version string at the start of the file");
    return result;
  }
  h.release = *release;
  if (!isFrameRelease(h.release)) {
    result.status = Status::fail(StatusCode::NotSupported,
                                 "version " + std::string(file.substr(0, 6)) + " is not a release of R13 to 2000");
    return result;
  }
  DwgBitReader in(file);
  in.seekBit(8 * 0x0B);
  h.formatMaintenance = in.readRawChar();
  h.one = in.readRawChar();
  h.previewAddress = in.readRawLong();
  h.appRelease = in.readRawChar();
  h.appMaintenance = in.readRawChar();
  h.codepage = in.readRawShort();
  const std::uint32_t count = in.readRawLong();
  const std::size_t room = (file.size() - kLocatorsOffset) / kLocatorBytes;
  if (count > room || dwgFileHeaderSize(count) > file.size()) {
    result.status = Status::fail(StatusCode::OutOfRange, "the file header names " + std::to_string(count) +
                                                             " section locators; the file holds " +
                                                             std::to_string(file.size()) + " bytes");
    return result;
  }
  for (std::uint32_t i = 0; i < count; ++i) {
    DwgSectionLocator l;
    l.number = in.readRawChar();
    l.address = in.readRawLong();
    l.size = in.readRawLong();
    h.locators.push_back(l);
  }
  const std::size_t crcAt = kLocatorsOffset + kLocatorBytes * count;
  const std::uint16_t stored = littleEndianShortAt(file, crcAt);
  const std::uint16_t computed = dwgCrc16(file.substr(0, crcAt));
  if (stored != computed) {
    result.status = Status::fail(StatusCode::BadFile, "file header CRC " + hexOf(stored) + " at " + hexOf(crcAt) +
                                                          " does not match the computed " + hexOf(computed));
    return result;
  }
  if (file.substr(crcAt + 2, kSentinelBytes) != viewOf(kDwgFileHeaderEnd)) {
    result.status = Status::fail(StatusCode::BadFile, "no file header end sentinel at " + hexOf(crcAt + 2));
    return result;
  }
  for (DwgSection required : {DwgSection::HeaderVariables, DwgSection::Classes, DwgSection::ObjectMap}) {
    if (h.locator(required) == nullptr) {
      result.status = Status::fail(StatusCode::BadFile, "the file header has no locator record " +
                                                            std::to_string(static_cast<int>(required)));
      return result;
    }
  }
  for (const DwgSectionLocator& l : h.locators) {
    Status inside = checkInside(file, l, ("section " + std::to_string(l.number)).c_str());
    if (!inside.ok()) {
      result.status = std::move(inside);
      return result;
    }
  }
  return result;
}

Status writeDwgFileHeader(const DwgFileHeader& header, std::string& out) {
  if (!isFrameRelease(header.release))
    return Status::fail(StatusCode::NotSupported, "the file header of R13 to 2000 cannot be written for release " +
                                                      std::string(releaseInfo(header.release).name));
  std::string bytes(releaseInfo(header.release).version);
  bytes.append(5, '\0');
  bytes.push_back(static_cast<char>(header.formatMaintenance));
  bytes.push_back(static_cast<char>(header.one));
  appendLittleEndianLong(bytes, header.previewAddress);
  bytes.push_back(static_cast<char>(header.appRelease));
  bytes.push_back(static_cast<char>(header.appMaintenance));
  appendLittleEndianShort(bytes, header.codepage);
  appendLittleEndianLong(bytes, static_cast<std::uint32_t>(header.locators.size()));
  for (const DwgSectionLocator& l : header.locators) {
    bytes.push_back(static_cast<char>(l.number));
    appendLittleEndianLong(bytes, l.address);
    appendLittleEndianLong(bytes, l.size);
  }
  appendLittleEndianShort(bytes, dwgCrc16(bytes));
  bytes.append(viewOf(kDwgFileHeaderEnd));
  out.append(bytes);
  return {};
}

// --------------------------------------------------------- sentinel blocks

DwgSentinelBlockRead readDwgSentinelBlock(std::string_view file, const DwgSectionLocator& where,
                                          const DwgSentinel& begin) {
  DwgSentinelBlockRead result;
  const std::string name = "section " + std::to_string(where.number);
  result.status = checkInside(file, where, name.c_str());
  if (!result.status.ok()) return result;
  const std::string_view block = file.substr(where.address, where.size);
  if (block.size() < kSentinelBlockFrame) {
    result.status = Status::fail(StatusCode::BadFile, name + " of " + std::to_string(block.size()) +
                                                          " bytes cannot hold its sentinels");
    return result;
  }
  if (block.substr(0, kSentinelBytes) != viewOf(begin)) {
    result.status = Status::fail(StatusCode::BadFile, "no begin sentinel of " + name + " at " + hexOf(where.address));
    return result;
  }
  DwgBitReader in(block.substr(kSentinelBytes, 4));
  const std::uint32_t size = in.readRawLong();
  if (size > block.size() - kSentinelBlockFrame) {
    result.status = Status::fail(StatusCode::OutOfRange, name + " claims " + std::to_string(size) +
                                                             " bytes of data; its locator holds " +
                                                             std::to_string(block.size() - kSentinelBlockFrame));
    return result;
  }
  const std::size_t crcAt = kSentinelBytes + 4 + size;
  const std::uint16_t stored = littleEndianShortAt(block, crcAt);
  const std::uint16_t computed = dwgCrc16(block.substr(kSentinelBytes, 4 + size));
  if (stored != computed) {
    result.status = Status::fail(StatusCode::BadFile, name + " CRC " + hexOf(stored) + " at " +
                                                          hexOf(where.address + crcAt) + " does not match the computed " +
                                                          hexOf(computed));
    return result;
  }
  if (block.substr(crcAt + 2, kSentinelBytes) != viewOf(endSentinelOf(begin))) {
    result.status = Status::fail(StatusCode::BadFile, "no end sentinel of " + name + " at " +
                                                          hexOf(where.address + crcAt + 2));
    return result;
  }
  result.data = block.substr(kSentinelBytes + 4, size);
  return result;
}

Status writeDwgSentinelBlock(std::string_view data, const DwgSentinel& begin, std::string& out) {
  if (data.size() > UINT32_MAX - kSentinelBlockFrame)
    return Status::fail(StatusCode::OutOfRange, "block of " + std::to_string(data.size()) + " bytes is too large");
  out.append(viewOf(begin));
  const std::size_t sizeAt = out.size();
  appendLittleEndianLong(out, static_cast<std::uint32_t>(data.size()));
  out.append(data);
  appendLittleEndianShort(out, dwgCrc16(std::string_view(out).substr(sizeAt)));
  out.append(viewOf(endSentinelOf(begin)));
  return {};
}

// ------------------------------------------------------------ object map

DwgObjectMapRead readDwgObjectMap(std::string_view file, const DwgSectionLocator& where, std::uint64_t objectsSize) {
  DwgObjectMapRead result;
  const std::uint64_t limit = objectsSize == kDwgObjectsInFile ? file.size() : objectsSize;
  result.status = checkInside(file, where, "object map");
  if (!result.status.ok()) return result;
  const std::string_view map = file.substr(where.address, where.size);
  auto failAt = [&](StatusCode code, std::size_t at, const std::string& what) {
    result.status = Status::fail(code, "object map page at " + hexOf(where.address + at) + ": " + what);
    return result;
  };
  Handle handle = 0;
  std::size_t page = 0;
  while (map.size() - page >= 2) {
    const std::size_t size = bigEndianShortAt(map, page);
    if (size < 2) return failAt(StatusCode::BadFile, page, "size " + std::to_string(size));
    if (size > kDwgMapPageReadLimit)
      return failAt(StatusCode::OutOfRange, page, "size " + std::to_string(size) + " above " +
                                                      std::to_string(kDwgMapPageReadLimit));
    if (size + 2 > map.size() - page)
      return failAt(StatusCode::OutOfRange, page, "size " + std::to_string(size) + " reaches past the map's " +
                                                      std::to_string(where.size) + " bytes");
    const std::uint16_t stored = bigEndianShortAt(map, page + size);
    const std::uint16_t computed = dwgCrc16(map.substr(page, size));
    if (stored != computed)
      return failAt(StatusCode::BadFile, page, "CRC " + hexOf(stored) + " does not match the computed " + hexOf(computed));
    if (size == 2) break;
    DwgBitReader pairs(map.substr(page + 2, size - 2));
    bool first = true;
    std::int64_t address = 0;
    while (pairs.bitsLeft() > 0) {
      const std::uint64_t handleDelta = pairs.readUnsignedModularChar();
      const std::int64_t addressDelta = pairs.readModularChar();
      if (pairs.failed()) return failAt(StatusCode::BadFile, page, "pair cut short: " + pairs.failure());
      if (first ? handleDelta <= handle : handleDelta == 0 || handleDelta > UINT64_MAX - handle)
        return failAt(StatusCode::BadFile, page, "handles do not rise after " + hexOf(handle));
      handle = first ? handleDelta : handle + handleDelta;
      address = first ? addressDelta : address + addressDelta;
      first = false;
      // An object needs at least its size field and its CRC.
      if (address < 0 || static_cast<std::uint64_t>(address) + 4 > limit)
        return failAt(StatusCode::OutOfRange, page, "object " + hexOf(handle) + " at " + std::to_string(address) +
                                                        " lies outside the file");
      result.objects.push_back({handle, static_cast<std::uint64_t>(address)});
    }
    page += size + 2;
  }
  return result;
}

Status writeDwgObjectMap(std::span<const DwgObjectLocation> objects, std::string& out) {
  std::string pages;
  std::string pairs;
  auto flush = [&] {
    const auto size = static_cast<std::uint16_t>(pairs.size() + 2);
    const std::size_t start = pages.size();
    appendBigEndianShort(pages, size);
    pages.append(pairs);
    appendBigEndianShort(pages, dwgCrc16(std::string_view(pages).substr(start)));
    pairs.clear();
  };
  const DwgObjectLocation* previous = nullptr;
  Handle last = 0;
  for (const DwgObjectLocation& o : objects) {
    if (o.handle <= last)
      return Status::fail(StatusCode::OutOfRange, "object map handles must be non-zero and rise: " + hexOf(o.handle) +
                                                      " after " + hexOf(last));
    last = o.handle;
    auto pairOf = [&](const DwgObjectLocation* before) {
      DwgBitWriter w;
      w.writeUnsignedModularChar(before ? o.handle - before->handle : o.handle);
      w.writeModularChar(before ? static_cast<std::int64_t>(o.address) - static_cast<std::int64_t>(before->address)
                                : static_cast<std::int64_t>(o.address));
      return w;
    };
    if (o.address >= (std::uint64_t{1} << 61))
      return Status::fail(StatusCode::OutOfRange, "object " + hexOf(o.handle) + " has address " +
                                                      std::to_string(o.address) + " beyond the map's range");
    DwgBitWriter pair = pairOf(pairs.empty() ? nullptr : previous);
    if (!pairs.empty() && 2 + pairs.size() + pair.bytes().size() > kDwgMapPageLimit) {
      flush();
      pair = pairOf(nullptr);
    }
    if (pair.failed())
      return Status::fail(StatusCode::OutOfRange, "object " + hexOf(o.handle) + ": " + pair.failure());
    pairs.append(pair.bytes());
    previous = &o;
  }
  if (!pairs.empty()) flush();
  flush();  // the final empty page
  out.append(pages);
  return {};
}

// ----------------------------------------------------------- one object

DwgObjectFrame readDwgObjectFrame(std::string_view file, std::uint64_t address) {
  DwgObjectFrame result;
  if (address >= file.size()) {
    result.status = Status::fail(StatusCode::OutOfRange, "object at " + hexOf(address) + " lies past the end of the file");
    return result;
  }
  const std::string_view rest = file.substr(address);
  DwgBitReader in(rest);
  const std::uint64_t size = in.readModularShort();
  if (in.failed()) {
    result.status = Status::fail(StatusCode::BadFile, "object at " + hexOf(address) + ": size " + in.failure());
    return result;
  }
  const std::size_t sizeBytes = in.bitPosition() / 8;
  if (size > rest.size() - sizeBytes || rest.size() - sizeBytes - size < 2) {
    result.status = Status::fail(StatusCode::OutOfRange, "object at " + hexOf(address) + " of " + std::to_string(size) +
                                                             " bytes reaches past the end of the file");
    return result;
  }
  const std::uint16_t stored = littleEndianShortAt(rest, sizeBytes + size);
  const std::uint16_t computed = dwgCrc16(rest.substr(0, sizeBytes + size));
  if (stored != computed) {
    result.status = Status::fail(StatusCode::BadFile, "object at " + hexOf(address) + ": CRC " + hexOf(stored) +
                                                          " does not match the computed " + hexOf(computed));
    return result;
  }
  result.data = rest.substr(sizeBytes, size);
  return result;
}

void writeDwgObjectFrame(std::string_view data, std::string& out) {
  DwgBitWriter size;
  size.writeModularShort(data.size());
  const std::size_t start = out.size();
  out.append(size.bytes());
  out.append(data);
  appendLittleEndianShort(out, dwgCrc16(std::string_view(out).substr(start)));
}

}  // namespace drawingdb
