// Loading a library by name at run time. On POSIX a Windows name such as
// "DUNZIP32.DLL" maps to "lib" + lower-case base name + ".so" in the
// program's own folder ("libdunzip32.so").
#pragma once

#include <string_view>

namespace platform {

void *LoadDynamicLibrary(std::string_view name);
void *FindSymbol(void *library, const char *name);
void FreeDynamicLibrary(void *library);

} // namespace platform
