// The host's device: the device object, the drawing surface and the calls through the plug-in's hooks.
#include "host/host_device.h"

#include <algorithm>
#include <cmath>

#include "host/drawing_functions.h"

namespace velmora::host {
namespace {

// The host's own spool write, the first entry of the service table.
int HostWriteSpoolBuf(DEVOBJ* devobj, void* buffer, DWORD size) {
  if (devobj == nullptr || devobj->hEngine == nullptr) return 0;
  auto* device = static_cast<HostDevice*>(devobj->hEngine);
  if (buffer == nullptr && size != 0) return 0;
  if (!device->Write(buffer, size)) return 0;
  return static_cast<int>(size);
}

constexpr std::uint8_t kRopPatternCopy = 0xF0;  // the brush replaces the destination
constexpr ULONG kStretchHalftone = 4;           // HALFTONE

}  // namespace

HostDevice::HostDevice(SpoolBuffer& spool, JobEvents& events, SIZEL printableArea, int resolution)
    : spool_(spool), events_(events), resolution_(resolution), hostFunctions_(HostDrawingFunctions()) {
  procs_.DrvWriteSpoolBuf = HostWriteSpoolBuf;
  for (DEVOBJ& devobj : devobjs_) {
    devobj.dwSize = sizeof devobj;
    devobj.hEngine = this;
    devobj.pDrvProcs = &procs_;
  }
  surface_.dhpdev = devobj();
  surface_.sizlBitmap = printableArea;
  surface_.iType = STYPE_DEVICE;
  surface_.iBitmapFormat = BMF_24BPP;
  hostEnableData_.iDriverVersion = PRINTER_OEMINTF_VERSION;
  hostEnableData_.c = static_cast<ULONG>(hostFunctions_.size());
  hostEnableData_.pdrvfn = hostFunctions_.data();
  for (const DRVFN& entry : hostFunctions_) calls_[entry.iFunc] = entry.pfn;
}

DEVOBJ* HostDevice::Spare() {
  DEVOBJ& spare = devobjs_[1 - current_];
  spare = devobjs_[current_];
  spare.pdevOEM = nullptr;
  return &spare;
}

void HostDevice::UseSpare() {
  current_ = 1 - current_;
  surface_.dhpdev = devobj();
}

HostDevice* HostDevice::FromSurface(SURFOBJ* surface) {
  if (surface == nullptr || surface->dhpdev == nullptr) return nullptr;
  auto* devobj = static_cast<DEVOBJ*>(surface->dhpdev);
  return static_cast<HostDevice*>(devobj->hEngine);
}

void HostDevice::InstallHooks(const DRVENABLEDATA& hooks) {
  if (hooks.pdrvfn == nullptr) return;
  for (ULONG i = 0; i < hooks.c; ++i) {
    const DRVFN& hook = hooks.pdrvfn[i];
    // Only functions the host has can be hooked: the engine never calls the others here.
    if (hook.pfn == nullptr || hook.iFunc >= calls_.size() || calls_[hook.iFunc] == nullptr) continue;
    calls_[hook.iFunc] = hook.pfn;
    ++hookCount_;
  }
}

PFN HostDevice::Function(ULONG index) const { return index < calls_.size() ? calls_[index] : nullptr; }

BOOL HostDevice::StartDoc(WCHAR* documentName, DWORD jobId) {
  return reinterpret_cast<PFN_DrvStartDoc>(Function(INDEX_DrvStartDoc))(&surface_, documentName, jobId);
}

BOOL HostDevice::StartPage() { return reinterpret_cast<PFN_DrvStartPage>(Function(INDEX_DrvStartPage))(&surface_); }

BOOL HostDevice::SendPage() { return reinterpret_cast<PFN_DrvSendPage>(Function(INDEX_DrvSendPage))(&surface_); }

BOOL HostDevice::EndDoc() { return reinterpret_cast<PFN_DrvEndDoc>(Function(INDEX_DrvEndDoc))(&surface_, 0); }

ULONG HostDevice::Escape(ULONG code, ULONG inputSize, void* input, ULONG outputSize, void* output) {
  return reinterpret_cast<PFN_DrvEscape>(Function(INDEX_DrvEscape))(&surface_, code, inputSize, input, outputSize,
                                                                    output);
}

void HostDevice::FillRect(const RECTL& rect, Color color) {
  BRUSHOBJ brush{};
  brush.iSolidColor = color;
  RECTL target = rect;
  reinterpret_cast<PFN_DrvBitBlt>(Function(INDEX_DrvBitBlt))(&surface_, nullptr, nullptr, nullptr, nullptr, &target,
                                                             nullptr, nullptr, &brush, nullptr,
                                                             (kRopPatternCopy << 8) | kRopPatternCopy);
}

void HostDevice::DrawImage(const GrayImage& image, const RECTL& dest) {
  if (image.width <= 0 || image.height <= 0 ||
      image.pixels.size() < static_cast<std::size_t>(image.width) * static_cast<std::size_t>(image.height)) {
    return;
  }
  SURFOBJ source{};
  source.sizlBitmap = {image.width, image.height};
  source.cjBits = static_cast<ULONG>(image.pixels.size());
  source.pvBits = const_cast<std::uint8_t*>(image.pixels.data());
  source.pvScan0 = source.pvBits;
  source.lDelta = image.width;
  source.iType = STYPE_BITMAP;
  source.iBitmapFormat = BMF_8BPP;
  RECTL target = dest;
  RECTL sourceRect{0, 0, image.width, image.height};
  reinterpret_cast<PFN_DrvStretchBlt>(Function(INDEX_DrvStretchBlt))(
      &surface_, &source, nullptr, nullptr, nullptr, nullptr, nullptr, &target, &sourceRect, nullptr, kStretchHalftone);
}

void HostDevice::DrawLine(POINTL from, POINTL to, Color color) { DrawContentLine(from, to, color, 1); }

void HostDevice::BeginContent(const ContentPlacement& placement) {
  PxlEncoder out;
  out.Operator(pxl::Op::PushGS);
  out.SInt16Xy(ClampCoordinate(std::llround(placement.x)), ClampCoordinate(std::llround(placement.y)),
               pxl::Attr::PageOrigin)
      .Operator(pxl::Op::SetPageOrigin);
  if (const int turns = ((placement.quarterTurns % 4) + 4) % 4; turns != 0) {
    // A page angle of 90 turns the content's x axis up the sheet: a quarter turn
    // counter-clockwise as the sheet is seen.
    pxl::Value angle;
    angle.tag = 0xC3;  // sint16
    angle.elements = {90.0 * turns};
    out.Value(angle, pxl::Attr::PageAngle).Operator(pxl::Op::SetPageRotation);
  }
  if (placement.scale != 1.0) {
    const auto scale = static_cast<float>(placement.scale);
    out.Real32Xy(scale, scale, pxl::Attr::PageScale).Operator(pxl::Op::SetPageScale);
  }
  Write(out.bytes());
}

void HostDevice::EndContent() {
  PxlEncoder out;
  out.Operator(pxl::Op::PopGS);
  Write(out.bytes());
}

Color HostDevice::DrawContentText(const ContentText& text) {
  constexpr ULONG kNotSolid = 0xFFFFFFFF;
  HostTextRun run;
  run.object.cGlyphs = static_cast<ULONG>(text.glyphCount);
  run.operators = text.operators;
  if (text.glyphImage) run.imageGray = GrayOf(text.color);
  FONTOBJ font{};
  font.sizLogResPpi = {resolution_, resolution_};
  BRUSHOBJ foreground{};
  foreground.iSolidColor = text.solid ? text.color : kNotSolid;
  constexpr MIX kMixCopyPen = 0x0D0D;
  reinterpret_cast<PFN_DrvTextOut>(Function(INDEX_DrvTextOut))(&surface_, &run.object, &font, nullptr, nullptr, nullptr,
                                                               &foreground, nullptr, nullptr, kMixCopyPen);
  return foreground.iSolidColor;
}

void HostDevice::DrawContentImage(const ContentImage& image) {
  if (image.sourceWidth <= 0 || image.sourceHeight <= 0 || image.operators.empty()) return;
  SURFOBJ source{};
  source.sizlBitmap = {image.sourceWidth, image.sourceHeight};
  source.cjBits = static_cast<ULONG>(image.operators.size());
  source.pvBits = const_cast<std::uint8_t*>(image.operators.data());
  source.pvScan0 = source.pvBits;
  source.iType = STYPE_BITMAP;
  source.iBitmapFormat = BMF_HOST_PXL_IMAGE;
  RECTL target = image.dest;
  RECTL sourceRect{0, 0, image.sourceWidth, image.sourceHeight};
  const bool sameSize =
      target.right - target.left == image.sourceWidth && target.bottom - target.top == image.sourceHeight;
  if (sameSize) {
    constexpr ROP4 kSourceCopy = 0xCCCC;
    POINTL origin{0, 0};
    reinterpret_cast<PFN_DrvBitBlt>(Function(INDEX_DrvBitBlt))(&surface_, &source, nullptr, nullptr, nullptr, &target,
                                                               &origin, nullptr, nullptr, nullptr, kSourceCopy);
    return;
  }
  reinterpret_cast<PFN_DrvStretchBlt>(Function(INDEX_DrvStretchBlt))(
      &surface_, &source, nullptr, nullptr, nullptr, nullptr, nullptr, &target, &sourceRect, nullptr, kStretchHalftone);
}

void HostDevice::DrawContentLine(POINTL from, POINTL to, Color color, int width) {
  penWidth_ = std::max(width, 1);
  BRUSHOBJ brush{};
  brush.iSolidColor = color;
  RECTL bounds{std::min(from.x, to.x), std::min(from.y, to.y), std::max(from.x, to.x) + 1, std::max(from.y, to.y) + 1};
  constexpr MIX kMixCopyPen = 0x0D0D;  // R2_COPYPEN in both halves
  reinterpret_cast<PFN_DrvLineTo>(Function(INDEX_DrvLineTo))(&surface_, nullptr, &brush, from.x, from.y, to.x, to.y,
                                                             &bounds, kMixCopyPen);
  penWidth_ = 1;
}

}  // namespace velmora::host
