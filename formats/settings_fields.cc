// Named access to the settings record and the public device-mode fields, for commands and tickets.
#include "formats/settings_fields.h"
#include "platform/text_encoding.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>

#include "formats/le_bytes.h"
#include "formats/text.h"

namespace velmora {
namespace {

std::string Quote(std::string_view text) { return "'" + std::string(text) + "'"; }

// Parses a whole integer in decimal or 0x-hexadecimal, with an optional sign.
std::optional<long long> ParseInteger(std::string_view text) {
  bool negative = false;
  if (!text.empty() && (text[0] == '-' || text[0] == '+')) {
    negative = text[0] == '-';
    text.remove_prefix(1);
  }
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    text.remove_prefix(2);
  }
  if (text.empty()) return std::nullopt;
  unsigned long long magnitude = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), magnitude, base);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  if (magnitude > static_cast<unsigned long long>(std::numeric_limits<long long>::max())) return std::nullopt;
  const auto value = static_cast<long long>(magnitude);
  return negative ? -value : value;
}

std::optional<std::string> WriteValue(std::uint8_t* field, FieldKind kind, std::size_t units, std::string_view name,
                                      std::string_view value) {
  if (kind == FieldKind::kWideText) {
    const WString wide = platform::Utf8ToUtf16(value);
    if (wide.size() + 1 > units) {
      return Quote(name) + ": text of " + std::to_string(wide.size()) + " characters is too long (at most " +
             std::to_string(units - 1) + ")";
    }
    text::WriteWideField(field, units, wide);
    return std::nullopt;
  }
  if (kind == FieldKind::kF32) {
    std::string copy(value);
    char* end = nullptr;
    const float number = std::strtof(copy.c_str(), &end);
    if (copy.empty() || *end != '\0' || !std::isfinite(number)) {
      return Quote(name) + ": " + Quote(value) + " is not a number";
    }
    le::PutF32(field, number);
    return std::nullopt;
  }
  // A four-letter signature may be given as its characters.
  if (kind == FieldKind::kU32 && value.size() == 4 && !ParseInteger(value)) {
    le::PutU32(field, le::U32(reinterpret_cast<const std::uint8_t*>(value.data())));
    return std::nullopt;
  }
  const auto number = ParseInteger(value);
  if (!number) return Quote(name) + ": " + Quote(value) + " is not an integer";
  long long low = 0, high = 0;
  switch (kind) {
    case FieldKind::kU8: low = 0, high = 0xFF; break;
    case FieldKind::kI16: low = -32768, high = 32767; break;
    case FieldKind::kU16: low = 0, high = 0xFFFF; break;
    case FieldKind::kU32: low = 0, high = 0xFFFFFFFFLL; break;
    case FieldKind::kI32:
      low = std::numeric_limits<std::int32_t>::min(), high = std::numeric_limits<std::int32_t>::max();
      break;
    default: break;
  }
  if (*number < low || *number > high) {
    return Quote(name) + ": " + std::to_string(*number) + " is out of range (" + std::to_string(low) + " to " +
           std::to_string(high) + ")";
  }
  switch (kind) {
    case FieldKind::kU8: *field = static_cast<std::uint8_t>(*number); break;
    case FieldKind::kI16:
    case FieldKind::kU16: le::PutU16(field, static_cast<std::uint16_t>(*number)); break;
    default: le::PutU32(field, static_cast<std::uint32_t>(*number)); break;
  }
  return std::nullopt;
}

std::optional<std::string> SetMargins(std::uint8_t* body, std::string_view name, std::string_view value) {
  std::vector<std::string_view> parts;
  std::size_t start = 0;
  while (true) {
    const std::size_t comma = value.find(',', start);
    parts.push_back(value.substr(start, comma == std::string_view::npos ? std::string_view::npos : comma - start));
    if (comma == std::string_view::npos) break;
    start = comma + 1;
  }
  if (parts.size() != kMarginCount) {
    return Quote(name) + ": give four margins separated by commas (left,top,right,bottom)";
  }
  for (std::size_t i = 0; i < kMarginCount; ++i) {
    if (auto error = WriteValue(body + kMarginsOffset + 2 * kMarginUnits * i, FieldKind::kWideText, kMarginUnits, name,
                                parts[i])) {
      return error;
    }
  }
  return std::nullopt;
}

}  // namespace

std::vector<std::string> SettableFieldNames(bool withDevmode) {
  std::vector<std::string> names;
  for (const auto& field : kVendorFields) names.emplace_back(field.name);
  names.emplace_back("szMargins");
  for (int kind = 1; kind <= 3; ++kind) {
    for (const char* member : {"dwPageRule", "sTrayIndex", "sMediaIndex"}) {
      names.push_back("SpecialPage" + std::to_string(kind) + "." + member);
    }
  }
  if (withDevmode) {
    for (const auto& field : kDevmodeFields) names.emplace_back(field.name);
  }
  return names;
}

std::optional<std::string> SetNamedField(std::uint8_t* body, std::uint8_t* devmode, std::string_view name,
                                         std::string_view value) {
  for (const auto& field : kVendorFields) {
    if (field.name == name) return WriteValue(body + field.offset, field.kind, field.units, name, value);
  }
  if (name == "szMargins") return SetMargins(body, name, value);
  if (name.starts_with("SpecialPage") && name.size() > 13 && name[12] == '.') {
    const auto block = SpecialPageBlockOffset(name[11] - '0');
    const std::string_view member = name.substr(13);
    if (block) {
      if (member == "dwPageRule")
        return WriteValue(body + *block + kSpecialPageRuleOffset, FieldKind::kU32, 0, name, value);
      if (member == "sTrayIndex")
        return WriteValue(body + *block + kSpecialPageTrayOffset, FieldKind::kI16, 0, name, value);
      if (member == "sMediaIndex")
        return WriteValue(body + *block + kSpecialPageMediaOffset, FieldKind::kI16, 0, name, value);
    }
  }
  for (const auto& field : kDevmodeFields) {
    if (field.name != name) continue;
    if (devmode == nullptr) return Quote(name) + ": this file holds no public device mode";
    return WriteValue(devmode + field.offset, field.kind, field.units, name, value);
  }
  return "unknown field " + Quote(name);
}

std::optional<std::string> ApplyAssignment(std::uint8_t* body, std::uint8_t* devmode, std::string_view assignment) {
  const std::size_t equals = assignment.find('=');
  if (equals == std::string_view::npos || equals == 0) {
    return Quote(assignment) + " is not of the form NAME=VALUE";
  }
  return SetNamedField(body, devmode, assignment.substr(0, equals), assignment.substr(equals + 1));
}

std::string FieldText(const std::uint8_t* field, FieldKind kind, std::size_t units) {
  switch (kind) {
    case FieldKind::kU8: return std::to_string(*field);
    case FieldKind::kI16: return std::to_string(le::I16(field));
    case FieldKind::kU16: return std::to_string(le::U16(field));
    case FieldKind::kU32: return std::to_string(le::U32(field));
    case FieldKind::kI32: return std::to_string(le::I32(field));
    case FieldKind::kF32: {
      char buffer[64];
      std::snprintf(buffer, sizeof buffer, "%g", static_cast<double>(le::F32(field)));
      return buffer;
    }
    case FieldKind::kWideText: return platform::Utf16ToUtf8(text::ReadWideField(field, units));
  }
  return {};
}

}  // namespace velmora
