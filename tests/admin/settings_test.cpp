// The settings file and StoreSettings: location, short files, round trips,
// every result code with real folders, and the header bytes it must keep.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "admin/admin_file.h"
#include "admin/scramble.h"
#include "admin/settings.h"
#include "platform/fault.h"
#include "platform/files.h"
#include "tests/admin/admin_test_bytes.h"
#include "tests/support/fault_walk.h"
#include "tests/support/test_support.h"

namespace {

using admin_test::Bytes;
using admin_test::BytesOf;
using admin_test::Scrambled;
using testing_support::PatternBytes;
using testing_support::ReadWholeFile;
using testing_support::WriteWholeFile;

constexpr std::int32_t Seed = 1234567;

class SettingsTest : public ::testing::Test {
protected:
  void SetUp() override {
    admin::DataFolder = Folder.Path();
    for (const char *name : {"DOWN", "STAGE", "D1", "D3", "D20"})
      ASSERT_TRUE(platform::CreateFolder(Folder / name));
    Original = admin_test::Patterned<admin::TAdminHeader>(5);
    Original.SetVersionDate(150000);
    Original.SetVersionDate2(150000);
    Original.SetDownloadFolder("X");
    Original.SetStagingFolder("Y");
    Bytes records = PatternBytes(2 * admin::PackageRecordSize, 6);
    AdminBytes = admin::AdminFileBytes(Original, {}, Seed);
    AdminBytes.insert(AdminBytes.end(), records.begin(), records.end());
    ASSERT_TRUE(WriteWholeFile(AdminPath, AdminBytes));

    Source.AdminFileName = AdminPath;
    Source.DownloadFileName = Folder / "UPDDOWNL.VAB";
    Source.DownloadFolder = Folder / "DOWN";
    Source.StagingFolder = (Folder / "STAGE") + "\\";
    Source.AdminSeed = Seed;
    Source.DestFolders[1] = Folder / "D1";
    Source.DestFolders[3] = "  " + (Folder / "D3") + "\\ ";
    Source.DestFolders[20] = Folder / "D20";
    Source.OptionFlag1 = 7;
    Source.OptionFlag2 = 0;
  }
  void TearDown() override {
    platform::fault::Disarm();
    admin::DataFolder = util::TShortString();
  }

  // The header as stored in the administration file, plain.
  admin::TAdminHeader StoredHeader() {
    admin::TAdminHeader h;
    Bytes file = ReadWholeFile(AdminPath);
    EXPECT_EQ(file.size(), AdminBytes.size());
    if (file.size() >= admin::AdminHeaderSize)
      std::memcpy(h.Bytes, file.data(), admin::AdminHeaderSize);
    admin::ScrambleBuffer(h.Bytes, static_cast<std::int32_t>(admin::AdminHeaderSize), Seed);
    return h;
  }

  testing_support::TTempFolder Folder;
  std::string AdminPath = Folder / "UPDADMIN.VAB";
  admin::TAdminHeader Original;
  Bytes AdminBytes;
  admin::TSettingsSource Source;
};

TEST(SettingsPath, FollowsTheDataFolder) {
  const std::string longFolder = "D:\\" + std::string(252, 'd');
  struct {
    std::string DataFolder, Expected;
  } const cases[] = {
      {"", "ZRKUPD.DAT"},
      {"   ", "ZRKUPD.DAT"},
      {"D:\\Daten", "D:\\Daten\\ZRKUPD.DAT"},
      {"D:\\Daten\\", "D:\\Daten\\ZRKUPD.DAT"},
      // Never cut to a name in the folder that is not the settings file.
      {longFolder, longFolder + "\\ZRKUPD.DAT"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.DataFolder);
    admin::DataFolder = c.DataFolder;
    EXPECT_EQ(admin::SettingsPath(), c.Expected);
  }
  admin::DataFolder = util::TShortString();
}

TEST_F(SettingsTest, AShortFileCountsAsReadWithKeyBytesBeyondItsEnd) {
  // The host may keep a shorter file: what it holds is read, and each byte
  // beyond its end unscrambles to the key byte of its position.
  Bytes plain = PatternBytes(admin::SettingsRecordSize, 9);
  Bytes scrambled = Scrambled(plain, admin::SettingsSeed);
  const Bytes key = Scrambled(Bytes(admin::SettingsRecordSize, 0), admin::SettingsSeed);
  struct {
    const char *Name;
    std::size_t Size; // 0: no file; 1: a folder of that name
    admin::TSettingsRead Expected;
  } const cases[] = {
      {"missing", 0, admin::TSettingsRead::Missing},
      {"a folder", 1, admin::TSettingsRead::Unreadable},
      {"100 bytes", 100, admin::TSettingsRead::Read},
      {"one byte short", admin::SettingsRecordSize - 1, admin::TSettingsRead::Read},
      {"whole", admin::SettingsRecordSize, admin::TSettingsRead::Read},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.Name);
    testing_support::TTempFolder data;
    admin::DataFolder = data.Path();
    if (c.Size == 1) {
      ASSERT_TRUE(platform::CreateFolder(data / "ZRKUPD.DAT"));
    } else if (c.Size > 1) {
      ASSERT_TRUE(WriteWholeFile(data / "ZRKUPD.DAT",
                                 Bytes(scrambled.begin(), scrambled.begin() + c.Size)));
    }
    admin::Settings.SetAdminSeed(5);
    EXPECT_EQ(admin::ReadSettingsFile(), c.Expected);
    Bytes expected(admin::SettingsRecordSize, 0);
    if (c.Expected == admin::TSettingsRead::Read)
      for (std::size_t i = 0; i < expected.size(); ++i)
        expected[i] = i < c.Size ? plain[i] : key[i];
    EXPECT_EQ(BytesOf(admin::Settings), expected);
  }
}

TEST_F(SettingsTest, AFailedWriteKeepsTheWholeOldSettingsFile) {
  ASSERT_EQ(admin::StoreSettings(Source), admin::StoreOk);
  const Bytes old = ReadWholeFile(Folder / "ZRKUPD.DAT");
  Source.DialogCaption = "Neu";
  const auto count = testing_support::CountFaultOperations([&] { admin::StoreSettings(Source); });
  for (bool diskFull : {false, true}) {
    SCOPED_TRACE(diskFull ? "disk full" : "failure");
    ASSERT_TRUE(WriteWholeFile(Folder / "ZRKUPD.DAT", old));
    testing_support::ForEachFault(
        testing_support::FaultNumbers(count), diskFull, testing_support::NoState,
        [&](bool &, std::uint64_t) { return admin::StoreSettings(Source); },
        [&](bool &, std::int32_t, std::uint64_t) {
          const Bytes now = ReadWholeFile(Folder / "ZRKUPD.DAT");
          EXPECT_TRUE(now == old ||
                      now == Scrambled(BytesOf(admin::Settings), admin::SettingsSeed));
          EXPECT_FALSE(testing_support::FileExists(Folder / "ZRKUPD.TMP"));
          ASSERT_TRUE(WriteWholeFile(Folder / "ZRKUPD.DAT", old));
        });
  }
}

TEST_F(SettingsTest, MissingSettingsFileReadsAsZerosThenDefaultsAreWritten) {
  admin::Settings.SetAdminSeed(5);
  EXPECT_FALSE(admin::ReadSettings());
  EXPECT_EQ(BytesOf(admin::Settings), Bytes(admin::SettingsRecordSize, 0));

  admin::WriteDefaultSettings();
  EXPECT_EQ(admin::Settings.AdminSeed(), admin::DefaultAdminSeed);
  EXPECT_EQ(admin::Settings.AdminFileName(), "UPDADMIN.VAB");
  EXPECT_EQ(admin::Settings.DownloadFileName(), "UPDDOWNL.VAB");
  EXPECT_EQ(admin::Settings.UpdateTitle(), "Online-Update f\xFCr Tarnelwerks");
  EXPECT_EQ(admin::Settings.DialogCaption(), "Dateien einarbeiten");
  EXPECT_EQ(admin::Settings.BrandText(), "Quendraforge");
  EXPECT_EQ(admin::Settings.OptionByte(), 1);
  EXPECT_EQ(ReadWholeFile(Folder / "ZRKUPD.DAT"),
            Scrambled(BytesOf(admin::Settings), admin::SettingsSeed));
}

TEST_F(SettingsTest, StoredSettingsReadBackByteForByte) {
  Source.UpdateTitle = std::string(200, 'T');
  Source.DialogCaption = std::string("Cap\0tion", 8);
  Source.BrandText = std::string(90, 'B');
  Source.OptionByte = 0x1234;
  Source.ExtraText1 = "e1";
  Source.ExtraNumber1 = -1;
  Source.ExtraText2 = std::string(130, '2');
  Source.ExtraText3 = "e3";
  Source.ExtraNumber2 = 2;
  Source.ExtraNumber3 = 0x7FFFFFFF;
  ASSERT_EQ(admin::StoreSettings(Source), 0);
  EXPECT_EQ(admin::Settings.UpdateTitle().Str(), std::string(150, 'T'));
  EXPECT_EQ(admin::Settings.DialogCaption(), "Cap");
  EXPECT_EQ(admin::Settings.BrandText().Str(), std::string(80, 'B'));
  EXPECT_EQ(admin::Settings.OptionByte(), 0x34);
  EXPECT_EQ(admin::Settings.ExtraText2().Str(), std::string(127, '2'));
  EXPECT_EQ(admin::Settings.ExtraNumber3(), 0x7FFFFFFF);
  EXPECT_EQ(admin::Settings.AdminSeed(), Seed);

  Bytes stored = BytesOf(admin::Settings);
  admin::Settings = admin::TUpdateSettings();
  ASSERT_TRUE(admin::ReadSettings());
  EXPECT_EQ(BytesOf(admin::Settings), stored);
}

TEST_F(SettingsTest, SuccessWritesFoldersAndFlagsAndKeepsEveryOtherHeaderByte) {
  ASSERT_EQ(admin::StoreSettings(Source), 0);
  admin::TAdminHeader h = StoredHeader();
  EXPECT_EQ(h.DownloadFolder().Str(), Folder / "DOWN");
  EXPECT_EQ(h.StagingFolder().Str(), Folder / "STAGE");
  EXPECT_EQ(h.DestFolder(1).Str(), Folder / "D1");
  EXPECT_EQ(h.DestFolder(2), "");
  EXPECT_EQ(h.DestFolder(3).Str(), Folder / "D3");
  EXPECT_EQ(h.DestFolder(20).Str(), Folder / "D20");
  EXPECT_EQ(h.OptionFlag1(), 1);
  EXPECT_EQ(h.OptionFlag2(), 0);

  // Every byte outside what was written (length bytes and characters of the
  // folder texts, the two flags) is as the host left it.
  std::vector<bool> written(admin::AdminHeaderSize, false);
  auto markText = [&](std::size_t offset) {
    for (std::size_t i = 0; i <= h.Bytes[offset]; ++i)
      written[offset + i] = true;
  };
  for (int i = 1; i <= admin::DestFolderCount; ++i)
    markText(admin::DestFoldersOffset + static_cast<std::size_t>(i - 1) * admin::DestFolderWidth);
  markText(admin::DownloadFolderOffset);
  markText(admin::StagingFolderOffset);
  written[admin::OptionFlag1Offset] = written[admin::OptionFlag2Offset] = true;
  for (std::size_t i = 0; i < admin::AdminHeaderSize; ++i)
    if (!written[i]) {
      ASSERT_EQ(h.Bytes[i], Original.Bytes[i]) << "offset " << i;
    }
  // The package records behind the header are untouched.
  Bytes file = ReadWholeFile(AdminPath);
  EXPECT_EQ(Bytes(file.begin() + admin::AdminHeaderSize, file.end()),
            Bytes(AdminBytes.begin() + admin::AdminHeaderSize, AdminBytes.end()));
}

TEST_F(SettingsTest, EveryResultCode) {
  // Two different folders that compare equal once umlauts are expanded.
  ASSERT_TRUE(platform::CreateFolder(Folder / "K\xE4se"));
  ASSERT_TRUE(platform::CreateFolder(Folder / "K[SE"));
  struct TCase {
    const char *Name;
    void (*Change)(admin::TSettingsSource &, const std::string &root);
    std::int32_t Expected;
    bool HeaderWritten;
  };
  const TCase cases[] = {
      {"all good", [](auto &, auto &) {}, 0, true},
      {"settings file cannot be created",
       [](auto &, auto &root) { admin::DataFolder = root + "\\NODIR"; }, -1, true},
      {"admin file name blank", [](auto &s, auto &) { s.AdminFileName = " \t "; }, -11, false},
      {"download file name blank", [](auto &s, auto &) { s.DownloadFileName = ""; }, -12, false},
      {"admin file missing", [](auto &s, auto &root) { s.AdminFileName = root + "\\OTHER.VAB"; },
       -21, false},
      {"download folder missing",
       [](auto &s, auto &root) { s.DownloadFolder = root + "\\MISSING"; }, -91, false},
      {"download folder blank", [](auto &s, auto &) { s.DownloadFolder = "  "; }, -91, false},
      {"staging folder missing", [](auto &s, auto &root) { s.StagingFolder = root + "\\MISSING"; },
       -92, false},
      {"folders equal with umlauts expanded",
       [](auto &s, auto &root) {
         s.DownloadFolder = root + "\\K\xE4se";
         s.StagingFolder = root + "\\K[SE";
       },
       -93, false},
      {"same folder in other case",
       [](auto &s, auto &) {
         s.StagingFolder = s.DownloadFolder.substr(0, s.DownloadFolder.size() - 4) + "down";
       },
       -93, false},
      {"same folder, trailing backslash",
       [](auto &s, auto &) { s.StagingFolder = s.DownloadFolder + "\\"; }, -93, false},
      {"destination 5 missing after a named one",
       [](auto &s, auto &root) { s.DestFolders[5] = root + "\\MISSING"; }, -105, false},
      {"destination 20 missing after a named one",
       [](auto &s, auto &root) { s.DestFolders[20] = root + "\\MISSING"; }, -120, false},
      {"no destination named",
       [](auto &s, auto &) {
         for (auto &d : s.DestFolders)
           d = "   ";
       },
       -100, true},
      {"first named destination missing",
       [](auto &s, auto &root) {
         s.DestFolders[1] = "";
         s.DestFolders[2] = root + "\\MISSING";
       },
       -100, false},
  };
  for (const TCase &c : cases) {
    SCOPED_TRACE(c.Name);
    ASSERT_TRUE(WriteWholeFile(AdminPath, AdminBytes));
    admin::DataFolder = Folder.Path();
    admin::TSettingsSource source = Source;
    c.Change(source, Folder.Path());
    EXPECT_EQ(admin::StoreSettings(source), c.Expected);
    EXPECT_EQ(ReadWholeFile(AdminPath) != AdminBytes, c.HeaderWritten);
    EXPECT_FALSE(admin::StoreSettingsResultText(c.Expected).empty());
  }

  // All destinations blank: the header is written with 20 blank entries.
  admin::DataFolder = Folder.Path();
  admin::TSettingsSource blank = Source;
  for (auto &d : blank.DestFolders)
    d.clear();
  ASSERT_EQ(admin::StoreSettings(blank), -100);
  admin::TAdminHeader h = StoredHeader();
  for (int i = 1; i <= admin::DestFolderCount; ++i)
    EXPECT_EQ(h.DestFolder(i), "") << i;
}

TEST_F(SettingsTest, FailedHeaderWriteGivesMinus22) {
  // The last operation is the header write.
  const std::uint64_t operations =
      testing_support::CountFaultOperations([&] { ASSERT_EQ(admin::StoreSettings(Source), 0); });
  for (bool diskFull : {false, true}) {
    SCOPED_TRACE(diskFull);
    ASSERT_TRUE(WriteWholeFile(AdminPath, AdminBytes));
    platform::fault::Arm(operations, diskFull);
    EXPECT_EQ(admin::StoreSettings(Source), -22);
    platform::fault::Disarm();
    if (!diskFull) {
      EXPECT_EQ(ReadWholeFile(AdminPath), AdminBytes);
    }
  }
}

TEST(StoreSettingsResultText, NamesTheDestinationFolder) {
  EXPECT_NE(admin::StoreSettingsResultText(-105).find(" 5 "), std::string::npos);
  EXPECT_NE(admin::StoreSettingsResultText(-120).find(" 20 "), std::string::npos);
  EXPECT_NE(admin::StoreSettingsResultText(-93), admin::StoreSettingsResultText(-92));
  EXPECT_NE(admin::StoreSettingsResultText(-101).find("Unknown"), std::string::npos);
}

} // namespace
