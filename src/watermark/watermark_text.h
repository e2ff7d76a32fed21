// Text watermarks: the text of a watermark record turned into a path on the drawing
// context, clipped to one cell of the sheet and filled with a grey brush whose mix only
// darkens what lies below, or stroked as an outline. One copy is centred in the cell, or
// copies are tiled over the whole cell.
#pragma once

#include <cstdint>

#include "platform/drawing_context.h"
#include "platform/types.h"

namespace velmora {

// The placements of a watermark record.
inline constexpr std::uint32_t kPlacementCentre = 0;
inline constexpr std::uint32_t kPlacementTile = 1;

// The style bits of a watermark record.
inline constexpr std::uint8_t kStyleBold = 0x02;
inline constexpr std::uint8_t kStyleItalic = 0x04;
inline constexpr std::uint8_t kStyleOutline = 0x08;

// The fields of a watermark record that a text watermark uses, already adjusted for the
// sheet's layout (point size and angle).
struct TextWatermark {
  WString text;      // drawn up to its first NUL
  WString faceName;  // the font is created from at most 31 units of it
  std::uint32_t pointSize = 72;
  std::uint8_t styleFlags = 0;
  std::uint32_t angle = 45;              // degrees, counter-clockwise
  std::uint32_t darkness = 25;           // percent: 100 black, 0 white
  float offsetX = 0.0f;                  // from the cell centre, to the right
  float offsetY = 0.0f;                  // from the cell centre, upwards
  std::uint8_t offsetInMillimetres = 0;  // 1: the offsets are millimetres; else inches
  std::uint32_t placement = kPlacementCentre;
};

// Where one watermark goes and what the renderer knows of the sheet.
struct TextWatermarkCell {
  platform::Rect cell;     // the logical page's cell on the sheet, in device pixels
  platform::Rect clipBox;  // the clip box read before the sheet was drawn; restored afterwards
  float nupScale = 1.0f;   // scale of the watermark for the sheet's layout
  // Layouts of 2, 6 and 8 pages per sheet turn the pages a quarter: the offsets then swap
  // their roles.
  bool rotatedLayout = false;
};

// Draws one cell's text watermark and restores the clip to the remembered clip box.
// `fontCharSet` is the renderer's character set of the watermark face: the face lookup
// updates it and the font is created with it. `pageIndex` is only logged.
void DrawTextWatermark(platform::DrawingContext& dc, const TextWatermark& record, const TextWatermarkCell& where,
                       std::int32_t pageIndex, std::uint8_t& fontCharSet);

// The grey level of a darkness: 255 - trunc(255 * darkness / 100), modulo 256.
std::uint8_t WatermarkGrayLevel(std::uint32_t darkness);

}  // namespace velmora
