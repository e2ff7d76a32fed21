// The stored watermark records and the per-printer settings file.
#include "formats/watermark_settings.h"
#include "platform/text_encoding.h"

#include <algorithm>
#include <cstdint>
#include <exception>
#include <string>

#include "formats/le_bytes.h"
#include "formats/text.h"
#include "platform/environment.h"
#include "platform/services.h"

namespace velmora {

// The record's fields must tile its 816 bytes exactly as stored.
static_assert(WatermarkSettings::kFaceNameOffset == WatermarkSettings::kTextOffset + 2 * WatermarkSettings::kTextUnits);
static_assert(WatermarkSettings::kPointSizeOffset ==
              WatermarkSettings::kFaceNameOffset + 2 * WatermarkSettings::kFaceNameUnits + 2);
static_assert(WatermarkSettings::kImageScaleOffset ==
              WatermarkSettings::kImagePathOffset + 2 * WatermarkSettings::kImagePathUnits);
static_assert(WatermarkSettings::kImageScaleOffset + 4 == WatermarkSettings::kSize);

WatermarkSettings::WatermarkSettings() {
  set_faceName(VTEXT("Times New Roman"));
  set_pointSize(72);
  set_angle(45);
  set_darkness(25);
  set_imageScale(100);
}

std::optional<WatermarkSettings> WatermarkSettings::FromBytes(std::span<const std::uint8_t> bytes) {
  if (bytes.size() != kSize) return std::nullopt;
  WatermarkSettings settings;
  std::copy(bytes.begin(), bytes.end(), settings.bytes_.begin());
  return settings;
}

WString WatermarkSettings::text() const { return text::ReadWideField(&bytes_[kTextOffset], kTextUnits); }
void WatermarkSettings::set_text(WStringView value) { text::WriteWideField(&bytes_[kTextOffset], kTextUnits, value); }
WString WatermarkSettings::faceName() const { return text::ReadWideField(&bytes_[kFaceNameOffset], kFaceNameUnits); }
void WatermarkSettings::set_faceName(WStringView value) {
  text::WriteWideField(&bytes_[kFaceNameOffset], kFaceNameUnits, value);
}
WString WatermarkSettings::imagePath() const { return text::ReadWideField(&bytes_[kImagePathOffset], kImagePathUnits); }
void WatermarkSettings::set_imagePath(WStringView value) {
  text::WriteWideField(&bytes_[kImagePathOffset], kImagePathUnits, value);
}

std::uint32_t WatermarkSettings::pointSize() const { return le::U32(&bytes_[kPointSizeOffset]); }
void WatermarkSettings::set_pointSize(std::uint32_t value) { le::PutU32(&bytes_[kPointSizeOffset], value); }
std::uint32_t WatermarkSettings::angle() const { return le::U32(&bytes_[kAngleOffset]); }
void WatermarkSettings::set_angle(std::uint32_t value) { le::PutU32(&bytes_[kAngleOffset], value); }
std::uint32_t WatermarkSettings::darkness() const { return le::U32(&bytes_[kDarknessOffset]); }
void WatermarkSettings::set_darkness(std::uint32_t value) { le::PutU32(&bytes_[kDarknessOffset], value); }
float WatermarkSettings::offsetX() const { return le::F32(&bytes_[kOffsetXOffset]); }
void WatermarkSettings::set_offsetX(float value) { le::PutF32(&bytes_[kOffsetXOffset], value); }
float WatermarkSettings::offsetY() const { return le::F32(&bytes_[kOffsetYOffset]); }
void WatermarkSettings::set_offsetY(float value) { le::PutF32(&bytes_[kOffsetYOffset], value); }
std::uint32_t WatermarkSettings::placement() const { return le::U32(&bytes_[kPlacementOffset]); }
void WatermarkSettings::set_placement(std::uint32_t value) { le::PutU32(&bytes_[kPlacementOffset], value); }
std::uint32_t WatermarkSettings::imageScale() const { return le::U32(&bytes_[kImageScaleOffset]); }
void WatermarkSettings::set_imageScale(std::uint32_t value) { le::PutU32(&bytes_[kImageScaleOffset], value); }

void WatermarkSettings::set_style(std::uint8_t bit, bool on) {
  const std::uint8_t flags = styleFlags();
  set_styleFlags(static_cast<std::uint8_t>(on ? flags | bit : flags & ~bit));
}

WString WatermarkSectionName(std::int32_t sectionNumber) {
  return WString(kWatermarkSectionPrefix) + VTEXT('_') + platform::Utf8ToUtf16(std::to_string(sectionNumber));
}

std::optional<std::int32_t> WatermarkSectionNumber(WStringView sectionName) {
  const WStringView prefix(kWatermarkSectionPrefix);
  if (sectionName.size() <= prefix.size() + 1 || !text::EqualsNoCase(sectionName.substr(0, prefix.size()), prefix) ||
      sectionName[prefix.size()] != VTEXT('_')) {
    return std::nullopt;
  }
  // The number is written as "%d" writes it, so only that spelling names a section.
  const std::string digits = platform::Utf16ToUtf8(sectionName.substr(prefix.size() + 1));
  try {
    std::size_t used = 0;
    const long long number = std::stoll(digits, &used);
    if (used != digits.size() || number < INT32_MIN || number > INT32_MAX) return std::nullopt;
    if (std::to_string(number) != digits) return std::nullopt;
    return static_cast<std::int32_t>(number);
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

namespace Utility {

bool UtilCreateAppDataFolder(const WString& companyFolder, const WString& printerName, WString* path) {
  if (path == nullptr || companyFolder.empty() || printerName.empty()) return false;
  // A printer name becomes one folder name; one that would leave the company folder
  // (".." or a path separator) gets no folder at all.
  for (const WString* name : {&companyFolder, &printerName}) {
    if (*name == VTEXT(".") || *name == VTEXT("..") || name->find_first_of(VTEXT("/\\")) != WString::npos) {
      return false;
    }
  }
  const std::optional<WString> appData = platform::Current().environment->LocalAppDataFolder();
  if (!appData) return false;
  const WCHAR separator = platform::PathSeparator();
  WString folder = *appData;
  if (!folder.empty() && folder.back() == separator) folder.pop_back();
  for (const WString* name : {&companyFolder, &printerName}) {
    folder += separator;
    folder += *name;
    if (!platform::CreateDirectoryW(folder)) return false;
  }
  folder += separator;
  *path = std::move(folder);
  return true;
}

}  // namespace Utility

std::optional<WString> WatermarkSettingsPath(const WString& printerName) {
  WString folder;
  if (!Utility::UtilCreateAppDataFolder(kWatermarkCompanyFolder, printerName, &folder)) return std::nullopt;
  return folder + kWatermarkSettingsFile;
}

}  // namespace velmora
