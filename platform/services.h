// The platform services in force for this process.
//
// The plug-in and the host reach the operating system only through these. By default
// they are the platform's real implementations; tests install fakes for a scope.
#pragma once

#include "platform/clock.h"
#include "platform/device_caps.h"
#include "platform/environment.h"
#include "platform/spooler.h"

namespace velmora::platform {

struct Services {
  Spooler* spooler = nullptr;
  Clock* clock = nullptr;
  Environment* environment = nullptr;
  DeviceCapabilities* devices = nullptr;
};

// The services in force. Never null members.
const Services& Current();

// The platform's real implementations (created on first use, live for the process).
Services Default();

// Replaces the services in force for the life of this object; members left null keep
// the services in force before. Not thread-safe: install before the work starts.
class ScopedServices {
 public:
  explicit ScopedServices(const Services& replacement);
  ~ScopedServices();
  ScopedServices(const ScopedServices&) = delete;
  ScopedServices& operator=(const ScopedServices&) = delete;

 private:
  Services previous_;
};

}  // namespace velmora::platform
