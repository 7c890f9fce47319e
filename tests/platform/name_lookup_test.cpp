// Tests of finding names regardless of case while folders change: the POSIX
// seam remembers the names of the folders it searched, so every change, made
// through the seam or behind its back, must show in the next lookup.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <thread>

#include "platform/files.h"
#include "tests/support/test_support.h"

using namespace platform;
using testing_support::FileExists;
using testing_support::ReadWholeText;
using testing_support::TTempFolder;
using testing_support::WriteWholeFile;

namespace fs = std::filesystem;

namespace {

// A lookup of a name that is not there, so the folder's names are read and kept.
void ReadFolderNames(const TTempFolder &dir) {
  std::uint32_t attributes = 0;
  ASSERT_FALSE(GetAttributes(dir / "no such name.dat", attributes));
  ASSERT_EQ(LastError(), ErrorFileNotFound);
}

// Text of the file, opened through the seam by the given spelling; empty when
// it cannot be opened.
std::string ReadThroughSeam(const std::string &path) {
  TFile file;
  if (!file.OpenRead(path))
    return std::string();
  char buffer[64];
  std::uint32_t got = 0;
  if (!file.Read(buffer, sizeof buffer, got))
    return std::string();
  return std::string(buffer, got);
}

bool CreateThroughSeam(const std::string &path, std::string_view text) {
  TFile file;
  std::uint32_t written = 0;
  return file.CreateNew(path) &&
         file.Write(text.data(), static_cast<std::uint32_t>(text.size()), written) &&
         written == text.size();
}

std::vector<std::string> Listing(const TTempFolder &dir) {
  std::vector<TFindEntry> entries;
  EXPECT_TRUE(FindFiles(dir / "*.*", faDirectory, entries));
  std::vector<std::string> names;
  for (const TFindEntry &entry : entries)
    names.push_back(entry.Name);
  return names;
}

// Each test in a folder of its own, reached through the seam (dir) and
// beside it (native).
class NameLookup : public ::testing::Test {
protected:
  TTempFolder dir;
  const fs::path native = NativePath(dir.Path());
};

} // namespace

TEST_F(NameLookup, DifferentlyCasedNameFoundAfterTheFolderWasRead) {
  ASSERT_TRUE(WriteWholeFile(dir / "Report.Txt", "old"));
  ReadFolderNames(dir);
  EXPECT_EQ(ReadThroughSeam(dir / "REPORT.TXT"), "old");
  EXPECT_EQ(ReadThroughSeam(dir / "report.txt"), "old");
  EXPECT_EQ(ReadThroughSeam(dir / "report.txt2"), "");
  EXPECT_EQ(LastError(), ErrorFileNotFound);
}

TEST_F(NameLookup, ChangesThroughTheSeamShowAtOnce) {
  ReadFolderNames(dir);

  ASSERT_TRUE(CreateThroughSeam(dir / "New.Dat", "created"));
  EXPECT_EQ(ReadThroughSeam(dir / "NEW.DAT"), "created");
  TFile again;
  EXPECT_FALSE(again.CreateNew(dir / "new.dat")) << "a differently-cased name is the same file";

  ASSERT_TRUE(MoveFileReplacing(dir / "NEW.dat", dir / "Moved.Dat")) << LastError();
  EXPECT_EQ(ReadThroughSeam(dir / "new.dat"), "");
  EXPECT_EQ(ReadThroughSeam(dir / "MOVED.DAT"), "created");

  // Replacing keeps the existing spelling.
  ASSERT_TRUE(CreateThroughSeam(dir / "Other.Dat", "replacement"));
  ASSERT_TRUE(MoveFileReplacing(dir / "OTHER.DAT", dir / "moved.dat")) << LastError();
  EXPECT_EQ(Listing(dir), std::vector<std::string>{"Moved.Dat"});
  EXPECT_EQ(ReadThroughSeam(dir / "MoVeD.dAt"), "replacement");

  ASSERT_TRUE(DeleteFile(dir / "MOVED.DAT")) << LastError();
  EXPECT_EQ(ReadThroughSeam(dir / "moved.dat"), "");
  EXPECT_TRUE(Listing(dir).empty());

  ASSERT_TRUE(CreateFolder(dir / "Sub")) << LastError();
  EXPECT_FALSE(CreateFolder(dir / "SUB"));
  EXPECT_EQ(LastError(), ErrorAlreadyExists);
  ASSERT_TRUE(CreateThroughSeam(dir / "sub\\Inner.Dat", "inner"));
  EXPECT_EQ(ReadThroughSeam(dir / "SUB\\INNER.DAT"), "inner");
  ASSERT_TRUE(DeleteFile(dir / "sub\\inner.dat"));
  ASSERT_TRUE(RemoveFolder(dir / "SUB")) << LastError();
  EXPECT_TRUE(Listing(dir).empty());
  // A name created anew is spelt as given, not as the name it replaced.
  ASSERT_TRUE(CreateFolder(dir / "sUB")) << LastError();
  EXPECT_EQ(Listing(dir), std::vector<std::string>{"sUB"});
}

TEST_F(NameLookup, ChangesBehindTheSeamsBackShow) {
  ReadFolderNames(dir);

  { std::ofstream(native / "Outside.Txt") << "outside"; }
  EXPECT_EQ(ReadThroughSeam(dir / "OUTSIDE.TXT"), "outside");

  fs::rename(native / "Outside.Txt", native / "Renamed.Txt");
  EXPECT_EQ(ReadThroughSeam(dir / "outside.txt"), "");
  EXPECT_EQ(ReadThroughSeam(dir / "renamed.TXT"), "outside");

  fs::remove(native / "Renamed.Txt");
  EXPECT_EQ(ReadThroughSeam(dir / "RENAMED.TXT"), "");
  EXPECT_FALSE(FileExists(dir / "renamed.txt"));

  fs::create_directory(native / "Made");
  { std::ofstream(native / "Made" / "Deep.Txt") << "deep"; }
  EXPECT_EQ(ReadThroughSeam(dir / "MADE\\DEEP.TXT"), "deep");
}

TEST_F(NameLookup, SeamChangeAfterAnOutsideChangeKeepsBoth) {
  ASSERT_TRUE(CreateThroughSeam(dir / "Inside.Txt", "inside"));
  ReadFolderNames(dir);
  { std::ofstream(native / "Outside.Txt") << "outside"; }
  // A change by its exact name needs no search first; it must not vouch for
  // the names of a folder that changed since they were read.
  ASSERT_TRUE(DeleteFile(dir / "Inside.Txt"));
  EXPECT_EQ(ReadThroughSeam(dir / "OUTSIDE.TXT"), "outside");
  EXPECT_EQ(ReadThroughSeam(dir / "INSIDE.TXT"), "");

  fs::remove(native / "Outside.Txt");
  ASSERT_TRUE(CreateThroughSeam(dir / "Inside.Txt", "again"));
  EXPECT_EQ(ReadThroughSeam(dir / "OUTSIDE.TXT"), "");
  EXPECT_EQ(ReadThroughSeam(dir / "INSIDE.TXT"), "again");
}

TEST_F(NameLookup, ManyFilesAndManyFoldersStayFindable) {
  // More folders than are kept at once, each with files of mixed case.
  constexpr int Folders = 70, FilesEach = 30;
  for (int f = 0; f < Folders; ++f) {
    const std::string folder = dir / ("Folder" + std::to_string(f));
    ASSERT_TRUE(CreateFolder(folder));
    for (int i = 0; i < FilesEach; ++i)
      ASSERT_TRUE(CreateThroughSeam(folder + "\\File" + std::to_string(i) + ".Dat",
                                    std::to_string(f * 1000 + i)));
  }
  for (int f = 0; f < Folders; ++f) {
    SCOPED_TRACE(f);
    const std::string folder = dir / ("FOLDER" + std::to_string(f));
    for (int i = 0; i < FilesEach; i += 7)
      EXPECT_EQ(ReadThroughSeam(folder + "\\FILE" + std::to_string(i) + ".DAT"),
                std::to_string(f * 1000 + i));
  }
  const fs::path first = fs::path(NativePath(dir / "folder0"));
  fs::remove(first / "File3.Dat");
  EXPECT_EQ(ReadThroughSeam(dir / "FOLDER0\\FILE3.DAT"), "");
  EXPECT_EQ(ReadThroughSeam(dir / "FOLDER0\\FILE4.DAT"), "4");
}

TEST_F(NameLookup, PosixTwoSpellingsOfOneNameSurviveTheDeletionOfOne) {
  if (testing_support::RunningOnWindows())
    GTEST_SKIP() << "Windows file systems hold one spelling of a name";
  { std::ofstream(native / "Twin") << "first"; }
  { std::ofstream(native / "TWIN") << "second"; }
  ReadFolderNames(dir);
  ASSERT_TRUE(DeleteFile(dir / "Twin"));
  EXPECT_EQ(ReadThroughSeam(dir / "twin"), "second");
  ASSERT_TRUE(DeleteFile(dir / "TWIN"));
  EXPECT_EQ(ReadThroughSeam(dir / "twin"), "");
}

TEST_F(NameLookup, ThreadsCreatingInOneFolderFindEachOthersFiles) {
  ReadFolderNames(dir);
  constexpr int Threads = 4, FilesEach = 50;
  std::vector<std::thread> workers;
  std::vector<int> failures(Threads, 0);
  for (int t = 0; t < Threads; ++t) {
    workers.emplace_back([&, t] {
      for (int i = 0; i < FilesEach; ++i) {
        const std::string name = "T" + std::to_string(t) + "_" + std::to_string(i) + ".Dat";
        if (!CreateThroughSeam(dir / name, name))
          ++failures[t];
      }
    });
  }
  for (std::thread &worker : workers)
    worker.join();
  for (int t = 0; t < Threads; ++t) {
    EXPECT_EQ(failures[t], 0);
    for (int i = 0; i < FilesEach; ++i) {
      const std::string name = "T" + std::to_string(t) + "_" + std::to_string(i) + ".Dat";
      std::string upper = name;
      for (char &c : upper)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
      EXPECT_EQ(ReadThroughSeam(dir / upper), name);
    }
  }
}

TEST_F(NameLookup, OutsideChangesRightAfterAReadingShow) {
  // A change within the same clock tick as the reading must show too, whatever
  // the resolution of the file system's times.
  for (int i = 0; i < 300; ++i) {
    SCOPED_TRACE(i);
    const std::string name = "Quick" + std::to_string(i) + ".Txt";
    std::string upper = name;
    for (char &c : upper)
      c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    ReadFolderNames(dir);
    { std::ofstream(native / name) << name; }
    ASSERT_EQ(ReadThroughSeam(dir / upper), name);
    fs::remove(native / name);
    ASSERT_EQ(ReadThroughSeam(dir / upper), "");
  }
}

TEST_F(NameLookup, FolderReplacedOrRenamedBehindTheSeamsBack) {
  fs::create_directory(native / "Box");
  { std::ofstream(native / "Box" / "Old.Txt") << "old"; }
  EXPECT_EQ(ReadThroughSeam(dir / "BOX\\OLD.TXT"), "old");

  // Renamed away: its names go with it, and a new folder under the old name
  // shows its own.
  fs::rename(native / "Box", native / "Moved");
  fs::create_directory(native / "Box");
  { std::ofstream(native / "Box" / "New.Txt") << "new"; }
  EXPECT_EQ(ReadThroughSeam(dir / "BOX\\OLD.TXT"), "");
  EXPECT_EQ(ReadThroughSeam(dir / "BOX\\NEW.TXT"), "new");
  EXPECT_EQ(ReadThroughSeam(dir / "MOVED\\OLD.TXT"), "old");

  // Removed and made anew.
  fs::remove_all(native / "Box");
  fs::create_directory(native / "Box");
  { std::ofstream(native / "Box" / "Third.Txt") << "third"; }
  EXPECT_EQ(ReadThroughSeam(dir / "BOX\\NEW.TXT"), "");
  EXPECT_EQ(ReadThroughSeam(dir / "BOX\\THIRD.TXT"), "third");
}

TEST_F(NameLookup, PosixNamesAreUtf8OnDiskAndWindows1252Inside) {
  if (testing_support::RunningOnWindows())
    GTEST_SKIP() << "the system converts names itself";
  ASSERT_TRUE(CreateThroughSeam(dir / "\xDC"
                                      "bersicht.txt",
                                "made inside"));
  EXPECT_TRUE(fs::exists(native / "\xC3\x9C"
                                  "bersicht.txt"));
  {
    std::ofstream(native / "Gr\xC3\xBC\xC3\x9F"
                           "e.txt")
        << "made outside";
  }
  EXPECT_EQ(Listing(dir), (std::vector<std::string>{"Gr\xFC\xDF"
                                                    "e.txt",
                                                    "\xDC"
                                                    "bersicht.txt"}));
  // Found regardless of case as Windows finds it, umlauts included.
  EXPECT_EQ(ReadThroughSeam(dir / "GR\xDC\xDF"
                                  "E.TXT"),
            "made outside");
  EXPECT_EQ(ReadThroughSeam(dir / "\xFC"
                                  "bersicht.TXT"),
            "made inside");

  // Every byte of the code page survives the trip to the disk and back.
  for (const int first : {0x80, 0xC0}) {
    SCOPED_TRACE(first);
    std::string name;
    for (int c = first; c < first + 0x40; ++c)
      name += static_cast<char>(c);
    TTempFolder bytes;
    ASSERT_TRUE(CreateThroughSeam(bytes / name, "x")) << LastError();
    EXPECT_EQ(Listing(bytes), std::vector<std::string>{name});
    EXPECT_EQ(ReadThroughSeam(bytes / name), "x");
  }

  const std::string saved = GetCurrentFolder();
  ASSERT_TRUE(CreateFolder(dir / "\xC4rger"));
  ASSERT_TRUE(SetCurrentFolder(dir / "\xC4rger"));
  EXPECT_EQ(GetCurrentFolder(), dir.Path() + "/\xC4rger");
  ASSERT_TRUE(SetCurrentFolder(saved));
}

TEST_F(NameLookup, PosixNamesOnDiskThatAreNotWindows1252PassThroughByteForByte) {
  if (testing_support::RunningOnWindows())
    GTEST_SKIP() << "the system converts names itself";
  const std::string names[] = {
      "raw\xDC.txt",      // Latin-1, not UTF-8
      "cut\xC3.txt",      // a cut UTF-8 sequence
      "\xE6\x97\xA5.txt", // UTF-8 without a Windows-1252 form
  };
  for (const std::string &name : names)
    std::ofstream(native / name) << name;
  std::vector<std::string> listed = Listing(dir);
  std::sort(listed.begin(), listed.end());
  std::vector<std::string> expected(std::begin(names), std::end(names));
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(listed, expected);
  for (const std::string &name : names) {
    SCOPED_TRACE(name);
    EXPECT_EQ(ReadThroughSeam(dir / name), name);
    EXPECT_TRUE(DeleteFile(dir / name)) << LastError();
    EXPECT_FALSE(fs::exists(native / name));
  }
}
