// The parts of image handling that every platform shares: sizes, turning, temporary names.
#include "platform/image.h"

#include <chrono>
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

}  // namespace

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
