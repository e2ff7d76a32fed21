// Page adjustment and the drawing hooks: custom margins, text in black, bitmaps left to
// the host.
#include <cmath>

#include "formats/le_bytes.h"
#include "src/frame/oem_pdev.h"
#include "src/job/device_utility.h"
#include "src/job/unidrv_interface.h"
#include "src/support/decimal_text.h"
#include "src/support/log.h"

namespace velmora {
namespace {

// The default margin, in inches.
constexpr double kDefaultMargin = 0.16;

// Truncation toward zero to a 32-bit edge; values no edge can hold count as 0.
std::int32_t TruncEdge(double value) {
  if (!std::isfinite(value) || value >= 2147483647.0 || value <= -2147483648.0) return 0;
  return static_cast<std::int32_t>(value);
}

}  // namespace

HRESULT CUnidrvInterface::UpdatePDev(HANDLE hPrinter, DEVMODEW* pPublicDM, std::uint8_t* pVendorDM,
                                     VendorData* pVendorData, DWORD, void* buffer, DWORD size, BOOL* done) {
  if (!IsSupportedPrintingModule(pVendorDM, hPrinter)) return S_OK;
  if (pVendorDM == nullptr || pVendorData == nullptr) return S_OK;
  if (buffer == nullptr || size != 16) {
    LogMessage(VTEXT("VELMORA - CUnidrvInterface::UpdatePDev => no printable-area rectangle\r\n"));
    return E_NOTIMPL;
  }
  auto* rect = static_cast<std::uint8_t*>(buffer);
  const std::int32_t left0 = le::I32(rect), top0 = le::I32(rect + 4), right0 = le::I32(rect + 8),
                     bottom0 = le::I32(rect + 12);

  VendorSettings settings(pVendorDM);
  double margins[4];
  for (std::size_t i = 0; i < 4; ++i) {
    margins[i] = ReadDecimalText(settings.szMargins(i));
    if (settings.bMarginUnit() != 0) margins[i] = Utility::InchMMConversion(margins[i], settings.bMarginUnit());
  }
  if (settings.sCustomMargins() != 1 || pPublicDM == nullptr) {
    LogMessage(VTEXT("VELMORA - CUnidrvInterface::UpdatePDev => no custom margins\r\n"));
    return E_NOTIMPL;
  }

  const double x = pPublicDM->dmPrintQuality;
  const double y = pPublicDM->dmYResolution;
  auto keeps = [](double dpi, double margin) { return TruncEdge(kDefaultMargin * dpi) == TruncEdge(margin * dpi); };
  const std::int32_t left = keeps(x, margins[0]) ? left0 : TruncEdge(margins[0] * x);
  const std::int32_t top = keeps(y, margins[1]) ? top0 : TruncEdge(margins[1] * y);
  const std::int32_t right = keeps(x, margins[2]) ? right0 : right0 + left0 - left - TruncEdge(margins[2] * x);
  const std::int32_t bottom = keeps(y, margins[3]) ? bottom0 : bottom0 + top0 - top - TruncEdge(margins[3] * y);
  le::PutI32(rect, left);
  le::PutI32(rect + 4, top);
  le::PutI32(rect + 8, right);
  le::PutI32(rect + 12, bottom);
  if (done != nullptr) *done = 1;
  LogMessage(VTEXT("VELMORA - CUnidrvInterface::UpdatePDev => printable area adjusted\r\n"));
  return S_OK;
}

BOOL CUnidrvInterface::OEMTextOut(SURFOBJ* surface, STROBJ*, FONTOBJ*, CLIPOBJ*, RECTL*, RECTL*, BRUSHOBJ* foreground,
                                  BRUSHOBJ*, POINTL*, MIX) {
  OemPdev* pdev = OemPdevOfSurface(surface);
  if (pdev == nullptr || foreground == nullptr) return 1;
  auto* device = static_cast<DEVOBJ*>(surface->dhpdev);
  auto* record = static_cast<std::uint8_t*>(device->pOEMDM);
  if (record == nullptr) return 1;
  if (VendorSettings(record + 12).bTextInBlack() != 0) foreground->iSolidColor = 0;
  return 1;
}

BOOL CUnidrvInterface::OEMBitBlt(SURFOBJ*, SURFOBJ*, SURFOBJ*, CLIPOBJ*, XLATEOBJ*, RECTL*, POINTL*, POINTL*, BRUSHOBJ*,
                                 POINTL*, ROP4) {
  // Bitmaps are the host's: nothing to change.
  return 1;
}

BOOL CUnidrvInterface::OEMStretchBlt(SURFOBJ* target, SURFOBJ* source, SURFOBJ* mask, CLIPOBJ* clip,
                                     XLATEOBJ* translate, COLORADJUSTMENT* colorAdjustment, POINTL* halftoneOrigin,
                                     RECTL* targetRect, RECTL* sourceRect, POINTL* maskPoint, ULONG mode) {
  OemPdev* pdev = OemPdevOfSurface(target);
  if (pdev == nullptr || pdev->savedHostFunctions.StretchBlt == nullptr) return 0;
  auto hostStretchBlt = reinterpret_cast<PFN_DrvStretchBlt>(pdev->savedHostFunctions.StretchBlt);
  return hostStretchBlt(target, source, mask, clip, translate, colorAdjustment, halftoneOrigin, targetRect, sourceRect,
                        maskPoint, mode);
}

BOOL CUnidrvInterface::OEMStretchBltROP(SURFOBJ* target, SURFOBJ* source, SURFOBJ* mask, CLIPOBJ* clip,
                                        XLATEOBJ* translate, COLORADJUSTMENT* colorAdjustment, POINTL* halftoneOrigin,
                                        RECTL* targetRect, RECTL* sourceRect, POINTL* maskPoint, ULONG mode,
                                        BRUSHOBJ* brush, ROP4 rop) {
  OemPdev* pdev = OemPdevOfSurface(target);
  if (pdev == nullptr || pdev->savedHostFunctions.StretchBltROP == nullptr) return 0;
  auto hostStretchBltROP = reinterpret_cast<PFN_DrvStretchBltROP>(pdev->savedHostFunctions.StretchBltROP);
  return hostStretchBltROP(target, source, mask, clip, translate, colorAdjustment, halftoneOrigin, targetRect,
                           sourceRect, maskPoint, mode, brush, rop);
}

}  // namespace velmora
