// Local time from GetLocalTime.
#pragma once

#include "platform/clock.h"

namespace velmora::platform::win32 {

class WinClock : public Clock {
 public:
  LocalTime Now() override;
};

}  // namespace velmora::platform::win32
