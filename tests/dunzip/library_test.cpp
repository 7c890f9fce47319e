// The built library loaded by name, as the program loads it: DUNZIP32.DLL next
// to the test program under Windows, libdunzip32.so natively.
#include <gtest/gtest.h>

#include "dunzip/dunzip_api.h"
#include "platform/dynlib.h"
#include "tests/dunzip/dunzip_test_support.h"
#include "tests/support/test_support.h"
#include "tests/support/zip_builder.h"

namespace {

using dunzip_test::TCommand;

TEST(Library, LoadsByNameAndExtractsWithCallbacks) {
  void *library = platform::LoadDynamicLibrary(dunzip::DunzipLibraryName);
  ASSERT_NE(library, nullptr);
  auto entry = reinterpret_cast<dunzip::TDunzipEntry>(
      platform::FindSymbol(library, dunzip::DunzipEntryName));
  ASSERT_NE(entry, nullptr);

  testing_support::TTempFolder folder;
  const char *sep = testing_support::RunningOnWindows() ? "\\" : "/";
  testing_support::TTestEntry a, b;
  a.Name = "sub/a.txt";
  a.Data = testing_support::PatternBytes(100000, 3);
  b.Name = "b.txt";
  b.Method = 0;
  b.Data = testing_support::PatternBytes(10, 4);
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

} // namespace
