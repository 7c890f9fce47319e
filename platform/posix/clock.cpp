// POSIX local clock and millisecond tick count.
#include <ctime>
#include <sys/time.h>

#include "platform/clock.h"

namespace platform {

TLocalTime LocalNow() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  std::tm local{};
  localtime_r(&now.tv_sec, &local);
  TLocalTime t;
  t.Year = local.tm_year + 1900;
  t.Month = local.tm_mon + 1;
  t.Day = local.tm_mday;
  t.Hour = local.tm_hour;
  t.Minute = local.tm_min;
  // Windows has no leap second either.
  t.Second = local.tm_sec > 59 ? 59 : local.tm_sec;
  t.Millisecond = static_cast<int>(now.tv_nsec / 1000000);
  return t;
}

std::uint32_t TickCount() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  const auto ms = static_cast<std::uint64_t>(now.tv_sec) * 1000u +
                  static_cast<std::uint64_t>(now.tv_nsec / 1000000);
  return static_cast<std::uint32_t>(ms);
}

} // namespace platform
