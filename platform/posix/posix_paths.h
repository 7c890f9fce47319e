// POSIX side of the platform seam: how Windows-style paths map onto the host
// file system and how errno values become Windows error numbers.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace platform::posix {

// Host path of a Windows-style path (drive letters below DriveRoot(), either
// separator, case-insensitive fallback lookup of each component).
std::string MapPath(std::string_view path);

// Windows error number for an errno value; `path` tells "file" from "path"
// not found.
int ErrorFromErrno(int error, const std::string &nativePath = std::string());
// Records the Windows error for errno and returns false.
bool FailErrno(int error, const std::string &nativePath = std::string());
// Records a Windows error and returns false.
bool Fail(int windowsError);
// True when the file exists and its owner may not write it (Windows read-only).
bool IsReadOnly(const std::string &nativePath);
// Stat-based Windows attributes of a host path and its bare name.
bool AttributesOf(const std::string &nativePath, const std::string &name, std::uint32_t &attributes,
                  std::uint64_t *size = nullptr);

} // namespace platform::posix
