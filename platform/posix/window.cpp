// POSIX stand-ins for the window manager: no host windows exist, and a
// message box is a text on standard output.
#include <cstdio>
#include <map>
#include <mutex>
#include <string>
#include <unistd.h>

#include "platform/internal.h"
#include "platform/window.h"

namespace platform {

namespace {
std::mutex NamesLock;
std::map<std::string, std::uint32_t> Names;

// Windows-1252 0x80..0x9F; the five unassigned bytes keep their C1 code point.
constexpr std::uint16_t HighControls[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

std::string Utf8FromAnsi(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 8);
  for (char ch : text) {
    const auto b = static_cast<unsigned char>(ch);
    std::uint32_t cp = b;
    if (b >= 0x80 && b <= 0x9F)
      cp = HighControls[b - 0x80];
    if (cp < 0x80) {
      out += static_cast<char>(cp);
    } else if (cp < 0x800) {
      out += static_cast<char>(0xC0 | (cp >> 6));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      out += static_cast<char>(0xE0 | (cp >> 12));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    }
  }
  return out;
}
} // namespace

THandle FindTopWindow(const char *, const char *) {
  return 0;
}

bool PostMessageTo(THandle, std::uint32_t, std::uintptr_t, std::intptr_t) {
  return false;
}

std::uint32_t RegisterMessageName(const char *name) {
  if (name == nullptr || *name == '\0')
    return 0;
  std::string key(name);
  // Windows compares message names ignoring case.
  for (char &c : key)
    if (c >= 'a' && c <= 'z')
      c = static_cast<char>(c - 'a' + 'A');
  std::lock_guard<std::mutex> guard(NamesLock);
  auto it = Names.find(key);
  if (it != Names.end())
    return it->second;
  const auto id = static_cast<std::uint32_t>(0xC000 + Names.size());
  Names.emplace(key, id);
  return id;
}

void Beep(std::uint32_t) {
}

int ShowMessageBox(THandle owner, std::string_view text, std::string_view caption,
                   std::uint32_t style) {
  try {
    int result = 0;
    if (detail::RunMessageBoxHook(owner, text, caption, style, result))
      return result;
    std::printf("[%s]\n%s\n", Utf8FromAnsi(caption).c_str(), Utf8FromAnsi(text).c_str());
    std::fflush(stdout);
    if (isatty(STDIN_FILENO)) {
      int c;
      do
        c = std::getchar();
      while (c != '\n' && c != EOF);
    }
  } catch (...) {
  }
  const std::uint32_t buttons = style & 0x0F;
  return (buttons == MbYesNo || buttons == 0x03) ? IdYes : IdOk;
}

void ProcessPendingMessages() {
}

} // namespace platform
