// The overlay file: a one-line header, then the captured PCL XL data.
//
//   (PCLXL;Letter;1;600;0;Form1;)\r\n%%OVL_DATA_START:-<data...>
//
// Header fields: language ("PCLXL", or "PCLXL-RASTER" for a raster job), form name,
// orientation, resolution, the digit 0, overlay name. The data run to the end of the file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "platform/types.h"

namespace velmora {

// Marker tokens, written without a terminator.
inline constexpr char kOverlayBeginMarker[] = "%%OVL_PCLXL_BEGIN";     // capture starts after it
inline constexpr char kOverlayEndMarker[] = "%%OVL_PCLXL_FONT_END";    // capture ends before it
inline constexpr char kOverlayDataMarker[] = "%%OVL_DATA_START:-";     // replay starts after it
inline constexpr char kOverlayFontKey[] = "MS PCLXLFont";              // renamed in captured data
inline constexpr std::size_t kOverlayMaxKeyLength = sizeof kOverlayEndMarker - 1;

// The whole header, marker included, holds at most this many bytes.
inline constexpr std::size_t kOverlayHeaderLimit = 259;

// The header for these fields, or nothing when it would not fit.
std::optional<std::string> FormatOverlayHeader(bool rasterMode, WStringView formName, int orientation,
                                               int resolution, WStringView overlayName);

// Offset of the first data byte (just past the data marker) in the first chunk of an
// overlay file, or -1.
std::int32_t GetOverlayDataOffset(const std::uint8_t* chunk, std::size_t length);

}  // namespace velmora
