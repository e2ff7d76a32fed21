// A device context that records what the plug-in draws on it, for a host that writes that
// drawing into the page itself: each painted path comes back with the clip, mix, brush and
// pen it was painted with, in order with marks the host placed among the drawing.
//
// Windows only: there the plug-in draws text watermarks with GDI on a device context, so a
// host that wants that drawing as page data records it (POSIX hosts hand the plug-in their
// own drawing context instead, and CreateDrawingRecorder answers null there).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <variant>
#include <vector>

#include "platform/drawing_context.h"
#include "platform/types.h"

namespace velmora::platform {

enum class PathPart : std::uint8_t {
  kMove,    // points[0]: starts a figure
  kLine,    // points[0]: the end point
  kBezier,  // points[0], points[1]: control points; points[2]: the end point
  kClose,   // closes the figure
};

struct PathSegment {
  PathPart kind = PathPart::kMove;
  Point points[3];
};

using RecordedPath = std::vector<PathSegment>;

enum class PaintKind : std::uint8_t { kStroke, kFill, kStrokeAndFill };

// One painted path, in device pixels, with the state it was painted in.
struct RecordedPaint {
  PaintKind kind = PaintKind::kFill;
  RecordedPath path;
  std::optional<RecordedPath> clip;  // none: the page's own clip
  int mix = kMixCopyPen;
  std::uint8_t brushGray = 255;
  std::uint8_t penGray = 0;
  int penWidth = 1;
};

// A mark the host placed with Mark, where it falls among the drawing.
struct RecordedMark {
  std::uint32_t id = 0;
};

using RecordedItem = std::variant<RecordedMark, RecordedPaint>;

// The device the recording context measures against (its GetDeviceCaps answers are that
// device's), and the page the recordings are framed by.
struct RecordingDevice {
  WString printerName;
  const void* devmode = nullptr;  // the job's public device mode, or null
  Size page;                      // the whole page in device pixels
  int dpiX = 600;
  int dpiY = 600;
};

class DrawingRecorder {
 public:
  virtual ~DrawingRecorder() = default;
  // The device context the plug-in draws on; it changes with every Take.
  virtual HANDLE dc() = 0;
  // Places a mark at the current point of the recording; false when it was not recorded.
  virtual bool Mark(std::uint32_t id) = 0;
  // Ends the recording and starts the next one (on a new context): everything painted
  // since the last Take, in order with the marks. Nothing when the recording could not be
  // read back; the next recording starts all the same.
  virtual std::optional<std::vector<RecordedItem>> Take() = 0;
};

// A recorder whose context answers the device's figures; null where the platform has none
// or no context can be created.
std::unique_ptr<DrawingRecorder> CreateDrawingRecorder(const RecordingDevice& device);

}  // namespace velmora::platform
