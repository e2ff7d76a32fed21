// Building PCL XL (protocol class 2.1, little-endian) commands for the host's own part
// of the page stream: session, pages and the drawing of the host's graphics functions.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "pxl/reader.h"
#include "pxl/tokens.h"

namespace velmora::host {

class PxlEncoder {
 public:
  // Attribute values followed by their attribute id.
  PxlEncoder& UByte(std::uint8_t value, pxl::Attr attribute);
  PxlEncoder& UInt16(std::uint16_t value, pxl::Attr attribute);
  PxlEncoder& UInt16Xy(std::uint16_t x, std::uint16_t y, pxl::Attr attribute);
  PxlEncoder& SInt16Xy(std::int32_t x, std::int32_t y, pxl::Attr attribute);
  PxlEncoder& SInt16Box(std::int32_t left, std::int32_t top, std::int32_t right, std::int32_t bottom,
                        pxl::Attr attribute);
  PxlEncoder& Real32Xy(float x, float y, pxl::Attr attribute);
  // A ubyte array of at most 255 bytes (longer input is cut).
  PxlEncoder& UByteArray(std::span<const std::uint8_t> bytes, pxl::Attr attribute);
  // Any value as the reader read it, in its own data type.
  PxlEncoder& Value(const pxl::Value& value, pxl::Attr attribute);
  PxlEncoder& Operator(pxl::Op op);
  // An embedded data block with its 4-byte length.
  PxlEncoder& Data(std::span<const std::uint8_t> bytes);
  PxlEncoder& Raw(std::span<const std::uint8_t> bytes);

  const std::vector<std::uint8_t>& bytes() const { return bytes_; }
  std::vector<std::uint8_t> Take() { return std::move(bytes_); }

 private:
  void U16(std::uint16_t value);
  void Attribute(pxl::Attr attribute);

  std::vector<std::uint8_t> bytes_;
};

// A coordinate clamped into the sint16 range of the stream.
std::int16_t ClampCoordinate(std::int64_t value);

}  // namespace velmora::host
