// The drawing context a text watermark is drawn on: paths and clipping, fonts and text,
// solid grey brushes and pens, the foreground mix and the device's figures.
//
// The plug-in receives the context as the handle hWatermarkDC of its per-device area. On
// Windows that handle is the host's device context and AttachDrawingContext wraps it in
// GDI calls; elsewhere the handle is the address of the print host's own DrawingContext,
// which writes what is drawn into the page as PCL XL.
//
// The numeric values of modes, mixes and device-capability indexes are the published GDI
// values, so that the Windows implementation passes them through unchanged.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>

#include "platform/types.h"

namespace velmora::platform {

struct Point {
  std::int32_t x = 0;
  std::int32_t y = 0;
};

struct Rect {
  std::int32_t left = 0;
  std::int32_t top = 0;
  std::int32_t right = 0;
  std::int32_t bottom = 0;
};

struct Size {
  std::int32_t cx = 0;
  std::int32_t cy = 0;
};

// Background modes (SetBkMode).
inline constexpr int kBackgroundTransparent = 1;
inline constexpr int kBackgroundOpaque = 2;

// Foreground mixes (SetROP2): binary raster operations of pen or brush P and destination D.
inline constexpr int kMixMaskPen = 9;   // D and P: only darkens what lies below
inline constexpr int kMixCopyPen = 13;  // P

// Device-capability indexes (GetDeviceCaps).
enum class DeviceCap : int {
  kHorzSize = 4,         // width of the printable area in millimetres
  kVertSize = 6,         // height of the printable area in millimetres
  kHorzRes = 8,          // width of the printable area in pixels
  kVertRes = 10,         // height of the printable area in pixels
  kLogPixelsX = 88,      // pixels per inch across
  kLogPixelsY = 90,      // pixels per inch down
  kPhysicalWidth = 110,  // width of the whole page in pixels
  kPhysicalHeight = 111,
  kPhysicalOffsetX = 112,  // distance of the printable area from the page's left edge
  kPhysicalOffsetY = 113,
};

// Character sets of a font description.
inline constexpr std::uint8_t kAnsiCharSet = 0;
inline constexpr std::uint8_t kDefaultCharSet = 1;

// Face names longer than this do not fit a font description.
inline constexpr std::size_t kMaxFaceNameLength = 31;

// A logical font: what CreateLogicalFont matches against the fonts of the device.
struct FontDescription {
  std::int32_t height = 0;       // negative: character height in pixels; positive: cell height; 0: default
  std::int32_t width = 0;        // 0: the face's own proportions
  std::int32_t escapement = 0;   // angle of the baseline in tenths of a degree, counter-clockwise
  std::int32_t orientation = 0;  // angle of each character, tenths of a degree
  std::int32_t weight = 0;       // 0 default, 400 normal, 700 bold
  bool italic = false;
  std::uint8_t charSet = kDefaultCharSet;
  WString faceName;  // at most kMaxFaceNameLength units
};

// A font created by a drawing context; 0 stands for none.
using FontId = std::uintptr_t;

class DrawingContext {
 public:
  virtual ~DrawingContext() = default;

  // A device figure, or 0 when the index is unknown.
  virtual int DeviceCaps(DeviceCap index) = 0;
  // The bounding box of the current clip region.
  virtual Rect ClipBox() = 0;
  // Saves the context's state (clip, mix, modes, font, brush, pen) on a stack, and restores
  // the most recently saved one.
  virtual bool SaveState() = 0;
  virtual bool RestoreState() = 0;

  // Paths. BeginPath discards any earlier path and opens a path bracket: until EndPath,
  // MoveTo, LineTo and WriteText add to the path instead of drawing. SelectClipPath makes
  // the ended path the clip region (replacing the previous one); StrokePath, FillPath and
  // StrokeAndFillPath paint it with the current pen and brush under the foreground mix.
  // Each of these four consumes the path.
  virtual bool BeginPath() = 0;
  virtual bool EndPath() = 0;
  virtual bool MoveTo(Point to) = 0;
  virtual bool LineTo(Point to) = 0;
  virtual bool SelectClipPath() = 0;
  virtual bool StrokePath() = 0;
  virtual bool FillPath() = 0;
  virtual bool StrokeAndFillPath() = 0;

  // Modes; each answers the previous value, or 0 on failure.
  virtual int SetBackgroundMode(int mode) = 0;
  virtual int SetForegroundMix(int mix) = 0;

  // Fonts. FontCharSetOf enumerates the fonts of a face on the device and answers the
  // character set of the last one enumerated, or nothing when the device has none.
  virtual std::optional<std::uint8_t> FontCharSetOf(WStringView faceName) = 0;
  // 0 when no font can be created.
  virtual FontId CreateLogicalFont(const FontDescription& description) = 0;
  // Selects a font and answers the one selected before (0 on failure).
  virtual FontId SelectLogicalFont(FontId font) = 0;
  virtual bool DeleteLogicalFont(FontId font) = 0;
  // The width and height of a line of text in the selected font, before any escapement.
  virtual std::optional<Size> TextExtent(WStringView text) = 0;
  // Text with its top left corner at `at`, along the selected font's escapement.
  virtual bool WriteText(Point at, WStringView text) = 0;

  // A solid brush or pen of grey level `gray` (red = green = blue; 0 black, 255 white) is
  // selected; the context releases the ones it replaces.
  virtual bool SelectSolidBrush(std::uint8_t gray) = 0;
  virtual bool SelectSolidPen(std::uint8_t gray, int width) = 0;
};

// Releases a context only when AttachDrawingContext created it.
struct DrawingContextRelease {
  bool owned = false;
  void operator()(DrawingContext* context) const {
    if (owned) delete context;
  }
};
using AttachedDrawingContext = std::unique_ptr<DrawingContext, DrawingContextRelease>;

// The drawing context behind the handle the frame received (hWatermarkDC), or null for a
// null handle. On Windows the handle is a device context, which the result wraps and never
// deletes; elsewhere it is the address of the host's DrawingContext, which the result only
// refers to.
AttachedDrawingContext AttachDrawingContext(HANDLE handle);

}  // namespace velmora::platform
