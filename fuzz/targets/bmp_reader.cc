// Fuzz target: our own BMP reader. Whatever it accepts must be a well-formed image that
// turns and writes back as a bitmap of the same size.
#include "fuzz/fuzz_target.h"
#include "fuzz/image_checks.h"
#include "platform/posix/image_codecs.h"

namespace velmora::fuzz {
namespace {

void Entry(const std::uint8_t* data, std::size_t size) {
  const auto image = platform::posix::DecodeBmp({data, size});
  if (!image) return;
  CheckImage(*image);
  const auto again = platform::posix::DecodeBmp(platform::posix::EncodeBmp(*image));
  if (!again || again->width != image->width || again->height != image->height ||
      again->bitsPerPixel != image->bitsPerPixel || again->pixels != image->pixels) {
    __builtin_trap();
  }
}

std::vector<Seed> Seeds() {
  std::vector<Seed> seeds;
  for (unsigned bits : {1u, 4u, 8u, 16u, 24u}) {
    auto image = platform::Image::Blank(5, 3, bits);
    for (std::size_t i = 0; i < image->pixels.size(); ++i) image->pixels[i] = static_cast<std::uint8_t>(i * 37);
    for (std::uint32_t y = 0; y < image->height; ++y) {
      // The bytes after a row's pixels stay 0.
      const std::size_t used = (static_cast<std::size_t>(image->width) * bits + 7) / 8;
      for (std::size_t x = used; x < image->stride; ++x) image->Row(y)[x] = 0;
    }
    if (bits <= 8) image->palette = platform::posix::GreyPalette(1u << bits);
    if (bits == 1) image->pixels = std::vector<std::uint8_t>(image->pixels.size(), 0);
    seeds.push_back({"bits-" + std::to_string(bits), platform::posix::EncodeBmp(*image)});
  }
  return seeds;
}

VELMORA_FUZZ_TARGET(bmp_reader, Entry, Seeds);

}  // namespace
}  // namespace velmora::fuzz
