// Start-up and hand-off to the host: command line, timer window, the update
// dialog's modal run and deleting the host's status file.
#include "app/program.h"

#include <string_view>

#include "platform/instance.h"
#include "platform/ui/copy_form_window.h"
#include "update/copy_form.h"
#include "util/run_log.h"
#include "util/text.h"

namespace app {

platform::THandle HostWindow = 0;
std::uint8_t CallerOption = 3;

namespace {

constexpr std::size_t ParameterLimit = 255;

std::int64_t ParseParameter(const std::string &parameter) {
  return util::ParseInt64(std::string_view(parameter).substr(0, ParameterLimit));
}

} // namespace

TCommandLine ParseCommandLine(const std::vector<std::string> &params) {
  TCommandLine line;
  if (params.size() >= 2) {
    line.HostWindow = static_cast<std::uint32_t>(ParseParameter(params[1]));
    line.HostWindowGiven = true;
  }
  if (params.size() >= 3)
    line.CallerOption = static_cast<std::uint8_t>(ParseParameter(params[2]));
  return line;
}

void CloseHostTimerWindow(std::uint32_t message) {
  platform::THandle timer = platform::FindTopWindow(HostTimerWindowClass, HostTimerWindowTitle);
  if (timer != 0)
    (void)platform::PostMessageTo(timer, message, 0, 0); // it may be closing already
}

int RunCopyForm(platform::THandle hostWindow, const std::vector<std::string> &params) {
  CloseHostTimerWindow(platform::WmClose);
  // The log begins before anything that can fail: a start that ends here
  // leaves its trace and why.
  runlog::BeginRun(params.empty() ? std::string_view() : std::string_view(params[0]), params);
  int error = 0;
  std::unique_ptr<platform::TCopyFormView> view = platform::CreateCopyFormView(error);
  if (!view) {
    runlog::NoteFailure("Creating the update dialog", "TCopyForm", error);
    runlog::EndRunWithoutResult("the dialog cannot be created; the program ends with exit code 1");
    return -1;
  }
  return update::RunUpdate(*view, params, hostWindow);
}

int RunProgram(const std::vector<std::string> &params) {
  // A second copy would race the running one on the administration file and
  // the destination files; it leaves quietly, the host's timer window included.
  platform::TSingleInstance instance;
  if (!instance.Acquire(platform::SingleInstanceName))
    return 0;
  TCommandLine line = ParseCommandLine(params);
  HostWindow = line.HostWindowGiven ? line.HostWindow : platform::ApplicationWindow();
  CallerOption = line.CallerOption;
  if (RunCopyForm(HostWindow, params) < 0)
    return 1;
  util::DeleteFileIfExists(StatusFileName);
  return 0;
}

} // namespace app
