// ZIP archive parsing and entry decompression over an abstract byte source.
// Every offset and length from the archive is checked against the source
// before use; zlib inflates raw deflate streams chunk by chunk.
#include "dunzip/zip_reader.h"

#include <algorithm>
#include <cstring>

#include <zlib.h>

namespace dunzip {

namespace {

constexpr std::uint32_t SigLocalHeader = 0x04034b50;
constexpr std::uint32_t SigCentralHeader = 0x02014b50;
constexpr std::uint32_t SigEndOfCentralDir = 0x06054b50;
constexpr std::uint32_t SigZip64EndOfCentralDir = 0x06064b50;
constexpr std::uint32_t SigZip64Locator = 0x07064b50;
constexpr std::uint32_t SigDataDescriptor = 0x08074b50;

constexpr std::size_t LocalHeaderSize = 30;
constexpr std::size_t CentralHeaderSize = 46;
constexpr std::size_t EndOfCentralDirSize = 22;
constexpr std::size_t Zip64EndOfCentralDirSize = 56;
constexpr std::size_t Zip64LocatorSize = 20;
constexpr std::size_t MaxCommentSize = 0xFFFF;

constexpr std::uint16_t ExtraZip64 = 0x0001;
constexpr std::uint16_t ExtraUnicodePath = 0x7075;

constexpr std::uint32_t Saturated32 = 0xFFFFFFFF;
constexpr std::uint16_t Saturated16 = 0xFFFF;

constexpr std::uint32_t DosAttributeMask = 0x01 | 0x02 | 0x04 | 0x20; // RO, hidden, system, archive
constexpr std::uint32_t DosDirectory = 0x10;

std::uint16_t U16(const std::uint8_t *p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
std::uint32_t U32(const std::uint8_t *p) {
  return std::uint32_t(p[0]) | (std::uint32_t(p[1]) << 8) | (std::uint32_t(p[2]) << 16) |
         (std::uint32_t(p[3]) << 24);
}
std::uint64_t U64(const std::uint8_t *p) {
  return U32(p) | (std::uint64_t(U32(p + 4)) << 32);
}

// a + b <= limit, without overflow.
bool FitsWithin(std::uint64_t a, std::uint64_t b, std::uint64_t limit) {
  return a <= limit && b <= limit - a;
}

std::uint32_t Crc32Of(const std::uint8_t *data, std::size_t count) {
  return static_cast<std::uint32_t>(crc32(crc32(0L, Z_NULL, 0), data, static_cast<uInt>(count)));
}

// Walks the extra field blocks of a header. A block running past the end
// stops the walk: some writers pad the extra field with zeros.
template <typename TVisit>
void ForEachExtraBlock(const std::uint8_t *extra, std::size_t length, TVisit visit) {
  std::size_t at = 0;
  while (length - at >= 4) {
    std::uint16_t id = U16(extra + at);
    std::size_t size = U16(extra + at + 2);
    if (size > length - at - 4)
      return;
    visit(id, extra + at + 4, size);
    at += 4 + size;
  }
}

// Replaces the saturated header values by those of the ZIP64 extra block, which
// holds exactly the saturated ones, in this order. False when a needed value
// is missing.
bool ApplyZip64(const std::uint8_t *extra, std::size_t length, std::uint64_t *uncompressed,
                std::uint64_t *compressed, std::uint64_t *offset) {
  std::uint64_t *wanted[3] = {uncompressed, compressed, offset};
  bool needed = false;
  for (auto *value : wanted)
    needed = needed || (value != nullptr && *value == Saturated32);
  if (!needed)
    return true;
  bool found = false;
  bool complete = false;
  ForEachExtraBlock(extra, length,
                    [&](std::uint16_t id, const std::uint8_t *data, std::size_t size) {
                      if (id != ExtraZip64 || found)
                        return;
                      found = true;
                      std::size_t at = 0;
                      complete = true;
                      for (auto *value : wanted) {
                        if (value == nullptr || *value != Saturated32)
                          continue;
                        if (size - at < 8) {
                          complete = false;
                          return;
                        }
                        *value = U64(data + at);
                        at += 8;
                      }
                    });
  return found && complete;
}

} // namespace

bool TMemorySource::ReadAt(std::uint64_t offset, void *buffer, std::size_t count) {
  if (!FitsWithin(offset, count, Length))
    return false;
  if (count != 0)
    std::memcpy(buffer, Data + offset, count);
  return true;
}

bool TZipEntry::MadeOnDos() const {
  std::uint8_t host = static_cast<std::uint8_t>(VersionMadeBy >> 8);
  return host == HostDos || host == HostNtfs || host == HostVfat;
}

std::uint32_t TZipEntry::DosAttributes() const {
  return MadeOnDos() ? (ExternalAttributes & DosAttributeMask) : 0;
}

bool TZipEntry::IsFolder() const {
  if (!RawName.empty() && (RawName.back() == '/' || RawName.back() == '\\'))
    return true;
  return MadeOnDos() && (ExternalAttributes & DosDirectory) != 0;
}

TZipError TZipReader::ReadCentralDirectory(std::vector<TZipEntry> &entries) {
  entries.clear();
  const std::uint64_t size = Source.Size();
  if (size < EndOfCentralDirSize)
    return TZipError::BadArchive;

  // The end record sits in the last 22 + 65535 bytes; prefer one whose comment
  // ends exactly at the end of the archive.
  std::size_t window =
      static_cast<std::size_t>(std::min<std::uint64_t>(size, EndOfCentralDirSize + MaxCommentSize));
  std::vector<std::uint8_t> tail(window);
  const std::uint64_t tailStart = size - window;
  if (!Source.ReadAt(tailStart, tail.data(), window))
    return TZipError::Read;
  std::size_t endPos = window;
  for (int pass = 0; pass < 2 && endPos == window; ++pass) {
    for (std::size_t i = window - EndOfCentralDirSize + 1; i-- > 0;) {
      if (U32(&tail[i]) != SigEndOfCentralDir)
        continue;
      std::size_t rest = window - i - EndOfCentralDirSize;
      std::size_t comment = U16(&tail[i + 20]);
      if (pass == 0 ? comment == rest : comment <= rest) {
        endPos = i;
        break;
      }
    }
  }
  if (endPos == window)
    return TZipError::BadArchive;
  const std::uint8_t *end = &tail[endPos];
  const std::uint64_t endOffset = tailStart + endPos;

  std::uint32_t disk = U16(end + 4);
  std::uint32_t cdDisk = U16(end + 6);
  std::uint64_t entriesOnDisk = U16(end + 8);
  std::uint64_t totalEntries = U16(end + 10);
  std::uint64_t cdSize = U32(end + 12);
  std::uint64_t cdOffset = U32(end + 16);
  std::uint64_t cdLimit = endOffset;

  if (endOffset >= Zip64LocatorSize) {
    std::uint8_t locator[Zip64LocatorSize];
    if (!Source.ReadAt(endOffset - Zip64LocatorSize, locator, sizeof locator))
      return TZipError::Read;
    if (U32(locator) == SigZip64Locator) {
      std::uint64_t zip64Offset = U64(locator + 8);
      if (U32(locator + 4) != 0 || U32(locator + 16) > 1)
        return TZipError::Unsupported;
      if (!FitsWithin(zip64Offset, Zip64EndOfCentralDirSize, endOffset - Zip64LocatorSize))
        return TZipError::BadArchive;
      std::uint8_t record[Zip64EndOfCentralDirSize];
      if (!Source.ReadAt(zip64Offset, record, sizeof record))
        return TZipError::Read;
      if (U32(record) != SigZip64EndOfCentralDir)
        return TZipError::BadArchive;
      disk = U32(record + 16);
      cdDisk = U32(record + 20);
      entriesOnDisk = U64(record + 24);
      totalEntries = U64(record + 32);
      cdSize = U64(record + 40);
      cdOffset = U64(record + 48);
      cdLimit = zip64Offset;
    }
  }
  // Info-ZIP writing ZIP64 to a pipe saturates the offset in the end record
  // without adding a ZIP64 end record; the directory then ends where the end
  // record starts.
  if (cdLimit == endOffset && cdOffset == Saturated32 && cdSize <= endOffset)
    cdOffset = endOffset - cdSize;
  if (disk != 0 || cdDisk != 0)
    return TZipError::Unsupported;
  if (entriesOnDisk != totalEntries || !FitsWithin(cdOffset, cdSize, cdLimit) ||
      totalEntries > cdSize / CentralHeaderSize)
    return TZipError::BadArchive;

  std::vector<std::uint8_t> cd(static_cast<std::size_t>(cdSize));
  if (!Source.ReadAt(cdOffset, cd.data(), cd.size()))
    return TZipError::Read;
  DataLimit = cdOffset;

  entries.reserve(static_cast<std::size_t>(totalEntries));
  std::size_t at = 0;
  for (std::uint64_t n = 0; n < totalEntries; ++n) {
    if (cd.size() - at < CentralHeaderSize || U32(&cd[at]) != SigCentralHeader)
      return TZipError::BadArchive;
    const std::uint8_t *h = &cd[at];
    std::size_t nameLength = U16(h + 28);
    std::size_t extraLength = U16(h + 30);
    std::size_t commentLength = U16(h + 32);
    if (cd.size() - at - CentralHeaderSize < nameLength + extraLength + commentLength)
      return TZipError::BadArchive;
    TZipEntry e;
    e.VersionMadeBy = U16(h + 4);
    e.Flags = U16(h + 8);
    e.Method = U16(h + 10);
    e.DosTime = U16(h + 12);
    e.DosDate = U16(h + 14);
    e.Crc32 = U32(h + 16);
    e.CompressedSize = U32(h + 20);
    e.UncompressedSize = U32(h + 24);
    std::uint16_t startDisk = U16(h + 34);
    e.ExternalAttributes = U32(h + 38);
    e.LocalHeaderOffset = U32(h + 42);
    const std::uint8_t *name = h + CentralHeaderSize;
    const std::uint8_t *extra = name + nameLength;
    e.RawName.assign(reinterpret_cast<const char *>(name), nameLength);
    if (!ApplyZip64(extra, extraLength, &e.UncompressedSize, &e.CompressedSize,
                    &e.LocalHeaderOffset))
      return TZipError::BadArchive;
    if (startDisk != 0 && startDisk != Saturated16)
      return TZipError::Unsupported;
    ForEachExtraBlock(extra, extraLength,
                      [&](std::uint16_t id, const std::uint8_t *data, std::size_t length) {
                        // Version 1, CRC-32 of the header name, the name in UTF-8.
                        if (id != ExtraUnicodePath || length < 5 || data[0] != 1 ||
                            U32(data + 1) != Crc32Of(name, nameLength))
                          return;
                        e.UnicodeName.assign(reinterpret_cast<const char *>(data + 5), length - 5);
                        e.HasUnicodeName = true;
                      });
    // A folder holds no data; a "folder" with data is a damaged file entry.
    if (e.IsFolder() && e.UncompressedSize != 0)
      return TZipError::BadArchive;
    entries.push_back(std::move(e));
    at += CentralHeaderSize + nameLength + extraLength + commentLength;
  }
  return TZipError::None;
}

TZipError TZipReader::CheckLocalHeader(const TZipEntry &entry, std::uint64_t &dataOffset) {
  std::uint8_t h[LocalHeaderSize];
  if (!FitsWithin(entry.LocalHeaderOffset, LocalHeaderSize, DataLimit))
    return TZipError::BadArchive;
  if (!Source.ReadAt(entry.LocalHeaderOffset, h, sizeof h))
    return TZipError::Read;
  if (U32(h) != SigLocalHeader)
    return TZipError::BadArchive;
  std::uint16_t flags = U16(h + 6);
  std::size_t nameLength = U16(h + 26);
  std::size_t extraLength = U16(h + 28);
  std::uint64_t variableStart = entry.LocalHeaderOffset + LocalHeaderSize;
  if (!FitsWithin(variableStart, nameLength + extraLength, DataLimit))
    return TZipError::BadArchive;
  std::vector<std::uint8_t> variable(nameLength + extraLength);
  if (!Source.ReadAt(variableStart, variable.data(), variable.size()))
    return TZipError::Read;

  if (U16(h + 8) != entry.Method || ((flags ^ entry.Flags) & FlagEncrypted) != 0 ||
      nameLength != entry.RawName.size() ||
      !std::equal(entry.RawName.begin(), entry.RawName.end(), variable.begin(),
                  [](char a, std::uint8_t b) { return static_cast<std::uint8_t>(a) == b; }))
    return TZipError::BadArchive;
  // With a data descriptor the local CRC and sizes may be zeros.
  if (((flags | entry.Flags) & FlagDataDescriptor) == 0) {
    std::uint64_t compressed = U32(h + 18);
    std::uint64_t uncompressed = U32(h + 22);
    if (!ApplyZip64(variable.data() + nameLength, extraLength, &uncompressed, &compressed, nullptr))
      return TZipError::BadArchive;
    if (U32(h + 14) != entry.Crc32 || compressed != entry.CompressedSize ||
        uncompressed != entry.UncompressedSize)
      return TZipError::BadArchive;
  }
  dataOffset = variableStart + nameLength + extraLength;
  if (!FitsWithin(dataOffset, entry.CompressedSize, DataLimit))
    return TZipError::BadArchive;
  return TZipError::None;
}

TZipError TZipReader::CheckDataDescriptor(const TZipEntry &entry, std::uint64_t offset) {
  // Optional signature, CRC-32, then both sizes in 4 or (ZIP64) 8 bytes each.
  std::uint8_t d[24] = {};
  std::size_t available =
      static_cast<std::size_t>(std::min<std::uint64_t>(sizeof d, DataLimit - offset));
  if (!Source.ReadAt(offset, d, available))
    return TZipError::Read;
  std::size_t at = (available >= 4 && U32(d) == SigDataDescriptor) ? 4 : 0;
  if (available - at < 12 || U32(d + at) != entry.Crc32)
    return TZipError::BadArchive;
  bool small = U32(d + at + 4) == entry.CompressedSize && U32(d + at + 8) == entry.UncompressedSize;
  bool large = available - at >= 20 && U64(d + at + 4) == entry.CompressedSize &&
               U64(d + at + 12) == entry.UncompressedSize;
  return small || large ? TZipError::None : TZipError::BadArchive;
}

TZipError TZipReader::CopyStored(const TZipEntry &entry, std::uint64_t offset, TByteSink &sink) {
  if (entry.CompressedSize != entry.UncompressedSize)
    return TZipError::BadArchive;
  std::uint32_t crc = Crc32Of(nullptr, 0);
  std::uint64_t remaining = entry.CompressedSize;
  while (remaining > 0) {
    std::size_t chunk =
        static_cast<std::size_t>(std::min<std::uint64_t>(remaining, InBuffer.size()));
    if (!Source.ReadAt(offset, InBuffer.data(), chunk))
      return TZipError::Read;
    crc = static_cast<std::uint32_t>(crc32(crc, InBuffer.data(), static_cast<uInt>(chunk)));
    if (!sink.Write(InBuffer.data(), chunk))
      return TZipError::SinkFailed;
    offset += chunk;
    remaining -= chunk;
  }
  return crc == entry.Crc32 ? TZipError::None : TZipError::Crc;
}

TZipError TZipReader::Inflate(const TZipEntry &entry, std::uint64_t offset, TByteSink &sink) {
  z_stream z{};
  if (inflateInit2(&z, -MAX_WBITS) != Z_OK)
    return TZipError::Unsupported;
  struct TEnd {
    z_stream &Stream;
    ~TEnd() { inflateEnd(&Stream); }
  } end{z};

  std::uint32_t crc = Crc32Of(nullptr, 0);
  std::uint64_t remainingIn = entry.CompressedSize;
  std::uint64_t produced = 0;
  for (;;) {
    if (z.avail_in == 0 && remainingIn > 0) {
      std::size_t chunk =
          static_cast<std::size_t>(std::min<std::uint64_t>(remainingIn, InBuffer.size()));
      if (!Source.ReadAt(offset, InBuffer.data(), chunk))
        return TZipError::Read;
      offset += chunk;
      remainingIn -= chunk;
      z.next_in = InBuffer.data();
      z.avail_in = static_cast<uInt>(chunk);
    }
    z.next_out = OutBuffer.data();
    z.avail_out = static_cast<uInt>(OutBuffer.size());
    int status = inflate(&z, Z_NO_FLUSH);
    std::size_t have = OutBuffer.size() - z.avail_out;
    if (have > 0) {
      if (have > entry.UncompressedSize - produced)
        return TZipError::Crc;
      crc = static_cast<std::uint32_t>(crc32(crc, OutBuffer.data(), static_cast<uInt>(have)));
      if (!sink.Write(OutBuffer.data(), have))
        return TZipError::SinkFailed;
      produced += have;
    }
    if (status == Z_STREAM_END)
      break;
    if (status == Z_BUF_ERROR && z.avail_in == 0 && remainingIn == 0)
      return TZipError::BadArchive; // the stream ends early
    if (status != Z_OK && status != Z_BUF_ERROR)
      return TZipError::BadArchive;
  }
  // The deflate stream has to fill the compressed size exactly.
  if (z.avail_in != 0 || remainingIn != 0)
    return TZipError::BadArchive;
  if (produced != entry.UncompressedSize || crc != entry.Crc32)
    return TZipError::Crc;
  return TZipError::None;
}

TZipError TZipReader::ExtractEntry(const TZipEntry &entry, TByteSink &sink) {
  if (entry.IsEncrypted() || !entry.MethodSupported())
    return TZipError::Unsupported;
  std::uint64_t dataOffset = 0;
  TZipError error = CheckLocalHeader(entry, dataOffset);
  if (error != TZipError::None)
    return error;
  if (InBuffer.empty()) {
    InBuffer.resize(ZipBufferSize);
    OutBuffer.resize(ZipBufferSize);
  }
  error = entry.Method == MethodStored ? CopyStored(entry, dataOffset, sink)
                                       : Inflate(entry, dataOffset, sink);
  if (error == TZipError::None && (entry.Flags & FlagDataDescriptor) != 0)
    error = CheckDataDescriptor(entry, dataOffset + entry.CompressedSize);
  return error;
}

} // namespace dunzip
