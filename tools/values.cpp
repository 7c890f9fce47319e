// Dates, times, result codes and numbers as zrktool shows and reads them.
#include "tools/values.h"

#include <cstdio>

#include "admin/run_result.h"
#include "util/dates.h"

namespace tools {

namespace {

constexpr std::int32_t FirstYear = 1600;
constexpr std::int32_t LastYear = 3999;

std::int32_t Encode(std::int32_t day, std::int32_t month, std::int32_t year) {
  return util::EncodeDayNumber(day, month, year, 0);
}

std::string TwoDigits(std::int32_t v) {
  char buffer[8];
  std::snprintf(buffer, sizeof buffer, "%02d", static_cast<int>(v));
  return buffer;
}

} // namespace

std::optional<TCalendarDate> DecodeDayNumber(std::int32_t dayNumber) {
  if (dayNumber < 0 || dayNumber > Encode(31, 12, LastYear))
    return std::nullopt;
  // Largest year whose 1 January is not after the day, then the month likewise.
  std::int32_t lo = FirstYear, hi = LastYear;
  while (lo < hi) {
    std::int32_t mid = lo + (hi - lo + 1) / 2;
    if (Encode(1, 1, mid) <= dayNumber)
      lo = mid;
    else
      hi = mid - 1;
  }
  TCalendarDate date;
  date.Year = lo;
  date.Month = 1;
  while (date.Month < 12 && Encode(1, date.Month + 1, date.Year) <= dayNumber)
    ++date.Month;
  date.Day = dayNumber - Encode(1, date.Month, date.Year) + 1;
  return date;
}

std::string FormatDayNumber(std::int32_t dayNumber) {
  if (dayNumber == util::BadDate)
    return "BadDate";
  auto date = DecodeDayNumber(dayNumber);
  if (!date)
    return "invalid";
  return std::to_string(date->Year) + "-" + TwoDigits(date->Month) + "-" + TwoDigits(date->Day);
}

std::optional<std::int32_t> ParseDayNumber(std::string_view text) {
  if (auto n = ParseInteger(text, INT32_MIN, INT32_MAX))
    return static_cast<std::int32_t>(*n);
  std::string_view y, m, d;
  if (text.size() == 10 && text[4] == '-' && text[7] == '-') {
    y = text.substr(0, 4);
    m = text.substr(5, 2);
    d = text.substr(8, 2);
  } else if (text.size() == 10 && text[2] == '.' && text[5] == '.') {
    d = text.substr(0, 2);
    m = text.substr(3, 2);
    y = text.substr(6, 4);
  } else {
    return std::nullopt;
  }
  auto year = ParseInteger(y, FirstYear, LastYear);
  auto month = ParseInteger(m, 1, 12);
  auto day = ParseInteger(d, 1, 31);
  if (!year || !month || !day || y[0] == '-' || m[0] == '-' || d[0] == '-')
    return std::nullopt;
  std::int32_t n = Encode(static_cast<std::int32_t>(*day), static_cast<std::int32_t>(*month),
                          static_cast<std::int32_t>(*year));
  if (n == util::BadDate)
    return std::nullopt;
  return n;
}

std::string FormatSecondOfDay(std::int32_t seconds) {
  if (seconds < 0 || seconds >= 86400)
    return "invalid";
  return TwoDigits(seconds / 3600) + ":" + TwoDigits(seconds / 60 % 60) + ":" +
         TwoDigits(seconds % 60);
}

std::optional<std::int32_t> ParseSecondOfDay(std::string_view text) {
  if (text.size() == 8 && text[2] == ':' && text[5] == ':') {
    auto h = ParseInteger(text.substr(0, 2), 0, 23);
    auto m = ParseInteger(text.substr(3, 2), 0, 59);
    auto s = ParseInteger(text.substr(6, 2), 0, 59);
    if (!h || !m || !s || text[0] == '-' || text[3] == '-' || text[6] == '-')
      return std::nullopt;
    return static_cast<std::int32_t>(*h * 3600 + *m * 60 + *s);
  }
  if (auto n = ParseInteger(text, 0, 86399))
    return static_cast<std::int32_t>(*n);
  return std::nullopt;
}

std::string RunResultMeaning(std::int32_t result) {
  return admin::RunResultMeaning(result);
}

std::optional<std::int64_t> ParseInteger(std::string_view text, std::int64_t min,
                                         std::int64_t max) {
  std::size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
    negative = text[i] == '-';
    ++i;
  }
  if (i == text.size())
    return std::nullopt;
  std::int64_t value = 0;
  for (; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9')
      return std::nullopt;
    value = value * 10 + (text[i] - '0');
    if (value > (std::int64_t{1} << 40))
      return std::nullopt;
  }
  if (negative)
    value = -value;
  if (value < min || value > max)
    return std::nullopt;
  return value;
}

} // namespace tools
