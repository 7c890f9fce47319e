// The administration file and the download record: record layouts, reads,
// in-place rewrites, and proof that bytes we do not interpret survive.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "admin/admin_file.h"
#include "admin/scramble.h"
#include "admin/settings.h"
#include "platform/fault.h"
#include "tests/admin/admin_test_bytes.h"
#include "tests/support/fault_walk.h"
#include "tests/support/test_support.h"
#include "util/dates.h"

namespace {

using admin_test::Bytes;
using admin_test::BytesOf;
using testing_support::PatternBytes;
using testing_support::ReadWholeFile;
using testing_support::WriteWholeFile;

constexpr std::int32_t Seed = 1658203;

Bytes Scrambled(const Bytes &bytes) {
  return admin_test::Scrambled(bytes, Seed);
}

Bytes Slice(const Bytes &b, std::size_t from, std::size_t count) {
  return Bytes(b.begin() + static_cast<std::ptrdiff_t>(from),
               b.begin() + static_cast<std::ptrdiff_t>(from + count));
}

// A header full of pattern bytes, with dates the version fix-up leaves alone.
admin::TAdminHeader PatternHeader(std::uint32_t seed = 11) {
  auto h = admin_test::Patterned<admin::TAdminHeader>(seed);
  h.SetVersionDate(153436);
  h.SetVersionDate2(util::BadDate);
  h.SetDownloadFolder("D:\\DOWN");
  h.SetStagingFolder("D:\\STAGE");
  h.SetOfferedVersionText("3.90.1");
  h.SetOfferedVersionDate(160000);
  h.SetVersionText("3.70.2");
  h.SetUpdatePending(1);
  return h;
}

constexpr auto PatternRecord = admin_test::Patterned<admin::TPackageRecord>;

// Scrambled header, then each record scrambled on its own, then `tail`.
Bytes AdminFile(const admin::TAdminHeader &h, const std::vector<admin::TPackageRecord> &records,
                const Bytes &tail = {}) {
  Bytes file = Scrambled(BytesOf(h));
  for (const auto &r : records) {
    Bytes s = Scrambled(BytesOf(r));
    file.insert(file.end(), s.begin(), s.end());
  }
  file.insert(file.end(), tail.begin(), tail.end());
  return file;
}

std::vector<admin::TPackageRecord> ThreeRecords() {
  return {PatternRecord(100), PatternRecord(101), PatternRecord(102)};
}

// The program's loop over the package records of one file.
struct TRecordReader {
  explicit TRecordReader(std::string path) : Path(std::move(path)) {}
  std::string Path;
  platform::TFile File;
  bool First = true;
  admin::TPackageRecord Record;

  bool Next() { return admin::ReadNextPackage(File, Path, Record, Seed, First); }
};

class AdminFileTest : public ::testing::Test {
protected:
  void TearDown() override { platform::fault::Disarm(); }
  testing_support::TTempFolder Folder;
  std::string Path = Folder / "UPDADMIN.VAB";
};

// ---------------------------------------------------------------------------
// Layouts

TEST(AdminRecords, FieldsSitAtTheirOffsetsInLittleEndian) {
  admin::TAdminHeader h;
  h.SetVersionDate(0x01020304);
  h.SetLastRunTime(-2);
  h.SetDestFolder(20, "AB");
  h.SetOfferedVersionText("X");
  EXPECT_EQ(Slice(BytesOf(h), 5653, 4), (Bytes{4, 3, 2, 1}));
  EXPECT_EQ(Slice(BytesOf(h), 5702, 4), (Bytes{0xFE, 0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(Slice(BytesOf(h), 19 * 256, 3), (Bytes{2, 'A', 'B'}));
  EXPECT_EQ(Slice(BytesOf(h), 5720, 2), (Bytes{1, 'X'}));
  EXPECT_EQ(h.LastRunTime(), -2);
  EXPECT_EQ(h.DestFolder(20), "AB");
  EXPECT_EQ(h.DestFolder(0), "");
  EXPECT_EQ(h.DestFolder(21), "");

  admin::TPackageRecord r;
  r.SetInstalledInfo(3, 7);
  r.SetOfferedInfo(1, 0x0A0B0C0D);
  r.SetPackageFileName("P.CRC");
  EXPECT_EQ(r.Bytes[171], 7);
  EXPECT_EQ(Slice(BytesOf(r), 175, 4), (Bytes{0x0D, 0x0C, 0x0B, 0x0A}));
  EXPECT_EQ(Slice(BytesOf(r), 21, 6), (Bytes{5, 'P', '.', 'C', 'R', 'C'}));
  EXPECT_EQ(r.OfferedInfo(4), 0);

  // The same fields as stored: bytes worked out by hand from the layout and
  // the key stream, so that writer and reader cannot share a fault unseen.
  const Bytes file = admin::AdminFileBytes(h, {r}, Seed);
  ASSERT_EQ(file.size(), 6103u);
  const struct {
    std::size_t At;
    Bytes Stored;
  } stored[] = {{0, {0x4F}},
                {4864, {0xB6, 0xFD, 0x8E}},
                {5653, {0xFC, 0x02, 0x12, 0x21}},
                {5702, {0x7D, 0x6C, 0x5C, 0x54}},
                {5720, {0x75, 0xDC}},
                {5808, {0x11}},
                {5809, {0x4F}}, // each record's key starts anew
                {5830, {0x6D, 0x28, 0xAE, 0xD3, 0xF2, 0xEB}},
                {5980, {0x47}},
                {5984, {0x75, 0x8C, 0x9A, 0xAB}}};
  for (const auto &s : stored)
    EXPECT_EQ(Slice(file, s.At, s.Stored.size()), s.Stored) << s.At;
}

TEST(AdminRecords, TextsAreCutToCapacityAndKeepTheBytesBehind) {
  admin::TAdminHeader h;
  std::memset(h.Bytes, 'z', sizeof h.Bytes);
  h.SetVersionText("12345678901234567890123");
  EXPECT_EQ(h.VersionText(), "12345678901234567890");
  EXPECT_EQ(h.Bytes[5653], 'z'); // the next field
  h.SetVersionText("ab");
  EXPECT_EQ(h.VersionText(), "ab");
  EXPECT_EQ(h.Bytes[5632 + 3], '3'); // behind the text, not cleared
  // A damaged length byte never reaches beyond the field or the record.
  h.Bytes[5720] = 255;
  EXPECT_EQ(h.OfferedVersionText().Length(), 20u);
  admin::TPackageRecord r;
  r.Bytes[21] = 200;
  EXPECT_EQ(r.PackageFileName().Length(), admin::PackageFileNameCapacity);
}

// ---------------------------------------------------------------------------
// ReadAdminHeader / WriteAdminHeader

TEST_F(AdminFileTest, ReadAdminHeaderDeliversThePlainHeader) {
  admin::TAdminHeader original = PatternHeader();
  Bytes file = AdminFile(original, ThreeRecords());
  ASSERT_TRUE(WriteWholeFile(Path, file));
  admin::TAdminHeader h;
  EXPECT_TRUE(admin::ReadAdminHeader(Path, h, Seed));
  EXPECT_EQ(BytesOf(h), BytesOf(original));
  EXPECT_EQ(ReadWholeFile(Path), file);
}

TEST_F(AdminFileTest, BlankFoldersReadAsDefaultsWithoutChangingTheFile) {
  admin::TAdminHeader original = PatternHeader();
  original.SetDownloadFolder("   ");
  original.SetStagingFolder("");
  Bytes file = AdminFile(original, {});
  ASSERT_TRUE(WriteWholeFile(Path, file));
  admin::TAdminHeader h;
  EXPECT_TRUE(admin::ReadAdminHeader(Path, h, Seed));
  EXPECT_EQ(h.DownloadFolder(), "C:\\TEST");
  EXPECT_EQ(h.StagingFolder(), "C:\\HELP");
  EXPECT_EQ(ReadWholeFile(Path), file);
}

TEST_F(AdminFileTest, MissingFileGivesZerosAndCreatesNothing) {
  admin::TAdminHeader h = PatternHeader();
  EXPECT_FALSE(admin::ReadAdminHeader(Path, h, Seed));
  EXPECT_EQ(BytesOf(h), Bytes(admin::AdminHeaderSize, 0));
  EXPECT_FALSE(testing_support::FileExists(Path));
}

TEST_F(AdminFileTest, ShortHeaderIsRefusedAndNeverWrittenBack) {
  // Raw bytes that, taken as a plain header, hold a version date below -1.
  Bytes file = Scrambled(BytesOf(PatternHeader()));
  file.resize(admin::AdminHeaderSize - 1);
  const std::uint8_t negative[] = {0xFE, 0xFF, 0xFF, 0xFF};
  std::memcpy(&file[admin::VersionDateOffset], negative, 4);
  ASSERT_TRUE(WriteWholeFile(Path, file));
  admin::TAdminHeader h;
  EXPECT_FALSE(admin::ReadAdminHeader(Path, h, Seed));
  EXPECT_EQ(BytesOf(h), Bytes(admin::AdminHeaderSize, 0));
  EXPECT_EQ(ReadWholeFile(Path), file);
}

TEST_F(AdminFileTest, VersionDateBelowThresholdIsSetBackAndStored) {
  for (int which : {1, 2}) {
    SCOPED_TRACE(which);
    admin::TAdminHeader original = PatternHeader();
    if (which == 1)
      original.SetVersionDate(-5);
    else
      original.SetVersionDate2(-2147483647 - 1);
    std::vector<admin::TPackageRecord> records = ThreeRecords();
    Bytes file = AdminFile(original, records);
    ASSERT_TRUE(WriteWholeFile(Path, file));

    admin::TAdminHeader h;
    EXPECT_TRUE(admin::ReadAdminHeader(Path, h, Seed));
    admin::TAdminHeader expected = original;
    expected.SetVersionDate(-1);
    expected.SetVersionDate2(-1);
    expected.SetVersionText("3.83.0");
    expected.SetVersionNumber(383);
    EXPECT_EQ(h.VersionDate(), -1);
    EXPECT_EQ(h.VersionNumber(), 383);
    EXPECT_EQ(BytesOf(h), BytesOf(expected));
    EXPECT_EQ(ReadWholeFile(Path), AdminFile(expected, records));
  }
}

TEST_F(AdminFileTest, WriteAdminHeaderKeepsRecordsLengthAndCallerBuffer) {
  std::vector<admin::TPackageRecord> records = ThreeRecords();
  ASSERT_TRUE(WriteWholeFile(Path, AdminFile(PatternHeader(1), records, Bytes{9, 9})));
  admin::TAdminHeader h = PatternHeader(2);
  Bytes before = BytesOf(h);
  EXPECT_TRUE(admin::WriteAdminHeader(Path, h, Seed));
  EXPECT_EQ(BytesOf(h), before);
  EXPECT_EQ(ReadWholeFile(Path), AdminFile(h, records, Bytes{9, 9}));
}

TEST_F(AdminFileTest, WriteAdminHeaderCreatesAHeaderOnlyFile) {
  admin::TAdminHeader h = PatternHeader();
  EXPECT_TRUE(admin::WriteAdminHeader(Path, h, Seed));
  Bytes file = ReadWholeFile(Path);
  EXPECT_EQ(file.size(), admin::AdminHeaderSize);
  EXPECT_EQ(file, Scrambled(BytesOf(h)));
  EXPECT_FALSE(admin::WriteAdminHeader(Folder / "missing\\sub\\X.VAB", h, Seed));
}

TEST_F(AdminFileTest, WholeFileAndSingleRecordWritesLayRecordsInPlace) {
  std::vector<admin::TPackageRecord> records = ThreeRecords();
  const admin::TAdminHeader h = PatternHeader();
  EXPECT_EQ(admin::AdminFileBytes(h, records, Seed), AdminFile(h, records));
  // A longer file before leaves nothing behind.
  ASSERT_TRUE(WriteWholeFile(Path, AdminFile(PatternHeader(2), records, Bytes(500, 7))));
  EXPECT_TRUE(admin::WriteAdminFile(Path, h, {records[0]}, Seed));
  EXPECT_EQ(ReadWholeFile(Path), AdminFile(h, {records[0]}));
  // Index 1 appends; index 0 replaces.
  EXPECT_TRUE(admin::WritePackage(Path, 1, records[1], Seed));
  EXPECT_TRUE(admin::WritePackage(Path, 0, records[2], Seed));
  EXPECT_EQ(ReadWholeFile(Path), AdminFile(h, {records[2], records[1]}));
  EXPECT_FALSE(admin::WritePackage(Path, -1, records[0], Seed));
  EXPECT_FALSE(admin::WritePackage(Folder / "missing.vab", 0, records[0], Seed));
  EXPECT_FALSE(admin::WriteAdminFile(Folder / "missing\\sub\\X.VAB", h, records, Seed));
}

TEST_F(AdminFileTest, FailedHeaderWriteIsReported) {
  admin::TAdminHeader h = PatternHeader();
  ASSERT_TRUE(WriteWholeFile(Path, AdminFile(h, {})));
  const std::uint64_t operations = testing_support::CountFaultOperations(
      [&] { ASSERT_TRUE(admin::WriteAdminHeader(Path, h, Seed)); });
  for (bool diskFull : {false, true}) {
    SCOPED_TRACE(diskFull);
    platform::fault::Arm(operations, diskFull); // the write itself
    EXPECT_FALSE(admin::WriteAdminHeader(Path, h, Seed));
    platform::fault::Disarm();
  }
}

// ---------------------------------------------------------------------------
// Package records

TEST_F(AdminFileTest, PackagesComeInFileOrderThenFalse) {
  std::vector<admin::TPackageRecord> records = ThreeRecords();
  ASSERT_TRUE(WriteWholeFile(Path, AdminFile(PatternHeader(), records)));
  TRecordReader reader{Path};
  for (const auto &expected : records) {
    ASSERT_TRUE(reader.Next());
    EXPECT_FALSE(reader.First);
    EXPECT_EQ(BytesOf(reader.Record), BytesOf(expected));
  }
  EXPECT_FALSE(reader.Next());
  EXPECT_EQ(BytesOf(reader.Record), Bytes(admin::PackageRecordSize, 0));
  EXPECT_TRUE(reader.File.IsOpen());
}

TEST_F(AdminFileTest, RewriteChangesOnlyTheInstalledStateAndReadingGoesOn) {
  std::vector<admin::TPackageRecord> records = ThreeRecords();
  records[1].SetInstallPending(1);
  Bytes before = AdminFile(PatternHeader(), records);
  ASSERT_TRUE(WriteWholeFile(Path, before));
  {
    TRecordReader reader{Path};
    ASSERT_TRUE(reader.Next());
    ASSERT_TRUE(reader.Next());
    ASSERT_TRUE(admin::RewritePackage(reader.File, reader.Record, Seed));
    EXPECT_EQ(reader.Record.InstallPending(), 0);
    ASSERT_TRUE(reader.Next());
    EXPECT_EQ(BytesOf(reader.Record), BytesOf(records[2]));
  }

  Bytes after = ReadWholeFile(Path);
  ASSERT_EQ(after.size(), before.size());
  std::size_t start = admin::AdminHeaderSize + admin::PackageRecordSize;
  // Header and the other records: byte for byte as before.
  EXPECT_EQ(Slice(after, 0, start), Slice(before, 0, start));
  EXPECT_EQ(Slice(after, start + 294, 294), Slice(before, start + 294, 294));
  // Record 1: plain bytes 163..174 now equal 175..186, byte 187 is 0, the rest kept.
  Bytes plain = Scrambled(Slice(after, start, 294));
  Bytes original = BytesOf(records[1]);
  for (std::size_t i = 0; i < 294; ++i) {
    SCOPED_TRACE(i);
    if (i >= 163 && i < 175)
      EXPECT_EQ(plain[i], original[i + 12]);
    else if (i == 187)
      EXPECT_EQ(plain[i], 0);
    else
      EXPECT_EQ(plain[i], original[i]);
  }
}

TEST_F(AdminFileTest, RewriteRefusesAPositionInsideTheHeader) {
  Bytes before = AdminFile(PatternHeader(), {});
  ASSERT_TRUE(WriteWholeFile(Path, before));
  {
    TRecordReader reader{Path};
    reader.Record = PatternRecord(5);
    EXPECT_FALSE(reader.Next());
    EXPECT_EQ(BytesOf(reader.Record), Bytes(admin::PackageRecordSize, 0));
    EXPECT_FALSE(admin::RewritePackage(reader.File, reader.Record, Seed));
  }
  EXPECT_EQ(ReadWholeFile(Path), before);
}

TEST_F(AdminFileTest, DamagedOrMissingFilesEndTheLoopWithZeros) {
  Bytes partial = AdminFile(PatternHeader(), {PatternRecord(1)}, PatternBytes(293, 3));
  Bytes shortHeader = Slice(AdminFile(PatternHeader(), {}), 0, 5000);
  struct {
    const char *Name;
    const Bytes *Content; // null: no file
    int Delivered;
  } const cases[] = {
      {"trailing partial record", &partial, 1},
      {"short header", &shortHeader, 0},
      {"missing file", nullptr, 0},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.Name);
    testing_support::TTempFolder folder;
    std::string path = folder / "A.VAB";
    if (c.Content) {
      ASSERT_TRUE(WriteWholeFile(path, *c.Content));
    }
    TRecordReader reader{path};
    for (int i = 0; i < c.Delivered; ++i)
      EXPECT_TRUE(reader.Next());
    reader.Record = PatternRecord(9);
    EXPECT_FALSE(reader.Next());
    EXPECT_FALSE(reader.First);
    EXPECT_EQ(BytesOf(reader.Record), Bytes(admin::PackageRecordSize, 0));
  }
}

TEST_F(AdminFileTest, EachRecordUnscramblesOnItsOwn) {
  // Record 2 stored first: its key bytes restart at its own start.
  std::vector<admin::TPackageRecord> records = ThreeRecords();
  ASSERT_TRUE(WriteWholeFile(Path, AdminFile(PatternHeader(), {records[2], records[0]})));
  TRecordReader reader{Path};
  ASSERT_TRUE(reader.Next());
  EXPECT_EQ(BytesOf(reader.Record), BytesOf(records[2]));
}

// ---------------------------------------------------------------------------
// RecordRunResult

class RunResultTest : public AdminFileTest {
protected:
  void SetUp() override {
    admin::Settings = admin::TUpdateSettings();
    admin::Settings.SetAdminFileName(Path);
    admin::Settings.SetAdminSeed(Seed);
  }
};

TEST_F(RunResultTest, FailureStampsTheRunAndKeepsTheUpdatePending) {
  std::vector<admin::TPackageRecord> records = ThreeRecords();
  admin::TAdminHeader original = PatternHeader();
  ASSERT_TRUE(WriteWholeFile(Path, AdminFile(original, records)));
  admin::TAdminHeader h = original;
  std::int32_t dayBefore = util::CurrentDayNumber();
  admin::RecordRunResult(h, -2);
  std::int32_t dayAfter = util::CurrentDayNumber();

  EXPECT_EQ(h.LastResult(), -2);
  EXPECT_TRUE(h.LastRunDate() == dayBefore || h.LastRunDate() == dayAfter);
  EXPECT_GE(h.LastRunTime(), 0);
  EXPECT_LE(h.LastRunTime(), 86399);
  admin::TAdminHeader expected = original;
  expected.SetLastResult(h.LastResult());
  expected.SetLastRunDate(h.LastRunDate());
  expected.SetLastRunTime(h.LastRunTime());
  EXPECT_EQ(BytesOf(h), BytesOf(expected));
  EXPECT_EQ(ReadWholeFile(Path), AdminFile(expected, records));
}

TEST_F(RunResultTest, SuccessInstallsTheOfferedVersion) {
  std::vector<admin::TPackageRecord> records = ThreeRecords();
  admin::TAdminHeader original = PatternHeader();
  original.Bytes[admin::OfferedVersionTextOffset] = 25; // damaged: longer than the field
  ASSERT_TRUE(WriteWholeFile(Path, AdminFile(original, records)));
  admin::TAdminHeader h = original;
  admin::RecordRunResult(h, 0);

  EXPECT_EQ(h.LastResult(), 0);
  EXPECT_EQ(h.UpdatePending(), 0);
  EXPECT_EQ(h.VersionDate(), 160000);
  EXPECT_EQ(h.VersionText().View(),
            std::string_view(reinterpret_cast<const char *>(original.Bytes) + 5721, 20));
  admin::TAdminHeader expected = original;
  std::memcpy(expected.Bytes + admin::VersionTextOffset, h.Bytes + admin::VersionTextOffset, 21);
  expected.SetVersionDate(160000);
  expected.SetUpdatePending(0);
  expected.SetLastResult(0);
  expected.SetLastRunDate(h.LastRunDate());
  expected.SetLastRunTime(h.LastRunTime());
  EXPECT_EQ(BytesOf(h), BytesOf(expected));
  EXPECT_EQ(ReadWholeFile(Path), AdminFile(expected, records));
}

// ---------------------------------------------------------------------------
// Download record

TEST_F(AdminFileTest, DownloadRecordReads) {
  Bytes plain = PatternBytes(admin::DownloadRecordSize, 77);
  admin::TDownloadRecord r;
  ASSERT_TRUE(WriteWholeFile(Path, Scrambled(plain)));
  EXPECT_TRUE(admin::ReadDownloadRecord(Path, r, Seed));
  EXPECT_EQ(BytesOf(r), plain);

  // A short file: what is there comes out plain, the rest as key bytes.
  ASSERT_TRUE(WriteWholeFile(Path, Slice(Scrambled(plain), 0, 1000)));
  EXPECT_FALSE(admin::ReadDownloadRecord(Path, r, Seed));
  Bytes got = BytesOf(r);
  EXPECT_EQ(Slice(got, 0, 1000), Slice(plain, 0, 1000));
  EXPECT_EQ(Slice(got, 1000, 433), Slice(Scrambled(Bytes(1433, 0)), 1000, 433));

  EXPECT_FALSE(admin::ReadDownloadRecord(Folder / "NONE.VAB", r, Seed));
  EXPECT_EQ(BytesOf(r), Bytes(admin::DownloadRecordSize, 0));
}

} // namespace
