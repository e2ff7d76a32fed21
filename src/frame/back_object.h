// The device back object: it owns the vendor object and turns each call of the plug-in
// object into a call of one vendor operation.
#pragma once

#include <cstdint>

#include "src/job/vendor_protocol.h"

namespace velmora {

class CSGdiPrintBaseBO {
 public:
  CSGdiPrintBaseBO() = default;
  virtual ~CSGdiPrintBaseBO() = default;
  CSGdiPrintBaseBO(const CSGdiPrintBaseBO&) = delete;
  CSGdiPrintBaseBO& operator=(const CSGdiPrintBaseBO&) = delete;

  // Slot 1: the vendor's Initialize; answers the vendor object.
  virtual CUnidrvPrintVendorProtocol* EnablePDEV(DEVOBJ* pdevobj, IPrintOemDriverUni* driverServices, HANDLE hPrinter,
                                                 const WCHAR* printerName, DEVMODEW* pPublicDM, std::uint8_t* pVendorDM,
                                                 VendorData* pVendorData, void* gdiInfo, void* devInfo);
  // Slot 2: the vendor's Release.
  virtual void DisablePDEV(HANDLE hPrinter, DEVMODEW* pPublicDM, std::uint8_t* pVendorDM, VendorData* pVendorData);
  // Slot 3: the vendor's Reset.
  virtual HRESULT ResetPDEV(DEVMODEW* oldPublicDM, std::uint8_t* oldVendorDM, VendorData* oldVendorData,
                            DEVMODEW* newPublicDM, std::uint8_t* newVendorDM, VendorData* newVendorData);
  // Slot 4: the vendor's device-mode merge hook.
  virtual HRESULT DevMode(DWORD mode, HANDLE hPrinter, DEVMODEW* publicDMIn, DEVMODEW* publicDMOut, void* pVendorData,
                          std::uint8_t* vendorDMIn, std::uint8_t* vendorDMOut);
  // Slot 5: the vendor's final-data rewriting.
  virtual HRESULT WritePrinter(DEVOBJ* pdevobj, std::uint8_t* pVendorDM, VendorData* pVendorData, std::uint8_t* buffer,
                               DWORD size);

  CUnidrvPrintVendorProtocol* vendor() const { return m_pVendor; }

 protected:
  CUnidrvPrintVendorProtocol* m_pVendor = nullptr;
};

class CSUniDrvBO : public CSGdiPrintBaseBO {
 public:
  // Creates the vendor object. Without one (memory exhausted) every forwarder answers
  // E_FAIL and does nothing.
  CSUniDrvBO();
  ~CSUniDrvBO() override;

  // Slot 6: the vendor's command dispatch.
  virtual HRESULT CommandCallback(DEVOBJ* pdevobj, std::uint8_t* pVendorDM, VendorData* pVendorData, DWORD callbackId,
                                  DWORD count, DWORD* parameters, void* output, DWORD outputSize, DWORD* written);
  // Slot 7: nothing.
  virtual void Reserved7();
  // Slot 8: the vendor's halftone patterns.
  virtual HRESULT HalftonePattern(HANDLE hPrinter, DEVMODEW* pPublicDM, std::uint8_t* pVendorDM,
                                  VendorData* pVendorData, std::uint8_t* pattern, DWORD patternWidth,
                                  DWORD patternHeight, DWORD patternCount, DWORD callbackId, std::uint8_t* resource,
                                  DWORD resourceSize);
  // Slot 9: the vendor's image data.
  virtual HRESULT ImageProcessing(std::uint8_t** buffer, DWORD* size, HANDLE hPrinter, DEVMODEW* pPublicDM,
                                  std::uint8_t* pVendorDM, VendorData* pVendorData, BYTE* sourceBitmap,
                                  void* bitmapHeader, BYTE* colorTable, DWORD callbackId, void* parameters,
                                  BYTE** resultBitmap);
  // Slot 10: not implemented.
  virtual HRESULT Reserved10();
  // Slot 11: the vendor's page adjustment.
  virtual HRESULT GetPDEVAdjustment(HANDLE hPrinter, DEVMODEW* pPublicDM, std::uint8_t* pVendorDM,
                                    VendorData* pVendorData, DWORD adjustmentType, void* buffer, DWORD size,
                                    BOOL* done);
};

}  // namespace velmora
