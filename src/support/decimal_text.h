// Reads decimal text as the settings store it ("0.16", "4.064", " 5"): at most the first
// six characters, leading blanks allowed, an optional sign, digits with an optional
// decimal point and an optional exponent; reading stops at the first character that does
// not belong to the number. No text, or no number, reads as 0.0.
#pragma once

#include <cstddef>

#include "platform/types.h"

namespace velmora {

inline constexpr std::size_t kDecimalTextChars = 6;

double ReadDecimalText(WStringView text);

}  // namespace velmora
