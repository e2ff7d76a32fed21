// Glyphs a renderer draws as images, recognised by the way Ghostscript writes them.
#include "host/glyph_image.h"

#include "host/pxl_encoder.h"

namespace velmora::host {
namespace {

using pxl::Attr;
using pxl::Op;

constexpr std::int64_t kColorDepth1Bit = 0;
constexpr std::int64_t kIndexedPixel = 1;
constexpr std::int64_t kGrayColorSpace = 1;
constexpr std::int64_t kTransparent = 1;

// The raster operations a glyph image is painted with: black as S and D, white as not S
// or D and S, any other grey as T or S (the brush through the set bits, the page's
// default) with the source's clear bits transparent.
constexpr std::int64_t kBlackMaskRop = 0x88;
constexpr std::int64_t kWhiteMaskRop = 0xBB;
constexpr std::int64_t kBrushMaskRop = 0xFC;
constexpr std::uint8_t kBlack = 0;
constexpr std::uint8_t kWhite = 255;

std::optional<std::int64_t> IntOf(const pxl::ScannedOperator& op, Attr id, std::size_t index = 0) {
  const std::optional<pxl::AttributeView> attribute = op.Find(id);
  if (!attribute || attribute->size() <= index) return std::nullopt;
  return attribute->Int(index);
}

// A one-bit indexed image drawn at its own size in one block, as a glyph bitmap is.
bool GlyphShaped(const pxl::ScannedOperator& beginImage, const pxl::ScannedOperator& block) {
  const std::optional<std::int64_t> width = IntOf(beginImage, Attr::SourceWidth);
  const std::optional<std::int64_t> height = IntOf(beginImage, Attr::SourceHeight);
  if (!width || !height || *width <= 0 || *height <= 0) return false;
  if (IntOf(beginImage, Attr::ColorDepth) != kColorDepth1Bit) return false;
  if (IntOf(beginImage, Attr::ColorMapping) != kIndexedPixel) return false;
  if (beginImage.Find(Attr::DestinationSize) &&
      (IntOf(beginImage, Attr::DestinationSize, 0) != width || IntOf(beginImage, Attr::DestinationSize, 1) != height)) {
    return false;
  }
  return IntOf(block, Attr::StartLine) == 0 && IntOf(block, Attr::BlockHeight) == height;
}

}  // namespace

void GlyphImages::Note(const pxl::ScannedOperator& op) {
  switch (op.op()) {
    case Op::SetCursor:
      stateBeforeCursor_ = stateSinceCursor_;
      stateSinceCursor_ = false;
      return;
    case Op::SetROP: stateSinceCursor_ = true; return;
    case Op::SetSourceTxMode:
      sourceTransparent_ = IntOf(op, Attr::TxMode) == kTransparent;
      stateSinceCursor_ = true;
      return;
    case Op::SetColorSpace: {
      const std::optional<pxl::AttributeView> palette = op.Find(Attr::PaletteData);
      glyphPalette_ = IntOf(op, Attr::ColorSpace) == kGrayColorSpace && palette && palette->size() == 2 &&
                      (*palette)[0] == kWhite && (*palette)[1] == kBlack;
      stateSinceCursor_ = true;
      return;
    }
    default: return;
  }
}

std::optional<std::uint8_t> GlyphImages::GlyphGray(const pxl::ScannedOperator& beginImage,
                                                   const std::optional<pxl::ScannedOperator>& block,
                                                   std::optional<std::uint8_t> brushGray, std::int64_t rop) {
  // Ghostscript sets the cursor of a glyph before the mask's raster operation,
  // transparency and palette, and the cursor of a picture after them. An image that
  // needed none of them written is drawn as the one before it was.
  const bool glyphOrder = stateSinceCursor_ || (!stateBeforeCursor_ && lastWasGlyph_);
  lastWasGlyph_ = glyphOrder;
  stateSinceCursor_ = stateBeforeCursor_ = false;
  if (!glyphOrder || !block || !brushGray || !glyphPalette_ || !GlyphShaped(beginImage, *block)) {
    return std::nullopt;
  }
  // The raster operation and transparency must be the ones the brush's grey is painted
  // with.
  const std::uint8_t gray = *brushGray;
  const bool painted = gray == kBlack   ? rop == kBlackMaskRop && !sourceTransparent_
                       : gray == kWhite ? rop == kWhiteMaskRop && !sourceTransparent_
                                        : rop == kBrushMaskRop && sourceTransparent_;
  if (!painted) return std::nullopt;
  return gray;
}

std::vector<std::uint8_t> GlyphImageIn(std::span<const std::uint8_t> image, std::uint8_t gray) {
  PxlEncoder out;
  out.Operator(Op::PushGS);
  out.UByte(static_cast<std::uint8_t>(kBrushMaskRop), Attr::ROP3).Operator(Op::SetROP);
  out.UByte(static_cast<std::uint8_t>(kTransparent), Attr::TxMode).Operator(Op::SetSourceTxMode);
  out.UByte(gray, Attr::GrayLevel).Operator(Op::SetBrushSource);
  out.Raw(image);
  out.Operator(Op::PopGS);
  return out.Take();
}

}  // namespace velmora::host
