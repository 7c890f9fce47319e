// Fuzz target for the administration file: the input is the whole file (header
// and package records, scrambled with the default AdminSeed). It goes through
// the run's reads and writes: ReadAdminHeader, the ReadNextPackage loop with
// RewritePackage on every pending record, WriteAdminHeader, RecordRunResult,
// and ReadDownloadRecord on the same bytes.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "admin/admin_file.h"
#include "admin/scramble.h"
#include "admin/settings.h"
#include "fuzz/fuzz_support.h"
#include "platform/files.h"
#include "util/text.h"

namespace {

using fuzz::Require;
using namespace admin;

constexpr char AdminPath[] = "C:\\DATA\\UPDADMIN.VAB";
constexpr std::int32_t Seed = DefaultAdminSeed;

std::vector<std::uint8_t> Scrambled(const std::uint8_t *bytes, std::size_t size) {
  std::vector<std::uint8_t> out(bytes, bytes + size);
  ScrambleBuffer(out.data(), static_cast<std::int32_t>(size), Seed);
  return out;
}

bool SameHeader(const TAdminHeader &a, const TAdminHeader &b) {
  return std::memcmp(a.Bytes, b.Bytes, AdminHeaderSize) == 0;
}

void CheckHeaderReadBack(const TAdminHeader &expected, const char *what) {
  TAdminHeader again;
  Require(ReadAdminHeader(AdminPath, again, Seed), what);
  Require(SameHeader(again, expected), what);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  fuzz::UseScratchDrives();
  fuzz::MakeFolder("C:\\DATA");
  fuzz::PutFile(AdminPath, data, size);
  Settings = TUpdateSettings();
  Settings.SetAdminFileName(AdminPath);
  Settings.SetAdminSeed(Seed);

  const bool wholeHeader = size >= AdminHeaderSize;
  // What the file is expected to hold after the run.
  std::vector<std::uint8_t> expected(data, data + size);

  TAdminHeader header;
  bool read = ReadAdminHeader(AdminPath, header, Seed);
  Require(read == wholeHeader, "ReadAdminHeader: result does not follow the header's length");
  if (!read) {
    TAdminHeader zeros;
    Require(SameHeader(header, zeros), "ReadAdminHeader: a failed read left data behind");
  } else {
    TAdminHeader plain;
    std::memcpy(plain.Bytes, data, AdminHeaderSize);
    ScrambleBuffer(plain.Bytes, static_cast<std::int32_t>(AdminHeaderSize), Seed);
    Require(!util::TrimText(header.DownloadFolder()).Empty() &&
                !util::TrimText(header.StagingFolder()).Empty(),
            "ReadAdminHeader: a blank folder was not filled in");
    Require(header.VersionDate() >= -1 && header.VersionDate2() >= -1,
            "ReadAdminHeader: the version fix-up did not run");
    for (int i = 1; i <= DestFolderCount; ++i)
      Require(header.DestFolder(i) == plain.DestFolder(i), "ReadAdminHeader: a folder changed");
    if (plain.VersionDate() < -1 || plain.VersionDate2() < -1) {
      std::vector<std::uint8_t> fixed = Scrambled(header.Bytes, AdminHeaderSize);
      std::copy(fixed.begin(), fixed.end(), expected.begin());
    }
    // The standard folder normalisation of every entry the run uses.
    for (int i = 1; i <= DestFolderCount; ++i)
      util::ExtractFolder(util::AddBackslash(util::TrimText(header.DestFolder(i))));
    util::ExtractFolder(util::AddBackslash(util::TrimText(header.StagingFolder())));
  }

  // The package loop of a run: apply (here: only rewrite) every pending record.
  std::size_t records = 0;
  {
    platform::TFile file;
    bool first = true;
    TPackageRecord record;
    while (ReadNextPackage(file, AdminPath, record, Seed, first)) {
      std::size_t at = AdminHeaderSize + records * PackageRecordSize;
      ++records;
      std::vector<std::uint8_t> plain = Scrambled(&expected[at], PackageRecordSize);
      Require(std::equal(plain.begin(), plain.end(), record.Bytes),
              "ReadNextPackage: the record differs from the file's");
      util::TrimText(record.PackageFileName());
      if (record.PackageReady() == 0 || record.InstallPending() == 0)
        continue;
      TPackageRecord before = record;
      Require(RewritePackage(file, record, Seed), "RewritePackage failed on a record just read");
      for (std::size_t i = 0; i < PackageRecordSize; ++i) {
        bool named = i >= InstalledInfoOffset && i <= InstallPendingOffset;
        Require(named || record.Bytes[i] == before.Bytes[i],
                "RewritePackage changed a byte it does not own");
      }
      for (int k = 1; k <= PackageInfoCount; ++k)
        Require(record.InstalledInfo(k) == before.OfferedInfo(k) &&
                    record.OfferedInfo(k) == before.OfferedInfo(k),
                "RewritePackage: InstalledInfo is not OfferedInfo");
      Require(record.InstallPending() == 0, "RewritePackage: still pending");
      std::vector<std::uint8_t> written = Scrambled(record.Bytes, PackageRecordSize);
      std::copy(written.begin(), written.end(), expected.begin() + static_cast<std::ptrdiff_t>(at));
    }
    Require(!first, "ReadNextPackage did not take the first call");
    TPackageRecord zeros;
    Require(std::memcmp(record.Bytes, zeros.Bytes, PackageRecordSize) == 0,
            "ReadNextPackage: the end left data in the record");
  }
  std::size_t whole = wholeHeader ? (size - AdminHeaderSize) / PackageRecordSize : 0;
  Require(records == whole, "ReadNextPackage: not every whole record delivered");

  std::vector<std::uint8_t> after;
  Require(fuzz::GetFile(AdminPath, after) && after == expected,
          "the file holds other bytes than the reads and rewrites explain");

  if (read) {
    // Writing the header back replaces exactly the header.
    Require(WriteAdminHeader(AdminPath, header, Seed), "WriteAdminHeader failed");
    CheckHeaderReadBack(header, "WriteAdminHeader: the header does not read back");
    Require(fuzz::GetFile(AdminPath, after) && after.size() == size &&
                std::equal(after.begin() + AdminHeaderSize, after.end(),
                           expected.begin() + AdminHeaderSize),
            "WriteAdminHeader changed the package records");

    std::int32_t result = size % 2 == 0 ? 0 : -2;
    TAdminHeader stamped = header;
    RecordRunResult(stamped, result);
    Require(stamped.LastResult() == result, "RecordRunResult: LastResult not set");
    if (result == 0)
      Require(stamped.UpdatePending() == 0 &&
                  stamped.VersionText() == header.OfferedVersionText() &&
                  stamped.VersionDate() == header.OfferedVersionDate(),
              "RecordRunResult: success did not install the offered version");
    else
      Require(stamped.UpdatePending() == header.UpdatePending() &&
                  stamped.VersionText() == header.VersionText(),
              "RecordRunResult: a failure changed the version");
    // An offered date below -1 is set back by the next read's version fix-up.
    if (stamped.VersionDate() >= -1)
      CheckHeaderReadBack(stamped, "RecordRunResult: the header does not read back");
  }

  // The same bytes as a download record.
  TDownloadRecord download;
  bool downloaded = ReadDownloadRecord(AdminPath, download, Seed);
  Require(downloaded == (size >= DownloadRecordSize), "ReadDownloadRecord: wrong result");
  Require(fuzz::GetFile(AdminPath, after), "the file cannot be read back");
  for (std::size_t i = 0; i < DownloadRecordSize; ++i) {
    std::uint8_t stored = i < after.size() ? after[i] : 0;
    Require(download.Bytes[i] == (stored ^ ScrambleKey(static_cast<std::int64_t>(i), Seed)),
            "ReadDownloadRecord: a byte is not the unscrambled file byte");
  }
  return 0;
}
