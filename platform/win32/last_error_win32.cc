// The thread's last-error code is the system's own, shared with winspool and the host.
#include "platform/last_error.h"

#include <utility>

#include "platform/win32/system_message.h"

namespace velmora::platform {

void SetLastError(DWORD code) { ::SetLastError(code); }
DWORD GetLastError() { return ::GetLastError(); }

namespace {
// The words of the last failure, with the code they belong to.
thread_local DWORD textCode = ERROR_SUCCESS;
thread_local std::string lastErrorText;
}  // namespace

void SetLastErrorText(std::string text) {
  textCode = GetLastError();
  lastErrorText = std::move(text);
}

std::string LastErrorText() {
  const DWORD code = GetLastError();
  if (code == ERROR_SUCCESS) return {};
  // Without words of ours, the system's own for the code.
  return textCode == code ? lastErrorText : win32::SystemMessage(code);
}

}  // namespace velmora::platform
