// The plug-in's answer to the host's DevMode request: the record's size, its defaults,
// and the convert and merge copies handed on to the vendor object.
#pragma once

#include <cstdint>
#include <functional>

#include "formats/host_interface.h"

namespace velmora {

// What the DevMode request passes on to the vendor object after a successful CONVERT
// or MERGE: the mode, the parameter block and the input and output bodies.
using VendorDevModeHandler =
    std::function<void(DWORD mode, const OEMDMPARAM& param, std::uint8_t* bodyIn, std::uint8_t* bodyOut)>;

// Answers the host's DevMode request (size, defaults, convert, merge).
HRESULT HandleDevModeRequest(DWORD mode, OEMDMPARAM* param, const VendorDevModeHandler& vendor);

}  // namespace velmora
