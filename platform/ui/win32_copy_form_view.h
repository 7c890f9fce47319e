// TCopyForm drawn as a real Win32 window: a fixed, topmost dialog with the
// group box, labels and two progress bars as laid out in the form, its own
// modal message loop, a one-shot timer and message boxes owned by it.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "platform/ui/copy_form_view.h"
#include "platform/ui/copy_form_window.h"

namespace platform {

class TWin32CopyFormView final : public TCopyFormView {
public:
  // Creates the window hidden; Handle() is 0 when that failed, and
  // CreateError holds the system's error.
  TWin32CopyFormView();
  ~TWin32CopyFormView() override;
  TWin32CopyFormView(const TWin32CopyFormView &) = delete;
  TWin32CopyFormView &operator=(const TWin32CopyFormView &) = delete;

  int CreateError = 0;

  void SetCaption(std::string_view text) override;
  void SetGroupCaption(std::string_view text) override;
  void SetPackageText(std::string_view text) override;
  void SetFileText(std::string_view text) override;
  void SetMeter1(int position) override;
  void SetMeter2(int position) override;
  void RepaintGroup() override;
  void ProcessMessages() override;
  int ShowMessage(std::string_view text, std::string_view caption, std::uint32_t style) override;
  THandle Handle() const override { return Window; }
  void RunModal(std::function<void()> onActivate, std::function<void()> onTimer) override;
  void ArmTimer(unsigned milliseconds) override;
  void DisarmTimer() override;
  void PostClose() override;

  // The window procedure's work; what a handler throws stops in the window
  // procedure.
  std::intptr_t HandleMessage(unsigned message, std::uintptr_t wParam, std::intptr_t lParam);

private:
  // A progress bar or the file-name label: what the run asked for last and
  // what the control shows, so that a burst of changes costs one repaint a
  // display frame.
  struct TThrottled {
    explicit TThrottled(int id) : Id(id) {}
    int Id;
    int Wanted = 0, Shown = 0;
    std::string WantedText, ShownText;
    std::uint32_t ShownAt = 0;
    bool Pending() const;
  };

  // A position or size of the 96-DPI design at the system's DPI.
  struct TPlace {
    int X, Y, Width, Height;
  };
  int Scale(int designed) const;
  TPlace Scale(int x, int y, int width, int height) const;
  void CreateControls();
  void SetChildText(int id, std::string_view text);
  void Want(TThrottled &item);
  void Show(TThrottled &item);
  // Brings the controls up to what the run asked for: all of them, or only
  // those whose last repaint is a frame old.
  void ShowWanted(bool all);
  void Release();

  THandle Window = 0;
  void *Font = nullptr;
  int Dpi = 96;
  std::function<void()> OnActivate;
  std::function<void()> OnTimer;
  bool Activated = false;
  bool CloseRequested = false;
  TThrottled Meter1{IdMeter1};
  TThrottled Meter2{IdMeter2};
  TThrottled FileText{IdSDatei};
  std::uint32_t PumpedAt = 0;
  bool Pumped = false;
};

} // namespace platform
