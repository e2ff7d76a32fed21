// OemPdev: the plug-in's per-device object, kept by the host as the device object's
// pdevOEM. It saves the host's own drawing and job functions, points at the shared vendor
// object and holds the device's vendor area.
#pragma once

#include "formats/host_interface.h"
#include "src/job/vendor_data.h"

namespace velmora {

class CUnidrvPrintVendorProtocol;

// The host functions that can be saved, in field order; null when the host's enable data
// has none for them.
struct SavedHostFunctions {
  PFN AlphaBlend;
  PFN BitBlt;
  PFN CopyBits;
  PFN DitherColor;
  PFN EndDoc;
  PFN Escape;
  PFN FillPath;
  PFN FontManagement;
  PFN GetGlyphMode;
  PFN GradientFill;
  PFN LineTo;
  PFN NextBand;
  PFN Paint;
  PFN PlgBlt;
  PFN QueryAdvanceWidths;
  PFN QueryFont;
  PFN QueryFontData;
  PFN QueryFontTree;
  PFN RealizeBrush;
  PFN SendPage;
  PFN StartBanding;
  PFN StartDoc;
  PFN StartPage;
  PFN StretchBlt;
  PFN StretchBltROP;
  PFN StrokeAndFillPath;
  PFN StrokePath;
  PFN TextOut;
  PFN TransparentBlt;
};
static_assert(sizeof(SavedHostFunctions) == 29 * sizeof(PFN));

// The saved-function field for a host function index, or null for an index the plug-in
// does not save.
PFN* SavedHostFunctionSlot(SavedHostFunctions& saved, ULONG index);

struct OemPdev {
  SavedHostFunctions savedHostFunctions{};
  CUnidrvPrintVendorProtocol* vendor = nullptr;  // not owned
  VendorData vendorData{};
};

// The per-device object of the surface's device, or null.
inline OemPdev* OemPdevOfSurface(SURFOBJ* surface) {
  if (surface == nullptr || surface->dhpdev == nullptr) return nullptr;
  auto* device = static_cast<DEVOBJ*>(surface->dhpdev);
  return static_cast<OemPdev*>(device->pdevOEM);
}

}  // namespace velmora
