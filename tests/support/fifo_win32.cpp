// FIFOs under Wine: Windows has no FIFOs in its file system, but a Unix FIFO
// below a Wine drive is what a careless set-up can hand the program. Wine
// runs a Unix program started like a Windows one, though it hands back no
// exit code and may not wait for it: the listing tells when it is done. The
// Windows calls can neither delete a FIFO nor see its attributes.
#include <windows.h>

#include <process.h>

#include <string>

#include "tests/support/test_support.h"

namespace testing_support {

namespace {

bool Listed(const std::string &path) {
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA(path.c_str(), &found);
  if (search == INVALID_HANDLE_VALUE)
    return false;
  FindClose(search);
  return true;
}

// Runs /usr/bin/<tool> on the Unix name of `path` until the listing shows
// `listedWhenDone`.
bool RunOnUnixName(const char *tool, std::string_view path, bool listedWhenDone) {
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
  const std::string program = std::string("Z:\\usr\\bin\\") + tool;
  _spawnl(_P_WAIT, program.c_str(), tool, native.c_str(), nullptr);
  const std::string windowsName(path);
  for (int i = 0; i < 100; ++i) {
    if (Listed(windowsName) == listedWhenDone)
      return true;
    Sleep(50);
  }
  return false;
}

} // namespace

bool MakeFifo(std::string_view path) {
  return RunOnUnixName("mkfifo", path, true);
}

bool RemoveFifo(std::string_view path) {
  return RunOnUnixName("unlink", path, false);
}

} // namespace testing_support
