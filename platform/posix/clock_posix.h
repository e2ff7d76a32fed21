// Local time from the system clock, or from SOURCE_DATE_EPOCH when it is set.
#pragma once

#include "platform/clock.h"

namespace velmora::platform::posix {

class PosixClock : public Clock {
 public:
  LocalTime Now() override;
};

}  // namespace velmora::platform::posix
