// A small update scenario for the fault and single-instance tests: a data
// folder with settings, an administration file with two pending packages, the
// package files, and destination folders whose files hold older contents.
#pragma once

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

// Every file below `root` (a path in the program's form), by relative path.
TTree FilesBelow(const std::string &root);

// Destinations 1 and 2 are used.
class TFaultScenario : public testing_support::TScenarioFolders {
public:
  // `pending` is the header's UpdatePending.
  explicit TFaultScenario(bool pending = true);

  // As written before the run.
  admin::TAdminHeader OldHeader;
  std::vector<admin::TPackageRecord> OldRecords;
  TBytes OldSettings;

  std::string Path(const std::string &relative) const;
  // Every file below Root, by relative path.
  TTree Snapshot() const;

  // Destination files, by relative path: the contents each may hold after
  // any run (the first is the old one; an empty set entry means "absent").
  static const std::map<std::string, std::vector<TBytes>> &Allowed();
  // What a destination file holds after a complete run.
  static const std::map<std::string, TBytes> &Final();
  // Relative paths of the files package 1 and 2 place.
  static const std::set<std::string> &PlacedBy(int package);
};

} // namespace faults
