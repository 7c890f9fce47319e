// Test driver of the crash walk: one update run of the data folder in
// argument 1, ended abruptly before file operation <k> (argument 2; 0 runs to
// the end). A run that ends by itself writes its number of file operations
// into the file named by argument 3. Argument 4 (POSIX) is the drive root.
#include <cstdlib>
#include <string>

#include "platform/fault.h"
#include "platform/files.h"
#include "platform/window.h"
#include "tests/support/recording_view.h"
#include "update/copy_form.h"

int main(int argc, char **argv) {
  if (argc < 4)
    return 2;
  if (argc > 4)
    platform::SetDriveRoot(argv[4]);
  platform::SetMessageBoxHook([](platform::THandle, std::string_view, std::string_view,
                                 std::uint32_t) { return platform::IdOk; });
  const std::uint64_t crashAt = std::strtoull(argv[2], nullptr, 10);
  if (crashAt == 0)
    platform::fault::Arm(0);
  else
    platform::fault::ArmCrash(crashAt);
  update::TRecordingView view;
  update::RunUpdate(view, {argv[1], "4711", "3"}, 0);
  const std::string count = std::to_string(platform::fault::Count());
  platform::fault::Disarm();

  platform::TFile out;
  std::uint32_t written = 0;
  if (!out.Create(argv[3]) ||
      !out.Write(count.data(), static_cast<std::uint32_t>(count.size()), written))
    return 3;
  return 0;
}
