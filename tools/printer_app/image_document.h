// PNG and JPEG images sent to a printer, made into a PDF document of one grey page so that
// they print through the same document path as PDF and PostScript documents. The picture's
// size is read from its header and checked against a pixel budget before anything of it
// is decoded, so that a hostile file never makes the application allocate for it.
#pragma once

#include <cstdint>
#include <string>

namespace velmora::printer_app {

// The page an image is fitted into, in points.
struct ImagePage {
  double widthPoints = 0;
  double heightPoints = 0;
};

// The most pixels an image of a job may have unless the caller gives another budget.
inline constexpr std::uint64_t kDefaultPixelBudget = 200'000'000;

// Why a picture of `width` × `height` pixels is refused ("the image is 30000 × 30000
// pixels (900 megapixels), more than the 200 megapixels a job may have", `what` being "the
// image"), or an empty string when it is within `pixelBudget`. Raster pages are held to
// the same budget as images.
std::string PixelBudgetProblem(const std::string& what, std::uint64_t width, std::uint64_t height,
                               std::uint64_t pixelBudget = kDefaultPixelBudget);

// Writes the PNG or JPEG image at `imagePath` (in) as a PDF document of one page at
// `pdfPath` (out). The page has the image's aspect ratio and is as large as fits inside
// `page`; the image is printed in grey. Returns an empty string on success, otherwise the
// reason, and then no document of it is left at `pdfPath`.
std::string ImageToDocument(const std::string& imagePath, const std::string& pdfPath, const ImagePage& page,
                            std::uint64_t pixelBudget = kDefaultPixelBudget);

}  // namespace velmora::printer_app
