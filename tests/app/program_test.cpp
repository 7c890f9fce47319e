// Command-line parsing of the program entry: which parameter sets what, the
// low-bit cuts and the defaults when a parameter is missing; and the whole
// program in this process on a data folder with nothing pending.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "admin/settings.h"
#include "app/program.h"
#include "platform/window.h"
#include "tests/support/update_scenario.h"

namespace {

struct TCase {
  const char *Name;
  std::vector<std::string> Params;
  bool HostGiven;
  std::uint32_t Host;
  std::uint8_t Option;
};

TEST(ParseCommandLine, TakesHandleAndOptionFromParameters2And3) {
  const TCase cases[] = {
      {"no parameters", {}, false, 0, 3},
      {"data folder only", {"C:\\Daten"}, false, 0, 3},
      {"handle", {"C:\\Daten", "123456"}, true, 123456, 3},
      {"handle and option", {"C:\\Daten", "77", "5"}, true, 77, 5},
      {"letters as handle give 0, not the default", {"C:\\Daten", "abc"}, true, 0, 3},
      {"empty handle gives 0", {"C:\\Daten", ""}, true, 0, 3},
      {"handle keeps low 32 bits", {"x", "4294967297"}, true, 1, 3},
      {"negative handle wraps", {"x", "-1"}, true, 0xFFFFFFFFu, 3},
      {"option 300 keeps low 8 bits", {"x", "1", "300"}, true, 1, 44},
      {"option -1 keeps low 8 bits", {"x", "1", "-1"}, true, 1, 255},
      {"option of letters is 0", {"x", "1", "drei"}, true, 1, 0},
      {"parameters beyond the third are ignored", {"x", "9", "8", "7", "6"}, true, 9, 8},
      {"only 80 characters of the handle count", {"x", std::string(80, '0') + "7"}, true, 0, 3},
      {"80 characters are all read", {"x", std::string(79, '0') + "7"}, true, 7, 3},
  };
  for (const TCase &c : cases) {
    SCOPED_TRACE(c.Name);
    app::TCommandLine line = app::ParseCommandLine(c.Params);
    EXPECT_EQ(line.HostWindowGiven, c.HostGiven);
    if (c.HostGiven) {
      EXPECT_EQ(line.HostWindow, c.Host);
    }
    EXPECT_EQ(line.CallerOption, c.Option);
  }
}

// Without parameter 2 the host is handed the program's own application
// window, which outlives the dialog, as the host's runtime would keep it.
TEST(RunProgram, HostWindowIsParameter2OrElseTheApplicationWindow) {
  testing_support::TScenarioFolders s(4321, 1);
  ASSERT_TRUE(s.WriteHeader(1, 0));
  ASSERT_EQ(s.StoreSettings("Dateien einarbeiten"), admin::StoreOk);
  const struct {
    const char *Name;
    std::vector<std::string> Params;
    platform::THandle Expected;
  } cases[] = {
      {"parameter 2 given", {s.Data, "4711", "3"}, 4711},
      {"parameter 2 missing", {s.Data}, platform::ApplicationWindow()},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.Name);
    testing_support::ForgetSettings();
    app::HostWindow = 12345;
    EXPECT_EQ(app::RunProgram(c.Params), 0);
    EXPECT_EQ(app::HostWindow, c.Expected);
  }
  EXPECT_EQ(platform::ApplicationWindow() != 0, testing_support::RunningOnWindows());
}

} // namespace
