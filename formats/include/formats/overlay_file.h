// The overlay file: a one-line header, then the captured PCL XL data; and where a printer
// keeps its overlays: the printer-data values "OvelayDirectory" (the folder) and
// "OvelayFiles" (the list, entries separated by ";").
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
#include <vector>

#include "platform/types.h"

namespace velmora {

// Marker tokens, written without a terminator.
inline constexpr char kOverlayBeginMarker[] = "%%OVL_PCLXL_BEGIN";   // capture starts after it
inline constexpr char kOverlayEndMarker[] = "%%OVL_PCLXL_FONT_END";  // capture ends before it
inline constexpr char kOverlayDataMarker[] = "%%OVL_DATA_START:-";   // replay starts after it
inline constexpr char kOverlayFontKey[] = "MS PCLXLFont";            // renamed in captured data
inline constexpr std::size_t kOverlayMaxKeyLength = sizeof kOverlayEndMarker - 1;

// The whole header, marker included, holds at most this many bytes.
inline constexpr std::size_t kOverlayHeaderLimit = 259;

// The header for these fields, or nothing when it would not fit.
std::optional<std::string> FormatOverlayHeader(bool rasterMode, WStringView formName, int orientation, int resolution,
                                               WStringView overlayName);

// The fields of an overlay file's header line.
struct OverlayHeader {
  std::string language;        // "PCLXL" or "PCLXL-RASTER"
  std::string formName;        // UTF-8
  std::string orientation;     // as written: a signed decimal
  std::string resolution;      // as written: a signed decimal
  std::string overlayName;     // UTF-8
  std::size_t dataOffset = 0;  // where the data start, just past the data marker
};

// Reads the header of an overlay file from its first bytes; nothing when they do not
// start with a header line followed by the data marker.
std::optional<OverlayHeader> ParseOverlayHeader(const std::uint8_t* bytes, std::size_t length);

// Offset of the first data byte (just past the data marker) in the first chunk of an
// overlay file, or -1.
std::int32_t GetOverlayDataOffset(const std::uint8_t* chunk, std::size_t length);

// The printer-data values that name a printer's overlay folder and its overlay list, and
// the list's split: here because `velmora overlay` reads the very values the plug-in reads.
inline constexpr const WCHAR* kOverlayDirectoryValue = VTEXT("OvelayDirectory");
inline constexpr const WCHAR* kOverlayFilesValue = VTEXT("OvelayFiles");

namespace Utility {

// The pieces of a text between delimiters, in order: adjacent delimiters give an empty
// piece, a delimiter at the very end gives no empty last piece, an empty text no piece.
void split(const WString& text, WCHAR delimiter, std::vector<WString>& pieces);
std::vector<WString> split(const WString& text, WCHAR delimiter);

}  // namespace Utility

}  // namespace velmora
