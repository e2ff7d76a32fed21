// The wall clock on Windows.
#include "platform/win32/clock_win32.h"

#include "platform/types.h"

namespace velmora::platform::win32 {

LocalTime WinClock::Now() {
  SYSTEMTIME now{};
  if (const std::optional<long long> epoch = ReproducibleEpoch()) {
    // FILETIME counts 100-nanosecond intervals from 1601; 1970 is 11644473600 s later.
    const unsigned long long ticks = (static_cast<unsigned long long>(*epoch) + 11644473600ull) * 10000000ull;
    const FILETIME moment{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
    SYSTEMTIME utc{};
    if (::FileTimeToSystemTime(&moment, &utc) && ::SystemTimeToTzSpecificLocalTime(nullptr, &utc, &now)) {
      return LocalTime{now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond};
    }
  }
  ::GetLocalTime(&now);
  return LocalTime{now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond};
}

}  // namespace velmora::platform::win32
