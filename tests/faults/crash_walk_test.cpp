// The crash and power-cut walks: an update run of three packages, in a
// process of its own, ended abruptly before each of its file operations in
// turn (after a power cut: with what it had not flushed lost as a disk may
// lose it), and then one whole run here. Together they must leave what one
// whole run leaves: the same files everywhere (no temporary or backup file),
// the same records and the same header apart from the run's date and time.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <string>

#include "admin/admin_records.h"
#include "admin/settings.h"
#include "platform/fault.h"
#include "platform/files.h"
#include "tests/faults/fault_scenario.h"
#include "tests/support/fault_walk.h"
#include "tests/support/recording_view.h"
#include "tests/support/test_support.h"
#include "update/copy_form.h"
#include "util/run_log.h"

namespace faults {
namespace {

constexpr int PackageCount = 3;
// Under Wine every process start costs a good part of a second.
constexpr std::uint64_t WineCrashPoints = 32;
// The blocked run shares all but its failure with the whole walk: a sample
// of its crash points keeps the suite's time in bounds.
constexpr std::uint64_t BlockedCrashPoints = 120;
constexpr std::uint64_t BlockedWineCrashPoints = 16;

// Files every run reads or writes in place, compared apart from the tree:
// they name the scenario's own folders.
// The run log holds a block per run, with its times, so it never matches.
bool ComparedApart(const std::string &relative) {
  return relative == "UPDADMIN.VAB" || relative == "data/" + std::string(admin::SettingsFileName) ||
         relative == "data/" + std::string(runlog::RunLogName);
}

// The scenario's files but those compared apart.
TTree Comparable(const TFaultScenario &s) {
  TTree tree;
  for (const auto &[file, contents] : s.Snapshot())
    if (!ComparedApart(file))
      tree[file] = contents;
  return tree;
}

class CrashWalk : public TScratchRunTest {
protected:
  // Runs the driver on `s`, ended before operation `crashAt` (0: never).
  // True when the run ended by itself; `count` is then its operations.
  // `cut` ("" or ":<variant>") makes the end a power cut.
  bool RunDriver(const TFaultScenario &s, std::uint64_t crashAt, std::uint64_t &count,
                 const std::string &cut = std::string()) {
    const bool windows = testing_support::RunningOnWindows();
    const std::string result = Results / "count.txt";
    std::string line = "\"" + ProgramPath("crash_driver") + "\" \"" + s.Data + "\" " +
                       std::to_string(crashAt) + cut + " \"" + result + "\" \"" + s.Root.Path() +
                       "\"";
    if (!windows)
      line += " \"" + Drives.Path() + "\"";
    RunShell(line + (windows ? " >NUL 2>&1" : " >/dev/null 2>&1"));
    if (!testing_support::FileExists(result))
      return false;
    count = std::strtoull(testing_support::ReadWholeText(result).c_str(), nullptr, 10);
    (void)platform::DeleteFile(result); // read already; a leftover is overwritten
    return true;
  }

  // One whole run in this process: true when it ended with the success box
  // (or with `failure` the failure box), or quietly when `quiet` (the update
  // was no longer pending).
  static bool RunWhole(const TFaultScenario &s, bool quiet = false, bool failure = false) {
    update::TRecordingView view;
    update::RunUpdate(view, {s.Data, "4711", "3"}, 0);
    if (view.Messages().empty())
      return quiet;
    return view.Messages().size() == 1 && (view.Messages()[0].Caption == "Fehler!") == failure;
  }

  void Walk(bool blocked, bool powerCut = false);

  testing_support::TTempFolder Results;
};

// With `blocked`, package 2 cannot go in (a folder where a file must go):
// the whole run applies package 1 and ends with -5, and so must every
// killed run followed by a whole one. A killed run that had recorded its
// -5 has emptied the download folder, so the run after it ends with -1.
void CrashWalk::Walk(bool blocked, bool powerCut) {
  const std::size_t applied = blocked ? 1 : PackageCount;
  TTree reference;
  {
    TFaultScenario s(true, PackageCount, blocked);
    ASSERT_TRUE(RunWhole(s, false, blocked));
    reference = Comparable(s);
  }
  std::uint64_t count = 0;
  {
    TFaultScenario s(true, PackageCount, blocked);
    ASSERT_TRUE(RunDriver(s, 0, count)) << "the driver did not run";
    ExpectSameFacts(s.Destinations(), s.DestinationsAfter(applied));
    ASSERT_FALSE(HasFailure());
  }
  ASSERT_GT(count, 40u);

  const bool wine = testing_support::RunningOnWindows();
  const std::uint64_t limit =
      blocked ? (wine ? BlockedWineCrashPoints : BlockedCrashPoints) : (wine ? WineCrashPoints : 0);
  struct TAfterCrash {
    bool Recorded = false; // the killed run had written its outcome
  };
  testing_support::ForEachFault(
      testing_support::FaultNumbers(count, limit),
      [blocked](std::uint64_t) {
        return std::make_unique<TFaultScenario>(true, PackageCount, blocked);
      },
      [&](const TFaultScenario &s, std::uint64_t k) {
        TAfterCrash after;
        std::uint64_t done = 0;
        // The driver's three kinds of cut take turns all along the run.
        const std::string cut = powerCut ? ":" + std::to_string(k % 3) : std::string();
        EXPECT_FALSE(RunDriver(s, k, done, cut)) << "the run ended before operation " << k << cut;
        after.Recorded = s.Header().LastResult() != s.OldHeader.LastResult();
        EXPECT_TRUE(RunWhole(s, after.Recorded && !blocked, blocked))
            << "the run after the crash ended otherwise";
        return after;
      },
      [&](const TFaultScenario &s, const TAfterCrash &after, std::uint64_t) {
        ExpectSameFacts(s.Destinations(), s.DestinationsAfter(applied));
        const TTree tree = Comparable(s);
        for (const auto &[file, contents] : tree)
          if (reference.count(file) == 0)
            ADD_FAILURE() << "left behind: " << file;
        for (const auto &[file, contents] : reference) {
          auto it = tree.find(file);
          EXPECT_TRUE(it != tree.end() && it->second == contents) << file << " differs or is lost";
        }

        EXPECT_TRUE(testing_support::ReadWholeFile(
                        s.Path("data/" + std::string(admin::SettingsFileName))) == s.OldSettings)
            << "settings file rewritten";
        const admin::TAdminHeader header = s.Header();
        const std::int32_t result = !blocked ? 0 : after.Recorded ? -1 : -5;
        const admin::TAdminHeader expected = Recorded(s.OldHeader, result, header);
        EXPECT_TRUE(std::equal(header.Bytes, header.Bytes + admin::AdminHeaderSize, expected.Bytes))
            << "header not one whole run's: LastResult " << header.LastResult()
            << ", UpdatePending " << int(header.UpdatePending());
        const std::vector<admin::TPackageRecord> records = s.StoredRecords();
        ASSERT_EQ(records.size(), s.OldRecords.size());
        for (std::size_t i = 0; i < records.size(); ++i) {
          const admin::TPackageRecord expected =
              i < applied ? Applied(s.OldRecords[i]) : s.OldRecords[i];
          EXPECT_TRUE(std::equal(records[i].Bytes, records[i].Bytes + admin::PackageRecordSize,
                                 expected.Bytes))
              << "record " << i + 1 << (i < applied ? " not applied" : " changed");
        }
        EXPECT_TRUE(FilesBelow(Scratch.Path()).empty()) << "files in the current folder";
        EXPECT_TRUE(FilesBelow(Drives.Path()).empty()) << "files below the drive root";
      });
}

TEST_F(CrashWalk, KilledAtAnyFileOperationThenRunAgainEndsAsOneWholeRun) {
  Walk(false);
}

TEST_F(CrashWalk, KilledAtAnyFileOperationOfARunWithABlockedFileEndsAsOneWholeRun) {
  Walk(true);
}

TEST_F(CrashWalk, PowerCutAtAnyFileOperationThenRunAgainEndsAsOneWholeRun) {
  Walk(false, true);
}

} // namespace
} // namespace faults
