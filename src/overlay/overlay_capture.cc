// Overlay capture: a job printed in "create" mode is copied, between its markers, into a
// new overlay file instead of being printed.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <vector>

#include "formats/overlay_file.h"
#include "formats/text.h"
#include "formats/vendor_settings.h"
#include "platform/environment.h"
#include "platform/files.h"
#include "platform/image.h"
#include "platform/services.h"
#include "platform/text_encoding.h"
#include "src/job/unidrv_interface.h"
#include "src/support/file_handle.h"
#include "src/support/log.h"

namespace velmora {
namespace {

// The system's reason for a failed file call, as " (No space left on device)"; nothing
// when the call left none.
WString SystemReason(int error) {
  if (error == 0) return WString();
  return VTEXT(" (") + platform::Utf8ToUtf16(platform::ErrnoText(error)) + VTEXT(")");
}

}  // namespace

std::int32_t CUnidrvInterface::CreateOVLFileAndInsertOverlayHeader(DEVOBJ* pdevobj, std::uint8_t* pVendorDM,
                                                                   VendorData* pVendorData) {
  if (m_strOverlayName.empty() || m_strOverlayFile.empty()) return 0;
  VendorSettings settings(pVendorDM);
  // An existing overlay is never overwritten: the job then prints as an ordinary job.
  if (platform::FileExistsW(m_strOverlayFile)) {
    LogMessage(
        VTEXT("VELMORA - CUnidrvInterface::CreateOVLFileAndInsertOverlayHeader => the overlay exists already\r\n"));
    settings.set_dwOverlayMode(NO_OVERLAY);
    return 1;
  }
  // A new capture starts: whatever an earlier capture on this vendor object left behind is
  // forgotten.
  AbandonCapture();
  m_iSearchKeyCount = OVL_DATA_BEGINS;
  m_captureCarry.clear();
  if (pVendorData != nullptr) pVendorData->dwOverlayCaptured = 0;

  // The capture is written under a temporary name beside the overlay and takes the
  // overlay's name only when its end marker arrives, so that a capture that fails or is
  // cut short never leaves a truncated overlay that later jobs would play. A temporary
  // file left by a capture that was killed is replaced here.
  const WString capture = m_strOverlayFile + VTEXT(".capture");
  platform::RemoveFileW(capture);
  errno = 0;
  FileHandle file(platform::CreateNewFileW(capture));
  if (!file) {
    // Without its file the capture would swallow the job and keep nothing: the job prints
    // as an ordinary job instead, as it does when the overlay exists already.
    LogMessagePath(
        VTEXT("VELMORA - CUnidrvInterface::CreateOVLFileAndInsertOverlayHeader => the overlay cannot be created: "),
        capture, SystemReason(errno) + VTEXT("\r\n"));
    settings.set_dwOverlayMode(NO_OVERLAY);
    return 1;
  }
  DEVMODEW* publicDM = pdevobj != nullptr ? pdevobj->pPublicDM : nullptr;
  const WString formName = publicDM != nullptr
                               ? text::ReadWideField(reinterpret_cast<const std::uint8_t*>(publicDM->dmFormName), 32)
                               : WString();
  auto header =
      FormatOverlayHeader(settings.bRasterMode() != 0, formName, publicDM != nullptr ? publicDM->dmOrientation : 0,
                          publicDM != nullptr ? publicDM->dmYResolution : 0, m_strOverlayName);
  errno = 0;
  bool written = !header || std::fwrite(header->data(), 1, header->size(), file.get()) == header->size();
  written = file.Close() && written;
  const int writeError = errno;
  // A raster job's overlay holds its header only: it is complete as it is.
  if (written && settings.bRasterMode() != 0) {
    written = platform::MoveNewFileW(capture, m_strOverlayFile);
    if (written) {
      m_strOverlayCapture = m_strOverlayFile;
      return 0;
    }
  }
  if (!written) {
    platform::RemoveFileW(capture);
    LogMessagePath(
        VTEXT("VELMORA - CUnidrvInterface::CreateOVLFileAndInsertOverlayHeader => the overlay cannot be written: "),
        capture, SystemReason(writeError) + VTEXT("\r\n"));
    settings.set_dwOverlayMode(NO_OVERLAY);
    return 1;
  }
  m_strOverlayCapture = capture;
  return 0;
}

void CUnidrvInterface::AbandonCapture() {
  const bool inProgress = m_iSearchKeyCount == OVL_DATA_BEGINS || m_iSearchKeyCount == OVL_DATA_VALID;
  if (inProgress && !m_strOverlayCapture.empty() && m_strOverlayCapture != m_strOverlayFile) {
    platform::RemoveFileW(m_strOverlayCapture);
  }
  m_strOverlayCapture.clear();
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

  const std::int32_t stateBefore = m_iSearchKeyCount;
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
  // The capture file is opened without creating it: one that vanished fails the capture
  // rather than starting a file without its header.
  bool written = !m_strOverlayCapture.empty();
  errno = 0;
  if (written) {
    FileHandle file(platform::OpenFileW(m_strOverlayCapture, "r+b"));
    written = file && std::fseek(file.get(), 0, SEEK_END) == 0;
    if (written && copyFrom < std::min(copyTo, carried)) {
      const std::size_t n = std::min(copyTo, carried) - copyFrom;
      written = std::fwrite(carry.data() + copyFrom, 1, n, file.get()) == n;
    }
    const std::size_t from = std::max(copyFrom, carried);
    if (written && copyTo > from) {
      const std::size_t n = copyTo - from;
      written = std::fwrite(buffer + (from - carried), 1, n, file.get()) == n;
    }
    if (file) written = file.Close() && written;
  }
  // The end marker puts the finished overlay under its name, unless another job made an
  // overlay of that name meanwhile.
  bool moveFailed = false;
  if (written && m_iSearchKeyCount == OVL_DATA_ENDS && m_strOverlayCapture != m_strOverlayFile) {
    written = platform::MoveNewFileW(m_strOverlayCapture, m_strOverlayFile);
    moveFailed = !written;
  }
  if (!written) {
    // Bytes of the overlay are lost: the capture fails as a whole and leaves no overlay.
    // The line names the file that failed: the capture file, or the overlay it could not
    // become.
    const WString& failed = moveFailed || m_strOverlayCapture.empty() ? m_strOverlayFile : m_strOverlayCapture;
    LogMessagePath(VTEXT("VELMORA - CUnidrvInterface::ModifyPCLXLPrintData => the overlay cannot be written: "), failed,
                   SystemReason(errno) + VTEXT("\r\n"));
    m_iSearchKeyCount = stateBefore;
    AbandonCapture();
    m_iSearchKeyCount = OVL_DATA_DONE;
    carry.clear();
    return 1;
  }
  if (m_iSearchKeyCount == OVL_DATA_ENDS) {
    m_iSearchKeyCount = OVL_DATA_DONE;
    m_strOverlayCapture.clear();
    carry.clear();
    if (pVendorData != nullptr) pVendorData->dwOverlayCaptured = 1;
    LogMessage(VTEXT("VELMORA - CUnidrvInterface::ModifyPCLXLPrintData => overlay captured\r\n"));
    return 0;
  }
  carryFrom(copyTo);
  return 0;
}

}  // namespace velmora
