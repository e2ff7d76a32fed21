// Text helpers over UTF-16 and 8-bit strings, as the plug-in handles them.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "platform/text_encoding.h"
#include "platform/types.h"

namespace velmora::text {

using platform::Utf16ToUtf8;
using platform::Utf8ToUtf16;

// Length of a NUL-terminated UTF-16 string of at most `max` units; `max` when no NUL
// lies within them.
std::size_t BoundedLength(const WCHAR* text, std::size_t max);

// Length of a NUL-terminated byte string of at most `max` bytes; `max` when no NUL
// lies within them.
std::size_t BoundedLength(const char* text, std::size_t max);

// ASCII case-insensitive equality (the tables and names compared are ASCII).
bool EqualsNoCase(std::string_view a, std::string_view b);
bool EqualsNoCase(WStringView a, WStringView b);

// Makes spooler and user text safe inside a PJL line: every control byte (below 0x20,
// and 0x7F) becomes a blank and every double quote a single quote. Applied to UTF-8
// text, so multi-byte characters are untouched.
std::string SanitizeForPjl(std::string text);

// The longest start of UTF-8 text that fits in `maxBytes` bytes without cutting a
// character in two.
std::string_view CutUtf8(std::string_view text, std::size_t maxBytes);

// Reads UTF-16 text from a little-endian byte field of `units` code units, up to its
// first NUL (the whole field when it has none).
WString ReadWideField(const std::uint8_t* field, std::size_t units);

// Writes UTF-16 text into a little-endian byte field of `units` code units: at most
// units - 1 characters, then NUL padding to the end of the field.
void WriteWideField(std::uint8_t* field, std::size_t units, WStringView value);

}  // namespace velmora::text
