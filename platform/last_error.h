// The calling thread's last-error code, as the host and the spooler see it.
// On Windows this is the system's own; on POSIX a per-thread value shared by every
// module of the process (the platform library is one shared object).
#pragma once

#include "platform/types.h"

namespace velmora::platform {

// Sets the calling thread's last-error code.
void SetLastError(DWORD code);

// Returns the calling thread's last-error code.
DWORD GetLastError();

}  // namespace velmora::platform
