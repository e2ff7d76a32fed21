// Device figures on Windows: GetDeviceCaps on a device context of the printer.
#include "platform/win32/device_caps_win32.h"

#include "platform/paper_model.h"

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
  // A driver that knows no paper (Wine's own printer driver without a printer
  // description) reports an empty page; the printer then gets the generic model's
  // figures, as a POSIX printer without a paper model does.
  if (figures.xPhysicalArea <= 0 || figures.yPhysicalArea <= 0) return FiguresFor(GenericPaperModel(), setup);
  return figures;
}

}  // namespace velmora::platform::win32
