// Glyphs a renderer draws as images. Ghostscript's PCL XL devices download a glyph into
// their bitmap font only while its bitmap holds at most 5,000 bytes (about 24 points at
// 600 dots per inch) and its font cache knows it; any other glyph it draws from a bitmap
// is painted as a one-bit image whose set bits take the text's colour. Such an image is
// text all the same, so the page source hands it to TextOut, and the host's TextOut
// paints it in the colour the text ends up with.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "pxl/scan.h"

namespace velmora::host {

// Recognises the glyph images of a page: follows, operator by operator, the state that
// decides how a one-bit image paints and the order in which the renderer wrote it.
class GlyphImages {
 public:
  // Takes note of an operator of the page, in page order. Only the cursor, the raster
  // operation, the source transparency and the colour space matter; others are ignored.
  void Note(const pxl::ScannedOperator& op);

  // The grey level the image of `beginImage` and its only ReadImage `block` paints, when
  // it is a glyph drawn as an image in the current brush; none for anything else. The
  // page source keeps the brush (`brushGray`, none when it is not a solid grey) and the
  // raster operation `rop` itself. Call it once for every whole image of the page (from
  // BeginImage to EndImage), in order, with no `block` when it has more blocks than one.
  std::optional<std::uint8_t> GlyphGray(const pxl::ScannedOperator& beginImage,
                                        const std::optional<pxl::ScannedOperator>& block,
                                        std::optional<std::uint8_t> brushGray, std::int64_t rop);

 private:
  bool sourceTransparent_ = false;  // a page starts opaque
  bool glyphPalette_ = false;       // the palette is white, then black
  // The mask state was written since the last cursor, or between the two cursors before.
  bool stateSinceCursor_ = false;
  bool stateBeforeCursor_ = false;
  // The previous image was written in the order of a glyph.
  bool lastWasGlyph_ = false;
};

// The operators of a glyph image (a cursor, the image) painting `gray` where its mask is
// set, whatever the colour it was drawn in: inside a saved graphics state, with the brush
// through the mask's set bits and its clear bits transparent.
std::vector<std::uint8_t> GlyphImageIn(std::span<const std::uint8_t> image, std::uint8_t gray);

}  // namespace velmora::host
