// Overlay capture: a job printed in "create" mode is copied, between its markers, into a
// new overlay file instead of being printed.
#include <algorithm>
#include <cstring>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "formats/overlay_file.h"
#include "formats/text.h"
#include "formats/vendor_settings.h"
#include "platform/environment.h"
#include "platform/text_encoding.h"
#include "src/job/unidrv_interface.h"
#include "src/support/log.h"

namespace velmora {
namespace {

constexpr DWORD kErrorWriteFault = 29;  // ERROR_WRITE_FAULT

// The system's reason for a failed file call, as " (No space left on device)"; nothing
// when the call left none.
WString SystemReason(const std::string& reason) {
  if (reason.empty()) return WString();
  return VTEXT(" (") + platform::Utf8ToUtf16(reason) + VTEXT(")");
}

}  // namespace

std::int32_t CUnidrvInterface::CreateOVLFileAndInsertOverlayHeader(DEVOBJ* pdevobj, std::uint8_t* pVendorDM,
                                                                   VendorData* pVendorData) {
  // A new capture starts: what an earlier capture on this vendor object left unfinished
  // goes, and so does its failure.
  m_captureFile.Remove();
  m_captureFailure.reset();
  m_iSearchKeyCount = OVL_DATA_BEGINS;
  m_captureCarry.clear();
  if (pVendorData != nullptr) pVendorData->dwOverlayCaptured = 0;
  if (m_strOverlayName.empty() || m_strOverlayFile.empty()) return 0;
  VendorSettings settings(pVendorDM);
  // The job prints as an ordinary job instead, for the reason logged.
  // A line that quotes a path keeps its words and shortens the path to fit the log's line.
  auto printOrdinary = [&settings](const WString& why, const WString& path = {}, const WString& reason = {}) {
    LogMessagePath(VTEXT("VELMORA - CUnidrvInterface::CreateOVLFileAndInsertOverlayHeader => ") + why, path,
                   reason + VTEXT("\r\n"));
    settings.set_dwOverlayMode(NO_OVERLAY);
    return 1;
  };
  // An existing overlay is never overwritten.
  if (platform::FileExistsW(m_strOverlayFile)) return printOrdinary(VTEXT("the overlay exists already"));

  // The capture is written under a work name beside the overlay and takes the overlay's
  // name only when its end marker arrives, so that a capture that fails or is cut short
  // never leaves a truncated overlay that later jobs would play. The work file stays
  // claimed while the capture runs: another job capturing the same overlay meanwhile, in
  // this process or in another, finds it as it would find the overlay. A work file left
  // by a capture that was killed is no claim, and is replaced.
  switch (m_captureFile.Create(m_strOverlayFile)) {
    case platform::ClaimedFile::Claim::kClaimed: break;
    case platform::ClaimedFile::Claim::kTaken: return printOrdinary(VTEXT("another job is capturing the overlay"));
    case platform::ClaimedFile::Claim::kFailed:
      // Without its file the capture would swallow the job and keep nothing.
      return printOrdinary(VTEXT("the overlay cannot be created: "), m_captureFile.workPath(),
                           SystemReason(m_captureFile.reason()));
  }
  // Another job may have put its capture of this overlay in place since the check above.
  if (platform::FileExistsW(m_strOverlayFile)) {
    m_captureFile.Remove();
    return printOrdinary(VTEXT("the overlay exists already"));
  }

  DEVMODEW* publicDM = pdevobj != nullptr ? pdevobj->pPublicDM : nullptr;
  const WString formName = publicDM != nullptr
                               ? text::ReadWideField(reinterpret_cast<const std::uint8_t*>(publicDM->dmFormName), 32)
                               : WString();
  auto header =
      FormatOverlayHeader(settings.bRasterMode() != 0, formName, publicDM != nullptr ? publicDM->dmOrientation : 0,
                          publicDM != nullptr ? publicDM->dmYResolution : 0, m_strOverlayName);
  bool written = !header || m_captureFile.Write(header->data(), header->size());
  // A raster job's overlay holds its header only: it is complete as it is, and nothing of
  // the job is captured after it.
  if (written && settings.bRasterMode() != 0) {
    written = m_captureFile.MoveIntoPlace();
    if (written) {
      m_iSearchKeyCount = OVL_DATA_DONE;
      return 0;
    }
  }
  if (!written) {
    const WString path = m_captureFile.workPath();
    const WString reason = SystemReason(m_captureFile.reason());
    m_captureFile.Remove();
    return printOrdinary(VTEXT("the overlay cannot be written: "), path, reason);
  }
  return 0;
}

void CUnidrvInterface::FailCapture(const WString& what, const WString& path, const WString& reason,
                                   std::string errorText, DWORD errorCode) {
  LogMessagePath(VTEXT("VELMORA - CUnidrvInterface::ModifyPCLXLPrintData => ") + what, path, reason + VTEXT("\r\n"));
  m_captureFailure = CaptureFailure{errorCode, std::move(errorText)};
  m_captureFile.Remove();
  m_iSearchKeyCount = OVL_DATA_DONE;
  m_captureCarry.clear();
}

std::int32_t CUnidrvInterface::ModifyPCLXLPrintData(DEVOBJ* pdevobj, std::uint8_t* pVendorDM, VendorData* pVendorData,
                                                    std::uint8_t* buffer, DWORD size) {
  // Only a capture job's data are looked at; the module gate, which asks the spooler, is
  // asked only for those.
  if (pVendorDM == nullptr || VendorSettings(pVendorDM).dwOverlayMode() != CREATE_OVERLAY || size == 0 ||
      buffer == nullptr) {
    return 0;
  }
  if (!IsSupportedPrintingModule(pVendorDM, pdevobj != nullptr ? pdevobj->hPrinter : nullptr)) return 0;
  SetSearchKey(kOverlayFontKey);
  ReplaceFontNameIfFound(buffer, size);
  // A capture that failed keeps failing the rest of its job's data.
  if (m_captureFailure) return 1;
  if (m_iSearchKeyCount != OVL_DATA_BEGINS && m_iSearchKeyCount != OVL_DATA_VALID) return 0;

  // The capture reads the job data as one stream: the bytes carried over from earlier
  // buffers (never more than a key less one byte), then this buffer. Positions below are
  // stream positions; a marker or font name the host's buffering split is whole there.
  std::vector<std::uint8_t>& carry = m_captureCarry;
  // Never more than a key less one byte is carried; the bound also tells the compiler
  // that the seam below holds it.
  const std::size_t carried = std::min(carry.size(), kOverlayMaxKeyLength - 1);
  const std::size_t total = carried + size;
  auto at = [&](std::size_t position) { return position < carried ? carry[position] : buffer[position - carried]; };

  // The seam: the carried bytes and the first bytes of the buffer, where a split key lies.
  std::uint8_t seam[2 * kOverlayMaxKeyLength];
  const std::size_t seamLength = carried + std::min<std::size_t>(size, kOverlayMaxKeyLength - 1);
  for (std::size_t i = 0; i < seamLength; ++i) seam[i] = at(i);
  if (carried > 0) {
    SetSearchKey(kOverlayFontKey);
    ReplaceFontNameIfFound(seam, static_cast<DWORD>(seamLength));
    std::copy(seam, seam + carried, carry.begin());
  }
  // The first match of a key starting at or after `from`, or nothing.
  auto find = [&](const char* key, std::size_t from) -> std::optional<std::size_t> {
    SetSearchKey(key);
    if (from < carried) {
      const std::int32_t found = GetSearchKeyStringIndex(seam + from, static_cast<DWORD>(seamLength - from));
      if (found >= 0 && from + static_cast<std::size_t>(found) < carried) return from + static_cast<std::size_t>(found);
    }
    const std::size_t start = std::max(from, carried) - carried;
    const std::int32_t found = GetSearchKeyStringIndex(buffer + start, static_cast<DWORD>(size - start));
    if (found < 0) return std::nullopt;
    return carried + start + static_cast<std::size_t>(found);
  };
  // Keeps the stream's last bytes from `from` on, at most a key less one byte of them.
  auto carryFrom = [&](std::size_t from) {
    from = std::max(from, total - std::min(total, kOverlayMaxKeyLength - 1));
    std::uint8_t kept[kOverlayMaxKeyLength];
    std::size_t count = 0;
    for (std::size_t i = from; i < total && count < sizeof kept; ++i) kept[count++] = at(i);
    carry.assign(kept, kept + count);
  };

  std::size_t copyFrom = 0;
  if (m_iSearchKeyCount == OVL_DATA_BEGINS) {
    const auto begin = find(kOverlayBeginMarker, 0);
    m_bSearchKeyFound = 0;
    if (!begin) {
      carryFrom(0);
      return 0;
    }
    copyFrom = *begin + (sizeof kOverlayBeginMarker - 1);
    m_iSearchKeyCount = OVL_DATA_VALID;
  }
  const auto end = find(kOverlayEndMarker, copyFrom);
  m_bSearchKeyFound = 0;
  std::size_t copyTo = 0;
  if (end) {
    copyTo = *end;
    m_iSearchKeyCount = OVL_DATA_ENDS;
  } else {
    copyTo = std::max(copyFrom, total - std::min(total, kOverlayMaxKeyLength - 1));
  }

  // Appends stream bytes [copyFrom, copyTo): the carried part, then the buffer's part.
  if (!m_captureFile.held()) {
    FailCapture(VTEXT("the overlay has no capture file: "), m_strOverlayFile, {},
                "No capture file was created for the overlay '" + platform::Utf16ToUtf8(m_strOverlayFile) + "'",
                kErrorWriteFault);
    return 1;
  }
  bool written = true;
  if (copyFrom < std::min(copyTo, carried)) {
    written = m_captureFile.Write(carry.data() + copyFrom, std::min(copyTo, carried) - copyFrom);
  }
  const std::size_t from = std::max(copyFrom, carried);
  if (written && copyTo > from) written = m_captureFile.Write(buffer + (from - carried), copyTo - from);
  if (!written) {
    // Bytes of the overlay are lost: the capture fails as a whole and leaves no overlay.
    const WString& work = m_captureFile.workPath();
    FailCapture(VTEXT("the overlay cannot be written: "), work, SystemReason(m_captureFile.reason()),
                "Unable to write '" + platform::Utf16ToUtf8(work) + "': " + m_captureFile.reason(),
                m_captureFile.errorCode());
    return 1;
  }
  // The end marker puts the finished overlay under its name, unless another job made an
  // overlay of that name meanwhile.
  if (m_iSearchKeyCount == OVL_DATA_ENDS && !m_captureFile.MoveIntoPlace()) {
    const WString& work = m_captureFile.workPath();
    FailCapture(VTEXT("the overlay cannot be put in place: "), m_strOverlayFile, SystemReason(m_captureFile.reason()),
                "Unable to rename '" + platform::Utf16ToUtf8(work) + "' to '" +
                    platform::Utf16ToUtf8(m_strOverlayFile) + "': " + m_captureFile.reason(),
                m_captureFile.errorCode());
    return 1;
  }
  if (m_iSearchKeyCount == OVL_DATA_ENDS) {
    m_iSearchKeyCount = OVL_DATA_DONE;
    carry.clear();
    if (pVendorData != nullptr) pVendorData->dwOverlayCaptured = 1;
    LogMessage(VTEXT("VELMORA - CUnidrvInterface::ModifyPCLXLPrintData => overlay captured\r\n"));
    return 0;
  }
  carryFrom(copyTo);
  return 0;
}

}  // namespace velmora
