// Package files: verifying a package writes its archive out in the same pass.
#pragma once

#include <string>
#include <string_view>

#include "packages/package_format.h"
#include "packages/package_report.h"

namespace packages {

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

} // namespace packages
