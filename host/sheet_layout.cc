// N-up and booklet sheets: which page goes in which cell, and the escapes that tell the plug-in.
#include "host/sheet_layout.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>

#include "formats/host_interface.h"
#include "formats/le_bytes.h"
#include "formats/vendor_settings.h"
#include "host/host_error.h"

namespace velmora::host {
namespace {

struct Grid {
  int pagesPerSheet;
  int portraitColumns;
  int portraitRows;
};

// Columns and rows of a portrait sheet; a landscape sheet exchanges them.
constexpr Grid kGrids[] = {{1, 1, 1}, {2, 1, 2}, {4, 2, 2}, {6, 2, 3}, {8, 2, 4}, {9, 3, 3}, {16, 4, 4}};
static_assert(std::size(kGrids) == 7);

constexpr std::uint32_t kNupOrderCount = 8;
constexpr std::uint32_t kTwoUpReversed = 1;

const Grid* GridOf(int pagesPerSheet) {
  for (const Grid& grid : kGrids) {
    if (grid.pagesPerSheet == pagesPerSheet) return &grid;
  }
  return nullptr;
}

bool TurnedLayout(int pagesPerSheet) { return pagesPerSheet == 2 || pagesPerSheet == 6 || pagesPerSheet == 8; }

// The column and row of the q-th page (0-based) of an N-up sheet, in the grid as the
// reader sees it.
std::pair<int, int> NupPosition(int q, int columns, int rows, std::uint32_t order) {
  if (order >= kNupOrderCount) order = 0;
  const bool columnByColumn = order < 4;
  const std::uint32_t corner = order % 4;
  const bool rightToLeft = (corner & 1) != 0;
  const bool bottomToTop = (corner & 2) != 0;
  int column = columnByColumn ? q / rows : q % columns;
  int row = columnByColumn ? q % rows : q / columns;
  if (rightToLeft) column = columns - 1 - column;
  if (bottomToTop) row = rows - 1 - row;
  return {column, row};
}

// The order a reader sees when an order laid out on the sheet is read with the sheet
// turned a quarter clockwise: each direction turns with it (right becomes down, down
// left, left up, up right).
std::uint32_t TurnOrderClockwise(std::uint32_t order) {
  if (order >= kNupOrderCount) order = 0;
  // Each order as its first direction and its second, and the orders by those directions.
  enum Direction { kRight, kDown, kLeft, kUp };
  constexpr std::pair<Direction, Direction> kDirections[kNupOrderCount] = {
      {kDown, kRight}, {kDown, kLeft}, {kUp, kRight}, {kUp, kLeft},
      {kRight, kDown}, {kLeft, kDown}, {kRight, kUp}, {kLeft, kUp}};
  const auto turn = [](Direction direction) { return static_cast<Direction>((direction + 1) % 4); };
  const std::pair<Direction, Direction> turned{turn(kDirections[order].first), turn(kDirections[order].second)};
  for (std::uint32_t candidate = 0; candidate < kNupOrderCount; ++candidate) {
    if (kDirections[candidate] == turned) return candidate;
  }
  return order;
}

LONG Round(double value) { return static_cast<LONG>(std::lround(value)); }

ULONG Send(const EscapeFunction& escape, ULONG code, std::uint8_t* input, ULONG size) {
  return escape(code, size, input, 0, nullptr);
}

}  // namespace

SheetLayoutSettings SheetLayoutSettingsOf(std::uint8_t* settingsBody, std::int16_t orientation) {
  SheetLayoutSettings layout;
  layout.portrait = orientation == 1;
  if (settingsBody == nullptr) return layout;
  const VendorSettings settings(settingsBody);
  layout.pagesPerSheet = settings.vdmPagesPerSheet();
  layout.booklet = settings.bBooklet() != 0;
  layout.bookletReverse = settings.bBookletReverse() != 0;
  layout.bookletSubset = settings.sBookletSubset();
  layout.twoUpOrder = settings.dwTwoUpOrder();
  layout.nupOrder = settings.dwNupOrder();
  layout.scale = settings.fScale();
  return layout;
}

POINTL PageTransform::Apply(POINTL point) const {
  double x = point.x;
  double y = point.y;
  if (quarterTurn) {
    // Counter-clockwise: the page's top edge comes to the left, its left edge to the bottom.
    x = point.y;
    y = static_cast<double>(pageWidth) - point.x;
  }
  return {Round(offsetX + x * scale), Round(offsetY + y * scale)};
}

RECTL PageTransform::Apply(const RECTL& rect) const {
  const POINTL a = Apply(POINTL{rect.left, rect.top});
  const POINTL b = Apply(POINTL{rect.right, rect.bottom});
  return {std::min(a.x, b.x), std::min(a.y, b.y), std::max(a.x, b.x), std::max(a.y, b.y)};
}

SheetPlan::SheetPlan(const SheetLayoutSettings& settings, std::size_t pageCount, SIZEL sheetSize)
    : sheetSize_(sheetSize), pageCount_(pageCount) {
  // The zoom shrinks pages inside their cells; a zoom that would not fit is not applied.
  const float scale = settings.scale;
  zoom_ = std::isfinite(scale) && scale > 0.0F && scale <= 1.0F ? scale : 1.0F;
  const int perSheet = settings.booklet ? 2 : settings.pagesPerSheet;
  const Grid* grid = GridOf(perSheet);
  if (grid == nullptr) grid = GridOf(1);
  pagesPerSheet_ = grid->pagesPerSheet;
  turned_ = TurnedLayout(pagesPerSheet_);
  booklet_ = settings.booklet;
  readTurned_ = booklet_ || turned_ != settings.pagesAcross;
  const int columns = settings.portrait ? grid->portraitColumns : grid->portraitRows;
  const int rows = settings.portrait ? grid->portraitRows : grid->portraitColumns;
  if (settings.booklet) {
    AddBookletSheets(settings, columns, rows);
    return;
  }
  AddNupSheets(settings, columns, rows);
}

SheetCell SheetPlan::CellAt(std::size_t page, int across, int down, int columns, int rows) const {
  // A reader who turns the sheet a quarter clockwise has its left column on top and its
  // bottom row on the left.
  const int column = readTurned_ ? down : across;
  const int row = readTurned_ ? rows - 1 - across : down;
  SheetCell cell;
  cell.page = page;
  const LONG width = sheetSize_.cx;
  const LONG height = sheetSize_.cy;
  cell.cell = {static_cast<LONG>(static_cast<long long>(width) * column / columns),
               static_cast<LONG>(static_cast<long long>(height) * row / rows),
               static_cast<LONG>(static_cast<long long>(width) * (column + 1) / columns),
               static_cast<LONG>(static_cast<long long>(height) * (row + 1) / rows)};
  const double cellWidth = cell.cell.right - cell.cell.left;
  const double cellHeight = cell.cell.bottom - cell.cell.top;
  const double pageWidth = turned_ ? height : width;
  const double pageHeight = turned_ ? width : height;
  double fit = 1.0;
  if (pageWidth > 0 && pageHeight > 0) fit = std::min(cellWidth / pageWidth, cellHeight / pageHeight);
  PageTransform& transform = cell.transform;
  transform.scale = fit * zoom_;
  transform.quarterTurn = turned_;
  transform.pageWidth = width;
  transform.offsetX = cell.cell.left + (cellWidth - pageWidth * transform.scale) / 2;
  transform.offsetY = cell.cell.top + (cellHeight - pageHeight * transform.scale) / 2;
  transform.keepsPagesUpright = booklet_;
  transform.clipsToPage = pagesPerSheet_ > 1;
  return cell;
}

void SheetPlan::AddNupSheets(const SheetLayoutSettings& settings, int columns, int rows) {
  const auto perSheet = static_cast<std::size_t>(pagesPerSheet_);
  const std::size_t sheetCount = (pageCount_ + perSheet - 1) / perSheet;
  // The grid as the reader sees it.
  const int across = readTurned_ ? rows : columns;
  const int down = readTurned_ ? columns : rows;
  const bool orderTurned = settings.orderOnSheet && settings.pagesAcross;
  const std::uint32_t order = orderTurned ? TurnOrderClockwise(settings.nupOrder) : settings.nupOrder;
  // Two pages in a row (a column) come right (bottom) first when the order runs that way;
  // pdftopdf follows the order along whichever way the two pages lie.
  bool twoUpReversed = settings.twoUpOrder == kTwoUpReversed;
  if (settings.orderOnSheet) {
    const std::pair<int, int> first = NupPosition(0, 2, 2, order);
    twoUpReversed = across == 1 ? first.second == 1 : first.first == 1;
  }
  for (std::size_t s = 0; s < sheetCount; ++s) {
    Sheet sheet;
    for (std::size_t slot = 0; slot < perSheet; ++slot) {
      const std::size_t page = s * perSheet + slot + 1;
      const int q = static_cast<int>(slot);
      std::pair<int, int> position;
      if (pagesPerSheet_ == 2) {
        const int along = twoUpReversed ? 1 - q : q;
        position = across == 1 ? std::pair<int, int>{0, along} : std::pair<int, int>{along, 0};
      } else {
        position = NupPosition(q, across, down, order);
      }
      sheet.cells.push_back(CellAt(page <= pageCount_ ? page : 0, position.first, position.second, columns, rows));
    }
    sheets_.push_back(std::move(sheet));
  }
}

void SheetPlan::AddBookletSheets(const SheetLayoutSettings& settings, int columns, int rows) {
  const std::size_t padded = 4 * ((pageCount_ + 3) / 4);
  std::size_t subset = 0;
  if (settings.bookletSubset > 0 && static_cast<std::size_t>(settings.bookletSubset) <= pageCount_) {
    subset = static_cast<std::size_t>(settings.bookletSubset);
  }
  if (subset % 4 != 0) {
    throw HostError("The booklet subset of " + std::to_string(subset) +
                    " pages is not a whole number of sheets (a multiple of 4 pages)");
  }
  // Each subset (the whole booklet when there is none) is folded on its own: side j of
  // it holds its (j + 1)-th page from the front and from the back. Read unfolded, the
  // outside of a sheet shows the later page first (8|1), its inside the earlier (2|7);
  // a reversed booklet, bound on the other edge, the other way round.
  const int across = readTurned_ ? rows : columns;
  for (std::size_t first = 0; first < padded;) {
    const std::size_t size = subset == 0 ? padded : std::min(subset, padded - first);
    for (std::size_t j = 0; j < size / 2; ++j) {
      const std::size_t low = first + j + 1;
      const std::size_t high = first + size - j;
      const bool highFirst = (j % 2 == 0) != settings.bookletReverse;
      const std::size_t leading = highFirst ? high : low;
      const std::size_t trailing = highFirst ? low : high;
      Sheet sheet;
      sheet.cells.resize(2);
      for (const auto& [page, along] : {std::pair{leading, 0}, std::pair{trailing, 1}}) {
        const std::pair<int, int> position =
            across == 1 ? std::pair<int, int>{0, along} : std::pair<int, int>{along, 0};
        sheet.cells[(page - 1) % 2] =
            CellAt(page <= pageCount_ ? page : 0, position.first, position.second, columns, rows);
      }
      sheets_.push_back(std::move(sheet));
    }
    first += size;
  }
}

GrayImage TurnQuarterCounterClockwise(const GrayImage& image) {
  GrayImage turned;
  if (image.width <= 0 || image.height <= 0 ||
      image.pixels.size() < static_cast<std::size_t>(image.width) * static_cast<std::size_t>(image.height)) {
    return turned;
  }
  turned.width = image.height;
  turned.height = image.width;
  turned.pixels.resize(image.pixels.size());
  for (int y = 0; y < turned.height; ++y) {
    for (int x = 0; x < turned.width; ++x) {
      // The new row y is the old column width - 1 - y, read from the top down.
      const std::size_t from = static_cast<std::size_t>(x) * static_cast<std::size_t>(image.width) +
                               static_cast<std::size_t>(image.width - 1 - y);
      turned
          .pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(turned.width) + static_cast<std::size_t>(x)] =
          image.pixels[from];
    }
  }
  return turned;
}

void TransformedCanvas::FillRect(const RECTL& rect, Color color) { sheet_.FillRect(transform_.Apply(rect), color); }

void TransformedCanvas::DrawImage(const GrayImage& image, const RECTL& dest) {
  if (!transform_.quarterTurn) {
    sheet_.DrawImage(image, transform_.Apply(dest));
    return;
  }
  sheet_.DrawImage(TurnQuarterCounterClockwise(image), transform_.Apply(dest));
}

void TransformedCanvas::DrawLine(POINTL from, POINTL to, Color color) {
  sheet_.DrawLine(transform_.Apply(from), transform_.Apply(to), color);
}

void SheetPlan::Move(LONG dx, LONG dy) {
  for (Sheet& sheet : sheets_) {
    for (SheetCell& cell : sheet.cells) {
      cell.cell.left += dx;
      cell.cell.right += dx;
      cell.cell.top += dy;
      cell.cell.bottom += dy;
      cell.transform.offsetX += dx;
      cell.transform.offsetY += dy;
    }
  }
}

void SheetPlan::Reverse(bool twoSided) {
  if (twoSided && sheets_.size() % 2 == 1) {
    Sheet blank = sheets_.back();
    for (SheetCell& cell : blank.cells) cell.page = 0;
    sheets_.push_back(std::move(blank));
  }
  std::reverse(sheets_.begin(), sheets_.end());
}

std::vector<std::size_t> KeptSides(const SideSelection& selection, std::size_t sideCount) {
  // Each part of the list, checked already: "7", "1-3" or "5-" (to the end).
  std::vector<std::pair<std::size_t, std::size_t>> ranges;
  for (std::size_t start = 0; start < selection.ranges.size();) {
    const std::size_t comma = std::min(selection.ranges.find(',', start), selection.ranges.size());
    const std::string part = selection.ranges.substr(start, comma - start);
    start = comma + 1;
    const std::size_t dash = part.find('-');
    const std::size_t first = std::stoul(part.substr(0, dash));
    std::size_t last = first;
    if (dash != std::string::npos) last = dash + 1 == part.size() ? sideCount : std::stoul(part.substr(dash + 1));
    ranges.emplace_back(first, last);
  }
  std::vector<std::size_t> kept;
  for (std::size_t side = 1; side <= sideCount; ++side) {
    if (selection.set == SideSet::kOdd && side % 2 == 0) continue;
    if (selection.set == SideSet::kEven && side % 2 == 1) continue;
    const bool named = ranges.empty() || std::any_of(ranges.begin(), ranges.end(), [side](const auto& range) {
                         return side >= range.first && side <= range.second;
                       });
    if (named) kept.push_back(side);
  }
  if (kept.empty()) {
    std::string picked = selection.ranges.empty() ? "" : "sheet sides '" + selection.ranges + "'";
    if (selection.set != SideSet::kAll) picked += picked.empty() ? "the " : ", of them the ";
    if (selection.set != SideSet::kAll) picked += selection.set == SideSet::kOdd ? "odd ones" : "even ones";
    throw HostError("None of the job's " + std::to_string(sideCount) +
                    " sheet side(s) is among those it picks: " + picked);
  }
  return kept;
}

KeptPages PagesOfKeptSides(const SideSelection& selection, std::size_t pageCount, int perSide) {
  const auto perSideCount = static_cast<std::size_t>(std::max(perSide, 1));
  const std::size_t sideCount = (pageCount + perSideCount - 1) / perSideCount;
  KeptPages kept;
  if (selection.picksAll() || selection.pagesPicked) {
    for (std::size_t page = 1; page <= pageCount; ++page) kept.pages.push_back(page);
    kept.blankSide = selection.set == SideSet::kEven && sideCount % 2 == 1;
    return kept;
  }
  const std::vector<std::size_t> sides = KeptSides(selection, sideCount);
  for (const std::size_t side : sides) {
    for (std::size_t page = (side - 1) * perSideCount + 1; page <= std::min(side * perSideCount, pageCount); ++page) {
      kept.pages.push_back(page);
    }
  }
  kept.blankSide = selection.set == SideSet::kEven && sides.size() % 2 == 1;
  return kept;
}

void SheetPlan::AddBlankSide() {
  if (sheets_.empty()) return;
  Sheet blank = sheets_.back();
  for (SheetCell& cell : blank.cells) cell.page = 0;
  sheets_.push_back(std::move(blank));
}

void TransformedCanvas::BeginContent(const ContentPlacement& placement) {
  ContentPlacement onSheet = placement;
  onSheet.scale = placement.scale * transform_.scale;
  if (!transform_.quarterTurn) {
    onSheet.x = transform_.offsetX + placement.x * transform_.scale;
    onSheet.y = transform_.offsetY + placement.y * transform_.scale;
  } else {
    // The cell turns the page: the content's origin goes where the turn takes it, and the
    // content turns once more.
    onSheet.x = transform_.offsetX + placement.y * transform_.scale;
    onSheet.y = transform_.offsetY + (static_cast<double>(transform_.pageWidth) - placement.x) * transform_.scale;
    onSheet.quarterTurns = (placement.quarterTurns + 1) % 4;
  }
  sheet_.BeginContent(onSheet);
  if (!transform_.clipsToPage) return;
  const SIZEL page = PageSize();
  sheet_.ClipContent(transform_.Apply(RECTL{0, 0, page.cx, page.cy}));
}

void LayoutEscapes::SendDocumentStart(const EscapeFunction& escape) {
  std::uint8_t perSheet[2];
  le::PutI16(perSheet, static_cast<std::int16_t>(plan_.pagesPerSheet()));
  Send(escape, ESCAPE_PAGES_PER_SHEET, perSheet, sizeof perSheet);
  std::uint8_t scale[4];
  le::PutF32(scale, plan_.zoom());
  Send(escape, ESCAPE_SCALE, scale, sizeof scale);

  FindWatermarkDcField(escape);
  SendSheet(escape, 0);
}

void LayoutEscapes::FindWatermarkDcField(const EscapeFunction& escape) {
  // The plug-in answers with the address of its field for the drawing context.
  std::uint8_t address[8] = {};
  const ULONG answer = escape(ESCAPE_WATERMARK_DC, 0, nullptr, sizeof address, address);
  watermarkDcField_ = nullptr;
  if (answer >= sizeof(HANDLE*)) std::memcpy(&watermarkDcField_, address, sizeof watermarkDcField_);
}

void LayoutEscapes::SendSheet(const EscapeFunction& escape, std::size_t index) {
  if (index >= plan_.sheets().size()) return;
  if (!specialPages_.empty()) {
    std::uint8_t kind[4];
    const auto found = specialPages_.find(index + 1);
    le::PutU32(kind, found != specialPages_.end() ? found->second : 0);
    Send(escape, ESCAPE_SPECIAL_PAGE_KIND, kind, sizeof kind);
  }
  // The application names the page total before every page, as the document knows it.
  std::uint8_t total[4];
  le::PutU32(total, static_cast<std::uint32_t>(plan_.pageCount()));
  Send(escape, ESCAPE_PAGE_TOTAL, total, sizeof total);
  for (const SheetCell& cell : plan_.sheets()[index].cells) {
    std::uint8_t rect[16];
    le::PutI32(rect, cell.cell.left);
    le::PutI32(rect + 4, cell.cell.top);
    le::PutI32(rect + 8, cell.cell.right);
    le::PutI32(rect + 12, cell.cell.bottom);
    Send(escape, ESCAPE_CELL_RECT, rect, sizeof rect);
  }
}

}  // namespace velmora::host
