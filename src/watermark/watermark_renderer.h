// CWaterMarkRenderrer: puts the text and bitmap watermarks of a document on its pages.
//
// The job processor creates one renderer per vendor object and begins every document
// with InitInstance, which takes that document's values and builds fresh state: the
// layout order, the cells, the first-page and next-pages watermark records from the
// printer's settings file, adapted to the N-up layout. At the start of the document the
// bitmap watermarks are defined as PCL XL streams; at every end of page the watermarks
// of the sheet's cells are drawn.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "formats/host_interface.h"
#include "formats/watermark_settings.h"
#include "platform/drawing_context.h"
#include "src/job/vendor_data.h"
#include "src/watermark/watermark_bitmap.h"
#include "src/watermark/watermark_layout.h"

namespace velmora {

class CWaterMarkRenderrer {
 public:
  CWaterMarkRenderrer();
  virtual ~CWaterMarkRenderrer();
  CWaterMarkRenderrer(const CWaterMarkRenderrer&) = delete;
  CWaterMarkRenderrer& operator=(const CWaterMarkRenderrer&) = delete;

  // Begins a document: takes its values and builds the renderer's state afresh.
  void InitInstance(VendorData* pVendorData, DEVMODEW* pPublicDM, std::uint8_t* pVendorDM, DEVOBJ* pdevobj,
                    IPrintOemDriverUni* driverServices);

  // Points the renderer at the current callback's device values within the document.
  void Refresh(VendorData* pVendorData, DEVMODEW* pPublicDM, std::uint8_t* pVendorDM, DEVOBJ* pdevobj,
               IPrintOemDriverUni* driverServices);

  // Defines the document's bitmap watermarks as streams (start of document).
  void InsertWatermarkProcedure();

  // Draws the watermarks of the current sheet's cells (end of page). Always true.
  bool CreateWatermark();

  // Which watermark page `currentPage` gets (0 first-page, 1 next-pages); copies its
  // record into `record`. An unknown usage answers 0 and leaves `record` as it was.
  std::int32_t GetWaterkFortheCurrentPage(WatermarkSettings* record, std::int32_t currentPage);

  // Refreshes the cell rectangles of the current sheet.
  void SetBorderRectsForPage();

  std::int32_t sheetCounter() const { return m_SheetCounter; }
  float nupScale() const { return m_fNupScale; }
  const std::vector<std::int32_t>& layoutOrder() const { return m_LayoutOrder; }
  const WatermarkSettings& firstPageSettings() const { return m_FPSettings; }
  const WatermarkSettings& nextPagesSettings() const { return m_NPSettings; }
  const WString& settingsPath() const { return m_szSettingsPath; }

 private:
  // Adapts both records to the N-up layout and notes which images can be placed.
  void SetNupWatermarkParameters();
  // Sends bytes into the job with the host's DrvWriteSpoolBuf.
  void Write(const std::uint8_t* bytes, std::size_t count);
  void DrawBitmapCell(std::int32_t index, const WatermarkSettings& record, std::int32_t pageIndex);
  void DrawTextCell(const WatermarkSettings& record, std::int32_t pageIndex, const platform::Rect& clipBox);

  HANDLE m_WatermarkDC = nullptr;
  DEVMODEW* m_pPublicDM = nullptr;
  std::uint8_t* m_pVendorDevMode = nullptr;
  VendorData* m_pVendorData = nullptr;
  HANDLE m_hPrinter = nullptr;
  std::vector<CellRect> m_WMPageRect;
  WString m_szSettingsPath;
  std::vector<std::int32_t> m_LayoutOrder;
  WatermarkSettings m_FPSettings;
  WatermarkSettings m_NPSettings;
  // The size of each record's bitmap as the bitmap-file loader reads it; both 0 when it
  // holds none (the stream's own size is then placed).
  std::array<std::pair<std::int32_t, std::int32_t>, 2> m_BitmapSize{};
  // Whether each record's image can be placed at all (a turned copy that failed cannot).
  std::array<bool, 2> m_ImageAvailable{true, true};
  std::array<watermark::BitmapStream, 2> m_Streams{};
  float m_fNupScale = kInitialNupScale;
  std::uint32_t m_nTotalPages = 0;
  IPrintOemDriverUni* m_pDriverServices = nullptr;
  DEVOBJ* m_pDevObj = nullptr;
  std::uint8_t m_FontCharSet = 1;
  std::int32_t m_SheetCounter = 0;
  std::unique_ptr<TurnedImageCopies> m_TurnedCopies;
};

}  // namespace velmora
