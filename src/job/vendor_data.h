// VendorData: the per-device vendor area. The frame allocates it zero-filled inside its
// per-device object when the host enables a device and passes it to every vendor
// operation. The job-control events keep its job id and page number; the frame's private
// escapes fill the page total, the watermark device context and the page-cell rectangles.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/types.h"

namespace velmora {

// One page-cell rectangle as the private escape hands it over: four signed 32-bit
// numbers, left, top, right, bottom (16 bytes).
struct CellRect {
  std::int32_t left;
  std::int32_t top;
  std::int32_t right;
  std::int32_t bottom;
};
static_assert(sizeof(CellRect) == 16);

inline constexpr std::size_t kPrinterNameUnits = 260;

struct VendorData {
  WCHAR szPrinterName[kPrinterNameUnits];
  // The frame's list of 8-byte items; nothing in the plug-in adds to it.
  std::vector<std::uint64_t> frameList;
  DWORD dwJobId;
  DWORD dwOverlayCaptured;  // 1 once an overlay capture has written its end marker
  DWORD dwPageNumber;       // 1-based number of the current page of the document
  DWORD dwTotalPages;       // set by the page-total escape
  HANDLE hWatermarkDC;      // the drawing context for watermarks, set by the frame
  // The cell list, released by the end-of-document event or with the device, and
  // handed to the new device on a reset.
  std::unique_ptr<CellRect[]> pCellRects;
  WORD wCellRectCount;     // cells stored so far in this document (counts on past the list)
  WORD wCellRectCapacity;  // entries the list holds; cells are read and written below it only
};

// A zero-filled area, as the frame creates it.
inline void ClearVendorData(VendorData& area) {
  for (auto& unit : area.szPrinterName) unit = 0;
  area.frameList.clear();
  area.dwJobId = 0;
  area.dwOverlayCaptured = 0;
  area.dwPageNumber = 0;
  area.dwTotalPages = 0;
  area.hWatermarkDC = nullptr;
  area.pCellRects.reset();
  area.wCellRectCount = 0;
  area.wCellRectCapacity = 0;
}

}  // namespace velmora
