// The plug-in module on Windows.
//
// Our declarations of the host's published structures must match the platform's own
// byte for byte, since the host hands us its structures. <winddi.h> (DRVFN,
// DRVENABLEDATA) cannot be included by the MinGW-w64 headers (it needs DirectDraw
// driver headers they do not ship), so those two are checked by their published sizes
// and offsets in host_interface.h alone.
#include <cstddef>

#include "formats/host_interface.h"

namespace velmora {
namespace {

#define VELMORA_SAME_OFFSET(field) \
  static_assert(offsetof(velmora::DEVMODEW, field) == offsetof(::DEVMODEW, field), #field)

static_assert(sizeof(velmora::DEVMODEW) == sizeof(::DEVMODEW));
VELMORA_SAME_OFFSET(dmSize);
VELMORA_SAME_OFFSET(dmDriverExtra);
VELMORA_SAME_OFFSET(dmOrientation);
VELMORA_SAME_OFFSET(dmCopies);
VELMORA_SAME_OFFSET(dmDefaultSource);
VELMORA_SAME_OFFSET(dmPrintQuality);
VELMORA_SAME_OFFSET(dmDuplex);
VELMORA_SAME_OFFSET(dmYResolution);
VELMORA_SAME_OFFSET(dmCollate);
VELMORA_SAME_OFFSET(dmFormName);

#undef VELMORA_SAME_OFFSET

}  // namespace
}  // namespace velmora

// The module's load and unload notification: nothing to do, success for every reason.
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
