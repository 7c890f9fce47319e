// Reading one value below HKEY_LOCAL_MACHINE. On POSIX the registry is a text
// file (RegistryFile(): $ZRK_REGISTRY, else DriveRoot()/registry.txt) with one
// value per line:  SUBKEY|VALUENAME|TYPE|DATA  where TYPE is REG_SZ,
// REG_EXPAND_SZ, REG_DWORD (decimal DATA) or REG_BINARY (hex DATA); subkey and
// value name compare case-insensitively.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

constexpr std::uint32_t RegSz = 1;
constexpr std::uint32_t RegExpandSz = 2;
constexpr std::uint32_t RegBinary = 3;
constexpr std::uint32_t RegDword = 4;

// Opens `subkey` with KEY_READ, asks for the value's type and size and reads
// its data (text types with room for one more byte). Returns the registry's
// own status: 0 success, 2 key or value missing, 5 access denied, ...
long ReadMachineValue(std::string_view subkey, std::string_view valueName, std::uint32_t &type,
                      std::vector<std::uint8_t> &data);

std::string RegistryFile();

} // namespace platform
