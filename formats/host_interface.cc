// The few definitions behind the host's published plug-in interfaces.
#include "formats/host_interface.h"

#include <cstring>

namespace velmora {

bool IsEqualGUID(const GUID& a, const GUID& b) { return std::memcmp(&a, &b, sizeof(GUID)) == 0; }

}  // namespace velmora
