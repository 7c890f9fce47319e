// Tests of listings: the attribute filter of a search, its order, and the
// Windows wildcard rules.
#include <gtest/gtest.h>

#include "platform/files.h"
#include "tests/support/test_support.h"

using namespace platform;
using testing_support::RunningOnWindows;
using testing_support::TTempFolder;
using testing_support::WriteWholeFile;

namespace {

std::string Names(const std::vector<TFindEntry> &entries) {
  std::string out;
  for (const auto &e : entries)
    out += (out.empty() ? "" : ",") + e.Name;
  return out;
}

} // namespace

TEST(FindFiles, AttributeFilterAddsSpecialEntriesOnlyOnRequest) {
  TTempFolder dir;
  ASSERT_TRUE(WriteWholeFile(dir / "b_plain.txt", "12345"));
  ASSERT_TRUE(WriteWholeFile(dir / "A_ro.txt", "x"));
  ASSERT_TRUE(SetAttributes(dir / "A_ro.txt", faReadOnly));
  // A leading dot hides on POSIX; Windows needs the attribute.
  ASSERT_TRUE(WriteWholeFile(dir / ".c_hidden.txt", "x"));
  ASSERT_TRUE(SetAttributes(dir / ".c_hidden.txt", faHidden));
  ASSERT_TRUE(CreateFolder(dir / "d_sub"));
  const bool windows = RunningOnWindows();
  if (windows) {
    ASSERT_TRUE(WriteWholeFile(dir / "e_sys.txt", "x"));
    ASSERT_TRUE(SetAttributes(dir / "e_sys.txt", faSysFile));
  }

  const struct {
    std::uint32_t filter;
    const char *expected;
  } cases[] = {
      {0, "A_ro.txt,b_plain.txt"},
      {faReadOnly | faArchive, "A_ro.txt,b_plain.txt"},
      {faHidden, ".c_hidden.txt,A_ro.txt,b_plain.txt"},
      {faDirectory, "A_ro.txt,b_plain.txt,d_sub"},
      {faSysFile, windows ? "A_ro.txt,b_plain.txt,e_sys.txt" : "A_ro.txt,b_plain.txt"},
      {faHidden | faSysFile | faDirectory | faVolumeID | faReadOnly | faArchive,
       windows ? ".c_hidden.txt,A_ro.txt,b_plain.txt,d_sub,e_sys.txt"
               : ".c_hidden.txt,A_ro.txt,b_plain.txt,d_sub"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.filter);
    std::vector<TFindEntry> entries;
    ASSERT_TRUE(FindFiles(dir / "*.*", c.filter, entries)) << LastError();
    EXPECT_EQ(Names(entries), c.expected);
  }

  std::vector<TFindEntry> entries;
  ASSERT_TRUE(FindFiles(dir / "*.*", faDirectory, entries));
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_NE(entries[0].Attributes & faReadOnly, 0u);
  EXPECT_EQ(entries[1].Attributes & (faReadOnly | faDirectory), 0u);
  EXPECT_EQ(entries[1].Size, 5u);
  EXPECT_NE(entries[2].Attributes & faDirectory, 0u);
}

TEST(FindFiles, MaskSelectsNamesAndEmptyResultIsSuccess) {
  TTempFolder dir;
  for (const char *name : {"one.TXT", "two.txt", "three.dat", "README"})
    ASSERT_TRUE(WriteWholeFile(dir / name, "x"));
  std::vector<TFindEntry> entries;
  ASSERT_TRUE(FindFiles(dir / "*.txt", 0, entries));
  EXPECT_EQ(Names(entries), "one.TXT,two.txt");
  ASSERT_TRUE(FindFiles(dir / "*.*", 0, entries));
  EXPECT_EQ(Names(entries), "one.TXT,README,three.dat,two.txt");
  ASSERT_TRUE(FindFiles(dir / "t??.*", 0, entries));
  EXPECT_EQ(Names(entries), "two.txt");
  ASSERT_TRUE(FindFiles(dir / "readme", 0, entries));
  EXPECT_EQ(Names(entries), "README");
  ASSERT_TRUE(FindFiles(dir / "*.zip", 0, entries)) << LastError();
  EXPECT_TRUE(entries.empty());

  EXPECT_FALSE(FindFiles(dir / "missing\\*.*", 0, entries));
  EXPECT_EQ(LastError(), ErrorPathNotFound);
  EXPECT_TRUE(entries.empty());
}

TEST(WalkFiles, VisitsInListingOrderAndStopsWhenAsked) {
  TTempFolder dir;
  for (const char *name : {"one.TXT", "two.txt", "three.dat", "README"})
    ASSERT_TRUE(WriteWholeFile(dir / name, "x"));
  std::string visited;
  ASSERT_TRUE(WalkFiles(dir / "*.*", 0, [&visited](const TFindEntry &entry) {
    visited += (visited.empty() ? "" : ",") + entry.Name;
    return entry.Name != "README";
  }));
  EXPECT_EQ(visited, "one.TXT,README");
  EXPECT_FALSE(WalkFiles(dir / "missing\\*.*", 0, [](const TFindEntry &) { return true; }));
  EXPECT_EQ(LastError(), ErrorPathNotFound);
}

TEST(MatchesMask, WindowsWildcardRules) {
  const struct {
    const char *name, *pattern;
    bool matches;
  } cases[] = {
      {"FILE.TXT", "*.*", true},
      {"README", "*.*", true},
      {".profile", "*.*", true},
      {"a.b.c", "*", true},
      {"file.txt", "*.TXT", true},
      {"file.txt2", "*.txt", false},
      {"file.txt", "F?LE.*", true},
      {"fle.txt", "f?le.*", false},
      {"README", "readme.*", true},
      {"README", "*.", true},
      {"read.me", "*.", false},
      {"abc", "a*c", true},
      {"abxc", "a*c", true},
      {"abcd", "a*c", false},
      {"abc", "???", true},
      {"ab", "???", false},
      {"PAKET1.CRC", "PAKET?.CRC", true},
      {"paket12.crc", "PAKET?.CRC", false},
      {"x", "", false},
      {"Gr\xF6\xDF"
       "e.txt",
       "gr*.txt", true},
      {"a*b", "a*b", true},
      {"aXXbYYb", "a*b", true},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(std::string(c.name) + " ~ " + c.pattern);
    EXPECT_EQ(MatchesMask(c.name, c.pattern), c.matches);
  }
}
