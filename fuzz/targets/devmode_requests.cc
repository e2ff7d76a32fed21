// Fuzz target: the host's DevMode requests (size, defaults, convert, merge) with
// arbitrary input and output records of the size the plug-in asks for.
#include <vector>

#include "formats/vendor_devmode.h"
#include "formats/vendor_settings.h"
#include "fuzz/fuzz_target.h"
#include "src/settings/devmode_request.h"

namespace velmora::fuzz {
namespace {

void Entry(const std::uint8_t* data, std::size_t size) {
  InputCursor input(data, size);
  const DWORD mode = input.Byte() % 6;  // 0 and 5 are refused
  const std::uint8_t which = input.Byte();
  // The host allocates both records with the size the SIZE request answered.
  std::vector<std::uint8_t> in(kVendorRecordSize, 0), out(kVendorRecordSize, 0);
  const std::size_t n = std::min(input.restSize(), 2 * kVendorRecordSize);
  for (std::size_t i = 0; i < n; ++i) (i < kVendorRecordSize ? in[i] : out[i - kVendorRecordSize]) = input.rest()[i];
  OEMDMPARAM param{};
  param.cbSize = sizeof param;
  param.pOEMDMIn = (which & 1) != 0 ? nullptr : in.data();
  param.pOEMDMOut = (which & 2) != 0 ? nullptr : out.data();
  param.cbBufSize = kVendorRecordSize;
  const auto vendor = [](DWORD, const OEMDMPARAM&, std::uint8_t* bodyIn, std::uint8_t* bodyOut) {
    // The vendor object reads both bodies through the typed view.
    VendorSettings input(bodyIn), output(bodyOut);
    (void)input.dwOverlayMode();
    (void)output.vdmPagesPerSheet();
  };
  HandleDevModeRequest(mode, (which & 4) != 0 ? nullptr : &param, vendor);
}

std::vector<Seed> Seeds() {
  std::vector<std::uint8_t> record(kVendorRecordSize, 0);
  StampVendorHeader(record.data());
  FillVendorDefaults(record.data() + kVendorHeaderSize);
  std::vector<Seed> seeds;
  for (std::uint8_t mode = 1; mode <= 4; ++mode) {
    std::vector<std::uint8_t> bytes{mode, 0};
    bytes.insert(bytes.end(), record.begin(), record.end());
    bytes.insert(bytes.end(), record.begin(), record.end());
    seeds.push_back({"mode-" + std::to_string(mode), bytes});
  }
  return seeds;
}

VELMORA_FUZZ_TARGET(devmode_requests, Entry, Seeds);

}  // namespace
}  // namespace velmora::fuzz
