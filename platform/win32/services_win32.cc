#include "platform/services.h"
#include "platform/win32/clock_win32.h"
#include "platform/win32/environment_win32.h"
#include "platform/win32/spooler_win32.h"

namespace velmora::platform {

Services Default() {
  static win32::WinClock clock;
  static win32::WinEnvironment environment;
  static win32::WinSpooler spooler;
  return Services{&spooler, &clock, &environment};
}

}  // namespace velmora::platform
