// What the host prints: a source of pages, each drawn on a canvas whose calls reach the
// printer through the plug-in's hooks and the host's own drawing functions.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "formats/host_interface.h"
#include "platform/process.h"

namespace velmora::host {

// An 8-bit grey-scale image, rows top to bottom, `width` bytes per row (0 black, 255 white).
struct GrayImage {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> pixels;
};

// A colour as the graphics engine names it: 0x00BBGGRR.
using Color = std::uint32_t;
constexpr Color Rgb(std::uint8_t r, std::uint8_t g, std::uint8_t b) {
  return static_cast<Color>(r) | (static_cast<Color>(g) << 8) | (static_cast<Color>(b) << 16);
}

// Where drawn content lands: content point p is drawn at (x, y) + scale * p, turned
// `quarterTurns` quarter turns counter-clockwise about (x, y). The printer
// applies it (a saved graphics state with a page origin, rotation and scale), so the
// content's own coordinates reach the stream unchanged.
struct ContentPlacement {
  double x = 0;
  double y = 0;
  double scale = 1.0;
  int quarterTurns = 0;  // 0 to 3 quarter turns counter-clockwise
};

// A run of text as the page stream holds it: glyph positions and character codes of the
// current font (SetCursor, SetCursorRel and Text operators), drawn with a solid colour or,
// when `solid` is false, with the stream's own brush. With `glyphImage` the run is one
// glyph the renderer drew as a one-bit image (an optional SetCursor, BeginImage, its
// ReadImage and EndImage) that paints `color` through its set bits.
struct ContentText {
  std::span<const std::uint8_t> operators;
  std::size_t glyphCount = 0;
  Color color = 0;
  bool solid = true;
  bool glyphImage = false;
};

// An image as the page stream holds it: SetCursor, BeginImage, its ReadImage blocks and
// EndImage, with the source size and where it lands in content coordinates.
struct ContentImage {
  std::span<const std::uint8_t> operators;
  int sourceWidth = 0;
  int sourceHeight = 0;
  RECTL dest{};
};

// A document page's own size and orientation, as the renderer laid the page out: its
// content's coordinates run across `widthInches` and down `heightInches`.
struct PageFormat {
  double widthInches = 0;
  double heightInches = 0;
  bool landscape = false;
  int mediaSize = -1;  // the printer's media size number; -1 for a custom size
};

// Coordinates are device dots from the top left corner of the printable area.
class Canvas {
 public:
  virtual ~Canvas() = default;
  // The printable area in dots and the resolution in dots per inch.
  virtual SIZEL PageSize() const = 0;
  virtual int Resolution() const = 0;
  // A rectangle filled with a solid brush (a bit-block transfer of the brush).
  virtual void FillRect(const RECTL& rect, Color color) = 0;
  // An image stretched into the rectangle.
  virtual void DrawImage(const GrayImage& image, const RECTL& dest) = 0;
  // A one-dot line.
  virtual void DrawLine(POINTL from, POINTL to, Color color) = 0;

  // Quarter turns counter-clockwise the canvas itself is drawn with on the sheet (an
  // N-up cell or a booklet side that turns its pages).
  virtual int QuarterTurns() const { return 0; }
  // Whether a page that lies across the canvas (landscape on a portrait canvas, or the
  // reverse) is turned a quarter to fit it, as a printer turns a landscape page. A
  // booklet's page is not: the booklet is read as it is bound, so such a page stands
  // upright on its booklet page, smaller.
  virtual bool TurnsPagesAcross() const { return true; }

  // Content drawn in coordinates of its own: Begin saves the printer's graphics state and
  // sets up the placement, End restores the state. Between them only the Content calls
  // below are used, in content coordinates.
  virtual void BeginContent(const ContentPlacement& placement) = 0;
  virtual void EndContent() = 0;
  // From here to EndContent nothing of the content shows outside `rect` of the canvas,
  // whatever clip the content sets.
  virtual void ClipContent(const RECTL& rect) = 0;
  // Paths, clips and graphics state, written by the host's own path functions.
  virtual void WriteContent(std::span<const std::uint8_t> operators) = 0;
  // The content has just replaced its clip (SetClipReplace, SetClipToPage or
  // SetClipRectangle, written through WriteContent), which may reach past the rectangles
  // of ClipContent: the canvas confines it to them again.
  virtual void ContentClipReplaced() = 0;
  // Text through the graphics engine's TextOut; answers the colour the text was drawn in
  // (the plug-in may change it).
  virtual Color DrawContentText(const ContentText& text) = 0;
  // An image through the bit-block transfer functions (stretched when its size changes).
  virtual void DrawContentImage(const ContentImage& image) = 0;
  // A straight line `width` dots wide through LineTo.
  virtual void DrawContentLine(POINTL from, POINTL to, Color color, int width) = 0;
};

// How a page of the document is placed on the job's sheet (the host's PageScaling).
enum class PageScaling : unsigned char {
  // A page of the sheet's size as it is; a larger one fitted into the printable area, a
  // smaller one at its own size, centred.
  kAuto,
  kFit,   // every page scaled to fit the printable area (also a job with custom margins)
  kFill,  // every page scaled to cover the whole sheet, centred; what lies beyond it is cut off
  kNone,  // every page at its own size, centred on the sheet; what lies beyond it is cut off
};

// The job's page geometry, which a document is rendered for.
struct PageGeometry {
  int xResolution = 600;
  int yResolution = 600;
  int physicalWidth = 0;  // the sheet in dots, in the job's orientation
  int physicalHeight = 0;
  int offsetX = 0;  // the printable area's corner on the sheet, in dots
  int offsetY = 0;
  // The printable area's size in dots.
  int printableWidth = 0;
  int printableHeight = 0;
  PageScaling scaling = PageScaling::kAuto;
  // Each page must carry everything it uses (fonts), because it is kept and played again
  // on its own (an overlay capture).
  bool selfContainedPages = false;
};

class PageSource {
 public:
  virtual ~PageSource() = default;
  // True for a source that must know the job's geometry before it can count its pages;
  // the job then calls Prepare once it has started, before PageCount.
  virtual bool NeedsPreparing() const { return false; }
  // Starts rendering as soon as the job's geometry is known, before the job has started,
  // so that the renderer's start-up overlaps the job's. Never throws: a document that
  // cannot be rendered is reported by Prepare.
  virtual void Start(const PageGeometry&) {}
  // Throws HostError when the document cannot be printed.
  virtual void Prepare(const PageGeometry&) {}
  virtual std::size_t PageCount() const = 0;
  // The job's sheet changed (a page of another size or orientation, or custom margins):
  // pages drawn from now on are placed for `geometry`.
  virtual void SetGeometry(const PageGeometry&) {}
  // Page `page`'s own size and orientation (1-based), when the source knows it; reads
  // on to it. Throws HostError when the document cannot be printed.
  virtual std::optional<PageFormat> FormatOf(std::size_t) { return std::nullopt; }
  // Draws page `page` (1-based). Throws HostError when the document cannot be printed.
  virtual void DrawPage(std::size_t page, Canvas& canvas) = 0;
  // Called once every page has been drawn, before the job ends; throws HostError when
  // the document turned out not to print whole.
  virtual void Finish() {}
};

// The built-in sample document: `pages` pages of rules, boxes, a large page number and a
// grey-scale ramp, drawn without fonts.
std::unique_ptr<PageSource> MakeSamplePageSource(std::size_t pages);

// A PDF, PostScript or EPS document ("-": standard input, read at once into a temporary
// file), rendered by Ghostscript for the job's geometry when the job prepares it. Throws
// HostError when standard input cannot be read.
// `pageRanges` picks pages ("1-3,7"; empty: all), in Ghostscript's page-list syntax,
// checked by ParsePageRanges. Ghostscript runs under `limits`: a document that uses one
// up fails the job, naming the limit. Messages name the document `name`, by default its
// path ("standard input" for "-"); a spooler names it after the job, whose file is its own.
std::unique_ptr<PageSource> MakeDocumentPageSource(const std::string& path, const std::string& pageRanges = {},
                                                   const platform::ProgramLimits& limits = {},
                                                   const std::string& name = {});

// The highest page number a page-range list names.
constexpr long kMaxPageNumber = 99'999'999;

// Checks a page-range list: comma-separated pages ("7") and ranges ("1-3", "-3" from the
// first page, "5-" to the end), every page from 1 to kMaxPageNumber (a range's end past
// it runs to the end), each range in ascending order; empty items and spaces around numbers and separators are skipped.
// Returns it in the document's order with overlaps merged ("4,1-2,2-3" gives "1-4"), as
// Ghostscript takes it; throws HostError naming what is wrong, after `name` and the list
// ("--page-ranges '3-1': ..."; a spooler names the list as its clients give it).
std::string ParsePageRanges(const std::string& ranges, const std::string& name = "--page-ranges");

}  // namespace velmora::host
