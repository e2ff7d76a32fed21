// Local wall-clock time.
#pragma once

#include <optional>

namespace velmora::platform {

// A moment in local time, as GetLocalTime reports it.
struct LocalTime {
  int year = 0;
  int month = 0;  // 1-12
  int day = 0;    // 1-31
  int hour = 0;
  int minute = 0;
  int second = 0;
};

class Clock {
 public:
  virtual ~Clock() = default;
  // The current local time, or the moment SOURCE_DATE_EPOCH fixes in local time.
  virtual LocalTime Now() = 0;
};

// The moment fixed by SOURCE_DATE_EPOCH (whole seconds since 1970, UTC), when it holds
// one, so that jobs can be reproduced byte for byte on every platform.
std::optional<long long> ReproducibleEpoch();

}  // namespace velmora::platform
