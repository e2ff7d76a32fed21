// Image files: loading, turning a quarter turn and saving.
//
// An image is held in the pixel format the platform's imaging library reports for it:
// indexed images (1, 4 or 8 bits per pixel) keep their palette, greyscale images come as
// indexed images with a grey palette, 16-bit images with a 1-bit alpha and 5-bit colour
// channels stay 16-bit, and everything else (RGB, RGB with alpha, CMYK, 48 and 64 bits
// per pixel, other 16-bit layouts) is read as 24-bit RGB.
// Windows: GDI+; POSIX: libpng, libjpeg, giflib, libtiff and our own BMP reader and writer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "platform/types.h"

namespace velmora::platform {

struct Rgb {
  std::uint8_t red = 0;
  std::uint8_t green = 0;
  std::uint8_t blue = 0;
  bool operator==(const Rgb&) const = default;
};

// An image in memory, rows from the top of the picture down.
//   1, 4, 8 bits: palette indexes, the leftmost pixel in the most significant bits;
//   16 bits: little-endian 1-5-5-5 words (alpha in bit 15, then red, green, blue);
//   24 bits: blue, green, red bytes.
// Every row is `stride` bytes, a multiple of 4; the bytes after a row's pixels are 0.
struct Image {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::uint16_t bitsPerPixel = 0;
  std::size_t stride = 0;
  std::vector<Rgb> palette;
  std::vector<std::uint8_t> pixels;  // stride × height bytes

  // The stride of a row of `width` pixels of `bitsPerPixel` bits.
  static std::size_t StrideFor(std::uint32_t width, unsigned bitsPerPixel);

  // A zero-filled image, or nullopt when the sizes overflow or exceed `kMaxPixels`.
  static std::optional<Image> Blank(std::uint32_t width, std::uint32_t height, unsigned bitsPerPixel);

  std::span<const std::uint8_t> Row(std::uint32_t y) const { return {pixels.data() + y * stride, stride}; }
  std::span<std::uint8_t> Row(std::uint32_t y) { return {pixels.data() + y * stride, stride}; }
};

// Images larger than this many pixels are refused by the loaders.
inline constexpr std::uint64_t kMaxPixels = std::uint64_t{1} << 28;

// The width and height a BMP, PNG, JPEG, GIF or TIFF file states in its header, read
// without decoding the picture; nullopt when the bytes are none of these or do not hold
// the header whole. A loader that cannot refuse a size before it decodes asks first.
struct StatedSize {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
};
std::optional<StatedSize> StatedImageSize(std::span<const std::uint8_t> file);

// Loads an image file of any format the platform reads; nullopt when the file cannot be
// read or decoded, or states more than kMaxPixels pixels.
std::optional<Image> LoadImageFile(const WString& path);

// The image turned a quarter turn counter-clockwise (270 degrees clockwise): its top
// right corner becomes the top left corner. Indexed images stay indexed.
Image TurnQuarterCounterClockwise(const Image& image);

// Loads `source`, turns it a quarter turn counter-clockwise and saves it as a bitmap
// file at `target`, replacing what is there. Returns false when nothing was saved.
bool SaveTurnedCopy(const WString& source, const WString& target);

// Creates a new empty file in the temporary folder, named after the current UTC minute,
// second and millisecond ("7_42_315.bmp"), with "_1", "_2", ... added when the name is
// taken, so that two copies made in the same millisecond never share a file. Returns
// its full path, or nullopt when no file could be created.
std::optional<WString> CreateUniqueTempFile(WStringView extension);

// Deletes a file. Returns true when it existed and is gone.
bool RemoveFileW(const WString& path);

}  // namespace velmora::platform
