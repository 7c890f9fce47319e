// A ZIP archive of plain files, deflated, as update build makes them for
// packages: names without folders (in UTF-8 with flag bit 11 when they are
// not plain ASCII), the files' own dates, no ZIP64.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace tools {

struct TZipSource {
  std::string Name; // entry name, Windows-1252
  std::string Path; // the file to store
};

// False (and the OS or zlib failure in `error`) when the archive could not be
// written; a half-written archive is deleted.
// `progress` hears the bytes read so far, chunk by chunk.
bool WriteZip(const std::string &zipPath, const std::vector<TZipSource> &files, std::string &error,
              const std::function<void(std::uint64_t)> &progress = {});

} // namespace tools
