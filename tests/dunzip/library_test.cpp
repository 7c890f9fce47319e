// The built library loaded by name, as the program loads it: DUNZIP32.DLL next
// to the test program under Windows, libdunzip32.so natively.
#include <gtest/gtest.h>

#include "dunzip/dunzip_api.h"
#include "platform/dynlib.h"
#include "platform/fault.h"
#include "platform/files.h"
#include "tests/dunzip/dunzip_test_support.h"
#include "tests/support/fault_walk.h"
#include "tests/support/test_support.h"
#include "tests/support/zip_builder.h"

namespace {

using dunzip_test::TCommand;

dunzip::TDunzipEntry LoadEntry(void *&library) {
  library = platform::LoadDynamicLibrary(dunzip::DunzipLibraryName);
  return reinterpret_cast<dunzip::TDunzipEntry>(
      platform::FindSymbol(library, dunzip::DunzipEntryName));
}

std::vector<std::uint8_t> TwoEntryZip() {
  return testing_support::BuildZip({{"a.txt", testing_support::PatternBytes(3000, 5)},
                                    {"b.txt", testing_support::PatternBytes(20, 6)}});
}

TEST(Library, LoadsByNameAndExtractsWithCallbacks) {
  void *library = nullptr;
  const dunzip::TDunzipEntry entry = LoadEntry(library);
  ASSERT_NE(entry, nullptr);

  testing_support::TTempFolder folder;
  const char *sep = testing_support::RunningOnWindows() ? "\\" : "/";
  const testing_support::TTestEntry a("sub/a.txt", testing_support::PatternBytes(100000, 3));
  testing_support::TTestEntry b("b.txt", testing_support::PatternBytes(10, 4), 0);
  b.ExternalAttributes = 0x21;
  std::string zip = folder.Path() + sep + "x.zip";
  ASSERT_TRUE(testing_support::WriteWholeFile(zip, testing_support::BuildZip({a, b})));
  std::string dest = folder.Path() + sep + "out";
  ASSERT_TRUE(testing_support::MakeFolder(dest));

  TCommand command(zip, dest);
  EXPECT_EQ(entry(command.Record().data()), 0);
  EXPECT_EQ(dunzip_test::ListFolder(dest), (std::vector<std::string>{"a.txt", "b.txt"}));
  EXPECT_EQ(testing_support::ReadWholeFile(dest + sep + "a.txt"), a.Data);
  EXPECT_EQ(testing_support::ReadWholeFile(dest + sep + "b.txt"), b.Data);
  // Each recorder only hears calls made with its own user data.
  ASSERT_FALSE(command.Minor.Items.empty());
  EXPECT_EQ(command.Minor.Items.front(), "a.txt");
  EXPECT_EQ(command.Minor.Percents.back(), 100);
  ASSERT_FALSE(command.Major.Percents.empty());
  EXPECT_EQ(command.Major.Percents.back(), 100);

  command.FunctionCode = 3;
  EXPECT_NE(entry(command.Record().data()), 0);
  platform::FreeDynamicLibrary(library);
}

// One fault count for the program and the library: a walk over a whole run
// must be able to fail every operation the library makes.
TEST(Library, FileOperationsCountAndFailThroughTheProgramsFaultHooks) {
  ASSERT_TRUE(testing_support::FollowFaultsInUnzipLibrary());
  void *library = nullptr;
  const dunzip::TDunzipEntry entry = LoadEntry(library);
  ASSERT_NE(entry, nullptr);
  testing_support::TTempFolder folder;
  const std::string zip = folder / "x.zip";
  ASSERT_TRUE(testing_support::WriteWholeFile(zip, TwoEntryZip()));

  auto extract = [&](std::uint64_t failAt, std::uint64_t &count) {
    const std::string dest = folder / ("out" + std::to_string(failAt));
    EXPECT_TRUE(testing_support::MakeFolder(dest));
    TCommand command(zip, dest);
    platform::fault::Arm(failAt);
    const std::int32_t result = entry(command.Record().data());
    count = platform::fault::Count();
    platform::fault::Disarm();
    return result;
  };
  std::uint64_t operations = 0;
  ASSERT_EQ(extract(0, operations), dunzip::dzOk);
  // At least the archive's opening and a create and a write per entry.
  EXPECT_GE(operations, 5u);
  testing_support::ForEachFault(
      testing_support::FaultNumbers(operations, 2), testing_support::NoState,
      [&](bool &, std::uint64_t n) {
        std::uint64_t reached = 0;
        EXPECT_NE(extract(n, reached), dunzip::dzOk);
        return reached;
      },
      [](bool &, std::uint64_t reached, std::uint64_t n) { EXPECT_GE(reached, n); });
  platform::FreeDynamicLibrary(library);
}

// Natively the library maps drive letters below the program's drive root,
// also after a test moved it.
TEST(Library, SharesTheProgramsDriveRoot) {
  if (testing_support::RunningOnWindows())
    GTEST_SKIP() << "drive letters are the system's";
  testing_support::TTempFolder drives;
  const std::string saved = platform::DriveRoot();
  platform::SetDriveRoot(drives.Path());
  void *library = nullptr;
  const dunzip::TDunzipEntry entry = LoadEntry(library);
  ASSERT_NE(entry, nullptr);
  ASSERT_TRUE(testing_support::WriteWholeFile("C:\\x.zip", TwoEntryZip()));
  ASSERT_TRUE(platform::CreateFolder("C:\\out"));
  TCommand command("C:\\x.zip", "C:\\out");
  EXPECT_EQ(entry(command.Record().data()), dunzip::dzOk);
  EXPECT_EQ(dunzip_test::ListFolder(drives / "C/out"),
            (std::vector<std::string>{"a.txt", "b.txt"}));
  platform::SetDriveRoot(saved);
  platform::FreeDynamicLibrary(library);
}

} // namespace
