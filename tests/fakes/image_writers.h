// Pictures for the image tests, written with the imaging libraries themselves.
#pragma once

#include <png.h>

#include <cstdint>
#include <vector>

namespace velmora::testing {

// A PNG of `width` × `height` samples written with libpng.
inline std::vector<std::uint8_t> WritePng(std::uint32_t width, std::uint32_t height, int depth, int colourType,
                                          const std::vector<std::uint8_t>& rows,
                                          const std::vector<png_color>& palette = {}) {
  std::vector<std::uint8_t> out;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  png_set_write_fn(
      png, &out,
      [](png_structp p, png_bytep data, png_size_t length) {
        auto* target = static_cast<std::vector<std::uint8_t>*>(png_get_io_ptr(p));
        target->insert(target->end(), data, data + length);
      },
      nullptr);
  png_set_IHDR(png, info, width, height, depth, colourType, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  if (!palette.empty()) png_set_PLTE(png, info, palette.data(), static_cast<int>(palette.size()));
  png_write_info(png, info);
  const std::size_t rowBytes = rows.size() / height;
  for (std::uint32_t y = 0; y < height; ++y) png_write_row(png, rows.data() + y * rowBytes);
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  return out;
}

}  // namespace velmora::testing
