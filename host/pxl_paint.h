// One painted path as the host writes it into the page: a self-contained group between
// PushGS and PopGS that sets its clip, raster operation, brush and pen, builds the path and
// paints it, so that the page's own graphics state is untouched afterwards. Both hosts'
// watermark contexts write their paints through it, so that they write the same operators.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "host/outline_path.h"
#include "platform/drawing_context.h"

namespace velmora::host {

enum class PaintKind : std::uint8_t { kStroke, kFill, kStrokeAndFill };

// The state a path is painted in, with the drawing context's defaults.
struct PaintState {
  const OutlinePath* clip = nullptr;  // null: the page's own clip
  int mix = platform::kMixCopyPen;    // a binary raster operation (SetROP2)
  std::uint8_t brushGray = 255;
  std::uint8_t penGray = 0;
  int penWidth = 1;  // 0 draws one pixel wide
};

// The group's bytes; empty for an empty path. Coordinates are written as sint16 (clamped).
std::vector<std::uint8_t> EncodePaint(const OutlinePath& path, PaintKind kind, const PaintState& state);

}  // namespace velmora::host
