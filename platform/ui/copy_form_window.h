// The update dialog's window: a real Win32 window on Windows, a terminal
// display on POSIX. The class name and control identifiers stay fixed so
// that tools and tests can find the window and read its controls back.
#pragma once

#include <memory>

#include "platform/ui/copy_form_view.h"

namespace platform {

constexpr const char *CopyFormWindowClass = "TCopyForm";

// Control identifiers of the dialog window's children.
enum TCopyFormControlId : int {
  IdGruppe1 = 100,
  IdLabel1 = 101,
  IdLabel2 = 102,
  IdLabel3 = 103,
  IdSPaket = 104,
  IdSDatei = 105,
  IdMeter1 = 106,
  IdMeter2 = 107,
};

// Null only when the window cannot be created; `error` then holds the
// system's error of the call that failed.
std::unique_ptr<TCopyFormView> CreateCopyFormView(int &error);

} // namespace platform
