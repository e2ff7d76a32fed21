// PNG and JPEG images as one-page PDF documents: the size from the header, checked against
// the pixel budget, then the platform's decoder and the raster document writer.
#include "tools/printer_app/image_document.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <vector>

#include "platform/image.h"
#include "platform/text_encoding.h"
#include "tools/printer_app/raster_document.h"

namespace velmora::printer_app {
namespace {

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using InputFile = std::unique_ptr<std::FILE, FileCloser>;

struct PixelSize {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
};

constexpr char kTruncated[] = "the image ends before its size is given";
constexpr std::uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

// Both formats store their sizes most significant byte first.
std::uint32_t BigEndian(std::span<const std::uint8_t> bytes) {
  std::uint32_t value = 0;
  for (std::uint8_t byte : bytes) value = value << 8 | byte;
  return value;
}

// Reads exactly `bytes.size()` bytes; false when the file ends first.
bool Read(std::FILE* file, std::span<std::uint8_t> bytes) {
  return std::fread(bytes.data(), 1, bytes.size(), file) == bytes.size();
}

// PNG, after its signature: the first chunk must be the 13-byte IHDR, whose data begins
// with the width and the height.
std::string ReadPngSize(std::FILE* file, PixelSize& size) {
  std::uint8_t chunk[16];  // length, type, width, height
  if (!Read(file, chunk)) return kTruncated;
  if (BigEndian({chunk, 4}) != 13 || std::memcmp(chunk + 4, "IHDR", 4) != 0) {
    return "the PNG image is damaged before its size is given";
  }
  size = {BigEndian({chunk + 8, 4}), BigEndian({chunk + 12, 4})};
  return {};
}

// The next JPEG marker, found as libjpeg finds it: bytes before an 0xFF are skipped, fill
// bytes of 0xFF repeat, and 0xFF 0x00 is no marker. EOF at the end of the file.
int NextJpegMarker(std::FILE* file) {
  for (;;) {
    int byte = std::fgetc(file);
    while (byte != 0xFF && byte != EOF) byte = std::fgetc(file);
    do byte = std::fgetc(file);
    while (byte == 0xFF);
    if (byte != 0) return byte;
  }
}

// SOF0 to SOF15 start a frame; DHT, JPG and DAC share their range but are tables.
bool IsStartOfFrame(int marker) {
  return marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
}

// JPEG, after its SOI marker: segments are skipped by their lengths up to the first frame
// header, which gives the precision, the height and the width. The decoder takes the
// same frame header: it refuses a second one, and a scan or the end before the first.
std::string ReadJpegSize(std::FILE* file, PixelSize& size) {
  constexpr char kDamaged[] = "the JPEG image is damaged before its size is given";
  for (;;) {
    const int marker = NextJpegMarker(file);
    if (marker == EOF) return kTruncated;
    if ((marker >= 0xD0 && marker <= 0xD7) || marker == 0x01) continue;       // RSTn and TEM have no length
    if (marker == 0xD8 || marker == 0xD9 || marker == 0xDA) return kDamaged;  // SOI, EOI, SOS
    std::uint8_t length[2];
    if (!Read(file, length)) return kTruncated;
    const std::uint32_t segmentLength = BigEndian(length);  // counts its own two bytes
    if (segmentLength < 2) return kDamaged;
    if (IsStartOfFrame(marker)) {
      std::uint8_t frame[5];  // precision, height, width
      if (segmentLength < 2 + sizeof(frame)) return kDamaged;
      if (!Read(file, frame)) return kTruncated;
      size = {BigEndian({frame + 3, 2}), BigEndian({frame + 1, 2})};
      return {};
    }
    // A length past the end leaves the next read at the end of the file.
    if (std::fseek(file, static_cast<long>(segmentLength - 2), SEEK_CUR) != 0) return kTruncated;
  }
}

// `pixels` in megapixels to a tenth, rounded up or down, without a trailing ".0".
std::string Megapixels(std::uint64_t pixels, bool roundUp) {
  const std::uint64_t tenths = roundUp ? (pixels + 99'999) / 100'000 : pixels / 100'000;
  std::string text = std::to_string(tenths / 10);
  if (tenths % 10 != 0) text += "." + std::to_string(tenths % 10);
  return text;
}

// Row `y` of `image` as RGB bytes, red first. The decoders of PNG and JPEG give indexed
// images of 1, 4 or 8 bits and 24-bit images (blue first).
void RgbLine(const platform::Image& image, std::uint32_t y, std::vector<std::uint8_t>& line) {
  const std::span<const std::uint8_t> row = image.Row(y);
  const unsigned bits = image.bitsPerPixel;
  for (std::uint32_t x = 0; x < image.width; ++x) {
    platform::Rgb colour;
    if (bits == 24) {
      colour = {row[3 * x + 2], row[3 * x + 1], row[3 * x]};
    } else {
      const std::size_t bit = std::size_t{x} * bits;
      const unsigned index = (row[bit / 8] >> (8 - bits - bit % 8)) & ((1u << bits) - 1);
      // An index past the palette is black.
      if (index < image.palette.size()) colour = image.palette[index];
    }
    line[3 * x] = colour.red;
    line[3 * x + 1] = colour.green;
    line[3 * x + 2] = colour.blue;
  }
}

// Writes `image` as the one page of a new document at `pdfPath`; the reason on failure.
std::string WriteDocument(const platform::Image& image, const std::string& pdfPath, const ImagePage& page) {
  const double scale = std::min(page.widthPoints / image.width, page.heightPoints / image.height);
  RasterPage raster;
  raster.width = image.width;
  raster.height = image.height;
  raster.bitsPerPixel = 24;
  raster.bytesPerLine = image.width * 3;
  raster.widthPoints = image.width * scale;
  raster.heightPoints = image.height * scale;

  std::optional<RasterDocument> document;
  try {
    document.emplace(pdfPath);
  } catch (const std::runtime_error& error) {
    return error.what();  // nothing was created
  }
  try {
    document->StartPage(raster);
    std::vector<std::uint8_t> line(raster.bytesPerLine);
    for (std::uint32_t y = 0; y < image.height; ++y) {
      RgbLine(image, y, line);
      document->WriteLine(line);
    }
    document->EndPage();
    document->Finish();
  } catch (const std::runtime_error& error) {
    document.reset();
    std::remove(pdfPath.c_str());
    return error.what();
  }
  return {};
}

}  // namespace

std::string PixelBudgetProblem(const std::string& what, std::uint64_t width, std::uint64_t height,
                               std::uint64_t pixelBudget) {
  const std::uint64_t pixels = width * height;  // each at most 2^32 - 1
  if (pixels <= pixelBudget) return {};
  // The picture's figure is rounded up and the budget's down, so that they never read the same.
  return what + " is " + std::to_string(width) + " × " + std::to_string(height) + " pixels (" +
         Megapixels(pixels, true) + " megapixels), more than the " + Megapixels(pixelBudget, false) +
         " megapixels a job may have";
}

std::string ImageToDocument(const std::string& imagePath, const std::string& pdfPath, const ImagePage& page,
                            std::uint64_t pixelBudget) {
  if (!(page.widthPoints > 0 && page.heightPoints > 0)) return "the page to fit the image into has no size";

  PixelSize size;
  const char* format = nullptr;
  {
    const InputFile file(std::fopen(imagePath.c_str(), "rb"));
    if (!file) return "Unable to open '" + imagePath + "': " + std::strerror(errno);
    std::uint8_t signature[sizeof(kPngSignature)] = {};
    std::string reason;
    if (Read(file.get(), {signature, 2}) && signature[0] == 0xFF && signature[1] == 0xD8) {
      format = "JPEG";
      reason = ReadJpegSize(file.get(), size);
    } else if (Read(file.get(), {signature + 2, sizeof(signature) - 2}) &&
               std::memcmp(signature, kPngSignature, sizeof(signature)) == 0) {
      format = "PNG";
      reason = ReadPngSize(file.get(), size);
    } else {
      return "not a PNG or JPEG image";
    }
    if (!reason.empty()) return reason;
  }
  if (std::string problem = PixelBudgetProblem("the image", size.width, size.height, pixelBudget); !problem.empty()) {
    return problem;
  }

  const std::optional<platform::Image> image = platform::LoadImageFile(platform::Utf8ToUtf16(imagePath));
  if (!image || image->width == 0 || image->height == 0) {
    return std::string("the ") + format + " image cannot be decoded";
  }
  const unsigned bits = image->bitsPerPixel;
  if (bits != 1 && bits != 4 && bits != 8 && bits != 24) {
    return "the image's pixel format (" + std::to_string(bits) + " bits) is not supported";
  }
  return WriteDocument(*image, pdfPath, page);
}

}  // namespace velmora::printer_app
