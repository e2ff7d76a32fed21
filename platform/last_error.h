// The calling thread's last-error code, as the host and the spooler see it.
// On Windows this is the system's own; on POSIX a per-thread value shared by every
// module of the process (the platform library is one shared object).
#pragma once

#include <string>

#include "platform/types.h"

namespace velmora::platform {

// Sets the calling thread's last-error code.
void SetLastError(DWORD code);

// Returns the calling thread's last-error code.
DWORD GetLastError();

// Why the calling thread's last call failed, in words, with the system's reason
// ("Unable to reach store '/srv/x/spooler.db': Not a directory"). A failing call that
// knows more than its code sets it right after the code; it belongs to that code, and is
// empty once a later call has set another code.
void SetLastErrorText(std::string text);
std::string LastErrorText();

}  // namespace velmora::platform
