// POSIX registry: a text file of "SUBKEY|VALUENAME|TYPE|DATA" lines stands in
// for HKEY_LOCAL_MACHINE.
#include <cstdlib>
#include <fstream>

#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/registry.h"

namespace platform {

namespace {
constexpr long StatusSuccess = 0;
constexpr long StatusNotFound = 2;
constexpr long StatusInvalidData = 13;

std::string_view WithoutBackslashes(std::string_view key) {
  while (!key.empty() && key.front() == '\\')
    key.remove_prefix(1);
  while (!key.empty() && key.back() == '\\')
    key.remove_suffix(1);
  return key;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9')
    return c - '0';
  if (c >= 'a' && c <= 'f')
    return c - 'a' + 10;
  if (c >= 'A' && c <= 'F')
    return c - 'A' + 10;
  return -1;
}

bool Decode(std::string_view typeName, std::string_view text, std::uint32_t &type,
            std::vector<std::uint8_t> &data) {
  data.clear();
  if (typeName == "REG_SZ" || typeName == "REG_EXPAND_SZ") {
    type = typeName == "REG_SZ" ? RegSz : RegExpandSz;
    data.assign(text.begin(), text.end());
    data.push_back(0); // stored with its terminator, as Windows keeps text values
    return true;
  }
  if (typeName == "REG_DWORD") {
    const std::string digits(text);
    char *end = nullptr;
    const unsigned long long value = std::strtoull(digits.c_str(), &end, 10);
    if (digits.empty() || *end != '\0' || value > 0xFFFFFFFFull)
      return false;
    type = RegDword;
    for (int i = 0; i < 4; ++i)
      data.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
    return true;
  }
  if (typeName == "REG_BINARY") {
    if (text.size() % 2 != 0)
      return false;
    for (std::size_t i = 0; i < text.size(); i += 2) {
      const int hi = HexDigit(text[i]), lo = HexDigit(text[i + 1]);
      if (hi < 0 || lo < 0)
        return false;
      data.push_back(static_cast<std::uint8_t>(hi * 16 + lo));
    }
    type = RegBinary;
    return true;
  }
  return false;
}
} // namespace

std::string RegistryFile() {
  const char *env = std::getenv("ZRK_REGISTRY");
  if (env != nullptr && *env != '\0')
    return env;
  return DriveRoot() + "/registry.txt";
}

long ReadMachineValue(std::string_view subkey, std::string_view valueName, std::uint32_t &type,
                      std::vector<std::uint8_t> &data) {
  try {
    std::ifstream in(RegistryFile(), std::ios::binary);
    if (!in)
      return StatusNotFound;
    const std::string_view wanted = WithoutBackslashes(subkey);
    std::string line;
    while (std::getline(in, line)) {
      if (!line.empty() && line.back() == '\r')
        line.pop_back();
      const std::size_t a = line.find('|');
      const std::size_t b = a == std::string::npos ? a : line.find('|', a + 1);
      const std::size_t c = b == std::string::npos ? b : line.find('|', b + 1);
      if (c == std::string::npos)
        continue;
      const std::string_view view(line);
      if (!SameAsciiCaseless(WithoutBackslashes(view.substr(0, a)), wanted) ||
          !SameAsciiCaseless(view.substr(a + 1, b - a - 1), valueName))
        continue;
      return Decode(view.substr(b + 1, c - b - 1), view.substr(c + 1), type, data)
                 ? StatusSuccess
                 : StatusInvalidData;
    }
    return StatusNotFound;
  } catch (...) {
    return 8; // ERROR_NOT_ENOUGH_MEMORY
  }
}

} // namespace platform
