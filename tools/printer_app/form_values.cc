// The checks of the settings page's form values and its HTML escaping.
#include "tools/printer_app/form_values.h"

#include <algorithm>

namespace velmora::printer_app {

std::string Escape(std::string_view text) {
  std::string escaped;
  for (char c : text) {
    switch (c) {
      case '&': escaped += "&amp;"; break;
      case '<': escaped += "&lt;"; break;
      case '>': escaped += "&gt;"; break;
      case '"': escaped += "&quot;"; break;
      case '\'': escaped += "&#39;"; break;
      default: escaped += c;
    }
  }
  return escaped;
}

int SectionNumber(std::string_view text) {
  if (text.empty() || text.size() > 2 || text.find_first_not_of("0123456789") != std::string_view::npos) return 0;
  const int section = text.size() == 1 ? text[0] - '0' : (text[0] - '0') * 10 + (text[1] - '0');
  return section >= 1 && section <= kWatermarkSections ? section : 0;
}

int QuerySection(std::string_view query) {
  const std::size_t at = query.find("section=");
  if (at == std::string_view::npos) return 0;
  const std::string_view value = query.substr(at + 8);
  return SectionNumber(value.substr(0, value.find('&')));
}

std::string OverlayNameProblem(std::string_view name) {
  if (name.empty()) return "an overlay needs a name";
  if (name.size() > kMaxOverlayNameBytes) {
    return "an overlay name has at most " + std::to_string(kMaxOverlayNameBytes) + " characters";
  }
  const bool plain = std::all_of(name.begin(), name.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_';
  });
  if (!plain) return "an overlay name is made of the letters A to Z, digits, '-' and '_'";
  if (name == kNoOverlay) return "\"none\" names no overlay";
  return {};
}

std::string OverlayDefaultsProblem(std::string_view mode, std::string_view position, std::string_view odd,
                                   std::string_view even, const std::vector<std::string>& overlays) {
  const auto oneOf = [](std::string_view value, const auto& choices) {
    return std::any_of(choices.begin(), choices.end(), [&](const auto& choice) { return value == choice; });
  };
  const auto isOverlay = [&](std::string_view value) { return value == kNoOverlay || oneOf(value, overlays); };
  if (!oneOf(mode, kOverlayModes) || !oneOf(position, kOverlayPositions) || !isOverlay(odd) || !isOverlay(even)) {
    return "choose the overlay mode, position and overlays from the lists.";
  }
  if (mode == "one" && odd == kNoOverlay) return "one overlay on every page needs that overlay.";
  if (mode == "odd-even" && (odd == kNoOverlay || even == kNoOverlay)) {
    return "odd and even pages need an overlay each.";
  }
  return {};
}

}  // namespace velmora::printer_app
