// Test driver of the crash and power-cut walks: one update run of the data
// folder in argument 1, ended abruptly before file operation <k> (argument 2,
// "<k>"; 0 runs to the end) or, given as "<k>:<v>", cut off from power there
// with variant v of the cut applied to the folder tree in argument 4: 0 names
// kept and unflushed data lost, 1 unflushed names and data lost, 2 names
// kept and unflushed data torn. A run that ends by itself writes its number
// of file operations into the file named by argument 3. Argument 5 (POSIX)
// is the drive root.
#include <cstdlib>
#include <string>

#include "platform/fault.h"
#include "platform/files.h"
#include "platform/window.h"
#include "tests/support/recording_view.h"
#include "update/copy_form.h"

int main(int argc, char **argv) {
  if (argc < 5)
    return 2;
  if (argc > 5)
    platform::SetDriveRoot(argv[5]);
  platform::SetMessageBoxHook([](platform::THandle, std::string_view, std::string_view,
                                 std::uint32_t) { return platform::IdOk; });
  char *variant = nullptr;
  const std::uint64_t crashAt = std::strtoull(argv[2], &variant, 10);
  if (crashAt == 0)
    platform::fault::Arm(0);
  else if (*variant == ':')
    platform::fault::ArmPowerCut(crashAt, argv[4], variant[1] == '1', variant[1] == '2');
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
