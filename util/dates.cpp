// Day numbers, their validity rules, the DDMMYYYY reader and the local clock.
#include "util/dates.h"

#include <cstdint>

#include "util/text.h"

namespace util {

namespace {

constexpr std::int32_t FirstYear = 1600;
constexpr std::int32_t LastYear = 3999;
constexpr std::int32_t DaysPer400Years = 146097;
constexpr std::int32_t DaysPer4Years = 1461;

// Wraps like the host's 32-bit arithmetic instead of overflowing.
std::int32_t WrappingAdd(std::int32_t a, std::int32_t b) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) + static_cast<std::uint32_t>(b));
}

// One field of a DDMMYYYY text in the number forms of ParseInt64 (blanks, a
// sign, decimal digits or "$"/"x"/"0x" and hexadecimal digits), but lenient: a
// character that does not fit ends the number, and then the digits read so far
// count without their sign.
std::int32_t ParseDateField(std::string_view field) {
  const TNumberStart start = ReadNumberStart(field);
  std::int32_t value = 0; // a field has at most four characters: no overflow
  for (std::size_t i = start.Digits; i < field.size(); ++i) {
    const int digit = DigitValue(field[i], start.Hex);
    if (digit < 0)
      return value;
    value = value * (start.Hex ? 16 : 10) + digit;
  }
  return start.Negative ? -value : value;
}

std::string_view Field(std::string_view text, std::size_t start, std::size_t count) {
  if (start >= text.size())
    return std::string_view();
  return text.substr(start, count);
}

} // namespace

bool IsLeapYear(std::int32_t year) {
  return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0) && year % 4000 != 0;
}

std::int32_t ResolveTwoDigitYear(std::int32_t year, std::int32_t epoch) {
  if ((static_cast<std::uint32_t>(year) & 0xFFFFu) >= 100)
    return year;
  std::int32_t century = epoch / 100 * 100;
  std::int32_t result = WrappingAdd(year, century);
  if (year < epoch % 100)
    result = WrappingAdd(result, 100);
  return result;
}

std::int32_t DaysInMonth(std::int32_t month, std::int32_t year, std::int32_t epoch) {
  year = ResolveTwoDigitYear(year, epoch);
  if (year < FirstYear || year > LastYear)
    return 0;
  switch (month) {
  case 2:
    return IsLeapYear(year) ? 29 : 28;
  case 4:
  case 6:
  case 9:
  case 11:
    return 30;
  case 1:
  case 3:
  case 5:
  case 7:
  case 8:
  case 10:
  case 12:
    return 31;
  default:
    return 0;
  }
}

bool IsValidDate(std::int32_t day, std::int32_t month, std::int32_t year, std::int32_t epoch) {
  year = ResolveTwoDigitYear(year, epoch);
  if (day < 1 || year < FirstYear || year > LastYear || month < 1 || month > 12)
    return false;
  return day <= DaysInMonth(month, year, epoch);
}

std::int32_t EncodeDayNumber(std::int32_t day, std::int32_t month, std::int32_t year,
                             std::int32_t epoch) {
  year = ResolveTwoDigitYear(year, epoch);
  if (!IsValidDate(day, month, year, epoch))
    return BadDate;
  if (year == FirstYear && month < 3)
    return month == 1 ? day - 1 : day + 30;
  // Years begin in March, so that the leap day is the last day of a year.
  if (month > 2) {
    month -= 3;
  } else {
    month += 9;
    year -= 1;
  }
  year -= FirstYear;
  return (year / 100) * DaysPer400Years / 4 + (year % 100) * DaysPer4Years / 4 +
         (153 * month + 2) / 5 + day + 59;
}

std::int32_t ParseDateDigits(std::string_view text) {
  text = text.substr(0, text.size() < 8 ? text.size() : 8);
  std::int32_t day = ParseDateField(Field(text, 0, 2));
  std::int32_t month = ParseDateField(Field(text, 2, 2));
  std::int32_t year = ParseDateField(Field(text, 4, 4));
  return EncodeDayNumber(day, month, year, DateDigitsEpoch);
}

std::int32_t CurrentDayNumber(const platform::TLocalTime &now) {
  return EncodeDayNumber(now.Day, now.Month, now.Year, 0);
}

std::int32_t CurrentDayNumber() {
  return CurrentDayNumber(platform::LocalNow());
}

std::int32_t CurrentSecondOfDay(const platform::TLocalTime &now) {
  return now.Hour * 3600 + now.Minute * 60 + now.Second;
}

std::int32_t CurrentSecondOfDay() {
  return CurrentSecondOfDay(platform::LocalNow());
}

} // namespace util
