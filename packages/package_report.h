// What a package verification found, and its one-line account for tools.
#pragma once

#include <cstdint>
#include <string>

namespace packages {

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

// Human-readable one-line account of a report, for the run log and tools.
std::string DescribePackageReport(const TPackageReport &report);
// A checksum as the 32-bit value it is, "0xCADBBE3D" (sign-extended values
// included); a crcSum beyond 32 bits with all 16 digits. One format for the
// run log and the tools.
std::string CrcText(std::int64_t value);

// Records `fault` with `osError` (or the last OS error) in `report`; false.
bool FailReport(TPackageReport &report, TPackageFault fault, int osError);
bool FailReport(TPackageReport &report, TPackageFault fault);

} // namespace packages
