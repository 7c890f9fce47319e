// Windows listing of a folder by mask with the attribute filter of the
// program's file searches (FindFirstFileA / FindNextFileA).
#include <windows.h>

#include <new>
#include <string>

#include "platform/files.h"
#include "platform/win32/win32_util.h"

namespace platform {

namespace {

class TSearch {
public:
  explicit TSearch(HANDLE handle) : Handle(handle) {}
  ~TSearch() {
    if (Handle != INVALID_HANDLE_VALUE)
      FindClose(Handle);
  }
  TSearch(const TSearch &) = delete;
  TSearch &operator=(const TSearch &) = delete;
  HANDLE Handle;
};

} // namespace

// In the system's own order: placement takes files as Windows lists them.
bool WalkFiles(std::string_view mask, std::uint32_t attributeFilter,
               const std::function<bool(const TFindEntry &)> &visit) {
  WIN32_FIND_DATAA data;
  TFindEntry entry;
  std::string pattern;
  try {
    pattern = std::string(mask);
  } catch (const std::bad_alloc &) {
    return win32::Fail(ERROR_NOT_ENOUGH_MEMORY);
  }
  TSearch search(FindFirstFileA(pattern.c_str(), &data));
  if (search.Handle == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    // No match in a readable folder is an empty list, not a failure.
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_NO_MORE_FILES)
      return win32::Succeed();
    return win32::Fail(static_cast<int>(error));
  }
  do {
    const std::string_view name = data.cFileName;
    if (name == "." || name == "..")
      continue;
    if (!detail::PassesFilter(data.dwFileAttributes, attributeFilter))
      continue;
    try {
      entry.Name = name;
    } catch (const std::bad_alloc &) {
      return win32::Fail(ERROR_NOT_ENOUGH_MEMORY);
    }
    entry.Attributes = data.dwFileAttributes;
    entry.Size = (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    if (!visit(entry))
      return win32::Succeed();
  } while (FindNextFileA(search.Handle, &data));
  const DWORD error = GetLastError();
  if (error != ERROR_NO_MORE_FILES)
    return win32::Fail(static_cast<int>(error));
  return win32::Succeed();
}

} // namespace platform
