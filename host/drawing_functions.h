// The host's own drawing and job functions, which write PCL XL into the page (private to
// the host device).
#pragma once

#include <vector>

#include "formats/host_interface.h"

namespace velmora::host {

// The host's functions by driver function index, in index order.
std::vector<DRVFN> HostDrawingFunctions();

// The grey level of a solid colour 0x00BBGGRR (0 black, 255 white).
std::uint8_t GrayOf(ULONG color);

}  // namespace velmora::host
