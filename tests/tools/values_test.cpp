// zrktool's readable values: Windows-1252 <-> UTF-8, day numbers as calendar
// dates and back, times of day, and the strict number reader.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "tools/codepage.h"
#include "tools/values.h"
#include "util/dates.h"

namespace {

using namespace tools;

TEST(CodePage, EveryByteSurvivesTheTripThroughUtf8) {
  std::string all;
  for (int b = 1; b < 256; ++b)
    all += static_cast<char>(b);
  std::string back;
  ASSERT_TRUE(Utf8ToCp1252(Cp1252ToUtf8(all), back));
  EXPECT_EQ(back, all);
}

TEST(CodePage, KnownCharacters) {
  EXPECT_EQ(Cp1252ToUtf8("Gl\xFC"
                         "ck \x80 \x84"),
            "Gl\xC3\xBC"
            "ck \xE2\x82\xAC \xE2\x80\x9E");
  std::string out;
  ASSERT_TRUE(Utf8ToCp1252("M\xC3\xBCll \xE2\x82\xAC", out));
  EXPECT_EQ(out, "M\xFCll \x80");
}

TEST(CodePage, RefusesWhatWindows1252CannotStoreOrIsNotUtf8) {
  const char *cases[] = {
      "\xE6\x97\xA5",     // a CJK character
      "\xC3",             // cut sequence
      "ab\xE2\x82",       // cut at the end
      "\xC0\x80",         // overlong NUL
      "\xC1\xBC",         // overlong '|'
      "\x80",             // stray continuation byte
      "\xFF",             // never valid
      "\xF0\x9F\x98\x80", // outside the BMP
  };
  for (const char *c : cases) {
    SCOPED_TRACE(testing::PrintToString(std::string(c)));
    std::string out = "unchanged";
    EXPECT_FALSE(Utf8ToCp1252(c, out));
    EXPECT_EQ(out, "unchanged");
  }
}

TEST(DayNumbers, DecodeInvertsTheProgramsEncoder) {
  struct {
    int Y, M, D;
  } cases[] = {{1600, 1, 1},  {1600, 2, 29},  {1600, 12, 31}, {1700, 2, 28},
               {1700, 3, 1},  {1900, 3, 1},   {2000, 2, 29},  {2000, 3, 1},
               {2024, 5, 17}, {2024, 12, 31}, {3999, 12, 31}};
  for (const auto &c : cases) {
    SCOPED_TRACE(std::to_string(c.Y) + "-" + std::to_string(c.M) + "-" + std::to_string(c.D));
    std::int32_t n = util::EncodeDayNumber(c.D, c.M, c.Y, 0);
    ASSERT_NE(n, util::BadDate);
    auto d = DecodeDayNumber(n);
    ASSERT_TRUE(d.has_value());
    EXPECT_EQ(d->Year, c.Y);
    EXPECT_EQ(d->Month, c.M);
    EXPECT_EQ(d->Day, c.D);
  }
  EXPECT_EQ(FormatDayNumber(0), "1600-01-01");
  // Every day of a leap year and its neighbours comes back to itself.
  for (std::int32_t n = util::EncodeDayNumber(1, 12, 1999, 0);
       n <= util::EncodeDayNumber(31, 1, 2001, 0); ++n)
    ASSERT_EQ(ParseDayNumber(FormatDayNumber(n)), n) << FormatDayNumber(n);
}

TEST(DayNumbers, OutOfRangeShowsAsSuchAndBadInputIsRefused) {
  EXPECT_EQ(FormatDayNumber(-1), "BadDate");
  EXPECT_EQ(FormatDayNumber(-2), "invalid");
  EXPECT_EQ(FormatDayNumber(util::EncodeDayNumber(31, 12, 3999, 0) + 1), "invalid");
  EXPECT_EQ(ParseDayNumber("17.05.2024"), ParseDayNumber("2024-05-17"));
  EXPECT_EQ(ParseDayNumber("-1"), -1);
  for (const char *bad : {"2023-02-29", "2024-13-01", "2024-00-10", "31.04.2024", "2024/05/17", "",
                          "1599-12-31", "2024-5-17", "20x4-05-17"}) {
    SCOPED_TRACE(bad);
    EXPECT_FALSE(ParseDayNumber(bad).has_value());
  }
}

TEST(SecondsOfDay, ClockFormAndLimits) {
  EXPECT_EQ(FormatSecondOfDay(0), "00:00:00");
  EXPECT_EQ(FormatSecondOfDay(45296), "12:34:56");
  EXPECT_EQ(FormatSecondOfDay(86399), "23:59:59");
  EXPECT_EQ(FormatSecondOfDay(86400), "invalid");
  EXPECT_EQ(FormatSecondOfDay(-1), "invalid");
  EXPECT_EQ(ParseSecondOfDay("12:34:56"), 45296);
  EXPECT_EQ(ParseSecondOfDay("86399"), 86399);
  for (const char *bad : {"24:00:00", "12:60:00", "12:00:60", "86400", "-1", "1:2:3", "ab:cd:ef"}) {
    SCOPED_TRACE(bad);
    EXPECT_FALSE(ParseSecondOfDay(bad).has_value());
  }
}

TEST(Integers, StrictDecimalWithinBounds) {
  EXPECT_EQ(ParseInteger("-2147483648", INT32_MIN, INT32_MAX), INT32_MIN);
  EXPECT_EQ(ParseInteger("+7", 0, 9), 7);
  for (const char *bad : {"", "-", "2147483648", "1e3", " 1", "0x10", "12a", "99999999999999999"}) {
    SCOPED_TRACE(bad);
    EXPECT_FALSE(ParseInteger(bad, INT32_MIN, INT32_MAX).has_value());
  }
}

TEST(RunResults, EveryCodeOfARunHasItsOwnMeaning) {
  std::set<std::string> seen;
  for (std::int32_t code = 0; code >= -9; --code) {
    SCOPED_TRACE(code);
    const std::string meaning = tools::RunResultMeaning(code);
    EXPECT_NE(meaning, "unknown result code");
    EXPECT_TRUE(seen.insert(meaning).second) << meaning;
  }
  EXPECT_NE(tools::RunResultMeaning(-8).find("folders"), std::string::npos);
  EXPECT_EQ(tools::RunResultMeaning(-10), "unknown result code");
  EXPECT_EQ(tools::RunResultMeaning(1), "unknown result code");
}

} // namespace
