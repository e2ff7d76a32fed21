// CUnidrvPrintVendorProtocol: the job processor as the plug-in frame sees it. The frame
// reaches the vendor object only through these operations, in this slot order.
#pragma once

#include <cstdint>

#include "formats/host_interface.h"
#include "src/job/vendor_data.h"

namespace velmora {

class CUnidrvPrintVendorProtocol {
 public:
  // Creates the one implementation; null when memory is exhausted.
  static CUnidrvPrintVendorProtocol* CreateVendorObject();

  virtual ~CUnidrvPrintVendorProtocol() = default;

  virtual void Initialize(DEVOBJ* pdevobj, IPrintOemDriverUni* driverServices, HANDLE hPrinter,
                          const WCHAR* printerName, DWORD* result, DEVMODEW* pPublicDM, std::uint8_t* pVendorDM,
                          VendorData* pVendorData, void* gdiInfo) = 0;
  virtual void Release(std::uint8_t* pVendorDM, VendorData* pVendorData) = 0;
  virtual HRESULT Reset(DEVMODEW* oldPublicDM, std::uint8_t* oldVendorDM, VendorData* oldVendorData,
                        DEVMODEW* newPublicDM, std::uint8_t* newVendorDM, VendorData* newVendorData) = 0;
  virtual HRESULT MergeDevMode(DWORD mode, HANDLE hPrinter, DEVMODEW* publicDMIn, DEVMODEW* publicDMOut,
                               void* pVendorData, std::uint8_t* vendorDMIn, std::uint8_t* vendorDMOut) = 0;
  virtual HRESULT GetPDLStreamForJobControlEvents(DWORD event, std::uint8_t** stream, DWORD* streamSize,
                                                  DEVOBJ* pdevobj, VendorData* pVendorData, const WCHAR* documentName,
                                                  DWORD jobId, HANDLE hPrinter, DEVMODEW* pPublicDM,
                                                  std::uint8_t* pVendorDM, DWORD* moreData, void** cookie) = 0;
  virtual HRESULT GetImageData(std::uint8_t** image, DWORD* imageSize, VendorData* pVendorData, void* sourceBitmap,
                               void* bitmapHeader, void* colorTable, HANDLE hPrinter, DEVMODEW* pPublicDM,
                               std::uint8_t* pVendorDM, DWORD callbackId, void* parameters) = 0;
  virtual HRESULT GPDCallbackCommand(DEVOBJ* pdevobj, std::uint8_t* pVendorDM, VendorData* pVendorData,
                                     DWORD callbackId, DWORD parameterCount, DWORD* parameters, void* output,
                                     DWORD outputSize, DWORD* written) = 0;
  virtual HRESULT ModifyFinalPrintData(DEVOBJ* pdevobj, std::uint8_t* pVendorDM, VendorData* pVendorData,
                                       std::uint8_t* buffer, DWORD size) = 0;
  virtual HRESULT GetHalftonePattern(HANDLE hPrinter, DEVMODEW* pPublicDM, std::uint8_t* pVendorDM,
                                     VendorData* pVendorData, std::uint8_t* pattern, DWORD patternWidth,
                                     DWORD patternHeight, DWORD patternCount, DWORD callbackId, std::uint8_t* resource,
                                     DWORD resourceSize) = 0;
  virtual HRESULT UpdatePDev(HANDLE hPrinter, DEVMODEW* pPublicDM, std::uint8_t* pVendorDM, VendorData* pVendorData,
                             DWORD adjustmentType, void* buffer, DWORD size, BOOL* done) = 0;
  virtual BOOL OEMBitBlt(SURFOBJ* target, SURFOBJ* source, SURFOBJ* mask, CLIPOBJ* clip, XLATEOBJ* translate,
                         RECTL* targetRect, POINTL* sourcePoint, POINTL* maskPoint, BRUSHOBJ* brush,
                         POINTL* brushOrigin, ROP4 rop) = 0;
  virtual BOOL OEMStretchBlt(SURFOBJ* target, SURFOBJ* source, SURFOBJ* mask, CLIPOBJ* clip, XLATEOBJ* translate,
                             COLORADJUSTMENT* colorAdjustment, POINTL* halftoneOrigin, RECTL* targetRect,
                             RECTL* sourceRect, POINTL* maskPoint, ULONG mode) = 0;
  virtual BOOL OEMStretchBltROP(SURFOBJ* target, SURFOBJ* source, SURFOBJ* mask, CLIPOBJ* clip, XLATEOBJ* translate,
                                COLORADJUSTMENT* colorAdjustment, POINTL* halftoneOrigin, RECTL* targetRect,
                                RECTL* sourceRect, POINTL* maskPoint, ULONG mode, BRUSHOBJ* brush, ROP4 rop) = 0;
  virtual BOOL OEMTextOut(SURFOBJ* surface, STROBJ* text, FONTOBJ* font, CLIPOBJ* clip, RECTL* extraRect,
                          RECTL* opaqueRect, BRUSHOBJ* foreground, BRUSHOBJ* opaque, POINTL* brushOrigin, MIX mix) = 0;
};

// Job-control event codes.
inline constexpr DWORD CS_JOBEVENT_SENDPAGE = 32;
inline constexpr DWORD CS_JOBEVENT_STARTPAGE = 33;
inline constexpr DWORD CS_JOBEVENT_ENDDOC = 34;
inline constexpr DWORD CS_JOBEVENT_STARTDOC = 35;

// Command callback ids.
inline constexpr DWORD GPD_CMD_START_JOB = 5000;
inline constexpr DWORD GPD_CMD_END_JOB = 5001;
inline constexpr DWORD GPD_CMD_MEDIA_TRAY = 5002;
inline constexpr DWORD GPD_CMD_MEDIA_TYPE = 5003;
inline constexpr DWORD GPD_CMD_START_PAGE = 5004;
inline constexpr DWORD GPD_CMD_END_PAGE = 5005;
inline constexpr DWORD GPD_CMD_START_DOC = 5006;
inline constexpr DWORD GPD_CMD_END_DOC = 5007;
inline constexpr DWORD GPD_CMD_DUPLEX = 5008;

}  // namespace velmora
