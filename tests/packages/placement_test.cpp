// File placement: which destination every staged file reaches, how FILEPATH.ID
// directs single files, and where each failure code stops the run.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "admin/admin_records.h"
#include "packages/placement.h"
#include "platform/files.h"
#include "platform/window.h"
#include "tests/support/test_support.h"

namespace {

using testing_support::FileExists;
using testing_support::MakeFolder;
using testing_support::ReadWholeText;
using testing_support::RunningOnWindows;
using testing_support::TTempFolder;
using testing_support::WriteWholeFile;

struct TRecord {
  std::string Name;
  int Index;
};

class TRecorder : public packages::TPlacementEvents {
public:
  void ShowGroupCaption(std::string_view caption) override { Captions.emplace_back(caption); }
  std::vector<std::string> Captions;
};

class Placement : public ::testing::Test {
protected:
  TTempFolder Root;
  std::string Staging = Root / "STAGE";
  admin::TAdminHeader Header;
  TRecorder Events;
  std::vector<std::string> Boxes;
  packages::TPlacementJournal Journal;

  void SetUp() override {
    Journal.Path = Root / "ZRKUPD.JNL";
    ASSERT_TRUE(MakeFolder(Staging));
    Header.SetStagingFolder(Staging);
    for (int i = 1; i <= 20; ++i)
      Header.SetDestFolder(i, Dest(i));
    platform::SetMessageBoxHook(
        [this](platform::THandle, std::string_view text, std::string_view, std::uint32_t) {
          Boxes.emplace_back(text);
          return platform::IdOk;
        });
  }
  void TearDown() override { platform::SetMessageBoxHook(nullptr); }

  // Placement as the run does it: committed when it succeeded.
  std::int32_t Place(std::uint8_t destIndex) {
    std::int32_t result = packages::PlaceStagedFiles(Header, destIndex, Events, Journal);
    if (result == admin::RunOk && !packages::CommitPlacement(Journal))
      ADD_FAILURE() << "commit failed";
    return result;
  }
  std::string Dest(int i) { return Root / ("D" + std::to_string(i)); }
  std::string In(const std::string &folder, std::string_view name) {
    return folder + "\\" + std::string(name);
  }
  void MakeDests(std::initializer_list<int> indexes) {
    for (int i : indexes)
      ASSERT_TRUE(MakeFolder(Dest(i)));
  }
  void Stage(std::initializer_list<std::string_view> names) {
    for (auto name : names)
      ASSERT_TRUE(WriteWholeFile(In(Staging, name), "content of " + std::string(name)));
  }
  void WriteFilePathId(const std::vector<TRecord> &records) {
    std::vector<std::uint8_t> bytes;
    for (const TRecord &r : records) {
      std::vector<std::uint8_t> rec(packages::FilePathEntrySize, 0xCC);
      rec[0] = static_cast<std::uint8_t>(r.Name.size());
      std::copy(r.Name.begin(), r.Name.end(), rec.begin() + 1);
      rec[256] = static_cast<std::uint8_t>(r.Index);
      bytes.insert(bytes.end(), rec.begin(), rec.end());
    }
    ASSERT_TRUE(WriteWholeFile(In(Staging, "FILEPATH.ID"), bytes));
  }
  bool CopiedTo(int i, std::string_view name) {
    return ReadWholeText(In(Dest(i), name)) == "content of " + std::string(name);
  }
  std::vector<std::string> Listing() {
    std::vector<platform::TFindEntry> entries;
    EXPECT_TRUE(platform::FindFiles(In(Staging, "*.*"), 33, entries));
    std::vector<std::string> names;
    for (auto &e : entries)
      names.push_back(e.Name);
    return names;
  }
};

TEST_F(Placement, EmptyStagingPlacesNothingAndShowsTheCaption) {
  EXPECT_EQ(Place(3), 0);
  EXPECT_EQ(Events.Captions, std::vector<std::string>{"Die Dateien werden kopiert . . ."});
}

// P has entry 7; Q and R have none. The index of the file before carries over.
TEST_F(Placement, IndexCarriesOverInListingOrder) {
  struct {
    const char *name;
    std::vector<std::string> files; // in the wanted listing order
    std::vector<int> expected;      // destination of each file
  } cases[] = {
      {"P, Q, R", {"a_p.dat", "b_q.dat", "c_r.dat"}, {7, 7, 7}},
      {"Q, P, R", {"a_q.dat", "b_p.dat", "c_r.dat"}, {3, 7, 7}},
  };
  MakeDests({3, 7});
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    Staging = Root / (c.name[0] + std::string("stage"));
    ASSERT_TRUE(MakeFolder(Staging));
    Header.SetStagingFolder(Staging);
    for (const auto &f : c.files)
      ASSERT_TRUE(WriteWholeFile(In(Staging, f), "content of " + f));
    WriteFilePathId({{c.expected[0] == 7 ? c.files[0] : c.files[1], 7}});
    std::vector<std::string> order = Listing();
    order.erase(std::remove(order.begin(), order.end(), "FILEPATH.ID"), order.end());
    if (order != c.files)
      GTEST_SKIP() << "this file system lists in another order";

    EXPECT_EQ(Place(3), 0);
    for (std::size_t i = 0; i < c.files.size(); ++i) {
      SCOPED_TRACE(c.files[i]);
      EXPECT_TRUE(CopiedTo(c.expected[i], c.files[i]));
      EXPECT_FALSE(FileExists(In(Dest(10 - c.expected[i]), c.files[i])));
    }
    EXPECT_FALSE(FileExists(In(Staging, "FILEPATH.ID")));
  }
}

// Files are taken in the order Windows lists them, upper-cased names compared
// character by character: "_ [ ] ^" come after the letters, and umlauts by
// their capitals. FILEPATH.ID sends PROGB.DLL to 2 and progä.dll to 3; the
// others take the index of the file before them.
TEST_F(Placement, FilesAreTakenInTheOrderWindowsListsThem) {
  const struct {
    const char *name;
    int dest;
  } expected[] = {{"progb.dll", 2},  {"prog[1].dll", 2},  {"prog]z.dll", 2},  {"prog^x.dll", 2},
                  {"prog_a.dll", 2}, {"prog\xE4.dll", 3}, {"prog\xD6.dll", 3}};
  MakeDests({1, 2, 3});
  // Made in another order than the expected one.
  for (int i = 6; i >= 0; --i)
    ASSERT_TRUE(WriteWholeFile(In(Staging, expected[i].name),
                               "content of " + std::string(expected[i].name)));
  WriteFilePathId({{"PROGB.DLL", 2}, {"prog\xE4.dll", 3}});
  std::vector<std::string> order = Listing();
  std::vector<std::string> wanted = {"FILEPATH.ID"};
  for (const auto &e : expected)
    wanted.push_back(e.name);
  EXPECT_EQ(order, wanted);

  EXPECT_EQ(Place(1), 0);
  for (const auto &e : expected) {
    SCOPED_TRACE(e.name);
    EXPECT_TRUE(CopiedTo(e.dest, e.name));
    for (int other = 1; other <= 3; ++other) {
      if (other != e.dest) {
        EXPECT_FALSE(FileExists(In(Dest(other), e.name)));
      }
    }
  }
}

TEST_F(Placement, FindIndivFilePathRecordRules) {
  WriteFilePathId({{"zero.txt", 0},
                   {"big.txt", 21},
                   {"twice.txt", 5},
                   {"twice.txt", 6},
                   {"README.TXT", 4},
                   {"\xC4rger.txt", 8}, // capital A umlaut
                   {"\xE4nderung.txt", 9},
                   {"max.txt", 20},
                   {"one.txt", 1}});
  struct {
    const char *file;
    int index;
  } cases[] = {
      {"zero.txt", 0},        {"big.txt", 0},      {"twice.txt", 5},    {"readme.txt", 4},
      {"ReadMe.Txt", 4},      {"\xE4rger.txt", 0}, {"\xC4RGER.TXT", 8}, {"\xC4nderung.txt", 0},
      {"\xE4NDERUNG.TXT", 9}, {"max.txt", 20},     {"one.txt", 1},      {"none.txt", 0},
      {"readme.txt ", 0},     {"one.tx", 0},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.file);
    EXPECT_EQ(packages::FindIndivFilePath(Staging, c.file), c.index);
  }
  EXPECT_EQ(packages::FindIndivFilePath(Root / "nowhere", "one.txt"), 0);
}

TEST_F(Placement, PartialTrailingRecordIsNoRecord) {
  std::vector<std::uint8_t> rec(257, 0);
  rec[0] = 5;
  std::copy_n("a.txt", 5, rec.begin() + 1);
  rec[256] = 2;
  std::vector<std::uint8_t> cut(rec.begin(), rec.end() - 1);
  ASSERT_TRUE(WriteWholeFile(In(Staging, "FILEPATH.ID"), cut));
  EXPECT_EQ(packages::FindIndivFilePath(Staging, "a.txt"), 0);
}

TEST_F(Placement, InvalidRecordsKeepTheCurrentIndexAndCaseIsIgnoredForAToZ) {
  MakeDests({3, 5});
  Stage({"a.txt", "b.txt", "c.txt"});
  WriteFilePathId({{"A.TXT", 0}, {"b.txt", 21}, {"C.TXT", 5}, {"c.txt", 3}});
  EXPECT_EQ(Place(3), 0);
  EXPECT_TRUE(CopiedTo(3, "a.txt"));
  EXPECT_TRUE(CopiedTo(3, "b.txt"));
  EXPECT_TRUE(CopiedTo(5, "c.txt"));
  EXPECT_FALSE(FileExists(In(Dest(3), "c.txt")));
}

TEST_F(Placement, FilePathIdIsCheckedButNeverCopiedAndIsDeletedAtTheEnd) {
  MakeDests({2});
  Stage({"x.txt"});
  WriteFilePathId({{"x.txt", 2}});
  EXPECT_EQ(Place(2), 0);
  EXPECT_TRUE(CopiedTo(2, "x.txt"));
  EXPECT_FALSE(FileExists(In(Dest(2), "FILEPATH.ID")));
  EXPECT_FALSE(FileExists(In(Staging, "FILEPATH.ID")));
  EXPECT_TRUE(FileExists(In(Staging, "x.txt")));

  // The marker alone with an invalid default index stops the run at its turn.
  WriteFilePathId({{"other.txt", 2}});
  ASSERT_TRUE(platform::DeleteFile(In(Staging, "x.txt")));
  EXPECT_EQ(Place(0), -3);
  EXPECT_FALSE(FileExists(In(Staging, "FILEPATH.ID")));
}

TEST_F(Placement, ReadOnlyDestinationIsReplacedAndLooksLikeTheSource) {
  MakeDests({1});
  Stage({"ro.txt"});
  ASSERT_TRUE(WriteWholeFile(In(Dest(1), "ro.txt"), "old"));
  ASSERT_TRUE(platform::SetAttributes(In(Dest(1), "ro.txt"), platform::faReadOnly));
  EXPECT_EQ(Place(1), 0);
  EXPECT_TRUE(CopiedTo(1, "ro.txt"));
  EXPECT_TRUE(Boxes.empty());
}

TEST_F(Placement, HiddenAndSystemFilesStayInStaging) {
  MakeDests({1});
  Stage({"plain.txt"});
  std::vector<std::pair<std::string, std::uint32_t>> special = {{".hidden", platform::faHidden}};
  if (RunningOnWindows())
    special.push_back({"system.sys", platform::faSysFile});
  for (auto &[name, attribute] : special) {
    ASSERT_TRUE(WriteWholeFile(In(Staging, name), name));
    if (RunningOnWindows()) {
      ASSERT_TRUE(platform::SetAttributes(In(Staging, name), attribute));
    }
  }
  EXPECT_EQ(Place(1), 0);
  EXPECT_TRUE(CopiedTo(1, "plain.txt"));
  for (auto &[name, attribute] : special) {
    SCOPED_TRACE(name);
    EXPECT_FALSE(FileExists(In(Dest(1), name)));
    EXPECT_TRUE(FileExists(In(Staging, name)));
  }
}

TEST_F(Placement, FailuresStopAtTheFileConcerned) {
  // Listing order a, b, c; b is the one that fails.
  struct {
    const char *name;
    std::vector<TRecord> records;
    std::uint8_t destIndex;
    std::int32_t result;
    bool aCopied;
  } cases[] = {
      {"default index 0", {}, 0, -3, false},
      {"default index 21", {}, 21, -3, false},
      // a was placed and taken back out: the package goes whole or not at all.
      {"b sent to a missing folder", {{"b.txt", 9}}, 1, -4, false},
      {"blank entry without G:", {{"b.txt", 10}}, 1, -4, false},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    MakeDests({1});
    Header.SetDestFolder(10, "   ");
    // Only the blank-entry case needs G: to be missing.
    if (c.destIndex == 1 && c.records.front().Index == 10 && FileExists("G:\\"))
      continue;
    Stage({"a.txt", "b.txt", "c.txt"});
    WriteFilePathId(c.records);
    ASSERT_EQ(Listing().front(), "a.txt");
    EXPECT_EQ(Place(c.destIndex), c.result);
    EXPECT_EQ(CopiedTo(1, "a.txt"), c.aCopied);
    EXPECT_FALSE(FileExists(In(Dest(1), "b.txt")));
    EXPECT_FALSE(FileExists(In(Dest(1), "c.txt")));
    EXPECT_FALSE(FileExists(In(Staging, "FILEPATH.ID")));
    EXPECT_TRUE(Boxes.empty());
    (void)platform::DeleteFile(In(Dest(1), "a.txt")); // not there when taken back
  }
}

TEST_F(Placement, BlankEntryGoesToDriveG) {
  if (RunningOnWindows())
    GTEST_SKIP() << "drive G: is not ours to create under Wine";
  ASSERT_TRUE(MakeFolder("G:\\"));
  Header.SetDestFolder(4, "  ");
  Stage({"g.txt"});
  EXPECT_EQ(Place(4), 0);
  EXPECT_EQ(ReadWholeText("G:\\g.txt"), "content of g.txt");
  EXPECT_TRUE(platform::DeleteFile("G:\\g.txt"));
  EXPECT_TRUE(platform::RemoveFolder("G:\\"));
}

TEST_F(Placement, FailedCopyShowsErrorBoxAndStops) {
  MakeDests({1});
  // A folder where b.txt would go makes its copy fail.
  ASSERT_TRUE(MakeFolder(In(Dest(1), "b.txt")));
  Stage({"a.txt", "b.txt", "c.txt"});
  EXPECT_EQ(Place(1), -5);
  EXPECT_EQ(Boxes, std::vector<std::string>{"Error=         2"});
  // The whole package or nothing: a.txt went back out.
  EXPECT_FALSE(FileExists(In(Dest(1), "a.txt")));
  EXPECT_FALSE(FileExists(In(Dest(1), "c.txt")));
}

// A destination path over 255 characters is a failed copy (2), never a copy
// to the path cut short.
TEST_F(Placement, OverlongPathIsAFailedCopyNotACutOne) {
  std::string folder = Root.Path();
  while (folder.size() < 230)
    folder += "\\" + std::string(std::min<std::size_t>(40, 236 - folder.size()), 'f');
  ASSERT_TRUE(MakeFolder(folder));
  Header.SetDestFolder(6, folder);
  std::string name(40, 'n');
  name += ".txt";
  Stage({name});
  ASSERT_GT(folder.size() + 1 + name.size(), 255u);
  EXPECT_EQ(Place(6), -5);
  EXPECT_EQ(Boxes, std::vector<std::string>{"Error=         2"});
  std::string cut = (folder + "\\" + name).substr(0, 255);
  EXPECT_FALSE(FileExists(cut));
  EXPECT_FALSE(FileExists(In(folder, name)));
}

} // namespace
