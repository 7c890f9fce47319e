// File versions from the VERSIONINFO resource.
#include <windows.h>

#include <string>
#include <vector>

#include "platform/version_info.h"

namespace platform {

std::string FileVersion(std::string_view path) {
  const std::string file(path);
  DWORD handle = 0;
  DWORD size = GetFileVersionInfoSizeA(file.c_str(), &handle);
  if (size == 0)
    return {};
  std::vector<char> block(size);
  VS_FIXEDFILEINFO *fixed = nullptr;
  UINT length = 0;
  if (!GetFileVersionInfoA(file.c_str(), 0, size, block.data()) ||
      !VerQueryValueA(block.data(), "\\", reinterpret_cast<void **>(&fixed), &length) ||
      fixed == nullptr)
    return {};
  return std::to_string(HIWORD(fixed->dwFileVersionMS)) + "." +
         std::to_string(LOWORD(fixed->dwFileVersionMS)) + "." +
         std::to_string(HIWORD(fixed->dwFileVersionLS));
}

} // namespace platform
