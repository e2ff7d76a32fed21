// The platform services in force for this process, and their replacement in tests.
#include "platform/services.h"

namespace velmora::platform {
namespace {

Services& Installed() {
  static Services installed = Default();
  return installed;
}

}  // namespace

const Services& Current() { return Installed(); }

ScopedServices::ScopedServices(const Services& replacement) : previous_(Installed()) {
  Services& installed = Installed();
  if (replacement.spooler != nullptr) installed.spooler = replacement.spooler;
  if (replacement.clock != nullptr) installed.clock = replacement.clock;
  if (replacement.environment != nullptr) installed.environment = replacement.environment;
  if (replacement.devices != nullptr) installed.devices = replacement.devices;
}

ScopedServices::~ScopedServices() { Installed() = previous_; }

}  // namespace velmora::platform
