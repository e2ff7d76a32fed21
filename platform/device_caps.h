// The printer's device figures for a page set-up, as a device context for the printer
// reports them (GetDeviceCaps on Windows; the printer's paper model on POSIX).
#pragma once

#include <cstdint>
#include <optional>

#include "platform/types.h"

namespace velmora::platform {

// What the figures depend on, taken from the job's public device mode.
struct PageSetup {
  WString formName;               // dmFormName, e.g. "A4", "Letter"
  std::int16_t paperSize = 0;     // dmPaperSize (DMPAPER_* code)
  std::int16_t orientation = 1;   // dmOrientation: 1 portrait, 2 landscape
  std::int16_t printQuality = 0;  // dmPrintQuality: horizontal dots per inch
  std::int16_t yResolution = 0;   // dmYResolution: vertical dots per inch
  // The whole public device mode as the host holds it (dmSize + dmDriverExtra bytes), for
  // a platform that creates a real device context from it; may be null.
  const void* devmode = nullptr;
};

// Device figures in device dots.
struct DeviceFigures {
  double xPrintArea = 0;     // DESKTOPHORZRES
  double yPrintArea = 0;     // DESKTOPVERTRES
  double xPhysicalArea = 0;  // PHYSICALWIDTH
  double yPhysicalArea = 0;  // PHYSICALHEIGHT
  double xOffset = 0;        // PHYSICALOFFSETX
  double yOffset = 0;        // PHYSICALOFFSETY
  double xResolution = 0;    // LOGPIXELSX
  double yResolution = 0;    // LOGPIXELSY
};

class DeviceCapabilities {
 public:
  virtual ~DeviceCapabilities() = default;
  // The figures of the named printer for this page set-up; nothing when no device
  // context can be created for it.
  virtual std::optional<DeviceFigures> Figures(const WString& printerName, const PageSetup& setup) = 0;
};

}  // namespace velmora::platform
