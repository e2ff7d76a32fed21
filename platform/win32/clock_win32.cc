#include "platform/win32/clock_win32.h"

#include "platform/types.h"

namespace velmora::platform::win32 {

LocalTime WinClock::Now() {
  SYSTEMTIME now{};
  ::GetLocalTime(&now);
  return LocalTime{now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond};
}

}  // namespace velmora::platform::win32
