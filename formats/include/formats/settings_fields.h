// Named access to a settings record and to the public device-mode fields the system
// reads, by the names the administrator commands and job tickets use: the record's field
// names ("dwOutputBin", "szMargins"), the special-page blocks ("SpecialPage2.dwPageRule")
// and the device-mode fields ("dmCopies").
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "formats/vendor_settings.h"

namespace velmora {

// The public device-mode fields that can be named, in the order they are shown.
struct DevmodeFieldInfo {
  std::string_view name;
  std::size_t offset;
  FieldKind kind;
  std::size_t units;  // UTF-16 units of a text field
};
inline constexpr DevmodeFieldInfo kDevmodeFields[] = {
    {"dmDeviceName", 0, FieldKind::kWideText, 32}, {"dmSize", 68, FieldKind::kU16, 0},
    {"dmDriverExtra", 70, FieldKind::kU16, 0},     {"dmFields", 72, FieldKind::kU32, 0},
    {"dmOrientation", 76, FieldKind::kI16, 0},     {"dmPaperSize", 78, FieldKind::kI16, 0},
    {"dmCopies", 86, FieldKind::kI16, 0},          {"dmDefaultSource", 88, FieldKind::kI16, 0},
    {"dmPrintQuality", 90, FieldKind::kI16, 0},    {"dmDuplex", 94, FieldKind::kI16, 0},
    {"dmYResolution", 96, FieldKind::kI16, 0},     {"dmCollate", 100, FieldKind::kI16, 0},
    {"dmFormName", 102, FieldKind::kWideText, 32},
};

// The names that can be set, for help texts and error messages.
std::vector<std::string> SettableFieldNames(bool withDevmode);

// Sets one named field from its text form. `body` is the record's body; `devmode` is the
// public device mode (220 bytes at least), or null when there is none. Integers take
// decimal or 0x-hexadecimal text and must fit the field's width; texts must fit the
// field with its terminator; "szMargins" takes four comma-separated texts.
// Returns an error message naming the field and what is wrong, or nothing on success.
std::optional<std::string> SetNamedField(std::uint8_t* body, std::uint8_t* devmode, std::string_view name,
                                         std::string_view value);

// The same with a NAME=VALUE assignment.
std::optional<std::string> ApplyAssignment(std::uint8_t* body, std::uint8_t* devmode, std::string_view assignment);

// Reads a field of the given kind as text (numbers in decimal, texts as UTF-8).
std::string FieldText(const std::uint8_t* field, FieldKind kind, std::size_t units);

}  // namespace velmora
