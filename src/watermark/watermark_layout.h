// The watermark renderer's page layout for N-up and booklet printing: how many columns
// and rows a sheet has, the page numbers in the order the cells of a sheet (or of a
// booklet) are visited, the cell rectangles of the current sheet, and how the watermark
// records are shrunk and turned for the smaller cells.
//
// Everything here works on explicit inputs so that it can be checked without a device
// context, a settings file or an image service.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <utility>
#include <vector>

#include "platform/types.h"
#include "src/job/vendor_data.h"

namespace velmora {

// The settings record's fields the layout reads.
struct LayoutSettings {
  std::int16_t vdmPagesPerSheet = 1;
  std::uint8_t bBooklet = 0;
  std::uint32_t dwTwoUpOrder = 0;
  std::uint32_t dwNupOrder = 0;
  std::uint8_t bBookletReverse = 0;
  std::int16_t sBookletSubset = 0;
  std::uint32_t dwSpecialPageKind = 0;
  float fScale = 1.0F;
};

// The fields of a settings record body (`pVendorDM`) that the layout reads.
LayoutSettings LayoutSettingsOf(std::uint8_t* pVendorDM);

// The public device mode's orientation value for portrait.
inline constexpr std::int16_t kOrientationPortrait = 1;

// The most pages a booklet order lists. A page total beyond it (only a broken page-total
// escape sends one) would make the list larger than any booklet that can be bound.
inline constexpr std::uint32_t kMaxBookletPages = 1U << 20;

// The layouts of 2, 6 and 8 pages per sheet, whose cells are turned by a quarter turn:
// the text angle gains 90 degrees, images are turned and the offset axes are exchanged.
bool IsRotatedLayout(std::int16_t pagesPerSheet);

namespace Utility {

// Columns and rows of a sheet for the pages per sheet and the public device mode's
// orientation. The caller starts both at 1; a pages-per-sheet value without a layout
// leaves them unchanged.
void GetLayoutInfo(int& columns, int& rows, const LayoutSettings& settings, std::int16_t orientation);

// Appends the page numbers 1 ... columns x rows in the order of `dwTwoUpOrder` (2 pages per
// sheet) or `dwNupOrder` (all other values). The cells are visited column by column, each
// column from top to bottom; the value appended for a cell is the page drawn in it. An
// order the table does not know appends nothing.
void GetLayoutData(int columns, int rows, std::vector<std::int32_t>& layoutOrder, const LayoutSettings& settings);

}  // namespace Utility

// Appends every page number of the booklet, two per sheet side, for `totalPages` logical
// pages padded to whole sheets (four pages each); side n of the booklet takes entries
// 2n - 2 and 2n - 1. `sBookletSubset` splits the booklet into subsets of that many pages;
// 0, a negative count or one larger than the page total makes one booklet. Always true.
bool BuildBookletOrder(std::uint32_t totalPages, const LayoutSettings& settings,
                       std::vector<std::int32_t>& layoutOrder);

// The renderer's whole layout order for a document: the booklet order when `bBooklet` is
// set, otherwise the N-up order for the orientation.
std::vector<std::int32_t> BuildLayoutOrder(const LayoutSettings& settings, std::int16_t orientation,
                                           std::uint32_t totalPages);

// The device's printable size in pixels (`HORZRES`, `VERTRES`).
struct DeviceResolution {
  std::int32_t horizontal = 0;
  std::int32_t vertical = 0;
};

// Refreshes the cell rectangles of the current sheet in `pageRects` (one per page of the
// sheet; entry i is the cell of the pages p with (p - 1) mod pages-per-sheet = i):
// - special pages on a sheet of several pages keep the previous cells;
// - one page per sheet: cell 0 is the whole printable area;
// - 2, 4, 6, 8, 9 or 16 pages per sheet: the cells the host delivered, taken from the
//   per-device cell list (`cellList` holding `cellCapacity` entries) when there is one.
//   Never more cells are read than the list holds, nor written than `pageRects` holds;
//   the cells the list lacks keep their previous content.
void SetBorderRectsForPage(std::vector<CellRect>& pageRects, const LayoutSettings& settings,
                           DeviceResolution resolution, const CellRect* cellList, std::size_t cellCapacity);

// The same, with the cell list of the per-device area.
void SetBorderRectsForPage(std::vector<CellRect>& pageRects, const LayoutSettings& settings,
                           DeviceResolution resolution, const VendorData* vendorData);

// What the N-up layout changes in one watermark record.
struct WatermarkAdjustment {
  std::uint32_t pointSize = 72;
  std::uint32_t angle = 45;
  WString imagePath;  // empty for a text watermark
  // False when the record's image had to be turned and could not be: no bitmap is loaded
  // and no stream is defined for it, so the record places nothing (as a copy that was
  // never saved would).
  bool imageAvailable = true;
};

// Turns an image by quarter turns, counted clockwise as the image library's rotate-flip
// types count them (3: three quarters clockwise, that is one quarter counter-clockwise),
// and saves the turned copy as a bitmap under a name of its own in the temporary folder;
// answers that name, or nothing when the image cannot be read or the copy not saved.
using TurnImageFunction = std::function<std::optional<WString>(const WString& imagePath, int quarterTurns)>;

// Removes one file the renderer made.
using DeleteFileFunction = std::function<void(const WString& path)>;

// The turned image copies the renderer made. They are deleted when the list is destroyed
// or cleared, whatever happened in between; a user's own image is never on the list.
class TurnedImageCopies {
 public:
  explicit TurnedImageCopies(DeleteFileFunction deleteFile) : deleteFile_(std::move(deleteFile)) {}
  TurnedImageCopies(const TurnedImageCopies&) = delete;
  TurnedImageCopies& operator=(const TurnedImageCopies&) = delete;
  ~TurnedImageCopies() { Clear(); }

  void Add(const WString& path) { paths_.push_back(path); }
  bool Contains(const WString& path) const;
  const std::vector<WString>& paths() const { return paths_; }
  // Deletes every copy on the list and empties it.
  void Clear();

 private:
  DeleteFileFunction deleteFile_;
  std::vector<WString> paths_;
};

// The N-up scale of the watermarks, `m_fNupScale`, before any adjustment.
inline constexpr float kInitialNupScale = 1.0F;

// The turn given to images in the rotated layouts: a quarter turn counter-clockwise, the
// same way the text angle turns.
inline constexpr int kRotatedLayoutQuarterTurns = 3;

// Adapts the first-page and next-page records to the pages per sheet: smaller point
// sizes, a quarter turn of the angle in the rotated layouts, the scale `fScale`, and
// turned copies of their images in the rotated layouts (recorded in `copies`). Updates
// `nupScale` (`m_fNupScale`). Either record may be null.
void SetNupWatermarkParameters(const LayoutSettings& settings, float& nupScale, WatermarkAdjustment* firstPage,
                               WatermarkAdjustment* nextPages, const TurnImageFunction& turnImage,
                               TurnedImageCopies& copies);

}  // namespace velmora
