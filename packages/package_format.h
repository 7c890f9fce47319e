// The host's package format: a chunked container in which every piece of a
// ZIP archive carries its own CRC-32, and the writer that makes one for
// tests and tools.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace packages {

// The register a CRC-32 starts from.
constexpr std::uint32_t Crc32Start = 0xFFFFFFFFu;

// Feeds `length` bytes into the reflected CRC-32 register `crc` (polynomial
// 0xEDB88320) and returns the register: no complement on the way in or out.
// A length of 0 or less feeds nothing.
std::uint32_t UpdateCrc32(const void *buffer, std::int32_t length, std::uint32_t crc);

// The value a chunk header stores for `length` payload bytes: the register
// after starting at 0xFFFFFFFF, as a signed 32-bit value widened to 64 bits.
std::int64_t ChunkChecksum(const void *buffer, std::int32_t length);

// Adds a chunk checksum to the running sum of the header: wrapping at 64 bits.
std::int64_t WrappingAdd(std::int64_t a, std::int64_t b);

// Layout of a package file (little-endian, signed): a header, then chunks of
// chunkLength payload bytes behind a chunk header. Both headers have one
// shape: a length int32 @0 and a checksum int64 @4.
//   header: totalLength, crcSum; chunk header: chunkLength, chunkCrc.
constexpr std::int32_t PackageHeaderSize = 12, ChunkHeaderSize = PackageHeaderSize;
constexpr std::int32_t HeaderTotalLengthOffset = 0, HeaderCrcSumOffset = 4;
constexpr std::int32_t ChunkLengthOffset = HeaderTotalLengthOffset,
                       ChunkCrcOffset = HeaderCrcSumOffset;
constexpr std::int32_t MaxChunkLength = 65000;

// Writer: cuts `payload` into chunks of `chunkSize` bytes (1 to 65000; the last
// one shorter). An empty payload gives the one empty chunk a package needs.
std::vector<std::uint8_t> BuildPackageBytes(const std::vector<std::uint8_t> &payload,
                                            std::int32_t chunkSize);
// Streams the file `zipPath` into a new package file `packagePath`.
[[nodiscard]] bool WritePackageFile(std::string_view zipPath, std::string_view packagePath,
                                    std::int32_t chunkSize);

} // namespace packages
