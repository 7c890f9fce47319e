// Windows run-time loading of a library from the program's own folder.
#include <windows.h>

#include <string>

#include "platform/dynlib.h"
#include "platform/files.h"
#include "platform/internal.h"
#include "platform/path_parts.h"

namespace platform {

namespace {

// Search flags of newer systems (KB2533623 and later): the library's own
// folder and System32 only, for the library's imports as well.
constexpr DWORD SearchDllLoadDir = 0x00000100;
constexpr DWORD SearchSystem32 = 0x00000800;

} // namespace

void *detail::LoadDynamicLibraryNative(std::string_view name, std::string_view in) {
  const std::string_view base = NamePart(name, "\\/:");
  const std::string program = ExecutablePath();
  const std::string_view folder = FolderPart(program, "\\");
  if (base.empty() || (in.empty() && folder.empty())) {
    detail::SetError(ErrorModNotFound);
    return nullptr;
  }
  const std::string path =
      in.empty() ? detail::LibraryPath(folder, base) : std::string(in) + "\\" + std::string(base);
  HMODULE module = LoadLibraryExA(path.c_str(), nullptr, SearchDllLoadDir | SearchSystem32);
  // Older systems refuse those flags; there the library's folder comes
  // first for its imports, before the current folder.
  if (module == nullptr && GetLastError() == ERROR_INVALID_PARAMETER)
    module = LoadLibraryExA(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  detail::SetError(module != nullptr ? ErrorSuccess : static_cast<int>(GetLastError()));
  return reinterpret_cast<void *>(module);
}

void *detail::FindSymbolNative(void *library, const char *name) {
  FARPROC symbol = GetProcAddress(static_cast<HMODULE>(library), name);
  detail::SetError(symbol != nullptr ? ErrorSuccess : static_cast<int>(GetLastError()));
  return reinterpret_cast<void *>(symbol);
}

void detail::FreeDynamicLibraryNative(void *library) {
  FreeLibrary(static_cast<HMODULE>(library));
}

} // namespace platform
