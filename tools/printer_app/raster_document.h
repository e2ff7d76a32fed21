// Raster pages (PWG raster, Apple raster, and the JPEG and PNG images PAPPL decodes) kept
// as a PDF document of one grey-scale image a page, so that they print through the same
// document path as PDF and PostScript documents.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace velmora::printer_app {

// The layout of one raster page as the raster header gives it.
struct RasterPage {
  unsigned width = 0;         // pixels a line
  unsigned height = 0;        // lines
  unsigned bitsPerPixel = 8;  // 1 (black is 1), 8 (grey, 0 black) or 24 (RGB)
  unsigned bytesPerLine = 0;
  double widthPoints = 0;  // the page's size in points
  double heightPoints = 0;
};

class RasterDocument {
 public:
  // Creates the document at `path`; throws std::runtime_error naming the file and the cause.
  explicit RasterDocument(std::string path);
  ~RasterDocument();
  RasterDocument(const RasterDocument&) = delete;
  RasterDocument& operator=(const RasterDocument&) = delete;

  void StartPage(const RasterPage& page);
  // One line of `page.bytesPerLine` bytes; shorter lines are padded with white.
  void WriteLine(std::span<const std::uint8_t> line);
  void EndPage();
  // Writes the trailer and closes the file; throws when a write failed.
  void Finish();

  const std::string& path() const { return path_; }
  unsigned pages() const { return pages_; }

 private:
  void Write(const void* data, std::size_t size);
  void Write(const std::string& text) { Write(text.data(), text.size()); }
  // Starts indirect object `number` at the current offset.
  void BeginObject(unsigned number);

  std::string path_;
  std::FILE* file_ = nullptr;
  RasterPage page_;
  unsigned linesWritten_ = 0;
  unsigned pages_ = 0;
  bool failed_ = false;
  std::vector<std::uint8_t> grey_;
  std::vector<std::uint8_t> encoded_;
  std::vector<long> offsets_;          // by object number; 0 and the page tree are filled last
  std::vector<unsigned> pageObjects_;  // the page objects, in order
  long offset_ = 0;
};

// Run-length encodes `data` in the RunLengthDecode form (no end marker).
void EncodeRunLength(std::span<const std::uint8_t> data, std::vector<std::uint8_t>& out);

}  // namespace velmora::printer_app
