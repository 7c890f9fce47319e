// Windows window-manager calls: finding and posting to the host's windows,
// registered messages, beeps, message boxes and the pending-message loop.
#include <windows.h>

#include <string>

#include "platform/internal.h"
#include "platform/window.h"

namespace platform {

THandle FindTopWindow(const char *className, const char *title) {
  return reinterpret_cast<THandle>(FindWindowA(className, title));
}

bool PostMessageTo(THandle window, std::uint32_t message, std::uintptr_t wParam,
                   std::intptr_t lParam) {
  if (PostMessageA(reinterpret_cast<HWND>(window), message, wParam, lParam))
    return true;
  detail::SetError(static_cast<int>(GetLastError()));
  return false;
}

std::uint32_t RegisterMessageName(const char *name) {
  return RegisterWindowMessageA(name);
}

void Beep(std::uint32_t type) {
  MessageBeep(type);
}

int detail::ShowMessageBoxNative(THandle owner, std::string_view text, std::string_view caption,
                                 std::uint32_t style) {
  try {
    const std::string body(text), title(caption);
    return MessageBoxA(reinterpret_cast<HWND>(owner), body.c_str(), title.c_str(), style);
  } catch (...) {
    return 0;
  }
}

void WaitForMessage(std::uint32_t milliseconds) {
  MsgWaitForMultipleObjects(0, nullptr, FALSE, milliseconds, QS_ALLINPUT);
}

THandle ApplicationWindow() {
  static const THandle window = [] {
    constexpr const char *className = "TApplication";
    HINSTANCE instance = GetModuleHandleA(nullptr);
    WNDCLASSA wc{};
    if (!GetClassInfoA(instance, className, &wc)) {
      wc.lpfnWndProc = DefWindowProcA;
      wc.hInstance = instance;
      wc.lpszClassName = className;
      if (RegisterClassA(&wc) == 0)
        return THandle{0};
    }
    // Never shown: it only stands for the program towards the host.
    return reinterpret_cast<THandle>(CreateWindowExA(0, className, "zrkupd", WS_POPUP, 0, 0, 0, 0,
                                                     nullptr, nullptr, instance, nullptr));
  }();
  return window;
}

void ProcessPendingMessages() {
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      // Leave the quit request for the loop that owns it.
      PostQuitMessage(static_cast<int>(msg.wParam));
      return;
    }
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
}

} // namespace platform
