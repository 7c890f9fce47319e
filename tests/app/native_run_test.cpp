// The real program (the native build, terminal front end) started as the
// host starts it, on a data folder with one pending package.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "admin/settings.h"
#include "platform/files.h"
#include "tests/support/test_support.h"
#include "tests/support/update_scenario.h"
#include "tests/support/zip_builder.h"

namespace {

TEST(NativeProgram, AppliesThePendingUpdateOfTheDataFolderInParameter1) {
  testing_support::TScenarioFolders s(2468, 1);
  testing_support::TTempFolder work;
  const std::uint32_t time = testing_support::DosDateTime(2022, 6, 30, 14, 30, 12);
  const auto package = testing_support::PackageFile({{"neu.txt", {'n', 'e', 'u'}, time}}, 500);
  ASSERT_TRUE(testing_support::WriteWholeFile(s.Download + "/PAKET1.PAK", package));
  ASSERT_TRUE(s.WriteHeader(3, 1));
  ASSERT_EQ(s.StoreSettings("Dateien einarbeiten"), admin::StoreOk);
  ASSERT_TRUE(s.AppendRecords({testing_support::PendingRecord(4, "PAKET1.PAK", 1, 1, 2)}));
  ASSERT_TRUE(testing_support::WriteWholeFile(work / "ZRK_STAT.DAT", "host status"));

  const std::string self = platform::ExecutablePath();
  const std::string program =
      platform::NativePath(self.substr(0, self.find_last_of("\\/")) + "\\zrkupd");
  const std::string output = platform::NativePath(work / "output.txt");
  // A lock folder of its own: the claim is not this test's concern.
  const std::string line = "cd \"" + platform::NativePath(work.Path()) +
                           "\" && XDG_RUNTIME_DIR=\"" + platform::NativePath(work.Path()) +
                           "\" \"" + program + "\" \"" + platform::NativePath(s.Data) +
                           "\" 4711 3 < /dev/null > \"" + output + "\" 2>&1";
  EXPECT_EQ(std::system(line.c_str()), 0);

  EXPECT_NE(testing_support::ReadWholeText(output).find("Herzlichen Gl\xC3\xBC"
                                                        "ckwunsch"),
            std::string::npos)
      << testing_support::ReadWholeText(output);
  EXPECT_EQ(testing_support::ReadWholeText(s.Dest[1] + "/neu.txt"), "neu");
  std::uint32_t placedTime = 0;
  EXPECT_TRUE(platform::GetDosTime(s.Dest[1] + "/neu.txt", placedTime));
  EXPECT_EQ(placedTime, time);
  const auto records = s.StoredRecords();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].InstallPending(), 0);
  EXPECT_EQ(s.Header().LastResult(), 0);
  EXPECT_FALSE(testing_support::FileExists(work / "ZRK_STAT.DAT"));
}

} // namespace
