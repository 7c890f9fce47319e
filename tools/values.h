// How zrktool shows and reads the records' numbers: day numbers as calendar
// dates, seconds of the day as hh:mm:ss, run results with their meaning.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tools {

struct TCalendarDate {
  std::int32_t Year = 0;
  std::int32_t Month = 0;
  std::int32_t Day = 0;
};

// The calendar date of a day number (day 0 is 1 January 1600), found through
// the program's own encoder; nothing for BadDate or a day outside 1600..3999.
std::optional<TCalendarDate> DecodeDayNumber(std::int32_t dayNumber);
// "YYYY-MM-DD", "BadDate" for -1, "invalid" otherwise.
std::string FormatDayNumber(std::int32_t dayNumber);
// A day number as a number, "YYYY-MM-DD" or "DD.MM.YYYY".
std::optional<std::int32_t> ParseDayNumber(std::string_view text);

// "hh:mm:ss" for 0..86399, "invalid" otherwise.
std::string FormatSecondOfDay(std::int32_t seconds);
// Seconds as a number (0..86399) or "hh:mm:ss".
std::optional<std::int32_t> ParseSecondOfDay(std::string_view text);

// What a RunResult (the header's LastResult) means, from the program's own table.
std::string RunResultMeaning(std::int32_t result);

// A whole decimal number, optionally signed, in [min, max].
std::optional<std::int64_t> ParseInteger(std::string_view text, std::int64_t min, std::int64_t max);

} // namespace tools
