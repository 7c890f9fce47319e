// Copying a file with its date and attributes: block boundaries, result codes,
// read-only and locked destinations, over-long paths, and injected failures
// that must leave the previous destination whole and no temporary file behind.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "platform/fault.h"
#include "platform/files.h"
#include "tests/support/fault_walk.h"
#include "tests/support/test_support.h"
#include "util/file_copy.h"

namespace {

namespace fs = std::filesystem;
using testing_support::FileExists;
using testing_support::PatternBytes;
using testing_support::ReadWholeFile;
using testing_support::WriteWholeFile;

class CopyFileWithDate : public ::testing::Test {
protected:
  void SetUp() override {
    static std::atomic<unsigned> counter{0};
    Base =
        testing_support::RunningOnWindows() ? Temp.Path() : "C:\\copy" + std::to_string(++counter);
    ASSERT_TRUE(testing_support::MakeFolder(Base));
  }
  void TearDown() override { platform::fault::Disarm(); }

  std::string In(std::string_view name) const { return Base + "\\" + std::string(name); }

  std::set<std::string> Names() const {
    std::vector<platform::TFindEntry> entries;
    EXPECT_TRUE(
        platform::FindFiles(Base + "\\*.*", platform::faHidden | platform::faDirectory, entries));
    std::set<std::string> names;
    for (const auto &e : entries)
      names.insert(e.Name);
    return names;
  }

  testing_support::TTempFolder Temp;
  std::string Base;
};

TEST_F(CopyFileWithDate, CopiesEveryBlockBoundary) {
  for (std::size_t size :
       {0u, 1u, 4095u, 4096u, 4097u, 8192u, 10000u, 65535u, 65536u, 65537u, 200000u}) {
    SCOPED_TRACE(size);
    auto bytes = PatternBytes(size, static_cast<std::uint32_t>(size));
    ASSERT_TRUE(WriteWholeFile(In("src.bin"), bytes));
    ASSERT_EQ(util::CopyFileWithDate(In("src.bin"), In("dst.bin")), 0);
    EXPECT_TRUE(FileExists(In("dst.bin")));
    EXPECT_EQ(ReadWholeFile(In("dst.bin")), bytes);
    EXPECT_EQ(Names(), (std::set<std::string>{"dst.bin", "src.bin"}));
  }
}

TEST_F(CopyFileWithDate, ReplacesAnExistingDestinationAndSurvivesCopyingOntoItself) {
  auto fresh = PatternBytes(5000, 1);
  ASSERT_TRUE(WriteWholeFile(In("src.bin"), fresh));
  ASSERT_TRUE(WriteWholeFile(In("dst.bin"), PatternBytes(9000, 2)));
  ASSERT_EQ(util::CopyFileWithDate(In("src.bin"), In("dst.bin")), 0);
  EXPECT_EQ(ReadWholeFile(In("dst.bin")), fresh);

  ASSERT_EQ(util::CopyFileWithDate(In("src.bin"), In("src.bin")), 0);
  EXPECT_EQ(ReadWholeFile(In("src.bin")), fresh);
  EXPECT_EQ(Names(), (std::set<std::string>{"dst.bin", "src.bin"}));
}

TEST_F(CopyFileWithDate, CarriesTheDateRoundedDownToEvenSeconds) {
  ASSERT_TRUE(WriteWholeFile(In("src.bin"), "dated"));
  fs::path source(platform::NativePath(In("src.bin")));
  // Three days back and half a second off the two-second grid.
  auto stamp = fs::last_write_time(source) - std::chrono::hours(72);
  stamp = std::chrono::time_point_cast<std::chrono::seconds>(stamp) + std::chrono::seconds(1) +
          std::chrono::milliseconds(500);
  fs::last_write_time(source, stamp);

  ASSERT_EQ(util::CopyFileWithDate(In("src.bin"), In("dst.bin")), 0);
  auto copied = fs::last_write_time(fs::path(platform::NativePath(In("dst.bin"))));
  EXPECT_LT(copied, stamp);
  EXPECT_GT(copied, stamp - std::chrono::seconds(2));
  std::uint32_t sourceDos = 0, copiedDos = 0;
  ASSERT_TRUE(platform::GetDosTime(In("src.bin"), sourceDos));
  ASSERT_TRUE(platform::GetDosTime(In("dst.bin"), copiedDos));
  EXPECT_EQ(copiedDos, sourceDos);
}

TEST_F(CopyFileWithDate, ReadOnlySourceGivesReadOnlyDestination) {
  ASSERT_TRUE(WriteWholeFile(In("src.bin"), "ro"));
  ASSERT_TRUE(platform::SetAttributes(In("src.bin"), platform::faReadOnly));
  ASSERT_EQ(util::CopyFileWithDate(In("src.bin"), In("dst.bin")), 0);
  std::uint32_t attributes = 0;
  ASSERT_TRUE(platform::GetAttributes(In("dst.bin"), attributes));
  EXPECT_NE(attributes & platform::faReadOnly, 0u);
  EXPECT_EQ(testing_support::ReadWholeText(In("dst.bin")), "ro");
}

TEST_F(CopyFileWithDate, RefusedDestinationsGiveTwoAndStayUnchanged) {
  ASSERT_TRUE(WriteWholeFile(In("src.bin"), "new"));
  ASSERT_TRUE(WriteWholeFile(In("ro.bin"), "old"));
  ASSERT_TRUE(platform::SetAttributes(In("ro.bin"), platform::faReadOnly));
  EXPECT_EQ(util::CopyFileWithDate(In("src.bin"), In("ro.bin")), 2);
  EXPECT_EQ(testing_support::ReadWholeText(In("ro.bin")), "old");

  ASSERT_TRUE(testing_support::MakeFolder(In("dir.bin")));
  // The cause of each refusal survives the copy's clean-up.
  EXPECT_EQ(util::CopyFileWithDate(In("src.bin"), In("dir.bin")), 2);
  EXPECT_EQ(platform::LastError(), platform::ErrorAccessDenied);
  EXPECT_EQ(util::CopyFileWithDate(In("src.bin"), In("missing\\dst.bin")), 2);
  EXPECT_EQ(platform::LastError(), platform::ErrorPathNotFound);
  EXPECT_EQ(Names(), (std::set<std::string>{"dir.bin", "ro.bin", "src.bin"}));
}

TEST_F(CopyFileWithDate, LockedDestinationGivesTwoAndStaysUnchanged) {
  if (!testing_support::RunningOnWindows())
    GTEST_SKIP() << "POSIX files have no share modes";
  ASSERT_TRUE(WriteWholeFile(In("src.bin"), "new"));
  ASSERT_TRUE(WriteWholeFile(In("dst.bin"), "old"));
  platform::TFile holder;
  ASSERT_TRUE(holder.OpenShared(In("dst.bin")));
  EXPECT_EQ(util::CopyFileWithDate(In("src.bin"), In("dst.bin")), 2);
  holder.Close();
  EXPECT_EQ(testing_support::ReadWholeText(In("dst.bin")), "old");
  EXPECT_EQ(Names(), (std::set<std::string>{"dst.bin", "src.bin"}));
}

TEST_F(CopyFileWithDate, MissingSourceGivesOneAndCreatesNothing) {
  EXPECT_EQ(util::CopyFileWithDate(In("missing.bin"), In("dst.bin")), 1);
  EXPECT_FALSE(FileExists(In("dst.bin")));
  EXPECT_TRUE(Names().empty());
}

TEST_F(CopyFileWithDate, OverLongPathsGiveTwoAndCopyNothing) {
  ASSERT_TRUE(WriteWholeFile(In("src.bin"), "x"));
  std::string longName = In(std::string(255, 'n'));
  longName.resize(256);
  ASSERT_EQ(longName.size(), 256u);
  EXPECT_EQ(util::CopyFileWithDate(In("src.bin"), longName), 2);
  EXPECT_EQ(util::CopyFileWithDate(longName, In("dst.bin")), 2);
  EXPECT_EQ(Names(), (std::set<std::string>{"src.bin"}));

  std::string longest = In(std::string(255 - Base.size() - 1, 'm'));
  ASSERT_EQ(longest.size(), 255u);
  EXPECT_EQ(util::CopyFileWithDate(In("src.bin"), longest), 0);
}

// Every file operation of a copy fails in turn; whatever the result, the old
// destination is either whole or replaced by a whole copy, and nothing else
// is left in the folder.
void RunEveryFault(const std::string &base, bool diskFull, std::set<int> &results) {
  // Three blocks, so that a later read or write fails too.
  auto fresh = PatternBytes(150000, 7);
  auto previous = PatternBytes(3000, 8);
  std::string source = base + "\\src.bin";
  std::string destination = base + "\\dst.bin";
  ASSERT_TRUE(WriteWholeFile(source, fresh));
  ASSERT_TRUE(WriteWholeFile(destination, previous));
  const auto count = testing_support::CountFaultOperations(
      [&] { ASSERT_EQ(util::CopyFileWithDate(source, destination), 0); });
  EXPECT_EQ(ReadWholeFile(destination), fresh);
  testing_support::ForEachFault(
      testing_support::FaultNumbers(count), diskFull,
      [&](std::uint64_t) {
        EXPECT_TRUE(WriteWholeFile(destination, previous));
        return std::make_unique<bool>();
      },
      [&](bool &, std::uint64_t) { return util::CopyFileWithDate(source, destination); },
      [&](bool &, int result, std::uint64_t) {
        results.insert(result);
        // Why it failed is still there after the clean-up.
        if (result != 0) {
          EXPECT_NE(platform::LastError(), platform::ErrorSuccess);
          EXPECT_EQ(platform::LastError() == platform::ErrorDiskFull, diskFull && result == 4)
              << platform::LastError();
        }
        EXPECT_EQ(ReadWholeFile(destination), result == 0 ? fresh : previous);
        std::vector<platform::TFindEntry> entries;
        ASSERT_TRUE(platform::FindFiles(base + "\\*.*", platform::faHidden, entries));
        EXPECT_EQ(entries.size(), 2u);
      });
}

TEST_F(CopyFileWithDate, InjectedFailuresKeepThePreviousDestination) {
  std::set<int> results;
  RunEveryFault(Base, false, results);
  for (int expected : {1, 2, 3, 4})
    EXPECT_TRUE(results.count(expected)) << "no fault gave result " << expected;
}

TEST_F(CopyFileWithDate, FullDiskGivesFourAndKeepsThePreviousDestination) {
  std::set<int> results;
  RunEveryFault(Base, true, results);
  EXPECT_TRUE(results.count(4));
}

} // namespace
