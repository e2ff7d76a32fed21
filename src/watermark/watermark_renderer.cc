// The watermark renderer: text and bitmap watermarks on every page of a document.
#include "src/watermark/watermark_renderer.h"

#include <algorithm>

#include "formats/text.h"
#include "formats/vendor_settings.h"
#include "platform/drawing_context.h"
#include "platform/image.h"
#include "platform/services.h"
#include "src/support/file_handle.h"
#include "src/support/log.h"
#include "src/watermark/watermark_selection.h"
#include "src/watermark/watermark_text.h"

namespace velmora {
namespace {

// Deletes the turned image copies the renderer made.
void DeleteCopy(const WString& path) { platform::RemoveFileW(path); }

// Makes a turned copy of an image under a name of its own in the temporary folder. The
// empty file made for the name is removed again when nothing could be saved there.
std::optional<WString> TurnImage(const WString& imagePath, int) {
  auto target = platform::CreateUniqueTempFile(VTEXT(".bmp"));
  if (!target) return std::nullopt;
  if (!platform::SaveTurnedCopy(imagePath, *target)) {
    platform::RemoveFileW(*target);
    return std::nullopt;
  }
  return target;
}

// The size of a bitmap file as the bitmap loader reads it; a file of another format has
// none.
std::pair<std::int32_t, std::int32_t> BitmapFileSize(const WString& path) {
  FileHandle file(platform::OpenFileW(path, "rb"));
  if (!file) return {0, 0};
  char signature[2] = {};
  const bool isBitmap = std::fread(signature, 1, 2, file.get()) == 2 && signature[0] == 'B' && signature[1] == 'M';
  file.Close();
  if (!isBitmap) return {0, 0};
  auto image = platform::LoadImageFile(path);
  if (!image) return {0, 0};
  return {static_cast<std::int32_t>(image->width), static_cast<std::int32_t>(image->height)};
}

watermark::BitmapWatermarkParams BitmapParams(const WatermarkSettings& record, float nupScale) {
  watermark::BitmapWatermarkParams params;
  params.placement = record.placement();
  params.imageScale = record.imageScale();
  params.offsetX = record.offsetX();
  params.offsetY = record.offsetY();
  params.offsetInMillimetres = record.offsetInMillimetres();
  params.nupScale = nupScale;
  return params;
}

watermark::CellRect ToCell(const CellRect& cell) { return {cell.left, cell.top, cell.right, cell.bottom}; }

}  // namespace

CWaterMarkRenderrer::CWaterMarkRenderrer() : m_TurnedCopies(std::make_unique<TurnedImageCopies>(DeleteCopy)) {}

CWaterMarkRenderrer::~CWaterMarkRenderrer() = default;

void CWaterMarkRenderrer::Refresh(VendorData* pVendorData, DEVMODEW* pPublicDM, std::uint8_t* pVendorDM,
                                  DEVOBJ* pdevobj, IPrintOemDriverUni* driverServices) {
  m_pVendorData = pVendorData;
  m_pPublicDM = pPublicDM;
  m_pVendorDevMode = pVendorDM;
  m_pDevObj = pdevobj;
  m_pDriverServices = driverServices;
  m_hPrinter = pdevobj != nullptr ? pdevobj->hPrinter : nullptr;
  if (pVendorData != nullptr) m_WatermarkDC = pVendorData->hWatermarkDC;
}

void CWaterMarkRenderrer::InitInstance(VendorData* pVendorData, DEVMODEW* pPublicDM, std::uint8_t* pVendorDM,
                                       DEVOBJ* pdevobj, IPrintOemDriverUni* driverServices) {
  LogMessage(VTEXT("VELMORA - CWaterMarkRenderrer::InitInstance => start\r\n"));
  Refresh(pVendorData, pPublicDM, pVendorDM, pdevobj, driverServices);
  // Everything below belongs to one document and starts afresh.
  m_SheetCounter = 0;
  m_fNupScale = kInitialNupScale;
  m_FontCharSet = 1;
  m_FPSettings = WatermarkSettings();
  m_NPSettings = WatermarkSettings();
  m_BitmapSize = {};
  m_ImageAvailable = {true, true};
  m_Streams = {};
  m_TurnedCopies->Clear();
  m_szSettingsPath.clear();
  m_nTotalPages = pVendorData != nullptr ? pVendorData->dwTotalPages : 0;
  if (pVendorDM == nullptr) return;

  VendorSettings settings(pVendorDM);
  const LayoutSettings layout = LayoutSettingsOf(pVendorDM);
  LogMessageInt(VTEXT("VELMORA - CWaterMarkRenderrer::InitInstance => vdmPagesPerSheet = "), layout.vdmPagesPerSheet);
  const std::size_t cells = std::clamp<std::int32_t>(layout.vdmPagesPerSheet, 1, 16);
  m_WMPageRect.assign(cells, CellRect{});
  m_LayoutOrder =
      BuildLayoutOrder(layout, pPublicDM != nullptr ? pPublicDM->dmOrientation : kOrientationPortrait, m_nTotalPages);

  if (auto printer = platform::Current().spooler->PrinterName(m_hPrinter)) {
    if (auto path = WatermarkSettingsPath(*printer)) m_szSettingsPath = *path;
  }
  if (!m_szSettingsPath.empty()) {
    Utility::GetCurrentSelectedWatermarkSettings(settings.sFP_SectionIndex(), &m_FPSettings, m_szSettingsPath);
    Utility::GetCurrentSelectedWatermarkSettings(settings.sNP_SectionIndex(), &m_NPSettings, m_szSettingsPath);
  }
  SetNupWatermarkParameters();
}

void CWaterMarkRenderrer::SetNupWatermarkParameters() {
  const LayoutSettings layout = LayoutSettingsOf(m_pVendorDevMode);
  WatermarkAdjustment adjustments[2];
  WatermarkSettings* records[2] = {&m_FPSettings, &m_NPSettings};
  for (int i = 0; i < 2; ++i) {
    adjustments[i].pointSize = records[i]->pointSize();
    adjustments[i].angle = records[i]->angle();
    adjustments[i].imagePath = records[i]->imagePath();
  }
  ::velmora::SetNupWatermarkParameters(layout, m_fNupScale, &adjustments[0], &adjustments[1], TurnImage,
                                       *m_TurnedCopies);
  for (int i = 0; i < 2; ++i) {
    records[i]->set_pointSize(adjustments[i].pointSize);
    records[i]->set_angle(adjustments[i].angle);
    records[i]->set_imagePath(adjustments[i].imagePath);
    m_ImageAvailable[i] = adjustments[i].imageAvailable;
    if (records[i]->IsBitmap() && m_ImageAvailable[i]) m_BitmapSize[i] = BitmapFileSize(records[i]->imagePath());
  }
}

void CWaterMarkRenderrer::SetBorderRectsForPage() {
  if (m_pVendorDevMode == nullptr) return;
  DeviceResolution resolution;
  if (auto dc = platform::AttachDrawingContext(m_WatermarkDC)) {
    resolution.horizontal = dc->DeviceCaps(platform::DeviceCap::kHorzRes);
    resolution.vertical = dc->DeviceCaps(platform::DeviceCap::kVertRes);
  } else {
    LogMessage(
        VTEXT("VELMORA - CWaterMarkRenderrer::SetBorderRectsForPage => pVendorData->hWatermarkDC(= m_WatermarkDC) is "
              "null\r\n"));
  }
  ::velmora::SetBorderRectsForPage(m_WMPageRect, LayoutSettingsOf(m_pVendorDevMode), resolution, m_pVendorData);
}

void CWaterMarkRenderrer::Write(const std::uint8_t* bytes, std::size_t count) {
  if (m_pDriverServices == nullptr || m_pDevObj == nullptr || count == 0) return;
  DWORD written = 0;
  m_pDriverServices->DrvWriteSpoolBuf(m_pDevObj, const_cast<std::uint8_t*>(bytes), static_cast<DWORD>(count), &written);
}

void CWaterMarkRenderrer::InsertWatermarkProcedure() {
  LogMessage(VTEXT("VELMORA - CWaterMarkRenderrer::InsertWatermarkProcedure => start\r\n"));
  SetBorderRectsForPage();
  const WatermarkSettings* records[2] = {&m_FPSettings, &m_NPSettings};
  const watermark::CellRect firstCell = m_WMPageRect.empty() ? watermark::CellRect{} : ToCell(m_WMPageRect[0]);
  auto writer = [this](const std::uint8_t* bytes, std::size_t count) { Write(bytes, count); };
  for (int index = 0; index < 2; ++index) {
    if (!records[index]->IsBitmap() || !m_ImageAvailable[index]) continue;
    LogMessage(index == 0 ? VTEXT("call InsertPCLXLStartProcedureCommand() with m_Watermark1\r\n")
                          : VTEXT("call InsertPCLXLStartProcedureCommand() with m_Watermark2\r\n"));
    auto image = platform::LoadImageFile(records[index]->imagePath());
    if (!image) {
      LogMessage(VTEXT("VELMORA - CWaterMarkRenderrer::InsertWatermarkProcedure => the image cannot be read\r\n"));
      continue;
    }
    m_Streams[index] =
        watermark::DefineBitmapStream(index, *image, BitmapParams(*records[index], m_fNupScale), firstCell, writer);
  }
}

std::int32_t CWaterMarkRenderrer::GetWaterkFortheCurrentPage(WatermarkSettings* record, std::int32_t currentPage) {
  const VendorSettings settings(m_pVendorDevMode);
  auto index = SelectWatermark(settings.eWMUsage(), currentPage, m_SheetCounter, settings.vdmPagesPerSheet());
  if (!index) return 0;
  if (record != nullptr) *record = *index == 0 ? m_FPSettings : m_NPSettings;
  LogMessageInt(VTEXT("VELMORA - CWaterMarkRenderrer::GetWaterkFortheCurrentPage => indexWatermark = "), *index);
  return *index;
}

bool CWaterMarkRenderrer::CreateWatermark() {
  if (m_pVendorDevMode == nullptr) return true;
  VendorSettings settings(m_pVendorDevMode);
  platform::Rect clipBox;
  if (auto dc = platform::AttachDrawingContext(m_WatermarkDC)) clipBox = dc->ClipBox();
  SetBorderRectsForPage();
  auto kind1 = settings.SpecialPage(1);
  if (AdvancesSheetCounter(settings.dwSpecialPageKind(), kind1 ? kind1->dwPageRule() : 0)) ++m_SheetCounter;

  const auto cells = SheetWatermarkCells(settings.vdmPagesPerSheet(), m_LayoutOrder, m_SheetCounter,
                                         settings.bBooklet() != 0, m_nTotalPages, settings.eWMUsage());
  for (const WatermarkCell& cell : cells) {
    LogMessageInt(VTEXT("VELMORA - CWaterMarkRenderrer::CreateWatermark => currentPage = "), cell.currentPage);
    // A usage the renderer does not know draws a default record, which shows nothing.
    WatermarkSettings record;
    const std::int32_t index = GetWaterkFortheCurrentPage(&record, cell.currentPage);
    if (record.IsBitmap()) {
      DrawBitmapCell(index, record, cell.cellIndex);
    } else {
      DrawTextCell(record, cell.cellIndex, clipBox);
    }
  }
  return true;
}

void CWaterMarkRenderrer::DrawBitmapCell(std::int32_t index, const WatermarkSettings& record, std::int32_t pageIndex) {
  if (index < 0 || index > 1 || pageIndex < 0 || static_cast<std::size_t>(pageIndex) >= m_WMPageRect.size()) return;
  watermark::PlacementContext context;
  context.cell = ToCell(m_WMPageRect[pageIndex]);
  context.rotatedLayout = IsRotatedLayout(VendorSettings(m_pVendorDevMode).vdmPagesPerSheet());
  context.yResolution = m_pPublicDM != nullptr ? m_pPublicDM->dmYResolution : 0;
  if (auto dc = platform::AttachDrawingContext(m_WatermarkDC)) {
    context.logPixelsY = dc->DeviceCaps(platform::DeviceCap::kLogPixelsY);
  } else {
    context.logPixelsY = context.yResolution;
  }
  context.bitmapWidth = m_BitmapSize[index].first;
  context.bitmapHeight = m_BitmapSize[index].second;
  watermark::PlaceBitmapWatermark(index, m_Streams[index], BitmapParams(record, m_fNupScale), context,
                                  [this](const std::uint8_t* bytes, std::size_t count) { Write(bytes, count); });
}

void CWaterMarkRenderrer::DrawTextCell(const WatermarkSettings& record, std::int32_t pageIndex,
                                       const platform::Rect& clipBox) {
  if (pageIndex < 0 || static_cast<std::size_t>(pageIndex) >= m_WMPageRect.size()) return;
  auto dc = platform::AttachDrawingContext(m_WatermarkDC);
  if (!dc) {
    LogMessage(VTEXT(
        "VELMORA - CWaterMarkRenderrer::CreateWatermark => pVendorData->hWatermarkDC(= m_WatermarkDC) is null\r\n"));
    return;
  }
  TextWatermark text;
  text.text = record.text();
  text.faceName = record.faceName();
  text.pointSize = record.pointSize();
  text.styleFlags = record.styleFlags();
  text.angle = record.angle();
  text.darkness = record.darkness();
  text.offsetX = record.offsetX();
  text.offsetY = record.offsetY();
  text.offsetInMillimetres = record.offsetInMillimetres();
  text.placement = record.placement();
  TextWatermarkCell where;
  const CellRect& cell = m_WMPageRect[pageIndex];
  where.cell = platform::Rect{cell.left, cell.top, cell.right, cell.bottom};
  where.clipBox = clipBox;
  where.nupScale = m_fNupScale;
  where.rotatedLayout = IsRotatedLayout(VendorSettings(m_pVendorDevMode).vdmPagesPerSheet());
  DrawTextWatermark(*dc, text, where, pageIndex, m_FontCharSet);
}

}  // namespace velmora
