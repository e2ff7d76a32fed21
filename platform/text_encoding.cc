// UTF-16 and UTF-8 conversion as the system's code-page 65001 conversion does it.
#include "platform/text_encoding.h"

#include <cstdint>

namespace velmora::platform {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

void AppendUtf16(WString& out, char32_t cp) {
  if (cp < 0x10000) {
    out.push_back(static_cast<WCHAR>(cp));
    return;
  }
  cp -= 0x10000;
  out.push_back(static_cast<WCHAR>(0xD800 + (cp >> 10)));
  out.push_back(static_cast<WCHAR>(0xDC00 + (cp & 0x3FF)));
}

}  // namespace

std::string Utf16ToUtf8(WStringView text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t unit = static_cast<std::uint16_t>(text[i]);
    if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < text.size()) {
      char32_t low = static_cast<std::uint16_t>(text[i + 1]);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        AppendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
        ++i;
        continue;
      }
    }
    if (unit >= 0xD800 && unit <= 0xDFFF) unit = kReplacement;
    AppendUtf8(out, unit);
  }
  return out;
}

WString Utf8ToUtf16(std::string_view text) {
  WString out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    const auto lead = static_cast<unsigned char>(text[i]);
    int extra = 0;
    char32_t cp = 0;
    char32_t minimum = 0;
    if (lead < 0x80) {
      cp = lead;
    } else if ((lead & 0xE0) == 0xC0) {
      extra = 1, cp = lead & 0x1F, minimum = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
      extra = 2, cp = lead & 0x0F, minimum = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
      extra = 3, cp = lead & 0x07, minimum = 0x10000;
    } else {
      AppendUtf16(out, kReplacement);
      ++i;
      continue;
    }
    bool valid = extra == 0 || i + static_cast<std::size_t>(extra) < text.size();
    int taken = 1;
    for (int k = 1; valid && k <= extra; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0) != 0x80) {
        valid = false;
        break;
      }
      cp = (cp << 6) | (next & 0x3F);
      ++taken;
    }
    if (!valid || cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
      AppendUtf16(out, kReplacement);
      i += taken;
      continue;
    }
    AppendUtf16(out, cp);
    i += taken;
  }
  return out;
}

}  // namespace velmora::platform
