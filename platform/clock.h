// Local wall-clock time.
#pragma once

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
  // The current local time. On POSIX, SOURCE_DATE_EPOCH (seconds since 1970) fixes the
  // moment so that jobs can be reproduced byte for byte.
  virtual LocalTime Now() = 0;
};

}  // namespace velmora::platform
