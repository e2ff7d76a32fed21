// The PCL XL encoder for the host's own part of the page stream.
#include "host/pxl_encoder.h"

#include <algorithm>
#include <cstring>

namespace velmora::host {
namespace {

constexpr std::uint8_t kUByte = 0xC0;
constexpr std::uint8_t kUInt16 = 0xC1;
constexpr std::uint8_t kUByteArray = 0xC8;
constexpr std::uint8_t kUInt16Xy = 0xD1;
constexpr std::uint8_t kSInt16Xy = 0xD3;
constexpr std::uint8_t kReal32Xy = 0xD5;
constexpr std::uint8_t kSInt16Box = 0xE3;
constexpr std::uint8_t kAttrUByte = 0xF8;
constexpr std::uint8_t kAttrUInt16 = 0xF9;
constexpr std::uint8_t kDataLength = 0xFA;

}  // namespace

std::int16_t ClampCoordinate(std::int64_t value) {
  return static_cast<std::int16_t>(std::clamp<std::int64_t>(value, -32768, 32767));
}

void PxlEncoder::U16(std::uint16_t value) {
  bytes_.push_back(static_cast<std::uint8_t>(value));
  bytes_.push_back(static_cast<std::uint8_t>(value >> 8));
}

void PxlEncoder::Attribute(pxl::Attr attribute) {
  const auto id = static_cast<std::uint16_t>(attribute);
  if (id <= 0xFF) {
    bytes_.push_back(kAttrUByte);
    bytes_.push_back(static_cast<std::uint8_t>(id));
    return;
  }
  bytes_.push_back(kAttrUInt16);
  U16(id);
}

PxlEncoder& PxlEncoder::Value(const pxl::Value& value, pxl::Attr attribute) {
  bytes_.push_back(value.tag);
  if (value.shape() == pxl::Shape::kArray) {
    bytes_.push_back(kUInt16);
    U16(static_cast<std::uint16_t>(value.elements.size()));
  }
  for (const double element : value.elements) {
    switch (value.element()) {
      case pxl::ElementType::kUByte: bytes_.push_back(static_cast<std::uint8_t>(element)); break;
      case pxl::ElementType::kUInt16:
      case pxl::ElementType::kSInt16: U16(static_cast<std::uint16_t>(static_cast<std::int32_t>(element))); break;
      case pxl::ElementType::kUInt32:
      case pxl::ElementType::kSInt32: {
        const auto bits = static_cast<std::uint32_t>(static_cast<std::int64_t>(element));
        U16(static_cast<std::uint16_t>(bits));
        U16(static_cast<std::uint16_t>(bits >> 16));
        break;
      }
      case pxl::ElementType::kReal32: {
        const auto real = static_cast<float>(element);
        std::uint32_t bits = 0;
        std::memcpy(&bits, &real, sizeof bits);
        U16(static_cast<std::uint16_t>(bits));
        U16(static_cast<std::uint16_t>(bits >> 16));
        break;
      }
    }
  }
  Attribute(attribute);
  return *this;
}

PxlEncoder& PxlEncoder::UByte(std::uint8_t value, pxl::Attr attribute) {
  bytes_.push_back(kUByte);
  bytes_.push_back(value);
  Attribute(attribute);
  return *this;
}

PxlEncoder& PxlEncoder::UInt16(std::uint16_t value, pxl::Attr attribute) {
  bytes_.push_back(kUInt16);
  U16(value);
  Attribute(attribute);
  return *this;
}

PxlEncoder& PxlEncoder::UInt16Xy(std::uint16_t x, std::uint16_t y, pxl::Attr attribute) {
  bytes_.push_back(kUInt16Xy);
  U16(x);
  U16(y);
  Attribute(attribute);
  return *this;
}

PxlEncoder& PxlEncoder::SInt16Xy(std::int32_t x, std::int32_t y, pxl::Attr attribute) {
  bytes_.push_back(kSInt16Xy);
  U16(static_cast<std::uint16_t>(ClampCoordinate(x)));
  U16(static_cast<std::uint16_t>(ClampCoordinate(y)));
  Attribute(attribute);
  return *this;
}

PxlEncoder& PxlEncoder::SInt16Box(std::int32_t left, std::int32_t top, std::int32_t right, std::int32_t bottom,
                                  pxl::Attr attribute) {
  bytes_.push_back(kSInt16Box);
  for (std::int32_t v : {left, top, right, bottom}) U16(static_cast<std::uint16_t>(ClampCoordinate(v)));
  Attribute(attribute);
  return *this;
}

PxlEncoder& PxlEncoder::Real32Xy(float x, float y, pxl::Attr attribute) {
  bytes_.push_back(kReal32Xy);
  for (float v : {x, y}) {
    std::uint32_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    U16(static_cast<std::uint16_t>(bits));
    U16(static_cast<std::uint16_t>(bits >> 16));
  }
  Attribute(attribute);
  return *this;
}

PxlEncoder& PxlEncoder::UByteArray(std::span<const std::uint8_t> bytes, pxl::Attr attribute) {
  const std::size_t count = std::min<std::size_t>(bytes.size(), 0xFF);
  bytes_.push_back(kUByteArray);
  bytes_.push_back(kUByte);
  bytes_.push_back(static_cast<std::uint8_t>(count));
  bytes_.insert(bytes_.end(), bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(count));
  Attribute(attribute);
  return *this;
}

PxlEncoder& PxlEncoder::Operator(pxl::Op op) {
  bytes_.push_back(static_cast<std::uint8_t>(op));
  return *this;
}

PxlEncoder& PxlEncoder::Data(std::span<const std::uint8_t> bytes) {
  const auto length = static_cast<std::uint32_t>(bytes.size());
  bytes_.push_back(kDataLength);
  U16(static_cast<std::uint16_t>(length));
  U16(static_cast<std::uint16_t>(length >> 16));
  bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
  return *this;
}

PxlEncoder& PxlEncoder::Raw(std::span<const std::uint8_t> bytes) {
  bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
  return *this;
}

}  // namespace velmora::host
