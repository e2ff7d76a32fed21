// The overlay file's header line and data marker, and the printer's overlay list.
#include "formats/overlay_file.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "formats/text.h"

namespace velmora {
namespace {

// Each converted header text holds at most this many bytes.
constexpr std::size_t kHeaderTextLimit = 259;

std::string HeaderText(WStringView text) {
  std::string converted = text::Utf16ToUtf8(text);
  if (converted.size() > kHeaderTextLimit) converted.resize(kHeaderTextLimit);
  return converted;
}

char LowerAscii(std::uint8_t c) { return static_cast<char>((c >= 'A' && c <= 'Z') ? c - 'A' + 'a' : c); }

}  // namespace

std::optional<std::string> FormatOverlayHeader(bool rasterMode, WStringView formName, int orientation, int resolution,
                                               WStringView overlayName) {
  char header[1024];
  const int length = std::snprintf(header, sizeof header, "(%s;%s;%d;%d;0;%s;)\r\n%s",
                                   rasterMode ? "PCLXL-RASTER" : "PCLXL", HeaderText(formName).c_str(), orientation,
                                   resolution, HeaderText(overlayName).c_str(), kOverlayDataMarker);
  if (length < 0 || static_cast<std::size_t>(length) > kOverlayHeaderLimit) return std::nullopt;
  return std::string(header, static_cast<std::size_t>(length));
}

std::optional<OverlayHeader> ParseOverlayHeader(const std::uint8_t* bytes, std::size_t length) {
  const std::int32_t dataOffset = GetOverlayDataOffset(bytes, std::min<std::size_t>(length, 4096));
  constexpr std::size_t kMarkerLength = sizeof kOverlayDataMarker - 1;
  if (bytes == nullptr || length == 0 || bytes[0] != '(' || dataOffset < 0) return std::nullopt;
  const std::string line(reinterpret_cast<const char*>(bytes), static_cast<std::size_t>(dataOffset) - kMarkerLength);
  if (line.size() < 4 || line.compare(line.size() - 4, 4, ";)\r\n") != 0) return std::nullopt;
  // "(" language ";" form ";" orientation ";" resolution ";0;" name ";)"; the name is the
  // rest of the line, so it may hold ";" itself.
  std::vector<std::string> fields;
  std::size_t start = 1;
  for (int i = 0; i < 5; ++i) {
    const std::size_t semicolon = line.find(';', start);
    if (semicolon == std::string::npos) return std::nullopt;
    fields.push_back(line.substr(start, semicolon - start));
    start = semicolon + 1;
  }
  if (fields[4] != "0") return std::nullopt;
  OverlayHeader header;
  header.language = fields[0];
  header.formName = fields[1];
  header.orientation = fields[2];
  header.resolution = fields[3];
  header.overlayName = line.substr(start, line.size() - 4 - start);
  header.dataOffset = static_cast<std::size_t>(dataOffset);
  return header;
}

std::int32_t GetOverlayDataOffset(const std::uint8_t* chunk, std::size_t length) {
  constexpr std::size_t kMarkerLength = sizeof kOverlayDataMarker - 1;
  if (chunk == nullptr || length < 2 || length < kMarkerLength) return -1;
  for (std::size_t at = 0; at + kMarkerLength <= length; ++at) {
    if (chunk[at] != '%') continue;
    bool match = true;
    for (std::size_t i = 0; i < kMarkerLength && match; ++i) {
      match = LowerAscii(chunk[at + i]) == LowerAscii(static_cast<std::uint8_t>(kOverlayDataMarker[i]));
    }
    if (match) return static_cast<std::int32_t>(at + kMarkerLength);
  }
  return -1;
}

namespace Utility {

void split(const WString& text, WCHAR delimiter, std::vector<WString>& pieces) {
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = text.find(delimiter, start);
    if (end == WString::npos) {
      pieces.push_back(text.substr(start));
      return;
    }
    pieces.push_back(text.substr(start, end - start));
    start = end + 1;
  }
}

std::vector<WString> split(const WString& text, WCHAR delimiter) {
  std::vector<WString> pieces;
  split(text, delimiter, pieces);
  return pieces;
}

}  // namespace Utility
}  // namespace velmora
