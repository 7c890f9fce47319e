// Entry name decoding and cleaning. Cleaning refuses rather than repairs: a
// name that tries to leave the destination folder or cannot be a Windows file
// name means the archive is not one to unpack.
#include "dunzip/entry_name.h"

#include "dunzip/cp437.h"
#include "platform/codepage.h"

namespace dunzip {

namespace {

bool IsSeparator(char c) {
  return c == '/' || c == '\\';
}

bool IsForbidden(char c) {
  auto byte = static_cast<unsigned char>(c);
  if (byte < 0x20)
    return true;
  switch (c) {
  case '<':
  case '>':
  case ':':
  case '"':
  case '/':
  case '\\':
  case '|':
  case '?':
  case '*':
    return true;
  default:
    return false;
  }
}

// Windows opens the device for these names, with any extension.
bool IsDeviceName(std::string_view part) {
  std::string base;
  for (char c : part) {
    if (c == '.')
      break;
    base.push_back(platform::UpperAscii(c));
  }
  while (!base.empty() && base.back() == ' ')
    base.pop_back();
  static const char *const Devices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$", "CLOCK$"};
  for (const char *device : Devices)
    if (base == device)
      return true;
  return base.size() == 4 && (base.compare(0, 3, "COM") == 0 || base.compare(0, 3, "LPT") == 0) &&
         base[3] >= '1' && base[3] <= '9';
}

bool PartAllowed(std::string_view part) {
  if (part == "..")
    return false;
  for (char c : part)
    if (IsForbidden(c))
      return false;
  if (part.back() == '.' || part.back() == ' ')
    return false;
  return !IsDeviceName(part);
}

// Well-formed UTF-8 holding at least one non-ASCII character: shortest
// forms, no surrogates, nothing above U+10FFFF.
bool IsUtf8BeyondAscii(std::string_view raw) {
  bool beyondAscii = false;
  for (std::size_t i = 0; i < raw.size();) {
    const auto lead = static_cast<unsigned char>(raw[i]);
    if (lead < 0x80) {
      ++i;
      continue;
    }
    beyondAscii = true;
    const std::size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
    if (lead < 0xC2 || lead > 0xF4 || raw.size() - i < length)
      return false;
    char32_t cp = lead & (0x7F >> length);
    for (std::size_t k = 1; k < length; ++k) {
      const auto next = static_cast<unsigned char>(raw[i + k]);
      if ((next & 0xC0) != 0x80)
        return false;
      cp = (cp << 6) | (next & 0x3F);
    }
    static constexpr char32_t Shortest[5] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < Shortest[length] || (cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF)
      return false;
    i += length;
  }
  return beyondAscii;
}

} // namespace

bool DecodeEntryName(const TZipEntry &entry, std::string &name) {
  if (entry.HasUnicodeName)
    return Utf8ToWindows1252(entry.UnicodeName, name);
  if ((entry.Flags & FlagUtf8Name) != 0)
    return Utf8ToWindows1252(entry.RawName, name);
  // Info-ZIP zip on Linux, bsdtar outside a UTF-8 locale and others on Unix
  // store UTF-8 names without setting the flag. Windows' own compressed
  // folders write code page 437, whose German letters can make well-formed
  // UTF-8 too (E1 84 81 is sharp s, a and u umlaut): the guess is made only
  // for archives made on Unix or macOS, and a reading that Windows-1252
  // cannot hold falls back to code page 437.
  if (entry.MadeOnUnix() && IsUtf8BeyondAscii(entry.RawName) &&
      Utf8ToWindows1252(entry.RawName, name))
    return true;
  return Cp437ToWindows1252(entry.RawName, name);
}

bool IsCurrentFolderItem(std::string_view name) {
  bool dot = false;
  for (std::size_t i = 0; i < name.size(); ++i) {
    if (IsSeparator(name[i]))
      continue;
    if (name[i] != '.' || (i + 1 < name.size() && !IsSeparator(name[i + 1])))
      return false;
    dot = true;
  }
  return dot;
}

bool CleanEntryName(std::string_view name, TCleanName &clean) {
  clean = TCleanName{};
  if (name.empty() || IsSeparator(name.front()))
    return false;
  while (!name.empty() && IsSeparator(name.back()))
    name.remove_suffix(1);
  std::vector<std::string_view> parts;
  std::size_t start = 0;
  for (std::size_t i = 0; i <= name.size(); ++i) {
    if (i < name.size() && !IsSeparator(name[i]))
      continue;
    parts.push_back(name.substr(start, i - start));
    start = i + 1;
  }
  std::string_view last = parts.back();
  parts.pop_back();
  if (last.empty() || last == "." || !PartAllowed(last))
    return false;
  for (std::string_view part : parts) {
    if (part.empty() || part == ".")
      continue;
    if (!PartAllowed(part))
      return false;
    clean.Folders.emplace_back(part);
  }
  clean.Name = std::string(last);
  return true;
}

} // namespace dunzip
