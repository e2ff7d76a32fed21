// The host functions the plug-in hooks, calling the host's saved functions after their own work.
#include "src/frame/hooks.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "formats/le_bytes.h"
#include "formats/vendor_devmode.h"
#include "platform/services.h"
#include "src/job/vendor_protocol.h"
#include "src/support/log.h"

namespace velmora {
namespace {

template <typename Function>
PFN AsPfn(Function function) {
  return reinterpret_cast<PFN>(function);
}

DEVOBJ* DeviceOf(SURFOBJ* surface) { return surface != nullptr ? static_cast<DEVOBJ*>(surface->dhpdev) : nullptr; }

// The host's saved function of the surface's device, cast to its signature; null when
// the device or the function is missing.
template <typename Function>
Function Saved(SURFOBJ* surface, PFN SavedHostFunctions::*field) {
  OemPdev* pdev = OemPdevOfSurface(surface);
  if (pdev == nullptr) return nullptr;
  return reinterpret_cast<Function>(pdev->savedHostFunctions.*field);
}

// The settings body of the record in the device's public device mode, or null.
std::uint8_t* BodyOf(DEVOBJ* device) { return device != nullptr ? FindVendorDevmode(device->pPublicDM) : nullptr; }

ULONG HostEscape(SURFOBJ* surface, ULONG code, ULONG inSize, void* in, ULONG outSize, void* out) {
  auto escape = Saved<PFN_DrvEscape>(surface, &SavedHostFunctions::Escape);
  return escape != nullptr ? escape(surface, code, inSize, in, outSize, out) : 0;
}

// Stores one page-cell rectangle for N-up. The list is sized for the pages per sheet when
// the first cell of a document arrives; when the pages per sheet grow afterwards the
// list grows with them, so no cell is ever stored outside it.
ULONG StoreCellRect(SURFOBJ* surface, ULONG inSize, void* in, ULONG outSize, void* out) {
  DEVOBJ* device = DeviceOf(surface);
  OemPdev* pdev = OemPdevOfSurface(surface);
  std::uint8_t* body = BodyOf(device);
  if (body == nullptr || pdev == nullptr) return 0;
  VendorSettings settings(body);
  if (settings.dwSpecialPageKind() == 1) return HostEscape(surface, ESCAPE_CELL_RECT, inSize, in, outSize, out);
  const std::int16_t perSheet = settings.vdmPagesPerSheet();
  if (perSheet < 1 || perSheet > 16) return 1;

  VendorData& area = pdev->vendorData;
  if (area.wCellRectCount == 0 || area.pCellRects == nullptr || area.wCellRectCapacity < perSheet) {
    std::unique_ptr<CellRect[]> list(new (std::nothrow) CellRect[perSheet]());
    if (list != nullptr) {
      if (area.pCellRects != nullptr && area.wCellRectCount != 0) {
        std::memcpy(list.get(), area.pCellRects.get(), sizeof(CellRect) * area.wCellRectCapacity);
      }
      area.pCellRects = std::move(list);
      area.wCellRectCapacity = static_cast<WORD>(perSheet);
    }
  }
  if (area.pCellRects != nullptr && in != nullptr && inSize >= sizeof(CellRect)) {
    const int index = static_cast<std::int16_t>(area.wCellRectCount) % perSheet;
    if (index < 0) return 0;
    const auto* bytes = static_cast<const std::uint8_t*>(in);
    area.pCellRects[index] = CellRect{le::I32(bytes), le::I32(bytes + 4), le::I32(bytes + 8), le::I32(bytes + 12)};
    ++area.wCellRectCount;
  }
  return HostEscape(surface, ESCAPE_CELL_RECT, inSize, in, outSize, out);
}

}  // namespace

DRVFN HookTable[kHookCount] = {
    {INDEX_DrvBitBlt, AsPfn(&OEMBitBlt)},
    {INDEX_DrvCopyBits, AsPfn(&OEMCopyBits)},
    {INDEX_DrvPlgBlt, AsPfn(&OEMPlgBlt)},
    {INDEX_DrvStretchBlt, AsPfn(&OEMStretchBlt)},
    {INDEX_DrvStretchBltROP, AsPfn(&OEMStretchBltROP)},
    {INDEX_DrvTransparentBlt, AsPfn(&OEMTransparentBlt)},
    {INDEX_DrvLineTo, AsPfn(&OEMLineTo)},
    {INDEX_DrvTextOut, AsPfn(&OEMTextOut)},
    {INDEX_DrvStartDoc, AsPfn(&OEMStartDoc)},
    {INDEX_DrvEndDoc, AsPfn(&OEMEndDoc)},
    {INDEX_DrvStartPage, AsPfn(&OEMStartPage)},
    {INDEX_DrvSendPage, AsPfn(&OEMSendPage)},
    {INDEX_DrvEscape, AsPfn(&OEMEscape)},
};

void DispatchJobEvent(DEVOBJ* pdevobj, DWORD event, const WCHAR* documentName, DWORD jobId) {
  if (pdevobj == nullptr) return;
  auto* pdev = static_cast<OemPdev*>(pdevobj->pdevOEM);
  if (pdev == nullptr || pdev->vendor == nullptr) return;
  auto* record = static_cast<std::uint8_t*>(pdevobj->pOEMDM);
  std::uint8_t* body = record != nullptr ? record + kVendorHeaderSize : nullptr;
  DWORD more = 0;
  void* cookie = nullptr;
  do {
    std::uint8_t* stream = nullptr;
    DWORD size = 0;
    pdev->vendor->GetPDLStreamForJobControlEvents(event, &stream, &size, pdevobj, &pdev->vendorData, documentName,
                                                  jobId, pdevobj->hPrinter, pdevobj->pPublicDM, body, &more, &cookie);
    if (size > 0 && stream != nullptr && pdevobj->pDrvProcs != nullptr &&
        pdevobj->pDrvProcs->DrvWriteSpoolBuf != nullptr) {
      pdevobj->pDrvProcs->DrvWriteSpoolBuf(pdevobj, stream, size);
    }
    std::free(stream);
  } while (more != 0);
}

bool IsJobBeingDeleted(DEVOBJ* pdevobj) {
  if (pdevobj == nullptr || pdevobj->pdevOEM == nullptr) return false;
  const auto* pdev = static_cast<OemPdev*>(pdevobj->pdevOEM);
  auto job = platform::Current().spooler->Job(pdevobj->hPrinter, pdev->vendorData.dwJobId);
  if (!job) return false;
  return platform::JobIsStopping(job->status);
}

BOOL OEMBitBlt(SURFOBJ* target, SURFOBJ* source, SURFOBJ* mask, CLIPOBJ* clip, XLATEOBJ* translate, RECTL* targetRect,
               POINTL* sourcePoint, POINTL* maskPoint, BRUSHOBJ* brush, POINTL* brushOrigin, ROP4 rop) {
  OemPdev* pdev = OemPdevOfSurface(target);
  if (pdev != nullptr && pdev->vendor != nullptr) {
    pdev->vendor->OEMBitBlt(target, source, mask, clip, translate, targetRect, sourcePoint, maskPoint, brush,
                            brushOrigin, rop);
  }
  auto host = Saved<PFN_DrvBitBlt>(target, &SavedHostFunctions::BitBlt);
  return host != nullptr
             ? host(target, source, mask, clip, translate, targetRect, sourcePoint, maskPoint, brush, brushOrigin, rop)
             : 0;
}

BOOL OEMCopyBits(SURFOBJ* target, SURFOBJ* source, CLIPOBJ* clip, XLATEOBJ* translate, RECTL* targetRect,
                 POINTL* sourcePoint) {
  auto host = Saved<PFN_DrvCopyBits>(target, &SavedHostFunctions::CopyBits);
  return host != nullptr ? host(target, source, clip, translate, targetRect, sourcePoint) : 0;
}

BOOL OEMPlgBlt(SURFOBJ* target, SURFOBJ* source, SURFOBJ* mask, CLIPOBJ* clip, XLATEOBJ* translate,
               COLORADJUSTMENT* colorAdjustment, POINTL* brushOrigin, void* points, RECTL* sourceRect,
               POINTL* maskPoint, ULONG mode) {
  auto host = Saved<PFN_DrvPlgBlt>(target, &SavedHostFunctions::PlgBlt);
  return host != nullptr ? host(target, source, mask, clip, translate, colorAdjustment, brushOrigin, points, sourceRect,
                                maskPoint, mode)
                         : 0;
}

BOOL OEMStretchBlt(SURFOBJ* target, SURFOBJ* source, SURFOBJ* mask, CLIPOBJ* clip, XLATEOBJ* translate,
                   COLORADJUSTMENT* colorAdjustment, POINTL* halftoneOrigin, RECTL* targetRect, RECTL* sourceRect,
                   POINTL* maskPoint, ULONG mode) {
  // The vendor object calls the host's own function itself.
  OemPdev* pdev = OemPdevOfSurface(target);
  if (pdev == nullptr || pdev->vendor == nullptr) return 0;
  return pdev->vendor->OEMStretchBlt(target, source, mask, clip, translate, colorAdjustment, halftoneOrigin, targetRect,
                                     sourceRect, maskPoint, mode);
}

BOOL OEMStretchBltROP(SURFOBJ* target, SURFOBJ* source, SURFOBJ* mask, CLIPOBJ* clip, XLATEOBJ* translate,
                      COLORADJUSTMENT* colorAdjustment, POINTL* halftoneOrigin, RECTL* targetRect, RECTL* sourceRect,
                      POINTL* maskPoint, ULONG mode, BRUSHOBJ* brush, ROP4 rop) {
  OemPdev* pdev = OemPdevOfSurface(target);
  if (pdev == nullptr || pdev->vendor == nullptr) return 0;
  return pdev->vendor->OEMStretchBltROP(target, source, mask, clip, translate, colorAdjustment, halftoneOrigin,
                                        targetRect, sourceRect, maskPoint, mode, brush, rop);
}

BOOL OEMTransparentBlt(SURFOBJ* target, SURFOBJ* source, CLIPOBJ* clip, XLATEOBJ* translate, RECTL* targetRect,
                       RECTL* sourceRect, ULONG transparentColor, ULONG reserved) {
  auto host = Saved<PFN_DrvTransparentBlt>(target, &SavedHostFunctions::TransparentBlt);
  return host != nullptr ? host(target, source, clip, translate, targetRect, sourceRect, transparentColor, reserved)
                         : 0;
}

BOOL OEMLineTo(SURFOBJ* surface, CLIPOBJ* clip, BRUSHOBJ* brush, LONG x1, LONG y1, LONG x2, LONG y2, RECTL* bounds,
               MIX mix) {
  auto host = Saved<PFN_DrvLineTo>(surface, &SavedHostFunctions::LineTo);
  return host != nullptr ? host(surface, clip, brush, x1, y1, x2, y2, bounds, mix) : 0;
}

BOOL OEMTextOut(SURFOBJ* surface, STROBJ* text, FONTOBJ* font, CLIPOBJ* clip, RECTL* extraRect, RECTL* opaqueRect,
                BRUSHOBJ* foreground, BRUSHOBJ* opaque, POINTL* brushOrigin, MIX mix) {
  OemPdev* pdev = OemPdevOfSurface(surface);
  if (pdev != nullptr && pdev->vendor != nullptr) {
    pdev->vendor->OEMTextOut(surface, text, font, clip, extraRect, opaqueRect, foreground, opaque, brushOrigin, mix);
  }
  auto host = Saved<PFN_DrvTextOut>(surface, &SavedHostFunctions::TextOut);
  return host != nullptr ? host(surface, text, font, clip, extraRect, opaqueRect, foreground, opaque, brushOrigin, mix)
                         : 0;
}

BOOL OEMStartDoc(SURFOBJ* surface, WCHAR* documentName, DWORD jobId) {
  if (jobId != 0) DispatchJobEvent(DeviceOf(surface), CS_JOBEVENT_STARTDOC, documentName, jobId);
  auto host = Saved<PFN_DrvStartDoc>(surface, &SavedHostFunctions::StartDoc);
  return host != nullptr ? host(surface, documentName, jobId) : 1;
}

BOOL OEMEndDoc(SURFOBJ* surface, ULONG flags) {
  DispatchJobEvent(DeviceOf(surface), CS_JOBEVENT_ENDDOC, nullptr, 0);
  auto host = Saved<PFN_DrvEndDoc>(surface, &SavedHostFunctions::EndDoc);
  return host != nullptr ? host(surface, flags) : 1;
}

BOOL OEMStartPage(SURFOBJ* surface) {
  DEVOBJ* device = DeviceOf(surface);
  // A job the spooler is deleting stops here: neither the vendor nor the host sees the page.
  if (IsJobBeingDeleted(device)) return 0;
  DispatchJobEvent(device, CS_JOBEVENT_STARTPAGE, nullptr, 0);
  auto host = Saved<PFN_DrvStartPage>(surface, &SavedHostFunctions::StartPage);
  return host != nullptr ? host(surface) : 1;
}

BOOL OEMSendPage(SURFOBJ* surface) {
  DEVOBJ* device = DeviceOf(surface);
  if (IsJobBeingDeleted(device)) return 0;
  DispatchJobEvent(device, CS_JOBEVENT_SENDPAGE, nullptr, 0);
  auto host = Saved<PFN_DrvSendPage>(surface, &SavedHostFunctions::SendPage);
  const BOOL result = host != nullptr ? host(surface) : 1;
  DispatchJobEvent(device, 999, nullptr, 0);
  return result;
}

ULONG OEMEscape(SURFOBJ* surface, ULONG code, ULONG inSize, void* in, ULONG outSize, void* out) {
  DEVOBJ* device = DeviceOf(surface);
  switch (code) {
    case ESCAPE_SPECIAL_PAGE_KIND:
    case ESCAPE_SCALE: {
      // The value is read only when the escape really carries four bytes.
      if (device == nullptr || device->pOEMDM == nullptr || in == nullptr || inSize < 4) return 1;
      std::uint8_t* body = BodyOf(device);
      if (body == nullptr) return 1;
      const auto* bytes = static_cast<const std::uint8_t*>(in);
      if (code == ESCAPE_SPECIAL_PAGE_KIND) {
        VendorSettings(body).set_dwSpecialPageKind(le::U32(bytes));
      } else {
        VendorSettings(body).set_fScale(le::F32(bytes));
      }
      return 1;
    }
    case ESCAPE_WATERMARK_DC: {
      OemPdev* pdev = OemPdevOfSurface(surface);
      if (pdev != nullptr && out != nullptr && outSize >= 8) {
        HANDLE* field = &pdev->vendorData.hWatermarkDC;
        std::memcpy(out, &field, sizeof field);
      }
      return 8;
    }
    case ESCAPE_PAGE_TOTAL: {
      OemPdev* pdev = OemPdevOfSurface(surface);
      if (pdev != nullptr && in != nullptr && inSize >= 4) {
        pdev->vendorData.dwTotalPages = le::U32(static_cast<const std::uint8_t*>(in));
      }
      return HostEscape(surface, code, inSize, in, outSize, out);
    }
    case ESCAPE_CELL_RECT: return StoreCellRect(surface, inSize, in, outSize, out);
    case ESCAPE_PAGES_PER_SHEET: {
      std::uint8_t* body = BodyOf(device);
      if (body == nullptr) return 0;
      if (in != nullptr && inSize >= 2) {
        VendorSettings settings(body);
        settings.set_vdmPagesPerSheet(le::I16(static_cast<const std::uint8_t*>(in)));
        settings.set_bPagesPerSheetFromApp(1);
      }
      return HostEscape(surface, code, inSize, in, outSize, out);
    }
    default: return HostEscape(surface, code, inSize, in, outSize, out);
  }
}

}  // namespace velmora
