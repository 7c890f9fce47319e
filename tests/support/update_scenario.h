// Builds an update's data folder as the host leaves it before it starts the
// program, with the program's own writers: the administration header, the
// settings through StoreSettings, scrambled package records, and package
// files around archives of the test ZIP writer.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "admin/admin_records.h"
#include "tests/support/test_support.h"
#include "tests/support/zip_builder.h"

namespace testing_support {

// A file of a package's archive, or a folder item when the name ends in "/".
struct TPackageItem {
  std::string Name; // "/" separates folders
  std::vector<std::uint8_t> Data;
  std::uint32_t DosTime = 0; // DOS date in the high word, time in the low word
  bool Deflate = false;
};

// The archive of `items` cut into a package file's chunks of `chunkSize`.
std::vector<std::uint8_t> PackageFile(const std::vector<TPackageItem> &items,
                                      std::int32_t chunkSize);

// FILEPATH.ID: an entry per (file name, folder index), `fill` in the unused
// bytes.
std::vector<std::uint8_t> FilePathId(const std::vector<std::pair<std::string, int>> &entries,
                                     std::uint8_t fill = 0);

// A record of a downloaded package waiting to be applied, over host bytes
// PatternBytes(hostSeed): installed infos installedBase + k, offered infos
// offeredBase + k (k = 1..PackageInfoCount).
admin::TPackageRecord PendingRecord(std::uint32_t hostSeed, std::string_view fileName,
                                    std::uint8_t destIndex, int installedBase, int offeredBase);

// `before` as RewritePackage leaves it.
admin::TPackageRecord Applied(const admin::TPackageRecord &before);
// The header a run that ended with `result` writes over `old`, stamped with
// the date and time that `stored` carries.
admin::TAdminHeader Recorded(const admin::TAdminHeader &old, std::int32_t result,
                             const admin::TAdminHeader &stored);

// Drops the settings StoreSettings left in memory, so that an in-process run
// has to find them for itself.
void ForgetSettings();

// One scenario's folders below a fresh scratch folder. Data, download,
// staging and destinations 1 to `destCount` are created; the administration
// file and the download record lie in Root.
class TScenarioFolders {
public:
  TScenarioFolders(std::int32_t adminSeed, int destCount);

  TTempFolder Root;
  std::string Data, Download, Staging, AdminPath, DownloadRecordPath;
  std::array<std::string, 4> Dest; // 1..destCount
  const std::int32_t AdminSeed;

  // The header alone, as the host's set-up writes it before the settings:
  // host bytes PatternBytes(hostSeed), version 3.90.0 installed and 4.01.7
  // offered, last result -77, destination folders blank.
  bool WriteHeader(std::uint32_t hostSeed, std::uint8_t updatePending) const;
  // The settings file through StoreSettings, as the host's set-up writes it;
  // that also puts the folders into the header. DataFolder stays set.
  std::int32_t StoreSettings(std::string_view caption, bool blankDest1 = false) const;
  // The records behind the header, scrambled; false unless the file held the
  // header alone.
  bool AppendRecords(const std::vector<admin::TPackageRecord> &records) const;

  // The administration file as it is now, decoded. A file shorter than a
  // header fails the test and gives a blank header.
  admin::TAdminHeader Header() const;
  std::vector<admin::TPackageRecord> StoredRecords() const;
};

// A downloaded package: its record and, unless it has no items, its file.
struct TPackage {
  std::string FileName;
  std::uint8_t DestIndex = 1;
  std::vector<TPackageItem> Items;
  std::uint8_t Ready = 1;
  std::uint8_t Pending = 1;
  bool Corrupt = false;
};

inline const std::uint32_t Time1 = DosDateTime(2019, 3, 14, 9, 26, 52);
inline const std::uint32_t Time2 = DosDateTime(2021, 11, 2, 17, 5, 10);
// Paket1.pkg for destination 1 (a folder item, a deflated file in it),
// Paket2.PKG for 2 (its FILEPATH.ID sends shared.txt to 1), Paket3.pkg.
TPackage FirstPackage();
TPackage SecondPackage(bool corrupt = false);
TPackage ThirdPackage(std::uint8_t destIndex = 3);

struct TRunCase;

// The folders with the packages added, as the host leaves them.
class TUpdateScenario : public TScenarioFolders {
public:
  explicit TUpdateScenario(std::int32_t adminSeed) : TScenarioFolders(adminSeed, 3) {}
  virtual ~TUpdateScenario() = default;

  std::vector<admin::TPackageRecord> Records;
  std::string Caption = "Dateien einarbeiten";
  bool BlankDest1 = false;
  std::uint8_t UpdatePending = 1;

  void AddPackage(const TPackage &package);
  // Header, settings (through StoreSettings, as the host's set-up does),
  // records, and a stray file in the download and the staging folder.
  virtual void Write();
  // The packages and the folders of `c`, written; the administration file
  // as it is then.
  std::vector<std::uint8_t> Prepare(const TRunCase &c);
  // The stored records against Records, a letter each: 'A' applied (and
  // nothing else changed), 'U' unchanged.
  void ExpectRecords(std::string_view states) const;
};

// A file that a run leaves in destination `Dest`.
struct TPlacedFile {
  int Dest;
  std::string Name;
  std::vector<std::uint8_t> Data;
  std::uint32_t DosTime;
};

// An update run that both runners make, in-process and as the program under
// Wine, and what it leaves behind.
struct TRunCase {
  enum TSetup { AsUsual, NoAdminFile, NothingPending, HostDest1 };
  const char *Name;
  std::vector<TPackage> Packages;
  TSetup Setup;
  std::int32_t Result;             // NoRun: nothing done, no box
  std::string Box;                 // the box's text
  const char *Records;             // per record: 'A' applied, 'U' unchanged
  std::vector<TPlacedFile> Placed; // every file of destinations 1 to 3
  std::vector<std::string> LogSays;
  static constexpr std::int32_t NoRun = 1;
};
const std::vector<TRunCase> &RunCases();
// The files, the records, the folders and the run log that the run of `c`
// left in `s`, and its message boxes (caption, text).
void ExpectRunLeft(const TRunCase &c, const TUpdateScenario &s,
                   const std::vector<std::pair<std::string, std::string>> &boxes,
                   const std::vector<std::uint8_t> &adminBefore);

} // namespace testing_support
