// How errno values become the Windows error numbers the seam reports.
#pragma once

#include <string>

namespace platform::posix {

// Windows error number for an errno value; `path` tells "file" from "path"
// not found.
int ErrorFromErrno(int error, const std::string &nativePath = std::string());
// Records the Windows error for errno and returns false.
bool FailErrno(int error, const std::string &nativePath = std::string());
// Records a Windows error and returns false.
bool Fail(int windowsError);

} // namespace platform::posix
