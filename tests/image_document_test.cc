// Images sent to the printer application: a picture becomes a PDF page of its own aspect
// ratio, and a picture too large, cut short or of another kind is refused from its header,
// leaving no document behind.
#include "tools/printer_app/image_document.h"
#include "tests/fakes/image_writers.h"

#include <gtest/gtest.h>
#include <png.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>
// jpeglib.h needs size_t and FILE declared before it.
#include <jpeglib.h>

namespace velmora::printer_app {
namespace {

using Bytes = std::vector<std::uint8_t>;

// An RGB PNG of `width` × `height` mid-grey pixels.
Bytes Png(std::uint32_t width, std::uint32_t height) {
  return testing::WritePng(width, height, 8, PNG_COLOR_TYPE_RGB, Bytes(std::size_t{width} * 3 * height, 128));
}

// A grey JPEG of `width` × `height` pixels, as libjpeg writes it: SOI, APP0, DQT, SOF0, ...
Bytes Jpeg(std::uint32_t width, std::uint32_t height) {
  jpeg_compress_struct info{};
  jpeg_error_mgr errors{};
  info.err = jpeg_std_error(&errors);
  jpeg_create_compress(&info);
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&info, &buffer, &size);
  info.image_width = width;
  info.image_height = height;
  info.input_components = 1;
  info.in_color_space = JCS_GRAYSCALE;
  jpeg_set_defaults(&info);
  jpeg_start_compress(&info, TRUE);
  Bytes row(width, 200);
  while (info.next_scanline < height) {
    JSAMPROW pointer = row.data();
    jpeg_write_scanlines(&info, &pointer, 1);
  }
  jpeg_finish_compress(&info);
  jpeg_destroy_compress(&info);
  Bytes file(buffer, buffer + size);
  std::free(buffer);
  return file;
}

Bytes Cut(Bytes file, std::size_t size) {
  file.resize(size);
  return file;
}

constexpr char kTooLarge[] =
    "the image is 30000 × 30000 pixels (900 megapixels), more than the 200 megapixels a job may have";

TEST(ImageDocument, PicturesBecomeOnePageAndOthersAreRefusedFromTheirHeader) {
  const Bytes png = Png(40, 20);
  struct Case {
    const char* name;
    Bytes file;
    std::string reason;         // empty when the image prints
    std::string mediaBox = {};  // of the page printed: the image fitted into A4
  };
  const std::vector<Case> cases = {
      {"landscape PNG", png, "", "/MediaBox [0 0 595.00 297.50]"},
      {"portrait JPEG", Jpeg(20, 40), "", "/MediaBox [0 0 421.00 842.00]"},
      {"PNG header of 30000 × 30000 and no data",
       {0x89, 'P',  'N',  'G', '\r', '\n', 0x1A, '\n', 0, 0, 0, 13, 'I', 'H', 'D', 'R', 0,
        0,    0x75, 0x30, 0,   0,    0x75, 0x30, 8,    2, 0, 0, 0,  0,   0,   0,   0},
       kTooLarge},
      {"JPEG frame header of 30000 × 30000 after fill bytes and an APP0",
       {0xFF, 0xD8, 0xFF, 0xFF, 0xE0, 0, 4, 0, 0, 0xFF, 0xC0, 0, 11, 8, 0x75, 0x30, 0x75, 0x30, 1, 1, 0x11, 0},
       kTooLarge},
      {"JPEG cut in its tables", Cut(Jpeg(20, 40), 40), "the image ends before its size is given"},
      {"PNG cut in its header", Cut(png, 20), "the image ends before its size is given"},
      {"PNG cut in its pixels", Cut(png, png.size() - 20), "the PNG image cannot be decoded"},
      {"text", {'%', '!', 'P', 'S', '\n', 's', 'h', 'o', 'w', 'p', 'a', 'g', 'e', '\n'}, "not a PNG or JPEG image"},
  };
  const std::string image = ::testing::TempDir() + "image_document_test.image";
  const std::string pdf = ::testing::TempDir() + "image_document_test.pdf";
  for (const Case& test : cases) {
    SCOPED_TRACE(test.name);
    std::filesystem::remove(pdf);
    std::ofstream(image, std::ios::binary).write(reinterpret_cast<const char*>(test.file.data()), test.file.size());

    EXPECT_EQ(ImageToDocument(image, pdf, ImagePage{595, 842}), test.reason);
    if (!test.reason.empty()) {
      EXPECT_FALSE(std::filesystem::exists(pdf));
      continue;
    }
    std::ifstream in(pdf, std::ios::binary);
    const std::string document{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    EXPECT_EQ(document.rfind("%PDF-", 0), 0u);
    EXPECT_NE(document.find("/Count 1 "), std::string::npos);
    EXPECT_NE(document.find(test.mediaBox), std::string::npos);
  }
  std::filesystem::remove(image);
  std::filesystem::remove(pdf);
}

}  // namespace
}  // namespace velmora::printer_app
