// The values the settings page's forms and queries send, checked before anything is done
// with them, and the page's text made safe in HTML. Nothing here talks to PAPPL, so the
// checks can be driven with any bytes.
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace velmora::printer_app {

// The watermark sections a job can name (watermark-first 0 to 16).
inline constexpr int kWatermarkSections = 16;

// The value of the overlay attributes that names no overlay.
inline constexpr const char* kNoOverlay = "none";
inline constexpr std::size_t kMaxOverlayNameBytes = 32;

// The choices of the overlay defaults form.
inline constexpr std::array<const char*, 3> kOverlayModes = {"none", "one", "odd-even"};
inline constexpr std::array<const char*, 2> kOverlayPositions = {"over", "under"};

// `text` made safe inside HTML text and attribute values.
std::string Escape(std::string_view text);

// The section a form field names (1 to 16), or 0.
int SectionNumber(std::string_view text);

// The section a query's "section=N" names (1 to 16), or 0.
int QuerySection(std::string_view query);

// Why `name` cannot name an overlay, or an empty string when it can: 1 to 32 ASCII
// letters, digits, '-' and '_' (so that it is a file name of its own and an IPP keyword),
// and not "none".
std::string OverlayNameProblem(std::string_view name);

// Why the overlay defaults form cannot be saved, or an empty string when it can: the mode
// and position from their lists, each overlay "none" or one of `overlays`, and an overlay
// for every page the mode prints one on.
std::string OverlayDefaultsProblem(std::string_view mode, std::string_view position, std::string_view odd,
                                   std::string_view even, const std::vector<std::string>& overlays);

}  // namespace velmora::printer_app
