// Where each logical page's watermark goes on an N-up or booklet sheet.
#include "src/watermark/watermark_layout.h"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <limits>

#include "formats/vendor_settings.h"
#include "src/support/log.h"

namespace velmora {
namespace {

struct SheetGrid {
  std::int16_t pagesPerSheet;
  int portraitColumns;
  int portraitRows;
};

// Columns and rows of a portrait sheet; any other orientation exchanges them.
constexpr SheetGrid kSheetGrids[] = {
    {1, 1, 1}, {2, 1, 2}, {4, 2, 2}, {6, 2, 3}, {8, 2, 4}, {9, 3, 3}, {16, 4, 4},
};
static_assert(std::size(kSheetGrids) == 7);

// How the point size and the scale of a watermark shrink for a pages-per-sheet value.
struct NupShrink {
  std::int16_t pagesPerSheet;
  std::uint32_t pointSizeDivisor;
  float nupScale;
};

constexpr NupShrink kNupShrinks[] = {
    {2, 2, 0.75F}, {4, 2, 0.75F}, {6, 3, 0.33333334F}, {8, 4, 0.25F}, {9, 3, 0.33333334F}, {16, 4, 0.25F},
};
static_assert(std::size(kNupShrinks) == 6);

// The start s, the inner step of v and the step of s of the N-up orders 1 to 7, as
// multiples of 1, `rows`, `cols` and T = cols x rows. Order 0 lists 1 ... T.
struct NupOrderSteps {
  int startT, startRows, startCols, startOne;
  int innerOne, innerCols;
  int outerOne, outerRows;
};

constexpr NupOrderSteps kNupOrders[] = {
    {1, -1, 0, 1, 1, 0, 0, -1},  // 1: T - (rows - 1), +1, -rows
    {0, 1, 0, 0, -1, 0, 0, 1},   // 2: rows, -1, +rows
    {1, 0, 0, 0, -1, 0, 0, -1},  // 3: T, -1, -rows
    {0, 0, 0, 1, 0, 1, 1, 0},    // 4: 1, +cols, +1
    {0, 0, 1, 0, 0, 1, -1, 0},   // 5: cols, +cols, -1
    {1, 0, -1, 1, 0, -1, 1, 0},  // 6: T - (cols - 1), -cols, +1
    {1, 0, 0, 0, 0, -1, -1, 0},  // 7: T, -cols, -1
};
static_assert(std::size(kNupOrders) == 7);

constexpr std::uint32_t kTwoUpFirstThenSecond = 0;
constexpr std::uint32_t kTwoUpSecondThenFirst = 1;

// Appends one booklet pair: by the parity of j and the reverse flag, high page first or
// low page first.
void AppendPair(std::vector<std::int32_t>& order, std::int64_t j, bool reverse, std::int64_t low, std::int64_t high) {
  const bool highFirst = (j % 2 == 0) != reverse;
  order.push_back(static_cast<std::int32_t>(highFirst ? high : low));
  order.push_back(static_cast<std::int32_t>(highFirst ? low : high));
}

// A float product truncated to an unsigned 32-bit value; what no such value holds (a
// negative or non-finite scale) gives 0, and what is too large the largest value.
std::uint32_t TruncatedProduct(std::uint32_t value, float scale) {
  const float product = static_cast<float>(value) * scale;
  if (!std::isfinite(product) || product <= 0.0F) return 0;
  if (product >= 4294967296.0F) return std::numeric_limits<std::uint32_t>::max();
  return static_cast<std::uint32_t>(product);
}

// The turned copy of one record's image, shared with the other record when both name the
// same image so that one copy serves both and is deleted once.
void TurnRecordImage(WatermarkAdjustment& record, const TurnImageFunction& turnImage, TurnedImageCopies& copies,
                     const WString* sameImage, const WatermarkAdjustment* sameRecord) {
  if (record.imagePath.empty()) return;
  if (sameImage != nullptr && sameRecord != nullptr && *sameImage == record.imagePath) {
    record.imagePath = sameRecord->imagePath;
    record.imageAvailable = sameRecord->imageAvailable;
    return;
  }
  std::optional<WString> copy;
  if (turnImage) copy = turnImage(record.imagePath, kRotatedLayoutQuarterTurns);
  if (!copy || copy->empty() || *copy == record.imagePath) {
    // Without a copy of its own the record places nothing: the user's image is neither
    // drawn unturned nor ever put on the list of files to delete.
    LogMessage(VTEXT("VELMORA - CWaterMarkRenderrer::SetNupWatermarkParameters => the image could not be turned\r\n"));
    record.imageAvailable = false;
    return;
  }
  if (!copies.Contains(*copy)) copies.Add(*copy);
  record.imagePath = *copy;
}

}  // namespace

LayoutSettings LayoutSettingsOf(std::uint8_t* pVendorDM) {
  LayoutSettings layout;
  if (pVendorDM == nullptr) return layout;
  const VendorSettings settings(pVendorDM);
  layout.vdmPagesPerSheet = settings.vdmPagesPerSheet();
  layout.bBooklet = settings.bBooklet();
  layout.dwTwoUpOrder = settings.dwTwoUpOrder();
  layout.dwNupOrder = settings.dwNupOrder();
  layout.bBookletReverse = settings.bBookletReverse();
  layout.sBookletSubset = settings.sBookletSubset();
  layout.dwSpecialPageKind = settings.dwSpecialPageKind();
  layout.fScale = settings.fScale();
  return layout;
}

bool IsRotatedLayout(std::int16_t pagesPerSheet) {
  return pagesPerSheet == 2 || pagesPerSheet == 6 || pagesPerSheet == 8;
}

namespace Utility {

void GetLayoutInfo(int& columns, int& rows, const LayoutSettings& settings, std::int16_t orientation) {
  for (const SheetGrid& grid : kSheetGrids) {
    if (grid.pagesPerSheet != settings.vdmPagesPerSheet) continue;
    const bool portrait = orientation == kOrientationPortrait;
    columns = portrait ? grid.portraitColumns : grid.portraitRows;
    rows = portrait ? grid.portraitRows : grid.portraitColumns;
    return;
  }
}

void GetLayoutData(int columns, int rows, std::vector<std::int32_t>& layoutOrder, const LayoutSettings& settings) {
  if (settings.vdmPagesPerSheet == 2) {
    if (settings.dwTwoUpOrder == kTwoUpFirstThenSecond) layoutOrder.insert(layoutOrder.end(), {1, 2});
    if (settings.dwTwoUpOrder == kTwoUpSecondThenFirst) layoutOrder.insert(layoutOrder.end(), {2, 1});
    return;
  }
  if (columns < 1 || rows < 1) return;
  const int total = columns * rows;
  if (settings.dwNupOrder == 0) {
    for (int v = 1; v <= total; ++v) layoutOrder.push_back(v);
    return;
  }
  if (settings.dwNupOrder > std::size(kNupOrders)) return;
  const NupOrderSteps& steps = kNupOrders[settings.dwNupOrder - 1];
  int start = steps.startT * total + steps.startRows * rows + steps.startCols * columns + steps.startOne;
  const int inner = steps.innerOne + steps.innerCols * columns;
  const int outer = steps.outerOne + steps.outerRows * rows;
  for (int column = 0; column < columns; ++column) {
    int v = start;
    for (int row = 0; row < rows; ++row) {
      layoutOrder.push_back(v);
      v += inner;
    }
    start += outer;
  }
}

}  // namespace Utility

bool BuildBookletOrder(std::uint32_t totalPages, const LayoutSettings& settings,
                       std::vector<std::int32_t>& layoutOrder) {
  const std::int64_t pages = std::min(totalPages, kMaxBookletPages);
  std::int64_t subset = settings.sBookletSubset;
  if (subset < 0 || pages < subset) subset = 0;
  const std::int64_t padded = 4 * ((pages + 3) / 4);
  const bool reverse = settings.bBookletReverse != 0;
  const std::int64_t pairs = padded / 2;

  if (subset == 0) {
    for (std::int64_t j = 0; j < pairs; ++j) AppendPair(layoutOrder, j, reverse, j + 1, padded - j);
    return true;
  }
  const std::int64_t fullSubsets = padded / subset;
  const std::int64_t remainder = padded % subset;
  std::int64_t emitted = 0;
  std::int64_t m = 1;
  for (; m <= fullSubsets && emitted < pairs; ++m) {
    for (std::int64_t j = 0; j < subset / 2 && emitted < pairs; ++j, ++emitted) {
      AppendPair(layoutOrder, j, reverse, subset * (m - 1) + j + 1, subset * m - j);
    }
  }
  if (remainder > 0 && emitted < pairs) {
    for (std::int64_t j = 0; j < remainder / 2; ++j) {
      AppendPair(layoutOrder, j, reverse, subset * fullSubsets + j + 1, padded - j);
    }
  }
  return true;
}

std::vector<std::int32_t> BuildLayoutOrder(const LayoutSettings& settings, std::int16_t orientation,
                                           std::uint32_t totalPages) {
  std::vector<std::int32_t> order;
  if (settings.bBooklet != 0) {
    BuildBookletOrder(totalPages, settings, order);
    return order;
  }
  int columns = 1;
  int rows = 1;
  Utility::GetLayoutInfo(columns, rows, settings, orientation);
  Utility::GetLayoutData(columns, rows, order, settings);
  return order;
}

void SetBorderRectsForPage(std::vector<CellRect>& pageRects, const LayoutSettings& settings,
                           DeviceResolution resolution, const CellRect* cellList, std::size_t cellCapacity) {
  const std::int16_t perSheet = settings.vdmPagesPerSheet;
  const std::uint32_t kind = settings.dwSpecialPageKind;
  if (kind >= 1 && kind <= 3 && perSheet >= 2) return;
  if (perSheet == 1) {
    if (pageRects.empty()) return;
    pageRects[0] = CellRect{0, 0, resolution.horizontal, resolution.vertical};
    LogMessage(VTEXT("VELMORA - CWaterMarkRenderrer::SetBorderRectsForPage => m_WMPageRect[0].top = 0\r\n"));
    LogMessage(VTEXT("VELMORA - CWaterMarkRenderrer::SetBorderRectsForPage => m_WMPageRect[0].left = 0\r\n"));
    LogMessageLong(VTEXT("VELMORA - CWaterMarkRenderrer::SetBorderRectsForPage => m_WMPageRect[0].right = "),
                   resolution.horizontal);
    LogMessageLong(VTEXT("VELMORA - CWaterMarkRenderrer::SetBorderRectsForPage => m_WMPageRect[0].bottom = "),
                   resolution.vertical);
    return;
  }
  const bool hasGrid = std::any_of(std::begin(kSheetGrids), std::end(kSheetGrids),
                                   [perSheet](const SheetGrid& grid) { return grid.pagesPerSheet == perSheet; });
  if (!hasGrid || cellList == nullptr || pageRects.empty()) return;
  const std::size_t count = std::min({static_cast<std::size_t>(perSheet), cellCapacity, pageRects.size()});
  std::copy(cellList, cellList + count, pageRects.begin());
}

void SetBorderRectsForPage(std::vector<CellRect>& pageRects, const LayoutSettings& settings,
                           DeviceResolution resolution, const VendorData* vendorData) {
  const CellRect* list = vendorData != nullptr ? vendorData->pCellRects.get() : nullptr;
  const std::size_t capacity = vendorData != nullptr ? vendorData->wCellRectCapacity : 0;
  SetBorderRectsForPage(pageRects, settings, resolution, list, capacity);
}

bool TurnedImageCopies::Contains(const WString& path) const {
  return std::find(paths_.begin(), paths_.end(), path) != paths_.end();
}

void TurnedImageCopies::Clear() {
  for (const WString& path : paths_) {
    if (deleteFile_) deleteFile_(path);
  }
  paths_.clear();
}

void SetNupWatermarkParameters(const LayoutSettings& settings, float& nupScale, WatermarkAdjustment* firstPage,
                               WatermarkAdjustment* nextPages, const TurnImageFunction& turnImage,
                               TurnedImageCopies& copies) {
  const std::int16_t perSheet = settings.vdmPagesPerSheet;
  const bool rotated = IsRotatedLayout(perSheet);
  const auto* shrink = std::find_if(std::begin(kNupShrinks), std::end(kNupShrinks),
                                    [perSheet](const NupShrink& row) { return row.pagesPerSheet == perSheet; });
  if (shrink != std::end(kNupShrinks)) nupScale = shrink->nupScale;
  nupScale *= settings.fScale;

  for (WatermarkAdjustment* record : {firstPage, nextPages}) {
    if (record == nullptr) continue;
    if (shrink != std::end(kNupShrinks)) {
      record->pointSize /= shrink->pointSizeDivisor;
      if (rotated) record->angle += 90;
    }
    record->pointSize = TruncatedProduct(record->pointSize, settings.fScale);
  }
  LogMessageDouble(VTEXT("VELMORA - CWaterMarkRenderrer::SetNupWatermarkParameters => m_fNupScale = "), nupScale);
  if (!rotated) return;

  // The first-page record's original image name, to recognise the same image in the
  // next-pages record after the first one has been renamed.
  const WString firstImage = firstPage != nullptr ? firstPage->imagePath : WString();
  if (firstPage != nullptr) TurnRecordImage(*firstPage, turnImage, copies, nullptr, nullptr);
  if (nextPages != nullptr) TurnRecordImage(*nextPages, turnImage, copies, &firstImage, firstPage);
}

}  // namespace velmora
