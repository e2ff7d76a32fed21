// The PCL XL group of one painted path.
#include "host/pxl_paint.h"

#include <algorithm>
#include <cmath>

#include "host/pxl_encoder.h"

namespace velmora::host {
namespace {

using pxl::Attr;
using pxl::Op;

constexpr std::uint8_t kEvenOdd = 1;   // FillMode and ClipMode: GDI's alternate filling
constexpr std::uint8_t kInterior = 0;  // ClipRegion

// The ternary raster operation of a binary one (pen P, destination D): the truth table of
// mix - 1 spread over the brush columns of the ternary one.
std::uint8_t Rop3Of(int mix) {
  const int n = mix - 1;
  return static_cast<std::uint8_t>((n >> 2) * 0x50 + (n & 3) * 0x05);
}

std::int32_t Coordinate(double value) {
  return static_cast<std::int32_t>(std::lround(std::clamp(value, -32768.0, 32767.0)));
}

void AppendPath(PxlEncoder& out, const OutlinePath& path) {
  for (const OutlineSegment& segment : path) {
    const OutlinePoint* p = segment.points;
    switch (segment.kind) {
      case SegmentKind::kMove:
        out.SInt16Xy(Coordinate(p[0].x), Coordinate(p[0].y), Attr::Point).Operator(Op::SetCursor);
        break;
      case SegmentKind::kLine:
        out.SInt16Xy(Coordinate(p[0].x), Coordinate(p[0].y), Attr::EndPoint).Operator(Op::LinePath);
        break;
      case SegmentKind::kCubic:
        out.SInt16Xy(Coordinate(p[0].x), Coordinate(p[0].y), Attr::ControlPoint1)
            .SInt16Xy(Coordinate(p[1].x), Coordinate(p[1].y), Attr::ControlPoint2)
            .SInt16Xy(Coordinate(p[2].x), Coordinate(p[2].y), Attr::EndPoint)
            .Operator(Op::BezierPath);
        break;
      case SegmentKind::kClose: out.Operator(Op::CloseSubPath); break;
    }
  }
}

}  // namespace

std::vector<std::uint8_t> EncodePaint(const OutlinePath& path, PaintKind kind, const PaintState& state) {
  if (path.empty()) return {};
  const bool fill = kind != PaintKind::kStroke;
  const bool stroke = kind != PaintKind::kFill;
  PxlEncoder out;
  out.Operator(Op::PushGS);
  if (state.clip != nullptr) {
    out.UByte(kEvenOdd, Attr::ClipMode).Operator(Op::SetClipMode);
    out.Operator(Op::NewPath);
    AppendPath(out, *state.clip);
    out.UByte(kInterior, Attr::ClipRegion).Operator(Op::SetClipReplace);
  }
  out.UByte(Rop3Of(state.mix), Attr::ROP3).Operator(Op::SetROP);
  if (fill) {
    out.UByte(kEvenOdd, Attr::FillMode).Operator(Op::SetFillMode);
    out.UByte(state.brushGray, Attr::GrayLevel).Operator(Op::SetBrushSource);
  } else {
    out.UByte(0, Attr::NullBrush).Operator(Op::SetBrushSource);
  }
  if (stroke) {
    out.UByte(state.penGray, Attr::GrayLevel).Operator(Op::SetPenSource);
    // A pen of width 0 draws one pixel wide, as on a device context.
    out.UInt16(static_cast<std::uint16_t>(std::clamp(state.penWidth, 1, 0xFFFF)), Attr::PenWidth)
        .Operator(Op::SetPenWidth);
  } else {
    out.UByte(0, Attr::NullPen).Operator(Op::SetPenSource);
  }
  out.Operator(Op::NewPath);
  AppendPath(out, path);
  out.Operator(Op::PaintPath);
  out.Operator(Op::PopGS);
  return out.bytes();
}

}  // namespace velmora::host
