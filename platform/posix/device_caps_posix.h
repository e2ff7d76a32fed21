// Device figures on POSIX: the printer's paper model, or the built-in generic model.
#pragma once

#include "platform/device_caps.h"

namespace velmora::platform::posix {

class ModelDeviceCapabilities : public DeviceCapabilities {
 public:
  std::optional<DeviceFigures> Figures(const WString& printerName, const PageSetup& setup) override;
};

}  // namespace velmora::platform::posix
