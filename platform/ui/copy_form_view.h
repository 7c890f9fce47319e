// What the update dialog shows, as an interface: the run sequence talks to
// this, and a real window (Windows), a terminal (POSIX) or a recorder (tests)
// draws it. All calls come from the user-interface thread.
#pragma once

#include <cstdint>
#include <functional>
#include <string_view>

#include "platform/window.h"

namespace platform {

class TCopyFormView {
public:
  virtual ~TCopyFormView() = default;

  // Texts are Windows-1252.
  virtual void SetCaption(std::string_view text) = 0;
  virtual void SetGroupCaption(std::string_view text) = 0; // Gruppe1
  virtual void SetPackageText(std::string_view text) = 0;  // SPaket
  virtual void SetFileText(std::string_view text) = 0;     // SDatei
  virtual void SetMeter1(int position) = 0;                // 0..100
  virtual void SetMeter2(int position) = 0;                // 0..100
  virtual void RepaintGroup() = 0;
  virtual void ProcessMessages() = 0;
  // A modal message box owned by the dialog; returns the button identifier.
  virtual int ShowMessage(std::string_view text, std::string_view caption, std::uint32_t style) = 0;
  // Window handle used as the owner of boxes and the target of WM_CLOSE.
  virtual platform::THandle Handle() const = 0;

  // Shows the dialog and runs its modal loop. `onActivate` runs when the
  // dialog becomes active (possibly more than once), `onTimer` when the armed
  // one-shot timer fires. The loop ends when Close() is called or the window
  // receives WM_CLOSE.
  virtual void RunModal(std::function<void()> onActivate, std::function<void()> onTimer) = 0;
  virtual void ArmTimer(unsigned milliseconds) = 0;
  virtual void DisarmTimer() = 0;
  // Posts WM_CLOSE to the dialog's own window (both parameters 0).
  virtual void PostClose() = 0;
};

} // namespace platform
