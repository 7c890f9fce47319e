// The terminal form of the update dialog: plain lines when the output is not
// a terminal, the in-place block when it is, and the timer-driven modal run.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>

#include "platform/ui/terminal_copy_form_view.h"

namespace {

class TCapture {
public:
  TCapture() : File(std::tmpfile()) {}
  ~TCapture() {
    if (File != nullptr)
      std::fclose(File);
  }
  std::FILE *Get() const { return File; }
  std::string Text() const {
    std::fflush(File);
    std::rewind(File);
    std::string text;
    for (int c = std::fgetc(File); c != EOF; c = std::fgetc(File))
      text += static_cast<char>(c);
    return text;
  }

private:
  std::FILE *File;
};

TEST(TerminalCopyFormView, PlainOutputPrintsOneLinePerChangeAndTheMessage) {
  TCapture out;
  platform::TTerminalCopyFormView view(out.Get(), false, nullptr, false);
  int answer = 0;
  view.RunModal(
      [&] {
        view.SetCaption("Dateien einarbeiten");
        view.ArmTimer(1);
      },
      [&] {
        view.SetGroupCaption("Dekomprimieren der Dateien");
        view.SetPackageText("PAKET1.ZIP");
        view.SetMeter1(50);
        view.SetFileText("a.txt");
        view.SetFileText("a.txt");
        view.SetFileText("gr\xFC\xDF.dat");
        view.SetMeter2(100);
        view.SetGroupCaption("Die Dateien werden kopiert . . .");
        answer = view.ShowMessage("Das angeforderte Update wurde erfolgreich\r\n \r\nin das "
                                  "Programm eingearbeitet.",
                                  "Herzlichen Gl\xFC"
                                  "ckwunsch . . .",
                                  0x40);
        view.PostClose();
      });
  EXPECT_EQ(answer, 1);
  EXPECT_EQ(out.Text(), "Update einarbeiten\n"
                        "Dateien einarbeiten\n"
                        "Paket: PAKET1.ZIP\n"
                        "Datei: a.txt\n"
                        "Datei: gr\xC3\xBC\xC3\x9F.dat\n"
                        "Die Dateien werden kopiert . . .\n"
                        "\n[Herzlichen Gl\xC3\xBC"
                        "ckwunsch . . .]\n"
                        "Das angeforderte Update wurde erfolgreich\n"
                        " \n"
                        "in das Programm eingearbeitet.\n");
}

TEST(TerminalCopyFormView, TimerFiresOncePerArmingAndTheRunEndsWithoutOne) {
  TCapture out;
  platform::TTerminalCopyFormView view(out.Get(), false, nullptr, false);
  int fired = 0;
  view.RunModal([&] { view.ArmTimer(1); },
                [&] {
                  if (++fired < 3)
                    view.ArmTimer(1);
                });
  EXPECT_EQ(fired, 3);

  fired = 0;
  view.RunModal([] {}, [&] { ++fired; });
  EXPECT_EQ(fired, 0);

  // Disarmed before it could fire, and closed: nothing runs.
  view.RunModal(
      [&] {
        view.ArmTimer(1);
        view.DisarmTimer();
      },
      [&] { ++fired; });
  EXPECT_EQ(fired, 0);

  // Closed while armed: the loop ends without firing.
  view.RunModal(
      [&] {
        view.ArmTimer(1);
        view.PostClose();
      },
      [&] { ++fired; });
  EXPECT_EQ(fired, 0);
}

TEST(TerminalCopyFormView, YesNoBoxWithoutATerminalAnswersYes) {
  TCapture out;
  platform::TTerminalCopyFormView view(out.Get(), false, nullptr, false);
  EXPECT_EQ(view.ShowMessage("Weiter?", "Frage", 0x24 | 0x100), 6);
  EXPECT_EQ(view.ShowMessage("Error=         2", "", 0), 1);
  EXPECT_EQ(view.Handle(), 0u);
}

TEST(TerminalCopyFormView, TerminalOutputRedrawsTheBlockInPlace) {
  TCapture out;
  platform::TTerminalCopyFormView view(out.Get(), true, nullptr, false);
  view.RunModal([&] { view.ArmTimer(1); },
                [&] {
                  view.SetPackageText("P.ZIP");
                  view.SetMeter1(50);
                  view.SetMeter2(250);
                  view.PostClose();
                });
  std::string text = out.Text();
  const std::string lastBlock = "\x1b[6F"
                                "\x1b[2KUpdate einarbeiten\n"
                                "\x1b[2K  Dekomprimieren der Dateien\n"
                                "\x1b[2K    Paket: P.ZIP\n"
                                "\x1b[2K    Datei: \n"
                                "\x1b[2K    [" +
                                std::string(25, '#') + std::string(25, '.') +
                                "]  50 %\n"
                                "\x1b[2K    [" +
                                std::string(50, '#') + "] 100 %\n";
  ASSERT_GE(text.size(), lastBlock.size());
  EXPECT_EQ(text.substr(text.size() - lastBlock.size()), lastBlock);
  // First draw, then one redraw per change (package, meter 1, meter 2).
  std::size_t redraws = 0;
  for (std::size_t p = text.find("\x1b[6F"); p != std::string::npos;
       p = text.find("\x1b[6F", p + 1))
    ++redraws;
  EXPECT_EQ(redraws, 3u);
}

} // namespace
