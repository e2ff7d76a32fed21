// Bitmap watermark streams: grey conversion, run-length coding, stream definition.
// The per-page placements are in watermark_bitmap_placement.cc.
#include "src/watermark/watermark_bitmap.h"

#include <algorithm>
#include <cmath>
#include <string_view>
#include <utility>

#include "formats/le_bytes.h"
#include "src/support/truncate.h"

namespace velmora::watermark {
namespace {

// The header line of the stream body. The printer reads the body as a PCL XL stream of
// its own, so it starts like one.
constexpr std::string_view kStreamHeader = ") HP-PCL XL;3;0;Comment WM.\n";
static_assert(kStreamHeader.size() == 28);

// Rows are sent in blocks of at least this many uncompressed bytes.
constexpr std::size_t kBlockBytes = 15000;

// The longest group of the run-length method.
constexpr std::size_t kMaxGroup = 128;

std::uint8_t ByteAt(std::span<const std::uint8_t> row, std::size_t index) {
  return index < row.size() ? row[index] : 0;
}

std::uint8_t PaletteGrey(const std::vector<platform::Rgb>& palette, unsigned index) {
  if (index >= palette.size()) return 0;
  const platform::Rgb& colour = palette[index];
  return GreyOf(colour.red, colour.green, colour.blue);
}

// The 5-bit channels of a 1-5-5-5 pixel: red bits 10-14, green bits 5-9, blue bits 0-4.
struct Channels5 {
  unsigned red, green, blue;
};
Channels5 Split555(std::uint16_t pixel) { return {(pixel >> 10) & 31u, (pixel >> 5) & 31u, pixel & 31u}; }

// A 5-bit channel scaled to 8 bits: the low byte of trunc(value × 8.2258).
std::uint8_t Scale5To8(unsigned value) { return static_cast<std::uint8_t>(static_cast<std::int64_t>(value * 8.2258)); }

void Append(std::vector<std::uint8_t>& out, std::initializer_list<std::uint8_t> bytes) { out.insert(out.end(), bytes); }
void AppendU16(std::vector<std::uint8_t>& out, std::uint16_t value) {
  out.push_back(static_cast<std::uint8_t>(value));
  out.push_back(static_cast<std::uint8_t>(value >> 8));
}
void AppendU32(std::vector<std::uint8_t>& out, std::uint32_t value) {
  AppendU16(out, static_cast<std::uint16_t>(value));
  AppendU16(out, static_cast<std::uint16_t>(value >> 16));
}

// One image block: StartLine, BlockHeight, CompressMode, ReadImage and its data.
void AppendBlock(std::vector<std::uint8_t>& out, std::uint16_t startLine, std::uint16_t rows,
                 const std::vector<std::uint8_t>& data) {
  out.push_back(0xC1);
  AppendU16(out, startLine);
  Append(out, {0xF8, 0x6D, 0xC1});
  AppendU16(out, rows);
  Append(out, {0xF8, 0x63, 0xC0, 0x01, 0xF8, 0x65, 0xB1, 0xFA});
  AppendU32(out, static_cast<std::uint32_t>(data.size()));
  out.insert(out.end(), data.begin(), data.end());
}

// The destination size of the image on the page.
void DestinationSize(const platform::Image& image, const BitmapWatermarkParams& params, const CellRect& firstCell,
                     std::uint16_t& width, std::uint16_t& height) {
  width = 0;
  height = 0;
  if (params.placement == 1) {
    const TileSize tile = ScaledTileSize(image.width, image.height, params);
    width = static_cast<std::uint16_t>(tile.width);
    height = static_cast<std::uint16_t>(tile.height);
    return;
  }
  if (params.placement == 0) {
    const float factor = params.nupScale * (static_cast<float>(params.imageScale) / 100.0f);
    width = static_cast<std::uint16_t>(static_cast<std::int64_t>(static_cast<float>(image.width) * factor));
    height = static_cast<std::uint16_t>(static_cast<std::int64_t>(static_cast<float>(image.height) * factor));
    return;
  }
  if (params.placement == 2) {
    const double scale = std::min(static_cast<double>(firstCell.right - firstCell.left) / image.width,
                                  static_cast<double>(firstCell.bottom - firstCell.top) / image.height);
    if (!(scale > 0)) return;  // a cell with no area: nothing to fit
    width = static_cast<std::uint16_t>(static_cast<std::int64_t>(image.width * scale));
    height = static_cast<std::uint16_t>(static_cast<std::int64_t>(image.height * scale));
  }
}

}  // namespace

std::array<std::uint8_t, 5> StreamNameOf(int indexWatermark) {
  if (indexWatermark == 1) return {'3', '2', '0', '0', '1'};
  return {'3', '2', '0', '0', '0'};
}

TileSize ScaledTileSize(std::uint32_t width, std::uint32_t height, const BitmapWatermarkParams& params) {
  const float factor = params.nupScale * (static_cast<float>(params.imageScale) / 100.0f);
  double scaledWidth = static_cast<float>(width) * factor;
  double scaledHeight = static_cast<float>(height) * factor;
  if (!(scaledWidth > 0) || !(scaledHeight > 0)) return {};
  // A side of less than a pixel would truncate to nothing: such a tile is taken as the
  // image's own shape with its shorter side one pixel long, then enlarged as any small tile.
  if (scaledWidth < 1 || scaledHeight < 1) {
    const double shorter = std::min(width, height);
    scaledWidth = width / shorter;
    scaledHeight = height / shorter;
  }
  TileSize tile{TruncateToInt32(scaledWidth), TruncateToInt32(scaledHeight)};
  const std::int64_t area = std::int64_t{tile.width} * tile.height;
  if (area >= kLeastTileArea) return tile;
  const double grow = std::sqrt(static_cast<double>(kLeastTileArea) / static_cast<double>(area));
  tile.width = TruncateToInt32(std::ceil(tile.width * grow));
  tile.height = TruncateToInt32(std::ceil(tile.height * grow));
  return tile;
}

std::uint8_t GreyOf(std::uint8_t red, std::uint8_t green, std::uint8_t blue) {
  const double grey = 0.2989 * red + 0.587 * green + 0.114 * blue;
  return static_cast<std::uint8_t>(static_cast<std::int64_t>(grey));
}

void TurnGreyInPlace(platform::Image& image) {
  for (std::uint32_t y = 0; y < image.height; ++y) {
    std::span<std::uint8_t> row = image.Row(y);
    if (image.bitsPerPixel == 24) {
      for (std::size_t x = 0; x < image.width; ++x) {
        std::uint8_t* pixel = &row[x * 3];
        const std::uint8_t grey = GreyOf(pixel[2], pixel[1], pixel[0]);
        pixel[0] = pixel[1] = pixel[2] = grey;
      }
    } else if (image.bitsPerPixel == 16) {
      for (std::size_t x = 0; x < image.width; ++x) {
        const Channels5 c = Split555(le::U16(&row[x * 2]));
        const unsigned grey =
            static_cast<unsigned>(static_cast<std::int64_t>(0.2989 * c.red + 0.587 * c.green + 0.114 * c.blue));
        le::PutU16(&row[x * 2], static_cast<std::uint16_t>(grey | grey << 5 | (grey & 255) << 10));
      }
    }
  }
}

std::size_t ConvertRowIndexed(std::span<const std::uint8_t> row, std::size_t count, unsigned bitsPerPixel,
                              const std::vector<platform::Rgb>& palette, std::uint8_t* grey) {
  const unsigned mask = (1u << bitsPerPixel) - 1;
  for (std::size_t x = 0; x < count; ++x) {
    const std::size_t bit = x * bitsPerPixel;
    const unsigned shift = 8 - bitsPerPixel - static_cast<unsigned>(bit % 8);
    const unsigned index = (ByteAt(row, bit / 8) >> shift) & mask;
    grey[x] = PaletteGrey(palette, index);
  }
  return count;
}

std::size_t ConvertRow16(std::span<const std::uint8_t> row, std::size_t count, std::uint8_t* grey) {
  for (std::size_t x = 0; x < count; ++x) {
    const auto pixel = static_cast<std::uint16_t>(ByteAt(row, x * 2) | ByteAt(row, x * 2 + 1) << 8);
    const Channels5 c = Split555(pixel);
    grey[x] = GreyOf(Scale5To8(c.red), Scale5To8(c.green), Scale5To8(c.blue));
  }
  return count;
}

std::size_t ConvertRow24(std::span<const std::uint8_t> row, std::size_t count, std::uint8_t* grey) {
  // Most of a row lies inside its data; only the padding pixels of the last few need the
  // checked reads.
  const std::size_t inside = std::min(count, row.size() / 3);
  for (std::size_t x = 0; x < inside; ++x) {
    const std::uint8_t* pixel = &row[x * 3];
    grey[x] = GreyOf(pixel[2], pixel[1], pixel[0]);
  }
  for (std::size_t x = inside; x < count; ++x) {
    grey[x] = GreyOf(ByteAt(row, x * 3 + 2), ByteAt(row, x * 3 + 1), ByteAt(row, x * 3));
  }
  return count;
}

std::size_t RunLengthBound(std::size_t length) { return length + length / kMaxGroup + 2; }

std::size_t RunLengthEncode(const std::uint8_t* source, std::size_t length, std::uint8_t* destination,
                            std::size_t capacity) {
  std::size_t written = 0;
  std::size_t literalStart = 0;
  std::size_t at = 0;
  // Writes the literal group source[literalStart, end) in pieces of at most 128 bytes.
  auto flushLiterals = [&](std::size_t end) {
    while (literalStart < end) {
      const std::size_t n = std::min(end - literalStart, kMaxGroup);
      if (capacity - written < n + 1) return false;
      destination[written++] = static_cast<std::uint8_t>(n - 1);
      std::copy_n(source + literalStart, n, destination + written);
      written += n;
      literalStart += n;
    }
    return true;
  };
  while (at < length) {
    std::size_t run = 1;
    while (at + run < length && run < kMaxGroup && source[at + run] == source[at]) ++run;
    // Runs of three or more repeat, and so does the run that ends the row; a shorter run
    // inside the row costs less as part of a literal group.
    if (run < 3 && at + run < length) {
      at += run;
      continue;
    }
    if (!flushLiterals(at)) return 0;
    if (capacity - written < 2) return 0;
    destination[written++] = static_cast<std::uint8_t>(1 - static_cast<int>(run));
    destination[written++] = source[at];
    at += run;
    literalStart = at;
  }
  if (!flushLiterals(length)) return 0;
  return written;
}

std::vector<std::uint8_t> BuildStreamBody(const platform::Image& original, const BitmapWatermarkParams& params,
                                          const CellRect& firstCell) {
  const unsigned bits = original.bitsPerPixel;
  const bool convertible = bits == 1 || bits == 2 || bits == 4 || bits == 8 || bits == 16 || bits == 24;
  // Start line, block height and the source size are 16-bit in the image operators.
  if (!convertible || original.width == 0 || original.height == 0 || original.width > 0xFFFF ||
      original.height > 0xFFFF || original.pixels.size() < original.stride * original.height) {
    return {};
  }
  platform::Image image = original;
  if (bits > 8) TurnGreyInPlace(image);

  std::uint16_t destinationWidth = 0;
  std::uint16_t destinationHeight = 0;
  DestinationSize(image, params, firstCell, destinationWidth, destinationHeight);
  // A printer rejects an image drawn at no size and drops the rest of the job with it:
  // a watermark with no area on the page is left out.
  if (destinationWidth == 0 || destinationHeight == 0) return {};

  std::vector<std::uint8_t> body(kStreamHeader.begin(), kStreamHeader.end());
  Append(body, {0xC0, 0x01, 0xF8, 0x03, 0x6A, 0xC0, 0x88, 0xF8, 0x2C, 0x7B, 0xC0, 0x00, 0xF8, 0x64, 0xC0, 0x02, 0xF8,
                0x62, 0xC1});
  AppendU16(body, static_cast<std::uint16_t>(image.width));
  Append(body, {0xF8, 0x6C, 0xC1});
  AppendU16(body, static_cast<std::uint16_t>(image.height));
  Append(body, {0xF8, 0x6B, 0xD1});
  AppendU16(body, destinationWidth);
  AppendU16(body, destinationHeight);
  Append(body, {0xF8, 0x67, 0xB0});

  // PCL XL pads every image row to a multiple of 4 bytes.
  const std::size_t paddedWidth = (std::size_t{image.width} + 3) / 4 * 4;
  std::vector<std::uint8_t> grey(paddedWidth);
  std::vector<std::uint8_t> compressed(RunLengthBound(paddedWidth));
  std::vector<std::uint8_t> block;
  std::size_t blockBytes = 0;
  std::uint16_t blockRows = 0;
  std::uint16_t startLine = 0;
  for (std::uint32_t y = 0; y < image.height; ++y) {
    const std::span<const std::uint8_t> row = std::as_const(image).Row(y);
    if (bits <= 8) {
      ConvertRowIndexed(row, paddedWidth, bits, image.palette, grey.data());
    } else if (bits == 16) {
      ConvertRow16(row, paddedWidth, grey.data());
    } else {
      ConvertRow24(row, paddedWidth, grey.data());
    }
    const std::size_t size = RunLengthEncode(grey.data(), paddedWidth, compressed.data(), compressed.size());
    block.insert(block.end(), compressed.begin(), compressed.begin() + static_cast<std::ptrdiff_t>(size));
    blockBytes += paddedWidth;
    ++blockRows;
    if (blockBytes < kBlockBytes) continue;
    AppendBlock(body, startLine, blockRows, block);
    startLine = static_cast<std::uint16_t>(startLine + blockRows);
    block.clear();
    blockBytes = 0;
    blockRows = 0;
  }
  if (blockRows != 0) AppendBlock(body, startLine, blockRows, block);
  body.push_back(0xB2);
  return body;
}

BitmapStream DefineBitmapStream(int indexWatermark, const platform::Image& image, const BitmapWatermarkParams& params,
                                const CellRect& firstCell, const SpoolWriter& write) {
  const std::vector<std::uint8_t> body = BuildStreamBody(image, params, firstCell);
  if (body.empty()) return {};
  const auto length = static_cast<std::uint32_t>(body.size());

  std::vector<std::uint8_t> opening = {0xC8, 0xC0, 0x05};
  const std::array<std::uint8_t, 5> name = StreamNameOf(indexWatermark);
  opening.insert(opening.end(), name.begin(), name.end());
  Append(opening, {0xF8, 0x8B, 0x5B, 0xC2});
  AppendU32(opening, length);
  Append(opening, {0xF8, 0x8C, 0x5C, 0xFA});
  AppendU32(opening, length);
  const std::uint8_t closing = 0x5D;

  write(opening.data(), opening.size());
  write(body.data(), body.size());
  write(&closing, 1);
  return {true, static_cast<std::uint16_t>(image.width), static_cast<std::uint16_t>(image.height)};
}

}  // namespace velmora::watermark
