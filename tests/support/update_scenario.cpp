// The scenario builder of update_scenario.h. Files are written with the
// program's writer; the header is read back as stored, and records are
// decoded here by hand, rather than through the program's reader (which
// repairs what it reads) that the tests check.
#include "tests/support/update_scenario.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "admin/admin_file.h"
#include "admin/scramble.h"
#include "admin/settings.h"
#include "packages/package_check.h"
#include "packages/placement.h"
#include "platform/files.h"
#include "tests/support/result_texts.h"
#include "tests/support/zip_builder.h"
#include "util/run_log.h"

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

TPackage FirstPackage() {
  return {"Paket1.pkg",
          1,
          {{"Liesmich.TXT", TextBytes("eins"), Time1, false},
           {"lib/", {}, Time1, false},
           {"lib/core.dll", PatternBytes(5000, 1), Time2, true},
           {"shared.txt", TextBytes("from package 1"), Time1, false}}};
}

TPackage SecondPackage(bool corrupt) {
  return {"Paket2.PKG",
          2,
          {{"extra.bin", PatternBytes(300, 2), Time2, true},
           {"FILEPATH.ID", FilePathId({{"SHARED.TXT", 1}, {"extra.bin", 0}}, 0xEE), Time1, false},
           {"shared.txt", TextBytes("from package 2"), Time2, false}},
          1,
          1,
          corrupt};
}

TPackage ThirdPackage(std::uint8_t destIndex) {
  return {"Paket3.pkg", destIndex, {{"drei.txt", TextBytes("drei"), Time1, true}}};
}

void TUpdateScenario::AddPackage(const TPackage &package) {
  const auto n = static_cast<int>(Records.size());
  admin::TPackageRecord record = PendingRecord(static_cast<std::uint32_t>(n), package.FileName,
                                               package.DestIndex, 100, 200 + n * 10);
  record.SetPackageReady(package.Ready);
  record.SetInstallPending(package.Pending);
  Records.push_back(record);
  if (package.Items.empty())
    return;
  auto bytes = PackageFile(package.Items, 97);
  if (package.Corrupt)
    bytes[packages::PackageHeaderSize + packages::ChunkHeaderSize + 5] ^= 0x20;
  ASSERT_TRUE(WriteWholeFile(JoinPath(Download, package.FileName), bytes));
}

void TUpdateScenario::Write() {
  ASSERT_TRUE(WriteHeader(99, UpdatePending));
  ASSERT_EQ(StoreSettings(Caption, BlankDest1), admin::StoreOk);
  ASSERT_TRUE(AppendRecords(Records));
  // Left-overs that a run empties out of both folders.
  ASSERT_TRUE(WriteWholeFile(JoinPath(Download, "stray.tmp"), "x"));
  ASSERT_TRUE(WriteWholeFile(JoinPath(Staging, "stray.tmp"), "x"));
}

std::vector<std::uint8_t> TUpdateScenario::Prepare(const TRunCase &c) {
  UpdatePending = c.Setup == TRunCase::NothingPending ? 0 : 1;
  BlankDest1 = c.Setup == TRunCase::HostDest1;
  for (const TPackage &package : c.Packages)
    AddPackage(package);
  Write();
  EXPECT_TRUE(c.Setup != TRunCase::NoAdminFile || platform::DeleteFile(AdminPath));
  return ReadWholeFile(AdminPath);
}

void TUpdateScenario::ExpectRecords(std::string_view states) const {
  const auto records = StoredRecords();
  ASSERT_EQ(records.size(), states.size());
  for (std::size_t i = 0; i < states.size(); ++i) {
    SCOPED_TRACE("record " + std::to_string(i));
    const admin::TPackageRecord expected = states[i] == 'A' ? Applied(Records[i]) : Records[i];
    EXPECT_EQ(0, std::memcmp(expected.Bytes, records[i].Bytes, admin::PackageRecordSize));
  }
}

const std::vector<TRunCase> &RunCases() {
  const std::vector<std::string> nothingDone = {"Nothing done: ", "UPDADMIN.VAB"};
  static const std::vector<TRunCase> cases = {
      // Unpacked flat, FILEPATH.ID followed and never copied, the later
      // package replacing the earlier one's file.
      {"three packages in file order, one applied before",
       {FirstPackage(), {"Alt.pkg", 2, {}, 1, 0}, SecondPackage(), ThirdPackage()},
       TRunCase::AsUsual,
       0,
       SuccessBody,
       "AUAA",
       {{1, "core.dll", PatternBytes(5000, 1), Time2},
        {1, "Liesmich.TXT", TextBytes("eins"), Time1},
        {1, "shared.txt", TextBytes("from package 2"), Time2},
        {2, "extra.bin", PatternBytes(300, 2), Time2},
        {3, "drei.txt", TextBytes("drei"), Time1}},
       {"Paket1.pkg: ok: ", "Unpacked 3 files: core.dll Liesmich.TXT shared.txt", "extra.bin\r\n",
        "Placed ", "Result 0: " + SuccessTitle + " | Das angeforderte Update"}},
      {"corrupt second package",
       {FirstPackage(), SecondPackage(true), ThirdPackage()},
       TRunCase::AsUsual,
       -1,
       FailureBody("-1", ChecksumReason),
       "AUU",
       {{1, "core.dll", PatternBytes(5000, 1), Time2},
        {1, "Liesmich.TXT", TextBytes("eins"), Time1},
        {1, "shared.txt", TextBytes("from package 1"), Time1}},
       {"Paket2.PKG: chunk 0 at offset 12: ", "Result -1: Fehler! | "}},
      {"no administration file",
       {ThirdPackage()},
       TRunCase::NoAdminFile,
       TRunCase::NoRun,
       "",
       nullptr,
       {},
       nothingDone},
      {"no update pending",
       {ThirdPackage()},
       TRunCase::NothingPending,
       TRunCase::NoRun,
       "",
       nullptr,
       {},
       nothingDone},
      {"destination 1 from the host's registration",
       {SecondPackage(), ThirdPackage(2)},
       TRunCase::HostDest1,
       0,
       SuccessBody,
       "AA",
       {{1, "shared.txt", TextBytes("from package 2"), Time2},
        {2, "drei.txt", TextBytes("drei"), Time1},
        {2, "extra.bin", PatternBytes(300, 2), Time2}},
       {}},
  };
  return cases;
}

void ExpectRunLeft(const TRunCase &c, const TUpdateScenario &s,
                   const std::vector<std::pair<std::string, std::string>> &boxes,
                   const std::vector<std::uint8_t> &adminBefore) {
  const bool ran = c.Result != TRunCase::NoRun;
  EXPECT_EQ(boxes.size(), ran ? 1u : 0u);
  if (ran && boxes.size() == 1) {
    EXPECT_EQ(boxes[0].first, c.Result == 0 ? SuccessTitle : "Fehler!");
    EXPECT_EQ(boxes[0].second, c.Box);
  }
  EXPECT_EQ(FileExists(s.AdminPath), c.Setup != TRunCase::NoAdminFile);
  if (!ran) {
    EXPECT_EQ(ReadWholeFile(s.AdminPath), adminBefore);
  } else {
    s.ExpectRecords(c.Records);
    const admin::TAdminHeader header = s.Header();
    EXPECT_EQ(header.LastResult(), c.Result);
    EXPECT_EQ(header.UpdatePending(), c.Result == 0 ? 0 : 1);
    EXPECT_EQ(header.VersionText().Str(), c.Result == 0 ? "4.01.7" : "3.90.0");
    EXPECT_EQ(header.VersionDate(), c.Result == 0 ? 151000 : 150000);
    EXPECT_GT(header.LastRunDate(), 150000);
    EXPECT_EQ(header.DestFolder(1).Str(), s.Dest[1]);
  }

  for (int dest = 1; dest <= 3; ++dest) {
    SCOPED_TRACE("destination " + std::to_string(dest));
    std::vector<std::string> expected;
    for (const TPlacedFile &f : c.Placed) {
      if (f.Dest != dest)
        continue;
      expected.push_back(f.Name);
      const std::string path = JoinPath(s.Dest[static_cast<std::size_t>(dest)], f.Name);
      EXPECT_EQ(ReadWholeFile(path), f.Data) << f.Name;
      std::uint32_t time = 0;
      EXPECT_TRUE(platform::GetDosTime(path, time) && time == f.DosTime) << f.Name;
    }
    std::vector<std::string> names = FileNames(s.Dest[static_cast<std::size_t>(dest)]);
    std::sort(names.begin(), names.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(names, expected);
  }
  // A run that showed its outcome empties both folders; one that did nothing
  // leaves them as they were.
  std::vector<std::string> download, staging;
  if (!ran) {
    for (const TPackage &p : c.Packages)
      download.push_back(p.FileName);
    download.push_back("stray.tmp");
    staging.push_back("stray.tmp");
  }
  std::vector<std::string> names = FileNames(s.Download);
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, download);
  EXPECT_EQ(FileNames(s.Staging), staging);

  const std::string log = ReadWholeText(JoinPath(s.Data, "ZRKUPD.LOG"));
  for (const std::string &part : c.LogSays)
    EXPECT_NE(log.find(part), std::string::npos) << part << "\n" << log;
  // No result code for a run that produced none.
  EXPECT_EQ(log.find("Result ") == std::string::npos, !ran) << log;
  EXPECT_EQ(log.find("\n"), log.find("\r\n") + 1) << "CR LF line ends";
  EXPECT_EQ(log.rfind(runlog::BlockMark), 0u) << "one block per run";
}

} // namespace testing_support
