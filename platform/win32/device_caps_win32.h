// Device figures on Windows: a device context for the printer, asked with GetDeviceCaps.
#pragma once

#include "platform/device_caps.h"

namespace velmora::platform::win32 {

class GdiDeviceCapabilities : public DeviceCapabilities {
 public:
  std::optional<DeviceFigures> Figures(const WString& printerName, const PageSetup& setup) override;
};

}  // namespace velmora::platform::win32
