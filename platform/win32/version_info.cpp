// File versions from the VERSIONINFO resource, read with kernel32 alone:
// VERSION.DLL is not one of the DLLs that Windows always takes from the system
// folder, so the program does not import it.
#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/version_info.h"

namespace platform {

namespace {

// VS_VERSIONINFO: wLength, wValueLength, wType, L"VS_VERSION_INFO" with its
// terminator (32 bytes), padding to 4 bytes, then VS_FIXEDFILEINFO.
constexpr std::size_t KeyOffset = 6;
constexpr char16_t VersionKey[] = u"VS_VERSION_INFO";
constexpr std::size_t FixedOffset = 40;
static_assert(KeyOffset + sizeof(VersionKey) <= FixedOffset);
constexpr std::size_t SignatureOffset = 0;
constexpr std::size_t FileVersionMsOffset = 8;
constexpr std::size_t FileVersionLsOffset = 12;
constexpr std::size_t FixedSize = 52;
static_assert(sizeof(VS_FIXEDFILEINFO) == FixedSize);
static_assert(offsetof(VS_FIXEDFILEINFO, dwFileVersionMS) == FileVersionMsOffset);
static_assert(offsetof(VS_FIXEDFILEINFO, dwFileVersionLS) == FileVersionLsOffset);
constexpr std::uint32_t FixedSignature = 0xFEEF04BD;

std::uint32_t Le32(const unsigned char *p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

std::string FixedVersion(const unsigned char *block, std::size_t size) {
  if (size < FixedOffset + FixedSize)
    return {};
  for (std::size_t i = 0; i < sizeof(VersionKey) / sizeof(VersionKey[0]); ++i) {
    const unsigned char *c = block + KeyOffset + 2 * i;
    if ((c[0] | c[1] << 8) != VersionKey[i])
      return {};
  }
  const unsigned char *fixed = block + FixedOffset;
  if (Le32(fixed + SignatureOffset) != FixedSignature)
    return {};
  const std::uint32_t ms = Le32(fixed + FileVersionMsOffset);
  const std::uint32_t ls = Le32(fixed + FileVersionLsOffset);
  return std::to_string(ms >> 16) + "." + std::to_string(ms & 0xFFFF) + "." +
         std::to_string(ls >> 16);
}

} // namespace

std::string FileVersion(std::string_view path) {
  try {
    const std::string file(path);
    // As data: none of the file's code runs and nothing it imports is loaded.
    HMODULE module = LoadLibraryExA(file.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (module == nullptr)
      return {};
    std::string version;
    if (HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(VS_VERSION_INFO), RT_VERSION)) {
      const void *data = LockResource(LoadResource(module, found));
      if (data != nullptr)
        version =
            FixedVersion(static_cast<const unsigned char *>(data), SizeofResource(module, found));
    }
    FreeLibrary(module);
    return version;
  } catch (...) {
    return {};
  }
}

} // namespace platform
