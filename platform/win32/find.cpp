// Windows listing of a folder by mask with the attribute filter of the
// program's file searches (FindFirstFileA / FindNextFileA).
#include <windows.h>

#include <string>

#include "platform/files.h"
#include "platform/win32/win32_util.h"

namespace platform {

bool FindFiles(std::string_view mask, std::uint32_t attributeFilter,
               std::vector<TFindEntry> &entries) {
  entries.clear();
  try {
    const std::string pattern(mask);
    WIN32_FIND_DATAA data;
    HANDLE search = FindFirstFileA(pattern.c_str(), &data);
    if (search == INVALID_HANDLE_VALUE) {
      const DWORD error = GetLastError();
      // No match in a readable folder is an empty list, not a failure.
      if (error == ERROR_FILE_NOT_FOUND || error == ERROR_NO_MORE_FILES)
        return win32::Succeed();
      return win32::Fail(static_cast<int>(error));
    }
    do {
      const std::string name = data.cFileName;
      if (name == "." || name == "..")
        continue;
      if (!detail::PassesFilter(data.dwFileAttributes, attributeFilter))
        continue;
      TFindEntry entry;
      entry.Name = name;
      entry.Attributes = data.dwFileAttributes;
      entry.Size = (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
      entries.push_back(std::move(entry));
    } while (FindNextFileA(search, &data));
    const DWORD error = GetLastError();
    FindClose(search);
    if (error != ERROR_NO_MORE_FILES) {
      entries.clear();
      return win32::Fail(static_cast<int>(error));
    }
    // In the system's own order: placement takes files as Windows lists them.
    return win32::Succeed();
  } catch (...) {
    entries.clear();
    return win32::Fail(ERROR_NOT_ENOUGH_MEMORY);
  }
}

} // namespace platform
