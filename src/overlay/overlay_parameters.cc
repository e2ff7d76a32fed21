// The overlay set-up at the start of a job: the printer's overlay folder and list give
// the overlay to create or the overlays to play.
#include "src/overlay/overlay_parameters.h"

#include "formats/text.h"
#include "formats/vendor_settings.h"
#include "platform/services.h"
#include "src/job/unidrv_interface.h"
#include "src/support/log.h"

namespace velmora {
namespace Utility {
namespace {

// Reads a text value of the named printer; empty on any failure.
WString ReadPrinterText(const WString& printerName, const WCHAR* valueName, const WCHAR* openFailed,
                        const WCHAR* readFailed) {
  auto* spooler = platform::Current().spooler;
  HANDLE printer = spooler->Open(printerName, platform::PRINTER_ACCESS_USE);
  if (printer == nullptr) {
    LogMessage(openFailed);
    return WString();
  }
  auto value = spooler->ReadPrinterData(printer, valueName);
  spooler->Close(printer);
  if (!value || value->bytes.empty()) {
    LogMessage(readFailed);
    return WString();
  }
  return text::ReadWideField(value->bytes.data(), value->bytes.size() / 2);
}

}  // namespace

WString GetOverlayDirectoryFromRegistry(const WString& printerName) {
  return ReadPrinterText(printerName, kOverlayDirectoryValue,
                         VTEXT("Utility::GetOverlayDirectoryFromRegistry  Open printer failed.\r\n"),
                         VTEXT("Utility::GetOverlayDirectoryFromRegistry  GetPrinterData failed.\r\n"));
}

WString GetOverlayFileNameFromRegistry(const WString& printerName) {
  return ReadPrinterText(printerName, kOverlayFilesValue,
                         VTEXT("Utility::GetOverlayFileNameFromRegistry  OpenPrinter failed. \r\n"),
                         VTEXT("Utility::GetOverlayFileNameFromRegistry  GetPrinterDataW failed. \r\n"));
}

}  // namespace Utility

std::int32_t CUnidrvInterface::InitializeOverlayParameters(DEVOBJ* pdevobj, std::uint8_t* pVendorDM,
                                                           VendorData* pVendorData) {
  if (pdevobj == nullptr || pVendorDM == nullptr || pVendorData == nullptr) return 0;
  VendorSettings settings(pVendorDM);
  const std::uint32_t mode = settings.dwOverlayMode();
  auto turnOff = [&settings](const WCHAR* why) {
    LogMessage(why);
    settings.set_dwOverlayMode(NO_OVERLAY);
    return 0;
  };

  auto printerName = platform::Current().spooler->PrinterName(pdevobj->hPrinter);
  if (!printerName) return turnOff(VTEXT("VELMORA - CUnidrvInterface::InitializeOverlayParameters => no printer\r\n"));
  const WString list = Utility::GetOverlayFileNameFromRegistry(*printerName);
  if (list.empty())
    return turnOff(VTEXT("VELMORA - CUnidrvInterface::InitializeOverlayParameters => no overlay list\r\n"));
  WString folder = Utility::GetOverlayDirectoryFromRegistry(*printerName);
  if (folder.empty()) {
    return turnOff(VTEXT("VELMORA - CUnidrvInterface::InitializeOverlayParameters => no overlay folder\r\n"));
  }

  const std::vector<WString> entries = Utility::split(list, VTEXT(';'));
  // A list with fewer entries than the mode needs sets up nothing.
  const std::size_t needed = mode == ONE_OVERLAY ? 1 : (mode == CREATE_OVERLAY || mode == ODD_EVEN_OVERLAY) ? 2 : 0;
  if (entries.size() < needed) {
    return turnOff(
        VTEXT("VELMORA - CUnidrvInterface::InitializeOverlayParameters => the overlay list is too short\r\n"));
  }

  if (folder.back() != platform::PathSeparator()) folder.push_back(platform::PathSeparator());
  if (folder.size() > kOverlayFolderChars) folder.resize(kOverlayFolderChars);
  auto path = [&folder](const WString& name) {
    WString full = folder + name;
    if (full.size() > kOverlayPathChars) full.resize(kOverlayPathChars);
    return full;
  };

  switch (mode) {
    case CREATE_OVERLAY:
      m_strOverlayName = entries[0];
      m_strOverlayFile = path(entries[1]);
      CreateOVLFileAndInsertOverlayHeader(pdevobj, pVendorDM, pVendorData);
      break;
    case ONE_OVERLAY: m_strOverlayFile = path(entries[0]); break;
    case ODD_EVEN_OVERLAY:
      m_strOverlayFile = path(entries[0]);
      m_strOverlayFileEven = path(entries[1]);
      break;
    default: break;
  }
  return 0;
}

}  // namespace velmora
