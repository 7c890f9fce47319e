// One copy at a time: the claim of platform/instance.h between holders in one
// process and across processes (a probe program), and a second zrkupd that
// ends at once with exit code 0, shows nothing and leaves every file alone.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "platform/files.h"
#include "platform/instance.h"
#include "tests/faults/fault_scenario.h"
#include "tests/support/test_support.h"

namespace faults {
namespace {

// A claim name of this test program's own, so that parallel runs of other
// tests never meet it.
std::string OwnName(const std::string &suffix) {
  static const std::string stamp = [] {
    testing_support::TTempFolder unique;
    const std::string &path = unique.Path();
    std::string tail = path.substr(path.find_last_of("\\/") + 1);
    return tail;
  }();
  return "ZRKUPD_TEST_" + stamp + "_" + suffix;
}

struct TRun {
  bool ExitedWithZero = false;
  std::string Output;
};

// Runs `program` (quoted as needed) with `args` through the command interpreter, with no input
// and its output caught in a file of `scratch`.
TRun RunProgram(const testing_support::TTempFolder &scratch, const std::string &program,
                const std::string &args) {
  // A file of its own for every run: a program that outlives its run must
  // not make the next redirection fail.
  static int runs = 0;
  const std::string output = scratch / ("output" + std::to_string(++runs) + ".txt");
  const bool windows = testing_support::RunningOnWindows();
  TRun run;
  run.ExitedWithZero = RunShell(program + " " + args + " > \"" + platform::NativePath(output) +
                                "\" 2>&1 < " + (windows ? "NUL" : "/dev/null"));
  run.Output = testing_support::ReadWholeText(output);
  (void)platform::DeleteFile(output); // read already; may not exist
  return run;
}

TEST(SingleInstance, SecondHolderIsRefusedUntilTheFirstLetsGo) {
  const std::string name = OwnName("same");
  platform::TSingleInstance first, second, other;
  ASSERT_TRUE(first.Acquire(name));
  EXPECT_TRUE(first.Held());
  EXPECT_FALSE(second.Acquire(name));
  EXPECT_FALSE(second.Held());
  EXPECT_TRUE(other.Acquire(OwnName("other")));
  first.Release();
  EXPECT_FALSE(first.Held());
  EXPECT_TRUE(second.Acquire(name));
  {
    platform::TSingleInstance scoped;
    EXPECT_FALSE(scoped.Acquire(name));
  }
  second.Release();
  {
    platform::TSingleInstance scoped;
    EXPECT_TRUE(scoped.Acquire(name));
  }
  // The destructor gave it up.
  EXPECT_TRUE(first.Acquire(name));
}

TEST(SingleInstance, AnotherProcessIsRefusedWhileTheClaimIsHeld) {
  testing_support::TTempFolder scratch;
  const std::string probe = "\"" + ProgramPath("instance_probe") + "\"";
  const std::string name = OwnName("process");
  {
    platform::TSingleInstance holder;
    ASSERT_TRUE(holder.Acquire(name));
    TRun busy = RunProgram(scratch, probe, name);
    EXPECT_FALSE(busy.ExitedWithZero);
    EXPECT_EQ(busy.Output, "busy");
    TRun other = RunProgram(scratch, probe, OwnName("process_other"));
    EXPECT_TRUE(other.ExitedWithZero);
    EXPECT_EQ(other.Output, "acquired");
  }
  // Released here; and a process that ended while holding it left it free.
  TRun free = RunProgram(scratch, probe, name);
  EXPECT_TRUE(free.ExitedWithZero);
  EXPECT_EQ(free.Output, "acquired");
  platform::TSingleInstance holder;
  EXPECT_TRUE(holder.Acquire(name));
}

class SecondProgramCopy : public ::testing::Test {
protected:
  void SetUp() override {
    // The program's own claim, kept apart from any real copy running here.
    if (!testing_support::RunningOnWindows()) {
      SavedLockFolder = platform::LockFolder();
      platform::SetLockFolder(platform::NativePath(Locks.Path()));
    }
    SavedFolder = platform::GetCurrentFolder();
    ASSERT_TRUE(platform::SetCurrentFolder(Work.Path()));
    ASSERT_TRUE(testing_support::WriteWholeFile(Work / "ZRK_STAT.DAT", "host status"));
  }
  void TearDown() override {
    EXPECT_TRUE(platform::SetCurrentFolder(SavedFolder));
    if (!SavedLockFolder.empty())
      platform::SetLockFolder({});
  }

  // The program with its parameters, seeing the same lock folder as this test.
  std::string Program() const {
    const std::string program = "\"" + ProgramPath("zrkupd") + "\"";
    // The interpreter does not wait for a windowed program unless told to.
    if (testing_support::RunningOnWindows())
      return "start \"\" /wait " + program;
    return "XDG_RUNTIME_DIR=\"" + platform::NativePath(Locks.Path()) + "\" " + program;
  }

  testing_support::TTempFolder Work; // current folder of the program runs
  testing_support::TTempFolder Scratch;
  testing_support::TTempFolder Locks;
  std::string SavedFolder, SavedLockFolder;
};

TEST_F(SecondProgramCopy, EndsAtOnceWithExitCodeZeroAndTouchesNothing) {
  TFaultScenario s;
  const TTree before = s.Snapshot();
  {
    // The running first copy.
    platform::TSingleInstance first;
    ASSERT_TRUE(first.Acquire(platform::SingleInstanceName));
    TRun second = RunProgram(Scratch, Program(), "\"" + s.Data + "\" 4711 3");
    EXPECT_TRUE(second.ExitedWithZero);
    EXPECT_EQ(second.Output, "");
  }
  EXPECT_TRUE(s.Snapshot() == before) << "the second copy changed the update's files";
  EXPECT_EQ(testing_support::ReadWholeText(Work / "ZRK_STAT.DAT"), "host status");

  // Without a first copy the same program does its work: with nothing
  // pending it only deletes the host's status file at its end.
  TFaultScenario idle(false);
  TRun alone = RunProgram(Scratch, Program(), "\"" + idle.Data + "\" 4711 3");
  EXPECT_TRUE(alone.ExitedWithZero);
  EXPECT_FALSE(testing_support::FileExists(Work / "ZRK_STAT.DAT"));
}

} // namespace
} // namespace faults
