#include "platform/posix/clock_posix.h"

#include <cerrno>
#include <cstdlib>
#include <ctime>

namespace velmora::platform::posix {
namespace {

// The moment fixed by SOURCE_DATE_EPOCH, when it holds a whole number of seconds.
bool ReproducibleEpoch(std::time_t* out) {
  const char* text = std::getenv("SOURCE_DATE_EPOCH");
  if (text == nullptr || *text == '\0') return false;
  char* end = nullptr;
  errno = 0;
  long long seconds = std::strtoll(text, &end, 10);
  if (errno != 0 || *end != '\0' || seconds < 0) return false;
  *out = static_cast<std::time_t>(seconds);
  return true;
}

}  // namespace

LocalTime PosixClock::Now() {
  std::time_t moment = 0;
  if (!ReproducibleEpoch(&moment)) moment = std::time(nullptr);
  std::tm parts{};
  localtime_r(&moment, &parts);
  return LocalTime{parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday,
                   parts.tm_hour,        parts.tm_min,     parts.tm_sec};
}

}  // namespace velmora::platform::posix
