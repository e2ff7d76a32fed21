#include "platform/last_error.h"

namespace velmora::platform {
namespace {
thread_local DWORD lastError = ERROR_SUCCESS;
}  // namespace

void SetLastError(DWORD code) { lastError = code; }
DWORD GetLastError() { return lastError; }

}  // namespace velmora::platform
