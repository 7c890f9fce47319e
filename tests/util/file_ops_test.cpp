// Folder and file helpers on the real file system: existence checks, deleting
// by mask with the protected system folders, and creating folder levels while
// the current folder stays where it was.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
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
  ASSERT_TRUE(platform::SetAttributes(In(".hid"), platform::faHidden));

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
  ASSERT_TRUE(platform::SetAttributes(In(".hid"), platform::faHidden));
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
  ASSERT_TRUE(platform::SetAttributes(In(".hid"), platform::faHidden));
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
    std::string file = util::AddBackslash(folder) + marker;
    ASSERT_TRUE(WriteWholeFile(file, "m"));
    util::DeleteMatchingFiles(file);
    std::string lower(util::LowerCaseAscii(file).View());
    util::DeleteMatchingFiles(lower);
    util::DeleteMatchingFiles(util::AddBackslash(folder) + "zrk_protect_*.*");
    EXPECT_TRUE(FileExists(file));
    EXPECT_TRUE(platform::DeleteFile(file));
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

// Folders of 256, 255 and 254 characters side by side. The first 255
// characters of the 256 one, and of the missing folder of that length, name
// the 255 one: a routine that cuts lands in a neighbour.
TEST_F(FileOps, FolderRoutinesTakeFoldersOf254To256CharactersWhole) {
  if (testing_support::RunningOnWindows())
    GTEST_SKIP() << "the ANSI file functions stop at 259 characters";
  struct TFolder {
    std::string Path, Missing;
  };
  auto folder = [&](std::size_t length) {
    const std::string fs(length - Base.size() - 2, 'f');
    return TFolder{In(fs + 'f'), In(fs + 'm')};
  };
  auto cut = [](const std::string &text) { return text.substr(0, 255); };
  auto yes = [](bool a, bool b) { return std::string(a ? "y" : "n") + (b ? "y" : "n"); };
  for (const std::string &where : {Base, folder(254).Path, folder(255).Path, folder(256).Path}) {
    ASSERT_TRUE(MakeFolder(where));
    ASSERT_TRUE(WriteWholeFile(where + "\\a.txt", where));
    ASSERT_TRUE(WriteWholeFile(where + "\\b.txt", where));
  }
  using TRoutine = std::function<std::string(const TFolder &)>;
  struct {
    const char *Routine;
    TRoutine Result;
    std::function<std::string(const TFolder &, std::size_t)> Expected;
  } const rows[] = {
      // Short routines: the program keeps their results in records anyway.
      {"TrimText", [](const TFolder &f) { return util::TrimText(f.Path).Str(); },
       [&](const TFolder &f, std::size_t) { return cut(f.Path); }},
      {"RemoveBackslash",
       [](const TFolder &f) { return util::RemoveBackslash(util::AddBackslash(f.Path)).Str(); },
       [&](const TFolder &f, std::size_t) { return cut(f.Path); }},
      // Routines on texts of any length.
      {"AddBackslash", [](const TFolder &f) { return util::AddBackslash(f.Path); },
       [](const TFolder &f, std::size_t) { return f.Path + "\\"; }},
      {"ExtractFolder(AddBackslash)",
       [](const TFolder &f) { return util::ExtractFolder(util::AddBackslash(f.Path)); },
       [](const TFolder &f, std::size_t) { return f.Path; }},
      {"ExtractFolder of a file",
       [](const TFolder &f) { return util::ExtractFolder(util::AddBackslash(f.Path) + "a.txt"); },
       [](const TFolder &f, std::size_t) { return f.Path; }},
      {"FolderExists",
       [&](const TFolder &f) {
         return yes(util::FolderExists(f.Path), util::FolderExists(f.Missing));
       },
       [](const TFolder &, std::size_t) { return std::string("yn"); }},
      {"PathExists",
       [&](const TFolder &f) {
         return yes(util::PathExists(util::AddBackslash(f.Path) + "a.txt"),
                    util::PathExists(f.Missing));
       },
       [](const TFolder &, std::size_t) { return std::string("yn"); }},
      {"DeleteFileIfExists",
       [&](const TFolder &f) {
         util::DeleteFileIfExists(util::AddBackslash(f.Path) + "a.txt");
         return yes(FileExists(f.Path + "\\a.txt"), FileExists(f.Path + "\\b.txt"));
       },
       [](const TFolder &, std::size_t) { return std::string("ny"); }},
      {"DeleteMatchingFiles",
       [&](const TFolder &f) {
         util::DeleteMatchingFiles(util::AddBackslash(f.Path) + "*.*");
         return yes(FileExists(f.Path + "\\b.txt"), util::FolderExists(f.Path));
       },
       [](const TFolder &, std::size_t) { return std::string("ny"); }},
      // Short: a longer path is refused rather than created under a cut name.
      {"ForceFolders",
       [&](const TFolder &f) {
         const bool made = util::ForceFolders(f.Missing);
         return yes(made, util::FolderExists(f.Missing));
       },
       [](const TFolder &, std::size_t length) { return std::string(length > 255 ? "nn" : "yy"); }},
  };
  // The longest first, so that a cut reaching a shorter neighbour shows there.
  for (std::size_t length : {256u, 255u, 254u}) {
    const TFolder f = folder(length);
    ASSERT_EQ(f.Path.size(), length);
    ASSERT_EQ(f.Missing.size(), length);
    for (const auto &row : rows) {
      SCOPED_TRACE(std::string(row.Routine) + " at " + std::to_string(length));
      EXPECT_EQ(row.Result(f), row.Expected(f, length));
    }
  }
  EXPECT_EQ(testing_support::ReadWholeText(In("a.txt")), Base);
  EXPECT_EQ(testing_support::ReadWholeText(In("b.txt")), Base);
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
