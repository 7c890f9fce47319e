// Windows run-time loading of a library by name.
#include <windows.h>

#include <string>

#include "platform/dynlib.h"

namespace platform {

void *LoadDynamicLibrary(std::string_view name) {
  try {
    const std::string file(name);
    return reinterpret_cast<void *>(LoadLibraryA(file.c_str()));
  } catch (...) {
    return nullptr;
  }
}

void *FindSymbol(void *library, const char *name) {
  if (library == nullptr || name == nullptr)
    return nullptr;
  return reinterpret_cast<void *>(GetProcAddress(static_cast<HMODULE>(library), name));
}

void FreeDynamicLibrary(void *library) {
  if (library != nullptr)
    FreeLibrary(static_cast<HMODULE>(library));
}

} // namespace platform
