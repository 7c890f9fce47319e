// Windows side of the platform seam: recording errors right where a call
// failed.
#pragma once

#include <windows.h>

#include "platform/fault.h"
#include "platform/internal.h"

namespace platform::win32 {

// Takes GetLastError() of the call that has just failed and returns false.
inline bool FailLast() {
  detail::SetError(static_cast<int>(GetLastError()));
  return false;
}

inline bool Fail(int error) {
  detail::SetError(error);
  return false;
}

inline bool Succeed() {
  detail::SetError(0);
  return true;
}

} // namespace platform::win32
