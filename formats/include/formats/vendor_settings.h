// Typed access to the named fields of the settings record's body.
//
// The body is 5228 bytes, little-endian. `VendorSettings` is a view over a body the
// caller keeps alive; it reads and writes by byte offset. The same field list drives the
// name table that the administrator commands use (JSON names are the field names).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "formats/le_bytes.h"
#include "formats/text.h"
#include "platform/types.h"

namespace velmora {

// How a field is stored.
enum class FieldKind { kU8, kI16, kU16, kU32, kI32, kF32, kWideText };

// The named body fields: name, kind, body offset, UTF-16 units (text fields only).
// clang-format off
#define VELMORA_VENDOR_FIELDS(X)                 \
  X(szAppName, kWideText, 0, 33)                 \
  X(dwBodySignature, kU32, 68, 0)                \
  X(dwOutputBin, kU32, 604, 0)                   \
  X(bStaple, kU8, 614, 0)                        \
  X(sTonerDarkness, kI16, 616, 0)                \
  X(bEconoMode, kU8, 618, 0)                     \
  X(bRotateSort, kU8, 776, 0)                    \
  X(eHoldMode, kI32, 780, 0)                     \
  X(szFileBoxName, kWideText, 784, 33)           \
  X(szFileBoxPassword, kWideText, 850, 33)       \
  X(sBrightness, kI16, 916, 0)                   \
  X(sContrast, kI16, 918, 0)                     \
  X(vdmPagesPerSheet, kI16, 920, 0)              \
  X(bBooklet, kU8, 922, 0)                       \
  X(bPagesPerSheetFromApp, kU8, 923, 0)          \
  X(dwTwoUpOrder, kU32, 924, 0)                  \
  X(dwNupOrder, kU32, 928, 0)                    \
  X(dwSpecialPageKind, kU32, 932, 0)             \
  X(bRasterMode, kU8, 936, 0)                    \
  X(bBookletReverse, kU8, 938, 0)                \
  X(sBookletSubset, kI16, 946, 0)                \
  X(eWMUsage, kI32, 1588, 0)                     \
  X(sFP_SectionIndex, kI32, 1592, 0)             \
  X(sNP_SectionIndex, kI32, 1600, 0)             \
  X(bTextInBlack, kU8, 1611, 0)                  \
  X(sBindingEdge, kI16, 1612, 0)                 \
  X(sCustomMargins, kI16, 1614, 0)               \
  X(bMarginUnit, kU8, 1616, 0)                   \
  X(szBindingShift, kWideText, 1674, 7)          \
  X(dwOverlayMode, kU32, 1692, 0)                \
  X(bOverlayUnder, kU8, 1696, 0)                 \
  X(fScale, kF32, 1700, 0)                       \
  X(sResolution, kI16, 1710, 0)                  \
  X(szPrintBoxDir, kWideText, 1854, 33)
// clang-format on

// The four margins (left, top, right, bottom), each WCHAR[7], follow one another.
inline constexpr std::size_t kMarginsOffset = 1618;
inline constexpr std::size_t kMarginUnits = 7;
inline constexpr std::size_t kMarginCount = 4;

// The three special-page blocks, 212 bytes each, stored in the order kind 1, kind 3,
// kind 2.
inline constexpr std::size_t kSpecialPageBlockSize = 212;
inline constexpr std::size_t kSpecialPageRuleOffset = 0;
inline constexpr std::size_t kSpecialPageTrayOffset = 140;
inline constexpr std::size_t kSpecialPageMediaOffset = 208;

// Body offset of the block for a special-page kind 1, 2 or 3; nothing for other kinds.
constexpr std::optional<std::size_t> SpecialPageBlockOffset(std::int64_t kind) {
  switch (kind) {
    case 1: return 952;
    case 3: return 1164;
    case 2: return 1376;
    default: return std::nullopt;
  }
}

// Overlay modes.
inline constexpr std::uint32_t NO_OVERLAY = 0;
inline constexpr std::uint32_t CREATE_OVERLAY = 1;
inline constexpr std::uint32_t ONE_OVERLAY = 2;
inline constexpr std::uint32_t ODD_EVEN_OVERLAY = 3;

// Watermark usages.
inline constexpr std::int32_t WM_ALLPAGES = 0;
inline constexpr std::int32_t WM_FIRSTPAGEONLY = 1;
inline constexpr std::int32_t WM_FIRSTPAGE_OTHERPAGE = 2;
inline constexpr std::int32_t WM_EVEN_ODDPAGES = 3;

// One named field of the body.
struct FieldInfo {
  std::string_view name;
  FieldKind kind;
  std::size_t offset;
  std::size_t units;  // UTF-16 units of a text field, including its terminator
};

#define VELMORA_FIELD_INFO(name, kind, offset, units) FieldInfo{#name, FieldKind::kind, offset, units},
inline constexpr FieldInfo kVendorFields[] = {VELMORA_VENDOR_FIELDS(VELMORA_FIELD_INFO)};
#undef VELMORA_FIELD_INFO

// Width in bytes of a field of this kind (text fields: 2 per unit).
constexpr std::size_t FieldWidth(const FieldInfo& field) {
  switch (field.kind) {
    case FieldKind::kU8: return 1;
    case FieldKind::kI16:
    case FieldKind::kU16: return 2;
    case FieldKind::kU32:
    case FieldKind::kI32:
    case FieldKind::kF32: return 4;
    case FieldKind::kWideText: return 2 * field.units;
  }
  return 0;
}

// A view of one special-page block.
class SpecialPageBlock {
 public:
  explicit SpecialPageBlock(std::uint8_t* block) : block_(block) {}
  std::uint32_t dwPageRule() const { return le::U32(block_ + kSpecialPageRuleOffset); }
  std::int16_t sTrayIndex() const { return le::I16(block_ + kSpecialPageTrayOffset); }
  std::int16_t sMediaIndex() const { return le::I16(block_ + kSpecialPageMediaOffset); }
  void set_dwPageRule(std::uint32_t v) { le::PutU32(block_ + kSpecialPageRuleOffset, v); }
  void set_sTrayIndex(std::int16_t v) { le::PutI16(block_ + kSpecialPageTrayOffset, v); }
  void set_sMediaIndex(std::int16_t v) { le::PutI16(block_ + kSpecialPageMediaOffset, v); }

 private:
  std::uint8_t* block_;
};

namespace detail {
template <FieldKind K>
struct FieldType;
template <>
struct FieldType<FieldKind::kU8> {
  using type = std::uint8_t;
};
template <>
struct FieldType<FieldKind::kI16> {
  using type = std::int16_t;
};
template <>
struct FieldType<FieldKind::kU16> {
  using type = std::uint16_t;
};
template <>
struct FieldType<FieldKind::kU32> {
  using type = std::uint32_t;
};
template <>
struct FieldType<FieldKind::kI32> {
  using type = std::int32_t;
};
template <>
struct FieldType<FieldKind::kF32> {
  using type = float;
};
template <>
struct FieldType<FieldKind::kWideText> {
  using type = WString;
};

template <FieldKind K>
typename FieldType<K>::type Read(const std::uint8_t* p, std::size_t units) {
  if constexpr (K == FieldKind::kU8)
    return *p;
  else if constexpr (K == FieldKind::kI16)
    return le::I16(p);
  else if constexpr (K == FieldKind::kU16)
    return le::U16(p);
  else if constexpr (K == FieldKind::kU32)
    return le::U32(p);
  else if constexpr (K == FieldKind::kI32)
    return le::I32(p);
  else if constexpr (K == FieldKind::kF32)
    return le::F32(p);
  else
    return text::ReadWideField(p, units);
}

template <FieldKind K>
void Write(std::uint8_t* p, std::size_t units, const typename FieldType<K>::type& value) {
  if constexpr (K == FieldKind::kU8)
    *p = value;
  else if constexpr (K == FieldKind::kI16)
    le::PutI16(p, value);
  else if constexpr (K == FieldKind::kU16)
    le::PutU16(p, value);
  else if constexpr (K == FieldKind::kU32)
    le::PutU32(p, value);
  else if constexpr (K == FieldKind::kI32)
    le::PutI32(p, value);
  else if constexpr (K == FieldKind::kF32)
    le::PutF32(p, value);
  else
    text::WriteWideField(p, units, value);
}
}  // namespace detail

// A view of the record's body with one getter and one setter per named field
// (`dwOutputBin()`, `set_dwOutputBin(v)`). Text getters stop at the field's end even
// when the stored text has no terminator.
class VendorSettings {
 public:
  explicit VendorSettings(std::uint8_t* body) : body_(body) {}

  std::uint8_t* body() const { return body_; }

#define VELMORA_FIELD_ACCESSORS(name, kind, offset, units)                 \
  detail::FieldType<FieldKind::kind>::type name() const {                  \
    return detail::Read<FieldKind::kind>(body_ + (offset), (units));       \
  }                                                                        \
  void set_##name(const detail::FieldType<FieldKind::kind>::type& value) { \
    detail::Write<FieldKind::kind>(body_ + (offset), (units), value);      \
  }
  VELMORA_VENDOR_FIELDS(VELMORA_FIELD_ACCESSORS)
#undef VELMORA_FIELD_ACCESSORS

  // Margin i (0 left, 1 top, 2 right, 3 bottom) as stored text.
  WString szMargins(std::size_t i) const {
    return text::ReadWideField(body_ + kMarginsOffset + 2 * kMarginUnits * i, kMarginUnits);
  }
  void set_szMargins(std::size_t i, WStringView value) {
    text::WriteWideField(body_ + kMarginsOffset + 2 * kMarginUnits * i, kMarginUnits, value);
  }

  // The block of special-page kind 1, 2 or 3; nothing for any other kind.
  std::optional<SpecialPageBlock> SpecialPage(std::int64_t kind) const {
    auto offset = SpecialPageBlockOffset(kind);
    if (!offset) return std::nullopt;
    return SpecialPageBlock(body_ + *offset);
  }

 private:
  std::uint8_t* body_;
};

}  // namespace velmora
