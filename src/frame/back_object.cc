// The device back object: each plug-in call turned into one vendor operation.
#include "src/frame/back_object.h"

namespace velmora {

CUnidrvPrintVendorProtocol* CSGdiPrintBaseBO::EnablePDEV(DEVOBJ* pdevobj, IPrintOemDriverUni* driverServices,
                                                         HANDLE hPrinter, const WCHAR* printerName, DEVMODEW* pPublicDM,
                                                         std::uint8_t* pVendorDM, VendorData* pVendorData,
                                                         void* gdiInfo, void*) {
  if (m_pVendor == nullptr) return nullptr;
  DWORD result = 0;
  m_pVendor->Initialize(pdevobj, driverServices, hPrinter, printerName, &result, pPublicDM, pVendorDM, pVendorData,
                        gdiInfo);
  return m_pVendor;
}

void CSGdiPrintBaseBO::DisablePDEV(HANDLE, DEVMODEW*, std::uint8_t* pVendorDM, VendorData* pVendorData) {
  if (m_pVendor != nullptr) m_pVendor->Release(pVendorDM, pVendorData);
}

HRESULT CSGdiPrintBaseBO::ResetPDEV(DEVMODEW* oldPublicDM, std::uint8_t* oldVendorDM, VendorData* oldVendorData,
                                    DEVMODEW* newPublicDM, std::uint8_t* newVendorDM, VendorData* newVendorData) {
  if (m_pVendor == nullptr) return E_FAIL;
  return m_pVendor->Reset(oldPublicDM, oldVendorDM, oldVendorData, newPublicDM, newVendorDM, newVendorData);
}

HRESULT CSGdiPrintBaseBO::DevMode(DWORD mode, HANDLE hPrinter, DEVMODEW* publicDMIn, DEVMODEW* publicDMOut,
                                  void* pVendorData, std::uint8_t* vendorDMIn, std::uint8_t* vendorDMOut) {
  if (m_pVendor == nullptr) return E_FAIL;
  return m_pVendor->MergeDevMode(mode, hPrinter, publicDMIn, publicDMOut, pVendorData, vendorDMIn, vendorDMOut);
}

HRESULT CSGdiPrintBaseBO::WritePrinter(DEVOBJ* pdevobj, std::uint8_t* pVendorDM, VendorData* pVendorData,
                                       std::uint8_t* buffer, DWORD size) {
  if (m_pVendor == nullptr) return E_FAIL;
  return m_pVendor->ModifyFinalPrintData(pdevobj, pVendorDM, pVendorData, buffer, size);
}

CSUniDrvBO::CSUniDrvBO() { m_pVendor = CUnidrvPrintVendorProtocol::CreateVendorObject(); }

CSUniDrvBO::~CSUniDrvBO() {
  delete m_pVendor;
  m_pVendor = nullptr;
}

HRESULT CSUniDrvBO::CommandCallback(DEVOBJ* pdevobj, std::uint8_t* pVendorDM, VendorData* pVendorData, DWORD callbackId,
                                    DWORD count, DWORD* parameters, void* output, DWORD outputSize, DWORD* written) {
  if (m_pVendor == nullptr) return E_FAIL;
  if (output == nullptr && outputSize == 0 && written == nullptr) return E_FAIL;
  return m_pVendor->GPDCallbackCommand(pdevobj, pVendorDM, pVendorData, callbackId, count, parameters, output,
                                       outputSize, written);
}

void CSUniDrvBO::Reserved7() {}

HRESULT CSUniDrvBO::HalftonePattern(HANDLE hPrinter, DEVMODEW* pPublicDM, std::uint8_t* pVendorDM,
                                    VendorData* pVendorData, std::uint8_t* pattern, DWORD patternWidth,
                                    DWORD patternHeight, DWORD patternCount, DWORD callbackId, std::uint8_t* resource,
                                    DWORD resourceSize) {
  if (m_pVendor == nullptr) return E_FAIL;
  return m_pVendor->GetHalftonePattern(hPrinter, pPublicDM, pVendorDM, pVendorData, pattern, patternWidth,
                                       patternHeight, patternCount, callbackId, resource, resourceSize);
}

HRESULT CSUniDrvBO::ImageProcessing(std::uint8_t** buffer, DWORD* size, HANDLE hPrinter, DEVMODEW* pPublicDM,
                                    std::uint8_t* pVendorDM, VendorData* pVendorData, BYTE* sourceBitmap,
                                    void* bitmapHeader, BYTE* colorTable, DWORD callbackId, void* parameters,
                                    BYTE** resultBitmap) {
  if (m_pVendor == nullptr) return E_FAIL;
  const HRESULT result = m_pVendor->GetImageData(buffer, size, pVendorData, sourceBitmap, bitmapHeader, colorTable,
                                                 hPrinter, pPublicDM, pVendorDM, callbackId, parameters);
  if (SUCCEEDED(result) || result == E_NOTIMPL) {
    if (resultBitmap != nullptr) *resultBitmap = sourceBitmap;
    return S_OK;
  }
  if (resultBitmap != nullptr) *resultBitmap = nullptr;
  return result;
}

HRESULT CSUniDrvBO::Reserved10() { return E_NOTIMPL; }

HRESULT CSUniDrvBO::GetPDEVAdjustment(HANDLE hPrinter, DEVMODEW* pPublicDM, std::uint8_t* pVendorDM,
                                      VendorData* pVendorData, DWORD adjustmentType, void* buffer, DWORD size,
                                      BOOL* done) {
  if (m_pVendor == nullptr) return E_FAIL;
  const HRESULT result =
      m_pVendor->UpdatePDev(hPrinter, pPublicDM, pVendorDM, pVendorData, adjustmentType, buffer, size, done);
  if (SUCCEEDED(result) || result == E_NOTIMPL) {
    if (done != nullptr) *done = 1;
    return S_OK;
  }
  if (done != nullptr) *done = 0;
  return result;
}

}  // namespace velmora
