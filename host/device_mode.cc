// The job's public device mode as the host builds, settles and merges it.
#include "host/device_mode.h"

#include <cstring>
#include <string>

#include "formats/le_bytes.h"
#include "host/host_error.h"
#include "host/printer_description.h"
#include "platform/text_encoding.h"

namespace velmora::host {
namespace {

constexpr std::size_t kFormNameUnits = 32;
constexpr std::size_t kDeviceNameUnits = 32;
constexpr WORD kSpecVersion = 0x0401;
constexpr WORD kDriverVersion = 0x0100;

// The published defaults this host writes.
constexpr std::int16_t kDmPaperA4 = 9;
constexpr std::int16_t kDmOrientPortrait = 1;
constexpr std::int16_t kDmDuplexSimplex = 1;
constexpr std::int16_t kDmBinAuto = 7;
constexpr std::int16_t kDmColorMonochrome = 1;
constexpr std::int16_t kDefaultResolution = 600;
constexpr DWORD kFieldsSet = DM_ORIENTATION | DM_PAPERSIZE | DM_COPIES | DM_DEFAULTSOURCE | DM_PRINTQUALITY |
                             DM_DUPLEX | DM_YRESOLUTION | DM_COLLATE | DM_FORMNAME;

void PutWide(std::uint8_t* field, std::size_t units, const WString& text) {
  std::memset(field, 0, units * 2);
  const std::size_t count = std::min(text.size(), units - 1);
  for (std::size_t i = 0; i < count; ++i) le::PutU16(field + 2 * i, static_cast<std::uint16_t>(text[i]));
}

std::string PaperList() {
  std::string list;
  for (const Paper& paper : kPapers) {
    if (!list.empty()) list += ", ";
    list += std::string(paper.formName) + " (" + std::to_string(paper.paperCode) + ")";
  }
  return list;
}

void CheckRange(const DeviceMode& devmode, std::size_t offset, const char* name, int low, int high,
                const char* meaning) {
  const int value = devmode.I16(offset);
  if (value >= low && value <= high) return;
  throw HostError(std::string(name) + " " + std::to_string(value) + " is not one the printer takes: " + meaning);
}

}  // namespace

DeviceMode::DeviceMode(std::size_t recordSize)
    : bytes_(devmode_offset::kPublicSize + kHostPrivateSize + recordSize, 0), recordSize_(recordSize) {
  le::PutU16(bytes_.data() + devmode_offset::kSize, static_cast<std::uint16_t>(devmode_offset::kPublicSize));
  le::PutU16(bytes_.data() + devmode_offset::kDriverExtra, static_cast<std::uint16_t>(kHostPrivateSize + recordSize));
  le::PutU16(bytes_.data() + devmode_offset::kPublicSize + kHostPrivateSizeOffset,
             static_cast<std::uint16_t>(kHostPrivateSize));
}

std::int16_t DeviceMode::I16(std::size_t offset) const { return le::I16(bytes_.data() + offset); }

void DeviceMode::PutI16(std::size_t offset, std::int16_t value) { le::PutI16(bytes_.data() + offset, value); }

WString DeviceMode::FormName() const {
  WString name;
  for (std::size_t i = 0; i < kFormNameUnits; ++i) {
    const auto unit = static_cast<WCHAR>(le::U16(bytes_.data() + devmode_offset::kFormName + 2 * i));
    if (unit == 0) break;
    name.push_back(unit);
  }
  return name;
}

void DeviceMode::PutFormName(std::string_view name) {
  PutWide(bytes_.data() + devmode_offset::kFormName, kFormNameUnits, platform::Utf8ToUtf16(name));
}

void WritePublicDefaults(DeviceMode& devmode, const WString& printerName) {
  std::uint8_t* dm = devmode.bytes();
  PutWide(dm + devmode_offset::kDeviceName, kDeviceNameUnits, printerName);
  le::PutU16(dm + offsetof(DEVMODEW, dmSpecVersion), kSpecVersion);
  le::PutU16(dm + offsetof(DEVMODEW, dmDriverVersion), kDriverVersion);
  le::PutU32(dm + devmode_offset::kFields, kFieldsSet);
  devmode.PutI16(devmode_offset::kOrientation, kDmOrientPortrait);
  devmode.PutI16(devmode_offset::kPaperSize, kDmPaperA4);
  devmode.PutI16(offsetof(DEVMODEW, dmScale), 100);
  devmode.PutI16(devmode_offset::kCopies, 1);
  devmode.PutI16(devmode_offset::kDefaultSource, kDmBinAuto);
  devmode.PutI16(devmode_offset::kPrintQuality, kDefaultResolution);
  devmode.PutI16(offsetof(DEVMODEW, dmColor), kDmColorMonochrome);
  devmode.PutI16(devmode_offset::kDuplex, kDmDuplexSimplex);
  devmode.PutI16(devmode_offset::kYResolution, kDefaultResolution);
  devmode.PutI16(devmode_offset::kCollate, 0);
  devmode.PutFormName("A4");
}

DeviceMode DefaultDeviceMode(IPrintOemUni3& plugin, HANDLE printer, const WString& printerName) {
  OEMDMPARAM size{};
  size.cbSize = sizeof size;
  size.hPrinter = printer;
  if (FAILED(plugin.DevMode(OEMDM_SIZE, &size))) throw HostError("The plug-in refused the device-mode size request");
  // The driver-extra size is a 16-bit field that also counts the host's private data.
  if (size.cbBufSize < 12 || size.cbBufSize > 0xFFFF - kHostPrivateSize) {
    throw HostError("The plug-in asked for a settings record of " + std::to_string(size.cbBufSize) +
                    " bytes, which a device mode cannot hold");
  }
  DeviceMode devmode(size.cbBufSize);
  WritePublicDefaults(devmode, printerName);

  OEMDMPARAM defaults{};
  defaults.cbSize = sizeof defaults;
  defaults.hPrinter = printer;
  defaults.pPublicDMOut = devmode.publicDM();
  defaults.pOEMDMOut = devmode.record();
  defaults.cbBufSize = static_cast<DWORD>(devmode.recordSize());
  if (FAILED(plugin.DevMode(OEMDM_DEFAULT, &defaults))) {
    throw HostError("The plug-in refused the default device-mode request");
  }
  return devmode;
}

void SettlePublicFields(DeviceMode& app, const DeviceMode& printerDefaults) {
  CheckRange(app, devmode_offset::kOrientation, "dmOrientation", 1, 2, "1 portrait, 2 landscape");
  CheckRange(app, devmode_offset::kDuplex, "dmDuplex", 1, 3, "1 simplex, 2 long edge, 3 short edge");
  CheckRange(app, devmode_offset::kCopies, "dmCopies", 1, 0x7FFF, "at least 1");
  CheckRange(app, devmode_offset::kCollate, "dmCollate", 0, 1, "0 or 1");
  CheckRange(app, devmode_offset::kPrintQuality, "dmPrintQuality", 1, 0x7FFF, "dots per inch, above 0");
  CheckRange(app, devmode_offset::kYResolution, "dmYResolution", 1, 0x7FFF, "dots per inch, above 0");

  app.PutI16(devmode_offset::kDefaultSource, CurrentSource(app.I16(devmode_offset::kDefaultSource)));

  if (app.I16(devmode_offset::kPrintQuality) != printerDefaults.I16(devmode_offset::kPrintQuality) &&
      app.I16(devmode_offset::kYResolution) == printerDefaults.I16(devmode_offset::kYResolution)) {
    app.PutI16(devmode_offset::kYResolution, app.I16(devmode_offset::kPrintQuality));
  }

  const WString form = app.FormName();
  const std::int16_t code = app.I16(devmode_offset::kPaperSize);
  if (form != printerDefaults.FormName()) {
    const Paper* paper = FindPaperByForm(form);
    if (paper == nullptr) {
      throw HostError("dmFormName '" + platform::Utf16ToUtf8(form) +
                      "' is not a paper the printer takes: " + PaperList());
    }
    app.PutI16(devmode_offset::kPaperSize, paper->paperCode);
    app.PutFormName(paper->formName);
    return;
  }
  const Paper* paper = FindPaperByCode(code);
  if (paper == nullptr) {
    throw HostError("dmPaperSize " + std::to_string(code) + " is not a paper the printer takes: " + PaperList());
  }
  app.PutFormName(paper->formName);
}

DeviceMode MergeDeviceMode(IPrintOemUni3& plugin, HANDLE printer, DeviceMode& app, DeviceMode printerDevmode) {
  // The host merges the public fields itself; the plug-in merges its record and may
  // adjust the public fields of the output.
  std::memcpy(printerDevmode.bytes(), app.bytes(), devmode_offset::kPublicSize);
  OEMDMPARAM merge{};
  merge.cbSize = sizeof merge;
  merge.hPrinter = printer;
  merge.pPublicDMIn = app.publicDM();
  merge.pPublicDMOut = printerDevmode.publicDM();
  merge.pOEMDMIn = app.record();
  merge.pOEMDMOut = printerDevmode.record();
  merge.cbBufSize = static_cast<DWORD>(printerDevmode.recordSize());
  if (FAILED(plugin.DevMode(OEMDM_MERGE, &merge))) throw HostError("The plug-in refused to merge the job's settings");
  return printerDevmode;
}

}  // namespace velmora::host
