// Device figures on POSIX: the printer's own paper model from the printer store (its
// "PaperModel" text value), or the built-in generic model when it has none or its model
// is malformed.
#pragma once

#include "platform/device_caps.h"

namespace velmora::platform::posix {

class ModelDeviceCapabilities : public DeviceCapabilities {
 public:
  std::optional<DeviceFigures> Figures(const WString& printerName, const PageSetup& setup) override;
};

}  // namespace velmora::platform::posix
