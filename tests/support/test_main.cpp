// Test entry: on POSIX, drive-letter paths of this process map below a scratch
// folder of its own, so tests may use "C:\..." paths freely.
#include <gtest/gtest.h>

#include "platform/files.h"
#include "tests/support/test_support.h"

int main(int argc, char **argv) {
  testing::InitGoogleTest(&argc, argv);
  testing_support::TTempFolder drives;
  if (!testing_support::RunningOnWindows())
    platform::SetDriveRoot(drives.Path());
  return RUN_ALL_TESTS();
}
