// The PCL XL tag tables: data types, operators, attributes and enumerated values with their names.
#include "pxl/tokens.h"

#include <algorithm>
#include <array>

namespace velmora::pxl {
namespace {

struct NamedCode {
  std::uint16_t code;
  std::string_view name;
};

#define VELMORA_PXL_TABLE_ROW(name, code) NamedCode{code, #name},

constexpr std::array kOperators = {VELMORA_PXL_OPERATORS(VELMORA_PXL_TABLE_ROW)};
constexpr std::array kAttributes = {VELMORA_PXL_ATTRIBUTES(VELMORA_PXL_TABLE_ROW)};

#undef VELMORA_PXL_TABLE_ROW

static_assert(kOperators.size() == 94, "operator table lost or gained a row");
static_assert(kAttributes.size() == 101, "attribute table lost or gained a row");

// The lookups below search by binary search, so both tables must stay in code order.
template <std::size_t N>
constexpr bool InCodeOrder(const std::array<NamedCode, N>& table) {
  for (std::size_t i = 1; i < N; ++i) {
    if (table[i - 1].code >= table[i].code) return false;
  }
  return true;
}
static_assert(InCodeOrder(kOperators));
static_assert(InCodeOrder(kAttributes));

template <std::size_t N>
std::string_view Lookup(const std::array<NamedCode, N>& table, std::uint32_t code) {
  const auto it = std::lower_bound(table.begin(), table.end(), code,
                                   [](const NamedCode& row, std::uint32_t c) { return row.code < c; });
  if (it == table.end() || it->code != code) return {};
  return it->name;
}

// Named values of the enumerated attributes that jobs commonly carry.
struct EnumValue {
  Attr attribute;
  std::uint8_t value;
  std::string_view name;
};

constexpr EnumValue kEnumerations[] = {
    {Attr::ColorSpace, 1, "eGray"},
    {Attr::ColorSpace, 2, "eRGB"},
    {Attr::ColorSpace, 6, "eSRGB"},
    {Attr::MediaSize, 0, "eLetterPaper"},
    {Attr::MediaSize, 1, "eLegalPaper"},
    {Attr::MediaSize, 2, "eA4Paper"},
    {Attr::MediaSize, 3, "eExecPaper"},
    {Attr::MediaSize, 4, "eLedgerPaper"},
    {Attr::MediaSize, 5, "eA3Paper"},
    {Attr::MediaSize, 6, "eCOM10Envelope"},
    {Attr::MediaSize, 7, "eMonarchEnvelope"},
    {Attr::MediaSize, 8, "eC5Envelope"},
    {Attr::MediaSize, 9, "eDLEnvelope"},
    {Attr::MediaSize, 10, "eJB4Paper"},
    {Attr::MediaSize, 11, "eJB5Paper"},
    {Attr::MediaSize, 12, "eB5Envelope"},
    {Attr::MediaSize, 13, "eB5Paper"},
    {Attr::MediaSize, 14, "eJPostcard"},
    {Attr::MediaSize, 15, "eJDoublePostcard"},
    {Attr::MediaSize, 16, "eA5Paper"},
    {Attr::MediaSize, 17, "eA6Paper"},
    {Attr::MediaSize, 18, "eJB6Paper"},
    {Attr::MediaSource, 0, "eDefaultSource"},
    {Attr::MediaSource, 1, "eAutoSelect"},
    {Attr::MediaSource, 2, "eManualFeed"},
    {Attr::MediaSource, 3, "eMultiPurposeTray"},
    {Attr::MediaSource, 4, "eUpperCassette"},
    {Attr::MediaSource, 5, "eLowerCassette"},
    {Attr::MediaSource, 6, "eEnvelopeTray"},
    {Attr::MediaSource, 7, "eThirdCassette"},
    {Attr::Orientation, 0, "ePortraitOrientation"},
    {Attr::Orientation, 1, "eLandscapeOrientation"},
    {Attr::Orientation, 2, "eReversePortraitOrientation"},
    {Attr::Orientation, 3, "eReverseLandscapeOrientation"},
    {Attr::Orientation, 4, "eDefaultOrientation"},
    {Attr::SimplexPageMode, 0, "eSimplexFrontSide"},
    {Attr::DuplexPageMode, 0, "eDuplexHorizontalBinding"},
    {Attr::DuplexPageMode, 1, "eDuplexVerticalBinding"},
    {Attr::DuplexPageSide, 0, "eFrontMediaSide"},
    {Attr::DuplexPageSide, 1, "eBackMediaSide"},
    {Attr::Measure, 0, "eInch"},
    {Attr::Measure, 1, "eMillimeter"},
    {Attr::Measure, 2, "eTenthsOfAMillimeter"},
    {Attr::CustomMediaSizeUnits, 0, "eInch"},
    {Attr::CustomMediaSizeUnits, 1, "eMillimeter"},
    {Attr::CustomMediaSizeUnits, 2, "eTenthsOfAMillimeter"},
    {Attr::DataOrg, 0, "eBinaryHighByteFirst"},
    {Attr::DataOrg, 1, "eBinaryLowByteFirst"},
    {Attr::SourceType, 0, "eDefaultDataSource"},
    {Attr::ErrorReport, 0, "eNoReporting"},
    {Attr::ErrorReport, 1, "eBackChannel"},
    {Attr::ErrorReport, 2, "eErrorPage"},
    {Attr::ErrorReport, 3, "eBackChAndErrPage"},
    {Attr::ErrorReport, 4, "eNWBackChannel"},
    {Attr::ErrorReport, 5, "eNWErrorPage"},
    {Attr::ErrorReport, 6, "eNWBackChAndErrPage"},
    {Attr::ColorMapping, 0, "eDirectPixel"},
    {Attr::ColorMapping, 1, "eIndexedPixel"},
    {Attr::ColorDepth, 0, "e1Bit"},
    {Attr::ColorDepth, 1, "e4Bit"},
    {Attr::ColorDepth, 2, "e8Bit"},
    {Attr::PaletteDepth, 2, "e8Bit"},
    {Attr::CompressMode, 0, "eNoCompression"},
    {Attr::CompressMode, 1, "eRLECompression"},
    {Attr::CompressMode, 2, "eJPEGCompression"},
    {Attr::CompressMode, 3, "eDeltaRowCompression"},
    {Attr::FillMode, 0, "eNonZeroWinding"},
    {Attr::FillMode, 1, "eEvenOdd"},
    {Attr::ClipMode, 0, "eNonZeroWinding"},
    {Attr::ClipMode, 1, "eEvenOdd"},
    {Attr::ClipRegion, 0, "eInterior"},
    {Attr::ClipRegion, 1, "eExterior"},
    {Attr::TxMode, 0, "eOpaque"},
    {Attr::TxMode, 1, "eTransparent"},
    {Attr::ArcDirection, 0, "eClockWise"},
    {Attr::ArcDirection, 1, "eCounterClockWise"},
    {Attr::LineCapStyle, 0, "eButtCap"},
    {Attr::LineCapStyle, 1, "eRoundCap"},
    {Attr::LineCapStyle, 2, "eSquareCap"},
    {Attr::LineCapStyle, 3, "eTriangleCap"},
    {Attr::LineJoinStyle, 0, "eMiterJoin"},
    {Attr::LineJoinStyle, 1, "eRoundJoin"},
    {Attr::LineJoinStyle, 2, "eBevelJoin"},
    {Attr::LineJoinStyle, 3, "eNoJoin"},
    {Attr::PatternPersistence, 0, "eTempPattern"},
    {Attr::PatternPersistence, 1, "ePagePattern"},
    {Attr::PatternPersistence, 2, "eSessionPattern"},
};

}  // namespace

bool DecodeDataType(std::uint8_t code, ElementType& element, Shape& shape) {
  const std::uint8_t low = code & 0x07;
  if (low > 5) return false;
  switch (code & 0xF8) {
    case 0xC0: shape = Shape::kScalar; break;
    case 0xC8: shape = Shape::kArray; break;
    case 0xD0: shape = Shape::kXy; break;
    case 0xE0: shape = Shape::kBox; break;
    default: return false;
  }
  element = static_cast<ElementType>(low);
  return true;
}

std::size_t ElementSize(ElementType element) {
  switch (element) {
    case ElementType::kUByte: return 1;
    case ElementType::kUInt16:
    case ElementType::kSInt16: return 2;
    case ElementType::kUInt32:
    case ElementType::kSInt32:
    case ElementType::kReal32: return 4;
  }
  return 1;
}

std::string DataTypeName(ElementType element, Shape shape) {
  static constexpr std::string_view kElementNames[] = {"ubyte", "uint16", "uint32", "sint16", "sint32", "real32"};
  std::string name(kElementNames[static_cast<std::size_t>(element)]);
  switch (shape) {
    case Shape::kScalar: return name;
    case Shape::kXy: return name + "_xy";
    case Shape::kBox: return name + "_box";
    case Shape::kArray: return name + "_array";
  }
  return name;
}

std::string_view OperatorName(std::uint8_t code) { return Lookup(kOperators, code); }

std::string_view AttributeName(std::uint16_t id) { return Lookup(kAttributes, id); }

std::string_view EnumerationName(std::uint16_t attribute, std::uint32_t value) {
  for (const EnumValue& row : kEnumerations) {
    if (static_cast<std::uint16_t>(row.attribute) == attribute && row.value == value) return row.name;
  }
  return {};
}

}  // namespace velmora::pxl
