// The Win32 update dialog: window class, controls as laid out in the form,
// the modal loop that runs until WM_CLOSE, the one-shot timer and the
// deferred release of the window.
#include "platform/ui/win32_copy_form_view.h"

#include <windows.h>

#include <commctrl.h>

#include <algorithm>
#include <string>

#include "platform/clock.h"
#include "platform/ui/copy_form_window.h"
#include "platform/window.h"

namespace platform {

namespace {

// The form as designed, at 96 pixels per inch; Scale() makes it the system's.
constexpr int DesignDpi = 96;
constexpr int ClientWidth = 342;
constexpr int ClientHeight = 174;
constexpr int FontHeight = -11;
constexpr UINT_PTR Timer1Id = 1;
// Deferred destruction, as a form's Release does it.
constexpr UINT WmRelease = WM_APP + 1;
// Activation that never came (another process holds the foreground).
constexpr UINT WmActivateFallback = WM_APP + 2;
// Wine's progress bar repaints through the X server on every new position
// (1-3 ms each) and its labels repaint on every new text; a run reports a few
// positions and a name per file. One repaint a display frame shows the same.
constexpr std::uint32_t DisplayFrameMs = 40;
// Every look into the queue is a round trip to the Wine server and the X
// server; the run asks twice per file. Looking at most every 10 ms keeps the
// dialog as responsive as a user can tell.
constexpr std::uint32_t PumpIntervalMs = 10;

// No WS_CLIPCHILDREN: the group box leaves its inside unpainted, so the
// form's own background has to show through it.
constexpr DWORD FormStyle = WS_POPUP | WS_CAPTION;
constexpr DWORD FormExStyle = WS_EX_DLGMODALFRAME | WS_EX_TOPMOST;

struct TControlLayout {
  int Id;
  const char *ClassName;
  DWORD Style;
  int X, Y, Width, Height; // relative to Gruppe1
  const char *Text;
};

constexpr int GroupX = 8, GroupY = 8, GroupWidth = 329, GroupHeight = 157;
constexpr const char *GroupCaption = "Dekomprimieren der Dateien";

// Labels never interpret "&": file names are shown as they are.
constexpr DWORD LabelStyle = SS_LEFT | SS_NOPREFIX;

const TControlLayout GroupControls[] = {
    {IdLabel1, "STATIC", LabelStyle, 8, 20, 313, 13,
     "Die Pakete werden entpackt und gepr\xFC"
     "ft."},
    {IdLabel2, "STATIC", LabelStyle, 8, 40, 41, 13, "Paket:"},
    {IdLabel3, "STATIC", LabelStyle, 8, 56, 41, 13, "Datei:"},
    {IdSPaket, "STATIC", LabelStyle, 48, 40, 269, 13, ""},
    {IdSDatei, "STATIC", LabelStyle, 48, 56, 273, 13, ""},
    {IdMeter1, PROGRESS_CLASSA, 0, 8, 84, 313, 24, ""},
    {IdMeter2, PROGRESS_CLASSA, 0, 8, 120, 313, 24, ""},
};

// The system's pixels per inch (the program is DPI-aware through its manifest).
int SystemDpi() {
  HDC screen = GetDC(nullptr);
  if (screen == nullptr)
    return DesignDpi;
  const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(nullptr, screen);
  return dpi > 0 ? dpi : DesignDpi;
}

HWND AsHwnd(THandle handle) {
  return reinterpret_cast<HWND>(handle);
}

LRESULT CALLBACK CopyFormWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  try {
    if (message == WM_NCCREATE) {
      auto *create = reinterpret_cast<CREATESTRUCTA *>(lParam);
      SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto *view = reinterpret_cast<TWin32CopyFormView *>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (view != nullptr && view->Handle() == reinterpret_cast<THandle>(window))
      return view->HandleMessage(message, wParam, lParam);
    return DefWindowProcA(window, message, wParam, lParam);
  } catch (...) {
    // Nothing may unwind through the window manager's frames.
    return 0;
  }
}

bool RegisterFormClass(HINSTANCE instance) {
  WNDCLASSEXA wc{};
  if (GetClassInfoExA(instance, CopyFormWindowClass, &wc))
    return true;
  wc.cbSize = sizeof(wc);
  wc.lpfnWndProc = CopyFormWindowProc;
  wc.hInstance = instance;
  wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_BTNFACE + 1));
  wc.lpszClassName = CopyFormWindowClass;
  return RegisterClassExA(&wc) != 0;
}

} // namespace

TWin32CopyFormView::TWin32CopyFormView() {
  INITCOMMONCONTROLSEX icc{sizeof(icc), ICC_PROGRESS_CLASS};
  if (!InitCommonControlsEx(&icc))
    InitCommonControls();
  HINSTANCE instance = GetModuleHandleA(nullptr);
  if (!RegisterFormClass(instance)) {
    CreateError = static_cast<int>(GetLastError());
    return;
  }

  Dpi = SystemDpi();
  const int clientWidth = Scale(ClientWidth);
  const int clientHeight = Scale(ClientHeight);
  RECT frame{0, 0, clientWidth, clientHeight};
  AdjustWindowRectEx(&frame, FormStyle, FALSE, FormExStyle);
  int width = frame.right - frame.left;
  int height = frame.bottom - frame.top;
  int x = (GetSystemMetrics(SM_CXSCREEN) - width) / 2;
  int y = (GetSystemMetrics(SM_CYSCREEN) - height) / 2;

  // The window procedure recognises this view by its handle, which is only
  // known once CreateWindowExA returns; messages before that go to the default.
  HWND window = CreateWindowExA(FormExStyle, CopyFormWindowClass, "Update einarbeiten", FormStyle,
                                x, y, width, height, nullptr, nullptr, instance, this);
  if (window == nullptr) {
    CreateError = static_cast<int>(GetLastError());
    return;
  }
  Window = reinterpret_cast<THandle>(window);

  // The frame of an unmanaged window may differ from what AdjustWindowRectEx
  // predicted; the client area is what the layout is made for.
  RECT client{};
  GetClientRect(window, &client);
  if (client.right != clientWidth || client.bottom != clientHeight) {
    width += clientWidth - client.right;
    height += clientHeight - client.bottom;
    x = (GetSystemMetrics(SM_CXSCREEN) - width) / 2;
    y = (GetSystemMetrics(SM_CYSCREEN) - height) / 2;
    SetWindowPos(window, nullptr, x, y, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
  }

  Font = CreateFontA(Scale(FontHeight), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                     OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                     DEFAULT_PITCH | FF_DONTCARE, "MS Sans Serif");
  CreateControls();
}

TWin32CopyFormView::~TWin32CopyFormView() {
  if (Window != 0) {
    HWND window = AsHwnd(Window);
    Window = 0;
    DestroyWindow(window);
  }
  if (Font != nullptr)
    DeleteObject(static_cast<HFONT>(Font));
}

int TWin32CopyFormView::Scale(int designed) const {
  return MulDiv(designed, Dpi, DesignDpi);
}

TWin32CopyFormView::TPlace TWin32CopyFormView::Scale(int x, int y, int width, int height) const {
  // Edges are scaled, not sizes, as a form scales its controls: neighbours
  // that touch at 96 DPI still touch.
  const int left = Scale(x), top = Scale(y);
  return {left, top, Scale(x + width) - left, Scale(y + height) - top};
}

void TWin32CopyFormView::CreateControls() {
  HWND window = AsHwnd(Window);
  HINSTANCE instance = GetModuleHandleA(nullptr);
  auto setFont = [this](HWND control) {
    if (Font != nullptr)
      SendMessageA(control, WM_SETFONT, reinterpret_cast<WPARAM>(Font), FALSE);
  };
  setFont(window);
  // The group box comes last so that it lies below its labels in the
  // z-order; it draws only its frame and caption.
  // Controls lie in the group: scaled within it, then moved by its origin.
  const TPlace g = Scale(GroupX, GroupY, GroupWidth, GroupHeight);
  for (const TControlLayout &c : GroupControls) {
    const TPlace p = Scale(c.X, c.Y, c.Width, c.Height);
    HWND control = CreateWindowExA(
        0, c.ClassName, c.Text, WS_CHILD | WS_VISIBLE | c.Style, g.X + p.X, g.Y + p.Y, p.Width,
        p.Height, window, reinterpret_cast<HMENU>(static_cast<INT_PTR>(c.Id)), instance, nullptr);
    if (control == nullptr)
      continue;
    setFont(control);
    if (c.Id == IdMeter1 || c.Id == IdMeter2) {
      SendMessageA(control, PBM_SETRANGE32, 0, 100);
      SendMessageA(control, PBM_SETPOS, 0, 0);
    }
  }
  HWND group = CreateWindowExA(
      0, "BUTTON", GroupCaption, WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | BS_GROUPBOX, g.X, g.Y,
      g.Width, g.Height, window, reinterpret_cast<HMENU>(static_cast<INT_PTR>(IdGruppe1)), instance,
      nullptr);
  if (group != nullptr) {
    setFont(group);
    SetWindowPos(group, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  }
}

void TWin32CopyFormView::SetChildText(int id, std::string_view text) {
  if (Window == 0)
    return;
  std::string copy(text);
  SetDlgItemTextA(AsHwnd(Window), id, copy.c_str());
}

bool TWin32CopyFormView::TThrottled::Pending() const {
  return Wanted != Shown || WantedText != ShownText;
}

void TWin32CopyFormView::Want(TThrottled &item) {
  if (item.Pending() &&
      static_cast<std::uint32_t>(platform::TickCount() - item.ShownAt) >= DisplayFrameMs)
    Show(item);
}

void TWin32CopyFormView::Show(TThrottled &item) {
  if (Window == 0)
    return;
  if (item.Id == IdSDatei)
    SetDlgItemTextA(AsHwnd(Window), item.Id, item.WantedText.c_str());
  else
    SendDlgItemMessageA(AsHwnd(Window), item.Id, PBM_SETPOS, static_cast<WPARAM>(item.Wanted), 0);
  item.Shown = item.Wanted;
  item.ShownText = item.WantedText;
  item.ShownAt = platform::TickCount();
}

void TWin32CopyFormView::ShowWanted(bool all) {
  for (TThrottled *item : {&Meter1, &Meter2, &FileText}) {
    if (all && item->Pending())
      Show(*item);
    else
      Want(*item);
  }
}

void TWin32CopyFormView::SetCaption(std::string_view text) {
  if (Window == 0)
    return;
  std::string copy(text);
  SetWindowTextA(AsHwnd(Window), copy.c_str());
}

void TWin32CopyFormView::SetGroupCaption(std::string_view text) {
  SetChildText(IdGruppe1, text);
}
void TWin32CopyFormView::SetPackageText(std::string_view text) {
  SetChildText(IdSPaket, text);
}
void TWin32CopyFormView::SetFileText(std::string_view text) {
  FileText.WantedText.assign(text);
  Want(FileText);
}
void TWin32CopyFormView::SetMeter1(int position) {
  Meter1.Wanted = std::clamp(position, 0, 100);
  Want(Meter1);
}
void TWin32CopyFormView::SetMeter2(int position) {
  Meter2.Wanted = std::clamp(position, 0, 100);
  Want(Meter2);
}

void TWin32CopyFormView::RepaintGroup() {
  if (Window == 0)
    return;
  ShowWanted(true);
  HWND window = AsHwnd(Window);
  const TPlace g = Scale(GroupX, GroupY, GroupWidth, GroupHeight);
  RECT area{g.X, g.Y, g.X + g.Width, g.Y + g.Height};
  RedrawWindow(window, &area, nullptr,
               RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
}

void TWin32CopyFormView::ProcessMessages() {
  ShowWanted(false);
  const std::uint32_t now = platform::TickCount();
  if (Pumped && static_cast<std::uint32_t>(now - PumpedAt) < PumpIntervalMs)
    return;
  Pumped = true;
  PumpedAt = now;
  platform::ProcessPendingMessages();
}

int TWin32CopyFormView::ShowMessage(std::string_view text, std::string_view caption,
                                    std::uint32_t style) {
  // The box stops the run: what it left on the dialog shows beside the box.
  ShowWanted(true);
  std::string body(text);
  std::string title(caption);
  return MessageBoxA(AsHwnd(Window), body.c_str(), title.c_str(), style);
}

void TWin32CopyFormView::RunModal(std::function<void()> onActivate, std::function<void()> onTimer) {
  if (Window == 0)
    return;
  HWND window = AsHwnd(Window);
  OnActivate = std::move(onActivate);
  OnTimer = std::move(onTimer);
  CloseRequested = false;

  // Showing activates the window, and WM_ACTIVATE runs the handler at once.
  ShowWindow(window, SW_SHOW);
  SetForegroundWindow(window);
  UpdateWindow(window);
  if (!Activated)
    PostMessageA(window, WmActivateFallback, 0, 0);

  MSG msg;
  while (!CloseRequested) {
    BOOL got = GetMessageA(&msg, nullptr, 0, 0);
    if (got == 0) {
      PostQuitMessage(static_cast<int>(msg.wParam));
      break;
    }
    if (got == -1)
      break;
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  DisarmTimer();
  ShowWindow(window, SW_HIDE);
  Release();
}

void TWin32CopyFormView::Release() {
  HWND window = AsHwnd(Window);
  if (!PostMessageA(window, WmRelease, 0, 0)) {
    Window = 0;
    DestroyWindow(window);
    return;
  }
  MSG msg;
  while (Window != 0 && PeekMessageA(&msg, window, 0, 0, PM_REMOVE)) {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
}

void TWin32CopyFormView::ArmTimer(unsigned milliseconds) {
  if (Window != 0)
    SetTimer(AsHwnd(Window), Timer1Id, milliseconds, nullptr);
}

void TWin32CopyFormView::DisarmTimer() {
  if (Window != 0)
    KillTimer(AsHwnd(Window), Timer1Id);
}

void TWin32CopyFormView::PostClose() {
  if (Window != 0)
    PostMessageA(AsHwnd(Window), WM_CLOSE, 0, 0);
}

std::intptr_t TWin32CopyFormView::HandleMessage(unsigned message, std::uintptr_t wParam,
                                                std::intptr_t lParam) {
  HWND window = AsHwnd(Window);
  switch (message) {
  case WM_ACTIVATE:
    DefWindowProcA(window, message, wParam, lParam);
    if (LOWORD(wParam) != WA_INACTIVE) {
      Activated = true;
      if (OnActivate)
        OnActivate();
    }
    return 0;
  case WmActivateFallback:
    if (!Activated) {
      Activated = true;
      if (OnActivate)
        OnActivate();
    }
    return 0;
  case WM_TIMER:
    if (wParam == Timer1Id) {
      KillTimer(window, Timer1Id);
      if (OnTimer)
        OnTimer();
      return 0;
    }
    break;
  case WM_CLOSE:
    // Ends the modal loop; the window itself goes later, through Release.
    CloseRequested = true;
    PostMessageA(window, WM_NULL, 0, 0);
    return 0;
  case WM_SYSCOMMAND:
    // No close button and no system menu: Alt+F4 must not end a run either.
    if ((wParam & 0xFFF0) == SC_CLOSE)
      return 0;
    break;
  case WmRelease:
    Window = 0;
    DestroyWindow(window);
    return 0;
  default:
    break;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

std::unique_ptr<TCopyFormView> CreateCopyFormView(int &error) {
  auto view = std::make_unique<TWin32CopyFormView>();
  error = view->CreateError;
  if (view->Handle() == 0)
    return nullptr;
  return view;
}

} // namespace platform
