// Bitmap watermark placements: the commands that execute a defined stream in one cell,
// centred, tiled or fitted to the cell.
#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "src/watermark/watermark_bitmap.h"

namespace velmora::watermark {
namespace {

class Commands {
 public:
  void Bytes(std::initializer_list<std::uint8_t> bytes) { out_.insert(out_.end(), bytes); }
  void U16(std::uint32_t value) {
    out_.push_back(static_cast<std::uint8_t>(value));
    out_.push_back(static_cast<std::uint8_t>(value >> 8));
  }

  // The cell as the clip rectangle: BoundingBox, ClipRegion eInterior, SetClipRectangle.
  void ClipToCell(const CellRect& cell) {
    Bytes({0xE1});
    U16(static_cast<std::uint32_t>(cell.left));
    U16(static_cast<std::uint32_t>(cell.top));
    U16(static_cast<std::uint32_t>(cell.right));
    U16(static_cast<std::uint32_t>(cell.bottom));
    Bytes({0xF8, 0x42, 0xC0, 0x00, 0xF8, 0x53, 0x68});
  }

  // PageOrigin 0, 0 and PageScale 1.0, 1.0, so that the cursor is in device pixels.
  void ResetPageTransform() {
    Bytes({0xD3, 0x00, 0x00, 0x00, 0x00, 0xF8, 0x2A, 0x75});
    Bytes({0xD5, 0x00, 0x00, 0x80, 0x3F, 0x00, 0x00, 0x80, 0x3F, 0xF8, 0x2B, 0x77});
  }

  // SetCursor to the point, then PushGS, ExecStream of the named stream and PopGS.
  void ExecuteAt(int indexWatermark, std::int32_t x, std::int32_t y) {
    Bytes({0xD3});
    U16(static_cast<std::uint16_t>(static_cast<std::int16_t>(x)));
    U16(static_cast<std::uint16_t>(static_cast<std::int16_t>(y)));
    Bytes({0xF8, 0x4C, 0x6B, 0x61, 0xC8, 0xC0, 0x05});
    const std::array<std::uint8_t, 5> name = StreamNameOf(indexWatermark);
    out_.insert(out_.end(), name.begin(), name.end());
    Bytes({0xF8, 0x8B, 0x5E, 0x60});
  }

  std::vector<std::uint8_t> Take() { return std::move(out_); }

 private:
  std::vector<std::uint8_t> out_;
};

double InInches(float offset, std::uint8_t inMillimetres) {
  const double value = offset;
  return inMillimetres == 1 ? value / 25.4 : value;
}

std::int32_t Trunc(double value) { return static_cast<std::int32_t>(value); }

// The tiles cover the cell from a start point moved by the offsets, one tile size apart.
void TileCell(Commands& commands, int indexWatermark, const BitmapWatermarkParams& params,
              const PlacementContext& context, std::int32_t bitmapWidth, std::int32_t bitmapHeight) {
  const CellRect& cell = context.cell;
  const TileSize tileSize =
      ScaledTileSize(static_cast<std::uint32_t>(bitmapWidth), static_cast<std::uint32_t>(bitmapHeight), params);
  const std::int32_t tileWidth = tileSize.width;
  const std::int32_t tileHeight = tileSize.height;
  const std::int32_t width = cell.right - cell.left;
  const std::int32_t height = cell.bottom - cell.top;

  std::int32_t offsetX = Trunc(InInches(params.offsetX, params.offsetInMillimetres) * context.yResolution);
  std::int32_t offsetY = Trunc(InInches(params.offsetY, params.offsetInMillimetres) * context.yResolution);
  // Reduces an offset to less than one step; a step of 0 leaves it as it is.
  auto reduce = [](std::int32_t& offset, std::int32_t step) {
    if (step != 0 && std::abs(offset) > step) offset %= step;
  };
  std::int32_t startX = 0;
  std::int32_t startY = 0;
  if (!context.rotatedLayout) {
    if (offsetX != 0) {
      reduce(offsetX, tileWidth);
      startX = offsetX < 1 ? offsetX : offsetX - tileWidth;
    }
    if (offsetY != 0) {
      reduce(offsetY, tileHeight);
      startY = offsetY < 1 ? -(offsetY + tileHeight) : -offsetY;
    }
  } else {
    if (offsetX != 0) {
      reduce(offsetX, tileHeight);
      startY = offsetX < 1 ? offsetX + tileHeight : offsetX;
    }
    if (offsetY != 0) {
      reduce(offsetY, tileWidth);
      startX = offsetY < 1 ? offsetY : offsetY - tileWidth;
    }
  }

  commands.ClipToCell(cell);
  auto tile = [&](std::int32_t x, std::int32_t y) {
    commands.ResetPageTransform();
    const std::int32_t pageY = context.rotatedLayout ? cell.bottom - y : cell.top + y;
    commands.ExecuteAt(indexWatermark, cell.left + x, pageY);
  };
  // A tile size of 0 would never advance; one copy is drawn in that direction instead.
  if (!context.rotatedLayout) {
    for (std::int32_t y = startY;; y += tileHeight) {
      for (std::int32_t x = startX;; x += tileWidth) {
        tile(x, y);
        if (x >= width || tileWidth <= 0) break;
      }
      if (y > height || tileHeight <= 0) break;
    }
    return;
  }
  for (std::int32_t x = startX;; x += tileWidth) {
    for (std::int32_t y = startY;; y += tileHeight) {
      tile(x, y);
      if (y >= height || tileHeight <= 0) break;
    }
    if (x > width || tileWidth <= 0) break;
  }
}

}  // namespace

std::vector<std::uint8_t> BuildPlacement(int indexWatermark, const BitmapStream& stream,
                                         const BitmapWatermarkParams& params, const PlacementContext& context) {
  if (!stream.defined) return {};
  // Without a bitmap of its own the image is placed with the size the stream was made from.
  const bool haveBitmap = context.bitmapWidth > 0 && context.bitmapHeight > 0;
  const std::int32_t bitmapWidth = haveBitmap ? context.bitmapWidth : stream.sourceWidth;
  const std::int32_t bitmapHeight = haveBitmap ? context.bitmapHeight : stream.sourceHeight;
  const CellRect& cell = context.cell;
  const std::int32_t width = cell.right - cell.left;
  const std::int32_t height = cell.bottom - cell.top;

  Commands commands;
  if (params.placement == 1) {
    TileCell(commands, indexWatermark, params, context, bitmapWidth, bitmapHeight);
    // The cell's clip must not hold for what the page draws after the watermark.
    commands.Bytes({0x69});
    return commands.Take();
  }

  std::int32_t x = 0;
  std::int32_t y = 0;
  if (params.placement == 0) {
    const float factor = params.nupScale * (static_cast<float>(params.imageScale) / 100.0f);
    // The offsets as the text watermark takes them: inches × LOGPIXELSY × N-up scale; in
    // the turned layouts the page's axes are exchanged.
    const double dpi = context.logPixelsY;
    const double inchesX = InInches(params.offsetX, params.offsetInMillimetres);
    const double inchesY = InInches(params.offsetY, params.offsetInMillimetres);
    std::int32_t dx = Trunc(inchesX * dpi * params.nupScale);
    std::int32_t dy = Trunc(inchesY * dpi * params.nupScale);
    if (context.rotatedLayout) {
      dx = Trunc(-(inchesY * dpi * params.nupScale));
      dy = Trunc(inchesX * dpi * params.nupScale);
    }
    x = cell.left + width / 2 - Trunc(static_cast<float>(bitmapWidth) * factor / 2) + dx;
    y = cell.top + height / 2 - Trunc(static_cast<float>(bitmapHeight) * factor / 2) - dy;
  } else if (params.placement == 2 && bitmapWidth > 0 && bitmapHeight > 0) {
    const double scale = std::min(static_cast<double>(width) / bitmapWidth, static_cast<double>(height) / bitmapHeight);
    x = cell.left + (width - Trunc(bitmapWidth * scale)) / 2;
    y = cell.top + (height - Trunc(bitmapHeight * scale)) / 2;
  }
  commands.ClipToCell(cell);
  commands.ResetPageTransform();
  commands.Bytes({0xC0, 0x01, 0xF8, 0x03, 0x6A});
  commands.ExecuteAt(indexWatermark, x, y);
  commands.Bytes({0x69});
  return commands.Take();
}

void PlaceBitmapWatermark(int indexWatermark, const BitmapStream& stream, const BitmapWatermarkParams& params,
                          const PlacementContext& context, const SpoolWriter& write) {
  const std::vector<std::uint8_t> commands = BuildPlacement(indexWatermark, stream, params, context);
  if (commands.empty()) return;
  write(commands.data(), commands.size());
}

}  // namespace velmora::watermark
