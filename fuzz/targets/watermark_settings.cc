// Fuzz target: a watermark settings file from outside (the private-profile reader) and
// the records in it. Writing one section must leave every other section as it read.
#include <map>

#include "formats/text.h"
#include "formats/watermark_settings.h"
#include "fuzz/fuzz_target.h"
#include "platform/private_profile.h"
#include "platform/text_encoding.h"
#include "src/watermark/watermark_selection.h"

namespace velmora::fuzz {
namespace {

void ReadRecord(const WatermarkSettings& record) {
  (void)record.text();
  (void)record.faceName();
  (void)record.imagePath();
  (void)record.pointSize();
  (void)record.angle();
  (void)record.darkness();
  (void)record.offsetX();
  (void)record.offsetY();
  (void)record.placement();
  (void)record.imageScale();
  (void)record.IsBitmap();
}

void Entry(const std::uint8_t* data, std::size_t size) {
  // The record on its own: the first 816 bytes, when there are as many.
  if (size >= WatermarkSettings::kSize) {
    if (auto record = WatermarkSettings::FromBytes({data, WatermarkSettings::kSize})) ReadRecord(*record);
  }
  (void)platform::DecodeProfileStruct(std::string_view(reinterpret_cast<const char*>(data), size), size / 2);

  const WString path = platform::Utf8ToUtf16(WriteScratchFile("DrvSettings.GPS", data, size));
  const WString key = kWatermarkKey;
  std::map<WString, std::optional<std::vector<std::uint8_t>>> before;
  for (const WString& section : platform::ListProfileSections(path)) {
    before.emplace(section, platform::ReadProfileStruct(path, section, key, WatermarkSettings::kSize));
    if (auto number = WatermarkSectionNumber(section)) {
      WatermarkSettings record;
      if (Utility::GetCurrentSelectedWatermarkSettings(*number, &record, path)) ReadRecord(record);
    }
  }
  // A new section written into the file leaves the others as they were.
  WatermarkSettings added;
  added.set_text(VTEXT("FUZZ"));
  const WString addedName = WatermarkSectionName(99);
  if (!platform::WriteProfileStruct(path, addedName, key, added.bytes())) return;
  for (const auto& [section, value] : before) {
    if (platform::SameProfileName(section, addedName)) continue;
    if (platform::ReadProfileStruct(path, section, key, WatermarkSettings::kSize) != value) __builtin_trap();
  }
  if (platform::ReadProfileStruct(path, addedName, key, WatermarkSettings::kSize) !=
      std::vector<std::uint8_t>(added.bytes().begin(), added.bytes().end())) {
    __builtin_trap();
  }
}

std::vector<Seed> Seeds() {
  WatermarkSettings text;
  text.set_text(VTEXT("CONFIDENTIAL"));
  text.set_angle(45);
  WatermarkSettings bitmap;
  bitmap.set_imagePath(VTEXT("/srv/logos/logo.png"));
  const std::string file = "; watermarks\r\n[WMSet_1]\r\nValue=" + platform::EncodeProfileStruct(text.bytes()) +
                           "\r\n[WMSet_2]\r\nValue=" + platform::EncodeProfileStruct(bitmap.bytes()) +
                           "\r\nOther=1\r\n";
  return {{"two-sections", Bytes(file)}, {"odd", Bytes("[ wmset_3 ]\nvalue = 00\n[broken\nkey\n=\n")}};
}

VELMORA_FUZZ_TARGET(watermark_settings, Entry, Seeds);

}  // namespace
}  // namespace velmora::fuzz
