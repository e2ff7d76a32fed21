// The default platform services of a Windows process: winspool, the clock, the environment and GDI figures.
#include "platform/services.h"
#include "platform/win32/clock_win32.h"
#include "platform/win32/device_caps_win32.h"
#include "platform/win32/environment_win32.h"
#include "platform/win32/spooler_win32.h"

namespace velmora::platform {

Services Default() {
  static win32::WinClock clock;
  static win32::WinEnvironment environment;
  static win32::WinSpooler spooler;
  static win32::GdiDeviceCapabilities devices;
  return Services{&spooler, &clock, &environment, &devices};
}

}  // namespace velmora::platform
