// Windows side of the single-instance claim: a named mutex, whose existence
// (not ownership) is the claim; it goes when the last handle closes, also
// when the process ends abruptly.
#include <windows.h>

#include <string>

#include "platform/instance.h"

namespace platform {

std::string LockFolder() {
  return std::string();
}

void SetLockFolder(std::string_view) {
}

bool TSingleInstance::Acquire(std::string_view name) {
  if (Held())
    return true;
  try {
    const std::string text(name);
    HANDLE mutex = CreateMutexA(nullptr, FALSE, text.c_str());
    const DWORD error = GetLastError();
    if (mutex == nullptr)
      // Access denied: the mutex exists, made by a copy under another account.
      return error != ERROR_ACCESS_DENIED;
    if (error == ERROR_ALREADY_EXISTS) {
      CloseHandle(mutex);
      return false;
    }
    Handle = reinterpret_cast<std::intptr_t>(mutex);
    return true;
  } catch (...) {
    return true;
  }
}

} // namespace platform
