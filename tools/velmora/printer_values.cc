// Printer-data values as the administrator types and reads them.
#include "tools/velmora/printer_values.h"

#include <array>
#include <charconv>
#include <cstdio>

#include "formats/text.h"
#include "platform/text_encoding.h"
#include "tools/velmora/file_io.h"
#include "tools/velmora/quoting.h"

namespace velmora::cli {
namespace {

using platform::PrinterValue;
using platform::ValueType;

// The plug-in keeps the printing module's name in a 260-byte buffer: 129 characters and
// the NUL.
constexpr std::size_t kModuleNameBytes = 260;
constexpr std::size_t kModuleNameMaxUnits = kModuleNameBytes / 2 - 1;

struct KnownValue {
  std::string_view name;
  ValueKind kind;
};

constexpr std::array<KnownValue, 5> kKnownValues{{
    {"OvelayDirectory", ValueKind::kText},
    {"OvelayFiles", ValueKind::kText},
    {"UserAuthentication", ValueKind::kNumber},
    {"ModuleName", ValueKind::kMultiText},
    {"PaperModel", ValueKind::kText},
}};

constexpr std::array<std::pair<DWORD, std::string_view>, 15> kStatusWords{{
    {0x1, "paused"},
    {0x2, "error"},
    {0x4, "deleting"},
    {0x8, "spooling"},
    {0x10, "printing"},
    {0x20, "offline"},
    {0x40, "paper out"},
    {0x80, "printed"},
    {0x100, "deleted"},
    {0x200, "blocked"},
    {0x400, "user intervention"},
    {0x800, "restart"},
    {0x1000, "complete"},
    {0x2000, "retained"},
    {0x4000, "rendering locally"},
}};

void AppendUtf16Le(std::vector<std::uint8_t>& bytes, std::string_view utf8) {
  for (WCHAR unit : platform::Utf8ToUtf16(utf8)) {
    bytes.push_back(static_cast<std::uint8_t>(unit & 0xFF));
    bytes.push_back(static_cast<std::uint8_t>((unit >> 8) & 0xFF));
  }
}

// The UTF-16 code units of stored text bytes; nullopt for an odd count.
std::optional<WString> Units(const std::vector<std::uint8_t>& bytes) {
  if (bytes.size() % 2 != 0) return std::nullopt;
  WString units;
  for (std::size_t i = 0; i < bytes.size(); i += 2) units.push_back(static_cast<WCHAR>(bytes[i] | (bytes[i + 1] << 8)));
  return units;
}

std::string Hex(const std::vector<std::uint8_t>& bytes) {
  if (bytes.empty()) return "(no bytes)";
  std::string out;
  for (std::uint8_t byte : bytes) {
    char two[4];
    std::snprintf(two, sizeof two, "%02x", byte);
    if (!out.empty()) out.push_back(' ');
    out += two;
  }
  return out;
}

std::string Malformed(const std::vector<std::uint8_t>& bytes) {
  return "malformed, " + std::to_string(bytes.size()) + " bytes: " + Hex(bytes);
}

// Splits multi-text data at commas that no backslash precedes.
std::vector<std::string> SplitEntries(std::string_view piece) {
  std::vector<std::string> entries(1);
  for (std::size_t i = 0; i < piece.size(); ++i) {
    if (piece[i] == '\\' && i + 1 < piece.size() && piece[i + 1] == ',') {
      entries.back().push_back(',');
      ++i;
      continue;
    }
    if (piece[i] == ',') {
      entries.emplace_back();
      continue;
    }
    entries.back().push_back(piece[i]);
  }
  return entries;
}

std::vector<std::uint8_t> EncodeMultiText(std::string_view valueName, const std::vector<std::string>& pieces) {
  std::vector<std::string> entries;
  for (const auto& piece : pieces) {
    if (piece.empty()) continue;
    for (auto& entry : SplitEntries(piece)) {
      if (entry.empty()) {
        throw CommandError("value " + Quoted(valueName) + ": '" + piece +
                           "' holds an empty entry, which would end the list early");
      }
      entries.push_back(std::move(entry));
    }
  }
  if (text::EqualsNoCase(valueName, "ModuleName")) {
    if (entries.size() != 1) throw CommandError("value 'ModuleName' takes exactly one module name");
    std::vector<std::uint8_t> bytes;
    AppendUtf16Le(bytes, entries.front());
    if (bytes.size() / 2 > kModuleNameMaxUnits) {
      throw CommandError("value 'ModuleName': the name is longer than 129 characters");
    }
    bytes.resize(kModuleNameBytes, 0);
    return bytes;
  }
  std::vector<std::uint8_t> bytes;
  for (const auto& entry : entries) {
    AppendUtf16Le(bytes, entry);
    bytes.insert(bytes.end(), {0, 0});
  }
  bytes.insert(bytes.end(), {0, 0});
  return bytes;
}

std::vector<std::uint8_t> EncodeNumber(std::string_view valueName, std::string_view text) {
  std::string_view digits = text;
  int base = 10;
  if (digits.starts_with("0x") || digits.starts_with("0X")) {
    digits.remove_prefix(2);
    base = 16;
  }
  std::uint32_t number = 0;
  const char* end = digits.data() + digits.size();
  const auto [stop, status] = std::from_chars(digits.data(), end, number, base);
  if (digits.empty() || status != std::errc() || stop != end) {
    throw CommandError("value " + Quoted(valueName) + ": '" + std::string(text) +
                       "' is not a number from 0 to 4294967295 (decimal, or hexadecimal with 0x)");
  }
  return {static_cast<std::uint8_t>(number), static_cast<std::uint8_t>(number >> 8),
          static_cast<std::uint8_t>(number >> 16), static_cast<std::uint8_t>(number >> 24)};
}

std::vector<std::uint8_t> EncodeBinary(std::string_view valueName, std::string_view text) {
  std::string digits;
  for (char c : text) {
    if (c == ' ' || c == '\t' || c == ':') continue;
    const bool hex = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
    if (!hex) {
      throw CommandError("value " + Quoted(valueName) + ": '" + std::string(text) +
                         "' is not hexadecimal bytes (e.g. 01ff or \"01 ff\")");
    }
    digits.push_back(c);
  }
  if (digits.size() % 2 != 0) {
    throw CommandError("value " + Quoted(valueName) + ": '" + std::string(text) + "' has an odd number of hex digits");
  }
  std::vector<std::uint8_t> bytes;
  for (std::size_t i = 0; i < digits.size(); i += 2) {
    std::uint8_t byte = 0;
    std::from_chars(digits.data() + i, digits.data() + i + 2, byte, 16);
    bytes.push_back(byte);
  }
  return bytes;
}

}  // namespace

std::optional<ValueKind> KindFromName(std::string_view name) {
  for (ValueKind kind : {ValueKind::kText, ValueKind::kMultiText, ValueKind::kNumber, ValueKind::kBinary}) {
    if (name == KindName(kind)) return kind;
  }
  return std::nullopt;
}

const char* KindName(ValueKind kind) {
  switch (kind) {
    case ValueKind::kText: return "text";
    case ValueKind::kMultiText: return "multi-text";
    case ValueKind::kNumber: return "number";
    case ValueKind::kBinary: return "binary";
  }
  return "binary";
}

std::optional<ValueKind> KnownValueKind(std::string_view valueName) {
  for (const auto& known : kKnownValues) {
    if (text::EqualsNoCase(known.name, valueName)) return known.kind;
  }
  return std::nullopt;
}

bool IsPaperModelValue(std::string_view valueName) { return text::EqualsNoCase(valueName, "PaperModel"); }

PrinterValue EncodeValue(std::string_view valueName, ValueKind kind, const std::vector<std::string>& pieces) {
  if (kind == ValueKind::kMultiText) return PrinterValue{ValueType::kMultiString, EncodeMultiText(valueName, pieces)};
  if (pieces.size() != 1) {
    throw CommandError("value " + Quoted(valueName) + " is given " + std::to_string(pieces.size()) +
                       " times; only multi-text values take several");
  }
  switch (kind) {
    case ValueKind::kText: {
      PrinterValue value{ValueType::kString, {}};
      AppendUtf16Le(value.bytes, pieces.front());
      value.bytes.insert(value.bytes.end(), {0, 0});
      return value;
    }
    case ValueKind::kNumber: return PrinterValue{ValueType::kDword, EncodeNumber(valueName, pieces.front())};
    case ValueKind::kBinary:
    case ValueKind::kMultiText: break;
  }
  return PrinterValue{ValueType::kBinary, EncodeBinary(valueName, pieces.front())};
}

std::string TypeName(const PrinterValue& value) {
  switch (value.type) {
    case ValueType::kString: return "text";
    case ValueType::kMultiString: return "multi-text";
    case ValueType::kDword: return "number";
    case ValueType::kBinary: return "binary";
  }
  return "type " + std::to_string(static_cast<DWORD>(value.type));
}

std::string Printable(std::string_view text, bool quoted) {
  std::string out;
  if (quoted) out.push_back('"');
  for (char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (quoted && (c == '"' || c == '\\')) {
      out.push_back('\\');
      out.push_back(c);
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c == '\r') {
      out += "\\r";
    } else if (byte < 0x20 || byte == 0x7F) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02x", byte);
      out += escaped;
    } else {
      out.push_back(c);
    }
  }
  if (quoted) out.push_back('"');
  return out;
}

std::string DescribeValue(const PrinterValue& value) {
  switch (value.type) {
    case ValueType::kString: {
      const std::optional<WString> units = Units(value.bytes);
      if (!units) return Malformed(value.bytes);
      // The text ends at its first NUL, as readers of the value take it.
      return Printable(platform::Utf16ToUtf8(WStringView(*units).substr(0, units->find(WCHAR{0}))), true);
    }
    case ValueType::kMultiString: {
      const std::optional<WString> units = Units(value.bytes);
      if (!units) return Malformed(value.bytes);
      std::string out;
      // The list ends at its first empty entry (two NULs in a row) or with its bytes.
      WStringView rest(*units);
      while (!rest.empty() && rest.front() != 0) {
        const std::size_t end = std::min(rest.find(WCHAR{0}), rest.size());
        if (!out.empty()) out += ", ";
        out += Printable(platform::Utf16ToUtf8(rest.substr(0, end)), true);
        rest.remove_prefix(std::min(end + 1, rest.size()));
      }
      return out.empty() ? "(no entries)" : out;
    }
    case ValueType::kDword: {
      if (value.bytes.size() != 4) return Malformed(value.bytes);
      const std::uint32_t number = value.bytes[0] | (value.bytes[1] << 8) | (value.bytes[2] << 16) |
                                   (static_cast<std::uint32_t>(value.bytes[3]) << 24);
      char hex[16];
      std::snprintf(hex, sizeof hex, "0x%08x", static_cast<unsigned>(number));
      return std::to_string(number) + " (" + hex + ")";
    }
    case ValueType::kBinary: break;
  }
  return Hex(value.bytes);
}

std::string JobStatusWords(DWORD status) {
  if (status == 0) return "in progress";
  std::string out;
  DWORD rest = status;
  for (const auto& [bit, word] : kStatusWords) {
    if ((status & bit) == 0) continue;
    if (!out.empty()) out.push_back(',');
    out += word;
    rest &= ~bit;
  }
  if (rest != 0) {
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%x", static_cast<unsigned>(rest));
    if (!out.empty()) out.push_back(',');
    out += hex;
  }
  return out;
}

}  // namespace velmora::cli
