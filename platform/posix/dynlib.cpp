// POSIX run-time loading: a Windows library name becomes a shared object in
// the program's own folder ("DUNZIP32.DLL" -> "libdunzip32.so").
#include <dlfcn.h>

#include <cstdint>
#include <string>

#include "platform/dynlib.h"
#include "platform/files.h"
#include "platform/internal.h"

namespace platform {

namespace {
std::string SharedObjectName(std::string_view name) {
  std::string base(name);
  const std::size_t cut = base.find_last_of("\\/");
  if (cut != std::string::npos)
    base = base.substr(cut + 1);
  const std::size_t dot = base.rfind('.');
  if (dot != std::string::npos && dot > 0)
    base = base.substr(0, dot);
  for (char &c : base)
    if (c >= 'A' && c <= 'Z')
      c = static_cast<char>(c - 'A' + 'a');
  // Without the program's own path there is no safe place to look.
  const std::string program = NativePath(ExecutablePath());
  const std::size_t slash = program.find_last_of('/');
  if (program.empty() || slash == std::string::npos)
    return std::string();
  return detail::LibraryPath(program.substr(0, slash + 1), "lib" + base + ".so");
}
} // namespace

void *LoadDynamicLibrary(std::string_view name) {
  try {
    const std::string path = SharedObjectName(name);
    void *library = path.empty() ? nullptr : dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    // dlopen says why only in text: a file that is there but cannot be
    // loaded is reported as Windows reports a DLL of the wrong kind.
    std::uint32_t attributes = 0;
    detail::SetError(library != nullptr                                 ? ErrorSuccess
                     : !path.empty() && GetAttributes(path, attributes) ? ErrorBadExeFormat
                                                                        : ErrorModNotFound);
    return library;
  } catch (...) {
    detail::SetError(ErrorNotEnoughMemory);
    return nullptr;
  }
}

void *FindSymbol(void *library, const char *name) {
  if (library == nullptr || name == nullptr)
    return nullptr;
  void *symbol = dlsym(library, name);
  detail::SetError(symbol != nullptr ? ErrorSuccess : ErrorProcNotFound);
  return symbol;
}

void FreeDynamicLibrary(void *library) {
  if (library != nullptr)
    dlclose(library);
}

} // namespace platform
