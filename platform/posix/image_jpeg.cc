// JPEG files through libjpeg.
#include <cstdio>
// jpeglib.h needs size_t and FILE declared before it.
#include <jpeglib.h>

#include <csetjmp>
#include <memory>

#include "platform/posix/image_codecs.h"

namespace velmora::platform::posix {
namespace {

struct JpegState {
  jpeg_decompress_struct info{};
  jpeg_error_mgr errors{};
  std::jmp_buf escape{};
  std::vector<std::uint8_t> row;
  std::optional<Image> image;
};

[[noreturn]] void EscapeOnError(j_common_ptr info) {
  auto* state = static_cast<JpegState*>(info->client_data);
  std::longjmp(state->escape, 1);
}

void IgnoreMessage(j_common_ptr) {}

}  // namespace

std::optional<Image> DecodeJpeg(std::span<const std::uint8_t> file) {
  if (file.size() < 3 || file[0] != 0xFF || file[1] != 0xD8) return std::nullopt;
  // See image_png.cc: everything changed after setjmp is reached through this pointer.
  const auto state = std::make_unique<JpegState>();
  jpeg_decompress_struct& info = state->info;
  info.err = jpeg_std_error(&state->errors);
  state->errors.error_exit = EscapeOnError;
  state->errors.output_message = IgnoreMessage;
  info.client_data = state.get();
  if (setjmp(state->escape)) {
    jpeg_destroy_decompress(&info);
    return std::nullopt;
  }
  jpeg_create_decompress(&info);
  jpeg_mem_src(&info, file.data(), static_cast<unsigned long>(file.size()));
  jpeg_read_header(&info, TRUE);
  // Decompression allocates for the whole frame before the first line is read: a
  // progressive picture keeps all its coefficients. The frame header is all it takes to
  // refuse a picture too large.
  if (std::uint64_t{info.image_width} * info.image_height > kMaxPixels) {
    jpeg_destroy_decompress(&info);
    return std::nullopt;
  }
  const bool grey = info.jpeg_color_space == JCS_GRAYSCALE;
  const bool cmyk = info.jpeg_color_space == JCS_CMYK || info.jpeg_color_space == JCS_YCCK;
  info.out_color_space = grey ? JCS_GRAYSCALE : (cmyk ? JCS_CMYK : JCS_RGB);
  jpeg_start_decompress(&info);
  const std::uint32_t width = info.output_width;
  const std::uint32_t height = info.output_height;
  // Grey pictures come as 8-bit indexed images with a grey palette, colour ones as RGB.
  state->image = Image::Blank(width, height, grey ? 8 : 24);
  if (!state->image) {
    jpeg_destroy_decompress(&info);
    return std::nullopt;
  }
  if (grey) state->image->palette = GreyPalette(256);
  state->row.resize(std::size_t{width} * static_cast<std::size_t>(info.output_components));
  while (info.output_scanline < height) {
    const std::uint32_t y = info.output_scanline;
    JSAMPROW row = state->row.data();
    if (jpeg_read_scanlines(&info, &row, 1) != 1) break;
    std::span<std::uint8_t> target = state->image->Row(y);
    for (std::uint32_t x = 0; x < width; ++x) {
      if (grey) {
        target[x] = state->row[x];
        continue;
      }
      if (cmyk) {
        // Adobe's files store CMYK inverted: each byte is 255 − ink.
        const std::uint8_t* p = &state->row[x * 4];
        target[x * 3] = static_cast<std::uint8_t>(p[2] * p[3] / 255);
        target[x * 3 + 1] = static_cast<std::uint8_t>(p[1] * p[3] / 255);
        target[x * 3 + 2] = static_cast<std::uint8_t>(p[0] * p[3] / 255);
        continue;
      }
      target[x * 3] = state->row[x * 3 + 2];
      target[x * 3 + 1] = state->row[x * 3 + 1];
      target[x * 3 + 2] = state->row[x * 3];
    }
  }
  jpeg_finish_decompress(&info);
  jpeg_destroy_decompress(&info);
  return std::move(state->image);
}

}  // namespace velmora::platform::posix
