// What the host prints: a source of pages, each drawn on a canvas whose calls reach the
// printer through the plug-in's hooks and the host's own drawing functions.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "src/frame/host_interface.h"

namespace velmora::host {

// An 8-bit grey-scale image, rows top to bottom, `width` bytes per row (0 black, 255 white).
struct GrayImage {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> pixels;
};

// A colour as the graphics engine names it: 0x00BBGGRR.
using Color = std::uint32_t;
constexpr Color Rgb(std::uint8_t r, std::uint8_t g, std::uint8_t b) {
  return static_cast<Color>(r) | (static_cast<Color>(g) << 8) | (static_cast<Color>(b) << 16);
}

// Coordinates are device dots from the top left corner of the printable area.
class Canvas {
 public:
  virtual ~Canvas() = default;
  // The printable area in dots and the resolution in dots per inch.
  virtual SIZEL PageSize() const = 0;
  virtual int Resolution() const = 0;
  // A rectangle filled with a solid brush (a bit-block transfer of the brush).
  virtual void FillRect(const RECTL& rect, Color color) = 0;
  // An image stretched into the rectangle.
  virtual void DrawImage(const GrayImage& image, const RECTL& dest) = 0;
  // A one-dot line.
  virtual void DrawLine(POINTL from, POINTL to, Color color) = 0;
};

class PageSource {
 public:
  virtual ~PageSource() = default;
  virtual std::size_t PageCount() const = 0;
  // Draws page `page` (1-based).
  virtual void DrawPage(std::size_t page, Canvas& canvas) = 0;
};

// The built-in sample document: `pages` pages of rules, boxes, a large page number and a
// grey-scale ramp, drawn without fonts.
std::unique_ptr<PageSource> MakeSamplePageSource(std::size_t pages);

}  // namespace velmora::host
