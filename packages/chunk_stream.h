// The chunk loop of a package verification: reads, checksums and writes out
// the payload.
#pragma once

#include "packages/package_report.h"
#include "platform/files.h"

namespace packages {

// Streams the chunks of `package` (an open file at its start) into `archive`
// (none: verify only); `report` carries the running totals out. The totals
// against the header are left to the caller.
[[nodiscard]] bool StreamChunks(platform::TFile &package, platform::TFile *archive,
                                TPackageReport &report);

} // namespace packages
