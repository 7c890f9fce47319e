// DOS times of files in zones with summer time: the seam converts with the
// zone rules it read once, and must land where the C library's mktime does,
// including the hour that a change skips and the one it repeats.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>
#include <sys/stat.h>

#include "platform/files.h"
#include "tests/support/test_support.h"

using namespace platform;

namespace {

std::uint32_t Dos(int year, int month, int day, int hour, int minute) {
  const auto date = static_cast<std::uint32_t>(((year - 1980) << 9) | (month << 5) | day);
  return (date << 16) | static_cast<std::uint32_t>((hour << 11) | (minute << 5));
}

std::time_t Mktime(std::uint32_t dos, int isDst) {
  std::tm t{};
  t.tm_year = static_cast<int>(dos >> 25) + 80;
  t.tm_mon = static_cast<int>((dos >> 21) & 0x0F) - 1;
  t.tm_mday = static_cast<int>((dos >> 16) & 0x1F);
  t.tm_hour = static_cast<int>((dos >> 11) & 0x1F);
  t.tm_min = static_cast<int>((dos >> 5) & 0x3F);
  t.tm_isdst = isDst;
  return mktime(&t);
}

class TZone {
public:
  explicit TZone(const char *zone) {
    if (const char *old = std::getenv("TZ"))
      Old = old, HadOld = true;
    setenv("TZ", zone, 1);
    tzset();
  }
  ~TZone() {
    if (HadOld)
      setenv("TZ", Old.c_str(), 1);
    else
      unsetenv("TZ");
    tzset();
  }

private:
  std::string Old;
  bool HadOld = false;
};

TEST(LocalTimes, DatesAroundSummerTimeChangesLandWhereTheZoneRulesSay) {
  struct TCase {
    const char *Zone;
    std::uint32_t Dos;
    bool Skipped;  // in the hour a change to summer time skips
    bool Repeated; // in the hour a change back repeats
  };
  const TCase cases[] = {
      {"Europe/Berlin", Dos(2024, 3, 31, 1, 58), false, false},
      {"Europe/Berlin", Dos(2024, 3, 31, 2, 30), true, false},
      {"Europe/Berlin", Dos(2024, 3, 31, 3, 0), false, false},
      {"Europe/Berlin", Dos(2024, 10, 27, 1, 58), false, false},
      {"Europe/Berlin", Dos(2024, 10, 27, 2, 30), false, true},
      {"Europe/Berlin", Dos(2024, 10, 27, 3, 0), false, false},
      {"Europe/Berlin", Dos(2024, 7, 1, 12, 0), false, false},
      {"America/New_York", Dos(2024, 3, 10, 2, 30), true, false},
      {"America/New_York", Dos(2024, 11, 3, 1, 30), false, true},
      {"America/New_York", Dos(2024, 1, 1, 0, 0), false, false},
      {"Australia/Sydney", Dos(2024, 10, 6, 2, 30), true, false},
      {"Australia/Sydney", Dos(2024, 4, 7, 2, 30), false, true},
      {"UTC", Dos(2024, 3, 31, 2, 30), false, false},
  };
  testing_support::TTempFolder dir;
  const std::string path = dir / "time.dat";
  ASSERT_TRUE(testing_support::WriteWholeFile(path, "x"));
  for (const TCase &c : cases) {
    SCOPED_TRACE(std::string(c.Zone) + " " + std::to_string(c.Dos));
    TZone zone(c.Zone);
    ASSERT_TRUE(SetDosTime(path, c.Dos)) << LastError();
    struct stat st;
    ASSERT_EQ(stat(NativePath(path).c_str(), &st), 0);
    if (c.Repeated) {
      // Either of the two moments is that local time.
      EXPECT_TRUE(st.st_mtime == Mktime(c.Dos, 0) || st.st_mtime == Mktime(c.Dos, 1));
    } else {
      EXPECT_EQ(st.st_mtime, Mktime(c.Dos, -1));
    }
    std::uint32_t back = 0;
    ASSERT_TRUE(GetDosTime(path, back));
    // A skipped time reads back an hour later, as the zone names that moment.
    EXPECT_EQ(back, c.Skipped ? c.Dos + (1u << 11) : c.Dos);
  }
}

} // namespace
