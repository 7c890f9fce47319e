#include "packages/package_report.h"

#include <cstdint>

#include "platform/error_text.h"
#include "platform/files.h"

namespace packages {

bool FailReport(TPackageReport &report, TPackageFault fault, int osError) {
  report.Fault = fault;
  report.OsError = osError;
  return false;
}

bool FailReport(TPackageReport &report, TPackageFault fault) {
  return FailReport(report, fault, platform::LastError());
}

std::string CrcText(std::int64_t value) {
  static const char digits[] = "0123456789ABCDEF";
  const bool narrow = value >= INT32_MIN && value <= INT32_MAX;
  std::string text = "0x";
  for (int shift = narrow ? 28 : 60; shift >= 0; shift -= 4)
    text += digits[(static_cast<std::uint64_t>(value) >> shift) & 0xF];
  return text;
}

std::string DescribePackageReport(const TPackageReport &r) {
  auto num = [](std::int64_t v) { return std::to_string(v); };
  const auto hex = CrcText;
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

} // namespace packages
