// UTF-16 <-> UTF-8 conversion, as the system's code-page 65001 conversion does it:
// an unpaired surrogate becomes U+FFFD, an invalid UTF-8 sequence becomes U+FFFD.
#pragma once

#include <string>
#include <string_view>

#include "platform/types.h"

namespace velmora::platform {

// Converts UTF-16 text to UTF-8.
std::string Utf16ToUtf8(WStringView text);

// Converts UTF-8 text to UTF-16.
WString Utf8ToUtf16(std::string_view text);

}  // namespace velmora::platform
