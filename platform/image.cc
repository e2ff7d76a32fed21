// The parts of image handling that every platform shares: sizes, turning, temporary names.
#include "platform/image.h"

#include <algorithm>
#include <chrono>
#include <initializer_list>
#include <cstdio>
#include <string>

#include "platform/environment.h"
#include "platform/services.h"

namespace velmora::platform {
namespace {

// Reads pixel x of a row of an image with `bits` bits per pixel (at most 8: an index).
unsigned IndexAt(std::span<const std::uint8_t> row, std::uint32_t x, unsigned bits) {
  const std::size_t bit = std::size_t{x} * bits;
  const unsigned shift = 8 - bits - static_cast<unsigned>(bit % 8);
  return (row[bit / 8] >> shift) & ((1u << bits) - 1);
}

void PutIndex(std::span<std::uint8_t> row, std::uint32_t x, unsigned bits, unsigned value) {
  const std::size_t bit = std::size_t{x} * bits;
  const unsigned shift = 8 - bits - static_cast<unsigned>(bit % 8);
  const unsigned mask = ((1u << bits) - 1) << shift;
  row[bit / 8] = static_cast<std::uint8_t>((row[bit / 8] & ~mask) | ((value << shift) & mask));
}

WString Widen(const std::string& ascii) { return WString(ascii.begin(), ascii.end()); }

// Reads whole numbers of a file in either byte order; a read beyond the end gives nothing.
class HeaderReader {
 public:
  HeaderReader(std::span<const std::uint8_t> file, bool bigEndian) : file_(file), bigEndian_(bigEndian) {}
  std::optional<std::uint32_t> Read(std::size_t at, unsigned bytes) const {
    if (at > file_.size() || file_.size() - at < bytes) return std::nullopt;
    std::uint32_t value = 0;
    for (unsigned i = 0; i < bytes; ++i) {
      const std::uint32_t byte = file_[at + (bigEndian_ ? i : bytes - 1 - i)];
      value = value << 8 | byte;
    }
    return value;
  }

 private:
  std::span<const std::uint8_t> file_;
  bool bigEndian_;
};

std::optional<StatedSize> SizeOf(std::optional<std::uint32_t> width, std::optional<std::uint32_t> height) {
  if (!width || !height) return std::nullopt;
  return StatedSize{*width, *height};
}

// The info header's size tells the two layouts apart: 12 bytes hold 16-bit sizes, the
// others 32-bit ones, the height negative for rows stored from the top down.
std::optional<StatedSize> BmpSize(const HeaderReader& file) {
  const std::optional<std::uint32_t> infoSize = file.Read(14, 4);
  if (!infoSize) return std::nullopt;
  if (*infoSize == 12) return SizeOf(file.Read(18, 2), file.Read(20, 2));
  const std::optional<std::uint32_t> width = file.Read(18, 4);
  const std::optional<std::uint32_t> height = file.Read(22, 4);
  if (!width || !height) return std::nullopt;
  const auto magnitude = [](std::uint32_t value) {
    const auto signedValue = static_cast<std::int32_t>(value);
    return signedValue < 0 ? 0u - value : value;
  };
  return StatedSize{magnitude(*width), magnitude(*height)};
}

// The sizes are in the first start-of-frame segment; the segments before it are skipped
// by their lengths.
std::optional<StatedSize> JpegSize(std::span<const std::uint8_t> bytes, const HeaderReader& file) {
  std::size_t at = 2;
  while (at + 1 < bytes.size()) {
    if (bytes[at] != 0xFF) return std::nullopt;
    const std::uint8_t marker = bytes[at + 1];
    if (marker == 0xFF) {  // fill byte
      ++at;
      continue;
    }
    if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD8)) {  // no segment follows
      at += 2;
      continue;
    }
    if (marker == 0xD9 || marker == 0xDA) return std::nullopt;  // end, or the data before any frame
    const bool frame = marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
    if (frame) return SizeOf(file.Read(at + 7, 2), file.Read(at + 5, 2));
    const std::optional<std::uint32_t> length = file.Read(at + 2, 2);
    if (!length || *length < 2) return std::nullopt;
    at += 2 + *length;
  }
  return std::nullopt;
}

// The sizes are the ImageWidth (256) and ImageLength (257) entries of the first
// directory, each a 16- or 32-bit value.
std::optional<StatedSize> TiffSize(const HeaderReader& file) {
  const std::optional<std::uint32_t> directory = file.Read(4, 4);
  const std::optional<std::uint32_t> count = directory ? file.Read(*directory, 2) : std::nullopt;
  if (!count) return std::nullopt;
  std::optional<std::uint32_t> width;
  std::optional<std::uint32_t> height;
  for (std::uint32_t i = 0; i < *count; ++i) {
    const std::size_t entry = std::size_t{*directory} + 2 + std::size_t{i} * 12;
    const std::optional<std::uint32_t> tag = file.Read(entry, 2);
    const std::optional<std::uint32_t> type = file.Read(entry + 2, 2);
    if (!tag || !type) return std::nullopt;
    if (*tag != 256 && *tag != 257) continue;
    const std::optional<std::uint32_t> value = *type == 3 ? file.Read(entry + 8, 2) : file.Read(entry + 8, 4);
    (*tag == 256 ? width : height) = value;
  }
  return SizeOf(width, height);
}

}  // namespace

std::optional<StatedSize> StatedImageSize(std::span<const std::uint8_t> file) {
  const auto startsWith = [file](std::initializer_list<std::uint8_t> signature) {
    return file.size() >= signature.size() && std::equal(signature.begin(), signature.end(), file.begin());
  };
  const HeaderReader little(file, false);
  const HeaderReader big(file, true);
  if (startsWith({0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A})) return SizeOf(big.Read(16, 4), big.Read(20, 4));
  if (startsWith({'B', 'M'})) return BmpSize(little);
  if (startsWith({0xFF, 0xD8})) return JpegSize(file, big);
  if (startsWith({'G', 'I', 'F', '8'})) return SizeOf(little.Read(6, 2), little.Read(8, 2));
  if (startsWith({'I', 'I', 42, 0})) return TiffSize(little);
  if (startsWith({'M', 'M', 0, 42})) return TiffSize(big);
  return std::nullopt;
}

std::size_t Image::StrideFor(std::uint32_t width, unsigned bitsPerPixel) {
  const std::uint64_t bits = std::uint64_t{width} * bitsPerPixel;
  return static_cast<std::size_t>((bits + 31) / 32 * 4);
}

std::optional<Image> Image::Blank(std::uint32_t width, std::uint32_t height, unsigned bitsPerPixel) {
  if (std::uint64_t{width} * height > kMaxPixels) return std::nullopt;
  Image image;
  image.width = width;
  image.height = height;
  image.bitsPerPixel = static_cast<std::uint16_t>(bitsPerPixel);
  image.stride = StrideFor(width, bitsPerPixel);
  image.pixels.assign(image.stride * height, 0);
  return image;
}

Image TurnQuarterCounterClockwise(const Image& image) {
  // The sizes only swap, so the turned image never exceeds the limits of the original.
  Image turned = *Image::Blank(image.height, image.width, image.bitsPerPixel);
  turned.palette = image.palette;
  const unsigned bits = image.bitsPerPixel;
  for (std::uint32_t y = 0; y < turned.height; ++y) {
    std::span<std::uint8_t> target = turned.Row(y);
    const std::uint32_t sourceX = image.width - 1 - y;
    for (std::uint32_t x = 0; x < turned.width; ++x) {
      std::span<const std::uint8_t> source = image.Row(x);
      if (bits <= 8) {
        PutIndex(target, x, bits, IndexAt(source, sourceX, bits));
        continue;
      }
      const std::size_t bytes = bits / 8;
      for (std::size_t b = 0; b < bytes; ++b) target[x * bytes + b] = source[sourceX * bytes + b];
    }
  }
  return turned;
}

std::optional<WString> CreateUniqueTempFile(WStringView extension) {
  using namespace std::chrono;
  const auto now = system_clock::now().time_since_epoch();
  const auto milliseconds = duration_cast<std::chrono::milliseconds>(now).count() % 1000;
  const auto seconds = duration_cast<std::chrono::seconds>(now).count();
  std::string stem = std::to_string(seconds / 60 % 60);
  stem += '_';
  stem += std::to_string(seconds % 60);
  stem += '_';
  stem += std::to_string(milliseconds);

  WString folder = Current().environment->TempFolder();
  if (!folder.empty() && folder.back() != PathSeparator()) folder += PathSeparator();
  // Another renderer, or the other watermark of this one, may have taken the name in the
  // same millisecond; the file is created exclusively, so a taken name is never shared.
  for (int attempt = 0; attempt < 1000; ++attempt) {
    std::string name = stem;
    if (attempt != 0) {
      name += '_';
      name += std::to_string(attempt);
    }
    WString path = folder;
    path += Widen(name);
    path += extension;
    std::FILE* file = CreateNewFileW(path);
    if (file == nullptr) continue;
    std::fclose(file);
    return path;
  }
  return std::nullopt;
}

}  // namespace velmora::platform
