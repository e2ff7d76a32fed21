// The plug-in's private settings record, stored by the host inside the public device
// mode's driver-extra area behind the host's own private data.
//
// The record is a 12-byte header (dwSize, dwSignature, dwVersion) and a 5228-byte body.
// It is a stored format: every offset below is binding. Only this file's routines see
// the header; everything else works on the body.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "formats/host_interface.h"
#include "formats/vendor_settings.h"

namespace velmora {

inline constexpr std::size_t kVendorHeaderSize = 12;
inline constexpr std::size_t kVendorRecordSize = 5240;
inline constexpr std::size_t kVendorBodySize = kVendorRecordSize - kVendorHeaderSize;
static_assert(kVendorBodySize == 5228);

// "QZTX" read as a little-endian 32-bit value.
inline constexpr std::uint32_t kVendorSignature = 0x58545A51;
inline constexpr std::uint32_t kVendorVersion = 1;

// Header offsets inside the record.
namespace vendor_header {
inline constexpr std::size_t kSize = 0;
inline constexpr std::size_t kSignature = 4;
inline constexpr std::size_t kVersion = 8;
}  // namespace vendor_header

// Writes every default of the body into the 5228-byte body. Bytes the defaults do not
// define keep whatever the buffer held.
void FillVendorDefaults(std::uint8_t* body);

// Writes the header: dwSize 5240, dwSignature "QZTX", dwVersion 1. False for a missing
// record.
bool StampVendorHeader(std::uint8_t* record);

// The copy of the CONVERT and MERGE requests, from the input record to the output record.
// A record with another signature than the input's gets a default record. Otherwise the
// output body gets the defaults, then the leading bytes of the input record are copied
// (header included): as many as both headers' dwSize allow, but never more than a whole
// record nor more than either buffer really holds (inCapacity, outCapacity). False only
// when either record is missing. It stays with the record: `velmora settings` copies too.
bool CopyVendorDevmode(const std::uint8_t* in, std::size_t inCapacity, std::uint8_t* out, std::size_t outCapacity);

// The same for records the host allocated with the size this plug-in asked for.
bool CopyVendorDevmode(const std::uint8_t* in, std::uint8_t* out);

// Where the record's body lies in a public device mode held in `available` bytes:
// the body's offset from the device mode's start, or nothing when the device mode does
// not hold a valid record.
std::optional<std::size_t> FindVendorDevmodeOffset(const std::uint8_t* devmode, std::size_t available);

// The body of the record stored in a public device mode the host handed over, or null.
// The device mode's own dmSize and dmDriverExtra give its extent.
std::uint8_t* FindVendorDevmode(DEVMODEW* devmode);

}  // namespace velmora
