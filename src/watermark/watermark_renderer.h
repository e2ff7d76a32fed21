// CWaterMarkRenderrer: draws the text and bitmap watermarks of a document.
//
// The renderer is not built yet: its entry points exist so that the command dispatcher
// calls them at the right moments, and each of them does nothing for now.
#pragma once

#include <cstdint>

#include "src/frame/host_interface.h"
#include "src/job/vendor_data.h"

namespace velmora {

class CWaterMarkRenderrer {
 public:
  CWaterMarkRenderrer() = default;
  virtual ~CWaterMarkRenderrer() = default;

  // Takes the current document's values. Called when the renderer is created and again at
  // the start of every later document, so that a document never works on an earlier
  // document's device, settings or driver services. Returns false when the renderer cannot
  // work for this document.
  bool InitInstance(VendorData* pVendorData, DEVMODEW* pPublicDM, std::uint8_t* pVendorDM, DEVOBJ* pdevobj,
                    IPrintOemDriverUni* driverServices);

  // Starts a document with fresh per-document state (sheet counter, layout order, records).
  void BeginDocument();

  // Defines the document's bitmap watermarks as streams (start of document). Not built yet:
  // writes nothing.
  void InsertWatermarkProcedure();

  // Draws the watermarks of the sheet's cells (end of page). Not built yet: writes nothing.
  void CreateWatermark();

  int documentsBegun() const { return documentsBegun_; }

 private:
  VendorData* m_pVendorData = nullptr;
  DEVMODEW* m_pPublicDM = nullptr;
  std::uint8_t* m_pVendorDM = nullptr;
  DEVOBJ* m_pDevObj = nullptr;
  IPrintOemDriverUni* m_pDriverServices = nullptr;
  int documentsBegun_ = 0;
};

}  // namespace velmora
