// Tests of file access through the platform seam: shared handles, create,
// reads and writes at the end of a file, attributes, DOS times, moves and
// folders.
#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/clock.h"
#include "platform/files.h"
#include "tests/support/test_support.h"

using namespace platform;
using namespace testing_support;

namespace {

std::uint32_t Dos(int year, int month, int day, int hour, int minute, int second) {
  const auto date = static_cast<std::uint32_t>(((year - 1980) << 9) | (month << 5) | day);
  const auto time = static_cast<std::uint32_t>((hour << 11) | (minute << 5) | (second / 2));
  return (date << 16) | time;
}

bool WriteAll(TFile &file, const std::vector<std::uint8_t> &bytes) {
  std::uint32_t written = 0;
  return file.Write(bytes.data(), static_cast<std::uint32_t>(bytes.size()), written) &&
         written == bytes.size();
}

} // namespace

TEST(Files, TwoSharedHandlesSeeEachOthersWrites) {
  TTempFolder dir;
  const auto path = dir / "shared.dat";
  ASSERT_TRUE(WriteWholeFile(path, "0123456789"));
  TFile writer, reader, readOnly;
  ASSERT_TRUE(writer.OpenShared(path)) << LastError();
  ASSERT_TRUE(reader.OpenShared(path)) << LastError();
  ASSERT_TRUE(readOnly.OpenRead(path)) << LastError();

  ASSERT_TRUE(writer.Seek(2));
  ASSERT_TRUE(WriteAll(writer, {'a', 'b', 'c'}));
  ASSERT_TRUE(writer.Flush());

  char buffer[16] = {};
  std::uint32_t got = 0;
  ASSERT_TRUE(reader.Read(buffer, sizeof buffer, got));
  EXPECT_EQ(std::string(buffer, got), "01abc56789");
  ASSERT_TRUE(readOnly.Seek(4));
  ASSERT_TRUE(readOnly.Read(buffer, 2, got));
  EXPECT_EQ(std::string(buffer, got), "c5");
  std::uint32_t written = 0;
  EXPECT_FALSE(readOnly.Write("x", 1, written));
}

TEST(Files, UnsharedCreateLocksOthersOutOnWindows) {
  if (!testing_support::RunningOnWindows())
    GTEST_SKIP() << "POSIX has no share modes";
  TTempFolder dir;
  TFile owner, other;
  ASSERT_TRUE(owner.CreateUnshared(dir / "alone.dat"));
  EXPECT_FALSE(other.OpenRead(dir / "alone.dat"));
  EXPECT_EQ(LastError(), ErrorSharingViolation);
}

TEST(Files, CreateTruncatesAndCreateNewRefusesAnExistingFile) {
  TTempFolder dir;
  const auto path = dir / "trunc.dat";
  ASSERT_TRUE(WriteWholeFile(path, PatternBytes(300, 1)));
  TFile file;
  ASSERT_TRUE(file.Create(path));
  std::int64_t size = -1;
  ASSERT_TRUE(file.Size(size));
  EXPECT_EQ(size, 0);
  file.Close();
  EXPECT_FALSE(file.IsOpen());

  EXPECT_FALSE(file.CreateNew(path));
  EXPECT_EQ(LastError(), 80); // ERROR_FILE_EXISTS
  EXPECT_TRUE(file.CreateNew(dir / "fresh.dat")) << LastError();
}

TEST(Files, ReadWriteSeekPositionAndEnd) {
  TTempFolder dir;
  const auto data = PatternBytes(10000, 7);
  TFile file;
  ASSERT_TRUE(file.Create(dir / "rw.dat"));
  ASSERT_TRUE(WriteAll(file, data));
  std::int64_t position = 0, size = 0;
  bool atEnd = false;
  ASSERT_TRUE(file.Position(position));
  EXPECT_EQ(position, 10000);
  ASSERT_TRUE(file.AtEnd(atEnd));
  EXPECT_TRUE(atEnd);

  ASSERT_TRUE(file.Seek(5000));
  std::vector<std::uint8_t> part(100);
  std::uint32_t got = 0;
  ASSERT_TRUE(file.Read(part.data(), 100, got));
  ASSERT_EQ(got, 100u);
  EXPECT_TRUE(std::equal(part.begin(), part.end(), data.begin() + 5000));
  ASSERT_TRUE(file.Position(position));
  EXPECT_EQ(position, 5100);
  ASSERT_TRUE(file.AtEnd(atEnd));
  EXPECT_FALSE(atEnd);

  // Writing past the end grows the file.
  ASSERT_TRUE(file.Seek(12000));
  ASSERT_TRUE(WriteAll(file, {1, 2, 3}));
  ASSERT_TRUE(file.Size(size));
  EXPECT_EQ(size, 12003);
  file.Close();
  EXPECT_EQ(ReadWholeFile(dir / "rw.dat").size(), 12003u);
}

TEST(Files, ReadsAtTheEndAreShortThenEmpty) {
  TTempFolder dir;
  ASSERT_TRUE(WriteWholeFile(dir / "short.dat", "0123456789"));
  TFile file;
  ASSERT_TRUE(file.OpenRead(dir / "short.dat"));
  char buffer[64];
  std::uint32_t got = 99;
  ASSERT_TRUE(file.Seek(4));
  ASSERT_TRUE(file.Read(buffer, sizeof buffer, got));
  EXPECT_EQ(got, 6u);
  EXPECT_EQ(std::string(buffer, got), "456789");
  ASSERT_TRUE(file.Read(buffer, sizeof buffer, got));
  EXPECT_EQ(got, 0u);
}

// The copy between open files starts at both positions and runs to the
// source's end, across the block sizes of a copy through the program; a
// target that refuses writing is a write failure, not a read failure.
TEST(Files, CopyFromTakesTheRestOfTheSourceToTheTargetsPosition) {
  TTempFolder dir;
  for (std::size_t size : {0u, 1u, 65535u, 65536u, 65537u, 200000u}) {
    SCOPED_TRACE(size);
    const auto bytes = PatternBytes(size + 5, static_cast<std::uint32_t>(size));
    ASSERT_TRUE(WriteWholeFile(dir / "src.bin", bytes));
    ASSERT_TRUE(WriteWholeFile(dir / "dst.bin", "head"));
    TFile source, target;
    ASSERT_TRUE(source.OpenRead(dir / "src.bin"));
    ASSERT_TRUE(target.OpenShared(dir / "dst.bin"));
    ASSERT_TRUE(source.Seek(5) && target.Seek(4));
    bool readFailed = true;
    ASSERT_TRUE(target.CopyFrom(source, readFailed)) << LastError();
    target.Close();
    std::vector<std::uint8_t> expected{'h', 'e', 'a', 'd'};
    expected.insert(expected.end(), bytes.begin() + 5, bytes.end());
    EXPECT_EQ(ReadWholeFile(dir / "dst.bin"), expected);

    TFile readOnly;
    ASSERT_TRUE(source.Seek(0) && readOnly.OpenRead(dir / "dst.bin"));
    EXPECT_EQ(readOnly.CopyFrom(source, readFailed), false);
    EXPECT_FALSE(readFailed);
  }
}

TEST(Files, MissingFilesAndFoldersGiveTheirWindowsErrors) {
  TTempFolder dir;
  TFile file;
  EXPECT_FALSE(file.OpenShared(dir / "none.dat"));
  EXPECT_EQ(LastError(), ErrorFileNotFound);
  EXPECT_FALSE(file.OpenRead(dir / "nofolder\\none.dat"));
  EXPECT_EQ(LastError(), ErrorPathNotFound);
  EXPECT_FALSE(file.Create(dir / "nofolder\\new.dat"));
  EXPECT_EQ(LastError(), ErrorPathNotFound);
  EXPECT_FALSE(file.OpenShared(dir.Path()));
  EXPECT_EQ(LastError(), ErrorAccessDenied);
  std::uint32_t attributes = 0;
  EXPECT_FALSE(GetAttributes(dir / "none.dat", attributes));
  EXPECT_EQ(LastError(), ErrorFileNotFound);
  EXPECT_FALSE(DeleteFile(dir / "none.dat"));
  EXPECT_EQ(LastError(), ErrorFileNotFound);
}

TEST(Files, ReadOnlyRoundTripAndWhatItForbids) {
  TTempFolder dir;
  const auto path = dir / "ro.dat";
  ASSERT_TRUE(WriteWholeFile(path, "keep"));
  std::uint32_t attributes = 0;
  ASSERT_TRUE(GetAttributes(path, attributes));
  EXPECT_EQ(attributes & (faReadOnly | faDirectory), 0u);

  ASSERT_TRUE(SetAttributes(path, faReadOnly | faArchive));
  ASSERT_TRUE(GetAttributes(path, attributes));
  EXPECT_NE(attributes & faReadOnly, 0u);

  TFile file;
  EXPECT_FALSE(file.OpenShared(path));
  EXPECT_EQ(LastError(), ErrorAccessDenied);
  EXPECT_FALSE(file.Create(path));
  EXPECT_EQ(LastError(), ErrorAccessDenied);
  EXPECT_FALSE(DeleteFile(path));
  EXPECT_EQ(LastError(), ErrorAccessDenied);
  ASSERT_TRUE(WriteWholeFile(dir / "other.dat", "new"));
  EXPECT_FALSE(MoveFileReplacing(dir / "other.dat", path));
  EXPECT_TRUE(file.OpenRead(path));
  file.Close();
  EXPECT_EQ(ReadWholeText(path), "keep");

  ASSERT_TRUE(SetAttributes(path, faArchive));
  ASSERT_TRUE(GetAttributes(path, attributes));
  EXPECT_EQ(attributes & faReadOnly, 0u);
  EXPECT_TRUE(DeleteFile(path)) << LastError();
  EXPECT_FALSE(FileExists(path));

  ASSERT_TRUE(GetAttributes(dir.Path(), attributes));
  EXPECT_NE(attributes & faDirectory, 0u);
}

TEST(Files, DosTimeRoundTripsByNameAndByHandle) {
  TTempFolder dir;
  const auto path = dir / "time.dat";
  ASSERT_TRUE(WriteWholeFile(path, "x"));
  const std::uint32_t cases[] = {Dos(2021, 1, 15, 8, 30, 12), Dos(2021, 7, 15, 23, 59, 58),
                                 Dos(1999, 12, 31, 0, 0, 0), Dos(2036, 2, 29, 12, 1, 2)};
  for (const std::uint32_t dos : cases) {
    SCOPED_TRACE(dos);
    std::uint32_t back = 0;
    ASSERT_TRUE(SetDosTime(path, dos)) << LastError();
    ASSERT_TRUE(GetDosTime(path, back));
    EXPECT_EQ(back, dos);

    TFile file;
    ASSERT_TRUE(file.OpenShared(path));
    ASSERT_TRUE(file.SetDosTime(dos ^ 0x10000)); // another day
    ASSERT_TRUE(file.GetDosTime(back));
    EXPECT_EQ(back, dos ^ 0x10000);
  }
  // Month 13 is no date.
  EXPECT_FALSE(SetDosTime(path, Dos(2020, 13, 1, 0, 0, 0)));
}

TEST(Files, NewFileTimeIsTheLocalClockInTwoSecondSteps) {
  TTempFolder dir;
  const TLocalTime now = LocalNow();
  ASSERT_TRUE(WriteWholeFile(dir / "now.dat", "x"));
  std::uint32_t dos = 0;
  ASSERT_TRUE(GetDosTime(dir / "now.dat", dos));
  const std::uint32_t expected =
      Dos(now.Year, now.Month, now.Day, now.Hour, now.Minute, now.Second);
  if ((dos >> 16) != (expected >> 16))
    GTEST_SKIP() << "the date changed during the test";
  const auto seconds = [](std::uint32_t d) {
    return static_cast<int>(((d >> 11) & 0x1F) * 3600 + ((d >> 5) & 0x3F) * 60 + (d & 0x1F) * 2);
  };
  EXPECT_LE(std::abs(seconds(dos) - seconds(expected)), 4);
}

TEST(Files, MoveReplacesAnExistingFile) {
  TTempFolder dir;
  ASSERT_TRUE(WriteWholeFile(dir / "new.dat", "new contents"));
  ASSERT_TRUE(WriteWholeFile(dir / "old.dat", "old"));
  ASSERT_TRUE(MoveFileReplacing(dir / "new.dat", dir / "old.dat")) << LastError();
  EXPECT_FALSE(FileExists(dir / "new.dat"));
  EXPECT_EQ(ReadWholeText(dir / "old.dat"), "new contents");
  ASSERT_TRUE(MoveFileReplacing(dir / "old.dat", dir / "moved.dat"));
  EXPECT_EQ(ReadWholeText(dir / "moved.dat"), "new contents");
  EXPECT_FALSE(MoveFileReplacing(dir / "old.dat", dir / "again.dat"));
  EXPECT_EQ(LastError(), ErrorFileNotFound);
}

TEST(Files, FoldersAreCreatedOnceAndRemovedWhenEmpty) {
  TTempFolder dir;
  const auto sub = dir / "sub";
  ASSERT_TRUE(CreateFolder(sub)) << LastError();
  EXPECT_FALSE(CreateFolder(sub));
  EXPECT_EQ(LastError(), ErrorAlreadyExists);
  EXPECT_FALSE(CreateFolder(dir / "missing\\deeper"));
  EXPECT_EQ(LastError(), ErrorPathNotFound);

  ASSERT_TRUE(WriteWholeFile(dir / "sub\\f.txt", "x"));
  EXPECT_FALSE(RemoveFolder(sub));
  ASSERT_TRUE(DeleteFile(dir / "sub\\f.txt"));
  EXPECT_TRUE(RemoveFolder(sub)) << LastError();
  EXPECT_FALSE(FileExists(sub));
}

TEST(Files, CurrentFolderRoundTripAndRelativePaths) {
  TTempFolder dir;
  const std::string before = GetCurrentFolder();
  ASSERT_FALSE(before.empty());
  ASSERT_TRUE(SetCurrentFolder(dir.Path())) << LastError();
  TFile file;
  ASSERT_TRUE(file.Create("relative.dat"));
  file.Close();
  EXPECT_TRUE(FileExists(dir / "relative.dat"));
  ASSERT_TRUE(CreateFolder("level"));
  ASSERT_TRUE(SetCurrentFolder("level"));
  EXPECT_NE(GetCurrentFolder(), before);
  EXPECT_FALSE(SetCurrentFolder(dir / "no such folder"));
  EXPECT_NE(LastError(), ErrorSuccess);
  ASSERT_TRUE(SetCurrentFolder(before));
  EXPECT_EQ(GetCurrentFolder(), before);
}

TEST(Files, WellKnownFoldersAndExecutable) {
  const std::string windows = WindowsFolder();
  ASSERT_GE(windows.size(), 3u);
  EXPECT_EQ(windows[1], ':');
  const std::string system = SystemFolder();
  EXPECT_EQ(system.compare(0, windows.size(), windows), 0) << system;
  EXPECT_EQ(ProgramFilesFolder().substr(1, 2), ":\\");
  const std::string exe = ExecutablePath();
  EXPECT_NE(exe.find("platform_tests"), std::string::npos) << exe;
  EXPECT_TRUE(FileExists(exe));
}

TEST(Files, PosixDriveLettersMapBelowTheDriveRoot) {
  if (testing_support::RunningOnWindows())
    GTEST_SKIP() << "drive letters are real on Windows";
  const std::string root = DriveRoot();
  const struct {
    const char *path, *native;
  } cases[] = {
      {"C:\\A\\b.txt", "/C/A/b.txt"},
      {"d:/x/y", "/D/x/y"},
      {"E:name", "/E/name"},
      {"C:\\", "/C"},
      {"C:\\A\\\\B\\", "/C/A/B"},
      // Read as the folder rules read them: ".." never above the root,
      // trailing dots and blanks dropped, shares below the drive root.
      {"C:\\APP\\..\\..\\..\\..\\OUTSIDE", "/C/OUTSIDE"},
      {"C:\\APP.", "/C/APP"},
      {"C:\\APP. \\.\\x.txt.", "/C/APP/x.txt"},
      {"\\\\server\\share\\APP", "/UNC/server/share/APP"},
      {"//server/share/", "/UNC/server/share"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(NativePath(c.path), root + c.native);
  }
  EXPECT_EQ(NativePath("/tmp/x"), "/tmp/x");
  EXPECT_EQ(NativePath("/tmp/../../x"), "/x");
  EXPECT_EQ(NativePath("rel\\sub/f"), "rel/sub/f");
  EXPECT_EQ(NativePath("rel\\..\\..\\sub\\.\\f."), "../sub/f");
}

TEST(Files, PosixLookupIgnoresCaseOfExistingNames) {
  if (testing_support::RunningOnWindows())
    GTEST_SKIP() << "Windows file systems ignore case themselves";
  ASSERT_TRUE(testing_support::MakeFolder("C:\\Daten\\Sub"));
  ASSERT_TRUE(WriteWholeFile("C:\\Daten\\Sub\\File.TXT", "found"));
  EXPECT_EQ(NativePath("c:\\DATEN\\sub\\file.txt"), DriveRoot() + "/C/Daten/Sub/File.TXT");
  TFile file;
  ASSERT_TRUE(file.OpenRead("C:\\DATEN\\SUB\\FILE.TXT")) << LastError();
  file.Close();
  // A new name lands in the existing folder, spelt as given.
  ASSERT_TRUE(file.Create("C:\\daten\\SUB\\New.dat"));
  file.Close();
  EXPECT_EQ(NativePath("C:\\daten\\SUB\\New.dat"), DriveRoot() + "/C/Daten/Sub/New.dat");
  EXPECT_TRUE(FileExists(DriveRoot() + "/C/Daten/Sub/New.dat"));
}

TEST(Files, OnlyRegularFilesOpenAndNothingWaitsOnAFifo) {
  TTempFolder dir;
  ASSERT_TRUE(testing_support::MakeFifo(dir / "fifo"));
  ASSERT_TRUE(testing_support::MakeFolder(dir / "folder"));
  // NUL names a device in every folder on Windows.
  const std::string device =
      testing_support::RunningOnWindows() ? dir / "NUL" : std::string("/dev/null");
  struct {
    const char *Name;
    std::string Path;
  } const cases[] = {{"FIFO", dir / "fifo"}, {"folder", dir / "folder"}, {"device", device}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.Name);
    TFile file;
    EXPECT_FALSE(file.OpenRead(c.Path));
    EXPECT_EQ(LastError(), ErrorAccessDenied);
    EXPECT_FALSE(file.OpenShared(c.Path));
    EXPECT_FALSE(file.Create(c.Path));
    EXPECT_FALSE(file.CreateUnshared(c.Path));
    EXPECT_FALSE(file.IsOpen());
  }
  // Still the FIFO: nothing was created over it. (Wine lists a FIFO but
  // gives it no attributes.)
  std::vector<TFindEntry> entries;
  EXPECT_TRUE(FindFiles(dir / "fifo", 0, entries));
  EXPECT_EQ(entries.size(), 1u);
  EXPECT_TRUE(testing_support::RemoveFifo(dir / "fifo"));
}
