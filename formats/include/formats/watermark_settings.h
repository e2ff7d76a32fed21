// The stored watermark record and the per-printer settings file it is read from.
//
// A printer's watermarks live in "DrvSettings.GPS" in the folder "VELMORA IT Co/<printer>"
// of the user's local application data: section "WMSet_<n>" (n the section number that
// the job's settings name), key "Value", one 816-byte `WatermarkSettings` record in the
// private-profile structure encoding.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "platform/types.h"

namespace velmora {

// Where a watermark goes in its cell. The stored value may be any number; the drawing
// code draws nothing for one it does not know.
enum WatermarkPlacement : std::uint32_t {
  WM_PLACEMENT_CENTRE = 0,
  WM_PLACEMENT_TILE = 1,
  WM_PLACEMENT_FIT = 2,  // bitmaps only: scaled to fill the cell, keeping the aspect
};

// Bits of `styleFlags`.
inline constexpr std::uint8_t WM_STYLE_BOLD = 0x02;
inline constexpr std::uint8_t WM_STYLE_ITALIC = 0x04;
inline constexpr std::uint8_t WM_STYLE_OUTLINE = 0x08;

// One stored watermark: 816 bytes, little-endian, kept as bytes and read and written by
// offset. A record with an image path is a bitmap watermark, otherwise a text one.
class WatermarkSettings {
 public:
  static constexpr std::size_t kSize = 816;

  static constexpr std::size_t kTextOffset = 0;
  static constexpr std::size_t kTextUnits = 64;  // at most 63 characters and a NUL
  static constexpr std::size_t kFaceNameOffset = 128;
  static constexpr std::size_t kFaceNameUnits = 65;  // at most 64 characters and a NUL
  static constexpr std::size_t kPointSizeOffset = 260;
  static constexpr std::size_t kStyleFlagsOffset = 264;
  static constexpr std::size_t kAngleOffset = 268;
  static constexpr std::size_t kDarknessOffset = 272;
  static constexpr std::size_t kOffsetXOffset = 276;
  static constexpr std::size_t kOffsetYOffset = 280;
  static constexpr std::size_t kOffsetInMillimetresOffset = 284;
  static constexpr std::size_t kPlacementOffset = 288;
  static constexpr std::size_t kImagePathOffset = 292;
  static constexpr std::size_t kImagePathUnits = 260;  // at most 259 characters and a NUL
  static constexpr std::size_t kImageScaleOffset = 812;

  // The defaults: no text, "Times New Roman" 72 points, 45 degrees, 25 % grey, centred,
  // offsets 0 inches, no image, image scale 100 %.
  WatermarkSettings();

  // A record from its stored bytes; nothing unless there are exactly kSize of them.
  static std::optional<WatermarkSettings> FromBytes(std::span<const std::uint8_t> bytes);

  const std::array<std::uint8_t, kSize>& bytes() const { return bytes_; }

  WString text() const;
  void set_text(WStringView value);  // cut to 63 characters
  WString faceName() const;
  void set_faceName(WStringView value);  // cut to 64 characters
  std::uint32_t pointSize() const;
  void set_pointSize(std::uint32_t value);
  std::uint8_t styleFlags() const { return bytes_[kStyleFlagsOffset]; }
  void set_styleFlags(std::uint8_t value) { bytes_[kStyleFlagsOffset] = value; }
  std::uint32_t angle() const;
  void set_angle(std::uint32_t value);
  std::uint32_t darkness() const;
  void set_darkness(std::uint32_t value);
  float offsetX() const;
  void set_offsetX(float value);
  float offsetY() const;
  void set_offsetY(float value);
  std::uint8_t offsetInMillimetres() const { return bytes_[kOffsetInMillimetresOffset]; }
  void set_offsetInMillimetres(std::uint8_t value) { bytes_[kOffsetInMillimetresOffset] = value; }
  std::uint32_t placement() const;
  void set_placement(std::uint32_t value);
  WString imagePath() const;
  void set_imagePath(WStringView value);  // cut to 259 characters
  std::uint32_t imageScale() const;
  void set_imageScale(std::uint32_t value);

  bool bold() const { return (styleFlags() & WM_STYLE_BOLD) != 0; }
  bool italic() const { return (styleFlags() & WM_STYLE_ITALIC) != 0; }
  bool outline() const { return (styleFlags() & WM_STYLE_OUTLINE) != 0; }
  void set_style(std::uint8_t bit, bool on);
  // Only the value 1 means millimetres; every other value means inches.
  bool offsetsInMillimetres() const { return offsetInMillimetres() == 1; }
  bool IsBitmap() const { return bytes_[kImagePathOffset] != 0 || bytes_[kImagePathOffset + 1] != 0; }

 private:
  std::array<std::uint8_t, kSize> bytes_{};
};

// Names of the settings file and its parts.
inline constexpr const WCHAR* kWatermarkCompanyFolder = VTEXT("VELMORA IT Co");
inline constexpr const WCHAR* kWatermarkSettingsFile = VTEXT("DrvSettings.GPS");
inline constexpr const WCHAR* kWatermarkSectionPrefix = VTEXT("WMSet");
inline constexpr const WCHAR* kWatermarkKey = VTEXT("Value");

// The section name of a section number: "WMSet_3" for 3.
WString WatermarkSectionName(std::int32_t sectionNumber);

// The section number of a section name ("WMSet_3" gives 3, in any ASCII case); nothing
// for any other name.
std::optional<std::int32_t> WatermarkSectionNumber(WStringView sectionName);

// The file's place is part of its format: the velmora program writes the very file the plug-in reads.
namespace Utility {

// Builds "<local app data>/<companyFolder>/<printerName>/" (with the platform's path
// separator, ending in one), creating both folders. False, leaving `path` as it was, when
// a name is empty, a name is not a single folder name (".", "..", or one holding a path
// separator), the local application-data folder is unknown, or a folder cannot be made.
bool UtilCreateAppDataFolder(const WString& companyFolder, const WString& printerName, WString* path);

}  // namespace Utility

// The settings file of a printer, its folders created: nothing when they cannot be.
std::optional<WString> WatermarkSettingsPath(const WString& printerName);

}  // namespace velmora
