// Package files: the host's chunked container in which every piece of a ZIP
// archive carries its own CRC-32. Verifying a package writes the archive out
// in the same pass; the writer here produces the same format for tests and tools.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace packages {

// Layout of a package file (little-endian, signed):
//   header: totalLength int32 @0, crcSum int64 @4
//   chunks: chunkLength int32 @0, chunkCrc int64 @4, then chunkLength bytes.
constexpr std::int32_t PackageHeaderSize = 12;
constexpr std::int32_t ChunkHeaderSize = 12;
constexpr std::int32_t HeaderTotalLengthOffset = 0;
constexpr std::int32_t HeaderCrcSumOffset = 4;
constexpr std::int32_t ChunkLengthOffset = 0;
constexpr std::int32_t ChunkCrcOffset = 4;
constexpr std::int32_t MaxChunkLength = 65000;
constexpr std::uint32_t Crc32Start = 0xFFFFFFFFu;

// Feeds `length` bytes into the reflected CRC-32 register `crc` (polynomial
// 0xEDB88320) and returns the register: no complement on the way in or out.
// A length of 0 or less feeds nothing.
std::uint32_t UpdateCrc32(const void *buffer, std::int32_t length, std::uint32_t crc);

// The value a chunk header stores for `length` payload bytes: the register
// after starting at 0xFFFFFFFF, as a signed 32-bit value widened to 64 bits.
std::int64_t ChunkChecksum(const void *buffer, std::int32_t length);

enum class TPackageFault {
  None,
  PathTooLong,        // the package path is longer than 255 characters
  ArchiveIsPackage,   // the package's own extension is "zip"
  ArchiveNameTooLong, // "zip" does not fit behind the package path
  PackageNotOpened,
  ArchiveNotCreated,
  ReadFailed,
  HeaderMissing,    // fewer than 12 bytes of file header
  ChunkHeaderCut,   // fewer than 12 bytes of chunk header
  ChunkLengthBad,   // chunkLength negative or above 65000
  ChunkPayloadCut,  // fewer payload bytes than chunkLength
  ChunkCrcMismatch, // chunkCrc differs from the computed checksum
  ArchiveWriteFailed,
  OutOfMemory,
  TotalLengthMismatch,
  CrcSumMismatch,
};

// What went wrong and where. Chunk numbers count from 0; `ChunkOffset` is the
// file offset of the chunk's header. For a chunk fault `Expected` is the value
// the package stores and `Found` what was computed or read; for the totals
// they are the header's value and the running sum or byte count.
struct TPackageReport {
  TPackageFault Fault = TPackageFault::None;
  std::int32_t Chunk = -1;
  std::int64_t ChunkOffset = -1;
  std::int64_t Expected = 0;
  std::int64_t Found = 0;
  // Progress when the verification ended.
  bool HeaderRead = false;
  std::int32_t TotalLength = 0;
  std::int64_t CrcSum = 0;
  std::int32_t ChunksVerified = 0;
  std::int64_t BytesVerified = 0;
  std::int64_t CrcRunningSum = 0;
  int OsError = 0;
};

// Human-readable one-line account of a report, for tools.
std::string DescribePackageReport(const TPackageReport &report);

// Verifies the package and writes its payload to `archivePath` (created anew);
// an empty `archivePath` only verifies. Deletes nothing. The package is
// streamed chunk by chunk through two fixed buffers, each chunk's checksum
// computed on a second thread while the next chunk is read.
[[nodiscard]] bool VerifyPackageStream(std::string_view packagePath, std::string_view archivePath,
                                       TPackageReport &report);

// The archive file of a package: its path with the file name's extension
// replaced by "zip" (added when the name has none), in the package's folder.
std::string ArchivePathOf(std::string_view packagePath);

// Removes an old archive file, then verifies the package and writes the
// archive beside it. A package that is itself named "*.zip" is refused before
// anything is deleted, since it would be its own archive.
[[nodiscard]] bool VerifyPackageDetailed(std::string_view packagePath, TPackageReport &report);
[[nodiscard]] bool CheckPackageFile(std::string_view packagePath);

// Writer: cuts `payload` into chunks of `chunkSize` bytes (1 to 65000; the last
// one shorter). An empty payload gives the one empty chunk a package needs.
std::vector<std::uint8_t> BuildPackageBytes(const std::vector<std::uint8_t> &payload,
                                            std::int32_t chunkSize);
// Streams the file `zipPath` into a new package file `packagePath`.
[[nodiscard]] bool WritePackageFile(std::string_view zipPath, std::string_view packagePath,
                                    std::int32_t chunkSize);

} // namespace packages
