// PNG files through libpng.
#include <png.h>

#include <algorithm>
#include <csetjmp>
#include <cstring>
#include <memory>

#include "platform/posix/image_codecs.h"

namespace velmora::platform::posix {
namespace {

// Everything the decoder changes after setjmp lives here, behind a pointer that does not
// change, so that a longjmp out of libpng leaves nothing in an undefined state.
struct PngState {
  std::span<const std::uint8_t> file;
  std::size_t position = 0;
  std::vector<std::uint8_t> rows;
  std::vector<png_bytep> rowPointers;
  std::optional<Image> image;
};

void ReadFromMemory(png_structp png, png_bytep data, png_size_t length) {
  auto* state = static_cast<PngState*>(png_get_io_ptr(png));
  if (state->file.size() - state->position < length) png_error(png, "truncated");
  std::memcpy(data, state->file.data() + state->position, length);
  state->position += length;
}

void IgnoreWarning(png_structp, png_const_charp) {}

// A broken file is an ordinary answer (nullopt), not a message on the standard error.
[[noreturn]] void QuietError(png_structp png, png_const_charp) { png_longjmp(png, 1); }

}  // namespace

std::optional<Image> DecodePng(std::span<const std::uint8_t> file) {
  if (file.size() < 8 || png_sig_cmp(file.data(), 0, 8) != 0) return std::nullopt;
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, QuietError, IgnoreWarning);
  if (png == nullptr) return std::nullopt;
  png_infop info = png_create_info_struct(png);
  const auto state = std::make_unique<PngState>();
  state->file = file;
  if (info == nullptr || setjmp(png_jmpbuf(png))) {
    png_destroy_read_struct(&png, info == nullptr ? nullptr : &info, nullptr);
    return std::nullopt;
  }
  png_set_read_fn(png, state.get(), ReadFromMemory);
  png_set_user_limits(png, 0x7FFFFFFF, 0x7FFFFFFF);
  png_read_info(png, info);
  const png_uint_32 width = png_get_image_width(png, info);
  const png_uint_32 height = png_get_image_height(png, info);
  const int depth = png_get_bit_depth(png, info);
  const int colourType = png_get_color_type(png, info);
  if (std::uint64_t{width} * height > kMaxPixels) png_error(png, "too large");

  // Palette images and grey images without alpha stay indexed: one byte per index while
  // decoding, packed afterwards (2-bit images become 4-bit ones); a 16-bit grey image
  // keeps the high byte of each sample. GDI+ reads grey files so too, and grey with
  // alpha as colour.
  const bool indexed = colourType == PNG_COLOR_TYPE_PALETTE || colourType == PNG_COLOR_TYPE_GRAY;
  if (indexed) {
    png_set_strip_16(png);
    png_set_packing(png);
  } else {
    png_set_strip_16(png);
    png_set_strip_alpha(png);
    png_set_gray_to_rgb(png);
    png_set_bgr(png);
  }
  png_set_interlace_handling(png);
  png_read_update_info(png, info);
  const std::size_t rowBytes = png_get_rowbytes(png, info);
  state->rows.resize(rowBytes * height);
  state->rowPointers.resize(height);
  for (png_uint_32 y = 0; y < height; ++y) state->rowPointers[y] = state->rows.data() + y * rowBytes;
  png_read_image(png, state->rowPointers.data());
  png_read_end(png, nullptr);

  if (indexed) {
    std::vector<Rgb> palette;
    if (colourType == PNG_COLOR_TYPE_PALETTE) {
      png_colorp entries = nullptr;
      int count = 0;
      png_get_PLTE(png, info, &entries, &count);
      for (int i = 0; i < count; ++i) palette.push_back({entries[i].red, entries[i].green, entries[i].blue});
    } else {
      palette = GreyPalette(1u << std::min(depth, 8));
    }
    const unsigned bits = depth == 1 ? 1 : (depth <= 4 ? 4 : 8);
    state->image = PackIndexes(width, height, bits, state->rows);
    if (state->image) state->image->palette = std::move(palette);
  } else {
    state->image = Image::Blank(width, height, 24);
    if (state->image) {
      for (png_uint_32 y = 0; y < height; ++y) {
        std::memcpy(state->image->Row(y).data(), state->rowPointers[y], std::size_t{width} * 3);
      }
    }
  }
  png_destroy_read_struct(&png, &info, nullptr);
  return std::move(state->image);
}

}  // namespace velmora::platform::posix
