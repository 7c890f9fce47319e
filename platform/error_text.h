// The words for a Windows error number, for logs and tools that would
// otherwise show a bare number.
#pragma once

#include <string>

namespace platform {

// "The system cannot find the file specified. (2)": the system's own message
// (FormatMessage, in the ANSI code page, line ends removed) on Windows; the
// same English texts for the numbers that the POSIX build reports.
std::string ErrorText(int error);

} // namespace platform
