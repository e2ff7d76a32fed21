// The job's public device mode as the host builds it: the public fields (220 bytes), the
// host's own private data, then the plug-in's settings record, which the plug-in finds
// through the size the host's private data names at its byte 8.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "formats/host_interface.h"
#include "platform/types.h"

namespace velmora::host {

// The host's private data: 64 bytes whose u16 at byte 8 holds their size.
inline constexpr std::size_t kHostPrivateSize = 64;
inline constexpr std::size_t kHostPrivateSizeOffset = 8;

class DeviceMode {
 public:
  // A zero-filled device mode with room for a plug-in record of `recordSize` bytes; the
  // size fields and the host's private data are written, the public fields are not.
  explicit DeviceMode(std::size_t recordSize);

  DEVMODEW* publicDM() { return reinterpret_cast<DEVMODEW*>(bytes_.data()); }
  std::uint8_t* bytes() { return bytes_.data(); }
  const std::uint8_t* bytes() const { return bytes_.data(); }
  std::size_t size() const { return bytes_.size(); }
  std::uint8_t* record() { return bytes_.data() + devmode_offset::kPublicSize + kHostPrivateSize; }
  std::size_t recordSize() const { return recordSize_; }

  // Public fields, read by offset.
  std::int16_t I16(std::size_t offset) const;
  void PutI16(std::size_t offset, std::int16_t value);
  WString FormName() const;
  void PutFormName(std::string_view name);

 private:
  std::vector<std::uint8_t> bytes_;
  std::size_t recordSize_;
};

// Writes the host's public defaults: the printer's name, A4 portrait, one copy, simplex,
// not collated, 600 dpi, the automatic bin, and dmFields naming the fields set.
void WritePublicDefaults(DeviceMode& devmode, const WString& printerName);

// The printer's default device mode: the public defaults and the plug-in's default
// record, from its DevMode size and default requests. Throws HostError when the plug-in
// refuses or names a record size that cannot be stored.
DeviceMode DefaultDeviceMode(IPrintOemUni3& plugin, HANDLE printer, const WString& printerName);

// Checks and completes the public fields of an application's device mode against the
// printer's defaults, as the host does before it merges them: a changed form name sets
// the paper code and a changed paper code the form name; a changed horizontal
// resolution alone sets the vertical one; a former bin number becomes the bin's number.
// Throws HostError naming a field whose value the printer cannot take.
void SettlePublicFields(DeviceMode& app, const DeviceMode& printerDefaults);

// Merges the application's device mode into the printer's: the public fields are copied,
// then the plug-in's merge request copies and adjusts its record (and may adjust the
// public fields, e.g. copies). Returns the job's device mode.
DeviceMode MergeDeviceMode(IPrintOemUni3& plugin, HANDLE printer, DeviceMode& app, DeviceMode printerDevmode);

}  // namespace velmora::host
