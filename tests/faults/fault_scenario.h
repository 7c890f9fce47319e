// A small update scenario for the fault and single-instance tests: a data
// folder with settings, an administration file with two or three pending
// packages, the package files, and destination folders whose files hold
// older contents (one of them read-only).
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "admin/admin_records.h"
#include "tests/support/test_support.h"
#include "tests/support/update_scenario.h"

namespace faults {

constexpr std::int32_t Seed = 2468013;

using TBytes = std::vector<std::uint8_t>;
// Relative path ("dest1/a.txt", "/" separated) -> contents.
using TTree = std::map<std::string, TBytes>;

// Native path of a program beside this test program.
std::string ProgramPath(const std::string &name);
// `line` through the command interpreter; true when it ended with 0.
bool RunShell(std::string line);

// Every file below `root` (a path in the program's form), by relative path.
TTree FilesBelow(const std::string &root);

// What a destination file holds: contents, last-write time, read-only bit.
struct TFileFacts {
  TBytes Data;
  std::uint32_t DosTime = 0;
  bool ReadOnly = false;
  bool operator==(const TFileFacts &other) const {
    return Data == other.Data && DosTime == other.DosTime && ReadOnly == other.ReadOnly;
  }
};
using TFactTree = std::map<std::string, TFileFacts>;

using testing_support::Applied;
using testing_support::Recorded;

// One failure per file that is missing, unexpected or different.
void ExpectSameFacts(const TFactTree &actual, const TFactTree &expected);

// Destinations 1 and 2 are used.
class TFaultScenario : public testing_support::TScenarioFolders {
public:
  // `pending` is the header's UpdatePending; `packages` is 2 or 3. With
  // `blocked`, a folder stands where package 2's new file neu.txt must go.
  explicit TFaultScenario(bool pending = true, int packages = 2, bool blocked = false);

  // As written before the run.
  admin::TAdminHeader OldHeader;
  std::vector<admin::TPackageRecord> OldRecords;
  TBytes OldSettings;

  std::string Path(const std::string &relative) const;
  // Every file below Root, by relative path.
  TTree Snapshot() const;
  // The files of the destination folders, by relative path.
  TFactTree Destinations() const;
  // The destination folders after the first `applied` packages, exactly.
  TFactTree DestinationsAfter(std::size_t applied) const;

private:
  TFactTree OldDestinations;
};

// Runs inside a scratch current folder and (POSIX) with drive letters mapped
// into a scratch folder: "C:\\..." defaults and relative names land there.
// Both are restored afterwards.
class TScratchRunTest : public ::testing::Test {
protected:
  void SetUp() override;
  void TearDown() override;

  testing_support::TTempFolder Scratch, Drives;

private:
  std::string SavedFolder, SavedDriveRoot;
};

} // namespace faults
