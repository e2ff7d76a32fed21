// The choice of watermark for each logical page of a sheet, and reading the chosen
// records from the printer's watermark settings file.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "formats/watermark_settings.h"

namespace velmora {
namespace Utility {

// Reads the record of section `sectionNumber` from the settings file into `settings`.
// False, leaving `settings` as it was, when `settings` is null or the file, section or
// key is missing, or the stored value is not one intact 816-byte record.
bool GetCurrentSelectedWatermarkSettings(std::int32_t sectionNumber, WatermarkSettings* settings,
                                         const WString& settingsPath);

}  // namespace Utility

// Which of the two watermarks a page gets: 0 the first-page watermark, 1 the next-pages
// one, nothing for an unknown usage (the caller's record is then left as it was).
// `sheetCounter` counts sheet sides from 1.
std::optional<std::int32_t> SelectWatermark(std::int32_t eWMUsage, std::int32_t currentPage, std::int32_t sheetCounter,
                                            std::int32_t pagesPerSheet);

// Whether a sheet side counts: ordinary sheets do, special pages only when they are of
// kind 1 and that kind's page rule is 2.
bool AdvancesSheetCounter(std::uint32_t dwSpecialPageKind, std::uint32_t kind1PageRule);

// One logical page of a sheet that gets a watermark.
struct WatermarkCell {
  std::int32_t currentPage;                    // the page number in the job, from 1
  std::int32_t cellIndex;                      // (currentPage - 1) modulo pages per sheet
  std::optional<std::int32_t> watermarkIndex;  // as SelectWatermark answers

  bool operator==(const WatermarkCell&) const = default;
};

// The logical pages of sheet side `sheetCounter` (from 1) that get a watermark, in the
// order the cells are visited. Cell i shows page (sheetCounter - 1) * pagesPerSheet +
// layoutOrder[i]; in a booklet it shows layoutOrder[i + 2 * sheetCounter - 2]. The walk
// stops at the end of the layout order; pages past the job's last page, pages below 1,
// and every page but page 1 under WM_FIRSTPAGEONLY are left out.
std::vector<WatermarkCell> SheetWatermarkCells(std::int32_t pagesPerSheet, std::span<const std::int32_t> layoutOrder,
                                               std::int32_t sheetCounter, bool booklet, std::uint32_t totalPages,
                                               std::int32_t eWMUsage);

}  // namespace velmora
