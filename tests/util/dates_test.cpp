// Day numbers, the DDMMYYYY reader and the clock-based helpers.
#include <gtest/gtest.h>

#include <string>

#include "util/dates.h"

namespace {

struct TDateCase {
  int Day, Month, Year, Epoch;
  std::int32_t Expected;
};

TEST(EncodeDayNumber, KnownDatesAndInvalidOnes) {
  const TDateCase cases[] = {
      {1, 1, 1600, 0, 0},         {29, 2, 1600, 0, 59},       {1, 3, 1600, 0, 60},
      {31, 12, 1999, 0, 146096},  {1, 1, 2000, 0, 146097},    {29, 2, 2000, 0, 146156},
      {4, 2, 2020, 0, 153436},    {31, 12, 3999, 0, 876581},  {29, 2, 1900, 0, -1},
      {31, 4, 2020, 0, -1},       {1, 1, 1599, 0, -1},        {1, 1, 4000, 0, -1},
      {0, 1, 2020, 0, -1},        {1, 13, 2020, 0, -1},       {1, 0, 2020, 0, -1},
      {-1, 1, 2020, 0, -1},       {1, 1, 16, 2050, 188465},   {1, 1, 16, 0, -1},
      {1, 1, 2116, 2050, 188465}, {31, 1, 1600, 0, 30},       {1, 2, 1600, 0, 31},
      {28, 2, 2100, 0, 182680},   {29, 2, 2100, 0, -1},       {29, 2, 2400, 0, 292253},
      {1, 1, 50, 2050, 164360},   {31, 12, 49, 2050, 200883},
  };
  for (const TDateCase &c : cases) {
    SCOPED_TRACE(std::to_string(c.Day) + "." + std::to_string(c.Month) + "." +
                 std::to_string(c.Year) + " epoch " + std::to_string(c.Epoch));
    EXPECT_EQ(util::EncodeDayNumber(c.Day, c.Month, c.Year, c.Epoch), c.Expected);
  }
}

TEST(EncodeDayNumber, ConsecutiveDaysAcrossTheWholeRangeDifferByOne) {
  std::int32_t previous = util::BadDate;
  for (int year = 1600; year <= 3999; ++year)
    for (int month = 1; month <= 12; ++month)
      for (int day = 1; day <= util::DaysInMonth(month, year, 0); ++day) {
        std::int32_t n = util::EncodeDayNumber(day, month, year, 0);
        ASSERT_EQ(n, previous + 1) << day << "." << month << "." << year;
        previous = n;
      }
  EXPECT_EQ(previous, 876581);
}

TEST(IsLeapYear, GregorianRuleWithoutYearsDivisibleBy4000) {
  EXPECT_TRUE(util::IsLeapYear(1600));
  EXPECT_TRUE(util::IsLeapYear(2000));
  EXPECT_TRUE(util::IsLeapYear(2024));
  EXPECT_FALSE(util::IsLeapYear(1900));
  EXPECT_FALSE(util::IsLeapYear(2023));
  EXPECT_FALSE(util::IsLeapYear(4000));
  EXPECT_FALSE(util::IsLeapYear(8000));
}

TEST(ResolveTwoDigitYear, WindowStartsAtTheEpoch) {
  EXPECT_EQ(util::ResolveTwoDigitYear(50, 2050), 2050);
  EXPECT_EQ(util::ResolveTwoDigitYear(99, 2050), 2099);
  EXPECT_EQ(util::ResolveTwoDigitYear(0, 2050), 2100);
  EXPECT_EQ(util::ResolveTwoDigitYear(49, 2050), 2149);
  EXPECT_EQ(util::ResolveTwoDigitYear(50, 1950), 1950);
  EXPECT_EQ(util::ResolveTwoDigitYear(49, 1950), 2049);
  EXPECT_EQ(util::ResolveTwoDigitYear(16, 0), 16);
  EXPECT_EQ(util::ResolveTwoDigitYear(100, 2050), 100);
  EXPECT_EQ(util::ResolveTwoDigitYear(2020, 2050), 2020);
  // Only the low 16 bits decide whether a year is completed.
  EXPECT_EQ(util::ResolveTwoDigitYear(65536 + 5, 2050), 65536 + 5 + 2000);
}

TEST(DaysInMonth, MonthLengthsAndInvalidInput) {
  EXPECT_EQ(util::DaysInMonth(1, 2021, 0), 31);
  EXPECT_EQ(util::DaysInMonth(2, 2021, 0), 28);
  EXPECT_EQ(util::DaysInMonth(2, 2020, 0), 29);
  EXPECT_EQ(util::DaysInMonth(4, 2021, 0), 30);
  EXPECT_EQ(util::DaysInMonth(12, 2021, 0), 31);
  EXPECT_EQ(util::DaysInMonth(13, 2021, 0), 0);
  EXPECT_EQ(util::DaysInMonth(0, 2021, 0), 0);
  EXPECT_EQ(util::DaysInMonth(1, 1599, 0), 0);
  EXPECT_EQ(util::DaysInMonth(1, 4000, 0), 0);
  EXPECT_EQ(util::DaysInMonth(2, 20, 2050), 29); // 2120
}

TEST(ParseDateDigits, FieldsAreReadLeniently) {
  struct {
    const char *Text;
    std::int32_t Expected;
  } const cases[] = {
      {"04022020", 153436}, {"0402202", -1}, // year 202
      {"31022020", -1},     {"4.2.2020", 153436},
      {"04.02.2020", -1}, // month ".0", year "2.20"
      {"04.02.20", -1},     {"", -1},
      {"010116", 188465},   {"04022020junk", 153436},
      {" 4 22020", 153436}, // leading blanks
      {"4 2 2020", 153436}, // a trailing blank ends a field
      {"$4$2$7E4", 153436}, // hexadecimal fields
      {"0402$7E4", 153436}, // year 0x7E4
      {"04020x7E4", -1},    // year "0x7E" = 126
      {"-4022020", -1},     // a sign that counts makes the day negative
      {"4-022020", 153436}, // the "-" ends the number; the digits before it count
      {"-4.22020", -1},     // "-4" is a whole field: day -4
      {"0402+020", 189960}, // a sign that counts; year 20 -> 2120
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.Text);
    EXPECT_EQ(util::ParseDateDigits(c.Text), c.Expected);
  }
}

TEST(CurrentClock, DayNumberAndSecondOfDayFromTheLocalTime) {
  platform::TLocalTime t;
  t.Year = 2020;
  t.Month = 2;
  t.Day = 4;
  EXPECT_EQ(util::CurrentDayNumber(t), 153436);
  t.Millisecond = 999;
  EXPECT_EQ(util::CurrentSecondOfDay(t), 0);
  t.Hour = 23;
  t.Minute = 59;
  t.Second = 59;
  EXPECT_EQ(util::CurrentSecondOfDay(t), 86399);
  t.Hour = 1;
  t.Minute = 2;
  t.Second = 3;
  EXPECT_EQ(util::CurrentSecondOfDay(t), 3723);

  std::int32_t today = util::CurrentDayNumber();
  EXPECT_GT(today, util::EncodeDayNumber(1, 1, 2020, 0));
  std::int32_t second = util::CurrentSecondOfDay();
  EXPECT_GE(second, 0);
  EXPECT_LE(second, 86399);
}

} // namespace
