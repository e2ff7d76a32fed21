// Paths in page pixels as the host writes them into the page: figures of lines and cubic
// Bézier curves, each closed or open.
#pragma once

#include <cstdint>
#include <vector>

namespace velmora::host {

// A point of an outline in pixels; y grows downwards.
struct OutlinePoint {
  double x = 0;
  double y = 0;
};

enum class SegmentKind : std::uint8_t {
  kMove,   // points[0]: starts a contour
  kLine,   // points[0]: the end point
  kCubic,  // points[0], points[1]: control points; points[2]: the end point
  kClose,  // closes the contour
};

struct OutlineSegment {
  SegmentKind kind = SegmentKind::kMove;
  OutlinePoint points[3];
};

using OutlinePath = std::vector<OutlineSegment>;

}  // namespace velmora::host
