// Fuzz target: a JSON ticket read into the settings of a job's device mode. A bad ticket
// or field is a HostError with a message; anything else escaping is a fault.
#include "formats/vendor_devmode.h"
#include "fuzz/fuzz_target.h"
#include "host/device_mode.h"
#include "host/host_error.h"
#include "host/job_settings.h"

namespace velmora::fuzz {
namespace {

void Entry(const std::uint8_t* data, std::size_t size) {
  host::DeviceMode devmode(kVendorRecordSize);
  host::WritePublicDefaults(devmode, VTEXT("Fuzz Printer"));
  StampVendorHeader(devmode.record());
  FillVendorDefaults(devmode.record() + kVendorHeaderSize);
  try {
    const auto settings =
        host::ParseTicket(std::string_view(reinterpret_cast<const char*>(data), size), "ticket 'fuzz.json'");
    host::ApplySettings(devmode, settings);
  } catch (const host::HostError& error) {
    if (std::string_view(error.what()).empty()) __builtin_trap();
  }
}

std::vector<Seed> Seeds() {
  return {
      {"readme",
       Bytes(R"({"dmOrientation": 2, "SpecialPage2": {"dwPageRule": 1}, "szMargins": ["0.2", "0.2", "0.2", "0.2"]})")},
      {"mixed", Bytes(R"({"dmCopies": 3, "eHoldMode": 2, "szFileBoxName": "Finance \u00e9", "bTextInBlack": true,
                         "vdmPagesPerSheet": 4, "fScale": 1.5, "dmFormName": "Letter"})")},
      {"bad", Bytes(R"({"dmSize": 1, "unknown": null, "SpecialPage9": {}})")},
  };
}

VELMORA_FUZZ_TARGET(json_ticket, Entry, Seeds);

}  // namespace
}  // namespace velmora::fuzz
