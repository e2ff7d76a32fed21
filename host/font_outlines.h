// Fonts for the host's drawing context: a face chosen by family name through fontconfig
// (which knows the metric-compatible substitutes, such as Liberation Serif for Times New
// Roman), and its glyph outlines and metrics through FreeType.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "host/outline_path.h"

namespace velmora::host {

// The font file fontconfig chose for a family name and style.
struct FontMatch {
  std::string file;
  int index = 0;        // the face within the file
  std::string family;   // the chosen face's own family name
  bool bold = false;    // the face itself is bold
  bool italic = false;  // the face itself is italic or oblique
};

// The best face for a family name and style; nothing when fontconfig has no font at all.
std::optional<FontMatch> MatchFont(std::string_view family, bool bold, bool italic);

// One face at one size: its metrics in whole pixels and its glyph outlines. Glyphs are
// decomposed once and kept.
class FontOutlines {
 public:
  // Opens the matched face at a logical font's height: negative, the character height
  // (pixels per em); positive, the cell height (ascent plus descent). Bold and italic that
  // the face itself lacks are synthesised. Nothing when the file is not a scalable font.
  static std::unique_ptr<FontOutlines> Open(const FontMatch& match, std::int32_t height, bool bold, bool italic);
  ~FontOutlines();
  FontOutlines(const FontOutlines&) = delete;
  FontOutlines& operator=(const FontOutlines&) = delete;

  int ascent() const { return ascent_; }
  int descent() const { return descent_; }

  // The advance of a character in whole pixels.
  int Advance(char32_t character);
  // The outline of a character, its origin on the baseline at (0, 0), before any turning.
  const std::vector<OutlineSegment>& Outline(char32_t character);

 private:
  struct Glyph {
    int advance = 0;
    std::vector<OutlineSegment> outline;
  };
  struct Handles;

  FontOutlines() = default;
  const Glyph& Load(char32_t character);

  std::unique_ptr<Handles> handles_;
  bool emboldened_ = false;
  bool slanted_ = false;
  double emPixels_ = 0;
  int ascent_ = 0;
  int descent_ = 0;
  std::map<char32_t, Glyph> glyphs_;
};

// The code points of UTF-16 text; an unpaired surrogate becomes U+FFFD.
std::u32string CodePoints(std::u16string_view text);

}  // namespace velmora::host
