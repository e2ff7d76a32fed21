#include "src/watermark/watermark_renderer.h"

#include "src/support/log.h"

namespace velmora {

bool CWaterMarkRenderrer::InitInstance(VendorData* pVendorData, DEVMODEW* pPublicDM, std::uint8_t* pVendorDM,
                                       DEVOBJ* pdevobj, IPrintOemDriverUni* driverServices) {
  LogMessage(VTEXT("VELMORA - CWaterMarkRenderrer::InitInstance => start\r\n"));
  m_pVendorData = pVendorData;
  m_pPublicDM = pPublicDM;
  m_pVendorDM = pVendorDM;
  m_pDevObj = pdevobj;
  m_pDriverServices = driverServices;
  return pVendorData != nullptr && pPublicDM != nullptr && pVendorDM != nullptr && pdevobj != nullptr;
}

void CWaterMarkRenderrer::BeginDocument() { ++documentsBegun_; }

void CWaterMarkRenderrer::InsertWatermarkProcedure() {
  // The bitmap stream definitions are not built yet; nothing is written.
}

void CWaterMarkRenderrer::CreateWatermark() {
  // Watermark drawing is not built yet; nothing is written.
}

}  // namespace velmora
