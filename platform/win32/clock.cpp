// Windows local clock and millisecond tick count.
#include <windows.h>

#include "platform/clock.h"

namespace platform {

TLocalTime LocalNow() {
  SYSTEMTIME now;
  GetLocalTime(&now);
  TLocalTime t;
  t.Year = now.wYear;
  t.Month = now.wMonth;
  t.Day = now.wDay;
  t.Hour = now.wHour;
  t.Minute = now.wMinute;
  t.Second = now.wSecond;
  t.Millisecond = now.wMilliseconds;
  return t;
}

std::uint32_t TickCount() {
  return GetTickCount();
}

} // namespace platform
