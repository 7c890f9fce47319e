// POSIX stand-ins for the window manager: no host windows exist, and a
// message box is a text on standard output.
#include <chrono>
#include <cstdio>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <unistd.h>

#include "platform/codepage.h"
#include "platform/internal.h"
#include "platform/window.h"

namespace platform {

namespace {
std::mutex NamesLock;
std::map<std::string, std::uint32_t> Names;
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
    c = UpperAscii(c);
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

int detail::ShowMessageBoxNative(THandle, std::string_view text, std::string_view caption,
                                 std::uint32_t style) {
  try {
    std::printf("[%s]\n%s\n", Cp1252ToUtf8(caption, TUnassigned::AsC1Controls).c_str(),
                Cp1252ToUtf8(text, TUnassigned::AsC1Controls).c_str());
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

void WaitForMessage(std::uint32_t milliseconds) {
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

THandle ApplicationWindow() {
  return 0;
}

} // namespace platform
