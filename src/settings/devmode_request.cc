// The plug-in's answer to the host's DevMode request.
#include "src/settings/devmode_request.h"

#include "formats/vendor_devmode.h"
#include "platform/last_error.h"

namespace velmora {

HRESULT HandleDevModeRequest(DWORD mode, OEMDMPARAM* param, const VendorDevModeHandler& vendor) {
  if (param == nullptr || mode < OEMDM_SIZE || mode > OEMDM_MERGE) {
    platform::SetLastError(ERROR_INVALID_PARAMETER);
    return E_FAIL;
  }
  auto* in = static_cast<std::uint8_t*>(param->pOEMDMIn);
  auto* out = static_cast<std::uint8_t*>(param->pOEMDMOut);
  switch (mode) {
    case OEMDM_SIZE: param->cbBufSize = kVendorRecordSize; return S_OK;
    case OEMDM_DEFAULT:
      if (out != nullptr) {
        StampVendorHeader(out);
        FillVendorDefaults(out + kVendorHeaderSize);
      }
      return S_OK;
    default: break;
  }

  bool done = CopyVendorDevmode(in, out);
  // A merged record is stamped even when there was nothing to copy from.
  if (mode == OEMDM_MERGE) done = StampVendorHeader(out) && done;
  if (done && vendor) vendor(mode, *param, in + kVendorHeaderSize, out + kVendorHeaderSize);
  return S_OK;
}

}  // namespace velmora
