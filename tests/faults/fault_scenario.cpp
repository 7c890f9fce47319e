// Builds the scenario of fault_scenario.h with the shared scenario builder:
// its files, package records and the contents each destination file may hold.
#include "tests/faults/fault_scenario.h"

#include <filesystem>
#include <system_error>

#include "admin/settings.h"
#include "platform/files.h"
#include "tests/support/zip_builder.h"

namespace faults {

namespace {

using testing_support::TPackageItem;

TBytes Bytes(const std::string &text) {
  return TBytes(text.begin(), text.end());
}

const std::uint32_t Time1 = testing_support::DosDateTime(2019, 3, 14, 9, 26, 52);
const std::uint32_t Time2 = testing_support::DosDateTime(2021, 11, 2, 17, 5, 10);

// Larger than the copy buffer, so that copying it takes more than one write.
const TBytes &Core() {
  static const TBytes bytes = testing_support::PatternBytes(6000, 1);
  return bytes;
}

struct TPackageSpec {
  std::string FileName;
  std::uint8_t DestIndex;
  std::vector<TPackageItem> Items;
};

const std::vector<TPackageSpec> &Packages() {
  static const std::vector<TPackageSpec> specs = {
      {"Paket1.pkg",
       1,
       {{"a.txt", Bytes("package 1: a"), Time1, false},
        {"core.dll", Core(), Time2, true},
        {"shared.txt", Bytes("package 1: shared"), Time1, false}}},
      {"Paket2.pkg",
       2,
       {{"b.bin", testing_support::PatternBytes(300, 2), Time2, true},
        {"FILEPATH.ID", testing_support::FilePathId({{"SHARED.TXT", 1}}), Time1, false},
        {"shared.txt", Bytes("package 2: shared"), Time2, false}}}};
  return specs;
}

const std::vector<TBytes> &PackageFiles() {
  static const std::vector<TBytes> files = [] {
    std::vector<TBytes> out;
    for (const auto &spec : Packages())
      out.push_back(testing_support::PackageFile(spec.Items, 500));
    return out;
  }();
  return files;
}

std::string Join(const std::string &folder, const std::string &name) {
  return folder + (testing_support::RunningOnWindows() ? "\\" : "/") + name;
}

} // namespace

const std::map<std::string, std::vector<TBytes>> &TFaultScenario::Allowed() {
  static const std::map<std::string, std::vector<TBytes>> allowed = {
      {"dest1/a.txt", {Bytes("old a"), Bytes("package 1: a")}},
      {"dest1/core.dll", {testing_support::PatternBytes(4500, 9), Core()}},
      {"dest1/shared.txt",
       {Bytes("old shared"), Bytes("package 1: shared"), Bytes("package 2: shared")}},
      {"dest1/keep.txt", {Bytes("not in any package")}},
      {"dest2/b.bin", {Bytes("old b"), testing_support::PatternBytes(300, 2)}}};
  return allowed;
}

const std::map<std::string, TBytes> &TFaultScenario::Final() {
  static const std::map<std::string, TBytes> final = {
      {"dest1/a.txt", Bytes("package 1: a")},
      {"dest1/core.dll", Core()},
      {"dest1/shared.txt", Bytes("package 2: shared")},
      {"dest1/keep.txt", Bytes("not in any package")},
      {"dest2/b.bin", testing_support::PatternBytes(300, 2)}};
  return final;
}

const std::set<std::string> &TFaultScenario::PlacedBy(int package) {
  static const std::set<std::string> first = {"dest1/a.txt", "dest1/core.dll", "dest1/shared.txt"};
  static const std::set<std::string> second = {"dest2/b.bin", "dest1/shared.txt"};
  return package == 1 ? first : second;
}

TFaultScenario::TFaultScenario(bool pending) : TScenarioFolders(Seed, 2) {
  for (const auto &[relative, contents] : Allowed())
    testing_support::WriteWholeFile(Path(relative), contents.front());
  WriteHeader(77, pending ? 1 : 0);
  // The settings file as the host's set-up writes it; this also stores the
  // folders into the header.
  StoreSettings("Dateien einarbeiten");
  OldHeader = Header();
  OldSettings = testing_support::ReadWholeFile(Join(Data, std::string(admin::SettingsFileName)));

  for (std::size_t i = 0; i < Packages().size(); ++i) {
    const TPackageSpec &spec = Packages()[i];
    OldRecords.push_back(testing_support::PendingRecord(static_cast<std::uint32_t>(i + 5),
                                                        spec.FileName, spec.DestIndex, 100,
                                                        200 + static_cast<int>(i) * 10));
    testing_support::WriteWholeFile(Join(Download, spec.FileName), PackageFiles()[i]);
  }
  AppendRecords(OldRecords);
  testing_support::WriteWholeFile(DownloadRecordPath,
                                  testing_support::PatternBytes(admin::DownloadRecordSize, 3));
  // What the run has to find for itself.
  testing_support::ForgetSettings();
}

std::string TFaultScenario::Path(const std::string &relative) const {
  std::string path = Root.Path();
  for (char c : "/" + relative)
    path += (c == '/' && testing_support::RunningOnWindows()) ? '\\' : c;
  return path;
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

} // namespace faults
