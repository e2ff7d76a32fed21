// The plug-in's private settings record: defaults, convert and merge copies, and finding it in a device mode.
#include "formats/vendor_devmode.h"

#include <algorithm>
#include <cstring>

#include "formats/le_bytes.h"

namespace velmora {
namespace {

// One default of the body: `width` bytes at `offset`, either zero-filled (a string, an
// unnamed text array, a special-page block) or a little-endian value.
struct DefaultValue {
  std::size_t offset;
  std::size_t width;
  std::uint32_t value;
};

// Every default of the body, in body order. The gaps between rows are the bytes the
// defaults leave as they were.
constexpr DefaultValue kBodyDefaults[] = {
    {0, 66, 0},                 // szAppName
    {68, 4, kVendorSignature},  // dwBodySignature
    {72, 4, 0},
    {80, 1, 1},
    {82, 2, 0},
    {84, 520, 0},  // WCHAR[260]
    {614, 1, 0},   // bStaple
    {615, 1, 0},
    {616, 2, 6},   // sTonerDarkness
    {618, 1, 0},   // bEconoMode
    {624, 18, 0},  // WCHAR[9]
    {642, 66, 0},  // WCHAR[33]
    {708, 66, 0},  // WCHAR[33]
    {776, 1, 0},   // bRotateSort
    {780, 4, 0},   // eHoldMode
    {784, 66, 0},  // szFileBoxName
    {850, 66, 0},  // szFileBoxPassword
    {916, 2, 0},   // sBrightness
    {918, 2, 1},   // sContrast
    {920, 2, 1},   // vdmPagesPerSheet
    {922, 1, 0},   // bBooklet
    {923, 1, 0},   // bPagesPerSheetFromApp
    {924, 4, 0},   // dwTwoUpOrder
    {928, 4, 0},   // dwNupOrder
    {932, 4, 0},   // dwSpecialPageKind
    {936, 1, 0},   // bRasterMode
    {937, 1, 0},
    {938, 1, 0},  // bBookletReverse
    {939, 1, 1},
    {940, 1, 1},
    {942, 2, 1},
    {944, 2, 100},
    {946, 2, 0},  // sBookletSubset
    {948, 1, 0},
    {952, 3 * kSpecialPageBlockSize, 0},  // the three special-page blocks
    {1588, 4, 0},                         // eWMUsage
    {1592, 4, 0},                         // sFP_SectionIndex
    {1596, 4, 0},
    {1600, 4, 0},  // sNP_SectionIndex
    {1604, 4, 0},
    {1609, 1, 0},
    {1610, 1, 0},
    {1611, 1, 0},  // bTextInBlack
    {1612, 2, 0},  // sBindingEdge
    {1614, 2, 0},  // sCustomMargins
    {1617, 1, 0},
    {1618, 56, 0},  // szMargins, filled below
    {1674, 14, 0},  // szBindingShift, filled below
    {1688, 1, 0},
    {1692, 4, 0},           // dwOverlayMode
    {1696, 1, 0},           // bOverlayUnder
    {1700, 4, 0x3F800000},  // fScale 1.0
    {1704, 1, 0},
    {1706, 2, 0xFFFF},
    {1708, 1, 0},
    {1710, 2, 600},  // sResolution
    {1712, 2, 0},
    {1714, 1, 0},
    {1716, 2, 0xFFFF},
    {1722, 66, 0},  // WCHAR[33]
    {1788, 66, 0},  // WCHAR[33]
    {1854, 66, 0},  // szPrintBoxDir
};

constexpr bool DefaultsAreOrderedAndInsideTheBody() {
  std::size_t end = 0;
  for (const auto& row : kBodyDefaults) {
    if (row.offset < end) return false;
    if (row.width == 3 || (row.width < 4 && row.value > (1u << (8 * row.width)) - 1)) return false;
    end = row.offset + row.width;
  }
  return end <= kVendorBodySize;
}
static_assert(DefaultsAreOrderedAndInsideTheBody());

// Copies decimal text into a WCHAR[7] element: at most 6 characters and the NUL, then
// the element's last unit is set to 0.
void WriteDecimalText(std::uint8_t* element, std::u16string_view value) {
  std::size_t count = std::min<std::size_t>(value.size(), 6);
  for (std::size_t i = 0; i < count; ++i) le::PutU16(element + 2 * i, value[i]);
  le::PutU16(element + 2 * count, 0);
  le::PutU16(element + 2 * 6, 0);
}

void WriteHeader(std::uint8_t* record) {
  le::PutU32(record + vendor_header::kSize, kVendorRecordSize);
  le::PutU32(record + vendor_header::kSignature, kVendorSignature);
  le::PutU32(record + vendor_header::kVersion, kVendorVersion);
}

}  // namespace

void FillVendorDefaults(std::uint8_t* body) {
  for (const auto& row : kBodyDefaults) {
    switch (row.width) {
      case 1: body[row.offset] = static_cast<std::uint8_t>(row.value); break;
      case 2: le::PutU16(body + row.offset, static_cast<std::uint16_t>(row.value)); break;
      case 4: le::PutU32(body + row.offset, row.value); break;
      default: std::memset(body + row.offset, 0, row.width); break;
    }
  }
  for (std::size_t i = 0; i < kMarginCount; ++i) {
    WriteDecimalText(body + kMarginsOffset + 2 * kMarginUnits * i, u"0.16");
  }
  WriteDecimalText(body + 1674, u"0.00");
}

bool StampVendorHeader(std::uint8_t* record) {
  if (record == nullptr) return false;
  WriteHeader(record);
  return true;
}

bool CopyVendorDevmode(const std::uint8_t* in, std::size_t inCapacity, std::uint8_t* out, std::size_t outCapacity) {
  if (in == nullptr || out == nullptr) return false;
  // A buffer too small for a header cannot hold a record; the output still becomes a
  // default record when it has room for one.
  const bool inHasHeader = inCapacity >= kVendorHeaderSize;
  if (outCapacity < kVendorRecordSize) return false;

  if (!inHasHeader || le::U32(in + vendor_header::kSignature) != le::U32(out + vendor_header::kSignature)) {
    WriteHeader(out);
    FillVendorDefaults(out + kVendorHeaderSize);
    return true;
  }

  FillVendorDefaults(out + kVendorHeaderSize);
  // The headers' sizes decide how much is copied, but a corrupt header must never make
  // the copy run past the record or past either buffer.
  std::size_t count = std::min<std::size_t>(le::U32(in + vendor_header::kSize), le::U32(out + vendor_header::kSize));
  count = std::min({count, kVendorRecordSize, inCapacity, outCapacity});
  std::memmove(out, in, count);
  le::PutU32(out + vendor_header::kSize, kVendorRecordSize);
  le::PutU32(out + vendor_header::kVersion, kVendorVersion);
  return true;
}

bool CopyVendorDevmode(const std::uint8_t* in, std::uint8_t* out) {
  return CopyVendorDevmode(in, kVendorRecordSize, out, kVendorRecordSize);
}

std::optional<std::size_t> FindVendorDevmodeOffset(const std::uint8_t* devmode, std::size_t available) {
  if (devmode == nullptr || available < devmode_offset::kPublicSize) return std::nullopt;
  const std::size_t dmSize = le::U16(devmode + devmode_offset::kSize);
  const std::size_t dmDriverExtra = le::U16(devmode + devmode_offset::kDriverExtra);
  if (dmSize < devmode_offset::kPublicSize) return std::nullopt;
  // Everything below is read inside dmSize + dmDriverExtra; that extent must itself lie
  // inside what the caller holds.
  if (!le::Fits(available, dmSize, dmDriverExtra)) return std::nullopt;
  const std::uint8_t* hostData = devmode + dmSize;
  const std::size_t hostSize = dmDriverExtra >= 11 ? le::U16(hostData + 8) : 0;
  if (hostSize == 0) return std::nullopt;
  if (dmDriverExtra <= hostSize + kVendorHeaderSize) return std::nullopt;
  const std::uint8_t* header = hostData + hostSize;
  if (le::U32(header + vendor_header::kSignature) != kVendorSignature ||
      le::U32(header + vendor_header::kSize) != kVendorRecordSize) {
    return std::nullopt;
  }
  if (dmDriverExtra < hostSize + kVendorRecordSize) return std::nullopt;
  return dmSize + hostSize + kVendorHeaderSize;
}

std::uint8_t* FindVendorDevmode(DEVMODEW* devmode) {
  if (devmode == nullptr) return nullptr;
  auto* bytes = reinterpret_cast<std::uint8_t*>(devmode);
  // The host's device mode extends over its public part and its driver-extra area.
  const std::size_t extent =
      std::size_t{le::U16(bytes + devmode_offset::kSize)} + le::U16(bytes + devmode_offset::kDriverExtra);
  auto offset = FindVendorDevmodeOffset(bytes, std::max(extent, devmode_offset::kPublicSize));
  return offset ? bytes + *offset : nullptr;
}

}  // namespace velmora
