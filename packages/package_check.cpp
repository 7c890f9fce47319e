// Package verification and writing. The checksum runs through zlib's CRC-32,
// whose register convention is the complement of ours; everything else is read
// and written field by field at the offsets of package_check.h.
#include "packages/package_check.h"

#include <zlib.h>

#include <algorithm>
#include <limits>
#include <memory>
#include <new>

#include "platform/error_text.h"
#include "platform/files.h"
#include "util/text.h"

namespace packages {

namespace {

static_assert(std::numeric_limits<uInt>::max() >=
                  static_cast<unsigned long long>(std::numeric_limits<std::int32_t>::max()),
              "one zlib call must take any non-negative int32 length");

std::int32_t GetInt32(const std::uint8_t *p) {
  std::uint32_t v = static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
                    static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
  return static_cast<std::int32_t>(v);
}

std::int64_t GetInt64(const std::uint8_t *p) {
  std::uint64_t v = 0;
  for (int i = 7; i >= 0; --i)
    v = v << 8 | p[i];
  return static_cast<std::int64_t>(v);
}

void PutInt32(std::uint8_t *p, std::int32_t value) {
  auto v = static_cast<std::uint32_t>(value);
  for (int i = 0; i < 4; ++i, v >>= 8)
    p[i] = static_cast<std::uint8_t>(v);
}

void PutInt64(std::uint8_t *p, std::int64_t value) {
  auto v = static_cast<std::uint64_t>(value);
  for (int i = 0; i < 8; ++i, v >>= 8)
    p[i] = static_cast<std::uint8_t>(v);
}

std::int64_t WrappingAdd(std::int64_t a, std::int64_t b) {
  return static_cast<std::int64_t>(static_cast<std::uint64_t>(a) + static_cast<std::uint64_t>(b));
}

// Header and chunk header share one shape: an int32 then an int64.
void EncodeHeader(std::uint8_t (&out)[PackageHeaderSize], std::int32_t length, std::int64_t crc) {
  PutInt32(out + HeaderTotalLengthOffset, length);
  PutInt64(out + HeaderCrcSumOffset, crc);
}

// Reads until `count` bytes are in or the file ends.
bool ReadFull(platform::TFile &file, std::uint8_t *buffer, std::uint32_t count,
              std::uint32_t &got) {
  got = 0;
  while (got < count) {
    std::uint32_t n = 0;
    if (!file.Read(buffer + got, count - got, n))
      return false;
    if (n == 0)
      break;
    got += n;
  }
  return true;
}

bool Fail(TPackageReport &report, TPackageFault fault) {
  report.Fault = fault;
  report.OsError = platform::LastError();
  return false;
}

// Offset of the character after the last folder separator (0 if none).
std::size_t NameStart(std::string_view path) {
  std::size_t p = path.find_last_of("\\/:");
  return p == std::string_view::npos ? 0 : p + 1;
}

bool SameAsciiCaseless(std::string_view a, std::string_view b) {
  if (a.size() != b.size())
    return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z')
      x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z')
      y = static_cast<char>(y - 'A' + 'a');
    if (x != y)
      return false;
  }
  return true;
}

// The loop proper; `report` carries the running totals out.
bool StreamChunks(platform::TFile &package, platform::TFile *archive, TPackageReport &report) {
  std::unique_ptr<std::uint8_t[]> buffer(new (std::nothrow) std::uint8_t[MaxChunkLength]);
  if (!buffer)
    return Fail(report, TPackageFault::OutOfMemory);
  std::uint8_t header[ChunkHeaderSize];
  std::int64_t offset = 0;
  for (;;) {
    bool atEnd = false;
    if (!package.AtEnd(atEnd))
      return Fail(report, TPackageFault::ReadFailed);
    if (atEnd)
      return true;
    std::uint32_t got = 0;
    if (!report.HeaderRead) {
      if (!ReadFull(package, header, PackageHeaderSize, got))
        return Fail(report, TPackageFault::ReadFailed);
      if (got != PackageHeaderSize)
        return Fail(report, TPackageFault::HeaderMissing);
      report.TotalLength = GetInt32(header + HeaderTotalLengthOffset);
      report.CrcSum = GetInt64(header + HeaderCrcSumOffset);
      report.HeaderRead = true;
      offset = PackageHeaderSize;
    }
    report.Chunk = report.ChunksVerified;
    report.ChunkOffset = offset;
    if (!ReadFull(package, header, ChunkHeaderSize, got))
      return Fail(report, TPackageFault::ReadFailed);
    if (got != ChunkHeaderSize) {
      report.Expected = ChunkHeaderSize;
      report.Found = got;
      return Fail(report, TPackageFault::ChunkHeaderCut);
    }
    std::int32_t length = GetInt32(header + ChunkLengthOffset);
    std::int64_t storedCrc = GetInt64(header + ChunkCrcOffset);
    if (length < 0 || length > MaxChunkLength) {
      report.Expected = MaxChunkLength;
      report.Found = length;
      return Fail(report, TPackageFault::ChunkLengthBad);
    }
    if (!ReadFull(package, buffer.get(), static_cast<std::uint32_t>(length), got))
      return Fail(report, TPackageFault::ReadFailed);
    if (got != static_cast<std::uint32_t>(length)) {
      report.Expected = length;
      report.Found = got;
      return Fail(report, TPackageFault::ChunkPayloadCut);
    }
    std::int64_t crc = ChunkChecksum(buffer.get(), length);
    if (crc != storedCrc) {
      report.Expected = storedCrc;
      report.Found = crc;
      return Fail(report, TPackageFault::ChunkCrcMismatch);
    }
    report.CrcRunningSum = WrappingAdd(report.CrcRunningSum, crc);
    if (archive != nullptr && length > 0) {
      std::uint32_t written = 0;
      if (!archive->Write(buffer.get(), static_cast<std::uint32_t>(length), written) ||
          written != static_cast<std::uint32_t>(length)) {
        report.Expected = length;
        report.Found = written;
        return Fail(report, TPackageFault::ArchiveWriteFailed);
      }
    }
    report.BytesVerified += length;
    report.ChunksVerified += 1;
    offset += ChunkHeaderSize + static_cast<std::int64_t>(length);
  }
}

} // namespace

std::uint32_t UpdateCrc32(const void *buffer, std::int32_t length, std::uint32_t crc) {
  if (length <= 0)
    return crc;
  return ~static_cast<std::uint32_t>(
      ::crc32(~crc & 0xFFFFFFFFul, static_cast<const Bytef *>(buffer), static_cast<uInt>(length)));
}

std::int64_t ChunkChecksum(const void *buffer, std::int32_t length) {
  return static_cast<std::int32_t>(UpdateCrc32(buffer, length, Crc32Start));
}

bool VerifyPackageStream(std::string_view packagePath, std::string_view archivePath,
                         TPackageReport &report) {
  report = TPackageReport();
  platform::TFile package;
  if (!package.OpenShared(packagePath))
    return Fail(report, TPackageFault::PackageNotOpened);
  platform::TFile archive;
  if (!archivePath.empty() && !archive.Create(archivePath))
    return Fail(report, TPackageFault::ArchiveNotCreated);

  bool ok = StreamChunks(package, archivePath.empty() ? nullptr : &archive, report);
  if (ok) {
    report.Chunk = -1;
    report.ChunkOffset = -1;
    if (!report.HeaderRead) {
      ok = Fail(report, TPackageFault::HeaderMissing);
    } else if (report.BytesVerified != report.TotalLength) {
      report.Expected = report.TotalLength;
      report.Found = report.BytesVerified;
      ok = Fail(report, TPackageFault::TotalLengthMismatch);
    } else if (report.CrcRunningSum != report.CrcSum) {
      report.Expected = report.CrcSum;
      report.Found = report.CrcRunningSum;
      ok = Fail(report, TPackageFault::CrcSumMismatch);
    }
  }
  archive.Close();
  package.Close();
  return ok;
}

std::string ArchivePathOf(std::string_view packagePath) {
  // Only the file name's own extension: a "." in a folder name must not pull
  // the archive out of the package's folder.
  const std::size_t nameStart = NameStart(packagePath);
  return std::string(packagePath.substr(0, nameStart)) +
         util::ChangeExtension(packagePath.substr(nameStart), "zip");
}

namespace {

bool VerifyBeside(std::string_view packagePath, TPackageReport &report) {
  report = TPackageReport();
  if (packagePath.size() > util::TShortString::Capacity)
    return Fail(report, TPackageFault::PathTooLong);
  std::string archivePath = ArchivePathOf(packagePath);
  // Short strings would cut a name that "zip" made longer than 255
  // characters; a name part that is empty gives no archive name at all.
  constexpr std::string_view suffix = ".zip";
  if (archivePath.size() > util::TShortString::Capacity || archivePath.size() < suffix.size() ||
      archivePath.compare(archivePath.size() - suffix.size(), suffix.size(), suffix) != 0)
    return Fail(report, TPackageFault::ArchiveNameTooLong);
  if (SameAsciiCaseless(archivePath, packagePath))
    return Fail(report, TPackageFault::ArchiveIsPackage);
  // Whatever the name holds, the archive goes beside the package and nowhere
  // else, where it could land over a stranger's file.
  std::size_t folderEnd = NameStart(packagePath);
  if (NameStart(archivePath) != folderEnd ||
      archivePath.compare(0, folderEnd, packagePath.substr(0, folderEnd)) != 0)
    return Fail(report, TPackageFault::ArchiveNameTooLong);
  util::DeleteFileIfExists(archivePath);
  return VerifyPackageStream(packagePath, archivePath, report);
}

} // namespace

bool VerifyPackageDetailed(std::string_view packagePath, TPackageReport &report) {
  try {
    return VerifyBeside(packagePath, report);
  } catch (...) {
    return Fail(report, TPackageFault::OutOfMemory);
  }
}

bool CheckPackageFile(std::string_view packagePath) {
  TPackageReport report;
  return VerifyPackageDetailed(packagePath, report);
}

std::string DescribePackageReport(const TPackageReport &r) {
  auto num = [](std::int64_t v) { return std::to_string(v); };
  auto hex = [](std::int64_t v) {
    static const char digits[] = "0123456789ABCDEF";
    std::string s = "0x";
    for (int shift = 60; shift >= 0; shift -= 4)
      s += digits[(static_cast<std::uint64_t>(v) >> shift) & 0xF];
    return s;
  };
  std::string where;
  if (r.Chunk >= 0)
    where = "chunk " + num(r.Chunk) + " at offset " + num(r.ChunkOffset) + ": ";
  switch (r.Fault) {
  case TPackageFault::None:
    return "ok: " + num(r.ChunksVerified) + " chunks, " + num(r.BytesVerified) + " bytes, crcSum " +
           hex(r.CrcRunningSum);
  case TPackageFault::PathTooLong:
    return "package path longer than 255 characters";
  case TPackageFault::ArchiveIsPackage:
    return "package is named *.zip and would be its own archive";
  case TPackageFault::ArchiveNameTooLong:
    return "no archive name in the package's folder can be made from the package path";
  case TPackageFault::PackageNotOpened:
    return "package cannot be opened: " + platform::ErrorText(r.OsError);
  case TPackageFault::ArchiveNotCreated:
    return "archive cannot be created: " + platform::ErrorText(r.OsError);
  case TPackageFault::ReadFailed:
    return where + "read error: " + platform::ErrorText(r.OsError);
  case TPackageFault::HeaderMissing:
    return "file header missing: package shorter than 12 bytes";
  case TPackageFault::ChunkHeaderCut:
    return where + "chunk header cut short: " + num(r.Found) + " of 12 bytes";
  case TPackageFault::ChunkLengthBad:
    return where + "chunkLength " + num(r.Found) + " outside 0 to 65000";
  case TPackageFault::ChunkPayloadCut:
    return where + "payload cut short: " + num(r.Found) + " of " + num(r.Expected) + " bytes";
  case TPackageFault::ChunkCrcMismatch:
    return where + "chunkCrc " + hex(r.Expected) + " stored, " + hex(r.Found) + " computed";
  case TPackageFault::OutOfMemory:
    return "out of memory";
  case TPackageFault::ArchiveWriteFailed:
    return where + "archive write failed: " + num(r.Found) + " of " + num(r.Expected) +
           " bytes: " + platform::ErrorText(r.OsError);
  case TPackageFault::TotalLengthMismatch:
    return "totalLength " + num(r.Expected) + " in header, " + num(r.Found) + " bytes in " +
           num(r.ChunksVerified) + " chunks";
  case TPackageFault::CrcSumMismatch:
    return "crcSum " + hex(r.Expected) + " in header, " + hex(r.Found) + " summed over " +
           num(r.ChunksVerified) + " chunks";
  }
  return "unknown fault";
}

std::vector<std::uint8_t> BuildPackageBytes(const std::vector<std::uint8_t> &payload,
                                            std::int32_t chunkSize) {
  std::vector<std::uint8_t> out(PackageHeaderSize);
  if (chunkSize <= 0 || chunkSize > MaxChunkLength)
    return {};
  std::int64_t sum = 0;
  std::size_t pos = 0;
  do {
    auto length = static_cast<std::int32_t>(
        std::min<std::size_t>(payload.size() - pos, static_cast<std::size_t>(chunkSize)));
    std::int64_t crc = ChunkChecksum(payload.data() + pos, length);
    sum = WrappingAdd(sum, crc);
    std::uint8_t header[ChunkHeaderSize];
    EncodeHeader(header, length, crc);
    out.insert(out.end(), header, header + ChunkHeaderSize);
    out.insert(out.end(), payload.begin() + static_cast<std::ptrdiff_t>(pos),
               payload.begin() + static_cast<std::ptrdiff_t>(pos) + length);
    pos += static_cast<std::size_t>(length);
  } while (pos < payload.size());
  std::uint8_t header[PackageHeaderSize];
  EncodeHeader(header, static_cast<std::int32_t>(payload.size()), sum);
  std::copy(header, header + PackageHeaderSize, out.begin());
  return out;
}

bool WritePackageFile(std::string_view zipPath, std::string_view packagePath,
                      std::int32_t chunkSize) {
  if (chunkSize <= 0 || chunkSize > MaxChunkLength)
    return false;
  platform::TFile zip, package;
  if (!zip.OpenRead(zipPath) || !package.Create(packagePath))
    return false;
  std::unique_ptr<std::uint8_t[]> buffer(new (std::nothrow) std::uint8_t[MaxChunkLength]);
  if (!buffer)
    return false;
  std::uint8_t header[PackageHeaderSize] = {};
  std::uint32_t written = 0;
  // The header is written last, once the totals are known.
  if (!package.Write(header, PackageHeaderSize, written) || written != PackageHeaderSize)
    return false;
  std::int64_t total = 0, sum = 0;
  bool first = true;
  for (;;) {
    std::uint32_t got = 0;
    if (!ReadFull(zip, buffer.get(), static_cast<std::uint32_t>(chunkSize), got))
      return false;
    if (got == 0 && !first)
      break;
    first = false;
    auto length = static_cast<std::int32_t>(got);
    std::int64_t crc = ChunkChecksum(buffer.get(), length);
    EncodeHeader(header, length, crc);
    if (!package.Write(header, ChunkHeaderSize, written) || written != ChunkHeaderSize)
      return false;
    if (length > 0 && (!package.Write(buffer.get(), got, written) || written != got))
      return false;
    total += length;
    sum = WrappingAdd(sum, crc);
    if (total > std::numeric_limits<std::int32_t>::max())
      return false;
    if (got < static_cast<std::uint32_t>(chunkSize))
      break;
  }
  EncodeHeader(header, static_cast<std::int32_t>(total), sum);
  return package.Seek(0) && package.Write(header, PackageHeaderSize, written) &&
         written == PackageHeaderSize;
}

} // namespace packages
