// Bitmap watermark placements: the commands that execute a defined stream in one cell,
// centred, tiled or fitted to the cell.
#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "src/support/truncate.h"
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

  // SetCursor to the point, then PushGS, ExecStream of the named stream and PopGS. The
  // point is sent as signed 16-bit values, its low 16 bits.
  void ExecuteAt(int indexWatermark, std::int64_t x, std::int64_t y) {
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

// An offset in device pixels, reduced to less than one step when it is more than one
// step (a step of 0 leaves it as it is). The reduction is made on the real number, before
// it is truncated, so that an offset of any size, beyond the range of an integer too,
// starts the tiles within a step of the cell's edge.
std::int32_t TileOffset(double pixels, std::int32_t step) {
  if (step != 0 && std::abs(std::trunc(pixels)) > step) pixels = std::fmod(pixels, step);
  return TruncateToInt32(pixels);
}

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

  const double offsetX = InInches(params.offsetX, params.offsetInMillimetres) * context.yResolution;
  const double offsetY = InInches(params.offsetY, params.offsetInMillimetres) * context.yResolution;
  // Whether an offset moves the start is judged on its whole pixels before it is reduced.
  // The starts are 64-bit: with a step of 0 an offset is not reduced and may be as large
  // as 32 bits hold.
  const bool movedX = TruncateToInt32(offsetX) != 0;
  const bool movedY = TruncateToInt32(offsetY) != 0;
  std::int64_t startX = 0;
  std::int64_t startY = 0;
  if (!context.rotatedLayout) {
    if (movedX) {
      const std::int64_t dx = TileOffset(offsetX, tileWidth);
      startX = dx < 1 ? dx : dx - tileWidth;
    }
    if (movedY) {
      const std::int64_t dy = TileOffset(offsetY, tileHeight);
      startY = dy < 1 ? -(dy + tileHeight) : -dy;
    }
  } else {
    if (movedX) {
      const std::int64_t dx = TileOffset(offsetX, tileHeight);
      startY = dx < 1 ? dx + tileHeight : dx;
    }
    if (movedY) {
      const std::int64_t dy = TileOffset(offsetY, tileWidth);
      startX = dy < 1 ? dy : dy - tileWidth;
    }
  }

  commands.ClipToCell(cell);
  auto tile = [&](std::int64_t x, std::int64_t y) {
    commands.ResetPageTransform();
    const std::int64_t pageY = context.rotatedLayout ? cell.bottom - y : cell.top + y;
    commands.ExecuteAt(indexWatermark, cell.left + x, pageY);
  };
  // A tile size of 0 would never advance; one copy is drawn in that direction instead.
  if (!context.rotatedLayout) {
    for (std::int64_t y = startY;; y += tileHeight) {
      for (std::int64_t x = startX;; x += tileWidth) {
        tile(x, y);
        if (x >= width || tileWidth <= 0) break;
      }
      if (y > height || tileHeight <= 0) break;
    }
    return;
  }
  for (std::int64_t x = startX;; x += tileWidth) {
    for (std::int64_t y = startY;; y += tileHeight) {
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

  std::int64_t x = 0;
  std::int64_t y = 0;
  if (params.placement == 0) {
    const float factor = params.nupScale * (static_cast<float>(params.imageScale) / 100.0f);
    // The offsets as the text watermark takes them: inches × LOGPIXELSY × N-up scale; in
    // the turned layouts the page's axes are exchanged.
    const double dpi = context.logPixelsY;
    const double inchesX = InInches(params.offsetX, params.offsetInMillimetres);
    const double inchesY = InInches(params.offsetY, params.offsetInMillimetres);
    std::int64_t dx = TruncateToInt32(inchesX * dpi * params.nupScale);
    std::int64_t dy = TruncateToInt32(inchesY * dpi * params.nupScale);
    if (context.rotatedLayout) {
      dx = TruncateToInt32(-(inchesY * dpi * params.nupScale));
      dy = TruncateToInt32(inchesX * dpi * params.nupScale);
    }
    x = std::int64_t{cell.left} + width / 2 - TruncateToInt32(static_cast<float>(bitmapWidth) * factor / 2) + dx;
    y = std::int64_t{cell.top} + height / 2 - TruncateToInt32(static_cast<float>(bitmapHeight) * factor / 2) - dy;
  } else if (params.placement == 2 && bitmapWidth > 0 && bitmapHeight > 0) {
    const double scale = std::min(static_cast<double>(width) / bitmapWidth, static_cast<double>(height) / bitmapHeight);
    x = cell.left + (width - TruncateToInt32(bitmapWidth * scale)) / 2;
    y = cell.top + (height - TruncateToInt32(bitmapHeight * scale)) / 2;
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
