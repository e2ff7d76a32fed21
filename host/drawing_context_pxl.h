// The host's drawing context for watermarks: what the plug-in draws on it (paths, clip,
// fonts, text and grey brushes) is written into the page as PCL XL path operators.
//
// The context keeps its state (current path, clip path, mix, font, brush, pen) itself and
// writes only when something is painted: each paint is one self-contained group between
// PushGS and PopGS that sets its clip, raster operation, brush and pen, builds the path
// and paints it, so that the page's own graphics state is untouched afterwards.
// Coordinates are device pixels of the page, written as sint16 (clamped).
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "host/font_outlines.h"
#include "host/pxl_paint.h"
#include "host/watermark_context.h"
#include "platform/drawing_context.h"

namespace velmora::host {

class DrawingContextPxl final : public platform::DrawingContext {
 public:
  DrawingContextPxl(const DrawingPage& page, ByteSink sink);
  ~DrawingContextPxl() override;

  // The value for hWatermarkDC: the address of this context as a platform DrawingContext.
  HANDLE handle() { return static_cast<platform::DrawingContext*>(this); }

  int DeviceCaps(platform::DeviceCap index) override;
  platform::Rect ClipBox() override;
  bool SaveState() override;
  bool RestoreState() override;

  bool BeginPath() override;
  bool EndPath() override;
  bool MoveTo(platform::Point to) override;
  bool LineTo(platform::Point to) override;
  bool SelectClipPath() override;
  bool StrokePath() override;
  bool FillPath() override;
  bool StrokeAndFillPath() override;

  int SetBackgroundMode(int mode) override;
  int SetForegroundMix(int mix) override;

  std::optional<std::uint8_t> FontCharSetOf(WStringView faceName) override;
  platform::FontId CreateLogicalFont(const platform::FontDescription& description) override;
  platform::FontId SelectLogicalFont(platform::FontId font) override;
  bool DeleteLogicalFont(platform::FontId font) override;
  std::optional<platform::Size> TextExtent(WStringView text) override;
  bool WriteText(platform::Point at, WStringView text) override;

  bool SelectSolidBrush(std::uint8_t gray) override;
  bool SelectSolidPen(std::uint8_t gray, int width) override;

 private:
  using Path = std::vector<OutlineSegment>;

  struct Font {
    std::unique_ptr<FontOutlines> outlines;
    double escapementRadians = 0;
  };

  // Everything SaveState keeps.
  struct State {
    std::optional<Path> clip;  // none: the page's own clip
    int mix = platform::kMixCopyPen;
    int background = platform::kBackgroundOpaque;
    platform::FontId font = 0;
    std::uint8_t brushGray = 255;  // a white brush, as a fresh device context has
    std::uint8_t penGray = 0;      // a black pen one pixel wide
    int penWidth = 1;
  };

  using Paint = PaintKind;

  // Paints a path in one PushGS/PopGS group; false when nothing could be written.
  bool Write(const Path& path, Paint paint);
  // Takes the ended path for painting or clipping; nothing while a bracket is open.
  std::optional<Path> TakePath();
  // Appends the glyph outlines of a text to a path.
  void AppendText(Path& path, platform::Point at, WStringView text);

  DrawingPage page_;
  ByteSink sink_;
  State state_;
  std::vector<State> saved_;
  bool bracketOpen_ = false;
  std::optional<Path> path_;
  OutlinePoint position_;
  std::map<platform::FontId, Font> fonts_;
  platform::FontId nextFont_ = 1;
};

}  // namespace velmora::host
