// Test host for the end-to-end tests (Windows only): plays the payments
// application around one zrkupd run and writes down what it saw as
// key=value lines.
//
//   test_host --result FILE [--exe ZRKUPD] [--cwd DIR] [--timer] [--decoy]
//             [--main-ms N] [--shot FILE.bmp] [--timeout MS] [--box-ms N]
//             [--progpath VALUE | --progpath-delete]
//             [--line-file FILE | -- ARGS...]
//
// --timer     a "TTimerForm" window titled "KastTimer" (WM_CLOSE is counted)
// --decoy     a "TTimerForm" window with another title (must stay untouched)
// --main-ms   a "TKastMainForm" window that goes after N ms (-1: never)
// --shot      a screenshot (BMP) while the first message box is up
// --box-ms    how long a message box stays up before it is answered (400;
//             the benchmarks answer at once)
// --line-file the program's command line behind its quoted name, byte for
//             byte as FILE holds it, instead of ARGS
// Without --exe only the registry options are carried out.
// Message boxes of the updater are recorded and answered with their first
// button; the dialog's geometry is read back when it first shows.
#include <windows.h>

#include <commctrl.h>
#include <psapi.h>
#include <shlwapi.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace {

constexpr const char *AppPathsKey =
    "Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\KastTools.exe";
constexpr int ControlIds[] = {100, 101, 102, 103, 104, 105, 106, 107};
constexpr DWORD BoxPressDelay = 400;
constexpr DWORD BoxMoveDelay = 150;
// A point of the dialog's client area that only its background covers.
constexpr int GroupInsideX = 200, GroupInsideY = 84;

struct TOptions {
  std::string Result, Exe, Cwd, Shot, ProgPath, LineFile;
  bool Timer = false, Decoy = false, ProgPathSet = false, ProgPathDelete = false;
  long MainMs = -2; // -2: no main window
  DWORD Timeout = 30000;
  DWORD BoxMs = BoxPressDelay;
  std::vector<std::string> Args;
};

std::vector<std::pair<std::string, std::string>> Out;

void Put(const std::string &key, const std::string &value) {
  Out.emplace_back(key, value);
}
void Put(const std::string &key, long long value) {
  Put(key, std::to_string(value));
}

std::string Escape(const std::string &text) {
  std::string out;
  for (unsigned char c : text) {
    if (c == '\\')
      out += "\\\\";
    else if (c == '\r')
      out += "\\r";
    else if (c == '\n')
      out += "\\n";
    else if (c < 0x20) {
      char buf[8];
      std::snprintf(buf, sizeof(buf), "\\x%02X", c);
      out += buf;
    } else
      out += static_cast<char>(c);
  }
  return out;
}

std::string Quote(const std::string &arg) {
  if (!arg.empty() && arg.find_first_of(" \t\"") == std::string::npos)
    return arg;
  std::string out = "\"";
  for (char c : arg) {
    if (c == '"')
      out += '\\';
    out += c;
  }
  return out + "\"";
}

std::string WindowText(HWND window) {
  char buf[1024] = {};
  GetWindowTextA(window, buf, sizeof(buf));
  return buf;
}

std::string ClassOf(HWND window) {
  char buf[256] = {};
  GetClassNameA(window, buf, sizeof(buf));
  return buf;
}

std::string Rect(const RECT &r) {
  return std::to_string(r.left) + "," + std::to_string(r.top) + "," +
         std::to_string(r.right - r.left) + "," + std::to_string(r.bottom - r.top);
}

// Counts WM_CLOSE per window; the host's forms close on it.
std::map<HWND, int> CloseCounts;

LRESULT CALLBACK HostWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_CLOSE) {
    ++CloseCounts[window];
    return 0;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

HWND MakeHostWindow(const char *className, const char *title) {
  WNDCLASSA wc{};
  if (!GetClassInfoA(GetModuleHandleA(nullptr), className, &wc)) {
    wc.lpfnWndProc = HostWindowProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = className;
    RegisterClassA(&wc);
  }
  return CreateWindowExA(0, className, title, WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr, nullptr,
                         GetModuleHandleA(nullptr), nullptr);
}

struct TFind {
  DWORD Pid;
  const char *ClassName;
  std::vector<HWND> Found;
};

BOOL CALLBACK CollectWindow(HWND window, LPARAM param) {
  auto *find = reinterpret_cast<TFind *>(param);
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  if (pid == find->Pid && IsWindowVisible(window) && ClassOf(window) == find->ClassName)
    find->Found.push_back(window);
  return TRUE;
}

std::vector<HWND> WindowsOf(DWORD pid, const char *className) {
  TFind find{pid, className, {}};
  EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&find));
  return find.Found;
}

LRESULT AskControl(HWND control, UINT message, WPARAM wParam) {
  DWORD_PTR result = 0;
  if (!SendMessageTimeoutA(control, message, wParam, 0, SMTO_ABORTIFHUNG, 2000, &result))
    return -1;
  return static_cast<LRESULT>(result);
}

void RecordDialog(HWND dialog) {
  RECT client{}, frame{};
  GetClientRect(dialog, &client);
  GetWindowRect(dialog, &frame);
  POINT origin{0, 0};
  ClientToScreen(dialog, &origin);
  Put("dialog.caption", Escape(WindowText(dialog)));
  Put("dialog.client", std::to_string(client.right) + "x" + std::to_string(client.bottom));
  Put("dialog.window", Rect(frame));
  Put("dialog.client_origin", std::to_string(origin.x) + "," + std::to_string(origin.y));
  Put("screen", std::to_string(GetSystemMetrics(SM_CXSCREEN)) + "x" +
                    std::to_string(GetSystemMetrics(SM_CYSCREEN)));
  LONG style = GetWindowLongA(dialog, GWL_STYLE);
  LONG exStyle = GetWindowLongA(dialog, GWL_EXSTYLE);
  Put("dialog.sysmenu", (style & WS_SYSMENU) != 0 ? 1 : 0);
  Put("dialog.caption_bar", (style & WS_CAPTION) == WS_CAPTION ? 1 : 0);
  Put("dialog.popup", (style & WS_POPUP) != 0 ? 1 : 0);
  Put("dialog.sizable", (style & WS_THICKFRAME) != 0 ? 1 : 0);
  Put("dialog.minmax", (style & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX)) != 0 ? 1 : 0);
  Put("dialog.topmost", (exStyle & WS_EX_TOPMOST) != 0 ? 1 : 0);
  Put("dialog.modalframe", (exStyle & WS_EX_DLGMODALFRAME) != 0 ? 1 : 0);

  HWND group = GetDlgItem(dialog, 100);
  RECT groupRect{};
  if (group != nullptr)
    GetWindowRect(group, &groupRect);
  for (int id : ControlIds) {
    HWND control = GetDlgItem(dialog, id);
    std::string key = "control." + std::to_string(id);
    if (control == nullptr) {
      Put(key + ".missing", 1);
      continue;
    }
    RECT r{};
    GetWindowRect(control, &r);
    RECT inClient = r;
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT *>(&inClient), 2);
    Put(key + ".class", ClassOf(control));
    Put(key + ".rect", Rect(inClient));
    Put(key + ".in_group",
        std::to_string(r.left - groupRect.left) + "," + std::to_string(r.top - groupRect.top));
    Put(key + ".text", Escape(WindowText(control)));
    Put(key + ".visible", IsWindowVisible(control) ? 1 : 0);
    if (ClassOf(control) == PROGRESS_CLASSA) {
      Put(key + ".range", std::to_string(AskControl(control, PBM_GETRANGE, TRUE)) + "," +
                              std::to_string(AskControl(control, PBM_GETRANGE, FALSE)));
      Put(key + ".pos", AskControl(control, PBM_GETPOS, 0));
    }
  }
}

bool SaveScreen(const std::string &path) {
  int width = GetSystemMetrics(SM_CXSCREEN);
  int height = GetSystemMetrics(SM_CYSCREEN);
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
  HGDIOBJ old = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, width, height, screen, 0, 0, SRCCOPY);
  SelectObject(memory, old);

  BITMAPINFOHEADER info{};
  info.biSize = sizeof(info);
  info.biWidth = width;
  info.biHeight = height;
  info.biPlanes = 1;
  info.biBitCount = 24;
  info.biCompression = BI_RGB;
  DWORD stride = ((static_cast<DWORD>(width) * 3 + 3) / 4) * 4;
  std::vector<unsigned char> pixels(stride * static_cast<DWORD>(height));
  int lines = GetDIBits(memory, bitmap, 0, static_cast<UINT>(height), pixels.data(),
                        reinterpret_cast<BITMAPINFO *>(&info), DIB_RGB_COLORS);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  if (lines != height)
    return false;

  BITMAPFILEHEADER file{};
  file.bfType = 0x4D42;
  file.bfOffBits = sizeof(file) + sizeof(info);
  file.bfSize = file.bfOffBits + static_cast<DWORD>(pixels.size());
  FILE *f = std::fopen(path.c_str(), "wb");
  if (f == nullptr)
    return false;
  bool ok = std::fwrite(&file, sizeof(file), 1, f) == 1 &&
            std::fwrite(&info, sizeof(info), 1, f) == 1 &&
            std::fwrite(pixels.data(), 1, pixels.size(), f) == pixels.size();
  return std::fclose(f) == 0 && ok;
}

void PumpMessages() {
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
}

bool ParseOptions(int argc, char **argv, TOptions &o) {
  std::string mainMs, boxMs, timeout;
  const std::pair<const char *, std::string *> texts[] = {{"--result", &o.Result},
                                                          {"--exe", &o.Exe},
                                                          {"--cwd", &o.Cwd},
                                                          {"--shot", &o.Shot},
                                                          {"--line-file", &o.LineFile},
                                                          {"--progpath", &o.ProgPath},
                                                          {"--main-ms", &mainMs},
                                                          {"--box-ms", &boxMs},
                                                          {"--timeout", &timeout}};
  const std::pair<const char *, bool *> flags[] = {{"--timer", &o.Timer},
                                                   {"--decoy", &o.Decoy},
                                                   {"--progpath", &o.ProgPathSet},
                                                   {"--progpath-delete", &o.ProgPathDelete}};
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--") {
      o.Args.assign(argv + i + 1, argv + argc);
      break;
    }
    bool known = false;
    for (const auto &[name, flag] : flags)
      if (a == name)
        *flag = known = true;
    for (const auto &[name, text] : texts)
      if (a == name) {
        if (i + 1 >= argc)
          return false;
        *text = argv[++i];
        known = true;
      }
    if (!known)
      return false;
  }
  if (!mainMs.empty())
    o.MainMs = std::atol(mainMs.c_str());
  if (!boxMs.empty())
    o.BoxMs = static_cast<DWORD>(std::atol(boxMs.c_str()));
  if (!timeout.empty())
    o.Timeout = static_cast<DWORD>(std::atol(timeout.c_str()));
  return !o.Result.empty();
}

void SetProgPath(const TOptions &o) {
  if (!o.ProgPathSet && !o.ProgPathDelete)
    return;
  HKEY key = nullptr;
  LONG status = RegCreateKeyExA(HKEY_LOCAL_MACHINE, AppPathsKey, 0, nullptr, 0, KEY_ALL_ACCESS,
                                nullptr, &key, nullptr);
  if (status == ERROR_SUCCESS) {
    if (o.ProgPathSet)
      status = RegSetValueExA(key, "ProgPath", 0, REG_SZ,
                              reinterpret_cast<const BYTE *>(o.ProgPath.c_str()),
                              static_cast<DWORD>(o.ProgPath.size() + 1));
    else
      RegDeleteValueA(key, "ProgPath");
    RegCloseKey(key);
  }
  Put("progpath_status", status);
}

// Major version (DllGetVersion) of the comctl32 that process `process` has
// loaded, found by its path and loaded here too, 0 when there is none; its
// path goes into the result.
long LoadedComctlMajor(HANDLE process) {
  HMODULE modules[512];
  DWORD needed = 0;
  if (!EnumProcessModules(process, modules, sizeof(modules), &needed))
    return 0;
  for (DWORD i = 0; i < needed / sizeof(HMODULE) && i < 512; ++i) {
    char path[MAX_PATH] = {};
    if (GetModuleFileNameExA(process, modules[i], path, MAX_PATH) == 0)
      continue;
    std::string name = path;
    name = name.substr(name.find_last_of('\\') + 1);
    for (char &c : name)
      c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (name != "comctl32.dll")
      continue;
    Put("dialog.comctl32_path", Escape(path));
    HMODULE same = LoadLibraryA(path);
    FARPROC entry = same ? GetProcAddress(same, "DllGetVersion") : nullptr;
    auto getVersion = reinterpret_cast<DLLGETVERSIONPROC>(reinterpret_cast<void *>(entry));
    DLLVERSIONINFO info{};
    info.cbSize = sizeof(info);
    return getVersion != nullptr && SUCCEEDED(getVersion(&info)) ? info.dwMajorVersion : 0;
  }
  return 0;
}

struct TBox {
  DWORD SeenAt = 0;
  bool Moved = false;
  bool Pressed = false;
};

} // namespace

int main(int argc, char **argv) {
  TOptions o;
  if (!ParseOptions(argc, argv, o)) {
    std::fprintf(stderr, "test_host: bad arguments\n");
    return 2;
  }
  InitCommonControls();
  SetProgPath(o);

  HWND timer = o.Timer ? MakeHostWindow("TTimerForm", "KastTimer") : nullptr;
  HWND decoy = o.Decoy ? MakeHostWindow("TTimerForm", "KastTimerAlt") : nullptr;
  HWND mainForm = o.MainMs >= -1 ? MakeHostWindow("TKastMainForm", "Kast") : nullptr;

  std::string commandLine = Quote(o.Exe);
  for (const std::string &a : o.Args)
    commandLine += " " + Quote(a);
  if (!o.LineFile.empty()) {
    FILE *line = std::fopen(o.LineFile.c_str(), "rb");
    if (line == nullptr) {
      std::fprintf(stderr, "test_host: no %s\n", o.LineFile.c_str());
      return 2;
    }
    commandLine += ' ';
    for (int c; (c = std::fgetc(line)) != EOF;)
      commandLine += static_cast<char>(c);
    std::fclose(line);
  }
  std::vector<char> mutableLine(commandLine.begin(), commandLine.end());
  mutableLine.push_back('\0');
  STARTUPINFOA si{};
  si.cb = sizeof(si);
  PROCESS_INFORMATION pi{};
  DWORD start = GetTickCount();
  if (o.Exe.empty()) {
    // Registry work only.
  } else if (!CreateProcessA(o.Exe.c_str(), mutableLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                             o.Cwd.empty() ? nullptr : o.Cwd.c_str(), &si, &pi)) {
    Put("start_error", static_cast<long long>(GetLastError()));
  } else {
    HWND dialog = nullptr;
    std::map<HWND, TBox> boxes;
    int boxCount = 0;
    bool timedOut = false;
    bool backgroundChecked = false;
    for (;;) {
      DWORD wait = MsgWaitForMultipleObjects(1, &pi.hProcess, FALSE, 10, QS_ALLINPUT);
      PumpMessages();
      DWORD now = GetTickCount() - start;
      if (mainForm != nullptr && o.MainMs >= 0 && now >= static_cast<DWORD>(o.MainMs)) {
        DestroyWindow(mainForm);
        mainForm = nullptr;
        Put("main_closed_ms", static_cast<long long>(now));
      }
      if (wait == WAIT_OBJECT_0)
        break;
      if (dialog == nullptr) {
        std::vector<HWND> found = WindowsOf(pi.dwProcessId, "TCopyForm");
        if (!found.empty()) {
          dialog = found.front();
          Put("dialog_seen_ms", static_cast<long long>(now));
          RecordDialog(dialog);
          Put("dialog.comctl32_major", LoadedComctlMajor(pi.hProcess));
        }
      }
      for (HWND box : WindowsOf(pi.dwProcessId, "#32770")) {
        auto it = boxes.find(box);
        if (it == boxes.end()) {
          std::string key = "box." + std::to_string(++boxCount);
          Put(key + ".caption", Escape(WindowText(box)));
          char text[4096] = {};
          GetDlgItemTextA(box, 0xFFFF, text, sizeof(text));
          Put(key + ".text", Escape(text));
          Put(key + ".ms", static_cast<long long>(now));
          HWND owner = GetWindow(box, GW_OWNER);
          Put(key + ".owner_is_dialog", owner != nullptr && owner == dialog ? 1 : 0);
          Put(key + ".dialog_visible", dialog != nullptr && IsWindowVisible(dialog) ? 1 : 0);
          if (dialog != nullptr) {
            // What the run left on the dialog.
            Put(key + ".dialog_caption", Escape(WindowText(dialog)));
            Put(key + ".group_caption", Escape(WindowText(GetDlgItem(dialog, 100))));
            Put(key + ".package_text", Escape(WindowText(GetDlgItem(dialog, 104))));
            Put(key + ".file_text", Escape(WindowText(GetDlgItem(dialog, 105))));
            Put(key + ".meters",
                std::to_string(AskControl(GetDlgItem(dialog, 106), PBM_GETPOS, 0)) + "," +
                    std::to_string(AskControl(GetDlgItem(dialog, 107), PBM_GETPOS, 0)));
          }
          boxes[box].SeenAt = now;
          continue;
        }
        TBox &state = it->second;
        if (!state.Moved && now - state.SeenAt >= std::min(BoxMoveDelay, o.BoxMs)) {
          // Out of the dialog's way, so that the screenshot shows both.
          SetWindowPos(box, nullptr, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
          state.Moved = true;
        }
        if (!state.Pressed && now - state.SeenAt >= o.BoxMs) {
          if (dialog != nullptr && !backgroundChecked) {
            // Inside the group box, between the labels and the first bar.
            POINT p{GroupInsideX, GroupInsideY};
            ClientToScreen(dialog, &p);
            HDC screen = GetDC(nullptr);
            COLORREF pixel = GetPixel(screen, p.x, p.y);
            ReleaseDC(nullptr, screen);
            Put("dialog.background_is_btnface", pixel == GetSysColor(COLOR_BTNFACE) ? 1 : 0);
            backgroundChecked = true;
          }
          if (!o.Shot.empty()) {
            Put("shot_saved", SaveScreen(o.Shot) ? 1 : 0);
            o.Shot.clear();
          }
          int button = GetDlgItem(box, IDOK) != nullptr ? IDOK : IDYES;
          PostMessageA(box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED),
                       reinterpret_cast<LPARAM>(GetDlgItem(box, button)));
          state.Pressed = true;
        }
      }
      if (now > o.Timeout) {
        TerminateProcess(pi.hProcess, 999);
        WaitForSingleObject(pi.hProcess, 5000);
        timedOut = true;
        break;
      }
    }
    DWORD exitCode = 0;
    GetExitCodeProcess(pi.hProcess, &exitCode);
    Put("exit_code", static_cast<long long>(exitCode));
    Put("elapsed_ms", static_cast<long long>(GetTickCount() - start));
    Put("timed_out", timedOut ? 1 : 0);
    Put("box.count", boxCount);
    Put("dialog_seen", dialog != nullptr ? 1 : 0);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
  }

  // A posted WM_CLOSE may still be in the queue of a host window; without
  // one, the wait would only lengthen what bench/run times as the run.
  DWORD settle = GetTickCount();
  while ((timer != nullptr || decoy != nullptr || mainForm != nullptr) &&
         GetTickCount() - settle < 100) {
    PumpMessages();
    Sleep(10);
  }
  if (timer != nullptr)
    Put("timer_close", CloseCounts[timer]);
  if (decoy != nullptr)
    Put("decoy_close", CloseCounts[decoy]);

  FILE *f = std::fopen(o.Result.c_str(), "wb");
  if (f == nullptr)
    return 3;
  for (const auto &kv : Out)
    std::fprintf(f, "%s=%s\n", kv.first.c_str(), kv.second.c_str());
  std::fclose(f);
  if (timer != nullptr)
    DestroyWindow(timer);
  if (decoy != nullptr)
    DestroyWindow(decoy);
  if (mainForm != nullptr)
    DestroyWindow(mainForm);
  return 0;
}
