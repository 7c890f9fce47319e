// The Win32 update dialog in-process (Windows only): the font, frame and
// background that another process cannot read back, and the modal loop's
// activation, timer, close and release, with faults inside the handlers.
#include <gtest/gtest.h>

#include <windows.h>

#include <commctrl.h>

#include <stdexcept>
#include <string>

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
        meter1 = SendDlgItemMessageA(window, platform::IdMeter1, PBM_GETPOS, 0, 0);
        meter2 = SendDlgItemMessageA(window, platform::IdMeter2, PBM_GETPOS, 0, 0);
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

TEST(Win32CopyFormView, FactoryMakesTheWin32Dialog) {
  auto view = platform::CreateCopyFormView();
  ASSERT_NE(view, nullptr);
  EXPECT_NE(dynamic_cast<platform::TWin32CopyFormView *>(view.get()), nullptr);
  EXPECT_NE(view->Handle(), 0u);
}

} // namespace
