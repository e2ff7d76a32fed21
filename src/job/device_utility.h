// Device figures and unit conversion for the page set-up and the page adjustment.
#pragma once

#include "formats/host_interface.h"

namespace velmora {

// Device figures of the printer for the job's device mode, in device dots.
struct DeviceCaps {
  double dXPrintArea = 0;
  double dYPrintArea = 0;
  double dXPhysicalArea = 0;
  double dYPhysicalArea = 0;
  double dXOffset = 0;
  double dYOffset = 0;
  double dXResolution = 0;
  double dYResolution = 0;
};

namespace Utility {

// Fills `caps` with the figures of the printer behind the handle for the device mode.
// False (and `caps` untouched) without a device mode, printer information or device
// context.
bool GetDeviceCapabilities(HANDLE hPrinter, DEVMODEW* pPublicDM, DeviceCaps& caps);

// Millimetres to inches (unit non-zero: divided by 25.4) or inches to millimetres
// (unit 0: multiplied by 25.4).
double InchMMConversion(double value, std::uint8_t unit);

}  // namespace Utility
}  // namespace velmora
