// The fault walk: a whole update run of two packages, repeated with each of
// its file operations made to fail in turn (plain failure and full disk), and
// after every run the proof that nothing was lost or half written and that
// the result code tells the truth.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "admin/admin_records.h"
#include "admin/settings.h"
#include "packages/placement.h"
#include "platform/fault.h"
#include "platform/files.h"
#include "platform/window.h"
#include "tests/faults/fault_scenario.h"
#include "tests/support/fault_walk.h"
#include "tests/support/recording_view.h"
#include "tests/support/test_support.h"
#include "update/copy_form.h"
#include "util/run_log.h"

namespace faults {
namespace {

using update::TRecordingView;
using TKind = TRecordingView::TEventKind;

// Where in the run an operation happens, told by what the dialog shows: the
// unpacking caption opens a package (record read, verification, emptying the
// staging folder), the package text opens unpacking, the copying caption
// opens placement (and the record rewrite behind it).
enum class TPhase { SetUp, Verify, Unpack, Place, Finish };

const char *PhaseName(TPhase phase) {
  static const char *const names[] = {"set-up", "record read / verification", "unpacking",
                                      "placement / record rewrite", "outcome / emptying"};
  return names[static_cast<int>(phase)];
}

struct TMark {
  std::uint64_t Count; // operations done when the event came
  TPhase Phase;
  int Package;
};

struct TOutcome {
  std::int32_t RunResult = 0;
  std::vector<TRecordingView::TMessage> Boxes;
  std::vector<testing_support::TBoxRecorder::TBox> ErrorBoxes; // shown past the view ("Error=")
  std::vector<TMark> Marks;
  std::uint64_t Operations = 0;
  bool Threw = false;
  // The failure hit the setting of a time or of attributes, which the copy
  // ignores (the new file then keeps the date and attributes it got).
  bool HitSetAttributes = false;
};

constexpr int PackageCount = 2;

TOutcome RunOnce(const TFaultScenario &s, std::uint64_t failAt, bool diskFull) {
  TOutcome out;
  testing_support::TBoxRecorder errorBoxes;
  TRecordingView view;
  int loopCaptions = 0;
  view.OnEvent = [&](const TRecordingView::TEvent &e) {
    const std::uint64_t done = platform::fault::Count();
    if (e.Kind == TKind::GroupCaption && e.Text == update::GroupCaptionUnpacking) {
      // The first one comes from creating the dialog.
      if (loopCaptions++ > 0) {
        const int package = loopCaptions - 1;
        out.Marks.push_back(
            {done, package > PackageCount ? TPhase::Finish : TPhase::Verify, package});
      }
    } else if (e.Kind == TKind::GroupCaption && e.Text == packages::CopyingCaption) {
      out.Marks.push_back({done, TPhase::Place, loopCaptions - 1});
    } else if (e.Kind == TKind::PackageText && !e.Text.empty()) {
      out.Marks.push_back({done, TPhase::Unpack, loopCaptions - 1});
    }
  };

  platform::fault::Arm(failAt, diskFull);
  try {
    update::TCopyForm form(view, {s.Data, "4711", "3"});
    auto guarded = [&](auto &&handler) {
      try {
        handler();
      } catch (...) {
        out.Threw = true;
        view.PostClose();
      }
    };
    view.RunModal([&] { guarded([&] { form.SetUp(); }); },
                  [&] { guarded([&] { form.Timer1Timer(); }); });
    out.RunResult = form.RunResult;
  } catch (...) {
    out.Threw = true;
  }
  out.Operations = platform::fault::Count();
  platform::fault::TOp hit{};
  out.HitSetAttributes =
      platform::fault::HitOperation(hit) && hit == platform::fault::TOp::SetAttributes;
  platform::fault::Disarm();
  out.ErrorBoxes = errorBoxes.Boxes;
  out.Boxes = view.Messages();
  return out;
}

// Phase of operation `n` in the un-faulted run.
TMark PhaseOf(const std::vector<TMark> &marks, std::uint64_t n) {
  TMark phase{0, TPhase::SetUp, 0};
  for (const TMark &m : marks)
    if (m.Count < n)
      phase = m;
  return phase;
}

// Result codes that a failure in `phase` may end the run with. A record that
// is there but cannot be read, and a staging folder that cannot be emptied,
// stop the run; attributes, dates and emptying the folders at the end are not
// checked by the run (0); the record rewrite fails with its own code. A run
// that ends with 0 is checked for its complete outcome all the same.
std::vector<std::int32_t> AllowedResults(TPhase phase) {
  switch (phase) {
  case TPhase::SetUp:
    return {0};
  case TPhase::Verify:
    return {admin::RunRecordNotRead, -1, -2};
  case TPhase::Unpack:
    // 0: the unzip library makes its destination folder when it is missing
    // and goes on when that fails, the folder being there already.
    return {0, -2};
  case TPhase::Place:
    return {0, admin::RunCopyFailed, admin::RunRecordNotRewritten};
  case TPhase::Finish:
    return {0};
  }
  return {};
}

bool Same(const std::uint8_t *a, const std::uint8_t *b, std::size_t size) {
  return std::memcmp(a, b, size) == 0;
}

bool IsBelow(const std::string &relative, const std::string &folder) {
  return relative.compare(0, folder.size() + 1, folder + "/") == 0;
}

// Everything the walk guarantees after a run with one failed operation.
// `outside` are folders that the run must leave empty.
void CheckInvariants(const TFaultScenario &s, const TOutcome &out, TPhase phase,
                     const std::vector<std::string> &outside) {
  EXPECT_FALSE(out.Threw) << "an exception left a handler";

  const std::vector<std::int32_t> allowed = AllowedResults(phase);
  EXPECT_NE(std::find(allowed.begin(), allowed.end(), out.RunResult), allowed.end())
      << "RunResult " << out.RunResult;

  // The box tells the same as RunResult; no box only when the run never
  // started (administration header unreadable), and then nothing changed.
  const admin::TAdminHeader header = s.Header();
  const std::vector<admin::TPackageRecord> records = s.StoredRecords();
  const TTree tree = s.Snapshot();
  if (out.Boxes.empty()) {
    EXPECT_EQ(phase, TPhase::SetUp);
    EXPECT_EQ(out.RunResult, 0);
  } else {
    ASSERT_EQ(out.Boxes.size(), 1u);
    EXPECT_EQ(out.Boxes[0].Caption == "Fehler!", out.RunResult != 0) << out.Boxes[0].Text;
  }
  // The "Error=" box of a failed copy; a marker file that cannot be read
  // fails placement without one.
  if (!out.ErrorBoxes.empty()) {
    EXPECT_EQ(out.RunResult, admin::RunCopyFailed);
  }

  // Header: the old bytes, or exactly the outcome of this run.
  const bool headerOld = Same(header.Bytes, s.OldHeader.Bytes, admin::AdminHeaderSize);
  if (!headerOld) {
    const admin::TAdminHeader expected = Recorded(s.OldHeader, out.RunResult, header);
    EXPECT_TRUE(Same(header.Bytes, expected.Bytes, admin::AdminHeaderSize))
        << "header neither old nor this run's outcome; LastResult " << header.LastResult();
  }

  // Records: old or applied, the applied ones first (packages go in file order).
  ASSERT_EQ(records.size(), s.OldRecords.size());
  std::size_t applied = 0;
  for (std::size_t i = 0; i < records.size(); ++i) {
    SCOPED_TRACE("record " + std::to_string(i + 1));
    const bool old = Same(records[i].Bytes, s.OldRecords[i].Bytes, admin::PackageRecordSize);
    const bool isApplied =
        Same(records[i].Bytes, Applied(s.OldRecords[i]).Bytes, admin::PackageRecordSize);
    EXPECT_TRUE(old || isApplied) << "record half written";
    if (isApplied) {
      EXPECT_EQ(applied++, i) << "applied behind a pending record";
    }
  }

  // A run recorded as a success applied everything.
  if (!headerOld && out.RunResult == 0) {
    EXPECT_EQ(applied, records.size()) << "success recorded with a package still pending";
  }

  // Every package whole or not at all: the destination folders hold exactly
  // what the applied packages put there over the old files (their dates and
  // attributes included), and nothing else.
  const TFactTree actual = s.Destinations();
  TFactTree expected = s.DestinationsAfter(applied);
  if (out.HitSetAttributes)
    for (auto &[file, facts] : expected)
      if (auto it = actual.find(file); it != actual.end() && it->second.Data == facts.Data &&
                                       !(facts == s.DestinationsAfter(0)[file]))
        facts = it->second;
  ExpectSameFacts(actual, expected);

  // Nothing but the run's own folders changed; the settings survive.
  for (const auto &[file, contents] : tree) {
    if (IsBelow(file, "dest1") || IsBelow(file, "dest2") || IsBelow(file, "download") ||
        IsBelow(file, "staging") || file == "UPDADMIN.VAB" ||
        file == "data/" + std::string(runlog::RunLogName))
      continue;
    if (file == "data/" + std::string(admin::SettingsFileName)) {
      EXPECT_EQ(contents, s.OldSettings) << "settings file rewritten";
      continue;
    }
    EXPECT_EQ(file, "UPDDOWNL.VAB") << "file written outside the run's folders";
  }
  for (const std::string &folder : outside)
    for (const auto &[file, contents] : FilesBelow(folder))
      ADD_FAILURE() << "file written outside the scenario: " << folder << " / " << file;
}

class FaultWalk : public TScratchRunTest {
protected:
  void SetUp() override {
    ASSERT_TRUE(testing_support::FollowFaultsInUnzipLibrary());
    TScratchRunTest::SetUp();
  }
  void TearDown() override {
    platform::fault::Disarm();
    platform::SetMessageBoxHook(nullptr);
    TScratchRunTest::TearDown();
  }
};

TEST_F(FaultWalk, EveryFailedFileOperationLeavesOldOrNewDataAndTheRightCode) {
  std::vector<TMark> marks;
  std::uint64_t count = 0;
  {
    TFaultScenario s;
    TOutcome clean = RunOnce(s, 0, false);
    ASSERT_FALSE(clean.Threw);
    ASSERT_EQ(clean.RunResult, 0);
    ASSERT_EQ(clean.Boxes.size(), 1u);
    ExpectSameFacts(s.Destinations(), s.DestinationsAfter(PackageCount));
    ASSERT_FALSE(HasFailure());
    marks = clean.Marks;
    count = clean.Operations;
  }
  // Both packages went through every phase: the walk reaches all of them.
  ASSERT_EQ(marks.size(), 3u * PackageCount + 1);
  // The unzip library's operations are counted too, so the walk fails them:
  // at least the archive's opening and one create per entry of each package.
  for (std::size_t i = 0; i + 1 < marks.size(); ++i)
    if (marks[i].Phase == TPhase::Unpack) {
      EXPECT_GE(marks[i + 1].Count - marks[i].Count, 4u) << "package " << marks[i].Package;
    }
  ASSERT_GT(count, 20u);
  ASSERT_TRUE(FilesBelow(Scratch.Path()).empty());
  ASSERT_TRUE(FilesBelow(Drives.Path()).empty());

  for (bool diskFull : {false, true}) {
    testing_support::ForEachFault(
        testing_support::FaultNumbers(count),
        [](std::uint64_t) { return std::make_unique<TFaultScenario>(); },
        [&](const TFaultScenario &s, std::uint64_t n) { return RunOnce(s, n, diskFull); },
        [&](const TFaultScenario &s, const TOutcome &out, std::uint64_t n) {
          const TMark at = PhaseOf(marks, n);
          SCOPED_TRACE(std::string(diskFull ? "disk full" : "failure") + " of " +
                       std::to_string(count) + ", " + PhaseName(at.Phase) +
                       (at.Package > 0 ? " of package " + std::to_string(at.Package) : ""));
          ASSERT_GE(out.Operations, n) << "the failing operation was never reached";
          CheckInvariants(s, out, at.Phase, {Scratch.Path(), Drives.Path()});
        });
    if (HasFailure())
      return;
  }
}

} // namespace
} // namespace faults
