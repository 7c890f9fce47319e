// Builds the scenario of fault_scenario.h with the program's own writers:
// settings through StoreSettings, records scrambled with the admin seed,
// packages through the package writer around archives of the test ZIP maker.
#include "tests/faults/fault_scenario.h"

#include <cstring>
#include <filesystem>
#include <system_error>

#include "admin/admin_file.h"
#include "admin/scramble.h"
#include "admin/settings.h"
#include "packages/package_check.h"
#include "packages/placement.h"
#include "platform/files.h"
#include "tests/update/zip_maker.h"

namespace faults {

namespace {

using testing_support::TZipItem;

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

TBytes FilePathId(const std::string &name, int index) {
  TBytes record(packages::FilePathEntrySize, 0);
  record[packages::FileNameLengthOffset] = static_cast<std::uint8_t>(name.size());
  std::memcpy(record.data() + packages::FileNameCharsOffset, name.data(), name.size());
  record[packages::FolderIndexOffset] = static_cast<std::uint8_t>(index);
  return record;
}

struct TPackageSpec {
  std::string FileName;
  std::uint8_t DestIndex;
  std::vector<TZipItem> Items;
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
        {"FILEPATH.ID", FilePathId("SHARED.TXT", 1), Time1, false},
        {"shared.txt", Bytes("package 2: shared"), Time2, false}}}};
  return specs;
}

const std::vector<TBytes> &PackageFiles() {
  static const std::vector<TBytes> files = [] {
    std::vector<TBytes> out;
    for (const auto &spec : Packages())
      out.push_back(packages::BuildPackageBytes(testing_support::BuildZip(spec.Items), 500));
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

TFaultScenario::TFaultScenario(bool pending) {
  Data = Folder / "data";
  Download = Folder / "download";
  Staging = Folder / "staging";
  Dest[1] = Folder / "dest1";
  Dest[2] = Folder / "dest2";
  AdminPath = Folder / "UPDADMIN.VAB";
  DownloadRecordPath = Folder / "UPDDOWNL.VAB";
  for (const std::string *folder : {&Data, &Download, &Staging, &Dest[1], &Dest[2]})
    testing_support::MakeFolder(*folder);
  for (const auto &[relative, contents] : Allowed())
    testing_support::WriteWholeFile(Path(relative), contents.front());

  std::memcpy(OldHeader.Bytes, testing_support::PatternBytes(admin::AdminHeaderSize, 77).data(),
              admin::AdminHeaderSize);
  for (int i = 1; i <= admin::DestFolderCount; ++i)
    OldHeader.SetDestFolder(i, "");
  OldHeader.SetVersionText("3.90.0");
  OldHeader.SetVersionDate(150000);
  OldHeader.SetVersionDate2(150000);
  OldHeader.SetOfferedVersionText("4.01.7");
  OldHeader.SetOfferedVersionDate(151000);
  OldHeader.SetUpdatePending(pending ? 1 : 0);
  OldHeader.SetLastResult(-77);
  admin::WriteAdminHeader(AdminPath, OldHeader, Seed);

  // The settings file as the host's set-up writes it; this also stores the
  // folders into the header.
  admin::TSettingsSource source;
  source.AdminFileName = AdminPath;
  source.DownloadFileName = DownloadRecordPath;
  source.DownloadFolder = Download;
  source.StagingFolder = Staging;
  source.AdminSeed = Seed;
  source.DialogCaption = "Dateien einarbeiten";
  source.DestFolders[1] = Dest[1];
  source.DestFolders[2] = Dest[2];
  admin::DataFolder = util::TShortString(Data);
  admin::StoreSettings(source);
  OldHeader = Header();
  OldSettings = testing_support::ReadWholeFile(Join(Data, std::string(admin::SettingsFileName)));

  TBytes file = testing_support::ReadWholeFile(AdminPath);
  for (std::size_t i = 0; i < Packages().size(); ++i) {
    const TPackageSpec &spec = Packages()[i];
    admin::TPackageRecord record;
    std::memcpy(
        record.Bytes,
        testing_support::PatternBytes(admin::PackageRecordSize, static_cast<std::uint32_t>(i + 5))
            .data(),
        admin::PackageRecordSize);
    record.SetPackageFileName(spec.FileName);
    for (int k = 1; k <= admin::PackageInfoCount; ++k) {
      record.SetInstalledInfo(k, 100 + k);
      record.SetOfferedInfo(k, 200 + k + static_cast<int>(i) * 10);
    }
    record.SetDestIndex(spec.DestIndex);
    record.SetPackageReady(1);
    record.SetInstallPending(1);
    OldRecords.push_back(record);
    admin::ScrambleBuffer(record.Bytes, admin::PackageRecordSize, Seed);
    file.insert(file.end(), record.Bytes, record.Bytes + admin::PackageRecordSize);
    testing_support::WriteWholeFile(Join(Download, spec.FileName), PackageFiles()[i]);
  }
  testing_support::WriteWholeFile(AdminPath, file);
  testing_support::WriteWholeFile(DownloadRecordPath,
                                  testing_support::PatternBytes(admin::DownloadRecordSize, 3));
  // What the run has to find for itself.
  admin::DataFolder = util::TShortString();
  std::memset(admin::Settings.Bytes, 0, sizeof admin::Settings.Bytes);
}

std::string TFaultScenario::Path(const std::string &relative) const {
  std::string path = Root();
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
  return FilesBelow(Root());
}

admin::TAdminHeader TFaultScenario::Header() const {
  admin::TAdminHeader header;
  TBytes file = testing_support::ReadWholeFile(AdminPath);
  if (file.size() >= admin::AdminHeaderSize) {
    std::memcpy(header.Bytes, file.data(), admin::AdminHeaderSize);
    admin::ScrambleBuffer(header.Bytes, admin::AdminHeaderSize, Seed);
  }
  return header;
}

std::vector<admin::TPackageRecord> TFaultScenario::Records() const {
  std::vector<admin::TPackageRecord> out;
  TBytes file = testing_support::ReadWholeFile(AdminPath);
  for (std::size_t at = admin::AdminHeaderSize; at + admin::PackageRecordSize <= file.size();
       at += admin::PackageRecordSize) {
    admin::TPackageRecord record;
    std::memcpy(record.Bytes, file.data() + at, admin::PackageRecordSize);
    admin::ScrambleBuffer(record.Bytes, admin::PackageRecordSize, Seed);
    out.push_back(record);
  }
  return out;
}

} // namespace faults
