// Font faces by family name through fontconfig, and glyph outlines through FreeType.
#include "host/font_outlines.h"

#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H
#include FT_TRUETYPE_TABLES_H

#include <algorithm>
#include <cmath>

namespace velmora::host {
namespace {

// Faces are opened between one pixel and the largest coordinate the page stream holds.
constexpr double kMinEmPixels = 1.0;
constexpr double kMaxEmPixels = 32767.0;
// The slant of a synthesised italic (x grows by this much per unit of height).
constexpr FT_Fixed kObliqueShear = 0x0366A;  // 0.2126 in 16.16
constexpr char32_t kReplacement = 0xFFFD;

std::string StringOf(FcPattern* pattern, const char* object) {
  FcChar8* value = nullptr;
  if (FcPatternGetString(pattern, object, 0, &value) != FcResultMatch || value == nullptr) return {};
  return reinterpret_cast<const char*>(value);
}

int IntegerOf(FcPattern* pattern, const char* object, int fallback) {
  int value = fallback;
  FcPatternGetInteger(pattern, object, 0, &value);
  return value;
}

// Collects FreeType's decomposition as segments in pixels, y down; quadratic arcs become
// cubic ones and every contour is closed.
struct Decomposer {
  std::vector<OutlineSegment> segments;
  OutlinePoint current;
  bool open = false;

  static OutlinePoint Pixels(const FT_Vector* v) { return {v->x / 64.0, -v->y / 64.0}; }

  void Close() {
    if (open) segments.push_back({SegmentKind::kClose, {}});
    open = false;
  }

  static int MoveTo(const FT_Vector* to, void* user) {
    auto* self = static_cast<Decomposer*>(user);
    self->Close();
    self->current = Pixels(to);
    self->segments.push_back({SegmentKind::kMove, {self->current}});
    self->open = true;
    return 0;
  }

  static int LineTo(const FT_Vector* to, void* user) {
    auto* self = static_cast<Decomposer*>(user);
    self->current = Pixels(to);
    self->segments.push_back({SegmentKind::kLine, {self->current}});
    return 0;
  }

  static int ConicTo(const FT_Vector* control, const FT_Vector* to, void* user) {
    auto* self = static_cast<Decomposer*>(user);
    const OutlinePoint c = Pixels(control);
    const OutlinePoint end = Pixels(to);
    const OutlinePoint& start = self->current;
    const OutlinePoint c1{start.x + 2.0 / 3.0 * (c.x - start.x), start.y + 2.0 / 3.0 * (c.y - start.y)};
    const OutlinePoint c2{end.x + 2.0 / 3.0 * (c.x - end.x), end.y + 2.0 / 3.0 * (c.y - end.y)};
    self->segments.push_back({SegmentKind::kCubic, {c1, c2, end}});
    self->current = end;
    return 0;
  }

  static int CubicTo(const FT_Vector* control1, const FT_Vector* control2, const FT_Vector* to, void* user) {
    auto* self = static_cast<Decomposer*>(user);
    self->current = Pixels(to);
    self->segments.push_back({SegmentKind::kCubic, {Pixels(control1), Pixels(control2), self->current}});
    return 0;
  }
};

}  // namespace

struct FontOutlines::Handles {
  FT_Library library = nullptr;
  FT_Face face = nullptr;

  ~Handles() {
    if (face != nullptr) FT_Done_Face(face);
    if (library != nullptr) FT_Done_FreeType(library);
  }
};

std::optional<FontMatch> MatchFont(std::string_view family, bool bold, bool italic) {
  if (!FcInit()) return std::nullopt;
  FcPattern* pattern = FcPatternCreate();
  if (pattern == nullptr) return std::nullopt;
  const std::string name(family);
  FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(name.c_str()));
  FcPatternAddInteger(pattern, FC_WEIGHT, bold ? FC_WEIGHT_BOLD : FC_WEIGHT_REGULAR);
  FcPatternAddInteger(pattern, FC_SLANT, italic ? FC_SLANT_ITALIC : FC_SLANT_ROMAN);
  FcPatternAddBool(pattern, FC_SCALABLE, FcTrue);
  FcConfigSubstitute(nullptr, pattern, FcMatchPattern);
  FcDefaultSubstitute(pattern);
  FcResult result = FcResultNoMatch;
  FcPattern* font = FcFontMatch(nullptr, pattern, &result);
  FcPatternDestroy(pattern);
  if (font == nullptr) return std::nullopt;

  FontMatch match;
  match.file = StringOf(font, FC_FILE);
  match.index = IntegerOf(font, FC_INDEX, 0);
  match.family = StringOf(font, FC_FAMILY);
  match.bold = IntegerOf(font, FC_WEIGHT, FC_WEIGHT_REGULAR) >= FC_WEIGHT_DEMIBOLD;
  match.italic = IntegerOf(font, FC_SLANT, FC_SLANT_ROMAN) != FC_SLANT_ROMAN;
  FcPatternDestroy(font);
  if (match.file.empty()) return std::nullopt;
  return match;
}

std::unique_ptr<FontOutlines> FontOutlines::Open(const FontMatch& match, std::int32_t height, bool bold, bool italic) {
  std::unique_ptr<FontOutlines> font(new FontOutlines());
  font->handles_ = std::make_unique<Handles>();
  Handles& h = *font->handles_;
  if (FT_Init_FreeType(&h.library) != 0) return nullptr;
  if (FT_New_Face(h.library, match.file.c_str(), match.index, &h.face) != 0) return nullptr;
  if (!FT_IS_SCALABLE(h.face) || h.face->units_per_EM == 0) return nullptr;
  FT_Select_Charmap(h.face, FT_ENCODING_UNICODE);

  // The vertical extent of the face in font units: the Windows ascent and descent where
  // the face has them, as the height of a logical font is measured against them.
  double unitsAbove = h.face->ascender;
  double unitsBelow = -static_cast<double>(h.face->descender);
  const auto* os2 = static_cast<const TT_OS2*>(FT_Get_Sfnt_Table(h.face, FT_SFNT_OS2));
  if (os2 != nullptr && os2->usWinAscent + os2->usWinDescent > 0) {
    unitsAbove = os2->usWinAscent;
    unitsBelow = os2->usWinDescent;
  }
  const double unitsPerEm = h.face->units_per_EM;
  double em = height < 0 ? -static_cast<double>(height)
                         : static_cast<double>(height) * unitsPerEm / std::max(1.0, unitsAbove + unitsBelow);
  em = std::clamp(em, kMinEmPixels, kMaxEmPixels);
  if (FT_Set_Char_Size(h.face, 0, static_cast<FT_F26Dot6>(std::lround(em * 64.0)), 72, 72) != 0) return nullptr;

  font->emPixels_ = em;
  font->ascent_ = static_cast<int>(std::lround(unitsAbove * em / unitsPerEm));
  font->descent_ = static_cast<int>(std::lround(unitsBelow * em / unitsPerEm));
  font->emboldened_ = bold && !match.bold;
  font->slanted_ = italic && !match.italic;
  return font;
}

FontOutlines::~FontOutlines() = default;

int FontOutlines::Advance(char32_t character) { return Load(character).advance; }

const std::vector<OutlineSegment>& FontOutlines::Outline(char32_t character) { return Load(character).outline; }

const FontOutlines::Glyph& FontOutlines::Load(char32_t character) {
  if (auto found = glyphs_.find(character); found != glyphs_.end()) return found->second;
  Glyph& glyph = glyphs_[character];
  FT_Face face = handles_->face;
  // A character the face lacks draws the face's missing-glyph box, as printers do.
  const FT_UInt index = FT_Get_Char_Index(face, character);
  if (FT_Load_Glyph(face, index, FT_LOAD_NO_HINTING | FT_LOAD_NO_BITMAP) != 0) return glyph;
  // Advances are whole pixels, so that measured and drawn text agree.
  glyph.advance = static_cast<int>(std::lround(face->glyph->linearHoriAdvance / 65536.0));
  if (face->glyph->format != FT_GLYPH_FORMAT_OUTLINE) return glyph;

  FT_Outline* outline = &face->glyph->outline;
  if (emboldened_) FT_Outline_EmboldenXY(outline, static_cast<FT_Pos>(emPixels_ * 64.0 / 24.0), 0);
  if (slanted_) {
    FT_Matrix shear{0x10000, kObliqueShear, 0, 0x10000};
    FT_Outline_Transform(outline, &shear);
  }
  FT_Outline_Funcs funcs{};
  funcs.move_to = &Decomposer::MoveTo;
  funcs.line_to = &Decomposer::LineTo;
  funcs.conic_to = &Decomposer::ConicTo;
  funcs.cubic_to = &Decomposer::CubicTo;
  Decomposer decomposer;
  if (FT_Outline_Decompose(outline, &funcs, &decomposer) != 0) return glyph;
  decomposer.Close();
  glyph.outline = std::move(decomposer.segments);
  return glyph;
}

std::u32string CodePoints(std::u16string_view text) {
  std::u32string points;
  points.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t unit = text[i];
    if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      points.push_back(0x10000 + ((static_cast<char32_t>(unit) - 0xD800) << 10) + (text[i + 1] - 0xDC00));
      ++i;
      continue;
    }
    points.push_back(unit >= 0xD800 && unit <= 0xDFFF ? kReplacement : static_cast<char32_t>(unit));
  }
  return points;
}

}  // namespace velmora::host
