// The thread's last-error code is the system's own, shared with winspool and the host.
#include "platform/last_error.h"

namespace velmora::platform {

void SetLastError(DWORD code) { ::SetLastError(code); }
DWORD GetLastError() { return ::GetLastError(); }

}  // namespace velmora::platform
