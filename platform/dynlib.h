// Loading a library at run time, only ever from the program's own folder: a
// bare name is joined to the folder of the running executable, so that a
// library of the same name in the current folder or on the search path is
// never taken instead. On POSIX a Windows name such as "DUNZIP32.DLL" maps to
// "lib" + lower-case base name + ".so" ("libdunzip32.so").
#pragma once

#include <string_view>

namespace platform {

// Null when the library or the program's own path cannot be found; LastError()
// then says why: 126 not found, 193 not a library of this kind. FindSymbol
// sets 127 for an entry point that is missing. With `folder` given the
// library is taken from there instead (a support tool looking at the
// library beside another program).
void *LoadDynamicLibrary(std::string_view name, std::string_view folder = {});
void *FindSymbol(void *library, const char *name);
void FreeDynamicLibrary(void *library);

} // namespace platform
