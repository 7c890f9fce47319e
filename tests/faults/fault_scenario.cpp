// Builds the scenario of fault_scenario.h with the shared scenario builder:
// its files, package records and the contents each destination file may hold.
#include "tests/faults/fault_scenario.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "admin/settings.h"
#include "platform/files.h"
#include "tests/support/zip_builder.h"

namespace faults {

namespace {

using testing_support::TPackageItem;

constexpr auto Bytes = testing_support::TextBytes;
const std::uint32_t Time1 = testing_support::DosDateTime(2019, 3, 14, 9, 26, 52);
const std::uint32_t Time2 = testing_support::DosDateTime(2021, 11, 2, 17, 5, 10);

// Larger than the copy buffer, so that copying it takes more than one write.
const TBytes &Core() {
  static const TBytes bytes = testing_support::PatternBytes(6000, 1);
  return bytes;
}

const std::uint32_t OldTime = testing_support::DosDateTime(2018, 6, 30, 23, 59, 58);

// A file of a package and the destination file it becomes ("" for the
// marker file, which is never placed).
struct TPlacedItem {
  TPackageItem Item;
  std::string Target;
};

struct TPackageSpec {
  std::string FileName;
  std::uint8_t DestIndex;
  std::vector<TPlacedItem> Items;
};

const std::vector<TPackageSpec> &Packages() {
  static const std::vector<TPackageSpec> specs = {
      {"Paket1.pkg",
       1,
       {{{"a.txt", Bytes("package 1: a"), Time1, false}, "dest1/a.txt"},
        {{"core.dll", Core(), Time2, true}, "dest1/core.dll"},
        {{"shared.txt", Bytes("package 1: shared"), Time1, false}, "dest1/shared.txt"}}},
      {"Paket2.pkg",
       2,
       {{{"b.bin", testing_support::PatternBytes(300, 2), Time2, true}, "dest2/b.bin"},
        {{"FILEPATH.ID", testing_support::FilePathId({{"SHARED.TXT", 1}}), Time1, false}, ""},
        {{"neu.txt", Bytes("package 2: new"), Time1, false}, "dest2/neu.txt"},
        {{"shared.txt", Bytes("package 2: shared"), Time2, false}, "dest1/shared.txt"}}},
      {"Paket3.pkg",
       2,
       {{{"b.bin", testing_support::PatternBytes(700, 4), Time1, true}, "dest2/b.bin"},
        {{"c.txt", Bytes("package 3: c"), Time2, false}, "dest2/c.txt"}}}};
  return specs;
}

const std::vector<TBytes> &PackageFiles() {
  static const std::vector<TBytes> files = [] {
    std::vector<TBytes> out;
    for (const auto &spec : Packages()) {
      std::vector<TPackageItem> items;
      for (const TPlacedItem &placed : spec.Items)
        items.push_back(placed.Item);
      out.push_back(testing_support::PackageFile(items, 500));
    }
    return out;
  }();
  return files;
}

// The destination files before any run; core.dll is read-only.
const std::map<std::string, TBytes> &OldFiles() {
  static const std::map<std::string, TBytes> old = {
      {"dest1/a.txt", Bytes("old a")},
      {"dest1/core.dll", testing_support::PatternBytes(4500, 9)},
      {"dest1/shared.txt", Bytes("old shared")},
      {"dest1/keep.txt", Bytes("not in any package")},
      {"dest2/b.bin", Bytes("old b")}};
  return old;
}

constexpr auto Join = testing_support::JoinPath;

bool IsDestination(const std::string &relative) {
  return relative.rfind("dest", 0) == 0;
}

} // namespace

TFaultScenario::TFaultScenario(bool pending, int packages, bool blocked)
    : TScenarioFolders(Seed, 2) {
  if (blocked) {
    EXPECT_TRUE(testing_support::MakeFolder(Path("dest2/neu.txt")));
  }
  for (const auto &[relative, contents] : OldFiles()) {
    testing_support::WriteWholeFile(Path(relative), contents);
    EXPECT_TRUE(platform::SetDosTime(Path(relative), OldTime));
  }
  EXPECT_TRUE(
      platform::SetAttributes(Path("dest1/core.dll"), platform::faReadOnly | platform::faArchive));
  WriteHeader(77, pending ? 1 : 0);
  // The settings file as the host's set-up writes it; this also stores the
  // folders into the header.
  StoreSettings("Dateien einarbeiten");
  OldHeader = Header();
  OldSettings = testing_support::ReadWholeFile(Join(Data, std::string(admin::SettingsFileName)));

  for (std::size_t i = 0; i < static_cast<std::size_t>(packages); ++i) {
    const TPackageSpec &spec = Packages()[i];
    OldRecords.push_back(testing_support::PendingRecord(static_cast<std::uint32_t>(i + 5),
                                                        spec.FileName, spec.DestIndex, 100,
                                                        200 + static_cast<int>(i) * 10));
    testing_support::WriteWholeFile(Join(Download, spec.FileName), PackageFiles()[i]);
  }
  AppendRecords(OldRecords);
  testing_support::WriteWholeFile(DownloadRecordPath,
                                  testing_support::PatternBytes(admin::DownloadRecordSize, 3));
  OldDestinations = Destinations();
  // What the run has to find for itself.
  testing_support::ForgetSettings();
}

void ExpectSameFacts(const TFactTree &actual, const TFactTree &expected) {
  for (const auto &[file, facts] : expected) {
    auto it = actual.find(file);
    if (it == actual.end()) {
      ADD_FAILURE() << file << " missing";
      continue;
    }
    EXPECT_TRUE(it->second.Data == facts.Data) << file << ": " << it->second.Data.size()
                                               << " bytes, not the expected " << facts.Data.size();
    EXPECT_EQ(it->second.DosTime, facts.DosTime) << file << ": date";
    EXPECT_EQ(it->second.ReadOnly, facts.ReadOnly) << file << ": read-only bit";
  }
  for (const auto &[file, facts] : actual)
    if (expected.count(file) == 0)
      ADD_FAILURE() << "unexpected file " << file << " (" << facts.Data.size() << " bytes)";
}

TFactTree TFaultScenario::Destinations() const {
  TFactTree facts;
  for (const auto &[relative, data] : Snapshot()) {
    if (!IsDestination(relative))
      continue;
    TFileFacts &f = facts[relative];
    f.Data = data;
    std::uint32_t attributes = 0;
    EXPECT_TRUE(platform::GetDosTime(Path(relative), f.DosTime)) << relative;
    f.ReadOnly = platform::GetAttributes(Path(relative), attributes) &&
                 (attributes & platform::faReadOnly) != 0;
  }
  return facts;
}

TFactTree TFaultScenario::DestinationsAfter(std::size_t applied) const {
  TFactTree facts = OldDestinations;
  for (std::size_t i = 0; i < applied && i < Packages().size(); ++i)
    for (const TPlacedItem &placed : Packages()[i].Items)
      if (!placed.Target.empty())
        facts[placed.Target] = {placed.Item.Data, placed.Item.DosTime, false};
  return facts;
}

std::string TFaultScenario::Path(const std::string &relative) const {
  std::string path = Root.Path();
  for (char c : "/" + relative)
    path += (c == '/' && testing_support::RunningOnWindows()) ? '\\' : c;
  return path;
}

std::string ProgramPath(const std::string &name) {
  const std::string self = platform::ExecutablePath();
  const std::string folder = self.substr(0, self.find_last_of('\\'));
  return platform::NativePath(folder + "\\" + name +
                              (testing_support::RunningOnWindows() ? ".exe" : ""));
}

bool RunShell(std::string line) {
  // cmd.exe drops the first and the last quote of the line.
  if (testing_support::RunningOnWindows())
    line = "\"" + line + "\"";
  return std::system(line.c_str()) == 0;
}

TTree FilesBelow(const std::string &root) {
  namespace fs = std::filesystem;
  TTree tree;
  const fs::path native(platform::NativePath(root));
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(native, ec);
       !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    if (!it->is_regular_file(ec))
      continue;
    const std::string relative = fs::relative(it->path(), native, ec).generic_string();
    tree[relative] = testing_support::ReadWholeFile(it->path().string());
  }
  return tree;
}

TTree TFaultScenario::Snapshot() const {
  return FilesBelow(Root.Path());
}

void TScratchRunTest::SetUp() {
  SavedFolder = platform::GetCurrentFolder();
  ASSERT_TRUE(platform::SetCurrentFolder(Scratch.Path()));
  if (!testing_support::RunningOnWindows()) {
    SavedDriveRoot = platform::DriveRoot();
    platform::SetDriveRoot(Drives.Path());
  }
}

void TScratchRunTest::TearDown() {
  EXPECT_TRUE(platform::SetCurrentFolder(SavedFolder));
  if (!SavedDriveRoot.empty())
    platform::SetDriveRoot(SavedDriveRoot);
}

} // namespace faults
