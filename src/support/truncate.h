// Conversion of real numbers to 32-bit integers that no input makes undefined.
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>

namespace velmora {

// Truncation toward zero into 32 bits. Values beyond the range stop at its ends, and a
// value that is not a number counts as 0.
inline std::int32_t TruncateToInt32(double value) {
  if (std::isnan(value)) return 0;
  if (value <= static_cast<double>(std::numeric_limits<std::int32_t>::min())) {
    return std::numeric_limits<std::int32_t>::min();
  }
  if (value >= static_cast<double>(std::numeric_limits<std::int32_t>::max())) {
    return std::numeric_limits<std::int32_t>::max();
  }
  return static_cast<std::int32_t>(value);
}

}  // namespace velmora
