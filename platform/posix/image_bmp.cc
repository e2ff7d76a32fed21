// Our own reader and writer of device-independent bitmap files.
#include <algorithm>
#include <bit>

#include "platform/posix/image_codecs.h"

namespace velmora::platform::posix {
namespace {

constexpr std::size_t kFileHeaderSize = 14;
constexpr std::uint32_t kBiRgb = 0;
constexpr std::uint32_t kBiBitfields = 3;
constexpr std::uint32_t kInfoHeaderSize = 40;
constexpr std::uint32_t kV4HeaderSize = 108;

std::uint16_t U16(std::span<const std::uint8_t> b, std::size_t at) {
  return static_cast<std::uint16_t>(b[at] | b[at + 1] << 8);
}
std::uint32_t U32(std::span<const std::uint8_t> b, std::size_t at) {
  return static_cast<std::uint32_t>(U16(b, at)) | static_cast<std::uint32_t>(U16(b, at + 2)) << 16;
}
void PutU16(std::vector<std::uint8_t>& out, std::size_t at, std::uint32_t value) {
  out[at] = static_cast<std::uint8_t>(value);
  out[at + 1] = static_cast<std::uint8_t>(value >> 8);
}
void PutU32(std::vector<std::uint8_t>& out, std::size_t at, std::uint32_t value) {
  PutU16(out, at, value & 0xFFFF);
  PutU16(out, at + 2, value >> 16);
}

// Extracts the channel under `mask` from a pixel, scaled to 8 bits.
std::uint8_t Channel(std::uint32_t pixel, std::uint32_t mask) {
  if (mask == 0) return 0;
  const int shift = std::countr_zero(mask);
  const int width = std::popcount(mask);
  const std::uint32_t value = (pixel & mask) >> shift;
  const std::uint32_t maximum = (width >= 32) ? 0xFFFFFFFFu : (1u << width) - 1;
  return static_cast<std::uint8_t>(std::uint64_t{value} * 255 / maximum);
}

struct Header {
  std::uint32_t headerSize = 0;
  std::int64_t width = 0;
  std::int64_t height = 0;  // negative: rows stored top-down
  unsigned bits = 0;
  std::uint32_t compression = kBiRgb;
  std::uint32_t coloursUsed = 0;
  std::uint32_t masks[4] = {0, 0, 0, 0};  // red, green, blue, alpha
};

std::optional<Header> ReadHeader(std::span<const std::uint8_t> file) {
  if (file.size() < kFileHeaderSize + 12 || file[0] != 'B' || file[1] != 'M') return std::nullopt;
  std::span<const std::uint8_t> info = file.subspan(kFileHeaderSize);
  Header header;
  header.headerSize = U32(info, 0);
  if (header.headerSize == 12) {
    header.width = U16(info, 4);
    header.height = U16(info, 6);
    header.bits = U16(info, 10);
    return header;
  }
  if (header.headerSize < kInfoHeaderSize || info.size() < header.headerSize) return std::nullopt;
  header.width = static_cast<std::int32_t>(U32(info, 4));
  header.height = static_cast<std::int32_t>(U32(info, 8));
  header.bits = U16(info, 14);
  header.compression = U32(info, 16);
  header.coloursUsed = U32(info, 32);
  if (header.compression == kBiBitfields) {
    // The masks follow a 40-byte header and lie inside the larger ones.
    const std::size_t at = kFileHeaderSize + kInfoHeaderSize;
    const std::size_t count = header.headerSize >= 56 ? 4 : 3;
    if (file.size() < at + count * 4) return std::nullopt;
    for (std::size_t i = 0; i < count; ++i) header.masks[i] = U32(file, at + i * 4);
  }
  return header;
}

}  // namespace

std::vector<Rgb> GreyPalette(unsigned levels) {
  std::vector<Rgb> palette(levels);
  for (unsigned i = 0; i < levels; ++i) {
    const auto level = static_cast<std::uint8_t>(levels > 1 ? i * 255 / (levels - 1) : 0);
    palette[i] = {level, level, level};
  }
  return palette;
}

std::optional<Image> PackIndexes(std::uint32_t width, std::uint32_t height, unsigned bits,
                                 std::span<const std::uint8_t> indexes) {
  std::optional<Image> image = Image::Blank(width, height, bits);
  if (!image || indexes.size() < std::size_t{width} * height) return std::nullopt;
  const unsigned mask = (1u << bits) - 1;
  for (std::uint32_t y = 0; y < height; ++y) {
    std::span<std::uint8_t> row = image->Row(y);
    for (std::uint32_t x = 0; x < width; ++x) {
      const std::size_t bit = std::size_t{x} * bits;
      const unsigned shift = 8 - bits - static_cast<unsigned>(bit % 8);
      row[bit / 8] = static_cast<std::uint8_t>(row[bit / 8] | (indexes[std::size_t{y} * width + x] & mask) << shift);
    }
  }
  return image;
}

std::optional<Image> DecodeBmp(std::span<const std::uint8_t> file) {
  const std::optional<Header> header = ReadHeader(file);
  if (!header || header->width <= 0 || header->height == 0) return std::nullopt;
  const bool topDown = header->height < 0;
  const auto width = static_cast<std::uint32_t>(header->width);
  const auto height = static_cast<std::uint32_t>(topDown ? -header->height : header->height);
  const unsigned bits = header->bits;
  const bool indexed = bits == 1 || bits == 4 || bits == 8;
  if (!indexed && bits != 16 && bits != 24 && bits != 32) return std::nullopt;
  // Run-length compressed and embedded JPEG or PNG bitmaps are not read.
  if (header->compression != kBiRgb && !(header->compression == kBiBitfields && (bits == 16 || bits == 32))) {
    return std::nullopt;
  }

  std::uint32_t masks[4] = {header->masks[0], header->masks[1], header->masks[2], header->masks[3]};
  if (header->compression == kBiRgb) {
    if (bits == 16) {
      masks[0] = 0x7C00, masks[1] = 0x03E0, masks[2] = 0x001F, masks[3] = 0;
    } else {
      masks[0] = 0xFF0000, masks[1] = 0x00FF00, masks[2] = 0x0000FF, masks[3] = 0;
    }
  }
  // Only 1-5-5-5 with a 1-bit alpha stays 16-bit; every other layout becomes 24-bit RGB.
  const bool argb1555 =
      bits == 16 && masks[0] == 0x7C00 && masks[1] == 0x03E0 && masks[2] == 0x001F && masks[3] == 0x8000;
  const unsigned targetBits = indexed ? bits : (argb1555 ? 16 : 24);
  std::optional<Image> image = Image::Blank(width, height, targetBits);
  if (!image) return std::nullopt;

  const std::size_t pixelOffset = U32(file, 10);
  if (indexed) {
    const bool core = header->headerSize == 12;
    const std::size_t entrySize = core ? 3 : 4;
    std::size_t entries = header->coloursUsed != 0 ? header->coloursUsed : (std::size_t{1} << bits);
    entries = std::min(entries, std::size_t{1} << bits);
    const std::size_t tableAt = kFileHeaderSize + header->headerSize;
    if (tableAt > file.size()) return std::nullopt;
    entries = std::min(entries, (file.size() - tableAt) / entrySize);
    for (std::size_t i = 0; i < entries; ++i) {
      const std::uint8_t* entry = &file[tableAt + i * entrySize];
      image->palette.push_back({entry[2], entry[1], entry[0]});
    }
  }

  const std::size_t sourceStride = Image::StrideFor(width, bits);
  if (pixelOffset > file.size() || (file.size() - pixelOffset) / sourceStride < height) return std::nullopt;
  for (std::uint32_t y = 0; y < height; ++y) {
    const std::uint32_t fileRow = topDown ? y : height - 1 - y;
    std::span<const std::uint8_t> source = file.subspan(pixelOffset + fileRow * sourceStride, sourceStride);
    std::span<std::uint8_t> target = image->Row(y);
    if (indexed || argb1555 || bits == 24) {
      const std::size_t used = (std::size_t{width} * bits + 7) / 8;
      std::copy_n(source.begin(), used, target.begin());
      // The last byte of an indexed row may carry stray bits after the last pixel.
      const unsigned spare = static_cast<unsigned>(used * 8 - std::size_t{width} * bits);
      if (spare != 0) target[used - 1] = static_cast<std::uint8_t>(target[used - 1] & (0xFF << spare));
      continue;
    }
    for (std::uint32_t x = 0; x < width; ++x) {
      const std::uint32_t pixel = bits == 16 ? U16(source, x * 2) : U32(source, x * 4);
      target[x * 3] = Channel(pixel, masks[2]);
      target[x * 3 + 1] = Channel(pixel, masks[1]);
      target[x * 3 + 2] = Channel(pixel, masks[0]);
    }
  }
  return image;
}

std::vector<std::uint8_t> EncodeBmp(const Image& image) {
  const unsigned bits = image.bitsPerPixel;
  if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24) return {};
  const bool indexed = bits <= 8;
  const std::size_t paletteEntries = indexed ? std::min(image.palette.size(), std::size_t{1} << bits) : 0;
  const std::uint32_t headerSize = bits == 16 ? kV4HeaderSize : kInfoHeaderSize;
  const std::size_t pixelOffset = kFileHeaderSize + headerSize + paletteEntries * 4;
  const std::size_t imageSize = image.stride * image.height;
  std::vector<std::uint8_t> out(pixelOffset + imageSize, 0);

  out[0] = 'B';
  out[1] = 'M';
  PutU32(out, 2, static_cast<std::uint32_t>(out.size()));
  PutU32(out, 10, static_cast<std::uint32_t>(pixelOffset));
  const std::size_t info = kFileHeaderSize;
  PutU32(out, info, headerSize);
  PutU32(out, info + 4, image.width);
  PutU32(out, info + 8, image.height);
  PutU16(out, info + 12, 1);
  PutU16(out, info + 14, bits);
  PutU32(out, info + 16, bits == 16 ? kBiBitfields : kBiRgb);
  PutU32(out, info + 20, static_cast<std::uint32_t>(imageSize));
  PutU32(out, info + 32, static_cast<std::uint32_t>(paletteEntries));
  if (bits == 16) {
    PutU32(out, info + 40, 0x7C00);
    PutU32(out, info + 44, 0x03E0);
    PutU32(out, info + 48, 0x001F);
    PutU32(out, info + 52, 0x8000);
  }
  for (std::size_t i = 0; i < paletteEntries; ++i) {
    const std::size_t at = info + headerSize + i * 4;
    out[at] = image.palette[i].blue;
    out[at + 1] = image.palette[i].green;
    out[at + 2] = image.palette[i].red;
  }
  // Our rows are top-down and bitmap files store them bottom-up, with the same stride.
  for (std::uint32_t y = 0; y < image.height; ++y) {
    std::span<const std::uint8_t> row = image.Row(y);
    std::copy(row.begin(), row.end(),
              out.begin() + static_cast<std::ptrdiff_t>(pixelOffset + (image.height - 1 - y) * image.stride));
  }
  return out;
}

}  // namespace velmora::platform::posix
