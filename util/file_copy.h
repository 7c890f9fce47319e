// Copying one file with its last-write time and attributes, the way unpacked
// files reach their destination folders: the previous destination survives
// every failure, and the result is a small number shown to the user.
#pragma once

#include <string_view>

#include "platform/files.h"

namespace util {

// 0 copied; 1 source attributes unreadable or source cannot be opened;
// 2 destination cannot be created or replaced (read-only, in use, missing
// folder, path over 255 characters); 3 read failed; 4 write failed or short;
// 5 source time unreadable.
int CopyFileWithDate(std::string_view source, std::string_view destination);
// The same through the temporary file `tempPath`, which must not exist yet:
// a caller that has to clean up after a killed run knows the name beforehand.
// With `asidePath` given, the existing destination is renamed to it right
// before the copy takes its place, so that it can come back.
int CopyFileWithDate(std::string_view source, std::string_view destination,
                     std::string_view tempPath, std::string_view asidePath = {});
// The same, the copy's flush left to `behind` (durable once behind.Finish()
// has returned true).
int CopyFileWithDate(std::string_view source, std::string_view destination,
                     std::string_view tempPath, std::string_view asidePath,
                     platform::TFlushBehind &behind);

} // namespace util
