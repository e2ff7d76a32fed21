// Text watermarks on Windows: the plug-in draws with GDI on a device context that records
// its drawing, and at the end of each page the host writes each recorded paint as the same
// PCL XL group the POSIX host's context writes, in its place among the page's bytes.
//
// The page's bytes are held from the page's start to its end; each held write leaves a
// mark in the recording, so that the drawing recorded before mark i is written before the
// held write i.
#include <utility>
#include <vector>

#include "host/pxl_paint.h"
#include "host/watermark_context.h"
#include "platform/drawing_recorder.h"

namespace velmora::host {
namespace {

OutlinePath OutlineOf(const platform::RecordedPath& recorded) {
  OutlinePath path;
  path.reserve(recorded.size());
  for (const platform::PathSegment& part : recorded) {
    OutlineSegment segment;
    switch (part.kind) {
      case platform::PathPart::kMove: segment.kind = SegmentKind::kMove; break;
      case platform::PathPart::kLine: segment.kind = SegmentKind::kLine; break;
      case platform::PathPart::kBezier: segment.kind = SegmentKind::kCubic; break;
      case platform::PathPart::kClose: segment.kind = SegmentKind::kClose; break;
    }
    for (int i = 0; i < 3; ++i) {
      segment.points[i] = {static_cast<double>(part.points[i].x), static_cast<double>(part.points[i].y)};
    }
    path.push_back(segment);
  }
  return path;
}

std::vector<std::uint8_t> Encode(const platform::RecordedPaint& paint) {
  const OutlinePath path = OutlineOf(paint.path);
  const OutlinePath clip = paint.clip ? OutlineOf(*paint.clip) : OutlinePath{};
  PaintState state;
  state.clip = paint.clip ? &clip : nullptr;
  state.mix = paint.mix;
  state.brushGray = paint.brushGray;
  state.penGray = paint.penGray;
  state.penWidth = paint.penWidth;
  const PaintKind kind = paint.kind == platform::PaintKind::kStroke ? PaintKind::kStroke
                         : paint.kind == platform::PaintKind::kFill ? PaintKind::kFill
                                                                    : PaintKind::kStrokeAndFill;
  return EncodePaint(path, kind, state);
}

class RecordingWatermarkContext final : public WatermarkContext {
 public:
  RecordingWatermarkContext(std::unique_ptr<platform::DrawingRecorder> recorder, ByteSink sink)
      : recorder_(std::move(recorder)), sink_(std::move(sink)) {}

  HANDLE handle() override { return recorder_->dc(); }

  std::function<bool(std::span<const std::uint8_t>)> PageHold() override {
    return [this](std::span<const std::uint8_t> bytes) {
      recorder_->Mark(static_cast<std::uint32_t>(held_.size()));
      held_.emplace_back(bytes.begin(), bytes.end());
      return true;
    };
  }

  // What was drawn outside a page has no held bytes to keep its place among; it goes
  // first, before the page's own bytes.
  void StartPage() override { Write(); }
  bool EndPage() override { return Write(); }

 private:
  // The recording so far and the held bytes, merged in order; held bytes whose mark the
  // recording lost follow in their own order.
  bool Write() {
    const std::optional<std::vector<platform::RecordedItem>> items = recorder_->Take();
    bool written = true;
    std::size_t next = 0;
    const auto writeHeldThrough = [&](std::size_t last) {
      for (; next <= last && next < held_.size(); ++next) written = sink_(held_[next]) && written;
    };
    if (items) {
      for (const platform::RecordedItem& item : *items) {
        if (const auto* mark = std::get_if<platform::RecordedMark>(&item)) {
          writeHeldThrough(mark->id);
        } else {
          const std::vector<std::uint8_t> bytes = Encode(std::get<platform::RecordedPaint>(item));
          if (!bytes.empty()) written = sink_(bytes) && written;
        }
      }
    }
    if (!held_.empty()) writeHeldThrough(held_.size() - 1);
    held_.clear();
    return written;
  }

  std::unique_ptr<platform::DrawingRecorder> recorder_;
  ByteSink sink_;
  std::vector<std::vector<std::uint8_t>> held_;
};

// Without a recorder the host hands no context: the plug-in leaves text watermarks out
// (and logs that the context is missing); bitmap watermarks need none.
class NoWatermarkContext final : public WatermarkContext {
 public:
  HANDLE handle() override { return nullptr; }
};

}  // namespace

std::unique_ptr<WatermarkContext> MakeWatermarkContext(const DrawingPage& page, ByteSink sink) {
  platform::RecordingDevice device;
  device.printerName = page.printerName;
  device.devmode = page.devmode;
  device.page = {page.physicalWidth, page.physicalHeight};
  device.dpiX = page.dpiX;
  device.dpiY = page.dpiY;
  std::unique_ptr<platform::DrawingRecorder> recorder = platform::CreateDrawingRecorder(device);
  if (!recorder) return std::make_unique<NoWatermarkContext>();
  return std::make_unique<RecordingWatermarkContext>(std::move(recorder), std::move(sink));
}

}  // namespace velmora::host
