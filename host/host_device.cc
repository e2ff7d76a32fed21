// The host's device: the device object, the drawing surface and the calls through the plug-in's hooks.
#include "host/host_device.h"

#include <algorithm>
#include <cmath>
#include <utility>

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
constexpr std::uint8_t kInterior = 0;           // ClipRegion

// A content coordinate in the stream's sint16 range.
std::int16_t ContentCoordinate(double value) {
  if (std::isnan(value)) return 0;
  return static_cast<std::int16_t>(std::clamp(value, -32768.0, 32767.0));
}

// The operators that intersect the clip with `rect` of the canvas, written where content
// is drawn at `origin` + `scale` * p turned `turns` quarter turns counter-clockwise: the
// rectangle in the content's coordinates, widened to whole dots so that none of it is lost.
std::vector<std::uint8_t> ContentClip(const RECTL& rect, POINTL origin, int turns, double scale) {
  // A quarter turn takes the content's (x, y) to (y, -x) on the canvas; back from the
  // canvas, each turn takes (x, y) to (-y, x).
  const auto toContent = [&](double x, double y) {
    x = (x - origin.x) / scale;
    y = (y - origin.y) / scale;
    for (int turn = 0; turn < turns; ++turn) x = std::exchange(y, x) * -1;
    return std::pair{x, y};
  };
  const auto [x1, y1] = toContent(rect.left, rect.top);
  const auto [x2, y2] = toContent(rect.right, rect.bottom);
  PxlEncoder out;
  out.Operator(pxl::Op::NewPath);
  out.SInt16Box(ContentCoordinate(std::floor(std::min(x1, x2))), ContentCoordinate(std::floor(std::min(y1, y2))),
                ContentCoordinate(std::ceil(std::max(x1, x2))), ContentCoordinate(std::ceil(std::max(y1, y2))),
                pxl::Attr::BoundingBox)
      .Operator(pxl::Op::RectanglePath);
  out.UByte(kInterior, pxl::Attr::ClipRegion).Operator(pxl::Op::SetClipIntersect);
  return out.Take();
}

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
  const POINTL origin{ClampCoordinate(std::llround(placement.x)), ClampCoordinate(std::llround(placement.y))};
  out.SInt16Xy(origin.x, origin.y, pxl::Attr::PageOrigin).Operator(pxl::Op::SetPageOrigin);
  const int turns = ((placement.quarterTurns % 4) + 4) % 4;
  if (turns != 0) {
    // A page angle of 90 turns the content's x axis up the sheet: a quarter turn
    // counter-clockwise as the sheet is seen.
    pxl::Value angle;
    angle.tag = 0xC3;  // sint16
    angle.elements = {90.0 * turns};
    out.Value(angle, pxl::Attr::PageAngle).Operator(pxl::Op::SetPageRotation);
  }
  const auto scale = static_cast<float>(placement.scale);
  if (placement.scale != 1.0) out.Real32Xy(scale, scale, pxl::Attr::PageScale).Operator(pxl::Op::SetPageScale);
  contentOrigin_ = origin;
  contentTurns_ = turns;
  contentScale_ = scale;
  contentClip_.clear();
  Write(out.bytes());
}

void HostDevice::ClipContent(const RECTL& rect) {
  const std::vector<std::uint8_t> clip = ContentClip(rect, contentOrigin_, contentTurns_, contentScale_);
  Write(clip);
  contentClip_.insert(contentClip_.end(), clip.begin(), clip.end());
}

void HostDevice::EndContent() {
  contentClip_.clear();
  PxlEncoder out;
  out.Operator(pxl::Op::PopGS);
  Write(out.bytes());
}

void HostDevice::ContentClipReplaced() {
  if (!contentClip_.empty()) Write(contentClip_);
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
