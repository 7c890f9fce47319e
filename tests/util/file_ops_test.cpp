// Folder and file helpers on the real file system: existence checks, deleting
// by mask with the protected system folders, and creating folder levels while
// the current folder stays where it was.
#include <gtest/gtest.h>

#include <atomic>
#include <string>

#include "platform/files.h"
#include "tests/support/test_support.h"
#include "util/text.h"

namespace {

using testing_support::FileExists;
using testing_support::MakeFolder;
using testing_support::WriteWholeFile;

// A fresh folder named the Windows way on both builds: below the scratch
// drive root on POSIX, in the temporary folder under Windows.
class FileOps : public ::testing::Test {
protected:
  void SetUp() override {
    static std::atomic<unsigned> counter{0};
    if (testing_support::RunningOnWindows())
      Base = Temp.Path();
    else
      Base = "C:\\ops" + std::to_string(++counter);
    ASSERT_TRUE(MakeFolder(Base));
  }
  std::string In(std::string_view name) const { return Base + "\\" + std::string(name); }

  testing_support::TTempFolder Temp;
  std::string Base;
};

TEST_F(FileOps, FolderAndPathExistence) {
  ASSERT_TRUE(WriteWholeFile(In("a.txt"), "a"));
  ASSERT_TRUE(MakeFolder(In("sub")));
  ASSERT_TRUE(WriteWholeFile(In(".hid"), "h"));
  platform::SetAttributes(In(".hid"), platform::faHidden);

  EXPECT_TRUE(util::FolderExists(Base));
  EXPECT_TRUE(util::FolderExists(In("sub")));
  EXPECT_FALSE(util::FolderExists(In("a.txt")));
  EXPECT_FALSE(util::FolderExists(In("missing")));

  EXPECT_TRUE(util::PathExists(In("a.txt")));
  EXPECT_TRUE(util::PathExists(In("*.TXT")));
  EXPECT_TRUE(util::PathExists(In("sub")));
  EXPECT_FALSE(util::PathExists(In(".hid")));
  EXPECT_FALSE(util::PathExists(In("*.zip")));
  EXPECT_FALSE(util::PathExists(In("missing\\*.*")));
}

TEST_F(FileOps, DeleteFileIfExistsDeletesOnlyVisibleFiles) {
  ASSERT_TRUE(WriteWholeFile(In("a.zip"), "a"));
  ASSERT_TRUE(WriteWholeFile(In(".hid"), "h"));
  platform::SetAttributes(In(".hid"), platform::faHidden);
  util::DeleteFileIfExists(In("a.zip"));
  util::DeleteFileIfExists(In(".hid"));
  util::DeleteFileIfExists(In("missing.zip"));
  EXPECT_FALSE(FileExists(In("a.zip")));
  EXPECT_TRUE(FileExists(In(".hid")));
}

TEST_F(FileOps, DeleteMatchingFilesKeepsHiddenFilesAndSubfoldersButDeletesReadOnlyFiles) {
  ASSERT_TRUE(WriteWholeFile(In("a.txt"), "a"));
  ASSERT_TRUE(WriteWholeFile(In("B.DLL"), "b"));
  ASSERT_TRUE(WriteWholeFile(In("ro.txt"), "r"));
  ASSERT_TRUE(platform::SetAttributes(In("ro.txt"), platform::faReadOnly));
  ASSERT_TRUE(WriteWholeFile(In(".hid"), "h"));
  platform::SetAttributes(In(".hid"), platform::faHidden);
  ASSERT_TRUE(MakeFolder(In("sub")));
  ASSERT_TRUE(WriteWholeFile(In("sub\\inner.txt"), "i"));

  util::DeleteMatchingFiles(util::AddBackslash(Base) + "*.*");

  EXPECT_FALSE(FileExists(In("a.txt")));
  EXPECT_FALSE(FileExists(In("B.DLL")));
  EXPECT_FALSE(FileExists(In("ro.txt"))) << "a read-only file survived";
  EXPECT_TRUE(FileExists(In(".hid")));
  EXPECT_TRUE(util::FolderExists(In("sub")));
  EXPECT_TRUE(FileExists(In("sub\\inner.txt")));
}

TEST_F(FileOps, DeleteMatchingFilesHonoursThePattern) {
  ASSERT_TRUE(WriteWholeFile(In("keep.txt"), "k"));
  ASSERT_TRUE(WriteWholeFile(In("gone.tmp"), "g"));
  util::DeleteMatchingFiles(In("*.tmp"));
  EXPECT_TRUE(FileExists(In("keep.txt")));
  EXPECT_FALSE(FileExists(In("gone.tmp")));
}

TEST_F(FileOps, DeleteMatchingFilesLeavesProtectedFoldersAlone) {
  // Only our own marker file is at stake, so a broken protection cannot
  // harm a real Windows folder.
  const std::string marker = "zrk_protect_marker.tmp";
  std::string windows = platform::WindowsFolder();
  ASSERT_GE(windows.size(), 3u);
  std::string folders[] = {windows.substr(0, 3), windows, platform::SystemFolder(),
                           platform::ProgramFilesFolder()};
  for (const auto &folder : folders) {
    SCOPED_TRACE(folder);
    ASSERT_TRUE(MakeFolder(folder));
    std::string file = util::AddBackslash(folder).Str() + marker;
    ASSERT_TRUE(WriteWholeFile(file, "m"));
    util::DeleteMatchingFiles(file);
    std::string lower(util::LowerCaseAscii(file).View());
    util::DeleteMatchingFiles(lower);
    util::DeleteMatchingFiles(util::AddBackslash(folder).Str() + "zrk_protect_*.*");
    EXPECT_TRUE(FileExists(file));
    platform::DeleteFile(file);
  }
  // The same mask in an ordinary folder does delete.
  ASSERT_TRUE(WriteWholeFile(In(marker), "m"));
  util::DeleteMatchingFiles(In(marker));
  EXPECT_FALSE(FileExists(In(marker)));
}

TEST_F(FileOps, DeleteMatchingFilesInAFolderOver255CharactersStaysInThatFolder) {
  if (testing_support::RunningOnWindows())
    GTEST_SKIP() << "the ANSI file functions stop at 259 characters";
  // Cut to 255 characters, the folder would be exactly its parent.
  std::string parent = In(std::string(255 - Base.size() - 1, 'p'));
  ASSERT_EQ(parent.size(), 255u);
  std::string folder = parent + "\\sub";
  ASSERT_TRUE(MakeFolder(folder));
  ASSERT_TRUE(WriteWholeFile(parent + "\\a.txt", "keep"));
  ASSERT_TRUE(WriteWholeFile(folder + "\\a.txt", "gone"));
  util::DeleteMatchingFiles(folder + "\\*.*");
  EXPECT_TRUE(FileExists(parent + "\\a.txt"));
  EXPECT_FALSE(FileExists(folder + "\\a.txt"));
}

TEST_F(FileOps, ForceFoldersCreatesMissingLevelsAndRestoresTheCurrentFolder) {
  ASSERT_TRUE(MakeFolder(In("A")));
  std::string before = platform::GetCurrentFolder();
  EXPECT_TRUE(util::ForceFolders(In("A\\B\\C")));
  EXPECT_EQ(platform::GetCurrentFolder(), before);
  EXPECT_TRUE(util::FolderExists(In("A\\B")));
  EXPECT_TRUE(util::FolderExists(In("A\\B\\C")));

  EXPECT_TRUE(util::ForceFolders(In("A\\B\\C\\")));
  EXPECT_TRUE(util::ForceFolders(In("X\\Y")));
  EXPECT_TRUE(util::FolderExists(In("X\\Y")));
  EXPECT_TRUE(util::ForceFolders(Base.substr(0, 3)));
  EXPECT_TRUE(util::ForceFolders(Base.substr(0, 2)));
  EXPECT_EQ(platform::GetCurrentFolder(), before);
}

TEST_F(FileOps, ForceFoldersFailsAtAFileInTheWayAndStillRestoresTheCurrentFolder) {
  ASSERT_TRUE(WriteWholeFile(In("F"), "f"));
  std::string before = platform::GetCurrentFolder();
  EXPECT_FALSE(util::ForceFolders(In("F\\X")));
  EXPECT_FALSE(util::FolderExists(In("F\\X")));
  EXPECT_EQ(platform::GetCurrentFolder(), before);
}

} // namespace
