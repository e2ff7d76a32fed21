// The choice of watermark per page, and reading the chosen records from the settings file.
#include "src/watermark/watermark_selection.h"

#include <cstdint>

#include "formats/vendor_settings.h"
#include "platform/private_profile.h"
#include "src/support/log.h"

namespace velmora {
namespace Utility {

bool GetCurrentSelectedWatermarkSettings(std::int32_t sectionNumber, WatermarkSettings* settings,
                                         const WString& settingsPath) {
  const WString section = WatermarkSectionName(sectionNumber);
  LogMessage(VTEXT("VELMORA - Utility::GetCurrentSelectedWatermarkSettings => start\r\n"));
  if (settings == nullptr) {
    LogMessage(VTEXT("VELMORA - Utility::GetCurrentSelectedWatermarkSettings => end because the record is null.\r\n"));
    return false;
  }
  const auto bytes = platform::ReadProfileStruct(settingsPath, section, kWatermarkKey, WatermarkSettings::kSize);
  const auto record = bytes ? WatermarkSettings::FromBytes(*bytes) : std::nullopt;
  if (!record) {
    LogMessage(VTEXT(
        "VELMORA - Utility::GetCurrentSelectedWatermarkSettings => end because GetPrivateProfileStructW failed.\r\n"));
    return false;
  }
  *settings = *record;
  LogMessage(VTEXT("VELMORA - Utility::GetCurrentSelectedWatermarkSettings => end and return true\r\n"));
  return true;
}

}  // namespace Utility

std::optional<std::int32_t> SelectWatermark(std::int32_t eWMUsage, std::int32_t currentPage, std::int32_t sheetCounter,
                                            std::int32_t pagesPerSheet) {
  constexpr std::int32_t kFirstPage = 0;
  constexpr std::int32_t kNextPages = 1;
  switch (eWMUsage) {
    case WM_ALLPAGES:
    case WM_FIRSTPAGEONLY: return kFirstPage;
    case WM_FIRSTPAGE_OTHERPAGE: return currentPage == 1 && sheetCounter == 1 ? kFirstPage : kNextPages;
    case WM_EVEN_ODDPAGES:
      if (pagesPerSheet > 1) return currentPage % 2 != 0 ? kFirstPage : kNextPages;
      return sheetCounter % 2 != 0 ? kFirstPage : kNextPages;
    default: return std::nullopt;
  }
}

bool AdvancesSheetCounter(std::uint32_t dwSpecialPageKind, std::uint32_t kind1PageRule) {
  return dwSpecialPageKind == 0 || (dwSpecialPageKind == 1 && kind1PageRule == 2);
}

std::vector<WatermarkCell> SheetWatermarkCells(std::int32_t pagesPerSheet, std::span<const std::int32_t> layoutOrder,
                                               std::int32_t sheetCounter, bool booklet, std::uint32_t totalPages,
                                               std::int32_t eWMUsage) {
  std::vector<WatermarkCell> cells;
  // The page total is compared as a signed number, as the job's page counters are.
  const std::int64_t lastPage = static_cast<std::int32_t>(totalPages);
  for (std::int32_t i = 0; i < pagesPerSheet; ++i) {
    // The layout order may be shorter than the sheet's cells (an order or layout it has
    // no entries for): the walk ends where the list ends, before reading past it.
    std::int64_t page = 0;
    if (booklet) {
      const std::int64_t k = std::int64_t{i} + 2 * std::int64_t{sheetCounter} - 2;
      if (k < 0 || k >= static_cast<std::int64_t>(layoutOrder.size())) break;
      page = layoutOrder[static_cast<std::size_t>(k)];
    } else {
      if (static_cast<std::size_t>(i) >= layoutOrder.size()) break;
      page = (std::int64_t{sheetCounter} - 1) * pagesPerSheet + layoutOrder[static_cast<std::size_t>(i)];
    }
    // A page below 1 has no cell (its remainder would be negative).
    if (page > lastPage || page < 1 || page > INT32_MAX) continue;
    const auto currentPage = static_cast<std::int32_t>(page);
    if (eWMUsage == WM_FIRSTPAGEONLY && currentPage != 1) continue;
    cells.push_back({currentPage, (currentPage - 1) % pagesPerSheet,
                     SelectWatermark(eWMUsage, currentPage, sheetCounter, pagesPerSheet)});
  }
  return cells;
}

}  // namespace velmora
