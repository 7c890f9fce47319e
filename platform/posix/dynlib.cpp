// POSIX run-time loading: a Windows library name becomes a shared object in
// the program's own folder ("DUNZIP32.DLL" -> "libdunzip32.so").
#include <dlfcn.h>

#include <cstdint>
#include <string>

#include "platform/codepage.h"
#include "platform/dynlib.h"
#include "platform/files.h"
#include "platform/internal.h"
#include "platform/path_parts.h"

namespace platform {

namespace {
std::string SharedObjectName(std::string_view name, std::string_view in) {
  std::string base(NamePart(name, "\\/"));
  const std::size_t dot = base.rfind('.');
  if (dot != std::string::npos && dot > 0)
    base = base.substr(0, dot);
  for (char &c : base)
    c = LowerAscii(c);
  if (!in.empty())
    return NativePath(std::string(in)) + "/lib" + base + ".so";
  // Without the program's own path there is no safe place to look.
  const std::string program = NativePath(ExecutablePath());
  const std::string_view folder = FolderPart(program, "/");
  if (folder.empty())
    return std::string();
  return detail::LibraryPath(folder, "lib" + base + ".so");
}
} // namespace

void *detail::LoadDynamicLibraryNative(std::string_view name, std::string_view in) {
  const std::string path = SharedObjectName(name, in);
  void *library = path.empty() ? nullptr : dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  // dlopen says why only in text: a file that is there but cannot be
  // loaded is reported as Windows reports a DLL of the wrong kind.
  std::uint32_t attributes = 0;
  detail::SetError(library != nullptr                                 ? ErrorSuccess
                   : !path.empty() && GetAttributes(path, attributes) ? ErrorBadExeFormat
                                                                      : ErrorModNotFound);
  return library;
}

void *detail::FindSymbolNative(void *library, const char *name) {
  void *symbol = dlsym(library, name);
  detail::SetError(symbol != nullptr ? ErrorSuccess : ErrorProcNotFound);
  return symbol;
}

void detail::FreeDynamicLibraryNative(void *library) {
  dlclose(library);
}

} // namespace platform
