// The default platform services of a POSIX process: the printer store, clock, environment and device figures.
#include "platform/posix/clock_posix.h"
#include "platform/posix/device_caps_posix.h"
#include "platform/posix/environment_posix.h"
#include "platform/posix/spooler_store.h"
#include "platform/services.h"

namespace velmora::platform {

Services Default() {
  static posix::PosixClock clock;
  static posix::PosixEnvironment environment;
  static posix::StoreSpooler spooler;
  static posix::ModelDeviceCapabilities devices;
  return Services{&spooler, &clock, &environment, &devices};
}

}  // namespace velmora::platform
