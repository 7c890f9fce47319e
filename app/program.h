// Program entry and command line: the host's parameters, the hand-off to the
// host's timer window, the update dialog run and the status file at exit.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/window.h"

namespace app {

// Host-side names the program relies on.
constexpr const char *HostTimerWindowClass = "TTimerForm";
constexpr const char *HostTimerWindowTitle = "KastTimer";
constexpr const char *StatusFileName = "ZRK_STAT.DAT";

struct TCommandLine {
  // Parameter 2, low 32 bits; only meaningful when HostWindowGiven.
  std::uint32_t HostWindow = 0;
  bool HostWindowGiven = false;
  // Parameter 3, low 8 bits.
  std::uint8_t CallerOption = 3;
};

// `params` are the command-line parameters without the program name.
// Parameter 1 (the data folder) is read by the dialog itself.
TCommandLine ParseCommandLine(const std::vector<std::string> &params);

// Program-wide, set once at start and kept only: nothing later acts on them.
// Without parameter 2 HostWindow is the program's own hidden application
// window (0 where there are no windows, as on a terminal).
extern platform::THandle HostWindow;
extern std::uint8_t CallerOption;

// Posts `message` to the host's timer window if there is one; never waits.
void CloseHostTimerWindow(std::uint32_t message);

// Asks the host's timer window to close, then creates the update dialog and
// runs it modally with `hostWindow`. Returns the modal result, or -1 when no
// dialog window could be made.
int RunCopyForm(platform::THandle hostWindow, const std::vector<std::string> &params);

// The whole program: the process exit code. 0 normally; 1 when the dialog
// could not be created (the unzip library's absence ends the process with 1
// before this returns).
int RunProgram(const std::vector<std::string> &params);

} // namespace app
