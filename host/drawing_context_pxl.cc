// The host's PCL XL drawing context for text watermarks: what the plug-in draws goes into the page.
#include "host/drawing_context_pxl.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <utility>

#include "host/pxl_paint.h"
#include "platform/text_encoding.h"

namespace velmora::host {
namespace {

using platform::DeviceCap;

constexpr double kPi = 3.14159265358979323846;
constexpr double kMillimetresPerInch = 25.4;
constexpr int kBoldWeight = 600;       // weights from here on ask for a bold face
constexpr int kDefaultPoints = 12;     // the size of a font description with height 0
constexpr std::uint8_t kTextGray = 0;  // text drawn outside a path is black

std::int32_t Coordinate(double value) {
  return static_cast<std::int32_t>(std::lround(std::clamp(value, -32768.0, 32767.0)));
}

bool EndsFigure(const std::vector<OutlineSegment>& path) {
  return path.empty() || path.back().kind == SegmentKind::kClose;
}

}  // namespace

DrawingContextPxl::DrawingContextPxl(const DrawingPage& page, ByteSink sink) : page_(page), sink_(std::move(sink)) {}

DrawingContextPxl::~DrawingContextPxl() = default;

int DrawingContextPxl::DeviceCaps(DeviceCap index) {
  const auto millimetres = [](int pixels, int dpi) {
    return dpi <= 0 ? 0 : static_cast<int>(std::lround(pixels * kMillimetresPerInch / dpi));
  };
  switch (index) {
    case DeviceCap::kHorzSize: return millimetres(page_.width, page_.dpiX);
    case DeviceCap::kVertSize: return millimetres(page_.height, page_.dpiY);
    case DeviceCap::kHorzRes: return page_.width;
    case DeviceCap::kVertRes: return page_.height;
    case DeviceCap::kLogPixelsX: return page_.dpiX;
    case DeviceCap::kLogPixelsY: return page_.dpiY;
    case DeviceCap::kPhysicalWidth: return page_.physicalWidth;
    case DeviceCap::kPhysicalHeight: return page_.physicalHeight;
    case DeviceCap::kPhysicalOffsetX: return page_.offsetX;
    case DeviceCap::kPhysicalOffsetY: return page_.offsetY;
  }
  return 0;
}

platform::Rect DrawingContextPxl::ClipBox() {
  const platform::Rect pageRect{0, 0, page_.width, page_.height};
  if (!state_.clip || state_.clip->empty()) return pageRect;
  double left = 1e300, top = 1e300, right = -1e300, bottom = -1e300;
  for (const OutlineSegment& segment : *state_.clip) {
    const int count = segment.kind == SegmentKind::kCubic ? 3 : segment.kind == SegmentKind::kClose ? 0 : 1;
    for (int i = 0; i < count; ++i) {
      left = std::min(left, segment.points[i].x);
      top = std::min(top, segment.points[i].y);
      right = std::max(right, segment.points[i].x);
      bottom = std::max(bottom, segment.points[i].y);
    }
  }
  platform::Rect box{
      std::max(pageRect.left, Coordinate(std::floor(left))), std::max(pageRect.top, Coordinate(std::floor(top))),
      std::min(pageRect.right, Coordinate(std::ceil(right))), std::min(pageRect.bottom, Coordinate(std::ceil(bottom)))};
  if (box.right <= box.left || box.bottom <= box.top) return {};
  return box;
}

bool DrawingContextPxl::SaveState() {
  saved_.push_back(state_);
  return true;
}

bool DrawingContextPxl::RestoreState() {
  if (saved_.empty()) return false;
  state_ = std::move(saved_.back());
  saved_.pop_back();
  return true;
}

bool DrawingContextPxl::BeginPath() {
  path_ = Path{};
  bracketOpen_ = true;
  return true;
}

bool DrawingContextPxl::EndPath() {
  if (!bracketOpen_) return false;
  bracketOpen_ = false;
  return true;
}

bool DrawingContextPxl::MoveTo(platform::Point to) {
  position_ = {static_cast<double>(to.x), static_cast<double>(to.y)};
  if (bracketOpen_) path_->push_back({SegmentKind::kMove, {position_}});
  return true;
}

bool DrawingContextPxl::LineTo(platform::Point to) {
  const OutlinePoint from = position_;
  position_ = {static_cast<double>(to.x), static_cast<double>(to.y)};
  if (bracketOpen_) {
    // A line with no figure open starts one at the current position.
    if (EndsFigure(*path_)) path_->push_back({SegmentKind::kMove, {from}});
    path_->push_back({SegmentKind::kLine, {position_}});
    return true;
  }
  return Write({{SegmentKind::kMove, {from}}, {SegmentKind::kLine, {position_}}}, Paint::kStroke);
}

std::optional<DrawingContextPxl::Path> DrawingContextPxl::TakePath() {
  if (bracketOpen_ || !path_) return std::nullopt;
  std::optional<Path> taken = std::move(path_);
  path_.reset();
  return taken;
}

bool DrawingContextPxl::SelectClipPath() {
  std::optional<Path> path = TakePath();
  if (!path || path->empty()) return false;
  state_.clip = std::move(*path);
  return true;
}

bool DrawingContextPxl::StrokePath() {
  const std::optional<Path> path = TakePath();
  return path && Write(*path, Paint::kStroke);
}

bool DrawingContextPxl::FillPath() {
  const std::optional<Path> path = TakePath();
  return path && Write(*path, Paint::kFill);
}

bool DrawingContextPxl::StrokeAndFillPath() {
  const std::optional<Path> path = TakePath();
  return path && Write(*path, Paint::kStrokeAndFill);
}

int DrawingContextPxl::SetBackgroundMode(int mode) {
  if (mode != platform::kBackgroundTransparent && mode != platform::kBackgroundOpaque) return 0;
  return std::exchange(state_.background, mode);
}

int DrawingContextPxl::SetForegroundMix(int mix) {
  if (mix < 1 || mix > 16) return 0;
  return std::exchange(state_.mix, mix);
}

std::optional<std::uint8_t> DrawingContextPxl::FontCharSetOf(WStringView faceName) {
  if (!MatchFont(platform::Utf16ToUtf8(faceName), false, false)) return std::nullopt;
  return platform::kAnsiCharSet;
}

platform::FontId DrawingContextPxl::CreateLogicalFont(const platform::FontDescription& description) {
  const bool bold = description.weight >= kBoldWeight;
  const std::optional<FontMatch> match =
      MatchFont(platform::Utf16ToUtf8(description.faceName), bold, description.italic);
  if (!match) return 0;
  const std::int32_t height = description.height != 0 ? description.height : -(kDefaultPoints * page_.dpiY / 72);
  Font font;
  font.outlines = FontOutlines::Open(*match, height, bold, description.italic);
  if (!font.outlines) return 0;
  font.escapementRadians = description.escapement / 10.0 * kPi / 180.0;
  const platform::FontId id = nextFont_++;
  fonts_.emplace(id, std::move(font));
  return id;
}

platform::FontId DrawingContextPxl::SelectLogicalFont(platform::FontId font) {
  if (font != 0 && !fonts_.contains(font)) return 0;
  return std::exchange(state_.font, font);
}

bool DrawingContextPxl::DeleteLogicalFont(platform::FontId font) {
  // A selected font stays, as a selected object does on a device context.
  if (font == state_.font) return false;
  return fonts_.erase(font) == 1;
}

std::optional<platform::Size> DrawingContextPxl::TextExtent(WStringView text) {
  const auto found = fonts_.find(state_.font);
  if (found == fonts_.end()) return std::nullopt;
  FontOutlines& outlines = *found->second.outlines;
  std::int64_t width = 0;
  for (char32_t c : CodePoints(text)) {
    width += outlines.Advance(c);
  }
  return platform::Size{static_cast<std::int32_t>(std::min<std::int64_t>(width, INT32_MAX)),
                        outlines.ascent() + outlines.descent()};
}

void DrawingContextPxl::AppendText(Path& path, platform::Point at, WStringView text) {
  Font& font = fonts_.at(state_.font);
  FontOutlines& outlines = *font.outlines;
  // Along the baseline (escapement counter-clockwise on a page whose y grows downwards)
  // and down the glyphs.
  const double along[2] = {std::cos(font.escapementRadians), -std::sin(font.escapementRadians)};
  const double down[2] = {-along[1], along[0]};
  // The text's top left corner is at `at`; its baseline lies one ascent below.
  const double baseX = at.x + outlines.ascent() * down[0];
  const double baseY = at.y + outlines.ascent() * down[1];
  double advance = 0;
  for (char32_t c : CodePoints(text)) {
    for (OutlineSegment segment : outlines.Outline(c)) {
      for (OutlinePoint& p : segment.points) {
        const double x = p.x + advance;
        p = {baseX + x * along[0] + p.y * down[0], baseY + x * along[1] + p.y * down[1]};
      }
      path.push_back(segment);
    }
    advance += outlines.Advance(c);
  }
}

bool DrawingContextPxl::WriteText(platform::Point at, WStringView text) {
  if (!fonts_.contains(state_.font)) return false;
  if (bracketOpen_) {
    AppendText(*path_, at, text);
    return true;
  }
  Path path;
  AppendText(path, at, text);
  const std::uint8_t brush = std::exchange(state_.brushGray, kTextGray);
  const bool written = Write(path, Paint::kFill);
  state_.brushGray = brush;
  return written;
}

bool DrawingContextPxl::SelectSolidBrush(std::uint8_t gray) {
  state_.brushGray = gray;
  return true;
}

bool DrawingContextPxl::SelectSolidPen(std::uint8_t gray, int width) {
  state_.penGray = gray;
  state_.penWidth = width;
  return true;
}

bool DrawingContextPxl::Write(const Path& path, Paint paint) {
  if (path.empty()) return false;
  PaintState state;
  state.clip = state_.clip ? &*state_.clip : nullptr;
  state.mix = state_.mix;
  state.brushGray = state_.brushGray;
  state.penGray = state_.penGray;
  state.penWidth = state_.penWidth;
  return sink_(EncodePaint(path, paint, state));
}

}  // namespace velmora::host
