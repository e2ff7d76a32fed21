// The thread's last-error code and the words for it, shared by every module of the process.
#include "platform/last_error.h"

#include <utility>

namespace velmora::platform {
namespace {
thread_local DWORD lastError = ERROR_SUCCESS;
}  // namespace

void SetLastError(DWORD code) { lastError = code; }
DWORD GetLastError() { return lastError; }

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
  return textCode == GetLastError() && textCode != ERROR_SUCCESS ? lastErrorText : std::string();
}

}  // namespace velmora::platform
