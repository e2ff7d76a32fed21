// Fuzz target: the values the printer application's settings page takes from its forms
// and queries (fields separated by NUL bytes, as PAPPL hands them over decoded), through
// the page's checks: watermark section numbers, overlay names, overlay defaults, and the
// escaping of every value shown back on the page.
// Properties: a section is 0 or 1 to 16 and then the field's own digits; an accepted
// overlay name is 1 to 32 letters, digits, '-' or '_' other than "none"; accepted
// overlay defaults are choices of the form's lists with an overlay for every page the
// mode needs; escaped text holds no markup character and reads back as the value.
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_target.h"
#include "tools/printer_app/form_values.h"

namespace velmora::fuzz {
namespace {

using namespace printer_app;

void CheckSection(std::string_view digits, int section) {
  if (section == 0) return;
  if (section < 1 || section > kWatermarkSections || digits.empty() || digits.size() > 2) __builtin_trap();
  int value = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') __builtin_trap();
    value = value * 10 + (c - '0');
  }
  if (value != section) __builtin_trap();
}

void CheckOverlayName(std::string_view name) {
  if (!OverlayNameProblem(name).empty()) return;
  if (name.empty() || name.size() > kMaxOverlayNameBytes || name == kNoOverlay) __builtin_trap();
  for (char c : name) {
    const bool plain =
        (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_';
    if (!plain) __builtin_trap();
  }
}

// Undoes the page's escaping: the five entities it writes, nothing else.
std::string Unescape(std::string_view html) {
  static constexpr std::pair<std::string_view, char> kEntities[] = {
      {"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&#39;", '\''}};
  std::string text;
  for (std::size_t at = 0; at < html.size();) {
    if (html[at] == '&') {
      bool known = false;
      for (const auto& [entity, c] : kEntities) {
        if (html.substr(at).starts_with(entity)) {
          text += c;
          at += entity.size();
          known = true;
          break;
        }
      }
      if (!known) __builtin_trap();
      continue;
    }
    text += html[at++];
  }
  return text;
}

void CheckEscape(std::string_view value) {
  const std::string html = Escape(value);
  if (html.find_first_of("<>\"'") != std::string::npos) __builtin_trap();
  if (Unescape(html) != value) __builtin_trap();
}

bool Contains(const auto& list, std::string_view value) {
  for (const auto& item : list) {
    if (value == item) return true;
  }
  return false;
}

void CheckOverlayDefaults(const std::vector<std::string_view>& fields, const std::vector<std::string>& overlays) {
  const auto field = [&](std::size_t i) { return i < fields.size() ? fields[i] : std::string_view(); };
  const std::string_view mode = field(0), position = field(1), odd = field(2), even = field(3);
  if (!OverlayDefaultsProblem(mode, position, odd, even, overlays).empty()) return;
  if (!Contains(kOverlayModes, mode) || !Contains(kOverlayPositions, position)) __builtin_trap();
  for (std::string_view overlay : {odd, even}) {
    if (overlay != kNoOverlay && !Contains(overlays, overlay)) __builtin_trap();
  }
  if (mode != "none" && odd == kNoOverlay) __builtin_trap();
  if (mode == "odd-even" && even == kNoOverlay) __builtin_trap();
}

void Entry(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  std::vector<std::string_view> fields;
  for (std::size_t start = 0; start <= input.size();) {
    const std::size_t end = std::min(input.find('\0', start), input.size());
    fields.push_back(input.substr(start, end - start));
    start = end + 1;
  }
  // The printer's overlays: the fields that name one, as its folder would list them.
  std::vector<std::string> overlays;
  for (std::string_view field : fields) {
    CheckSection(field, SectionNumber(field));
    const int queried = QuerySection(field);
    if (queried != 0) {
      const std::string_view after = field.substr(field.find("section=") + 8);
      CheckSection(after.substr(0, after.find('&')), queried);
    }
    CheckOverlayName(field);
    CheckEscape(field);
    if (OverlayNameProblem(field).empty()) overlays.emplace_back(field);
  }
  for (std::size_t first = 0; first < fields.size(); first += 4) {
    CheckOverlayDefaults({fields.begin() + first, fields.begin() + std::min(first + 4, fields.size())}, overlays);
  }
}

std::vector<std::uint8_t> Form(const std::vector<std::string_view>& fields) {
  std::vector<std::uint8_t> bytes;
  for (std::string_view field : fields) {
    if (!bytes.empty()) bytes.push_back(0);
    bytes.insert(bytes.end(), field.begin(), field.end());
  }
  return bytes;
}

std::vector<Seed> Seeds() {
  return {
      {"overlay-defaults", Form({"odd-even", "under", "Letterhead", "Back_page-2", "one", "over", "none", "none"})},
      {"sections", Form({"16", "17", "0", "07", "a=1&section=12&b", "section=9", "<b>\"It's\" & more</b>"})},
      {"names", Form({"none", "NONE", "overlay name", "x123456789012345678901234567890123", "../etc"})},
  };
}

VELMORA_FUZZ_TARGET(settings_form, Entry, Seeds);

}  // namespace
}  // namespace velmora::fuzz
