// A readable listing of a PJL + PCL XL job, one PCL XL operator per line.
#include "pxl/dump.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace velmora::pxl {
namespace {

// Long arrays (font data, text runs, palettes) are shortened to keep one line readable.
constexpr std::size_t kMaxArrayElements = 32;
constexpr std::size_t kMaxHexBytes = 64;

std::string FormatReal(double real) {
  if (std::isnan(real)) return "nan";
  if (std::isinf(real)) return real < 0 ? "-inf" : "inf";
  char text[64];
  std::snprintf(text, sizeof text, "%.4f", real);
  std::string formatted(text);
  // Keep one decimal so that a real value never reads like an integer.
  while (formatted.size() > 2 && formatted.back() == '0' && formatted[formatted.size() - 2] != '.') {
    formatted.pop_back();
  }
  return formatted;
}

std::string FormatElement(const Value& value, std::size_t index) {
  if (value.element() == ElementType::kReal32) return FormatReal(value.elements[index]);
  return std::to_string(value.Int(index));
}

bool IsPrintableText(const Value& value) {
  if (value.element() != ElementType::kUByte || value.elements.empty()) return false;
  for (double element : value.elements) {
    if (element < 0x20 || element > 0x7E) return false;
  }
  return true;
}

std::string FormatUByteArray(const Value& value) {
  if (IsPrintableText(value)) {
    std::string text = "\"";
    for (char c : value.Bytes()) {
      if (c == '"' || c == '\\') text.push_back('\\');
      text.push_back(c);
    }
    return text + "\"";
  }
  std::string hex = "<";
  const std::size_t shown = std::min(value.elements.size(), kMaxHexBytes);
  for (std::size_t i = 0; i < shown; ++i) {
    char digits[4];
    std::snprintf(digits, sizeof digits, "%02x", static_cast<unsigned>(value.Int(i) & 0xFF));
    hex += digits;
  }
  if (shown < value.elements.size()) hex += "... " + std::to_string(value.elements.size()) + " bytes";
  return hex + ">";
}

std::string FormatArray(const Value& value) {
  if (value.element() == ElementType::kUByte) return FormatUByteArray(value);
  std::string list = "{";
  const std::size_t shown = std::min(value.elements.size(), kMaxArrayElements);
  for (std::size_t i = 0; i < shown; ++i) {
    if (i > 0) list += ' ';
    list += FormatElement(value, i);
  }
  if (shown < value.elements.size()) list += " ... " + std::to_string(value.elements.size()) + " elements";
  return list + "}";
}

}  // namespace

std::string EscapeText(std::string_view text) {
  std::string escaped;
  for (char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    switch (byte) {
      case 0x1B: escaped += "\\e"; continue;
      case '\r': escaped += "\\r"; continue;
      case '\n': escaped += "\\n"; continue;
      case '\t': escaped += "\\t"; continue;
      case '\\': escaped += "\\\\"; continue;
      default: break;
    }
    if (byte < 0x20 || byte > 0x7E) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", byte);
      escaped += hex;
      continue;
    }
    escaped.push_back(c);
  }
  return escaped;
}

std::string FormatValue(const Value& value, std::uint16_t attribute) {
  switch (value.shape()) {
    case Shape::kScalar: {
      if (value.elements.empty()) return "?";
      const std::string number = FormatElement(value, 0);
      const bool unsignedInteger = value.element() == ElementType::kUByte || value.element() == ElementType::kUInt16 ||
                                   value.element() == ElementType::kUInt32;
      if (!unsignedInteger) return number;
      const std::string_view name = EnumerationName(attribute, static_cast<std::uint32_t>(value.Int()));
      if (name.empty()) return number;
      return std::string(name) + "(" + number + ")";
    }
    case Shape::kXy:
      if (value.elements.size() != 2) return "?";
      return "(" + FormatElement(value, 0) + ", " + FormatElement(value, 1) + ")";
    case Shape::kBox:
      if (value.elements.size() != 4) return "?";
      return "[" + FormatElement(value, 0) + " " + FormatElement(value, 1) + " " + FormatElement(value, 2) + " " +
             FormatElement(value, 3) + "]";
    case Shape::kArray: return FormatArray(value);
  }
  return "?";
}

std::string FormatEvent(const Event& event) {
  switch (event.kind) {
    case EventKind::kUel: return "\\e%-12345X";
    case EventKind::kPjlLine:
    case EventKind::kStreamHeader: return EscapeText(event.text);
    case EventKind::kEmbeddedData: return "<data " + std::to_string(event.data_length) + " bytes>";
    case EventKind::kOperator: break;
  }
  std::string line(OperatorName(event.op));
  if (line.empty()) {
    char unknown[24];
    std::snprintf(unknown, sizeof unknown, "UnknownOperator0x%02X", event.op);
    line = unknown;
  }
  for (const Attribute& attribute : event.attributes) {
    std::string name(AttributeName(attribute.id));
    if (name.empty()) {
      char unknown[24];
      std::snprintf(unknown, sizeof unknown, "Attribute0x%02X", attribute.id);
      name = unknown;
    }
    line += ' ' + name + '=' + FormatValue(attribute.value, attribute.id);
  }
  return line;
}

bool Dump(std::span<const std::uint8_t> job, std::ostream& out, const DumpOptions& options) {
  Reader reader(job);
  std::size_t pagesEnded = 0;
  while (auto event = reader.Next()) {
    out << FormatEvent(*event) << '\n';
    if (!event->Is(Op::EndPage)) continue;
    ++pagesEnded;
    if (options.max_pages != 0 && pagesEnded == options.max_pages) return true;
  }
  if (const auto& error = reader.error()) {
    out << "error at offset " << error->offset << ": " << error->cause << '\n';
    return false;
  }
  return true;
}

}  // namespace velmora::pxl
