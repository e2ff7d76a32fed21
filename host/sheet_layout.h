// The host's sheet layout: several logical pages on one sheet (N-up) or a booklet, each
// page drawn scaled (and for the turned layouts turned a quarter) into its cell of the
// sheet, and the private escapes that tell the plug-in about the layout, as the
// companion software of a real host sends them.
//
// The cells of a sheet form a grid of columns and rows. The N-up orders fill it as a
// reader sees the sheet, held so that its pages stand upright:
//   0 down then right   1 down then left   2 up then right   3 up then left
//   4 right then down   5 left then down   6 right then up   7 left then up
// (an order the host does not know fills as 0). Two pages per sheet follow the 2-up
// order instead: 0 first page first (on the left, or on top), 1 second page first. A
// booklet side holds its leading page first. The layouts of 2, 6 and 8 pages per sheet
// and booklets turn every page a quarter turn counter-clockwise, so that a page keeps its
// shape in the cells, which have the sheet's other orientation: its top goes to the
// sheet's left edge, and a reader turns the sheet a quarter clockwise to read it, so that
// the sheet's bottom edge is on the reader's left. A page that lies across its sheet
// (landscape on portrait) turns the other way round: turned a quarter to fit a cell that
// stands like the sheet, upright in a cell that turns its pages.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "formats/host_interface.h"
#include "host/page_source.h"

namespace velmora::host {

// The job settings that decide the layout.
struct SheetLayoutSettings {
  int pagesPerSheet = 1;  // 1, 2, 4, 6, 8, 9 or 16; any other value prints one per sheet
  bool booklet = false;   // two pages per sheet side, in booklet order
  bool bookletReverse = false;
  int bookletSubset = 0;  // pages per booklet subset; 0 for one booklet
  std::uint32_t twoUpOrder = 0;
  std::uint32_t nupOrder = 0;
  bool portrait = true;
  float scale = 1.0F;  // the settings' fScale: the pages' zoom inside their cells
  // The document's first page, taken for all its pages, lies across the sheet (landscape
  // on a portrait sheet, or the reverse): its pages are turned the other way round, and
  // the reader holds the sheet the other way round too. Booklet pages stand upright on
  // their booklet pages whatever their shape, so a booklet does not look at it.
  bool pagesAcross = false;
  // The N-up order is read on the sheet as it lies in its orientation, also when the
  // pages lie across it, as CUPS's pdftopdf lays pages out: the reader, who turns the
  // sheet a quarter clockwise to read such pages, sees the order turned a quarter
  // clockwise (left to right, top to bottom becomes top to bottom, right to left).
  bool orderOnSheet = false;
};

// The layout settings of a settings record body and the public orientation.
SheetLayoutSettings SheetLayoutSettingsOf(std::uint8_t* settingsBody, std::int16_t orientation);

// Maps a logical page's coordinates onto the sheet: an optional quarter turn
// counter-clockwise, then a scale, then an offset.
struct PageTransform {
  double scale = 1.0;
  double offsetX = 0;
  double offsetY = 0;
  bool quarterTurn = false;
  LONG pageWidth = 0;  // the logical page's width, about which the turn happens
  // A page that lies across the logical page is fitted upright rather than turned to fit:
  // a booklet's page, which is read as the booklet is bound.
  bool keepsPagesUpright = false;
  // Content drawn through the transform shows only inside the logical page's rectangle on
  // the sheet, so that nothing of it lands in another cell: an N-up or booklet cell.
  bool clipsToPage = false;

  POINTL Apply(POINTL point) const;
  // The rectangle through the transform, with its corners ordered.
  RECTL Apply(const RECTL& rect) const;
};

// One cell of a sheet and the logical page drawn in it (0: the cell stays blank).
struct SheetCell {
  std::size_t page = 0;
  RECTL cell{};
  PageTransform transform;
};

// One sheet side: its cells in the plug-in's slot order (slot i holds the pages p with
// (p - 1) mod pages-per-sheet = i), which is the order the cell escapes are sent in.
struct Sheet {
  std::vector<SheetCell> cells;
};

// The sheet sides a job sends, as CUPS's pdftopdf picks them once the pages are laid
// out: the sides numbered (from 1, in the document's order) in `ranges` (a page list
// ParsePageRanges gave; empty: every side), and of those the odd- or even-numbered
// ones. Without N-up a side is a page, numbered as in the document. With `pagesPicked`
// the document source renders only the kept sides' pages already (their page list went
// to it): they are laid out as they come, and only an even set's blank side is added.
enum class SideSet : std::uint8_t { kAll, kOdd, kEven };
struct SideSelection {
  std::string ranges;
  SideSet set = SideSet::kAll;
  bool pagesPicked = false;
  bool picksAll() const { return (ranges.empty() || pagesPicked) && set == SideSet::kAll; }
};

// The numbers of the sides of `sideCount` that `selection` keeps, in order. Throws
// HostError when it keeps none.
std::vector<std::size_t> KeptSides(const SideSelection& selection, std::size_t sideCount);

// The document pages a job lays out, `perSide` to a side, once `selection` picked the
// sides of its `pageCount` pages: each kept side's pages (a side holds N consecutive
// pages, the last side fewer), in order, and whether an even set of an odd count gets a
// blank side after them, as pdftopdf adds one so that the backs printed by hand match the
// fronts. The job lays these pages out as a document of their own: the plug-in is told
// their count, and the blank side holds no page. Throws HostError when no side is kept.
struct KeptPages {
  std::vector<std::size_t> pages;
  bool blankSide = false;
};
KeptPages PagesOfKeptSides(const SideSelection& selection, std::size_t pageCount, int perSide);

// The sheets of a document.
class SheetPlan {
 public:
  // Throws HostError for a booklet subset the sheets cannot hold (not a multiple of 4).
  SheetPlan(const SheetLayoutSettings& settings, std::size_t pageCount, SIZEL sheetSize);

  // The pages per sheet side the plug-in is told: 2 for a booklet.
  int pagesPerSheet() const { return pagesPerSheet_; }
  std::size_t pageCount() const { return pageCount_; }
  // The zoom applied inside the cells and sent to the plug-in as the scale.
  float zoom() const { return zoom_; }
  const std::vector<Sheet>& sheets() const { return sheets_; }
  // Moves every cell by (dx, dy) dots: the sheet's drawing origin is not the corner of the
  // area the cells were laid out in (custom margins moved it).
  void Move(LONG dx, LONG dy);
  // Puts the sheet sides last first, so that a face-up stack reads from the top. Two-sided
  // sheets are the whole print-out turned over: an odd count of sides gets a blank side
  // at its end first, so that every side keeps its sheet.
  void Reverse(bool twoSided);
  // Adds a blank side after the last (an even set's, see PagesOfKeptSides).
  void AddBlankSide();

 private:
  void AddNupSheets(const SheetLayoutSettings& settings, int columns, int rows);
  void AddBookletSheets(const SheetLayoutSettings& settings, int columns, int rows);
  // The cell of `page` at a position of the grid as the reader sees it (`across`
  // columns, `down` rows from the reader's top left corner).
  SheetCell CellAt(std::size_t page, int across, int down, int columns, int rows) const;

  SIZEL sheetSize_;
  std::size_t pageCount_;
  int pagesPerSheet_ = 1;
  bool turned_ = false;
  bool booklet_ = false;
  // The reader turns the sheet a quarter clockwise to read its pages.
  bool readTurned_ = false;
  float zoom_ = 1.0F;
  std::vector<Sheet> sheets_;
};

// A canvas that draws a logical page through a transform onto the sheet's canvas.
class TransformedCanvas : public Canvas {
 public:
  TransformedCanvas(Canvas& sheet, const PageTransform& transform) : sheet_(sheet), transform_(transform) {}

  // The logical page has the sheet's size and resolution.
  SIZEL PageSize() const override { return sheet_.PageSize(); }
  int Resolution() const override { return sheet_.Resolution(); }
  int QuarterTurns() const override { return (sheet_.QuarterTurns() + (transform_.quarterTurn ? 1 : 0)) % 4; }
  bool TurnsPagesAcross() const override { return !transform_.keepsPagesUpright && sheet_.TurnsPagesAcross(); }
  void FillRect(const RECTL& rect, Color color) override;
  void DrawImage(const GrayImage& image, const RECTL& dest) override;
  void DrawLine(POINTL from, POINTL to, Color color) override;
  // Content is placed through the cell's transform; its own coordinates pass unchanged.
  // A placement that turns already is not turned again. A cell that clips to its page
  // confines the content to the logical page's rectangle in the cell.
  void BeginContent(const ContentPlacement& placement) override;
  void EndContent() override { sheet_.EndContent(); }
  void ClipContent(const RECTL& rect) override { sheet_.ClipContent(transform_.Apply(rect)); }
  void WriteContent(std::span<const std::uint8_t> operators) override { sheet_.WriteContent(operators); }
  void ContentClipReplaced() override { sheet_.ContentClipReplaced(); }
  Color DrawContentText(const ContentText& text) override { return sheet_.DrawContentText(text); }
  void DrawContentImage(const ContentImage& image) override { sheet_.DrawContentImage(image); }
  void DrawContentLine(POINTL from, POINTL to, Color color, int width) override {
    sheet_.DrawContentLine(from, to, color, width);
  }

 private:
  Canvas& sheet_;
  PageTransform transform_;
};

// An image turned a quarter turn counter-clockwise.
GrayImage TurnQuarterCounterClockwise(const GrayImage& image);

// The device's escape: code, input size, input, output size, output; answers the result.
using EscapeFunction = std::function<ULONG(ULONG code, ULONG inputSize, void* input, ULONG outputSize, void* output)>;

// Sends the layout escapes of a document and of its sheets.
class LayoutEscapes {
 public:
  // `specialPages` maps sheet numbers (1-based) to special-page kinds; when it is empty no
  // kind is sent at all, and the settings' own kind stays.
  LayoutEscapes(const SheetPlan& plan, std::map<std::size_t, std::uint32_t> specialPages)
      : plan_(plan), specialPages_(std::move(specialPages)) {}

  // At the start of the document, after the plug-in saw the document start and before the
  // start-of-document command: the pages per sheet, the scale, the drawing context for
  // watermarks, then what goes before the first sheet.
  void SendDocumentStart(const EscapeFunction& escape);
  // Before sheet `index` (0-based): its special-page kind, the page total and its cells.
  void SendSheet(const EscapeFunction& escape, std::size_t index);

  // Asks the plug-in where its device keeps the drawing context for watermarks: at the
  // document's start, and again once the device moved to a new device mode.
  void FindWatermarkDcField(const EscapeFunction& escape);

  // Where the plug-in keeps the drawing context for watermarks, as the escape answered;
  // null until then, or when the plug-in gave no address.
  HANDLE* watermarkDcField() const { return watermarkDcField_; }

 private:
  const SheetPlan& plan_;
  std::map<std::size_t, std::uint32_t> specialPages_;
  HANDLE* watermarkDcField_ = nullptr;
};

}  // namespace velmora::host
