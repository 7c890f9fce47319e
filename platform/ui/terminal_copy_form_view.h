// TCopyForm on a terminal (POSIX): the package line, the file line and both
// progress bars redrawn in place with ANSI sequences, or plain lines when the
// output is not a terminal. Message boxes are printed; the run is synchronous.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "platform/ui/copy_form_view.h"

namespace platform {

class TTerminalCopyFormView final : public TCopyFormView {
public:
  // `out` gets the display, `in` is read only to wait for Enter after a
  // message box, and only when `inIsTerminal`.
  TTerminalCopyFormView(std::FILE *out, bool outIsTerminal, std::FILE *in, bool inIsTerminal);

  void SetCaption(std::string_view text) override;
  void SetGroupCaption(std::string_view text) override;
  void SetPackageText(std::string_view text) override;
  void SetFileText(std::string_view text) override;
  void SetMeter1(int position) override;
  void SetMeter2(int position) override;
  void RepaintGroup() override;
  void ProcessMessages() override;
  int ShowMessage(std::string_view text, std::string_view caption, std::uint32_t style) override;
  THandle Handle() const override { return 0; }
  // Runs `onActivate`, then `onTimer` after each armed delay, until
  // PostClose; it also returns when nothing is armed any more, since no
  // event could ever arrive.
  void RunModal(std::function<void()> onActivate, std::function<void()> onTimer) override;
  void ArmTimer(unsigned milliseconds) override;
  void DisarmTimer() override;
  void PostClose() override;

private:
  void Changed(std::string &field, std::string_view text, const char *plainPrefix);
  void Draw();
  void Print(const std::string &utf8);

  std::FILE *Out;
  bool OutIsTerminal;
  std::FILE *In;
  bool InIsTerminal;

  std::string Caption = "Update einarbeiten";
  std::string GroupCaption = "Dekomprimieren der Dateien";
  std::string PackageText;
  std::string FileText;
  int Meter1 = 0;
  int Meter2 = 0;
  int DrawnLines = 0;
  bool TimerArmed = false;
  unsigned TimerDelay = 0;
  bool Closed = false;
};

} // namespace platform
