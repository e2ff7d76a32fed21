// The image decoders and the bitmap encoder of the POSIX platform, one file per format.
//
// Every decoder reads a whole file held in memory, never outside it, and answers nullopt
// for data it cannot decode. The pixel formats are those of platform/image.h.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "platform/image.h"

namespace velmora::platform::posix {

std::optional<Image> DecodeBmp(std::span<const std::uint8_t> file);
std::optional<Image> DecodePng(std::span<const std::uint8_t> file);
std::optional<Image> DecodeJpeg(std::span<const std::uint8_t> file);
std::optional<Image> DecodeGif(std::span<const std::uint8_t> file);
std::optional<Image> DecodeTiff(std::span<const std::uint8_t> file);

// Picks the decoder by the file's first bytes.
std::optional<Image> DecodeImage(std::span<const std::uint8_t> file);

// A bitmap file of the image: 1, 4 and 8 bits with their palette, 24 bits as they are,
// 16 bits as 1-5-5-5 bit fields. Empty for any other depth.
std::vector<std::uint8_t> EncodeBmp(const Image& image);

// An image of `width` × `height` indexes with one byte per pixel, packed to `bits` bits
// per pixel (1, 4 or 8); nullopt when it is too large.
std::optional<Image> PackIndexes(std::uint32_t width, std::uint32_t height, unsigned bits,
                                 std::span<const std::uint8_t> indexes);

// The grey palette of `levels` evenly spaced levels from black to white.
std::vector<Rgb> GreyPalette(unsigned levels);

}  // namespace velmora::platform::posix
