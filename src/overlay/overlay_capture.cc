// Overlay capture: a job printed in "create" mode is copied, between its markers, into a
// new overlay file instead of being printed.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "platform/services.h"
#include "src/job/unidrv_interface.h"
#include "src/overlay/overlay_file.h"
#include "src/settings/vendor_settings.h"
#include "src/support/log.h"
#include "src/support/text.h"

namespace velmora {
namespace {

// Each converted header text holds at most this many bytes.
constexpr std::size_t kHeaderTextLimit = 259;

std::string HeaderText(WStringView text) {
  std::string converted = text::Utf16ToUtf8(text);
  if (converted.size() > kHeaderTextLimit) converted.resize(kHeaderTextLimit);
  return converted;
}

// Appends bytes to the overlay file, creating it when missing. False when it cannot be
// opened or written.
bool AppendToOverlay(const WString& path, const std::uint8_t* bytes, std::size_t count) {
  std::FILE* file = platform::OpenFileW(path, "ab");
  if (file == nullptr) return false;
  const bool written = count == 0 || std::fwrite(bytes, 1, count, file) == count;
  const bool closed = std::fclose(file) == 0;
  return written && closed;
}

}  // namespace

std::optional<std::string> FormatOverlayHeader(bool rasterMode, WStringView formName, int orientation,
                                               int resolution, WStringView overlayName) {
  char header[1024];
  const int length = std::snprintf(header, sizeof header, "(%s;%s;%d;%d;0;%s;)\r\n%s",
                                   rasterMode ? "PCLXL-RASTER" : "PCLXL", HeaderText(formName).c_str(), orientation,
                                   resolution, HeaderText(overlayName).c_str(), kOverlayDataMarker);
  if (length < 0 || static_cast<std::size_t>(length) > kOverlayHeaderLimit) return std::nullopt;
  return std::string(header, static_cast<std::size_t>(length));
}

std::int32_t CUnidrvInterface::CreateOVLFileAndInsertOverlayHeader(DEVOBJ* pdevobj, std::uint8_t* pVendorDM,
                                                                   VendorData* pVendorData) {
  if (m_strOverlayName.empty() || m_strOverlayFile.empty()) return 0;
  VendorSettings settings(pVendorDM);
  // An existing overlay is never overwritten: the job then prints as an ordinary job.
  if (platform::FileExistsW(m_strOverlayFile)) {
    LogMessage(VTEXT("VELMORA - CUnidrvInterface::CreateOVLFileAndInsertOverlayHeader => the overlay exists already\r\n"));
    settings.set_dwOverlayMode(NO_OVERLAY);
    return 1;
  }
  std::FILE* file = platform::CreateNewFileW(m_strOverlayFile);
  if (file == nullptr) {
    LogMessage(VTEXT("VELMORA - CUnidrvInterface::CreateOVLFileAndInsertOverlayHeader => the overlay cannot be created\r\n"));
    return 1;
  }
  // A new capture starts: whatever an earlier capture on this vendor object left behind is
  // forgotten.
  m_iSearchKeyCount = OVL_DATA_BEGINS;
  m_captureCarry.clear();
  if (pVendorData != nullptr) pVendorData->dwOverlayCaptured = 0;

  DEVMODEW* publicDM = pdevobj != nullptr ? pdevobj->pPublicDM : nullptr;
  const WString formName =
      publicDM != nullptr ? text::ReadWideField(reinterpret_cast<const std::uint8_t*>(publicDM->dmFormName), 32)
                          : WString();
  auto header = FormatOverlayHeader(settings.bRasterMode() != 0, formName,
                                    publicDM != nullptr ? publicDM->dmOrientation : 0,
                                    publicDM != nullptr ? publicDM->dmYResolution : 0, m_strOverlayName);
  if (header) std::fwrite(header->data(), 1, header->size(), file);
  std::fclose(file);
  return 0;
}

std::int32_t CUnidrvInterface::ModifyPCLXLPrintData(DEVOBJ* pdevobj, std::uint8_t* pVendorDM, VendorData* pVendorData,
                                                    std::uint8_t* buffer, DWORD size) {
  if (!IsSupportedPrintingModule(pVendorDM, pdevobj != nullptr ? pdevobj->hPrinter : nullptr)) return 0;
  if (pVendorDM == nullptr || VendorSettings(pVendorDM).dwOverlayMode() != CREATE_OVERLAY || size == 0 ||
      buffer == nullptr) {
    return 0;
  }
  SetSearchKey(kOverlayFontKey);
  ReplaceFontNameIfFound(buffer, size);
  if (m_iSearchKeyCount != OVL_DATA_BEGINS && m_iSearchKeyCount != OVL_DATA_VALID) return 0;

  // The data seen so far that is not yet settled, followed by this buffer: a marker or a
  // font name that the host's buffering split is whole here.
  std::vector<std::uint8_t> window;
  window.reserve(m_captureCarry.size() + size);
  window.insert(window.end(), m_captureCarry.begin(), m_captureCarry.end());
  window.insert(window.end(), buffer, buffer + size);
  SetSearchKey(kOverlayFontKey);
  ReplaceFontNameIfFound(window.data(), static_cast<DWORD>(window.size()));
  const std::size_t holdBack = std::min(window.size(), kOverlayMaxKeyLength - 1);

  const std::int32_t stateBefore = m_iSearchKeyCount;
  std::size_t copyFrom = 0;
  if (m_iSearchKeyCount == OVL_DATA_BEGINS) {
    SetSearchKey(kOverlayBeginMarker);
    const std::int32_t begin = GetSearchKeyStringIndex(window.data(), static_cast<DWORD>(window.size()));
    m_bSearchKeyFound = 0;
    if (begin < 0) {
      m_captureCarry.assign(window.end() - static_cast<std::ptrdiff_t>(holdBack), window.end());
      return 0;
    }
    copyFrom = static_cast<std::size_t>(begin) + (sizeof kOverlayBeginMarker - 1);
    m_iSearchKeyCount = OVL_DATA_VALID;
  }

  SetSearchKey(kOverlayEndMarker);
  const std::int32_t end = GetSearchKeyStringIndex(window.data() + copyFrom,
                                                   static_cast<DWORD>(window.size() - copyFrom));
  m_bSearchKeyFound = 0;
  std::size_t copyTo = 0;
  if (end >= 0) {
    copyTo = copyFrom + static_cast<std::size_t>(end);
    m_iSearchKeyCount = OVL_DATA_ENDS;
  } else {
    copyTo = std::max(copyFrom, window.size() - holdBack);
  }

  if (!AppendToOverlay(m_strOverlayFile, window.data() + copyFrom, copyTo - copyFrom)) {
    LogMessage(VTEXT("VELMORA - CUnidrvInterface::ModifyPCLXLPrintData => the overlay file cannot be written\r\n"));
    m_iSearchKeyCount = stateBefore;
    m_captureCarry.assign(window.end() - static_cast<std::ptrdiff_t>(holdBack), window.end());
    return 1;
  }
  if (m_iSearchKeyCount == OVL_DATA_ENDS) {
    m_iSearchKeyCount = OVL_DATA_DONE;
    m_captureCarry.clear();
    if (pVendorData != nullptr) pVendorData->dwOverlayCaptured = 1;
    LogMessage(VTEXT("VELMORA - CUnidrvInterface::ModifyPCLXLPrintData => overlay captured\r\n"));
    return 0;
  }
  m_captureCarry.assign(window.begin() + static_cast<std::ptrdiff_t>(copyTo), window.end());
  return 0;
}

}  // namespace velmora
