// Dates as day numbers (days since 1 January 1600) and the time of day as
// seconds since local midnight, the encodings of the administration header.
#pragma once

#include <cstdint>
#include <string_view>

#include "platform/clock.h"

namespace util {

constexpr std::int32_t BadDate = -1;
// Epoch that ParseDateDigits completes one- and two-digit years with.
constexpr std::int32_t DateDigitsEpoch = 2050;

// Gregorian rule, and no leap year in years divisible by 4000.
[[nodiscard]] bool IsLeapYear(std::int32_t year);
// A year whose low 16 bits are below 100 lands in the 100 years from `epoch`
// on; epoch 0 leaves it as it is (and so invalid).
std::int32_t ResolveTwoDigitYear(std::int32_t year, std::int32_t epoch);
// 28..31, or 0 for a month outside 1..12 or a year outside 1600..3999.
std::int32_t DaysInMonth(std::int32_t month, std::int32_t year, std::int32_t epoch);
[[nodiscard]] bool IsValidDate(std::int32_t day, std::int32_t month, std::int32_t year,
                               std::int32_t epoch);
// Days since 1 January 1600, or BadDate.
std::int32_t EncodeDayNumber(std::int32_t day, std::int32_t month, std::int32_t year,
                             std::int32_t epoch);
// Eight characters DDMMYYYY without separators; every field is read leniently
// (a character that does not fit ends its number), the date then validated.
std::int32_t ParseDateDigits(std::string_view text);

std::int32_t CurrentDayNumber();
std::int32_t CurrentDayNumber(const platform::TLocalTime &now);
// Whole seconds since local midnight, 0..86399; milliseconds are dropped.
std::int32_t CurrentSecondOfDay();
std::int32_t CurrentSecondOfDay(const platform::TLocalTime &now);

} // namespace util
