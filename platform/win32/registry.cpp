// Windows registry read of one value below HKEY_LOCAL_MACHINE; the registry
// calls return their status themselves, so that is what the caller gets.
#include <windows.h>

#include <string>

#include "platform/registry.h"

namespace platform {

long ReadMachineValue(std::string_view subkey, std::string_view valueName, std::uint32_t &type,
                      std::vector<std::uint8_t> &data) {
  constexpr REGSAM KeyRead = 0x20019;
  data.clear();
  try {
    const std::string key(subkey), name(valueName);
    HKEY handle = nullptr;
    LONG status = RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KeyRead, &handle);
    if (status != ERROR_SUCCESS)
      return status;
    DWORD valueType = 0, size = 0;
    status = RegQueryValueExA(handle, name.c_str(), nullptr, &valueType, nullptr, &size);
    if (status == ERROR_SUCCESS || status == ERROR_MORE_DATA) {
      // Room for a terminator that a text value may have been stored without.
      const bool text = valueType == REG_SZ || valueType == REG_EXPAND_SZ;
      std::vector<std::uint8_t> buffer(size + (text ? 1 : 0) + 1, 0);
      DWORD got = size + (text ? 1 : 0);
      status = RegQueryValueExA(handle, name.c_str(), nullptr, &valueType, buffer.data(), &got);
      if (status == ERROR_SUCCESS || status == ERROR_MORE_DATA) {
        // On ERROR_MORE_DATA the value grew meanwhile; keep what fitted.
        if (got > buffer.size())
          got = static_cast<DWORD>(buffer.size() - 1);
        buffer.resize(got);
        data = std::move(buffer);
        type = valueType;
        status = ERROR_SUCCESS;
      }
    }
    RegCloseKey(handle);
    return status;
  } catch (...) {
    return ERROR_NOT_ENOUGH_MEMORY;
  }
}

std::string RegistryFile() {
  return std::string();
}

} // namespace platform
