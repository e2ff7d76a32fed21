// Image files: each format decoded into the pixel format the watermark streams expect,
// our bitmap writer read back, quarter turns and unique temporary copies.
#include "platform/image.h"

#include <gif_lib.h>
#include <gtest/gtest.h>
#include <png.h>
#include <tiffio.h>

#include <sys/resource.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>
// jpeglib.h needs size_t and FILE declared before it.
#include <jpeglib.h>

#include "platform/posix/image_codecs.h"
#include "platform/text_encoding.h"
#include "tests/fakes/image_writers.h"

namespace velmora::platform {
namespace {

using Bytes = std::vector<std::uint8_t>;

Image Make(std::uint32_t width, std::uint32_t height, unsigned bits, Bytes pixels, std::vector<Rgb> palette = {}) {
  Image image = *Image::Blank(width, height, bits);
  EXPECT_EQ(pixels.size(), image.pixels.size());
  image.pixels = std::move(pixels);
  image.palette = std::move(palette);
  return image;
}

void ExpectSame(const Image& actual, const Image& expected) {
  EXPECT_EQ(actual.width, expected.width);
  EXPECT_EQ(actual.height, expected.height);
  EXPECT_EQ(actual.bitsPerPixel, expected.bitsPerPixel);
  EXPECT_EQ(actual.stride, expected.stride);
  EXPECT_EQ(actual.palette, expected.palette);
  EXPECT_EQ(actual.pixels, expected.pixels);
}

TEST(ImageBmp, OurBitmapsReadBackInTheirOwnFormat) {
  const std::vector<std::pair<const char*, Image>> cases = {
      {"1 bit", Make(3, 2, 1, {0xA0, 0, 0, 0, 0x40, 0, 0, 0}, {{0, 0, 0}, {255, 255, 255}})},
      {"4 bits", Make(3, 1, 4, {0x12, 0x30, 0, 0}, {{0, 0, 0}, {255, 0, 0}, {0, 255, 0}, {0, 0, 255}})},
      {"8 bits", Make(2, 2, 8, {1, 0, 0, 0, 0, 1, 0, 0}, {{10, 20, 30}, {40, 50, 60}})},
      {"16 bits", Make(1, 1, 16, {0x1F, 0x80, 0, 0})},
      {"24 bits", Make(2, 1, 24, {1, 2, 3, 4, 5, 6, 0, 0})},
  };
  for (const auto& [name, image] : cases) {
    SCOPED_TRACE(name);
    const std::optional<Image> read = posix::DecodeBmp(posix::EncodeBmp(image));
    ASSERT_TRUE(read.has_value());
    ExpectSame(*read, image);
  }
}

TEST(ImageBmp, ReadsFilesWrittenByOthersAndRefusesBrokenOnes) {
  // A 2 x 2 bitmap of 16-bit 5-5-5 pixels without alpha, bottom row first: red, green
  // below blue, white. It is read as 24-bit RGB.
  Bytes file = {'B',  'M',  70,   0,   0, 0, 0, 0, 0,  0, 54, 0, 0, 0, 40,   0,    0,    0,    2, 0,
                0,    0,    2,    0,   0, 0, 1, 0, 16, 0, 0,  0, 0, 0, 8,    0,    0,    0,    0, 0,
                0,    0,    0,    0,   0, 0, 0, 0, 0,  0, 0,  0, 0, 0, 0x00, 0x7C, 0xE0, 0x03,  // bottom: red, green
                0x1F, 0x00, 0xFF, 0x7F};                                                        // top: blue, white
  const std::optional<Image> image = posix::DecodeBmp(file);
  ASSERT_TRUE(image.has_value());
  ExpectSame(*image, Make(2, 2, 24, {255, 0, 0, 255, 255, 255, 0, 0, 0, 0, 255, 0, 255, 0, 0, 0}));

  Bytes truncated(file.begin(), file.end() - 1);
  EXPECT_FALSE(posix::DecodeBmp(truncated).has_value());
  Bytes hugeWidth = file;
  hugeWidth[18 + 3] = 0x7F;
  EXPECT_FALSE(posix::DecodeBmp(hugeWidth).has_value());
  EXPECT_FALSE(posix::DecodeBmp(Bytes{'B', 'M', 0}).has_value());
}

using testing::WritePng;

TEST(ImagePng, PixelFormatsFollowThePicture) {
  // Grey stays indexed with a grey palette.
  std::optional<Image> grey = posix::DecodeImage(WritePng(3, 1, 8, PNG_COLOR_TYPE_GRAY, {0, 128, 255}));
  ASSERT_TRUE(grey.has_value());
  EXPECT_EQ(grey->bitsPerPixel, 8);
  EXPECT_EQ(grey->palette.size(), 256u);
  EXPECT_EQ(grey->pixels, (Bytes{0, 128, 255, 0}));
  // 16-bit grey too, at the high byte of each sample, as GDI+ reads it.
  std::optional<Image> deepGrey =
      posix::DecodeImage(WritePng(3, 1, 16, PNG_COLOR_TYPE_GRAY, {0x00, 0xFF, 0x80, 0x7F, 0xFF, 0x00}));
  ASSERT_TRUE(deepGrey.has_value());
  EXPECT_EQ(deepGrey->bitsPerPixel, 8);
  EXPECT_EQ(deepGrey->palette.size(), 256u);
  EXPECT_EQ(deepGrey->pixels, (Bytes{0, 128, 255, 0}));

  // 2-bit palette pictures become 4-bit ones with the same palette.
  const std::vector<png_color> palette = {{0, 0, 0}, {255, 0, 0}, {0, 255, 0}};
  std::optional<Image> indexed = posix::DecodeImage(WritePng(3, 1, 2, PNG_COLOR_TYPE_PALETTE, {0x24}, palette));
  ASSERT_TRUE(indexed.has_value());
  ExpectSame(*indexed, Make(3, 1, 4, {0x02, 0x10, 0, 0}, {{0, 0, 0}, {255, 0, 0}, {0, 255, 0}}));

  // 64 bits per pixel: read as 24-bit RGB, alpha dropped, blue first.
  std::optional<Image> deep = posix::DecodeImage(
      WritePng(1, 1, 16, PNG_COLOR_TYPE_RGB_ALPHA, {0xFF, 0xFF, 0x80, 0x00, 0x00, 0x00, 0x12, 0x34}));
  ASSERT_TRUE(deep.has_value());
  ExpectSame(*deep, Make(1, 1, 24, {0x00, 0x80, 0xFF, 0}));

  Bytes broken = WritePng(3, 1, 8, PNG_COLOR_TYPE_GRAY, {0, 128, 255});
  broken.resize(broken.size() - 20);
  EXPECT_FALSE(posix::DecodeImage(broken).has_value());
}

// An 8 × 8 JPEG of a flat picture of 200, written with libjpeg.
Bytes WriteJpeg(bool colour, bool progressive = false) {
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
  jpeg_set_quality(&info, 100, TRUE);
  if (progressive) jpeg_simple_progression(&info);
  jpeg_start_compress(&info, TRUE);
  Bytes row(8 * static_cast<std::size_t>(info.input_components), 200);
  while (info.next_scanline < 8) {
    JSAMPROW pointer = row.data();
    jpeg_write_scanlines(&info, &pointer, 1);
  }
  jpeg_finish_compress(&info);
  jpeg_destroy_compress(&info);
  const Bytes file(buffer, buffer + size);
  std::free(buffer);
  return file;
}

TEST(ImageJpeg, GreyPicturesAreIndexedAndColourPicturesRgb) {
  for (const bool colour : {false, true}) {
    SCOPED_TRACE(colour ? "colour" : "grey");
    // A flat picture survives the compression almost exactly.
    const std::optional<Image> image = posix::DecodeImage(WriteJpeg(colour));
    ASSERT_TRUE(image.has_value());
    EXPECT_EQ(image->width, 8u);
    EXPECT_EQ(image->bitsPerPixel, colour ? 24 : 8);
    EXPECT_EQ(image->palette.size(), colour ? 0u : 256u);
    EXPECT_NEAR(image->pixels[0], 200, 2);
  }
}

TEST(ImageJpeg, AFrameOverTheLimitIsRefusedBeforeTheDecoderAllocatesForIt) {
  // A progressive picture whose frame header claims 20000 × 20000 pixels: libjpeg would
  // keep 2 bytes of coefficients a pixel, 800 MB, for a file of a few hundred bytes.
  Bytes file = WriteJpeg(false, true);
  constexpr std::array<std::uint8_t, 2> kSof2 = {0xFF, 0xC2};
  const auto frame = std::search(file.begin(), file.end(), kSof2.begin(), kSof2.end());
  ASSERT_NE(frame, file.end());
  const std::size_t height = static_cast<std::size_t>(frame - file.begin()) + 5;
  for (std::size_t at : {height, height + 2}) {
    file[at] = 20000 >> 8;
    file[at + 1] = 20000 & 0xFF;
  }
  rusage before{};
  getrusage(RUSAGE_SELF, &before);
  EXPECT_FALSE(posix::DecodeJpeg(file).has_value());
  rusage after{};
  getrusage(RUSAGE_SELF, &after);
  EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 100 * 1024) << "kilobytes more at the peak";
}

TEST(ImageGif, FirstPictureIsIndexedOnItsScreen) {
  Bytes file;
  int error = 0;
  GifFileType* gif = EGifOpen(
      &file,
      [](GifFileType* g, const GifByteType* data, int length) {
        auto* target = static_cast<Bytes*>(g->UserData);
        target->insert(target->end(), data, data + length);
        return length;
      },
      &error);
  ASSERT_NE(gif, nullptr);
  GifColorType colours[4] = {{0, 0, 0}, {255, 0, 0}, {0, 255, 0}, {0, 0, 255}};
  ColorMapObject* map = GifMakeMapObject(4, colours);
  EGifPutScreenDesc(gif, 3, 2, 2, 0, map);
  EGifPutImageDesc(gif, 0, 0, 3, 2, false, nullptr);
  GifPixelType rows[2][3] = {{1, 2, 3}, {3, 2, 1}};
  EGifPutLine(gif, rows[0], 3);
  EGifPutLine(gif, rows[1], 3);
  EGifCloseFile(gif, &error);
  GifFreeMapObject(map);

  const std::optional<Image> image = posix::DecodeImage(file);
  ASSERT_TRUE(image.has_value());
  ExpectSame(*image, Make(3, 2, 8, {1, 2, 3, 0, 3, 2, 1, 0}, {{0, 0, 0}, {255, 0, 0}, {0, 255, 0}, {0, 0, 255}}));
}

Bytes ReadFileBytes(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  Bytes bytes;
  int c;
  while ((c = std::fgetc(file)) != EOF) bytes.push_back(static_cast<std::uint8_t>(c));
  std::fclose(file);
  return bytes;
}

TEST(ImageTiff, PaletteImagesStayIndexedAndOthersBecomeRgb) {
  const std::string path = ::testing::TempDir() + "image_test_palette.tif";
  TIFF* tiff = TIFFOpen(path.c_str(), "w");
  ASSERT_NE(tiff, nullptr);
  TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, 2);
  TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, 1);
  TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 8);
  TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, 1);
  TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_PALETTE);
  TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  std::vector<std::uint16_t> red(256, 0), green(256, 0), blue(256, 0);
  red[1] = 0xFFFF;
  blue[2] = 0x8000;
  TIFFSetField(tiff, TIFFTAG_COLORMAP, red.data(), green.data(), blue.data());
  std::uint8_t row[2] = {2, 1};
  TIFFWriteScanline(tiff, row, 0, 0);
  TIFFClose(tiff);

  const std::optional<Image> image = posix::DecodeImage(ReadFileBytes(path));
  std::remove(path.c_str());
  ASSERT_TRUE(image.has_value());
  EXPECT_EQ(image->bitsPerPixel, 8);
  ASSERT_EQ(image->palette.size(), 256u);
  EXPECT_EQ(image->palette[1], (Rgb{255, 0, 0}));
  EXPECT_EQ(image->palette[2], (Rgb{0, 0, 128}));
  EXPECT_EQ(image->pixels, (Bytes{2, 1, 0, 0}));
}

TEST(ImageTurn, AQuarterTurnCounterClockwiseKeepsTheFormat) {
  // 3 x 2:  1 2 3     turned 2 x 3:  3 6
  //         4 5 6                    2 5
  //                                  1 4
  const Image eight = Make(3, 2, 8, {1, 2, 3, 0, 4, 5, 6, 0}, {{1, 1, 1}});
  ExpectSame(TurnQuarterCounterClockwise(eight), Make(2, 3, 8, {3, 6, 0, 0, 2, 5, 0, 0, 1, 4, 0, 0}, {{1, 1, 1}}));

  // 1 bit, 3 x 1: 1 0 1 becomes a column of three.
  const Image one = Make(3, 1, 1, {0xA0, 0, 0, 0});
  ExpectSame(TurnQuarterCounterClockwise(one), Make(1, 3, 1, {0x80, 0, 0, 0, 0x00, 0, 0, 0, 0x80, 0, 0, 0}));

  const Image rgb = Make(2, 1, 24, {1, 2, 3, 4, 5, 6, 0, 0});
  ExpectSame(TurnQuarterCounterClockwise(rgb), Make(1, 2, 24, {4, 5, 6, 0, 1, 2, 3, 0}));
}

TEST(ImageFiles, TurnedCopiesGoToUniqueTemporaryFiles) {
  const std::optional<WString> first = CreateUniqueTempFile(VTEXT(".bmp"));
  const std::optional<WString> second = CreateUniqueTempFile(VTEXT(".bmp"));
  ASSERT_TRUE(first.has_value());
  ASSERT_TRUE(second.has_value());
  EXPECT_NE(*first, *second);

  const Image source = Make(3, 2, 8, {1, 2, 3, 0, 4, 5, 6, 0}, {{9, 9, 9}});
  const Bytes bitmap = posix::EncodeBmp(source);
  std::FILE* file = std::fopen(Utf16ToUtf8(*first).c_str(), "wb");
  ASSERT_NE(file, nullptr);
  std::fwrite(bitmap.data(), 1, bitmap.size(), file);
  std::fclose(file);

  ASSERT_TRUE(SaveTurnedCopy(*first, *second));
  const std::optional<Image> turned = LoadImageFile(*second);
  ASSERT_TRUE(turned.has_value());
  ExpectSame(*turned, TurnQuarterCounterClockwise(source));

  EXPECT_TRUE(RemoveFileW(*first));
  EXPECT_TRUE(RemoveFileW(*second));
  EXPECT_FALSE(LoadImageFile(*first).has_value());
  EXPECT_FALSE(SaveTurnedCopy(*first, *second));
}

}  // namespace
}  // namespace velmora::platform
