// TIFF files through libtiff: the first directory. Palette and grey images of 1, 4 or 8
// bits in strips stay indexed; everything else is read as RGB.
#include <tiffio.h>

#include <algorithm>
#include <cstring>

#include "platform/posix/image_codecs.h"

namespace velmora::platform::posix {
namespace {

struct Source {
  std::span<const std::uint8_t> file;
  toff_t position = 0;
};

tsize_t Read(thandle_t handle, tdata_t data, tsize_t size) {
  auto* source = static_cast<Source*>(handle);
  if (size < 0 || source->position > source->file.size()) return 0;
  const std::size_t count = std::min(static_cast<std::size_t>(size), source->file.size() - source->position);
  std::memcpy(data, source->file.data() + source->position, count);
  source->position += count;
  return static_cast<tsize_t>(count);
}
tsize_t Write(thandle_t, tdata_t, tsize_t) { return 0; }
toff_t Seek(thandle_t handle, toff_t offset, int whence) {
  auto* source = static_cast<Source*>(handle);
  if (whence == SEEK_CUR) offset += source->position;
  if (whence == SEEK_END) offset += source->file.size();
  source->position = offset;
  return offset;
}
int Close(thandle_t) { return 0; }
toff_t Size(thandle_t handle) { return static_cast<Source*>(handle)->file.size(); }
int Map(thandle_t, tdata_t*, toff_t*) { return 0; }
void Unmap(thandle_t, tdata_t, toff_t) {}

void Quiet(const char*, const char*, va_list) {}

// Indexed images keep their indexes and palette.
std::optional<Image> ReadIndexed(TIFF* tiff, std::uint32_t width, std::uint32_t height, unsigned bits,
                                 std::uint16_t photometric) {
  std::optional<Image> image = Image::Blank(width, height, bits);
  if (!image) return std::nullopt;
  const std::size_t used = (std::size_t{width} * bits + 7) / 8;
  std::vector<std::uint8_t> line(std::max<std::size_t>(static_cast<std::size_t>(TIFFScanlineSize(tiff)), used));
  for (std::uint32_t y = 0; y < height; ++y) {
    if (TIFFReadScanline(tiff, line.data(), y, 0) < 0) return std::nullopt;
    std::memcpy(image->Row(y).data(), line.data(), used);
    const unsigned spare = static_cast<unsigned>(used * 8 - std::size_t{width} * bits);
    if (spare != 0) image->Row(y)[used - 1] &= static_cast<std::uint8_t>(0xFF << spare);
  }
  const unsigned levels = 1u << bits;
  if (photometric == PHOTOMETRIC_PALETTE) {
    std::uint16_t *red = nullptr, *green = nullptr, *blue = nullptr;
    if (!TIFFGetField(tiff, TIFFTAG_COLORMAP, &red, &green, &blue)) return std::nullopt;
    for (unsigned i = 0; i < levels; ++i) {
      image->palette.push_back({static_cast<std::uint8_t>(red[i] >> 8), static_cast<std::uint8_t>(green[i] >> 8),
                                static_cast<std::uint8_t>(blue[i] >> 8)});
    }
    return image;
  }
  image->palette = GreyPalette(levels);
  if (photometric == PHOTOMETRIC_MINISWHITE) std::reverse(image->palette.begin(), image->palette.end());
  return image;
}

std::optional<Image> ReadRgb(TIFF* tiff, std::uint32_t width, std::uint32_t height) {
  std::optional<Image> image = Image::Blank(width, height, 24);
  if (!image) return std::nullopt;
  std::vector<std::uint32_t> raster(std::size_t{width} * height);
  if (!TIFFReadRGBAImageOriented(tiff, width, height, raster.data(), ORIENTATION_TOPLEFT, 0)) return std::nullopt;
  for (std::uint32_t y = 0; y < height; ++y) {
    std::span<std::uint8_t> row = image->Row(y);
    for (std::uint32_t x = 0; x < width; ++x) {
      const std::uint32_t pixel = raster[std::size_t{y} * width + x];
      row[x * 3] = static_cast<std::uint8_t>(TIFFGetB(pixel));
      row[x * 3 + 1] = static_cast<std::uint8_t>(TIFFGetG(pixel));
      row[x * 3 + 2] = static_cast<std::uint8_t>(TIFFGetR(pixel));
    }
  }
  return image;
}

}  // namespace

std::optional<Image> DecodeTiff(std::span<const std::uint8_t> file) {
  if (file.size() < 8 || !((file[0] == 'I' && file[1] == 'I') || (file[0] == 'M' && file[1] == 'M'))) {
    return std::nullopt;
  }
  TIFFSetErrorHandler(Quiet);
  TIFFSetWarningHandler(Quiet);
  Source source{file};
  TIFF* tiff = TIFFClientOpen("image", "rm", &source, Read, Write, Seek, Close, Size, Map, Unmap);
  if (tiff == nullptr) return std::nullopt;
  std::uint32_t width = 0, height = 0;
  std::uint16_t bits = 1, samples = 1, photometric = PHOTOMETRIC_MINISWHITE;
  TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &width);
  TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &height);
  TIFFGetFieldDefaulted(tiff, TIFFTAG_BITSPERSAMPLE, &bits);
  TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLESPERPIXEL, &samples);
  TIFFGetField(tiff, TIFFTAG_PHOTOMETRIC, &photometric);
  std::optional<Image> image;
  if (width != 0 && height != 0 && std::uint64_t{width} * height <= kMaxPixels) {
    const bool indexedKind = photometric == PHOTOMETRIC_PALETTE || photometric == PHOTOMETRIC_MINISBLACK ||
                             photometric == PHOTOMETRIC_MINISWHITE;
    if (indexedKind && samples == 1 && (bits == 1 || bits == 4 || bits == 8) && !TIFFIsTiled(tiff)) {
      image = ReadIndexed(tiff, width, height, bits, photometric);
    } else {
      image = ReadRgb(tiff, width, height);
    }
  }
  TIFFClose(tiff);
  return image;
}

}  // namespace velmora::platform::posix
