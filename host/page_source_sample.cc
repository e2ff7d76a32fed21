// The built-in sample document: vector pages that need no font. Every page has a frame
// of rules, a header bar, a row of grey boxes, the page number in large seven-segment
// digits, a grey-scale ramp image and two diagonal lines.
#include <algorithm>
#include <array>
#include <string>

#include "host/page_source.h"

namespace velmora::host {
namespace {

// Segments a b c d e f g of the digits 0-9 (bit 0 = a ... bit 6 = g).
constexpr std::array<std::uint8_t, 10> kDigitSegments = {0x3F, 0x06, 0x5B, 0x4F, 0x66, 0x6D, 0x7D, 0x07, 0x7F, 0x6F};

class SamplePageSource : public PageSource {
 public:
  explicit SamplePageSource(std::size_t pages) : pages_(pages) {}

  std::size_t PageCount() const override { return pages_; }

  void DrawPage(std::size_t page, Canvas& canvas) override {
    const SIZEL size = canvas.PageSize();
    const LONG dpi = canvas.Resolution() > 0 ? canvas.Resolution() : 600;
    const LONG inset = dpi / 4;
    const LONG rule = std::max<LONG>(dpi / 100, 1);
    const LONG right = size.cx - inset;
    const LONG bottom = size.cy - inset;
    const Color black = Rgb(0, 0, 0);

    // The frame: four rules.
    canvas.FillRect({inset, inset, right, inset + rule}, black);
    canvas.FillRect({inset, bottom - rule, right, bottom}, black);
    canvas.FillRect({inset, inset, inset + rule, bottom}, black);
    canvas.FillRect({right - rule, inset, right, bottom}, black);

    // A header bar and a row of boxes in five shades of grey.
    const LONG top = inset + dpi / 4;
    canvas.FillRect({inset + dpi / 4, top, right - dpi / 4, top + dpi / 3}, Rgb(64, 64, 64));
    const LONG boxTop = top + dpi / 2;
    const LONG boxWidth = (right - inset - dpi / 2) / 5;
    for (LONG i = 0; i < 5; ++i) {
      const auto shade = static_cast<std::uint8_t>(40 + 45 * i);
      const LONG left = inset + dpi / 4 + i * boxWidth;
      canvas.FillRect({left + rule * 2, boxTop, left + boxWidth - rule * 2, boxTop + dpi / 2},
                      Rgb(shade, shade, shade));
    }

    DrawNumber(canvas, page, size.cx / 2, boxTop + dpi, dpi * 2);

    // A grey-scale ramp, stretched to three inches by half an inch.
    const LONG rampTop = boxTop + dpi * 3 + dpi / 2;
    canvas.DrawImage(Ramp(page), {inset + dpi / 4, rampTop, inset + dpi / 4 + dpi * 3, rampTop + dpi / 2});

    // Two diagonals under the ramp.
    const LONG lineTop = rampTop + dpi;
    canvas.DrawLine({inset + dpi / 4, lineTop}, {right - dpi / 4, bottom - dpi / 4}, black);
    canvas.DrawLine({right - dpi / 4, lineTop}, {inset + dpi / 4, bottom - dpi / 4}, Rgb(128, 128, 128));
  }

 private:
  // The page number centred on `centreX`, digits `height` dots high.
  static void DrawNumber(Canvas& canvas, std::size_t number, LONG centreX, LONG top, LONG height) {
    const std::string digits = std::to_string(number);
    const LONG width = height / 2;
    const LONG gap = height / 6;
    const LONG total = static_cast<LONG>(digits.size()) * (width + gap) - gap;
    LONG left = centreX - total / 2;
    for (char digit : digits) {
      DrawDigit(canvas, digit - '0', left, top, width, height);
      left += width + gap;
    }
  }

  static void DrawDigit(Canvas& canvas, int digit, LONG left, LONG top, LONG width, LONG height) {
    const LONG t = std::max<LONG>(height / 10, 1);  // segment thickness
    const LONG middle = top + height / 2 - t / 2;
    const RECTL segments[7] = {
        {left, top, left + width, top + t},                                // a
        {left + width - t, top, left + width, top + height / 2},           // b
        {left + width - t, top + height / 2, left + width, top + height},  // c
        {left, top + height - t, left + width, top + height},              // d
        {left, top + height / 2, left + t, top + height},                  // e
        {left, top, left + t, top + height / 2},                           // f
        {left, middle, left + width, middle + t},                          // g
    };
    const std::uint8_t lit = kDigitSegments[static_cast<std::size_t>(digit) % kDigitSegments.size()];
    for (int s = 0; s < 7; ++s) {
      if ((lit >> s) & 1) canvas.FillRect(segments[s], Rgb(0, 0, 0));
    }
  }

  // A 64 x 8 ramp from black to white; the page number shifts it so pages differ.
  static GrayImage Ramp(std::size_t page) {
    GrayImage image;
    image.width = 64;
    image.height = 8;
    image.pixels.resize(64 * 8);
    for (int y = 0; y < image.height; ++y) {
      for (int x = 0; x < image.width; ++x) {
        image.pixels[static_cast<std::size_t>(y * image.width + x)] =
            static_cast<std::uint8_t>((x * 4 + static_cast<int>(page) * 16 + y * 2) % 256);
      }
    }
    return image;
  }

  std::size_t pages_;
};

}  // namespace

std::unique_ptr<PageSource> MakeSamplePageSource(std::size_t pages) {
  return std::make_unique<SamplePageSource>(pages);
}

}  // namespace velmora::host
