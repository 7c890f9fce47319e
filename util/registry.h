// Read-only registry lookup of the host program's folder: the accessor for a
// root key and subkey, the typed value read as text, and the fall-back to the
// folder of the running program.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

#include "util/short_string.h"

namespace util {

class TStRegIni {
public:
  // `rootName` selects the root key; only "MACHINE" (any case) is readable.
  explicit TStRegIni(std::string_view rootName);
  TStRegIni(const TStRegIni &) = delete;
  TStRegIni &operator=(const TStRegIni &) = delete;

  [[nodiscard]] bool IsMachineRoot() const { return MachineRoot; }
  void SetCurrentSubKey(std::string_view subKey) { CurrentSubKey = std::string(subKey); }
  const std::string &GetCurrentSubKey() const { return CurrentSubKey; }
  std::mutex &Lock() { return Mutex; }

private:
  bool MachineRoot = false;
  std::string CurrentSubKey;
  std::mutex Mutex;
};

enum class TRegConversion {
  Converted, // `text` holds the value
  UseDefault,
  Refused, // the whole read ends with the empty text
};

// Turns a value's raw data into text by its registry type.
TRegConversion ConvertRegistryData(std::uint32_t type, const std::uint8_t *data, std::size_t size,
                                   TShortString &text);

TShortString ReadRegistryText(TStRegIni &registry, std::string_view valueName,
                              std::string_view defaultText);

// The host's program folder as registered by its installation, else the
// folder of the running program; no trailing backslash except on a drive root.
TShortString FindHostProgramFolder();

} // namespace util
