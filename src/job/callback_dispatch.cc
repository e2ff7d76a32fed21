// The command callbacks of the host's printer description: what the plug-in inserts at
// the start and end of the job, the document and every page.
#include <cmath>
#include <new>

#include "formats/vendor_settings.h"
#include "platform/services.h"
#include "src/job/device_utility.h"
#include "src/job/unidrv_interface.h"
#include "src/support/decimal_text.h"
#include "src/support/log.h"

namespace velmora {
namespace {

// The overlay capture markers written into the job (the final data finds them there).
constexpr char kCaptureBeginMarker[] = "%%OVL_PCLXL_BEGIN";
constexpr char kCaptureEndMarker[] = "%%OVL_PCLXL_FONT_END";

constexpr std::uint8_t kOpPopGS = 0x60;
constexpr std::uint8_t kOpPushGS = 0x61;
constexpr std::uint8_t kOpSetPageDefaultCTM = 0x74;

constexpr const WCHAR* kCallbackNames[] = {
    VTEXT("VELMORA - CUnidrvInterface::GPDCallbackCommand => GPD_CMD_START_JOB\r\n"),
    VTEXT("VELMORA - CUnidrvInterface::GPDCallbackCommand => GPD_CMD_END_JOB\r\n"),
    VTEXT("VELMORA - CUnidrvInterface::GPDCallbackCommand => GPD_CMD_MEDIA_TRAY\r\n"),
    VTEXT("VELMORA - CUnidrvInterface::GPDCallbackCommand => GPD_CMD_MEDIA_TYPE\r\n"),
    VTEXT("VELMORA - CUnidrvInterface::GPDCallbackCommand => GPD_CMD_START_PAGE\r\n"),
    VTEXT("VELMORA - CUnidrvInterface::GPDCallbackCommand => GPD_CMD_END_PAGE\r\n"),
    VTEXT("VELMORA - CUnidrvInterface::GPDCallbackCommand => GPD_CMD_START_DOC\r\n"),
    VTEXT("VELMORA - CUnidrvInterface::GPDCallbackCommand => GPD_CMD_END_DOC\r\n"),
    VTEXT("VELMORA - CUnidrvInterface::GPDCallbackCommand => GPD_CMD_DUPLEX\r\n"),
};

// A special page whose block's page rule is 1 gets no end-of-page watermark.
bool WatermarkSuppressed(VendorSettings settings) {
  const std::uint32_t kind = settings.dwSpecialPageKind();
  auto block = settings.SpecialPage(kind);
  return kind >= 1 && kind <= 3 && block && block->dwPageRule() == 1;
}

// The copies of each page the end of a page asks for. Collated copies are the job's: the
// header's QTY line asks the printer for that many copies of the whole job, and a page
// that asked for copies of its own as well would come out QTY times as often again.
std::uint16_t PageCopiesOf(const DEVMODEW* publicDM) {
  if (publicDM == nullptr || publicDM->dmCollate != 0) return 1;
  return static_cast<std::uint16_t>(publicDM->dmCopies);
}

// A value cut to 16 bits, as the page commands carry it.
std::int16_t Cut16(long long value) { return static_cast<std::int16_t>(static_cast<std::uint16_t>(value & 0xFFFF)); }

// A device figure truncated toward zero; figures no integer can hold count as 0.
long long Trunc(double value) {
  if (!std::isfinite(value) || value >= 9.2e18 || value <= -9.2e18) return 0;
  return static_cast<long long>(value);
}

}  // namespace

void CUnidrvInterface::PrepareCommandInsertor(DEVOBJ* pdevobj, std::uint8_t* pVendorDM, VendorData* pVendorData) {
  DEVMODEW* publicDM = pdevobj != nullptr ? pdevobj->pPublicDM : nullptr;
  HANDLE printer = pdevobj != nullptr ? pdevobj->hPrinter : nullptr;
  const DWORD jobId = pVendorData != nullptr ? pVendorData->dwJobId : 0;
  if (m_cmdInsertor) {
    m_cmdInsertor->Refresh(pVendorDM, publicDM, pdevobj, m_pDriverServices, jobId, printer);
    return;
  }
  LogMessage(VTEXT("VELMORA - CUnidrvInterface::GPDCallbackCommand => creating the command generator\r\n"));
  m_cmdInsertor.reset(new (std::nothrow)
                          CCommandInsertor(pVendorDM, publicDM, pdevobj, m_pDriverServices, jobId, printer));
}

void CUnidrvInterface::PrepareWatermarkRenderer(DEVOBJ* pdevobj, std::uint8_t* pVendorDM, VendorData* pVendorData) {
  if (!m_WMRender) {
    m_WMRender.reset(new (std::nothrow) CWaterMarkRenderrer());
    if (!m_WMRender) return;
    m_bDocumentStarted = true;
  }
  DEVMODEW* publicDM = pdevobj != nullptr ? pdevobj->pPublicDM : nullptr;
  // Each document starts with fresh renderer state and its own settings; later calls of
  // the document only bring the device values up to date.
  if (m_bDocumentStarted) {
    m_WMRender->InitInstance(pVendorData, publicDM, pVendorDM, pdevobj, m_pDriverServices);
    m_bDocumentStarted = false;
    return;
  }
  m_WMRender->Refresh(pVendorData, publicDM, pVendorDM, pdevobj, m_pDriverServices);
}

bool CUnidrvInterface::JobIsStopping(HANDLE hPrinter, DWORD jobId) {
  auto job = platform::Current().spooler->Job(hPrinter, jobId);
  if (!job) return false;
  return platform::JobIsStopping(job->status);
}

HRESULT CUnidrvInterface::GPDCallbackCommand(DEVOBJ* pdevobj, std::uint8_t* pVendorDM, VendorData* pVendorData,
                                             DWORD callbackId, DWORD, DWORD*, void*, DWORD, DWORD*) {
  LogMessage(VTEXT("VELMORA - CUnidrvInterface::GPDCallbackCommand => start\r\n"));
  HANDLE printer = pdevobj != nullptr ? pdevobj->hPrinter : nullptr;
  if (!IsSupportedPrintingModule(pVendorDM, printer)) return S_OK;
  PrepareCommandInsertor(pdevobj, pVendorDM, pVendorData);

  const DWORD index = callbackId - GPD_CMD_START_JOB;
  if (index > 8) {
    LogMessage(VTEXT("VELMORA - CUnidrvInterface::GPDCallbackCommand => end\r\n"));
    return S_OK;
  }
  LogMessage(kCallbackNames[index]);
  VendorSettings settings(pVendorDM);
  DEVMODEW* publicDM = pdevobj != nullptr ? pdevobj->pPublicDM : nullptr;

  switch (callbackId) {
    case GPD_CMD_START_JOB:
      if (m_cmdInsertor) m_cmdInsertor->InsertPJLJobHeader();
      if (settings.dwOverlayMode() != NO_OVERLAY) InitializeOverlayParameters(pdevobj, pVendorDM, pVendorData);
      break;

    case GPD_CMD_END_JOB:
      if (!m_cmdInsertor) break;
      if (settings.bRasterMode() == 0 && settings.dwOverlayMode() == CREATE_OVERLAY) {
        LogMessage(VTEXT("CUnidrvInterface::GPDCallbackCommand - Create New Overlay Call\r\n"));
        m_cmdInsertor->OutputRawByte(kOpPopGS);
        m_cmdInsertor->OutputRawString(kCaptureEndMarker);
      }
      m_cmdInsertor->InsertEOJCmd();
      break;

    case GPD_CMD_MEDIA_TRAY:
      if (m_cmdInsertor) m_cmdInsertor->InsertMediaTrayCommand(pVendorData);
      break;

    case GPD_CMD_MEDIA_TYPE:
      if (m_cmdInsertor) m_cmdInsertor->InsertMediaTypeCommand(pVendorData);
      break;

    case GPD_CMD_START_PAGE: HandlePCL6StartPageEventforCommandInsertion(pdevobj, pVendorDM, pVendorData); break;

    case GPD_CMD_END_PAGE: {
      if (settings.bRasterMode() == 0) {
        LogMessageInt(VTEXT("VELMORA - CUnidrvInterface::GPDCallbackCommand => sFP_SectionIndex = "),
                      settings.sFP_SectionIndex());
        LogMessageInt(VTEXT("VELMORA - CUnidrvInterface::GPDCallbackCommand => sNP_SectionIndex = "),
                      settings.sNP_SectionIndex());
        if ((settings.sFP_SectionIndex() > 0 || settings.sNP_SectionIndex() > 0) && !WatermarkSuppressed(settings)) {
          PrepareWatermarkRenderer(pdevobj, pVendorDM, pVendorData);
          if (m_WMRender) m_WMRender->CreateWatermark();
        }
      }
      if (!m_cmdInsertor) break;
      if (settings.bRasterMode() == 0 && settings.bOverlayUnder() == 0 && settings.dwOverlayMode() >= ONE_OVERLAY) {
        InsertPCLOverlayData(pVendorDM, pVendorData);
      }
      // A captured page stays open until the end of the job.
      if (settings.dwOverlayMode() == CREATE_OVERLAY) break;
      if (JobIsStopping(printer, pVendorData != nullptr ? pVendorData->dwJobId : 0)) {
        LogMessage(VTEXT("VELMORA - CUnidrvInterface::GPDCallbackCommand => the job is being deleted\r\n"));
        return S_OK;
      }
      m_cmdInsertor->OutputPCLXLEndPage(PageCopiesOf(publicDM));
      break;
    }

    case GPD_CMD_START_DOC:
      if (settings.sFP_SectionIndex() < 1 && settings.sNP_SectionIndex() < 1) break;
      // The same document on a new device (after a reset) keeps its sheet count, so that
      // a first-page watermark stays on the first page, and its bitmap streams, which the
      // printer holds already and must not receive twice.
      if (m_WMRender && !m_bDocumentStarted) {
        PrepareWatermarkRenderer(pdevobj, pVendorDM, pVendorData);
        break;
      }
      PrepareWatermarkRenderer(pdevobj, pVendorDM, pVendorData);
      if (m_WMRender) m_WMRender->InsertWatermarkProcedure();
      break;

    case GPD_CMD_END_DOC: break;

    case GPD_CMD_DUPLEX:
      if (m_cmdInsertor) m_cmdInsertor->InsertPCLCommandsforDuplex(pVendorData);
      break;

    default: break;
  }
  LogMessage(VTEXT("VELMORA - CUnidrvInterface::GPDCallbackCommand => end\r\n"));
  return S_OK;
}

void CUnidrvInterface::HandlePCL6StartPageEventforCommandInsertion(DEVOBJ* pdevobj, std::uint8_t* pVendorDM,
                                                                   VendorData* pVendorData) {
  if (!m_cmdInsertor || pVendorDM == nullptr) return;
  VendorSettings settings(pVendorDM);
  const bool capture = settings.dwOverlayMode() == CREATE_OVERLAY;
  if (settings.bRasterMode() == 0) {
    if (capture) {
      // Everything from the marker on is captured into the overlay file.
      m_cmdInsertor->OutputRawString(kCaptureBeginMarker);
      m_cmdInsertor->OutputRawByte(kOpPushGS);
      m_cmdInsertor->OutputRawByte(kOpSetPageDefaultCTM);
    } else if (settings.bOverlayUnder() != 0 && settings.dwOverlayMode() >= ONE_OVERLAY) {
      InsertPCLOverlayData(pVendorDM, pVendorData);
    }
  }

  DEVMODEW* publicDM = pdevobj != nullptr ? pdevobj->pPublicDM : nullptr;
  DeviceCaps caps;
  if (pdevobj != nullptr && Utility::GetDeviceCapabilities(pdevobj->hPrinter, publicDM, caps)) {
    std::int16_t x = Cut16(Trunc(caps.dXOffset));
    std::int16_t y = Cut16(Trunc(caps.dYOffset));
    double shift = ReadDecimalText(settings.szBindingShift());
    if (shift != 0.0) {
      if (settings.bMarginUnit() != 0) shift /= 25.4;
      if (settings.sBindingEdge() == 0) {
        x = Cut16(x + Cut16(Trunc(shift * publicDM->dmPrintQuality)));
      } else {
        y = Cut16(y + Cut16(Trunc(shift * publicDM->dmYResolution)));
      }
    }
    m_cmdInsertor->OutputPCLXLPageOrigin(x, y);
  }
  m_cmdInsertor->OutputPCLXLPageScale();
  if (capture) {
    m_cmdInsertor->OutputPCLXLClipRectangle(0, 0, Cut16(Trunc(caps.dXPrintArea)), Cut16(Trunc(caps.dYPrintArea)));
  }
  m_cmdInsertor->InsertColorSpacePCLXLCommands();
  m_cmdInsertor->OutputPCLXLROP();
}

}  // namespace velmora
