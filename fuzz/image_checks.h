// What every decoded image must satisfy, for the image fuzz targets.
#pragma once

#include "platform/image.h"

namespace velmora::fuzz {

// Traps unless the image's sizes, stride, pixels and palette agree, and it turns a
// quarter into an image of the swapped size.
inline void CheckImage(const platform::Image& image) {
  const unsigned bits = image.bitsPerPixel;
  const bool known = bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24;
  if (!known || image.width == 0 || image.height == 0 ||
      static_cast<std::uint64_t>(image.width) * image.height > platform::kMaxPixels ||
      image.stride != platform::Image::StrideFor(image.width, bits) ||
      image.pixels.size() != image.stride * image.height || (bits <= 8 && image.palette.size() > (1u << bits))) {
    __builtin_trap();
  }
  if (static_cast<std::uint64_t>(image.width) * image.height > (1u << 20)) return;  // turning costs time, not safety
  const platform::Image turned = platform::TurnQuarterCounterClockwise(image);
  if (turned.width != image.height || turned.height != image.width || turned.bitsPerPixel != image.bitsPerPixel) {
    __builtin_trap();
  }
}

}  // namespace velmora::fuzz
