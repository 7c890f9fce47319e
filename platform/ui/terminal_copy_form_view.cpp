// The terminal update dialog: a six-line block redrawn in place on a
// terminal, one line per change otherwise; message boxes become printed
// notices; the timer is a sleep on the one thread there is.
#include "platform/ui/terminal_copy_form_view.h"

#include <unistd.h>

#include <chrono>
#include <thread>

#include "platform/codepage.h"
#include "platform/ui/copy_form_window.h"
#include "platform/window.h"

namespace platform {

namespace {

constexpr int BarWidth = 50;
// Lines are cut so that none wraps on an 80-column terminal; a wrapped line
// would throw the redraw off by a line.
constexpr std::size_t LineLimit = 78;

std::string Bar(int position) {
  std::string bar = "[";
  int filled = position * BarWidth / 100;
  bar.append(static_cast<std::size_t>(filled), '#');
  bar.append(static_cast<std::size_t>(BarWidth - filled), '.');
  bar += "] ";
  std::string percent = std::to_string(position);
  bar.append(3 - percent.size(), ' ');
  return bar + percent + " %";
}

// Shown text, so the five unassigned bytes become U+FFFD rather than C1
// controls that a terminal would act on (0x90 is DCS, 0x9D is OSC).
std::string Utf8(std::string_view text) {
  return Cp1252ToUtf8(text, TUnassigned::Excluded);
}

std::string Line(std::string_view text) {
  return Utf8(text.substr(0, LineLimit));
}

int Clamp(int position) {
  return position < 0 ? 0 : (position > 100 ? 100 : position);
}

} // namespace

TTerminalCopyFormView::TTerminalCopyFormView(std::FILE *out, bool outIsTerminal, std::FILE *in,
                                             bool inIsTerminal)
    : Out(out), OutIsTerminal(outIsTerminal), In(in), InIsTerminal(inIsTerminal) {
}

void TTerminalCopyFormView::Print(const std::string &utf8) {
  std::fwrite(utf8.data(), 1, utf8.size(), Out);
}

void TTerminalCopyFormView::Draw() {
  if (!OutIsTerminal)
    return;
  std::string block;
  if (DrawnLines > 0)
    block += "\x1b[" + std::to_string(DrawnLines) + "F";
  const std::string lines[] = {
      Line(Caption),
      "  " + Line(GroupCaption),
      "    Paket: " + Line(PackageText),
      "    Datei: " + Line(FileText),
      "    " + Bar(Meter1),
      "    " + Bar(Meter2),
  };
  for (const std::string &line : lines)
    block += "\x1b[2K" + line + "\n";
  DrawnLines = static_cast<int>(sizeof(lines) / sizeof(lines[0]));
  Print(block);
  std::fflush(Out);
}

void TTerminalCopyFormView::Changed(std::string &field, std::string_view text,
                                    const char *plainPrefix) {
  if (field == text)
    return;
  field.assign(text);
  if (OutIsTerminal) {
    Draw();
  } else if (!field.empty()) {
    Print(plainPrefix + Utf8(field) + "\n");
  }
}

void TTerminalCopyFormView::SetCaption(std::string_view text) {
  Changed(Caption, text, "");
}
void TTerminalCopyFormView::SetGroupCaption(std::string_view text) {
  Changed(GroupCaption, text, "");
}
void TTerminalCopyFormView::SetPackageText(std::string_view text) {
  Changed(PackageText, text, "Paket: ");
}
void TTerminalCopyFormView::SetFileText(std::string_view text) {
  Changed(FileText, text, "Datei: ");
}

void TTerminalCopyFormView::SetMeter1(int position) {
  position = Clamp(position);
  if (position != Meter1) {
    Meter1 = position;
    Draw();
  }
}

void TTerminalCopyFormView::SetMeter2(int position) {
  position = Clamp(position);
  if (position != Meter2) {
    Meter2 = position;
    Draw();
  }
}

void TTerminalCopyFormView::RepaintGroup() {
  Draw();
}

void TTerminalCopyFormView::ProcessMessages() {
  std::fflush(Out);
}

int TTerminalCopyFormView::ShowMessage(std::string_view text, std::string_view caption,
                                       std::uint32_t style) {
  std::string body;
  for (char c : text) {
    if (c != '\r')
      body += c;
  }
  Print("\n[" + Utf8(caption) + "]\n" + Utf8(body) + "\n");
  // The block stays where it is; a later redraw starts a new one below.
  DrawnLines = 0;
  bool yesNo = (style & 0x0F) == MbYesNo;
  int answer = yesNo ? 6 : IdOk; // IDYES
  if (InIsTerminal) {
    Print(yesNo ? "(j/n) " : "(Enter) ");
    std::fflush(Out);
    std::string reply;
    for (int c = std::fgetc(In); c != EOF && c != '\n'; c = std::fgetc(In))
      reply += static_cast<char>(c);
    if (yesNo && !reply.empty() && (reply[0] == 'n' || reply[0] == 'N'))
      answer = 7; // IDNO
  }
  std::fflush(Out);
  return answer;
}

void TTerminalCopyFormView::RunModal(std::function<void()> onActivate,
                                     std::function<void()> onTimer) {
  Closed = false;
  if (OutIsTerminal)
    Draw();
  else
    Print(Utf8(Caption) + "\n");
  if (onActivate)
    onActivate();
  while (!Closed && TimerArmed) {
    std::this_thread::sleep_for(std::chrono::milliseconds(TimerDelay));
    if (!TimerArmed)
      continue;
    TimerArmed = false;
    if (onTimer)
      onTimer();
  }
  std::fflush(Out);
}

void TTerminalCopyFormView::ArmTimer(unsigned milliseconds) {
  TimerArmed = true;
  TimerDelay = milliseconds;
}

void TTerminalCopyFormView::DisarmTimer() {
  TimerArmed = false;
}

void TTerminalCopyFormView::PostClose() {
  Closed = true;
}

std::unique_ptr<TCopyFormView> CreateCopyFormView(int &error) {
  error = 0;
  return std::make_unique<TTerminalCopyFormView>(stdout, isatty(STDOUT_FILENO) != 0, stdin,
                                                 isatty(STDIN_FILENO) != 0);
}

} // namespace platform
