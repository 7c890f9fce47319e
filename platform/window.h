// The window-manager operations the program uses to talk to the host and to
// the user. On POSIX there are no host windows: finds find nothing, posts
// go nowhere, and message boxes print to standard output (a hook lets tests
// take them over on every platform).
#pragma once

#include <cstdint>
#include <functional>
#include <string_view>

namespace platform {

using THandle = std::uintptr_t;

constexpr std::uint32_t WmClose = 0x0010;

constexpr std::uint32_t MbOk = 0x00;
constexpr std::uint32_t MbYesNo = 0x04;
constexpr std::uint32_t MbIconHand = 0x10;
constexpr std::uint32_t MbIconQuestion = 0x20;
constexpr std::uint32_t MbIconExclamation = 0x30;
constexpr std::uint32_t MbIconInformation = 0x40;
constexpr std::uint32_t MbDefButton2 = 0x100;
constexpr int IdOk = 1;
constexpr int IdYes = 6;
constexpr int IdNo = 7;

// Top-level window of this class and, unless `title` is null, this title.
THandle FindTopWindow(const char *className, const char *title);
[[nodiscard]] bool PostMessageTo(THandle window, std::uint32_t message, std::uintptr_t wParam,
                                 std::intptr_t lParam);
std::uint32_t RegisterMessageName(const char *name);
void Beep(std::uint32_t type);
// Texts are Windows-1252. Returns the button identifier.
int ShowMessageBox(THandle owner, std::string_view text, std::string_view caption,
                   std::uint32_t style);
// Dispatches every pending message of this thread and returns.
void ProcessPendingMessages();
// Returns when a message arrives for this thread or `milliseconds` have
// passed, whichever comes first; dispatches nothing.
void WaitForMessage(std::uint32_t milliseconds);

// The program's own application window: hidden, made on the first call and
// kept until the process ends. 0 where there are no windows.
THandle ApplicationWindow();

// Replaces ShowMessageBox (and the beep stays) while set; tests use it.
using TMessageBoxHook = std::function<int(THandle owner, std::string_view text,
                                          std::string_view caption, std::uint32_t style)>;
void SetMessageBoxHook(TMessageBoxHook hook);

} // namespace platform
