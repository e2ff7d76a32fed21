// The wall clock on POSIX.
#include "platform/posix/clock_posix.h"

#include <ctime>

namespace velmora::platform::posix {

LocalTime PosixClock::Now() {
  const std::optional<long long> epoch = ReproducibleEpoch();
  const std::time_t moment = epoch ? static_cast<std::time_t>(*epoch) : std::time(nullptr);
  std::tm parts{};
  localtime_r(&moment, &parts);
  return LocalTime{parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec};
}

}  // namespace velmora::platform::posix
