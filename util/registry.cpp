// The program's only registry use: the "ProgPath" value of the host's App
// Paths key, read below HKEY_LOCAL_MACHINE. Every failure to read becomes the
// default text (or the empty text).
#include "util/registry.h"

#include <vector>

#include "platform/files.h"
#include "platform/registry.h"
#include "util/byte_order.h"
#include "util/text.h"

namespace util {

namespace {

constexpr long StatusSuccess = 0;
constexpr long StatusMoreData = 234;
constexpr std::size_t MaxNameChars = 80;
constexpr std::size_t MaxBinaryBytes = 127;

constexpr const char *HostAppPathsKey =
    "Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\KastTools.exe";
constexpr const char *HostProgPathValue = "ProgPath";

} // namespace

TStRegIni::TStRegIni(std::string_view rootName)
    : MachineRoot(UpperCaseGerman(rootName) == "MACHINE") {
}

TRegConversion ConvertRegistryData(std::uint32_t type, const std::uint8_t *data, std::size_t size,
                                   TShortString &text) {
  text = TShortString();
  switch (type) {
  case platform::RegSz:
  case platform::RegExpandSz: {
    std::size_t length = 0;
    while (length < size && data[length] != 0)
      ++length;
    text = TShortString(std::string_view(reinterpret_cast<const char *>(data), length));
    return TRegConversion::Converted;
  }
  case platform::RegDword: {
    // Fewer than four bytes are no DWORD; reading them as one would run past
    // the data.
    if (size < 4)
      return TRegConversion::UseDefault;
    std::uint32_t value = GetU32(data, 0);
    text = TShortString(std::to_string(value));
    return TRegConversion::Converted;
  }
  case platform::RegBinary: {
    if (size > MaxBinaryBytes)
      return TRegConversion::Refused;
    static constexpr char digits[] = "0123456789ABCDEF";
    for (std::size_t i = 0; i < size; ++i)
      text.Append(digits[data[i] >> 4]).Append(digits[data[i] & 0x0F]);
    return TRegConversion::Converted;
  }
  default:
    return TRegConversion::UseDefault;
  }
}

TShortString ReadRegistryText(TStRegIni &registry, std::string_view valueName,
                              std::string_view defaultText) {
  valueName = valueName.substr(0, MaxNameChars);
  TShortString fallback(defaultText.substr(0, MaxNameChars));
  std::lock_guard<std::mutex> guard(registry.Lock());
  if (!registry.IsMachineRoot())
    return fallback;
  std::uint32_t type = 0;
  std::vector<std::uint8_t> data;
  long status = platform::ReadMachineValue(registry.GetCurrentSubKey(), valueName, type, data);
  if (status != StatusSuccess && status != StatusMoreData)
    return fallback;
  TShortString text;
  switch (ConvertRegistryData(type, data.data(), data.size(), text)) {
  case TRegConversion::Converted:
    return text;
  case TRegConversion::UseDefault:
    return fallback;
  case TRegConversion::Refused:
    return TShortString();
  }
  return fallback;
}

TShortString FindHostProgramFolder() {
  TStRegIni registry("MACHINE");
  registry.SetCurrentSubKey(HostAppPathsKey);
  TShortString text = ReadRegistryText(registry, HostProgPathValue, "");
  // Only a missing value falls back; one of blanks only ends up empty below.
  if (text.Empty())
    text = ExtractFolder(platform::ExecutablePath());
  return RemoveBackslash(TrimText(text));
}

} // namespace util
