// The system's local clock and the millisecond tick count.
#pragma once

#include <cstdint>

namespace platform {

struct TLocalTime {
  int Year = 0, Month = 0, Day = 0;
  int Hour = 0, Minute = 0, Second = 0, Millisecond = 0;
};

TLocalTime LocalNow();
// Milliseconds since some start; wraps modulo 2^32 like GetTickCount.
std::uint32_t TickCount();

} // namespace platform
