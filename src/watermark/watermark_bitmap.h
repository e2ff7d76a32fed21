// Bitmap watermarks as PCL XL user-defined streams.
//
// At the start of a document the image of a bitmap watermark is turned into an 8-bit grey
// PCL XL image, run-length compressed, wrapped in a stream named "32000" (first-page
// watermark) or "32001" (next-pages watermark) and sent once. At the end of every page a
// few commands clip to the cell, move the cursor and execute the stream. Everything is
// built in memory and handed to a byte sink, which the renderer connects to
// DrvWriteSpoolBuf.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "platform/image.h"

namespace velmora::watermark {

// Receives one piece of the job stream (one DrvWriteSpoolBuf call).
using SpoolWriter = std::function<void(const std::uint8_t* bytes, std::size_t count)>;

// A cell of the sheet in device pixels (left, top, right, bottom).
struct CellRect {
  std::int32_t left = 0;
  std::int32_t top = 0;
  std::int32_t right = 0;
  std::int32_t bottom = 0;
};

// The fields of a watermark record that a bitmap watermark uses, with the renderer's
// N-up scale.
struct BitmapWatermarkParams {
  std::uint32_t placement = 0;           // 0 centre, 1 tile, 2 fit to the cell
  std::uint32_t imageScale = 100;        // percent
  float offsetX = 0.0f;                  // from the cell centre; positive moves right
  float offsetY = 0.0f;                  // positive moves up
  std::uint8_t offsetInMillimetres = 0;  // 1: millimetres, anything else: inches
  float nupScale = 1.0f;                 // the renderer's m_fNupScale
};

// What a stream definition left behind for the placements of the document.
struct BitmapStream {
  bool defined = false;  // false: nothing was sent, and the watermark is never placed
  std::uint16_t sourceWidth = 0;
  std::uint16_t sourceHeight = 0;
};

// Where and how one cell is drawn on the page.
struct PlacementContext {
  CellRect cell;
  bool rotatedLayout = false;    // 2, 6 or 8 pages per sheet
  std::int32_t yResolution = 0;  // dmYResolution of the public device mode (tiles)
  std::int32_t logPixelsY = 0;   // LOGPIXELSY of the drawing context (centre)
  // The size of the watermark's bitmap; both 0 when no bitmap handle is held, in which
  // case the stream's own source size is placed.
  std::int32_t bitmapWidth = 0;
  std::int32_t bitmapHeight = 0;
};

// The stream name of watermark index 0 ("32000") or 1 ("32001").
std::array<std::uint8_t, 5> StreamNameOf(int indexWatermark);

// Grey value of a colour: trunc(0.2989 red + 0.587 green + 0.114 blue), low 8 bits.
std::uint8_t GreyOf(std::uint8_t red, std::uint8_t green, std::uint8_t blue);

// Turns 16- and 24-bit images grey in place over their width; other depths are left as
// they are. Padding bytes are not touched.
void TurnGreyInPlace(platform::Image& image);

// Row converters: write `count` grey bytes for the pixels of one row. `row` is the row's
// data (its stride); a pixel lying beyond it reads as 0, and a palette index beyond the
// palette as black. Indexed pixels are taken from the most significant bits of each byte
// first. Return the bytes written.
std::size_t ConvertRowIndexed(std::span<const std::uint8_t> row, std::size_t count, unsigned bitsPerPixel,
                              const std::vector<platform::Rgb>& palette, std::uint8_t* grey);
std::size_t ConvertRow16(std::span<const std::uint8_t> row, std::size_t count, std::uint8_t* grey);
std::size_t ConvertRow24(std::span<const std::uint8_t> row, std::size_t count, std::uint8_t* grey);

// A tile covers at least this many device pixels, so that a cell holds few enough tiles
// to send: at 64 x 64 pixels an A4 page at 600 dpi takes about 8,500 tiles (350 KB of
// commands), where 1 x 1 pixel tiles would take 35 million (1.3 GB). The least size is
// an area, so that every image keeps its shape: a cell of W x H pixels holds at most
// W H / kLeastTileArea + 3 (W + H) + 9 tiles, narrow ones included.
inline constexpr std::int64_t kLeastTileArea = 64 * 64;

// The size of one tile in device pixels: the image at the watermark's scale, enlarged in
// proportion to kLeastTileArea when it covers less. A side of less than one pixel counts
// as a tile of the image's shape whose shorter side is one pixel, so that every image
// with a size gets a tile. The stream of a tiled watermark is drawn at this size and its
// tiles are placed this far apart. A scale of 0 gives 0 x 0.
struct TileSize {
  std::int32_t width = 0;
  std::int32_t height = 0;
};
TileSize ScaledTileSize(std::uint32_t width, std::uint32_t height, const BitmapWatermarkParams& params);

// The largest output of RunLengthEncode for `length` input bytes.
std::size_t RunLengthBound(std::size_t length);

// Compresses with the PCL XL run-length method (PackBits). Returns the bytes written, or
// 0 when `capacity` is too small for the result (nothing beyond `capacity` is written).
std::size_t RunLengthEncode(const std::uint8_t* source, std::size_t length, std::uint8_t* destination,
                            std::size_t capacity);

// The stream body: the stream header line, then the grey image with its compressed blocks.
// Empty when the image cannot be expressed (no pixels, more than 65535 rows or columns,
// or a depth without a grey conversion). `firstCell` is cell 0 of the sheet, used by
// the fit placement for the destination size.
std::vector<std::uint8_t> BuildStreamBody(const platform::Image& image, const BitmapWatermarkParams& params,
                                          const CellRect& firstCell);

// Defines the stream of watermark `indexWatermark` from `image` and sends it in three
// pieces (stream name with BeginStream and ReadStream; the body; EndStream). Sends
// nothing when the body cannot be built.
BitmapStream DefineBitmapStream(int indexWatermark, const platform::Image& image, const BitmapWatermarkParams& params,
                                const CellRect& firstCell, const SpoolWriter& write);

// The commands that draw a defined stream in one cell; empty when `stream` is not defined.
std::vector<std::uint8_t> BuildPlacement(int indexWatermark, const BitmapStream& stream,
                                         const BitmapWatermarkParams& params, const PlacementContext& context);

// Sends BuildPlacement's commands with one write; nothing when they are empty.
void PlaceBitmapWatermark(int indexWatermark, const BitmapStream& stream, const BitmapWatermarkParams& params,
                          const PlacementContext& context, const SpoolWriter& write);

}  // namespace velmora::watermark
