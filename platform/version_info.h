// The version that a program file carries in its version information.
#pragma once

#include <string>
#include <string_view>

namespace platform {

// "1.2.3" from the file's VERSIONINFO; empty when it has none (every file
// of the POSIX build) or cannot be read.
std::string FileVersion(std::string_view path);

} // namespace platform
