// The PCL XL tag tables: data types, operators, attributes and the named values of the
// common enumerated attributes, with the names the published PCL XL references use.
//
// Operator and attribute codes are listed once, in the X-macro tables below, so the
// enumerations and the name lookups cannot drift apart.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace velmora::pxl {

// Operators of protocol classes 1.1 to 3.0, in code order.
// clang-format off
#define VELMORA_PXL_OPERATORS(X)                                               \
  X(BeginSession, 0x41) X(EndSession, 0x42) X(BeginPage, 0x43)                 \
  X(EndPage, 0x44) X(VendorUnique, 0x46) X(Comment, 0x47)                      \
  X(OpenDataSource, 0x48) X(CloseDataSource, 0x49) X(EchoComment, 0x4A)        \
  X(Query, 0x4B) X(Diagnostic3, 0x4C) X(BeginFontHeader, 0x4F)                 \
  X(ReadFontHeader, 0x50) X(EndFontHeader, 0x51) X(BeginChar, 0x52)            \
  X(ReadChar, 0x53) X(EndChar, 0x54) X(RemoveFont, 0x55)                       \
  X(SetCharAttributes, 0x56) X(SetDefaultGS, 0x57) X(SetColorTreatment, 0x58)  \
  X(BeginStream, 0x5B) X(ReadStream, 0x5C) X(EndStream, 0x5D)                  \
  X(ExecStream, 0x5E) X(RemoveStream, 0x5F) X(PopGS, 0x60) X(PushGS, 0x61)     \
  X(SetClipReplace, 0x62) X(SetBrushSource, 0x63) X(SetCharAngle, 0x64)        \
  X(SetCharScale, 0x65) X(SetCharShear, 0x66) X(SetClipIntersect, 0x67)        \
  X(SetClipRectangle, 0x68) X(SetClipToPage, 0x69) X(SetColorSpace, 0x6A)      \
  X(SetCursor, 0x6B) X(SetCursorRel, 0x6C) X(SetHalftoneMethod, 0x6D)          \
  X(SetFillMode, 0x6E) X(SetFont, 0x6F) X(SetLineDash, 0x70)                   \
  X(SetLineCap, 0x71) X(SetLineJoin, 0x72) X(SetMiterLimit, 0x73)              \
  X(SetPageDefaultCTM, 0x74) X(SetPageOrigin, 0x75) X(SetPageRotation, 0x76)   \
  X(SetPageScale, 0x77) X(SetPaintTxMode, 0x78) X(SetPenSource, 0x79)          \
  X(SetPenWidth, 0x7A) X(SetROP, 0x7B) X(SetSourceTxMode, 0x7C)                \
  X(SetCharBoldValue, 0x7D) X(SetNeutralAxis, 0x7E) X(SetClipMode, 0x7F)       \
  X(SetPathToClip, 0x80) X(SetCharSubMode, 0x81)                               \
  X(BeginUserDefinedLineCap, 0x82) X(EndUserDefinedLineCap, 0x83)              \
  X(CloseSubPath, 0x84) X(NewPath, 0x85) X(PaintPath, 0x86) X(ArcPath, 0x91)   \
  X(SetColorTrapping, 0x92) X(BezierPath, 0x93)                                \
  X(SetAdaptiveHalftoning, 0x94) X(BezierRelPath, 0x95) X(Chord, 0x96)         \
  X(ChordPath, 0x97) X(Ellipse, 0x98) X(EllipsePath, 0x99) X(LinePath, 0x9B)   \
  X(LineRelPath, 0x9D) X(Pie, 0x9E) X(PiePath, 0x9F) X(Rectangle, 0xA0)        \
  X(RectanglePath, 0xA1) X(RoundRectangle, 0xA2)                               \
  X(RoundRectanglePath, 0xA3) X(Text, 0xA8) X(TextPath, 0xA9)                  \
  X(BeginImage, 0xB0) X(ReadImage, 0xB1) X(EndImage, 0xB2)                     \
  X(BeginRastPattern, 0xB3) X(ReadRastPattern, 0xB4) X(EndRastPattern, 0xB5)   \
  X(BeginScan, 0xB6) X(EndScan, 0xB8) X(ScanLineRel, 0xB9) X(PassThrough, 0xBF)

// Attributes of protocol classes 1.1 to 3.0, in code order.
#define VELMORA_PXL_ATTRIBUTES(X)                                              \
  X(PaletteDepth, 0x02) X(ColorSpace, 0x03) X(NullBrush, 0x04)                 \
  X(NullPen, 0x05) X(PaletteData, 0x06) X(PatternSelectID, 0x08)               \
  X(GrayLevel, 0x09) X(RGBColor, 0x0B) X(PatternOrigin, 0x0C)                  \
  X(NewDestinationSize, 0x0D) X(PrimaryArray, 0x0E) X(PrimaryDepth, 0x0F)      \
  X(ColorimetricColorSpace, 0x11) X(XYChromaticities, 0x12)                    \
  X(WhiteReferencePoint, 0x13) X(CRGBMinMax, 0x14) X(GammaGain, 0x15)          \
  X(AllObjectTypes, 0x1D) X(TextObjects, 0x1E) X(VectorObjects, 0x1F)          \
  X(RasterObjects, 0x20) X(DeviceMatrix, 0x21) X(DitherMatrixDataType, 0x22)   \
  X(DitherOrigin, 0x23) X(MediaDestination, 0x24) X(MediaSize, 0x25)           \
  X(MediaSource, 0x26) X(MediaType, 0x27) X(Orientation, 0x28)                 \
  X(PageAngle, 0x29) X(PageOrigin, 0x2A) X(PageScale, 0x2B) X(ROP3, 0x2C)      \
  X(TxMode, 0x2D) X(CustomMediaSize, 0x2F) X(CustomMediaSizeUnits, 0x30)       \
  X(PageCopies, 0x31) X(DitherMatrixSize, 0x32) X(DitherMatrixDepth, 0x33)     \
  X(SimplexPageMode, 0x34) X(DuplexPageMode, 0x35) X(DuplexPageSide, 0x36)     \
  X(ArcDirection, 0x41) X(BoundingBox, 0x42) X(DashOffset, 0x43)               \
  X(EllipseDimension, 0x44) X(EndPoint, 0x45) X(FillMode, 0x46)                \
  X(LineCapStyle, 0x47) X(LineJoinStyle, 0x48) X(MiterLength, 0x49)            \
  X(LineDashStyle, 0x4A) X(PenWidth, 0x4B) X(Point, 0x4C)                      \
  X(NumberOfPoints, 0x4D) X(SolidLine, 0x4E) X(StartPoint, 0x4F)               \
  X(PointType, 0x50) X(ControlPoint1, 0x51) X(ControlPoint2, 0x52)             \
  X(ClipRegion, 0x53) X(ClipMode, 0x54) X(ColorDepth, 0x62)                    \
  X(BlockHeight, 0x63) X(ColorMapping, 0x64) X(CompressMode, 0x65)             \
  X(DestinationBox, 0x66) X(DestinationSize, 0x67)                             \
  X(PatternPersistence, 0x68) X(PatternDefineID, 0x69) X(SourceHeight, 0x6B)   \
  X(SourceWidth, 0x6C) X(StartLine, 0x6D) X(PadBytesMultiple, 0x6E)           \
  X(BlockByteLength, 0x6F) X(NumberOfScanLines, 0x73) X(ColorTreatment, 0x78)  \
  X(CommentData, 0x81) X(DataOrg, 0x82) X(Measure, 0x86) X(SourceType, 0x88)   \
  X(UnitsPerMeasure, 0x89) X(QueryKey, 0x8A) X(StreamName, 0x8B)               \
  X(StreamDataLength, 0x8C) X(ErrorReport, 0x8F) X(CharAngle, 0xA1)            \
  X(CharCode, 0xA2) X(CharDataSize, 0xA3) X(CharScale, 0xA4)                   \
  X(CharShear, 0xA5) X(CharSize, 0xA6) X(FontHeaderLength, 0xA7)               \
  X(FontName, 0xA8) X(FontFormat, 0xA9) X(SymbolSet, 0xAA) X(TextData, 0xAB)   \
  X(CharSubModeArray, 0xAC) X(XSpacingData, 0xAF) X(YSpacingData, 0xB0)        \
  X(CharBoldValue, 0xB1)
// clang-format on

#define VELMORA_PXL_ENUM_ENTRY(name, code) name = code,

// An operator tag. Values outside the named ones are operators this library does not
// know; the reader passes them on with their code.
enum class Op : std::uint8_t { VELMORA_PXL_OPERATORS(VELMORA_PXL_ENUM_ENTRY) };

// An attribute identifier (one byte after 0xF8, two bytes after 0xF9).
enum class Attr : std::uint16_t { VELMORA_PXL_ATTRIBUTES(VELMORA_PXL_ENUM_ENTRY) };

#undef VELMORA_PXL_ENUM_ENTRY

// The tag bytes of the binary encoding that are not operators.
namespace tag {
inline constexpr std::uint8_t kFirstOperator = 0x41;
inline constexpr std::uint8_t kLastOperator = 0xBF;
inline constexpr std::uint8_t kUByte = 0xC0;
inline constexpr std::uint8_t kReal32 = 0xC5;
inline constexpr std::uint8_t kUByteArray = 0xC8;
inline constexpr std::uint8_t kReal32Array = 0xCD;
inline constexpr std::uint8_t kUByteXy = 0xD0;
inline constexpr std::uint8_t kReal32Xy = 0xD5;
inline constexpr std::uint8_t kUByteBox = 0xE0;
inline constexpr std::uint8_t kReal32Box = 0xE5;
inline constexpr std::uint8_t kAttrUByte = 0xF8;
inline constexpr std::uint8_t kAttrUInt16 = 0xF9;
inline constexpr std::uint8_t kDataLength = 0xFA;      // embedded data, 4-byte length
inline constexpr std::uint8_t kDataLengthByte = 0xFB;  // embedded data, 1-byte length
inline constexpr std::uint8_t kEsc = 0x1B;             // first byte of a UEL
}  // namespace tag

// The element type of a value; the low three bits of its data-type tag.
enum class ElementType : std::uint8_t { kUByte, kUInt16, kUInt32, kSInt16, kSInt32, kReal32 };

// How many elements a value holds: one, an x-y pair, a box (left top right bottom) or
// an array whose length precedes the elements.
enum class Shape : std::uint8_t { kScalar, kXy, kBox, kArray };

// The element type and shape of a data-type tag, or false for any other byte.
bool DecodeDataType(std::uint8_t tag, ElementType& element, Shape& shape);

// The size in bytes of one element.
std::size_t ElementSize(ElementType element);

// The published name of an element type and shape: "ubyte", "uint16_array", "real32_xy".
std::string DataTypeName(ElementType element, Shape shape);

// The published name of an operator or attribute, or an empty view when unknown.
std::string_view OperatorName(std::uint8_t code);
std::string_view AttributeName(std::uint16_t id);

// The published name of one value of an enumerated attribute ("eA4Paper" for MediaSize
// 2), or an empty view when the attribute is not enumerated here or the value is unknown.
std::string_view EnumerationName(std::uint16_t attribute, std::uint32_t value);

}  // namespace velmora::pxl
