// The constant tables that translate the host's option names into PJL values and PCL XL
// attribute values. Rows are searched first to last; names compare without regard to
// case; the first match wins.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace velmora {

// A host option name and the PJL value it stands for.
struct NamePair {
  std::string_view hostOption;
  std::string_view pjlValue;
};

// A PCL XL MediaType text and its length in bytes (sent without a terminator).
struct MediaName {
  std::string_view text;
  std::uint8_t length;
};

inline constexpr NamePair PaperSizeTable[] = {
    {"A4", "A4"},
    {"B5", "B5"},
    {"A5", "A5"},
    {"B6_JIS", "B6"},
    {"A6", "A6"},
    {"LEGAL", "LEGAL"},
    {"LETTER", "LETTER"},
    {"STATEMENT", "STATEMENT"},
    {"5half8half", "STATEMENT"},
    {"EXECUTIVE", "EXECUTIVE"},
    {"8_5X13", "US_FOLIO"},
    {"ENV_10", "COM10_ENV"},
    {"ENV_MONARCH", "MONARCH_ENV"},
    {"ENV_C5", "C5_ENV"},
    {"ENV_C6", "C6_ENV"},
    {"ENV_DL", "DL_ENV"},
    // The printer takes these as custom sizes.
    {"QUATRO", "CUSTOMSIZE"},
    {"GOV_LEGAL", "CUSTOMSIZE"},
    {"GOV_LETTER", "CUSTOMSIZE"},
    {"POSTCARD_100", "CUSTOMSIZE"},
    {"POSTCARD_148", "CUSTOMSIZE"},
    {"ENV_9", "CUSTOMSIZE"},
};
static_assert(std::size(PaperSizeTable) == 22);

inline constexpr NamePair MediaTypeTable[] = {
    {"STANDARD", "AUTOSELECT"},
    {"AUTO", "AUTOSELECT"},
    {"PLAIN", "PLAIN"},
    {"RECYCLED", "RECYCLED"},
    {"THICK", "THICK"},
    {"VERYTHICK", "VERYTHICK"},
    {"THIN", "THIN"},
    {"TRANSPARENCY", "TRANSPARENCY"},
    {"PAPERLABEL", "PAPERLABEL"},
    {"VINYLLABEL", "VINYLLABEL"},
    {"ENVELOPE", "ENVELOPE"},
    {"CARDSTOCK", "CARDSTOCK"},
    {"POSTCARD", "POSTCARD"},
};
static_assert(std::size(MediaTypeTable) == 13);

// Host input bin options; MediaSourceTable holds the PCL XL MediaSource value of the
// same row. A special-page block's tray index is a row number of both.
inline constexpr std::string_view InputBinTable[] = {"FORMSOURCE", "BYPASSTRAY", "TRAY1", "TRAY2", "TRAY3"};
inline constexpr std::uint8_t MediaSourceTable[] = {
    1,  // eAutoSelect
    2,  // eManualFeed
    4,  // eUpperCassette
    5,  // eLowerCassette
    7,  // eThirdCassette
};
static_assert(std::size(InputBinTable) == 5 && std::size(MediaSourceTable) == std::size(InputBinTable));

// PCL XL MediaType texts. A special-page block's media index is a row number; a host
// media option at MediaTypeTable row i maps to row i - 1, except "STANDARD" (row 0).
inline constexpr MediaName PCLXLMediaNameTable[] = {
    {"Standard", 8},     {"Plain", 5},    {"Recycled", 8},      {"Thick", 5},
    {"Very Thick", 10},  {"Thin", 4},     {"Transparency", 12}, {"Paper Label", 11},
    {"Vinyl Label", 11}, {"Envelope", 8}, {"Card Stock", 10},   {"Postcard", 8},
};
static_assert(std::size(PCLXLMediaNameTable) == 12);

constexpr bool MediaNameLengthsMatch() {
  for (const auto& row : PCLXLMediaNameTable) {
    if (row.text.size() != row.length) return false;
  }
  return true;
}
static_assert(MediaNameLengthsMatch());

// Row of the first host option equal to `name` (ignoring case), or nothing.
std::optional<std::size_t> FindPaperSize(std::string_view name);
std::optional<std::size_t> FindMediaType(std::string_view name);
std::optional<std::size_t> FindInputBin(std::string_view name);

// The PCL XL media-name row for a MediaTypeTable row.
constexpr std::size_t MediaNameRowForMediaType(std::size_t mediaTypeRow) {
  return MediaTypeTable[mediaTypeRow].hostOption == "STANDARD" ? mediaTypeRow : mediaTypeRow - 1;
}

}  // namespace velmora
