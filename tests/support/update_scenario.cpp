// The scenario builder of update_scenario.h. Files are written with the
// program's writer; the header is read back as stored, and records are
// decoded here by hand, rather than through the program's reader (which
// repairs what it reads) that the tests check.
#include "tests/support/update_scenario.h"

#include <gtest/gtest.h>

#include <cstring>

#include "admin/admin_file.h"
#include "admin/scramble.h"
#include "admin/settings.h"
#include "packages/package_check.h"
#include "packages/placement.h"
#include "tests/support/zip_builder.h"

namespace testing_support {

namespace {

constexpr std::uint32_t FolderAttribute = 0x10;

} // namespace

std::vector<std::uint8_t> PackageFile(const std::vector<TPackageItem> &items,
                                      std::int32_t chunkSize) {
  // As plain as a packer makes them: no flags, no extra fields, no
  // attributes but the folder bit; folders never deflated.
  std::vector<TTestEntry> entries;
  for (const TPackageItem &item : items) {
    const bool folder = !item.Name.empty() && item.Name.back() == '/';
    TTestEntry entry;
    entry.Name = item.Name;
    entry.Data = item.Data;
    entry.Method = item.Deflate && !folder ? 8 : 0;
    entry.ExternalAttributes = folder ? FolderAttribute : 0;
    entry.DosDateTime = item.DosTime;
    entries.push_back(entry);
  }
  return packages::BuildPackageBytes(BuildZip(entries), chunkSize);
}

std::vector<std::uint8_t> FilePathId(const std::vector<std::pair<std::string, int>> &entries,
                                     std::uint8_t fill) {
  std::vector<std::uint8_t> out;
  for (const auto &[name, index] : entries) {
    std::vector<std::uint8_t> record(packages::FilePathEntrySize, fill);
    record[packages::FileNameLengthOffset] = static_cast<std::uint8_t>(name.size());
    std::memcpy(record.data() + packages::FileNameCharsOffset, name.data(), name.size());
    record[packages::FolderIndexOffset] = static_cast<std::uint8_t>(index);
    out.insert(out.end(), record.begin(), record.end());
  }
  return out;
}

admin::TPackageRecord PendingRecord(std::uint32_t hostSeed, std::string_view fileName,
                                    std::uint8_t destIndex, int installedBase, int offeredBase) {
  admin::TPackageRecord record;
  const auto host = PatternBytes(admin::PackageRecordSize, hostSeed);
  std::memcpy(record.Bytes, host.data(), host.size());
  record.SetPackageFileName(fileName);
  for (int k = 1; k <= admin::PackageInfoCount; ++k) {
    record.SetInstalledInfo(k, installedBase + k);
    record.SetOfferedInfo(k, offeredBase + k);
  }
  record.SetDestIndex(destIndex);
  record.SetPackageReady(1);
  record.SetInstallPending(1);
  return record;
}

admin::TPackageRecord Applied(const admin::TPackageRecord &before) {
  admin::TPackageRecord record = before;
  for (int k = 1; k <= admin::PackageInfoCount; ++k)
    record.SetInstalledInfo(k, before.OfferedInfo(k));
  record.SetInstallPending(0);
  return record;
}

admin::TAdminHeader Recorded(const admin::TAdminHeader &old, std::int32_t result,
                             const admin::TAdminHeader &stored) {
  admin::TAdminHeader header = old;
  header.SetLastResult(result);
  header.SetLastRunDate(stored.LastRunDate());
  header.SetLastRunTime(stored.LastRunTime());
  if (result == 0) {
    header.SetVersionText(old.OfferedVersionText().View());
    header.SetVersionDate(old.OfferedVersionDate());
    header.SetUpdatePending(0);
  }
  return header;
}

void ForgetSettings() {
  admin::DataFolder = util::TShortString();
  std::memset(admin::Settings.Bytes, 0, sizeof admin::Settings.Bytes);
}

TScenarioFolders::TScenarioFolders(std::int32_t adminSeed, int destCount) : AdminSeed(adminSeed) {
  Data = Root / "data";
  Download = Root / "download";
  Staging = Root / "staging";
  AdminPath = Root / "UPDADMIN.VAB";
  DownloadRecordPath = Root / "UPDDOWNL.VAB";
  for (const std::string *folder : {&Data, &Download, &Staging})
    MakeFolder(*folder);
  for (int i = 1; i <= destCount; ++i) {
    Dest[static_cast<std::size_t>(i)] = Root / ("dest" + std::to_string(i));
    MakeFolder(Dest[static_cast<std::size_t>(i)]);
  }
}

bool TScenarioFolders::WriteHeader(std::uint32_t hostSeed, std::uint8_t updatePending) const {
  admin::TAdminHeader header;
  const auto host = PatternBytes(admin::AdminHeaderSize, hostSeed);
  std::memcpy(header.Bytes, host.data(), host.size());
  for (int i = 1; i <= admin::DestFolderCount; ++i)
    header.SetDestFolder(i, "");
  header.SetVersionText("3.90.0");
  header.SetVersionDate(150000);
  header.SetVersionDate2(150000);
  header.SetOfferedVersionText("4.01.7");
  header.SetOfferedVersionDate(151000);
  header.SetUpdatePending(updatePending);
  header.SetLastResult(-77);
  return admin::WriteAdminHeader(AdminPath, header, AdminSeed);
}

std::int32_t TScenarioFolders::StoreSettings(std::string_view caption, bool blankDest1) const {
  admin::TSettingsSource source;
  source.AdminFileName = AdminPath;
  source.DownloadFileName = DownloadRecordPath;
  source.DownloadFolder = Download;
  source.StagingFolder = Staging;
  source.AdminSeed = AdminSeed;
  source.DialogCaption = std::string(caption);
  for (std::size_t i = blankDest1 ? 2 : 1; i < Dest.size(); ++i)
    source.DestFolders[i] = Dest[i];
  admin::DataFolder = util::TShortString(Data);
  return admin::StoreSettings(source);
}

bool TScenarioFolders::AppendRecords(const std::vector<admin::TPackageRecord> &records) const {
  if (ReadWholeFile(AdminPath).size() != admin::AdminHeaderSize)
    return false;
  for (std::size_t i = 0; i < records.size(); ++i)
    if (!admin::WritePackage(AdminPath, static_cast<std::int64_t>(i), records[i], AdminSeed))
      return false;
  return true;
}

admin::TAdminHeader TScenarioFolders::Header() const {
  admin::TAdminHeader header;
  EXPECT_TRUE(admin::ReadStoredHeader(AdminPath, header, AdminSeed));
  return header;
}

std::vector<admin::TPackageRecord> TScenarioFolders::StoredRecords() const {
  std::vector<admin::TPackageRecord> out;
  auto file = ReadWholeFile(AdminPath);
  for (std::size_t at = admin::AdminHeaderSize; at + admin::PackageRecordSize <= file.size();
       at += admin::PackageRecordSize) {
    admin::TPackageRecord record;
    std::memcpy(record.Bytes, file.data() + at, admin::PackageRecordSize);
    admin::ScrambleBuffer(record.Bytes, admin::PackageRecordSize, AdminSeed);
    out.push_back(record);
  }
  return out;
}

} // namespace testing_support
