// Device figures for the page set-up and the page adjustment, and unit conversion.
#include "src/job/device_utility.h"

#include "formats/text.h"
#include "platform/services.h"
#include "src/support/log.h"

namespace velmora::Utility {

bool GetDeviceCapabilities(HANDLE hPrinter, DEVMODEW* pPublicDM, DeviceCaps& caps) {
  if (pPublicDM == nullptr || hPrinter == InvalidHandleValue()) return false;
  const auto& services = platform::Current();
  auto printerName = services.spooler->PrinterName(hPrinter);
  if (!printerName) return false;

  platform::PageSetup setup;
  setup.formName = text::ReadWideField(reinterpret_cast<const std::uint8_t*>(pPublicDM->dmFormName), 32);
  setup.paperSize = pPublicDM->dmPaperSize;
  setup.orientation = pPublicDM->dmOrientation;
  setup.printQuality = pPublicDM->dmPrintQuality;
  setup.yResolution = pPublicDM->dmYResolution;
  setup.devmode = pPublicDM;
  auto figures = services.devices->Figures(*printerName, setup);
  if (!figures) return false;

  caps.dXPrintArea = figures->xPrintArea;
  caps.dYPrintArea = figures->yPrintArea;
  caps.dXPhysicalArea = figures->xPhysicalArea;
  caps.dYPhysicalArea = figures->yPhysicalArea;
  caps.dXOffset = figures->xOffset;
  caps.dYOffset = figures->yOffset;
  caps.dXResolution = figures->xResolution;
  caps.dYResolution = figures->yResolution;
  LogMessageDouble(VTEXT("VELMORA - Utility::GetDeviceCapabilities => dXPrintArea = "), caps.dXPrintArea);
  LogMessageDouble(VTEXT("VELMORA - Utility::GetDeviceCapabilities => dYPrintArea = "), caps.dYPrintArea);
  LogMessageDouble(VTEXT("VELMORA - Utility::GetDeviceCapabilities => dXPhysicalArea = "), caps.dXPhysicalArea);
  LogMessageDouble(VTEXT("VELMORA - Utility::GetDeviceCapabilities => dYPhysicalArea = "), caps.dYPhysicalArea);
  LogMessageDouble(VTEXT("VELMORA - Utility::GetDeviceCapabilities => dXOffset = "), caps.dXOffset);
  LogMessageDouble(VTEXT("VELMORA - Utility::GetDeviceCapabilities => dYOffset = "), caps.dYOffset);
  LogMessageDouble(VTEXT("VELMORA - Utility::GetDeviceCapabilities => dXResolution = "), caps.dXResolution);
  LogMessageDouble(VTEXT("VELMORA - Utility::GetDeviceCapabilities => dYResolution = "), caps.dYResolution);
  return true;
}

double InchMMConversion(double value, std::uint8_t unit) { return unit != 0 ? value / 25.4 : value * 25.4; }

}  // namespace velmora::Utility
