// Overlay playback: the data part of a stored overlay is copied into the page, under the
// page's own drawing (at its start) or over it (at its end).
#include <cstdio>
#include <vector>

#include "formats/overlay_file.h"
#include "formats/vendor_settings.h"
#include "platform/services.h"
#include "src/commands/command_insertor.h"
#include "src/job/unidrv_interface.h"
#include "src/support/file_handle.h"
#include "src/support/log.h"

namespace velmora {
namespace {

constexpr std::size_t kPlaybackChunk = 4096;

}  // namespace

void CCommandInsertor::InsertOverlayFileData(WString overlayFile) {
  // Read only: a form kept on a read-only share plays like any other.
  FileHandle file(platform::OpenFileW(overlayFile, "rb"));
  if (!file) {
    LogMessage(VTEXT("VELMORA - CCommandInsertor::InsertOverlayFileData => the overlay cannot be opened\r\n"));
    return;
  }
  std::vector<std::uint8_t> chunk(kPlaybackChunk + 1);
  std::size_t played = 0;
  bool first = true;
  while (true) {
    std::fill(chunk.begin(), chunk.end(), 0);
    const std::size_t got = std::fread(chunk.data(), 1, kPlaybackChunk, file.get());
    if (got == 0) break;
    std::size_t from = 0;
    if (played == 0) {
      const std::int32_t offset = GetOverlayDataOffset(chunk.data(), got);
      // An overlay is only valid with its data marker in the first chunk.
      if (offset < 0) {
        if (first) LogMessage(VTEXT("VELMORA - CCommandInsertor::InsertOverlayFileData => no data marker\r\n"));
        break;
      }
      from = static_cast<std::size_t>(offset);
    }
    first = false;
    if (got > from && m_pDriverServices != nullptr && m_pDevObj != nullptr) {
      DWORD written = 0;
      const HRESULT result =
          m_pDriverServices->DrvWriteSpoolBuf(m_pDevObj, chunk.data() + from, static_cast<DWORD>(got - from), &written);
      if (SUCCEEDED(result)) played += got - from;
    }
  }
}

void CUnidrvInterface::InsertPCLOverlayData(std::uint8_t* pVendorDM, VendorData* pVendorData) {
  if (!m_cmdInsertor || pVendorDM == nullptr || pVendorData == nullptr) return;
  VendorSettings settings(pVendorDM);
  const DWORD page = pVendorData->dwPageNumber;
  const std::uint32_t mode = settings.dwOverlayMode();
  const bool pairRule = settings.SpecialPage(2)->dwPageRule() == 2 && mode == ODD_EVEN_OVERLAY;
  const WString* file = &m_strOverlayFile;
  if (pairRule) {
    // Pages alternate in pairs: 1 and 2 the first file, 3 and 4 the second, and so on.
    if (page % 4 == 3 || page % 4 == 0) file = &m_strOverlayFileEven;
  } else if (mode == ODD_EVEN_OVERLAY && page % 2 == 0) {
    file = &m_strOverlayFileEven;
  }
  m_cmdInsertor->InsertOverlayFileData(*file);
}

}  // namespace velmora
