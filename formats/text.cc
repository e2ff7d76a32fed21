// Text helpers over UTF-16 and 8-bit strings, as the plug-in handles them.
#include "formats/text.h"

#include <cstdint>

#include "formats/le_bytes.h"

namespace velmora::text {
namespace {

template <typename Char>
Char LowerAscii(Char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<Char>(c - 'A' + 'a') : c;
}

template <typename View>
bool EqualsNoCaseImpl(View a, View b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  }
  return true;
}

}  // namespace

std::size_t BoundedLength(const WCHAR* text, std::size_t max) {
  std::size_t length = 0;
  while (length < max && text[length] != 0) ++length;
  return length;
}

std::size_t BoundedLength(const char* text, std::size_t max) {
  std::size_t length = 0;
  while (length < max && text[length] != '\0') ++length;
  return length;
}

bool EqualsNoCase(std::string_view a, std::string_view b) { return EqualsNoCaseImpl(a, b); }
bool EqualsNoCase(WStringView a, WStringView b) { return EqualsNoCaseImpl(a, b); }

std::string SanitizeForPjl(std::string text) {
  for (char& c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) {
      c = ' ';
    } else if (c == '"') {
      c = '\'';
    }
  }
  return text;
}

std::string_view CutUtf8(std::string_view text, std::size_t maxBytes) {
  if (text.size() <= maxBytes) return text;
  std::size_t end = maxBytes;
  // A continuation byte at the cut means the character before it would lose its tail.
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  return text.substr(0, end);
}

WString ReadWideField(const std::uint8_t* field, std::size_t units) {
  WString value;
  for (std::size_t i = 0; i < units; ++i) {
    const std::uint16_t unit = le::U16(field + 2 * i);
    if (unit == 0) break;
    value.push_back(static_cast<WCHAR>(unit));
  }
  return value;
}

void WriteWideField(std::uint8_t* field, std::size_t units, WStringView value) {
  if (units == 0) return;
  const std::size_t count = value.size() < units - 1 ? value.size() : units - 1;
  for (std::size_t i = 0; i < units; ++i) {
    le::PutU16(field + 2 * i, i < count ? static_cast<std::uint16_t>(value[i]) : 0);
  }
}

}  // namespace velmora::text
