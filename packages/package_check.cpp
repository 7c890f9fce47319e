// Verifying a package beside its archive.
#include "packages/package_check.h"

#include "packages/chunk_stream.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/path_parts.h"
#include "util/file_read.h"
#include "util/text.h"

namespace packages {

bool VerifyPackageStream(std::string_view packagePath, std::string_view archivePath,
                         TPackageReport &report) {
  report = TPackageReport();
  platform::TFile package;
  if (!package.OpenShared(packagePath))
    return FailReport(report, TPackageFault::PackageNotOpened);
  platform::TFile archive;
  if (!archivePath.empty() && !archive.Create(archivePath))
    return FailReport(report, TPackageFault::ArchiveNotCreated);

  bool ok = StreamChunks(package, archivePath.empty() ? nullptr : &archive, report);
  if (ok) {
    report.Chunk = -1;
    report.ChunkOffset = -1;
    if (!report.HeaderRead) {
      ok = FailReport(report, TPackageFault::HeaderMissing);
    } else if (report.BytesVerified != report.TotalLength) {
      report.Expected = report.TotalLength;
      report.Found = report.BytesVerified;
      ok = FailReport(report, TPackageFault::TotalLengthMismatch);
    } else if (report.CrcRunningSum != report.CrcSum) {
      report.Expected = report.CrcSum;
      report.Found = report.CrcRunningSum;
      ok = FailReport(report, TPackageFault::CrcSumMismatch);
    }
  }
  archive.Close();
  package.Close();
  return ok;
}

std::string ArchivePathOf(std::string_view packagePath) {
  // Only the file name's own extension: a "." in a folder name must not pull
  // the archive out of the package's folder.
  const std::size_t nameStart = platform::NameStart(packagePath, "\\/:");
  return std::string(packagePath.substr(0, nameStart)) +
         util::ChangeExtension(packagePath.substr(nameStart), "zip");
}

namespace {

bool VerifyBeside(std::string_view packagePath, TPackageReport &report) {
  report = TPackageReport();
  if (packagePath.size() > util::TShortString::Capacity)
    return FailReport(report, TPackageFault::PathTooLong);
  std::string archivePath = ArchivePathOf(packagePath);
  // Short strings would cut a name that "zip" made longer than 255
  // characters; a name part that is empty gives no archive name at all.
  constexpr std::string_view suffix = ".zip";
  if (archivePath.size() > util::TShortString::Capacity || archivePath.size() < suffix.size() ||
      archivePath.compare(archivePath.size() - suffix.size(), suffix.size(), suffix) != 0)
    return FailReport(report, TPackageFault::ArchiveNameTooLong);
  if (platform::SameAsciiCaseless(archivePath, packagePath))
    return FailReport(report, TPackageFault::ArchiveIsPackage);
  // Whatever the name holds, the archive goes beside the package and nowhere
  // else, where it could land over a stranger's file.
  std::size_t folderEnd = platform::NameStart(packagePath, "\\/:");
  if (platform::NameStart(archivePath, "\\/:") != folderEnd ||
      archivePath.compare(0, folderEnd, packagePath.substr(0, folderEnd)) != 0)
    return FailReport(report, TPackageFault::ArchiveNameTooLong);
  util::DeleteFileIfExists(archivePath);
  return VerifyPackageStream(packagePath, archivePath, report);
}

} // namespace

bool VerifyPackageDetailed(std::string_view packagePath, TPackageReport &report) {
  try {
    return VerifyBeside(packagePath, report);
  } catch (...) {
    return FailReport(report, TPackageFault::OutOfMemory);
  }
}

bool CheckPackageFile(std::string_view packagePath) {
  TPackageReport report;
  return VerifyPackageDetailed(packagePath, report);
}

} // namespace packages
