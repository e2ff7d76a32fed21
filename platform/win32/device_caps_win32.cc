#include "platform/win32/device_caps_win32.h"

namespace velmora::platform::win32 {

std::optional<DeviceFigures> GdiDeviceCapabilities::Figures(const WString& printerName, const PageSetup& setup) {
  // The device context is created for the job's own device mode, so the figures follow
  // its paper, orientation and resolution.
  HDC dc = ::CreateDCW(L"WINSPOOL", printerName.c_str(), nullptr, static_cast<const ::DEVMODEW*>(setup.devmode));
  if (dc == nullptr) return std::nullopt;
  DeviceFigures figures;
  figures.xPrintArea = ::GetDeviceCaps(dc, DESKTOPHORZRES);
  figures.yPrintArea = ::GetDeviceCaps(dc, DESKTOPVERTRES);
  figures.xPhysicalArea = ::GetDeviceCaps(dc, PHYSICALWIDTH);
  figures.yPhysicalArea = ::GetDeviceCaps(dc, PHYSICALHEIGHT);
  figures.xOffset = ::GetDeviceCaps(dc, PHYSICALOFFSETX);
  figures.yOffset = ::GetDeviceCaps(dc, PHYSICALOFFSETY);
  figures.xResolution = ::GetDeviceCaps(dc, LOGPIXELSX);
  figures.yResolution = ::GetDeviceCaps(dc, LOGPIXELSY);
  ::DeleteDC(dc);
  return figures;
}

}  // namespace velmora::platform::win32
