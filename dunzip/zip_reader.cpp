// ZIP archive parsing and entry decompression over an abstract byte source.
// Every offset and length from the archive is checked against the source
// before use; zlib inflates raw deflate streams chunk by chunk.
#include "dunzip/zip_reader.h"

#include <algorithm>
#include <cstring>
#include <new>

#include <zlib.h>

#include "dunzip/inflate_worker.h"
#include "dunzip/zip_layout.h"
#include "util/byte_order.h"

namespace dunzip {

using util::GetU16;
using util::GetU32;
using util::GetU64;

namespace {

constexpr std::uint32_t Saturated32 = 0xFFFFFFFF;
constexpr std::uint16_t Saturated16 = 0xFFFF;

constexpr std::uint32_t DosAttributeMask = 0x01 | 0x02 | 0x04 | 0x20; // RO, hidden, system, archive
constexpr std::uint32_t DosDirectory = 0x10;

bool HasSignature(const std::uint8_t *record, std::uint32_t signature) {
  return GetU32(record, 0) == signature;
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
  while (length - at >= extra_block::HeaderSize) {
    const std::uint8_t *block = extra + at;
    std::uint16_t id = GetU16(block, extra_block::Id);
    std::size_t size = GetU16(block, extra_block::DataLength);
    if (size > length - at - extra_block::HeaderSize)
      return;
    visit(id, block + extra_block::HeaderSize, size);
    at += extra_block::HeaderSize + size;
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
                      if (id != extra_block::Zip64 || found)
                        return;
                      found = true;
                      std::size_t at = 0;
                      complete = true;
                      for (auto *value : wanted) {
                        if (value == nullptr || *value != Saturated32)
                          continue;
                        if (size - at < sizeof(std::uint64_t)) {
                          complete = false;
                          return;
                        }
                        *value = GetU64(data, at);
                        at += sizeof(std::uint64_t);
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

bool TZipEntry::MadeOnUnix() const {
  std::uint8_t host = static_cast<std::uint8_t>(VersionMadeBy >> 8);
  return host == HostUnix || host == HostMacOsX;
}

std::uint32_t TZipEntry::DosAttributes() const {
  return MadeOnDos() ? (ExternalAttributes & DosAttributeMask) : 0;
}

bool TZipEntry::IsFolder() const {
  if (!RawName.empty() && (RawName.back() == '/' || RawName.back() == '\\'))
    return true;
  return MadeOnDos() && (ExternalAttributes & DosDirectory) != 0;
}

TZipError TZipReader::Open() {
  Slots.clear();
  WindowLength = 0;
  const std::uint64_t size = Source.Size();
  if (size < end_record::FixedSize)
    return TZipError::BadArchive;

  // The end record sits in the last 22 + 65535 bytes; prefer one whose comment
  // ends exactly at the end of the archive.
  std::size_t window = static_cast<std::size_t>(
      std::min<std::uint64_t>(size, end_record::FixedSize + end_record::MaxCommentSize));
  std::vector<std::uint8_t> tail(window);
  const std::uint64_t tailStart = size - window;
  if (!Source.ReadAt(tailStart, tail.data(), window))
    return TZipError::Read;
  std::size_t endPos = window;
  for (int pass = 0; pass < 2 && endPos == window; ++pass) {
    for (std::size_t i = window - end_record::FixedSize + 1; i-- > 0;) {
      if (!HasSignature(&tail[i], end_record::Signature))
        continue;
      std::size_t rest = window - i - end_record::FixedSize;
      std::size_t comment = GetU16(&tail[i], end_record::CommentLength);
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

  std::uint32_t disk = GetU16(end, end_record::Disk);
  std::uint32_t cdDisk = GetU16(end, end_record::DirectoryDisk);
  std::uint64_t entriesOnDisk = GetU16(end, end_record::EntriesOnDisk);
  std::uint64_t totalEntries = GetU16(end, end_record::TotalEntries);
  std::uint64_t cdSize = GetU32(end, end_record::DirectorySize);
  std::uint64_t cdOffset = GetU32(end, end_record::DirectoryOffset);
  std::uint64_t cdLimit = endOffset;

  if (endOffset >= zip64_locator::FixedSize) {
    std::uint8_t locator[zip64_locator::FixedSize];
    const std::uint64_t locatorOffset = endOffset - zip64_locator::FixedSize;
    if (!Source.ReadAt(locatorOffset, locator, sizeof locator))
      return TZipError::Read;
    if (HasSignature(locator, zip64_locator::Signature)) {
      std::uint64_t zip64Offset = GetU64(locator, zip64_locator::EndRecordOffset);
      if (GetU32(locator, zip64_locator::EndRecordDisk) != 0 ||
          GetU32(locator, zip64_locator::TotalDisks) > 1)
        return TZipError::Unsupported;
      if (!FitsWithin(zip64Offset, zip64_end_record::FixedSize, locatorOffset))
        return TZipError::BadArchive;
      std::uint8_t record[zip64_end_record::FixedSize];
      if (!Source.ReadAt(zip64Offset, record, sizeof record))
        return TZipError::Read;
      if (!HasSignature(record, zip64_end_record::Signature))
        return TZipError::BadArchive;
      disk = GetU32(record, zip64_end_record::Disk);
      cdDisk = GetU32(record, zip64_end_record::DirectoryDisk);
      entriesOnDisk = GetU64(record, zip64_end_record::EntriesOnDisk);
      totalEntries = GetU64(record, zip64_end_record::TotalEntries);
      cdSize = GetU64(record, zip64_end_record::DirectorySize);
      cdOffset = GetU64(record, zip64_end_record::DirectoryOffset);
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
      totalEntries > cdSize / central_header::FixedSize)
    return TZipError::BadArchive;

  DataLimit = cdOffset;
  DirectoryEnd = cdOffset + cdSize;

  Slots.reserve(static_cast<std::size_t>(totalEntries));
  std::uint64_t at = cdOffset;
  TZipEntry e;
  for (std::uint64_t n = 0; n < totalEntries; ++n) {
    std::uint64_t next = 0;
    TZipError error = ParseCentralHeader(at, e, next);
    if (error != TZipError::None)
      return error;
    Slots.push_back(TSlot{at, e.LocalHeaderOffset});
    at = next;
  }
  return CheckLayout();
}

TZipError TZipReader::ReadCentralDirectory(std::vector<TZipEntry> &entries) {
  entries.clear();
  TZipError error = Open();
  if (error != TZipError::None)
    return error;
  entries.resize(Slots.size());
  for (std::size_t i = 0; i < Slots.size(); ++i) {
    error = ReadEntry(i, entries[i]);
    if (error != TZipError::None) {
      entries.clear();
      return error;
    }
  }
  return TZipError::None;
}

TZipError TZipReader::ReadEntry(std::size_t index, TZipEntry &entry) {
  if (index >= Slots.size())
    return TZipError::BadArchive;
  std::uint64_t next = 0;
  return ParseCentralHeader(Slots[index].CentralOffset, entry, next);
}

TZipError TZipReader::DirectoryBytes(std::uint64_t offset, std::size_t count,
                                     const std::uint8_t *&data) {
  if (offset < DataLimit || !FitsWithin(offset, count, DirectoryEnd))
    return TZipError::BadArchive;
  if (WindowLength == 0 || offset < WindowStart ||
      !FitsWithin(offset - WindowStart, count, WindowLength)) {
    // Headers may be longer than the usual window (three 64 KiB fields).
    std::size_t length = static_cast<std::size_t>(
        std::min<std::uint64_t>(std::max(DirectoryWindowSize, count), DirectoryEnd - offset));
    if (Window.size() < length)
      Window.resize(length);
    WindowLength = 0;
    if (!Source.ReadAt(offset, Window.data(), length))
      return TZipError::Read;
    WindowStart = offset;
    WindowLength = length;
  }
  data = Window.data() + (offset - WindowStart);
  return TZipError::None;
}

TZipError TZipReader::ParseCentralHeader(std::uint64_t offset, TZipEntry &e, std::uint64_t &next) {
  const std::uint8_t *h = nullptr;
  TZipError error = DirectoryBytes(offset, central_header::FixedSize, h);
  if (error != TZipError::None)
    return error;
  if (!HasSignature(h, central_header::Signature))
    return TZipError::BadArchive;
  std::size_t nameLength = GetU16(h, central_header::NameLength);
  std::size_t extraLength = GetU16(h, central_header::ExtraLength);
  std::size_t commentLength = GetU16(h, central_header::CommentLength);
  error = DirectoryBytes(offset,
                         central_header::FixedSize + nameLength + extraLength + commentLength, h);
  if (error != TZipError::None)
    return error;
  e = TZipEntry{};
  e.VersionMadeBy = GetU16(h, central_header::VersionMadeBy);
  e.Flags = GetU16(h, central_header::Flags);
  e.Method = GetU16(h, central_header::Method);
  e.DosTime = GetU16(h, central_header::DosTime);
  e.DosDate = GetU16(h, central_header::DosDate);
  e.Crc32 = GetU32(h, central_header::Crc32);
  e.CompressedSize = GetU32(h, central_header::CompressedSize);
  e.UncompressedSize = GetU32(h, central_header::UncompressedSize);
  std::uint16_t startDisk = GetU16(h, central_header::StartDisk);
  e.ExternalAttributes = GetU32(h, central_header::ExternalAttributes);
  e.LocalHeaderOffset = GetU32(h, central_header::LocalHeaderOffset);
  const std::uint8_t *name = h + central_header::FixedSize;
  const std::uint8_t *extra = name + nameLength;
  e.RawName.assign(reinterpret_cast<const char *>(name), nameLength);
  if (!ApplyZip64(extra, extraLength, &e.UncompressedSize, &e.CompressedSize, &e.LocalHeaderOffset))
    return TZipError::BadArchive;
  if (startDisk != 0 && startDisk != Saturated16)
    return TZipError::Unsupported;
  ForEachExtraBlock(extra, extraLength,
                    [&](std::uint16_t id, const std::uint8_t *data, std::size_t length) {
                      using namespace extra_block;
                      if (id != UnicodePath || length < UnicodeName ||
                          data[UnicodeVersion] != UnicodePathVersion ||
                          GetU32(data, UnicodeNameCrc) != Crc32Of(name, nameLength))
                        return;
                      e.UnicodeName.assign(reinterpret_cast<const char *>(data + UnicodeName),
                                           length - UnicodeName);
                      e.HasUnicodeName = true;
                    });
  // A folder holds no data; a "folder" with data is a damaged file entry.
  if (e.IsFolder() && e.UncompressedSize != 0)
    return TZipError::BadArchive;
  next = offset + central_header::FixedSize + nameLength + extraLength + commentLength;
  return TZipError::None;
}

// Every entry owns the bytes from its local header to the end of its data
// (and its data descriptor); no two entries may share a byte, and none may
// reach into the central directory. Otherwise a small archive unpacks into
// far more than it holds, or unpacks differently from what it lists.
TZipError TZipReader::CheckLayout() {
  std::vector<std::size_t> order(Slots.size());
  for (std::size_t i = 0; i < order.size(); ++i)
    order[i] = i;
  std::sort(order.begin(), order.end(), [this](std::size_t a, std::size_t b) {
    return Slots[a].LocalHeaderOffset < Slots[b].LocalHeaderOffset;
  });
  // Entries that share a local header are found before any header is read.
  for (std::size_t i = 1; i < order.size(); ++i)
    if (Slots[order[i]].LocalHeaderOffset == Slots[order[i - 1]].LocalHeaderOffset)
      return TZipError::BadArchive;
  std::uint64_t taken = 0;
  TZipEntry entry;
  for (std::size_t index : order) {
    if (Slots[index].LocalHeaderOffset < taken)
      return TZipError::BadArchive;
    TZipError error = ReadEntry(index, entry);
    if (error != TZipError::None)
      return error;
    std::uint64_t dataOffset = 0;
    error = CheckLocalHeader(entry, dataOffset);
    if (error != TZipError::None)
      return error;
    taken = dataOffset + entry.CompressedSize;
    // A descriptor takes at least its shortest form: no signature, 4-byte sizes.
    if ((entry.Flags & FlagDataDescriptor) != 0) {
      if (!FitsWithin(taken, data_descriptor::Size32, DataLimit))
        return TZipError::BadArchive;
      taken += data_descriptor::Size32;
    }
  }
  return TZipError::None;
}

TZipError TZipReader::CheckLocalHeader(const TZipEntry &entry, std::uint64_t &dataOffset) {
  std::uint8_t h[local_header::FixedSize];
  if (!FitsWithin(entry.LocalHeaderOffset, local_header::FixedSize, DataLimit))
    return TZipError::BadArchive;
  if (!Source.ReadAt(entry.LocalHeaderOffset, h, sizeof h))
    return TZipError::Read;
  if (!HasSignature(h, local_header::Signature))
    return TZipError::BadArchive;
  std::uint16_t flags = GetU16(h, local_header::Flags);
  std::size_t nameLength = GetU16(h, local_header::NameLength);
  std::size_t extraLength = GetU16(h, local_header::ExtraLength);
  std::uint64_t variableStart = entry.LocalHeaderOffset + local_header::FixedSize;
  if (!FitsWithin(variableStart, nameLength + extraLength, DataLimit))
    return TZipError::BadArchive;
  std::vector<std::uint8_t> variable(nameLength + extraLength);
  if (!Source.ReadAt(variableStart, variable.data(), variable.size()))
    return TZipError::Read;

  if (GetU16(h, local_header::Method) != entry.Method ||
      ((flags ^ entry.Flags) & FlagEncrypted) != 0 || nameLength != entry.RawName.size() ||
      !std::equal(entry.RawName.begin(), entry.RawName.end(), variable.begin(),
                  [](char a, std::uint8_t b) { return static_cast<std::uint8_t>(a) == b; }))
    return TZipError::BadArchive;
  // With a data descriptor the local CRC and sizes may be zeros.
  if (((flags | entry.Flags) & FlagDataDescriptor) == 0) {
    std::uint64_t compressed = GetU32(h, local_header::CompressedSize);
    std::uint64_t uncompressed = GetU32(h, local_header::UncompressedSize);
    if (!ApplyZip64(variable.data() + nameLength, extraLength, &uncompressed, &compressed, nullptr))
      return TZipError::BadArchive;
    if (GetU32(h, local_header::Crc32) != entry.Crc32 || compressed != entry.CompressedSize ||
        uncompressed != entry.UncompressedSize)
      return TZipError::BadArchive;
  }
  dataOffset = variableStart + nameLength + extraLength;
  if (!FitsWithin(dataOffset, entry.CompressedSize, DataLimit))
    return TZipError::BadArchive;
  return TZipError::None;
}

TZipError TZipReader::CheckDataDescriptor(const TZipEntry &entry, std::uint64_t offset) {
  using namespace data_descriptor;
  std::uint8_t d[MaxSize] = {};
  std::size_t available =
      static_cast<std::size_t>(std::min<std::uint64_t>(sizeof d, DataLimit - offset));
  if (!Source.ReadAt(offset, d, available))
    return TZipError::Read;
  bool withSignature = available >= SignatureSize && HasSignature(d, Signature);
  const std::uint8_t *fields = withSignature ? d + SignatureSize : d;
  available -= withSignature ? SignatureSize : 0;
  if (available < Size32 || GetU32(fields, Crc32) != entry.Crc32)
    return TZipError::BadArchive;
  bool small = GetU32(fields, CompressedSize) == entry.CompressedSize &&
               GetU32(fields, UncompressedSize32) == entry.UncompressedSize;
  bool large = available >= Size64 && GetU64(fields, CompressedSize) == entry.CompressedSize &&
               GetU64(fields, UncompressedSize64) == entry.UncompressedSize;
  return small || large ? TZipError::None : TZipError::BadArchive;
}

TZipError TZipReader::CopyStored(const TZipEntry &entry, std::uint64_t offset, TByteSink &sink) {
  if (entry.CompressedSize != entry.UncompressedSize)
    return TZipError::BadArchive;
  std::uint32_t crc = Crc32Of(nullptr, 0);
  std::uint64_t remaining = entry.CompressedSize;
  while (remaining > 0) {
    std::size_t chunk = static_cast<std::size_t>(std::min<std::uint64_t>(remaining, ZipBufferSize));
    if (!Source.ReadAt(offset, InData, chunk))
      return TZipError::Read;
    crc = static_cast<std::uint32_t>(crc32(crc, InData, static_cast<uInt>(chunk)));
    if (!sink.Write(InData, chunk))
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
          static_cast<std::size_t>(std::min<std::uint64_t>(remainingIn, ZipBufferSize));
      if (!Source.ReadAt(offset, InData, chunk))
        return TZipError::Read;
      offset += chunk;
      remainingIn -= chunk;
      z.next_in = InData;
      z.avail_in = static_cast<uInt>(chunk);
    }
    z.next_out = OutData;
    z.avail_out = static_cast<uInt>(ZipBufferSize);
    int status = inflate(&z, Z_NO_FLUSH);
    std::size_t have = ZipBufferSize - z.avail_out;
    if (have > 0) {
      if (have > entry.UncompressedSize - produced)
        return TZipError::Crc;
      crc = static_cast<std::uint32_t>(crc32(crc, OutData, static_cast<uInt>(have)));
      if (!sink.Write(OutData, have))
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

TZipReader::TZipReader(TByteSource &source) : Source(source) {
}

TZipReader::~TZipReader() = default;

void TZipReader::MakeBuffers() {
  if (InData != nullptr)
    return;
  if (Worker != nullptr) {
    // Idle between entries: its buffers serve the entries inflated here.
    InData = Worker->InputBuffer();
    OutData = Worker->OutputBuffer();
    return;
  }
  Buffers.resize(2 * ZipBufferSize);
  InData = Buffers.data();
  OutData = Buffers.data() + ZipBufferSize;
}

TInflateWorker *TZipReader::WorkerFor(const TZipEntry &entry) {
  // Below this the hand-over between the threads costs more than it saves.
  constexpr std::uint64_t AsideFrom = TInflateWorker::BlockSize;
  if (entry.CompressedSize < AsideFrom)
    return nullptr;
  if (!WorkerTried) {
    WorkerTried = true;
    // The worker's buffers take the place of these, so that memory does not
    // hold both.
    Buffers = std::vector<std::uint8_t>();
    InData = OutData = nullptr;
    try {
      Worker = std::make_unique<TInflateWorker>();
      if (!Worker->Running())
        Worker.reset();
    } catch (const std::bad_alloc &) {
      // Inflated inline, on one core.
    }
  }
  return Worker.get();
}

TZipError TZipReader::ExtractEntry(const TZipEntry &entry, TByteSink &sink) {
  if (entry.IsEncrypted() || !entry.MethodSupported())
    return TZipError::Unsupported;
  std::uint64_t dataOffset = 0;
  TZipError error = CheckLocalHeader(entry, dataOffset);
  if (error != TZipError::None)
    return error;
  TInflateWorker *worker = entry.Method == MethodDeflated ? WorkerFor(entry) : nullptr;
  if (worker == nullptr)
    MakeBuffers();
  error = entry.Method == MethodStored ? CopyStored(entry, dataOffset, sink)
          : worker != nullptr          ? worker->Inflate(entry, dataOffset, Source, sink)
                                       : Inflate(entry, dataOffset, sink);
  if (error == TZipError::None && (entry.Flags & FlagDataDescriptor) != 0)
    error = CheckDataDescriptor(entry, dataOffset + entry.CompressedSize);
  return error;
}

} // namespace dunzip
