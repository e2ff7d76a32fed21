// The vendor object's lifecycle, the job-control events, the module gate and the
// requests it declines.
#include "src/job/unidrv_interface.h"

#include <cstring>
#include <new>

#include "formats/text.h"
#include "formats/vendor_devmode.h"
#include "platform/services.h"
#include "src/frame/host_process.h"
#include "src/support/log.h"

namespace velmora {
namespace {

// Driver test tools that print without this plug-in's additions.
constexpr const WCHAR* kUnsupportedModules[] = {VTEXT("printdrvstress.exe"), VTEXT("devmodecorrupt.exe"),
                                                VTEXT("devmodecorruptw.exe"), VTEXT("PRDeviceCapabilities.exe")};

// Printer names are copied only when they are shorter than this (with the terminator).
constexpr std::size_t kPrinterNameLimit = 130;

bool BodySignatureIsValid(const std::uint8_t* pVendorDM) {
  return VendorSettings(const_cast<std::uint8_t*>(pVendorDM)).dwBodySignature() == kVendorSignature;
}

}  // namespace

CUnidrvPrintVendorProtocol* CUnidrvPrintVendorProtocol::CreateVendorObject() {
  return new (std::nothrow) CUnidrvInterface();
}

CUnidrvInterface::CUnidrvInterface() {
  LogMessage(VTEXT("VELMORA - CUnidrvInterface::CUnidrvInterface => created\r\n"));
}

CUnidrvInterface::~CUnidrvInterface() {
  // A capture that never saw its end marker leaves nothing behind.
  m_captureFile.Remove();
  m_cmdInsertor.reset();
  m_WMRender.reset();
  LogMessage(VTEXT("VELMORA - CUnidrvInterface::~CUnidrvInterface => destroyed\r\n"));
}

void CUnidrvInterface::Initialize(DEVOBJ*, IPrintOemDriverUni* driverServices, HANDLE, const WCHAR* printerName, DWORD*,
                                  DEVMODEW* pPublicDM, std::uint8_t*, VendorData* pVendorData, void*) {
  LogMessage(VTEXT("VELMORA - CUnidrvInterface::Initialize => start under pcl\r\n"));
  if (pPublicDM == nullptr || pVendorData == nullptr) return;
  m_pDriverServices = driverServices;
  std::memset(pVendorData->szPrinterName, 0, sizeof pVendorData->szPrinterName);
  if (printerName != nullptr) {
    const std::size_t length = text::BoundedLength(printerName, kPrinterNameLimit);
    if (length < kPrinterNameLimit) std::memcpy(pVendorData->szPrinterName, printerName, length * sizeof(WCHAR));
  }
  pVendorData->dwOverlayCaptured = 0;
  LogMessage(VTEXT("VELMORA - CUnidrvInterface::Initialize => end\r\n"));
}

void CUnidrvInterface::Release(std::uint8_t*, VendorData*) {
  LogMessage(VTEXT("VELMORA - CUnidrvInterface::Release => device released\r\n"));
}

HRESULT CUnidrvInterface::Reset(DEVMODEW*, std::uint8_t* oldVendorDM, VendorData* oldVendorData, DEVMODEW*,
                                std::uint8_t* newVendorDM, VendorData* newVendorData) {
  LogMessage(VTEXT("VELMORA - CUnidrvInterface::Reset => start\r\n"));
  if (oldVendorDM != nullptr && newVendorDM != nullptr && oldVendorDM != newVendorDM) {
    std::memmove(newVendorDM, oldVendorDM, kVendorBodySize);
  }
  if (oldVendorData != nullptr && newVendorData != nullptr && oldVendorData != newVendorData) {
    std::memcpy(newVendorData->szPrinterName, oldVendorData->szPrinterName, sizeof newVendorData->szPrinterName);
    newVendorData->frameList = oldVendorData->frameList;
    newVendorData->dwJobId = oldVendorData->dwJobId;
    newVendorData->dwOverlayCaptured = oldVendorData->dwOverlayCaptured;
    newVendorData->dwPageNumber = oldVendorData->dwPageNumber;
    newVendorData->dwTotalPages = oldVendorData->dwTotalPages;
    newVendorData->hWatermarkDC = oldVendorData->hWatermarkDC;
    // The new device takes the cell list over; the old one must not release it again.
    newVendorData->pCellRects = std::move(oldVendorData->pCellRects);
    newVendorData->wCellRectCount = oldVendorData->wCellRectCount;
    newVendorData->wCellRectCapacity = oldVendorData->wCellRectCapacity;
    oldVendorData->wCellRectCount = 0;
    oldVendorData->wCellRectCapacity = 0;
  }
  return S_OK;
}

HRESULT CUnidrvInterface::GetPDLStreamForJobControlEvents(DWORD event, std::uint8_t**, DWORD*, DEVOBJ* pdevobj,
                                                          VendorData* pVendorData, const WCHAR*, DWORD jobId,
                                                          HANDLE hPrinter, DEVMODEW* pPublicDM, std::uint8_t* pVendorDM,
                                                          DWORD*, void**) {
  if (pdevobj == nullptr || pVendorData == nullptr || pPublicDM == nullptr || pVendorDM == nullptr) return S_OK;
  if (!IsSupportedPrintingModule(pVendorDM, hPrinter)) return S_FALSE;
  if (!BodySignatureIsValid(pVendorDM)) return S_OK;
  switch (event) {
    case CS_JOBEVENT_STARTDOC:
      LogMessageLong(VTEXT("VELMORA - CUnidrvInterface::GetPDLStreamForJobControlEvents => start of document, job = "),
                     static_cast<std::int32_t>(jobId));
      // A list the previous document left behind (it ended without its end-of-document
      // event) is released rather than lost.
      pVendorData->pCellRects.reset();
      pVendorData->wCellRectCount = 0;
      pVendorData->wCellRectCapacity = 0;
      pVendorData->dwJobId = jobId;
      pVendorData->dwPageNumber = 0;
      m_bDocumentStarted = true;
      break;
    case CS_JOBEVENT_STARTPAGE:
      ++pVendorData->dwPageNumber;
      LogMessageLong(VTEXT("VELMORA - CUnidrvInterface::GetPDLStreamForJobControlEvents => start of page "),
                     static_cast<std::int32_t>(pVendorData->dwPageNumber));
      break;
    case CS_JOBEVENT_SENDPAGE:
      LogMessage(VTEXT("VELMORA - CUnidrvInterface::GetPDLStreamForJobControlEvents => send page\r\n"));
      break;
    case CS_JOBEVENT_ENDDOC:
      LogMessage(VTEXT("VELMORA - CUnidrvInterface::GetPDLStreamForJobControlEvents => end of document\r\n"));
      pVendorData->wCellRectCount = 0;
      pVendorData->pCellRects.reset();
      pVendorData->wCellRectCapacity = 0;
      break;
    default: break;
  }
  return S_FALSE;
}

HRESULT CUnidrvInterface::GetImageData(std::uint8_t**, DWORD*, VendorData*, void*, void*, void*, HANDLE, DEVMODEW*,
                                       std::uint8_t*, DWORD, void*) {
  // The host's bitmaps pass unchanged: no image data is produced, whatever the request.
  return S_OK;
}

HRESULT CUnidrvInterface::GetHalftonePattern(HANDLE hPrinter, DEVMODEW*, std::uint8_t* pVendorDM, VendorData*,
                                             std::uint8_t*, DWORD, DWORD, DWORD, DWORD callbackId, std::uint8_t*,
                                             DWORD) {
  if (!IsSupportedPrintingModule(pVendorDM, hPrinter)) return S_OK;
  switch (callbackId) {
    case 6000: LogMessage(VTEXT("VELMORA - CUnidrvInterface::GetHalftonePattern => pattern 6000\r\n")); break;
    case 6001: LogMessage(VTEXT("VELMORA - CUnidrvInterface::GetHalftonePattern => pattern 6001\r\n")); break;
    case 6002: LogMessage(VTEXT("VELMORA - CUnidrvInterface::GetHalftonePattern => pattern 6002\r\n")); break;
    default: break;
  }
  // No pattern is supplied: the host keeps its own halftoning.
  return E_FAIL;
}

bool CUnidrvInterface::IsSupportedPrintingModule(std::uint8_t* pVendorDM, HANDLE hPrinter) {
  if (pVendorDM == nullptr || hPrinter == InvalidHandleValue()) return false;
  const WString module = ReadModuleName(hPrinter);
  for (const WCHAR* tool : kUnsupportedModules) {
    if (text::EqualsNoCase(WStringView(module), WStringView(tool))) {
      LogMessage(VTEXT("VELMORA - CUnidrvInterface::IsSupportedPrintingModule => refused for a driver test tool\r\n"));
      return false;
    }
  }
  return true;
}

HRESULT CUnidrvInterface::MergeDevMode(DWORD mode, HANDLE hPrinter, DEVMODEW* publicDMIn, DEVMODEW* publicDMOut, void*,
                                       std::uint8_t* vendorDMIn, std::uint8_t* vendorDMOut) {
  return velmora::MergeDevMode(mode, hPrinter, publicDMIn, publicDMOut, vendorDMIn, vendorDMOut);
}

}  // namespace velmora
