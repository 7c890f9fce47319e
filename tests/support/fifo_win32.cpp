// MakeFifo under Wine: Windows has no FIFOs in its file system, but a Unix
// FIFO below a Wine drive is what a careless set-up can hand the program.
// Wine runs a Unix program started like a Windows one.
#include <windows.h>

#include <process.h>

#include <string>

#include "tests/support/test_support.h"

namespace testing_support {

bool MakeFifo(std::string_view path) {
  using TUnixName = char *(CDECL *)(LPCWSTR);
  auto unixName = reinterpret_cast<TUnixName>(reinterpret_cast<void (*)()>(
      GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
  if (unixName == nullptr)
    return false;
  std::wstring wide(path.begin(), path.end());
  char *name = unixName(wide.c_str());
  if (name == nullptr)
    return false;
  std::string native(name);
  HeapFree(GetProcessHeap(), 0, name);
  const intptr_t code = _spawnl(_P_WAIT, "Z:\\usr\\bin\\mkfifo", "mkfifo", native.c_str(), nullptr);
  return code == 0;
}

} // namespace testing_support
