// Text watermarks: a record's text as a path on the drawing context, clipped to its cell.
#include "src/watermark/watermark_text.h"

#include <cmath>
#include <cstdlib>
#include <limits>
#include <string_view>

#include "src/support/log.h"
#include "src/support/truncate.h"

namespace velmora {
namespace {

using platform::DeviceCap;
using platform::DrawingContext;
using platform::Point;
using platform::Rect;

constexpr double kPi = 3.14159265;
constexpr double kMillimetresPerInch = 25.4;
constexpr std::int32_t kBoldWeight = 700;

// A log line "VELMORA - CWaterMarkRenderrer::<method> => <text>".
WString Message(std::string_view method, std::string_view text) {
  WString line = VTEXT("VELMORA - CWaterMarkRenderrer::");
  for (char c : method) line.push_back(static_cast<WCHAR>(c));
  line += VTEXT(" => ");
  for (char c : text) line.push_back(static_cast<WCHAR>(c));
  return line;
}

void LogValue(std::string_view method, std::string_view text, std::int32_t value) {
  LogMessageInt(Message(method, text).c_str(), value);
}

// number * numerator / denominator, rounded half away from zero; -1 when the result does
// not fit 32 bits (the platform's MulDiv).
std::int32_t MulDiv(std::int32_t number, std::int32_t numerator, std::int32_t denominator) {
  if (denominator == 0) return -1;
  const std::int64_t product = static_cast<std::int64_t>(number) * numerator;
  std::int64_t quotient = product / denominator;
  const std::int64_t remainder = product % denominator;
  if (2 * std::llabs(remainder) >= std::llabs(static_cast<std::int64_t>(denominator))) {
    quotient += ((product < 0) != (denominator < 0)) ? -1 : 1;
  }
  if (quotient < std::numeric_limits<std::int32_t>::min() || quotient > std::numeric_limits<std::int32_t>::max()) {
    return -1;
  }
  return static_cast<std::int32_t>(quotient);
}

// The text up to its first NUL.
WStringView Visible(const WString& text) {
  const std::size_t end = text.find(WCHAR{0});
  return WStringView(text).substr(0, end);
}

// The watermark's offsets in device pixels. In the turned layouts a horizontal offset
// moves the text up the sheet and a vertical one moves it to the left.
struct PixelOffsets {
  std::int32_t dx = 0;
  std::int32_t dy = 0;
};

PixelOffsets OffsetsInPixels(const TextWatermark& record, const TextWatermarkCell& where, int dpi) {
  double x = record.offsetX;
  double y = record.offsetY;
  if (record.offsetInMillimetres == 1) {
    x /= kMillimetresPerInch;
    y /= kMillimetresPerInch;
  }
  const double scale = where.nupScale;
  if (where.rotatedLayout) return {TruncateToInt32(-(y * dpi * scale)), TruncateToInt32(x * dpi * scale)};
  return {TruncateToInt32(x * dpi * scale), TruncateToInt32(y * dpi * scale)};
}

// What both placements share: the text, its extents, the turned half-extent that puts the
// text's centre on a point, the grey level and the offsets.
struct TextPlacement {
  WStringView text;
  std::int32_t cx = 0;
  std::int32_t cy = 0;
  std::int32_t rx = 0;
  std::int32_t ry = 0;
  std::uint8_t gray = 0;
  PixelOffsets offsets;
};

void OutputCopy(DrawingContext& dc, const TextPlacement& placement, std::int64_t x, std::int64_t y) {
  dc.SelectSolidBrush(placement.gray);
  dc.WriteText(Point{TruncateToInt32(static_cast<double>(x)), TruncateToInt32(static_cast<double>(y))}, placement.text);
}

void MakeTextCenterofPageWatermark(DrawingContext& dc, const TextPlacement& placement, const Rect& cell) {
  // Shifts rather than divisions: a negative extent rounds down, as the cell arithmetic
  // always has.
  const std::int32_t cpx = (cell.right - cell.left) >> 1;
  const std::int32_t cpy = (cell.bottom - cell.top) >> 1;
  LogValue("MakeTextCenterofPageWatermark", "cp.x = ", cpx);
  LogValue("MakeTextCenterofPageWatermark", "cp.y = ", cpy);
  const std::int64_t x = std::int64_t{placement.rx} + cpx + placement.offsets.dx + cell.left;
  const std::int64_t y = std::int64_t{placement.ry} + cpy - placement.offsets.dy + cell.top;
  OutputCopy(dc, placement, x, y);
}

// The tile quantities: A1 and A2 end the columns and rows, the steps are the width and
// height of the turned text's bounding box, the starts put the first copy's centre.
struct Tiling {
  float a1 = 0;
  float a2 = 0;
  float stepX = 0;
  float stepY = 0;
  float startX = 0;
  float startY = 0;
};

Tiling TilingFor(std::uint32_t angle, std::int32_t cx, std::int32_t cy) {
  // The quarter-turn of the turned layouts can carry an angle past 360; a full turn
  // changes nothing in the pattern.
  const std::uint32_t a = angle % 360;
  std::uint32_t phi = a;
  bool swapped = false;
  if (a >= 91 && a < 181) {
    phi = 180 - a;
  } else if (a >= 181 && a < 271) {
    phi = 270 - a;
    swapped = true;
  } else if (a >= 271) {
    phi = 360 - a;
  }
  const double radians = phi * kPi / 180.0;
  const auto s = static_cast<float>(std::sin(radians));
  const auto c = static_cast<float>(std::cos(radians));
  const auto fcx = static_cast<float>(cx);
  const auto fcy = static_cast<float>(cy);
  const auto halfX = static_cast<float>(cx / 2);
  const auto halfY = static_cast<float>(cy / 2);
  if (swapped) return {fcx * s, fcx * c, fcx * s + fcy * c, fcx * c + fcy * s, halfY + halfX * s, halfY + halfX * c};
  return {fcx * c, fcx * s, fcx * c + fcy * s, fcx * s + fcy * c, halfY + halfX * c, halfY + halfX * s};
}

void MakeTextTiledWatermark(DrawingContext& dc, const TextPlacement& placement, const Rect& cell, std::uint32_t angle) {
  const auto width = static_cast<float>(static_cast<std::int64_t>(cell.right) - cell.left);
  const auto height = static_cast<float>(static_cast<std::int64_t>(cell.bottom) - cell.top);
  Tiling tiling = TilingFor(angle, placement.cx, placement.cy);
  const std::int32_t stepX = TruncateToInt32(tiling.stepX);
  const std::int32_t stepY = TruncateToInt32(tiling.stepY);

  // The offsets shift the pattern by less than one step; the starts become negative so
  // that the shifted pattern still covers the cell's top left corner.
  std::int64_t dx = placement.offsets.dx;
  if (dx != 0) {
    if (static_cast<float>(std::llabs(dx)) > tiling.stepX && stepX != 0) dx %= stepX;
    tiling.startX = dx < 1 ? -(static_cast<float>(std::llabs(dx)) + tiling.startX)
                           : -((tiling.stepX - static_cast<float>(dx)) + tiling.startX);
  }
  std::int64_t dy = placement.offsets.dy;
  if (dy != 0) {
    if (static_cast<float>(std::llabs(dy)) > tiling.stepY && stepY != 0) dy %= stepY;
    tiling.startY =
        dy < 1 ? -(tiling.stepY + static_cast<float>(dy) + tiling.startY) : -(static_cast<float>(dy) + tiling.startY);
  }

  const std::int64_t x0 = TruncateToInt32(tiling.startX);
  std::int64_t v = TruncateToInt32(tiling.startY);
  const std::int64_t left = std::int64_t{placement.rx} + cell.left;
  const std::int64_t top = std::int64_t{placement.ry} + cell.top;
  // A step below one pixel would never leave the cell: such a text gets one copy.
  if (stepX == 0 || stepY == 0) {
    OutputCopy(dc, placement, left + x0, top + v);
    return;
  }
  do {
    std::int64_t u = x0;
    do {
      OutputCopy(dc, placement, left + u, top + v);
      u += stepX;
    } while (static_cast<float>(u) - tiling.a1 < width);
    v += stepY;
  } while (static_cast<float>(v) - tiling.a2 < height);
}

// Begins a path, traces the rectangle and makes it the clip region.
void ClipToRectangle(DrawingContext& dc, const Rect& rect) {
  dc.BeginPath();
  dc.MoveTo({rect.left, rect.top});
  dc.LineTo({rect.right, rect.top});
  dc.LineTo({rect.right, rect.bottom});
  dc.LineTo({rect.left, rect.bottom});
  dc.LineTo({rect.left, rect.top});
  dc.EndPath();
  dc.SelectClipPath();
}

// Measures the text and the turned half-extent; false when the text has no extent.
bool MeasureText(DrawingContext& dc, const TextWatermark& record, TextPlacement& placement, bool logExtents) {
  const platform::Size size = dc.TextExtent(placement.text).value_or(platform::Size{});
  placement.cx = size.cx;
  placement.cy = size.cy;
  if (logExtents) {
    LogValue("MakeTextCenterofPageWatermark", "lSizePosition.cx = ", size.cx);
    LogValue("MakeTextCenterofPageWatermark", "lSizePosition.cy = ", size.cy);
  }
  if (size.cx == 0 && size.cy == 0) {
    if (logExtents) {
      LogMessage(Message("MakeTextCenterofPageWatermark", "lSizePosition.cx and lSizePosition.cy are 0 and return\r\n")
                     .c_str());
    }
    return false;
  }
  const double hx = -(size.cx / 2);
  const double hy = -(size.cy / 2);
  const double theta = -(static_cast<double>(record.angle) * kPi / 180.0);
  placement.rx = TruncateToInt32(hx * std::cos(theta) - hy * std::sin(theta));
  placement.ry = TruncateToInt32(hy * std::cos(theta) + hx * std::sin(theta));
  return true;
}

platform::FontDescription FontFor(const TextWatermark& record, int dpi, std::uint8_t charSet) {
  platform::FontDescription font;
  font.faceName = WString(Visible(record.faceName).substr(0, platform::kMaxFaceNameLength));
  font.charSet = charSet;
  const auto tenths = static_cast<std::int32_t>(record.angle * 10u);
  font.escapement = tenths;
  font.orientation = tenths;
  font.height = -MulDiv(static_cast<std::int32_t>(record.pointSize), dpi, 72);
  font.width = 0;
  font.weight = (record.styleFlags & kStyleBold) != 0 ? kBoldWeight : 0;
  font.italic = (record.styleFlags & kStyleItalic) != 0;
  return font;
}

}  // namespace

std::uint8_t WatermarkGrayLevel(std::uint32_t darkness) {
  const auto darkening = static_cast<std::int64_t>(255.0 * darkness / 100.0);
  return static_cast<std::uint8_t>((255 - darkening) & 0xFF);
}

void DrawTextWatermark(DrawingContext& dc, const TextWatermark& record, const TextWatermarkCell& where,
                       std::int32_t pageIndex, std::uint8_t& fontCharSet) {
  constexpr std::string_view kMethod = "CreateWatermark";
  LogValue(kMethod, "pageIndex = ", pageIndex);
  const Rect& cell = where.cell;
  LogValue(kMethod, "m_WMPageRect left = ", cell.left);
  LogValue(kMethod, "m_WMPageRect right = ", cell.right);
  LogValue(kMethod, "m_WMPageRect top = ", cell.top);
  LogValue(kMethod, "m_WMPageRect bottom = ", cell.bottom);
  ClipToRectangle(dc, cell);

  const int previousBackground = dc.SetBackgroundMode(platform::kBackgroundTransparent);
  const int previousMix = dc.SetForegroundMix(platform::kMixMaskPen);
  dc.BeginPath();

  const int dpi = dc.DeviceCaps(DeviceCap::kLogPixelsY);
  LogValue(kMethod, "nDPI = ", dpi);
  const platform::FontDescription wanted = FontFor(record, dpi, fontCharSet);
  if (const auto enumerated = dc.FontCharSetOf(wanted.faceName)) fontCharSet = *enumerated;
  platform::FontDescription description = wanted;
  description.charSet = fontCharSet;
  const platform::FontId font = dc.CreateLogicalFont(description);
  const platform::FontId previousFont = dc.SelectLogicalFont(font);

  if (record.placement == kPlacementCentre || record.placement == kPlacementTile) {
    TextPlacement placement;
    placement.text = Visible(record.text);
    placement.gray = WatermarkGrayLevel(record.darkness);
    placement.offsets = OffsetsInPixels(record, where, dpi);
    const bool centred = record.placement == kPlacementCentre;
    if (MeasureText(dc, record, placement, centred)) {
      if (centred) {
        MakeTextCenterofPageWatermark(dc, placement, cell);
      } else {
        MakeTextTiledWatermark(dc, placement, cell, record.angle);
      }
    }
  }

  dc.EndPath();
  // Stroking consumes the path, so the fill that follows has nothing left: outline text.
  if ((record.styleFlags & kStyleOutline) != 0) dc.StrokePath();
  dc.FillPath();

  dc.SetForegroundMix(previousMix);
  dc.SetBackgroundMode(previousBackground);
  dc.SelectLogicalFont(previousFont);
  if (font != 0) dc.DeleteLogicalFont(font);

  const Rect& clip = where.clipBox;
  ClipToRectangle(dc, clip);
  LogValue(kMethod, "ClipRgn left = ", clip.left);
  LogValue(kMethod, "ClipRgn right = ", clip.right);
  LogValue(kMethod, "ClipRgn top = ", clip.top);
  LogValue(kMethod, "ClipRgn bottom = ", clip.bottom);
}

}  // namespace velmora
