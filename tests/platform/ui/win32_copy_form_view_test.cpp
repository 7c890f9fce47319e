// The Win32 update dialog in-process (Windows only): the font, frame and
// background that another process cannot read back, and the modal loop's
// activation, timer, close and release, with faults inside the handlers.
#include <gtest/gtest.h>

#include <windows.h>

#include <commctrl.h>

#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/ui/copy_form_window.h"
#include "platform/ui/win32_copy_form_view.h"

namespace {

constexpr int AllControls[] = {platform::IdGruppe1, platform::IdLabel1, platform::IdLabel2,
                               platform::IdLabel3,  platform::IdSPaket, platform::IdSDatei,
                               platform::IdMeter1,  platform::IdMeter2};

HWND Hwnd(const platform::TWin32CopyFormView &view) {
  return reinterpret_cast<HWND>(view.Handle());
}

std::string ItemText(HWND window, int id) {
  char text[256] = {};
  GetDlgItemTextA(window, id, text, sizeof(text));
  return text;
}

// Counts one message on its way to a control.
struct TCounted {
  UINT Message;
  int Seen = 0;
  WNDPROC Old = nullptr;
};

LRESULT CALLBACK CountingProc(HWND control, UINT message, WPARAM wParam, LPARAM lParam) {
  auto *counted = static_cast<TCounted *>(GetPropA(control, "TCounted"));
  if (message == counted->Message)
    ++counted->Seen;
  return CallWindowProcA(counted->Old, control, message, wParam, lParam);
}

void Count(HWND control, TCounted &counted) {
  SetPropA(control, "TCounted", &counted);
  counted.Old = reinterpret_cast<WNDPROC>(
      SetWindowLongPtrA(control, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(CountingProc)));
}

LRESULT MeterPosition(HWND window, int id) {
  return SendDlgItemMessageA(window, id, PBM_GETPOS, 0, 0);
}

TEST(Win32CopyFormView, EveryControlUsesMsSansSerifOfHeightMinus11) {
  platform::TWin32CopyFormView view;
  HWND window = Hwnd(view);
  ASSERT_NE(window, nullptr);
  for (int id : AllControls) {
    SCOPED_TRACE(id);
    HWND control = GetDlgItem(window, id);
    ASSERT_NE(control, nullptr);
    auto font = reinterpret_cast<HFONT>(SendMessageA(control, WM_GETFONT, 0, 0));
    ASSERT_NE(font, nullptr);
    LOGFONTA logFont{};
    ASSERT_EQ(GetObjectA(font, sizeof(logFont), &logFont), static_cast<int>(sizeof(logFont)));
    EXPECT_EQ(logFont.lfHeight, -11);
    EXPECT_STREQ(logFont.lfFaceName, "MS Sans Serif");
  }
}

TEST(Win32CopyFormView, IsCreatedHiddenWithAFixedTopmostFrameAndButtonFaceBackground) {
  platform::TWin32CopyFormView view;
  HWND window = Hwnd(view);
  ASSERT_NE(window, nullptr);
  EXPECT_FALSE(IsWindowVisible(window));
  RECT client{};
  GetClientRect(window, &client);
  EXPECT_EQ(client.right, 342);
  EXPECT_EQ(client.bottom, 174);
  LONG style = GetWindowLongA(window, GWL_STYLE);
  LONG exStyle = GetWindowLongA(window, GWL_EXSTYLE);
  EXPECT_EQ(style & WS_SYSMENU, 0);
  EXPECT_EQ(style & WS_THICKFRAME, 0);
  EXPECT_EQ(style & WS_CAPTION, WS_CAPTION);
  EXPECT_NE(exStyle & WS_EX_TOPMOST, 0);
  EXPECT_NE(exStyle & WS_EX_DLGMODALFRAME, 0);
  EXPECT_EQ(GetClassLongPtrA(window, GCLP_HBRBACKGROUND),
            static_cast<ULONG_PTR>(COLOR_BTNFACE + 1));
  char title[64] = {};
  GetWindowTextA(window, title, sizeof(title));
  EXPECT_STREQ(title, "Update einarbeiten");
  char className[64] = {};
  GetClassNameA(window, className, sizeof(className));
  EXPECT_STREQ(className, platform::CopyFormWindowClass);
}

TEST(Win32CopyFormView, ModalRunActivatesFiresTheTimerOnceAndReleasesTheWindow) {
  platform::TWin32CopyFormView view;
  HWND window = Hwnd(view);
  int activations = 0, fired = 0;
  bool visibleDuringRun = false;
  std::string package, file, group;
  LRESULT meter1 = -1, meter2 = -1;
  view.RunModal(
      [&] {
        if (++activations == 1)
          view.ArmTimer(20);
      },
      [&] {
        ++fired;
        visibleDuringRun = IsWindowVisible(window) != 0;
        view.SetPackageText("PAKET1.zip");
        view.SetFileText("gr\xFC\xDF.dat");
        view.SetGroupCaption("Die Dateien werden kopiert . . .");
        view.SetMeter1(150);
        view.SetMeter2(-5);
        view.RepaintGroup();
        package = ItemText(window, platform::IdSPaket);
        file = ItemText(window, platform::IdSDatei);
        group = ItemText(window, platform::IdGruppe1);
        meter1 = MeterPosition(window, platform::IdMeter1);
        meter2 = MeterPosition(window, platform::IdMeter2);
        view.PostClose();
      });
  EXPECT_GE(activations, 1);
  EXPECT_EQ(fired, 1);
  EXPECT_TRUE(visibleDuringRun);
  EXPECT_EQ(package, "PAKET1.zip");
  EXPECT_EQ(file, "gr\xFC\xDF.dat");
  EXPECT_EQ(group, "Die Dateien werden kopiert . . .");
  EXPECT_EQ(meter1, 100);
  EXPECT_EQ(meter2, 0);
  EXPECT_EQ(view.Handle(), 0u);
  EXPECT_FALSE(IsWindow(window));
}

// A run reports a name and two positions per file, far more often than a
// screen shows them; the controls take one change a frame and still end
// where the run left them.
TEST(Win32CopyFormView, ProgressInBurstsRepaintsOncePerFrameAndEndsWhereTheRunLeftIt) {
  const struct {
    const char *Name;
    void (*CatchUp)(platform::TWin32CopyFormView &view);
  } ways[] = {
      {"repainting the group", [](platform::TWin32CopyFormView &view) { view.RepaintGroup(); }},
      {"processing messages a frame later",
       [](platform::TWin32CopyFormView &view) {
         Sleep(100);
         view.ProcessMessages();
       }},
  };
  constexpr DWORD FrameMs = 40;
  for (const auto &way : ways) {
    SCOPED_TRACE(way.Name);
    TCounted positions{PBM_SETPOS}, names{WM_SETTEXT};
    platform::TWin32CopyFormView view;
    HWND window = Hwnd(view);
    ASSERT_NE(window, nullptr);
    Count(GetDlgItem(window, platform::IdMeter2), positions);
    Count(GetDlgItem(window, platform::IdSDatei), names);
    const DWORD start = GetTickCount();
    for (int i = 0; i < 1000; ++i) {
      view.SetFileText("datei" + std::to_string(i) + ".txt");
      view.SetMeter2(0);
      view.SetMeter2(100);
      view.SetMeter1(i / 10);
    }
    // One change at the start of each frame, and one more for a coarse clock.
    const int frames = static_cast<int>((GetTickCount() - start) / FrameMs) + 2;
    EXPECT_LE(positions.Seen, frames);
    EXPECT_LE(names.Seen, frames);
    way.CatchUp(view);
    EXPECT_EQ(ItemText(window, platform::IdSDatei), "datei999.txt");
    EXPECT_EQ(MeterPosition(window, platform::IdMeter1), 99);
    EXPECT_EQ(MeterPosition(window, platform::IdMeter2), 100);
  }
}

TEST(Win32CopyFormView, AFaultInAHandlerStaysInsideTheWindowProcedure) {
  platform::TWin32CopyFormView view;
  int fired = 0;
  view.RunModal([&] { view.ArmTimer(10); },
                [&] {
                  ++fired;
                  view.PostClose();
                  throw std::runtime_error("handler fault");
                });
  EXPECT_EQ(fired, 1);
  EXPECT_EQ(view.Handle(), 0u);
}

TEST(Win32CopyFormView, WmCloseSeenWhileProcessingMessagesEndsTheLoopAfterTheHandler) {
  platform::TWin32CopyFormView view;
  HWND window = Hwnd(view);
  bool handlerFinished = false;
  int fired = 0;
  view.RunModal([&] { view.ArmTimer(10); },
                [&] {
                  ++fired;
                  // Posted by someone else, as the host could.
                  PostMessageA(window, WM_CLOSE, 0, 0);
                  view.ProcessMessages();
                  // The run goes on to its end; the window is still there.
                  handlerFinished = IsWindow(window) != 0;
                });
  EXPECT_EQ(fired, 1);
  EXPECT_TRUE(handlerFinished);
  EXPECT_FALSE(IsWindow(window));
}

TEST(Win32CopyFormView, AltF4DoesNotCloseTheDialog) {
  platform::TWin32CopyFormView view;
  HWND window = Hwnd(view);
  int fired = 0;
  view.RunModal(
      [&] {
        SendMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0);
        view.ArmTimer(30);
      },
      [&] {
        ++fired;
        view.PostClose();
      });
  EXPECT_EQ(fired, 1);
}

// The system DPI the run expects: 96, or what the suite's prefix of another
// DPI says (ZRK_TEST_DPI), so that a prefix left at 96 cannot pass for 144.
int ExpectedDpi() {
  const char *dpi = std::getenv("ZRK_TEST_DPI");
  return dpi != nullptr ? std::atoi(dpi) : 96;
}

// Pixels of the 96-DPI design at `dpi`, rounded to the nearest.
int AtDpi(int designed, int dpi) {
  return (designed * dpi + (designed >= 0 ? 48 : -48)) / 96;
}

SIZE TextExtent(HWND control, const std::string &text) {
  SIZE size{};
  HDC dc = GetDC(control);
  HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageA(control, WM_GETFONT, 0, 0)));
  GetTextExtentPoint32A(dc, text.c_str(), static_cast<int>(text.size()), &size);
  SelectObject(dc, old);
  ReleaseDC(control, dc);
  return size;
}

TEST(Win32CopyFormView, LayoutAndFontScaleWithTheSystemDpiAndEveryTextFits) {
  // The program is DPI-aware through its manifest; this test program says so here.
  SetProcessDPIAware();
  const int dpi = ExpectedDpi();
  HDC screen = GetDC(nullptr);
  ASSERT_EQ(GetDeviceCaps(screen, LOGPIXELSY), dpi);
  ReleaseDC(nullptr, screen);

  platform::TWin32CopyFormView view;
  HWND window = Hwnd(view);
  ASSERT_NE(window, nullptr);
  RECT client{};
  GetClientRect(window, &client);
  EXPECT_EQ(client.right, 342 * dpi / 96);
  EXPECT_EQ(client.bottom, 174 * dpi / 96);

  const struct {
    int Id;
    RECT Designed; // left, top, right, bottom in the client area at 96 DPI
    std::vector<std::string> Texts;
  } controls[] = {
      {platform::IdGruppe1,
       {8, 8, 337, 165},
       {"Dekomprimieren der Dateien", "Die Dateien werden kopiert . . ."}},
      {platform::IdLabel1,
       {16, 28, 329, 41},
       {"Die Pakete werden entpackt und gepr\xFC"
        "ft."}},
      {platform::IdLabel2, {16, 48, 57, 61}, {"Paket:"}},
      {platform::IdLabel3, {16, 64, 57, 77}, {"Datei:"}},
      {platform::IdSPaket, {56, 48, 325, 61}, {"PROGRAMM.zip"}},
      {platform::IdSDatei,
       {56, 64, 329, 77},
       {"formulare\\\xDC"
        "bersicht.txt"}},
      {platform::IdMeter1, {16, 92, 329, 116}, {}},
      {platform::IdMeter2, {16, 128, 329, 152}, {}},
  };
  for (const auto &c : controls) {
    SCOPED_TRACE(c.Id);
    HWND control = GetDlgItem(window, c.Id);
    ASSERT_NE(control, nullptr);
    RECT r{};
    GetWindowRect(control, &r);
    MapWindowPoints(nullptr, window, reinterpret_cast<POINT *>(&r), 2);
    EXPECT_NEAR(r.left, AtDpi(c.Designed.left, dpi), 1);
    EXPECT_NEAR(r.top, AtDpi(c.Designed.top, dpi), 1);
    EXPECT_NEAR(r.right, AtDpi(c.Designed.right, dpi), 1);
    EXPECT_NEAR(r.bottom, AtDpi(c.Designed.bottom, dpi), 1);

    auto font = reinterpret_cast<HFONT>(SendMessageA(control, WM_GETFONT, 0, 0));
    LOGFONTA logFont{};
    ASSERT_EQ(GetObjectA(font, sizeof(logFont), &logFont), static_cast<int>(sizeof(logFont)));
    EXPECT_EQ(logFont.lfHeight, AtDpi(-11, dpi));
    for (const std::string &text : c.Texts) {
      SCOPED_TRACE(text);
      const SIZE extent = TextExtent(control, text);
      EXPECT_LE(extent.cx, r.right - r.left);
      EXPECT_LE(extent.cy, r.bottom - r.top);
      // Text drawn at 96 DPI in a font of 96 DPI would stay two thirds this size.
      EXPECT_GE(extent.cy * 96, 11 * dpi);
    }
  }
}

TEST(Win32CopyFormView, FactoryMakesTheWin32Dialog) {
  int error = -1;
  auto view = platform::CreateCopyFormView(error);
  ASSERT_NE(view, nullptr);
  EXPECT_EQ(error, 0);
  EXPECT_NE(dynamic_cast<platform::TWin32CopyFormView *>(view.get()), nullptr);
  EXPECT_NE(view->Handle(), 0u);
}

} // namespace
