// Fuzz target: each image loader path with an arbitrary file: the first byte picks the
// decoder (by the file's own first bytes, or PNG, JPEG, GIF, TIFF, BMP directly), or the
// whole loader from a file on disk.
// jpeglib.h needs FILE declared before it.
#include <cstdio>

#include <gif_lib.h>
#include <jpeglib.h>
#include <png.h>
#include <tiffio.h>

#include <cstdlib>
#include <fstream>
#include <iterator>

#include "formats/text.h"
#include "fuzz/fuzz_target.h"
#include "fuzz/image_checks.h"
#include "platform/posix/image_codecs.h"
#include "platform/text_encoding.h"

namespace velmora::fuzz {
namespace {

using platform::Image;
namespace posix = platform::posix;

void Entry(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return;
  const std::span<const std::uint8_t> file(data + 1, size - 1);
  std::optional<Image> image;
  switch (data[0] % 7) {
    case 0: image = posix::DecodeImage(file); break;
    case 1: image = posix::DecodePng(file); break;
    case 2: image = posix::DecodeJpeg(file); break;
    case 3: image = posix::DecodeGif(file); break;
    case 4: image = posix::DecodeTiff(file); break;
    case 5: image = posix::DecodeBmp(file); break;
    default:
      image = platform::LoadImageFile(platform::Utf8ToUtf16(WriteScratchFile("image", file.data(), file.size())));
  }
  if (image) CheckImage(*image);
}

using Bytes = std::vector<std::uint8_t>;

Bytes Png() {
  Bytes out;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  png_set_write_fn(
      png, &out,
      [](png_structp p, png_bytep bytes, png_size_t length) {
        auto* target = static_cast<Bytes*>(png_get_io_ptr(p));
        target->insert(target->end(), bytes, bytes + length);
      },
      nullptr);
  const png_color palette[3] = {{0, 0, 0}, {255, 0, 0}, {0, 255, 0}};
  png_set_IHDR(png, info, 3, 2, 2, PNG_COLOR_TYPE_PALETTE, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  png_set_PLTE(png, info, palette, 3);
  png_write_info(png, info);
  std::uint8_t rows[2] = {0x24, 0x90};
  for (auto& row : rows) png_write_row(png, &row);
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  return out;
}

Bytes Jpeg(bool colour) {
  jpeg_compress_struct info{};
  jpeg_error_mgr errors{};
  info.err = jpeg_std_error(&errors);
  jpeg_create_compress(&info);
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&info, &buffer, &size);
  info.image_width = 8;
  info.image_height = 8;
  info.input_components = colour ? 3 : 1;
  info.in_color_space = colour ? JCS_RGB : JCS_GRAYSCALE;
  jpeg_set_defaults(&info);
  jpeg_start_compress(&info, TRUE);
  Bytes row(8 * static_cast<std::size_t>(info.input_components), 200);
  while (info.next_scanline < 8) {
    JSAMPROW pointer = row.data();
    jpeg_write_scanlines(&info, &pointer, 1);
  }
  jpeg_finish_compress(&info);
  jpeg_destroy_compress(&info);
  Bytes file(buffer, buffer + size);
  std::free(buffer);
  return file;
}

Bytes Gif() {
  Bytes file;
  int error = 0;
  GifFileType* gif = EGifOpen(
      &file,
      [](GifFileType* g, const GifByteType* bytes, int length) {
        auto* target = static_cast<Bytes*>(g->UserData);
        target->insert(target->end(), bytes, bytes + length);
        return length;
      },
      &error);
  GifColorType colours[4] = {{0, 0, 0}, {255, 0, 0}, {0, 255, 0}, {0, 0, 255}};
  ColorMapObject* map = GifMakeMapObject(4, colours);
  EGifPutScreenDesc(gif, 3, 2, 2, 0, map);
  EGifPutImageDesc(gif, 0, 0, 3, 2, false, nullptr);
  GifPixelType rows[2][3] = {{1, 2, 3}, {3, 2, 1}};
  EGifPutLine(gif, rows[0], 3);
  EGifPutLine(gif, rows[1], 3);
  EGifCloseFile(gif, &error);
  GifFreeMapObject(map);
  return file;
}

Bytes Tiff(bool palette) {
  const std::string path = ScratchFolder() + "/seed.tif";
  TIFF* tiff = TIFFOpen(path.c_str(), "w");
  TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, 2);
  TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, 1);
  TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 8);
  TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, palette ? 1 : 3);
  TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, palette ? PHOTOMETRIC_PALETTE : PHOTOMETRIC_RGB);
  TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  std::vector<std::uint16_t> red(256, 0), green(256, 0), blue(256, 0);
  red[1] = 0xFFFF;
  if (palette) TIFFSetField(tiff, TIFFTAG_COLORMAP, red.data(), green.data(), blue.data());
  std::uint8_t row[6] = {2, 1, 3, 4, 5, 6};
  TIFFWriteScanline(tiff, row, 0, 0);
  TIFFClose(tiff);
  std::ifstream in(path, std::ios::binary);
  Bytes file{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  std::remove(path.c_str());
  return file;
}

Bytes Picked(std::uint8_t path, Bytes file) {
  file.insert(file.begin(), path);
  return file;
}

std::vector<Seed> Seeds() {
  auto bmp = Image::Blank(4, 2, 8);
  bmp->palette = posix::GreyPalette(256);
  return {
      {"png", Picked(1, Png())},
      {"jpeg-grey", Picked(2, Jpeg(false))},
      {"jpeg-colour", Picked(2, Jpeg(true))},
      {"gif", Picked(3, Gif())},
      {"tiff-palette", Picked(4, Tiff(true))},
      {"tiff-rgb", Picked(4, Tiff(false))},
      {"bmp", Picked(5, posix::EncodeBmp(*bmp))},
      {"any-png", Picked(0, Png())},
      {"file-gif", Picked(6, Gif())},
  };
}

VELMORA_FUZZ_TARGET(image_loaders, Entry, Seeds);

}  // namespace
}  // namespace velmora::fuzz
