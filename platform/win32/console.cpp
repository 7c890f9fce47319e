// Windows console: the wide command line converted to UTF-8, binary standard
// streams and a UTF-8 console output code page.
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <shellapi.h>

#include <cstdio>
#include <string>

#include "platform/console.h"

namespace platform {

namespace {

// `text` in `codePage`, without the terminator; false when nothing converts.
bool NarrowOf(const wchar_t *text, UINT codePage, std::string &out) {
  const int size = WideCharToMultiByte(codePage, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (size <= 1)
    return false;
  out.assign(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(codePage, 0, text, -1, out.data(), size, nullptr, nullptr);
  out.pop_back();
  return true;
}

// `text` (in `codePage`) as UTF-16 with its terminator; false when nothing converts.
bool WideOf(const std::string &text, UINT codePage, std::wstring &wide) {
  const int size = MultiByteToWideChar(codePage, 0, text.c_str(), -1, nullptr, 0);
  if (size <= 1)
    return false;
  wide.assign(static_cast<std::size_t>(size), L'\0');
  MultiByteToWideChar(codePage, 0, text.c_str(), -1, wide.data(), size);
  return true;
}

std::string Utf8Of(const wchar_t *text) {
  std::string out;
  return NarrowOf(text, CP_UTF8, out) ? out : std::string();
}

} // namespace

std::vector<std::string> ToolArguments(int argc, char **argv) {
  int count = 0;
  LPWSTR *wide = CommandLineToArgvW(GetCommandLineW(), &count);
  std::vector<std::string> args;
  if (wide == nullptr) {
    for (int i = 1; i < argc; ++i)
      args.emplace_back(argv[i] != nullptr ? argv[i] : "");
    return args;
  }
  for (int i = 1; i < count; ++i)
    args.push_back(Utf8Of(wide[i]));
  LocalFree(wide);
  return args;
}

std::string ToolPath(const std::string &utf8) {
  std::wstring wide;
  std::string out;
  if (!WideOf(utf8, CP_UTF8, wide) || !NarrowOf(wide.c_str(), CP_ACP, out))
    return utf8;
  return out;
}

std::string ToolPathText(const std::string &path) {
  std::wstring wide;
  if (!WideOf(path, CP_ACP, wide))
    return path;
  return Utf8Of(wide.c_str());
}

bool StandardErrorIsTerminal() {
  return GetFileType(GetStdHandle(STD_ERROR_HANDLE)) == FILE_TYPE_CHAR;
}

void PrepareToolConsole() {
  _setmode(_fileno(stdin), _O_BINARY);
  _setmode(_fileno(stdout), _O_BINARY);
  SetConsoleOutputCP(CP_UTF8);
}

} // namespace platform
