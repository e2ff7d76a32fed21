// The host's drawing functions write the page as PCL XL: a solid-brush bit-block
// transfer becomes a filled rectangle path, the bitmap functions become images with
// embedded data, LineTo a line path. The job functions hand over to the job.
//
// The page's colour space is grey (set by the plug-in at the start of every page), so
// colours are written as grey levels.
#include "host/drawing_functions.h"

#include <algorithm>
#include <cstdlib>

#include "host/glyph_image.h"
#include "host/host_device.h"

namespace velmora::host {
namespace {

using pxl::Attr;
using pxl::Op;

constexpr ULONG kNotSolid = 0xFFFFFFFF;
constexpr std::uint8_t kRopSourceCopy = 0xCC;
constexpr std::uint8_t kColorMappingDirect = 0;
constexpr std::uint8_t kColorDepth8Bit = 2;
constexpr std::uint8_t kNoCompression = 0;

RECTL Normalized(const RECTL& rect) {
  return {std::min(rect.left, rect.right), std::min(rect.top, rect.bottom), std::max(rect.left, rect.right),
          std::max(rect.top, rect.bottom)};
}

bool Empty(const RECTL& rect) { return rect.right <= rect.left || rect.bottom <= rect.top; }

// The brush's grey level; a pattern brush or none paints black.
std::uint8_t BrushGray(const BRUSHOBJ* brush) {
  if (brush == nullptr || brush->iSolidColor == kNotSolid) return 0;
  return GrayOf(brush->iSolidColor);
}

// A rectangle filled with a grey brush under the raster operation.
void WriteFilledRect(HostDevice& device, const RECTL& rect, std::uint8_t gray, std::uint8_t rop3) {
  PxlEncoder out;
  out.UByte(rop3, Attr::ROP3).Operator(Op::SetROP);
  out.UByte(gray, Attr::GrayLevel).Operator(Op::SetBrushSource);
  out.UByte(0, Attr::NullPen).Operator(Op::SetPenSource);
  out.Operator(Op::NewPath);
  out.SInt16Box(rect.left, rect.top, rect.right, rect.bottom, Attr::BoundingBox).Operator(Op::RectanglePath);
  out.Operator(Op::PaintPath);
  device.Write(out.bytes());
}

// One pixel of a source bitmap as grey; the caller has checked the position.
std::uint8_t SourceGray(const SURFOBJ& source, LONG x, LONG y) {
  const auto* row = static_cast<const std::uint8_t*>(source.pvScan0) + static_cast<std::ptrdiff_t>(y) * source.lDelta;
  if (source.iBitmapFormat == BMF_8BPP) return row[x];
  const std::uint8_t* pixel = row + 3 * static_cast<std::ptrdiff_t>(x);
  // Bitmaps of 24 bits hold blue, green, red.
  return GrayOf(static_cast<ULONG>(pixel[2]) | (static_cast<ULONG>(pixel[1]) << 8) |
                (static_cast<ULONG>(pixel[0]) << 16));
}

bool ReadableSource(const SURFOBJ* source) {
  if (source == nullptr || source->pvScan0 == nullptr) return false;
  if (source->sizlBitmap.cx <= 0 || source->sizlBitmap.cy <= 0) return false;
  const LONG bytesPerPixel = source->iBitmapFormat == BMF_8BPP ? 1 : source->iBitmapFormat == BMF_24BPP ? 3 : 0;
  if (bytesPerPixel == 0) return false;
  return std::labs(source->lDelta) >= static_cast<long>(source->sizlBitmap.cx) * bytesPerPixel;
}

// The part `sourceRect` of a source bitmap drawn into `dest`. Parts of the source rectangle
// outside the bitmap are left out; a bitmap the host cannot read draws nothing.
BOOL WriteImage(HostDevice& device, const SURFOBJ* source, RECTL sourceRect, RECTL dest, std::uint8_t rop3) {
  if (source != nullptr && source->iBitmapFormat == BMF_HOST_PXL_IMAGE) {
    // The host's own encoded image knows its place and size already.
    if (source->pvBits == nullptr) return kFalse;
    device.Write(source->pvBits, source->cjBits);
    return kTrue;
  }
  if (!ReadableSource(source)) return kFalse;
  sourceRect = Normalized(sourceRect);
  dest = Normalized(dest);
  sourceRect.left = std::max<LONG>(sourceRect.left, 0);
  sourceRect.top = std::max<LONG>(sourceRect.top, 0);
  sourceRect.right = std::min<LONG>(sourceRect.right, source->sizlBitmap.cx);
  sourceRect.bottom = std::min<LONG>(sourceRect.bottom, source->sizlBitmap.cy);
  if (Empty(sourceRect) || Empty(dest)) return kTrue;

  const LONG width = sourceRect.right - sourceRect.left;
  const LONG height = sourceRect.bottom - sourceRect.top;
  // Rows of image data are padded to a multiple of 4 bytes.
  const std::size_t stride = (static_cast<std::size_t>(width) + 3) & ~std::size_t{3};
  std::vector<std::uint8_t> data(stride * static_cast<std::size_t>(height), 0);
  for (LONG y = 0; y < height; ++y) {
    for (LONG x = 0; x < width; ++x) {
      data[static_cast<std::size_t>(y) * stride + static_cast<std::size_t>(x)] =
          SourceGray(*source, sourceRect.left + x, sourceRect.top + y);
    }
  }

  PxlEncoder out;
  out.UByte(rop3, Attr::ROP3).Operator(Op::SetROP);
  out.SInt16Xy(dest.left, dest.top, Attr::Point).Operator(Op::SetCursor);
  out.UByte(kColorMappingDirect, Attr::ColorMapping)
      .UByte(kColorDepth8Bit, Attr::ColorDepth)
      .UInt16(static_cast<std::uint16_t>(width), Attr::SourceWidth)
      .UInt16(static_cast<std::uint16_t>(height), Attr::SourceHeight)
      .UInt16Xy(static_cast<std::uint16_t>(ClampCoordinate(dest.right - dest.left)),
                static_cast<std::uint16_t>(ClampCoordinate(dest.bottom - dest.top)), Attr::DestinationSize)
      .Operator(Op::BeginImage);
  out.UInt16(0, Attr::StartLine)
      .UInt16(static_cast<std::uint16_t>(height), Attr::BlockHeight)
      .UByte(kNoCompression, Attr::CompressMode)
      .Operator(Op::ReadImage)
      .Data(data);
  out.Operator(Op::EndImage);
  device.Write(out.bytes());
  return kTrue;
}

RECTL WholeSource(const SURFOBJ* source) {
  if (source == nullptr) return {};
  return {0, 0, source->sizlBitmap.cx, source->sizlBitmap.cy};
}

BOOL HostBitBlt(SURFOBJ* target, SURFOBJ* source, SURFOBJ*, CLIPOBJ*, XLATEOBJ*, RECTL* targetRect, POINTL* sourcePoint,
                POINTL*, BRUSHOBJ* brush, POINTL*, ROP4 rop4) {
  HostDevice* device = HostDevice::FromSurface(target);
  if (device == nullptr || targetRect == nullptr) return kFalse;
  const RECTL rect = Normalized(*targetRect);
  if (Empty(rect)) return kTrue;
  const auto rop3 = static_cast<std::uint8_t>(rop4 & 0xFF);
  if (source == nullptr) {
    WriteFilledRect(*device, rect, BrushGray(brush), rop3);
    return kTrue;
  }
  const POINTL from = sourcePoint != nullptr ? *sourcePoint : POINTL{0, 0};
  const RECTL sourceRect{from.x, from.y, from.x + (rect.right - rect.left), from.y + (rect.bottom - rect.top)};
  return WriteImage(*device, source, sourceRect, rect, rop3);
}

BOOL HostCopyBits(SURFOBJ* target, SURFOBJ* source, CLIPOBJ*, XLATEOBJ*, RECTL* targetRect, POINTL* sourcePoint) {
  HostDevice* device = HostDevice::FromSurface(target);
  if (device == nullptr || targetRect == nullptr) return kFalse;
  const RECTL rect = Normalized(*targetRect);
  const POINTL from = sourcePoint != nullptr ? *sourcePoint : POINTL{0, 0};
  const RECTL sourceRect{from.x, from.y, from.x + (rect.right - rect.left), from.y + (rect.bottom - rect.top)};
  return WriteImage(*device, source, sourceRect, rect, kRopSourceCopy);
}

BOOL HostStretchBlt(SURFOBJ* target, SURFOBJ* source, SURFOBJ*, CLIPOBJ*, XLATEOBJ*, COLORADJUSTMENT*, POINTL*,
                    RECTL* targetRect, RECTL* sourceRect, POINTL*, ULONG) {
  HostDevice* device = HostDevice::FromSurface(target);
  if (device == nullptr || targetRect == nullptr) return kFalse;
  return WriteImage(*device, source, sourceRect != nullptr ? *sourceRect : WholeSource(source), *targetRect,
                    kRopSourceCopy);
}

BOOL HostStretchBltROP(SURFOBJ* target, SURFOBJ* source, SURFOBJ*, CLIPOBJ*, XLATEOBJ*, COLORADJUSTMENT*, POINTL*,
                       RECTL* targetRect, RECTL* sourceRect, POINTL*, ULONG, BRUSHOBJ*, ROP4 rop4) {
  HostDevice* device = HostDevice::FromSurface(target);
  if (device == nullptr || targetRect == nullptr) return kFalse;
  return WriteImage(*device, source, sourceRect != nullptr ? *sourceRect : WholeSource(source), *targetRect,
                    static_cast<std::uint8_t>(rop4 & 0xFF));
}

// The transparent colour is not honoured: the printer paints the whole image.
BOOL HostTransparentBlt(SURFOBJ* target, SURFOBJ* source, CLIPOBJ*, XLATEOBJ*, RECTL* targetRect, RECTL* sourceRect,
                        ULONG, ULONG) {
  HostDevice* device = HostDevice::FromSurface(target);
  if (device == nullptr || targetRect == nullptr) return kFalse;
  return WriteImage(*device, source, sourceRect != nullptr ? *sourceRect : WholeSource(source), *targetRect,
                    kRopSourceCopy);
}

// A parallelogram transfer is drawn into the parallelogram's bounding box; the three
// corner points are 28.4 fixed-point numbers.
BOOL HostPlgBlt(SURFOBJ* target, SURFOBJ* source, SURFOBJ*, CLIPOBJ*, XLATEOBJ*, COLORADJUSTMENT*, POINTL*,
                void* corners, RECTL* sourceRect, POINTL*, ULONG) {
  HostDevice* device = HostDevice::FromSurface(target);
  if (device == nullptr || corners == nullptr) return kFalse;
  const auto* points = static_cast<const POINTL*>(corners);
  const LONG x3 = points[1].x + points[2].x - points[0].x;
  const LONG y3 = points[1].y + points[2].y - points[0].y;
  const RECTL dest{std::min({points[0].x, points[1].x, points[2].x, x3}) / 16,
                   std::min({points[0].y, points[1].y, points[2].y, y3}) / 16,
                   std::max({points[0].x, points[1].x, points[2].x, x3}) / 16,
                   std::max({points[0].y, points[1].y, points[2].y, y3}) / 16};
  return WriteImage(*device, source, sourceRect != nullptr ? *sourceRect : WholeSource(source), dest, kRopSourceCopy);
}

BOOL HostLineTo(SURFOBJ* target, CLIPOBJ*, BRUSHOBJ* brush, LONG x1, LONG y1, LONG x2, LONG y2, RECTL*, MIX) {
  HostDevice* device = HostDevice::FromSurface(target);
  if (device == nullptr) return kFalse;
  PxlEncoder out;
  out.UByte(kRopSourceCopy, Attr::ROP3).Operator(Op::SetROP);
  out.UByte(0, Attr::NullBrush).Operator(Op::SetBrushSource);
  out.UByte(BrushGray(brush), Attr::GrayLevel).Operator(Op::SetPenSource);
  out.UInt16(static_cast<std::uint16_t>(device->penWidth()), Attr::PenWidth).Operator(Op::SetPenWidth);
  out.Operator(Op::NewPath);
  out.SInt16Xy(x1, y1, Attr::Point).Operator(Op::SetCursor);
  out.SInt16Xy(x2, y2, Attr::EndPoint).Operator(Op::LinePath);
  out.Operator(Op::PaintPath);
  device->Write(out.bytes());
  return kTrue;
}

// The opaque rectangle behind the text is painted, then the run's glyphs in the
// foreground brush: its grey level when it is solid, else the brush the stream has set.
// The glyphs come encoded in the host's own text object; their font is downloaded
// already. A glyph drawn as an image paints the foreground's grey through its mask.
BOOL HostTextOut(SURFOBJ* target, STROBJ* text, FONTOBJ*, CLIPOBJ*, RECTL*, RECTL* opaqueRect, BRUSHOBJ* foreground,
                 BRUSHOBJ* opaqueBrush, POINTL*, MIX) {
  HostDevice* device = HostDevice::FromSurface(target);
  if (device == nullptr) return kFalse;
  if (opaqueRect != nullptr && opaqueBrush != nullptr) {
    const RECTL rect = Normalized(*opaqueRect);
    if (!Empty(rect)) WriteFilledRect(*device, rect, BrushGray(opaqueBrush), 0xF0);
  }
  if (text == nullptr) return kTrue;
  const auto* run = reinterpret_cast<const HostTextRun*>(text);
  if (run->operators.empty()) return kTrue;
  if (run->imageGray) {
    // A glyph drawn as an image goes as the stream has it while its colour stands.
    const bool recolour = foreground != nullptr && foreground->iSolidColor != kNotSolid &&
                          GrayOf(foreground->iSolidColor) != *run->imageGray;
    if (recolour) {
      device->Write(GlyphImageIn(run->operators, GrayOf(foreground->iSolidColor)));
    } else {
      device->Write(run->operators.data(), run->operators.size());
    }
    return kTrue;
  }
  if (foreground != nullptr && foreground->iSolidColor != kNotSolid) {
    PxlEncoder out;
    out.UByte(GrayOf(foreground->iSolidColor), Attr::GrayLevel).Operator(Op::SetBrushSource);
    device->Write(out.bytes());
  }
  device->Write(run->operators.data(), run->operators.size());
  return kTrue;
}

// The host knows no escapes of its own.
ULONG HostEscape(SURFOBJ*, ULONG, ULONG, void*, ULONG, void*) { return 0; }

BOOL HostStartDoc(SURFOBJ* surface, WCHAR* documentName, DWORD jobId) {
  HostDevice* device = HostDevice::FromSurface(surface);
  return device != nullptr && device->events().OnStartDoc(documentName, jobId);
}

BOOL HostStartPage(SURFOBJ* surface) {
  HostDevice* device = HostDevice::FromSurface(surface);
  return device != nullptr && device->events().OnStartPage();
}

BOOL HostSendPage(SURFOBJ* surface) {
  HostDevice* device = HostDevice::FromSurface(surface);
  return device != nullptr && device->events().OnSendPage();
}

BOOL HostEndDoc(SURFOBJ* surface, ULONG) {
  HostDevice* device = HostDevice::FromSurface(surface);
  return device != nullptr && device->events().OnEndDoc();
}

template <typename Function>
DRVFN Entry(ULONG index, Function function) {
  return {index, reinterpret_cast<PFN>(function)};
}

}  // namespace

std::uint8_t GrayOf(ULONG color) {
  const ULONG r = color & 0xFF;
  const ULONG g = (color >> 8) & 0xFF;
  const ULONG b = (color >> 16) & 0xFF;
  return static_cast<std::uint8_t>((r * 299 + g * 587 + b * 114 + 500) / 1000);
}

std::vector<DRVFN> HostDrawingFunctions() {
  return {
      Entry(INDEX_DrvBitBlt, static_cast<PFN_DrvBitBlt>(HostBitBlt)),
      Entry(INDEX_DrvCopyBits, static_cast<PFN_DrvCopyBits>(HostCopyBits)),
      Entry(INDEX_DrvStretchBlt, static_cast<PFN_DrvStretchBlt>(HostStretchBlt)),
      Entry(INDEX_DrvTextOut, static_cast<PFN_DrvTextOut>(HostTextOut)),
      Entry(INDEX_DrvEscape, static_cast<PFN_DrvEscape>(HostEscape)),
      Entry(INDEX_DrvLineTo, static_cast<PFN_DrvLineTo>(HostLineTo)),
      Entry(INDEX_DrvSendPage, static_cast<PFN_DrvSendPage>(HostSendPage)),
      Entry(INDEX_DrvStartPage, static_cast<PFN_DrvStartPage>(HostStartPage)),
      Entry(INDEX_DrvEndDoc, static_cast<PFN_DrvEndDoc>(HostEndDoc)),
      Entry(INDEX_DrvStartDoc, static_cast<PFN_DrvStartDoc>(HostStartDoc)),
      Entry(INDEX_DrvStretchBltROP, static_cast<PFN_DrvStretchBltROP>(HostStretchBltROP)),
      Entry(INDEX_DrvPlgBlt, static_cast<PFN_DrvPlgBlt>(HostPlgBlt)),
      Entry(INDEX_DrvTransparentBlt, static_cast<PFN_DrvTransparentBlt>(HostTransparentBlt)),
  };
}

}  // namespace velmora::host
