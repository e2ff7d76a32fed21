// The stored text of a private-profile structure, shared by every platform.
#include "platform/private_profile.h"

namespace velmora::platform {
namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

// The value of one hexadecimal digit, or -1.
int DigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

WStringView TrimBlanks(WStringView text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

bool Holds(WStringView text, std::string_view characters) {
  for (WCHAR unit : text) {
    if (unit < 0x80 && characters.find(static_cast<char>(unit)) != std::string_view::npos) return true;
  }
  return false;
}

WCHAR FoldAscii(WCHAR unit) { return unit >= 'A' && unit <= 'Z' ? static_cast<WCHAR>(unit - 'A' + 'a') : unit; }

}  // namespace

bool WritableProfileSectionName(WStringView name) { return !TrimBlanks(name).empty() && !Holds(name, "]\r\n"); }

bool WritableProfileKeyName(WStringView name) {
  const WStringView trimmed = TrimBlanks(name);
  return !trimmed.empty() && trimmed.front() != ';' && trimmed.front() != '[' && !Holds(name, "=\r\n");
}

bool SameProfileName(WStringView a, WStringView b) {
  a = TrimBlanks(a);
  b = TrimBlanks(b);
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (FoldAscii(a[i]) != FoldAscii(b[i])) return false;
  }
  return true;
}

std::string EncodeProfileStruct(std::span<const std::uint8_t> bytes) {
  std::string text;
  text.reserve(2 * bytes.size() + 2);
  std::uint8_t checksum = 0;
  const auto append = [&text](std::uint8_t byte) {
    text.push_back(kHexDigits[byte >> 4]);
    text.push_back(kHexDigits[byte & 0x0F]);
  };
  for (std::uint8_t byte : bytes) {
    append(byte);
    checksum = static_cast<std::uint8_t>(checksum + byte);
  }
  append(checksum);
  return text;
}

std::optional<std::vector<std::uint8_t>> DecodeProfileStruct(std::string_view text, std::size_t byteCount) {
  // Compare lengths without computing 2 * (byteCount + 1), which could overflow.
  if (text.size() % 2 != 0 || text.size() / 2 == 0 || text.size() / 2 - 1 != byteCount) return std::nullopt;
  std::vector<std::uint8_t> bytes;
  bytes.reserve(byteCount + 1);
  for (std::size_t i = 0; i < text.size(); i += 2) {
    const int high = DigitValue(text[i]);
    const int low = DigitValue(text[i + 1]);
    if (high < 0 || low < 0) return std::nullopt;
    bytes.push_back(static_cast<std::uint8_t>(high << 4 | low));
  }
  const std::uint8_t stored = bytes.back();
  bytes.pop_back();
  std::uint8_t checksum = 0;
  for (std::uint8_t byte : bytes) checksum = static_cast<std::uint8_t>(checksum + byte);
  if (checksum != stored) return std::nullopt;
  return bytes;
}

}  // namespace velmora::platform
