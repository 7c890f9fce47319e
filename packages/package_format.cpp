// The package format. The checksum runs through zlib's CRC-32, whose register
// convention is the complement of ours; everything else is written field by
// field at the offsets of package_format.h.
#include "packages/package_format.h"

#include <zlib.h>

#include <algorithm>
#include <limits>
#include <memory>
#include <new>

#include "platform/files.h"
#include "util/byte_order.h"
#include "util/file_read.h"

namespace packages {

namespace {

static_assert(std::numeric_limits<uInt>::max() >=
                  static_cast<unsigned long long>(std::numeric_limits<std::int32_t>::max()),
              "one zlib call must take any non-negative int32 length");

// Header and chunk header share one shape: an int32 then an int64.
void EncodeHeader(std::uint8_t (&out)[PackageHeaderSize], std::int32_t length, std::int64_t crc) {
  util::PutI32(out, HeaderTotalLengthOffset, length);
  util::PutI64(out, HeaderCrcSumOffset, crc);
}

} // namespace

std::int64_t WrappingAdd(std::int64_t a, std::int64_t b) {
  return static_cast<std::int64_t>(static_cast<std::uint64_t>(a) + static_cast<std::uint64_t>(b));
}

std::uint32_t UpdateCrc32(const void *buffer, std::int32_t length, std::uint32_t crc) {
  if (length <= 0)
    return crc;
  return ~static_cast<std::uint32_t>(
      ::crc32(~crc & 0xFFFFFFFFul, static_cast<const Bytef *>(buffer), static_cast<uInt>(length)));
}

std::int64_t ChunkChecksum(const void *buffer, std::int32_t length) {
  return static_cast<std::int32_t>(UpdateCrc32(buffer, length, Crc32Start));
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
  // The header is written last, once the totals are known.
  if (!package.WriteAll(header, PackageHeaderSize))
    return false;
  std::int64_t total = 0, sum = 0;
  bool first = true;
  for (;;) {
    std::uint32_t got = 0;
    if (!util::ReadUpTo(zip, buffer.get(), static_cast<std::uint32_t>(chunkSize), got))
      return false;
    if (got == 0 && !first)
      break;
    first = false;
    auto length = static_cast<std::int32_t>(got);
    std::int64_t crc = ChunkChecksum(buffer.get(), length);
    EncodeHeader(header, length, crc);
    if (!package.WriteAll(header, ChunkHeaderSize) ||
        (length > 0 && !package.WriteAll(buffer.get(), got)))
      return false;
    total += length;
    sum = WrappingAdd(sum, crc);
    if (total > std::numeric_limits<std::int32_t>::max())
      return false;
    if (got < static_cast<std::uint32_t>(chunkSize))
      break;
  }
  EncodeHeader(header, static_cast<std::int32_t>(total), sum);
  return package.Seek(0) && package.WriteAll(header, PackageHeaderSize);
}

} // namespace packages
