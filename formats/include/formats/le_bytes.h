// Little-endian reading and writing of stored byte layouts.
//
// Every stored format (settings record, device mode, overlay files, settings files) is
// read and written through these, by byte offset, never by casting a struct over a
// buffer. The readers trust their pointer; a caller with a buffer of unknown length
// checks the field with Fits first.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

namespace velmora::le {

inline std::uint16_t U16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }
inline std::int16_t I16(const std::uint8_t* p) { return static_cast<std::int16_t>(U16(p)); }
inline std::uint32_t U32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
inline std::int32_t I32(const std::uint8_t* p) { return static_cast<std::int32_t>(U32(p)); }
inline float F32(const std::uint8_t* p) {
  const std::uint32_t bits = U32(p);
  float value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

inline void PutU16(std::uint8_t* p, std::uint16_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}
inline void PutI16(std::uint8_t* p, std::int16_t v) { PutU16(p, static_cast<std::uint16_t>(v)); }
inline void PutU32(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
  p[2] = static_cast<std::uint8_t>(v >> 16);
  p[3] = static_cast<std::uint8_t>(v >> 24);
}
inline void PutI32(std::uint8_t* p, std::int32_t v) { PutU32(p, static_cast<std::uint32_t>(v)); }
inline void PutF32(std::uint8_t* p, float v) {
  std::uint32_t bits;
  std::memcpy(&bits, &v, sizeof bits);
  PutU32(p, bits);
}

// True when [offset, offset + width) lies inside a buffer of `size` bytes.
constexpr bool Fits(std::size_t size, std::size_t offset, std::size_t width) {
  return offset <= size && width <= size - offset;
}

}  // namespace velmora::le
